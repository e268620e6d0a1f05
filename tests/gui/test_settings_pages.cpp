// The settings pages in the real windows against a simulated unit: what the
// full refresh shows on the main settings page and on the five pages of the
// Advanced options window for each unit variant, how the Advanced options
// and satellite modulator windows open, what Apply writes, what Enter does,
// and the page rules as the operator triggers them.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "gui/main_window.h"
#include "gui/qt_control_host.h"
#include "gui/settings_windows.h"
#include "pages/layouts.h"
#include "params/control_ids.h"
#include "params/convert.h"
#include "params/descriptor.h"
#include "support_pages.h"

namespace {

using vecta::gui::AdvancedOptionsWindow;
using vecta::gui::MainWindow;
using vecta::gui::QtControlHost;
using vecta::gui::SatmodWindow;
using vecta::pages::Entry;
using vecta::pages::PageId;
using vecta::params::MessageIcon;
using vecta::params::RowDescriptor;
using vecta::params::Variant;
using vecta::test::pages_rig::PagesRig;
using vecta::test::pages_rig::SimUnit;
namespace ids = vecta::params::ids;
using Strings = std::vector<std::string>;

constexpr PageId kAdvancedPages[] = {PageId::UnitInformation, PageId::Modulation, PageId::Audio, PageId::Video,
                                     PageId::UnitParameters};
constexpr int kTabUnitInformation = 0, kTabModulation = 1, kTabAudio = 2, kTabVideo = 3, kTabUnitParameters = 4;

// ------------------------------------------------------------- helpers

std::string S(const QString& s) { return s.toStdString(); }

// The row of the descriptor table that binds a control.
const RowDescriptor& RowOf(std::span<const RowDescriptor> table, int control) {
  for (const RowDescriptor& row : table)
    if (row.control == control) return row;
  ADD_FAILURE() << "no row binds control " << control;
  static const RowDescriptor none{"none", 0, false, vecta::params::Kind::Text, 0, nullptr};
  return none;
}
const RowDescriptor& MainRow(int control) { return RowOf(vecta::params::MainTableRows(), control); }

// What a list control offers: the row's options without "/empty/".
Strings Offered(int control) { return vecta::params::OfferedOptions(*MainRow(control).options); }

// The entry a list shows for the unit's wire value.
std::string OptionForWire(int control, int wire) {
  const RowDescriptor& row = MainRow(control);
  const std::int32_t position = vecta::params::WireToPosition(*row.options, wire);
  const Strings offered = vecta::params::OfferedOptions(*row.options);
  if (position < 0 || position >= static_cast<std::int32_t>(offered.size())) return "(no entry)";
  return offered[static_cast<std::size_t>(position)];
}

Strings Entries(const QComboBox* combo) {
  Strings out;
  for (int i = 0; i < combo->count(); ++i) out.push_back(S(combo->itemText(i)));
  return out;
}

// The reads a refresh of the main table makes on a variant, in table order.
Strings MainTableReads(const std::string& address, Variant variant) {
  Strings reads;
  for (const RowDescriptor& row : vecta::params::MainTableRows())
    if (vecta::params::RowExists(row, variant) && !row.Derived())
      reads.push_back(address + "r" + row.mnemonic + ";;");
  return reads;
}
Strings SatmodTableReads(const std::string& address) {
  Strings reads;
  for (const RowDescriptor& row : vecta::params::SatmodTableRows())
    reads.push_back(address + "r" + row.mnemonic + ";;");
  return reads;
}

template <typename W>
W* Widget(QtControlHost& host, int id) {
  W* w = qobject_cast<W*>(host.Find(id));
  EXPECT_NE(w, nullptr) << "control " << id;
  return w;
}

// The operator picks entry `index` of a drop-down list.
void Pick(QComboBox* combo, int index) {
  ASSERT_NE(combo, nullptr);
  ASSERT_LT(index, combo->count());
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}
void PickText(QComboBox* combo, const std::string& text) {
  ASSERT_NE(combo, nullptr);
  const int index = combo->findText(QString::fromStdString(text));
  ASSERT_GE(index, 0) << "no entry \"" << text << "\"";
  Pick(combo, index);
}

// Replaces an edit's text as typing does.
void Type(QLineEdit* edit, const QString& text) {
  ASSERT_NE(edit, nullptr);
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
  ASSERT_EQ(edit->text(), text);
}

void Press(QtControlHost& host, int id) {
  auto* button = qobject_cast<QAbstractButton*>(host.Find(id));
  ASSERT_NE(button, nullptr) << "button " << id;
  ASSERT_TRUE(button->isEnabled()) << "button " << id;
  button->click();
}

int TopLevelCount(const char* className) {
  int n = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->inherits(className) && !w->testAttribute(Qt::WA_WState_Hidden) && w->isVisible()) ++n;
  return n;
}

// Every control and caption id of a page.
std::set<int> AllIds(PageId page) {
  std::set<int> ids;
  for (const Entry& e : vecta::pages::Layout(page).entries) {
    if (e.control > 0) ids.insert(e.control);
    if (e.caption.id > 0) ids.insert(e.caption.id);
  }
  return ids;
}

// Checks that exactly the ids the layout shows on `variant` are visible on
// `page` (a shown, current page), leaving out `byValue`, whose visibility the
// loaded values decide and which the caller checks. Captions without an id
// of their own must follow their control.
void ExpectLayout(QWidget* page, PageId layout, Variant variant, const std::set<int>& byValue) {
  ASSERT_NE(page, nullptr);
  QtControlHost host(page);
  const std::vector<int> visible = vecta::pages::VisibleIds(layout, variant);
  const std::set<int> shown(visible.begin(), visible.end());
  for (int id : AllIds(layout)) {
    if (byValue.count(id)) continue;
    QWidget* w = host.Find(id);
    if (!w) {
      ADD_FAILURE() << "page " << int(layout) << " has no control " << id;
      continue;
    }
    const bool expected = shown.count(id) > 0;
    EXPECT_EQ(w->isVisibleTo(page), expected) << "page " << int(layout) << ", id " << id;
    EXPECT_EQ(w->isVisible(), expected) << "page " << int(layout) << ", id " << id << " (on screen)";
    // Captions with an id read as the variant has them.
    if (auto* label = qobject_cast<QLabel*>(w); label && expected) {
      const std::string_view text = vecta::pages::CaptionText(layout, id, variant);
      if (!text.empty()) {
        EXPECT_EQ(S(label->text()), std::string(text)) << "caption " << id;
      }
    }
  }
  for (QLabel* label : page->findChildren<QLabel*>()) {
    if (vecta::gui::ControlIdOf(label) > 0 || !label->buddy()) continue;
    const int buddy = vecta::gui::ControlIdOf(label->buddy());
    if (byValue.count(buddy)) continue;
    EXPECT_EQ(label->isVisibleTo(page), label->buddy()->isVisibleTo(page))
        << "caption \"" << S(label->text()) << "\" of control " << buddy;
  }
}

