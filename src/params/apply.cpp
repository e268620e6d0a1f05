#include "params/apply.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

#include "link/link_errors.h"
#include "link/link_lock.h"
#include "link/request.h"
#include "params/control_changes.h"
#include "params/control_ids.h"
#include "params/convert.h"
#include "params/derived_rows.h"
#include "params/page_rules.h"

namespace vecta::params {
namespace {

// How long the unit needs before it takes the next command.
constexpr std::int64_t kModeChangeWaitMs = 5000;    // a new operating mode
constexpr std::int64_t kAudioEncoderWaitMs = 1000;  // aenc, a1en, a2en
constexpr std::int64_t kTuningWaitMs = 500;         // ofre, owid
// The first reply after the video input leaves "Off" comes late.
constexpr int kLongReplyWaitMs = 2000;
// How long the "Please wait" window stays up after the audio switch: the
// time the unit takes to settle after any audio encoder change.
constexpr std::int64_t kAudioSwitchWaitMs = kAudioEncoderWaitMs;

// While a K610 is set to encode "MPEG4 ASP", its bandwidth is not written.
constexpr std::int32_t kK610AspEncoder = 1;

// Positions of the K240 "Resolution" list above the four fixed sizes: SIF
// and QSIF, which the unit holds in its encoding mode (ecmd).
constexpr std::int32_t kLastFixedSize = 3;

// One run of apply over a window: the requests it sends, and what it
// carries from one row to the next.
class Run {
 public:
  Run(UnitContext& unit, const ParamTable& table)
      : main(unit.tables ? unit.tables->main : table), variant(unit.variant()), rules(unit.rules), unit_(unit) {}

  // A write request. The refresh that follows every apply shows what the
  // unit took; a write it refused is kept for the operator, by the row the
  // write was for.
  void Write(std::string_view mnemonic, std::string_view value, int waitBeforeReadMs = 0) {
    link::LinkReply reply;
    const std::uint32_t rc =
        Send(link::WriteRequest(unit_.unitAddress, mnemonic, value), waitBeforeReadMs, &reply);
    if (rc != link::kLinkOk || reply.status != 'E' || !row) return;
    auto& refused = unit_.refusedWrites;
    if (std::find(refused.begin(), refused.end(), row) == refused.end()) refused.push_back(row);
  }
  void Write(std::string_view mnemonic, long long value) { Write(mnemonic, std::to_string(value)); }
  std::uint32_t Send(const std::string& request, int waitBeforeReadMs = 0, link::LinkReply* reply = nullptr) {
    link::LinkReply ignored;
    link::LinkReply& r = reply ? *reply : ignored;
    if (!unit_.link) return 1;
    return link::Exchange(*unit_.link, request, r, 1, waitBeforeReadMs);
  }
  int UnitAddress() const { return unit_.unitAddress; }

  void Sleep(std::int64_t ms) {
    if (unit_.clock) unit_.clock->SleepMs(ms);
  }
  // The unit is changing mode: the operator sees "Please wait" meanwhile.
  void PleaseWait(std::int64_t ms) {
    if (unit_.prompter) unit_.prompter->BeginProgress(kPleaseWaitTitle, kPleaseWaitText, 0);
    Sleep(ms);
    if (unit_.prompter) unit_.prompter->EndProgress();
  }

  // What a write leaves behind: the flags of the row it was for go, and it
  // counts.
  void ClearWriteFlags() { modeChange = longReplyWait = false; }
  void Wrote() {
    ClearWriteFlags();
    ++count;
  }

  const ParamTable& main;  // the table the page rules and derived rows look at
  const Variant variant;
  RuleMemory& rules;
  std::uint8_t count = 0;
  bool modeChange = false;             // the next write moves the unit to another mode
  bool longReplyWait = false;          // the next write's reply comes late
  double bitrate = 0;                  // the bitrate text, once its row has been passed
  const RowDescriptor* row = nullptr;  // the row being applied

