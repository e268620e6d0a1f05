// The menu commands that talk to a simulated unit: Restore defaults, the
// key writing, the polling options and the engineering window's unit
// address.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <fstream>
#include <sstream>

#include "gui/engineering_window.h"
#include "gui/main_window.h"
#include "gui/qt_control_host.h"
#include "gui/shell_dialogs.h"
#include "modal_driver.h"
#include "support_app.h"

namespace vecta::test {
namespace {

using gui::MainWindow;

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(MainCommandsWithUnit, RestoreDefaultsAnsweredNoSendsNothing) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().Board("K610"));
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.Settle());
  const std::size_t before = Requests(*sim).size();

  rig.prompter.answers = {params::Answer::No};
  w.Action(gui::commands::kRestoreDefaults)->trigger();
  ASSERT_TRUE(rig.Settle());
  ASSERT_EQ(rig.prompter.messages.size(), 1u);
  EXPECT_EQ(rig.prompter.messages[0].title, "Alert");
  EXPECT_EQ(rig.prompter.messages[0].text, "Are you sure you want to restore defaults");
  EXPECT_EQ(rig.prompter.messages[0].icon, params::MessageIcon::Question);
  EXPECT_EQ(rig.prompter.messages[0].buttons, params::MessageButtons::YesNo);
  EXPECT_EQ(Requests(*sim).size(), before);

  rig.prompter.answers = {params::Answer::Yes};
  w.Action(gui::commands::kRestoreDefaults)->trigger();
  const int at = AwaitRequest(*sim, "0001wgdef;1;", before);
  ASSERT_GE(at, 0);
  ASSERT_TRUE(rig.Settle());
  EXPECT_GE(FindRequest(Requests(*sim), "0001rgbty;;", static_cast<std::size_t>(at)), at) << "no refresh after";
  const auto pauses = rig.clock.Pauses();
  EXPECT_NE(std::find(pauses.begin(), pauses.end(), 5000), pauses.end()) << "the 5 s wait went elsewhere";
}

TEST(MainCommandsWithUnit, WriteKeySendsTheKeyAndTheLogShowsItMasked) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().Board("K610"));
  ASSERT_TRUE(sim);
  const std::string log = rig.dir.File("comm.log");
  MainWindow& w = rig.StartWindow([&](gui::MainWindowOptions& o) { o.logFile = log; });
  ASSERT_TRUE(rig.Settle());
  const std::size_t before = Requests(*sim).size();

  ModalDriver driver([](QWidget* dialog) {
    auto* d = qobject_cast<gui::WriteKeyDialog*>(dialog);
    ASSERT_NE(d, nullptr);
    d->TypeList()->setCurrentIndex(2);  // AES256
    d->FirstField()->setText("00112233445566778899aabbccddeeff");
    d->SecondField()->setText("FFEEDDCCBBAA99887766554433221100");
    d->accept();
  });
  w.Action(gui::commands::kWriteKey)->trigger();
  ASSERT_TRUE(driver.Ran());
  const int lower = AwaitRequest(*sim, "0001wzkez;00112233445566778899aabbccddeeff;", before);
  const int upper = AwaitRequest(*sim, "0001wzkex;FFEEDDCCBBAA99887766554433221100;", before);
  ASSERT_GE(lower, 0);
  EXPECT_GT(upper, lower);
  ASSERT_TRUE(rig.Settle());
  const std::string text = ReadWhole(log);
  EXPECT_EQ(text.find("00112233445566778899aabbccddeeff"), std::string::npos) << "the key is in the log";
  EXPECT_EQ(text.find("FFEEDDCCBBAA99887766554433221100"), std::string::npos);
  EXPECT_NE(text.find("wzkez;"), std::string::npos) << "the mnemonic stays readable";
}

