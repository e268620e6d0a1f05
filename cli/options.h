// vectactl's command line as parsed: how to reach the unit, and the
// arguments of the command given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "edit_config.h"
#include "watch.h"

namespace vecta::ctl {

struct Options {
  std::string serialDevice;
  std::uint32_t baud = 9600;
  std::string tcp;
  std::optional<int> address;
  std::string logFile;
  std::optional<std::uint32_t> readTimeoutMs;
  std::vector<std::string> extraPorts;
  bool trace = false;
  bool yes = false;
  // Command arguments.
  std::string text, mnemonic, value, file, otherFile, keyType, key, upperKey;
  bool json = false;
  bool dryRun = false;
  WatchOptions watch;
  EditConfigOptions edit;
};

}  // namespace vecta::ctl
