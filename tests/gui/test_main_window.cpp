// The main window against simulated units on pseudo-terminals and TCP
// loopback: the start-up scan, connecting over RS-232 and Ethernet (with the
// "Connecting" dialog and its Cancel), status polling with its lamps, link
// loss and recovery, the busy state, config tab changes and closing while the
// unit is silent.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "gui/icons.h"
#include "link/link_lock.h"
#include "params/unit_context.h"
#include "support_app.h"

using namespace vecta;
using gui::MainWindow;
using params::MessageIcon;
using test::AppRig;
using test::AwaitQuiet;
using test::ExpectConnected;
using test::ExpectNotConnected;
using test::FindRequest;
using test::PumpFor;
using test::PumpUntil;
using test::Requests;
using test::SimProcess;
using test::SimSetup;

namespace {

// Each Ethernet test has a loopback address of its own and of this run (the
// program always dials port 9999), so neither tests nor runs meet.
std::string Address(int n) { return test::LoopbackOfThisRun(n); }
std::string TcpOf(int n) { return Address(n) + ":9999"; }

void ExpectMessages(const test::RecordingPrompter& p,
                    const std::vector<std::tuple<std::string, std::string, MessageIcon>>& expected) {
  ASSERT_EQ(p.messages.size(), expected.size()) << ::testing::PrintToString(p.Texts());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(p.messages[i].title, std::get<0>(expected[i])) << i;
    EXPECT_EQ(p.messages[i].text, std::get<1>(expected[i])) << i;
    EXPECT_EQ(p.messages[i].icon, std::get<2>(expected[i])) << i;
  }
}

void SelectPort(MainWindow& w, int index) {
  w.Rs232Button()->click();
  w.PortList()->setCurrentIndex(index);
}

void ClickConnect(MainWindow& w) { QTest::mouseClick(w.ConnectButton(), Qt::LeftButton); }

// ------------------------------------------------------------- start-up

TEST(MainWindowStartupScan, FindsUnitOnPtyLearnsAddressAndShowsItsConfig) {
  AppRig rig;
  const std::string state = rig.dir.File("unit.state");
  std::ofstream(state) << "vecta-sim state 1\ncurrent 3\n";
  SimProcess* sim = rig.AddSim(SimSetup().Board("K610").Address(7).Args({"--state", state}));
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();

  ExpectConnected(w);
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
  EXPECT_EQ(w.Unit().unitAddress, 7);
  EXPECT_EQ(w.Poll()->UnitAddress(), 7);
  EXPECT_EQ(w.ConfigTabs()->count(), 16);
  EXPECT_EQ(w.ConfigTabs()->tabText(15), "Config 16");
  EXPECT_EQ(w.ConfigTabs()->currentIndex(), 2);
  EXPECT_EQ(w.Session().CurrentConfig(), 3);
  EXPECT_EQ(w.PortList()->currentIndex(), 0);
  EXPECT_EQ(rig.settings.comPortIndex, 0);
  EXPECT_EQ(w.PollingLabel()->text(), "Polling enabled");
  EXPECT_TRUE(w.Rs232Button()->isChecked());
  EXPECT_TRUE(PumpUntil([&] { return w.Connecting() == nullptr; }, 1000)) << "the Connecting dialog stayed";

  // The broadcast query first; every later request (refresh, then polling)
  // names the unit's own address.
  ASSERT_GE(AwaitRequest(*sim, "0007rvloc;;"), 0);
  const std::vector<std::string> requests = Requests(*sim);
  EXPECT_EQ(requests.front(), "9999rgadd;;");
  EXPECT_EQ(requests.at(1), "0007rgbty;;");
  EXPECT_EQ(requests.at(2), "0007rglod;;");
  EXPECT_GT(requests.size(), 20u) << "the pages were not refreshed";
  for (std::size_t i = 1; i < requests.size(); ++i) EXPECT_EQ(requests[i].substr(0, 4), "0007") << requests[i];
}

