// The gateway's command-line values: unit targets, listening addresses and
// allowed ranges, the serial speed and time-outs, good and bad; and the
// options of the example service configuration.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/settings.h"
#include "gateway/gateway_command_line.h"
#include "gateway/gateway_options.h"
#include "support/files.h"

namespace vecta::gateway {
namespace {

TEST(GatewayOptions, UnitTargets) {
  const struct {
    const char* text;
    bool ok;
    UnitTarget::Kind kind;
    const char* where;
    std::uint16_t port;
  } cases[] = {
      {"serial:/dev/ttyUSB0", true, UnitTarget::Kind::Serial, "/dev/ttyUSB0", 9999},
      {"tcp:192.168.1.20", true, UnitTarget::Kind::Tcp, "192.168.1.20", 9999},
      {"tcp:10.0.0.1:10001", true, UnitTarget::Kind::Tcp, "10.0.0.1", 10001},
      {"serial:", false, {}, "", 0},
      {"tcp:unit.example.org", false, {}, "", 0},
      {"tcp:10.0.0.1:0", false, {}, "", 0},
      {"tcp:10.0.0.1:65536", false, {}, "", 0},
      {"tcp:10.0.0.256", false, {}, "", 0},
      {"/dev/ttyUSB0", false, {}, "", 0},
  };
  for (const auto& c : cases) {
    UnitTarget target;
    std::string error;
    EXPECT_EQ(ParseUnitTarget(c.text, target, error), c.ok) << c.text;
    EXPECT_EQ(error.empty(), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(target.kind, c.kind) << c.text;
    EXPECT_EQ(c.kind == UnitTarget::Kind::Serial ? target.path : target.host, c.where) << c.text;
    EXPECT_EQ(target.port, c.port) << c.text;
  }
}

TEST(GatewayOptions, ListenAddressKeepsItsPortUnlessGivenOne) {
  std::string host, error;
  std::uint16_t port = 9999;
  ASSERT_TRUE(ParseListen("0.0.0.0", host, port, error));
  EXPECT_EQ(host, "0.0.0.0");
  EXPECT_EQ(port, 9999);
  ASSERT_TRUE(ParseListen("127.0.0.1:10000", host, port, error));
  EXPECT_EQ(port, 10000);
  ASSERT_TRUE(ParseListen("127.0.0.1:0", host, port, error)) << error;  // a free port, picked at bind
  EXPECT_EQ(port, 0);
  EXPECT_FALSE(ParseListen("localhost:10000", host, port, error));
  EXPECT_FALSE(ParseListen("127.0.0.1:", host, port, error));
  EXPECT_EQ(host, "127.0.0.1");  // unchanged by a refusal
}

TEST(GatewayOptions, AllowedRanges) {
  auto range = [](const char* text) {
    Cidr cidr;
    std::string error;
    EXPECT_TRUE(ParseCidr(text, cidr, error)) << text;
    return cidr;
  };
  auto ip = [](const char* text) {
    std::uint32_t a = 0;
    EXPECT_TRUE(ParseIpv4(text, a)) << text;
    return a;
  };
  const std::vector<Cidr> allow = {range("192.168.7.9/24"), range("10.1.2.3")};
  const struct {
    const char* address;
    bool allowed;
  } cases[] = {{"192.168.7.0", true}, {"192.168.7.255", true}, {"192.168.8.1", false},
               {"10.1.2.3", true},    {"10.1.2.4", false},     {"127.0.0.1", false}};
  for (const auto& c : cases) EXPECT_EQ(Allowed(allow, ip(c.address)), c.allowed) << c.address;
  EXPECT_TRUE(Allowed({}, ip("8.8.8.8")));
  EXPECT_TRUE(Allowed({range("0.0.0.0/0")}, ip("8.8.8.8")));
  Cidr cidr;
  std::string error;
  for (const char* bad : {"10.0.0.0/33", "10.0.0.0/", "10.0.0/8", "10.0.0.0.1/8", "1.2.3.4/-1", ""})
    EXPECT_FALSE(ParseCidr(bad, cidr, error)) << bad;
}

// The serial line comes from the built-in defaults, the application's
// settings file and --baud, in that order; what cannot be used ends the
// program with code 2 before anything is opened.
TEST(GatewayOptions, SerialSpeedAndTimeOuts) {
  test::TempDir dir;
  auto settingsFile = [&](const char* name, std::int32_t baud, std::size_t keep = 0) {
    app::AppSettings s;
    s.baudRate = baud;
    s.readIntervalTimeoutMs = 40;
    s.readTotalTimeoutMultiplier = 2;
    s.readTotalTimeoutConstantMs = 700;
    s.writeTotalTimeoutMultiplier = 3;
    s.writeTotalTimeoutConstantMs = 800;
    std::vector<std::uint8_t> bytes;
    EXPECT_TRUE(app::SerializeSettings(s, bytes));
    if (keep) bytes.resize(keep);
    test::WriteBytes(dir.File(name), link::Bytes(bytes.begin(), bytes.end()));
    return dir.File(name);
  };
  const std::string full = settingsFile("full.ini", 19200);
  const std::string odd = settingsFile("odd.ini", 12345);
  const std::string upToBaud = settingsFile("short.ini", 57600, 13);  // ends after the baud rate
  const std::string missing = dir.File("none.ini");
  const link::SerialTimeouts defaults, fromFile{40, 2, 700, 3, 800};
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::uint32_t baud;
    link::SerialTimeouts timeouts;
  } cases[] = {
      {{}, -1, 9600, defaults},
      {{"--baud", "115200"}, -1, 115200, defaults},
      {{"--baud", "14400"}, -1, 14400, defaults},  // set through the arbitrary-rate interface
      {{"--baud", "12345"}, 2, 0, {}},
      {{"--baud", "0"}, 2, 0, {}},
      {{"--baud", "96OO"}, 2, 0, {}},
      {{"--settings", full}, -1, 19200, fromFile},
      {{"--settings", full, "--baud", "38400"}, -1, 38400, fromFile},
      {{"--settings", upToBaud}, -1, 57600, defaults},
      {{"--settings", odd}, 2, 0, {}},
      {{"--settings", odd, "--baud", "9600"}, 2, 0, {}},
      {{"--settings", missing}, 2, 0, {}},
      {{"--settings", dir.path()}, 2, 0, {}},
      {{"--max-clients", "0"}, 2, 0, {}},  // refused by the option parser itself: 2 as well
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--unit", "serial:/dev/ttyUSB0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string what = ::testing::PrintToString(c.args);
    GatewayOptions o;
    const CommandLineResult r = ParseCommandLine(args, o);
    EXPECT_EQ(r.exitCode, c.exitCode) << what;
    EXPECT_EQ(r.error.empty(), c.exitCode == -1) << what << r.error;
    if (c.exitCode != -1) {
      EXPECT_EQ(o.baudRate, 9600u) << what;  // nothing taken from a refused line
      continue;
    }
    EXPECT_EQ(o.baudRate, c.baud) << what;
    for (int which = 0; which < 5; ++which) EXPECT_EQ(o.timeouts.Get(which), c.timeouts.Get(which)) << what;
  }
  GatewayOptions o;
  EXPECT_NE(ParseCommandLine({"--unit", "serial:/dev/ttyS0", "--settings", missing}, o).error.find(missing),
            std::string::npos);
  EXPECT_EQ(ParseCommandLine({"--baud", "9600"}, o).exitCode, 2);  // no --unit
  const CommandLineResult version = ParseCommandLine({"--version"}, o);
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output.rfind("vecta-gateway ", 0), 0u) << version.output;
}

// Every GATEWAY_OPTIONS line of the example configuration, the commented
// ones too, is a command line the gateway takes (split at blanks, as the
// service manager splits $GATEWAY_OPTIONS).
TEST(GatewayOptions, ExampleServiceConfigurationIsAccepted) {
  std::ifstream in(VECTA_GATEWAY_EXAMPLE_CONF);
  ASSERT_TRUE(in) << VECTA_GATEWAY_EXAMPLE_CONF;
  int lines = 0;
  for (std::string line; std::getline(in, line);) {
    const std::size_t at = line.find("GATEWAY_OPTIONS=");
    if (at == std::string::npos || line.find_first_not_of('#') != at) continue;
    std::istringstream words(line.substr(at + 16));
    std::vector<std::string> args;
    for (std::string word; words >> word;) args.push_back(word);
    GatewayOptions o;
    const CommandLineResult r = ParseCommandLine(args, o);
    EXPECT_EQ(r.exitCode, -1) << line << "\n" << r.error;
    ++lines;
  }
  EXPECT_EQ(lines, 3);
}

}  // namespace
}  // namespace vecta::gateway

