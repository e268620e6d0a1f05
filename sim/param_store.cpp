#include "param_store.h"

#include <algorithm>

namespace vecta::sim {

const std::vector<ParamSeed>& DefaultParamSeeds() {
  // Frequency in kHz, output power in percent, modulation mode index.
  static const std::vector<ParamSeed> seeds = {
      {"gfrq", "2350000"},
      {"gpwr", "100"},
      {"gmod", "1"},
  };
  return seeds;
}

bool IsMnemonic(std::string_view text) {
  return text.size() == 4 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

ParamStore::ParamStore(int configurations, const std::vector<ParamSeed>& seeds) {
  for (const auto& seed : seeds)
    if (IsMnemonic(seed.mnemonic)) defaults_[seed.mnemonic] = seed.value;
  configs_.assign(static_cast<std::size_t>(std::max(1, configurations)), defaults_);
}

bool ParamStore::Select(int number) {
  if (number < 1 || number > Configurations()) return false;
  current_ = number - 1;
  return true;
}

bool ParamStore::Knows(std::string_view mnemonic) const {
  return defaults_.find(mnemonic) != defaults_.end();
}

std::optional<std::string> ParamStore::Get(std::string_view mnemonic) const {
  const Values& values = configs_[static_cast<std::size_t>(current_)];
  auto it = values.find(mnemonic);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

bool ParamStore::Set(std::string_view mnemonic, std::string value) {
  Values& values = configs_[static_cast<std::size_t>(current_)];
  auto it = values.find(mnemonic);
  if (it == values.end()) return false;
  it->second = std::move(value);
  return true;
}

void ParamStore::RestoreDefaults() { configs_[static_cast<std::size_t>(current_)] = defaults_; }

}  // namespace vecta::sim
