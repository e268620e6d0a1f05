// How the settings windows look and sit: read-only edits look read-only,
// the main settings page keeps the shape of the unit it shows (also after a
// unit of another variant), lists are as wide as their entries and alike
// across the Advanced options tabs, rows are of one height, buttons keep
// their own width, group boxes keep their controls off their edges, the PID
// lists' popups stay short, and the K610 main page does not move when its
// HD input format list appears.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QTest>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gui/engineering_window.h"
#include "gui/main_window.h"
#include "gui/operation_runner.h"
#include "gui/qt_control_host.h"
#include "gui/settings_windows.h"
#include "link/frame.h"
#include "pages/layouts.h"
#include "params/control_ids.h"
#include "params/descriptor.h"
#include "params/refresh.h"
#include "support/fake_link.h"
#include "support/recording_ui.h"
#include "support_app.h"
#include "support_pages.h"

namespace {

using namespace vecta;
using gui::AdvancedOptionsWindow;
using gui::MainSettingsPage;
using gui::QtControlHost;
using gui::SatmodWindow;
using params::Variant;
using test::AppRig;
using test::SimSetup;
namespace ids = vecta::params::ids;

constexpr Variant kVariants[] = {Variant::K240, Variant::K610, Variant::Other};

std::string Name(Variant v) { return v == Variant::K240 ? "K240" : v == Variant::K610 ? "K610" : "other"; }

// A unit of a variant with nothing read yet, for windows built without a
// connection.
struct Unit {
  explicit Unit(Variant v) {
    context.tables = &tables;
    context.boardType = v == Variant::K240 ? "K240" : v == Variant::K610 ? "K610" : "K999";
  }
  params::ParamTables tables;
  params::UnitContext context;
};

// An Advanced options window opened for a variant, shown.
struct OpenAdvanced {
  explicit OpenAdvanced(Variant v) : unit(v), window(new AdvancedOptionsWindow(unit.context, QIcon())) {
    window->show();
    Settle();
  }
  ~OpenAdvanced() { delete window.data(); }
  void Tab(int index) {
    window->Tabs()->setCurrentIndex(index);
    Settle();
  }
  static void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
  }
  Unit unit;
  QPointer<AdvancedOptionsWindow> window;
};

// The colour an edit is painted with inside its frame, away from its text.
QColor Inside(QLineEdit* edit) {
  const QImage image = edit->grab().toImage();
  return image.pixelColor(image.width() - 6, image.height() / 2);
}

// An edit as it looks when nothing was done to it, in the same window.
std::unique_ptr<QLineEdit> EditableBeside(QWidget* edit) {
  auto plain = std::make_unique<QLineEdit>(edit->parentWidget());
  plain->resize(edit->size());
  return plain;
}

void ExpectReadOnlyLook(QLineEdit* edit) {
  ASSERT_NE(edit, nullptr);
  const auto plain = EditableBeside(edit);
  EXPECT_TRUE(edit->isReadOnly()) << qPrintable(edit->objectName());
  EXPECT_EQ(edit->palette().color(QPalette::Base), edit->palette().color(QPalette::Window))
      << qPrintable(edit->objectName());
  EXPECT_NE(edit->palette().color(QPalette::Base), plain->palette().color(QPalette::Base));
  EXPECT_NE(Inside(edit), Inside(plain.get())) << qPrintable(edit->objectName()) << " is painted as editable";
}

void ExpectEditableLook(QLineEdit* edit) {
  ASSERT_NE(edit, nullptr);
  const auto plain = EditableBeside(edit);
  EXPECT_FALSE(edit->isReadOnly()) << qPrintable(edit->objectName());
  EXPECT_EQ(edit->palette().color(QPalette::Base), plain->palette().color(QPalette::Base));
  EXPECT_EQ(Inside(edit), Inside(plain.get())) << qPrintable(edit->objectName());
}

// =================================================== read-only edits

TEST(ReadOnlyLook, UnitInformationEditsLookReadOnlyAndTheWritableEditsDoNot) {
  for (Variant v : kVariants) {
    SCOPED_TRACE(Name(v));
    OpenAdvanced adv(v);
    QtControlHost& host = adv.window->Host();
    for (const pages::Entry* e : pages::ControlsFor(pages::PageId::UnitInformation, v))
      ExpectReadOnlyLook(qobject_cast<QLineEdit*>(host.Find(e->control)));
    adv.Tab(1);
    ExpectEditableLook(qobject_cast<QLineEdit*>(host.Find(ids::kOutputFrequency)));  // "Output frequency (MHz)"
    adv.Tab(4);
    ExpectEditableLook(qobject_cast<QLineEdit*>(host.Find(ids::kUnitName)));  // "Unit name"
  }
}

