// What the benchmarks share: a simulated unit's options, the median of
// repeated runs, and a reporter that keeps each benchmark's real times so
// that main() can print the ratios the goals are stated in.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "sim_server.h"

namespace vecta::bench {

// A simulated unit on TCP (a free port) or else on a pseudo-terminal, its
// replies paced at `paceBaud` (0: as fast as it can).
inline sim::SimOptions SimOn(bool tcp, int paceBaud = 0) {
  sim::SimOptions o;
  o.tcp = tcp;
  o.tcpPort = 0;
  o.pty = !tcp;
  o.faults.paceBaud = paceBaud;
  return o;
}

// The middle value (the upper one of the middle two for an even count); NaN
// for none.
inline double Median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Prints the results as usual and keeps each one's real time per iteration.
class TimesReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& r : runs)
      if (!r.error_occurred && r.run_type == Run::RT_Iteration)
        times[r.run_name.function_name].push_back(r.GetAdjustedRealTime());
  }
  // The median real time of one benchmark's runs; NaN when it did not run.
  double MedianOf(const std::string& name) const {
    const auto it = times.find(name);
    return it == times.end() ? NAN : Median(it->second);
  }
  std::map<std::string, std::vector<double>> times;
};

}  // namespace vecta::bench