TEST(MainWindowStartupScan, StoredPortIsTriedFirstAndOtherBoardsGetEightTabs) {
  AppRig rig;
  SimProcess* first = rig.AddSim(SimSetup().Board("K610"));
  SimProcess* second = rig.AddSim(SimSetup().Board("K800"));
  ASSERT_TRUE(first && second);
  rig.settings.comPortIndex = 1;
  MainWindow& w = rig.StartWindow();

  ExpectConnected(w);
  EXPECT_EQ(rig.ports->Opened(), std::vector<int>{1}) << "a port other than the stored one was opened";
  EXPECT_EQ(w.PortList()->currentIndex(), 1);
  EXPECT_EQ(rig.settings.comPortIndex, 1);
  EXPECT_EQ(w.ConfigTabs()->count(), 8);
  ASSERT_GE(AwaitRequest(*second, "0001rglod;;"), 0);
  EXPECT_EQ(Requests(*second).front(), "9999rgadd;;");
  PumpFor(50);
  EXPECT_TRUE(Requests(*first).empty()) << ::testing::PrintToString(Requests(*first));
}

TEST(MainWindowStartupScan, SkipsPortsThatDoNotOpenOrDoNotAnswer) {
  AppRig rig;
  rig.UseFastSerialTimeouts();
  rig.AddPort(rig.dir.File("no-such-tty"), "gone");
  SimProcess* silent = rig.AddSim(SimSetup().Args({"--silent"}));
  SimProcess* unit = rig.AddSim(SimSetup().Board("K240"));
  ASSERT_TRUE(silent && unit);
  rig.settings.comPortIndex = 7;  // no such port: the scan starts from the first
  MainWindow& w = rig.StartWindow();

  ExpectConnected(w);
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
  EXPECT_EQ(rig.ports->Opened(), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(rig.settings.comPortIndex, 2);
  EXPECT_EQ(w.PortList()->currentIndex(), 2);
  EXPECT_EQ(w.ConfigTabs()->count(), 16);
  const std::vector<std::string> heard = Requests(*silent);
  ASSERT_EQ(heard.size(), 1u) << ::testing::PrintToString(heard);
  EXPECT_EQ(heard[0].rfind("9999rgadd;;", 0), 0u) << heard[0];
}

TEST(MainWindowStartupScan, PortsThatDidNotOpenAreNamedWithTheirReason) {
  AppRig rig;
  auto ports = std::make_shared<test::FakeSerialProvider>(2);
  ports->failOpen = true;
  ports->openError = "the port is in use by another program";
  rig.settings.comPortIndex = 1;  // tried first, then both in order
  MainWindow& w = rig.StartWindow([&](gui::MainWindowOptions& o) { o.serialPorts = ports; });

  ExpectMessages(rig.prompter, {{"Alert", "Unable to connect", MessageIcon::Information}});
  EXPECT_EQ(rig.prompter.reasons, std::vector<std::string>{"fake1: the port is in use by another program\n"
                                                           "fake0: the port is in use by another program"});
  EXPECT_EQ(w.PortList()->currentIndex(), 1);
  ExpectNotConnected(w);
}

TEST(MainWindowStartupScan, NoUnitShowsUnableToConnectAndDisablesPolling) {
  AppRig rig;
  MainWindow& w = rig.StartWindow();

  ExpectMessages(rig.prompter, {{"Alert", "Unable to connect", MessageIcon::Information}});
  ExpectNotConnected(w);
  EXPECT_FALSE(rig.settings.pollingEnabled);
  EXPECT_EQ(w.PollingLabel()->text(), "Polling disabled");
  EXPECT_EQ(w.LampIcon(params::kLampVideoLock), params::kIconGrey);
  EXPECT_EQ(w.LampIcon(params::kLampRfOutput), params::kIconGrey);
  EXPECT_EQ(rig.settings.comPortIndex, -1);
  EXPECT_EQ(w.PortList()->count(), 0);
  EXPECT_TRUE(PumpUntil([&] { return w.Connecting() == nullptr; }, 1000));
  EXPECT_TRUE(rig.AwaitPause(1)) << "the poll thread was not started";

  // Without a unit a tab change only moves the selection.
  QTest::mouseClick(w.ConfigTabs(), Qt::LeftButton, {}, w.ConfigTabs()->tabRect(2).center());
  EXPECT_TRUE(rig.Settle());
  EXPECT_EQ(w.ConfigTabs()->currentIndex(), 2);
  EXPECT_EQ(rig.prompter.messages.size(), 1u);
  EXPECT_TRUE(rig.clock.Pauses().empty());
}

// --------------------------------------------------------------- RS-232

TEST(MainWindowRs232Connect, NoPortSelected) {
  AppRig rig;
  MainWindow& w = rig.StartWindow();
  rig.prompter.messages.clear();
  ASSERT_TRUE(w.Rs232Button()->isChecked());
  ASSERT_EQ(w.PortList()->currentIndex(), -1);

  ClickConnect(w);
  EXPECT_FALSE(w.Busy());
  EXPECT_TRUE(rig.Settle());
  ExpectMessages(rig.prompter, {{"Error", "No serial port selected", MessageIcon::Exclamation}});
  ExpectNotConnected(w);
  EXPECT_TRUE(rig.ports->Opened().empty());
}

TEST(MainWindowRs232Connect, PortThatCannotBeOpenedGivesTheSystemReason) {
  AppRig rig;
  rig.AddPort(rig.dir.File("no-such-tty"), "gone");
  const std::string plain = rig.dir.File("plain-file");
  std::ofstream(plain) << "not a terminal";
  rig.AddPort(plain, "file");
  MainWindow& w = rig.StartWindow();
  ExpectMessages(rig.prompter, {{"Alert", "Unable to connect", MessageIcon::Information}});
  EXPECT_EQ(rig.prompter.reasons,
            std::vector<std::string>{"gone: No such file or directory\nfile: not a serial port"});
  rig.prompter.messages.clear();
  rig.prompter.reasons.clear();

  SelectPort(w, 0);
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  SelectPort(w, 1);
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());

  ExpectMessages(rig.prompter, {{"Error", "Unable to connect", MessageIcon::Exclamation},
                                {"Error", "Unable to connect", MessageIcon::Exclamation}});
  ASSERT_EQ(rig.prompter.reasons.size(), 2u);
  EXPECT_NE(rig.prompter.reasons[0].find("No such file or directory"), std::string::npos)
      << rig.prompter.reasons[0];
  EXPECT_EQ(rig.prompter.reasons[1], "not a serial port");
  ExpectNotConnected(w);
  EXPECT_EQ(rig.settings.comPortIndex, -1);
}