TEST(ReadOnlyLook, ModulatorVersionAndTemperatureLookReadOnly) {
  Unit unit(Variant::K240);
  auto* window = new SatmodWindow(QIcon());
  params::InitPage(window->Host(), unit.tables.satmod);
  window->show();
  QApplication::processEvents();
  ExpectReadOnlyLook(qobject_cast<QLineEdit*>(window->Host().Find(ids::kModulatorVersion)));
  ExpectReadOnlyLook(qobject_cast<QLineEdit*>(window->Host().Find(ids::kModulatorTemperature)));
  ExpectEditableLook(qobject_cast<QLineEdit*>(window->Host().Find(ids::kCarrierFrequency)));
  delete window;
}

TEST(ReadOnlyLook, TheHostGivesTheEditableLookBack) {
  QWidget window;
  auto* edit = new QLineEdit(&window);
  constexpr int kEditId = 1300;  // any id
  gui::SetControlId(edit, kEditId);
  window.show();
  QtControlHost host(&window);
  host.SetReadOnly(kEditId, true);
  ExpectReadOnlyLook(edit);
  host.SetReadOnly(kEditId, false);
  ExpectEditableLook(edit);
  host.SetReadOnly(kEditId, false);  // twice changes nothing
  ExpectEditableLook(edit);
}

// The IQ trim page over a scripted unit: at a calibration point the trim
// frequency is locked, in normal operation it is editable, and its look says
// which.
TEST(ReadOnlyLook, TrimFrequencyLooksAsTheTrimModeAllows) {
  test::FakeLink f;
  ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
  std::map<std::string, std::string> values = {{"gbty", "K240"}, {"ciqi", "3"},   {"ciqq", "252"},
                                               {"ofre", "474"},  {"cflo", "400"}, {"cfhi", "500"}};
  f.line().responder = [&values](const test::Bytes& frame) -> std::optional<test::Bytes> {
    const std::string text(frame.begin() + 1, frame.end() - 2);
    const int address = std::atoi(text.substr(0, 4).c_str());
    const std::string m = text.substr(5, 4);
    const auto first = text.find(';');
    const std::string value = text.substr(first + 1, text.find(';', first + 1) - first - 1);
    if (text[4] == 'w') {
      values[m] = value;
      return test::ReplyFrame(address, '1', value);
    }
    const auto it = values.find(m);
    if (it == values.end()) return std::nullopt;
    return test::ReplyFrame(address, '1', it->second);
  };
  std::shared_ptr<link::CRavlenRemoteControl> link{f.link.get(), [](link::CRavlenRemoteControl*) {}};
  app::AppSettings settings;
  test::RecordingPrompter prompter;
  gui::OperationRunner runner;
  QPointer<gui::EngineeringWindow> window = new gui::EngineeringWindow(
      link, "K240", settings, prompter, [] { return true; }, [] { return 1; }, runner, QIcon());
  window->show();
  ASSERT_TRUE(runner.Wait(5000));
  window->Tabs()->setCurrentIndex(2);
  QtControlHost& host = window->Host(gui::EngineeringWindow::Page::IqTrim);
  auto* frequency = qobject_cast<QLineEdit*>(host.Find(gui::eng::kFrequency));
  auto* points = qobject_cast<QComboBox*>(host.Find(gui::eng::kPointList));
  ASSERT_NE(points, nullptr);
  auto select = [&](int entry) {
    points->setCurrentIndex(entry);
    qobject_cast<QAbstractButton*>(host.Find(gui::eng::kSelectPoint))->click();
    ASSERT_TRUE(runner.Wait(5000));
    QApplication::processEvents();
  };
  select(6);  // a calibration point
  ExpectReadOnlyLook(frequency);
  select(0);  // normal operation
  ExpectEditableLook(frequency);
  select(3);
  ExpectReadOnlyLook(frequency);
  runner.Wait(5000);
  delete window.data();
}

// ================================================ the main settings page

