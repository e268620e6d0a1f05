// Saving a file whole: where a save goes (links, loops, long names), what it
// refuses, what the replaced file keeps, and that no temporary file outlives
// a failure.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "support/fake_link.h"

using vecta::platform::AtomicFile;
using vecta::platform::UseUnnamedTemporaryFiles;
using vecta::platform::WriteFileAtomically;
using vecta::test::ReadFile;
using vecta::test::TempDir;

namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

void Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(AtomicFile, ALinkLoopIsRefusedAndNothingIsMade) {
  TempDir dir;
  ASSERT_EQ(::symlink("b", dir.File("a").c_str()), 0);
  ASSERT_EQ(::symlink("a", dir.File("b").c_str()), 0);
  AtomicFile file;
  EXPECT_FALSE(file.Open(dir.File("a")));
  EXPECT_EQ(file.ErrorNumber(), ELOOP);
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"a", "b"}));
}

TEST(AtomicFile, TargetIsTheEndOfTheLinkChain) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("sub"));
  Write(dir.File("sub/real"), "x");
  ASSERT_EQ(::symlink("sub/mid", dir.File("first").c_str()), 0);
  ASSERT_EQ(::symlink(dir.File("sub/real").c_str(), dir.File("sub/mid").c_str()), 0);
  UseUnnamedTemporaryFiles(false);  // a temporary file with a name, to be seen
  AtomicFile file;
  ASSERT_TRUE(file.Open(dir.File("first"))) << file.Error();
  UseUnnamedTemporaryFiles(true);
  EXPECT_EQ(file.Target(), dir.File("sub/real"));
  // The temporary file lies beside the target, not beside the link.
  EXPECT_EQ(Entries(dir.File("sub")).size(), 3u);
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"first", "sub"}));
  file.Discard();
  EXPECT_EQ(Entries(dir.File("sub")), (std::vector<std::string>{"mid", "real"}));
  EXPECT_EQ(ReadFile(dir.File("sub/real")), "x");
}

// A name at the longest a folder entry may have still gets its temporary
// file beside it.
TEST(AtomicFile, LongestNameStillSaves) {
  TempDir dir;
  const std::string path = dir.File(std::string(255, 'n'));
  Write(path, "old");
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(path, Bytes("new"), &error)) << error;
  EXPECT_EQ(ReadFile(path), "new");
  EXPECT_EQ(Entries(dir.path()).size(), 1u);
}

// A target replaced by a folder between the checks and the rename: the
// rename fails, the folder stays, the temporary file goes.
TEST(AtomicFile, FailedRenameRemovesTheTemporaryFile) {
  TempDir dir;
  AtomicFile file;
  ASSERT_TRUE(file.Open(dir.File("f")));
  std::filesystem::create_directory(dir.File("f"));
  EXPECT_FALSE(file.Commit(Bytes("data")));
  EXPECT_NE(file.Error().find("cannot replace"), std::string::npos) << file.Error();
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("f")));
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"f"});
  // A writer that was never committed leaves nothing behind either.
  {
    AtomicFile other;
    ASSERT_TRUE(other.Open(dir.File("g")));
  }
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"f"});
}

// The file a save replaces keeps its owner and group where the process may
// set them (only root may give a file away).
TEST(AtomicFile, ReplacedFileKeepsItsOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to own a file for another user";
  TempDir dir;
  const std::string path = dir.File("owned");
  Write(path, "old");
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0620), 0);
  ASSERT_TRUE(WriteFileAtomically(path, Bytes("new")));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0620u);
  EXPECT_EQ(ReadFile(path), "new");
}

// A writable file in a folder that does not let a new file be made: the
// save is refused rather than rewriting the file in place, and the file
// keeps its content. Run as an ordinary user (root would be let through).
TEST(AtomicFile, WritableFileInAFolderThatCannotBeWrittenIsRefused) {
  TempDir dir;
  const std::string folder = dir.File("locked");
  std::filesystem::create_directory(folder);
  const std::string path = folder + "/f";
  Write(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    AtomicFile file;
    if (file.Open(path)) ::_exit(1);
    ::_exit(file.ErrorNumber() == EACCES ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::chmod(folder.c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the save was let through, 2: another error, 3: no user to run as";
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"f"});
}

// A save killed before its rename leaves no temporary file: it has no name
// yet, or, where the file system has no unnamed files, the next save of the
// same file removes it. One of a process still running stays.
TEST(AtomicFile, KilledSaveLeavesNoTemporaryFile) {
  for (const bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed);
    UseUnnamedTemporaryFiles(unnamed);
    TempDir dir;
    const std::string path = dir.File("set.cfg");
    const std::string running = ".set.cfg." + std::to_string(::getppid()) + "-0.tmp";
    Write(dir.File(running), "another save under way");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      AtomicFile file;
      if (file.Open(path)) ::kill(::getpid(), SIGKILL);
      ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(Entries(dir.path()).size(), unnamed ? 1u : 2u);
    ASSERT_TRUE(WriteFileAtomically(path, Bytes("saved")));
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{running, "set.cfg"}));
    EXPECT_EQ(ReadFile(path), "saved");
  }
  UseUnnamedTemporaryFiles(true);
}

TEST(AtomicFile, CommitWithoutOpenFails) {
  AtomicFile file;
  EXPECT_FALSE(file.Commit(Bytes("x")));
  EXPECT_FALSE(file.Open(""));
  EXPECT_NE(file.Error(), "");
}

}  // namespace