namespace vecta::gateway {
namespace {

TEST(GatewayOptions, MetricsAddressAndSampleInterval) {
  struct Case {
    std::vector<std::string> more;
    int exitCode;
    bool metrics;
    std::string host;
    std::uint16_t port;
    int intervalMs;
    bool stamps;
  };
  const Case cases[] = {
      {{}, -1, false, "127.0.0.1", 0, 10000, true},  // off unless asked for
      {{"--metrics", "9187"}, -1, true, "127.0.0.1", 9187, 10000, true},
      {{"--metrics", "0.0.0.0:9187", "--sample-interval", "2"}, -1, true, "0.0.0.0", 9187, 2000, true},
      {{"--metrics", "127.0.0.1:0"}, -1, true, "127.0.0.1", 0, 10000, true},
      {{"--metrics", "localhost:9187"}, 2, false, "127.0.0.1", 0, 10000, true},
      {{"--metrics", "9187x"}, 2, false, "127.0.0.1", 0, 10000, true},
      {{"--metrics", "127.0.0.1:70000"}, 2, false, "127.0.0.1", 0, 10000, true},
      {{"--sample-interval", "0"}, 2, false, "127.0.0.1", 0, 10000, true},
      {{"--metrics", "9187", "--no-sample-timestamps"}, -1, true, "127.0.0.1", 9187, 10000, false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--unit", "serial:/dev/ttyS0"};
    args.insert(args.end(), c.more.begin(), c.more.end());
    GatewayOptions o;
    const CommandLineResult r = ParseCommandLine(args, o);
    SCOPED_TRACE(args.back());
    EXPECT_EQ(r.exitCode, c.exitCode) << r.error;
    EXPECT_EQ(o.metrics, c.metrics);
    EXPECT_EQ(o.metricsHost, c.host);
    EXPECT_EQ(o.metricsPort, c.port);
    EXPECT_EQ(o.sampleIntervalMs, c.intervalMs);
    EXPECT_EQ(o.sampleTimestamps, c.stamps);
  }
}

}  // namespace
}  // namespace vecta::gateway
