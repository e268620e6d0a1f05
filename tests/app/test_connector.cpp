// Finding and connecting the unit: the start-up scan over scripted serial
// ports (which ports are opened, in which order, which are closed again),
// cancelling it, the serial connect with its failures and the permission
// advice, a refused address reply, and the Ethernet connect with its probe
// and address learning against the simulator.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "app/connector.h"
#include "link/frame.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "sim_server.h"
#include "support/fake_link.h"
#include "support/recording_ui.h"
#include "support/sim_fixture.h"

using namespace vecta;
using namespace vecta::test;
using app::ConnectionKind;
using app::Connector;
using app::SerialConnect;

namespace {

const std::string kGroupAdvice =
    "Add your user to the \"dialout\" group (sudo usermod -aG dialout $USER), then log out and in again.";

std::string Frame(const std::string& text) {
  link::Bytes f;
  link::BuildRequestFrame(text, link::kMaxSerialRequestFrame, f);
  return std::string(f.begin(), f.end());
}

// Serial ports each with a line of its own; a port may refuse to open.
class PortBank final : public link::SerialPortProvider {
 public:
  PortBank(int count, FakeClock& clock) {
    for (int i = 0; i < count; ++i) {
      auto port = std::make_shared<FakeSerialProvider>(1);
      port->state->clock = &clock;
      ports_.push_back(port);
      openErrors_.emplace_back();
    }
  }
  std::vector<link::SerialPortInfo> Ports() const override {
    std::vector<link::SerialPortInfo> v;
    for (std::size_t i = 0; i < ports_.size(); ++i)
      v.push_back({"/dev/ttyT" + std::to_string(i), "ttyT" + std::to_string(i)});
    return v;
  }
  std::unique_ptr<link::SerialDevice> Open(int index, std::string& error) override {
    const auto i = static_cast<std::size_t>(index);
    if (index < 0 || i >= ports_.size()) {
      error = "no serial port with index " + std::to_string(index);
      return nullptr;
    }
    if (!openErrors_[i].empty()) {
      error = openErrors_[i];
      return nullptr;
    }
    opened.push_back(index);
    if (onOpen) onOpen(index);
    return ports_[i]->Open(0, error);
  }

  FakeSerialState& Line(int index) { return *ports_[static_cast<std::size_t>(index)]->state; }
  // A unit at `address` answers every request on the port.
  void UnitOn(int index, int address) {
    Line(index).responder = [address](const Bytes&) { return ReplyFrame(address, '1', FourDigits(address)); };
  }
  void RefuseOpen(int index, const std::string& reason) { openErrors_[static_cast<std::size_t>(index)] = reason; }

  std::vector<int> opened;                // port indexes opened, in order
  std::function<void(int index)> onOpen;  // called as a port opens

 private:
  static std::string FourDigits(int n) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04d", n);
    return buf;
  }
  std::vector<std::shared_ptr<FakeSerialProvider>> ports_;
  std::vector<std::string> openErrors_;
};

class ConnectorTest : public ::testing::Test {
 protected:
  void MakeLink(int ports) {
    bank = std::make_shared<PortBank>(ports, clock);
    link::LinkEnvironment env;
    env.clock = &clock;
    env.serial = bank;
    env.sockets = sockets;
    rc = std::make_unique<link::CRavlenRemoteControl>(link::CRavlenRemoteControl::LinkLostNotify{}, env);
    rc->OpenLogFile(dir.File("c.log"));
    unit.link = rc.get();
    unit.clock = &clock;
    unit.prompter = &prompter;
    unit.tables = &tables;
  }
  std::vector<std::string> Sent(int port) {
    std::vector<std::string> s;
    for (const auto& w : bank->Line(port).writes) s.emplace_back(w.begin(), w.end());
    return s;
  }

