#include "params/config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "link/frame.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "link/request.h"
#include "platform/atomic_file.h"

namespace vecta::params {
namespace {

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutText(std::vector<std::uint8_t>& out, std::string_view s) { out.insert(out.end(), s.begin(), s.end()); }

// Reading from a byte span that never runs past its end.
class Reader {
 public:
  Reader(std::span<const std::uint8_t> data, std::size_t& pos) : d_(data), pos_(pos) {}
  std::size_t Left() const { return d_.size() - pos_; }
  bool U32(std::uint32_t& v) {
    if (Left() < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(d_[pos_ + static_cast<std::size_t>(i)]) << (8 * i);
    pos_ += 4;
    return true;
  }
  bool Byte(std::uint8_t& b) {
    if (Left() < 1) return false;
    b = d_[pos_++];
    return true;
  }
  bool Text(std::size_t n, std::string& s) {
    if (Left() < n) return false;
    s.assign(reinterpret_cast<const char*>(d_.data() + pos_), n);
    pos_ += n;
    return true;
  }
  bool Peek(std::string_view marker) const {
    if (Left() < marker.size()) return false;
    return std::string_view(reinterpret_cast<const char*>(d_.data() + pos_), marker.size()) == marker;
  }

 private:
  std::span<const std::uint8_t> d_;
  std::size_t& pos_;
};

bool ValidMnemonic(std::string_view m) {
  if (m.size() != 4) return false;
  for (char c : m)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

// A request text ends at its first zero byte, STX and ETX bound the frame and
// ';' ends the value: none of them can travel inside a value.
bool CarriableText(std::string_view t) {
  for (char c : t)
    if (c == '\0' || c == static_cast<char>(link::kStx) || c == static_cast<char>(link::kEtx) || c == ';')
      return false;
  return true;
}

long long LeadingInteger(std::string_view text) {
  const std::string s(text);
  errno = 0;
  long long v = std::strtoll(s.c_str(), nullptr, 10);
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  return v;
}

// A stored text in its wire form: the write conversion of a typed value.
std::string StoredTextToWire(const RowDescriptor& row, const std::string& text) {
  return FormTextValue(row, text);
}

ConfigRecord TextRecord(std::string_view mnemonic, std::string text) {
  ConfigRecord r;
  r.mnemonic.assign(mnemonic);
  r.kind = RecordKind::Text;
  r.text = std::move(text);
  return r;
}

}  // namespace

std::uint32_t ConfigChecksum(std::span<const std::uint8_t> data) {
  std::uint32_t reg = 0xFFFFFFFFu;
  for (std::uint8_t byte : data) {
    for (int bit = 0; bit < 8; ++bit) {
      const std::uint32_t b = ((byte >> bit) & 1u) ^ (reg >> 31);
      reg <<= 1;
      if (b) reg ^= 0x04C11DB7u;
    }
  }
  return reg;
}

std::string ConfigRecord::ValueText() const {
  switch (kind) {
    case RecordKind::Text:
      return text;
    case RecordKind::Number:
      return std::to_string(number);
    case RecordKind::Address:
      return FormatAddress(number);
  }
  return text;
}

// ---- Writer

std::vector<ConfigRecord> RecordsFromTable(const ParamTable& table, Variant variant) {
  std::vector<ConfigRecord> records;
  for (const ParamRow& row : table.Rows()) {
    const RowDescriptor& desc = row.Desc();
    if (!desc.writable || desc.Derived() || !RowExists(desc, variant)) continue;
    const std::optional<Value> value = row.Get();
    if (!value) continue;
    switch (desc.kind) {
      case Kind::Text:
        if (const auto* t = std::get_if<std::string>(&*value))
          records.push_back(TextRecord(desc.mnemonic, StoredTextToWire(desc, *t)));
        break;
      case Kind::List:
        if (const auto* p = std::get_if<std::int32_t>(&*value); p && desc.options) {
          if (const auto wire = PositionToWire(*desc.options, *p)) {
            ConfigRecord r;
            r.mnemonic = desc.mnemonic;
            r.kind = RecordKind::Number;
            r.number = static_cast<std::uint32_t>(*wire);
            records.push_back(std::move(r));
          }
        }
        break;
      case Kind::Address:
        if (const auto* a = std::get_if<std::uint32_t>(&*value)) {
          ConfigRecord r;
          r.mnemonic = desc.mnemonic;
          r.kind = RecordKind::Address;
          r.number = *a;
          records.push_back(std::move(r));
        }
        break;
      case Kind::Check:
        if (desc.Has(flag::kBitratePair)) {
          const auto* c = std::get_if<std::uint8_t>(&*value);
          if (!c) break;
          if (*c == 0) {
            records.push_back(TextRecord(desc.mnemonic, "0"));
            break;
          }
          // Manual bitrate: the video bitrate (Mbit/s) in kbit/s. Left out
          // while the bitrate is unknown, so loading keeps the unit's own.
          const ParamRow* evid = table.Find("evid");
          const std::optional<std::string> rate = evid ? evid->Text() : std::nullopt;
          if (rate)
            records.push_back(TextRecord(desc.mnemonic, ScaledIntegerText(std::atof(rate->c_str()), 1000.0)));
        }
        break;
      case Kind::StatusList:
        break;
    }
  }
  return records;
}

void AppendRecordStream(std::vector<std::uint8_t>& out, std::span<const ConfigRecord> records) {
  for (const ConfigRecord& r : records) {
    std::string m = r.mnemonic;
    m.resize(4, ' ');
    PutText(out, m);
    out.push_back(static_cast<std::uint8_t>(r.kind));
    if (r.kind == RecordKind::Text) {
      PutU32(out, static_cast<std::uint32_t>(r.text.size()));
      PutText(out, r.text);
    } else {
      PutU32(out, r.number);
    }
  }
}

void AppendConfigImage(std::vector<std::uint8_t>& out, const ConfigImage& image) {
  PutText(out, kConfigMarker);
  PutU32(out, image.number);
  AppendRecordStream(out, image.records);
  PutText(out, kStreamEndMarker);
}

void AppendFileEnd(std::vector<std::uint8_t>& out) {
  PutText(out, kFileEndMarker);
  PutU32(out, ConfigChecksum(out));
}

std::vector<std::uint8_t> BuildConfigFile(const ConfigImage& image) {
  std::vector<std::uint8_t> out;
  PutU32(out, 1);
  AppendConfigImage(out, image);
  AppendFileEnd(out);
  return out;
}

// ---- Parser

std::string_view ConfigErrorText(ConfigError error) {
  using namespace config_text;
  switch (error) {
    case ConfigError::None:
      return {};
    case ConfigError::Truncated:
      return kTruncated;
    case ConfigError::TooLarge:
      return kTooLarge;
    case ConfigError::Checksum:
      return kChecksum;
    case ConfigError::MoreThanOneConfig:
      return kMoreThanOne;
    case ConfigError::NotTransmitterConfig:
      return kNotTransmitter;
    case ConfigError::IncorrectConfigCount:
      return kIncorrectCount;
    case ConfigError::InvalidConfigType:
      return kInvalidConfigType;
    case ConfigError::BadRecordKind:
      return kBadRecordKind;
    case ConfigError::BadMnemonic:
      return kBadMnemonic;
    case ConfigError::BadValue:
      return kBadValue;
    case ConfigError::ValueTooLong:
      return kValueTooLong;
  }
  return {};
}

ConfigError ParseConfigImage(std::span<const std::uint8_t> data, std::size_t& pos, ConfigError missingMarker,
                             ConfigImage& image) {
  Reader in(data, pos);
  std::string marker;
  if (!in.Text(kConfigMarker.size(), marker)) return ConfigError::Truncated;
  if (marker != kConfigMarker) return missingMarker;
  if (!in.U32(image.number)) return ConfigError::Truncated;
  image.records.clear();
  for (;;) {
    if (in.Peek(kStreamEndMarker)) {
      std::string end;
      in.Text(kStreamEndMarker.size(), end);
      return ConfigError::None;
    }
    if (image.records.size() >= kMaxRecordsPerConfig) return ConfigError::TooLarge;
    ConfigRecord r;
    std::uint8_t kind = 0;
    std::uint32_t field = 0;
    if (!in.Text(4, r.mnemonic)) return ConfigError::Truncated;
    if (!ValidMnemonic(r.mnemonic)) return ConfigError::BadMnemonic;
    if (!in.Byte(kind)) return ConfigError::Truncated;
    if (kind > 2) return ConfigError::BadRecordKind;
    r.kind = static_cast<RecordKind>(kind);
    if (!in.U32(field)) return ConfigError::Truncated;
    if (r.kind == RecordKind::Text) {
      // The length is checked against what is left before anything is
      // allocated for it.
      if (!in.Text(field, r.text)) return ConfigError::Truncated;
      if (!CarriableText(r.text)) return ConfigError::BadValue;
    } else {
      r.number = field;
    }
    image.records.push_back(std::move(r));
  }
}

std::optional<std::uint32_t> StoredConfigCount(std::span<const std::uint8_t> bytes) {
  std::size_t pos = 0;
  std::uint32_t count = 0;
  if (!Reader(bytes, pos).U32(count)) return std::nullopt;
  return count;
}

bool CountsAsConfigSet(std::span<const std::uint8_t> bytes) { return StoredConfigCount(bytes).value_or(0) >= 2; }

ConfigError CheckFileChecksum(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > kMaxConfigFileSize) return ConfigError::TooLarge;
  if (bytes.size() < 4) return ConfigError::Truncated;
  std::size_t pos = bytes.size() - 4;
  std::uint32_t stored = 0;
  Reader(bytes, pos).U32(stored);
  return stored == ConfigChecksum(bytes.first(bytes.size() - 4)) ? ConfigError::None : ConfigError::Checksum;
}

ConfigParse ParseConfigFile(std::span<const std::uint8_t> bytes) {
  ConfigParse result;
  result.error = CheckFileChecksum(bytes);
  if (!result.ok()) return result;
  const auto data = bytes.first(bytes.size() - 4);
  std::size_t pos = 0;
  if (!Reader(data, pos).U32(result.data.count)) {
    result.error = ConfigError::Truncated;
    return result;
  }
  if (result.data.count >= 2) {
    result.error = ConfigError::MoreThanOneConfig;
    return result;
  }
  ConfigImage image;
  result.error = ParseConfigImage(data, pos, ConfigError::NotTransmitterConfig, image);
  if (result.ok()) result.data.images.push_back(std::move(image));
  return result;
}

ConfigError CheckRequestsFit(std::span<const ConfigImage> images, int unitAddress, std::size_t maxFrame) {
  link::Bytes frame;
  for (const ConfigImage& image : images)
    for (const ConfigRecord& r : image.records)
      if (!link::BuildRequestFrame(link::WriteRequest(unitAddress, r.mnemonic, r.ValueText()), maxFrame, frame))
        return ConfigError::ValueTooLong;
  return ConfigError::None;
}

// ---- Files

std::optional<std::vector<std::uint8_t>> ReadFileBounded(const std::string& path, std::size_t maxSize,
                                                         bool& tooLarge) {
  tooLarge = false;
  // Non-blocking, so a FIFO named by mistake cannot hold the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<std::size_t>(n) > maxSize) {
      tooLarge = true;
      ::close(fd);
      return std::nullopt;
    }
    bytes.insert(bytes.end(), buf, buf + n);
  }
  ::close(fd);
  return bytes;
}

