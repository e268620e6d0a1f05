// The command line of vecta-sim.
#pragma once

#include <string>
#include <vector>

#include "sim_options.h"

namespace vecta::sim {

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  SimOptions options;
  bool transcript = false;  // print the transcript on stdout
  std::string error;        // for Action::Error
};

// Parses the arguments after the program name. Options take their value as
// the next argument or after '=' (--delay-ms=20). The only option with an
// optional value is --pty: its next argument is taken as LINK unless it
// starts with "--".
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace vecta::sim
