#include "sim_drift.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vecta::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::uint64_t SplitMix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::uint64_t Key(std::string_view text) {
  std::uint64_t k = 0;
  for (char c : text) k = k * 131 + static_cast<unsigned char>(c);
  return k;
}

std::string Format(const char* format, double v) {
  char text[32];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// Battery: volts per hour, and where the pack is flat.
constexpr double kBatteryFallPerHour = 1.2;
constexpr double kBatteryFlat = 10.80;

}  // namespace

double StatusDrift::Uniform(std::uint64_t key, std::int64_t step) const {
  const std::uint64_t h = SplitMix(SplitMix(seed_ ^ SplitMix(key)) ^ static_cast<std::uint64_t>(step));
  return static_cast<double>(h >> 11) / 9007199254740992.0;  // 2^53
}

double StatusDrift::Noise(std::string_view mnemonic, std::int64_t driftMs) const {
  const std::int64_t second = driftMs >= 0 ? driftMs / 1000 : 0;
  return Uniform(Key(mnemonic), second) * 2.0 - 1.0;
}

std::optional<std::string> StatusDrift::Value(std::string_view m, std::string_view base,
                                              std::int64_t elapsedMs) const {
  const std::int64_t driftMs = std::max<std::int64_t>(0, elapsedMs) * speed_;
  const double t = static_cast<double>(driftMs) / 1000.0;  // seconds of drift time
  const double b = std::strtod(std::string(base).c_str(), nullptr);
  // A slow wander with a phase of the seed's own.
  auto wander = [&](double periodS) { return std::sin(2 * kPi * t / periodS + Uniform(Key(m), -1) * 2 * kPi); };
  if (m == "gvba") {
    const double flat = std::min(b, kBatteryFlat);
    const double v = b - kBatteryFallPerHour * t / 3600.0 + 0.01 * Noise(m, driftMs);
    return Format("%.2f", std::max(flat, v));
  }
  if (m == "gtmp") {
    const double v = b + 14.0 * (1.0 - std::exp(-t / 1200.0)) + 1.5 * wander(420.0) + 0.2 * Noise(m, driftMs);
    return Format("%.1f", v);
  }
  if (m == "stmp") {
    const double v = b + 130.0 * (1.0 - std::exp(-t / 1500.0)) + 10.0 * wander(540.0) + 2.0 * Noise(m, driftMs);
    return Format("%.0f", v);
  }
  if (m == "gvnt" || m == "gvax") {
    const double n = Noise(m, driftMs);
    const int step = n < -0.6 ? -1 : n > 0.6 ? 1 : 0;
    return Format("%.0f", std::round(b) + step);
  }
  return std::nullopt;
}

bool StatusDrift::VideoDropped(std::int64_t elapsedMs) const {
  const std::int64_t driftMs = std::max<std::int64_t>(0, elapsedMs) * speed_;
  const std::int64_t second = driftMs / 1000;
  const std::int64_t minute = second / 60;
  const std::uint64_t key = Key("vloc");
  if (Uniform(key, minute * 3) >= 0.25) return false;
  const std::int64_t start = minute * 60 + static_cast<std::int64_t>(Uniform(key, minute * 3 + 1) * 50);
  const std::int64_t length = 2 + static_cast<std::int64_t>(Uniform(key, minute * 3 + 2) * 7);
  return second >= start && second < start + length;
}

}  // namespace vecta::sim
