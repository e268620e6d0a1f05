// Runs vectactl's command line in this process and keeps what it printed.
#pragma once

#include <string>
#include <vector>

#include "app/status_monitor.h"
#include "link/clock.h"

namespace vecta::test {

struct CtlRun {
  int status = -1;  // the exit status
  std::string out, err;
};

// One vectactl command line (without the program name); `clock` times the
// unit's protocol waits and `utc` the time stamps, as vecta::ctl::Run takes
// them.
CtlRun RunCtl(const std::vector<std::string>& args, link::Clock* clock = nullptr, app::UtcClock* utc = nullptr);

}  // namespace vecta::test