  TempDir dir;
  FakeClock clock;
  std::shared_ptr<PortBank> bank;
  std::shared_ptr<FakeSocketFactory> sockets = std::make_shared<FakeSocketFactory>();
  std::unique_ptr<link::CRavlenRemoteControl> rc;
  params::ParamTables tables;
  params::UnitContext unit;
  RecordingPrompter prompter;
  RecordingView view;
  app::Session session{unit, view};
  Connector connector{session};
  std::atomic<bool> cancelled{false};
};

// ------------------------------------------------------------ the scan

TEST_F(ConnectorTest, ScanFindsTheUnitOnTheSecondPortAndClosesTheSilentOne) {
  MakeLink(3);
  bank->UnitOn(1, 42);
  std::vector<std::string> tried;
  app::ScanHooks hooks;
  hooks.trying = [&](int index, const std::string& name) { tried.push_back(std::to_string(index) + " " + name); };
  const app::ScanResult scan = connector.Scan(-1, cancelled, hooks);
  EXPECT_EQ(scan.found, 1);
  EXPECT_EQ(scan.comPortIndex, 1);
  EXPECT_FALSE(scan.cancelled);
  EXPECT_EQ(unit.unitAddress, 42);
  EXPECT_EQ(bank->opened, (std::vector<int>{0, 1}));
  EXPECT_EQ(tried, (std::vector<std::string>{"0 ttyT0", "1 ttyT1"}));
  // The silent port heard the query (and its retries) and was closed; the
  // unit's port stays open and heard it once.
  ASSERT_FALSE(Sent(0).empty());
  for (const auto& w : Sent(0)) EXPECT_EQ(w, Frame("9999rgadd;;"));
  EXPECT_FALSE(bank->Line(0).open);
  EXPECT_EQ(Sent(1), std::vector<std::string>{Frame("9999rgadd;;")});
  EXPECT_TRUE(bank->Line(1).open);
  EXPECT_TRUE(Sent(2).empty());
  EXPECT_TRUE(rc->IsConnected());
}

TEST_F(ConnectorTest, StoredPortIsTriedFirstAndThenEveryPortFromTheFirst) {
  MakeLink(3);
  bank->UnitOn(2, 5);
  app::ScanResult scan = connector.Scan(2, cancelled);
  EXPECT_EQ(scan.found, 2);
  EXPECT_EQ(bank->opened, std::vector<int>{2});  // no other port opened

  MakeLink(3);
  bank->UnitOn(0, 6);
  scan = connector.Scan(2, cancelled);
  EXPECT_EQ(scan.found, 0);
  EXPECT_EQ(scan.comPortIndex, 0);
  EXPECT_EQ(bank->opened, (std::vector<int>{2, 0}));
  EXPECT_FALSE(bank->Line(2).open);

  // A stored port beyond the list is not tried; nothing answers anywhere.
  MakeLink(2);
  bank->RefuseOpen(0, "No such file or directory");
  scan = connector.Scan(7, cancelled);
  EXPECT_EQ(scan.found, -1);
  EXPECT_EQ(scan.comPortIndex, -1);
  EXPECT_FALSE(scan.cancelled);
  EXPECT_EQ(bank->opened, std::vector<int>{1});  // port 0 did not open: skipped
  EXPECT_FALSE(bank->Line(1).open);
  EXPECT_FALSE(rc->IsConnected());
}

TEST_F(ConnectorTest, CancelEndsTheScanOnceThePortBeingTriedIsDoneWith) {
  MakeLink(3);
  bank->UnitOn(1, 9);
  bank->onOpen = [this](int index) {
    if (index == 0) cancelled = true;  // the operator cancels while port 0 is tried
  };
  const app::ScanResult scan = connector.Scan(-1, cancelled);
  EXPECT_EQ(scan.found, -1);
  EXPECT_TRUE(scan.cancelled);
  EXPECT_EQ(bank->opened, std::vector<int>{0});
  EXPECT_FALSE(bank->Line(0).open);
  EXPECT_TRUE(Sent(1).empty());
  EXPECT_EQ(unit.unitAddress, 1);
}

