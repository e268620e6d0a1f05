// Review before load: "Load config from file" and "Load config set" read
// and check the file, compare it with the unit and let the operator see
// what would change before anything is written. The reads for the review
// run on the caller's thread (the operation thread of the desktop program)
// under the poll lock; "Load" then runs the load exactly as a load without
// review sends it.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "params/config_file.h"
#include "params/config_review.h"
#include "params/unit_context.h"

namespace vecta::app {

namespace review_text {
inline constexpr std::string_view kUseLastSaveQuestion =
    "Compare the file with the config set saved last instead of reading every config from the unit?";
}

// The board type a file's settings belong to. The file carries no board
// type of its own: which settings it holds tells. Of K240, K610 and the
// other variant, those whose boards have the most of the file's settings
// are candidates; of them the one missing the fewest of its board's saved
// settings, the unit's own on a tie. A file naming fewer than half of the
// unit's board's settings, none of them foreign to it, is taken as the
// unit's.
params::Variant FileVariant(std::span<const params::ConfigImage> images, params::Variant unitVariant);
// "K240", "K610" or "board of another type".
std::string VariantName(params::Variant variant);

// The caption of a row's control on the pages of the variant, with the
// group box that frames it ("Encoder 1: Audio encoder"); the mnemonic when
// no page shows the control.
std::string SettingCaption(const params::RowDescriptor& row, params::Variant variant);

// One configuration of the file against the unit's values of it. Records
// of "glod" are left out (a load never writes it); a record repeated with
// the same value (one per rate list) counts once.
params::ConfigurationReview CompareConfiguration(const params::ConfigImage& image, const params::UnitValues& unit,
                                                 params::Variant variant);

// A checked single-configuration file against the unit's current
// configuration, read now.
params::ConfigReview ReviewConfigFile(params::UnitContext& unit, const std::string& path,
                                      const params::ConfigFileData& data);
// A checked set against each configuration of the unit: read with the
// switching of the set load, or taken from the set saved last.
params::ConfigReview ReviewConfigSet(params::UnitContext& unit, const std::string& path,
                                     const params::ConfigFileData& data, params::ReviewBasis basis);
// The set saved last is from this unit (same board type and address).
bool LastSaveFits(const params::UnitContext& unit);

// "Load config from file" and "Load config set" with the review: the file
// is chosen and checked as before, the review is shown through the
// prompter, and only "Load" sends the file. Returns true when it was sent.
// `chosen` names the file when it is already chosen (command line).
bool LoadConfigFromFileReviewed(params::UnitContext& unit, const std::function<void()>& fullRefresh,
                                const std::string* chosen = nullptr);
bool LoadConfigSetReviewed(params::UnitContext& unit, const std::function<void()>& fullRefresh,
                           const std::string* chosen = nullptr);

}  // namespace vecta::app
