// What the operations on a unit share: the link, the clock that times the
// unit's protocol waits, the prompter, the tables with their values, and
// what is known about the connected unit.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/remote_control.h"
#include "params/convert.h"
#include "params/descriptor.h"
#include "params/prompter.h"

namespace vecta::params {

struct SavedConfigSet;

// Values the page rules, refresh and apply remember between runs; they live
// as long as the program.
struct RuleMemory {
  std::int32_t resolutionIndex = 0;  // K240 "Resolution" list: 0-3 sizes, 4 SIF, 5 QSIF
  std::int32_t encoderIndex = 0;     // K240 "MPEG mode" list: 0 MPEG2, 1 MPEG4
  std::int32_t encodingMode = 0;     // last ecmd loaded: 0-3 modes, 4 SIF, 5 QSIF
  // The wire value of the last eenc written on a K610; cleared by the
  // Advanced options window.
  std::optional<std::int32_t> k610EncoderChoice;
};

// Lamps of the main window and their icons.
inline constexpr int kLampVideoLock = 1024;
inline constexpr int kLampConnection = 1056;
inline constexpr int kLampRfOutput = 1027;
inline constexpr int kIconGreen = 129;
inline constexpr int kIconRed = 130;
inline constexpr int kIconGrey = 134;

// A status lamp for a reply: green when it names option 1, red when it
// names another option, grey when it names none.
inline int LampIcon(const RowDescriptor& row, std::string_view replyText) {
  const auto wire = NamedOption(row, replyText);
  if (!wire) return kIconGrey;
  return *wire == 1 ? kIconGreen : kIconRed;
}

// A run of configuration switches (saving or loading a set, reading a set
// for review) that a program being closed or signalled ends early: at its
// next step it stops, returns the unit to the configuration it was to end
// on and ends the switch hold, which `running` shows is still under way.
struct TransferControl {
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};
};

// How long the clean-up of a stopped transfer is waited for before the link
// is cut.
inline constexpr int kTransferCleanupMs = 5000;

struct UnitContext {
  link::CRavlenRemoteControl* link = nullptr;
  link::Clock* clock = &link::SystemClock();
  Prompter* prompter = nullptr;
  ParamTables* tables = nullptr;

  // The connected unit.
  int unitAddress = 1;
  std::string boardType;  // "rgbty", at most 8 characters; "" when unread
  FirmwareVersion firmware;
  Variant variant() const { return VariantOf(boardType); }

  RuleMemory rules;

  // The set saved last in this session (config_file.h), none before.
  std::shared_ptr<const SavedConfigSet> lastSetSave;

  // The rows whose writes the unit refused during an Apply, in the order
  // written, each once; whoever tells the operator clears them.
  std::vector<const RowDescriptor*> refusedWrites;

  // Set-lamp notification for the main window (lamp id, icon id). Must not
  // block: it may be called with the poll lock held.
  std::function<void(int lamp, int icon)> setLamp;

  // The program's transfer control, none when nothing ends transfers early.
  TransferControl* transfer = nullptr;
  // A transfer (and the reads of a refresh) should end at its next step.
  bool StopRequested() const { return transfer && transfer->stop.load(); }
};

}  // namespace vecta::params
