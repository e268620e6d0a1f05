// The configuration file editor that needs no unit: a file saved from a
// simulated unit, edited on the main settings page and the Advanced options
// window, saved and loaded back gives the unit the edited values, with
// nothing sent while editing; the unsaved mark in the title, the close
// question, the configuration list of a set and the board type choice.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include "gui/main_window.h"
#include "gui/offline_editor.h"
#include "gui/operation_runner.h"
#include "gui/qt_control_host.h"
#include "gui/settings_windows.h"
#include "link/serial_port.h"
#include "params/config_file.h"
#include "params/config_set.h"
#include "support/fake_link.h"
#include "support/recording_ui.h"
#include "support_pages.h"

namespace vecta::test {
namespace {

using gui::OfflineEditorWindow;
using params::Answer;
using params::ConfigImage;
using params::ConfigRecord;
using params::RecordKind;
using Bytes = std::vector<std::uint8_t>;

std::string S(const QString& s) { return s.toStdString(); }

template <typename W>
W* Control(QWidget* window, int id) {
  auto* w = qobject_cast<W*>(gui::QtControlHost(window).Find(id));
  EXPECT_NE(w, nullptr) << "control " << id;
  return w;
}

// Picks an entry as the operator does: the list reports the choice.
void Choose(QComboBox* combo, const QString& text) {
  ASSERT_NE(combo, nullptr);
  const int index = combo->findText(text);
  ASSERT_GE(index, 0) << S(text);
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

// Types a new text into an edit and leaves it with Enter.
void Type(QLineEdit* edit, const QString& text) {
  ASSERT_NE(edit, nullptr);
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(edit, text);
  QTest::keyClick(edit, Qt::Key_Return);
}

ConfigRecord Number(const char* m, std::uint32_t n) { return {m, RecordKind::Number, "", n}; }
ConfigRecord Text(const char* m, std::string t) { return {m, RecordKind::Text, std::move(t), 0}; }

// A K610 configuration (vhdf and a1en are the K610's own).
ConfigImage K610Image(std::uint32_t number) {
  return {number,
          {Number("oout", 1), Number("owid", 2), Number("zscr", 0), Number("vinp", 2), Number("a1en", 1),
           Text("gnam", "Config " + std::to_string(number)), Number("vhdf", 3)}};
}

// A main window with no unit and no serial port.
class OfflineEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gui::MainWindowOptions o;
    o.settings = &settings;
    o.prompter = &prompter;
    o.serialPorts = link::MakePosixSerialProvider({});
    window = std::make_unique<gui::MainWindow>(std::move(o));
    window->show();
  }
  OfflineEditorWindow* Open(const Bytes& bytes, const std::string& name = "b.cfg") {
    path = dir.File(name);
    WriteBytes(path, bytes);
    prompter.files.push_back(path);
    window->Action(gui::commands::kOpenConfigFile)->trigger();  // File -> "Open configuration file..."
    auto open = window->Offline().Windows();
    return open.empty() ? nullptr : open.back();
  }

