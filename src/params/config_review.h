// What loading a configuration file or set would change on the unit: per
// configuration, the settings whose value in the file differs from the
// unit's, as the pages show them, and counts. The operator sees it before
// anything is written and chooses "Load" or "Cancel".
#pragma once

#include <string>
#include <vector>

namespace vecta::params {

// One setting whose value differs.
struct ReviewLine {
  std::string mnemonic;
  std::string caption;    // the caption of its control on the pages
  std::string unitValue;  // as the pages show it; kNoReplyValue when the unit gave none
  std::string fileValue;  // as the pages would show it
};

inline constexpr const char* kNoReplyValue = "(no reply)";

// One configuration of the file against one of the unit.
struct ConfigurationReview {
  int number = 0;    // the unit's configuration (1-based); 0 for the one running now
  bool read = true;  // false: the unit did not switch to it, nothing was compared
  std::vector<ReviewLine> differing;
  int equal = 0;
  int notOnBoard = 0;  // settings the unit's board type does not have

  int Differing() const { return static_cast<int>(differing.size()); }
};

// What the file is compared with: the unit's own values, read for the
// review, or the values the program read when it last saved a set.
enum class ReviewBasis { Unit, LastSave };

struct ConfigReview {
  std::string file;         // the file's path
  bool set = false;         // a configuration set
  std::string unitBoard;    // the board type the unit reports
  std::string fileBoard;    // the board type the file's settings belong to
  bool otherBoard = false;  // fileBoard is not the unit's board type
  ReviewBasis basis = ReviewBasis::Unit;
  std::string lastSavePath;  // LastSave: the set file saved then
  std::vector<ConfigurationReview> configs;

  int Differing() const;
  int Equal() const;
  int NotOnBoard() const;
  // Nothing differs and every configuration was compared.
  bool Same() const;
};

// "3 differing, 85 equal, 2 not on this board".
std::string CountsText(const ConfigurationReview& config);
std::string CountsText(const ConfigReview& review);
// "Config 3", or "Current config" for configuration 0.
std::string ConfigName(const ConfigurationReview& config);
// What the file is compared with, as one line: "Compared with the unit's
// current config", "Compared with the unit's configs", or "Compared with
// the config set saved last (PATH)".
std::string BasisText(const ConfigReview& review);
// "This file is from a K610 board; the unit is a K240." when the file is
// from another board type, else "".
std::string BoardText(const ConfigReview& review);
// The whole review as lines of text (the command-line tool prints it).
std::string ReviewText(const ConfigReview& review);

}  // namespace vecta::params
