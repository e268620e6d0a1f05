// The settings record and its binary file: defaults, the exact bytes, short
// and damaged files, and saves that fail without harming the file on disk.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "support/fake_link.h"

using namespace vecta::app;

namespace vecta::app {
// Readable failure messages for whole-record comparisons.
void PrintTo(const AppSettings& s, std::ostream* os) {
  const auto str = [](const std::optional<std::string>& v) {
    return v ? "\"" + *v + "\"" : std::string("(not set)");
  };
  *os << "{com " << s.comPortIndex << ", polling " << s.pollingEnabled << ", icon " << str(s.iconPath) << ", baud "
      << s.baudRate << ", timeouts " << s.readIntervalTimeoutMs << "/" << s.readTotalTimeoutMultiplier << "/"
      << s.readTotalTimeoutConstantMs << "/" << s.writeTotalTimeoutMultiplier << "/"
      << s.writeTotalTimeoutConstantMs << ", interval " << s.pollingIntervalMs << ", lists " << s.pollVideoLock
      << s.pollChainingStatus << s.pollRfOutput << ", title " << str(s.appTitle) << ", logo " << str(s.logoPath)
      << " " << s.logoWidth << "x" << s.logoHeight << "}";
}
}  // namespace vecta::app
using vecta::test::ReadFile;
using vecta::test::TempDir;
using vecta::test::WriteBytes;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

void AppendLe32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::vector<std::string> FolderEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The file written after a first run in which no unit answered: no port,
// polling cleared by the failed start-up connection, everything else as at
// first start (icon and logo not set, default title).
const Bytes kFirstRunNoUnit = {
    0xff, 0xff, 0xff, 0xff,  // COM port index -1
    0x00,                    // polling enabled: cleared
    0x00, 0x00, 0x00, 0x00,  // icon path: not set
    0x80, 0x25, 0x00, 0x00,  // baud rate 9600
    0xf4, 0x01, 0x00, 0x00,  // read interval 500 ms
    0x01, 0x00, 0x00, 0x00,  // read multiplier 1
    0xc4, 0x09, 0x00, 0x00,  // read constant 2500 ms
    0x01, 0x00, 0x00, 0x00,  // write multiplier 1
    0xe8, 0x03, 0x00, 0x00,  // write constant 1000 ms
    0xd0, 0x07, 0x00, 0x00,  // polling interval 2000 ms
    0x01, 0x01, 0x01,        // video lock, chaining status, RF output
    0x19, 0x00, 0x00, 0x00,  // title: 25 bytes
    'V',  'e',  'c',  't',  'a', ' ', 't', 'r', 'a', 'n', 's',  'm',  'i',  't',  't',
    'e',  'r',  ' ',  'c',  'o', 'n', 't', 'r', 'o', 'l', 0x00, 0x00, 0x00, 0x00,  // logo path: not set
    0xff, 0xff, 0xff, 0xff,                                                        // logo width -1
    0xff, 0xff, 0xff, 0xff,                                                        // logo height -1
};

}  // namespace

// ---- defaults and the exact file

TEST(SettingsDefaults, FirstStartValues) {
  const AppSettings s;
  EXPECT_EQ(s.comPortIndex, -1);
  EXPECT_TRUE(s.pollingEnabled);
  EXPECT_FALSE(s.iconPath.has_value());
  EXPECT_EQ(s.baudRate, 9600);
  EXPECT_EQ(s.readIntervalTimeoutMs, 500);
  EXPECT_EQ(s.readTotalTimeoutMultiplier, 1);
  EXPECT_EQ(s.readTotalTimeoutConstantMs, 2500);
  EXPECT_EQ(s.writeTotalTimeoutMultiplier, 1);
  EXPECT_EQ(s.writeTotalTimeoutConstantMs, 1000);
  EXPECT_EQ(s.pollingIntervalMs, 2000);
  EXPECT_TRUE(s.pollVideoLock);
  EXPECT_TRUE(s.pollChainingStatus);
  EXPECT_TRUE(s.pollRfOutput);
  EXPECT_EQ(s.appTitle, std::optional<std::string>("Vecta transmitter control"));
  EXPECT_FALSE(s.logoPath.has_value());
  EXPECT_EQ(LogoPixels(s.logoWidth), 70);
  EXPECT_EQ(LogoPixels(s.logoHeight), 70);
  EXPECT_EQ(LogoPixels(120), 120);
  EXPECT_EQ(LogoPixels(0), 0);

  const LaunchState launch;
  EXPECT_EQ(launch.connection, ConnectionKind::Rs232);
  EXPECT_EQ(launch.ipAddress, "0.0.0.0");
  EXPECT_EQ(launch.unitAddress, 1);
  EXPECT_EQ(launch.boardType, "");
  EXPECT_FALSE(launch.connected);
}