// ---- Operations on the unit

Prompter::FileRequest ConfigSaveRequest() { return {true, kSaveFileTitle, kConfigFileFilter, kConfigFileSuffix}; }
Prompter::FileRequest ConfigLoadRequest() { return {false, kLoadFileTitle, kConfigFileFilter, kConfigFileSuffix}; }

bool UnitConnected(const UnitContext& unit) { return unit.link && unit.link->IsConnected(); }

std::uint32_t WriteUnitParameter(UnitContext& unit, std::string_view mnemonic, std::string_view value,
                                 link::LinkReply& reply) {
  return link::Exchange(*unit.link, link::WriteRequest(unit.unitAddress, mnemonic, value), reply, 1);
}

int ReadUnitNumber(UnitContext& unit, std::string_view mnemonic) {
  link::LinkReply reply;
  if (link::Exchange(*unit.link, link::ReadRequest(unit.unitAddress, mnemonic), reply, 1) != link::kLinkOk ||
      reply.status != '1')
    return 0;
  return static_cast<int>(LeadingInteger(reply.value));
}

UnitValues ReadUnitValues(UnitContext& unit, std::span<const ConfigRecord> records) {
  UnitValues values;
  std::vector<std::string_view> asked;
  for (const ConfigRecord& r : records) {
    if (unit.StopRequested()) break;
    if (r.mnemonic == "glod" || std::find(asked.begin(), asked.end(), r.mnemonic) != asked.end()) continue;
    asked.push_back(r.mnemonic);
    link::LinkReply reply;
    if (link::Exchange(*unit.link, link::ReadRequest(unit.unitAddress, r.mnemonic), reply, 1) == link::kLinkOk &&
        reply.status == '1')
      values.emplace(r.mnemonic, reply.value);
  }
  // The "Manual" box as a file holds it: 0, or the bitrate it sets in kbit/s.
  // The unit answers its box with any non-zero value, and the bitrate
  // itself under evid.
  const auto manual = values.find("evbr");
  if (manual != values.end() && LeadingInteger(manual->second) != 0) {
    link::LinkReply reply;
    if (link::Exchange(*unit.link, link::ReadRequest(unit.unitAddress, "evid"), reply, 1) == link::kLinkOk &&
        reply.status == '1')
      manual->second = ScaledIntegerText(std::atof(reply.value.c_str()), 1000.0);
    else
      values.erase(manual);  // on, at a bitrate the unit did not say
  }
  return values;
}

