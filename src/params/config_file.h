// The configuration file: one configuration of the unit (the values of the
// main parameter table as last read) as a binary image, and loading such a
// file back into the unit.
//
// File layout (integers 32-bit unsigned, little-endian):
//
//   count (1)  "TXS"  configuration number  records...  "----"  "///"  checksum
//
// A record is the mnemonic's four characters, a kind byte (0 text, 1 number,
// 2 address) and four bytes: the text's length, the number, or the IPv4
// address; a text record is followed by its text without terminator. The
// checksum covers every byte before it. "TXS" up to "----" is one config
// image; the configuration-set file (config_set.h) repeats it per
// configuration.
//
// Decoding is kept apart from the unit: ParseConfigFile turns bytes into a
// ConfigFileData or an error without any link, so the command-line tool can
// show and compare files and the parser can be fuzzed. Loading checks the
// whole file first and only then talks to the unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "params/convert.h"
#include "params/derived_rows.h"
#include "params/descriptor.h"
#include "params/prompter.h"
#include "params/unit_context.h"

namespace vecta::params {

// The file dialogs of configuration files and sets.
inline constexpr std::string_view kConfigFileFilter = "Config files (*.cfg)|*.cfg|All files (*)|*||";
inline constexpr std::string_view kConfigFileSuffix = "cfg";
inline constexpr std::string_view kSaveFileTitle = "Select a file to save to";
inline constexpr std::string_view kLoadFileTitle = "Select a file to load from";
// The requests of those dialogs.
Prompter::FileRequest ConfigSaveRequest();
Prompter::FileRequest ConfigLoadRequest();

// File markers.
inline constexpr std::string_view kConfigMarker = "TXS";
inline constexpr std::string_view kStreamEndMarker = "----";
inline constexpr std::string_view kFileEndMarker = "///";

// Bounds that keep a hostile file from costing unbounded memory or time: no
// configuration file a unit produces comes near them (about a hundred
// records of at most a request's length per configuration).
inline constexpr std::size_t kMaxConfigFileSize = 1u << 20;
inline constexpr std::size_t kMaxRecordsPerConfig = 1024;

// The texts the operator sees.
namespace config_text {
inline constexpr std::string_view kError = "Error";
inline constexpr std::string_view kAlert = "Alert";
inline constexpr std::string_view kNoConnection = "No connection currently";
inline constexpr std::string_view kOpenForWriting = "Unable to open file for writing";
inline constexpr std::string_view kOpenForReading = "Unable to open file for reading";
inline constexpr std::string_view kWriteFailed = "Unable to write to file";
inline constexpr std::string_view kChecksum = "Invalid checksum in file";
inline constexpr std::string_view kMoreThanOne = "More than 1 config in file";
inline constexpr std::string_view kNotTransmitter = "Config in file is not a transmitter config";
inline constexpr std::string_view kIncorrectCount = "Incorrect number of configs in file";
inline constexpr std::string_view kInvalidConfigType = "Invalid config type in file";
inline constexpr std::string_view kTruncated = "Config file is truncated";
inline constexpr std::string_view kTooLarge = "Config file is too large";
inline constexpr std::string_view kBadRecordKind = "Invalid record type in file";
inline constexpr std::string_view kBadMnemonic = "Invalid parameter name in file";
inline constexpr std::string_view kBadValue = "Invalid parameter value in file";
inline constexpr std::string_view kValueTooLong = "Parameter value too long in file";
}  // namespace config_text

// The file's checksum: CRC-32 with the polynomial 0x04C11DB7, register
// starting at 0xFFFFFFFF and never inverted, each byte fed least significant
// bit first into a register shifting towards bit 31. "abc" gives 0xBC7DDB53.
std::uint32_t ConfigChecksum(std::span<const std::uint8_t> data);

enum class RecordKind : std::uint8_t { Text = 0, Number = 1, Address = 2 };

struct ConfigRecord {
  std::string mnemonic;  // four characters
  RecordKind kind = RecordKind::Number;
  std::string text;          // Text: the value text
  std::uint32_t number = 0;  // Number: the wire value; Address: first octet in the top byte

