#include "config_files.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <ostream>
#include <vector>

#include "params/config_file.h"
#include "params/config_set.h"
#include "params/convert.h"
#include "vectactl.h"

namespace vecta::ctl {
namespace {

// A configuration file or set, decoded; the error text when it is not one.
std::optional<params::ConfigFileData> ReadConfigFile(const std::string& path, std::ostream& err) {
  bool tooLarge = false;
  const auto bytes = params::ReadFileBounded(path, params::kMaxConfigFileSize, tooLarge);
  if (!bytes) {
    err << path << ": " << (tooLarge ? params::config_text::kTooLarge : params::config_text::kOpenForReading)
        << "\n";
    return std::nullopt;
  }
  const params::ConfigParse parsed = params::ParseConfigFileOrSet(*bytes);
  if (!parsed.ok()) {
    err << path << ": " << params::ConfigErrorText(parsed.error) << "\n";
    return std::nullopt;
  }
  return parsed.data;
}

// A record as the pages would show it. A mnemonic with rows for several
// board types may read differently on each: every distinct reading is given.
std::string ShownRecord(const params::ConfigRecord& record) {
  static params::ParamTables blank;
  std::vector<std::string> readings;
  for (params::ParamTable* table : blank.All()) {
    for (const auto& row : table->Rows()) {
      if (row.Mnemonic() != record.mnemonic) continue;
      const params::RowDescriptor& desc = row.Desc();
      std::string shown;
      switch (desc.kind) {
        case params::Kind::Text:
          shown = params::DisplayText(desc, record.ValueText());
          break;
        case params::Kind::List:
        case params::Kind::StatusList:
          shown = params::StatusText(desc, params::WireToPosition(*desc.options, record.number));
          break;
        case params::Kind::Check:
          shown = desc.Has(params::flag::kBitratePair) ? record.ValueText() : (record.number ? "on" : "off");
          break;
        case params::Kind::Address:
          shown = record.ValueText();
          break;
      }
      if (std::find(readings.begin(), readings.end(), shown) == readings.end()) readings.push_back(shown);
    }
  }
  std::string out;
  for (const auto& r : readings) out += (out.empty() ? "" : " / ") + r;
  return out;
}

}  // namespace

int ShowConfig(const std::string& path, std::ostream& out, std::ostream& err) {
  const auto data = ReadConfigFile(path, err);
  if (!data) return kExitUsage;
  out << path << ": "
      << (data->images.size() == 1 && data->count <= 1 ? "configuration file" : "configuration set") << ", "
      << data->images.size() << " configuration" << (data->images.size() == 1 ? "" : "s")
      << ", checksum correct\n";
  for (const auto& image : data->images) {
    out << "config " << image.number << ": " << image.records.size() << " records\n";
    for (const auto& r : image.records) {
      char line[48];
      std::snprintf(line, sizeof line, "  %-4s %-12s ", r.mnemonic.c_str(), r.ValueText().c_str());
      out << line << ShownRecord(r) << "\n";
    }
  }
  return kExitOk;
}

// Exit 0 when the files hold the same settings, 1 when they differ.
int DiffConfig(const std::string& a, const std::string& b, std::ostream& out, std::ostream& err) {
  const auto left = ReadConfigFile(a, err);
  const auto right = ReadConfigFile(b, err);
  if (!left || !right) return kExitUsage;
  int differences = 0;
  const std::size_t n = std::max(left->images.size(), right->images.size());
  for (std::size_t i = 0; i < n; ++i) {
    const params::ConfigImage* l = i < left->images.size() ? &left->images[i] : nullptr;
    const params::ConfigImage* r = i < right->images.size() ? &right->images[i] : nullptr;
    const std::string where = "config " + std::to_string(l ? l->number : r->number);
    if (!l || !r) {
      out << where << ": only in " << (l ? a : b) << "\n";
      ++differences;
      continue;
    }
    // A mnemonic may repeat: its n-th record is compared with the other
    // file's n-th record of the same mnemonic.
    auto find = [](const params::ConfigImage& image, const std::string& m,
                   std::size_t nth) -> const params::ConfigRecord* {
      for (const auto& rec : image.records)
        if (rec.mnemonic == m && nth-- == 0) return &rec;
      return nullptr;
    };
    auto text = [](const params::ConfigRecord* rec) {
      return rec ? rec->ValueText() + " (" + ShownRecord(*rec) + ")" : std::string("(none)");
    };
    std::map<std::string, std::size_t> seenLeft, seenRight;
    for (const auto& rec : l->records) {
      const params::ConfigRecord* other = find(*r, rec.mnemonic, seenLeft[rec.mnemonic]++);
      if (other && *other == rec) continue;
      out << where << ": " << rec.mnemonic << " " << text(&rec) << " -> " << text(other) << "\n";
      ++differences;
    }
    for (const auto& rec : r->records) {
      if (find(*l, rec.mnemonic, seenRight[rec.mnemonic]++)) continue;
      out << where << ": " << rec.mnemonic << " (none) -> " << text(&rec) << "\n";
      ++differences;
    }
  }
  if (differences == 0) out << "no differences\n";
  return differences ? 1 : kExitOk;
}

}  // namespace vecta::ctl