void ExpectVisible(QWidget* page, int id, bool visible) {
  QtControlHost host(page);
  QWidget* w = host.Find(id);
  ASSERT_NE(w, nullptr) << "control " << id;
  EXPECT_EQ(w->isVisibleTo(page), visible) << "control " << id;
}

// ------------------------------------------------------------- fixture

class SettingsPages : public ::testing::Test {
 protected:
  void Connect(SimUnit unit) { ASSERT_TRUE(rig.Start(unit)); }

  MainWindow& W() { return rig.Window(); }
  QtControlHost& Main() { return W().Page()->Host(); }
  QWidget* MainPage() { return W().Page(); }

  // Presses "Advanced" and returns the window, with tab `tab` current.
  AdvancedOptionsWindow* OpenAdvanced(int tab = 0) {
    Press(Main(), vecta::gui::ids::kAdvanced);
    PagesRig::Pump();
    AdvancedOptionsWindow* adv = W().Advanced();
    EXPECT_NE(adv, nullptr);
    if (adv) ShowTab(adv, tab);
    return adv;
  }
  static void ShowTab(AdvancedOptionsWindow* adv, int tab) {
    adv->Tabs()->setCurrentIndex(tab);
    PagesRig::Pump();
  }
  QtControlHost& Adv() { return W().Advanced()->Host(); }

  void ExpectNoSleeps() { EXPECT_EQ(rig.Clock().Sleeps(), std::vector<std::int64_t>{}); }
  void ExpectNoMessages() { EXPECT_EQ(rig.Prompter().Texts(), Strings{}); }

  std::string A() { return rig.Address(); }

  PagesRig rig;
};

// =========================================== full refresh: values, layout

// The main settings page shows the unit's values: every list offers its
// descriptor's options and selects the unit's, the edits show its text.
TEST_F(SettingsPages, K240MainPageShowsTheUnitsValuesAndItsLayout) {
  Connect({"K240", false, {"ofre=612.50", "owid=4", "otxm=4", "vinp=8", "aenc=0", "zscr=6"}});
  QtControlHost& page = Main();

  EXPECT_EQ(S(Widget<QLineEdit>(page, ids::kOutputFrequency)->text()), "612.50");
  for (int id : {ids::kBandwidthMode, ids::kPresetTransmitMode, ids::kVideoInput, ids::kAudio, ids::kScrambling})
    EXPECT_EQ(Entries(Widget<QComboBox>(page, id)), Offered(id)) << id;
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kBandwidthMode)->currentText()), "Narrowband");  // 1.25 MHz
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kPresetTransmitMode)->currentText()),
            OptionForWire(ids::kPresetTransmitMode, 4));
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kPresetTransmitMode)->currentText()), "Ultra long range");
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kVideoInput)->currentText()), "SDI PAL");
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kAudio)->currentText()), "Off");
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kScrambling)->currentText()), OptionForWire(ids::kScrambling, 6));
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kScrambling)->currentText()), "AES256");

  // No modulator: the button stays hidden. The HD input format list is a
  // K610 control.
  ExpectLayout(MainPage(), PageId::MainSettings, Variant::K240, {ids::kSatmod});
  ExpectVisible(MainPage(), ids::kSatmod, false);
  EXPECT_EQ(S(Widget<QLabel>(page, ids::kAudioCaption)->text()), "Audio");
  EXPECT_EQ(W().ConfigTabs()->count(), 16);
  ExpectNoMessages();
}

TEST_F(SettingsPages, K610MainPageShowsTheUnitsValuesAndItsLayout) {
  Connect({"K610",
           false,
           {"ofre=500.25", "owid=1", "otxm=2", "vinp=13", "vhdf=8", "a1en=3", "a1in=1", "a2en=4", "a2in=0",
            "zscr=4"}});
  QtControlHost& page = Main();

  EXPECT_EQ(S(Widget<QLineEdit>(page, ids::kOutputFrequency)->text()), "500.25");
  for (int id : {ids::kBandwidthMode, ids::kPresetTransmitMode, ids::kK610VideoInput, ids::kHdInputFormat,
                 ids::kAudioEncoder1Source, ids::kAudioEncoder2Source, ids::kScrambling})
    EXPECT_EQ(Entries(Widget<QComboBox>(page, id)), Offered(id)) << id;
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kBandwidthMode)->currentText()), "DVBT");  // 7 MHz
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kPresetTransmitMode)->currentText()), "Medium range");
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kK610VideoInput)->currentText()),
            OptionForWire(ids::kK610VideoInput, 13));
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kK610VideoInput)->currentText()), "HD HDMI");
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kHdInputFormat)->currentText()), "1080p 25Hz");
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kAudioEncoder1Source)->currentText()),
            "Analogue");  // a1en on, a1in analogue
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kAudioEncoder2Source)->currentText()),
            "Embedded");  // a2en on, a2in embedded
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kScrambling)->currentText()), "AES128");

  // An HD input: the HD input format list shows beside the video input.
  ExpectLayout(MainPage(), PageId::MainSettings, Variant::K610, {ids::kSatmod, ids::kHdInputFormat});
  ExpectVisible(MainPage(), ids::kHdInputFormat, true);
  ExpectVisible(MainPage(), ids::kSatmod, false);
  for (int id :
       {ids::kAudioEncoder1Source, ids::kAudioEncoder2Source, ids::kAudioEncoder2Caption, ids::kK610VideoInput})
    ExpectVisible(MainPage(), id, true);
  for (int id : {ids::kVideoInput, ids::kAudio, ids::kPresetTransmitModeCaption})
    ExpectVisible(MainPage(), id, false);
  ExpectVisible(MainPage(), ids::kPresetTransmitMode, true);  // the list stays, its caption goes
  EXPECT_EQ(S(Widget<QLabel>(page, ids::kAudioCaption)->text()), "Audio encoder 1");
  EXPECT_EQ(S(Widget<QLabel>(page, ids::kAudioEncoder2Caption)->text()), "Audio encoder 2");
  EXPECT_EQ(W().ConfigTabs()->count(), 16);
  ExpectNoMessages();
}

