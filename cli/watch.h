// `vectactl watch`: the unit's status values, one line per sample - an
// aligned table under a header, or JSON lines - until Ctrl-C, until the
// samples asked for are taken, or until the unit has not answered three
// samples in a row.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "app/status_monitor.h"
#include "link/clock.h"
#include "link/remote_control.h"

namespace vecta::ctl {

struct WatchOptions {
  int intervalMs = 5000;  // from the start of one sample to the start of the next
  int count = 0;          // samples to take; 0 until Ctrl-C
  bool json = false;
};

// The samples without an answer after which the watch gives up (exit 1).
inline constexpr int kWatchSilentSamples = 3;

// The table: a header line naming each column (the mnemonic and its unit),
// then per sample the UTC time stamp and each value as the pages show it,
// "-" for a gap; states left-aligned, numbers right-aligned, two spaces
// between columns, no trailing blanks.
std::string WatchHeader(const std::vector<app::StatusRow>& rows);
std::string WatchTableLine(const std::vector<app::StatusRow>& rows, const app::StatusSample& sample);
// One JSON object per sample on one line:
// {"time":"...Z","answered":true,"values":{"vloc":{"shown":"Yes","value":1},...,"gvba":null}}
// with null for a gap; "value" is the number drawn (a state's level).
std::string WatchJsonLine(const std::vector<app::StatusRow>& rows, const app::StatusSample& sample);

// Samples `rows` every `options.intervalMs` by `clock` (time stamps from
// `utc`), writing each line to `out` as it is taken. Ctrl-C (SIGINT) ends
// it after the sample in progress, which is not printed. Returns 0, or 1
// after kWatchSilentSamples samples in a row without an answer (with a
// message on `err`).
int RunWatch(link::CRavlenRemoteControl& link, int unitAddress, const std::vector<app::StatusRow>& rows,
             const WatchOptions& options, std::ostream& out, std::ostream& err, link::Clock& clock,
             app::UtcClock& utc);

}  // namespace vecta::ctl