void SendRecordStream(UnitContext& unit, std::span<const ConfigRecord> records, int currentOwid, int currentEenc,
                      bool hold) {
  link::OperationLock operation;
  for (const ConfigRecord& r : records) {
    if (unit.StopRequested()) break;
    // glod selects the running configuration: the file's own number must not
    // switch the unit away from the configuration being loaded.
    if (r.mnemonic == "glod") continue;
    const std::string value = r.ValueText();
    link::LinkReply reply;
    if (r.mnemonic == "cinp") {
      // The unit resets the chaining flow when the chaining input changes:
      // keep what it had.
      link::LinkReply flow;
      const std::uint32_t rc = link::Exchange(*unit.link, link::ReadRequest(unit.unitAddress, "cflo"), flow, 1);
      WriteUnitParameter(unit, r.mnemonic, value, reply);
      if (rc == link::kLinkOk && flow.status != 'E') WriteUnitParameter(unit, "cflo", flow.value, reply);
    } else {
      WriteUnitParameter(unit, r.mnemonic, value, reply);
    }
    if (hold || r.kind == RecordKind::Address) continue;
    const long long written =
        r.kind == RecordKind::Number ? static_cast<long long>(r.number) : LeadingInteger(r.text);
    // Changing the encoder or crossing between narrowband and DVB-T
    // bandwidths restarts the modulator or encoder.
    if ((r.mnemonic == "eenc" && written != currentEenc) ||
        (r.mnemonic == "owid" && OwidCrossesBoundary(written, currentOwid)))
      unit.clock->SleepMs(kModeChangeWaitMs);
  }
}

