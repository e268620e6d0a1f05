// The connection workflow of the main window as the operator meets it: the
// "Connecting" dialogs (Enter, Cancel, Escape, closing, where they sit), a
// TCP unit that goes away, the busy cursor and the status line, the
// connected-to line and the last IP address offered at start. Serial ports
// and sockets are the scripted fakes where the unit's timing matters, the
// simulator where a whole unit is needed; the poll thread is stepped.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>

#include "gui/engineering_window.h"
#include "link/frame.h"
#include "link/link_lock.h"
#include "params/unit_context.h"
#include "support/ser2net_process.h"
#include "support_app.h"

// Failures print texts as texts.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

using namespace vecta;
using gui::MainWindow;
using params::MessageIcon;
using test::AppRig;
using test::Bytes;
using test::ExpectConnected;
using test::FindRequest;
using test::PumpFor;
using test::PumpUntil;
using test::ReplyFrame;
using test::Requests;
using test::SimProcess;
using test::SimSetup;

namespace {

// Each Ethernet test has a loopback address of its own and of this run (the
// program always dials port 9999), so neither tests nor runs meet.
std::string Address(int n) { return test::LoopbackOfThisRun(n); }
std::string TcpOf(int n) { return Address(n) + ":9999"; }

// Not connected, and the connected-to line is empty too.
void ExpectNotConnected(MainWindow& w) {
  test::ExpectNotConnected(w);
  EXPECT_EQ(w.ConnectedToLabel()->text(), "");
}

void ClickConnect(MainWindow& w) { QTest::mouseClick(w.ConnectButton(), Qt::LeftButton); }

void ConnectEthernet(MainWindow& w, const std::string& ip) {
  w.EthernetButton()->click();
  w.AddressEdit()->SetText(QString::fromStdString(ip));
  ClickConnect(w);
}

Bytes Envelope(const Bytes& frame) { return link::PlainEnvelope(frame.data(), frame.size()); }

// The fake serial line's first request is held until the test lets it go
// (the operator acts meanwhile); then the unit stays silent or answers.
struct HeldFirstRequest {
  std::mutex m;
  std::condition_variable cv;
  bool asked = false, released = false, answer = false;
  int requests = 0;