// Where every shown widget of a page stands, by control id (captions
// without an id by their text).
std::map<std::string, QRect> Geometries(QWidget* page) {
  std::map<std::string, QRect> out;
  for (QWidget* w : page->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(page) || w->parentWidget() != page) continue;
    std::string key = std::to_string(gui::ControlIdOf(w));
    if (auto* label = qobject_cast<QLabel*>(w); label && gui::ControlIdOf(w) < 0)
      key = label->text().toStdString();
    out[key] = QRect(w->mapTo(page, QPoint(0, 0)), w->size());
  }
  return out;
}

void ConnectOnPort(AppRig& rig, int index) {
  gui::MainWindow& w = rig.Window();
  w.Rs232Button()->click();
  w.PortList()->setCurrentIndex(index);
  QTest::mouseClick(w.ConnectButton(), Qt::LeftButton);
  ASSERT_TRUE(rig.Settle());
  test::PumpFor(50);
}

// After a K610, whose page has one row more ("Audio encoder 2"), a K240's
// page is what it is when the K240 is the first unit: its rows in the same
// places, the window of the same size, and the K610's the same again.
TEST(MainSettingsPage, K240AfterK610HasTheRowsAndHeightOfAFreshK240) {
  std::map<std::string, QRect> fresh;
  int freshPage = 0;
  QSize freshWindow;
  {
    AppRig rig;
    ASSERT_TRUE(rig.AddSim(SimSetup().Board("K240")));
    gui::MainWindow& w = rig.StartWindow();
    ASSERT_TRUE(rig.Settle());
    test::PumpFor(50);
    ASSERT_EQ(w.Unit().boardType, "K240");
    fresh = Geometries(w.Page());
    freshPage = w.Page()->height();
    freshWindow = w.size();
  }
  AppRig rig;
  ASSERT_TRUE(rig.AddSim(SimSetup().Board("K610")));
  ASSERT_TRUE(rig.AddSim(SimSetup().Board("K240")));
  gui::MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.Settle());
  test::PumpFor(50);
  ASSERT_EQ(w.Unit().boardType, "K610");
  const int k610Page = w.Page()->height();
  // The K610 page has a row more and a list beside its video input; the
  // page has their room for every board, so the window keeps one size.
  EXPECT_EQ(k610Page, freshPage);
  EXPECT_EQ(w.size(), freshWindow);
  ConnectOnPort(rig, 1);
  ASSERT_EQ(w.Unit().boardType, "K240");
  EXPECT_EQ(w.Page()->height(), freshPage);
  EXPECT_EQ(w.size(), freshWindow);
  const std::map<std::string, QRect> after = Geometries(w.Page());
  EXPECT_EQ(after.size(), fresh.size());
  for (const auto& [key, rect] : fresh) {
    auto it = after.find(key);
    if (it == after.end()) {
      ADD_FAILURE() << key << " is not shown after the K610";
      continue;
    }
    EXPECT_EQ(it->second.y(), rect.y()) << key;
    EXPECT_EQ(it->second.height(), rect.height()) << key;
  }
  // And back to the K610: its row is there again.
  ConnectOnPort(rig, 0);
  ASSERT_EQ(w.Unit().boardType, "K610");
  EXPECT_EQ(w.Page()->height(), k610Page);
}

// ====================================================== lists and rows

// The widgets of a page that stand in its rows of settings, with the layout
// entry that places them; only those shown.
struct Placed {
  QWidget* widget;
  const pages::Entry* entry;
};
std::vector<Placed> RowControls(QWidget* page, pages::PageId layout, Variant v) {
  std::vector<Placed> out;
  QtControlHost host(page);
  for (const pages::Entry* e : pages::ControlsFor(layout, v)) {
    if (e->place.area != pages::Area::Grid || e->kind == pages::ControlKind::GroupBox ||
        e->kind == pages::ControlKind::TabControl)
      continue;
    QWidget* w = host.Find(e->control);
    if (w && w->isVisibleTo(page)) out.push_back({w, e});
  }
  return out;
}

// Room for text inside a list, left of its arrow.
int TextRoom(QComboBox* combo) {
  QStyleOptionComboBox option;
  option.initFrom(combo);
  option.rect = combo->rect();
  return combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo).width();
}
int Longest(QComboBox* combo) {
  int widest = 0;
  for (int i = 0; i < combo->count(); ++i)
    widest = std::max(widest, combo->fontMetrics().horizontalAdvance(combo->itemText(i)));
  return widest;
}