TEST(SettingsDefaults, MissingOrUnreadableFileGivesDefaults) {
  TempDir dir;
  EXPECT_EQ(LoadSettings(dir.File("absent.ini")), AppSettings{});
  EXPECT_EQ(LoadSettings(dir.path()), AppSettings{});  // a folder, not a file
  EXPECT_EQ(LoadSettings(""), AppSettings{});
  WriteBytes(dir.File("empty.ini"), {});
  EXPECT_EQ(LoadSettings(dir.File("empty.ini")), AppSettings{});
}

TEST(SettingsFile, FirstRunWithoutUnitIsTheExact81Bytes) {
  AppSettings s;
  s.pollingEnabled = false;  // what the failed start-up connection does
  TempDir dir;
  const std::string path = dir.File("vecta_tx_ctrl_v2.7.3.ini");
  std::string error;
  ASSERT_TRUE(SaveSettings(path, s, &error)) << error;
  ASSERT_EQ(kFirstRunNoUnit.size(), 81u);
  EXPECT_EQ(AsBytes(ReadFile(path)), kFirstRunNoUnit);

  // Loading it back: the empty icon and logo strings are now set (to "").
  const AppSettings back = LoadSettings(path);
  AppSettings expected = s;
  expected.iconPath = "";
  expected.logoPath = "";
  EXPECT_EQ(back, expected);
  // ...and the file they give is the same 81 bytes.
  Bytes again;
  ASSERT_TRUE(SerializeSettings(back, again));
  EXPECT_EQ(again, kFirstRunNoUnit);
}

TEST(SettingsFile, DefaultsDifferOnlyInThePollingByte) {
  Bytes image;
  ASSERT_TRUE(SerializeSettings(AppSettings{}, image));
  Bytes expected = kFirstRunNoUnit;
  expected[4] = 0x01;
  EXPECT_EQ(image, expected);
}

