// The connection a program builds for one unit: what its options set on the
// link and the unit context, the poll thread only when asked for, the
// connects without a window, and the Ethernet attempt the operator may call
// off (a stale attempt, a cancel, the socket dropped after it).
#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "app/unit_connection.h"
#include "link/link_errors.h"
#include "support/fake_link.h"
#include "support/files.h"
#include "support/recording_ui.h"

using namespace vecta;
using namespace vecta::test;

namespace {

class UnitConnectionTest : public ::testing::Test {
 protected:
  std::unique_ptr<app::UnitConnection> Make(app::UnitConnectionOptions o = {}) {
    o.environment.clock = &clock;
    o.environment.serial = serial;
    o.environment.sockets = sockets;
    o.clock = &clock;
    return std::make_unique<app::UnitConnection>(std::move(o), view, &prompter);
  }
  // A unit at address 42 answers every request over TCP.
  void UnitOnTcp() {
    sockets->state->responder = [](const Bytes&) { return ReplyFrame(42, '1', "0042"); };
  }
  // Starts the Ethernet attempt `attempt` toward 10.0.0.9 and waits for its end.
  void RunAttempt(app::Connector& connector, std::uint64_t attempt) {
    connector.PrepareEthernet("10.0.0.9", app::ConnectionKind::Rs232);
    std::promise<void> ended;
    ASSERT_TRUE(connector.StartEthernetAttempt(attempt, [&ended] { ended.set_value(); }));
    ASSERT_EQ(ended.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  }

  TempDir dir;
  FakeClock clock;
  std::shared_ptr<FakeSerialProvider> serial = std::make_shared<FakeSerialProvider>(3);
  std::shared_ptr<FakeSocketFactory> sockets = std::make_shared<FakeSocketFactory>();
  RecordingPrompter prompter;
  RecordingView view;
};

TEST_F(UnitConnectionTest, TheSettingsAndOptionsReachTheLinkAndTheUnitContext) {
  app::AppSettings settings;
  settings.baudRate = 19200;
  settings.readIntervalTimeoutMs = 11;
  settings.readTotalTimeoutMultiplier = 12;
  settings.readTotalTimeoutConstantMs = 13;
  settings.writeTotalTimeoutMultiplier = 14;
  settings.writeTotalTimeoutConstantMs = 15;
  app::UnitConnectionOptions o;
  app::TakeSerialSettings(o, settings);
  o.logFile = dir.File("unit.log");
  o.tcpReceiveTimeoutMs = 1234;
  auto c = Make(o);

  EXPECT_EQ(c->Link().BaudRate(), 19200u);
  const link::SerialTimeouts& t = c->Link().Timeouts();
  EXPECT_EQ(std::vector<std::uint32_t>({t.readInterval, t.readTotalMultiplier, t.readTotalConstant,
                                        t.writeTotalMultiplier, t.writeTotalConstant}),
            std::vector<std::uint32_t>({11, 12, 13, 14, 15}));
  const params::UnitContext& unit = c->Unit();
  EXPECT_EQ(unit.link, &c->Link());
  EXPECT_EQ(unit.tables, &c->Tables());
  EXPECT_EQ(unit.transfer, &c->Transfer());
  EXPECT_EQ(unit.prompter, &prompter);
  ASSERT_NE(unit.clock, nullptr);
  EXPECT_EQ(unit.clock->NowMs(), clock.now);
  EXPECT_EQ(c->Poll(), nullptr);

  UnitOnTcp();
  EXPECT_EQ(c->Connector().ConnectEthernetAndWait("10.0.0.9", 4001, 5000), link::kConnectOk);
  EXPECT_TRUE(c->Link().IsConnected());
  EXPECT_EQ(sockets->targets, std::vector<std::string>{"10.0.0.9:4001"});
  EXPECT_EQ(sockets->state->receiveTimeoutMs, 1234);
  EXPECT_GT(std::filesystem::file_size(o.logFile), 0u);
}

TEST_F(UnitConnectionTest, TheCloseFlagsSayWhetherAFailedReceiveShutsTheSocket) {
  for (const bool close : {false, true}) {
    app::UnitConnectionOptions o;
    o.closeAfterReceiveFailure = close;
    sockets = std::make_shared<FakeSocketFactory>();
    auto c = Make(o);
    // Nobody answers the probe.
    EXPECT_EQ(c->Connector().ConnectEthernetAndWait("10.0.0.9", 4001, 5000), link::kConnectOk);
    EXPECT_EQ(sockets->state->shutdowns, close ? 1 : 0) << close;
  }
}

TEST_F(UnitConnectionTest, ThePollThreadIsBuiltOnlyWhenAskedForAndInterruptStopsTheLink) {
  app::UnitConnectionOptions o;
  o.pollThread = true;
  auto c = Make(o);
  ASSERT_NE(c->Poll(), nullptr);
  EXPECT_FALSE(c->Link().Interrupted());
  c->Interrupt();
  EXPECT_TRUE(c->Link().Interrupted());
}

TEST_F(UnitConnectionTest, ASerialPortIsOpenedByItsPathAndAnUnknownPathOpensNothing) {
  auto c = Make();
  EXPECT_EQ(c->Connector().OpenSerialPath("/dev/fake2").code, link::kLinkOk);
  EXPECT_EQ(serial->opened, std::vector<std::string>{"/dev/fake2"});
  EXPECT_NE(c->Connector().OpenSerialPath("/dev/ttyNONE").code, link::kLinkOk);
  EXPECT_EQ(serial->opened.size(), 1u);
}

// ------------------------------------------------- the Ethernet attempt

TEST_F(UnitConnectionTest, OnlyTheAttemptBegunLastStartsAndCounts) {
  auto c = Make();
  app::Connector& connector = c->Connector();
  const std::uint64_t old = connector.BeginEthernetAttempt();
  const std::uint64_t current = connector.BeginEthernetAttempt();
  EXPECT_FALSE(connector.StartEthernetAttempt(old, [] {}));
  EXPECT_EQ(sockets->connects, 0);
  EXPECT_FALSE(connector.EthernetAttemptLive(old));
  UnitOnTcp();
  RunAttempt(connector, current);
  EXPECT_TRUE(connector.EthernetAttemptLive(current));
  EXPECT_EQ(connector.FinishEthernet(), app::EthernetResult::Connected);
  EXPECT_EQ(c->Unit().unitAddress, 42);
}

TEST_F(UnitConnectionTest, ADialogEndingBeforeTheAttemptWasHandledCallsItOff) {
  struct Case {
    bool accepted, handled, callsOff;
  };
  for (const Case k :
       {Case{true, true, false}, Case{true, false, true}, Case{false, true, true}, Case{false, false, true}}) {
    auto c = Make();
    app::Connector& connector = c->Connector();
    const std::uint64_t attempt = connector.BeginEthernetAttempt();
    if (k.handled) connector.EthernetAttemptHandled();
    TraceCapture trace;
    EXPECT_EQ(connector.EthernetDialogEnded(k.accepted), k.callsOff) << k.accepted << k.handled;
    EXPECT_EQ(connector.EthernetAttemptCancelled(), k.callsOff);
    EXPECT_EQ(connector.EthernetAttemptLive(attempt), !k.callsOff);
    EXPECT_EQ(trace.Count("Connection attempt cancelled by user\r\n"), k.callsOff ? 1 : 0);
    // The next attempt starts afresh.
    EXPECT_TRUE(connector.EthernetAttemptLive(connector.BeginEthernetAttempt()));
  }
}

TEST_F(UnitConnectionTest, ASocketConnectedBeforeTheCancelIsDroppedUnlessAUnitWasTaken) {
  for (const bool taken : {false, true}) {
    auto c = Make();
    app::Connector& connector = c->Connector();
    UnitOnTcp();
    const std::uint64_t attempt = connector.BeginEthernetAttempt();
    RunAttempt(connector, attempt);
    ASSERT_TRUE(c->Link().HasSocket());
    if (taken) {
      ASSERT_EQ(connector.FinishEthernet(), app::EthernetResult::Connected);
      c->Session().SetConnected(true);
    }
    EXPECT_TRUE(connector.EthernetDialogEnded(false));
    connector.DropCancelledEthernet();
    EXPECT_EQ(c->Link().HasSocket(), taken) << taken;
  }
}

}  // namespace
