#include "params/config_document.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "params/config_set.h"
#include "params/derived_rows.h"
#include "params/page_rules.h"
#include "params/refresh.h"
#include "params/typed_value.h"
#include "platform/atomic_file.h"

namespace vecta::params {
namespace {

constexpr Variant kVariants[] = {Variant::K240, Variant::K610, Variant::Other};

// A record can only be one the file writer makes: a writable unit
// parameter (no derived choice) of that board.
bool FileRow(const RowDescriptor& desc, Variant variant) {
  return desc.writable && !desc.Derived() && RowExists(desc, variant);
}

// Which rows a configuration file keeps: text, list and address rows and
// the manual bitrate box; other check boxes and status lists are not saved.
bool KeptInFile(const RowDescriptor& desc) {
  if (desc.kind == Kind::StatusList) return false;
  if (desc.kind == Kind::Check) return desc.Has(flag::kBitratePair);
  return true;
}

bool HasFileRow(std::string_view mnemonic, Variant variant) {
  for (const RowDescriptor& desc : MainTableRows())
    if (desc.mnemonic == mnemonic && FileRow(desc, variant)) return true;
  return false;
}

// The manual bitrate (kbit/s in the file) as the bitrate edit shows it, in
// Mbit/s: "4500" shows 4.5.
std::string BitrateShown(std::string_view kbits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", std::atof(std::string(kbits).c_str()) / 1000.0);
  std::string s = text;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

// The record a row of this kind makes for a wire text.
ConfigRecord NewRecord(const RowDescriptor& desc, const std::string& wire) {
  ConfigRecord r;
  r.mnemonic = desc.mnemonic;
  if (desc.kind == Kind::List) {
    r.kind = RecordKind::Number;
    r.number = static_cast<std::uint32_t>(std::strtoul(wire.c_str(), nullptr, 10));
  } else if (desc.kind == Kind::Address) {
    r.kind = RecordKind::Address;
    r.number = ParseAddress(wire);
  } else {
    r.kind = RecordKind::Text;
    r.text = wire;
  }
  return r;
}

// A record with its value replaced by a wire text, in its own kind.
ConfigRecord WithWire(ConfigRecord r, const std::string& wire) {
  if (r.kind == RecordKind::Number)
    r.number = static_cast<std::uint32_t>(std::strtoul(wire.c_str(), nullptr, 10));
  else if (r.kind == RecordKind::Address)
    r.number = ParseAddress(wire);
  else
    r.text = wire;
  return r;
}

void ClearShown(const RowDescriptor& desc, ControlHost& host) {
  switch (desc.kind) {
    case Kind::Text:
    case Kind::StatusList:
      host.SetText(desc.control, "");
      break;
    case Kind::List:
      host.Select(desc.control, -1);
      break;
    case Kind::Check:
      host.SetChecked(desc.control, false);
      break;
    case Kind::Address:
      host.SetAddress(desc.control, 0);
      break;
  }
}

}  // namespace

std::optional<Variant> VariantFromRecords(std::span<const ConfigRecord> records) {
  std::optional<Variant> found;
  for (Variant v : kVariants) {
    const bool fits = std::all_of(records.begin(), records.end(),
                                  [v](const ConfigRecord& r) { return HasFileRow(r.mnemonic, v); });
    if (!fits) continue;
    if (found) return std::nullopt;  // more than one board holds all of them
    found = v;
  }
  return found;
}

std::string BoardTypeText(Variant variant) {
  switch (variant) {
    case Variant::K240:
      return "K240";
    case Variant::K610:
      return "K610";
    case Variant::Other:
      return "";
  }
  return "";
}

std::optional<Variant> ParseBoardName(std::string_view name) {
  if (name == "K240" || name == "k240") return Variant::K240;
  if (name == "K610" || name == "k610") return Variant::K610;
  if (name == "other" || name == "Other") return Variant::Other;
  return std::nullopt;
}

// ---- Opening

bool ConfigDocument::Open(const std::string& path, std::string& error) {
  bool tooLarge = false;
  const auto bytes = ReadFileBounded(path, kMaxConfigFileSize, tooLarge);
  if (!bytes) {
    error = std::string(tooLarge ? config_text::kTooLarge : config_text::kOpenForReading);
    return false;
  }
  return OpenBytes(*bytes, path, error);
}

bool ConfigDocument::OpenBytes(std::span<const std::uint8_t> bytes, const std::string& path, std::string& error) {
  ConfigError rc = CheckFileChecksum(bytes);
  const auto data = rc == ConfigError::None ? bytes.first(bytes.size() - 4) : bytes.first(0);
  const auto stored = StoredConfigCount(data);
  if (rc == ConfigError::None && !stored) rc = ConfigError::Truncated;
  const std::uint32_t count = rc == ConfigError::None ? *stored : 0;
  // A set holds at most as many configurations as a unit stores.
  if (rc == ConfigError::None && count > kMaxConfigs) rc = ConfigError::IncorrectConfigCount;
  std::vector<ConfigImage> images;
  std::size_t pos = 4;
  const ConfigError missingMarker =
      count >= 2 ? ConfigError::InvalidConfigType : ConfigError::NotTransmitterConfig;
  for (std::uint32_t i = 0; rc == ConfigError::None && i < std::max<std::uint32_t>(count, 1); ++i) {
    ConfigImage image;
    rc = ParseConfigImage(data, pos, missingMarker, image);
    images.push_back(std::move(image));
  }
  if (rc != ConfigError::None) {
    error = std::string(ConfigErrorText(rc));
    return false;
  }
  path_ = path;
  count_ = count;
  images_ = saved_ = std::move(images);
  tail_.assign(data.begin() + static_cast<std::ptrdiff_t>(pos), data.end());
  current_ = 0;
  std::vector<ConfigRecord> all;
  for (const ConfigImage& image : images_) all.insert(all.end(), image.records.begin(), image.records.end());
  fileVariant_ = VariantFromRecords(all);
  variantChosen_ = fileVariant_.has_value();
  variant_ = fileVariant_.value_or(Variant::Other);
  Reload();
  return true;
}

void ConfigDocument::SelectConfig(std::size_t index) {
  if (index >= images_.size()) return;
  current_ = index;
  Reload();
}

void ConfigDocument::SetVariant(Variant variant) {
  variant_ = variant;
  variantChosen_ = true;
  Reload();
}

// The table's values from the records, as a refresh stores the unit's
// replies: the n-th record of a mnemonic belongs to the n-th row of it that
// the board has, in table order. The manual bitrate fills the bitrate edit.
void ConfigDocument::Reload() {
  ParamTable& table = tables_.main;
  table.ClearValues();
  const std::vector<ConfigRecord>& records = images_.at(current_).records;
  std::vector<std::size_t> used(records.size(), 0);
  for (ParamRow& row : table.Rows()) {
    const RowDescriptor& desc = row.Desc();
    if (!FileRow(desc, variant_)) continue;
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (records[i].mnemonic != desc.mnemonic || used[i] != 0) continue;
      used[i] = 1;
      StoreReply(row, records[i].ValueText());
      if (desc.Has(flag::kBitratePair) && row.Check() == 1)
        if (ParamRow* rate = table.Find("evid")) rate->Set(BitrateShown(records[i].ValueText()));
      break;
    }
  }
  for (ParamRow& row : table.Rows())
    if (row.Desc().Derived() && RowExists(row.Desc(), variant_))
      if (auto value = DerivedValue(row.Mnemonic(), table)) row.Set(*value);
}

// ---- Editing

bool ConfigDocument::SetWire(std::string_view mnemonic, const std::string& wire) {
  std::vector<ConfigRecord>& records = images_.at(current_).records;
  bool changed = false, found = false;
  for (ConfigRecord& r : records) {
    if (r.mnemonic != mnemonic) continue;
    found = true;
    ConfigRecord next = WithWire(r, wire);
    changed = changed || next != r;
    r = std::move(next);
  }
  if (found) return changed;
  // New records go where the writer would have put them: after the
  // records of every row that comes before in the table.
  const auto tableRows = MainTableRows();
  auto order = [&](std::string_view m) {
    for (std::size_t i = 0; i < tableRows.size(); ++i)
      if (tableRows[i].mnemonic == m && FileRow(tableRows[i], variant_)) return i;
    return tableRows.size();
  };
  const std::size_t mine = order(mnemonic);
  std::size_t at = 0;
  for (std::size_t i = 0; i < records.size(); ++i)
    if (order(records[i].mnemonic) < mine) at = i + 1;
  for (const RowDescriptor& desc : tableRows)
    if (desc.mnemonic == mnemonic && FileRow(desc, variant_))
      records.insert(records.begin() + static_cast<std::ptrdiff_t>(at++), NewRecord(desc, wire));
  return true;
}

// The row an operator's value is for: of the two rate lists of an audio
// encoder, the one whose entries hold the text.
const ParamRow* ConfigDocument::RowFor(std::string_view mnemonic, std::string_view typed) const {
  // The rate list the pages show for the encoder's layer comes first.
  const ParamTable& main = tables_.main;
  int wanted = 0;
  if (mnemonic == "ampr")
    wanted = main.StoredListPosition("aenc") <= 12 ? ids::kLayer1AudioRate : ids::kLayer2AudioRate;
  else if (mnemonic == "a1br")
    wanted = main.StoredListPosition("a1en") <= 2 ? ids::kEncoder1Layer1Rate : ids::kEncoder1Layer2Rate;
  else if (mnemonic == "a2br")
    wanted = main.StoredListPosition("a2en") <= 2 ? ids::kEncoder2Layer1Rate : ids::kEncoder2Layer2Rate;
  for (const ParamRow& row : main.Rows())
    if (wanted != 0 && row.Control() == wanted && RowExists(row.Desc(), variant_)) return &row;
  const ParamRow* first = nullptr;
  for (const ParamRow& row : tables_.main.Rows()) {
    const RowDescriptor& desc = row.Desc();
    if (desc.mnemonic != mnemonic || !RowExists(desc, variant_)) continue;
    if (!first) first = &row;
    if (desc.kind != Kind::List || !desc.options) continue;
    const auto offered = OfferedOptions(*desc.options);
    if (std::find(offered.begin(), offered.end(), typed) != offered.end()) return &row;
  }
  return first;
}

std::optional<std::string> ConfigDocument::Set(std::string_view mnemonic, std::string_view typed) {
  const std::string m(mnemonic);
  // The video bitrate is kept in the file as the manual bitrate box's value.
  const bool bitrate = mnemonic == "evid";
  const ParamRow* row = RowFor(bitrate ? std::string_view("evbr") : mnemonic, typed);
  if (!row) {
    for (const RowDescriptor& desc : SatmodTableRows())
      if (desc.mnemonic == mnemonic) return m + " is a satellite modulator setting; configuration files hold none";
    return "No parameter " + m + " on a " +
           (variant_ == Variant::Other ? "board of the other type" : BoardTypeText(variant_) + " board");
  }
  const RowDescriptor& desc = row->Desc();
  if (desc.Derived()) return m + " is worked out from other settings; set those instead";
  if (!desc.writable) return m + " is shown only; it cannot be set";
  if (!KeptInFile(desc)) return m + " is not kept in configuration files";
  // The box turned on writes the bitrate the file holds.
  const ParamRow* rate = tables_.main.Find("evid");
  TypedContext context;
  if (const auto held = rate ? rate->Text() : std::nullopt) context.bitrate = std::atof(held->c_str());
  const TypedValue value = TypedToWire(bitrate && rate ? rate->Desc() : desc, typed, context);
  if (!value.ok()) return value.problem;
  SetWire(desc.mnemonic, value.wire);
  Reload();
  return std::nullopt;
}

int ConfigDocument::TakeDerived(const ParamRow& row, std::int32_t s) {
  const DerivedRule* rule = FindDerivedRule(row.Mnemonic());
  int changed = 0;
  if (rule)
    for (const DerivedWrite& write : rule->writes(s))
      changed += SetWire(write.mnemonic, std::to_string(write.value));
  return changed;
}

int ConfigDocument::TakeList(const ParamRow& row, const ControlHost& window, const RuleMemory& rules) {
  const RowDescriptor& desc = row.Desc();
  const std::int32_t s = window.Selected(desc.control);
  if (s < 0) return 0;
  // The encoding mode list is not taken for MPEG2, nor while SIF or QSIF
  // (held in ecmd) is the resolution.
  if (variant_ != Variant::K610 && row.Mnemonic() == "ecmd" &&
      (rules.encoderIndex == 0 || rules.resolutionIndex > 3))
    return 0;
  int changed = 0;
  if (row.Mnemonic() == "ehor" && desc.control == ids::kResolution && s > 3)
    changed += SetWire("ecmd", std::to_string(s));
  const auto stored = row.Position();
  if (stored && *stored == s) return changed;
  if (desc.Derived()) return changed + (stored ? TakeDerived(row, s) : 0);
  if (const auto wire = FormListValue(desc, s)) changed += SetWire(desc.mnemonic, *wire);
  return changed;
}

int ConfigDocument::TakeFromPage(const ControlHost& window, const RuleMemory& rules,
                                 std::vector<std::string>* refused) {
  int changed = 0;
  double bitrate = 0;
  for (const ParamRow& row : tables_.main.Rows()) {
    const int before = changed;
    const RowDescriptor& desc = row.Desc();
    const int id = desc.control;
    if (!window.HasControl(id) || !RowExists(desc, variant_)) continue;
    if (desc.kind == Kind::Text && desc.Has(flag::kBitratePair)) bitrate = std::atof(window.Text(id).c_str());
    if (!desc.writable || !KeptInFile(desc)) continue;
    switch (desc.kind) {
      case Kind::Text: {
        const std::string text = window.Text(id);
        const auto stored = row.Text();
        // An empty edit of a parameter the file does not hold stays out.
        if ((stored && *stored == text) || (!stored && text.empty())) break;
        const TypedValue value = TypedToWire(desc, text);
        if (!value.ok()) {
          if (refused) refused->push_back(value.problem);
          break;
        }
        changed += SetWire(desc.mnemonic, value.wire);
        break;
      }
      case Kind::List:
        changed += TakeList(row, window, rules);
        break;
      case Kind::Address: {
        const std::uint32_t address = window.Address(id);
        if (row.Address() != address && (row.Address() || address != 0))
          changed += SetWire(desc.mnemonic, FormatAddress(address));
        break;
      }
      case Kind::Check: {
        const bool ticked = window.Checked(id);
        if (!row.Check() && !ticked) break;
        const std::string wire = ticked ? ScaledIntegerText(bitrate, 1000.0) : "0";
        changed += SetWire(desc.mnemonic, wire);
        break;
      }
      case Kind::StatusList:
        break;
    }
    // Derived choices are worked out again from what was just taken.
    if (changed != before) Reload();
  }
  return changed;
}

// ---- Saving

std::vector<std::uint8_t> ConfigDocument::Bytes() const {
  std::vector<std::uint8_t> out;
  out.reserve(4);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(count_ >> (8 * i)));
  for (const ConfigImage& image : images_) AppendConfigImage(out, image);
  out.insert(out.end(), tail_.begin(), tail_.end());
  const std::uint32_t sum = ConfigChecksum(out);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(sum >> (8 * i)));
  return out;
}

