#include "params/config_set.h"

#include <algorithm>
#include <mutex>

#include "link/frame.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "platform/atomic_file.h"

namespace vecta::params {
namespace {

using namespace config_text;

// While configurations switch, girb 1 makes the unit hold its outputs; its
// firmware before 3.4.0.0 has no girb and needs time after every switch.
class SwitchHold {
 public:
  explicit SwitchHold(UnitContext& unit) : unit_(unit), applies_(unit.firmware.AtLeast3400()) {}
  ~SwitchHold() { End(); }
  bool Applies() const { return applies_; }
  void Begin() {
    if (!applies_ || set_) return;
    link::LinkReply reply;
    WriteUnitParameter(unit_, "girb", "1", reply);
    set_ = true;
  }
  // girb goes back to 0 on every way out once it was set.
  void End() {
    if (!set_) return;
    set_ = false;
    link::LinkReply reply;
    WriteUnitParameter(unit_, "girb", "0", reply);
  }
  void WaitAfterSwitch() {
    if (!applies_) unit_.clock->SleepMs(kConfigSwitchWaitMs);
  }

 private:
  UnitContext& unit_;
  bool applies_;
  bool set_ = false;
};

// A transfer is running from its start to the end of its clean-up
// (declared before the hold, so it ends after the hold's last write).
class TransferScope {
 public:
  explicit TransferScope(UnitContext& unit) : transfer_(unit.transfer) {
    if (transfer_) transfer_->running = true;
  }
  ~TransferScope() {
    if (transfer_) transfer_->running = false;
  }
  TransferScope(const TransferScope&) = delete;
  TransferScope& operator=(const TransferScope&) = delete;

 private:
  TransferControl* transfer_;
};

// The progress window, closed on every way out.
class Progress {
 public:
  Progress(Prompter& p, std::string_view text, int maximum) : p_(p) {
    p_.BeginProgress(kPleaseWaitTitle, text, maximum);
  }
  ~Progress() { End(); }
  void Set(int v) { p_.SetProgress(v); }
  void End() {
    if (open_) p_.EndProgress();
    open_ = false;
  }