TEST(MainWindowRs232Connect, SilentUnitClosesThePortWithoutMessage) {
  AppRig rig;
  rig.UseFastSerialTimeouts();
  SimProcess* silent = rig.AddSim(SimSetup().Args({"--silent"}));
  ASSERT_TRUE(silent);
  MainWindow& w = rig.StartWindow();
  rig.prompter.messages.clear();

  SelectPort(w, 0);
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
  EXPECT_FALSE(w.Link().SerialOpen());
  ExpectNotConnected(w);
  EXPECT_EQ(Requests(*silent).size(), 2u);  // start-up scan and Connect, one query each
}

TEST(MainWindowRs232Connect, ConnectAgainReopensAndRereads) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().Address(12));
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(w.Session().Connected());
  const std::size_t before = Requests(*sim).size();

  SelectPort(w, 0);
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  ExpectConnected(w);
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
  const int query = AwaitRequest(*sim, "9999rgadd;;", before);
  ASSERT_GE(query, 0);
  EXPECT_GT(AwaitRequest(*sim, "0012rgbty;;", query), query);
  EXPECT_EQ(rig.ports->Opened(), (std::vector<int>{0, 0}));
}

// ------------------------------------------------------------- Ethernet

// Watches the "Connecting" dialog: how it looks as it appears (before its
// event loop has handled anything), then on every tick while it shows.
struct DialogWatch : QObject {
  QTimer timer;
  bool seen = false;
  QString title, firstText;
  bool cancelEnabledFirst = false, modal = false, mainEnabledWhileShown = true;
  std::function<void(gui::ConnectDialog&)> onTick;
  MainWindow& w;

  explicit DialogWatch(MainWindow& window) : w(window) {
    qApp->installEventFilter(this);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      gui::ConnectDialog* d = w.Connecting();
      if (d && d->isVisible() && onTick) onTick(*d);
    });
    timer.start(5);
  }
  ~DialogWatch() override { qApp->removeEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && !seen)
      if (auto* d = qobject_cast<gui::ConnectDialog*>(watched)) {
        seen = true;
        title = d->windowTitle();
        firstText = d->Text();
        cancelEnabledFirst = d->CancelButton()->isEnabled();
        modal = d->isModal();
        mainEnabledWhileShown = w.isEnabled();
      }
    return false;
  }
};