TEST(SettingsFile, StringsAndNegativeValuesLayout) {
  AppSettings s;
  s.comPortIndex = 0x01020304;
  s.iconPath = std::string("a\0b", 3);  // embedded zero byte kept
  s.appTitle = "";
  s.logoPath = "xy";
  s.logoWidth = std::numeric_limits<std::int32_t>::min();
  s.logoHeight = -2;
  Bytes image;
  ASSERT_TRUE(SerializeSettings(s, image));
  ASSERT_EQ(image.size(), 56u + 3 + 0 + 2);
  EXPECT_EQ(Bytes(image.begin(), image.begin() + 4), (Bytes{0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(Bytes(image.begin() + 5, image.begin() + 12), (Bytes{3, 0, 0, 0, 'a', 0, 'b'}));
  // title: count 0 alone, then the logo path
  EXPECT_EQ(Bytes(image.begin() + 43, image.begin() + 53), (Bytes{0, 0, 0, 0, 2, 0, 0, 0, 'x', 'y'}));
  EXPECT_EQ(Bytes(image.begin() + 53, image.end()), (Bytes{0x00, 0x00, 0x00, 0x80, 0xfe, 0xff, 0xff, 0xff}));
}

// ---- loading

TEST(SettingsLoad, RoundTripOfEveryItem) {
  AppSettings s;
  s.comPortIndex = 3;
  s.pollingEnabled = false;
  s.iconPath = "/home/op/icons/tx.ico";
  s.baudRate = 115200;
  s.readIntervalTimeoutMs = 20;
  s.readTotalTimeoutMultiplier = 7;
  s.readTotalTimeoutConstantMs = 3000;
  s.writeTotalTimeoutMultiplier = 9;
  s.writeTotalTimeoutConstantMs = 4000;
  s.pollingIntervalMs = 750;
  s.pollVideoLock = false;
  s.pollChainingStatus = true;
  s.pollRfOutput = false;
  s.appTitle = "Kamera 2 \xc3\xbc";  // UTF-8 bytes pass through unchanged
  s.logoPath = "/srv/logo.bmp";
  s.logoWidth = 120;
  s.logoHeight = 48;
  TempDir dir;
  ASSERT_TRUE(SaveSettings(dir.File("s.ini"), s));
  EXPECT_EQ(LoadSettings(dir.File("s.ini")), s);
  EXPECT_EQ(ReadFile(dir.File("s.ini")).size(),
            56u + s.iconPath->size() + s.appTitle->size() + s.logoPath->size());
}

TEST(SettingsLoad, EveryTruncationKeepsTheDefaultsOfMissingItems) {
  AppSettings full;
  full.comPortIndex = 5;
  full.pollingEnabled = false;
  full.iconPath = "icon.ico";
  full.baudRate = 19200;
  full.readIntervalTimeoutMs = 11;
  full.readTotalTimeoutMultiplier = 12;
  full.readTotalTimeoutConstantMs = 13;
  full.writeTotalTimeoutMultiplier = 14;
  full.writeTotalTimeoutConstantMs = 15;
  full.pollingIntervalMs = 16;
  full.pollVideoLock = false;
  full.pollChainingStatus = false;
  full.pollRfOutput = false;
  full.appTitle = "Tx";
  full.logoPath = "logo.bmp";
  full.logoWidth = 17;
  full.logoHeight = 18;

  // Where each item ends in this file, worked out from the layout.
  using Take = std::function<void(AppSettings&)>;
  const std::vector<std::pair<std::size_t, Take>> items = {
      {4, [&](AppSettings& s) { s.comPortIndex = full.comPortIndex; }},
      {5, [&](AppSettings& s) { s.pollingEnabled = full.pollingEnabled; }},
      {17, [&](AppSettings& s) { s.iconPath = full.iconPath; }},
      {21, [&](AppSettings& s) { s.baudRate = full.baudRate; }},
      {25, [&](AppSettings& s) { s.readIntervalTimeoutMs = full.readIntervalTimeoutMs; }},
      {29, [&](AppSettings& s) { s.readTotalTimeoutMultiplier = full.readTotalTimeoutMultiplier; }},
      {33, [&](AppSettings& s) { s.readTotalTimeoutConstantMs = full.readTotalTimeoutConstantMs; }},
      {37, [&](AppSettings& s) { s.writeTotalTimeoutMultiplier = full.writeTotalTimeoutMultiplier; }},
      {41, [&](AppSettings& s) { s.writeTotalTimeoutConstantMs = full.writeTotalTimeoutConstantMs; }},
      {45, [&](AppSettings& s) { s.pollingIntervalMs = full.pollingIntervalMs; }},
      {48,
       [&](AppSettings& s) {
         s.pollVideoLock = full.pollVideoLock;
         s.pollChainingStatus = full.pollChainingStatus;
         s.pollRfOutput = full.pollRfOutput;
       }},
      {54, [&](AppSettings& s) { s.appTitle = full.appTitle; }},
      {66, [&](AppSettings& s) { s.logoPath = full.logoPath; }},
      {70, [&](AppSettings& s) { s.logoWidth = full.logoWidth; }},
      {74, [&](AppSettings& s) { s.logoHeight = full.logoHeight; }},
  };

  Bytes image;
  ASSERT_TRUE(SerializeSettings(full, image));
  ASSERT_EQ(image.size(), 74u);
  TempDir dir;
  for (std::size_t len = 0; len <= image.size(); ++len) {
    AppSettings expected;
    for (const auto& [end, take] : items)
      if (end <= len) take(expected);
    const std::string path = dir.File("cut" + std::to_string(len) + ".ini");
    WriteBytes(path, Bytes(image.begin(), image.begin() + static_cast<long>(len)));
    EXPECT_EQ(LoadSettings(path), expected) << "file cut to " << len << " bytes";
    EXPECT_EQ(ParseSettings(image.data(), len), expected) << "image cut to " << len << " bytes";
  }
  EXPECT_EQ(ParseSettings(image.data(), image.size()), full);
}

TEST(SettingsLoad, FileEndingAfterPollingIntervalKeepsLaterDefaults) {
  Bytes image(kFirstRunNoUnit.begin(), kFirstRunNoUnit.begin() + 37);
  image[33] = 0x10;  // polling interval 0x7d10 = 32016 ms
  image[34] = 0x7d;
  const AppSettings s = ParseSettings(image.data(), image.size());
  EXPECT_EQ(s.pollingIntervalMs, 32016);
  EXPECT_TRUE(s.pollVideoLock && s.pollChainingStatus && s.pollRfOutput);
  EXPECT_EQ(s.appTitle, std::optional<std::string>(kDefaultAppTitle));
  EXPECT_FALSE(s.logoPath.has_value());
  EXPECT_EQ(s.logoWidth, -1);
  EXPECT_EQ(s.logoHeight, -1);
}

TEST(SettingsLoad, CountZeroIsSetAndEmptyNotMissing) {
  // The title item holds the count 0: the title is set and empty, and the
  // start-up step that supplies the default leaves it so.
  Bytes image = kFirstRunNoUnit;
  image.erase(image.begin() + 44, image.begin() + 69);
  image[40] = 0;
  AppSettings s = ParseSettings(image.data(), image.size());
  EXPECT_EQ(s.appTitle, std::optional<std::string>(""));
  EXPECT_EQ(s.iconPath, std::optional<std::string>(""));
  LaunchState launch;
  ApplyStartupDefaults(s, launch);
  EXPECT_EQ(s.appTitle, std::optional<std::string>(""));
  EXPECT_EQ(s.logoWidth, -1);  // the items after the empty title were read too
}

TEST(SettingsLoad, StartupDefaultsFillOnlyWhatIsMissing) {
  AppSettings s;
  s.appTitle.reset();
  LaunchState launch;
  launch.ipAddress.clear();
  launch.boardType = "K240";
  ApplyStartupDefaults(s, launch);
  EXPECT_EQ(s.appTitle, std::optional<std::string>("Vecta transmitter control"));
  EXPECT_EQ(launch.ipAddress, "0.0.0.0");
  EXPECT_EQ(launch.boardType, "");

  AppSettings kept;
  kept.appTitle = "Truck 4";
  LaunchState typed;
  typed.ipAddress = "10.0.0.9";
  ApplyStartupDefaults(kept, typed);
  EXPECT_EQ(kept.appTitle, std::optional<std::string>("Truck 4"));
  EXPECT_EQ(typed.ipAddress, "10.0.0.9");
}

TEST(SettingsLoad, StringCountBeyondTheDataStopsSafely) {
  const Bytes head(kFirstRunNoUnit.begin(), kFirstRunNoUnit.begin() + 5);
  for (const std::uint32_t count : {0xffffffffu, 0x80000000u, kMaxSettingsString + 1, 5u}) {
    Bytes image = head;
    AppendLe32(image, count);
    image.insert(image.end(), {'a', 'b', 'c', 'd'});  // fewer bytes than any count above
    const AppSettings s = ParseSettings(image.data(), image.size());
    AppSettings expected;
    expected.pollingEnabled = false;
    EXPECT_EQ(s, expected) << "count " << count;
  }
  // A count that uses exactly the bytes left is read.
  Bytes exact = head;
  AppendLe32(exact, 4);
  exact.insert(exact.end(), {'a', 'b', 'c', 'd'});
  EXPECT_EQ(ParseSettings(exact.data(), exact.size()).iconPath, std::optional<std::string>("abcd"));
}

TEST(SettingsLoad, TitleCountTooLargeKeepsTitleAndLaterDefaults) {
  Bytes image = kFirstRunNoUnit;
  image[40] = 0xff;  // title count 0x000000ff, far past the file's end
  image[73] = 0x00;  // logo width would no longer be -1 if it were read
  const AppSettings s = ParseSettings(image.data(), image.size());
  EXPECT_FALSE(s.pollingEnabled);  // items before it were read
  EXPECT_EQ(s.appTitle, std::optional<std::string>(kDefaultAppTitle));
  EXPECT_FALSE(s.logoPath.has_value());
  EXPECT_EQ(s.logoWidth, -1);
}

TEST(SettingsLoad, StringAboveTheLimitIsRefusedEvenWhenPresent) {
  Bytes image(kFirstRunNoUnit.begin(), kFirstRunNoUnit.begin() + 5);
  AppendLe32(image, kMaxSettingsString + 1);
  image.resize(image.size() + kMaxSettingsString + 1 + 51, 'x');
  TempDir dir;
  WriteBytes(dir.File("big.ini"), image);
  const AppSettings s = LoadSettings(dir.File("big.ini"));
  EXPECT_FALSE(s.iconPath.has_value());
  EXPECT_EQ(s.baudRate, 9600);

  // At the limit it is still an ordinary string.
  Bytes limit(kFirstRunNoUnit.begin(), kFirstRunNoUnit.begin() + 5);
  AppendLe32(limit, kMaxSettingsString);
  limit.resize(limit.size() + kMaxSettingsString, 'y');
  AppendLe32(limit, 4800);
  WriteBytes(dir.File("limit.ini"), limit);
  const AppSettings l = LoadSettings(dir.File("limit.ini"));
  ASSERT_TRUE(l.iconPath.has_value());
  EXPECT_EQ(l.iconPath->size(), kMaxSettingsString);
  EXPECT_EQ(l.baudRate, 4800);
}

TEST(SettingsLoad, FlagBytesAndTrailingBytes) {
  Bytes image = kFirstRunNoUnit;
  image[4] = 0x02;   // polling enabled: any non-zero byte is on
  image[37] = 0x00;  // video lock off
  image[38] = 0xff;
  image[39] = 0x00;
  image.insert(image.end(), {0xde, 0xad, 0xbe, 0xef});  // nothing follows item 15
  const AppSettings s = ParseSettings(image.data(), image.size());
  EXPECT_TRUE(s.pollingEnabled);
  EXPECT_FALSE(s.pollVideoLock);
  EXPECT_TRUE(s.pollChainingStatus);
  EXPECT_FALSE(s.pollRfOutput);
  EXPECT_EQ(s.logoHeight, -1);
  Bytes out;
  ASSERT_TRUE(SerializeSettings(s, out));
  EXPECT_EQ(out[4], 0x01);  // written back as 0 or 1
  EXPECT_EQ(out.size(), 81u);
  EXPECT_EQ(ParseSettings(nullptr, 10), AppSettings{});
}

// ---- saving and its failures

TEST(SettingsSave, ReplacesTheFileAndLeavesNoTemporary) {
  TempDir dir;
  const std::string path = dir.File("vecta_tx_ctrl_v2.7.3.ini");
  WriteBytes(path, Bytes(500, 0xaa));  // an older, longer file
  ::chmod(path.c_str(), 0640);
  AppSettings s;
  s.pollingEnabled = false;
  ASSERT_TRUE(SaveSettings(path, s));
  EXPECT_EQ(AsBytes(ReadFile(path)), kFirstRunNoUnit);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"vecta_tx_ctrl_v2.7.3.ini"});
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(SettingsSave, SymbolicLinkStaysALink) {
  TempDir dir;
  const std::string real = dir.File("real.ini");
  const std::string link = dir.File("link.ini");
  WriteBytes(real, {1, 2, 3});
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  ASSERT_TRUE(SaveSettings(link, AppSettings{}));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(real).size(), 81u);
}

// A save follows links to the file they name, however many and however
// relative, and leaves every link as it was.
TEST(SettingsSave, WritesThroughLinksToTheirTarget) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("a"));
  std::filesystem::create_directory(dir.File("b"));
  WriteBytes(dir.File("b/real.ini"), {1, 2, 3});
  ASSERT_EQ(::chmod(dir.File("b/real.ini").c_str(), 0604), 0);
  ASSERT_EQ(::symlink("real.ini", dir.File("b/mid.ini").c_str()), 0);
  ASSERT_EQ(::symlink("../b/mid.ini", dir.File("a/s.ini").c_str()), 0);
  AppSettings s;
  s.pollingEnabled = false;
  ASSERT_TRUE(SaveSettings(dir.File("a/s.ini"), s));
  EXPECT_EQ(AsBytes(ReadFile(dir.File("b/real.ini"))), kFirstRunNoUnit);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("a/s.ini")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("b/mid.ini")));
  EXPECT_EQ(std::filesystem::read_symlink(dir.File("a/s.ini")), "../b/mid.ini");
  EXPECT_EQ(FolderEntries(dir.File("a")), std::vector<std::string>{"s.ini"});
  EXPECT_EQ(FolderEntries(dir.File("b")), (std::vector<std::string>{"mid.ini", "real.ini"}));
  struct stat st;
  ASSERT_EQ(::stat(dir.File("b/real.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);

  // A link that names no file yet: the file is made where it points.
  ASSERT_EQ(::symlink("b/later.ini", dir.File("dangling.ini").c_str()), 0);
  ASSERT_TRUE(SaveSettings(dir.File("dangling.ini"), s));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("dangling.ini")));
  EXPECT_EQ(AsBytes(ReadFile(dir.File("b/later.ini"))), kFirstRunNoUnit);
}

