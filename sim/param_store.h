// The unit's parameter store: mnemonic -> value text, one set per
// configuration. Each configuration starts from the same seed table and can
// be restored to it ("gdef"). The store knows nothing about frames; the
// built-in mnemonics (address, board, firmware, configuration, ...) live in
// SimUnit.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vecta::sim {

struct ParamSeed {
  std::string mnemonic;  // four lower-case letters
  std::string value;     // value text as the unit reports it
};

// A few generic parameters every simulated unit knows, so that reads and
// writes of ordinary parameters can be exercised without extra options.
const std::vector<ParamSeed>& DefaultParamSeeds();

// True for exactly four lower-case ASCII letters.
bool IsMnemonic(std::string_view text);

class ParamStore {
 public:
  // `configurations` is clamped to at least 1. Seeds with an invalid
  // mnemonic are ignored; a later seed for the same mnemonic wins.
  ParamStore(int configurations, const std::vector<ParamSeed>& seeds);

  int Configurations() const { return static_cast<int>(configs_.size()); }
  // The current configuration, 1-based.
  int Current() const { return current_ + 1; }
  // Switches to configuration `number` (1-based); false when out of range.
  bool Select(int number);

  bool Knows(std::string_view mnemonic) const;
  // The value in the current configuration; nullopt for an unknown mnemonic.
  std::optional<std::string> Get(std::string_view mnemonic) const;
  // Stores a value in the current configuration; false (nothing stored) for
  // an unknown mnemonic: the unit does not grow new parameters on a write.
  bool Set(std::string_view mnemonic, std::string value);
  // Puts the current configuration back to the seed values.
  void RestoreDefaults();

 private:
  using Values = std::map<std::string, std::string, std::less<>>;
  Values defaults_;
  std::vector<Values> configs_;
  int current_ = 0;
};

}  // namespace vecta::sim
