#include "review.h"

#include <ostream>

#include "app/config_review.h"
#include "link/link_lock.h"
#include "params/config_file.h"
#include "params/config_set.h"

namespace vecta::ctl {
namespace {

// A file that cannot be read is taken as a single configuration; the checks
// of the load decide the rest.
bool IsSetFile(const std::string& path) {
  bool tooLarge = false;
  const auto bytes = params::ReadFileBounded(path, params::kMaxConfigFileSize, tooLarge);
  return bytes && params::CountsAsConfigSet(*bytes);
}

}  // namespace

int DiffUnit(params::UnitContext& unit, const std::string& path, std::ostream& out) {
  link::OperationLock operation;
  params::ConfigReview review;
  if (IsSetFile(path)) {
    const auto data = params::ReadConfigSetToLoad(unit, path);
    if (!data) return kExitReviewError;
    review = app::ReviewConfigSet(unit, path, *data, params::ReviewBasis::Unit);
  } else {
    const auto data = params::ReadConfigFileToLoad(unit, path);
    if (!data) return kExitReviewError;
    review = app::ReviewConfigFile(unit, path, *data);
  }
  if (unit.StopRequested()) return kExitReviewError;  // cut short: no review to show
  out << params::ReviewText(review);
  return review.Same() ? kExitSame : kExitDifferent;
}

int DryRunLoad(params::UnitContext& unit, const std::string& path, std::ostream& out) {
  link::OperationLock operation;
  const auto data = params::ReadConfigFileToLoad(unit, path);
  if (!data) return kExitReviewError;
  out << params::ReviewText(app::ReviewConfigFile(unit, path, *data)) << "dry run: nothing was written\n";
  return kExitSame;
}

}  // namespace vecta::ctl
