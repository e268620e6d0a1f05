// The real link (termios on a pseudo-terminal, BSD sockets on loopback)
// against a simulated unit: exchanges, the communication log byte for byte,
// and every fault the simulator can play met with its link error, no hang.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>

#include "link/frame.h"
#include "link/link_errors.h"
#include "link/remote_control.h"
#include "sim_server.h"
#include "support/ctl_run.h"
#include "support/fake_link.h"
#include "support/sim_fixture.h"

using namespace vecta::link;
using namespace vecta::test;
using vecta::sim::SimOptions;
using vecta::sim::SimServer;

namespace {

struct SimUnitFixture {
  SimTranscript transcript;
  SimServer sim;
  std::unique_ptr<CRavlenRemoteControl> link;
  FakeClock clock;  // the log's time stamps, reply timing and serial time-outs
  std::atomic<int> linkLost{0};
  TempDir dir;

  ::testing::AssertionResult Start(SimOptions o) {
    o.tcpPort = 0;
    transcript.Attach(o);
    return StartSim(sim, o);
  }
  // A controller whose port list is the simulator's pseudo-terminal.
  void MakeLink() {
    link = MakeSimLink(sim, &clock, transcript, [this] { ++linkLost; });
  }
  std::uint32_t OpenPty() { return link->OpenSerialPort(0); }
};

class OverPty : public ::testing::Test, protected SimUnitFixture {
 protected:
  void Serve(SimOptions o = {}) {
    o.tcp = false;
    o.pty = true;
    ASSERT_TRUE(Start(o));
    MakeLink();
    link->OpenLogFile(dir.File("pty.log"));
    ASSERT_EQ(OpenPty(), 0u);
  }
  std::uint32_t Send(const std::string& text) { return link->SendCommand(text, reply); }
  LinkReply reply;
};

class OverTcp : public ::testing::Test, protected SimUnitFixture {
 protected:
  void Serve(SimOptions o = {}) {
    o.tcp = true;
    ASSERT_TRUE(Start(o));
    MakeLink();
    link->OpenLogFile(dir.File("tcp.log"));
    ASSERT_EQ(ConnectSimTcp(*link, sim), kConnectOk);
  }
  std::uint32_t Send(const std::string& text) { return link->SendCommand(text, reply); }
  LinkReply reply;
};

TEST_F(OverPty, BroadcastQueryThenBoardType) {
  SimOptions o;
  o.unit.address = 42;
  o.unit.board = "K240";
  Serve(o);
  ASSERT_EQ(Send("9999rgadd;;"), 0u);
  EXPECT_EQ(reply.status, '1');
  EXPECT_EQ(std::atoi(reply.value.c_str()), 42);
  ASSERT_EQ(Send("\x02"
                 "0042rgbty;;"),
            0u);
  EXPECT_EQ(reply.value, "K240");
  EXPECT_EQ(Send("0042rqqqq;;"), 0u);  // a mnemonic the unit does not know
  EXPECT_EQ(reply.status, 'E');
}

TEST_F(OverPty, LogRecordIsByteExact) {
  Serve();
  ASSERT_EQ(Send("0001rgbty;;"), 0u);
  const Bytes replyFrame = ReplyFrame(1, '1', "K610");
  const std::string hex = HexDump(replyFrame);
  const std::string expected =
      "Log file opened\r\n"
      "Opening COM1\r\n"
      "Returning OK\r\n"
      "12:34:56 Sending message:  2 30 30 30 31 72 67 62 74 79 3b 3b df  3 "
      "\x02"
      "0001rgbty;;\xdf\x03\r\n"
      "Response: 13 bytes (0.00s) " +
      hex + std::string(replyFrame.begin(), replyFrame.end()) + std::string(1, '\0') + "\r\nReturning OK\r\n";
  EXPECT_EQ(ReadFile(dir.File("pty.log")), expected);
}

TEST_F(OverPty, OtherAddressesMeetSilence) {
  SimOptions o;
  o.unit.address = 5;
  Serve(o);
  EXPECT_EQ(Send("0001rgbty;;"), kErrTimedOut);
  EXPECT_EQ(linkLost, 1);
  EXPECT_EQ(Send("0005rgbty;;"), 0u);
}

TEST_F(OverPty, AddressWriteMovesTheUnit) {
  Serve();
  ASSERT_EQ(Send("0001wgadd;0007;"), 0u);
  EXPECT_EQ(reply.status, '1');
  EXPECT_EQ(Send("0007rgadd;;"), 0u);
  EXPECT_EQ(std::atoi(reply.value.c_str()), 7);
}

TEST_F(OverPty, ConfigSwitchAcceptsItsRangeOnly) {
  SimOptions o;
  o.unit.board = "other";  // 8 configurations
  Serve(o);
  ASSERT_EQ(Send("0001wglod;8;"), 0u);
  EXPECT_EQ(reply.status, '1');
  ASSERT_EQ(Send("0001rglod;;"), 0u);
  EXPECT_EQ(reply.value, "8");
  ASSERT_EQ(Send("0001wglod;9;"), 0u);
  EXPECT_EQ(reply.status, 'E');
}

TEST_F(OverPty, LongReadGetsItsWholeBlock) {
  Serve();
  ASSERT_EQ(Send("\x02"
                 "0001rgrea;;"),
            0u);
  EXPECT_EQ(reply.status, '1');
  const std::string log = ReadFile(dir.File("pty.log"));
  const auto at = log.find("Response: ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GE(std::atoi(log.c_str() + at + 10), 135) << log.substr(at, 40);
}

TEST_F(OverPty, SilentUnitAfterAnsweringIsTriedThreeTimes) {
  SimOptions o;
  o.faults.silentAfter = 1;
  Serve(o);
  ASSERT_EQ(Send("0001rgadd;;"), 0u);
  EXPECT_EQ(Send("0001rgbty;;"), kErrTimedOut);
  EXPECT_EQ(linkLost, 1);
  const std::string log = ReadFile(dir.File("pty.log"));
  int sends = 0;
  for (auto p = log.find("Sending message"); p != std::string::npos; p = log.find("Sending message", p + 1))
    ++sends;
  EXPECT_EQ(sends, 4);
}

TEST_F(OverPty, EveryOtherReplyLostIsRecoveredByTheRetry) {
  SimOptions o;
  o.faults.everyOther = true;
  Serve(o);
  ASSERT_EQ(Send("0001rgadd;;"), 0u);  // request 1: answered
  EXPECT_EQ(Send("0001rgbty;;"), 0u);  // request 2 lost, its retry (3) answered
  EXPECT_EQ(reply.value, "K610");
  EXPECT_NE(ReadFile(dir.File("pty.log")).find("Retry sending message"), std::string::npos);
}

TEST_F(OverPty, MalformedRepliesGiveTheirCodes) {
  struct Case {
    const char* name;
    void (*set)(SimOptions&);
    std::uint32_t code;
  } cases[] = {
      {"bad checksum", [](SimOptions& o) { o.faults.badChecksum = true; }, kErrBadChecksum},
      {"no ETX", [](SimOptions& o) { o.faults.noEtx = true; }, kErrNoEtx},
      {"bad status", [](SimOptions& o) { o.faults.badStatus = true; }, kErrInvalidReply},
      {"garbage", [](SimOptions& o) { o.faults.garbage = 40; }, kErrRead},
      {"short garbage", [](SimOptions& o) { o.faults.garbage = 20; }, kLinkOk},
      {"delay", [](SimOptions& o) { o.faults.delayMs = 200; }, kErrTimedOut},
      {"never", [](SimOptions& o) { o.faults.silent = true; }, kErrTimedOut},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim.Stop();
    link.reset();
    SimOptions o;
    c.set(o);
    Serve(o);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Send("0001rgbty;;"), c.code);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  }
}

// The fixture's short read time-out passes (on the fake clock) only once
// the unit is known to owe nothing more; a unit slower than it, as on a
// loaded machine, is still waited for.
TEST_F(OverPty, UnitSlowerThanTheReadTimeoutIsWaitedFor) {
  SimOptions o;
  o.faults.paceBaud = 200;  // 50 ms a byte
  Serve(o);
  EXPECT_EQ(Send("0001rgbty;;"), 0u);
  EXPECT_EQ(reply.value, "K610");
}

TEST_F(OverPty, HangUpIsALostLinkAtOnceAndTheSamePortOpensAgainWhenTheUnitIsBack) {
  SimOptions o;
  o.tcp = false;
  o.pty = true;
  o.ptyLink = dir.File("ttyUNIT");  // the unit comes back under the same name
  ASSERT_TRUE(Start(o));
  LinkEnvironment env;
  env.clock = &clock;
  env.serial = SimSerialPorts({{o.ptyLink, o.ptyLink}}, transcript, clock);
  link = std::make_unique<CRavlenRemoteControl>([this] { ++linkLost; }, env);
  link->SetInitialTimeouts(FastSerialTimeouts());
  ASSERT_EQ(OpenPty(), 0u);
  ASSERT_EQ(Send("0001rgadd;;"), 0u);
  sim.Stop();
  // The write may already meet the hang-up; either way it is a link error at
  // once, not silence waited for and retried, and the unit is lost.
  const auto start = std::chrono::steady_clock::now();
  const std::uint32_t rc = Send("0001rgbty;;");
  EXPECT_TRUE(rc == kErrRead || rc == kErrWrite) << std::hex << rc;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(linkLost, 1);
  EXPECT_FALSE(link->SerialOpen());
  EXPECT_FALSE(link->UnitHasAnswered());
  EXPECT_EQ(Send("0001rgbty;;"), kErrNotConnected);
  EXPECT_FALSE(link->ReopenLostSerialPort());  // still away

  ASSERT_TRUE(Start(o));
  EXPECT_TRUE(link->ReopenLostSerialPort());
  EXPECT_FALSE(link->SerialPortLost());
  EXPECT_EQ(Send("0001rgbty;;"), 0u);
  EXPECT_EQ(linkLost, 1);
}

TEST_F(OverPty, PortHeldByAnotherProgramDoesNotOpen) {
  Serve();
  FakeClock clock2;
  const auto second = MakeSimLink(sim, &clock2, transcript);
  EXPECT_EQ(second->OpenSerialPort(0), kErrOpenPort);
  EXPECT_FALSE(second->LastOpenError().empty());
  link->CloseSerialPort();
  EXPECT_EQ(second->OpenSerialPort(0), 0u);
}

TEST_F(OverTcp, ProbeThenExchanges) {
  Serve();
  EXPECT_FALSE(link->IsConnected());
  link->ProbeUnit();
  EXPECT_TRUE(link->IsConnected());
  ASSERT_EQ(Send("9999rgadd;;"), 0u);
  EXPECT_EQ(std::atoi(reply.value.c_str()), 1);
  ASSERT_EQ(Send("0001rgver;;"), 0u);
  EXPECT_EQ(reply.value, "3.4.0.0");
  // The last reply starts with the envelope's length byte.
  ASSERT_FALSE(link->LastReply().empty());
  EXPECT_EQ(static_cast<unsigned char>(link->LastReply()[0]), link->LastReply().size() - 1);
}

TEST_F(OverTcp, LogShowsTheDecipheredEnvelope) {
  Serve();
  ASSERT_EQ(Send("0001rgbty;;"), 0u);
  const Bytes frame = ReplyFrame(1, '1', "K610");
  const Bytes env = PlainEnvelope(frame.data(), frame.size());
  const std::string hex = HexDump(env);
  const std::string log = ReadFile(dir.File("tcp.log"));
  EXPECT_NE(log.find("Response: " + hex + "\x0d"), std::string::npos) << log;
}

TEST_F(OverTcp, FaultsGiveTheirCodesWithoutHanging) {
  struct Case {
    const char* name;
    void (*set)(SimOptions&);
    std::uint32_t code;
  } cases[] = {
      {"never", [](SimOptions& o) { o.faults.silent = true; }, kErrRead},
      {"delay", [](SimOptions& o) { o.faults.delayMs = 400; }, kErrRead},
      {"bad checksum", [](SimOptions& o) { o.faults.badChecksum = true; }, kErrBadChecksum},
      {"no ETX", [](SimOptions& o) { o.faults.noEtx = true; }, kErrNoEtx},
      {"bad status", [](SimOptions& o) { o.faults.badStatus = true; }, kErrInvalidReply},
      {"garbage", [](SimOptions& o) { o.faults.garbage = 40; }, kLinkOk},  // no 32-byte rule on TCP
      {"split", [](SimOptions& o) { o.faults.splitReply = true; }, kErrNoEtx},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim.Stop();
    link.reset();
    SimOptions o;
    c.set(o);
    Serve(o);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Send("0001rgbty;;"), c.code);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(link->HasSocket());  // the main window's flags keep the socket
  }
}