// A window's pages as the operator sees them, each made current in turn.
struct ShownPage {
  QWidget* page;
  pages::PageId layout;
};

// Checks that the lists of `shown` leave room for their longest entries and
// that each grid column has one width for its lists and edits, starting in
// one place on every page without frames. Returns, per column, the room the
// fullest list has to spare.
std::map<int, int> ExpectListsFitAndAlike(const std::vector<ShownPage>& shown, Variant v,
                                          const std::function<void(int)>& show) {
  std::map<int, std::set<int>> widths;
  std::map<int, int> spare;
  std::map<int, std::set<int>> lefts;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    show(static_cast<int>(i));
    const bool framed = std::any_of(
        pages::Layout(shown[i].layout).entries.begin(), pages::Layout(shown[i].layout).entries.end(),
        [&](const pages::Entry& e) { return e.kind == pages::ControlKind::GroupBox && e.ControlOn(v); });
    for (const Placed& p : RowControls(shown[i].page, shown[i].layout, v)) {
      const int column = p.entry->place.column;
      if (auto* combo = qobject_cast<QComboBox*>(p.widget)) {
        const int room = TextRoom(combo) - Longest(combo);
        EXPECT_GE(room, 0) << "list " << p.entry->control << " is narrower than its longest entry";
        spare[column] = spare.count(column) ? std::min(spare[column], room) : room;
        widths[column].insert(combo->width());
      } else if (qobject_cast<QLineEdit*>(p.widget)) {
        widths[column].insert(p.widget->width());
      } else {
        continue;
      }
      if (!framed) lefts[column].insert(p.widget->mapTo(shown[i].page, QPoint(0, 0)).x());
    }
  }
  for (const auto& [column, set] : widths) {
    EXPECT_EQ(set.size(), 1u) << "column " << column << " has lists and edits of " << set.size() << " widths";
    if (!lefts[column].empty()) {
      EXPECT_EQ(lefts[column].size(), 1u)
          << "column " << column << " starts at " << lefts[column].size() << " places";
    }
  }
  return spare;
}

// A column is not wider than its fullest list needs: a character or two of
// room to spare at most.
void ExpectNoSpareRoom(const std::map<int, int>& spare) {
  const int slack = 2 * QFontMetrics(QApplication::font()).averageCharWidth();
  for (const auto& [column, room] : spare)
    EXPECT_LE(room, slack) << "column " << column << " is wider than its longest entry";
}

// A caption marked as changed turns bold: no control moves for it, on the
// main settings page nor on any page of the Advanced options window.
TEST(ListsAndRows, BoldCaptionsMoveNothing) {
  auto controls = [](QWidget* page) {
    std::map<std::string, QRect> out;
    for (auto& [key, rect] : Geometries(page))  // controls by id; captions left out
      if (std::isdigit(static_cast<unsigned char>(key[0])) &&
          !qobject_cast<QLabel*>(QtControlHost(page).Find(std::stoi(key))))
        out[key] = rect;
    return out;
  };
  auto markAll = [](QWidget* page, pages::PageId layout, bool marked) {
    QtControlHost host(page);
    for (const pages::Entry& e : pages::Layout(layout).entries)
      if (e.mnemonic) host.SetMarked(e.control, marked, "x");  // the settings, not the buttons
    OpenAdvanced::Settle();
  };
  Unit unit(Variant::K610);
  QWidget holder;
  auto* main = new MainSettingsPage(unit.context, &holder);
  holder.show();
  OpenAdvanced::Settle();
  std::vector<ShownPage> shown = {{main, pages::PageId::MainSettings}};
  OpenAdvanced adv(Variant::K610);
  const auto& tabs = pages::Window(pages::WindowId::AdvancedOptions).pages;
  for (std::size_t i = 0; i < tabs.size(); ++i) shown.push_back({adv.window->Page(static_cast<int>(i)), tabs[i]});
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (i > 0) adv.Tab(static_cast<int>(i - 1));
    const auto before = controls(shown[i].page);
    const QSize window = shown[i].page->window()->size();
    markAll(shown[i].page, shown[i].layout, true);
    EXPECT_EQ(controls(shown[i].page), before) << "page " << int(shown[i].layout);
    EXPECT_EQ(shown[i].page->window()->size(), window) << "page " << int(shown[i].layout);
    markAll(shown[i].page, shown[i].layout, false);
  }
}

