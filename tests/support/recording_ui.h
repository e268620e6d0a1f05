// A prompter that records every message and answers from a script, and a
// session view that records what the main window was told.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/session.h"
#include "params/config_review.h"
#include "params/memory_host.h"
#include "params/prompter.h"
#include "params/refresh.h"

namespace vecta::test {

class RecordingPrompter : public params::Prompter {
 public:
  struct Shown {
    std::string title, text;
    params::MessageIcon icon;
    params::MessageButtons buttons;
  };
  params::Answer Message(std::string_view title, std::string_view text, params::MessageIcon icon,
                         params::MessageButtons buttons) override {
    messages.push_back({std::string(title), std::string(text), icon, buttons});
    if (!answers.empty()) {
      auto a = answers.front();
      answers.pop_front();
      return a;
    }
    if (buttons == params::MessageButtons::YesNoCancel || buttons == params::MessageButtons::ApplyDiscardCancel)
      return params::Answer::Cancel;
    return buttons == params::MessageButtons::YesNo ? params::Answer::No : params::Answer::Ok;
  }
  void MessageWithReason(std::string_view title, std::string_view text, std::string_view why,
                         params::MessageIcon icon) override {
    Message(title, text, icon, params::MessageButtons::Ok);
    reasons.push_back(std::string(why));
  }
  std::optional<std::string> ChooseFileToOpen(std::string_view) override { return NextFile(); }
  std::optional<std::string> ChooseFileToSave(std::string_view) override { return NextFile(); }
  // Every review shown, answered by `reviewWith` when set, else from
  // `reviewAnswers` (Cancel when empty).
  bool ReviewLoad(const params::ConfigReview& review) override {
    reviews.push_back(review);
    if (reviewWith) return reviewWith(review);
    if (reviewAnswers.empty()) return false;
    const bool load = reviewAnswers.front();
    reviewAnswers.pop_front();
    return load;
  }
  void BeginProgress(std::string_view title, std::string_view text, int maximum) override {
    progress.push_back("begin " + std::string(title) + ": " + std::string(text) + " /" + std::to_string(maximum));
  }
  void SetProgress(int value) override {
    progress.push_back("set " + std::to_string(value));
    if (onProgress) onProgress(value);
  }
  void EndProgress() override { progress.push_back("end"); }

  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& m : messages) t.push_back(m.text);
    return t;
  }

  std::vector<Shown> messages;
  std::vector<std::string> reasons;  // of MessageWithReason, in order
  std::deque<params::Answer> answers;
  std::vector<params::ConfigReview> reviews;
  std::deque<bool> reviewAnswers;
  std::function<bool(const params::ConfigReview&)> reviewWith;
  std::deque<std::optional<std::string>> files;
  std::vector<std::string> progress;
  std::function<void(int value)> onProgress;  // after each SetProgress

 private:
  std::optional<std::string> NextFile() {
    if (files.empty()) return std::nullopt;
    auto f = files.front();
    files.pop_front();
    return f;
  }
};

class RecordingView : public app::SessionView {
 public:
  RecordingView() : page(params::MemoryHost::ForTable(params::MainTableRows())) {
    params::ParamTables blank;
    params::InitPage(page, blank.main);
    params::InitPage(advanced, blank.main);
    params::InitPage(satmod, blank.satmod);
  }
  void SetBusy(bool busy) override { busyChanges.push_back(busy); }
  void SetConfigCount(int count) override { configCount = count; }
  void SelectConfigTab(int index) override { tab = index; }
  void AdaptToBoard(const std::string& board) override { adaptedTo.push_back(board); }
  void ShowSatmodButton(bool visible) override { satmodButton = visible; }
  void ShowUnitAddress(int address) override { shownAddress = address; }
  params::ControlHost& MainPage() override { return page; }
  params::ControlHost* AdvancedWindow() override { return advancedOpen ? &advanced : nullptr; }
  params::ControlHost* SatmodWindow() override { return satmodOpen ? &satmod : nullptr; }
  void RebuildSettingsWindows(const std::string& board) override { rebuiltFor.push_back(board); }
  void CloseSatmodWindow() override { satmodOpen = false; }

  std::vector<std::string> rebuiltFor;
  params::MemoryHost page;
  params::MemoryHost advanced = params::MemoryHost::ForTable(params::MainTableRows());
  params::MemoryHost satmod = params::MemoryHost::ForTable(params::SatmodTableRows());
  bool advancedOpen = false, satmodOpen = false;
  std::vector<bool> busyChanges;
  std::vector<std::string> adaptedTo;
  int configCount = 8, tab = -1, shownAddress = -1;
  std::optional<bool> satmodButton;
};

}  // namespace vecta::test