 private:
  UnitContext& unit_;
};

// ------------------------------------------------ what writing needs

// cinp: the unit resets the chaining calibration (cflo) when the chaining
// input changes, so it is read first and written back after.
void WriteKeepingCalibration(Run& run, std::string_view mnemonic, const std::string& value) {
  link::LinkReply cflo;
  const std::uint32_t rc = run.Send(link::ReadRequest(run.UnitAddress(), "cflo"), 0, &cflo);
  run.Write(mnemonic, value);
  if (rc == 0 && cflo.status != 'E') run.Write("cflo", cflo.value);
}

// What writing a mnemonic needs besides its one request. A mnemonic that is
// not listed is written alone, with the late-reply wait when the video input
// leaves "Off", and needs nothing after.
struct WriteRule {
  std::string_view mnemonic;
  std::int64_t settleMs;  // the wait after the write
  bool changesMode;       // the mode-change wait behind "Please wait" after every write
  void (*write)(Run&, std::string_view mnemonic, const std::string& value);  // null: the one write
};

constexpr WriteRule kWriteRules[] = {
    {"ofre", kTuningWaitMs, false, nullptr},       {"owid", kTuningWaitMs, false, nullptr},
    {"aenc", kAudioEncoderWaitMs, false, nullptr}, {"a1en", kAudioEncoderWaitMs, false, nullptr},
    {"a2en", kAudioEncoderWaitMs, false, nullptr}, {"eenc", 0, true, nullptr},
    {"cinp", 0, false, WriteKeepingCalibration},
};

const WriteRule* FindWriteRule(std::string_view mnemonic) {
  for (const WriteRule& rule : kWriteRules)
    if (rule.mnemonic == mnemonic) return &rule;
  return nullptr;
}

void WriteRow(Run& run, std::string_view mnemonic, const std::string& value) {
  const WriteRule* rule = FindWriteRule(mnemonic);
  if (rule && rule->write)
    rule->write(run, mnemonic, value);
  else
    run.Write(mnemonic, value, run.longReplyWait ? kLongReplyWaitMs : 0);
  if (run.modeChange || (rule && rule->changesMode))
    run.PleaseWait(kModeChangeWaitMs);
  else if (rule && rule->settleMs > 0)
    run.Sleep(rule->settleMs);
  run.Wrote();
}

// ------------------------------------------------------ derived rows

// The writes the choice stands for, counted as one, then the unit's wait.
void WriteDerived(Run& run, const DerivedRule& rule, std::int32_t selected) {
  for (const DerivedWrite& write : rule.writes(selected)) run.Write(write.mnemonic, write.value);
  ++run.count;
  if (rule.changesMode)
    run.PleaseWait(kModeChangeWaitMs);
  else if (rule.settles)
    run.PleaseWait(kAudioSwitchWaitMs);
  run.ClearWriteFlags();
}

// ------------------------------------------------------ what changed

// What a row's control asks of the unit.
struct Change {
  bool marked = false;         // to be written
  std::string value;           // the value text to write
  std::int32_t selected = -1;  // list rows: the selected position
};

Change TextChange(Run& run, const ParamRow& row, ControlHost& window) {
  const RowDescriptor& desc = row.Desc();
  const std::string text = window.Text(desc.control);
  if (desc.Has(flag::kBitratePair)) run.bitrate = std::atof(text.c_str());
  Change change;
  if (ControlDiffers(row, window)) {
    change.value = FormTextValue(desc, text);
    change.marked = true;
  }
  return change;
}

// Whether moving a list from `stored` to `selected` moves the unit to another
// mode.
bool ChangesMode(std::string_view mnemonic, std::int32_t selected, std::int32_t stored) {
  if (mnemonic == "owid") return OwidCrossesBoundary(selected, stored);
  if (const DerivedRule* rule = FindDerivedRule(mnemonic)) return rule->changesMode;
  if (mnemonic == "aenc") return (selected == 0) != (stored == 0);  // audio on or off
  return false;
}

void ListValueChanged(Run& run, const ParamRow& row, Change& change) {
  const RowDescriptor& desc = row.Desc();
  const std::string_view m = desc.mnemonic;
  const std::int32_t stored = row.Position().value_or(kNoStoredPosition);
  if (ChangesMode(m, change.selected, stored)) run.modeChange = true;
  const auto formed = FormListValue(desc, change.selected);
  if (!formed) return;
  change.value = *formed;
  change.marked = true;
  if (run.variant == Variant::K610) {
    if (m == "eenc") run.rules.k610EncoderChoice = std::atoi(change.value.c_str());
    if (m == "owid" && run.rules.k610EncoderChoice == kK610AspEncoder) change.marked = false;
  }
}

// None when the row is passed over altogether.
std::optional<Change> ListChange(Run& run, const ParamRow& row, ControlHost& window) {
  const RowDescriptor& desc = row.Desc();
  const std::string_view m = desc.mnemonic;
  Change change;
  change.selected = window.Selected(desc.control);
  if (m == "vinp" && run.main.StoredListPosition("vinp") == 0) run.longReplyWait = true;
  // SIF and QSIF live in ecmd: the encoding mode list is not written for
  // MPEG2 nor while one of those sizes is chosen.
  if (run.variant != Variant::K610 && m == "ecmd" &&
      (run.rules.encoderIndex == 0 || run.rules.resolutionIndex > kLastFixedSize))
    return std::nullopt;
  if (m == "ehor" && desc.control == ids::kResolution && change.selected > kLastFixedSize) {
    run.Write("ecmd", change.selected);
    run.Wrote();
  }
  if (ControlDiffers(row, window)) ListValueChanged(run, row, change);
  if (desc.Derived())
    if (const DerivedRule* rule = FindDerivedRule(m); rule && rule->stale && rule->stale(run.main))
      change.marked = true;
  return change;
}

Change AddressChange(const ParamRow& row, ControlHost& window) {
  Change change;
  if (ControlDiffers(row, window)) {
    change.value = FormatAddress(window.Address(row.Control()));
    change.marked = true;
  }
  return change;
}

Change CheckChange(Run& run, const ParamRow& row, ControlHost& window) {
  const RowDescriptor& desc = row.Desc();
  const bool ticked = window.Checked(desc.control);
  Change change;
  // A box ticked after a non-zero bitrate is written on every apply.
  change.marked = ControlDiffers(row, window) || (ticked && run.bitrate != 0);
  if (desc.Has(flag::kBitratePair)) {
    // Manual bitrate: the unit takes kbit/s; 0 hands the bitrate back to
    // the encoder.
    change.value = ticked ? ScaledIntegerText(run.bitrate, 1000.0) : "0";
  } else {
    change.value = FormCheckValue(ticked);
  }
  return change;
}

// Called with the row's lock held.
std::optional<Change> WhatChanged(Run& run, const ParamRow& row, ControlHost& window) {
  switch (row.GetKind()) {
    case Kind::Text:
      return TextChange(run, row, window);
    case Kind::List:
      return ListChange(run, row, window);
    case Kind::Address:
      return AddressChange(row, window);
    case Kind::Check:
      return CheckChange(run, row, window);
    case Kind::StatusList:
      break;  // shown only; the unit sets these
  }
  return Change{};
}

}  // namespace

std::uint8_t Apply(UnitContext& unit, ParamTable& table, ControlHost& window) {
  Run run(unit, table);
  for (ParamRow& row : table.Rows()) {
    const RowDescriptor& desc = row.Desc();
    if (!window.HasControl(desc.control) || !RowExists(desc, run.variant)) continue;
    run.row = &desc;
    std::optional<Change> change;
    {
      std::lock_guard lock(row.Lock());
      // A control the unit connected now never filled holds nothing of it:
      // whatever it shows is not written.
      if (!row.Get()) continue;
      change = WhatChanged(run, row, window);
    }
    if (!change || !change->marked || !desc.writable) continue;
    if (!desc.Derived())
      WriteRow(run, desc.mnemonic, change->value);
    else if (const DerivedRule* rule = FindDerivedRule(desc.mnemonic))
      WriteDerived(run, *rule, change->selected);
  }
  return run.count;
}

}  // namespace vecta::params
