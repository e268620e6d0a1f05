#include "params/typed_value.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "link/frame.h"
#include "link/request.h"
#include "params/convert.h"

namespace vecta::params {
namespace {

// How many choices a refusal lists before it only counts them.
constexpr std::size_t kChoicesListed = 40;

TypedValue Refused(std::string problem) {
  TypedValue v;
  v.problem = std::move(problem);
  return v;
}

// The whole text is one finite decimal number, with nothing around it.
bool IsNumber(std::string_view typed) {
  const std::string s(typed);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  return !s.empty() && end == s.c_str() + s.size() && std::isfinite(v) &&
         !std::isspace(static_cast<unsigned char>(s.front()));
}

std::string NotAChoice(std::string_view mnemonic, std::string_view typed,
                       const std::vector<std::string>& offered) {
  std::string text = "'" + std::string(typed) + "' is not a choice of " + std::string(mnemonic) + ":";
  for (std::size_t i = 0; i < offered.size() && i < kChoicesListed; ++i) text += " \"" + offered[i] + "\"";
  if (offered.size() > kChoicesListed) text += " ... (" + std::to_string(offered.size()) + " choices)";
  return text;
}

TypedValue Choice(const RowDescriptor& row, std::string_view typed, const std::vector<std::string>* shown) {
  const std::vector<std::string> own = row.options ? OfferedOptions(*row.options) : std::vector<std::string>{};
  const std::vector<std::string>& offered = shown ? *shown : own;
  const auto it = std::find(offered.begin(), offered.end(), typed);
  if (it == offered.end()) return Refused(NotAChoice(row.mnemonic, typed, offered));
  TypedValue v;
  v.position = static_cast<std::int32_t>(it - offered.begin());
  const auto wire = FormListValue(row, v.position);
  // An entry of the row's own options always has one.
  if (!wire && !shown) return Refused(NotAChoice(row.mnemonic, typed, offered));
  v.wire = wire.value_or("");
  return v;
}

TypedValue CheckBox(const RowDescriptor& row, std::string_view typed, std::optional<double> bitrate) {
  const std::optional<bool> on = CheckWord(typed);
  if (!on) return Refused(std::string(row.mnemonic) + " is a check box: give on or off");
  TypedValue v;
  v.ticked = *on;
  if (!row.Has(flag::kBitratePair)) {
    v.wire = FormCheckValue(*on);
  } else if (!*on) {
    v.wire = "0";  // the encoder chooses the bitrate
  } else if (bitrate) {
    v.wire = ScaledIntegerText(*bitrate, 1000.0);  // kbit/s
  } else {
    return Refused("Give the manual video bitrate with evid (Mbit/s), or evbr off");
  }
  return v;
}

}  // namespace

std::size_t MaxValueLength() {
  const std::size_t frame = std::min(link::kMaxSerialRequestFrame, link::kMaxTcpRequestFrame);
  link::Bytes empty;
  link::BuildRequestFrame(link::WriteRequest(link::kBroadcastAddress, "mnem", ""), frame, empty);
  return frame - empty.size();
}

std::optional<std::string> UnsendableText(std::string_view mnemonic, std::string_view typed) {
  const std::string m(mnemonic);
  for (unsigned char c : typed) {
    if (c == ';') return "A value for " + m + " cannot hold ';'";
    if (c < 0x20 || c == 0x7f) return "A value for " + m + " cannot hold a control character";
  }
  if (typed.size() > MaxValueLength()) return "The value for " + m + " is too long for a request to the unit";
  return std::nullopt;
}

std::optional<std::string> TypedTextProblem(std::string_view mnemonic, std::string_view typed) {
  if (auto problem = UnsendableText(mnemonic, typed)) return problem;
  for (const auto rows : {MainTableRows(), SatmodTableRows()})
    for (const RowDescriptor& row : rows)
      if (row.mnemonic == mnemonic && row.Numeric())
        if (TypedValue v = TypedToWire(row, typed); !v.ok()) return v.problem;
  return std::nullopt;
}

std::optional<bool> CheckWord(std::string_view typed) {
  for (std::string_view word : {"1", "on", "yes", "true"})
    if (typed == word) return true;
  for (std::string_view word : {"0", "off", "no", "false"})
    if (typed == word) return false;
  return std::nullopt;
}

TypedValue TypedToWire(const RowDescriptor& row, std::string_view typed, const TypedContext& context) {
  if (auto problem = UnsendableText(row.mnemonic, typed)) return Refused(*problem);
  switch (row.kind) {
    case Kind::List:
    case Kind::StatusList:
      return Choice(row, typed, context.offered);
    case Kind::Check:
      return CheckBox(row, typed, context.bitrate);
    case Kind::Address: {
      TypedValue v;
      v.wire = FormatAddress(ParseAddress(typed));
      return v;
    }
    case Kind::Text:
      break;
  }
  if (row.Numeric() && !IsNumber(typed))
    return Refused("'" + std::string(typed) + "' is not a number; " + row.mnemonic + " takes one");
  TypedValue v;
  // The video bitrate is written through its "Manual" box, in kbit/s.
  v.wire = row.Has(flag::kBitratePair) ? ScaledIntegerText(std::atof(std::string(typed).c_str()), 1000.0)
                                       : FormTextValue(row, typed);
  return v;
}

}  // namespace vecta::params