  void Install(test::FakeSerialState& line, std::shared_ptr<HeldFirstRequest> self) {
    line.responder = [self](const Bytes&) -> std::optional<Bytes> {
      std::unique_lock lock(self->m);
      if (self->requests++ == 0) {
        self->asked = true;
        self->cv.notify_all();
        self->cv.wait_for(lock, std::chrono::seconds(10), [&] { return self->released; });
      }
      if (self->answer) return ReplyFrame(1, '1', "1");
      return std::nullopt;
    };
  }
  bool Asked() {
    std::lock_guard lock(m);
    return asked;
  }
  void Release() {
    std::lock_guard lock(m);
    released = true;
    cv.notify_all();
  }
};

int Distance(const QPoint& a, const QPoint& b) { return (a - b).manhattanLength(); }

// ------------------------------------------------- the start-up dialog

TEST(StartupConnectingDialog, CancelStopsTheScanAfterThePortBeingTried) {
  struct Case {
    const char* name;
    int stored;        // the stored COM port index
    bool unitAnswers;  // the unit on the port being tried answers after Cancel
    std::string opened;
    int comPortAfter;
    int selectedAfter;  // the port Connect then takes: the stored one, else the first
  };
  for (const Case& c : {Case{"silent first port", -1, false, "/dev/fake0", -1, 0},
                        Case{"answer after Cancel", -1, true, "/dev/fake0", -1, 0},
                        Case{"stored port", 2, false, "/dev/fake2", 2, 2}}) {
    SCOPED_TRACE(c.name);
    AppRig rig;
    rig.settings.comPortIndex = c.stored;
    auto ports = std::make_shared<test::FakeSerialProvider>(4);
    auto held = std::make_shared<HeldFirstRequest>();
    held->answer = c.unitAnswers;
    held->Install(*ports->state, held);
    MainWindow& w = rig.MakeWindow([&](gui::MainWindowOptions& o) { o.serialPorts = ports; });
    w.Start();
    ASSERT_TRUE(PumpUntil([&] { return held->Asked(); }));
    ASSERT_TRUE(w.Connecting());
    ASSERT_TRUE(w.Connecting()->isVisible());
    EXPECT_TRUE(w.Busy());
    EXPECT_EQ(w.StatusText(), QString("Looking for a unit on fake%1...").arg(c.stored < 0 ? 0 : c.stored));

    QTest::mouseClick(w.Connecting()->CancelButton(), Qt::LeftButton);
    EXPECT_TRUE(PumpUntil([&] { return !w.Connecting() || !w.Connecting()->isVisible(); }, 1000));
    held->Release();
    ASSERT_TRUE(rig.Settle());
    PumpFor(30);

    EXPECT_EQ(ports->opened, std::vector<std::string>{c.opened}) << "a later port was opened";
    ExpectNotConnected(w);
    EXPECT_FALSE(w.Link().SerialOpen());
    EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
    EXPECT_EQ(w.StatusText(), "Connection attempt cancelled");
    EXPECT_EQ(rig.settings.comPortIndex, c.comPortAfter);
    EXPECT_EQ(w.PortList()->currentIndex(), c.selectedAfter);
    EXPECT_FALSE(rig.settings.pollingEnabled);  // as after a start-up without a unit
    EXPECT_EQ(w.LampIcon(params::kLampVideoLock), params::kIconGrey);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }
}

TEST(StartupConnectingDialog, OpensAndStaysCentredOverTheMainWindow) {
  AppRig rig;
  auto ports = std::make_shared<test::FakeSerialProvider>(1);
  auto held = std::make_shared<HeldFirstRequest>();
  held->Install(*ports->state, held);
  MainWindow& w = rig.MakeWindow([&](gui::MainWindowOptions& o) { o.serialPorts = ports; });
  w.move(40, 30);
  PumpFor(20);
  w.Start();
  ASSERT_TRUE(PumpUntil([&] { return held->Asked(); }));
  gui::ConnectDialog* d = w.Connecting();
  ASSERT_TRUE(d && d->isVisible());
  PumpFor(20);
  EXPECT_LE(Distance(d->frameGeometry().center(), w.frameGeometry().center()), 2)
      << "dialog at " << d->frameGeometry().center().x() << "," << d->frameGeometry().center().y();

  // The window system places (or the operator drags) the main window after
  // the dialog has opened: the dialog follows.
  w.move(300, 220);
  PumpFor(30);
  EXPECT_LE(Distance(d->frameGeometry().center(), w.frameGeometry().center()), 2)
      << "dialog at " << d->frameGeometry().center().x() << "," << d->frameGeometry().center().y();

  held->Release();
  ASSERT_TRUE(rig.Settle());
}

// ------------------------------------------------ the Ethernet dialog

// An Ethernet attempt on fake sockets whose connect hangs until released;
// the unit behind them would answer the probe and the address query, so an
// attempt that is not cancelled connects.
struct FakeEthernet {
  AppRig rig;
  std::shared_ptr<test::FakeSocketFactory> sockets = std::make_shared<test::FakeSocketFactory>();
  MainWindow* w = nullptr;

