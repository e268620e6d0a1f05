// Debian's Prometheus scraping a real vecta-gateway in front of the drifting
// simulator: the battery voltage it holds is the one vectactl reads, and
// when the unit goes, vecta_up turns 0 and the battery series goes stale at
// once, or, where the samples carry the time of their answer, keeps the
// last answer's time (Prometheus marks no such series stale).
// Prometheus runs on loopback on a port of its own, with its data and
// configuration in the test's temporary directory.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>

#include "support/child_process.h"
#include "support/files.h"
#include "support/sim_process.h"

namespace vecta::test {
namespace {

using Json = nlohmann::json;

// How fast the simulated battery falls: 1.2 V an hour, 600 times faster;
// its readings wander by up to 0.01 V either way.
constexpr int kDriftSpeed = 600;
constexpr double kBatteryFallPerSecond = 1.2 / 3600 * kDriftSpeed;
constexpr double kBatteryNoise = 0.02;
constexpr int kSampleIntervalS = 1;

double Now() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

// One series of a query's answer: an instant query's value (at the query's
// time), or a range query's last sample (at the time Prometheus holds).
struct Sample {
  double time = 0;  // Unix seconds
  double value = 0;
};

// The value of the number after `prefix` in `text` (0 when absent).
std::uint16_t PortAfter(const std::string& text, const std::string& prefix) {
  const std::size_t at = text.find(prefix);
  return at == std::string::npos ? 0 : static_cast<std::uint16_t>(std::atoi(text.c_str() + at + prefix.size()));
}

// With the samples' own times (false) or without (--no-sample-timestamps).
struct PrometheusGatewayTest : ::testing::TestWithParam<bool> {
  void SetUp() override {
    if (access(VECTA_PROMETHEUS_PATH, X_OK) != 0) GTEST_SKIP() << "no prometheus here";
    ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.1:0", "--board", "K610", "--drift", "--drift-speed",
                           std::to_string(kDriftSpeed)},
                          &error))
        << error;
    std::vector<std::string> args{"--unit",    "tcp:127.0.0.1:" + std::to_string(sim.TcpPort()),
                                  "--listen",  "127.0.0.1:0",
                                  "--metrics", "127.0.0.1:0",
                                  "--sample-interval", std::to_string(kSampleIntervalS)};
    if (GetParam()) args.push_back("--no-sample-timestamps");
    gatewayPort = StartGateway(gateway, VECTA_GATEWAY_PATH, args);
    ASSERT_NE(gatewayPort, 0);
    const std::string metricsOn = "vecta-gateway: metrics on http://127.0.0.1:";
    ASSERT_TRUE(gateway.WaitErr("/metrics\n")) << gateway.Err();
    const std::uint16_t metricsPort = PortAfter(gateway.Err(), metricsOn);
    ASSERT_NE(metricsPort, 0) << gateway.Err();
    WriteFile(dir.File("prometheus.yml"),
              "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
              "scrape_configs:\n  - job_name: vecta\n    static_configs:\n"
              "      - targets: ['127.0.0.1:" +
                  std::to_string(metricsPort) + "']\n        labels: {unit: sim}\n");
    ASSERT_TRUE(prometheus.Start(VECTA_PROMETHEUS_PATH,
                                 {"--config.file=" + dir.File("prometheus.yml"),
                                  "--storage.tsdb.path=" + dir.File("data"), "--web.listen-address=127.0.0.1:0"},
                                 &error))
        << error;
    // It logs the port it took: msg="Listening on" address=127.0.0.1:PORT
    const std::string listening = "msg=\"Listening on\" address=127.0.0.1:";
    const std::string& log = prometheus.Err();
    ASSERT_TRUE(prometheus.WaitFor(
        [&] { return log.find(listening) != std::string::npos && log.find('\n', log.find(listening)) != std::string::npos; },
        30000))
        << log;
    promPort = PortAfter(prometheus.Err(), listening);
    ASSERT_NE(promPort, 0) << prometheus.Err();
  }

  // The series a query returns; none when Prometheus does not answer (yet)
  // or answers with an error.
  std::optional<std::vector<Sample>> Query(const std::string& expr) {
    httplib::Client client("127.0.0.1", promPort);
    client.set_connection_timeout(1);
    client.set_read_timeout(2);
    const auto reply = client.Get("/api/v1/query", httplib::Params{{"query", expr}}, httplib::Headers{});
    if (!reply || reply->status != 200) return std::nullopt;
    const Json answer = Json::parse(reply->body, nullptr, false);
    if (answer.is_discarded() || answer.value("status", "") != "success") return std::nullopt;
    std::vector<Sample> samples;
    for (const Json& series : answer.at("data").at("result")) {
      const Json& v = series.contains("value") ? series.at("value") : series.at("values").back();
      samples.push_back({v[0].get<double>(), std::stod(v[1].get<std::string>())});
    }
    return samples;
  }

  // Waits at most `ms` for `expr` to give exactly one series that `holds`
  // (or, with no `holds`, none): whether it did.
  bool WaitQuery(const std::string& expr, const std::function<bool(double)>& holds, int ms) {
    return prometheus.WaitFor(
        [&] {
          const auto r = Query(expr);
          if (!r) return false;
          return holds ? r->size() == 1 && holds((*r)[0].value) : r->empty();
        },
        ms);
  }

  TempDir dir;
  std::string error;
  SimProcess sim;
  ChildProcess gateway, prometheus;
  std::uint16_t gatewayPort = 0, promPort = 0;
};

