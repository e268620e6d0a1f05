#include "app/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>

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
                            std::uint32_t{data_[pos_ + 2]} << 16 |
                            std::uint32_t{data_[pos_ + 3]} << 24;
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
                            std::uint32_t{data_[pos_ + 2]} << 16 |
                            std::uint32_t{data_[pos_ + 3]} << 24;
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

void SetError(std::string* error, const std::string& what, int err) {
  if (error) *error = what + ": " + std::strerror(err);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The file a save replaces: the target of a symbolic link rather than the
// link, so a settings file linked from elsewhere stays linked.
std::string ReplaceTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      std::string resolved(real);
      std::free(real);
      return resolved;
    }
  }
  return path;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

AppSettings ParseSettings(const std::uint8_t* data, std::size_t size) {
  AppSettings s;
  if (data == nullptr) size = 0;
  Reader r(data, size);
  // Each item in file order; the first one missing ends the parse.
  (void)(r.Int(s.comPortIndex) && r.Flags({&s.pollingEnabled}) && r.String(s.iconPath) &&
         r.Int(s.baudRate) && r.Int(s.readIntervalTimeoutMs) &&
         r.Int(s.readTotalTimeoutMultiplier) && r.Int(s.readTotalTimeoutConstantMs) &&
         r.Int(s.writeTotalTimeoutMultiplier) && r.Int(s.writeTotalTimeoutConstantMs) &&
         r.Int(s.pollingIntervalMs) &&
         r.Flags({&s.pollVideoLock, &s.pollChainingStatus, &s.pollRfOutput}) &&
         r.String(s.appTitle) && r.String(s.logoPath) && r.Int(s.logoWidth) &&
         r.Int(s.logoHeight));
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
  out.reserve(kSettingsFixedBytes + (s.iconPath ? s.iconPath->size() : 0) +
              (s.appTitle ? s.appTitle->size() : 0) + (s.logoPath ? s.logoPath->size() : 0));
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

  const std::string target = ReplaceTarget(path);
  // A file already there keeps its permission bits; a new one gets 0666
  // less the umask, as any other created file would.
  struct stat old;
  const bool hadOld = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);

  std::string temp;
  int fd = -1;
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = target + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int err = errno;
    SetError(error, "cannot create " + temp, err);
    return false;
  }

  const auto fail = [&](const std::string& what) {
    const int err = errno;
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    SetError(error, what, err);
    return false;
  };
  if (hadOld && ::fchmod(fd, old.st_mode & 07777) != 0) return fail("cannot set mode of " + temp);
  if (!WriteAll(fd, image.data(), image.size())) return fail("cannot write " + temp);
  if (::fsync(fd) != 0) return fail("cannot flush " + temp);
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) return fail("cannot close " + temp);
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail("cannot replace " + target);

  // Makes the rename itself durable; the new file is complete either way.
  const int dir = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

void ApplyStartupDefaults(AppSettings& s, LaunchState& launch) {
  if (launch.ipAddress.empty()) launch.ipAddress = "0.0.0.0";
  if (!s.appTitle) s.appTitle = kDefaultAppTitle;
  launch.boardType.clear();
}

int LogoPixels(std::int32_t stored) { return stored == -1 ? kDefaultLogoPixels : stored; }

}  // namespace vecta::app
