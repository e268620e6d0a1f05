// The application settings record and its binary file.
//
// The file holds the fifteen items of AppSettings in member order, with
// nothing before, between or after them: integers are 32-bit signed
// little-endian, flags one byte (0 or 1), strings a 32-bit little-endian byte
// count followed by the text without terminator. A string that is not set is
// written as the count 0 alone; on load a count of 0 gives an empty text,
// which counts as set. The file is 56 bytes plus the lengths of the strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vecta::app {

inline constexpr const char* kSettingsBaseName = "vecta_tx_ctrl_v2.7.3";
inline constexpr const char* kDefaultAppTitle = "Vecta transmitter control";
// A stored logo width or height of -1 stands for this many pixels.
inline constexpr int kDefaultLogoPixels = 70;
// Bytes of a file whose three strings are all empty.
inline constexpr std::size_t kSettingsFixedBytes = 56;
// The longest string the file carries. A longer count in a file is taken as
// damage (loading stops there); SaveSettings refuses to write a longer one.
inline constexpr std::uint32_t kMaxSettingsString = 1u << 20;

// The persisted settings, one process-wide record read at start and written
// at exit. Members are in file order and start at their defaults.
struct AppSettings {
  std::int32_t comPortIndex = -1;                                       // 1: last port a unit answered on; -1 none
  bool pollingEnabled = true;                                           // 2
  std::optional<std::string> iconPath;                                  // 3: nullopt = not set
  std::int32_t baudRate = 9600;                                         // 4: written back as read
  std::int32_t readIntervalTimeoutMs = 500;                             // 5
  std::int32_t readTotalTimeoutMultiplier = 1;                          // 6
  std::int32_t readTotalTimeoutConstantMs = 2500;                       // 7
  std::int32_t writeTotalTimeoutMultiplier = 1;                         // 8
  std::int32_t writeTotalTimeoutConstantMs = 1000;                      // 9
  std::int32_t pollingIntervalMs = 2000;                                // 10
  bool pollVideoLock = true;                                            // 11, first byte
  bool pollChainingStatus = true;                                       // 11, second byte
  bool pollRfOutput = true;                                             // 11, third byte
  std::optional<std::string> appTitle = std::string(kDefaultAppTitle);  // 12
  std::optional<std::string> logoPath;                                  // 13
  std::int32_t logoWidth = -1;                                          // 14: -1 means 70
  std::int32_t logoHeight = -1;                                         // 15: -1 means 70

  bool operator==(const AppSettings&) const = default;
};

// The values that are not persisted and start afresh at every launch.
enum class ConnectionKind { Rs232, Ethernet };
struct LaunchState {
  ConnectionKind connection = ConnectionKind::Rs232;
  std::string ipAddress = "0.0.0.0";
  int unitAddress = 1;
  std::string boardType;  // at most 8 characters once read from the unit
  bool connected = false;
};

// Parses a settings file image. Items are taken in file order; an item that
// is not wholly present, or a string whose count runs past the end of the
// data or above kMaxSettingsString, ends the parse, so that item and all
// later ones keep their defaults. Flag bytes other than 0 count as set.
AppSettings ParseSettings(const std::uint8_t* data, std::size_t size);

// Reads the file at `path`. A file that cannot be opened gives the defaults.
AppSettings LoadSettings(const std::string& path);

// The file image of `s`. Returns false (leaving `out` empty) when a string is
// longer than kMaxSettingsString.
bool SerializeSettings(const AppSettings& s, std::vector<std::uint8_t>& out);

// Writes the file whole or not at all (platform/atomic_file.h): through a
// link to the file it names, keeping that file's permission bits, and never
// over a read-only file or anything that is not a regular file. Returns
// false when anything fails; `error` (if given) then says what.
bool SaveSettings(const std::string& path, const AppSettings& s, std::string* error = nullptr);

// The start-up steps that touch only the record and the launch values: no
// title text at all gets the default title (a stored empty title stays), the
// IP address text gets "0.0.0.0" when there is none, the board type is
// cleared.
void ApplyStartupDefaults(AppSettings& s, LaunchState& launch);

// Pixels of a stored logo width or height (-1 means 70).
int LogoPixels(std::int32_t stored);

}  // namespace vecta::app