TEST_F(ConnectorTest, AUnitThatAnswersAfterCancelIsNotTakenAndItsPortIsClosed) {
  MakeLink(2);
  bank->UnitOn(0, 33);
  bank->UnitOn(1, 34);
  bank->onOpen = [this](int) { cancelled = true; };
  app::ScanResult scan = connector.Scan(-1, cancelled);
  EXPECT_EQ(scan.found, -1);
  EXPECT_TRUE(scan.cancelled);
  EXPECT_EQ(bank->opened, std::vector<int>{0});
  EXPECT_EQ(Sent(0), std::vector<std::string>{Frame("9999rgadd;;")});
  EXPECT_FALSE(bank->Line(0).open);
  EXPECT_FALSE(rc->SerialOpen());

  // The caller's own decision counts instead when it gives one.
  MakeLink(2);
  bank->UnitOn(0, 33);
  bank->UnitOn(1, 34);
  cancelled = false;
  int asked = 0;
  app::ScanHooks hooks;
  hooks.take = [&] { return ++asked == 2; };
  scan = connector.Scan(-1, cancelled, hooks);
  EXPECT_EQ(scan.found, 1);
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(bank->Line(0).open);
  EXPECT_TRUE(bank->Line(1).open);
}

TEST_F(ConnectorTest, ScanWithoutPortsEndsAtOnce) {
  MakeLink(0);
  const app::ScanResult scan = connector.Scan(0, cancelled);
  EXPECT_EQ(scan.found, -1);
  EXPECT_EQ(scan.comPortIndex, -1);
  EXPECT_FALSE(scan.cancelled);
}

// ------------------------------------------------------ the serial connect

TEST_F(ConnectorTest, SerialConnectClosesTheOpenPortFirstAndASilentPortAfterwards) {
  MakeLink(2);
  bank->UnitOn(0, 12);
  SerialConnect c = connector.ConnectSerial(0, ConnectionKind::Rs232);
  ASSERT_EQ(c.result, SerialConnect::Result::Connected);
  EXPECT_EQ(unit.unitAddress, 12);

  // Port 1 is silent: port 0 is closed before it opens, port 1 after.
  bool portZeroOpenWhenClosed = true, portOneOpened = true;
  c = connector.ConnectSerial(1, ConnectionKind::Rs232, [&] {
    portZeroOpenWhenClosed = bank->Line(0).open;
    portOneOpened = bank->opened.size() > 1;
  });
  EXPECT_FALSE(portZeroOpenWhenClosed);
  EXPECT_FALSE(portOneOpened);
  EXPECT_EQ(c.result, SerialConnect::Result::NoAnswer);
  EXPECT_EQ(c.open.code, link::kLinkOk);
  EXPECT_NE(c.queryCode, link::kLinkOk);
  EXPECT_FALSE(bank->Line(1).open);
  EXPECT_FALSE(rc->SerialOpen());
  EXPECT_EQ(unit.unitAddress, 12);
  EXPECT_EQ(bank->opened, (std::vector<int>{0, 1}));
  // Both ports closed are in the log.
  const std::string log = ReadFile(dir.File("c.log"));
  std::size_t closes = 0;
  for (auto at = log.find("Port closed\r\n"); at != std::string::npos; at = log.find("Port closed\r\n", at + 1))
    ++closes;
  EXPECT_EQ(closes, 2u);
}

TEST_F(ConnectorTest, APortThatDoesNotOpenSaysWhyAndPermissionGetsTheGroupAdvice) {
  MakeLink(2);
  bank->RefuseOpen(0, "Permission denied");
  bank->RefuseOpen(1, "the port is in use by another program");
  SerialConnect c = connector.ConnectSerial(0, ConnectionKind::Rs232);
  EXPECT_EQ(c.result, SerialConnect::Result::OpenFailed);
  EXPECT_EQ(c.open.code, link::kErrOpenPort);
  EXPECT_EQ(c.open.reason, "Permission denied");
  EXPECT_EQ(c.open.hint, kGroupAdvice);
  c = connector.ConnectSerial(1, ConnectionKind::Rs232);
  EXPECT_EQ(c.result, SerialConnect::Result::OpenFailed);
  EXPECT_EQ(c.open.reason, "the port is in use by another program");
  EXPECT_EQ(c.open.hint, "");
  EXPECT_TRUE(bank->opened.empty());
  // The advice follows the reason wherever the system puts it.
  EXPECT_EQ(app::SerialOpenHint("cannot open /dev/ttyS0: Permission denied"), kGroupAdvice);
  EXPECT_EQ(app::SerialOpenHint(""), "");
}

