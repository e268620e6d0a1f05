// What an operator types for a setting, judged in one place for every
// caller (vectactl set, the offline editor, vectactl edit-config): the wire
// value the setting is written with, or why it cannot be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "params/descriptor.h"

namespace vecta::params {

// The longest value a write request carries over either link: what fits a
// request frame of the serial line and of TCP alike.
std::size_t MaxValueLength();

// Why a text cannot travel as the value of a write of `mnemonic` at all,
// whatever the setting: a ';', a control character, or longer than
// MaxValueLength(). None when it can.
std::optional<std::string> UnsendableText(std::string_view mnemonic, std::string_view typed);

// Why a text cannot be the value of `mnemonic` on any board: unsendable, or
// not a number where a row of the mnemonic holds one. What can be told
// before the unit is asked anything.
std::optional<std::string> TypedTextProblem(std::string_view mnemonic, std::string_view typed);

// A check box's words: "1", "on", "yes", "true" tick it, "0", "off", "no",
// "false" clear it; none for anything else.
std::optional<bool> CheckWord(std::string_view typed);

// What a list offers now and the bitrate a ticked "Manual" box writes, where
// the row alone does not tell.
struct TypedContext {
  // The list's entries when they are not the row's own options (with an
  // MPEG4 encoder the K240 "Resolution" also offers "SIF" and "QSIF"). An
  // entry past the row's options has no wire value of its own.
  const std::vector<std::string>* offered = nullptr;
  // The video bitrate in Mbit/s; none when nobody has given one.
  std::optional<double> bitrate;
};

struct TypedValue {
  std::string wire;            // the value text of the write
  std::int32_t position = -1;  // list rows: the position of the entry chosen
  bool ticked = false;         // check rows
  std::string problem;         // why it cannot be written; empty when it can

  bool ok() const { return problem.empty(); }
};

// Turns the text typed for `row` into its wire value: an option's text
// becomes its position on the wire, a number as the pages show it (dB, MHz,
// tenths ...) the unit's number, a check box's word 1 or 0 (the "Manual"
// bitrate box: the bitrate in kbit/s, or 0), a video bitrate in Mbit/s the
// kbit/s its box writes. A wrong choice lists the choices (the first 40 and
// how many there are, when there are more).
TypedValue TypedToWire(const RowDescriptor& row, std::string_view typed, const TypedContext& context = {});

}  // namespace vecta::params
