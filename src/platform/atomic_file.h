// Saving a file whole or not at all.
//
// The bytes go to a temporary file in the folder of the file they replace,
// are flushed to the disk and renamed over it, so a failed save leaves the
// file that was there as it was and a reader never sees half a file.
//
// The temporary file has no name until it is complete: it is linked into
// the folder just before the rename, so a save that is killed half way
// leaves nothing behind. Where the file system has no unnamed files, it is
// a hidden file (".NAME.PID-N.tmp") from the start, and a save removes the
// ones of the same file left by processes that are gone.
//
// Where the save goes: a symbolic link (or a chain of them) is followed to
// the file it names, which is replaced in its own folder; the link stays. A
// link that names nothing yet gets its file created where it points. The
// file a save replaces keeps its permission bits (and, where the process may
// set them, its owner and group); a new file gets 0666 less the umask.
//
// A save is refused before anything is written when the file is there but
// is not a regular file (a folder, a FIFO, a device), when it cannot be
// written (no write permission, or no write bit at all for a process that
// would be let through anyway), or when its folder does not let a new file
// be made there. Rewriting a file in place would give up the guarantee
// above, so a writable file in a folder that is not writable is refused too.
//
// Qt-free and free of the link, for the settings file and both
// configuration formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vecta::platform {

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Finds the file a save to `path` replaces, checks that it may be
  // replaced and creates the temporary file beside it. False (nothing
  // created) when the save is refused or the temporary file cannot be made.
  bool Open(const std::string& path);
  // Writes `bytes` to the temporary file, flushes it and renames it over
  // the target. False on any failure: the temporary file is removed and the
  // target is as it was. Only after a successful Open.
  bool Commit(std::span<const std::uint8_t> bytes);
  // Removes the temporary file; the target stays as it was.
  void Discard();

  // The file that is replaced (the end of a link chain), once Open has
  // found it.
  const std::string& Target() const { return target_; }
  // What failed last, with the system's reason ("" when nothing did), and
  // its errno value.
  const std::string& Error() const { return error_; }
  int ErrorNumber() const { return errno_; }

 private:
  bool Fail(const std::string& what, int err);

  bool OpenNamed(const std::string& folder);
  bool LinkIntoFolder();
  std::string TempLabel() const;

  std::string target_, temp_, error_;
  int fd_ = -1;
  int errno_ = 0;
  bool unnamed_ = false;  // fd_ has no name in the folder yet
};

// Unnamed temporary files where the file system has them (on by default).
// Off, every save takes the way of file systems without them.
void UseUnnamedTemporaryFiles(bool on);

// Open and Commit in one: true when the file was replaced. `error` (if
// given) says what failed.
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string* error = nullptr);

}  // namespace vecta::platform
