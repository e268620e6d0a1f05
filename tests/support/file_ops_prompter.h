// A prompter that records messages, file dialogs (mode, title, default
// suffix, filter) and the progress
// window as texts, and answers file choices with a set path.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "params/prompter.h"

namespace vecta::test {

struct FileOpsPrompter final : params::Prompter {
  struct Msg {
    std::string title, text;
    params::MessageIcon icon;
  };
  params::Answer Message(std::string_view title, std::string_view text, params::MessageIcon icon,
                         params::MessageButtons) override {
    messages.push_back({std::string(title), std::string(text), icon});
    return params::Answer::Ok;
  }
  std::optional<std::string> ChooseFileToOpen(std::string_view filter) override {
    filters.push_back("open " + std::string(filter));
    return answer;
  }
  std::optional<std::string> ChooseFileToSave(std::string_view filter) override {
    filters.push_back("save " + std::string(filter));
    return answer;
  }
  std::optional<std::string> ChooseFile(const FileRequest& r) override {
    filters.push_back(std::string(r.save ? "save " : "open ") + std::string(r.title) + " [" +
                      std::string(r.defaultSuffix) + "] " + std::string(r.filter));
    return answer;
  }
  void BeginProgress(std::string_view title, std::string_view text, int maximum) override {
    progress.push_back("begin " + std::string(title) + "|" + std::string(text) + "|" + std::to_string(maximum));
  }
  void SetProgress(int value) override { progress.push_back("set " + std::to_string(value)); }
  void EndProgress() override { progress.push_back("end"); }

  std::vector<Msg> messages;
  std::vector<std::string> filters, progress;
  std::optional<std::string> answer;
};

}  // namespace vecta::test