TEST(ListsAndRows, AdvancedListsAreAsWideAsTheirLongestEntryAndAlikeAcrossTheTabs) {
  for (Variant v : kVariants) {
    SCOPED_TRACE(Name(v));
    OpenAdvanced adv(v);
    // Wider than it needs, as an operator may make it.
    adv.window->resize(adv.window->width() + 200, adv.window->height());
    std::vector<ShownPage> shown;
    const auto& tabs = pages::Window(pages::WindowId::AdvancedOptions).pages;
    for (std::size_t i = 0; i < tabs.size(); ++i)
      shown.push_back({adv.window->Page(static_cast<int>(i)), tabs[i]});
    ExpectNoSpareRoom(ExpectListsFitAndAlike(shown, v, [&](int i) { adv.Tab(i); }));
  }
}

// The main settings page shows every unit that connects: its lists have
// room for the entries of every variant, and on one of them the fullest
// list needs that room.
TEST(ListsAndRows, MainPageAndSatmodListsAreAsWideAsTheirLongestEntryAndAlike) {
  std::map<int, int> spare;
  std::set<int> widths;
  for (Variant v : kVariants) {
    SCOPED_TRACE(Name(v));
    Unit unit(v);
    QWidget window;
    auto* page = new MainSettingsPage(unit.context, &window);
    (new QVBoxLayout(&window))->addWidget(page);
    page->LayOutForBoard(v);
    window.show();
    window.resize(window.width() + 200, window.height());
    QApplication::processEvents();
    for (const auto& [column, room] : ExpectListsFitAndAlike({{page, pages::PageId::MainSettings}}, v, [](int) {}))
      spare[column] = spare.count(column) ? std::min(spare[column], room) : room;
    widths.insert(page->Host().Find(ids::kBandwidthMode)->width());
  }
  ExpectNoSpareRoom(spare);
  EXPECT_EQ(widths.size(), 1u) << "the lists change their width with the unit";
  Unit unit(Variant::K240);
  SatmodWindow window{QIcon()};
  params::InitPage(window.Host(), unit.tables.satmod);
  window.show();
  window.resize(window.width() + 200, window.height());
  QApplication::processEvents();
  ExpectNoSpareRoom(
      ExpectListsFitAndAlike({{&window, pages::PageId::SatelliteModulator}}, Variant::K240, [](int) {}));
}

// Every row control has one height, and on a page without frames the rows
// follow each other at one pitch.
void ExpectRowsOfOneHeight(QWidget* page, pages::PageId layout, Variant v, std::set<int>& heights) {
  std::set<int> tops;
  for (const Placed& p : RowControls(page, layout, v)) {
    if (!heights.empty()) {
      EXPECT_EQ(p.widget->height(), *heights.begin())
          << "control " << p.entry->control << " on page " << int(layout);
    }
    heights.insert(p.widget->height());
    tops.insert(p.widget->mapTo(page, QPoint(0, 0)).y());
  }
  const bool framed =
      std::any_of(pages::Layout(layout).entries.begin(), pages::Layout(layout).entries.end(),
                  [&](const pages::Entry& e) { return e.kind == pages::ControlKind::GroupBox && e.ControlOn(v); });
  if (framed || tops.size() < 3) return;
  std::set<int> pitches;
  for (auto it = std::next(tops.begin()); it != tops.end(); ++it) pitches.insert(*it - *std::prev(it));
  EXPECT_EQ(pitches.size(), 1u) << "page " << int(layout) << " rows stand at " << pitches.size() << " pitches";
}

