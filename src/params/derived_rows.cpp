#include "params/derived_rows.h"

#include "params/control_ids.h"

namespace vecta::params {
namespace {

// The entries of the derived lists.
constexpr std::int32_t kNarrowband = 0, kDvbt = 1;  // "Bandwidth mode"
constexpr std::int32_t kOff = 0, kOn = 1;           // "Audio"
constexpr std::int32_t kSourceOff = 0;              // then "Embedded", "Analogue": the input + 1

// The bandwidth each band opens with.
constexpr std::int32_t kDvbtBandwidth = 2;        // 8 MHz
constexpr std::int32_t kNarrowbandBandwidth = 3;  // 2.5 MHz

// The encoder setting that "on" stands for: "16kHz 8bit Stereo" for the
// audio encoder of K240 and other units, "MPEG Layer 2 48kHz Stereo" for
// each of the K610's two.
constexpr std::int32_t kAudioOn = 5;
constexpr std::int32_t kEncoderOn = 3;

// The unit may answer with more than a list position holds: only the low
// 16 bits of the encoder and input positions count.
constexpr std::int32_t kLow16 = 0xFFFF;

// ---- "Bandwidth mode"

std::optional<std::int32_t> ReadBand(const ParamTable& main) {
  const std::int32_t owid = main.StoredListPosition("owid");
  if (owid == kNoStoredPosition) return std::nullopt;
  return IsDvbtBandwidth(owid) ? kDvbt : kNarrowband;
}

std::vector<DerivedWrite> WriteBand(std::int32_t selected) {
  return {{"owid", selected == kDvbt ? kDvbtBandwidth : kNarrowbandBandwidth}};
}

// ---- "Audio"

std::optional<std::int32_t> ReadAudio(const ParamTable& main) {
  return main.StoredListPosition("aenc") != 0 ? kOn : kOff;
}

std::vector<DerivedWrite> WriteAudio(std::int32_t selected) { return {{"aenc", selected == kOn ? kAudioOn : 0}}; }

// Another "on" setting than the one the switch stands for.
bool AudioStale(const ParamTable& main) {
  const std::int32_t aenc = main.StoredListPosition("aenc");
  return aenc >= 1 && aenc < kAudioOn;
}

// ---- The K610's encoder sources

std::optional<std::int32_t> ReadSource(const ParamTable& main, std::string_view encoder, std::string_view input) {
  if ((main.StoredListPosition(encoder) & kLow16) == 0) return kSourceOff;
  return (main.StoredListPosition(input) & kLow16) + 1;
}

std::vector<DerivedWrite> WriteSource(std::string_view encoder, std::string_view input, std::int32_t selected) {
  if (selected <= kSourceOff) return {{encoder, 0}};
  return {{encoder, kEncoderOn}, {input, selected - 1}};  // input 0 embedded, 1 analogue
}

// Layer 1 settings, which the sources do not stand for.
bool SourceStale(const ParamTable& main, std::string_view encoder) {
  const std::int32_t position = main.StoredListPosition(encoder);
  return position == 1 || position == 2;
}

// clang-format off
constexpr DerivedRule kDerivedRules[] = {
    {derived::kBandwidthMode, ReadBand, WriteBand, nullptr, true, false},
    {derived::kAudio, ReadAudio, WriteAudio, AudioStale, false, true},
    {derived::kAudioEncoder1,
     [](const ParamTable& main) { return ReadSource(main, "a1en", "a1in"); },
     [](std::int32_t selected) { return WriteSource("a1en", "a1in", selected); },
     [](const ParamTable& main) { return SourceStale(main, "a1en"); }, false, false},
    {derived::kAudioEncoder2,
     [](const ParamTable& main) { return ReadSource(main, "a2en", "a2in"); },
     [](std::int32_t selected) { return WriteSource("a2en", "a2in", selected); },
     [](const ParamTable& main) { return SourceStale(main, "a2en"); }, false, false},
};
// clang-format on

}  // namespace

std::span<const DerivedRule> DerivedRules() { return kDerivedRules; }

const DerivedRule* FindDerivedRule(std::string_view row) {
  for (const DerivedRule& rule : kDerivedRules)
    if (rule.row == row) return &rule;
  return nullptr;
}

}  // namespace vecta::params