TEST(MainCommandsWithUnit, PollingOptionsChangeWhatIsAskedAndHowLongThePauseIs) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().Board("K610"));
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.Settle());
  ASSERT_TRUE(rig.AwaitPause(1));

  ModalDriver driver([](QWidget* dialog) {
    auto* d = qobject_cast<gui::PollingOptionsDialog*>(dialog);
    ASSERT_NE(d, nullptr);
    for (int i = 0; i < 3; ++i) d->Flag(i)->setChecked(false);
    d->Interval()->setText("500");
    qobject_cast<QPushButton*>(gui::QtControlHost(d).Find(1))->click();  // OK
  });
  w.Action(gui::commands::kPollingOptions)->trigger();
  ASSERT_TRUE(driver.Ran());
  EXPECT_EQ(rig.settings.pollingIntervalMs, 500);
  EXPECT_FALSE(rig.settings.pollVideoLock || rig.settings.pollChainingStatus || rig.settings.pollRfOutput);

  // The pause in progress keeps its length; the next cycle sends only the
  // address query and then pauses for the new interval.
  const std::size_t before = Requests(*sim).size();
  ASSERT_TRUE(rig.StepPoll());
  const auto lengths = rig.waiter->Lengths();
  ASSERT_GE(lengths.size(), 2u);
  EXPECT_EQ(lengths[0], 2000);
  EXPECT_EQ(lengths.back(), 500);
  const auto requests = Requests(*sim);
  ASSERT_GT(requests.size(), before);
  for (std::size_t i = before; i < requests.size(); ++i) EXPECT_EQ(requests[i], "0001rgadd;;");
}

TEST(MainCommandsWithUnit, EngineeringUnitAddressReachesTheUnitAndLaterRequestsUseIt) {
  AppRig rig;
  SimProcess* sim = rig.AddSim(SimSetup().Board("K240"));
  ASSERT_TRUE(sim);
  MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.Settle());

  w.Action(gui::commands::kEngineering)->trigger();  // Engineering, Ctrl+E
  ASSERT_TRUE(rig.Settle());
  auto* eng = qobject_cast<gui::EngineeringWindow*>(w.Engineering());
  ASSERT_NE(eng, nullptr);
  EXPECT_EQ(eng->windowTitle(), "Engineering options");
  EXPECT_TRUE(eng->EightPointPowerCal());  // a K240
  EXPECT_TRUE(eng->ElevenPointTrim());
  w.Action(gui::commands::kEngineering)->trigger();  // a second press only focuses it
  EXPECT_EQ(w.Engineering(), eng);

  const std::size_t before = Requests(*sim).size();
  emit eng->UnitAddressChanged(12);
  ASSERT_GE(AwaitRequest(*sim, "0001wgadd;0012;", before), 0);
  ASSERT_TRUE(rig.Settle());
  EXPECT_EQ(w.Unit().unitAddress, 12);
  EXPECT_EQ(w.Poll()->UnitAddress(), 12);

  const std::size_t after = Requests(*sim).size();
  w.OnPageButton(gui::ids::kMainRefresh);
  ASSERT_GE(AwaitRequest(*sim, "0012rgbty;;", after), 0);
  ASSERT_TRUE(rig.Settle());
  EXPECT_TRUE(rig.prompter.messages.empty()) << ::testing::PrintToString(rig.prompter.Texts());

  eng->close();
  EXPECT_TRUE(PumpUntil([&] { return w.Engineering() == nullptr; }, 2000));
}

// An IQ trim point tunes the unit: the settings pages show the frequency
// it runs on now, so their Apply has nothing to put back.
TEST(MainCommandsWithUnit, AnIqTrimPointShowsTheUnitsFrequencyOnThePages) {
  AppRig rig;
  ASSERT_TRUE(rig.AddSim(SimSetup().Board("K240")));
  MainWindow& w = rig.StartWindow();
  w.OnPageButton(gui::ids::kAdvanced);
  w.OnEngineering();
  ASSERT_TRUE(rig.Settle());
  gui::QtControlHost& iq =
      qobject_cast<gui::EngineeringWindow*>(w.Engineering())->Host(gui::EngineeringWindow::Page::IqTrim);
  iq.Select(app::eng::kPointList, 6);
  qobject_cast<QPushButton*>(iq.Find(app::eng::kSelectPoint))->click();
  ASSERT_TRUE(rig.Settle());
  for (gui::QtControlHost* page : {&w.Page()->Host(), &w.Advanced()->Host()})
    EXPECT_EQ(page->Text(gui::ids::kOutputFrequency), iq.Text(app::eng::kFrequency));
  EXPECT_TRUE(w.Page()->UnappliedLabel()->isHidden());
}

}  // namespace
}  // namespace vecta::test
