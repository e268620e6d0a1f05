// The file that keeps the last IP address reached: what it holds, what a
// damaged one gives, and that it is replaced whole.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/last_address.h"
#include "support/fake_link.h"

using namespace vecta::app;
using vecta::test::ReadFile;
using vecta::test::TempDir;
using vecta::test::WriteFile;
namespace fs = std::filesystem;

namespace {

TEST(LastAddressFile, RoundTripIsOneLine) {
  TempDir dir;
  const std::string path = dir.File("vecta_tx_ctrl.last-ip");
  EXPECT_EQ(LoadLastAddress(path), std::nullopt);  // none yet

  ASSERT_TRUE(SaveLastAddress(path, "192.168.0.10"));
  EXPECT_EQ(ReadFile(path), "192.168.0.10\n");
  EXPECT_EQ(LoadLastAddress(path), "192.168.0.10");

  // A later one replaces it; the extremes of each part are kept as they are.
  ASSERT_TRUE(SaveLastAddress(path, "0.255.7.100"));
  EXPECT_EQ(ReadFile(path), "0.255.7.100\n");
  EXPECT_EQ(LoadLastAddress(path), "0.255.7.100");
  // Nothing else is left in the folder (no temporary file).
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(LastAddressFile, BadContentsGiveNoAddress) {
  TempDir dir;
  const std::string path = dir.File("last");
  for (const std::string& bad :
       std::vector<std::string>{"", "\n", "192.168.0", "192.168.0.", "192.168.0.256", "192.168..1", "1.2.3.4.5",
                                "a.b.c.d", "01.2.3.4", "1.2.3.4x", "1.2.3.4 5.6.7.8", "1234.1.1.1", "-1.2.3.4",
                                " 1 .2.3.4", std::string("1.2.3.4\0", 8), std::string(200, '1')}) {
    WriteFile(path, bad);
    EXPECT_EQ(LoadLastAddress(path), std::nullopt) << "'" << bad << "'";
  }
  // Blanks and line ends around the address are tolerated, as an editor
  // may leave them.
  WriteFile(path, "  10.0.0.1\r\n");
  EXPECT_EQ(LoadLastAddress(path), "10.0.0.1");
  // A folder in its place, or no path at all: no address.
  EXPECT_EQ(LoadLastAddress(dir.path()), std::nullopt);
  EXPECT_EQ(LoadLastAddress(""), std::nullopt);
}

TEST(LastAddressFile, OnlyAnAddressIsSavedAndAFailedSaveLeavesTheOldFile) {
  TempDir dir;
  const std::string path = dir.File("last");
  ASSERT_TRUE(SaveLastAddress(path, "10.1.2.3"));

  std::string error;
  for (const std::string bad : {"", "10.1.2", "10.1.2.300", "10.1.2.3\n", "010.1.2.3"}) {
    EXPECT_FALSE(SaveLastAddress(path, bad, &error)) << bad;
    EXPECT_EQ(ReadFile(path), "10.1.2.3\n") << bad;
  }
  EXPECT_FALSE(SaveLastAddress("", "10.1.2.3"));

  // A file that may not be written is not rewritten in place, not even by a
  // process the system would let through: the save is refused whole.
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  error.clear();
  EXPECT_FALSE(SaveLastAddress(path, "10.9.9.9", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(LoadLastAddress(path), "10.1.2.3");

  // A folder where the file should be stays a folder.
  const std::string folder = dir.File("taken");
  fs::create_directory(folder);
  EXPECT_FALSE(SaveLastAddress(folder, "10.9.9.9"));
  EXPECT_TRUE(fs::is_directory(folder));

  // A missing folder: nothing is made.
  EXPECT_FALSE(SaveLastAddress(dir.File("no-such-dir/last"), "10.9.9.9"));
  EXPECT_FALSE(fs::exists(dir.File("no-such-dir")));
}

}  // namespace
