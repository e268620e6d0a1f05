// Configuration sets: files of 8 and 16 configurations against files built
// by hand, the exchanges of a save and a load with and without the girb hold
// (firmware 3.4.0.0), the progress window and every message and failure.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/link_lock.h"
#include "params/config_file.h"
#include "params/config_set.h"
#include "support/config_fixture.h"

using namespace vecta::params;
using namespace vecta::test;
using vecta::link::Bytes;

namespace {

using namespace vecta::test::config_bytes;

// A set of n configurations: configuration i holds owid (i % 6) and the name
// "Config i", as the unit's values after a refresh of configuration i.
Bytes SetByHand(std::uint32_t n, std::uint32_t count) {
  Bytes b;
  U32(b, count);
  for (std::uint32_t i = 1; i <= n; ++i) {
    Str(b, "TXS");
    U32(b, i);
    NumRec(b, "owid", i % 6);
    TextRec(b, "gnam", "Config " + std::to_string(i));
    Str(b, "----");
  }
  Str(b, "///");
  return Seal(b);
}
Bytes SetByHand(std::uint32_t n) { return SetByHand(n, n); }

std::vector<std::string> ProgressRun(const std::string& text, int n) {
  std::vector<std::string> v = {"begin Please wait|" + text + "|" + std::to_string(n + 1)};
  for (int i = 1; i <= n + 1; ++i) v.push_back("set " + std::to_string(i));
  v.push_back("end");
  return v;
}

const std::string kSaveText = "Please wait while configs are read and saved...";
const std::string kLoadText = "Please wait while configs are read and sent...";

class ConfigSetTest : public ConfigExchangeTest {
 protected:
  void UseFirmware(const char* version) { unit.firmware.Parse(version); }
  // The full refresh as the unit would answer it: the configuration last
  // switched to with glod becomes the stored values.
  std::function<void()> RefreshFromUnit() {
    return [this] {
      ++refreshes;
      int config = 0;
      for (const auto& r : Requests())
        if (r.rfind("0001wglod;", 0) == 0) config = std::stoi(r.substr(10));
      tables.main.Find("owid")->Set(std::int32_t{config % 6});
      tables.main.Find("gnam")->Set("Config " + std::to_string(config));
    };
  }
  int DirEntries() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++n;
    return n;
  }

  std::function<void()> countRefresh = [this] { ++refreshes; };
};

TEST(ConfigSetFile, ConfigCountPerBoard) {
  EXPECT_EQ(ConfigCount(Variant::Other), 8);
  EXPECT_EQ(ConfigCount(Variant::K240), 16);
  EXPECT_EQ(ConfigCount(Variant::K610), 16);
}

TEST(ConfigSetFile, BuildAndParseSetsOf8And16) {
  for (std::uint32_t n : {8u, 16u}) {
    std::vector<ConfigImage> images;
    for (std::uint32_t i = 1; i <= n; ++i)
      images.push_back({i,
                        {{"owid", RecordKind::Number, "", i % 6},
                         {"gnam", RecordKind::Text, "Config " + std::to_string(i), 0}}});
    EXPECT_EQ(BuildConfigSetFile(images), SetByHand(n)) << n;
    const ConfigParse p = ParseConfigSet(SetByHand(n), n);
    ASSERT_TRUE(p.ok()) << ConfigErrorText(p.error);
    EXPECT_EQ(p.data.count, n);
    EXPECT_EQ(p.data.images, images);
    // Either set is no single configuration.
    EXPECT_EQ(ParseConfigFile(SetByHand(n)).error, ConfigError::MoreThanOneConfig);
  }
}

