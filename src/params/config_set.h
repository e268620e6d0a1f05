// Configuration sets: every configuration the unit stores (8, or 16 on K240
// and K610 boards) in one file, saved and loaded by switching the unit to
// each configuration in turn with glod. The unit is left on configuration 1.
//
// File layout (integers 32-bit unsigned, little-endian):
//
//   N  image 1 ... image N  "///"  checksum
//
// where each image is "TXS", the configuration number, the record stream and
// "----", as in the single-configuration file (config_file.h).
//
// With firmware 3.4.0.0 or later the transfer is framed by girb 1 ... girb 0
// (the unit holds its outputs while configurations switch) and the waits
// after switches and mode changes are left out; older firmware gets the waits
// and no girb.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "params/config_file.h"
#include "params/unit_context.h"

namespace vecta::params {

// No unit stores more configurations.
inline constexpr std::uint32_t kMaxConfigs = 16;

namespace config_text {
inline constexpr std::string_view kSaveProgress = "Please wait while configs are read and saved...";
inline constexpr std::string_view kLoadProgress = "Please wait while configs are read and sent...";
inline constexpr std::string_view kUnableToSwitch = "Unable to switch config";
inline constexpr std::string_view kSetSaved = "Config set saved";
inline constexpr std::string_view kSetLoaded = "Config set loaded";
inline constexpr std::string_view kReviewProgress = "Please wait while configs are read for review...";
}  // namespace config_text

// The number of configurations a board holds: 16 on K240 and K610, else 8.
int ConfigCount(Variant variant);

// The whole set file for these images, in order (N is images.size()).
std::vector<std::uint8_t> BuildConfigSetFile(std::span<const ConfigImage> images);

// A set file, checked in the loader's order: checksum; N, which must be at
// least `minConfigs` and at most kMaxConfigs; then every image ("TXS",
// number, records, "----"). What follows the last image up to the checksum
// is not looked at.
ConfigParse ParseConfigSet(std::span<const std::uint8_t> bytes, std::uint32_t minConfigs = 0);

// A configuration file or set, whichever its count says: ParseConfigSet
// (with no least count) when it counts as a set, else ParseConfigFile.
ConfigParse ParseConfigFileOrSet(std::span<const std::uint8_t> bytes);

// "Save config set" with the file named: switches the unit to each of its
// configurations, runs the full refresh and takes that configuration's
// stored values; writes the file (replacing any old one only when complete),
// returns the unit to configuration 1. Returns true when the file was
// written.
bool SaveConfigSetFile(UnitContext& unit, const std::string& path, const std::function<void()>& fullRefresh);
// "Save config set": asks for the file, then SaveConfigSetFile.
bool SaveConfigSet(UnitContext& unit, const std::function<void()>& fullRefresh);

// "Load config set" with the file named: checks the whole file, then sends
// image i into configuration i for every image, returns the unit to
// configuration 1 and runs the full refresh. Returns true when sent.
bool LoadConfigSetFile(UnitContext& unit, const std::string& path, const std::function<void()>& fullRefresh);
// The two halves of LoadConfigSetFile. The first reads and checks the whole
// set (its count against the unit's config count included) without touching
// the unit and shows the error when there is one.
std::optional<ConfigFileData> ReadConfigSetToLoad(UnitContext& unit, const std::string& path);
// The second (poll lock taken) sends a checked set, returns the unit to
// configuration 1 and runs the full refresh.
void SendConfigSet(UnitContext& unit, const ConfigFileData& data, const std::function<void()>& fullRefresh);

// Reads, for review, what configuration i of the unit holds of the settings
// image i names, for every image: the unit is switched with glod exactly as
// the set load switches it (girb 1 ... girb 0 with firmware 3.4.0.0 or
// later, else the wait after each switch), then returned to the
// configuration it ran before (read with glod first).
// None for a configuration the unit refused to switch to. Nothing is
// written but glod and girb. Under the poll lock; progress is shown.
std::vector<std::optional<UnitValues>> ReadConfigurations(UnitContext& unit, std::span<const ConfigImage> images);

// "Load config set": asks for the file, then LoadConfigSetFile.
bool LoadConfigSet(UnitContext& unit, const std::function<void()>& fullRefresh);

}  // namespace vecta::params
