// The review before load on the command line: `diff-unit FILE` and
// `load-config --dry-run FILE` compare a configuration file (or set) with
// the connected unit and print what a load would change.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "params/unit_context.h"

namespace vecta::ctl {

// Exit statuses of diff-unit: the unit holds what the file holds, something
// differs, or no review could be made (a bad file, no unit).
inline constexpr int kExitSame = 0;
inline constexpr int kExitDifferent = 1;
inline constexpr int kExitReviewError = 2;

// Prints the review of FILE against the unit (a set against each of the
// unit's configurations, switched to as a set load switches). Errors are
// shown through the unit's prompter.
int DiffUnit(params::UnitContext& unit, const std::string& path, std::ostream& out);

// load-config --dry-run: the review of a single-configuration file against
// the unit's current configuration; nothing is written. 0 once printed,
// kExitReviewError when the file fails its checks.
int DryRunLoad(params::UnitContext& unit, const std::string& path, std::ostream& out);

}  // namespace vecta::ctl
