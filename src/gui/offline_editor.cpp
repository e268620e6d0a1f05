#include "gui/offline_editor.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/accessibility.h"
#include "gui/operation_runner.h"
#include "gui/qt_control_host.h"
#include "gui/settings_windows.h"
#include "params/config_file.h"

namespace vecta::gui {
namespace {

using params::Variant;

constexpr Variant kBoards[] = {Variant::K240, Variant::K610, Variant::Other};
constexpr const char* kBoardNames[] = {"K240", "K610", "Other"};

// What the settings pages offer that only a unit can do: apply, refresh,
// the unit's own file buttons, the key and the satellite modulator.
constexpr int kUnitButtons[] = {ids::kMainApply,      ids::kMainRefresh, ids::kSaveConfigFile,
                                ids::kLoadConfigFile, ids::kWriteKey,    ids::kSatmod};

int BoardIndex(Variant v) {
  for (int i = 0; i < 3; ++i)
    if (kBoards[i] == v) return i;
  return -1;
}

}  // namespace

OfflineEditorWindow::OfflineEditorWindow(std::unique_ptr<params::ConfigDocument> document,
                                         params::Prompter& prompter, const QIcon& icon, QWidget* parent)
    : QWidget(parent, Qt::Window), doc_(std::move(document)), prompter_(prompter), icon_(icon) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(icon_);
  unit_.prompter = &prompter_;
  unit_.tables = &doc_->Tables();
  unit_.boardType = params::BoardTypeText(doc_->variant());

  layout_ = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* boardCaption = new QLabel(QString::fromUtf8(offline_text::kBoardCaption), this);
  board_ = new QComboBox(this);
  for (const char* name : kBoardNames) board_->addItem(QString::fromUtf8(name));
  SetCaption(boardCaption, board_);
  board_->setCurrentIndex(doc_->VariantChosen() ? BoardIndex(doc_->variant()) : -1);
  // A board type the records tell is the file's own.
  board_->setEnabled(!doc_->VariantFromFile().has_value());
  connect(board_, &QComboBox::activated, this, &OfflineEditorWindow::OnBoardChosen);
  top->addWidget(boardCaption);
  top->addWidget(board_);
  if (doc_->IsSet()) {
    auto* configCaption = new QLabel(QString::fromUtf8(offline_text::kConfigCaption), this);
    config_ = new QComboBox(this);
    for (std::size_t i = 0; i < doc_->ConfigCount(); ++i)
      config_->addItem(QStringLiteral("Config %1").arg(doc_->ConfigNumber(i)));
    SetCaption(configCaption, config_);
    connect(config_, &QComboBox::activated, this, &OfflineEditorWindow::OnConfigChosen);
    top->addWidget(configCaption);
    top->addWidget(config_);
  }
  top->addStretch(1);
  save_ = new QPushButton(QString::fromUtf8(offline_text::kSave), this);
  save_->setAutoDefault(false);
  connect(save_, &QPushButton::clicked, this, [this] { Save(); });
  top->addWidget(save_);
  layout_->addLayout(top);

  auto* saveShortcut = new QAction(this);
  saveShortcut->setShortcut(QKeySequence::Save);
  connect(saveShortcut, &QAction::triggered, this, [this] { Save(); });
  addAction(saveShortcut);

  hint_ = new QLabel(QString::fromUtf8(offline_text::kChooseBoard), this);
  hint_->setVisible(!doc_->VariantChosen());
  layout_->addWidget(hint_);
  if (doc_->VariantChosen()) BuildPage();
  layout_->addStretch(0);
  UpdateTitle();
  MakeAccessible(this);
}

OfflineEditorWindow::~OfflineEditorWindow() {
  if (advanced_) delete advanced_.data();
}

void OfflineEditorWindow::BuildPage() {
  if (advanced_) advanced_->close();
  delete page_;
  unit_.boardType = params::BoardTypeText(doc_->variant());
  unit_.rules = {};
  page_ = new MainSettingsPage(unit_, this);
  page_->LayOutForBoard(unit_.variant());
  page_->SetAdvancedHost([this]() -> params::ControlHost* { return advanced_ ? &advanced_->Host() : nullptr; });
  for (int id : kUnitButtons) page_->Host().Show(id, false);
  connect(page_, &MainSettingsPage::ButtonPressed, this, &OfflineEditorWindow::OnPageButton);
  layout_->insertWidget(2, page_, 1);
  WatchEdits(page_);
  ShowValues();
}

void OfflineEditorWindow::ShowValues() {
  if (!page_) return;
  params::ShowStoredValues(unit_, doc_->Table(), page_->Host(), advanced_ ? &advanced_->Host() : nullptr);
}

// Every change the operator makes in a window is taken at once (an edit's
// text when it is left or Enter is pressed); the page rules that a change
// runs come first, as the pages connect before this does.
void OfflineEditorWindow::WatchEdits(QWidget* root) {
  for (auto* combo : root->findChildren<QComboBox*>())
    connect(combo, &QComboBox::activated, this, [this] { TakeEdits(); });
  for (auto* check : root->findChildren<QCheckBox*>())
    connect(check, &QCheckBox::clicked, this, [this] { TakeEdits(); });
  for (auto* edit : root->findChildren<QLineEdit*>()) {
    connect(edit, &QLineEdit::editingFinished, this, [this] { TakeEdits(); });
    // Typing marks the window at once; the text is taken when it is left.
    connect(edit, &QLineEdit::textEdited, this, [this] { UpdateTitle(true); });
  }
}

