// The command-line tool's side of the prompter and the main window: messages
// go to stderr, questions are answered by --yes or on the terminal, the
// progress window becomes a progress bar on a terminal, and the pages are
// in-memory windows.
#pragma once

#include <iosfwd>
#include <string>

#include "app/session.h"
#include "params/memory_host.h"
#include "params/prompter.h"

namespace vecta::ctl {

class TerminalPrompter : public params::Prompter {
 public:
  // `assumeYes` answers every question with Yes; otherwise a question is
  // asked on the terminal when stdin is one, and answered No when it is not.
  TerminalPrompter(std::ostream& err, bool assumeYes, bool progressBar);

  params::Answer Message(std::string_view title, std::string_view text, params::MessageIcon icon,
                         params::MessageButtons buttons) override;
  std::optional<std::string> ChooseFileToOpen(std::string_view) override { return std::nullopt; }
  std::optional<std::string> ChooseFileToSave(std::string_view) override { return std::nullopt; }
  // The review is printed with the question whether to load, answered as
  // every question is.
  bool ReviewLoad(const params::ConfigReview& review) override;
  void BeginProgress(std::string_view title, std::string_view text, int maximum) override;
  void SetProgress(int value) override;
  void EndProgress() override;

  // An "Error" message was shown: the command failed.
  bool ErrorShown() const { return errorShown_; }

 private:
  void Draw();

  std::ostream& err_;
  bool assumeYes_;
  bool progressBar_;
  bool errorShown_ = false;
  std::string progressText_;
  int maximum_ = 0, value_ = 0;
  bool inProgress_ = false;
};

// The main window of the command line: the main settings page and the
// Advanced options window as in-memory windows holding every control.
class CliView : public app::SessionView {
 public:
  CliView();
  void SetBusy(bool) override {}
  void SetConfigCount(int count) override { configCount = count; }
  void SelectConfigTab(int index) override { tab = index; }
  void AdaptToBoard(const std::string&) override {}
  void ShowSatmodButton(bool visible) override { satmodButton = visible; }
  params::ControlHost& MainPage() override { return page; }
  params::ControlHost* AdvancedWindow() override { return nullptr; }
  params::ControlHost* SatmodWindow() override { return satmodOpen ? &satmod : nullptr; }

  params::MemoryHost page;
  params::MemoryHost satmod;
  bool satmodOpen = false;
  bool satmodButton = false;
  int configCount = 8, tab = -1;
};

}  // namespace vecta::ctl