  app::AppSettings settings;
  RecordingPrompter prompter;
  TempDir dir;
  std::string path;
  std::unique_ptr<gui::MainWindow> window;
};

TEST(OfflineEditorWithUnit, AnOfflineEditSavedAndLoadedGivesTheUnitTheEditedValues) {
  pages_rig::PagesRig rig;
  ASSERT_TRUE(rig.Start({"K240", false, {}}));
  gui::MainWindow& w = rig.Window();
  TempDir dir;
  const std::string file = dir.File("event.cfg");
  rig.Prompter().files.push_back(file);
  w.OnPageButton(gui::ids::kSaveConfigFile);
  ASSERT_TRUE(rig.Idle());
  const Bytes saved = FileBytes(file);
  ASSERT_FALSE(saved.empty());
  rig.Mark();

  OfflineEditorWindow* ed = w.Offline().OpenFile(file);
  ASSERT_NE(ed, nullptr);
  EXPECT_EQ(S(ed->windowTitle()), "event.cfg - Configuration file");
  EXPECT_EQ(S(ed->BoardList()->currentText()), "K240");
  EXPECT_FALSE(ed->BoardList()->isEnabled());  // the records tell it
  QWidget* page = ed->Page();
  ASSERT_NE(page, nullptr);
  // The file's values; the buttons that need a unit are not offered.
  EXPECT_EQ(S(Control<QComboBox>(page, gui::ids::kBandwidthMode)->currentText()), "DVBT");
  EXPECT_FALSE(Control<QPushButton>(page, gui::ids::kMainApply)->isVisibleTo(ed));
  EXPECT_TRUE(Control<QPushButton>(page, gui::ids::kAdvanced)->isVisibleTo(ed));

  Choose(Control<QComboBox>(page, gui::ids::kScrambling), "AES256");
  EXPECT_EQ(S(ed->windowTitle()), "event.cfg* - Configuration file");
  Choose(Control<QComboBox>(page, gui::ids::kBandwidthMode), "Narrowband");
  ed->OpenAdvanced();
  QWidget* advanced = ed->Advanced();
  ASSERT_NE(advanced, nullptr);
  // Neither window waits for the unit's operations.
  EXPECT_FALSE(gui::IsUnitWindow(ed));
  EXPECT_FALSE(gui::IsUnitWindow(advanced));
  // From "Narrowband".
  EXPECT_EQ(S(Control<QComboBox>(advanced, gui::ids::kModulationBandwidth)->currentText()), "2.5MHz");
  EXPECT_EQ(S(Control<QLineEdit>(advanced, gui::ids::kUnitName)->text()), "Config 1");
  Type(Control<QLineEdit>(advanced, gui::ids::kUnitName), "Offline");
  Type(Control<QLineEdit>(advanced, gui::ids::kOutputAttenuationHigh), "3.5");
  // Shown as a read value is.
  EXPECT_EQ(S(Control<QLineEdit>(advanced, gui::ids::kOutputAttenuationHigh)->text()), "3.50");
  EXPECT_TRUE(rig.Requests().empty()) << "nothing goes to the unit while editing";
  EXPECT_EQ(FileBytes(file), saved);

  QTest::mouseClick(ed->SaveButton(), Qt::LeftButton);
  EXPECT_EQ(S(ed->windowTitle()), "event.cfg - Configuration file");
  EXPECT_NE(FileBytes(file), saved);
  EXPECT_TRUE(rig.Prompter().messages.empty());
  EXPECT_TRUE(rig.Requests().empty());
  ASSERT_TRUE(ed->close());

  rig.Prompter().files.push_back(file);
  rig.Prompter().reviewAnswers.push_back(true);  // the review before the load: Load
  w.OnPageButton(gui::ids::kLoadConfigFile);
  ASSERT_TRUE(rig.Idle());
  ASSERT_EQ(rig.Prompter().reviews.size(), 1u);
  EXPECT_EQ(rig.Direct("rzscr;;"), "6");
  EXPECT_EQ(rig.Direct("rowid;;"), "3");
  EXPECT_EQ(rig.Direct("rgnam;;"), "Offline");
  EXPECT_EQ(rig.Direct("rolev;;"), "851");
  EXPECT_EQ(S(Control<QComboBox>(w.Page(), gui::ids::kScrambling)->currentText()), "AES256");
}

TEST_F(OfflineEditorTest, ClosingWithUnsavedEditsAsksToSaveDiscardOrStay) {
  const Bytes original = params::BuildConfigFile(K610Image(1));
  OfflineEditorWindow* ed = Open(original);
  ASSERT_NE(ed, nullptr);
  EXPECT_EQ(S(ed->BoardList()->currentText()), "K610");
  Choose(Control<QComboBox>(ed->Page(), gui::ids::kScrambling), "ABS");
  EXPECT_EQ(S(ed->windowTitle()), "b.cfg* - Configuration file");

  prompter.answers = {Answer::Cancel};
  EXPECT_FALSE(ed->close());
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].title, "Alert");
  EXPECT_EQ(prompter.messages[0].text, "Save the changes to b.cfg?");
  EXPECT_EQ(prompter.messages[0].icon, params::MessageIcon::Question);
  EXPECT_EQ(prompter.messages[0].buttons, params::MessageButtons::YesNoCancel);
  EXPECT_TRUE(ed->isVisible());

  // Closing the main window asks too; staying keeps both.
  prompter.answers = {Answer::Cancel};
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());

  prompter.answers = {Answer::No};
  EXPECT_TRUE(ed->close());
  EXPECT_EQ(FileBytes(path), original);

  ed = Open(original);
  ASSERT_NE(ed, nullptr);
  Choose(Control<QComboBox>(ed->Page(), gui::ids::kScrambling), "ABS");
  prompter.messages.clear();
  prompter.answers = {Answer::Yes};
  EXPECT_TRUE(ed->close());
  EXPECT_EQ(prompter.messages.size(), 1u);
  ConfigImage expected = K610Image(1);
  expected.records[2].number = 1;  // zscr ABS
  EXPECT_EQ(FileBytes(path), params::BuildConfigFile(expected));

  // Nothing changed: no question.
  ed = Open(original);
  prompter.messages.clear();
  EXPECT_TRUE(ed->close());
  EXPECT_TRUE(prompter.messages.empty());
}

