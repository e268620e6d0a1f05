// Unapplied changes in the real windows against a simulated unit: the
// captions of the controls the operator changed turn bold with the unit's
// value as their tooltip, each window counts them, Apply and Refresh clear
// them, and a config switch or a close that would drop them first asks
// whether to apply, discard or stay.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <string>
#include <vector>

#include "gui/main_window.h"
#include "gui/page_builder.h"
#include "gui/qt_control_host.h"
#include "gui/qt_prompter.h"
#include "gui/settings_windows.h"
#include "gui/unapplied_changes.h"
#include "modal_driver.h"
#include "support_app.h"
#include "support_pages.h"

namespace {

using vecta::gui::AdvancedOptionsWindow;
using vecta::gui::MainWindow;
using vecta::gui::QtControlHost;
using vecta::gui::QtPrompter;
using vecta::gui::SatmodWindow;
using vecta::params::Answer;
using vecta::params::MessageButtons;
using vecta::params::MessageIcon;
using vecta::test::pages_rig::PagesRig;
using vecta::test::pages_rig::SimUnit;
using Strings = std::vector<std::string>;

namespace ids = vecta::params::ids;
constexpr int kTabModulation = 1, kTabVideo = 3;

std::string S(const QString& s) { return s.toStdString(); }

template <typename W>
W* Widget(QtControlHost& host, int id) {
  W* w = qobject_cast<W*>(host.Find(id));
  EXPECT_NE(w, nullptr) << "control " << id;
  return w;
}

void PickText(QComboBox* combo, const std::string& text) {
  ASSERT_NE(combo, nullptr);
  const int index = combo->findText(QString::fromStdString(text));
  ASSERT_GE(index, 0) << "no entry \"" << text << "\"";
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

void Type(QLineEdit* edit, const QString& text) {
  ASSERT_NE(edit, nullptr);
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

void Press(QtControlHost& host, int id) {
  auto* button = qobject_cast<QAbstractButton*>(host.Find(id));
  ASSERT_NE(button, nullptr) << "button " << id;
  ASSERT_TRUE(button->isEnabled()) << "button " << id;
  button->click();
}

// The caption a mark shows on: the label left of a list or edit, the box
// itself for a check box.
QWidget* CaptionOf(QtControlHost& host, int id) {
  QWidget* control = host.Find(id);
  if (qobject_cast<QCheckBox*>(control)) return control;
  QWidget* caption = vecta::gui::CaptionOf(control);
  EXPECT_NE(caption, nullptr) << "control " << id << " has no caption";
  return caption;
}

// The caption is bold and both caption and control say the unit's value.
void ExpectMarked(QtControlHost& host, int id, const std::string& tip) {
  QWidget* caption = CaptionOf(host, id);
  ASSERT_NE(caption, nullptr);
  EXPECT_TRUE(caption->font().bold()) << "control " << id;
  EXPECT_EQ(S(caption->toolTip()), tip) << "control " << id;
  EXPECT_EQ(S(host.Find(id)->toolTip()), tip) << "control " << id;
  EXPECT_TRUE(host.IsMarked(id));
}
void ExpectUnmarked(QtControlHost& host, int id) {
  QWidget* caption = CaptionOf(host, id);
  ASSERT_NE(caption, nullptr);
  EXPECT_FALSE(caption->font().bold()) << "control " << id;
  EXPECT_EQ(S(caption->toolTip()), "") << "control " << id;
  EXPECT_FALSE(host.IsMarked(id));
}

// What a count label shows: "" while hidden.
std::string CountShown(const QLabel* label) {
  EXPECT_NE(label, nullptr);
  if (!label || label->isHidden()) return "";
  return S(label->text());
}

class UnappliedChanges : public ::testing::Test {
 protected:
  void Connect(SimUnit unit) { ASSERT_TRUE(rig.Start(unit)); }
  MainWindow& W() { return rig.Window(); }
  QtControlHost& Main() { return W().Page()->Host(); }
  std::string MainCount() { return CountShown(W().Page()->UnappliedLabel()); }
  AdvancedOptionsWindow* OpenAdvanced(int tab) {
    Press(Main(), vecta::params::ids::kAdvanced);
    PagesRig::Pump();
    AdvancedOptionsWindow* adv = W().Advanced();
    EXPECT_NE(adv, nullptr);
    if (adv) adv->Tabs()->setCurrentIndex(tab);
    PagesRig::Pump();
    return adv;
  }
  SatmodWindow* OpenSatmod() {
    Press(Main(), vecta::params::ids::kSatmod);
    EXPECT_TRUE(rig.Idle());
    return W().Satmod();
  }
  // The one question asked so far, checked as the system asks it.
  void ExpectAsked(const std::string& text) {
    ASSERT_EQ(rig.Prompter().messages.size(), 1u) << "messages: " << rig.Prompter().messages.size();
    const auto& m = rig.Prompter().messages[0];
    EXPECT_EQ(m.title, "Alert");
    EXPECT_EQ(m.text, text);
    EXPECT_EQ(m.icon, MessageIcon::Question);
    EXPECT_EQ(m.buttons, MessageButtons::ApplyDiscardCancel);
  }
  void Reply(vecta::params::Answer a) { rig.Prompter().answers.push_back(a); }
  Strings Writes() { return PagesRig::WritesOf(rig.Requests()); }
  std::string A() { return rig.Address(); }

  PagesRig rig;
};

// ============================================================== the marks

TEST_F(UnappliedChanges, MainPageMarksWhatTheOperatorChangedAndCountsIt) {
  Connect({"K240", false, {"aenc=0", "otxm=1", "zscr=0", "ofre=1250"}});
  // The refresh filled every control: nothing is marked.
  EXPECT_EQ(MainCount(), "");
  for (int id : {ids::kScrambling, ids::kPresetTransmitMode, ids::kOutputFrequency}) ExpectUnmarked(Main(), id);

  PickText(Widget<QComboBox>(Main(), ids::kScrambling), "AES128");
  ExpectMarked(Main(), ids::kScrambling, "Unit's value: Off");
  EXPECT_EQ(MainCount(), "1 unapplied change");

  PickText(Widget<QComboBox>(Main(), ids::kPresetTransmitMode), "Long range");
  Type(Widget<QLineEdit>(Main(), ids::kOutputFrequency), QStringLiteral("1300"));
  ExpectMarked(Main(), ids::kPresetTransmitMode, "Unit's value: Short range");
  ExpectMarked(Main(), ids::kOutputFrequency, "Unit's value: 1250.00");
  EXPECT_EQ(MainCount(), "3 unapplied changes");

  // Back to the unit's value: that mark goes.
  PickText(Widget<QComboBox>(Main(), ids::kScrambling), "Off");
  ExpectUnmarked(Main(), ids::kScrambling);
  EXPECT_EQ(MainCount(), "2 unapplied changes");
  Type(Widget<QLineEdit>(Main(), ids::kOutputFrequency), QStringLiteral("1250.00"));
  ExpectUnmarked(Main(), ids::kOutputFrequency);
  EXPECT_EQ(MainCount(), "1 unapplied change");
  EXPECT_EQ(Writes(), Strings{});
}

TEST_F(UnappliedChanges, ApplyAndItsReadBackClearTheMarks) {
  Connect({"K240", false, {"aenc=0", "otxm=1", "zscr=0"}});
  rig.Mark();
  PickText(Widget<QComboBox>(Main(), ids::kScrambling), "AES128");
  PickText(Widget<QComboBox>(Main(), ids::kPresetTransmitMode), "Long range");
  ASSERT_EQ(MainCount(), "2 unapplied changes");

  Press(Main(), vecta::params::ids::kMainApply);
  ASSERT_TRUE(rig.Idle());
  EXPECT_EQ(Writes(), (Strings{A() + "wzscr;4;", A() + "wotxm;3;"}));
  EXPECT_EQ(MainCount(), "");
  ExpectUnmarked(Main(), ids::kScrambling);
  ExpectUnmarked(Main(), ids::kPresetTransmitMode);
  EXPECT_EQ(S(Widget<QComboBox>(Main(), ids::kScrambling)->currentText()), "AES128");
}

TEST_F(UnappliedChanges, RefreshShowsTheUnitsValuesAgainAndClearsTheMarks) {
  Connect({"K240", false, {"aenc=0", "zscr=0"}});
  PickText(Widget<QComboBox>(Main(), ids::kScrambling), "AES256");
  ASSERT_EQ(MainCount(), "1 unapplied change");

  Press(Main(), vecta::params::ids::kMainRefresh);
  ASSERT_TRUE(rig.Idle());
  EXPECT_EQ(S(Widget<QComboBox>(Main(), ids::kScrambling)->currentText()), "Off");
  EXPECT_EQ(MainCount(), "");
  ExpectUnmarked(Main(), ids::kScrambling);
}

TEST_F(UnappliedChanges, AdvancedOptionsCountsItsPagesTogetherAndApplyClearsThem) {
  Connect({"K240", false, {"aenc=0", "odfe=0", "evbr=0"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabModulation);
  ASSERT_NE(adv, nullptr);
  QtControlHost& host = adv->Host();
  EXPECT_EQ(CountShown(adv->UnappliedLabel()), "");  // filled from the cache: nothing changed

  PickText(Widget<QComboBox>(host, ids::kDvbtFecRate), "3/4");
  adv->Tabs()->setCurrentIndex(kTabVideo);
  PagesRig::Pump();
  Widget<QCheckBox>(host, ids::kManual)->click();
  ExpectMarked(host, ids::kDvbtFecRate, "Unit's value: 1/2");
  ExpectMarked(host, ids::kManual, "Unit's value: not ticked");
  EXPECT_EQ(CountShown(adv->UnappliedLabel()), "2 unapplied changes");
  EXPECT_EQ(MainCount(), "");  // the main settings page has none

  rig.Mark();
  Press(host, vecta::params::ids::kWindowApply);
  ASSERT_TRUE(rig.Idle());
  const Strings writes = Writes();
  EXPECT_NE(std::find(writes.begin(), writes.end(), A() + "wodfe;2;"), writes.end());
  EXPECT_EQ(CountShown(adv->UnappliedLabel()), "");
  ExpectUnmarked(host, ids::kDvbtFecRate);
  ExpectUnmarked(host, ids::kManual);
}

TEST_F(UnappliedChanges, SatelliteModulatorMarksWithTheUnitsValueAsThePageShowsIt) {
  Connect({"K240", true, {"aenc=0", "smod=2"}});
  SatmodWindow* satmod = OpenSatmod();
  ASSERT_NE(satmod, nullptr);
  EXPECT_EQ(CountShown(satmod->UnappliedLabel()), "");
  PickText(Widget<QComboBox>(satmod->Host(), ids::kSatModulation), "QPSK");
  ExpectMarked(satmod->Host(), ids::kSatModulation, "Unit's value: 16QAM");
  EXPECT_EQ(CountShown(satmod->UnappliedLabel()), "1 unapplied change");

  Press(satmod->Host(), vecta::params::ids::kWindowRefresh);
  ASSERT_TRUE(rig.Idle());
  ExpectUnmarked(satmod->Host(), ids::kSatModulation);
  EXPECT_EQ(CountShown(satmod->UnappliedLabel()), "");
}

// ========================================================== the questions

TEST_F(UnappliedChanges, ClosingTheMainWindowAsksAndStayKeepsItOpen) {
  Connect({"K240", false, {"aenc=0", "zscr=0"}});
  rig.Mark();
  PickText(Widget<QComboBox>(Main(), ids::kScrambling), "AES128");
  Reply(Answer::Cancel);
  EXPECT_FALSE(W().close());
  ExpectAsked("There is 1 unapplied change. Apply it before closing the program?");
  EXPECT_TRUE(W().isVisible());
  EXPECT_EQ(MainCount(), "1 unapplied change");
  EXPECT_EQ(rig.Requests(), Strings{});  // nothing sent, the link still works
}

TEST_F(UnappliedChanges, ClosingTheMainWindowWithDiscardClosesWithoutWriting) {
  Connect({"K240", false, {"aenc=0", "zscr=0", "otxm=1"}});
  rig.Mark();
  PickText(Widget<QComboBox>(Main(), ids::kScrambling), "AES128");
  PickText(Widget<QComboBox>(Main(), ids::kPresetTransmitMode), "Long range");
  Reply(Answer::Discard);
  EXPECT_TRUE(W().close());
  ExpectAsked("There are 2 unapplied changes. Apply them before closing the program?");
  EXPECT_FALSE(W().isVisible());
  vecta::test::AwaitQuiet(rig.Sim());
  for (const std::string& r : vecta::test::Requests(rig.Sim())) EXPECT_EQ(r.find("wzscr"), std::string::npos) << r;
}

TEST_F(UnappliedChanges, ClosingTheMainWindowWithApplyWritesThenCloses) {
  Connect({"K240", false, {"aenc=0", "zscr=0"}});
  PickText(Widget<QComboBox>(Main(), ids::kScrambling), "AES128");
  Reply(Answer::Apply);
  EXPECT_FALSE(W().close());  // it closes once the write is done
  ExpectAsked("There is 1 unapplied change. Apply it before closing the program?");
  ASSERT_TRUE(vecta::test::PumpUntil([&] { return !W().isVisible(); }, 20000));
  vecta::test::AwaitQuiet(rig.Sim());
  const Strings requests = vecta::test::Requests(rig.Sim());
  EXPECT_NE(std::find(requests.begin(), requests.end(), A() + "wzscr;4;"), requests.end());
  EXPECT_EQ(rig.Prompter().messages.size(), 1u);  // not asked again
}

// The unit is gone: Apply writes nothing, so the program stays open with
// the change still marked and says so.
TEST_F(UnappliedChanges, ClosingAfterAnApplyThatWroteNothingKeepsTheChange) {
  Connect({"K240", false, {"aenc=0", "zscr=0"}});
  PickText(Widget<QComboBox>(Main(), ids::kScrambling), "AES128");
  W().OnLinkLost();
  Reply(Answer::Apply);
  EXPECT_FALSE(W().close());
  ASSERT_TRUE(rig.Idle());
  EXPECT_TRUE(W().isVisible());
  EXPECT_EQ(rig.Prompter().Texts(), (Strings{"There is 1 unapplied change. Apply it before closing the program?",
                                             "No connection currently"}));
  EXPECT_EQ(MainCount(), "1 unapplied change");
  EXPECT_EQ(S(W().StatusText()), "Apply failed: 1 unapplied change kept");
}

// With "Manual" ticked a new bitrate alone is a change: marked, counted,
// and asked about before the window closes.
TEST_F(UnappliedChanges, AManualBitrateAloneIsAChange) {
  Connect({"K240", false, {"aenc=0", "evbr=4500"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabVideo);
  ASSERT_NE(adv, nullptr);
  Type(Widget<QLineEdit>(adv->Host(), ids::kVideoBitrate), QStringLiteral("7.0"));
  ExpectMarked(adv->Host(), ids::kVideoBitrate, "Unit's value: 4.000");
  EXPECT_EQ(CountShown(adv->UnappliedLabel()), "1 unapplied change");
  Reply(Answer::Cancel);
  EXPECT_FALSE(adv->close());
  ExpectAsked("There is 1 unapplied change in the Advanced options window. Apply it before closing the window?");
}

TEST_F(UnappliedChanges, ClosingAdvancedOptionsAsksStayDiscardAndApply) {
  Connect({"K240", false, {"aenc=0", "odfe=0"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabModulation);
  ASSERT_NE(adv, nullptr);
  rig.Mark();
  PickText(Widget<QComboBox>(adv->Host(), ids::kDvbtFecRate), "3/4");
  const std::string question =
      "There is 1 unapplied change in the Advanced options window. Apply it before closing the window?";

  // Stay: the window keeps its change.
  Reply(Answer::Cancel);
  EXPECT_FALSE(adv->close());
  ExpectAsked(question);
  PagesRig::Pump();
  ASSERT_EQ(W().Advanced(), adv);
  EXPECT_EQ(CountShown(adv->UnappliedLabel()), "1 unapplied change");

  // Apply: written, read back, then closed.
  rig.Prompter().messages.clear();
  Reply(Answer::Apply);
  EXPECT_FALSE(adv->close());
  ExpectAsked(question);
  ASSERT_TRUE(rig.Idle());
  PagesRig::Pump();
  EXPECT_EQ(W().Advanced(), nullptr);
  const Strings writes = Writes();
  EXPECT_EQ(writes, Strings{A() + "wodfe;2;"});
  EXPECT_EQ(rig.Prompter().messages.size(), 1u);  // the close after the apply asks nothing

  // Discard: a new window, changed again, closes without a write.
  adv = OpenAdvanced(kTabModulation);
  ASSERT_NE(adv, nullptr);
  PickText(Widget<QComboBox>(adv->Host(), ids::kDvbtFecRate), "7/8");
  rig.Prompter().messages.clear();
  Reply(Answer::Discard);
  EXPECT_TRUE(adv->close());
  ExpectAsked(question);
  PagesRig::Pump();
  EXPECT_EQ(W().Advanced(), nullptr);
  EXPECT_EQ(Writes(), Strings{});
}

TEST_F(UnappliedChanges, ClosingAnAdvancedOptionsWindowWithoutChangesAsksNothing) {
  Connect({"K240", false, {"aenc=0"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabModulation);
  ASSERT_NE(adv, nullptr);
  EXPECT_TRUE(adv->close());
  EXPECT_EQ(rig.Prompter().messages.size(), 0u);
}

TEST_F(UnappliedChanges, ClosingTheSatelliteModulatorWithApplyWritesThenCloses) {
  Connect({"K240", true, {"aenc=0", "smod=2"}});
  SatmodWindow* satmod = OpenSatmod();
  ASSERT_NE(satmod, nullptr);
  rig.Mark();
  PickText(Widget<QComboBox>(satmod->Host(), ids::kSatModulation), "QPSK");
  Reply(Answer::Apply);
  EXPECT_FALSE(satmod->close());
  ExpectAsked(
      "There is 1 unapplied change in the Satellite modulator window. Apply it before closing the window?");
  ASSERT_TRUE(rig.Idle());
  PagesRig::Pump();
  EXPECT_EQ(W().Satmod(), nullptr);
  EXPECT_EQ(Writes(), Strings{A() + "wsmod;0;"});
}

TEST_F(UnappliedChanges, SwitchingConfigTabsWithChangesStayPutsTheTabBack) {
  Connect({"K240", false, {"aenc=0", "zscr=0"}});
  QTabBar* tabs = W().ConfigTabs();
  const int before = tabs->currentIndex();
  ASSERT_EQ(before, 0);
  rig.Mark();
  PickText(Widget<QComboBox>(Main(), ids::kScrambling), "AES128");
  Reply(Answer::Cancel);
  tabs->setCurrentIndex(2);
  ASSERT_TRUE(rig.Idle());
  ExpectAsked("There is 1 unapplied change. Apply it before loading config 3?");
  EXPECT_EQ(tabs->currentIndex(), before);
  EXPECT_EQ(rig.Requests(), Strings{});
  EXPECT_EQ(MainCount(), "1 unapplied change");
}

TEST_F(UnappliedChanges, SwitchingConfigTabsWithDiscardLoadsTheConfigWithoutWriting) {
  Connect({"K240", false, {"aenc=0", "zscr=0"}});
  rig.Mark();
  PickText(Widget<QComboBox>(Main(), ids::kScrambling), "AES128");
  Reply(Answer::Discard);
  W().ConfigTabs()->setCurrentIndex(2);
  ASSERT_TRUE(rig.Idle());
  ExpectAsked("There is 1 unapplied change. Apply it before loading config 3?");
  EXPECT_EQ(Writes(), Strings{A() + "wglod;3;"});
  EXPECT_EQ(W().ConfigTabs()->currentIndex(), 2);
  EXPECT_EQ(MainCount(), "");
  ExpectUnmarked(Main(), ids::kScrambling);
}

TEST_F(UnappliedChanges, SwitchingConfigTabsWithApplyWritesFirstThenLoadsTheConfig) {
  Connect({"K240", false, {"aenc=0", "zscr=0", "odfe=0"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabModulation);
  ASSERT_NE(adv, nullptr);
  rig.Mark();
  // Changes in two windows: both are written before the switch.
  PickText(Widget<QComboBox>(Main(), ids::kScrambling), "AES128");
  PickText(Widget<QComboBox>(adv->Host(), ids::kDvbtFecRate), "3/4");
  Reply(Answer::Apply);
  W().ConfigTabs()->setCurrentIndex(1);
  ASSERT_TRUE(rig.Idle());
  ASSERT_TRUE(rig.Idle());
  ExpectAsked("There are 2 unapplied changes. Apply them before loading config 2?");
  EXPECT_EQ(Writes(), (Strings{A() + "wodfe;2;", A() + "wzscr;4;", A() + "wglod;2;"}));
  EXPECT_EQ(W().ConfigTabs()->currentIndex(), 1);
  EXPECT_EQ(MainCount(), "");
  EXPECT_EQ(CountShown(adv->UnappliedLabel()), "");
}

TEST_F(UnappliedChanges, SwitchingConfigTabsWithoutChangesAsksNothing) {
  Connect({"K240", false, {"aenc=0"}});
  rig.Mark();
  W().ConfigTabs()->setCurrentIndex(1);
  ASSERT_TRUE(rig.Idle());
  EXPECT_EQ(rig.Prompter().messages.size(), 0u);
  EXPECT_EQ(Writes(), Strings{A() + "wglod;2;"});
}

// ============================================= the marks on bare widgets

TEST(QtControlHostMarks, ACaptionTurnsBoldWithTheTooltipAndBackWhenCleared) {
  QWidget page;
  vecta::gui::BuildPage(&page, vecta::pages::Layout(vecta::pages::PageId::MainSettings),
                        vecta::pages::Variant::K240, {});
  QtControlHost host(&page);
  auto* caption = qobject_cast<QLabel*>(vecta::gui::CaptionOf(host.Find(ids::kScrambling)));
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(S(caption->text()), "Scrambling");
  EXPECT_FALSE(caption->font().bold());

  host.SetMarked(ids::kScrambling, true, "Unit's value: Off");
  EXPECT_TRUE(caption->font().bold());
  EXPECT_EQ(S(caption->toolTip()), "Unit's value: Off");
  EXPECT_EQ(S(host.Find(ids::kScrambling)->toolTip()), "Unit's value: Off");
  EXPECT_EQ(host.MarkTip(ids::kScrambling), "Unit's value: Off");
  // Another value of the unit: the tooltip follows.
  host.SetMarked(ids::kScrambling, true, "Unit's value: ABS");
  EXPECT_EQ(S(caption->toolTip()), "Unit's value: ABS");

  host.SetMarked(ids::kScrambling, false, {});
  EXPECT_FALSE(caption->font().bold());
  EXPECT_FALSE(caption->testAttribute(Qt::WA_SetFont));  // the page's font again
  EXPECT_EQ(S(caption->toolTip()), "");
  EXPECT_FALSE(host.IsMarked(ids::kScrambling));
  EXPECT_EQ(host.MarkTip(ids::kScrambling), "");
  // Other captions are never touched.
  auto* frequency = qobject_cast<QLabel*>(vecta::gui::CaptionOf(host.Find(ids::kOutputFrequency)));
  ASSERT_NE(frequency, nullptr);
  EXPECT_FALSE(frequency->font().bold());
}

// Lists that take turns in one place share their caption: it is bold while
// either is marked, whichever mark comes or goes first, and then plain.
TEST(QtControlHostMarks, ASharedCaptionIsBoldWhileAnyOfItsListsIsMarked) {
  QWidget page;
  vecta::gui::BuildPage(&page, vecta::pages::Layout(vecta::pages::PageId::MainSettings),
                        vecta::pages::Variant::K610, {});
  QtControlHost host(&page);
  QWidget* caption = vecta::gui::CaptionOf(host.Find(ids::kAudio));
  ASSERT_NE(caption, nullptr);
  ASSERT_EQ(caption, vecta::gui::CaptionOf(host.Find(ids::kAudioEncoder1Source)));
  for (const auto& [first, second] :
       {std::pair{ids::kAudio, ids::kAudioEncoder1Source}, std::pair{ids::kAudioEncoder1Source, ids::kAudio}}) {
    host.SetMarked(first, true, "first");
    host.SetMarked(second, true, "second");
    host.SetMarked(first, false, {});
    EXPECT_TRUE(caption->font().bold());
    EXPECT_EQ(S(caption->toolTip()), "second");
    host.SetMarked(second, false, {});
    host.SetMarked(first, false, {});
    EXPECT_FALSE(caption->font().bold());
    EXPECT_EQ(S(caption->toolTip()), "");
  }
}

TEST(QtControlHostMarks, ACheckBoxIsItsOwnCaption) {
  QWidget page;
  vecta::gui::BuildPage(&page, vecta::pages::Layout(vecta::pages::PageId::Video), vecta::pages::Variant::K240, {});
  QtControlHost host(&page);
  auto* manual = qobject_cast<QCheckBox*>(host.Find(ids::kManual));
  ASSERT_NE(manual, nullptr);
  host.SetMarked(ids::kManual, true, "Unit's value: ticked");
  EXPECT_TRUE(manual->font().bold());
  EXPECT_EQ(S(manual->toolTip()), "Unit's value: ticked");
  host.SetMarked(ids::kManual, false, {});
  EXPECT_FALSE(manual->font().bold());
  EXPECT_EQ(S(manual->toolTip()), "");
}

// ================================================= the question's buttons

TEST(ApplyDiscardCancelQuestion, OffersApplyDiscardAndCancelAndGivesTheOneClicked) {
  QWidget parent;
  QtPrompter prompter(&parent);
  for (const auto& [click, expected] : {std::pair{"Apply", Answer::Apply}, std::pair{"Discard", Answer::Discard},
                                        std::pair{"Cancel", Answer::Cancel}}) {
    QStringList buttons;
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    ModalDriver driver([&, click = click](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      for (QAbstractButton* b : box->buttons()) buttons << b->text();
      for (QAbstractButton* b : box->buttons())
        if (b->text() == QString::fromUtf8(click)) b->click();
    });
    const Answer answer =
        prompter.Message("Alert", "There is 1 unapplied change. Apply it before closing the program?",
                         MessageIcon::Question, MessageButtons::ApplyDiscardCancel);
    EXPECT_TRUE(driver.Ran());
    EXPECT_EQ(answer, expected) << click;
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"Apply", "Cancel", "Discard"}));
    EXPECT_EQ(S(title), "Alert");
    EXPECT_EQ(S(text), "There is 1 unapplied change. Apply it before closing the program?");
    EXPECT_EQ(icon, QMessageBox::Question);
  }
}

TEST(ApplyDiscardCancelQuestion, EscapeAndEnterStay) {
  QWidget parent;
  QtPrompter prompter(&parent);
  for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
    ModalDriver driver([key](QWidget* w) { QTest::keyClick(w, key); });
    EXPECT_EQ(prompter.Message("Alert", "?", MessageIcon::Question, MessageButtons::ApplyDiscardCancel),
              Answer::Cancel)
        << key;
    EXPECT_TRUE(driver.Ran());
  }
}

TEST(UnappliedQuestion, ReadsAsTheSystemAsksIt) {
  EXPECT_EQ(vecta::gui::UnappliedQuestion(1, "", "loading config 3"),
            "There is 1 unapplied change. Apply it before loading config 3?");
  EXPECT_EQ(vecta::gui::UnappliedQuestion(4, "Advanced options window", "closing the window"),
            "There are 4 unapplied changes in the Advanced options window. Apply them before closing the window?");
}

}  // namespace