// What must not be replaced is refused before anything is written: a file
// nobody may write, a FIFO, a folder. Each stays as it was and no temporary
// file is left beside it.
TEST(SettingsSave, RefusesReadOnlyFilesAndWhatIsNoRegularFile) {
  TempDir dir;
  const std::string readOnly = dir.File("ro.ini");
  WriteBytes(readOnly, {7, 7, 7});
  ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
  std::string error;
  EXPECT_FALSE(SaveSettings(readOnly, AppSettings{}, &error));
  EXPECT_NE(error, "");
  EXPECT_EQ(AsBytes(ReadFile(readOnly)), (Bytes{7, 7, 7}));
  struct stat st;
  ASSERT_EQ(::stat(readOnly.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);

  const std::string fifo = dir.File("fifo.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  error.clear();
  EXPECT_FALSE(SaveSettings(fifo, AppSettings{}, &error));
  EXPECT_NE(error, "");
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));

  // Through a link, too.
  ASSERT_EQ(::symlink("fifo.ini", dir.File("to-fifo.ini").c_str()), 0);
  EXPECT_FALSE(SaveSettings(dir.File("to-fifo.ini"), AppSettings{}));
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("to-fifo.ini")));

  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"fifo.ini", "ro.ini", "to-fifo.ini"}));
}