TEST_F(SettingsPages, OtherVariantMainPageShowsTheUnitsValuesAndItsLayout) {
  Connect({"K999", false, {"ofre=700.00", "owid=0", "otxm=1", "vinp=3", "aenc=5", "zscr=1"}});
  QtControlHost& page = Main();

  EXPECT_EQ(S(Widget<QLineEdit>(page, ids::kOutputFrequency)->text()), "700.00");
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kBandwidthMode)->currentText()), "DVBT");
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kPresetTransmitMode)->currentText()), "Short range");
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kVideoInput)->currentText()), "NTSC");
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kAudio)->currentText()), "On");
  EXPECT_EQ(S(Widget<QComboBox>(page, ids::kScrambling)->currentText()), "ABS");

  ExpectLayout(MainPage(), PageId::MainSettings, Variant::Other, {ids::kSatmod});
  ExpectVisible(MainPage(), ids::kSatmod, false);
  EXPECT_EQ(S(Widget<QLabel>(page, ids::kAudioCaption)->text()), "Audio");
  EXPECT_EQ(W().ConfigTabs()->count(), 8);
  ExpectNoMessages();
}

// The five pages of the Advanced options window, tab by tab, as the operator
// sees them.
TEST_F(SettingsPages, K240AdvancedPagesShowTheirVariantsControls) {
  Connect({"K240", false, {"aenc=3", "gnam=Studio7", "odfe=3", "evbr=0"}});
  AdvancedOptionsWindow* adv = OpenAdvanced();
  ASSERT_NE(adv, nullptr);
  ASSERT_EQ(adv->Tabs()->count(), 5);
  for (int tab = 0; tab < 5; ++tab) {
    const PageId page = kAdvancedPages[tab];
    EXPECT_EQ(S(adv->Tabs()->tabText(tab)), std::string(vecta::pages::Layout(page).title));
    ShowTab(adv, tab);
    ExpectLayout(adv->Page(tab), page, Variant::K240, {ids::kLayer1AudioRate, ids::kLayer2AudioRate});
  }
  // "16kHz 8bit Stereo" is below the Layer 2 encoders: the Layer 1 rates.
  ExpectVisible(adv->Page(kTabAudio), ids::kLayer1AudioRate, true);
  ExpectVisible(adv->Page(kTabAudio), ids::kLayer2AudioRate, false);
  EXPECT_EQ(S(Widget<QLabel>(Adv(), ids::kEncodingModeCaption)->text()), "MPEG4 encoding mode");
  EXPECT_EQ(S(Widget<QLabel>(Adv(), ids::kFrameRateCaption)->text()), "MPEG4 frame rate");
  EXPECT_EQ(S(Widget<QLineEdit>(Adv(), ids::kUnitName)->text()), "Studio7");
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kDvbtFecRate)->currentText()), "5/6");
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kAudioEncoder)->currentText()), OptionForWire(ids::kAudioEncoder, 3));
  EXPECT_EQ(Entries(Widget<QComboBox>(Adv(), ids::kModeDataInput)), Offered(ids::kModeDataInput));
  EXPECT_TRUE(Widget<QLineEdit>(Adv(), ids::kSoftwareVersion)->isReadOnly());
  ExpectNoMessages();
}

TEST_F(SettingsPages, K610AdvancedPagesShowTheirVariantsControls) {
  Connect({"K610", false, {"a1en=3", "a2en=1", "vinp=12", "gnam=Field2"}});
  AdvancedOptionsWindow* adv = OpenAdvanced();
  ASSERT_NE(adv, nullptr);
  for (int tab = 0; tab < 5; ++tab) {
    ShowTab(adv, tab);
    ExpectLayout(
        adv->Page(tab), kAdvancedPages[tab], Variant::K610,
        {ids::kEncoder1Layer1Rate, ids::kEncoder1Layer2Rate, ids::kEncoder2Layer1Rate, ids::kEncoder2Layer2Rate});
  }
  // Encoder 1 on a Layer 2 setting, encoder 2 on a Layer 1 setting.
  ExpectVisible(adv->Page(kTabAudio), ids::kEncoder1Layer1Rate, false);
  ExpectVisible(adv->Page(kTabAudio), ids::kEncoder1Layer2Rate, true);
  ExpectVisible(adv->Page(kTabAudio), ids::kEncoder2Layer1Rate, true);
  ExpectVisible(adv->Page(kTabAudio), ids::kEncoder2Layer2Rate, false);
  EXPECT_EQ(S(Widget<QLabel>(Adv(), ids::kEncodingModeCaption)->text()), "Encoding mode");
  EXPECT_EQ(S(Widget<QLabel>(Adv(), ids::kFrameRateCaption)->text()), "Frame rate");
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kK610VideoInput)->currentText()), "HD-SDI");
  EXPECT_EQ(S(Widget<QLineEdit>(Adv(), ids::kUnitName)->text()), "Field2");
  EXPECT_EQ(Entries(Widget<QComboBox>(Adv(), ids::kK610OutputPower)), Offered(ids::kK610OutputPower));
  ExpectNoMessages();
}

TEST_F(SettingsPages, OtherVariantAdvancedPagesShowTheirVariantsControls) {
  Connect({"K999", false, {"aenc=14", "dinp=2"}});
  AdvancedOptionsWindow* adv = OpenAdvanced();
  ASSERT_NE(adv, nullptr);
  for (int tab = 0; tab < 5; ++tab) {
    ShowTab(adv, tab);
    ExpectLayout(adv->Page(tab), kAdvancedPages[tab], Variant::Other,
                 {ids::kLayer1AudioRate, ids::kLayer2AudioRate});
  }
  // A Layer 2 encoder: the Layer 2 rates.
  ExpectVisible(adv->Page(kTabAudio), ids::kLayer1AudioRate, false);
  ExpectVisible(adv->Page(kTabAudio), ids::kLayer2AudioRate, true);
  // "Data" is the four-entry list here.
  EXPECT_EQ(Entries(Widget<QComboBox>(Adv(), ids::kDataInput)), Offered(ids::kDataInput));
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kDataInput)->currentText()), "On even parity");
  ExpectNoMessages();
}

// ========================================== the Advanced options window