TEST(ConfigSetFile, ParserFailures) {
  EXPECT_EQ(ParseConfigSet(SetByHand(8), 16).error, ConfigError::IncorrectConfigCount);
  EXPECT_EQ(ParseConfigSet(SetByHand(17), 8).error, ConfigError::IncorrectConfigCount) << "more than any unit";
  // A count far beyond the file: refused before anything is reserved for it.
  EXPECT_EQ(ParseConfigSet(SetByHand(2, 0xFFFFFFFF), 0).error, ConfigError::IncorrectConfigCount);
  // Fewer images than the count: "///" stands where the next "TXS" should.
  EXPECT_EQ(ParseConfigSet(SetByHand(2, 16), 8).error, ConfigError::InvalidConfigType);
  EXPECT_TRUE(ParseConfigSet(SetByHand(0), 0).ok());

  Bytes bad = SetByHand(8);
  bad[10] ^= 0x40;
  EXPECT_EQ(ParseConfigSet(bad, 8).error, ConfigError::Checksum);
  EXPECT_EQ(ParseConfigSet(Bytes{}, 0).error, ConfigError::Truncated);
  EXPECT_EQ(ParseConfigSet(Seal({1, 0}), 0).error, ConfigError::Truncated);
  EXPECT_EQ(ParseConfigSet(Bytes(kMaxConfigFileSize + 1, 0), 0).error, ConfigError::TooLarge);

  // The third image has no "TXS".
  Bytes b;
  U32(b, 3);
  for (const char* marker : {"TXS", "TXS", "TXT"}) {
    Str(b, marker);
    U32(b, 1);
    Str(b, "----");
  }
  Str(b, "///");
  EXPECT_EQ(ParseConfigSet(Seal(b), 0).error, ConfigError::InvalidConfigType);
}

// The first word counts the configurations: 0 or 1 reads as one
// configuration file, 2 or more as a set.
TEST(ConfigSetFile, FirstWordTellsAFileFromASet) {
  EXPECT_EQ(StoredConfigCount(Bytes{2, 0, 0}), std::nullopt);
  EXPECT_EQ(StoredConfigCount(Bytes{2, 1, 0, 0, 7}), 258u);
  EXPECT_FALSE(CountsAsConfigSet(Bytes{9, 0, 0}));
  const Bytes single = BuildConfigFile({0, {}});
  EXPECT_FALSE(CountsAsConfigSet(single));
  EXPECT_TRUE(ParseConfigFileOrSet(single).ok());
  for (std::uint32_t n : {2u, 8u}) {
    const ConfigParse parsed = ParseConfigFileOrSet(SetByHand(n));
    EXPECT_TRUE(CountsAsConfigSet(SetByHand(n))) << n;
    ASSERT_TRUE(parsed.ok()) << n;
    EXPECT_EQ(parsed.data.images.size(), n);
  }
  EXPECT_EQ(ParseConfigFileOrSet(Bytes{}).error, ConfigError::Truncated);
}

// ---- Saving

TEST_F(ConfigSetTest, SaveOf8ConfigsWithOlderFirmwareWaitsAfterEverySwitch) {
  UseFirmware("3.3.9.9");
  AnswerOk(9);
  ASSERT_TRUE(SaveConfigSetFile(unit, dir.File("set.cfg"), RefreshFromUnit()));
  EXPECT_EQ(FileBytes(dir.File("set.cfg")), SetByHand(8));
  std::vector<std::string> want;
  for (int i = 1; i <= 8; ++i) want.push_back("0001wglod;" + std::to_string(i) + ";");
  want.push_back("0001wglod;1;");
  EXPECT_EQ(Requests(), want);
  EXPECT_EQ(f.clock.slept, std::vector<std::int64_t>(9, 1000));
  EXPECT_EQ(refreshes, 9);
  EXPECT_EQ(tables.main.Find("gnam")->Text(), "Config 1") << "left on configuration 1";
  EXPECT_EQ(prompter.progress, ProgressRun(kSaveText, 8));
  ExpectOnlyAlert("Config set saved");
}