TEST_F(ConnectorTest, ARefusedAddressReplyConnectsAndKeepsTheAddress) {
  MakeLink(2);
  unit.unitAddress = 7;
  bank->Line(0).Reply(ReplyFrame(1, 'E', ""));
  const SerialConnect c = connector.ConnectSerial(0, ConnectionKind::Rs232);
  // The unit answered: the port stays open, but a refused reply names no address.
  EXPECT_EQ(c.result, SerialConnect::Result::Connected);
  EXPECT_EQ(c.queryCode, link::kLinkOk);
  EXPECT_TRUE(bank->Line(0).open);
  EXPECT_EQ(unit.unitAddress, 7);
  EXPECT_EQ(view.shownAddress, -1);

  // The scan takes such a unit as well, at the address it had.
  MakeLink(2);
  bank->Line(1).Reply(ReplyFrame(1, 'E', "0042"));
  const app::ScanResult scan = connector.Scan(-1, cancelled);
  EXPECT_EQ(scan.found, 1);
  EXPECT_EQ(unit.unitAddress, 7);
}

// ---------------------------------------------------- the Ethernet connect

TEST(EthernetFailure, TheReasonSaysWhatHappened) {
  const std::pair<int, const char*> cases[] = {{ECONNREFUSED, "the connection was refused"},
                                               {ETIMEDOUT, "no answer within 10 s"},
                                               {0, "no unit answered"},
                                               {EHOSTUNREACH, "no route to host"}};
  for (const auto& [error, text] : cases) EXPECT_EQ(app::EthernetFailureReason(error), text) << error;
}

TEST_F(ConnectorTest, PreparingEthernetClosesWhatWasOpenAndSetsTheAddress) {
  MakeLink(1);
  bank->UnitOn(0, 3);
  ASSERT_EQ(connector.ConnectSerial(0, ConnectionKind::Rs232).result, SerialConnect::Result::Connected);
  int closedCalls = 0;
  connector.PrepareEthernet("10.1.2.3", ConnectionKind::Rs232, [&] {
    ++closedCalls;
    EXPECT_FALSE(bank->Line(0).open);
  });
  EXPECT_EQ(closedCalls, 1);
  EXPECT_FALSE(rc->SerialOpen());
  EXPECT_EQ(rc->EthernetAddress(), "10.1.2.3");
  EXPECT_EQ(rc->Kind(), link::TransportKind::Tcp);

  // An open socket of the attempt before is dropped for the next address.
  rc->SetTcpPort(9999);
  ASSERT_EQ(link::ConnectAndWait(*rc, 2000), link::kConnectOk);
  ASSERT_TRUE(rc->HasSocket());
  connector.PrepareEthernet("10.1.2.4", ConnectionKind::Ethernet);
  EXPECT_FALSE(rc->HasSocket());
  EXPECT_EQ(sockets->state->shutdowns, 1);
  EXPECT_EQ(rc->EthernetAddress(), "10.1.2.4");
  EXPECT_EQ(sockets->targets, std::vector<std::string>{"10.1.2.3:9999"});
}