TEST_F(SettingsPages, AdvancedWindowOpensFromTheCachedValuesAndOnlyOnce) {
  Connect({"K240", false, {"gnam=Studio7", "otxm=5"}});
  // The unit changes behind the program's back: the window must show what
  // the last refresh read, not ask the unit.
  rig.Direct("wgnam;Elsewhere;");
  rig.Mark();

  AdvancedOptionsWindow* first = OpenAdvanced(kTabUnitParameters);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(rig.Requests(), Strings{});
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(S(first->windowTitle()), "Advanced options");
  EXPECT_EQ(S(Widget<QLineEdit>(Adv(), ids::kUnitName)->text()), "Studio7");
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kPresetTransmitMode)->currentText()), "Extra long range 1");

  // "Advanced" again: the same window, nothing sent.
  QPointer<AdvancedOptionsWindow> kept(first);
  Press(Main(), vecta::gui::ids::kAdvanced);
  PagesRig::Pump();
  EXPECT_EQ(W().Advanced(), first);
  EXPECT_EQ(TopLevelCount("vecta::gui::AdvancedOptionsWindow"), 1);
  EXPECT_EQ(rig.Requests(), Strings{});

  // Closed: gone. Opened again: a new window, again from the cache.
  first->close();
  PagesRig::Pump();
  EXPECT_TRUE(kept.isNull());
  EXPECT_EQ(W().Advanced(), nullptr);
  AdvancedOptionsWindow* second = OpenAdvanced(kTabUnitParameters);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(TopLevelCount("vecta::gui::AdvancedOptionsWindow"), 1);
  EXPECT_EQ(rig.Requests(), Strings{});
  EXPECT_EQ(S(Widget<QLineEdit>(Adv(), ids::kUnitName)->text()), "Studio7");
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kPresetTransmitMode)->currentText()), "Extra long range 1");
  ExpectNoMessages();
}

// ===================================================================== apply

TEST_F(SettingsPages, MainApplyWritesOnlyTheTwoChangedControlsThenReadsBack) {
  // Audio off, so the audio switch has nothing to repeat.
  Connect({"K240", false, {"aenc=0", "otxm=1", "zscr=0"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabModulation);
  ASSERT_NE(adv, nullptr);
  rig.Mark();

  PickText(Widget<QComboBox>(Main(), ids::kPresetTransmitMode), "Long range");  // otxm 3
  PickText(Widget<QComboBox>(Main(), ids::kScrambling), "AES128");              // zscr 4
  Press(Main(), vecta::gui::ids::kMainApply);
  ASSERT_TRUE(rig.Idle());

  const Strings requests = rig.Requests();
  ASSERT_GE(requests.size(), 2u);
  // Table order: zscr before otxm; then the read-back of the whole table.
  EXPECT_EQ(Strings(requests.begin(), requests.begin() + 2), (Strings{A() + "wzscr;4;", A() + "wotxm;3;"}));
  EXPECT_EQ(Strings(requests.begin() + 2, requests.end()), MainTableReads(A(), Variant::K240));
  ExpectNoSleeps();

  EXPECT_EQ(S(Widget<QComboBox>(Main(), ids::kPresetTransmitMode)->currentText()), "Long range");
  EXPECT_EQ(S(Widget<QComboBox>(Main(), ids::kScrambling)->currentText()), "AES128");
  // The open Advanced options window was read back too.
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kPresetTransmitMode)->currentText()), "Long range");
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kScrambling)->currentText()), "AES128");
  EXPECT_EQ(rig.Direct("rotxm;;"), "3");
  EXPECT_EQ(rig.Direct("rzscr;;"), "4");
  rig.Mark();

  // Nothing changed since: Apply sends nothing and reads nothing back.
  Press(Main(), vecta::gui::ids::kMainApply);
  ASSERT_TRUE(rig.Idle());
  EXPECT_EQ(rig.Requests(), Strings{});
  ExpectNoMessages();
}

// The page shows the unit's value again after a write it refused; the
// status line says which.
TEST_F(SettingsPages, AWriteTheUnitRefusedIsNamedInTheStatusLine) {
  Connect({"K240", false, {"aenc=0", "ofre=474"}});
  Type(Widget<QLineEdit>(Main(), ids::kOutputFrequency), QStringLiteral("99999"));
  Press(Main(), ids::kMainApply);
  ASSERT_TRUE(rig.Idle());
  EXPECT_EQ(S(Widget<QLineEdit>(Main(), ids::kOutputFrequency)->text()), "474.00");
  EXPECT_EQ(S(W().StatusText()), "The unit refused: Output frequency");
  ExpectNoMessages();
}

TEST_F(SettingsPages, AdvancedApplyWithNothingChangedSendsNothing) {
  Connect({"K240", false, {"aenc=0", "evbr=0"}});
  ASSERT_NE(OpenAdvanced(), nullptr);
  rig.Mark();
  Press(Adv(), vecta::gui::ids::kWindowApply);
  ASSERT_TRUE(rig.Idle());
  // No writes, no page read back, no full refresh.
  EXPECT_EQ(rig.Requests(), Strings{});
  ExpectNoSleeps();
  ExpectNoMessages();
}

TEST_F(SettingsPages, K610AdvancedApplyWithNothingChangedSendsNothing) {
  Connect({"K610", false, {"a1en=0", "a2en=3", "evbr=0"}});
  ASSERT_NE(OpenAdvanced(), nullptr);
  rig.Mark();
  Press(Adv(), vecta::gui::ids::kWindowApply);
  ASSERT_TRUE(rig.Idle());
  EXPECT_EQ(rig.Requests(), Strings{});
  ExpectNoSleeps();
}