TEST(MainWindowEthernetConnect, ConnectsBehindTheConnectingDialog) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().NoPty().Tcp(TcpOf(1)));
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  rig.prompter.messages.clear();

  // The refresh after the connect is held at the poll lock until the
  // dialog has been seen reading, so its second state can be looked at.
  std::unique_lock<std::recursive_mutex> hold(link::PollLock(), std::defer_lock);
  bool clicked = false, grabbed = false;
  // Taken when the first step (dropping the old connection) has ended.
  auto grab = QObject::connect(&w.Runner(), &gui::OperationRunner::runningChanged, [&](bool running) {
    if (clicked && !running && !grabbed) {
      grabbed = true;
      hold.lock();
    }
  });
  DialogWatch watch(w);
  QString readingText;
  bool cancelEnabledWhileReading = true;
  watch.onTick = [&](gui::ConnectDialog& d) {
    if (hold.owns_lock() && d.Text() == "Reading values...") {
      cancelEnabledWhileReading = d.CancelButton()->isEnabled();
      readingText = d.Text();
      hold.unlock();
    }
  };

  w.EthernetButton()->click();
  w.AddressEdit()->SetText(QString::fromStdString(Address(1)));
  clicked = true;
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  QObject::disconnect(grab);
  if (hold.owns_lock()) hold.unlock();

  EXPECT_TRUE(watch.seen);
  EXPECT_EQ(watch.title, "Connecting");
  EXPECT_EQ(watch.firstText, "Attempting to connect...");
  EXPECT_TRUE(watch.cancelEnabledFirst);
  EXPECT_TRUE(watch.modal);
  EXPECT_FALSE(watch.mainEnabledWhileShown) << "the main window stays usable behind the dialog";
  EXPECT_EQ(readingText, "Reading values...");
  EXPECT_FALSE(cancelEnabledWhileReading);
  EXPECT_TRUE(w.isEnabled());
  EXPECT_EQ(w.Connecting(), nullptr);

  ExpectConnected(w);
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
  EXPECT_EQ(w.Link().Kind(), link::TransportKind::Tcp);
  EXPECT_EQ(w.ConfigTabs()->count(), 16);
  const std::vector<std::string> requests = Requests(*sim);
  ASSERT_GE(requests.size(), 4u);
  EXPECT_EQ(requests[0], "9999rgadd;;");  // the probe
  EXPECT_EQ(requests[1], "9999rgadd;;");  // the unit address
  EXPECT_EQ(requests[2], "0001rgbty;;");
  EXPECT_EQ(requests[3], "0001rglod;;");

  // The same address again, then an incomplete one.
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  w.AddressEdit()->SetText("127.77..1");
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  ExpectMessages(rig.prompter, {{"Alert", "Already connected on this IP address", MessageIcon::Information},
                                {"Error", "Invalid IP address entered", MessageIcon::Exclamation}});
  ExpectConnected(w);
  EXPECT_EQ(FindRequest(Requests(*sim), "9999rgadd;;", 2), -1) << "connected again";
}

TEST(MainWindowEthernetConnect, NothingListeningEndsWithUnableToConnect) {
  AppRig rig;
  MainWindow& w = rig.StartWindow();
  rig.prompter.messages.clear();
  DialogWatch watch(w);

  w.EthernetButton()->click();
  w.AddressEdit()->SetText(QString::fromStdString(Address(2)));
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());

  EXPECT_TRUE(watch.seen);
  ExpectMessages(rig.prompter, {{"Alert", "Unable to connect", MessageIcon::Information}});
  EXPECT_EQ(w.StatusText().toStdString(), "Unable to connect to " + Address(2) + ": the connection was refused");
  ExpectNotConnected(w);
  EXPECT_FALSE(w.Link().HasSocket());
}