void OfflineEditorWindow::TakeEdits() {
  if (!page_ || taking_) return;
  taking_ = true;
  // One window at a time, each shown again before the next is read, so a
  // value changed in one is not taken back from the other.
  std::vector<std::string> refused;
  if (doc_->TakeFromPage(page_->Host(), unit_.rules, &refused) != 0) ShowValues();
  if (advanced_ && doc_->TakeFromPage(advanced_->Host(), unit_.rules, &refused) != 0) ShowValues();
  UpdateTitle();
  if (!refused.empty()) {
    // What cannot be kept goes back to the file's value.
    ShowValues();
    prompter_.Message(params::config_text::kError, refused.front(), params::MessageIcon::Exclamation);
  }
  taking_ = false;
}

void OfflineEditorWindow::UpdateTitle(bool typing) {
  const QString name = QFileInfo(QString::fromStdString(doc_->Path())).fileName();
  const bool unsaved = typing || doc_->Modified();
  setWindowTitle(name + (unsaved ? QStringLiteral("*") : QString()) + QStringLiteral(" - ") +
                 QString::fromUtf8(doc_->IsSet() ? offline_text::kSetTitle : offline_text::kFileTitle));
}

void OfflineEditorWindow::OnBoardChosen(int index) {
  if (index < 0 || index >= 3) return;
  doc_->SetVariant(kBoards[index]);
  hint_->hide();
  BuildPage();
  UpdateTitle();
}

void OfflineEditorWindow::OnConfigChosen(int index) {
  TakeEdits();
  doc_->SelectConfig(static_cast<std::size_t>(index));
  ShowValues();
  UpdateTitle();
}

void OfflineEditorWindow::OnPageButton(int id) {
  if (id == ids::kAdvanced) OpenAdvanced();
  if (id == ids::kMainApply) TakeEdits();  // Enter in the page
}

void OfflineEditorWindow::OpenAdvanced() {
  if (advanced_) {
    advanced_->raise();
    advanced_->activateWindow();
    return;
  }
  advanced_ = new AdvancedOptionsWindow(unit_, icon_);
  MarkUnitWindow(advanced_, false);  // it shows a file: a unit's operation does not hold it back
  advanced_->setWindowTitle(QStringLiteral("Advanced options - ") +
                            QFileInfo(QString::fromStdString(doc_->Path())).fileName());
  for (auto* b : advanced_->findChildren<QPushButton*>()) {
    const int id = ControlIdOf(b);
    if (id == ids::kWindowApply || id == ids::kWindowRefresh) b->hide();
  }
  // Enter in the window takes its values, as Apply would write them.
  connect(advanced_, &AdvancedOptionsWindow::ButtonPressed, this, [this] { TakeEdits(); });
  WatchEdits(advanced_);
  ShowValues();
  advanced_->show();
}

bool OfflineEditorWindow::Save() {
  TakeEdits();
  std::string error;
  if (!doc_->Save(&error)) {
    prompter_.Message(params::config_text::kError, error, params::MessageIcon::Exclamation);
    return false;
  }
  UpdateTitle();
  return true;
}

bool OfflineEditorWindow::MayClose() {
  TakeEdits();
  if (!doc_->Modified()) return true;
  const std::string name = QFileInfo(QString::fromStdString(doc_->Path())).fileName().toStdString();
  switch (prompter_.Message(params::config_text::kAlert, "Save the changes to " + name + "?",
                            params::MessageIcon::Question, params::MessageButtons::YesNoCancel)) {
    case params::Answer::Yes:
      return Save();
    case params::Answer::No:
      return true;
    default:
      return false;
  }
}

void OfflineEditorWindow::closeEvent(QCloseEvent* event) {
  if (!MayClose()) {
    event->ignore();
    return;
  }
  if (advanced_) advanced_->close();
  event->accept();
}

void OfflineEditorWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    TakeEdits();
    return;
  }
  QWidget::keyPressEvent(event);
}

// ---------------------------------------------------------------- windows

OfflineEditorWindow* OfflineEditors::Open() {
  const params::Prompter::FileRequest request{false, offline_text::kOpenTitle, params::kConfigFileFilter,
                                              params::kConfigFileSuffix};
  const std::optional<std::string> path = prompter_.ChooseFile(request);
  if (!path) return nullptr;
  return OpenFile(*path);
}

OfflineEditorWindow* OfflineEditors::OpenFile(const std::string& path) {
  auto doc = std::make_unique<params::ConfigDocument>();
  std::string error;
  if (!doc->Open(path, error)) {
    prompter_.Message(params::config_text::kError, error, params::MessageIcon::Exclamation);
    return nullptr;
  }
  auto* window = new OfflineEditorWindow(std::move(doc), prompter_, icon_, parent_);
  windows_.push_back(window);
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

void OfflineEditorWindow::SetIcon(const QIcon& icon) {
  icon_ = icon;
  setWindowIcon(icon_);
  if (advanced_) advanced_->setWindowIcon(icon_);
}

void OfflineEditors::SetIcon(const QIcon& icon) {
  icon_ = icon;
  for (const QPointer<OfflineEditorWindow>& w : windows_)
    if (w) w->SetIcon(icon_);
}

bool OfflineEditors::CloseAll() {
  for (const QPointer<OfflineEditorWindow>& w : windows_)
    if (w && !w->close()) return false;
  return true;
}

std::vector<OfflineEditorWindow*> OfflineEditors::Windows() const {
  std::vector<OfflineEditorWindow*> open;
  for (const QPointer<OfflineEditorWindow>& w : windows_)
    if (w) open.push_back(w.data());
  return open;
}

}  // namespace vecta::gui
