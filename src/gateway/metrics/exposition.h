// The metrics as the Prometheus text exposition format, version 0.0.4: a
// pure function of the snapshot. Every family has its # HELP and # TYPE
// lines, even while it has no sample; names carry base units (seconds,
// volts, celsius) and counters end in _total. A status row the unit did not
// answer has no line at all, so a scraper marks the series stale instead of
// reading 0; each row's line carries the time its answer came.
#pragma once

#include <string>
#include <string_view>

#include "gateway/metrics/snapshot.h"

namespace vecta::gateway::metrics {

inline constexpr std::string_view kExpositionContentType = "text/plain; version=0.0.4; charset=utf-8";

std::string RenderExposition(const MetricsSnapshot& snapshot);

// A label value with '\', '"' and line feeds escaped.
std::string EscapeLabelValue(std::string_view value);

}  // namespace vecta::gateway::metrics
