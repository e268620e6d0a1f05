// The unit's parameter store: key -> value text. Most parameters belong to a
// configuration (one set each, switched with "glod", restored with "gdef");
// the rest belong to the unit as a whole (calibration, trims, information).
// The store knows nothing about frames or about which values are valid: the
// catalogue (unit_params.h) decides that, SimUnit puts the two together.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vecta::sim {

struct ParamSeed {
  std::string mnemonic;  // four characters, e.g. "gnam", "o4ko"
  std::string value;     // value text as the unit reports it
};

// Four lower-case letters or digits, the first a letter.
bool IsMnemonic(std::string_view text);

class ParamStore {
 public:
  using Values = std::map<std::string, std::string, std::less<>>;

  // One default set per configuration (at least one is kept) and the
  // unit-wide defaults. The keys of the defaults are all the store knows.
  ParamStore(std::vector<Values> configurationDefaults, Values unitDefaults);

  int Configurations() const { return static_cast<int>(configs_.size()); }
  // The current configuration, 1-based.
  int Current() const { return current_ + 1; }
  // Switches to configuration `number` (1-based); false when out of range.
  bool Select(int number);

  bool Knows(std::string_view key) const;
  bool IsUnitWide(std::string_view key) const;
  // The value in the current configuration, or the unit-wide one; nullopt
  // for an unknown key.
  std::optional<std::string> Get(std::string_view key) const;
  // Replaces a known value where it lives (current configuration or unit);
  // false, nothing stored, for an unknown key.
  bool Set(std::string_view key, std::string value);
  // The same for configuration `number` (1-based) and for unit-wide keys.
  bool SetIn(int number, std::string_view key, std::string value);
  bool SetUnit(std::string_view key, std::string value);
  // Puts the current configuration back to its defaults.
  void RestoreDefaults();

  const Values& Configuration(int number) const { return configs_.at(static_cast<std::size_t>(number - 1)); }
  const Values& Defaults(int number) const { return defaults_.at(static_cast<std::size_t>(number - 1)); }
  const Values& Unit() const { return unit_; }

 private:
  std::vector<Values> defaults_;
  std::vector<Values> configs_;
  Values unit_;
  int current_ = 0;
};

}  // namespace vecta::sim
