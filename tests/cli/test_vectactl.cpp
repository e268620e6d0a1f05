// vectactl against a simulated unit: every command, what it writes to the
// unit (the simulator's transcript), and the files it saves and loads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "params/config_file.h"
#include "params/control_ids.h"
#include "params/typed_value.h"
#include "sim_server.h"
#include "support/ctl_run.h"
#include "support/fake_link.h"
#include "support/sim_fixture.h"
#include "vectactl.h"

using namespace vecta;
using namespace vecta::test;

namespace {

using VectactlTest = CtlOverSimTest;

TEST_F(VectactlTest, DumpShowsTheRowsOfTheBoardType) {
  Serve("K610");
  CtlRun r = Ctl({"dump"});
  ASSERT_EQ(r.status, 0) << r.err;
  using params::ids::kK610OutputPower, params::ids::kModulationBandwidth, params::ids::kOutputAttenuationHigh,
      params::ids::kOutputPower;
  EXPECT_NE(r.out.find("owid  " + std::to_string(kModulationBandwidth) + "  8MHz  [2]"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("olev  " + std::to_string(kOutputAttenuationHigh) + "  6.02  [637]"), std::string::npos);
  EXPECT_NE(r.out.find("ohls  " + std::to_string(kK610OutputPower)), std::string::npos);  // the K610 row
  EXPECT_EQ(r.out.find("ohls  " + std::to_string(kOutputPower)), std::string::npos);      // not the others'
  EXPECT_EQ(r.out.find("asrc "), std::string::npos);                                      // K240 only
  EXPECT_NE(r.out.find("# address 1, board K610, config 1"), std::string::npos);
  EXPECT_TRUE(Writes().empty());  // a dump only reads

  r = Ctl({"dump", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["board"], "K610");
  bool found = false;
  for (const auto& row : doc["rows"])
    if (row["mnemonic"] == "owid") {
      found = true;
      EXPECT_EQ(row["shown"], "8MHz");
      EXPECT_EQ(row["wire"], "2");
    }
  EXPECT_TRUE(found);
}

TEST_F(VectactlTest, SetWritesOnlyWhatChangedAndReadsItBack) {
  Serve("K610");
  ForgetWrites();
  CtlRun r = Ctl({"set", "olev", "3.5"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3.50\n");
  // 10^(-3.5/20) x 1274 + 0.5 = 851.97
  EXPECT_EQ(Writes(), std::vector<std::string>{"wolev;851;"});
  r = Ctl({"set", "owid", "7MHz"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "7MHz\n");
  EXPECT_EQ(Writes(), std::vector<std::string>{"wowid;1;"});
  EXPECT_EQ(clock.slept.back(), 500);  // the unit retunes
  r = Ctl({"get", "owid"});
  EXPECT_EQ(r.out, "7MHz\n");
  r = Ctl({"set", "gnam", "Studio 4"});
  EXPECT_EQ(r.out, "Studio 4\n");
  EXPECT_EQ(Writes(), std::vector<std::string>{"wgnam;Studio 4;"});
}

TEST_F(VectactlTest, ValuesThatCannotBeSetAreRefusedBeforeSending) {
  Serve("K610");
  ForgetWrites();
  CtlRun r = Ctl({"set", "owid", "9MHz"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("'9MHz' is not a choice of owid: \"6MHz\" \"7MHz\""), std::string::npos) << r.err;
  r = Ctl({"set", "gver", "9.9"});
  EXPECT_EQ(r.status, 2);
  r = Ctl({"set", "asrc", "Digital"});  // a K240 parameter
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("No parameter asrc on a K610"), std::string::npos);
  r = Ctl({"set", "abmb", "maybe"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Writes().empty());
}

TEST_F(VectactlTest, ConfigFileRoundTripLeavesTheUnitAsItWas) {
  Serve("K240");
  const std::string before = Ctl({"dump"}).out;
  ASSERT_EQ(Ctl({"save-config", dir.File("a.cfg")}).status, 0);
  ASSERT_EQ(Ctl({"set", "gnam", "Other"}).status, 0);
  ASSERT_EQ(Ctl({"set", "owid", "6MHz"}).status, 0);
  ASSERT_NE(Ctl({"dump"}).out, before);
  CtlRun r = Ctl({"load-config", dir.File("a.cfg")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Ctl({"dump"}).out, before);

  r = Offline({"show-config", dir.File("a.cfg")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("configuration file, 1 configuration, checksum correct"), std::string::npos);
  EXPECT_NE(r.out.find("  owid 2            8MHz\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  olev 637          6.02\n"), std::string::npos);
}

TEST_F(VectactlTest, ConfigSetOfSixteenRoundTrips) {
  Serve("K610");
  ASSERT_EQ(Ctl({"save-set", dir.File("set.cfg")}).status, 0);
  CtlRun r = Offline({"show-config", dir.File("set.cfg")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("configuration set, 16 configurations"), std::string::npos) << r.out.substr(0, 200);
  EXPECT_NE(r.out.find("config 16:"), std::string::npos);
  EXPECT_EQ(server.Unit()->CurrentConfiguration(), 1);  // the unit is left on 1

  // Change configuration 5, then load the set back.
  ASSERT_EQ(Ctl({"raw", "wglod;5;"}).status, 0);
  ASSERT_EQ(Ctl({"set", "gnam", "Changed"}).status, 0);
  ASSERT_EQ(Ctl({"save-set", dir.File("changed.cfg")}).status, 0);
  r = Offline({"diff-config", dir.File("set.cfg"), dir.File("changed.cfg")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "config 5: gnam Config 5 (Config 5) -> Changed (Changed)\n");
  ForgetWrites();
  r = Ctl({"load-set", dir.File("set.cfg")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Config set loaded"), std::string::npos);
  const auto writes = Writes();
  // The firmware is 3.4.0.0: the whole load is held with girb.
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes.front(), "wgirb;1;");
  EXPECT_EQ(writes.back(), "wgirb;0;");
  ASSERT_EQ(Ctl({"save-set", dir.File("again.cfg")}).status, 0);
  r = Offline({"diff-config", dir.File("set.cfg"), dir.File("again.cfg")});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "no differences\n");
}

TEST_F(VectactlTest, BadFilesAreRefusedWithTheirMessage) {
  CtlRun r = Offline({"show-config", "/does/not/exist.cfg"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Unable to open file for reading"), std::string::npos);
  const std::string junk = dir.File("junk.cfg");
  {
    std::FILE* f = std::fopen(junk.c_str(), "wb");
    std::fputs("\x01\x00\x00\x00TXS", f);
    std::fclose(f);
  }
  r = Offline({"show-config", junk});
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(r.err.empty());
  // Nothing about the unit is touched by a file that fails its checks.
  Serve("K610");
  ForgetWrites();
  r = Ctl({"load-config", junk});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Writes().empty());
}

// The reset goes to the unit's own address, learnt or given, like every
// other command's requests.
TEST_F(VectactlTest, RestoreDefaultsGoesToTheUnitsAddress) {
  sim::SimOptions o = SimOverTcp();
  o.unit.address = 7;
  transcript.Attach(o);
  ASSERT_TRUE(StartSim(server, o));
  // The addresses of the resets the unit received since the last look.
  std::size_t seen = 0;
  auto resets = [&] {
    const std::vector<std::string> received = transcript.Received();
    std::vector<std::string> r;
    for (; seen < received.size(); ++seen)
      if (const auto at = received[seen].find("wgdef;1;"); at != std::string::npos && at >= 4)
        r.push_back(received[seen].substr(at - 4, 4));
    return r;
  };
  CtlRun r = Ctl({"--yes", "restore-defaults"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(resets(), std::vector<std::string>{"0007"});
  r = Ctl({"--yes", "--address", "7", "restore-defaults"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(resets(), std::vector<std::string>{"0007"});
}

TEST_F(VectactlTest, RestoreDefaultsAnsweredNoAndKeysChecked) {
  Serve("K610");
  ForgetWrites();
  CtlRun r = Ctl({"restore-defaults"});  // stdin is no terminal: answered no
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Alert: Are you sure you want to restore defaults? no"), std::string::npos) << r.err;
  EXPECT_TRUE(Writes().empty());

  r = Ctl({"write-key", "aes128", std::string(31, 'a')});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Error: AES key must be 32 hex digits\n");
  r = Ctl({"write-key", "abs", "0123456g"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Error: Invalid characters in hex field\n");
  EXPECT_TRUE(Writes().empty());
  r = Ctl({"write-key", "aes256", std::string(32, 'a'), std::string(32, 'b')});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Writes(), (std::vector<std::string>{"wzkez;" + std::string(32, 'a') + ";",
                                                "wzkex;" + std::string(32, 'b') + ";"}));
  const std::string log = ReadFile(dir.File("ctl.log"));
  EXPECT_EQ(log.find(std::string(32, 'a')), std::string::npos);
  EXPECT_NE(log.find("wzkex;" + std::string(32, '*') + ";"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(VectactlTest, SatelliteRowsAreWrittenWhenTheModulatorAnswers) {
  Serve("K240", true);
  ForgetWrites();
  CtlRun r = Ctl({"set", "srol", "0.29"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Writes(), std::vector<std::string>{"wsrol;29;"});
  r = Ctl({"set", "slev", "-5.5"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Writes(), std::vector<std::string>{"wslev;55;"});
  EXPECT_EQ(Ctl({"get", "slev"}).out, r.out);
}

TEST_F(VectactlTest, SatelliteRowWithoutModulatorIsRefused) {
  Serve("K240", false);
  ForgetWrites();
  CtlRun r = Ctl({"set", "srol", "0.29"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no satellite modulator answers"), std::string::npos) << r.err;
  EXPECT_TRUE(Writes().empty());
}

TEST_F(VectactlTest, NameWritesOnlyTheNameOnEveryBoard) {
  // Units whose audio and bitrate settings the pages would rewrite on any
  // apply of their own windows.
  const std::vector<std::pair<std::string, std::vector<sim::ParamSeed>>> units = {
      {"K240", {{"aenc", "1"}, {"evbr", "4000"}}},
      {"K610", {{"a1en", "1"}, {"a2en", "2"}, {"evbr", "4000"}}},
  };
  for (const auto& [board, seeds] : units) {
    SCOPED_TRACE(board);
    server.Stop();
    Serve(board, false, seeds);
    ForgetWrites();
    CtlRun r = Ctl({"set", "gnam", "Mast 2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Mast 2\n");
    EXPECT_EQ(Writes(), std::vector<std::string>{"wgnam;Mast 2;"});
  }
}

TEST_F(VectactlTest, RateListOfTheEncodersLayer) {
  Serve("K240");  // the factory audio encoder is a Layer 2 one
  ForgetWrites();
  CtlRun r = Ctl({"set", "ampr", "64kbits/s"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "64kbits/s\n");
  EXPECT_EQ(Writes(), std::vector<std::string>{"wampr;4;"});
  // A Layer 1 encoder takes the Layer 1 list.
  server.Stop();
  Serve("K240", false, {{"aenc", "1"}});
  ForgetWrites();
  r = Ctl({"set", "ampr", "64kbits/s"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Writes(), std::vector<std::string>{"wampr;2;"});
  // The K610 encoders: the factory ones are Layer 2, a Layer 1 one takes
  // the Layer 1 list.
  server.Stop();
  Serve("K610", false, {{"a2en", "1"}});
  ForgetWrites();
  ASSERT_EQ(Ctl({"set", "a1br", "64kbits/s"}).status, 0);
  EXPECT_EQ(Writes(), std::vector<std::string>{"wa1br;4;"});
  ASSERT_EQ(Ctl({"set", "a2br", "64kbits/s"}).status, 0);
  EXPECT_EQ(Writes(), std::vector<std::string>{"wa2br;2;"});
}

TEST_F(VectactlTest, SmallSizesWhileTheEncoderIsMpeg4) {
  Serve("K240", false, {{"eenc", "1"}});
  ForgetWrites();
  CtlRun r = Ctl({"set", "ehor", "SIF"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Writes(), std::vector<std::string>{"wecmd;4;"});
  r = Ctl({"set", "ehor", "QSIF"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Writes(), std::vector<std::string>{"wecmd;5;"});
}

TEST_F(VectactlTest, EncodingModeRefusedWhileTheEncoderIsMpeg2) {
  Serve("K240");
  ForgetWrites();
  CtlRun r = Ctl({"set", "ecmd", "Low delay progressive"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("the encoder is MPEG2"), std::string::npos) << r.err;
  r = Ctl({"set", "ehor", "SIF"});  // not offered with MPEG2
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Writes().empty());
}

TEST_F(VectactlTest, ManualBitrateIsWrittenInKbits) {
  Serve("K240");
  ForgetWrites();
  CtlRun r = Ctl({"set", "evid", "4.5"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Writes(), std::vector<std::string>{"wevbr;4500;"});
}

TEST_F(VectactlTest, BadValuesAreRefusedWithNothingSent) {
  Serve("K610");
  ForgetWrites();
  const std::vector<std::vector<std::string>> bad = {
      {"set", "olev", "abc"},
      {"set", "olev", "3.5x"},
      {"set", "gnam", "a;b"},
      {"set", "gnam", "a\tb"},
      {"set", "gnam", std::string("a\0b", 3)},
      {"set", "gnam", std::string(300, 'n')},
  };
  for (const auto& args : bad) {
    CtlRun r = Ctl(args);
    EXPECT_EQ(r.status, 2) << args[2];
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_TRUE(Writes().empty());
}

TEST_F(VectactlTest, TheLongestValueARequestCarriesIsSent) {
  Serve("K610");
  ForgetWrites();
  const std::string longest(params::MaxValueLength(), 'n');
  CtlRun r = Ctl({"set", "gnam", longest + "n"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("The value for gnam is too long for a request to the unit"), std::string::npos) << r.err;
  EXPECT_TRUE(Writes().empty());
  r = Ctl({"set", "gnam", longest});
  EXPECT_EQ(r.status, 1) << r.err;  // the unit keeps shorter names
  EXPECT_EQ(Writes(), std::vector<std::string>{"wgnam;" + longest + ";"});
}

TEST_F(VectactlTest, ValueTheUnitRefusesOrChangesIsReported) {
  Serve("K610");
  ForgetWrites();
  CtlRun r = Ctl({"set", "ofre", "20000"});  // beyond what the unit tunes to
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the unit kept ofre at 474.00"), std::string::npos) << r.err;
  EXPECT_EQ(Writes(), std::vector<std::string>{"wofre;20000;"});
  r = Ctl({"set", "ofre", "500.005"});  // the unit rounds to two decimals
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the unit kept ofre at 500."), std::string::npos) << r.err;
}

TEST(VectactlFiles, DiffComparesRepeatedMnemonicsRecordByRecord) {
  using namespace vecta::params;
  TempDir dir;
  auto write = [&](const std::string& name, std::uint32_t second) {
    const ConfigImage image{1, {{"ampr", RecordKind::Number, "", 4}, {"ampr", RecordKind::Number, "", second}}};
    WriteBytes(dir.File(name), BuildConfigFile(image));
    return dir.File(name);
  };
  const std::string a = write("a.cfg", 4), b = write("b.cfg", 8), c = write("c.cfg", 4);
  std::ostringstream out, err;
  EXPECT_EQ(ctl::Run({"diff-config", a, b}, out, err), 1) << err.str();
  EXPECT_NE(out.str().find("config 1: ampr 4"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("-> 8"), std::string::npos) << out.str();
  std::ostringstream same;
  EXPECT_EQ(ctl::Run({"diff-config", a, c}, same, err), 0);
  EXPECT_EQ(same.str(), "no differences\n");
}

TEST(VectactlHelp, CommandHelpListsTheCommandsOwnOptions) {
  const struct {
    std::vector<std::string> args;
    std::string shown;
  } cases[] = {
      {{"--help"}, "load-set"},
      {{"load-config", "--help"}, "--dry-run"},
      {{"watch", "--help"}, "--interval"},
      {{"--tcp", "127.0.0.1", "edit-config", "-h"}, "--board"},
  };
  for (const auto& c : cases) {
    const CtlRun r = RunCtl(c.args);
    EXPECT_EQ(r.status, 0) << c.args.front();
    EXPECT_NE(r.out.find(c.shown), std::string::npos) << c.args.front() << ":\n" << r.out;
  }
}

TEST(VectactlHelp, VersionIsOneLineWithTheProgramsVersion) {
  const CtlRun r = RunCtl({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "vectactl 2.7.3\n");
  EXPECT_EQ(r.err, "");
}

// The signal is raised in this process when the unit receives the switch to
// configuration 3; vectactl, running in-process, handles it.
TEST(VectactlSignals, ASignalEndsASetTransferWithTheUnitReturnedAndTheHoldEnded) {
  const struct {
    std::string command;
    int signal;
    int back;  // the configuration the unit is returned to
  } cases[] = {{"save-set", SIGINT, 1}, {"load-set", SIGTERM, 1}, {"diff-unit", SIGHUP, 2}};
  for (const auto& c : cases) {
    sim::SimServer server;
    SimTranscript transcript;
    std::atomic<bool> armed{false};
    sim::SimOptions o = SimOverTcp();
    transcript.Attach(o);
    o.transcript = [&, record = o.transcript](const std::string& line) {
      record(line);
      if (line == "rx 0001wglod;3;" && armed.exchange(false)) std::raise(c.signal);
    };
    ASSERT_TRUE(StartSim(server, o));
    TempDir dir;
    FakeClock clock;
    auto ctl = [&](std::vector<std::string> args) {
      args.insert(args.begin(), {"--tcp", SimTcpTarget(server), "--log", dir.File("ctl.log")});
      return RunCtl(args, &clock);
    };
    const std::string set = dir.File("set.cfg");
    ASSERT_EQ(ctl({"save-set", set}).status, 0);
    ASSERT_EQ(ctl({"raw", "wglod;2;"}).status, 0);  // the configuration that runs
    transcript.NewWrites();
    const std::string file = c.command == "save-set" ? dir.File("new.cfg") : set;
    armed = true;
    const CtlRun r = ctl({c.command, file});
    EXPECT_EQ(r.status, 128 + c.signal) << c.command << ": " << r.err;
    const auto writes = transcript.NewWrites();
    ASSERT_GE(writes.size(), 2u) << c.command;
    EXPECT_EQ(writes[writes.size() - 2], "wglod;" + std::to_string(c.back) + ";") << c.command;
    EXPECT_EQ(writes.back(), "wgirb;0;") << c.command;
    EXPECT_EQ(std::count(writes.begin(), writes.end(), "wglod;4;"), 0) << c.command << " went on";
    EXPECT_EQ(server.Unit()->CurrentConfiguration(), c.back) << c.command;
    EXPECT_EQ(std::filesystem::exists(file), c.command != "save-set");
  }
}

}  // namespace