bool SaveConfigFile(UnitContext& unit, const std::string& path, int configNumber) {
  using namespace config_text;
  if (!UnitConnected(unit)) {
    unit.prompter->Message(kError, kNoConnection, MessageIcon::Exclamation);
    return false;
  }
  link::OperationLock operation;
  platform::AtomicFile file;
  if (!file.Open(path)) {
    unit.prompter->Message(kError, kOpenForWriting, MessageIcon::Exclamation);
    return false;
  }
  ConfigImage image;
  image.number = static_cast<std::uint32_t>(configNumber);
  image.records = RecordsFromTable(unit.tables->main, unit.variant());
  if (!file.Commit(BuildConfigFile(image))) {
    unit.prompter->Message(kError, kWriteFailed, MessageIcon::Exclamation);
    return false;
  }
  return true;
}

bool SaveConfigToFile(UnitContext& unit, int configNumber) {
  if (!UnitConnected(unit)) {
    unit.prompter->Message(config_text::kError, config_text::kNoConnection, MessageIcon::Exclamation);
    return false;
  }
  link::OperationLock operation;
  const std::optional<std::string> path = unit.prompter->ChooseFile(ConfigSaveRequest());
  if (!path) return false;
  return SaveConfigFile(unit, *path, configNumber);
}

std::optional<ConfigFileData> ReadConfigFileToLoad(UnitContext& unit, const std::string& path) {
  using namespace config_text;
  bool tooLarge = false;
  const auto bytes = ReadFileBounded(path, kMaxConfigFileSize, tooLarge);
  if (!bytes) {
    unit.prompter->Message(kError, tooLarge ? kTooLarge : kOpenForReading, MessageIcon::Exclamation);
    return std::nullopt;
  }
  ConfigParse parsed = ParseConfigFile(*bytes);
  if (parsed.ok()) {
    const std::size_t maxFrame =
        unit.link->Kind() == link::TransportKind::Tcp ? link::kMaxTcpRequestFrame : link::kMaxSerialRequestFrame;
    parsed.error = CheckRequestsFit(parsed.data.images, unit.unitAddress, maxFrame);
  }
  if (!parsed.ok()) {
    unit.prompter->Message(kError, ConfigErrorText(parsed.error), MessageIcon::Exclamation);
    return std::nullopt;
  }
  return std::move(parsed.data);
}

