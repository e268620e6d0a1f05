// Status values that move as a unit's do in the field: a battery that
// slowly runs down, FPGA and modulator temperatures that warm up after
// switch-on and wander, supply voltages that flicker by a step, and a video
// lock that drops now and then for a few seconds.
//
// Every value is a function of the unit's running time and a seed alone -
// no state, no real randomness - so a test that sets the unit's clock can
// tell exactly what the unit will report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vecta::sim {

class StatusDrift {
 public:
  // `speed` makes the drift's time run that many times faster than the
  // unit's clock (demonstrations: an hour of battery in a minute).
  explicit StatusDrift(std::uint64_t seed, int speed = 1) : seed_(seed), speed_(speed < 1 ? 1 : speed) {}

  // The text the unit reports for `mnemonic` when it has been running for
  // `elapsedMs`, starting from `base` (the value it holds, as the unit
  // sends it); none for a mnemonic the drift leaves alone.
  //   gvba  falls 1.2 V an hour from base, to no less than 10.80 V, "%.2f"
  //   gtmp  warms 14 degrees (time constant 20 min), wanders +-1.5, "%.1f"
  //   stmp  tenths: warms 13 degrees (25 min), wanders +-1.0, integer
  //   gvnt, gvax  tenths: base, or one step above or below
  std::optional<std::string> Value(std::string_view mnemonic, std::string_view base, std::int64_t elapsedMs) const;

  // Whether the video lock has dropped at that moment: in about one minute
  // in four, for 2 to 8 s.
  bool VideoDropped(std::int64_t elapsedMs) const;

 private:
  // Uniform in [0, 1), fixed for (key, step).
  double Uniform(std::uint64_t key, std::int64_t step) const;
  // Uniform in [-1, 1) over whole seconds of drift time.
  double Noise(std::string_view mnemonic, std::int64_t driftMs) const;

  std::uint64_t seed_;
  int speed_;
};

}  // namespace vecta::sim
