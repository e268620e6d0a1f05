// The state file of a simulated unit: its configurations, the current
// configuration and its address, kept across runs. Plain text, one item a
// line:
//
//   vecta-sim state 1
//   address 1
//   current 3
//   unit cflo 470.00
//   config 1 gnam Config%201
//
// Values are escaped: '%', space, control and non-ASCII bytes as %XX, so a
// value is one word (an empty value is nothing after the last space). Lines
// that are not understood are skipped. Saving writes a temporary file beside
// the target and renames it over the target.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace vecta::sim {

struct UnitState {
  int address = -1;                                                  // -1: not in the file
  int current = 0;                                                   // 0: not in the file
  std::map<int, std::map<std::string, std::string>> configurations;  // 1-based
  std::map<std::string, std::string> unit;
};

std::string EscapeStateValue(std::string_view value);
// False for a malformed escape.
bool UnescapeStateValue(std::string_view text, std::string& value);

bool SaveUnitState(const std::string& path, const UnitState& state, std::string& error);
// `found` is false (and the result true) when there is no such file. False,
// with `error`, when it cannot be read or is not a state file.
bool LoadUnitState(const std::string& path, UnitState& state, bool& found, std::string& error);

}  // namespace vecta::sim