void SendConfigFile(UnitContext& unit, const ConfigFileData& data, const std::function<void()>& fullRefresh) {
  link::OperationLock operation;
  // The file's configuration goes into the unit's current one.
  const int owid = ReadUnitNumber(unit, "owid");
  const int eenc = ReadUnitNumber(unit, "eenc");
  ReadUnitNumber(unit, "aenc");
  SendRecordStream(unit, data.images.front().records, owid, eenc, false);
  // The unit's configurations no longer match the set saved last.
  unit.lastSetSave.reset();
  if (fullRefresh) fullRefresh();
}

bool LoadConfigFile(UnitContext& unit, const std::string& path, const std::function<void()>& fullRefresh) {
  using namespace config_text;
  if (!UnitConnected(unit)) {
    unit.prompter->Message(kError, kNoConnection, MessageIcon::Exclamation);
    return false;
  }
  link::OperationLock operation;
  const std::optional<ConfigFileData> data = ReadConfigFileToLoad(unit, path);
  if (!data) return false;
  // Every check has passed: only now is the unit touched.
  SendConfigFile(unit, *data, fullRefresh);
  return true;
}

bool LoadConfigFromFile(UnitContext& unit, const std::function<void()>& fullRefresh) {
  if (!UnitConnected(unit)) {
    unit.prompter->Message(config_text::kError, config_text::kNoConnection, MessageIcon::Exclamation);
    return false;
  }
  link::OperationLock operation;
  const std::optional<std::string> path = unit.prompter->ChooseFile(ConfigLoadRequest());
  if (!path) return false;
  return LoadConfigFile(unit, *path, fullRefresh);
}

}  // namespace vecta::params
