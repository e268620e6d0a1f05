// The real programs around one vecta-gateway: vectactl runs through it, the
// simulated unit behind it dies and comes back on the same link, and clients
// that misbehave or may not connect are sent away while another one carries
// on. Every child is reaped by its owner, whatever the test's outcome.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <sstream>

#include "gateway/gateway.h"
#include "sim_options.h"
#include "support/child_process.h"
#include "support/envelope_client.h"
#include "support/files.h"
#include "support/sim_process.h"

namespace vecta::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The simulator with a pty behind a symlink of the test's own and a TCP port,
// and a gateway that owns the unit on the pty (or on TCP) and listens on a
// free loopback port.
struct GatewayProgramsTest : ::testing::Test {
  void StartSim(std::uint16_t tcpPort = 0) {
    ASSERT_TRUE(sim.Start({"--pty", unitLink, "--tcp", "127.0.0.1:" + std::to_string(tcpPort)}, &error)) << error;
  }
  void StartGateway(const std::string& unit, std::vector<std::string> more = {}) {
    std::vector<std::string> args{"--unit", unit, "--listen", "127.0.0.1:0", "--log", dir.File("gateway.log")};
    args.insert(args.end(), more.begin(), more.end());
    port = test::StartGateway(gateway, VECTA_GATEWAY_PATH, args);
    ASSERT_NE(port, 0);
  }
  // vectactl on `tcpPort` (the gateway's unless given), started.
  std::unique_ptr<ChildProcess> Ctl(std::vector<std::string> command, std::uint16_t tcpPort = 0) {
    std::vector<std::string> args{"--tcp", "127.0.0.1:" + std::to_string(tcpPort ? tcpPort : port), "--log",
                                  dir.File("ctl" + std::to_string(++ctlRuns) + ".log")};
    args.insert(args.end(), command.begin(), command.end());
    auto ctl = std::make_unique<ChildProcess>();
    EXPECT_TRUE(ctl->Start(VECTACTL_PATH, args, &error)) << error;
    return ctl;
  }

  TempDir dir;
  const std::string unitLink = dir.File("unit");
  std::string error;
  SimProcess sim;
  ChildProcess gateway;
  std::uint16_t port = 0;
  int ctlRuns = 0;
};

// A watch line without its time stamp (the first column).
std::string Values(const std::string& line) { return line.substr(std::min(line.find(' '), line.size())); }

TEST_F(GatewayProgramsTest, TwoWatchesAndADumpThroughOneGatewayReadWhatTheUnitHolds) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  ASSERT_NO_FATAL_FAILURE(StartGateway("serial:" + unitLink));
  const std::vector<std::string> watch{"watch", "--count", "3", "--interval", "100"};
  auto first = Ctl(watch), second = Ctl(watch), dump = Ctl({"dump"});
  auto directDump = Ctl({"dump"}, sim.TcpPort()), directWatch = Ctl({"watch", "--count", "1"}, sim.TcpPort());
  for (ChildProcess* c : {first.get(), second.get(), dump.get(), directDump.get(), directWatch.get()})
    EXPECT_EQ(c->Wait(30000), 0) << c->Err();

  EXPECT_EQ(dump->Out(), directDump->Out());
  EXPECT_NE(dump->Out().find("# address 1, board "), std::string::npos) << dump->Out();
  const std::vector<std::string> expected = Lines(directWatch->Out());
  ASSERT_EQ(expected.size(), 2u) << directWatch->Out();
  for (ChildProcess* w : {first.get(), second.get()}) {
    const std::vector<std::string> got = Lines(w->Out());
    ASSERT_EQ(got.size(), 4u) << w->Out();
    EXPECT_EQ(got[0], expected[0]);
    for (std::size_t i = 1; i < got.size(); ++i) EXPECT_EQ(Values(got[i]), Values(expected[1])) << i;
  }
}

// The unit on its pty (true) or on TCP: killed, then started again on the
// same pty symlink or the same port.
struct GatewayUnitReturnTest : GatewayProgramsTest, ::testing::WithParamInterface<bool> {};