TEST(ListsAndRows, RowsAreOfOneHeight) {
  for (Variant v : kVariants) {
    SCOPED_TRACE(Name(v));
    std::set<int> heights;
    OpenAdvanced adv(v);
    const auto& tabs = pages::Window(pages::WindowId::AdvancedOptions).pages;
    for (std::size_t i = 0; i < tabs.size(); ++i) {
      adv.Tab(static_cast<int>(i));
      ExpectRowsOfOneHeight(adv.window->Page(static_cast<int>(i)), tabs[i], v, heights);
    }
    Unit unit(v);
    QWidget window;
    auto* page = new MainSettingsPage(unit.context, &window);
    (new QVBoxLayout(&window))->addWidget(page);
    page->LayOutForBoard(v);
    window.show();
    QApplication::processEvents();
    ExpectRowsOfOneHeight(page, pages::PageId::MainSettings, v, heights);
    EXPECT_EQ(heights.size(), 1u) << "row controls of " << heights.size() << " heights";
  }
  std::set<int> heights;
  Unit unit(Variant::K240);
  SatmodWindow window{QIcon()};
  params::InitPage(window.Host(), unit.tables.satmod);
  window.show();
  QApplication::processEvents();
  ExpectRowsOfOneHeight(&window, pages::PageId::SatelliteModulator, Variant::K240, heights);
  EXPECT_EQ(heights.size(), 1u);
}

void ExpectButtonsAtTheirOwnWidth(QWidget* window) {
  for (QPushButton* b : window->findChildren<QPushButton*>()) {
    if (!b->isVisibleTo(window)) continue;
    // The width it asks for, within the limits it was given.
    const int own = b->sizeHint().expandedTo(b->minimumSize()).boundedTo(b->maximumSize()).width();
    EXPECT_EQ(b->width(), own) << "button \"" << qPrintable(b->text()) << "\"";
  }
}

TEST(ListsAndRows, ButtonsKeepTheirOwnWidth) {
  AppRig rig;
  ASSERT_TRUE(rig.AddSim(SimSetup().Board("K240").Satmod()));
  gui::MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.Settle());
  test::PumpFor(50);
  // Wider than it needs, as an operator may make it.
  w.resize(w.width() + 200, w.height() + 100);
  test::PumpFor(50);
  ExpectButtonsAtTheirOwnWidth(w.Page());
  w.Page()->Host().Find(gui::ids::kAdvanced)->setFocus();
  qobject_cast<QPushButton*>(w.Page()->Host().Find(gui::ids::kAdvanced))->click();
  test::PumpFor(50);
  ASSERT_NE(w.Advanced(), nullptr);
  w.Advanced()->resize(w.Advanced()->width() + 200, w.Advanced()->height());
  test::PumpFor(50);
  ExpectButtonsAtTheirOwnWidth(w.Advanced());
  qobject_cast<QPushButton*>(w.Page()->Host().Find(gui::ids::kSatmod))->click();
  ASSERT_TRUE(rig.Settle());
  ASSERT_NE(w.Satmod(), nullptr);
  w.Satmod()->resize(w.Satmod()->width() + 200, w.Satmod()->height());
  test::PumpFor(50);
  ExpectButtonsAtTheirOwnWidth(w.Satmod());
}

// No control or caption touches the frame of a group box it stands in, nor
// the edge of its page.
TEST(ListsAndRows, NothingTouchesAFramesEdge) {
  constexpr int kGap = 4;
  for (Variant v : kVariants) {
    SCOPED_TRACE(Name(v));
    OpenAdvanced adv(v);
    for (int i = 0; i < AdvancedOptionsWindow::kPageCount; ++i) {
      adv.Tab(i);
      QWidget* page = adv.window->Page(i);
      const QRect inside = page->rect().adjusted(kGap, kGap, -kGap, -kGap);
      const auto boxes = page->findChildren<QGroupBox*>();
      for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!w->isVisibleTo(page)) continue;
        EXPECT_TRUE(inside.contains(w->geometry())) << "control " << gui::ControlIdOf(w) << " on tab " << i;
        if (qobject_cast<QGroupBox*>(w)) continue;
        for (QGroupBox* box : boxes) {
          if (!box->isVisibleTo(page) || !box->geometry().intersects(w->geometry())) continue;
          const QRect frame = box->geometry().marginsRemoved(box->contentsMargins());
          EXPECT_TRUE(frame.adjusted(kGap, kGap, -kGap, -kGap).contains(w->geometry()))
              << "control " << gui::ControlIdOf(w) << " \"" << qPrintable(box->title()) << "\" frame "
              << frame.top() << ".." << frame.bottom() << ", control " << w->geometry().top() << ".."
              << w->geometry().bottom() << " x " << frame.left() << ".." << frame.right() << " vs "
              << w->geometry().left() << ".." << w->geometry().right();
        }
      }
    }
  }
}

