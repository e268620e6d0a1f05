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
#include <algorithm>
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
    ExpectEditableLook(qobject_cast<QLineEdit*>(host.Find(1301)));  // "Output frequency (MHz)"
    adv.Tab(4);
    ExpectEditableLook(qobject_cast<QLineEdit*>(host.Find(1303)));  // "Unit name"
  }
}

TEST(ReadOnlyLook, ModulatorVersionAndTemperatureLookReadOnly) {
  Unit unit(Variant::K240);
  auto* window = new SatmodWindow(QIcon());
  params::InitPage(window->Host(), unit.tables.satmod);
  window->show();
  QApplication::processEvents();
  ExpectReadOnlyLook(qobject_cast<QLineEdit*>(window->Host().Find(1355)));
  ExpectReadOnlyLook(qobject_cast<QLineEdit*>(window->Host().Find(1350)));
  ExpectEditableLook(qobject_cast<QLineEdit*>(window->Host().Find(1351)));  // carrier frequency
  delete window;
}

TEST(ReadOnlyLook, TheHostGivesTheEditableLookBack) {
  QWidget window;
  auto* edit = new QLineEdit(&window);
  gui::SetControlId(edit, 1300);
  window.show();
  QtControlHost host(&window);
  host.SetReadOnly(1300, true);
  ExpectReadOnlyLook(edit);
  host.SetReadOnly(1300, false);
  ExpectEditableLook(edit);
  host.SetReadOnly(1300, false);  // twice changes nothing
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
  auto* frequency = qobject_cast<QLineEdit*>(host.Find(1300));
  auto* points = qobject_cast<QComboBox*>(host.Find(1200));
  ASSERT_NE(points, nullptr);
  auto select = [&](int entry) {
    points->setCurrentIndex(entry);
    qobject_cast<QAbstractButton*>(host.Find(1003))->click();
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
    if (auto* label = qobject_cast<QLabel*>(w); label && gui::ControlIdOf(w) < 0) key = label->text().toStdString();
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
// page is what it is when the K240 is the first unit: no empty row between
// "Scrambling" and the buttons, the window as high as then.
TEST(MainSettingsPage, K240AfterK610HasTheRowsAndHeightOfAFreshK240) {
  std::map<std::string, QRect> fresh;
  int freshPage = 0, freshWindow = 0;
  {
    AppRig rig;
    ASSERT_TRUE(rig.AddSim(SimSetup().Board("K240")));
    gui::MainWindow& w = rig.StartWindow();
    ASSERT_TRUE(rig.Settle());
    test::PumpFor(50);
    ASSERT_EQ(w.Unit().boardType, "K240");
    fresh = Geometries(w.Page());
    freshPage = w.Page()->height();
    freshWindow = w.height();
  }
  AppRig rig;
  ASSERT_TRUE(rig.AddSim(SimSetup().Board("K610")));
  ASSERT_TRUE(rig.AddSim(SimSetup().Board("K240")));
  gui::MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(rig.Settle());
  test::PumpFor(50);
  ASSERT_EQ(w.Unit().boardType, "K610");
  const int k610Page = w.Page()->height();
  EXPECT_GT(k610Page, freshPage) << "the K610 page has a row more";
  ConnectOnPort(rig, 1);
  ASSERT_EQ(w.Unit().boardType, "K240");
  EXPECT_EQ(w.Page()->height(), freshPage);
  EXPECT_EQ(w.height(), freshWindow);
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

}  // namespace
