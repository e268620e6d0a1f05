// vectactl's commands on configuration files and sets without a unit:
// show-config decodes one, diff-config compares two.
#pragma once

#include <iosfwd>
#include <string>

namespace vecta::ctl {

// Prints the file's kind, its configurations and every record with the value
// the pages would show. 0, or 2 when the file cannot be read or decoded.
int ShowConfig(const std::string& path, std::ostream& out, std::ostream& err);

// Prints every record that differs between the files. 0 when they hold the
// same settings, 1 when they differ, 2 when either cannot be read or decoded.
int DiffConfig(const std::string& a, const std::string& b, std::ostream& out, std::ostream& err);

}  // namespace vecta::ctl