const std::string kBattery = R"(vecta_voltage_volts{job="vecta",unit="sim",rail="battery"})";

TEST_P(PrometheusGatewayTest, HoldsTheBatteryVectactlReadsAndSeesTheUnitGo) {
  // A few scrapes of a unit that answers.
  ASSERT_TRUE(WaitQuery("count_over_time(" + kBattery + "[1m])", [](double n) { return n >= 3; }, 40000))
      << prometheus.Err() << gateway.Err();
  ASSERT_TRUE(WaitQuery(R"(vecta_up{job="vecta"})", [](double up) { return up == 1; }, 5000));

  const auto held = Query(kBattery + "[5s]");
  ASSERT_TRUE(held && held->size() == 1);
  ChildProcess ctl;
  ASSERT_TRUE(ctl.Start(VECTACTL_PATH,
                        {"--tcp", "127.0.0.1:" + std::to_string(gatewayPort), "--log", dir.File("ctl.log"),
                         "get", "gvba"},
                        &error))
      << error;
  ASSERT_EQ(ctl.Wait(20000), 0) << ctl.Err();
  const double readAt = Now();
  const double read = std::stod(ctl.Out());
  // The battery falls between the gateway's sample and vectactl's read: by
  // at most the drift of that time and one sample interval more.
  const double step = kBatteryFallPerSecond * (readAt - held->front().time + kSampleIntervalS);
  EXPECT_NEAR(held->front().value, read, step + kBatteryNoise) << "held at " << held->front().time;
  EXPECT_GE(held->front().value, 10.8);
  EXPECT_LE(held->front().value, 14.2 + kBatteryNoise);

  sim.Terminate();
  const double stoppedAt = Now();
  EXPECT_TRUE(WaitQuery(R"(vecta_up{job="vecta"})", [](double up) { return up == 0; }, 20000))
      << gateway.Err();
  if (GetParam()) {
    EXPECT_TRUE(WaitQuery(kBattery, nullptr, 15000)) << "the battery series is still there";
  } else {
    // Scraped again and again since, the battery still bears its last answer's time.
    const auto last = Query("timestamp(" + kBattery + ")");
    ASSERT_TRUE(last && last->size() == 1);
    EXPECT_LT(last->front().value, stoppedAt);
    EXPECT_GT(last->front().value, stoppedAt - 3 * kSampleIntervalS);
  }
  EXPECT_TRUE(WaitQuery(R"(up{job="vecta"})", [](double up) { return up == 1; }, 5000));
  EXPECT_EQ(prometheus.Stop(10000), 0) << prometheus.Err();
}

INSTANTIATE_TEST_SUITE_P(Samples, PrometheusGatewayTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "WithoutTheirTimes" : "WithTheirTimes"; });

}  // namespace
}  // namespace vecta::test
