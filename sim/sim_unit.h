// One simulated unit: request frame in, reply bytes out. The transports
// (SimServer) apply the timing faults (delay, split, pacing, closing) around
// it; the unit's own timing (settling after a mode change, the video lock
// flipping) reads "now" from UnitOptions::clock, so tests need not sleep.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "param_store.h"
#include "sim_drift.h"
#include "sim_options.h"
#include "unit_params.h"

namespace vecta::sim {

using Bytes = std::vector<std::uint8_t>;

// The long reply to "rgrea": 144 bytes.
//   0        STX
//   1..4     unit address, 4 digits
//   5        '1'
//   6..9     "0128"                 the length of the data block
//   10       ';'
//   11       checksum of bytes 1..10
//   12       ETX                    a reader that stops at the first ETX sees
//                                   a complete, correct reply with value "0128"
//   13..140  data block: byte 13+k holds k + 1 (0x01..0x80), so 0x02 and
//            0x03 turn up at 14 and 15, and ';' at 71; no byte is zero, as
//            no reply may hold one
//   141      ';'
//   142      checksum of bytes 1..141
//   143      ETX                    the only ETX at or after offset 135
inline constexpr std::size_t kLongReplySize = 144;
inline constexpr std::size_t kLongReplyBlockOffset = 13;
inline constexpr std::size_t kLongReplyBlockSize = 128;

struct SimReply {
  bool answer = false;  // false: the unit stays silent
  Bytes bytes;          // the reply as it goes on the wire, faults applied
  // Why there is no reply, or which faults shaped it; empty when neither.
  std::string note;
};

class SimUnit {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SimUnit(const UnitOptions& unit = {}, FaultOptions faults = {});
  ~SimUnit();  // saves the state file if a save after a change failed

  // Handles one request frame (STX .. ETX, nothing before or after).
  // Thread-safe: transports on several threads may share one unit.
  SimReply Handle(const std::uint8_t* frame, std::size_t size);
  SimReply Handle(const Bytes& frame) { return Handle(frame.data(), frame.size()); }

  int Address() const;
  int CurrentConfiguration() const;
  int Configurations() const;
  // Requests counted for the faults so far (not those ignored while settling).
  int RequestCount() const;
  const FaultOptions& Faults() const { return faults_; }
  // True while the unit is changing mode and answers nothing.
  bool Settling() const;
  // What was wrong with the options: a --param for a parameter the unit does
  // not have or with a value it refuses, a state file that cannot be read.
  // Empty when all is well.
  const std::string& SetupError() const { return setupError_; }
  // Writes the state file now; true when there is none to write.
  bool SaveState(std::string* error = nullptr);

 private:
  struct Built {
    Bytes bytes;
    std::vector<std::size_t> checksumAt;  // each covers bytes 1 .. position-1
  };
  Built Execute(char op, const std::string& mnemonic, const std::string& value, bool& known);
  Built Read(const std::string& mnemonic, bool& known);
  Built Write(const std::string& mnemonic, const std::string& value, bool& known);
  Built Accepted(const std::string& value) const { return ShortReply(address_, '1', value); }
  Built ShortReply(int address, char status, const std::string& value) const;
  Built LongReply(int address) const;
  void ApplyFaults(Built& reply, std::string& note) const;
  bool DropForFault(int requestNumber, std::string& note) const;

  Clock::time_point Now() const;
  // What decides the unit's operating mode in the current configuration;
  // a change of it makes the unit settle.
  std::string ModeSignature() const;
  void ModeChanged();
  std::string VideoLock() const;
  std::string Current(std::string_view mnemonic) const;
  void LoadState();
  void StateChanged();
  bool SaveStateLocked(std::string* error);

  mutable std::mutex mutex_;
  const FaultOptions faults_;
  ParamCatalogue catalogue_;
  int address_;
  std::string board_;
  std::string setupError_;  // before store_: building the store reports here
  ParamStore store_;
  int requests_ = 0;

  std::function<Clock::time_point()> clock_;
  Clock::time_point start_;
  int settleMs_ = 0;
  bool settling_ = false;
  Clock::time_point settleUntil_{};
  int vlocToggleMs_ = 0;
  std::optional<StatusDrift> drift_;
  std::int64_t ElapsedMs() const;

  bool holdSupported_ = false;  // girb: firmware 3.4.0.0 and later
  bool hold_ = false;           // mode changes wait for the hold to end
  bool heldModeChange_ = false;
  int trimPoint_ = 0;                                     // citr: 0 normal operation, 1..3 a calibration point
  std::map<std::string, std::string, std::less<>> keys_;  // scrambling keys, never read back

  std::string stateFile_;
  bool stateDirty_ = false;
};

// Address text as the unit sends it: 4 digits.
std::string AddressText(int address);

// A transcript line: "rx " or "tx " followed by the frame's text. For a
// frame starting with STX and ending with checksum + ETX the text is the
// bytes between STX and the checksum ("rx 0001rgbty;;", "tx 00011K610;");
// anything else is shown whole. Bytes outside ' '..'~', and '<', appear as
// <xx> (lower-case hex). A non-empty note is appended as " (note)".
std::string FormatTranscript(const char* direction, const std::uint8_t* data, std::size_t size,
                             const std::string& note = {});

}  // namespace vecta::sim
