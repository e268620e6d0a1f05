#include "cli_ui.h"

#include <unistd.h>

#include <iostream>
#include <ostream>

#include "params/config_review.h"
#include "params/refresh.h"

namespace vecta::ctl {

TerminalPrompter::TerminalPrompter(std::ostream& err, bool assumeYes, bool progressBar)
    : err_(err), assumeYes_(assumeYes), progressBar_(progressBar) {}

params::Answer TerminalPrompter::Message(std::string_view title, std::string_view text, params::MessageIcon,
                                         params::MessageButtons buttons) {
  if (inProgress_ && progressBar_) err_ << "\n";
  if (title == "Error") errorShown_ = true;
  err_ << title << ": " << text;
  if (buttons == params::MessageButtons::Ok) {
    err_ << "\n";
    return params::Answer::Ok;
  }
  if (assumeYes_) {
    err_ << "? yes\n";
    return params::Answer::Yes;
  }
  if (!isatty(STDIN_FILENO)) {
    err_ << "? no (give --yes to answer yes)\n";
    return params::Answer::No;
  }
  err_ << "? [y/N] " << std::flush;
  std::string line;
  std::getline(std::cin, line);
  return !line.empty() && (line[0] == 'y' || line[0] == 'Y') ? params::Answer::Yes : params::Answer::No;
}

bool TerminalPrompter::ReviewLoad(const params::ConfigReview& review) {
  const std::string text = params::ReviewText(review) + "Load this file into the unit?";
  return Message("Alert", text, params::MessageIcon::Question, params::MessageButtons::YesNo) ==
         params::Answer::Yes;
}

void TerminalPrompter::BeginProgress(std::string_view title, std::string_view text, int maximum) {
  inProgress_ = true;
  progressText_ = std::string(title) + ": " + std::string(text);
  maximum_ = maximum;
  value_ = 0;
  if (progressBar_)
    Draw();
  else if (maximum == 0)
    err_ << progressText_ << "\n";
}

void TerminalPrompter::SetProgress(int value) {
  value_ = value;
  if (progressBar_) Draw();
}

void TerminalPrompter::EndProgress() {
  if (inProgress_ && progressBar_) err_ << "\n";
  inProgress_ = false;
}

void TerminalPrompter::Draw() {
  err_ << "\r" << progressText_;
  if (maximum_ > 0) {
    constexpr int kWidth = 30;
    const int filled = std::clamp(value_ * kWidth / maximum_, 0, kWidth);
    err_ << " [" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << value_ << "/" << maximum_;
  }
  err_ << std::flush;
}

CliView::CliView()
    : page(params::MemoryHost::ForTable(params::MainTableRows())),
      satmod(params::MemoryHost::ForTable(params::SatmodTableRows())) {
  params::ParamTables blank;
  params::InitPage(page, blank.main);
  params::InitPage(satmod, blank.satmod);
}

}  // namespace vecta::ctl
