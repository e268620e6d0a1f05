// vecta-sim's command line: transports chosen, values taken, mistakes caught.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_cli.h"

namespace {

using vecta::sim::CommandLine;
using vecta::sim::ParseCommandLine;

CommandLine Parse(std::vector<std::string> args) { return ParseCommandLine(args); }

TEST(SimCommandLine, DefaultsToTcpOnThePortOfTheUnit) {
  const CommandLine cl = Parse({});
  ASSERT_EQ(cl.action, CommandLine::Action::Run);
  EXPECT_TRUE(cl.options.tcp);
  EXPECT_EQ(cl.options.tcpAddress, "127.0.0.1");
  EXPECT_EQ(cl.options.tcpPort, 9999);
  EXPECT_FALSE(cl.options.pty);
  EXPECT_EQ(cl.options.unit.address, 1);
  EXPECT_EQ(cl.options.unit.board, "K610");
  EXPECT_EQ(cl.options.unit.firmware, "3.4.0.0");
  EXPECT_FALSE(cl.options.unit.satmod);
  EXPECT_EQ(cl.options.unit.settleMs, 0);
  EXPECT_EQ(cl.options.unit.vlocToggleMs, 0);
  EXPECT_TRUE(cl.options.unit.stateFile.empty());
  EXPECT_TRUE(cl.options.unit.params.empty());
  EXPECT_FALSE(cl.transcript);
}

TEST(SimCommandLine, TransportsAreServedAsGiven) {
  CommandLine cl = Parse({"--pty"});
  EXPECT_TRUE(cl.options.pty);
  EXPECT_FALSE(cl.options.tcp);  // an explicit serial transport alone: no TCP
  EXPECT_EQ(cl.options.ptyLink, "");

  cl = Parse({"--tcp", "127.0.0.1:0", "--pty", "/tmp/link", "--transcript"});
  EXPECT_TRUE(cl.options.tcp);
  EXPECT_EQ(cl.options.tcpPort, 0);
  EXPECT_TRUE(cl.options.pty);
  EXPECT_EQ(cl.options.ptyLink, "/tmp/link");
  EXPECT_TRUE(cl.transcript);

  // An option right after --pty is not its link.
  cl = Parse({"--pty", "--silent"});
  EXPECT_EQ(cl.options.ptyLink, "");
  EXPECT_TRUE(cl.options.faults.silent);

  cl = Parse({"--pty=/tmp/l2", "--tcp=0.0.0.0"});
  EXPECT_EQ(cl.options.ptyLink, "/tmp/l2");
  EXPECT_EQ(cl.options.tcpAddress, "0.0.0.0");
  EXPECT_EQ(cl.options.tcpPort, 9999);

  cl = Parse({"--serial", "/dev/ttyUSB0", "--baud", "19200"});
  EXPECT_FALSE(cl.options.tcp);
  EXPECT_EQ(cl.options.serialDevice, "/dev/ttyUSB0");
  EXPECT_EQ(cl.options.serialBaud, 19200u);
}

TEST(SimCommandLine, UnitAndFaultValues) {
  const CommandLine cl = Parse({"--address",
                                "42",
                                "--board",
                                "K240",
                                "--firmware=1.2.3.4",
                                "--param",
                                "gabc=x=y",
                                "--silent-after",
                                "3",
                                "--every-other",
                                "--delay-ms=15",
                                "--bad-checksum",
                                "--no-etx",
                                "--bad-status",
                                "--garbage",
                                "4",
                                "--split-reply",
                                "--split-pause-ms",
                                "20",
                                "--close-after",
                                "0",
                                "--pace-baud",
                                "2400",
                                "--configurations",
                                "5",
                                "--satmod",
                                "--settle-ms",
                                "700",
                                "--vloc-toggle-ms=250",
                                "--state",
                                "/tmp/u.state",
                                "--param",
                                "a1en=3"});
  ASSERT_EQ(cl.action, CommandLine::Action::Run) << cl.error;
  const auto& o = cl.options;
  EXPECT_EQ(o.unit.address, 42);
  EXPECT_EQ(o.unit.board, "K240");
  EXPECT_EQ(o.unit.firmware, "1.2.3.4");
  EXPECT_EQ(o.unit.configurations, 5);
  ASSERT_EQ(o.unit.params.size(), 2u);
  EXPECT_EQ(o.unit.params[0].mnemonic, "gabc");
  EXPECT_EQ(o.unit.params[0].value, "x=y");
  EXPECT_EQ(o.unit.params[1].mnemonic, "a1en");  // digits are part of mnemonics too
  EXPECT_TRUE(o.unit.satmod);
  EXPECT_EQ(o.unit.settleMs, 700);
  EXPECT_EQ(o.unit.vlocToggleMs, 250);
  EXPECT_EQ(o.unit.stateFile, "/tmp/u.state");
  EXPECT_EQ(o.faults.silentAfter, 3);
  EXPECT_TRUE(o.faults.everyOther);
  EXPECT_EQ(o.faults.delayMs, 15);
  EXPECT_TRUE(o.faults.badChecksum);
  EXPECT_TRUE(o.faults.noEtx);
  EXPECT_TRUE(o.faults.badStatus);
  EXPECT_EQ(o.faults.garbage, 4);
  EXPECT_TRUE(o.faults.splitReply);
  EXPECT_EQ(o.faults.splitPauseMs, 20);
  EXPECT_EQ(o.faults.closeAfter, 0);
  EXPECT_EQ(o.faults.paceBaud, 2400);
  EXPECT_FALSE(o.faults.silent);
}

TEST(SimCommandLine, MistakesAreErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},
      {"stray"},
      {"--tcp"},
      {"--tcp", "127.0.0.1:65536"},
      {"--tcp", "127.0.0.1:x"},
      {"--tcp", ":80"},
      {"--address", "9999"},
      {"--address", "-1"},
      {"--address", "12abc"},
      {"--address"},
      {"--board", "NINECHARS"},
      {"--board", ""},
      {"--delay-ms", "-5"},
      {"--garbage", "many"},
      {"--pace-baud", "0"},
      {"--silent=yes"},
      {"--param", "toolong=1"},
      {"--param", "gabc"},
      {"--param", "gabc=a;b"},
      {"--param", "1abc=1"},
      {"--satmod=yes"},
      {"--settle-ms", "-1"},
      {"--settle-ms", "600001"},
      {"--vloc-toggle-ms", "x"},
      {"--state"},
      {"--state="},
      {"--serial"},
  };
  for (const auto& args : bad) {
    const CommandLine cl = Parse(args);
    EXPECT_EQ(cl.action, CommandLine::Action::Error) << args[0] << (args.size() > 1 ? " " + args[1] : "");
    EXPECT_FALSE(cl.error.empty());
  }
}

TEST(SimCommandLine, HelpWins) {
  EXPECT_EQ(Parse({"--address", "3", "--help", "--bogus"}).action, CommandLine::Action::Help);
  EXPECT_EQ(Parse({"--address", "3", "--version", "--bogus"}).action, CommandLine::Action::Version);
  for (const char* option : {"--pace-baud", "--satmod", "--settle-ms", "--vloc-toggle-ms", "--state"})
    EXPECT_NE(vecta::sim::UsageText().find(option), std::string::npos) << option;
}

}  // namespace