// Enter in an edit of a page is Apply: the changed name is written, that
// page read back, then the full refresh without the window.
TEST_F(SettingsPages, EnterInAnAdvancedPageRunsApply) {
  Connect({"K240", false, {"aenc=0", "gnam=Studio7"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabUnitParameters);
  ASSERT_NE(adv, nullptr);
  rig.Mark();

  auto* name = Widget<QLineEdit>(Adv(), ids::kUnitName);
  Type(name, "Desk9");
  QTest::keyClick(name, Qt::Key_Return);
  ASSERT_TRUE(rig.Idle());

  const Strings requests = rig.Requests();
  EXPECT_EQ(PagesRig::WritesOf(requests), Strings{A() + "wgnam;Desk9;"});
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.front(), A() + "wgnam;Desk9;");
  // The page's read-back, then the full refresh: board type, config, table.
  Strings expected = {A() + "wgnam;Desk9;"};
  const Strings table = MainTableReads(A(), Variant::K240);
  expected.insert(expected.end(), table.begin(), table.end());
  expected.push_back(A() + "rgbty;;");
  expected.push_back(A() + "rglod;;");
  expected.insert(expected.end(), table.begin(), table.end());
  EXPECT_EQ(requests, expected);
  EXPECT_EQ(S(name->text()), "Desk9");
  EXPECT_EQ(rig.Direct("rgnam;;"), "Desk9");
  ExpectNoSleeps();

  // Enter on a drop-down list of another page applies as well.
  ShowTab(adv, kTabModulation);
  auto* fec = Widget<QComboBox>(Adv(), ids::kDvbtFecRate);
  PickText(fec, "7/8");
  fec->setFocus();
  QTest::keyClick(fec, Qt::Key_Return);
  ASSERT_TRUE(rig.Idle());
  EXPECT_EQ(PagesRig::WritesOf(rig.Requests()), Strings{A() + "wodfe;4;"});
  ExpectNoMessages();
}

TEST_F(SettingsPages, EnterInTheMainPageDoesNothing) {
  Connect({"K240", false, {"aenc=0", "otxm=1"}});
  PickText(Widget<QComboBox>(Main(), ids::kPresetTransmitMode), "Long range");
  auto* frequency = Widget<QLineEdit>(Main(), ids::kOutputFrequency);
  frequency->setFocus();
  QTest::keyClick(frequency, Qt::Key_Return);
  QTest::keyClick(frequency, Qt::Key_Enter);
  auto* mode = Widget<QComboBox>(Main(), ids::kPresetTransmitMode);
  mode->setFocus();
  QTest::keyClick(mode, Qt::Key_Return);
  QTest::keyClick(&W(), Qt::Key_Return);
  ASSERT_TRUE(rig.Idle());
  EXPECT_EQ(rig.Requests(), Strings{});
  EXPECT_EQ(S(mode->currentText()), "Long range");  // still the operator's choice
  EXPECT_TRUE(W().isVisible());
  ExpectNoMessages();
}

// The pages are applied from the last to the first: "Unit parameters" is
// written (and read back) before "Modulation", although the table lists the
// FEC rate first.
TEST_F(SettingsPages, AdvancedApplyWritesUnitParametersBeforeModulation) {
  Connect({"K240", false, {"aenc=0", "odfe=0", "gnam=Studio7"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabModulation);
  ASSERT_NE(adv, nullptr);
  PickText(Widget<QComboBox>(Adv(), ids::kDvbtFecRate), "3/4");
  ShowTab(adv, kTabUnitParameters);
  Type(Widget<QLineEdit>(Adv(), ids::kUnitName), "Van3");
  rig.Mark();

  Press(Adv(), vecta::gui::ids::kWindowApply);
  ASSERT_TRUE(rig.Idle());
  const Strings requests = rig.Requests();
  EXPECT_EQ(PagesRig::WritesOf(requests), (Strings{A() + "wgnam;Van3;", A() + "wodfe;2;"}));
  const auto gnam = std::find(requests.begin(), requests.end(), A() + "wgnam;Van3;");
  const auto odfe = std::find(requests.begin(), requests.end(), A() + "wodfe;2;");
  ASSERT_NE(gnam, requests.end());
  ASSERT_NE(odfe, requests.end());
  // Between them, the "Unit parameters" page is read back.
  const Strings table = MainTableReads(A(), Variant::K240);
  EXPECT_EQ(Strings(gnam + 1, odfe), table);
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kDvbtFecRate)->currentText()), "3/4");
  EXPECT_EQ(S(Widget<QLineEdit>(Adv(), ids::kUnitName)->text()), "Van3");
  ExpectNoSleeps();
  ExpectNoMessages();
}

// ================================================ rules while the operator acts

TEST_F(SettingsPages, R1K610VideoInputShowsTheHdFormatListForHdInputs) {
  Connect({"K610", false, {"vinp=8"}});
  ExpectVisible(MainPage(), ids::kHdInputFormat, false);  // SDI PAL
  auto* input = Widget<QComboBox>(Main(), ids::kK610VideoInput);
  PickText(input, "HD HDMI");
  ExpectVisible(MainPage(), ids::kHdInputFormat, true);
  PickText(input, "SDI PAL");
  ExpectVisible(MainPage(), ids::kHdInputFormat, false);
  PickText(input, "HD-SDI");
  ExpectVisible(MainPage(), ids::kHdInputFormat, true);
  PickText(input, "HDMI NTSC");
  ExpectVisible(MainPage(), ids::kHdInputFormat, false);
  EXPECT_EQ(rig.Requests(), Strings{});
}

