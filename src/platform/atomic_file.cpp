#include "platform/atomic_file.h"
#include "platform/error_text.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace vecta::platform {
namespace {

// As many links as the kernel itself follows in one path.
constexpr int kMaxLinkHops = 40;
// The longest name a folder entry may have on the usual file systems.
constexpr std::size_t kMaxNameBytes = 255;

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The text of the link at `path`; false with errno set when it cannot be
// read.
bool ReadLink(const std::string& path, std::string& text) {
  std::vector<char> buf(256);
  for (;;) {
    const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < buf.size()) {
      text.assign(buf.data(), static_cast<std::size_t>(n));
      return true;
    }
    if (buf.size() >= (1u << 16)) {
      errno = ENAMETOOLONG;
      return false;
    }
    buf.resize(buf.size() * 2);
  }
}

std::atomic<bool> gUnnamedAllowed{true};
std::atomic<unsigned> gCounter{0};

// The next hidden name for a temporary file of `base` in `folder`, within
// the length a folder entry may have: ".BASE.PID-N.tmp".
std::string TempName(const std::string& folder, std::string base) {
  const std::string suffix = "." + std::to_string(::getpid()) + "-" + std::to_string(gCounter++) + ".tmp";
  if (1 + base.size() + suffix.size() > kMaxNameBytes) base.resize(kMaxNameBytes - 1 - suffix.size());
  return folder + "/." + base + suffix;
}

// The process id in a temporary file's name made by TempName for `base`
// (possibly cut short to fit), or 0 when the name is no such file's.
pid_t TempOwner(const std::string& entry, const std::string& base) {
  constexpr std::string_view kEnd = ".tmp";
  if (entry.size() < 1 + kEnd.size() || entry[0] != '.' || !entry.ends_with(kEnd)) return 0;
  const std::string stem = entry.substr(1, entry.size() - 1 - kEnd.size());  // BASE.PID-N
  const auto dot = stem.rfind('.');
  if (dot == std::string::npos) return 0;
  const std::string own = stem.substr(0, dot);
  const bool cut = entry.size() == kMaxNameBytes && base.starts_with(own);
  if (own != base && !cut) return 0;
  const std::string tag = stem.substr(dot + 1);  // PID-N
  const auto dash = tag.find('-');
  if (dash == 0 || dash == std::string::npos || dash + 1 == tag.size() ||
      tag.find_first_not_of("0123456789-") != std::string::npos || tag.find('-', dash + 1) != std::string::npos)
    return 0;
  const long pid = std::strtol(tag.c_str(), nullptr, 10);
  return pid > 0 && pid <= INT32_MAX ? static_cast<pid_t>(pid) : 0;
}

// Removes the temporary files of `base` in `folder` that a process left
// when it ended in the middle of a save: regular files of this user whose
// process is gone. Those of a process still running stay.
void RemoveStaleTemporaries(const std::string& folder, const std::string& base) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const int dfd = ::dirfd(dir);
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the directory stream is this call's own.
  while (const dirent* e = ::readdir(dir)) {
    const pid_t pid = TempOwner(e->d_name, base);
    if (pid == 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) ::unlinkat(dfd, e->d_name, 0);
  }
  ::closedir(dir);
}

}  // namespace

void UseUnnamedTemporaryFiles(bool on) { gUnnamedAllowed = on; }

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Fail(const std::string& what, int err) {
  errno_ = err;
  error_ = what + ": " + ErrorText(err);
  return false;
}

