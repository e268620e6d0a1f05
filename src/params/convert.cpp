#include "params/convert.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vecta::params {
namespace {

// The unit's numbers are read as C reads them: the leading number of the
// text, 0 when there is none.
double LeadingDouble(std::string_view text) {
  const std::string s(text);
  return std::atof(s.c_str());
}

long long LeadingInteger(std::string_view text) {
  const std::string s(text);
  return std::atoll(s.c_str());
}

std::string Format(const char* format, double v) {
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, format, v);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof buf) return std::string(buf, static_cast<std::size_t>(n));
  std::string big(static_cast<std::size_t>(n) + 1, '\0');  // %.2f of a huge number
  std::snprintf(big.data(), big.size(), format, v);
  big.resize(static_cast<std::size_t>(n));
  return big;
}

// "%d" of the integer part, clamped to what a 32-bit integer holds (the
// unit's numbers are 32-bit; a typed 1e30 must not wrap round).
std::string IntegerText(double v) {
  if (std::isnan(v)) v = 0;
  v = std::trunc(v);
  if (v > 2147483647.0) v = 2147483647.0;
  if (v < -2147483648.0) v = -2147483648.0;
  return std::to_string(static_cast<long long>(v));
}

// The unit's output level is a linear number; 1274 is 0 dB.
constexpr double kLevelReference = 1274.0;

}  // namespace

Variant VariantOf(std::string_view boardType) {
  if (boardType == "K240") return Variant::K240;
  if (boardType == "K610") return Variant::K610;
  return Variant::Other;
}

bool RowExists(std::uint32_t flags, Variant variant) {
  const bool k240OrK610 = variant != Variant::Other;
  if ((flags & flag::kOtherOnly) && k240OrK610) return false;
  if ((flags & flag::kK240OrK610) && !k240OrK610) return false;
  if ((flags & flag::kNotK610) && variant == Variant::K610) return false;
  if ((flags & flag::kK610Only) && variant != Variant::K610) return false;
  return true;
}

void FirmwareVersion::Parse(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && !std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  for (int k = 0; k < 4; ++k) {
    std::int64_t number = 0;
    std::size_t j = i;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
      number = number * 10 + (text[j] - '0');
      if (number > INT32_MAX) number = INT32_MAX;
      ++j;
    }
    n[static_cast<std::size_t>(k)] = static_cast<std::int32_t>(number);
    if (j >= text.size()) return;  // the run reached the end of the text
    i = j + 1;                     // past the one character that ended it
    if (i >= text.size()) return;  // nothing follows it
  }
}

bool FirmwareVersion::AtLeast(int a, int b, int c, int d) const {
  const int threshold[4] = {a, b, c, d};
  for (int k = 0; k < 4; ++k) {
    if (n[static_cast<std::size_t>(k)] != threshold[k]) return n[static_cast<std::size_t>(k)] > threshold[k];
  }
  return true;
}

std::string TrimZeros(std::string t) {
  while (t.size() > 1 && t[0] == '0' && t[1] != '.') t.erase(0, 1);
  if (t.find('.') != std::string::npos) {
    while (!t.empty() && t.back() == '0') {
      if (t.size() >= 2 && t[t.size() - 2] == '.') break;  // one '0' stays after the '.'
      t.pop_back();
    }
  }
  return t;
}

std::string DisplayText(const RowDescriptor& row, std::string_view replyText) {
  std::string shown;
  const double v = LeadingDouble(replyText);
  if (row.Has(flag::kLevel)) {
    // A level of 0 (or below) is no output at all: an infinite attenuation,
    // shown as "inf", which the write conversion turns back into 0.
    if (!(v > 0)) {
      shown = "inf";
    } else {
      const double db = -20.0 * std::log10(v / kLevelReference);
      shown = db == 0.0 ? "0.00" : Format("%.2f", db);
      if (shown == "-0.00") shown = "0.00";
    }
  } else if (row.Has(flag::kTwoDecimals)) {
    shown = Format("%.2f", v);
  } else if (row.Has(flag::kTenths) || row.Has(flag::kTenthsToo)) {
    shown = Format("%.1f", v / 10.0);
  } else if (row.Has(flag::kNegativeTenths)) {
    shown = Format("%.1f", v / -10.0);
  } else if (row.Has(flag::kHundredths)) {
    shown = Format("%.2f", v / 100.0);
  } else if (row.Has(flag::kThousandths)) {
    shown = Format("%.3f", v / 1000.0);
  } else {
    shown.assign(replyText);
  }
  if (row.Has(flag::kTrim)) shown = TrimZeros(std::move(shown));
  return shown;
}

