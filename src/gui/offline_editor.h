// A configuration file edited without a unit: the main settings page and the
// Advanced options window, built from the same layouts with the same page
// rules, show the file's values (for a set, the configuration chosen from a
// list) through a parameter table of the file's own; what the operator
// changes goes into the file's records, and "Save" writes the file. Nothing
// is sent to a unit, so the window works beside a connected one as well as
// without any.
#pragma once

#include <QIcon>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

#include "params/config_document.h"
#include "params/prompter.h"
#include "params/unit_context.h"

class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace vecta::gui {

class AdvancedOptionsWindow;
class MainSettingsPage;

// The texts of the window.
namespace offline_text {
inline constexpr char kOpenCommand[] = "&Open configuration file...\tCtrl+O";
inline constexpr char kOpenTitle[] = "Select a configuration file to edit";
inline constexpr char kBoardCaption[] = "Board type";
inline constexpr char kConfigCaption[] = "Configuration";
inline constexpr char kChooseBoard[] =
    "The file does not tell its board type: choose the board it was saved from.";
inline constexpr char kSave[] = "&Save";
inline constexpr char kFileTitle[] = "Configuration file";
inline constexpr char kSetTitle[] = "Configuration set";
}  // namespace offline_text

class OfflineEditorWindow : public QWidget {
  Q_OBJECT

 public:
  // `parent` (may be null) only owns the window, which is a window of its own.
  OfflineEditorWindow(std::unique_ptr<params::ConfigDocument> document, params::Prompter& prompter,
                      const QIcon& icon, QWidget* parent = nullptr);
  ~OfflineEditorWindow() override;

  params::ConfigDocument& Document() { return *doc_; }
  params::UnitContext& Unit() { return unit_; }
  MainSettingsPage* Page() const { return page_; }
  AdvancedOptionsWindow* Advanced() const { return advanced_; }
  QComboBox* BoardList() const { return board_; }
  QComboBox* ConfigList() const { return config_; }
  QPushButton* SaveButton() const { return save_; }

  // Takes the pages' values and writes the file; false (with the reason in
  // a message box) when it cannot be written.
  bool Save();
  // Opens the Advanced options window on the file's values (or raises it).
  void OpenAdvanced();
  // Takes what the pages show into the file's records and shows the result.
  void TakeEdits();
  // The program's icon changed: this window and its Advanced options window
  // take it.
  void SetIcon(const QIcon& icon);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildPage();
  void ShowValues();
  void WatchEdits(QWidget* root);
  // The file name, "*" while unsaved (or while an edit is being typed).
  void UpdateTitle(bool typing = false);
  void OnBoardChosen(int index);
  void OnConfigChosen(int index);
  void OnPageButton(int id);
  // Save, discard or stay; true when the window may close.
  bool MayClose();

  std::unique_ptr<params::ConfigDocument> doc_;
  params::Prompter& prompter_;
  QIcon icon_;
  params::UnitContext unit_;
  QVBoxLayout* layout_ = nullptr;
  QComboBox* board_ = nullptr;
  QComboBox* config_ = nullptr;
  QLabel* hint_ = nullptr;
  QPushButton* save_ = nullptr;
  MainSettingsPage* page_ = nullptr;
  QPointer<AdvancedOptionsWindow> advanced_;
  bool taking_ = false;
};

// The editor windows the main window opened.
class OfflineEditors {
 public:
  // The windows belong to `parent`, and go with it.
  OfflineEditors(params::Prompter& prompter, QIcon icon, QWidget* parent)
      : prompter_(prompter), icon_(std::move(icon)), parent_(parent) {}

  // File -> "Open configuration file...": asks for the file, checks it as
  // the loaders do and shows it in a new window. The window, or nullptr
  // when the operator cancelled or the file was refused (its message shown).
  OfflineEditorWindow* Open();
  // Opens `path` without asking.
  OfflineEditorWindow* OpenFile(const std::string& path);
  // Asks every window with unsaved edits; false when the operator stays.
  bool CloseAll();
  // The icon of the windows open now and of those opened later.
  void SetIcon(const QIcon& icon);
  std::vector<OfflineEditorWindow*> Windows() const;

 private:
  params::Prompter& prompter_;
  QIcon icon_;
  QWidget* parent_;
  std::vector<QPointer<OfflineEditorWindow>> windows_;
};

}  // namespace vecta::gui
