#include "unit_params.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace vecta::sim {

using params::Kind;
using params::RowDescriptor;
using params::Variant;
namespace flag = params::flag;

namespace {

// Free text (names) longer than this is refused.
constexpr std::size_t kMaxText = 32;
// Frequencies the unit takes, MHz.
constexpr double kMaxFrequency = 10000.0;
// Level numbers: 1274 is 0 dB; 0 would be no output at all.
constexpr long long kMaxLevel = 65535;

// Served by SimUnit itself, not from the store.
bool ServedByUnit(std::string_view m) { return m == "glod"; }

// Defaults of list rows that are not simply their first option: what a unit
// fresh from the factory runs. A default a board's row does not offer falls
// back to that row's first offered option.
const std::map<std::string, int, std::less<>>& ListDefaults() {
  static const std::map<std::string, int, std::less<>> defaults = {
      {"oout", 1}, {"ofec", 1},  {"ogua", 1}, {"owid", 2}, {"ohls", 1}, {"odfe", 1}, {"odmo", 1},
      {"vinp", 2}, {"aenc", 15}, {"a1en", 3}, {"ampr", 8}, {"a1br", 8}, {"a2br", 8}, {"a2in", 1},
      {"dbau", 3}, {"vhdf", 3},  {"ssig", 1}, {"scod", 3}, {"sfec", 6},
  };
  return defaults;
}

std::string Format(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

bool ParseInteger(std::string_view text, long long min, long long max, long long& out) {
  long long v = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (text.empty() || text[0] == '+') return false;
  auto [stop, ec] = std::from_chars(begin, end, v);
  if (ec != std::errc() || stop != end || v < min || v > max) return false;
  out = v;
  return true;
}

// Decimal number: optional '-', digits, optionally '.' and more digits.
bool ParseNumber(std::string_view text, double& out) {
  std::size_t i = 0;
  if (i < text.size() && text[i] == '-') ++i;
  std::size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0 || i != text.size() || text.size() > 16) return false;
  out = std::strtod(std::string(text).c_str(), nullptr);
  return true;
}

bool Printable(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
  return true;
}

bool ValidListValue(const RowDescriptor& row, long long wire) {
  if (!row.options || wire < 0 || wire >= static_cast<long long>(row.options->size())) return false;
  return (*row.options)[static_cast<std::size_t>(wire)] != params::kEmptyOption;
}

bool ValidInAll(const std::vector<const RowDescriptor*>& rows, long long wire) {
  for (const RowDescriptor* row : rows)
    if (!ValidListValue(*row, wire)) return false;
  return true;
}

bool ValidAddress(std::string_view text) {
  int parts = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = text.find('.', start);
    long long octet = 0;
    const std::string_view part =
        text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (!ParsePlainDecimal(part, 3, octet) || octet > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

std::string TextSeed(const UnitParam& p, int configuration, const UnitOptions& unit) {
  const std::string& m = p.mnemonic;
  if (m == "ofre") return Format("%.2f", 474.0 + 8.0 * (configuration - 1));
  if (m == "olev") return "637";
  if (m == "ollv") return "1274";
  if (m == "oplv") return "900";
  if (m == "gnam") return "Config " + std::to_string(configuration);
  if (m == "gdna") return "Vecta TX";
  if (m == "gnet") return "Vecta net";
  if (m == "gver") return unit.firmware;
  if (m == "gfpg") return "2.1";
  if (m == "gser") return "VT" + std::string(unit.board.substr(0, 4)) + "-00417";
  if (m == "sver") return "1.2.0.0";
  if (m == "gtmp") return "38";
  if (m == "gvnt") return "121";
  if (m == "gvax") return "50";
  if (m == "gvba") return "14.20";
  if (m == "stmp") return "412";
  if (m == "evid") return "4.000";
  if (m == "mbit") return "12000";
  if (m == "edts") return "0";
  if (m == "scar") return "1450.000";
  if (m == "ssym") return "27.500";
  if (m == "srol") return "35";
  if (m == "slev") return "100";
  if (m == "sfre") return "11750";
  if (m == "sorb") return "28.2";
  // A row without a default of its own: something its format reads.
  const RowDescriptor& row = *p.rows.front();
  if (row.Has(flag::kLevel)) return "1274";
  if (row.Has(flag::kTwoDecimals)) return "0.00";
  if (row.Numeric()) return "0";
  return "";
}

// The eight calibration points of a K240, four elsewhere, evenly spread over
// the UHF band.
std::string FrequencySeed(std::string_view m, Variant variant) {
  constexpr double kLow = 470.0, kHigh = 862.0;
  const int points = variant == Variant::K240 ? 8 : 4;
  int index = 0;
  if (m == "cfhi")
    index = points - 1;
  else if (m != "cflo")
    index = m[3] - '0';
  return Format("%.2f", kLow + (kHigh - kLow) / (points - 1) * index);
}

}  // namespace

bool ParsePlainDecimal(std::string_view text, std::size_t maxDigits, long long& out) {
  if (text.empty() || text.size() > maxDigits) return false;
  long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

bool IsHex(std::string_view text, std::size_t digits) {
  if (text.size() != digits) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

bool IsSatmodMnemonic(std::string_view mnemonic) {
  for (const RowDescriptor& row : params::SatmodTableRows())
    if (mnemonic == row.mnemonic) return true;
  return false;
}

ParamCatalogue::ParamCatalogue(const std::string& board, bool satmod) : variant_(params::VariantOf(board)) {
  std::map<std::string, std::size_t, std::less<>> index;
  auto add = [&](const RowDescriptor& row) {
    if (row.Derived() || ServedByUnit(row.mnemonic) || !params::RowExists(row, variant_)) return;
    if (!satmod && IsSatmodMnemonic(row.mnemonic)) return;
    auto [it, fresh] = index.try_emplace(row.mnemonic, params_.size());
    if (fresh) {
      UnitParam p;
      p.mnemonic = row.mnemonic;
      p.writable = row.writable;
      // Read-only values describe the unit (versions, temperatures, lock),
      // not a configuration; the bitrate text follows the configuration's
      // bitrate setting.
      p.scope = row.writable || row.Has(flag::kBitratePair) ? Scope::Configuration : Scope::Unit;
      params_.push_back(std::move(p));
    }
    params_[it->second].rows.push_back(&row);
  };
  for (const RowDescriptor& row : params::MainTableRows()) add(row);
  for (const RowDescriptor& row : params::SatmodTableRows()) add(row);

  auto calibration = [&](const char* m, Form form, bool k240Only) {
    if (k240Only && variant_ != Variant::K240) return;
    UnitParam p;
    p.mnemonic = m;
    p.scope = Scope::Unit;
    p.form = form;
    params_.push_back(std::move(p));
  };
  for (const char* m : {"cflo", "cfhi", "cfl1", "cfl2"}) calibration(m, Form::Frequency, false);
  for (const char* m : {"cfl3", "cfl4", "cfl5", "cfl6"}) calibration(m, Form::Frequency, true);
  for (const char* m : {"cpl1", "cpl2", "cpl3", "cpl4"}) calibration(m, Form::Level, false);
  for (const char* m : {"cpl5", "cpl6", "cpl7", "cpl8"}) calibration(m, Form::Level, true);
}

const UnitParam* ParamCatalogue::Find(std::string_view mnemonic) const {
  for (const UnitParam& p : params_)
    if (p.mnemonic == mnemonic) return &p;
  return nullptr;
}

std::string ParamCatalogue::Seed(const UnitParam& p, int configuration, const UnitOptions& unit) const {
  if (p.form == Form::Frequency) return FrequencySeed(p.mnemonic, variant_);
  if (p.form == Form::Level) return std::to_string(1274 - 6 * (p.mnemonic[3] - '1'));
  const RowDescriptor& row = *p.rows.front();
  switch (row.kind) {
    case Kind::List:
    case Kind::StatusList: {
      if (p.mnemonic == "vloc") return "1";
      const auto& defaults = ListDefaults();
      if (auto it = defaults.find(p.mnemonic); it != defaults.end() && ValidInAll(p.rows, it->second))
        return std::to_string(it->second);
      for (long long wire = 0; row.options && wire < static_cast<long long>(row.options->size()); ++wire)
        if (ValidInAll(p.rows, wire)) return std::to_string(wire);
      return "0";
    }
    case Kind::Check:
      return "0";
    case Kind::Address:
      return "192.168.1." + std::to_string(100 + configuration);
    case Kind::Text:
      break;
  }
  return TextSeed(p, configuration, unit);
}

std::optional<std::string> ParamCatalogue::Accept(const UnitParam& p, const std::string& value,
                                                  const ValueLookup& sameConfiguration) const {
  if (!p.writable) return std::nullopt;
  long long n = 0;
  double v = 0;
  if (p.form == Form::Frequency) {
    if (!ParseNumber(value, v) || v <= 0 || v > kMaxFrequency) return std::nullopt;
    return Format("%.2f", v);
  }
  if (p.form == Form::Level) {
    if (!ParseInteger(value, 1, kMaxLevel, n)) return std::nullopt;
    return std::to_string(n);
  }

  const RowDescriptor& row = *p.rows.front();
  switch (row.kind) {
    case Kind::List:
    case Kind::StatusList: {
      if (!ParsePlainDecimal(value, 5, n)) return std::nullopt;
      bool valid = false;
      for (const RowDescriptor* r : p.rows) valid = valid || ValidListValue(*r, n);
      // Outside the K610, MPEG4 at SIF and QSIF size is held as encoding
      // modes 4 and 5 beyond the list of the four ordinary modes.
      if (!valid && p.mnemonic == "ecmd" && variant_ != Variant::K610 && (n == 4 || n == 5))
        valid = sameConfiguration("eenc") == "1";
      if (!valid) return std::nullopt;
      return std::to_string(n);
    }
    case Kind::Check:
      // The bitrate box carries the manual bitrate in kbit/s, 0 for automatic.
      if (row.Has(flag::kBitratePair)) {
        if (!ParsePlainDecimal(value, 5, n)) return std::nullopt;
        return std::to_string(n);
      }
      if (value != "0" && value != "1") return std::nullopt;
      return value;
    case Kind::Address:
      if (!ValidAddress(value)) return std::nullopt;
      return value;
    case Kind::Text:
      break;
  }

  if (row.Has(flag::kLevel)) {
    if (!ParseInteger(value, 1, kMaxLevel, n)) return std::nullopt;
    return std::to_string(n);
  }
  if (row.Has(flag::kTwoDecimals)) {
    if (!ParseNumber(value, v) || v <= 0 || v > kMaxFrequency) return std::nullopt;
    return Format("%.2f", v);
  }
  if (row.Has(flag::kTenths) || row.Has(flag::kTenthsToo) || row.Has(flag::kNegativeTenths)) {
    if (!ParseInteger(value, -9999, 9999, n)) return std::nullopt;
    return std::to_string(n);
  }
  if (row.Has(flag::kHundredths)) {
    if (!ParseInteger(value, 0, 9999, n)) return std::nullopt;
    return std::to_string(n);
  }
  if (row.Has(flag::kThousandths)) {
    if (!ParseInteger(value, 0, 999999, n)) return std::nullopt;
    return std::to_string(n);
  }
  if (row.Has(flag::kTrim)) {
    if (!ParseNumber(value, v)) return std::nullopt;
    return value;
  }
  if (value.size() > kMaxText || !Printable(value)) return std::nullopt;
  return value;
}

}  // namespace vecta::sim