TEST_F(ConfigSetTest, SaveOf16ConfigsWithTheHoldFramesTheTransferWithGirb) {
  unit.boardType = "K240";
  UseFirmware("3.4.0.0");
  AnswerOk(19);
  ASSERT_TRUE(SaveConfigSetFile(unit, dir.File("set.cfg"), RefreshFromUnit()));
  EXPECT_EQ(FileBytes(dir.File("set.cfg")), SetByHand(16));
  std::vector<std::string> want = {"0001wgirb;1;"};
  for (int i = 1; i <= 16; ++i) want.push_back("0001wglod;" + std::to_string(i) + ";");
  want.push_back("0001wglod;1;");
  want.push_back("0001wgirb;0;");
  EXPECT_EQ(Requests(), want);
  EXPECT_TRUE(f.clock.slept.empty());
  EXPECT_EQ(prompter.progress, ProgressRun(kSaveText, 16));
  ExpectOnlyAlert("Config set saved");
}

TEST_F(ConfigSetTest, SaveHoldsThePollAndLinkLocks) {
  AnswerOk(9);
  std::atomic<int> free = 0;
  auto refresh = RefreshFromUnit();
  ASSERT_TRUE(SaveConfigSetFile(unit, dir.File("set.cfg"), [&] {
    refresh();
    std::thread([&] {
      if (vecta::link::PollLock().try_lock()) {
        vecta::link::PollLock().unlock();
        ++free;
      }
      if (vecta::link::LinkLock().try_lock()) {
        vecta::link::LinkLock().unlock();
        ++free;
      }
    }).join();
  }));
  EXPECT_EQ(free, 0);
}

TEST_F(ConfigSetTest, FailedSwitchKeepsTheOldFileAndClearsTheHold) {
  UseFirmware("3.4.0.0");
  const Bytes old = SetByHand(8);
  WriteBytes(dir.File("set.cfg"), old);
  AnswerOk(3);  // girb, glod 1, glod 2
  AnswerBroken();
  AnswerOk(1);  // girb 0
  EXPECT_FALSE(SaveConfigSetFile(unit, dir.File("set.cfg"), RefreshFromUnit()));
  EXPECT_EQ(Requests(), (std::vector<std::string>{"0001wgirb;1;", "0001wglod;1;", "0001wglod;2;", "0001wglod;3;",
                                                  "0001wgirb;0;"}));
  EXPECT_EQ(prompter.progress,
            (std::vector<std::string>{"begin Please wait|" + kSaveText + "|9", "set 1", "set 2", "end"}));
  ExpectOnlyError("Unable to switch config");
  EXPECT_EQ(FileBytes(dir.File("set.cfg")), old);
  EXPECT_EQ(DirEntries(), 1) << "no temporary file is left";
}

TEST_F(ConfigSetTest, RefusedSwitchIsAFailedSwitch) {
  UseFirmware("2.0");
  AnswerOk(1);
  f.line().Reply(ReplyFrame(1, 'E', ""));
  EXPECT_FALSE(SaveConfigSetFile(unit, dir.File("set.cfg"), RefreshFromUnit()));
  EXPECT_EQ(Requests(), (std::vector<std::string>{"0001wglod;1;", "0001wglod;2;"}));
  ExpectOnlyError("Unable to switch config");
  EXPECT_FALSE(std::filesystem::exists(dir.File("set.cfg")));
  EXPECT_EQ(DirEntries(), 0);
  EXPECT_EQ(prompter.progress.back(), "end");
}

TEST_F(ConfigSetTest, SaveThatCannotOpenTheFileTouchesNoUnit) {
  EXPECT_FALSE(SaveConfigSetFile(unit, dir.File("missing/set.cfg"), countRefresh));
  ExpectOnlyError("Unable to open file for writing");
  EXPECT_TRUE(f.line().writes.empty());
  EXPECT_TRUE(prompter.progress.empty());
  EXPECT_EQ(refreshes, 0);
}

