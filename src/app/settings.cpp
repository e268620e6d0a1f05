#include "app/settings.h"

#include <algorithm>
#include <fstream>
#include <initializer_list>

#include "platform/atomic_file.h"

namespace vecta::app {
namespace {

// The longest file the record can occupy; bytes after it can never belong to
// an item, so reading stops there whatever the file's size.
constexpr std::size_t kMaxSettingsFile = kSettingsFixedBytes + 3 * std::size_t{kMaxSettingsString};

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  // Each returns false, consuming nothing, when the item is not wholly
  // present; the caller then stops.
  bool Int(std::int32_t& v) {
    if (Left() < 4) return false;
    const std::uint32_t u = std::uint32_t{data_[pos_]} | std::uint32_t{data_[pos_ + 1]} << 8 |
                            std::uint32_t{data_[pos_ + 2]} << 16 | std::uint32_t{data_[pos_ + 3]} << 24;
    v = static_cast<std::int32_t>(u);
    pos_ += 4;
    return true;
  }
  bool Flags(std::initializer_list<bool*> flags) {
    if (Left() < flags.size()) return false;
    for (bool* f : flags) *f = data_[pos_++] != 0;
    return true;
  }
  bool String(std::optional<std::string>& v) {
    if (Left() < 4) return false;
    const std::uint32_t n = std::uint32_t{data_[pos_]} | std::uint32_t{data_[pos_ + 1]} << 8 |
                            std::uint32_t{data_[pos_ + 2]} << 16 | std::uint32_t{data_[pos_ + 3]} << 24;
    if (n > kMaxSettingsString || n > Left() - 4) return false;
    pos_ += 4;
    v.emplace(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return true;
  }

 private:
  std::size_t Left() const { return size_ - pos_; }
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

void PutInt(std::vector<std::uint8_t>& out, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(u >> shift));
}

void PutString(std::vector<std::uint8_t>& out, const std::optional<std::string>& v) {
  // Not set and empty look alike in the file: the count 0 alone.
  const std::size_t n = v ? v->size() : 0;
  PutInt(out, static_cast<std::int32_t>(static_cast<std::uint32_t>(n)));
  if (n != 0) out.insert(out.end(), v->begin(), v->end());
}

}  // namespace

AppSettings ParseSettings(const std::uint8_t* data, std::size_t size) {
  AppSettings s;
  if (data == nullptr) size = 0;
  Reader r(data, size);
  // Each item in file order; the first one missing ends the parse.
  (void)(r.Int(s.comPortIndex) && r.Flags({&s.pollingEnabled}) && r.String(s.iconPath) && r.Int(s.baudRate) &&
         r.Int(s.readIntervalTimeoutMs) && r.Int(s.readTotalTimeoutMultiplier) &&
         r.Int(s.readTotalTimeoutConstantMs) && r.Int(s.writeTotalTimeoutMultiplier) &&
         r.Int(s.writeTotalTimeoutConstantMs) && r.Int(s.pollingIntervalMs) &&
         r.Flags({&s.pollVideoLock, &s.pollChainingStatus, &s.pollRfOutput}) && r.String(s.appTitle) &&
         r.String(s.logoPath) && r.Int(s.logoWidth) && r.Int(s.logoHeight));
  return s;
}

AppSettings LoadSettings(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return AppSettings{};
  // Read in steps rather than by the file's reported size, so a file that
  // is not a regular one (or changes while read) cannot make us allocate
  // more than the record can ever need.
  std::vector<std::uint8_t> data;
  std::size_t have = 0;
  while (have < kMaxSettingsFile && in) {
    const std::size_t step = std::min<std::size_t>(kMaxSettingsFile - have, 4096);
    data.resize(have + step);
    in.read(reinterpret_cast<char*>(data.data() + have), static_cast<std::streamsize>(step));
    have += static_cast<std::size_t>(in.gcount());
  }
  data.resize(have);
  return ParseSettings(data.data(), data.size());
}

bool SerializeSettings(const AppSettings& s, std::vector<std::uint8_t>& out) {
  out.clear();
  for (const auto* str : {&s.iconPath, &s.appTitle, &s.logoPath})
    if (*str && (*str)->size() > kMaxSettingsString) return false;
  out.reserve(kSettingsFixedBytes + (s.iconPath ? s.iconPath->size() : 0) + (s.appTitle ? s.appTitle->size() : 0) +
              (s.logoPath ? s.logoPath->size() : 0));
  PutInt(out, s.comPortIndex);
  out.push_back(s.pollingEnabled ? 1 : 0);
  PutString(out, s.iconPath);
  PutInt(out, s.baudRate);
  PutInt(out, s.readIntervalTimeoutMs);
  PutInt(out, s.readTotalTimeoutMultiplier);
  PutInt(out, s.readTotalTimeoutConstantMs);
  PutInt(out, s.writeTotalTimeoutMultiplier);
  PutInt(out, s.writeTotalTimeoutConstantMs);
  PutInt(out, s.pollingIntervalMs);
  out.push_back(s.pollVideoLock ? 1 : 0);
  out.push_back(s.pollChainingStatus ? 1 : 0);
  out.push_back(s.pollRfOutput ? 1 : 0);
  PutString(out, s.appTitle);
  PutString(out, s.logoPath);
  PutInt(out, s.logoWidth);
  PutInt(out, s.logoHeight);
  return true;
}

bool SaveSettings(const std::string& path, const AppSettings& s, std::string* error) {
  if (path.empty()) {
    if (error) *error = "no settings file path";
    return false;
  }
  std::vector<std::uint8_t> image;
  if (!SerializeSettings(s, image)) {
    if (error) *error = "a settings text is longer than the file allows";
    return false;
  }
  return platform::WriteFileAtomically(path, image, error);
}

void ApplyStartupDefaults(AppSettings& s, LaunchState& launch) {
  if (launch.ipAddress.empty()) launch.ipAddress = "0.0.0.0";
  if (!s.appTitle) s.appTitle = kDefaultAppTitle;
  launch.boardType.clear();
}

int LogoPixels(std::int32_t stored) { return stored == -1 ? kDefaultLogoPixels : stored; }

}  // namespace vecta::app
