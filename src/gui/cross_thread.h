// Work that talks to the unit runs on a thread of its own so the windows
// keep painting while the unit takes its time (a 5 s mode change, a serial
// time-out). What that work does to the windows and to the operator goes
// through these adapters: each call is carried out on the window thread,
// and the worker waits for it. Once the program is closing (Abandon), the
// adapters no longer touch any window: reads give empty values, questions
// are answered No and file choices are cancelled.
#pragma once

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

#include "params/control_host.h"
#include "params/prompter.h"

namespace vecta::gui {

// Runs `fn` on the window thread and returns when it has run: directly when
// called there, else queued and waited for.
void CallOnGuiThread(const std::function<void()>& fn);
// Queues `fn` for the window thread while `context` lives; never waits.
void PostToGuiThread(QObject* context, std::function<void()> fn);

// Shared by the adapters of one program: set once, when it closes.
struct AbandonFlag {
  std::atomic<bool> set{false};
};

// A control host whose calls run on the window thread. `target` gives the
// host to use at the moment of each call (a window that was closed in
// between gives none: the call then does nothing).
class GuiThreadControlHost final : public params::ControlHost {
 public:
  GuiThreadControlHost(std::function<params::ControlHost*()> target, std::shared_ptr<AbandonFlag> abandoned);

  bool HasControl(int id) const override;
  void SetText(int id, std::string_view text) override;
  std::string Text(int id) const override;
  void SetReadOnly(int id, bool readOnly) override;
  void Enable(int id, bool enabled) override;
  void Show(int id, bool visible) override;
  bool IsEnabled(int id) const override;
  bool IsVisible(int id) const override;
  void ClearList(int id) override;
  void InsertEntry(int id, int position, std::string_view text) override;
  void DeleteEntry(int id, int position) override;
  int EntryCount(int id) const override;
  std::string EntryText(int id, int position) const override;
  void Select(int id, int position) override;
  int Selected(int id) const override;
  void SetChecked(int id, bool checked) override;
  bool Checked(int id) const override;
  void SetAddress(int id, std::uint32_t address) override;
  std::uint32_t Address(int id) const override;
  void SetMarked(int id, bool marked, std::string_view tooltip) override;

 private:
  // Runs `fn` with the target host on the window thread; false (fn not run)
  // when abandoned or when there is no target.
  bool Run(const std::function<void(params::ControlHost&)>& fn) const;

  std::function<params::ControlHost*()> target_;
  std::shared_ptr<AbandonFlag> abandoned_;
};

// A prompter whose calls run on the window thread.
class GuiThreadPrompter final : public params::Prompter {
 public:
  GuiThreadPrompter(params::Prompter& target, std::shared_ptr<AbandonFlag> abandoned);

  params::Answer Message(std::string_view title, std::string_view text, params::MessageIcon icon,
                         params::MessageButtons buttons = params::MessageButtons::Ok) override;
  void MessageWithReason(std::string_view title, std::string_view text, std::string_view reason,
                         params::MessageIcon icon) override;
  std::optional<std::string> ChooseFileToOpen(std::string_view filter) override;
  std::optional<std::string> ChooseFileToSave(std::string_view filter) override;
  std::optional<std::string> ChooseFile(const FileRequest& request) override;
  bool ReviewLoad(const params::ConfigReview& review) override;
  void BeginProgress(std::string_view title, std::string_view text, int maximum) override;
  void SetProgress(int value) override;
  void EndProgress() override;

 private:
  bool Abandoned() const { return abandoned_->set.load(); }

  params::Prompter& target_;
  std::shared_ptr<AbandonFlag> abandoned_;
};

}  // namespace vecta::gui