TEST_F(OverTcp, ClosedConnectionEndsWithoutEtxThenWriteFails) {
  SimOptions o;
  o.faults.closeAfter = 1;
  Serve(o);
  ASSERT_EQ(Send("0001rgadd;;"), 0u);
  EXPECT_EQ(Send("0001rgbty;;"), kErrNoEtx);  // the peer closed: a receive of 0 bytes
  std::uint32_t rc = 0;
  for (int i = 0; i < 3 && rc != kErrWrite; ++i) rc = Send("0001rgbty;;");
  EXPECT_EQ(rc, kErrWrite);
}

TEST_F(OverTcp, DefaultFlagsReconnectAfterTheUnitClosed) {
  SimOptions o;
  o.faults.closeAfter = 1;
  ASSERT_TRUE(Start(o));
  MakeLink();
  ASSERT_EQ(ConnectSimTcp(*link, sim), kConnectOk);
  link->SetCloseAfterSendFailure(true);
  link->SetCloseAfterReceiveFailure(true);
  ASSERT_EQ(Send("0001rgadd;;"), 0u);
  std::uint32_t rc = 0;
  for (int i = 0; i < 4 && !(rc == kErrWrite || rc == kErrRead); ++i) rc = Send("0001rgbty;;");
  EXPECT_TRUE(rc == kErrWrite || rc == kErrRead) << std::hex << rc;
  EXPECT_TRUE(link->HasSocket());  // a new connection
  EXPECT_TRUE(link->UnitHasAnswered());
  // The failed request is not repeated; the next one goes over the new
  // connection.
  EXPECT_EQ(Send("0001rgbty;;"), 0u);
  EXPECT_EQ(reply.value, "K610");
  EXPECT_GE(sim.TcpConnections(), 2);
}