TEST_F(ConfigSetTest, SaveThatCannotWriteStillReturnsTheUnitToConfig1) {
  UseFirmware("3.4.0.0");
  AnswerOk(11);
  // A folder appears where the file should go while the unit is read: the
  // rename into place fails.
  const auto refresh = RefreshFromUnit();
  EXPECT_FALSE(SaveConfigSetFile(unit, dir.File("set.cfg"), [&] {
    refresh();
    std::filesystem::create_directory(dir.File("set.cfg"));
  }));
  const auto r = Requests();
  ASSERT_EQ(r.size(), 11u);
  EXPECT_EQ(r[9], "0001wglod;1;");
  EXPECT_EQ(r[10], "0001wgirb;0;");
  ExpectOnlyError("Unable to write to file");
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("set.cfg")));
  EXPECT_EQ(DirEntries(), 1);
}

// A folder, a FIFO or a read-only file is refused before the unit is asked
// anything, and stays as it was.
TEST_F(ConfigSetTest, SaveRefusesFoldersFifosAndReadOnlyFilesBeforeTouchingTheUnit) {
  std::filesystem::create_directory(dir.File("folder.cfg"));
  ASSERT_EQ(::mkfifo(dir.File("fifo.cfg").c_str(), 0666), 0);
  const Bytes old = SetByHand(8);
  WriteBytes(dir.File("ro.cfg"), old);
  ASSERT_EQ(::chmod(dir.File("ro.cfg").c_str(), 0444), 0);
  for (const char* name : {"folder.cfg", "fifo.cfg", "ro.cfg"}) {
    SCOPED_TRACE(name);
    prompter.messages.clear();
    EXPECT_FALSE(SaveConfigSetFile(unit, dir.File(name), countRefresh));
    ExpectOnlyError("Unable to open file for writing");
  }
  EXPECT_TRUE(f.line().writes.empty());
  EXPECT_TRUE(prompter.progress.empty());
  EXPECT_EQ(refreshes, 0);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.cfg")));
  EXPECT_TRUE(std::filesystem::is_fifo(dir.File("fifo.cfg")));
  EXPECT_EQ(FileBytes(dir.File("ro.cfg")), old);
  EXPECT_EQ(DirEntries(), 3);
}

TEST_F(ConfigSetTest, SaveThroughALinkReplacesTheFileItNames) {
  std::filesystem::create_directory(dir.File("store"));
  WriteBytes(dir.File("store/set.cfg"), ToBytes("older"));
  ASSERT_EQ(::symlink(dir.File("store/set.cfg").c_str(), dir.File("link.cfg").c_str()), 0);
  AnswerOk(9);
  ASSERT_TRUE(SaveConfigSetFile(unit, dir.File("link.cfg"), RefreshFromUnit()));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.cfg")));
  EXPECT_EQ(FileBytes(dir.File("store/set.cfg")), SetByHand(8));
  EXPECT_EQ(DirEntries(), 2);
}

TEST_F(ConfigSetTest, SaveAsksForTheFile) {
  EXPECT_FALSE(SaveConfigSet(unit, countRefresh));
  EXPECT_EQ(prompter.filters,
            std::vector<std::string>{
                "save Select a file to save to [cfg] Config files (*.cfg)|*.cfg|All files (*)|*||"});
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(f.line().writes.empty());

  prompter.answer = dir.File("chosen.cfg");
  AnswerOk(9);
  EXPECT_TRUE(SaveConfigSet(unit, RefreshFromUnit()));
  EXPECT_EQ(FileBytes(dir.File("chosen.cfg")), SetByHand(8));
}

// ---- Loading

// The replies and requests of loading `n` configurations of SetByHand: the
// unit reports owid 1 and eenc 0 except where a case says otherwise.
struct LoadScript {
  std::vector<std::string> replies, requests;
  void Read(const std::string& m, const std::string& value) {
    requests.push_back("0001r" + m + ";;");
    replies.push_back(value);
  }
  void Write(const std::string& m, const std::string& value) {
    requests.push_back("0001w" + m + ";" + value + ";");
    replies.push_back("");
  }
};