  FakeEthernet() {
    sockets->blockConnect = true;
    sockets->honourCancel = false;  // the connect completes even after a cancel
    for (int i = 0; i < 2; ++i) sockets->state->receives.push_back({Envelope(ReplyFrame(1, '1', "1"))});
    w = &rig.StartWindow([&](gui::MainWindowOptions& o) { o.sockets = sockets; });
    rig.prompter.messages.clear();
  }
  std::size_t Sends() {
    std::lock_guard lock(sockets->state->m);
    return sockets->state->sends.size();
  }
};

TEST(EthernetConnectingDialog, EnterDoesNotEndItAndADialogEndedAnyWayCancelsTheAttempt) {
  enum class End { CancelButton, Escape, Close };
  for (End end : {End::CancelButton, End::Escape, End::Close}) {
    SCOPED_TRACE(static_cast<int>(end));
    FakeEthernet e;
    MainWindow& w = *e.w;

    int stage = 0, ticks = 0;
    bool shownAfterEnter = false, busyCursor = false;
    QString statusWhileShown;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      gui::ConnectDialog* d = w.Connecting();
      if (!d || !d->isVisible()) return;
      if (stage == 0) {
        // Enter on the dialog and on its focused Cancel button.
        QTest::keyClick(d, Qt::Key_Return);
        d->CancelButton()->setFocus();
        QTest::keyClick(d->CancelButton(), Qt::Key_Enter);
        QTest::keyClick(d->CancelButton(), Qt::Key_Return);
        stage = 1;
      } else if (stage == 1 && ++ticks == 10) {
        shownAfterEnter = true;
        statusWhileShown = w.StatusText();
        busyCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BusyCursor;
        stage = 2;
        if (end == End::CancelButton) QTest::mouseClick(d->CancelButton(), Qt::LeftButton);
        if (end == End::Escape) QTest::keyClick(d, Qt::Key_Escape);
        if (end == End::Close) d->close();
      }
    });
    timer.start(5);
    ConnectEthernet(w, "10.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return stage == 2 && !w.Connecting(); }, 5000)) << "stage " << stage;
    timer.stop();
    EXPECT_TRUE(shownAfterEnter) << "Enter ended the dialog";
    EXPECT_EQ(statusWhileShown, "Connecting to 10.0.0.1...");
    EXPECT_TRUE(busyCursor);

    // The connect completes now, after the dialog has gone: nothing of it
    // is used.
    e.sockets->Release();
    EXPECT_TRUE(PumpUntil([&] { return w.Link().RunningConnectThreads() == 0; }, 2000));
    ASSERT_TRUE(e.rig.Settle());
    PumpFor(50);
    EXPECT_TRUE(e.rig.prompter.messages.empty()) << ::testing::PrintToString(e.rig.prompter.Texts());
    ExpectNotConnected(w);
    EXPECT_FALSE(w.Link().HasSocket());
    EXPECT_EQ(e.Sends(), 0u) << "the unit was probed after the cancel";
    EXPECT_EQ(w.StatusText(), "Connection attempt cancelled");
    EXPECT_TRUE(w.isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }
}

TEST(EthernetConnectingDialog, AnAttemptLeftAloneConnectsOnTheSameFakes) {
  // The check above could not fail if these fakes never connected.
  FakeEthernet e;
  MainWindow& w = *e.w;
  QTimer timer;
  bool released = false;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (!released && w.Connecting() && w.Connecting()->isVisible()) {
      released = true;
      e.sockets->Release();
    }
  });
  timer.start(5);
  ConnectEthernet(w, "10.0.0.1");
  ASSERT_TRUE(PumpUntil([&] { return released && !w.Connecting(); }, 5000));
  ASSERT_TRUE(e.rig.Settle());
  timer.stop();
  ExpectConnected(w);
  EXPECT_GE(e.Sends(), 2u);
  EXPECT_EQ(w.ConnectedToLabel()->text(), "Connected to 10.0.0.1, unit address 1");  // no board type read
}

// ------------------------------------------------- a TCP unit that goes

TEST(EthernetLinkLost, ThreeFailedPollsLoseTheLinkAndConnectReconnectsTheSameAddress) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().NoPty().Tcp(TcpOf(1)).Board("K240").Address(3));
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow([](gui::MainWindowOptions& o) { o.tcpReceiveTimeoutMs = 100; });
  rig.prompter.messages.clear();
  ConnectEthernet(w, Address(1));
  ASSERT_TRUE(rig.Settle());
  ExpectConnected(w);
  ASSERT_TRUE(rig.AwaitPause(1));

  auto loseTheLink = [&] {
    rig.Freeze(*sim);
    for (int cycle = 1; cycle <= 2; ++cycle) {
      ASSERT_TRUE(rig.StepPoll());
      PumpFor(20);
      EXPECT_EQ(w.ConnectionLabel()->text(), "Connected") << "lost after " << cycle << " failed cycles";
    }
    ASSERT_TRUE(rig.StepPoll());
    EXPECT_TRUE(PumpUntil([&] { return w.ConnectionLabel()->text() == "Not connected"; }, 2000));
    ExpectNotConnected(w);
    EXPECT_EQ(w.LampIcon(params::kLampVideoLock), params::kIconGrey);
    EXPECT_EQ(w.LampIcon(params::kLampRfOutput), params::kIconGrey);
    EXPECT_EQ(w.StatusText(), "The unit stopped answering");
    rig.Thaw(*sim);
    test::AwaitQuiet(*sim, 150, 3000);
  };

  // Lost: Connect to the same address connects anew.
  loseTheLink();
  const std::size_t before = Requests(*sim).size();
  ConnectEthernet(w, Address(1));
  ASSERT_TRUE(rig.Settle());
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
  ExpectConnected(w);
  const int probe = test::AwaitRequest(*sim, "9999rgadd;;", before);
  ASSERT_GE(probe, 0) << "no new connection";
  EXPECT_GT(test::AwaitRequest(*sim, "0003rgbty;;", static_cast<std::size_t>(probe)), probe);
  EXPECT_EQ(w.ConnectedToLabel()->text(),
            QString::fromStdString("Connected to " + Address(1) + ", unit address 3, K240"));

  // Lost again: the first good poll restores the connection and re-reads.
  loseTheLink();
  const std::size_t beforePoll = Requests(*sim).size();
  ASSERT_TRUE(rig.StepPoll());
  EXPECT_TRUE(PumpUntil([&] { return w.ConnectionLabel()->text() == "Connected"; }, 3000));
  ASSERT_TRUE(rig.Settle());
  ExpectConnected(w);
  EXPECT_GE(test::AwaitRequest(*sim, "0003rglod;;", beforePoll), 0) << "not re-read";
  // Connected now: the same address is refused as before.
  ConnectEthernet(w, Address(1));
  ASSERT_TRUE(rig.Settle());
  ASSERT_EQ(rig.prompter.messages.size(), 1u);
  EXPECT_EQ(rig.prompter.messages[0].text, "Already connected on this IP address");
}