// A custom icon reaches the editor windows open then and those opened after.
TEST_F(OfflineEditorTest, EditorsTakeTheCustomIcon) {
  OfflineEditorWindow* before = Open(params::BuildConfigFile(K610Image(1)));
  ASSERT_NE(before, nullptr);
  before->OpenAdvanced();
  QImage picture(32, 32, QImage::Format_RGB32);
  picture.fill(Qt::magenta);
  ASSERT_TRUE(picture.save(QString::fromStdString(dir.File("station.ico")), "PNG"));
  prompter.files.push_back(dir.File("station.ico"));
  window->Action(gui::commands::kSetIconSource)->trigger();  // File -> "Set icon source"
  OfflineEditorWindow* after = Open(params::BuildConfigFile(K610Image(2)), "c.cfg");
  ASSERT_NE(after, nullptr);
  after->OpenAdvanced();
  const qint64 custom = window->windowIcon().cacheKey();
  for (QWidget* w : {static_cast<QWidget*>(before), static_cast<QWidget*>(before->Advanced()),
                     static_cast<QWidget*>(after), static_cast<QWidget*>(after->Advanced())})
    EXPECT_EQ(w->windowIcon().cacheKey(), custom) << S(w->windowTitle());
}

TEST_F(OfflineEditorTest, AnEditThatCannotBeKeptIsRefusedAndShowsTheFilesValue) {
  OfflineEditorWindow* ed = Open(params::BuildConfigFile(K610Image(1)));
  ASSERT_NE(ed, nullptr);
  ed->OpenAdvanced();
  Type(Control<QLineEdit>(ed->Advanced(), gui::ids::kUnitName), "Van;2");
  ASSERT_EQ(prompter.Texts(), std::vector<std::string>{"A value for gnam cannot hold ';'"});
  EXPECT_EQ(prompter.messages[0].title, "Error");
  EXPECT_EQ(S(Control<QLineEdit>(ed->Advanced(), gui::ids::kUnitName)->text()), "Config 1");
  Type(Control<QLineEdit>(ed->Page(), gui::ids::kOutputFrequency), "high");
  EXPECT_EQ(prompter.Texts().back(), "'high' is not a number; ofre takes one");
  EXPECT_FALSE(ed->Document().Modified());
  EXPECT_EQ(S(ed->windowTitle()), "b.cfg - Configuration file");
  ed->close();
}