TEST_P(GatewayUnitReturnTest, ClientsThatStayedSeeTheUnitReturnOnTheSameLink) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  const std::uint16_t simPort = sim.TcpPort();
  ASSERT_NO_FATAL_FAILURE(
      StartGateway(GetParam() ? "serial:" + unitLink : "tcp:127.0.0.1:" + std::to_string(simPort)));
  EnvelopeClient client(port);
  ASSERT_EQ(client.Ask("9999rgadd;;"), "10001");

  ASSERT_GT(sim.Pid(), 0);
  kill(sim.Pid(), SIGKILL);
  sim.Terminate();
  // Asked while the unit is gone: no reply, and the loss in the journal.
  ASSERT_TRUE(client.SendRequest("0001rgbty;;"));
  EXPECT_TRUE(gateway.WaitErr("vecta-gateway: The unit stopped answering\n", 10000)) << gateway.Err();

  ASSERT_NO_FATAL_FAILURE(StartSim(simPort));
  EXPECT_TRUE(gateway.WaitErr("vecta-gateway: The unit link is open again\n", 10000)) << gateway.Err();
  // This request's own reply, on the connection the client kept.
  EXPECT_EQ(client.Ask("9999rgadd;;"), "10001");
  EXPECT_TRUE(gateway.WaitErr("vecta-gateway: The unit answers again\n")) << gateway.Err();
}

INSTANTIATE_TEST_SUITE_P(Links, GatewayUnitReturnTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Pty" : "Tcp"; });

TEST_F(GatewayProgramsTest, ClientsThatMisbehaveOrMayNotConnectAreSentAwayAndAPollerCarriesOn) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  ASSERT_NO_FATAL_FAILURE(StartGateway("serial:" + unitLink, {"--max-clients", "2", "--allow", "127.0.0.1/32"}));
  EnvelopeClient poller(port);
  const std::string board = "1" + sim::SimOptions{}.unit.board;
  ASSERT_EQ(poller.Ask("0001rgbty;;"), board);

  const link::Bytes empty = link::SealEnvelope(link::LinkCipher{}, nullptr, 0);
  const link::Bytes one = EnvelopeClient::Sealed("9999rgadd;;");
  link::Bytes garbage, flood;
  for (int i = 0; i < 3; ++i) garbage.insert(garbage.end(), empty.begin(), empty.end());
  // One read's worth: far more than the unit could serve while they are taken.
  while (flood.size() < gateway::kReadChunk) flood.insert(flood.end(), one.begin(), one.end());
  const struct {
    const char* name;
    std::string source;
    bool holder;  // another client connected first, making two
    const link::Bytes& bytes;
    const char* verb;
    std::string why;  // the journal's line: "vecta-gateway: VERB ADDRESS:PORT: WHY"
    std::size_t maxReceived;
  } cases[] = {
      {"garbage", "127.0.0.1", false, garbage, "Disconnected", "3 frames in a row that do not decode", 0},
      // Replies to at most the requests it may have waiting.
      {"flood", "127.0.0.1", false, flood, "Disconnected", "more requests than it waits replies for",
       gateway::kMaxQueuedFrames * 2 * one.size()},
      {"outside --allow", "127.0.0.2", false, one, "Refused", "not within an allowed range", 0},
      {"beyond --max-clients", "127.0.0.1", true, one, "Refused", "2 clients already", 0},
  };
  for (const auto& c : cases) {
    std::unique_ptr<EnvelopeClient> holder;
    if (c.holder) {
      holder = std::make_unique<EnvelopeClient>(port);
      ASSERT_EQ(holder->Ask("0001rgbty;;"), board) << c.name;
    }
    EnvelopeClient client(port, c.source);
    client.Send(c.bytes);  // refused ones may be closed before
    std::size_t received = 0;
    EXPECT_TRUE(client.ClosedWithin(5000, &received)) << c.name;
    EXPECT_LE(received, c.maxReceived) << c.name;
    const std::string line = std::string("vecta-gateway: ") + c.verb + " " + client.Label() + ": " + c.why + "\n";
    EXPECT_TRUE(gateway.WaitErr(line)) << c.name << "\n" << gateway.Err();
    EXPECT_EQ(poller.Ask("0001rgbty;;"), board) << c.name;
  }
}

}  // namespace
}  // namespace vecta::test
