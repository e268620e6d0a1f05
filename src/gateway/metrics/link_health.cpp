#include "gateway/metrics/link_health.h"

#include <algorithm>

namespace vecta::gateway::metrics {

void LinkHealth::Exchanged(std::uint32_t code, std::int64_t durationUs) {
  durationUs = std::max<std::int64_t>(durationUs, 0);
  // The first bucket whose bound the duration does not pass.
  const auto bound = std::lower_bound(kDurationBucketsMs.begin(), kDurationBucketsMs.end(), durationUs,
                                      [](std::int64_t boundMs, std::int64_t us) { return boundMs * 1000 < us; });
  std::lock_guard lock(mutex_);
  ++counts_.exchanges;
  if (code != 0) ++counts_.errors[code];
  ++counts_.buckets[static_cast<std::size_t>(bound - kDurationBucketsMs.begin())];
  counts_.durationSumUs += durationUs;
}

void LinkHealth::UnitLost() {
  std::lock_guard lock(mutex_);
  ++counts_.unitLost;
}

LinkHealthCounts LinkHealth::Counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

}  // namespace vecta::gateway::metrics