// --------------------------------------------- busy cursor, status line

TEST(BusyCursorAndStatusLine, ShowWhileEachOperationRunsAndGoWhenItEnds) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup());
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(w.Session().Connected());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(w.StatusText(), "");

  // Each operation is held at the poll lock while it is looked at.
  auto check = [&](const char* what, const std::function<void()>& start, const QString& status) {
    SCOPED_TRACE(what);
    {
      std::unique_lock<std::recursive_mutex> hold(link::PollLock());
      start();
      ASSERT_TRUE(w.Busy());
      EXPECT_TRUE(PumpUntil([&] { return w.StatusText() == status; }, 2000)) << w.StatusText().toStdString();
      ASSERT_NE(QApplication::overrideCursor(), nullptr);
      EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
      EXPECT_FALSE(w.ConnectButton()->isEnabled());
    }
    ASSERT_TRUE(rig.Settle());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(w.StatusText(), "");
    EXPECT_TRUE(w.ConnectButton()->isEnabled());
  };
  check(
      "connect",
      [&] {
        w.Rs232Button()->click();
        w.PortList()->setCurrentIndex(0);
        ClickConnect(w);
      },
      "Connecting to sim1...");
  check(
      "refresh", [&] { w.OnPageButton(gui::ids::kMainRefresh); }, "Reading the unit's settings...");
  check(
      "apply", [&] { w.OnPageButton(gui::ids::kMainApply); }, "Writing the settings...");
  rig.prompter.answers.push_back(params::Answer::Yes);
  check(
      "restore defaults", [&] { w.OnRestoreDefaults(); }, "Restoring the unit's defaults...");
  check(
      "config tab", [&] { w.ConfigTabs()->setCurrentIndex(2); }, "Loading config 3...");
  rig.prompter.files.push_back(rig.dir.File("saved.cfg"));
  check(
      "save config", [&] { w.OnPageButton(gui::ids::kSaveConfigFile); }, "Saving the configuration to a file...");
  EXPECT_TRUE(std::ifstream(rig.dir.File("saved.cfg")).good()) << "nothing was saved";
  EXPECT_TRUE(rig.prompter.messages.size() == 1u) << ::testing::PrintToString(rig.prompter.Texts());

  // An operation the engineering window starts makes the program busy too.
  w.Action(gui::commands::kEngineering)->trigger();
  ASSERT_TRUE(rig.Settle());
  auto* eng = qobject_cast<gui::EngineeringWindow*>(w.Engineering());
  ASSERT_NE(eng, nullptr);
  char address[8];
  std::snprintf(address, sizeof address, "%04d", w.Unit().unitAddress);
  eng->Host(gui::EngineeringWindow::Page::Diagnostic).SetText(gui::eng::kSendAddress, address);
  eng->Host(gui::EngineeringWindow::Page::Diagnostic).SetText(gui::eng::kCommand, "rgbty;;");
  check(
      "engineering", [&] { eng->SendDiagnostic(); }, "Working with the unit...");
  eng->close();
}

