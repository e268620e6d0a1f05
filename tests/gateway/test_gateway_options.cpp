// The gateway's command-line values: unit targets, listening addresses and
// allowed ranges, good and bad.
#include <gtest/gtest.h>

#include "gateway/gateway_options.h"

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

}  // namespace
}  // namespace vecta::gateway
