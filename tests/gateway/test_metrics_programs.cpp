// The metrics of a real vecta-gateway in front of the simulator program:
// what promtool makes of a scrape, and the unit's clients and the scrapes
// carrying on while an HTTP client connects and sends nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "support/child_process.h"
#include "support/files.h"
#include "support/http_get.h"
#include "support/sim_process.h"

namespace vecta::test {
namespace {

struct MetricsProgramsTest : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.1:0"}, &error)) << error;
    port = StartGateway(gateway, VECTA_GATEWAY_PATH,
                        {"--unit", "tcp:127.0.0.1:" + std::to_string(sim.TcpPort()), "--listen", "127.0.0.1:0",
                         "--metrics", "127.0.0.1:0", "--sample-interval", "1"});
    ASSERT_NE(port, 0);
    static const std::string kMetricsOn = "vecta-gateway: metrics on http://127.0.0.1:";
    ASSERT_TRUE(gateway.WaitErr(kMetricsOn)) << gateway.Err();
    metricsPort = static_cast<std::uint16_t>(std::atoi(gateway.Err().c_str() + gateway.Err().find(kMetricsOn) +
                                                       kMetricsOn.size()));
  }
  // The first scrape that holds a sample of the unit (the gateway samples
  // at once when it starts).
  std::string SampledScrape() {
    std::string body;
    gateway.WaitFor([&] {
      body = HttpRequest(metricsPort, "GET", "/metrics").body;
      return body.find("vecta_voltage_volts{rail=\"battery\"}") != std::string::npos;
    });
    return body;
  }

  TempDir dir;
  std::string error;
  SimProcess sim;
  ChildProcess gateway;
  std::uint16_t port = 0, metricsPort = 0;
};

TEST_F(MetricsProgramsTest, PromtoolFindsNothingInAScrape) {
  if (std::system("command -v promtool >/dev/null 2>&1") != 0) GTEST_SKIP() << "promtool is not installed";
  const std::string scrape = SampledScrape();
  ASSERT_NE(scrape.find("vecta_up 1\n"), std::string::npos) << scrape;
  WriteFile(dir.File("scrape.txt"), scrape);
  const std::string command = "promtool check metrics < " + dir.File("scrape.txt") + " > " + dir.File("out.txt") + " 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(dir.File("out.txt"));
  EXPECT_EQ(ReadFile(dir.File("out.txt")), "");
}

TEST_F(MetricsProgramsTest, TheUnitsClientsAndScrapesCarryOnBesideASilentHttpClient) {
  const int silent = ConnectLoopback(metricsPort);
  ASSERT_GE(silent, 0);
  ChildProcess ctl;
  ASSERT_TRUE(ctl.Start(VECTACTL_PATH, {"--tcp", "127.0.0.1:" + std::to_string(port), "--log", dir.File("ctl.log"),
                                        "get", "gvba"},
                        &error))
      << error;
  EXPECT_EQ(ctl.Wait(), 0) << ctl.Err();
  EXPECT_NE(ctl.Out().find("14.20"), std::string::npos) << ctl.Out();
  EXPECT_NE(SampledScrape().find("vecta_voltage_volts{rail=\"battery\"} 14.2 "), std::string::npos);
  EXPECT_NE(HttpRequest(metricsPort, "GET", "/metrics").body.find("vecta_gateway_clients"), std::string::npos);
  close(silent);
}

}  // namespace
}  // namespace vecta::test
