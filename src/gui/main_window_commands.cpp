// The main window's menu commands: icon, logo and title, polling, the
// encryption key, Restore defaults, the engineering and status windows, the
// unit address change and the About box.
#include "gui/main_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "gui/engineering_window.h"
#include "gui/icons.h"
#include "gui/main_window_parts.h"
#include "gui/offline_editor.h"
#include "gui/shell_dialogs.h"
#include "gui/status_monitor_window.h"

namespace vecta::gui {

using namespace main_window_detail;

namespace {

// The icon and logo file choices.
constexpr std::string_view kIconFilter = "Icon files (*.ico)|*.ico|All files (*.*)|*.*||";
constexpr std::string_view kBitmapFilter = "Bitmap files (*.bmp)|*.bmp|All files (*.*)|*.*||";

// Where a file choice starts: the folder of the file chosen before, while
// that folder exists, else the program's own folder.
std::string StartFolder(const std::optional<std::string>& current) {
  if (current && !current->empty()) {
    const QFileInfo file(Q(*current));
    if (file.absoluteDir().exists()) return file.absolutePath().toStdString();
  }
  return QCoreApplication::applicationDirPath().toStdString();
}

// Asks for a new icon or logo file of one kind ("ico", "bmp"), starting
// where the current one lies.
std::optional<std::string> ChooseImageFile(params::Prompter& prompter, std::string_view title,
                                           std::string_view filter, std::string_view suffix,
                                           const std::optional<std::string>& current) {
  const std::string folder = StartFolder(current);
  const std::string name = "*." + std::string(suffix);
  params::Prompter::FileRequest request;
  request.title = title;
  request.filter = filter;
  request.defaultSuffix = suffix;
  request.initialName = name;
  request.initialFolder = folder;
  return prompter.ChooseFile(request);
}

}  // namespace

void MainWindow::OnSetIconSource() {
  const auto path =
      ChooseImageFile(*options_.prompter, "Select new icon file", kIconFilter, "ico", settings_.iconPath);
  if (!path) return;
  settings_.iconPath = *path;
  QIcon custom(Q(*path));
  icon_ = !custom.isNull() && !custom.availableSizes().isEmpty() ? custom : ResourceIcon(kIconApplication);
  setWindowIcon(icon_);
  if (advanced_) advanced_->setWindowIcon(icon_);
  if (satmod_) satmod_->setWindowIcon(icon_);
  if (engineering_) engineering_->setWindowIcon(icon_);
  if (monitor_) monitor_->setWindowIcon(icon_);
  offline_->SetIcon(icon_);
}

void MainWindow::OnSetLogoSource() {
  const auto path =
      ChooseImageFile(*options_.prompter, "Select new bitmap file", kBitmapFilter, "bmp", settings_.logoPath);
  if (!path) return;
  settings_.logoPath = *path;
  PlaceLogo();
}

void MainWindow::OnSetLogoSize() {
  const QSize frame = LogoFrameSize(this);
  LogoSizeDialog dialog(std::clamp(app::LogoPixels(settings_.logoWidth), 0, frame.width()),
                        std::clamp(app::LogoPixels(settings_.logoHeight), 0, frame.height()), frame.width(),
                        frame.height(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  // What was typed, up to the frame's size.
  settings_.logoWidth = std::clamp(dialog.LogoWidth(), 0, frame.width());
  settings_.logoHeight = std::clamp(dialog.LogoHeight(), 0, frame.height());
  PlaceLogo();
}

void MainWindow::OnSetApplicationTitle() {
  EnterValueDialog dialog(QStringLiteral("Enter the new application title"), Q(settings_.appTitle.value_or("")),
                          32, this);
  if (dialog.exec() != QDialog::Accepted) return;
  settings_.appTitle = dialog.Value().toStdString();
  SetCaption(this, dialog.Value());
}

void MainWindow::OnTogglePolling() {
  settings_.pollingEnabled = !settings_.pollingEnabled;
  poll_->SetPollingEnabled(settings_.pollingEnabled);
  ShowPollingState();
}

void MainWindow::OnPollingOptions() {
  PollingOptionsDialog dialog(
      settings_, *options_.prompter,
      [this] {
        poll_->TakePollingFlags(settings_);
        poll_->SetIntervalMs(settings_.pollingIntervalMs);
      },
      this);
  dialog.exec();
}

void MainWindow::OnWriteKey() {
  if (runner_->Running()) return;
  if (!core_->session->Connected()) {
    options_.prompter->Message("Error", "No connection currently", params::MessageIcon::Exclamation);
    return;
  }
  WriteKeyDialog dialog(core_->session->InitialKeyType(), *options_.prompter, this);
  if (dialog.exec() != QDialog::Accepted) return;
  const app::KeyType type = dialog.Type();
  const std::string first = dialog.FirstKey(), second = dialog.SecondKey();
  Run([type, first, second](Core& core) { core.session->WriteKey(type, first, second); }, {},
      QStringLiteral("Writing the encryption key..."));
}

void MainWindow::OnRestoreDefaults() {
  if (runner_->Running()) return;
  Run([](Core& core) { core.session->RestoreDefaults(); }, {}, QStringLiteral("Restoring the unit's defaults..."));
}

void MainWindow::OnEngineering() {
  if (engineering_) {
    engineering_->raise();
    engineering_->activateWindow();
    return;
  }
  auto* window = new EngineeringWindow(
      core_->link, core_->unit.boardType, settings_, *options_.prompter,
      [this] { return core_->session->Connected(); }, [this] { return core_->unit.unitAddress; }, *runner_, icon_);
  engineering_ = window;
  // What it writes of the settings pages every page shows as the unit holds it.
  window->SetReadBack(
      [core = core_](const std::vector<std::string>& written) { core->session->ReadBackRows(written); });
  connect(window, &EngineeringWindow::UnitAddressChanged, this, &MainWindow::OnUnitAddressChanged);
  window->show();
  window->raise();
  window->activateWindow();
}

void MainWindow::OnStatusMonitor() {
  if (monitor_) {
    monitor_->raise();
    monitor_->activateWindow();
    return;
  }
  if (runner_->Running()) return;
  if (!core_->session->Connected()) {
    options_.prompter->Message("Error", "No connection currently", params::MessageIcon::Exclamation);
    return;
  }
  monitor_ = OpenStatusMonitor(
      core_->link, core_->unit.boardType, core_->tables->main, [this] { return core_->unit.unitAddress; },
      *options_.prompter, icon_);
}

void MainWindow::OnUnitAddressChanged(int address) {
  // The unit takes the new address (its outcome is not examined), and every
  // later request uses it.
  if (Run([address](Core& core) { core.session->ChangeUnitAddress(address); },
          [this, address] { SetUnitAddressEverywhere(address); }, QStringLiteral("Changing the unit address...")))
    return;
  // An operation runs: the change follows it rather than being lost.
  if (!closing_)
    connect(
        runner_, &OperationRunner::runningChanged, this, [this, address] { OnUnitAddressChanged(address); },
        Qt::SingleShotConnection);
}

void MainWindow::OnAbout() {
  AboutDialog dialog(Q(settings_.appTitle.value_or("")), icon_, this);
  dialog.exec();
}

}  // namespace vecta::gui