// K240, MPEG4 at SIF size: a new video input refits only the four picture
// sizes; "SIF" stays selected.
TEST_F(SettingsPages, R2VideoInputRefitsTheResolutionSizes) {
  Connect({"K240", false, {"vinp=2", "eenc=1", "ecmd=4", "ehor=1"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabVideo);
  ASSERT_NE(adv, nullptr);
  auto* resolution = Widget<QComboBox>(Adv(), ids::kResolution);
  EXPECT_EQ(Entries(resolution), (Strings{"704 x 576", "528 x 576", "480 x 576", "352 x 576", "SIF", "QSIF"}));
  EXPECT_EQ(S(resolution->currentText()), "SIF");

  // From the main settings page.
  PickText(Widget<QComboBox>(Main(), ids::kVideoInput), "NTSC");
  EXPECT_EQ(Entries(resolution), (Strings{"704 x 480", "528 x 480", "480 x 480", "352 x 480", "SIF", "QSIF"}));
  EXPECT_EQ(resolution->currentIndex(), 4);
  EXPECT_EQ(S(resolution->currentText()), "SIF");

  // From the "Video" page.
  PickText(Widget<QComboBox>(Adv(), ids::kVideoInput), "S-Video PAL");
  EXPECT_EQ(Entries(resolution), (Strings{"704 x 576", "528 x 576", "480 x 576", "352 x 576", "SIF", "QSIF"}));
  EXPECT_EQ(S(resolution->currentText()), "SIF");
  EXPECT_EQ(rig.Requests(), Strings{});

  // With the window closed, the main page's video input changes nothing else.
  adv->close();
  PagesRig::Pump();
  PickText(Widget<QComboBox>(Main(), ids::kVideoInput), "SDI NTSC");
  EXPECT_EQ(rig.Requests(), Strings{});
  EXPECT_EQ(S(Widget<QComboBox>(Main(), ids::kVideoInput)->currentText()), "SDI NTSC");
}

TEST_F(SettingsPages, R3ManualEnablesTheBitrate) {
  Connect({"K240", false, {"evbr=0"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabVideo);
  ASSERT_NE(adv, nullptr);
  auto* manual = Widget<QCheckBox>(Adv(), ids::kManual);
  auto* bitrate = Widget<QLineEdit>(Adv(), ids::kVideoBitrate);
  EXPECT_FALSE(manual->isChecked());
  EXPECT_FALSE(bitrate->isEnabled());
  EXPECT_EQ(S(bitrate->text()), "4.000");
  QTest::mouseClick(manual, Qt::LeftButton);
  EXPECT_TRUE(manual->isChecked());
  EXPECT_TRUE(bitrate->isEnabled());
  QTest::mouseClick(manual, Qt::LeftButton);
  EXPECT_FALSE(manual->isChecked());
  EXPECT_FALSE(bitrate->isEnabled());
  EXPECT_EQ(rig.Requests(), Strings{});
}

TEST_F(SettingsPages, R4AudioEncoderChoosesTheRateList) {
  Connect({"K240", false, {"aenc=0"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabAudio);
  ASSERT_NE(adv, nullptr);
  QWidget* page = adv->Page(kTabAudio);
  auto* encoder = Widget<QComboBox>(Adv(), ids::kAudioEncoder);
  EXPECT_EQ(Entries(Widget<QComboBox>(Adv(), ids::kLayer1AudioRate)), Offered(ids::kLayer1AudioRate));
  EXPECT_EQ(Entries(Widget<QComboBox>(Adv(), ids::kLayer2AudioRate)), Offered(ids::kLayer2AudioRate));
  EXPECT_EQ(Offered(ids::kLayer1AudioRate).back(), "448kbits/s");
  EXPECT_EQ(Offered(ids::kLayer2AudioRate).back(), "384kbits/s");

  Pick(encoder, 13);
  EXPECT_EQ(S(encoder->currentText()), "MPEG Layer 2 32kHz Stereo");
  ExpectVisible(page, ids::kLayer2AudioRate, true);
  ExpectVisible(page, ids::kLayer1AudioRate, false);
  Pick(encoder, 12);
  EXPECT_EQ(S(encoder->currentText()), "MPEG Layer 1 48KHz Mono");
  ExpectVisible(page, ids::kLayer1AudioRate, true);
  ExpectVisible(page, ids::kLayer2AudioRate, false);
  Pick(encoder, 16);
  ExpectVisible(page, ids::kLayer2AudioRate, true);
  Pick(encoder, 0);
  ExpectVisible(page, ids::kLayer1AudioRate, true);
  ExpectVisible(page, ids::kLayer2AudioRate, false);
  EXPECT_EQ(rig.Requests(), Strings{});
}

TEST_F(SettingsPages, R5MpegModeAddsAndRemovesTheSmallSizes) {
  Connect({"K240", false, {"vinp=2", "eenc=0", "ehor=2"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabVideo);
  ASSERT_NE(adv, nullptr);
  auto* resolution = Widget<QComboBox>(Adv(), ids::kResolution);
  auto* mode = Widget<QComboBox>(Adv(), ids::kMpegMode);
  auto* encodingMode = Widget<QComboBox>(Adv(), ids::kMpeg4EncodingMode);
  EXPECT_EQ(Entries(resolution), (Strings{"704 x 576", "528 x 576", "480 x 576", "352 x 576"}));
  EXPECT_EQ(resolution->currentIndex(), 2);
  EXPECT_FALSE(encodingMode->isEnabled());  // MPEG2 has no encoding mode

  PickText(mode, "MPEG4");
  EXPECT_EQ(Entries(resolution), (Strings{"704 x 576", "528 x 576", "480 x 576", "352 x 576", "SIF", "QSIF"}));
  EXPECT_EQ(resolution->currentIndex(), 2);
  EXPECT_TRUE(encodingMode->isEnabled());

  // QSIF: no encoding mode of its own.
  PickText(resolution, "QSIF");
  EXPECT_FALSE(encodingMode->isEnabled());
  PickText(resolution, "528 x 576");
  EXPECT_TRUE(encodingMode->isEnabled());
  PickText(resolution, "SIF");

  // Back to MPEG2: the small sizes go, the unit's last resolution returns.
  PickText(mode, "MPEG2");
  EXPECT_EQ(Entries(resolution), (Strings{"704 x 576", "528 x 576", "480 x 576", "352 x 576"}));
  EXPECT_EQ(resolution->currentIndex(), 2);
  EXPECT_FALSE(encodingMode->isEnabled());
  EXPECT_EQ(rig.Requests(), Strings{});
}

// A unit at QSIF (encoding mode 5): the refresh shows six sizes with QSIF
// and the newly opened window disables the encoding mode; picking a picture
// size brings the mode back at "Low delay interlaced".
TEST_F(SettingsPages, R6ResolutionFromQsifSelectsLowDelayInterlaced) {
  Connect({"K240", false, {"vinp=2", "eenc=1", "ecmd=5", "ehor=3"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabVideo);
  ASSERT_NE(adv, nullptr);
  auto* resolution = Widget<QComboBox>(Adv(), ids::kResolution);
  auto* encodingMode = Widget<QComboBox>(Adv(), ids::kMpeg4EncodingMode);
  EXPECT_EQ(resolution->count(), 6);
  EXPECT_EQ(S(resolution->currentText()), "QSIF");
  EXPECT_FALSE(encodingMode->isEnabled());
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kMpegMode)->currentText()), "MPEG4");

  PickText(resolution, "704 x 576");
  EXPECT_EQ(encodingMode->currentIndex(), 0);
  EXPECT_EQ(S(encodingMode->currentText()), "Low delay interlaced");
  EXPECT_TRUE(encodingMode->isEnabled());
  EXPECT_EQ(rig.Requests(), Strings{});

  // The unit still encodes at QSIF: a refresh that includes the window
  // (remembered encoder and mode, then the resolution list) rebuilds the
  // six sizes and selects QSIF again.
  Press(Main(), vecta::gui::ids::kMainRefresh);
  ASSERT_TRUE(rig.Idle());
  EXPECT_EQ(Entries(resolution), (Strings{"704 x 576", "528 x 576", "480 x 576", "352 x 576", "SIF", "QSIF"}));
  EXPECT_EQ(S(resolution->currentText()), "QSIF");
  ExpectNoMessages();
}

// ======================================================= rules on loading

TEST_F(SettingsPages, R8LayerTwoEncoderShowsTheLayerTwoRatesOnLoad) {
  Connect({"K240", false, {"aenc=15", "ampr=3"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabAudio);
  ASSERT_NE(adv, nullptr);
  QWidget* page = adv->Page(kTabAudio);
  ExpectVisible(page, ids::kLayer2AudioRate, true);
  ExpectVisible(page, ids::kLayer1AudioRate, false);
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kLayer2AudioRate)->currentText()),
            OptionForWire(ids::kLayer2AudioRate, 3));
  EXPECT_EQ(S(Widget<QComboBox>(Main(), ids::kAudio)->currentText()), "On");

  // The unit moves to a Layer 1 encoder; the page's Refresh loads the open
  // window as well.
  rig.Direct("waenc;9;");
  rig.Mark();
  Press(Main(), vecta::gui::ids::kMainRefresh);
  ASSERT_TRUE(rig.Idle());
  ExpectVisible(page, ids::kLayer1AudioRate, true);
  ExpectVisible(page, ids::kLayer2AudioRate, false);
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kAudioEncoder)->currentText()), "MPEG Layer 1 32KHz Stereo");
  const Strings requests = rig.Requests();
  Strings expected = {A() + "rgbty;;", A() + "rglod;;"};
  const Strings table = MainTableReads(A(), Variant::K240);
  expected.insert(expected.end(), table.begin(), table.end());
  EXPECT_EQ(requests, expected);
  ExpectNoMessages();
}

TEST_F(SettingsPages, R9K610EncodersChooseTheirRateLists) {
  Connect({"K610", false, {"a1en=3", "a2en=1", "vinp=12"}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabAudio);
  ASSERT_NE(adv, nullptr);
  QWidget* page = adv->Page(kTabAudio);
  ExpectVisible(page, ids::kEncoder1Layer1Rate, false);
  ExpectVisible(page, ids::kEncoder1Layer2Rate, true);
  ExpectVisible(page, ids::kEncoder2Layer1Rate, true);
  ExpectVisible(page, ids::kEncoder2Layer2Rate, false);
  ExpectVisible(MainPage(), ids::kHdInputFormat, true);  // a loaded HD-SDI shows it

  // The window's own Refresh after the unit changed both encoders and its
  // video input.
  rig.Direct("wa1en;2;");
  rig.Direct("wa2en;4;");
  rig.Direct("wvinp;9;");
  Press(Adv(), vecta::gui::ids::kWindowRefresh);
  ASSERT_TRUE(rig.Idle());
  ExpectVisible(page, ids::kEncoder1Layer1Rate, true);
  ExpectVisible(page, ids::kEncoder1Layer2Rate, false);
  ExpectVisible(page, ids::kEncoder2Layer1Rate, false);
  ExpectVisible(page, ids::kEncoder2Layer2Rate, true);
  ExpectVisible(MainPage(), ids::kHdInputFormat, false);  // a loaded SDI NTSC hides it
  // The "Video" page's own HD input format list is not the main page's:
  // loading through the main page's refresh leaves it shown.
  ShowTab(adv, kTabVideo);
  ExpectVisible(adv->Page(kTabVideo), ids::kHdInputFormat, true);
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kK610VideoInput)->currentText()), "SDI NTSC");
  EXPECT_EQ(S(Widget<QComboBox>(Main(), ids::kK610VideoInput)->currentText()), "SDI NTSC");
  ExpectNoMessages();
}

TEST_F(SettingsPages, R12ManualBitrateTicksManualAndEnablesTheBitrate) {
  Connect({"K240", false, {}});
  // The unit goes over to a manual bitrate (its bitrate follows), and a
  // refresh brings both into the cache the window opens from.
  rig.Direct("wevbr;4500;");
  Press(Main(), vecta::gui::ids::kMainRefresh);
  ASSERT_TRUE(rig.Idle());
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabVideo);
  ASSERT_NE(adv, nullptr);
  auto* manual = Widget<QCheckBox>(Adv(), ids::kManual);
  auto* bitrate = Widget<QLineEdit>(Adv(), ids::kVideoBitrate);
  EXPECT_TRUE(manual->isChecked());
  EXPECT_TRUE(bitrate->isEnabled());
  EXPECT_EQ(S(bitrate->text()), "4.500");
  ExpectVisible(adv->Page(kTabVideo), ids::kManual, true);

  // Back to the automatic bitrate on the unit; a refresh that includes the
  // window follows it.
  rig.Direct("wevbr;0;");
  Press(Main(), vecta::gui::ids::kMainRefresh);
  ASSERT_TRUE(rig.Idle());
  EXPECT_FALSE(manual->isChecked());
  EXPECT_FALSE(bitrate->isEnabled());
  EXPECT_EQ(S(bitrate->text()), "4.000");
  ExpectNoMessages();
}

