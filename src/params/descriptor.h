// The parameter descriptor tables: one row per setting of the unit, binding
// its mnemonic to a page control, with the option list, value format, the
// unit variants it exists on and, at run time, the value last read.
//
// The static part of a row (RowDescriptor) is shared by every program: the pages,
// the simulator and the command-line tool are all driven by it. The run-time
// part (ParamRow) holds the value under the row's own re-entrant lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vecta::params {

// How a value is held and shown.
enum class Kind : std::uint8_t {
  Text = 0,        // edit box; the value text, converted for display
  List = 1,        // drop-down list of the non-"/empty/" options; a position
  Address = 2,     // IP address; 32-bit, first octet in the top byte
  StatusList = 3,  // read-only edit box showing the option text; a position
  Check = 4,       // check box; 1 when the unit's value is non-zero
};

// Row flags.
namespace flag {
inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kTrim = 0x4;          // drop leading and trailing fractional zeros
inline constexpr std::uint32_t kTwoDecimals = 0x10;  // shown with two decimals, written as typed
inline constexpr std::uint32_t kMarker40 = 0x40;     // K240 ehor; tested by nothing
inline constexpr std::uint32_t kMarker80 = 0x80;     // both eenc rows; tested by nothing
inline constexpr std::uint32_t kHideIfUnanswered = 0x200;
inline constexpr std::uint32_t kLevel = 0x400;    // linear level number shown in dB
inline constexpr std::uint32_t kDerived = 0x800;  // computed from other rows, never sent
inline constexpr std::uint32_t kStatusLamp = 0x1000;
inline constexpr std::uint32_t kBitratePair = 0x2000;  // evid text and the evbr "Manual" box
inline constexpr std::uint32_t kVersion = 0x4000;      // also parsed as the firmware version
inline constexpr std::uint32_t kTenths = 0x8000;
inline constexpr std::uint32_t kTenthsToo = 0x10000;
inline constexpr std::uint32_t kNegativeTenths = 0x20000;
inline constexpr std::uint32_t kHundredths = 0x40000;
inline constexpr std::uint32_t kLayer1Rates = 0x80000;   // marker
inline constexpr std::uint32_t kLayer2Rates = 0x100000;  // marker
inline constexpr std::uint32_t kK240OrK610 = 0x200000;
inline constexpr std::uint32_t kOtherOnly = 0x400000;
inline constexpr std::uint32_t kThousandths = 0x800000;
inline constexpr std::uint32_t kK610Only = 0x1000000;
inline constexpr std::uint32_t kNotK610 = 0x2000000;
}  // namespace flag

// An option's position is its value on the wire; "/empty/" marks a position
// the unit defines but the pages do not offer.
using OptionList = std::vector<std::string>;
inline constexpr std::string_view kEmptyOption = "/empty/";

// The static description of one row.
struct RowDescriptor {
  const char* mnemonic;  // four characters; four digits for a derived row
  int control;           // page control id
  bool writable;
  Kind kind;
  std::uint32_t flags;
  const OptionList* options;  // list and status-list rows; null otherwise

  bool Has(std::uint32_t f) const { return (flags & f) != 0; }
  bool Derived() const { return Has(flag::kDerived); }
  // A text row that holds a number: a level, a frequency, a scaled or
  // trimmed value, the video bitrate. What is typed into it must read as one.
  bool Numeric() const {
    using namespace flag;
    return kind == Kind::Text && Has(kLevel | kTwoDecimals | kTenths | kTenthsToo | kNegativeTenths | kHundredths |
                                     kThousandths | kTrim | kBitratePair);
  }
  // The companion control: no row of either table has one.
  int Companion() const { return 0; }
};

// The rows of the two tables, in table order (refresh and apply walk them
// top to bottom).
std::span<const RowDescriptor> MainTableRows();
std::span<const RowDescriptor> SatmodTableRows();