// Against the simulator: a unit at its own address, over TCP and over a
// pseudo-terminal.
class ConnectorSimTest : public ::testing::Test {
 protected:
  void Serve(sim::SimOptions o) {
    o.tcpPort = 0;
    transcript.Attach(o);
    ASSERT_TRUE(StartSim(server, o));
  }
  void MakeLink(std::vector<link::SerialPortInfo> ports = {}) {
    link::LinkEnvironment env;
    env.clock = &clock;
    env.serial = SimSerialPorts(std::move(ports), transcript, clock);
    rc = std::make_unique<link::CRavlenRemoteControl>(link::CRavlenRemoteControl::LinkLostNotify{}, env);
    rc->SetInitialTimeouts(FastSerialTimeouts());
    rc->SetTcpReceiveTimeout(kFastTcpReceiveMs);
    rc->SetCloseAfterSendFailure(false);
    rc->SetCloseAfterReceiveFailure(false);
    unit.link = rc.get();
    unit.clock = &clock;
    unit.tables = &tables;
  }
  // Prepares and runs one connect attempt to the simulator.
  bool ConnectTcp() {
    connector.PrepareEthernet("127.0.0.1", ConnectionKind::Rs232);
    rc->SetTcpPort(server.TcpPort());
    return link::ConnectAndWait(*rc, 5000) == link::kConnectOk;
  }
  int Received(const std::string& request) const {
    int n = 0;
    for (const auto& line : transcript.Received())
      if (line.find(request) != std::string::npos) ++n;
    return n;
  }

  // Before the server, so it outlives the server's threads that write it.
  SimTranscript transcript;
  sim::SimServer server;
  FakeClock clock;
  std::unique_ptr<link::CRavlenRemoteControl> rc;
  params::ParamTables tables;
  params::UnitContext unit;
  RecordingView view;
  app::Session session{unit, view};
  Connector connector{session};
};

TEST_F(ConnectorSimTest, EthernetProbeConnectsAndLearnsTheUnitsAddress) {
  sim::SimOptions o;
  o.unit.address = 23;
  Serve(o);
  MakeLink();
  ASSERT_TRUE(ConnectTcp());
  EXPECT_EQ(connector.FinishEthernet(), app::EthernetResult::Connected);
  EXPECT_TRUE(rc->IsConnected());
  EXPECT_EQ(unit.unitAddress, 23);
  // The probe and the address query: the broadcast query twice.
  EXPECT_EQ(Received("9999rgadd;;"), 2);
}

TEST_F(ConnectorSimTest, EthernetUnitNotTakenIsClosedAndASilentOneIsNotConnected) {
  sim::SimOptions o;
  o.unit.address = 24;
  Serve(o);
  MakeLink();
  ASSERT_TRUE(ConnectTcp());
  EXPECT_EQ(connector.FinishEthernet([] { return false; }), app::EthernetResult::Cancelled);
  EXPECT_FALSE(rc->HasSocket());
  EXPECT_EQ(unit.unitAddress, 1);
  EXPECT_EQ(Received("9999rgadd;;"), 1);  // the probe only
}

TEST_F(ConnectorSimTest, SilentEthernetUnitLeavesNoConnection) {
  sim::SimOptions o;
  o.faults.silent = true;
  Serve(o);
  MakeLink();
  ASSERT_TRUE(ConnectTcp());
  bool asked = false;
  EXPECT_EQ(connector.FinishEthernet([&] { return asked = true; }), app::EthernetResult::NotConnected);
  EXPECT_FALSE(asked);
  EXPECT_FALSE(rc->IsConnected());
  EXPECT_EQ(unit.unitAddress, 1);
}

TEST_F(ConnectorSimTest, ScanFindsTheSimulatedUnitBehindAPortThatDoesNotOpen) {
  sim::SimOptions o;
  o.tcp = false;
  o.pty = true;
  o.unit.address = 17;
  Serve(o);
  MakeLink({{"/nonexistent/ttyNONE", "ttyNONE"}, {server.PtyPath(), "sim"}});
  std::atomic<bool> cancelled{false};
  const app::ScanResult scan = connector.Scan(-1, cancelled);
  EXPECT_EQ(scan.found, 1);
  EXPECT_EQ(unit.unitAddress, 17);
  EXPECT_TRUE(rc->SerialOpen());
  EXPECT_EQ(Received("9999rgadd;;"), 1);
}

}  // namespace
