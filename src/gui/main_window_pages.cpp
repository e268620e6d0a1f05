// The main window's settings pages: the page buttons, the Advanced options
// and satellite modulator windows, the RF output button, the config tabs and
// the marks and questions of unapplied changes.
#include "gui/main_window.h"

#include <QTabBar>

#include "app/config_review.h"
#include "gui/main_window_parts.h"
#include "gui/unapplied_changes.h"
#include "params/config_file.h"
#include "params/config_set.h"
#include "params/page_rules.h"
#include "params/refresh.h"

namespace vecta::gui {

using namespace main_window_detail;

void MainWindow::ApplyVariantToPage(const std::string& boardType) {
  launch_.boardType = boardType;
  shownBoard_ = boardType;
  UpdateConnectedTo();
  page_->LayOutForBoard(params::VariantOf(boardType));
}

void MainWindow::SetConfigTabCount(int count) {
  const QSignalBlocker block(tabs_);
  while (tabs_->count() < count) tabs_->addTab(QStringLiteral("Config %1").arg(tabs_->count() + 1));
  while (tabs_->count() > count) tabs_->removeTab(tabs_->count() - 1);
}

void MainWindow::SelectConfigTab(int index) {
  const QSignalBlocker block(tabs_);
  if (index >= 0 && index < tabs_->count()) tabs_->setCurrentIndex(index);
}
// ------------------------------------------------------- the page buttons

void MainWindow::OnPageButton(int id) {
  if (runner_->Running()) return;
  switch (id) {
    case ids::kAdvanced:
      OpenAdvancedWindow();
      return;
    case ids::kSatmod:
      OpenSatmodWindow();
      return;
    case ids::kMainApply:
      Run([](Core& core) { core.session->ApplyRequest(); }, {}, QStringLiteral("Writing the settings..."));
      return;
    case ids::kMainRefresh:
      Run([](Core& core) { core.session->RefreshRequest(); }, {},
          QStringLiteral("Reading the unit's settings..."));
      return;
    case ids::kSaveConfigFile:
      Run([](Core& core) { params::SaveConfigToFile(core.unit, core.session->CurrentConfig()); }, {},
          QStringLiteral("Saving the configuration to a file..."));
      return;
    case ids::kLoadConfigFile:
      Run(
          [](Core& core) {
            app::LoadConfigFromFileReviewed(core.unit, [&core] { core.session->FullRefreshWithinOperation(); });
          },
          {}, QStringLiteral("Loading a configuration from a file..."));
      return;
    case ids::kSaveConfigSet:
      Run(
          [](Core& core) {
            params::SaveConfigSet(core.unit, [&core] { core.session->FullRefreshWithinOperation(); });
          },
          {}, QStringLiteral("Saving the configuration set..."));
      return;
    case ids::kLoadConfigSet:
      Run(
          [](Core& core) {
            app::LoadConfigSetReviewed(core.unit, [&core] { core.session->FullRefreshWithinOperation(); });
          },
          {}, QStringLiteral("Loading the configuration set..."));
      return;
    case ids::kWriteKey:
      OnWriteKey();
      return;
    default:
      return;
  }
}

void MainWindow::OpenAdvancedWindow() {
  if (!core_->session->Connected()) {
    options_.prompter->Message("Error", "No connection currently", params::MessageIcon::Exclamation);
    return;
  }
  if (advanced_) {
    advanced_->raise();
    advanced_->activateWindow();
    return;
  }
  NewAdvancedWindow();
  advanced_->show();
  advanced_->raise();
  advanced_->activateWindow();
}

void MainWindow::NewAdvancedWindow() {
  advanced_ = new AdvancedOptionsWindow(core_->unit, icon_);
  connect(advanced_, &AdvancedOptionsWindow::ButtonPressed, this, &MainWindow::OnAdvancedButton);
  unapplied_->WatchAdvanced(advanced_);
  if (busyDepth_ > 0)
    for (int id : {ids::kWindowRefresh, ids::kWindowApply}) advanced_->Host().Enable(id, false);
}

void MainWindow::RebuildAdvancedWindow() {
  if (!advanced_) return;
  // Its values and layout belong to the unit shown before: it goes without
  // a question and comes back in its place, on the same tab.
  QPointer<AdvancedOptionsWindow> old = advanced_;
  const QPoint place = old->pos();
  const int tab = old->Tabs()->currentIndex();
  const bool active = old->isActiveWindow();
  old->SetCloseGuard({});
  old->close();
  NewAdvancedWindow();
  advanced_->Tabs()->setCurrentIndex(tab);
  advanced_->move(place);
  advanced_->show();
  if (active) advanced_->activateWindow();
}

void MainWindow::CloseSatmodWithoutModulator() {
  if (!satmod_) return;
  QPointer<SatmodWindow> window = satmod_;
  satmod_ = nullptr;
  window->SetCloseGuard({});
  window->close();
  ShowResult(QStringLiteral("The satellite modulator window was closed: this unit has no satellite modulator"));
}

void MainWindow::OnAdvancedButton(int id) {
  if (runner_->Running() || !advanced_) return;
  if (id == ids::kWindowApply) {
    Run(
        [](Core& core) {
          const std::vector<ControlHost*> pages = core.view->AdvancedPages();
          core.session->ApplyAdvancedWindow(pages);
        },
        {}, QStringLiteral("Writing the settings..."));
  } else if (id == ids::kWindowRefresh) {
    Run([](Core& core) { core.session->FullRefresh(); }, {}, QStringLiteral("Reading the unit's settings..."));
  }
}

void MainWindow::OpenSatmodWindow() {
  if (!core_->session->Connected()) {
    options_.prompter->Message("Error", "No connection currently", params::MessageIcon::Exclamation);
    return;
  }
  if (satmod_) {
    satmod_->raise();
    satmod_->activateWindow();
    return;
  }
  satmod_ = new SatmodWindow(icon_);
  connect(satmod_, &SatmodWindow::ButtonPressed, this, &MainWindow::OnSatmodButton);
  unapplied_->WatchSatmod(satmod_);
  params::InitPage(satmod_->Host(), core_->tables->satmod);
  // Unlike the Advanced options window, this one reads the unit as it opens.
  Run([](Core& core) { core.session->ReadSatmodWindow(core.view->SatmodHost()); },
      [this] {
        if (!satmod_) return;
        satmod_->show();
        satmod_->raise();
        satmod_->activateWindow();
      },
      QStringLiteral("Reading the satellite modulator's settings..."));
}

void MainWindow::OnSatmodButton(int id) {
  if (runner_->Running() || !satmod_) return;
  if (id == ids::kWindowApply)
    Run([](Core& core) { core.session->ApplySatmodWindow(core.view->SatmodHost()); }, {},
        QStringLiteral("Writing the satellite modulator's settings..."));
  else if (id == ids::kWindowRefresh)
    Run([](Core& core) { core.session->FullRefresh(); }, {}, QStringLiteral("Reading the unit's settings..."));
}

void MainWindow::OnRfOutput() {
  if (runner_->Running()) return;
  Run([](Core& core) { core.session->ToggleRfOutput(); }, {}, QStringLiteral("Switching the RF output..."));
}

void MainWindow::OnConfigTabChanged(int index) {
  if (runner_->Running() || index < 0) return;
  if (!core_->link->IsConnected()) return;  // only the selection changes
  const int back = core_->session->CurrentConfig() - 1;
  unapplied_->BeforeConfigSwitch(
      index,
      [this, index] {
        Run([index](Core& core) { core.session->ChangeConfigTab(index); }, {},
            QStringLiteral("Loading config %1...").arg(index + 1));
      },
      [this, back] { SelectConfigTab(back); });
}

// The marks of the operator's changes and the questions before a config
// switch or a close would drop them; Apply there runs the windows' applies.
void MainWindow::WatchUnappliedChanges() {
  UnappliedChanges::Hooks hooks;
  hooks.busy = [this] { return runner_->Running(); };
  hooks.closing = [this] { return closing_; };
  hooks.prompter = options_.prompter;
  hooks.report = [this](const std::string& text) { ShowResult(Q(text)); };
  hooks.apply = [this](UnappliedChanges::Windows windows, std::function<void()> then) {
    return Run(
        [windows](Core& core) {
          const std::vector<ControlHost*> pages =
              windows.advanced ? core.view->AdvancedPages() : std::vector<ControlHost*>{};
          core.session->ApplyChangedWindows(
              {windows.mainPage, pages, windows.satmod ? &core.view->SatmodHost() : nullptr});
        },
        std::move(then), QStringLiteral("Writing the settings..."));
  };
  unapplied_ = new UnappliedChanges(core_->unit, std::move(hooks), this);
  unapplied_->WatchMainPage(page_);
}

}  // namespace vecta::gui
