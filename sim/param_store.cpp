#include "param_store.h"

#include <algorithm>

namespace vecta::sim {

bool IsMnemonic(std::string_view text) {
  auto lowerOrDigit = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  return text.size() == 4 && text[0] >= 'a' && text[0] <= 'z' &&
         std::all_of(text.begin(), text.end(), lowerOrDigit);
}

ParamStore::ParamStore(std::vector<Values> configurationDefaults, Values unitDefaults)
    : defaults_(std::move(configurationDefaults)), unit_(std::move(unitDefaults)) {
  if (defaults_.empty()) defaults_.emplace_back();
  configs_ = defaults_;
}

bool ParamStore::Select(int number) {
  if (number < 1 || number > Configurations()) return false;
  current_ = number - 1;
  return true;
}

bool ParamStore::Knows(std::string_view key) const {
  return IsUnitWide(key) || configs_[static_cast<std::size_t>(current_)].count(key) != 0;
}

bool ParamStore::IsUnitWide(std::string_view key) const { return unit_.find(key) != unit_.end(); }

std::optional<std::string> ParamStore::Get(std::string_view key) const {
  const Values& values = configs_[static_cast<std::size_t>(current_)];
  if (auto it = values.find(key); it != values.end()) return it->second;
  if (auto it = unit_.find(key); it != unit_.end()) return it->second;
  return std::nullopt;
}

bool ParamStore::Set(std::string_view key, std::string value) {
  return SetIn(Current(), key, value) || SetUnit(key, std::move(value));
}

bool ParamStore::SetIn(int number, std::string_view key, std::string value) {
  if (number < 1 || number > Configurations()) return false;
  Values& values = configs_[static_cast<std::size_t>(number - 1)];
  auto it = values.find(key);
  if (it == values.end()) return false;
  it->second = std::move(value);
  return true;
}

bool ParamStore::SetUnit(std::string_view key, std::string value) {
  auto it = unit_.find(key);
  if (it == unit_.end()) return false;
  it->second = std::move(value);
  return true;
}

void ParamStore::RestoreDefaults() {
  configs_[static_cast<std::size_t>(current_)] = defaults_[static_cast<std::size_t>(current_)];
}

}  // namespace vecta::sim