 private:
  Prompter& p_;
  bool open_ = true;
};

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Fail(UnitContext& unit, std::string_view text) {
  unit.prompter->Message(kError, text, MessageIcon::Exclamation);
}

std::string ConfigNumberText(int i) { return std::to_string(i); }

// The clean-up of a transfer stopped early: the unit back on `config` when
// it was switched away, then the hold ended. No wait: nothing follows.
void EndEarly(UnitContext& unit, SwitchHold& hold, int config, bool switched) {
  if (switched) {
    link::LinkReply reply;
    WriteUnitParameter(unit, "glod", ConfigNumberText(config), reply);
  }
  hold.End();
}

// The set saved last, for the review of a later load.
void RememberSave(UnitContext& unit, const std::string& path, std::vector<ConfigImage> images) {
  auto saved = std::make_shared<SavedConfigSet>();
  saved->path = path;
  saved->boardType = unit.boardType;
  saved->unitAddress = unit.unitAddress;
  saved->images = std::move(images);
  unit.lastSetSave = std::move(saved);
}

}  // namespace

int ConfigCount(Variant variant) { return variant == Variant::Other ? 8 : 16; }

std::vector<std::uint8_t> BuildConfigSetFile(std::span<const ConfigImage> images) {
  std::vector<std::uint8_t> out;
  PutU32(out, static_cast<std::uint32_t>(images.size()));
  for (const ConfigImage& image : images) AppendConfigImage(out, image);
  AppendFileEnd(out);
  return out;
}

ConfigParse ParseConfigSet(std::span<const std::uint8_t> bytes, std::uint32_t minConfigs) {
  ConfigParse result;
  result.error = CheckFileChecksum(bytes);
  if (!result.ok()) return result;
  const auto data = bytes.first(bytes.size() - 4);
  const auto count = StoredConfigCount(data);
  if (!count) {
    result.error = ConfigError::Truncated;
    return result;
  }
  const std::uint32_t n = *count;
  result.data.count = n;
  // The count is judged before anything is reserved for it.
  if (n < minConfigs || n > kMaxConfigs) {
    result.error = ConfigError::IncorrectConfigCount;
    return result;
  }
  std::size_t pos = 4;
  result.data.images.reserve(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    ConfigImage image;
    result.error = ParseConfigImage(data, pos, ConfigError::InvalidConfigType, image);
    if (!result.ok()) return result;
    result.data.images.push_back(std::move(image));
  }
  return result;
}

ConfigParse ParseConfigFileOrSet(std::span<const std::uint8_t> bytes) {
  return CountsAsConfigSet(bytes) ? ParseConfigSet(bytes, 0) : ParseConfigFile(bytes);
}

bool SaveConfigSetFile(UnitContext& unit, const std::string& path, const std::function<void()>& fullRefresh) {
  if (!unit.link) {
    Fail(unit, kNoConnection);
    return false;
  }
  // Both locks for the whole run (each exchange takes the link lock again):
  // the poll thread cannot slip a request between a switch and the refresh
  // that reads the configuration.
  link::PollAndLinkLock locks;
  TransferScope transfer(unit);
  SwitchHold hold(unit);

  const int n = ConfigCount(unit.variant());
  std::vector<std::uint8_t> image;
  image.reserve(static_cast<std::size_t>(n) * 1024);
  std::vector<ConfigImage> images;  // kept as the set saved last

  platform::AtomicFile file;
  if (!file.Open(path)) {
    Fail(unit, kOpenForWriting);
    return false;
  }

  Progress progress(*unit.prompter, kSaveProgress, n + 1);
  // Stopped: the file that was there stays; a configuration read in part
  // is not saved either.
  auto stopped = [&](bool switched) {
    file.Discard();
    EndEarly(unit, hold, 1, switched);
    return false;
  };
  if (unit.StopRequested()) return stopped(false);
  hold.Begin();
  PutU32(image, static_cast<std::uint32_t>(n));
  for (int i = 1; i <= n; ++i) {
    if (unit.StopRequested()) return stopped(i > 1);
    link::LinkReply reply;
    const std::uint32_t rc = WriteUnitParameter(unit, "glod", ConfigNumberText(i), reply);
    // A refused switch leaves the unit on the previous configuration, whose
    // values must not be saved as this one's.
    if (rc != link::kLinkOk || reply.status == 'E') {
      file.Discard();  // the file that was there stays as it was
      hold.End();
      progress.End();
      Fail(unit, kUnableToSwitch);
      return false;
    }
    hold.WaitAfterSwitch();
    if (fullRefresh) fullRefresh();  // the stored values are now configuration i's
    ConfigImage config;
    config.number = static_cast<std::uint32_t>(i);
    config.records = RecordsFromTable(unit.tables->main, unit.variant());
    AppendConfigImage(image, config);
    images.push_back(std::move(config));
    progress.Set(i);
  }
  if (unit.StopRequested()) return stopped(true);
  AppendFileEnd(image);
  const bool written = file.Commit(image);

  link::LinkReply reply;
  WriteUnitParameter(unit, "glod", "1", reply);
  hold.WaitAfterSwitch();
  if (fullRefresh) fullRefresh();
  progress.Set(n + 1);
  hold.End();
  progress.End();
  if (!written) {
    Fail(unit, kWriteFailed);
    return false;
  }
  RememberSave(unit, path, std::move(images));
  unit.prompter->Message(kAlert, kSetSaved, MessageIcon::Information);
  return true;
}

bool SaveConfigSet(UnitContext& unit, const std::function<void()>& fullRefresh) {
  link::PollAndLinkLock locks;
  const std::optional<std::string> path = unit.prompter->ChooseFile(ConfigSaveRequest());
  if (!path) return false;
  return SaveConfigSetFile(unit, *path, fullRefresh);
}

std::optional<ConfigFileData> ReadConfigSetToLoad(UnitContext& unit, const std::string& path) {
  bool tooLarge = false;
  const auto bytes = ReadFileBounded(path, kMaxConfigFileSize, tooLarge);
  if (!bytes) {
    Fail(unit, tooLarge ? kTooLarge : kOpenForReading);
    return std::nullopt;
  }
  ConfigParse parsed = ParseConfigSet(*bytes, static_cast<std::uint32_t>(ConfigCount(unit.variant())));
  if (parsed.ok()) {
    const std::size_t maxFrame =
        unit.link->Kind() == link::TransportKind::Tcp ? link::kMaxTcpRequestFrame : link::kMaxSerialRequestFrame;
    parsed.error = CheckRequestsFit(parsed.data.images, unit.unitAddress, maxFrame);
  }
  if (!parsed.ok()) {
    Fail(unit, ConfigErrorText(parsed.error));
    return std::nullopt;
  }
  return std::move(parsed.data);
}

void SendConfigSet(UnitContext& unit, const ConfigFileData& data, const std::function<void()>& fullRefresh) {
  link::OperationLock operation;
  TransferScope transfer(unit);
  SwitchHold hold(unit);
  const int n = static_cast<int>(data.images.size());
  Progress progress(*unit.prompter, kLoadProgress, n + 1);
  if (unit.StopRequested()) return;
  hold.Begin();
  // The unit's configurations no longer match the set saved last.
  unit.lastSetSave.reset();
  for (int i = 1; i <= n; ++i) {
    if (unit.StopRequested()) return EndEarly(unit, hold, 1, i > 1);
    // The configuration running now, then configuration i.
    const int owidBefore = ReadUnitNumber(unit, "owid");
    const int eencBefore = ReadUnitNumber(unit, "eenc");
    ReadUnitNumber(unit, "aenc");
    link::LinkReply reply;
    WriteUnitParameter(unit, "glod", ConfigNumberText(i), reply);
    hold.WaitAfterSwitch();
    const int owid = ReadUnitNumber(unit, "owid");
    const int eenc = ReadUnitNumber(unit, "eenc");
    ReadUnitNumber(unit, "aenc");
    if (!hold.Applies() && (OwidCrossesBoundary(owid, owidBefore) || eenc != eencBefore))
      unit.clock->SleepMs(kModeChangeWaitMs);
    SendRecordStream(unit, data.images[static_cast<std::size_t>(i - 1)].records, owid, eenc, hold.Applies());
    progress.Set(i);
  }
  link::LinkReply reply;
  WriteUnitParameter(unit, "glod", "1", reply);
  hold.WaitAfterSwitch();
  progress.Set(n + 1);
  hold.End();
  progress.End();
  if (unit.StopRequested()) return;  // the program is closing: nothing to show
  if (fullRefresh) fullRefresh();
  unit.prompter->Message(kAlert, kSetLoaded, MessageIcon::Information);
}

bool LoadConfigSetFile(UnitContext& unit, const std::string& path, const std::function<void()>& fullRefresh) {
  if (!unit.link) {
    Fail(unit, kNoConnection);
    return false;
  }
  link::OperationLock operation;
  const std::optional<ConfigFileData> data = ReadConfigSetToLoad(unit, path);
  if (!data) return false;
  // The whole file has passed its checks: now the unit.
  SendConfigSet(unit, *data, fullRefresh);
  return true;
}

std::vector<std::optional<UnitValues>> ReadConfigurations(UnitContext& unit, std::span<const ConfigImage> images) {
  link::OperationLock operation;
  TransferScope transfer(unit);
  SwitchHold hold(unit);
  const int n = static_cast<int>(images.size());
  std::vector<std::optional<UnitValues>> out;
  // Reading switches nothing for good: the unit goes back to the
  // configuration it ran (1 when it does not say).
  const int running = std::max(1, ReadUnitNumber(unit, "glod"));
  Progress progress(*unit.prompter, kReviewProgress, n + 1);
  // Stopped: what was not read is none.
  auto stopped = [&](bool switched) {
    EndEarly(unit, hold, running, switched);
    out.resize(static_cast<std::size_t>(n));
    return out;
  };
  if (unit.StopRequested()) return stopped(false);
  hold.Begin();
  for (int i = 1; i <= n; ++i) {
    if (unit.StopRequested()) return stopped(i > 1);
    link::LinkReply reply;
    const std::uint32_t rc = WriteUnitParameter(unit, "glod", ConfigNumberText(i), reply);
    hold.WaitAfterSwitch();
    // A refused switch leaves the unit on the previous configuration: its
    // values are not this one's.
    if (rc != link::kLinkOk || reply.status == 'E') {
      out.emplace_back();
    } else {
      out.push_back(ReadUnitValues(unit, images[static_cast<std::size_t>(i - 1)].records));
    }
    progress.Set(i);
  }
  link::LinkReply reply;
  WriteUnitParameter(unit, "glod", ConfigNumberText(running), reply);
  hold.WaitAfterSwitch();
  progress.Set(n + 1);
  hold.End();
  progress.End();
  return out;
}

bool LoadConfigSet(UnitContext& unit, const std::function<void()>& fullRefresh) {
  link::OperationLock operation;
  const std::optional<std::string> path = unit.prompter->ChooseFile(ConfigLoadRequest());
  if (!path) return false;
  return LoadConfigSetFile(unit, *path, fullRefresh);
}

}  // namespace vecta::params
