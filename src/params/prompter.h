// Message boxes, file choices and the progress ("Please wait") window, as
// the operations on the unit need them. The desktop application shows real
// dialogs; the command-line tool prints; tests record and answer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vecta::params {

struct ConfigReview;

enum class MessageIcon { Exclamation, Information, Question };
// YesNoCancel: yes, no, or stay where the operator was (Cancel; also what
// closing the box answers). ApplyDiscardCancel asks what becomes of
// unapplied changes before they would be lost: "Apply", "Discard" or
// "Cancel" (stay).
enum class MessageButtons { Ok, YesNo, YesNoCancel, ApplyDiscardCancel };
enum class Answer { Ok, Yes, No, Apply, Discard, Cancel };

class Prompter {
 public:
  virtual ~Prompter() = default;

  // A message box: the title is "Error" (exclamation icon) for failures and
  // "Alert" for notices and questions.
  virtual Answer Message(std::string_view title, std::string_view text, MessageIcon icon,
                         MessageButtons buttons = MessageButtons::Ok) = 0;

  // A message box with the system's reason for a failure shown under the
  // message (the informative text of a message box), OK only. By default
  // the reason follows the text after a blank line.
  virtual void MessageWithReason(std::string_view title, std::string_view text, std::string_view reason,
                                 MessageIcon icon) {
    if (reason.empty()) {
      Message(title, text, icon);
      return;
    }
    std::string whole(text);
    whole += "\n\n";
    whole += reason;
    Message(title, whole, icon);
  }

  // File choices: none when the operator cancels. `filter` is the
  // description and pattern, for example "Config files (*.cfg)".
  virtual std::optional<std::string> ChooseFileToOpen(std::string_view filter) = 0;
  virtual std::optional<std::string> ChooseFileToSave(std::string_view filter) = 0;

  // A file choice with its caption, default suffix, initial name and
  // folder as well. By default only the filter reaches the dialog.
  struct FileRequest {
    bool save = false;
    std::string_view title;               // the dialog's caption; "" for its standard one
    std::string_view filter;              // as above, or "description|pattern|...||"
    std::string_view defaultSuffix;       // added to a name typed without one; "" for none
    std::string_view initialName = {};    // the name the dialog starts with ("*.ico"); "" for none
    std::string_view initialFolder = {};  // the folder it starts in; "" for the dialog's own choice
  };
  virtual std::optional<std::string> ChooseFile(const FileRequest& request) {
    return request.save ? ChooseFileToSave(request.filter) : ChooseFileToOpen(request.filter);
  }

  // Shows what loading a configuration file or set would change and asks
  // whether to load it: true for "Load", false for "Cancel". A prompter
  // that shows no review loads.
  virtual bool ReviewLoad(const ConfigReview& /*review*/) { return true; }

  // The modeless progress window: a title, a text, and a progress bar from
  // 0 to `maximum` (no bar when `maximum` is 0). One at a time.
  virtual void BeginProgress(std::string_view title, std::string_view text, int maximum) = 0;
  virtual void SetProgress(int value) = 0;
  virtual void EndProgress() = 0;
};

// The "Please wait" window of a mode change.
inline constexpr std::string_view kPleaseWaitTitle = "Please wait";
inline constexpr std::string_view kPleaseWaitText = "Please wait while the unit changes mode...";

}  // namespace vecta::params
