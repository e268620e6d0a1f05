// The metrics' text, byte for byte: every family with its HELP and TYPE,
// label values escaped, rows the unit did not answer left out, counters and
// the histogram's cumulative buckets.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "gateway/metrics/exposition.h"
#include "gateway/metrics/link_health.h"

namespace vecta::gateway::metrics {
namespace {

constexpr const char* kHeadUp = "# HELP vecta_up 1 when the unit answered the gateway's last sample, else 0.\n"
                                "# TYPE vecta_up gauge\n";
constexpr const char* kHeadInfo =
    "# HELP vecta_unit_info The unit's board type, firmware version, address and name; always 1.\n"
    "# TYPE vecta_unit_info gauge\n";
constexpr const char* kHeadRows =
    "# HELP vecta_video_locked 1 when the unit's video input is locked, else 0.\n"
    "# TYPE vecta_video_locked gauge\n";
constexpr const char* kHeadRf =
    "# HELP vecta_rf_output_enabled 1 when the unit's RF output is on, else 0.\n"
    "# TYPE vecta_rf_output_enabled gauge\n"
    "# HELP vecta_chaining_state The unit's chaining status: 0 not active, 1 active, 2 overflow.\n"
    "# TYPE vecta_chaining_state gauge\n"
    "# HELP vecta_temperature_celsius Temperatures the unit reports, in degrees Celsius.\n"
    "# TYPE vecta_temperature_celsius gauge\n";
constexpr const char* kHeadVolts =
    "# HELP vecta_voltage_volts Voltages the unit reports, in volts.\n"
    "# TYPE vecta_voltage_volts gauge\n";
constexpr const char* kHeadLink =
    "# HELP vecta_link_exchanges_total Exchanges the gateway made with the unit, for every client and its own "
    "sampling.\n"
    "# TYPE vecta_link_exchanges_total counter\n";
constexpr const char* kHeadErrors =
    "# HELP vecta_link_errors_total Exchanges with the unit that ended in a link error, by code.\n"
    "# TYPE vecta_link_errors_total counter\n"
    "# HELP vecta_link_exchange_duration_seconds How long the gateway's exchanges with the unit took.\n"
    "# TYPE vecta_link_exchange_duration_seconds histogram\n";
constexpr const char* kHeadClients =
    "# HELP vecta_gateway_clients Programs connected to the gateway now.\n"
    "# TYPE vecta_gateway_clients gauge\n";
constexpr const char* kHeadLost =
    "# HELP vecta_unit_lost_total Times the unit stopped answering or its link went down.\n"
    "# TYPE vecta_unit_lost_total counter\n";

std::string Buckets(const std::vector<int>& cumulative) {
  const char* le[] = {"0.005", "0.01", "0.025", "0.05", "0.1", "0.25", "0.5", "1", "2.5", "5", "+Inf"};
  std::string out;
  for (std::size_t i = 0; i < cumulative.size(); ++i)
    out += std::string("vecta_link_exchange_duration_seconds_bucket{le=\"") + le[i] + "\"} " +
           std::to_string(cumulative[i]) + "\n";
  return out;
}

MetricsSnapshot Sampled() {
  MetricsSnapshot s;
  s.sample.up = true;
  s.sample.unit = UnitInfo{"K610", "3.4.1.0", "0042", "Truck \"2\" \\ A\nB"};
  s.sample.rows = {{"vloc", 1, 1000}, {"gvba", 14.2, 2000}, {"stmp", 41.2, 1600}, {"gtmp", 38, 1500}};
  s.link.exchanges = 12;
  s.link.errors = {{0x80000009, 2}, {0x8000000A, 1}};
  s.link.buckets = {3, 0, 0, 1, 0, 0, 0, 0, 0, 0, 2};
  s.link.durationSumUs = 12'345'000;
  s.link.unitLost = 1;
  s.clients = 3;
  return s;
}

TEST(MetricsExposition, TheTextByteForByte) {
  struct Case {
    const char* what;
    MetricsSnapshot snapshot;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"nothing sampled yet", MetricsSnapshot{},
       std::string(kHeadUp) + "vecta_up 0\n" + kHeadInfo + kHeadRows + kHeadRf + kHeadVolts + kHeadLink +
           "vecta_link_exchanges_total 0\n" + kHeadErrors + Buckets({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}) +
           "vecta_link_exchange_duration_seconds_sum 0\nvecta_link_exchange_duration_seconds_count 0\n" +
           kHeadClients + "vecta_gateway_clients 0\n" + kHeadLost + "vecta_unit_lost_total 0\n"},
      {"a K610 that answered some rows", Sampled(),
       std::string(kHeadUp) + "vecta_up 1\n" + kHeadInfo +
           "vecta_unit_info{board=\"K610\",firmware=\"3.4.1.0\",address=\"0042\",name=\"Truck \\\"2\\\" \\\\ A\\nB\"}"
           " 1\n" +
           kHeadRows + "vecta_video_locked 1 1000\n" + kHeadRf +
           "vecta_temperature_celsius{sensor=\"fpga\"} 38 1500\n"
           "vecta_temperature_celsius{sensor=\"modulator\"} 41.2 1600\n" +
           kHeadVolts + "vecta_voltage_volts{rail=\"battery\"} 14.2 2000\n" + kHeadLink +
           "vecta_link_exchanges_total 12\n" +
           "# HELP vecta_link_errors_total Exchanges with the unit that ended in a link error, by code.\n"
           "# TYPE vecta_link_errors_total counter\n"
           "vecta_link_errors_total{code=\"0x80000009\"} 2\n"
           "vecta_link_errors_total{code=\"0x8000000A\"} 1\n"
           "# HELP vecta_link_exchange_duration_seconds How long the gateway's exchanges with the unit took.\n"
           "# TYPE vecta_link_exchange_duration_seconds histogram\n" +
           Buckets({3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 6}) +
           "vecta_link_exchange_duration_seconds_sum 12.345\nvecta_link_exchange_duration_seconds_count 6\n" +
           kHeadClients + "vecta_gateway_clients 3\n" + kHeadLost + "vecta_unit_lost_total 1\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(RenderExposition(c.snapshot), c.text) << c.what;
}

// Each exchange counts in the first bucket whose bound it does not pass,
// to the microsecond, and an exchange under a millisecond still adds to the
// sum (a loopback unit answers in tens of microseconds).
TEST(MetricsExposition, ExchangeDurationsFallIntoTheirBucketsToTheMicrosecond) {
  const struct {
    std::int64_t us;
    std::size_t bucket;
  } cases[] = {{-5, 0},         {0, 0},         {250, 0},       {5000, 0},      {5001, 1},
               {10000, 1},      {10001, 2},     {999'999, 7},   {1'000'000, 7}, {1'000'001, 8},
               {5'000'000, 9},  {5'000'001, 10}};
  LinkHealth health;
  std::int64_t sumUs = 0;
  for (const auto& c : cases) {
    const LinkHealthCounts before = health.Counts();
    health.Exchanged(0, c.us);
    const LinkHealthCounts after = health.Counts();
    for (std::size_t i = 0; i < after.buckets.size(); ++i)
      EXPECT_EQ(after.buckets[i] - before.buckets[i], i == c.bucket ? 1u : 0u) << c.us << " bucket " << i;
    sumUs += std::max<std::int64_t>(c.us, 0);
  }
  health.Exchanged(0x80000009, 250);
  MetricsSnapshot s;
  s.link = health.Counts();
  EXPECT_EQ(s.link.durationSumUs, sumUs + 250);
  EXPECT_EQ(s.link.errors, (std::map<std::uint32_t, std::uint64_t>{{0x80000009, 1}}));
  const std::string text = RenderExposition(s);
  EXPECT_NE(text.find("\nvecta_link_exchange_duration_seconds_sum 13.030503\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nvecta_link_exchange_duration_seconds_count 13\n"), std::string::npos) << text;
}

TEST(MetricsExposition, RowsGoWithoutTheirTimeWhenAskedTo) {
  MetricsSnapshot s = Sampled();
  s.rowTimestamps = false;
  const std::string text = RenderExposition(s);
  for (const char* line : {"\nvecta_video_locked 1\n", "\nvecta_voltage_volts{rail=\"battery\"} 14.2\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST(MetricsExposition, LabelValuesAreEscaped) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"}, {"a\"b", "a\\\"b"}, {"a\\b", "a\\\\b"}, {"a\nb", "a\\nb"}, {"\\\"\n", "\\\\\\\"\\n"}};
  for (const auto& [raw, escaped] : cases) EXPECT_EQ(EscapeLabelValue(raw), escaped) << raw;
}

}  // namespace
}  // namespace vecta::gateway::metrics