LoadScript ScriptLoad(int n, bool hold, int crossingConfig = 0, int encoderConfig = 0) {
  LoadScript s;
  if (hold) s.Write("girb", "1");
  for (int i = 1; i <= n; ++i) {
    s.Read("owid", "1");
    s.Read("eenc", "0");
    s.Read("aenc", "0");
    s.Write("glod", std::to_string(i));
    s.Read("owid", i == crossingConfig ? "4" : "1");
    s.Read("eenc", i == encoderConfig ? "1" : "0");
    s.Read("aenc", "0");
    s.Write("owid", std::to_string(i % 6));
    s.Write("gnam", "Config " + std::to_string(i));
  }
  s.Write("glod", "1");
  if (hold) s.Write("girb", "0");
  return s;
}

TEST_F(ConfigSetTest, LoadOf8ConfigsWithOlderFirmware) {
  UseFirmware("3.3");
  WriteBytes(dir.File("set.cfg"), SetByHand(8));
  const LoadScript s = ScriptLoad(8, false, 3, 5);
  Answer(s.replies);
  std::vector<std::string> progressAtRefresh;
  ASSERT_TRUE(LoadConfigSetFile(unit, dir.File("set.cfg"), [&] {
    ++refreshes;
    progressAtRefresh = prompter.progress;
  }));
  EXPECT_EQ(Requests(), s.requests);
  // After each switch 1000 ms, and 5000 ms more: configuration 3 runs in the
  // DVB-T bandwidths (owid 1 -> 4); the owid records 4 and 5 of
  // configurations 4 and 5 cross from the unit's 1; configuration 5 runs
  // another encoder. The return to configuration 1 waits too.
  const std::vector<std::int64_t> waits = {1000, 1000, 1000, 5000, 1000, 5000, 1000,
                                           5000, 5000, 1000, 1000, 1000, 1000};
  EXPECT_EQ(f.clock.slept, waits);
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(progressAtRefresh, ProgressRun(kLoadText, 8)) << "the progress window closes before the refresh";
  ExpectOnlyAlert("Config set loaded");
}

TEST_F(ConfigSetTest, LoadWithTheHoldHasNoWaits) {
  UseFirmware("3.10.2.1");
  WriteBytes(dir.File("set.cfg"), SetByHand(8));
  const LoadScript s = ScriptLoad(8, true, 3, 5);
  Answer(s.replies);
  ASSERT_TRUE(LoadConfigSetFile(unit, dir.File("set.cfg"), countRefresh));
  EXPECT_EQ(Requests(), s.requests);
  EXPECT_EQ(Requests().front(), "0001wgirb;1;");
  EXPECT_EQ(Requests().back(), "0001wgirb;0;");
  EXPECT_TRUE(f.clock.slept.empty());
  EXPECT_EQ(prompter.progress, ProgressRun(kLoadText, 8));
  ExpectOnlyAlert("Config set loaded");
}

TEST_F(ConfigSetTest, SetOf16LoadsWhollyIntoAn8ConfigUnit) {
  UseFirmware("3.4.0.0");
  WriteBytes(dir.File("set.cfg"), SetByHand(16));
  const LoadScript s = ScriptLoad(16, true);
  Answer(s.replies);
  ASSERT_TRUE(LoadConfigSetFile(unit, dir.File("set.cfg"), countRefresh));
  EXPECT_EQ(Requests(), s.requests);
  EXPECT_NE(std::find(s.requests.begin(), s.requests.end(), "0001wglod;16;"), s.requests.end());
  EXPECT_EQ(prompter.progress, ProgressRun(kLoadText, 16));
}

