// Debian's Prometheus scraping a real vecta-gateway in front of the drifting
// simulator: the battery voltage it holds is the one vectactl reads, and
// when the unit goes, vecta_up turns 0 and the battery series goes stale.
// Prometheus runs on loopback on a port of its own, with its data and
// configuration in the test's temporary directory.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
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
constexpr int kSampleIntervalMs = 1000;

double Now() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

// A loopback port nobody listens on at the moment.
std::uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
  close(fd);
  EXPECT_TRUE(ok);
  return ok ? ntohs(a.sin_port) : 0;
}

// One series of a query's answer: an instant query's value (at the query's
// time), or a range query's last sample (at the time Prometheus holds).
struct Sample {
  double time = 0;  // Unix seconds
  double value = 0;
};

struct PrometheusGatewayTest : ::testing::Test {
  void SetUp() override {
    if (access(VECTA_PROMETHEUS_PATH, X_OK) != 0) GTEST_SKIP() << "no prometheus here";
    ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.1:0", "--board", "K610", "--drift", "--drift-speed",
                           std::to_string(kDriftSpeed)},
                          &error))
        << error;
    const std::uint16_t metricsPort = FreePort();
    gatewayPort = StartGateway(gateway, VECTA_GATEWAY_PATH,
                               {"--unit", "tcp:127.0.0.1:" + std::to_string(sim.TcpPort()), "--listen",
                                "127.0.0.1:0", "--metrics", "127.0.0.1:" + std::to_string(metricsPort),
                                "--sample-interval", std::to_string(kSampleIntervalMs)});
    ASSERT_NE(gatewayPort, 0);
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
    // It logs the port it was given: msg="Listening on" address=127.0.0.1:PORT
    const std::string listening = "msg=\"Listening on\" address=127.0.0.1:";
    ASSERT_TRUE(prometheus.WaitErr(listening, 30000)) << prometheus.Err();
    promPort = static_cast<std::uint16_t>(std::atoi(prometheus.Err().c_str() + prometheus.Err().find(listening) +
                                                    listening.size()));
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

TEST_F(PrometheusGatewayTest, HoldsTheBatteryVectactlReadsAndSeesTheUnitGo) {
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
  const double step = kBatteryFallPerSecond * (readAt - held->front().time + kSampleIntervalMs / 1000.0);
  EXPECT_NEAR(held->front().value, read, step + kBatteryNoise) << "held at " << held->front().time;
  EXPECT_GE(held->front().value, 10.8);
  EXPECT_LE(held->front().value, 14.2 + kBatteryNoise);

  sim.Terminate();
  EXPECT_TRUE(WaitQuery(R"(vecta_up{job="vecta"})", [](double up) { return up == 0; }, 20000))
      << gateway.Err();
  EXPECT_TRUE(WaitQuery(kBattery, nullptr, 15000)) << "the battery series is still there";
  EXPECT_TRUE(WaitQuery(R"(up{job="vecta"})", [](double up) { return up == 1; }, 5000));
  EXPECT_EQ(prometheus.Stop(10000), 0) << prometheus.Err();
}

}  // namespace
}  // namespace vecta::test