// A file that was never there gets the permission bits any new file gets.
TEST(SettingsSave, NewFileTakesTheUmask) {
  TempDir dir;
  const mode_t old = ::umask(027);
  const bool saved = SaveSettings(dir.File("new.ini"), AppSettings{});
  ::umask(old);
  ASSERT_TRUE(saved);
  struct stat st;
  ASSERT_EQ(::stat(dir.File("new.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(SettingsSave, FailuresAreReportedAndHarmNothing) {
  TempDir dir;
  std::string error;
  // No such folder.
  EXPECT_FALSE(SaveSettings(dir.File("missing/s.ini"), AppSettings{}, &error));
  EXPECT_NE(error, "");
  EXPECT_TRUE(FolderEntries(dir.path()).empty());

  // A folder stands where the file should go: the rename fails, the folder
  // stays and the temporary file is removed.
  const std::string blocked = dir.File("blocked.ini");
  std::filesystem::create_directory(blocked);
  error.clear();
  EXPECT_FALSE(SaveSettings(blocked, AppSettings{}, &error));
  EXPECT_NE(error, "");
  EXPECT_TRUE(std::filesystem::is_directory(blocked));
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"blocked.ini"});

  // No path known.
  EXPECT_FALSE(SaveSettings("", AppSettings{}));

  // A text too long for the file: nothing is written, the old file stays.
  const std::string path = dir.File("s.ini");
  WriteBytes(path, kFirstRunNoUnit);
  AppSettings tooLong;
  tooLong.logoPath = std::string(kMaxSettingsString + 1, 'z');
  Bytes image{9};
  EXPECT_FALSE(SerializeSettings(tooLong, image));
  EXPECT_TRUE(image.empty());
  EXPECT_FALSE(SaveSettings(path, tooLong));
  EXPECT_EQ(AsBytes(ReadFile(path)), kFirstRunNoUnit);
}

TEST(SettingsSave, FullDiskKeepsTheOldFileWhole) {
  TempDir dir;
  const std::string path = dir.File("vecta_tx_ctrl_v2.7.3.ini");
  WriteBytes(path, kFirstRunNoUnit);
  AppSettings s;
  s.appTitle = std::string(200, 'T');

  // A file size limit makes every write past 40 bytes fail as a full disk
  // would; a save that truncated the file in place would leave 40 bytes.
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit oldLimit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
  rlimit small = oldLimit;
  small.rlim_cur = 40;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool saved = SaveSettings(path, s, &error);
  ::setrlimit(RLIMIT_FSIZE, &oldLimit);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved);
  EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
  EXPECT_EQ(AsBytes(ReadFile(path)), kFirstRunNoUnit);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"vecta_tx_ctrl_v2.7.3.ini"});
}
