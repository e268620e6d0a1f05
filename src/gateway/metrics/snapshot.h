// What a scrape shows: the last sample of the unit's status rows, the unit's
// identity, the link's health and the clients connected, taken together so
// the text is rendered from one consistent picture without holding a lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/metrics/link_health.h"

namespace vecta::gateway::metrics {

// One status row as the unit answered it: the value converted as the pages
// show it (a state as its level), and when the answer came (UTC ms).
struct RowReading {
  std::string_view mnemonic;  // "gvba"
  double value = 0;
  std::int64_t utcMs = 0;
  bool operator==(const RowReading&) const = default;
};

// The unit as it named itself when it last answered an identification.
struct UnitInfo {
  std::string board, firmware, address, name;
  bool operator==(const UnitInfo&) const = default;
};

// The outcome of the last whole sample.
struct SampleResult {
  bool up = false;  // the unit answered the last sample
  std::optional<UnitInfo> unit;
  std::vector<RowReading> rows;  // the rows it answered, in row order
  bool operator==(const SampleResult&) const = default;
};

struct MetricsSnapshot {
  SampleResult sample;
  LinkHealthCounts link;
  int clients = 0;  // TCP clients connected now
  // Each status row with the time its answer came. A scraper keeps a row
  // stamped so for its whole look-back after the row leaves the scrape
  // (Prometheus marks no such series stale); without stamps it takes the
  // scrape's time and marks a row that leaves stale at once.
  bool rowTimestamps = true;
};

}  // namespace vecta::gateway::metrics