// ================================================ the satellite modulator

TEST_F(SettingsPages, SatmodButtonOnlyOnK240WithAModulator) {
  Connect({"K240", true, {}});
  ExpectVisible(MainPage(), vecta::gui::ids::kSatmod, true);
  EXPECT_TRUE(Main().Find(vecta::gui::ids::kSatmod)->isVisible());
}

TEST_F(SettingsPages, SatmodButtonHiddenOnK610EvenWithAModulator) {
  Connect({"K610", true, {}});
  EXPECT_FALSE(rig.Direct("rsver;;").empty());  // the modulator answers
  ExpectVisible(MainPage(), vecta::gui::ids::kSatmod, false);
}

// Enter on a focused button presses that button; elsewhere it applies.
TEST_F(SettingsPages, EnterOnAFocusedButtonPressesIt) {
  Connect({"K240", false, {}});
  AdvancedOptionsWindow* adv = OpenAdvanced(kTabUnitParameters);
  ASSERT_NE(adv, nullptr);
  QSignalSpy pressed(adv, &AdvancedOptionsWindow::ButtonPressed);
  auto* refresh = Widget<QPushButton>(Adv(), vecta::gui::ids::kWindowRefresh);
  refresh->setFocus();
  QTest::keyClick(refresh, Qt::Key_Return);
  ASSERT_TRUE(rig.Idle());
  ASSERT_EQ(pressed.count(), 1);
  EXPECT_EQ(pressed[0][0].toInt(), vecta::gui::ids::kWindowRefresh);
  QLineEdit* name = nullptr;
  for (auto* e : adv->Page(kTabUnitParameters)->findChildren<QLineEdit*>())
    if (e->isVisible() && !name) name = e;
  ASSERT_NE(name, nullptr);
  name->setFocus();
  QTest::keyClick(name, Qt::Key_Return);
  ASSERT_TRUE(rig.Idle());
  ASSERT_EQ(pressed.count(), 2);
  EXPECT_EQ(pressed[1][0].toInt(), vecta::gui::ids::kWindowApply);

  SatmodWindow satmod{QIcon()};
  satmod.setAttribute(Qt::WA_DeleteOnClose, false);
  satmod.show();
  QSignalSpy satPressed(&satmod, &SatmodWindow::ButtonPressed);
  QPushButton* apply = nullptr;
  for (auto* b : satmod.findChildren<QPushButton*>())
    if (b->text() == "Apply") apply = b;
  ASSERT_NE(apply, nullptr);
  apply->setFocus();
  QTest::keyClick(apply, Qt::Key_Return);
  ASSERT_EQ(satPressed.count(), 1);
  EXPECT_EQ(satPressed[0][0].toInt(), vecta::gui::ControlIdOf(apply));
}