TEST(ListsAndRows, NothingTouchesTheEdgeOfTheMainPageOrTheSatmodWindow) {
  constexpr int kGap = 4;
  for (Variant v : kVariants) {
    SCOPED_TRACE(Name(v));
    Unit unit(v);
    QWidget window;
    auto* page = new MainSettingsPage(unit.context, &window);
    (new QVBoxLayout(&window))->addWidget(page);
    page->LayOutForBoard(v);
    window.show();
    QApplication::processEvents();
    for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (!w->isVisibleTo(page)) continue;
      EXPECT_TRUE(page->rect().adjusted(kGap, kGap, -kGap, -kGap).contains(w->geometry()))
          << "control " << gui::ControlIdOf(w);
    }
  }
  SatmodWindow window{QIcon()};
  window.show();
  QApplication::processEvents();
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&window) || w->layout()) continue;  // the body holding the rows
    const QRect at(w->mapTo(&window, QPoint(0, 0)), w->size());
    EXPECT_TRUE(window.rect().adjusted(kGap, kGap, -kGap, -kGap).contains(at))
        << "control " << gui::ControlIdOf(w);
  }
}

// The PID lists (8192 entries) open a popup of twelve rows, not one as high
// as the screen.
TEST(ListsAndRows, PidListPopupsShowTwelveRows) {
  OpenAdvanced adv(Variant::K610);
  adv.Tab(4);
  for (int id = ids::kPmtPid; id <= ids::kDataPid; ++id) {
    auto* combo = qobject_cast<QComboBox*>(adv.window->Host().Find(id));
    ASSERT_NE(combo, nullptr) << id;
    EXPECT_EQ(combo->maxVisibleItems(), 12) << id;
    combo->showPopup();
    OpenAdvanced::Settle();
    QAbstractItemView* view = combo->view();
    const int row = view->sizeHintForRow(0);
    ASSERT_GT(row, 0);
    const int rows = view->viewport()->height() / row;
    EXPECT_LE(rows, 12) << id;
    EXPECT_GE(rows, 11) << id;
    combo->hidePopup();
    OpenAdvanced::Settle();
  }
}

// On a K610 the HD input format list appears right of the video input list
// for the HD inputs; the page has room for it from the start, so nothing
// moves and the window keeps its size.
TEST(ListsAndRows, K610MainPageDoesNotReflowWhenHdInputFormatAppears) {
  AppRig rig;
  ASSERT_TRUE(rig.AddSim(SimSetup().Board("K610")));
  gui::MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.Settle());
  test::PumpFor(50);
  QWidget* page = w.Page();
  auto* input = qobject_cast<QComboBox*>(w.Page()->Host().Find(ids::kK610VideoInput));
  QWidget* format = w.Page()->Host().Find(ids::kHdInputFormat);
  ASSERT_NE(input, nullptr);
  ASSERT_NE(format, nullptr);
  ASSERT_FALSE(format->isVisibleTo(page));
  const auto before = Geometries(page);
  const QSize window = w.size();
  auto pick = [&](const char* text) {
    const int index = input->findText(QString::fromUtf8(text));
    ASSERT_GE(index, 0) << text;
    input->setCurrentIndex(index);
    emit input->activated(index);
    test::PumpFor(50);
  };
  pick("HD HDMI");
  ASSERT_TRUE(format->isVisibleTo(page));
  auto after = Geometries(page);
  EXPECT_EQ(w.size(), window);
  const std::string formatKey = std::to_string(gui::ids::kHdInputFormat);
  const std::string inputKey = std::to_string(gui::ids::kK610VideoInput);
  const QRect shown = after[formatKey];
  after.erase(formatKey);
  // The pick is a change the unit does not have yet: its count shows
  // beside the buttons, in room of its own.
  EXPECT_EQ(after.erase("1 unapplied change"), 1u);
  EXPECT_EQ(after, before);
  EXPECT_GE(shown.left(), before.at(inputKey).right());
  EXPECT_EQ(shown.top(), before.at(inputKey).top());
  for (const auto& [key, rect] : after)
    EXPECT_FALSE(rect.intersects(shown)) << key << " lies under the HD input format list";
  pick("Comp PAL");
  ASSERT_FALSE(format->isVisibleTo(page));
  EXPECT_EQ(Geometries(page), before);
  EXPECT_EQ(w.size(), window);
}

}  // namespace
