// The file that keeps the last network serial port a unit answered on: what
// it holds, what a damaged one gives, and what the port list adds from it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/last_network_port.h"
#include "support/fake_link.h"

using namespace vecta::app;
using vecta::test::ReadFile;
using vecta::test::TempDir;
using vecta::test::WriteFile;

namespace {

const std::string kPort = "rfc2217://ts-rack2.local:4001";

TEST(LastNetworkPortFile, KeptAsOneLineAndOfferedAfterTheExtraPorts) {
  TempDir dir;
  const std::string file = dir.File("vecta_tx_ctrl.last-network-port");
  EXPECT_EQ(PortsToOffer({"/dev/pts/3"}, file), std::vector<std::string>{"/dev/pts/3"});  // none yet

  KeepNetworkPort(file, "/dev/ttyUSB0");  // a device is not a network port
  EXPECT_EQ(LoadLastNetworkPort(file), std::nullopt);
  KeepNetworkPort(file, kPort);
  EXPECT_EQ(ReadFile(file), kPort + "\n");
  EXPECT_EQ(LoadLastNetworkPort(file), kPort);
  EXPECT_EQ(PortsToOffer({"/dev/pts/3"}, file), (std::vector<std::string>{"/dev/pts/3", kPort}));
  EXPECT_EQ(PortsToOffer({kPort, "/dev/pts/3"}, file), (std::vector<std::string>{kPort, "/dev/pts/3"}));

  std::string error;
  EXPECT_FALSE(SaveLastNetworkPort(file, "/dev/sda", &error));
  EXPECT_EQ(error, "not a network serial port: /dev/sda");
  EXPECT_EQ(ReadFile(file), kPort + "\n");  // left as it was
}

TEST(LastNetworkPortFile, DamagedFilesOfferNothing) {
  TempDir dir;
  const std::string file = dir.File("port");
  for (const std::string& text : {std::string("/dev/ttyS0\n"), std::string("rfc2217://host\n"),
                                  std::string("rfc2217://a b:1\n"), "rfc2217://h:1" + std::string(300, ' ')}) {
    WriteFile(file, text);
    EXPECT_EQ(LoadLastNetworkPort(file), std::nullopt) << text;
    EXPECT_EQ(PortsToOffer({}, file), std::vector<std::string>{}) << text;
  }
  EXPECT_EQ(LoadLastNetworkPort(dir.path()), std::nullopt);
  EXPECT_EQ(LoadLastNetworkPort(""), std::nullopt);
}

}  // namespace
