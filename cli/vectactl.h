// vectactl: the command-line tool over the unit link.
#pragma once

#include <iosfwd>

#include <string>
#include <vector>
#include "link/clock.h"

namespace vecta::app {
class UtcClock;
}

namespace vecta::ctl {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitLinkError = 1;
inline constexpr int kExitUsage = 2;

// Runs one command line (without the program name), writing results to
// `out` and errors to `err`. Returns the exit status. `clock` times the
// unit's protocol waits (the real clock unless given); `utc` gives the
// time stamps of `watch` (the system's unless given).
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, link::Clock* clock = nullptr,
        app::UtcClock* utc = nullptr);

// The usage text.
std::string Usage();

}  // namespace vecta::ctl
