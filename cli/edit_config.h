// vectactl edit-config: one setting of a configuration file (or of one
// configuration of a set) changed and saved, without a unit.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace vecta::ctl {

struct EditConfigOptions {
  std::string file, mnemonic, value;
  std::optional<int> config;  // 1-based position in a set
  std::string board;          // "K240", "K610", "other"; "" to tell from the records
};

// Exit 0 with the value as the pages show it on `out`; 2 with the reason on
// `err` when the file cannot be read or the value cannot be kept (the file
// is not touched); 1 when the file cannot be saved.
int EditConfig(const EditConfigOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vecta::ctl