TEST(BusyCursorAndStatusLine, SerialConnectWithoutAnAnswerSaysSoInTheStatusLineOnly) {
  AppRig rig;
  auto ports = std::make_shared<test::FakeSerialProvider>(2);  // silent units
  MainWindow& w = rig.StartWindow([&](gui::MainWindowOptions& o) { o.serialPorts = ports; });
  rig.prompter.messages.clear();
  w.Rs232Button()->click();
  w.PortList()->setCurrentIndex(1);
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  EXPECT_EQ(w.StatusText(), "No unit answered on fake1");
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
  ExpectNotConnected(w);
  EXPECT_FALSE(w.Link().SerialOpen());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // A port that does not open keeps its message box; the status line says
  // which port it was.
  ports->failOpen = true;
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  ASSERT_EQ(rig.prompter.messages.size(), 1u);
  EXPECT_EQ(rig.prompter.messages[0].text, "Unable to connect");
  EXPECT_EQ(w.StatusText(), "Unable to connect to fake1");
}

// A unit that refuses the address query has answered: the window connects,
// but later requests keep the address it had instead of one read from the
// refusal.
TEST(SerialConnect, ARefusedAddressQueryConnectsAtTheAddressItHad) {
  AppRig rig;
  auto ports = std::make_shared<test::FakeSerialProvider>(1);
  struct Seen {
    std::mutex m;
    std::vector<std::string> requests;  // address, operation and mnemonic
  };
  auto seen = std::make_shared<Seen>();  // the poll thread may still ask at the end
  ports->state->responder = [seen](const Bytes& request) -> std::optional<Bytes> {
    const std::string text(request.begin(), request.end());
    std::lock_guard lock(seen->m);
    seen->requests.push_back(text.substr(1, 9));
    if (text.find("rgadd") != std::string::npos) return ReplyFrame(1, 'E', "");
    if (text.find("rgbty") != std::string::npos) return ReplyFrame(1, '1', "K999");
    return ReplyFrame(1, '1', text.find("rglod") != std::string::npos ? "1" : "0");
  };
  MainWindow& w = rig.StartWindow([&](gui::MainWindowOptions& o) { o.serialPorts = ports; });
  ASSERT_TRUE(rig.Settle());
  ExpectConnected(w);
  EXPECT_EQ(w.Unit().unitAddress, 1);
  EXPECT_EQ(w.ConnectedToLabel()->text(), "Connected to fake0, unit address 1, K999");
  std::lock_guard lock(seen->m);
  ASSERT_GE(seen->requests.size(), 2u);
  EXPECT_EQ(seen->requests[0], "9999rgadd");
  EXPECT_EQ(seen->requests[1], "0001rgbty");
}

// --------------------------------------------------- connected-to line

TEST(ConnectedToLine, NamesThePortOrAddressTheUnitAddressAndTheBoard) {
  AppRig rig;
  SimProcess* serial = rig.AddSim(SimSetup().Board("K610").Address(7));
  SimProcess* tcp = rig.AddSim(SimSetup().NoPty().Tcp(TcpOf(2)).Board("K800").Address(4));
  ASSERT_TRUE(serial && tcp);
  MainWindow& w = rig.StartWindow();
  EXPECT_EQ(w.ConnectedToLabel()->text(), "Connected to sim1, unit address 7, K610");
  EXPECT_TRUE(w.statusBar()->isAncestorOf(w.ConnectedToLabel()));

  ConnectEthernet(w, Address(2));
  ASSERT_TRUE(rig.Settle());
  ExpectConnected(w);
  EXPECT_EQ(w.ConnectedToLabel()->text(),
            QString::fromStdString("Connected to " + Address(2) + ", unit address 4, K800"));

  // A new unit address shows at once.
  w.OnUnitAddressChanged(9);
  ASSERT_TRUE(rig.Settle());
  EXPECT_EQ(w.ConnectedToLabel()->text(),
            QString::fromStdString("Connected to " + Address(2) + ", unit address 9, K800"));

  // Back to the serial unit; a failed connect leaves nothing named.
  w.Rs232Button()->click();
  w.PortList()->setCurrentIndex(0);
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  EXPECT_EQ(w.ConnectedToLabel()->text(), "Connected to sim1, unit address 7, K610");
  ConnectEthernet(w, Address(3));  // nothing listens there
  ASSERT_TRUE(rig.Settle());
  ExpectNotConnected(w);
}