std::uint32_t ParseAddress(std::string_view text) {
  std::size_t dots = 0;
  for (char c : text) dots += c == '.';
  if (dots < 3) return 0;
  std::uint32_t parts[4] = {};
  std::size_t start = 0;
  for (int k = 0; k < 4; ++k) {
    const std::size_t end = text.find('.', start);
    parts[k] = static_cast<std::uint32_t>(
        LeadingInteger(text.substr(start, end == std::string_view::npos ? text.size() - start : end - start)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  // Each part is shifted into place as read; a part above 255 is not cut
  // to eight bits.
  return parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
}

std::string FormatAddress(std::uint32_t a) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  return buf;
}

Value ConvertReply(const RowDescriptor& row, std::string_view replyText, FirmwareVersion* firmware) {
  switch (row.kind) {
    case Kind::Text:
      if (row.Has(flag::kVersion) && firmware) firmware->Parse(DisplayText(row, replyText));
      return DisplayText(row, replyText);
    case Kind::List:
    case Kind::StatusList:
      return row.options ? WireToPosition(*row.options, LeadingInteger(replyText))
                         : static_cast<std::int32_t>(LeadingInteger(replyText));
    case Kind::Address:
      return ParseAddress(replyText);
    case Kind::Check:
      return static_cast<std::uint8_t>(LeadingDouble(replyText) == 0 ? 0 : 1);
  }
  return std::string(replyText);
}

void StoreReply(ParamRow& row, std::string_view replyText, FirmwareVersion* firmware) {
  const RowDescriptor& desc = row.Desc();
  Value v = ConvertReply(desc, replyText, firmware);
  const bool list = desc.kind == Kind::List || desc.kind == Kind::StatusList;
  std::string unnamed;
  if (list && desc.options && !NamedOption(desc, replyText)) unnamed = replyText;
  std::lock_guard lock(row.Lock());
  row.Set(std::move(v), std::move(unnamed));
}

// The integer part of a typed decimal scaled up: 0.29 x 100 is
// 28.999999999999996 in binary and must still write 29, so the product is
// first rounded to well below the unit's resolution.
std::string ScaledIntegerText(double typed, double scale) {
  const double product = typed * scale;
  return IntegerText(std::isfinite(product) ? std::round(product * 1e6) / 1e6 : product);
}

std::string FormTextValue(const RowDescriptor& row, std::string_view controlText) {
  const double t = LeadingDouble(controlText);
  if (row.Has(flag::kLevel)) return IntegerText(std::pow(10.0, -t / 20.0) * kLevelReference + 0.5);
  if (row.Has(flag::kNegativeTenths)) return ScaledIntegerText(t, -10.0);
  if (row.Has(flag::kHundredths)) return ScaledIntegerText(t, 100.0);
  if (row.Has(flag::kThousandths)) return ScaledIntegerText(t, 1000.0);
  return std::string(controlText);
}

std::optional<std::string> FormListValue(const RowDescriptor& row, std::int32_t position) {
  if (!row.options) return std::nullopt;
  const auto wire = PositionToWire(*row.options, position);
  if (!wire) return std::nullopt;
  return std::to_string(*wire);
}

std::string FormCheckValue(bool ticked) { return ticked ? "1" : "0"; }

std::string StatusText(const RowDescriptor& row, std::int32_t position) {
  if (row.options && position >= 0) {
    const auto wire = PositionToWire(*row.options, position);
    if (wire) return (*row.options)[static_cast<std::size_t>(*wire)];
    long long empties = 0;
    for (const auto& o : *row.options) empties += o == kEmptyOption;
    return "Unknown (" + std::to_string(position + empties) + ")";
  }
  return "Unknown (" + std::to_string(position) + ")";
}

std::optional<std::int32_t> NamedOption(const RowDescriptor& row, std::string_view replyText) {
  if (!row.options) return std::nullopt;
  std::size_t begin = 0, end = replyText.size();
  while (begin < end && replyText[begin] == ' ') ++begin;
  while (end > begin && replyText[end - 1] == ' ') --end;
  if (begin == end) return std::nullopt;
  std::size_t wire = 0;
  for (std::size_t i = begin; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(replyText[i]))) return std::nullopt;
    wire = wire * 10 + static_cast<std::size_t>(replyText[i] - '0');
    if (wire >= row.options->size()) return std::nullopt;  // also ends long numbers early
  }
  if ((*row.options)[wire] == kEmptyOption) return std::nullopt;
  return static_cast<std::int32_t>(wire);
}

std::string UnknownReplyText(std::string_view replyText) { return "Unknown (" + std::string(replyText) + ")"; }

std::string ShownValue(const ParamRow& row) {
  std::lock_guard lock(row.Lock());
  const std::string unnamed = row.UnnamedReply();
  if (!unnamed.empty()) return UnknownReplyText(unnamed);
  return ShownValue(row.Desc(), row.Get());
}

std::string ShownValue(const RowDescriptor& row, const std::optional<Value>& value) {
  if (!value) return {};
  return std::visit(
      [&](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          return v;
        } else if constexpr (std::is_same_v<T, std::int32_t>) {
          return StatusText(row, v);
        } else if constexpr (std::is_same_v<T, std::uint32_t>) {
          return FormatAddress(v);
        } else {
          return v ? "1" : "0";
        }
      },
      *value);
}

}  // namespace vecta::params
