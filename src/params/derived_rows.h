// The derived rows: choices the pages offer that the unit holds in other
// parameters. "Bandwidth mode" is the owid bandwidth, "Audio" the audio
// encoder setting, the K610's two encoder sources each encoder with its
// input. One line of the table says how a choice is read from what the
// unit holds and what choosing it writes; refresh, Apply and the offline
// editor all go by it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "params/descriptor.h"

namespace vecta::params {

// The bandwidths of owid: 6, 7 and 8 MHz (0-2) are DVB-T, 2.5 MHz, 1.25 MHz
// and 625 kHz (3-5) narrowband. owid offers every entry, so its positions
// and its wire values are the same numbers.
constexpr bool IsDvbtBandwidth(long long owid) { return owid < 3; }
// True when two owid values lie on different sides of that boundary: the
// modulator changes mode between them.
constexpr bool OwidCrossesBoundary(long long a, long long b) { return IsDvbtBandwidth(a) != IsDvbtBandwidth(b); }

// One write a derived choice stands for.
struct DerivedWrite {
  std::string_view mnemonic;
  std::int32_t value;  // the wire value

  bool operator==(const DerivedWrite&) const = default;
};

struct DerivedRule {
  std::string_view row;  // the derived row's mnemonic ("0000" ...)
  // The choice the stored positions of the main table stand for; none when
  // there is nothing to show yet.
  std::optional<std::int32_t> (*read)(const ParamTable& main);
  // What choosing the entry at `selected` writes, in order.
  std::vector<DerivedWrite> (*writes)(std::int32_t selected);
  // Apply writes the choice again, unchanged, while the unit's setting is
  // not the one the choice stands for; null: never.
  bool (*stale)(const ParamTable& main);
  bool changesMode;  // a new choice moves the unit to another mode
  bool settles;      // the unit settles after the writes, behind "Please wait"
};

std::span<const DerivedRule> DerivedRules();
// The rule of a derived row; null for any other mnemonic.
const DerivedRule* FindDerivedRule(std::string_view row);

}  // namespace vecta::params