TEST(MainWindowEthernetConnect, SerialInBetweenMakesTheSameAddressConnectAnew) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().Tcp(TcpOf(3)));
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  ASSERT_EQ(w.Link().Kind(), link::TransportKind::Serial);
  ASSERT_TRUE(w.Session().Connected());

  auto ethernet = [&] {
    w.EthernetButton()->click();
    w.AddressEdit()->SetText(QString::fromStdString(Address(3)));
    ClickConnect(w);
    ASSERT_TRUE(rig.Settle());
    ExpectConnected(w);
    EXPECT_EQ(w.Link().Kind(), link::TransportKind::Tcp);
    EXPECT_TRUE(w.Link().IsConnected());
    EXPECT_FALSE(w.Link().SerialOpen());
  };
  ethernet();
  SelectPort(w, 0);
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  ExpectConnected(w);
  EXPECT_EQ(w.Link().Kind(), link::TransportKind::Serial);
  EXPECT_TRUE(w.Link().SerialOpen());
  EXPECT_FALSE(w.Link().HasSocket());
  ethernet();
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
}

// A listener whose accept queue is full: a connect to it is neither refused
// nor accepted, it hangs.
class StuckListener {
 public:
  explicit StuckListener(const std::string& ip) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(9999);
    ::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr);
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ok_ = ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(listener_, 0) == 0;
    for (int i = 0; ok_ && i < 3; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      fillers_.push_back(fd);
    }
  }
  ~StuckListener() {
    for (int fd : fillers_) ::close(fd);
    if (listener_ >= 0) ::close(listener_);
  }
  bool ok() const { return ok_; }

 private:
  int listener_ = -1;
  bool ok_ = false;
  std::vector<int> fillers_;
};

TEST(MainWindowEthernetConnect, CancelDuringAHangingConnectLeavesNothing) {
  AppRig rig;
  StuckListener stuck(Address(4));
  ASSERT_TRUE(stuck.ok());
  MainWindow& w = rig.StartWindow();
  rig.prompter.messages.clear();

  DialogWatch watch(w);
  QElapsedTimer shown;
  bool stillConnecting = false;
  std::size_t threadsAtCancel = 0;
  watch.onTick = [&](gui::ConnectDialog& d) {
    if (!shown.isValid()) shown.start();
    if (shown.elapsed() < 150) return;
    stillConnecting = d.Text() == "Attempting to connect..." && !w.Link().HasSocket();
    threadsAtCancel = w.Link().RunningConnectThreads();
    QTest::mouseClick(d.CancelButton(), Qt::LeftButton);
  };
  w.EthernetButton()->click();
  w.AddressEdit()->SetText(QString::fromStdString(Address(4)));
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  watch.timer.stop();

  ASSERT_TRUE(watch.seen);
  EXPECT_TRUE(stillConnecting) << "the connect did not hang: nothing was left to cancel";
  EXPECT_EQ(threadsAtCancel, 1u);
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
  EXPECT_EQ(w.Connecting(), nullptr);
  EXPECT_TRUE(w.isEnabled());
  ExpectNotConnected(w);
  EXPECT_FALSE(w.Link().IsConnected());
  EXPECT_FALSE(w.Link().HasSocket());
  EXPECT_TRUE(PumpUntil([&] { return w.Link().RunningConnectThreads() == 0; }, 2000))
      << "the cancelled connect thread did not end";
  EXPECT_FALSE(w.Link().HasSocket());
}

TEST(MainWindowEthernetConnect, CancelWhileTheUnitIsProbedLeavesNoConnection) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().NoPty().Tcp(TcpOf(5)).Args({"--delay-ms", "300"}));
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  rig.prompter.messages.clear();

  DialogWatch watch(w);
  bool cancelled = false;
  watch.onTick = [&](gui::ConnectDialog& d) {
    // The socket is there and the probe is on its way to the unit.
    if (cancelled || !w.Busy() || !d.CancelButton()->isEnabled()) return;
    if (FindRequest(Requests(*sim), "9999rgadd;;") < 0) return;
    cancelled = true;
    QTest::mouseClick(d.CancelButton(), Qt::LeftButton);
  };
  w.EthernetButton()->click();
  w.AddressEdit()->SetText(QString::fromStdString(Address(5)));
  ClickConnect(w);
  ASSERT_TRUE(rig.Settle());
  PumpFor(400);  // the probe's late reply
  ASSERT_TRUE(rig.Settle());
  watch.timer.stop();

  ASSERT_TRUE(cancelled);
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
  ExpectNotConnected(w);
  EXPECT_FALSE(w.Link().IsConnected());
  EXPECT_FALSE(w.Link().HasSocket());
  EXPECT_EQ(FindRequest(Requests(*sim), "0001rgbty;;"), -1) << "read the unit after the cancel";
}