// Shared option lists that are generated rather than written out.
const OptionList& PidOptions();           // "Default", "0x0001" .. "0x1FFE"
const OptionList& PacketLengthOptions();  // "Default", "1 byte", "2 bytes" .. "176 bytes"
const OptionList& GopOptions();           // "Default", "Intra only", "2 frames" .. "64 frames"

// The value of a row: text for text rows, a drop-down position for list and
// status-list rows, an IPv4 address, or a check byte.
using Value = std::variant<std::string, std::int32_t, std::uint32_t, std::uint8_t>;

// Positions and wire values of an option list.
std::vector<std::string> OfferedOptions(const OptionList& options);
// The drop-down position of wire value n: the offered entries before it.
// Past the end of the list: n less every "/empty/" entry of the list.
std::int32_t WireToPosition(const OptionList& options, long long wire);
// The wire value of drop-down position s, or none when there is no such
// offered entry.
std::optional<int> PositionToWire(const OptionList& options, std::int32_t position);

inline constexpr std::int32_t kNoStoredPosition = 0xFFFF;

// One row at run time.
class ParamRow {
 public:
  explicit ParamRow(const RowDescriptor& desc) : desc_(&desc), lock_(std::make_unique<std::recursive_mutex>()) {}

  const RowDescriptor& Desc() const { return *desc_; }
  std::string_view Mnemonic() const { return desc_->mnemonic; }
  int Control() const { return desc_->control; }
  Kind GetKind() const { return desc_->kind; }

  // The row's lock, held whenever the value is read or replaced.
  std::recursive_mutex& Lock() const { return *lock_; }
  std::optional<Value> Get() const {
    std::lock_guard lock(*lock_);
    return value_;
  }
  void Set(Value v) { Set(std::move(v), {}); }
  // A list value together with the reply text it came from when that names
  // no option of the list ("-5"): the pages show that text, not a position
  // the unit never sent.
  void Set(Value v, std::string unnamedReply) {
    std::lock_guard lock(*lock_);
    value_ = std::move(v);
    unnamedReply_ = std::move(unnamedReply);
  }
  void Clear() {
    std::lock_guard lock(*lock_);
    value_.reset();
    unnamedReply_.clear();
  }
  // The reply text of a stored list value that names no option; "" when
  // it names one (or nothing is stored).
  std::string UnnamedReply() const {
    std::lock_guard lock(*lock_);
    return unnamedReply_;
  }
  // Typed reads; none when unset or of another form.
  std::optional<std::string> Text() const;
  std::optional<std::int32_t> Position() const;
  std::optional<std::uint32_t> Address() const;
  std::optional<std::uint8_t> Check() const;

 private:
  const RowDescriptor* desc_;
  std::unique_ptr<std::recursive_mutex> lock_;
  std::optional<Value> value_;
  std::string unnamedReply_;
};

class ParamTable {
 public:
  explicit ParamTable(std::span<const RowDescriptor> desc);

  std::vector<ParamRow>& Rows() { return rows_; }
  const std::vector<ParamRow>& Rows() const { return rows_; }

  // The first row with this mnemonic (and control, when not 0).
  ParamRow* Find(std::string_view mnemonic, int control = 0);
  const ParamRow* Find(std::string_view mnemonic, int control = 0) const;
  ParamRow* FindControl(int control);
  // The stored position of the first matching row when it has a value and
  // is a list or status list; kNoStoredPosition otherwise. Only the first
  // matching row is looked at.
  std::int32_t StoredListPosition(std::string_view mnemonic, int control = 0) const;
  // Forgets every value.
  void ClearValues();

 private:
  std::vector<ParamRow> rows_;
};

// The main table and the satellite modulator table, main first.
struct ParamTables {
  ParamTables();
  ParamTable main;
  ParamTable satmod;
  std::vector<ParamTable*> All() { return {&main, &satmod}; }
};

}  // namespace vecta::params
