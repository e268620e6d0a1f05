// The gateway's command line as a whole: every option, in the order the
// program takes them, into GatewayOptions. Kept in the core so that the
// options a service's configuration file gives can be checked as the program
// would take them.
#pragma once

#include <string>
#include <vector>

#include "gateway/gateway_options.h"

namespace vecta::gateway {

struct CommandLineResult {
  // -1: run with the options; otherwise the program ends with this code
  // (0 after --help or --version, 2 for a command line it refuses).
  int exitCode = -1;
  std::string output;  // for standard output (help, version)
  std::string error;   // for standard error: what is wrong, or the usage
};

// `args` without the program's name. The serial settings are read from
// --settings FILE when given, and --baud goes over them.
CommandLineResult ParseCommandLine(const std::vector<std::string>& args, GatewayOptions& o);

}  // namespace vecta::gateway