// -------------------------------------------------------------- polling

TEST(MainWindowPolling, LampsFollowVideoLockAndRfOutput) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup());
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.AwaitPause(1));
  PumpFor(20);
  EXPECT_EQ(w.LampIcon(params::kLampVideoLock), params::kIconGreen);
  EXPECT_EQ(w.LampIcon(params::kLampRfOutput), params::kIconGreen);

  // The unit loses its video input and its RF output goes off.
  ASSERT_EQ(rig.Exchange("0001wvinp;0;"), 0u);
  ASSERT_EQ(rig.Exchange("0001woout;0;"), 0u);
  const std::size_t before = Requests(*sim).size();
  ASSERT_TRUE(rig.StepPoll());
  EXPECT_TRUE(PumpUntil(
      [&] {
        return w.LampIcon(params::kLampVideoLock) == params::kIconRed &&
               w.LampIcon(params::kLampRfOutput) == params::kIconRed;
      },
      2000));
  ASSERT_GE(AwaitRequest(*sim, "0001roout;;", before), 0);
  const std::vector<std::string> all = Requests(*sim);
  const std::vector<std::string> cycle(all.begin() + static_cast<long>(before), all.end());
  EXPECT_EQ(cycle, (std::vector<std::string>{"0001rvloc;;", "0001rcsta;;", "0001roout;;"}));

  ASSERT_EQ(rig.Exchange("0001wvinp;2;"), 0u);
  ASSERT_EQ(rig.Exchange("0001woout;1;"), 0u);
  ASSERT_TRUE(rig.StepPoll());
  EXPECT_TRUE(PumpUntil(
      [&] {
        return w.LampIcon(params::kLampVideoLock) == params::kIconGreen &&
               w.LampIcon(params::kLampRfOutput) == params::kIconGreen;
      },
      2000));
  EXPECT_EQ(rig.waiter->Lengths().front(), 2000);
}

TEST(MainWindowPolling, LampIconsAreDrawnOnceAndShared) {
  for (int id : {params::kIconGreen, params::kIconRed, params::kIconGrey})
    EXPECT_EQ(gui::ResourceIcon(id).cacheKey(), gui::ResourceIcon(id).cacheKey()) << id;
}

TEST(MainWindowPolling, RfOutputButtonTogglesAndRereads) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup());
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.AwaitPause(1));
  ASSERT_EQ(w.LampIcon(params::kLampRfOutput), params::kIconGreen);  // oout 1

  std::size_t before = Requests(*sim).size();
  QTest::mouseClick(w.RfOutputButton(), Qt::LeftButton);
  ASSERT_TRUE(rig.Settle());
  const int write = AwaitRequest(*sim, "0001woout;0;", before);
  ASSERT_GE(write, 0);
  EXPECT_EQ(write, static_cast<int>(before));
  EXPECT_GT(AwaitRequest(*sim, "0001rgbty;;", write), write) << "no full refresh after the toggle";
  ASSERT_TRUE(rig.StepPoll());
  EXPECT_TRUE(PumpUntil([&] { return w.LampIcon(params::kLampRfOutput) == params::kIconRed; }, 2000));

  before = Requests(*sim).size();
  QTest::mouseClick(w.RfOutputButton(), Qt::LeftButton);
  ASSERT_TRUE(rig.Settle());
  EXPECT_EQ(AwaitRequest(*sim, "0001woout;1;", before), static_cast<int>(before));
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
}