  // The value text of the write request: the text, the number in decimal,
  // or the dotted address.
  std::string ValueText() const;
  bool operator==(const ConfigRecord&) const = default;
};

struct ConfigImage {
  std::uint32_t number = 0;  // the configuration number the file names
  std::vector<ConfigRecord> records;
  bool operator==(const ConfigImage&) const = default;
};

// ---- Writer

// The records of a table's stored values: one per row that is writable, has
// a value, is not derived and exists for the variant, in table order. Text
// rows carry their wire form, list rows their wire value (none when the
// position has no option), the bitrate pair box "0" or the stored video
// bitrate x 1000 (none while the bitrate was never read); other check boxes
// and status lists carry nothing.
std::vector<ConfigRecord> RecordsFromTable(const ParamTable& table, Variant variant);

// Appends the records (without the "----" that ends the stream).
void AppendRecordStream(std::vector<std::uint8_t>& out, std::span<const ConfigRecord> records);
// Appends "TXS", the configuration number, the records and "----".
void AppendConfigImage(std::vector<std::uint8_t>& out, const ConfigImage& image);
// Appends "///" and the checksum of everything in `out`.
void AppendFileEnd(std::vector<std::uint8_t>& out);
// The whole single-configuration file.
std::vector<std::uint8_t> BuildConfigFile(const ConfigImage& image);

// ---- Parser

enum class ConfigError {
  None,
  Truncated,  // the data ends inside a field, or a stream lacks "----"
  TooLarge,   // beyond kMaxConfigFileSize or kMaxRecordsPerConfig
  Checksum,
  MoreThanOneConfig,     // a set offered as a single configuration
  NotTransmitterConfig,  // no "TXS" in a single-configuration file
  IncorrectConfigCount,  // a set with fewer configurations than the unit, or more than any unit
  InvalidConfigType,     // no "TXS" at an image of a set
  BadRecordKind,         // a kind byte other than 0, 1, 2
  BadMnemonic,           // not four lower-case letters or digits
  BadValue,              // a text with a byte no request can carry (0, STX, ETX, ';')
  ValueTooLong,          // a write request that no frame of the link can carry
};

// The operator's text for an error ("" for None).
std::string_view ConfigErrorText(ConfigError error);

struct ConfigFileData {
  std::uint32_t count = 0;  // the count field as stored
  std::vector<ConfigImage> images;
};

struct ConfigParse {
  ConfigError error = ConfigError::None;
  ConfigFileData data;  // complete only when error is None
  bool ok() const { return error == ConfigError::None; }
};

// The count at the start of a configuration file or set, its first word: 0
// or 1 in a single-configuration file, the number of configurations in a
// set. None when the bytes are shorter than a word.
std::optional<std::uint32_t> StoredConfigCount(std::span<const std::uint8_t> bytes);
// True when the count names two or more configurations: the bytes are meant
// as a set (the set's parser judges the rest).
bool CountsAsConfigSet(std::span<const std::uint8_t> bytes);

// The checks every file passes first: not over kMaxConfigFileSize, long
// enough for its checksum, and the checksum of all bytes before it right.
ConfigError CheckFileChecksum(std::span<const std::uint8_t> bytes);

// A single-configuration file, checked in the loader's order: checksum,
// count (0 and 1 accepted), "TXS", then every record to "----". Whatever
// follows "----" up to the checksum is not looked at.
ConfigParse ParseConfigFile(std::span<const std::uint8_t> bytes);

// Shared with the set parser: reads one image (from "TXS" through "----") at
// `pos`, advancing it. `missingMarker` is the error for a missing "TXS".
ConfigError ParseConfigImage(std::span<const std::uint8_t> data, std::size_t& pos, ConfigError missingMarker,
                             ConfigImage& image);

// Every write request of the images fits a frame of `maxFrame` bytes when
// sent to `unitAddress`: ConfigError::None or ValueTooLong.
ConfigError CheckRequestsFit(std::span<const ConfigImage> images, int unitAddress, std::size_t maxFrame);

// ---- Files

// The whole of a regular file of at most `maxSize` bytes. None when it
// cannot be opened or read or is no regular file; `tooLarge` tells a file
// over the bound apart.
std::optional<std::vector<std::uint8_t>> ReadFileBounded(const std::string& path, std::size_t maxSize,
                                                         bool& tooLarge);

// ---- Operations on the unit
//
// Each takes the poll lock for its whole run and leaves the busy state to the
// caller. Messages go through unit.prompter. `fullRefresh` is the main
// window's full refresh (board type, current config, every page), run with
// the poll lock held.

// True when a unit is connected.
bool UnitConnected(const UnitContext& unit);

// Writes the main table's stored values, as the last refresh left them, to
// `path`. `configNumber` is the selected config tab's position plus 1. No
// value is read from the unit. Returns true when the file was written.
bool SaveConfigFile(UnitContext& unit, const std::string& path, int configNumber);
// "Save config to file": asks for the file, then SaveConfigFile.
bool SaveConfigToFile(UnitContext& unit, int configNumber);

// Checks the whole file, then reads owid, eenc and aenc from the unit, sends
// the records into the unit's current configuration and runs the full
// refresh. Returns true when the records were sent.
bool LoadConfigFile(UnitContext& unit, const std::string& path, const std::function<void()>& fullRefresh);
// The two halves of LoadConfigFile. The first reads and checks the whole
// file without touching the unit and shows the error when there is one; the
// second (poll lock taken) sends the checked file's configuration and runs
// the full refresh.
std::optional<ConfigFileData> ReadConfigFileToLoad(UnitContext& unit, const std::string& path);
void SendConfigFile(UnitContext& unit, const ConfigFileData& data, const std::function<void()>& fullRefresh);
// "Load config from file": asks for the file, then LoadConfigFile.
bool LoadConfigFromFile(UnitContext& unit, const std::function<void()>& fullRefresh);

// The record stream loader: one write per record ("cinp" with "cflo" read
// before and written back after; "glod", the configuration the file was
// saved from, is not written). Without the hold, waits 5000 ms after an
// eenc write of a number other than `currentEenc` and after an owid write
// that crosses between 0-2 and 3-5 from `currentOwid`. Results are not
// examined. The caller holds the poll lock.
void SendRecordStream(UnitContext& unit, std::span<const ConfigRecord> records, int currentOwid, int currentEenc,
                      bool hold);

// Reads a parameter and takes its value as a decimal integer; 0 when the read
// fails or is refused. Under the link lock.
int ReadUnitNumber(UnitContext& unit, std::string_view mnemonic);
// Writes one parameter; returns SendCommand's result, `reply` the reply.
std::uint32_t WriteUnitParameter(UnitContext& unit, std::string_view mnemonic, std::string_view value,
                                 link::LinkReply& reply);

// The unit's values of some settings as its replies carry them (the wire
// text), by mnemonic; a setting the unit did not answer is absent.
using UnitValues = std::map<std::string, std::string, std::less<>>;

// Reads every setting the records name, once each, from the unit's current
// configuration; "glod" is not read (a load never writes it). The "Manual"
// box (evbr) comes as a file writes it: "0", or, when the unit answers it
// with anything else, its bitrate (evid, read too) in kbit/s; absent when
// that bitrate is not answered. Each read takes the link lock; the caller
// holds the poll lock.
UnitValues ReadUnitValues(UnitContext& unit, std::span<const ConfigRecord> records);

// The configurations the program built when it last saved a set, with the
// unit they came from. Forgotten when a configuration file or set is loaded
// into the unit.
struct SavedConfigSet {
  std::string path;
  std::string boardType;
  int unitAddress = 1;
  std::vector<ConfigImage> images;
};

// The unit's protocol waits.
inline constexpr int kModeChangeWaitMs = 5000;
inline constexpr int kConfigSwitchWaitMs = 1000;

}  // namespace vecta::params