bool ConfigDocument::Save(std::string* error) {
  platform::AtomicFile file;
  if (!file.Open(path_)) {
    if (error) *error = std::string(config_text::kOpenForWriting);
    return false;
  }
  if (!file.Commit(Bytes())) {
    if (error) *error = std::string(config_text::kWriteFailed);
    return false;
  }
  saved_ = images_;
  return true;
}

// ---- Showing

void ShowStoredValues(UnitContext& unit, ParamTable& table, ControlHost& window, ControlHost* advanced) {
  const Variant variant = unit.variant();
  for (ParamRow& row : table.Rows()) {
    const RowDescriptor& desc = row.Desc();
    if (!RowExists(desc, variant)) continue;
    if (!row.Get()) {
      // What the file does not hold shows nothing, whatever showed before.
      for (ControlHost* host : {&window, advanced})
        if (host && host->HasControl(desc.control)) ClearShown(desc, *host);
      continue;
    }
    if (desc.Derived()) {
      if (window.HasControl(desc.control)) window.Select(desc.control, row.Position().value_or(-1));
      continue;
    }
    RememberLoadedValue(unit.rules, row);
    for (ControlHost* host : {&window, advanced}) {
      if (!host) continue;
      if (desc.kind == Kind::List && desc.control == ids::kResolution)
        LoadResolution(unit, *host, row.Position().value_or(kNoStoredPosition));
      else
        ShowStoredValue(row, *host);
    }
    LoadRuleAfter(unit, row, window, advanced);
  }
}

}  // namespace vecta::params
