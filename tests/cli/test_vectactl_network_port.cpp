// vectactl and the link through Debian's ser2net, an RFC 2217 terminal
// server in front of the simulated unit's pseudo-terminal: the commands give
// the same bytes as on the pseudo-terminal itself, a speed change from the
// engineering page reaches the far port, and a checksum byte 0xFF crosses
// both ways. Skipped only when ser2net is not installed.
#include <gtest/gtest.h>

#include "app/engineering.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "link/remote_control.h"
#include "support/ctl_run.h"
#include "support/fake_link.h"
#include "support/ser2net_process.h"
#include "support/sim_fixture.h"

using namespace vecta;
using namespace vecta::test;

namespace {

class NetworkPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Ser2netProcess::Binary().empty())
      GTEST_SKIP() << "ser2net is not installed (scripts/install-deps installs Debian's ser2net)";
  }
  void Serve(const sim::UnitOptions& unit = {}) {
    sim::SimOptions o = SimOverPty();
    o.unit = unit;
    transcript.Attach(o);
    ASSERT_TRUE(StartSim(server, o));
  }
  // ser2net flushes the pseudo-terminal a few ms after a client has gone, so
  // the pseudo-terminal is not used directly once ser2net runs.
  void StartSer2net() {
    std::string error;
    ASSERT_TRUE(ser2net.Start({server.PtyPath()}, dir.path(), &error)) << error;
  }
  // One vectactl command on `port`, with the requests the unit received.
  struct Run {
    CtlRun ctl;
    std::vector<std::string> received;
  };
  Run Ctl(const std::string& port, const std::vector<std::string>& args) {
    std::vector<std::string> full = {"--serial", port, "--log", dir.File("ctl.log")};
    full.insert(full.end(), args.begin(), args.end());
    const std::size_t before = transcript.Received().size();
    Run run{RunCtl(full, &clock), transcript.Received()};
    run.received.erase(run.received.begin(), run.received.begin() + static_cast<long>(before));
    return run;
  }
  // The commands on the pseudo-terminal, then through ser2net (`net`, where
  // a file name differs): the same output and the same requests at the unit.
  void ExpectSame(const std::vector<std::vector<std::string>>& pty,
                  const std::vector<std::vector<std::string>>& net) {
    std::vector<Run> direct;
    for (const auto& c : pty) {
      direct.push_back(Ctl(server.PtyPath(), c));
      ASSERT_EQ(direct.back().ctl.status, 0) << c[0] << ": " << direct.back().ctl.err;
    }
    ASSERT_NO_FATAL_FAILURE(StartSer2net());
    for (std::size_t i = 0; i < net.size(); ++i) {
      const Run run = Ctl(ser2net.PortName(0), net[i]);
      EXPECT_EQ(run.ctl.status, 0) << run.ctl.err;
      EXPECT_EQ(run.ctl.out, direct[i].ctl.out) << net[i][0];
      EXPECT_EQ(run.ctl.err, direct[i].ctl.err) << net[i][0];
      EXPECT_EQ(run.received, direct[i].received) << net[i][0];
    }
  }

  FakeClock clock;  // the unit's protocol waits pass at once
  TempDir dir;
  SimTranscript transcript;
  sim::SimServer server;
  Ser2netProcess ser2net;  // stopped before the unit's pseudo-terminal goes
};

TEST_F(NetworkPortTest, CommandsMatchThePseudoTerminalByteForByte) {
  Serve();
  const std::string viaPty = dir.File("pty.cfg"), viaNet = dir.File("net.cfg");
  ExpectSame({{"probe"}, {"dump", "--json"}, {"save-set", viaPty}, {"load-set", viaPty}},
             {{"probe"}, {"dump", "--json"}, {"save-set", viaNet}, {"load-set", viaNet}});
  ASSERT_FALSE(FileBytes(viaPty).empty());
  EXPECT_EQ(FileBytes(viaNet), FileBytes(viaPty));
}

TEST_F(NetworkPortTest, SpeedChangeOnTheEngineeringPageReachesTheFarPort) {
  Serve();
  ASSERT_NO_FATAL_FAILURE(StartSer2net());
  link::LinkEnvironment env;
  env.clock = &clock;
  env.serial = link::MakePosixSerialProvider(link::DiscoverSerialPorts({ser2net.PortName(0)}, dir.path()));
  link::CRavlenRemoteControl unit({}, env);
  ASSERT_EQ(unit.OpenSerialPort(0), link::kLinkOk) << unit.LastOpenError();
  EXPECT_EQ(ser2net.ReportedSpeed(0), 9600u);

  app::LinkSerialSettings settings(unit);
  std::array<std::uint32_t, app::kTimeoutCount> timeouts{};
  for (int i = 0; i < app::kTimeoutCount; ++i) timeouts[i] = settings.Timeout(i);
  EXPECT_TRUE(app::ApplySerialSettings(settings, 19200, timeouts).baudRateSet);
  EXPECT_EQ(unit.BaudRate(), 19200u);
  EXPECT_EQ(ser2net.ReportedSpeed(0), 19200u);
  link::LinkReply reply;
  EXPECT_EQ(link::Exchange(unit, "9999rgadd;;", reply), link::kLinkOk);
  EXPECT_EQ(reply.value, "0001");
}

TEST_F(NetworkPortTest, ChecksumByte0xFFCrossesBothWays) {
  // At address 6999 the board type request "6999rgbty;;" and the reply
  // "69991K6WZ;" both end in the checksum 0xFF.
  sim::UnitOptions unit;
  unit.address = 6999;
  unit.board = "K6WZ";
  Serve(unit);
  ExpectSame({{"raw", "rgbty;;"}}, {{"raw", "rgbty;;"}});
  const CtlRun r = Ctl(ser2net.PortName(0), {"raw", "rgbty;;"}).ctl;
  EXPECT_NE(r.out.find("Sending:  2 36 39 39 39 72 67 62 74 79 3b 3b ff  3 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Reply:  2 36 39 39 39 31 4b 36 57 5a 3b ff  3 "), std::string::npos) << r.out;
}

TEST(NetworkPort, AServerThatIsNotThereIsReportedWithItsReason) {
  TempDir dir;
  const CtlRun r = RunCtl({"--serial", "rfc2217://127.0.0.1:1", "--log", dir.File("ctl.log"), "probe"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Unable to open serial port: cannot connect to 127.0.0.1:1: Connection refused\n");
}

}  // namespace