TEST(TcpConnect, NothingListeningGives255) {
  // Bind a port, then close it, so nothing listens there.
  SimServer sim;
  ASSERT_TRUE(StartSim(sim, SimOverTcp()));
  const std::uint16_t port = sim.TcpPort();
  sim.Stop();
  CRavlenRemoteControl link({}, {});
  link.SetEthernetAddress("127.0.0.1");
  link.SetTcpPort(port);
  const int result = ConnectAndWait(link, 5000);
  EXPECT_EQ(result, kConnectFailed);
  EXPECT_FALSE(link.HasSocket());
}

// ------------------------------------------------------------- vectactl

CtlRun Ctl(const std::vector<std::string>& args) { return RunCtl(args); }

TEST(Vectactl, ProbeAndRawOverBothTransports) {
  SimServer sim;
  SimOptions o = SimOverTcp();
  o.pty = true;
  o.unit.address = 12;
  o.unit.board = "K240";
  ASSERT_TRUE(StartSim(sim, o));
  TempDir dir;
  const std::string tcp = SimTcpTarget(sim);

  CtlRun r = Ctl({"--tcp", tcp, "--log", dir.File("a.log"), "probe"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "address 12\nboard K240\n");

  r = Ctl({"--serial", sim.PtyPath(), "--log", dir.File("b.log"), "probe"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "address 12\nboard K240\n");
  EXPECT_NE(ReadFile(dir.File("b.log")).find("Sending message:  2 39 39 39 39 72 67 61 64 64"), std::string::npos);

  r = Ctl({"--serial", sim.PtyPath(), "--address", "12", "--log", dir.File("c.log"), "raw", "rgbty;;"});
  EXPECT_EQ(r.status, 0) << r.err;
  const Bytes reply = ReplyFrame(12, '1', "K240");
  const std::string hex = HexDump(reply);
  EXPECT_EQ(r.out,
            "Sending:  2 30 30 31 32 72 67 62 74 79 3b 3b e1  3 \x02"
            "0012rgbty;;\xe1\x03\n"
            "Reply: " +
                hex + std::string(reply.begin(), reply.end()) + "\n");
}

TEST(Vectactl, LinkErrorsAndBadUsage) {
  SimServer sim;
  SimOptions o = SimOverPty();
  o.faults.badChecksum = true;
  ASSERT_TRUE(StartSim(sim, o));
  TempDir dir;
  CtlRun r = Ctl({"--serial", sim.PtyPath(), "--address", "1", "--log", dir.File("l"), "raw", "rgbty;;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Bad checksum in response message\n");
  EXPECT_NE(r.out.find("Reply: "), std::string::npos);  // the rejected reply is shown

  r = Ctl({"--serial", "/dev/does-not-exist", "--log", dir.File("l"), "probe"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Unable to open serial port: No such file or directory\n");

  r = Ctl({"--serial", sim.PtyPath(), "--address", "1", "--log", dir.File("l"), "raw",
           "wzkey;" + std::string(300, 'A') + ";"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Invalid command sent\n");

  EXPECT_EQ(Ctl({"probe"}).status, 2);
  EXPECT_EQ(Ctl({"--tcp", "x", "--serial", "y", "probe"}).status, 2);
  EXPECT_EQ(Ctl({"--tcp", "127.0.0.1:99999", "probe"}).status, 2);
  EXPECT_EQ(Ctl({"--tcp", "127.0.0.1", "frobnicate"}).status, 2);
  EXPECT_EQ(Ctl({"--address", "abc", "--tcp", "127.0.0.1", "probe"}).status, 2);
  r = Ctl({"--port", "/tmp/some-pty", "ports"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(" /tmp/some-pty /tmp/some-pty\n"), std::string::npos);
}

}  // namespace
