#include "gateway/metrics/link_health.h"

#include <algorithm>

namespace vecta::gateway::metrics {

void LinkHealth::Exchanged(std::uint32_t code, std::int64_t durationMs) {
  durationMs = std::max<std::int64_t>(durationMs, 0);
  const auto bound = std::lower_bound(kDurationBucketsMs.begin(), kDurationBucketsMs.end(), durationMs);
  std::lock_guard lock(mutex_);
  ++counts_.exchanges;
  if (code != 0) ++counts_.errors[code];
  ++counts_.buckets[static_cast<std::size_t>(bound - kDurationBucketsMs.begin())];
  counts_.durationSumMs += durationMs;
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