TEST(MainWindowPolling, LinkLostThenUnitBackIsReread) {
  AppRig rig;
  rig.UseFastSerialTimeouts();
  SimProcess* sim = rig.AddSim(SimSetup());
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.AwaitPause(1));
  ExpectConnected(w);

  rig.Freeze(*sim);
  ASSERT_TRUE(rig.StepPoll());
  EXPECT_TRUE(PumpUntil([&] { return w.ConnectionLabel()->text() == "Not connected"; }, 2000));
  ExpectNotConnected(w);
  EXPECT_EQ(w.LampIcon(params::kLampVideoLock), params::kIconGrey);
  EXPECT_EQ(w.LampIcon(params::kLampRfOutput), params::kIconGrey);
  // The cycle's other requests met silence too; nothing tried to restore.
  PumpFor(20);
  ExpectNotConnected(w);
  EXPECT_FALSE(w.Busy());

  // The unit comes back: what it missed is answered into the void, then
  // the next poll reaches it.
  rig.Thaw(*sim);
  AwaitQuiet(*sim);
  const std::size_t before = Requests(*sim).size();
  ASSERT_TRUE(rig.StepPoll());
  EXPECT_TRUE(PumpUntil([&] { return w.ConnectionLabel()->text() == "Connected"; }, 3000));
  ASSERT_TRUE(rig.Settle());
  ExpectConnected(w);
  const int query = AwaitRequest(*sim, "9999rgadd;;", before);
  ASSERT_GE(query, 0);
  const int board = AwaitRequest(*sim, "0001rgbty;;", query);
  EXPECT_GT(board, query);
  EXPECT_EQ(AwaitRequest(*sim, "0001rglod;;", board), board + 1);
  EXPECT_GT(Requests(*sim).size(), static_cast<std::size_t>(board) + 20) << "the pages were not re-read";
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
}

// ----------------------------------------------------------- busy state

TEST(MainWindowBusyState, ActionsDisabledAndInputHeldWhileAnOperationRuns) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup());
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.AwaitPause(1));
  w.OnPageButton(gui::ids::kAdvanced);
  ASSERT_TRUE(w.Advanced());

  // A click on a list of the page opens its drop-down.
  QComboBox* list = nullptr;
  for (QComboBox* c : w.Page()->findChildren<QComboBox*>())
    if (c->isVisible() && c->isEnabled() && c->count() > 1) {
      list = c;
      break;
    }
  ASSERT_TRUE(list) << "no list on the main settings page";
  auto listOpen = [&] { return list->view() && list->view()->isVisible(); };
  ASSERT_FALSE(listOpen());

  const std::vector<int> pageButtons = {gui::ids::kAdvanced, gui::ids::kSaveConfigFile, gui::ids::kLoadConfigFile,
                                        gui::ids::kMainApply, gui::ids::kMainRefresh};
  auto expectEnabled = [&](bool enabled) {
    EXPECT_EQ(w.ConnectButton()->isEnabled(), enabled);
    EXPECT_EQ(w.SaveSetButton()->isEnabled(), enabled);
    EXPECT_EQ(w.LoadSetButton()->isEnabled(), enabled);
    for (int id : pageButtons) EXPECT_EQ(w.Page()->Host().IsEnabled(id), enabled) << id;
    for (int id : {gui::ids::kWindowRefresh, gui::ids::kWindowApply})
      EXPECT_EQ(w.Advanced()->Host().IsEnabled(id), enabled) << id;
  };
  expectEnabled(true);

  // The page's Refresh, held inside its run while polling's lock is taken
  // here (as it would wait for a poll request in flight).
  std::unique_lock<std::recursive_mutex> hold(link::PollLock());
  const std::size_t before = Requests(*sim).size();
  auto* refresh = qobject_cast<QAbstractButton*>(w.Page()->Host().Find(gui::ids::kMainRefresh));
  ASSERT_TRUE(refresh);
  QTest::mouseClick(refresh, Qt::LeftButton);
  ASSERT_TRUE(w.Busy());
  ASSERT_TRUE(PumpUntil([&] { return !w.ConnectButton()->isEnabled(); }, 2000));
  expectEnabled(false);
  EXPECT_TRUE(w.Runner().HoldingInput());

  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(5);
  QTest::mouseClick(list, Qt::LeftButton);
  QTest::mouseClick(w.RfOutputButton(), Qt::LeftButton);
  // The window goes on handling events: its timer keeps ticking (a loaded
  // machine may take longer than the 20 ms four ticks need).
  EXPECT_TRUE(PumpUntil([&] { return ticks > 3; }, 3000)) << "the window stopped handling events";
  EXPECT_FALSE(listOpen()) << "a click reached the page during the operation";
  EXPECT_TRUE(w.Busy());

  hold.unlock();
  ASSERT_TRUE(rig.Settle());
  expectEnabled(true);
  EXPECT_FALSE(w.Runner().HoldingInput());
  const int board = AwaitRequest(*sim, "0001rgbty;;", before);
  EXPECT_EQ(board, static_cast<int>(before));
  PumpFor(30);
  for (const std::string& r : Requests(*sim)) EXPECT_EQ(r.find("woout"), std::string::npos) << r;

  QTest::mouseClick(list, Qt::LeftButton);
  EXPECT_TRUE(PumpUntil(listOpen, 1000)) << "clicks never open the list: the check above proves nothing";
  list->hidePopup();
}