TEST_F(SettingsPages, SatmodWindowReadsWritesAndIgnoresEnter) {
  Connect({"K240", true, {"srol=35", "slev=100", "aenc=0"}});
  QtControlHost& page = Main();
  Press(page, vecta::gui::ids::kSatmod);
  ASSERT_TRUE(rig.Idle());
  SatmodWindow* satmod = W().Satmod();
  ASSERT_NE(satmod, nullptr);
  EXPECT_TRUE(satmod->isVisible());
  EXPECT_EQ(S(satmod->windowTitle()), "Satellite modulator");
  // Opening reads the modulator, row by row in table order.
  EXPECT_EQ(rig.Requests(), SatmodTableReads(A()));
  QtControlHost& host = satmod->Host();
  EXPECT_EQ(S(Widget<QLineEdit>(host, ids::kRollOff)->text()), "0.35");
  EXPECT_EQ(S(Widget<QLineEdit>(host, ids::kSignalLevel)->text()), "-10.0");
  EXPECT_FALSE(Widget<QLineEdit>(host, ids::kModulatorVersion)->text().isEmpty());
  EXPECT_TRUE(Widget<QLineEdit>(host, ids::kModulatorVersion)->isReadOnly());
  EXPECT_TRUE(Widget<QLineEdit>(host, ids::kModulatorTemperature)->isReadOnly());
  EXPECT_EQ(Entries(Widget<QComboBox>(host, ids::kFecRate)).size(), 13u);

  // Pressed again: the same window, nothing read.
  QPointer<SatmodWindow> kept(satmod);
  Press(page, vecta::gui::ids::kSatmod);
  ASSERT_TRUE(rig.Idle());
  EXPECT_EQ(W().Satmod(), satmod);
  EXPECT_EQ(TopLevelCount("vecta::gui::SatmodWindow"), 1);
  EXPECT_EQ(rig.Requests(), Strings{});

  // Enter changes nothing: no write, the window stays.
  auto* level = Widget<QLineEdit>(host, ids::kSignalLevel);
  auto* rollOff = Widget<QLineEdit>(host, ids::kRollOff);
  Type(level, "-5.5");
  QTest::keyClick(level, Qt::Key_Return);
  QTest::keyClick(satmod, Qt::Key_Enter);
  ASSERT_TRUE(rig.Idle());
  EXPECT_EQ(rig.Requests(), Strings{});
  EXPECT_FALSE(kept.isNull());
  EXPECT_TRUE(satmod->isVisible());
  EXPECT_EQ(S(level->text()), "-5.5");

  // Apply writes the two typed values in table order, then reads back.
  Type(rollOff, "0.25");
  Press(host, vecta::gui::ids::kWindowApply);
  ASSERT_TRUE(rig.Idle());
  Strings expected = {A() + "wsrol;25;", A() + "wslev;55;"};
  const Strings reads = SatmodTableReads(A());
  expected.insert(expected.end(), reads.begin(), reads.end());
  EXPECT_EQ(rig.Requests(), expected);
  EXPECT_EQ(S(level->text()), "-5.5");
  EXPECT_EQ(S(rollOff->text()), "0.25");
  EXPECT_EQ(rig.Direct("rslev;;"), "55");
  EXPECT_EQ(rig.Direct("rsrol;;"), "25");
  ExpectNoSleeps();

  // Closed and opened again: the modulator is read again.
  satmod->close();
  PagesRig::Pump();
  EXPECT_TRUE(kept.isNull());
  rig.Mark();
  Press(page, vecta::gui::ids::kSatmod);
  ASSERT_TRUE(rig.Idle());
  ASSERT_NE(W().Satmod(), nullptr);
  EXPECT_EQ(rig.Requests(), SatmodTableReads(A()));
  ExpectNoMessages();
}

// "Refresh" in the modulator window is the full refresh: the main settings
// page, the open Advanced options window and the modulator window itself.
TEST_F(SettingsPages, SatmodRefreshRefreshesEveryOpenWindow) {
  Connect({"K240", true, {"zscr=0", "gnam=Studio7", "scar=1000.5"}});
  ASSERT_NE(OpenAdvanced(kTabUnitParameters), nullptr);
  Press(Main(), vecta::gui::ids::kSatmod);
  ASSERT_TRUE(rig.Idle());
  SatmodWindow* satmod = W().Satmod();
  ASSERT_NE(satmod, nullptr);
  EXPECT_EQ(S(Widget<QLineEdit>(satmod->Host(), ids::kCarrierFrequency)->text()), "1000.5");

  rig.Direct("wzscr;1;");
  rig.Direct("wgnam;Remote;");
  rig.Direct("wscar;1234.25;");
  rig.Mark();
  Press(satmod->Host(), vecta::gui::ids::kWindowRefresh);
  ASSERT_TRUE(rig.Idle());

  Strings expected = {A() + "rgbty;;", A() + "rglod;;"};
  const Strings table = MainTableReads(A(), Variant::K240);
  const Strings satmodReads = SatmodTableReads(A());
  expected.insert(expected.end(), table.begin(), table.end());
  expected.insert(expected.end(), satmodReads.begin(), satmodReads.end());
  EXPECT_EQ(rig.Requests(), expected);
  EXPECT_EQ(S(Widget<QComboBox>(Main(), ids::kScrambling)->currentText()), "ABS");
  EXPECT_EQ(S(Widget<QComboBox>(Adv(), ids::kScrambling)->currentText()), "ABS");
  EXPECT_EQ(S(Widget<QLineEdit>(Adv(), ids::kUnitName)->text()), "Remote");
  EXPECT_EQ(S(Widget<QLineEdit>(satmod->Host(), ids::kCarrierFrequency)->text()), "1234.25");
  ExpectNoMessages();
}

// ======================================================== no connection

TEST_F(SettingsPages, WithoutAConnectionThePageButtonsSayNoConnectionCurrently) {
  rig.StartUnconnected();
  QtControlHost& page = Main();
  for (int id : {vecta::gui::ids::kAdvanced, vecta::gui::ids::kMainApply, vecta::gui::ids::kMainRefresh,
                 vecta::gui::ids::kSatmod}) {
    rig.Prompter().messages.clear();
    if (id == vecta::gui::ids::kSatmod)
      W().OnPageButton(id);  // the button itself is hidden without a modulator
    else
      Press(page, id);
    ASSERT_TRUE(rig.Idle());
    ASSERT_EQ(rig.Prompter().messages.size(), 1u) << "button " << id;
    const auto& shown = rig.Prompter().messages.front();
    EXPECT_EQ(shown.title, "Error") << "button " << id;
    EXPECT_EQ(shown.text, "No connection currently") << "button " << id;
    EXPECT_EQ(shown.icon, MessageIcon::Exclamation) << "button " << id;
  }
  EXPECT_EQ(W().Advanced(), nullptr);
  EXPECT_EQ(W().Satmod(), nullptr);
  EXPECT_EQ(TopLevelCount("vecta::gui::AdvancedOptionsWindow"), 0);
  EXPECT_EQ(TopLevelCount("vecta::gui::SatmodWindow"), 0);
}

}  // namespace