// From a K240 with a satellite modulator to a K610: the open Advanced options
// window is built anew for the K610 and the satellite modulator window
// closes, saying why.
TEST(AnotherUnit, OpenSettingsWindowsFollowTheNewBoard) {
  AppRig rig;
  ASSERT_TRUE(rig.AddSim(SimSetup().Board("K240").Satmod()) && rig.AddSim(SimSetup().Board("K610")));
  MainWindow& w = rig.StartWindow();
  w.OnPageButton(gui::ids::kAdvanced);
  w.OnPageButton(gui::ids::kSatmod);
  ASSERT_TRUE(rig.Settle());
  ASSERT_TRUE(w.Satmod() && w.Advanced());
  EXPECT_FALSE(w.Advanced()->Host().IsVisible(gui::ids::kBatteryVoltage));

  w.PortList()->setCurrentIndex(1);
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  ASSERT_TRUE(w.Advanced());
  EXPECT_TRUE(w.Advanced()->Host().IsVisible(gui::ids::kBatteryVoltage));  // built for the K610
  EXPECT_FALSE(w.Satmod());
  EXPECT_EQ(w.StatusText(), "The satellite modulator window was closed: this unit has no satellite modulator");
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
}

// ------------------------------------------------- last IP address

TEST(LastIpAddress, OfferedAtStartAndKeptWhenAUnitAnswers) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().NoPty().Tcp(TcpOf(4)));
  ASSERT_TRUE(sim);
  const std::string file = rig.dir.File("vecta_tx_ctrl.last-ip");
  std::ofstream(file) << Address(9) << "\n";
  MainWindow& w = rig.StartWindow([&](gui::MainWindowOptions& o) { o.lastAddressFile = file; });
  EXPECT_EQ(w.AddressEdit()->Text().toStdString(), Address(9));
  EXPECT_TRUE(w.Rs232Button()->isChecked());  // the connection type is not kept

  // Nothing answers at the offered address: the file keeps it.
  rig.prompter.messages.clear();
  w.EthernetButton()->click();
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  ASSERT_EQ(rig.prompter.messages.size(), 1u);
  EXPECT_EQ(test::ReadFile(file), Address(9) + "\n");

  // A unit answers at another: that one is kept.
  ConnectEthernet(w, Address(4));
  ASSERT_TRUE(rig.Settle());
  ExpectConnected(w);
  EXPECT_EQ(test::ReadFile(file), Address(4) + "\n");
  rig.window.reset();

  // The next start offers it; a damaged file offers nothing.
  AppRig next;
  MainWindow& again = next.StartWindow([&](gui::MainWindowOptions& o) { o.lastAddressFile = file; });
  EXPECT_EQ(again.AddressEdit()->Text().toStdString(), Address(4));
  next.window.reset();
  std::ofstream(file) << "999.1.2.3\n";
  AppRig damaged;
  MainWindow& blank = damaged.StartWindow([&](gui::MainWindowOptions& o) { o.lastAddressFile = file; });
  EXPECT_FALSE(blank.AddressEdit()->IsComplete());
  EXPECT_EQ(blank.AddressEdit()->Text(), "...");
}

// ------------------------------------------- last network serial port

TEST(LastNetworkPort, KeptWhenAUnitAnswersOnIt) {
  if (test::Ser2netProcess::Binary().empty()) GTEST_SKIP() << "ser2net is not installed";
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().NotAPort());
  ASSERT_TRUE(sim);
  test::Ser2netProcess ser2net;
  std::string error;
  ASSERT_TRUE(ser2net.Start({sim->PtyPath()}, rig.dir.path(), &error)) << error;
  rig.AddPort(ser2net.PortName(0), ser2net.PortName(0));
  const std::string file = rig.dir.File("vecta_tx_ctrl.last-network-port");

  // The start-up scan finds the unit behind the network port...
  MainWindow& w = rig.StartWindow([&](gui::MainWindowOptions& o) { o.lastNetworkPortFile = file; });
  ExpectConnected(w);
  EXPECT_EQ(w.PortList()->currentText().toStdString(), ser2net.PortName(0));
  EXPECT_EQ(test::ReadFile(file), ser2net.PortName(0) + "\n");

  // ... and so does the Connect button.
  std::remove(file.c_str());
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  ExpectConnected(w);
  EXPECT_EQ(test::ReadFile(file), ser2net.PortName(0) + "\n");
}

}  // namespace
