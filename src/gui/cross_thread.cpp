#include "gui/cross_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <string>

namespace vecta::gui {

void CallOnGuiThread(const std::function<void()>& fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(app, fn, Qt::BlockingQueuedConnection);
}

void PostToGuiThread(QObject* context, std::function<void()> fn) {
  QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
}

// ------------------------------------------------------------ control host

GuiThreadControlHost::GuiThreadControlHost(std::function<params::ControlHost*()> target,
                                           std::shared_ptr<AbandonFlag> abandoned)
    : target_(std::move(target)), abandoned_(std::move(abandoned)) {}

bool GuiThreadControlHost::Run(const std::function<void(params::ControlHost&)>& fn) const {
  if (abandoned_->set.load()) return false;
  bool ran = false;
  CallOnGuiThread([&] {
    if (abandoned_->set.load()) return;
    if (params::ControlHost* host = target_()) {
      fn(*host);
      ran = true;
    }
  });
  return ran;
}

bool GuiThreadControlHost::HasControl(int id) const {
  bool r = false;
  Run([&](params::ControlHost& h) { r = h.HasControl(id); });
  return r;
}
void GuiThreadControlHost::SetText(int id, std::string_view text) {
  Run([&](params::ControlHost& h) { h.SetText(id, text); });
}
std::string GuiThreadControlHost::Text(int id) const {
  std::string r;
  Run([&](params::ControlHost& h) { r = h.Text(id); });
  return r;
}
void GuiThreadControlHost::SetReadOnly(int id, bool readOnly) {
  Run([&](params::ControlHost& h) { h.SetReadOnly(id, readOnly); });
}
void GuiThreadControlHost::Enable(int id, bool enabled) {
  Run([&](params::ControlHost& h) { h.Enable(id, enabled); });
}
void GuiThreadControlHost::Show(int id, bool visible) {
  Run([&](params::ControlHost& h) { h.Show(id, visible); });
}
bool GuiThreadControlHost::IsEnabled(int id) const {
  bool r = false;
  Run([&](params::ControlHost& h) { r = h.IsEnabled(id); });
  return r;
}
bool GuiThreadControlHost::IsVisible(int id) const {
  bool r = false;
  Run([&](params::ControlHost& h) { r = h.IsVisible(id); });
  return r;
}
void GuiThreadControlHost::ClearList(int id) {
  Run([&](params::ControlHost& h) { h.ClearList(id); });
}
void GuiThreadControlHost::InsertEntry(int id, int position, std::string_view text) {
  Run([&](params::ControlHost& h) { h.InsertEntry(id, position, text); });
}
void GuiThreadControlHost::DeleteEntry(int id, int position) {
  Run([&](params::ControlHost& h) { h.DeleteEntry(id, position); });
}
int GuiThreadControlHost::EntryCount(int id) const {
  int r = 0;
  Run([&](params::ControlHost& h) { r = h.EntryCount(id); });
  return r;
}
std::string GuiThreadControlHost::EntryText(int id, int position) const {
  std::string r;
  Run([&](params::ControlHost& h) { r = h.EntryText(id, position); });
  return r;
}
void GuiThreadControlHost::Select(int id, int position) {
  Run([&](params::ControlHost& h) { h.Select(id, position); });
}
int GuiThreadControlHost::Selected(int id) const {
  int r = -1;
  Run([&](params::ControlHost& h) { r = h.Selected(id); });
  return r;
}
void GuiThreadControlHost::SetChecked(int id, bool checked) {
  Run([&](params::ControlHost& h) { h.SetChecked(id, checked); });
}
bool GuiThreadControlHost::Checked(int id) const {
  bool r = false;
  Run([&](params::ControlHost& h) { r = h.Checked(id); });
  return r;
}
void GuiThreadControlHost::SetAddress(int id, std::uint32_t address) {
  Run([&](params::ControlHost& h) { h.SetAddress(id, address); });
}
std::uint32_t GuiThreadControlHost::Address(int id) const {
  std::uint32_t r = 0;
  Run([&](params::ControlHost& h) { r = h.Address(id); });
  return r;
}
void GuiThreadControlHost::SetMarked(int id, bool marked, std::string_view tooltip) {
  Run([&](params::ControlHost& h) { h.SetMarked(id, marked, tooltip); });
}

// ---------------------------------------------------------------- prompter

GuiThreadPrompter::GuiThreadPrompter(params::Prompter& target, std::shared_ptr<AbandonFlag> abandoned)
    : target_(target), abandoned_(std::move(abandoned)) {}

params::Answer GuiThreadPrompter::Message(std::string_view title, std::string_view text, params::MessageIcon icon,
                                          params::MessageButtons buttons) {
  params::Answer answer =
      buttons == params::MessageButtons::YesNo ? params::Answer::No
      : buttons == params::MessageButtons::YesNoCancel || buttons == params::MessageButtons::ApplyDiscardCancel
          ? params::Answer::Cancel
          : params::Answer::Ok;
  if (Abandoned()) return answer;
  CallOnGuiThread([&] {
    if (!Abandoned()) answer = target_.Message(title, text, icon, buttons);
  });
  return answer;
}

// Closing the program cancels the load.
bool GuiThreadPrompter::ReviewLoad(const params::ConfigReview& review) {
  bool load = false;
  if (Abandoned()) return load;
  CallOnGuiThread([&] {
    if (!Abandoned()) load = target_.ReviewLoad(review);
  });
  return load;
}

void GuiThreadPrompter::MessageWithReason(std::string_view title, std::string_view text, std::string_view reason,
                                          params::MessageIcon icon) {
  if (Abandoned()) return;
  CallOnGuiThread([&] {
    if (!Abandoned()) target_.MessageWithReason(title, text, reason, icon);
  });
}

std::optional<std::string> GuiThreadPrompter::ChooseFileToOpen(std::string_view filter) {
  std::optional<std::string> r;
  if (Abandoned()) return r;
  CallOnGuiThread([&] {
    if (!Abandoned()) r = target_.ChooseFileToOpen(filter);
  });
  return r;
}

std::optional<std::string> GuiThreadPrompter::ChooseFileToSave(std::string_view filter) {
  std::optional<std::string> r;
  if (Abandoned()) return r;
  CallOnGuiThread([&] {
    if (!Abandoned()) r = target_.ChooseFileToSave(filter);
  });
  return r;
}

std::optional<std::string> GuiThreadPrompter::ChooseFile(const FileRequest& request) {
  std::optional<std::string> r;
  if (Abandoned()) return r;
  CallOnGuiThread([&] {
    if (!Abandoned()) r = target_.ChooseFile(request);
  });
  return r;
}

void GuiThreadPrompter::BeginProgress(std::string_view title, std::string_view text, int maximum) {
  if (Abandoned()) return;
  CallOnGuiThread([&] {
    if (!Abandoned()) target_.BeginProgress(title, text, maximum);
  });
}

void GuiThreadPrompter::SetProgress(int value) {
  if (Abandoned()) return;
  CallOnGuiThread([&] {
    if (!Abandoned()) target_.SetProgress(value);
  });
}

void GuiThreadPrompter::EndProgress() {
  if (Abandoned()) return;
  CallOnGuiThread([&] {
    if (!Abandoned()) target_.EndProgress();
  });
}

}  // namespace vecta::gui