bool AtomicFile::Open(const std::string& path) {
  Discard();
  target_.clear();
  error_.clear();
  errno_ = 0;
  if (path.empty()) return Fail("no file name", ENOENT);

  // Follow the links to the file they name.
  std::string target = path;
  struct stat st {};
  bool exists = false;
  for (int hops = 0;; ++hops) {
    if (::lstat(target.c_str(), &st) != 0) {
      if (errno != ENOENT) return Fail("cannot look at " + target, errno);
      break;  // a new file (or the end of a link that names nothing yet)
    }
    if (!S_ISLNK(st.st_mode)) {
      exists = true;
      break;
    }
    if (hops == kMaxLinkHops) return Fail("cannot follow " + path, ELOOP);
    std::string text;
    if (!ReadLink(target, text)) return Fail("cannot read the link " + target, errno);
    if (text.empty()) return Fail("cannot follow " + target, ENOENT);
    target = text.front() == '/' ? text : FolderOf(target).append("/").append(text);
  }
  target_ = target;

  if (exists) {
    if (S_ISDIR(st.st_mode)) return Fail("cannot replace " + target, EISDIR);
    if (!S_ISREG(st.st_mode)) return Fail(target + " is not a regular file", EINVAL);
    // Ask the system whether this process may write the file (permission
    // bits, ACLs, a read-only mount, the immutable flag). Opening a regular
    // file for writing without truncating it changes nothing.
    const int probe = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (probe < 0) return Fail("cannot write to " + target, errno);
    const int statted = ::fstat(probe, &st);
    const int err = errno;
    ::close(probe);
    if (statted != 0) return Fail("cannot look at " + target, err);
    if (!S_ISREG(st.st_mode)) return Fail(target + " is not a regular file", EINVAL);
    // A process that may write anything still keeps off a file that nobody
    // may write.
    if ((st.st_mode & 0222) == 0) return Fail(target + " is read-only", EACCES);
  }

  const std::string folder = FolderOf(target);
  RemoveStaleTemporaries(folder, NameOf(target));
  // The temporary file: without a name where the file system allows,
  // otherwise hidden, beside the target. 0666 less the umask, as any new
  // file gets.
  unnamed_ = false;
  // It is linked into the folder through /proc when it is complete.
  if (gUnnamedAllowed && ::access("/proc/self/fd", X_OK) == 0) {
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    unnamed_ = fd_ >= 0;
  }
  if (!unnamed_ && !OpenNamed(folder)) return false;
  if (exists) {
    // The owner first: changing it may clear the set-id bits.
    // Only a privileged process may give the file away; otherwise it stays ours.
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
      [[maybe_unused]] const int given = ::fchown(fd_, st.st_uid, st.st_gid);
    }
    if (::fchmod(fd_, st.st_mode & 07777) != 0) {
      const int err = errno;
      Discard();
      return Fail("cannot set the mode of " + TempLabel(), err);
    }
  }
  return true;
}

std::string AtomicFile::TempLabel() const { return temp_.empty() ? "the temporary file of " + target_ : temp_; }

bool AtomicFile::OpenNamed(const std::string& folder) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = TempName(folder, NameOf(target_));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd_ = fd;
      temp_ = temp;
      return true;
    }
    if (errno != EEXIST) return Fail("cannot create a file in " + folder, errno);
  }
  return Fail("cannot create a file in " + folder, EEXIST);
}

// Gives the unnamed temporary file its hidden name, ready for the rename.
bool AtomicFile::LinkIntoFolder() {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = TempName(FolderOf(target_), NameOf(target_));
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      temp_ = temp;
      unnamed_ = false;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool AtomicFile::Commit(std::span<const std::uint8_t> bytes) {
  if (fd_ < 0) return Fail("no file open", EBADF);
  const auto fail = [&](const std::string& what) {
    const int err = errno;
    Discard();
    return Fail(what, err);
  };
  const std::uint8_t* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot write " + TempLabel());
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::fsync(fd_) != 0) return fail("cannot flush " + TempLabel());
  if (unnamed_ && !LinkIntoFolder()) return fail("cannot create a file in " + FolderOf(target_));
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) return fail("cannot close " + temp_);
  if (::rename(temp_.c_str(), target_.c_str()) != 0) return fail("cannot replace " + target_);
  temp_.clear();

  // Makes the rename itself durable; the new file is complete either way.
  const int dir = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

void AtomicFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, std::string* error) {
  AtomicFile file;
  const bool ok = file.Open(path) && file.Commit(bytes);
  if (!ok && error) *error = file.Error();
  return ok;
}

}  // namespace vecta::platform
