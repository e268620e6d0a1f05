// A configuration file opened for editing without a unit: one configuration
// file, or a configuration-set file with one of its configurations chosen,
// held as the file's own records and shown through a main parameter table
// of its own (never the connected unit's).
//
// The records are what the document is: the table's values are worked out
// from them (as a refresh would store the unit's replies), and an edit
// replaces the record's value with the wire text the same conversions as an
// apply give. Everything the editor does not change is written back as it
// was read, so a file opened and saved unchanged is the same file, byte for
// byte, and a save of one configuration of a set changes only that
// configuration's bytes (and the checksum).
//
// Board type. No record names the board: the board type is never saved.
// It is told from which parameters the file holds: the one board type on
// which every record's mnemonic is a parameter (a K610 file has the K610's
// own parameters, a K240 file the K240-only audio and encoder ones). A
// file whose records fit more than one board (a file from another board
// holds nothing the K240 lacks) leaves the choice to the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "params/config_file.h"
#include "params/control_host.h"
#include "params/convert.h"
#include "params/descriptor.h"
#include "params/unit_context.h"

namespace vecta::params {

// The board type of the records: the only variant on which every record's
// mnemonic is a writable parameter; none when several (or none) fit.
std::optional<Variant> VariantFromRecords(std::span<const ConfigRecord> records);

// The board type text a unit of the variant reports ("" for the other one).
std::string BoardTypeText(Variant variant);
// "K240", "K610", "other" (as the command line takes it) -> the variant.
std::optional<Variant> ParseBoardName(std::string_view name);

class ConfigDocument {
 public:
  // Reads and checks a configuration file or set (every check the loaders
  // make); `error` is the operator's text when it fails.
  bool Open(const std::string& path, std::string& error);
  // The same for bytes already read; `path` is where Save writes.
  bool OpenBytes(std::span<const std::uint8_t> bytes, const std::string& path, std::string& error);

  const std::string& Path() const { return path_; }
  // A configuration-set file (its count is 2 or more).
  bool IsSet() const { return count_ >= 2; }
  std::size_t ConfigCount() const { return images_.size(); }
  // The configuration number the file gives configuration `index`.
  std::uint32_t ConfigNumber(std::size_t index) const { return images_.at(index).number; }
  std::size_t Current() const { return current_; }
  // Shows configuration `index` in the table.
  void SelectConfig(std::size_t index);
  const ConfigImage& Image() const { return images_.at(current_); }

  // The board type the records tell (over every configuration of a set).
  std::optional<Variant> VariantFromFile() const { return fileVariant_; }
  Variant variant() const { return variant_; }
  bool VariantChosen() const { return variantChosen_; }
  // The caller's board type (the operator's choice); reloads the table.
  void SetVariant(Variant variant);

  // The tables the pages show (only the main one holds values).
  ParamTables& Tables() { return tables_; }
  ParamTable& Table() { return tables_.main; }

  // Sets one setting as an operator types it: an option text, a number as
  // the pages show it (dB, MHz, ...), on/off for a check box, the video
  // bitrate (evid) in Mbit/s. The error text when the value cannot be kept
  // in the file; nothing changes then.
  std::optional<std::string> Set(std::string_view mnemonic, std::string_view typed);

  // Takes what a page shows into the records, row by row, as an apply would
  // form the values it writes (derived choices become the parameters behind
  // them). `rules` are the page rules' memory of the window. An edit whose
  // text cannot be kept (not a number where one is needed, a ';') is left
  // out, its reason added to `refused` when given. Returns how many
  // parameters changed.
  int TakeFromPage(const ControlHost& window, const RuleMemory& rules,
                   std::vector<std::string>* refused = nullptr);

  // True while the records differ from the file as last read or saved.
  bool Modified() const { return images_ != saved_; }
  // The file as it would be saved.
  std::vector<std::uint8_t> Bytes() const;
  // Replaces the file whole (a link is followed, not replaced). `error` is
  // the operator's text when it fails; the file is then as it was.
  bool Save(std::string* error = nullptr);

 private:
  // Replaces the value of every record of the mnemonic in this
  // configuration with `wire`, or adds records in table order when it has
  // none. True when a record changed.
  bool SetWire(std::string_view mnemonic, const std::string& wire);
  void Reload();
  const ParamRow* RowFor(std::string_view mnemonic, std::string_view typed) const;
  int TakeList(const ParamRow& row, const ControlHost& window, const RuleMemory& rules);
  int TakeDerived(const ParamRow& row, std::int32_t selected);

  std::string path_;
  std::uint32_t count_ = 0;
  std::vector<ConfigImage> images_, saved_;
  std::vector<std::uint8_t> tail_;  // from the end of the last image up to the checksum
  std::size_t current_ = 0;
  std::optional<Variant> fileVariant_;
  Variant variant_ = Variant::Other;
  bool variantChosen_ = false;
  ParamTables tables_;
};

// Shows the stored values of `table` in a window (and the Advanced options
// window when given) as a refresh shows the values it read: derived choices,
// the resolution list and the load rules included; nothing is sent.
void ShowStoredValues(UnitContext& unit, ParamTable& table, ControlHost& window, ControlHost* advanced = nullptr);

}  // namespace vecta::params
