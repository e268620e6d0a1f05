#include "gui/unapplied_changes.h"

#include <QLabel>

#include "params/control_changes.h"

namespace vecta::gui {
namespace {

int Mark(params::UnitContext& unit, const params::ParamTable& table, QtControlHost& host, QLabel* label) {
  const int count = params::MarkUnappliedControls(table, host, unit.variant());
  if (label) {
    label->setText(QString::fromStdString(params::UnappliedChangesText(count)));
    label->setVisible(count > 0);
  }
  return count;
}

}  // namespace

std::string UnappliedQuestion(int count, const std::string& where, const std::string& before) {
  const bool one = count == 1;
  std::string text =
      one ? "There is 1 unapplied change" : "There are " + std::to_string(count) + " unapplied changes";
  if (!where.empty()) text += " in the " + where;
  text += one ? ". Apply it before " : ". Apply them before ";
  return text + before + "?";
}

UnappliedChanges::UnappliedChanges(params::UnitContext& unit, Hooks hooks, QObject* parent)
    : QObject(parent), unit_(unit), hooks_(std::move(hooks)) {}

void UnappliedChanges::WatchMainPage(MainSettingsPage* page) {
  page_ = page;
  connect(page, &MainSettingsPage::OperatorChanged, this, [this] {
    if (!hooks_.busy()) UpdateMainPage();
  });
}

void UnappliedChanges::WatchAdvanced(AdvancedOptionsWindow* window) {
  advanced_ = window;
  advancedCloseApproved_ = false;
  connect(window, &AdvancedOptionsWindow::OperatorChanged, this, [this] {
    if (!hooks_.busy()) UpdateAdvanced();
  });
  window->SetCloseGuard([this] { return AllowAdvancedClose(); });
  if (!hooks_.busy()) UpdateAdvanced();
}

void UnappliedChanges::WatchSatmod(SatmodWindow* window) {
  satmod_ = window;
  satmodCloseApproved_ = false;
  connect(window, &SatmodWindow::OperatorChanged, this, [this] {
    if (!hooks_.busy()) UpdateSatmod();
  });
  window->SetCloseGuard([this] { return AllowSatmodClose(); });
}

int UnappliedChanges::UpdateMainPage() {
  return page_ ? Mark(unit_, unit_.tables->main, page_->Host(), page_->UnappliedLabel()) : 0;
}
int UnappliedChanges::UpdateAdvanced() {
  return advanced_ ? Mark(unit_, unit_.tables->main, advanced_->Host(), advanced_->UnappliedLabel()) : 0;
}
int UnappliedChanges::UpdateSatmod() {
  return satmod_ ? Mark(unit_, unit_.tables->satmod, satmod_->Host(), satmod_->UnappliedLabel()) : 0;
}

int UnappliedChanges::UpdateAll() {
  int count = 0;
  Changed(&count);
  return count;
}

UnappliedChanges::Windows UnappliedChanges::Changed(int* count) {
  const int main = UpdateMainPage();
  const int advanced = UpdateAdvanced();
  const int satmod = UpdateSatmod();
  if (count) *count = main + advanced + satmod;
  return Windows{main > 0, advanced > 0, satmod > 0};
}

bool UnappliedChanges::MayAsk() const { return hooks_.prompter && !hooks_.closing() && !hooks_.busy(); }

std::function<void()> UnappliedChanges::IfWritten(Windows windows, std::function<void()> next,
                                                  std::function<void()> stay) {
  return [this, windows, next = std::move(next), stay = std::move(stay)] {
    int count = 0;
    const Windows left = Changed(&count);
    if (!(windows.mainPage && left.mainPage) && !(windows.advanced && left.advanced) &&
        !(windows.satmod && left.satmod)) {
      next();
      return;
    }
    if (stay) stay();
    if (hooks_.report) hooks_.report("Apply failed: " + params::UnappliedChangesText(count) + " kept");
  };
}

UnappliedChanges::Choice UnappliedChanges::Ask(int count, const std::string& where, const std::string& before) {
  const params::Answer answer =
      hooks_.prompter->Message("Alert", UnappliedQuestion(count, where, before), params::MessageIcon::Question,
                               params::MessageButtons::ApplyDiscardCancel);
  if (answer == params::Answer::Apply) return Choice::Apply;
  if (answer == params::Answer::Discard) return Choice::Discard;
  return Choice::Stay;  // Cancel, or a prompter that cannot ask
}

void UnappliedChanges::BeforeConfigSwitch(int index, const std::function<void()>& proceed,
                                          const std::function<void()>& stay) {
  int count = 0;
  const Windows windows = MayAsk() ? Changed(&count) : Windows{};
  if (!windows.Any()) {
    proceed();
    return;
  }
  switch (Ask(count, {}, "loading config " + std::to_string(index + 1))) {
    case Choice::Apply:
      if (!hooks_.apply(windows, IfWritten(windows, proceed, stay))) stay();
      return;
    case Choice::Discard:
      proceed();
      return;
    case Choice::Stay:
      stay();
      return;
  }
}

bool UnappliedChanges::AllowMainClose(const std::function<void()>& closeAgain) {
  if (mainCloseApproved_ || !MayAsk()) return true;
  int count = 0;
  const Windows windows = Changed(&count);
  if (!windows.Any()) return true;
  switch (Ask(count, {}, "closing the program")) {
    case Choice::Apply:
      hooks_.apply(windows, IfWritten(windows, [this, closeAgain] {
                     mainCloseApproved_ = true;
                     closeAgain();
                   }));
      return false;
    case Choice::Discard:
      return true;
    case Choice::Stay:
      return false;
  }
  return false;
}

bool UnappliedChanges::AllowWindowClose(int count, const std::string& where, Windows windows,
                                        const std::function<void()>& closeAgain) {
  if (count == 0) return true;
  switch (Ask(count, where, "closing the window")) {
    case Choice::Apply:
      hooks_.apply(windows, IfWritten(windows, closeAgain));
      return false;
    case Choice::Discard:
      return true;
    case Choice::Stay:
      return false;
  }
  return false;
}

bool UnappliedChanges::AllowAdvancedClose() {
  if (advancedCloseApproved_ || !MayAsk()) return true;
  return AllowWindowClose(UpdateAdvanced(), "Advanced options window", Windows{false, true, false}, [this] {
    advancedCloseApproved_ = true;
    if (advanced_) advanced_->close();
  });
}

bool UnappliedChanges::AllowSatmodClose() {
  if (satmodCloseApproved_ || !MayAsk()) return true;
  return AllowWindowClose(UpdateSatmod(), "Satellite modulator window", Windows{false, false, true}, [this] {
    satmodCloseApproved_ = true;
    if (satmod_) satmod_->close();
  });
}

}  // namespace vecta::gui