TEST_F(ConfigSetTest, EveryFileFailureStopsBeforeTheUnitIsTouched) {
  UseFirmware("3.4.0.0");
  unit.boardType = "K610";
  Bytes badSum = SetByHand(16);
  badSum[badSum.size() - 1] ^= 1;
  Bytes single;
  U32(single, 1);
  Str(single, "TXS");
  U32(single, 1);
  Str(single, "----///");
  Bytes badType = SetByHand(16);
  {
    std::size_t at = 0;
    for (int k = 0; k < 6; ++k)
      at = std::search(badType.begin() + static_cast<long>(at) + 1, badType.end(), std::begin("TXS"),
                       std::begin("TXS") + 3) -
           badType.begin();
    badType[at] = 'X';  // "TXS" of the sixth image
  }
  Bytes truncated;
  U32(truncated, 16);
  for (int i = 1; i <= 15; ++i) {
    Str(truncated, "TXS");
    U32(truncated, static_cast<std::uint32_t>(i));
    Str(truncated, "----");
  }
  Str(truncated, "TX");  // the data ends inside the last image
  Bytes kind;
  U32(kind, 16);
  for (int i = 1; i <= 16; ++i) {
    Str(kind, "TXS");
    U32(kind, static_cast<std::uint32_t>(i));
    Str(kind, i == 16 ? "gsle\x05\x01\x00\x00\x00" : "");
    Str(kind, "----");
  }
  Str(kind, "///");
  Bytes longText;
  U32(longText, 16);
  for (int i = 1; i <= 16; ++i) {
    Str(longText, "TXS");
    U32(longText, static_cast<std::uint32_t>(i));
    if (i == 16) TextRec(longText, "gnam", std::string(240, 'x'));
    Str(longText, "----");
  }
  Str(longText, "///");

  const std::pair<Bytes, std::string> cases[] = {
      {badSum, "Invalid checksum in file"},
      {Seal(single), "Incorrect number of configs in file"},
      {SetByHand(8), "Incorrect number of configs in file"},
      {SetByHand(17), "Incorrect number of configs in file"},
      {Seal(badType), "Invalid config type in file"},
      {Seal(truncated), "Config file is truncated"},
      {Seal(kind), "Invalid record type in file"},
      {Seal(longText), "Parameter value too long in file"},
  };
  for (const auto& [file, message] : cases) {
    prompter.messages.clear();
    WriteBytes(dir.File("bad.cfg"), file);
    EXPECT_FALSE(LoadConfigSetFile(unit, dir.File("bad.cfg"), countRefresh)) << message;
    ExpectOnlyError(message);
  }
  prompter.messages.clear();
  EXPECT_FALSE(LoadConfigSetFile(unit, dir.File("missing.cfg"), countRefresh));
  ExpectOnlyError("Unable to open file for reading");
  EXPECT_TRUE(f.line().writes.empty());
  EXPECT_TRUE(prompter.progress.empty());
  EXPECT_EQ(refreshes, 0);
}

TEST_F(ConfigSetTest, LoadAsksForTheFileAndCancelDoesNothing) {
  EXPECT_FALSE(LoadConfigSet(unit, countRefresh));
  EXPECT_EQ(prompter.filters,
            std::vector<std::string>{
                "open Select a file to load from [cfg] Config files (*.cfg)|*.cfg|All files (*)|*||"});
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(f.line().writes.empty());

  UseFirmware("3.4");
  WriteBytes(dir.File("set.cfg"), SetByHand(8));
  prompter.answer = dir.File("set.cfg");
  Answer(ScriptLoad(8, true).replies);
  EXPECT_TRUE(LoadConfigSet(unit, countRefresh));
  EXPECT_EQ(refreshes, 1);
}

TEST_F(ConfigSetTest, SavedSetLoadsBack) {
  unit.boardType = "K610";
  AnswerOk(17);
  ASSERT_TRUE(SaveConfigSetFile(unit, dir.File("set.cfg"), RefreshFromUnit()));
  f.line().writes.clear();
  const LoadScript s = ScriptLoad(16, false);
  Answer(s.replies);
  prompter.messages.clear();
  ASSERT_TRUE(LoadConfigSetFile(unit, dir.File("set.cfg"), countRefresh));
  EXPECT_EQ(Requests(), s.requests);
}

}  // namespace
