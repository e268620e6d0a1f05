#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
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

}  // namespace

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Fail(const std::string& what, int err) {
  errno_ = err;
  error_ = what + ": " + std::strerror(err);
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
    target = text.front() == '/' ? text : FolderOf(target) + "/" + text;
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

  // The temporary file: hidden, beside the target, within the length a
  // folder entry may have.
  static std::atomic<unsigned> counter{0};
  const std::string folder = FolderOf(target);
  std::string base = NameOf(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
    if (1 + base.size() + suffix.size() > kMaxNameBytes) base.resize(kMaxNameBytes - 1 - suffix.size());
    const std::string temp = folder + "/." + base + suffix;
    // 0666 less the umask, as any new file gets.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return Fail("cannot create a file in " + folder, errno);
    }
    fd_ = fd;
    temp_ = temp;
    if (exists) {
      // The owner first: changing it may clear the set-id bits.
      if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) (void)::fchown(fd_, st.st_uid, st.st_gid);
      if (::fchmod(fd_, st.st_mode & 07777) != 0) {
        const int err = errno;
        Discard();
        return Fail("cannot set the mode of " + temp, err);
      }
    }
    return true;
  }
  return Fail("cannot create a file in " + folder, EEXIST);
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
      return fail("cannot write " + temp_);
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::fsync(fd_) != 0) return fail("cannot flush " + temp_);
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
