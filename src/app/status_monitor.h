// The status monitor: the unit's status values (video lock, RF output,
// chaining, the FPGA temperature and voltages, the battery and, when a
// satellite modulator answers, its temperature) read again and again and
// kept with the time each sample was taken, so they can be watched as they
// move and exported.
//
// Each read is a request of its own under the poll lock and then the link
// lock, exactly as the poll thread makes its requests, so sampling never
// falls between the steps of a multi-step operation and the poll thread
// goes on as it always does. The values are converted as the pages convert
// them; nothing is stored into the parameter tables, so the monitor changes
// nothing the pages or the configuration files see.
//
// A value the unit did not give (no answer, a link error, a refusal) is a
// gap, never a zero.
//
// Qt-free: the desktop application's window and the command-line tool's
// `watch` share it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/remote_control.h"
#include "params/convert.h"
#include "params/descriptor.h"

namespace vecta::app {

// Wall-clock time in milliseconds since 1970-01-01 00:00 UTC. Tests inject
// one that moves only when told.
class UtcClock {
 public:
  virtual ~UtcClock() = default;
  virtual std::int64_t NowUtcMs() = 0;
};
UtcClock& SystemUtcClock();

// "2026-12-08T22:20:05.123Z": ISO 8601, UTC, milliseconds.
std::string FormatUtcTime(std::int64_t utcMs);

// One status value the monitor reads.
struct StatusRow {
  enum class Form {
    Number,  // a text row: a number with its unit, drawn as a line
    State,   // a list row: one of its options, drawn as steps
  };
  const params::RowDescriptor* descriptor = nullptr;  // the table row it is read and converted by
  std::string_view name;                              // "Battery voltage"
  std::string_view unit;                              // "V", "°C"; empty for a state
  Form form = Form::Number;
  // For a state: the texts of its levels 0, 1, ... (the offered options).
  std::vector<std::string> levels;

  std::string_view Mnemonic() const { return descriptor->mnemonic; }
};

// The rows that exist for the board type, in the order they are shown:
// vloc, oout, csta, gtmp, gvnt, gvax, gvba (K610), then stmp when a
// satellite modulator answers.
std::vector<StatusRow> StatusRowsFor(params::Variant variant, bool modulatorAnswers);

// Whether a satellite modulator answers, by the rule the full refresh uses
// for the "Satellite modulator" button: a K240 whose last `sver` read gave
// a version.
bool ModulatorAnswers(params::Variant variant, const params::ParamTable& main);

// A value as read: the text the pages show and the number that is drawn
// (the number for a number row, the level for a state).
struct StatusValue {
  std::string shown;
  double number = 0;
  bool operator==(const StatusValue&) const = default;
};

struct StatusSample {
  // When the unit answered the sample's first request (or that request
  // failed): after any wait for the poll lock.
  std::int64_t utcMs = 0;
  // The unit answered at least one request of this sample.
  bool answered = false;
  // One per row, in row order; none is a gap.
  std::vector<std::optional<StatusValue>> values;
};

// The shown value and number for a good reply's value text.
StatusValue ConvertStatus(const StatusRow& row, std::string_view replyText);

// Reads every row once. After the first request that the link fails (no
// answer, a broken reply) the rest of the sample is left as gaps: a unit
// that has gone costs one time-out per sample, not one per row. With unit
// address 0 nothing is sent (as the poll thread sends no poll requests
// then). `stop`, when given and set, ends the sample before its next
// request.
StatusSample SampleStatus(link::CRavlenRemoteControl& link, int unitAddress, const std::vector<StatusRow>& rows,
                          UtcClock& clock, const std::atomic<bool>* stop = nullptr);

// What the unit is, for choosing the rows when nothing has been read yet:
// the board type ("rgbty") and, on a K240, whether its modulator gives a
// version ("rsver"). Each request under the poll lock and the link lock.
struct UnitIdentity {
  bool answered = false;  // the board type query was answered
  std::string boardType;
  bool modulator = false;
};
UnitIdentity IdentifyUnit(link::CRavlenRemoteControl& link, int unitAddress);

// The samples taken so far, oldest first, at most `capacity` of them (the
// oldest go first).
class StatusHistory {
 public:
  // 36000 samples: ten hours at one a second.
  static constexpr std::size_t kDefaultCapacity = 36000;

  explicit StatusHistory(std::vector<StatusRow> rows, std::size_t capacity = kDefaultCapacity);

  const std::vector<StatusRow>& Rows() const { return rows_; }
  const std::deque<StatusSample>& Samples() const { return samples_; }
  std::size_t Capacity() const { return capacity_; }
  // Adds a sample; returns how many old samples were dropped (0 or 1).
  std::size_t Add(StatusSample sample);
  void Clear() { samples_.clear(); }

 private:
  std::vector<StatusRow> rows_;
  std::size_t capacity_;
  std::deque<StatusSample> samples_;
};

// The samples as CSV (RFC 4180): UTF-8, lines ended by CR LF, a header line
// "time" followed by each row's mnemonic, then one line per sample: the
// UTC time stamp (FormatUtcTime) and each row's shown value, an empty field
// for a gap. A field holding a comma, a quote, CR or LF is quoted, with
// quotes doubled.
std::string StatusCsv(const std::vector<StatusRow>& rows, const std::deque<StatusSample>& samples);

// Writes StatusCsv to `path` whole or not at all (a temporary file renamed
// over it). On failure `error` (if given) holds what failed and
// `openFailed` whether the file could not even be opened for writing.
bool SaveStatusCsv(const std::string& path, const std::vector<StatusRow>& rows,
                   const std::deque<StatusSample>& samples, std::string* error = nullptr,
                   bool* openFailed = nullptr);

}  // namespace vecta::app