// ---------------------------------------------------------- config tabs

TEST(MainWindowConfigTabs, ChangeLoadsTheConfigWaitsAndRereads) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup());
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.AwaitPause(1));
  ASSERT_EQ(w.ConfigTabs()->currentIndex(), 0);
  EXPECT_TRUE(rig.clock.Pauses().empty());
  const std::size_t before = Requests(*sim).size();

  QTest::mouseClick(w.ConfigTabs(), Qt::LeftButton, {}, w.ConfigTabs()->tabRect(3).center());
  ASSERT_TRUE(rig.Settle());

  EXPECT_EQ(rig.clock.Pauses(), std::vector<std::int64_t>{1000});
  const int load = AwaitRequest(*sim, "0001wglod;4;", before);
  EXPECT_EQ(load, static_cast<int>(before));
  EXPECT_EQ(AwaitRequest(*sim, "0001rgbty;;", before), load + 1);
  EXPECT_EQ(AwaitRequest(*sim, "0001rglod;;", before), load + 2);
  EXPECT_EQ(w.ConfigTabs()->currentIndex(), 3);
  EXPECT_EQ(w.Session().CurrentConfig(), 4);
  const std::vector<std::string> lines = sim->TranscriptLines();
  const auto read = std::find(lines.rbegin(), lines.rend(), "rx 0001rglod;;");
  ASSERT_NE(read, lines.rend());
  ASSERT_NE(read, lines.rbegin());
  EXPECT_EQ(*std::prev(read), "tx 000114;") << "the unit did not switch";
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
}

// -------------------------------------------------------------- closing

TEST(MainWindowClosing, ReturnsPromptlyWhileTheUnitIsSilent) {
  AppRig rig;  // the default 2.5 s read time-outs
  SimProcess* sim = rig.AddSim(SimSetup().Args({"--silent-after", "5"}));
  ASSERT_TRUE(sim);
  MainWindow& w = rig.MakeWindow();
  w.Start();
  // The start-up refresh is now waiting for an answer that never comes.
  ASSERT_TRUE(PumpUntil(
      [&] {
        const std::vector<std::string> r = Requests(*sim);
        return r.size() == 6 && r.back().find("(silent after 5)") != std::string::npos;
      },
      3000))
      << ::testing::PrintToString(Requests(*sim));
  ASSERT_TRUE(w.Busy());

  QElapsedTimer timer;
  timer.start();
  w.close();
  const qint64 closedAfter = timer.elapsed();
  EXPECT_LT(closedAfter, 2000) << "closing sat out the serial time-outs";
  EXPECT_FALSE(w.LeftWorkRunning()) << "the interrupted operation did not end";
  PumpFor(100);
  EXPECT_EQ(Requests(*sim).size(), 6u) << "requests went on after closing";
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
}

TEST(MainWindowClosing, DuringASetSaveWaitsForTheUnitToBeReturnedAndTheHoldEnded) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup());  // firmware 3.4.0.0: the girb hold
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.AwaitPause(1));
  const std::string file = rig.dir.File("set.cfg");
  rig.prompter.files.push_back(file);
  QString shown;
  rig.prompter.onProgress = [&](int done) {
    if (done != 2) return;
    w.close();  // the operator closes the window while configuration 2 is read
    shown = w.StatusText();
  };
  const std::size_t before = Requests(*sim).size();
  QTest::mouseClick(w.SaveSetButton(), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return !w.isVisible(); }, 10000));
  EXPECT_EQ(shown, "Finishing the transfer...");
  AwaitQuiet(*sim);
  const std::vector<std::string> all = Requests(*sim);
  ASSERT_GE(FindRequest(all, "0001wglod;2;", before), 0);
  EXPECT_EQ(FindRequest(all, "0001wglod;3;", before), -1) << "the transfer went on";
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[all.size() - 2], "0001wglod;1;");
  EXPECT_EQ(all.back(), "0001wgirb;0;");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());
}

}  // namespace
