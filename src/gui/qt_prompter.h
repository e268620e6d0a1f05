// Message boxes, file choices and the progress window over a parent window.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>

#include "params/prompter.h"

class QLabel;
class QProgressBar;

namespace vecta::gui {

// Control ids of the progress ("Please wait") window.
inline constexpr int kProgressTextId = 1008;
inline constexpr int kProgressBarId = 1041;

// A modal message box: the title and text exactly as given (plain text),
// the icon (exclamation as QMessageBox::Warning) and OK or Yes/No. Closing
// a Yes/No box without choosing answers No.
params::Answer ShowMessage(QWidget* parent, std::string_view title, std::string_view text,
                           params::MessageIcon icon, params::MessageButtons buttons = params::MessageButtons::Ok);

// The same with `reason` as the box's informative text, under the message.
void ShowMessageWithReason(QWidget* parent, std::string_view title, std::string_view text, std::string_view reason,
                           params::MessageIcon icon);

// The operator's message for a link error code: caption "Error", the
// exclamation icon and OK. Returns when the box is closed. Not for code 0.
void ShowLinkError(QWidget* parent, std::uint32_t code);

// A file filter as the file dialogs take it. "Config files (*.cfg)" stays as
// it is; the "description|pattern|...||" form becomes the descriptions
// joined by ";;" ("Config files (*.cfg);;All files (*.*)").
QString ToQtFileFilter(std::string_view filter);

// Message boxes and file dialogs open over the window in use (the active
// window of the program), else over `parent`; the progress window belongs
// to `parent`, has no close box and cannot be closed by the operator.
class QtPrompter : public params::Prompter {
 public:
  explicit QtPrompter(QWidget* parent = nullptr);
  ~QtPrompter() override;
  QtPrompter(const QtPrompter&) = delete;
  QtPrompter& operator=(const QtPrompter&) = delete;

  params::Answer Message(std::string_view title, std::string_view text, params::MessageIcon icon,
                         params::MessageButtons buttons = params::MessageButtons::Ok) override;
  void MessageWithReason(std::string_view title, std::string_view text, std::string_view reason,
                         params::MessageIcon icon) override;
  std::optional<std::string> ChooseFileToOpen(std::string_view filter) override;
  std::optional<std::string> ChooseFileToSave(std::string_view filter) override;
  // The dialog with the request's caption, filters and default suffix,
  // opened in its initial folder with its initial name.
  std::optional<std::string> ChooseFile(const FileRequest& request) override;

  // The review window (config_review_window.h), modal.
  bool ReviewLoad(const params::ConfigReview& review) override;

  // The progress window is modeless and has no close button; it is shown
  // and painted before BeginProgress returns. A second BeginProgress
  // replaces the window.
  void BeginProgress(std::string_view title, std::string_view text, int maximum) override;
  void SetProgress(int value) override;
  void EndProgress() override;

  // The progress window while there is one, else nullptr. Its text carries
  // the control id kProgressTextId and its bar kProgressBarId.
  QWidget* ProgressWindow() const { return progress_; }

 private:
  QWidget* WindowInUse() const;

  QPointer<QWidget> parent_;
  QPointer<QWidget> progress_;
  QPointer<QProgressBar> bar_;
};

}  // namespace vecta::gui
