// Unit variants and value conversion: which rows a board type has, the
// firmware version, and the two conversions every value passes through
// (store reply: the unit's text becomes the row's value and what the page
// shows; form value: what the operator set becomes the text of a write).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "params/descriptor.h"

namespace vecta::params {

enum class Variant { K240, K610, Other };

// Exact comparison: "K240" and "K610" only; anything else (empty, longer
// texts beginning with an identifier) is the other variant.
Variant VariantOf(std::string_view boardType);
// The variant test of a row's flags.
bool RowExists(std::uint32_t flags, Variant variant);
inline bool RowExists(const RowDescriptor& row, Variant variant) { return RowExists(row.flags, variant); }

// Four numbers, all 0 at start, refreshed from the version row each time it
// is read; numbers a text does not reach keep their previous values.
struct FirmwareVersion {
  std::array<std::int32_t, 4> n{};
  void Parse(std::string_view text);
  bool AtLeast(int a, int b, int c, int d) const;
  // The girb hold of the configuration files starts with 3.4.0.0.
  bool AtLeast3400() const { return AtLeast(3, 4, 0, 0); }
};

// The text a text row shows for the unit's value text (level, decimals,
// tenths ... then trim).
std::string DisplayText(const RowDescriptor& row, std::string_view replyText);
// Removes leading zeros and trailing fractional zeros ("5.000" -> "5.0",
// "007" -> "7", "0.50" -> "0.5", "000" -> "0").
std::string TrimZeros(std::string text);

// The value a good reply's text stores in a row of this kind. For the
// version row the text is also parsed into `firmware` when given.
Value ConvertReply(const RowDescriptor& row, std::string_view replyText, FirmwareVersion* firmware = nullptr);
// ConvertReply, stored into the row under its lock.
void StoreReply(ParamRow& row, std::string_view replyText, FirmwareVersion* firmware = nullptr);

// "%d" of the integer part of typed x scale, without the error of the
// decimal's binary form (0.29 x 100 writes 29), clamped to 32 bits.
std::string ScaledIntegerText(double typed, double scale);

// Form value: the text of a write request for what a control holds.
std::string FormTextValue(const RowDescriptor& row, std::string_view controlText);
std::optional<std::string> FormListValue(const RowDescriptor& row, std::int32_t position);
std::string FormCheckValue(bool ticked);

// The text a status-list row shows for a stored position; a position past
// the list shows "Unknown (N)" with the unit's wire value N.
std::string StatusText(const RowDescriptor& row, std::int32_t position);

// The option of a list row that a reply names: its text must be a whole
// decimal number (spaces around it allowed) at a position of the list that
// is not "/empty/". None for anything else: "-5", a number past the list,
// one too large for any integer, "abc".
std::optional<std::int32_t> NamedOption(const RowDescriptor& row, std::string_view replyText);
// "Unknown (TEXT)" with the text the unit sent.
std::string UnknownReplyText(std::string_view replyText);

// A stored value as the pages show it: the text, the option text, the
// dotted address, "1"/"0" for a check; "" when nothing was read.
std::string ShownValue(const RowDescriptor& row, const std::optional<Value>& value);
// The stored value of a row as the pages show it; a list value whose reply
// named no option shows that reply (UnknownReplyText).
std::string ShownValue(const ParamRow& row);

// Dotted quad <-> 32-bit address (first octet in the top byte); a text with
// fewer than three dots gives 0.
std::uint32_t ParseAddress(std::string_view text);
std::string FormatAddress(std::uint32_t address);

}  // namespace vecta::params