TEST_F(OfflineEditorTest, ASaveThatFailsSaysSoAndKeepsTheMark) {
  OfflineEditorWindow* ed = Open(params::BuildConfigFile(K610Image(1)));
  ASSERT_NE(ed, nullptr);
  Choose(Control<QComboBox>(ed->Page(), gui::ids::kScrambling), "ABS");
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);  // no file to replace any more
  EXPECT_FALSE(ed->Save());
  ASSERT_EQ(prompter.Texts(), std::vector<std::string>{"Unable to open file for writing"});
  EXPECT_EQ(prompter.messages[0].title, "Error");
  EXPECT_EQ(S(ed->windowTitle()), "b.cfg* - Configuration file");
  prompter.answers = {Answer::No};
  ed->close();
}

TEST_F(OfflineEditorTest, ASetShowsTheConfigurationChosenFromItsList) {
  std::vector<ConfigImage> images;
  for (std::uint32_t i = 1; i <= 16; ++i) images.push_back(K610Image(i));
  const Bytes original = params::BuildConfigSetFile(images);
  OfflineEditorWindow* ed = Open(original, "set.cfg");
  ASSERT_NE(ed, nullptr);
  EXPECT_EQ(S(ed->windowTitle()), "set.cfg - Configuration set");
  ASSERT_NE(ed->ConfigList(), nullptr);
  ASSERT_EQ(ed->ConfigList()->count(), 16);
  EXPECT_EQ(S(ed->ConfigList()->itemText(15)), "Config 16");
  ed->OpenAdvanced();
  EXPECT_EQ(S(Control<QLineEdit>(ed->Advanced(), gui::ids::kUnitName)->text()), "Config 1");
  Choose(ed->ConfigList(), "Config 3");
  EXPECT_EQ(S(Control<QLineEdit>(ed->Advanced(), gui::ids::kUnitName)->text()), "Config 3");
  Choose(Control<QComboBox>(ed->Page(), gui::ids::kScrambling), "AES128");
  ASSERT_TRUE(ed->Save());

  images[2].records[2].number = 4;  // zscr AES128 in configuration 3 only
  EXPECT_EQ(FileBytes(path), params::BuildConfigSetFile(images));
  Choose(ed->ConfigList(), "Config 4");
  EXPECT_EQ(S(Control<QComboBox>(ed->Page(), gui::ids::kScrambling)->currentText()), "Off");
  ed->close();
}

TEST_F(OfflineEditorTest, AFileThatDoesNotTellItsBoardLetsTheOperatorChoose) {
  const ConfigImage image{1, {Number("owid", 4), Number("zscr", 6), Text("gnam", "Van")}};
  OfflineEditorWindow* ed = Open(params::BuildConfigFile(image));
  ASSERT_NE(ed, nullptr);
  EXPECT_TRUE(ed->BoardList()->isEnabled());
  EXPECT_EQ(ed->BoardList()->currentIndex(), -1);
  EXPECT_EQ(ed->Page(), nullptr);
  auto labels = ed->findChildren<QLabel*>();
  EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QLabel* l) {
    return l->isVisible() && l->text() == gui::offline_text::kChooseBoard;
  }));
  Choose(ed->BoardList(), "Other");
  ASSERT_NE(ed->Page(), nullptr);
  EXPECT_EQ(S(Control<QComboBox>(ed->Page(), gui::ids::kScrambling)->currentText()), "AES256");
  // 1.25MHz.
  EXPECT_EQ(S(Control<QComboBox>(ed->Page(), gui::ids::kBandwidthMode)->currentText()), "Narrowband");
  EXPECT_EQ(ed->Document().variant(), params::Variant::Other);
  EXPECT_FALSE(ed->Document().Modified());
  ed->close();
}

TEST_F(OfflineEditorTest, AFileThatFailsItsChecksOpensNoWindow) {
  Bytes bad = params::BuildConfigFile(K610Image(1));
  bad[9] ^= 0x40;
  EXPECT_EQ(Open(bad), nullptr);
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Invalid checksum in file"});
  EXPECT_EQ(prompter.messages[0].title, "Error");
  // A cancelled choice does nothing.
  prompter.files.push_back(std::nullopt);
  window->Action(gui::commands::kOpenConfigFile)->trigger();
  EXPECT_TRUE(window->Offline().Windows().empty());
}

}  // namespace
}  // namespace vecta::test
