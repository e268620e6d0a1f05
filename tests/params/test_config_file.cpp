// The configuration file: its checksum, the writer against files built by
// hand, the parser on every kind of damaged file, and the loader's exchanges
// with the unit (order, cinp/cflo, mode-change waits, nothing sent before the
// whole file has passed).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/frame.h"
#include "link/link_lock.h"
#include "params/config_file.h"
#include "params/config_set.h"
#include "params/control_ids.h"
#include "support/config_fixture.h"

using namespace vecta::params;
using namespace vecta::test;
using vecta::link::Bytes;

namespace {

using namespace vecta::test::config_bytes;

class ConfigFileTest : public ConfigExchangeTest {
 protected:
  std::function<void()> refresh = [this] { ++refreshes; };
};

// ---- Checksum

TEST(ConfigChecksum, MatchesChecksumsWorkedOutApart) {
  const Bytes abc = ToBytes("abc");
  EXPECT_EQ(ConfigChecksum(abc), 0xBC7DDB53u);
  EXPECT_EQ(ConfigChecksum({}), 0xFFFFFFFFu);
  // A whole small file whose checksum was worked out apart from this code.
  Bytes b = Head(1, 3);
  NumRec(b, "oout", 1);
  TextRec(b, "gnam", "Hi");
  Tail(b);
  EXPECT_EQ(ConfigChecksum(b), 0xFB6A679Du);
}

// ---- Writer

TEST_F(ConfigFileTest, WriterMatchesFileBuiltByHandForK240) {
  unit.boardType = "K240";
  Row("oout").Set(std::int32_t{1});
  Row("ofec").Set(std::int32_t{0});        // "/empty/" first: wire 1
  Row("ofre").Set(std::string("474.00"));  // two decimals: as shown
  Row("owid").Set(std::int32_t{3});
  Row("ohls", ids::kOutputPower).Set(std::int32_t{1});
  Row("ohls", ids::kK610OutputPower).Set(std::int32_t{2});  // K610 only: left out
  Row("olev").Set(std::string("6.02"));                     // level: linear 637
  Row("ollv").Set(std::string("0.00"));                     // 1274
  Row("omod").Set(std::int32_t{9});                         // no option behind it: left out
  Row("zscr").Set(std::int32_t{3});                         // AES256: wire 6
  Row("gnam").Set(std::string("Unit A"));
  Row("dinp", ids::kDataInput).Set(std::int32_t{1});      // other variant only: left out
  Row("dinp", ids::kModeDataInput).Set(std::int32_t{4});  // past 13 "/empty/": wire 17
  Row("gosw").Set(std::int32_t{2});                       // wire 8
  Row("evid").Set(std::string("2.300"));                  // display only: no record of its own
  Row("evbr").Set(std::uint8_t{1});                       // manual: bitrate x 1000
  Row("gblo").Set(std::int32_t{1});
  Row("glod").Set(std::string("3"));
  Row("vloc").Set(std::int32_t{1});                   // status list: nothing
  Row("gver").Set(std::string("3.4"));                // display only
  Row("mbit").Set(std::string("1.001"));              // thousandths: 1001, not 1000
  Row(derived::kBandwidthMode).Set(std::int32_t{1});  // derived: never saved
  Row("epts").Set(std::uint8_t{1});                   // K610 only

  ASSERT_TRUE(SaveConfigFile(unit, dir.File("a.cfg"), 5));
  EXPECT_TRUE(prompter.messages.empty());

  Bytes want = Head(1, 5);
  NumRec(want, "oout", 1);
  NumRec(want, "ofec", 1);
  TextRec(want, "ofre", "474.00");
  NumRec(want, "owid", 3);
  NumRec(want, "ohls", 1);
  TextRec(want, "olev", "637");
  TextRec(want, "ollv", "1274");
  NumRec(want, "zscr", 6);
  TextRec(want, "gnam", "Unit A");
  NumRec(want, "dinp", 17);
  NumRec(want, "gosw", 8);
  TextRec(want, "evbr", "2300");
  NumRec(want, "gblo", 1);
  TextRec(want, "glod", "3");
  TextRec(want, "mbit", "1001");
  Tail(want);
  EXPECT_EQ(FileBytes(dir.File("a.cfg")), Seal(want));
  EXPECT_TRUE(f.line().writes.empty()) << "saving reads nothing from the unit";
}

TEST_F(ConfigFileTest, WriterOnK610LeavesOutCheckBoxesAndWritesBitrateOff) {
  unit.boardType = "K610";
  Row("ohls", ids::kOutputPower).Set(std::int32_t{1});  // not K610: left out
  Row("ohls", ids::kK610OutputPower).Set(std::int32_t{6});
  Row("abmb").Set(std::uint8_t{1});
  Row("epts").Set(std::uint8_t{1});
  Row("evid").Set(std::string("4.000"));
  Row("evbr").Set(std::uint8_t{0});
  Row("eenc", ids::kK610MpegMode).Set(std::int32_t{1});  // "/empty/" first: wire 2
  Row("oplv").Set(std::string("inf"));                   // no output at all: linear 0

  Bytes want = Head(1, 16);
  NumRec(want, "ohls", 6);
  TextRec(want, "evbr", "0");
  NumRec(want, "eenc", 2);
  TextRec(want, "oplv", "0");
  Tail(want);
  EXPECT_EQ(BuildConfigFile({16, RecordsFromTable(tables.main, unit.variant())}), Seal(want));
}

TEST_F(ConfigFileTest, ManualBitrateWithoutAKnownBitrateIsLeftOut) {
  Row("evbr").Set(std::uint8_t{1});
  Row("gsle").Set(std::int32_t{1});
  const auto records = RecordsFromTable(tables.main, Variant::Other);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].mnemonic, "gsle");
}

TEST_F(ConfigFileTest, EmptyTableGivesHeaderAndMarkersOnly) {
  // Every byte written out, the checksum worked out apart from this code.
  const Bytes want = {0x01, 0,   0,   0,   'T', 'X', 'S', 0x02, 0,    0,    0,
                      '-',  '-', '-', '-', '/', '/', '/', 0xBF, 0x39, 0x83, 0xFF};
  ASSERT_TRUE(SaveConfigFile(unit, dir.File("e.cfg"), 2));
  EXPECT_EQ(FileBytes(dir.File("e.cfg")), want);
}

// ---- Saving: the file choice and the failure paths

TEST_F(ConfigFileTest, SaveAsksForTheFileAndCancelWritesNothing) {
  EXPECT_FALSE(SaveConfigToFile(unit, 1));
  EXPECT_EQ(prompter.filters,
            std::vector<std::string>{
                "save Select a file to save to [cfg] Config files (*.cfg)|*.cfg|All files (*)|*||"});
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  prompter.answer = dir.File("chosen.cfg");
  EXPECT_TRUE(SaveConfigToFile(unit, 4));
  EXPECT_EQ(FileBytes(dir.File("chosen.cfg")).size(), 22u);
}

TEST_F(ConfigFileTest, SaveWithoutAUnitSaysNoConnection) {
  f.link->CloseSerialPort();
  EXPECT_FALSE(SaveConfigToFile(unit, 1));
  ExpectOnlyError("No connection currently");
  EXPECT_TRUE(prompter.filters.empty()) << "no file is asked for";
  prompter.messages.clear();
  EXPECT_FALSE(SaveConfigFile(unit, dir.File("x.cfg"), 1));
  ExpectOnlyError("No connection currently");
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.cfg")));
}

TEST_F(ConfigFileTest, SaveIntoAMissingFolderCannotOpen) {
  EXPECT_FALSE(SaveConfigFile(unit, dir.File("no/such/folder.cfg"), 1));
  ExpectOnlyError("Unable to open file for writing");
}

int EntriesOf(const std::string& folder) {
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++entries;
  return entries;
}

TEST_F(ConfigFileTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
  const Bytes old = ToBytes("the file that was there");
  WriteBytes(dir.File("old.cfg"), old);
  Row("gsle").Set(std::int32_t{1});
  // A file size limit makes the write fail as a full disk would.
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit oldLimit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
  rlimit small = oldLimit;
  small.rlim_cur = 10;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved = SaveConfigFile(unit, dir.File("old.cfg"), 1);
  ::setrlimit(RLIMIT_FSIZE, &oldLimit);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved);
  ExpectOnlyError("Unable to write to file");
  EXPECT_EQ(FileBytes(dir.File("old.cfg")), old);
  EXPECT_EQ(EntriesOf(dir.path()), 1);
}

// What must not be replaced is refused before anything is written, with the
// message of a file that cannot be opened: a folder, a FIFO, a file nobody
// may write (also through a link). Each stays as it was.
TEST_F(ConfigFileTest, SaveRefusesFoldersFifosAndReadOnlyFiles) {
  std::filesystem::create_directory(dir.File("folder.cfg"));
  ASSERT_EQ(::mkfifo(dir.File("fifo.cfg").c_str(), 0666), 0);
  WriteBytes(dir.File("ro.cfg"), ToBytes("protected"));
  ASSERT_EQ(::chmod(dir.File("ro.cfg").c_str(), 0444), 0);
  ASSERT_EQ(::symlink("ro.cfg", dir.File("to-ro.cfg").c_str()), 0);
  for (const char* name : {"folder.cfg", "fifo.cfg", "ro.cfg", "to-ro.cfg"}) {
    SCOPED_TRACE(name);
    prompter.messages.clear();
    EXPECT_FALSE(SaveConfigFile(unit, dir.File(name), 1));
    ExpectOnlyError("Unable to open file for writing");
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.cfg")));
  EXPECT_TRUE(std::filesystem::is_fifo(dir.File("fifo.cfg")));
  EXPECT_EQ(ReadFile(dir.File("ro.cfg")), "protected");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("to-ro.cfg")));
  EXPECT_EQ(EntriesOf(dir.path()), 4) << "no temporary file is left";
}

// A link is followed to its file, which is replaced in its own folder; the
// link stays a link.
TEST_F(ConfigFileTest, SaveThroughALinkReplacesTheFileItNames) {
  std::filesystem::create_directory(dir.File("store"));
  WriteBytes(dir.File("store/real.cfg"), ToBytes("older"));
  ASSERT_EQ(::symlink("store/real.cfg", dir.File("link.cfg").c_str()), 0);
  Row("gsle").Set(std::int32_t{1});
  ASSERT_TRUE(SaveConfigFile(unit, dir.File("link.cfg"), 1));
  Bytes want = Head();
  NumRec(want, "gsle", 1);
  Tail(want);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.cfg")));
  EXPECT_EQ(FileBytes(dir.File("store/real.cfg")), Seal(want));
  EXPECT_EQ(EntriesOf(dir.path()), 2);
  EXPECT_EQ(EntriesOf(dir.File("store")), 1);
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(ConfigFileTest, SaveReplacesAnOldFileAndKeepsItsPermissions) {
  WriteBytes(dir.File("old.cfg"), ToBytes("previous contents, much longer than the new file"));
  ASSERT_EQ(::chmod(dir.File("old.cfg").c_str(), 0640), 0);
  Row("gsle").Set(std::int32_t{1});
  ASSERT_TRUE(SaveConfigFile(unit, dir.File("old.cfg"), 1));
  Bytes want = Head();
  NumRec(want, "gsle", 1);
  Tail(want);
  EXPECT_EQ(FileBytes(dir.File("old.cfg")), Seal(want));
  struct stat st {};
  ASSERT_EQ(::stat(dir.File("old.cfg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// ---- Parser

TEST(ConfigParser, ReadsWhatTheWriterWrites) {
  ConfigImage image{7, {}};
  image.records.push_back({"gnam", RecordKind::Text, "Name with spaces", 0});
  image.records.push_back({"owid", RecordKind::Number, "", 4});
  image.records.push_back({"gipa", RecordKind::Address, "", 0xC0A80102});
  image.records.push_back({"gdna", RecordKind::Text, "", 0});
  const ConfigParse p = ParseConfigFile(BuildConfigFile(image));
  ASSERT_TRUE(p.ok()) << ConfigErrorText(p.error);
  EXPECT_EQ(p.data.count, 1u);
  ASSERT_EQ(p.data.images.size(), 1u);
  EXPECT_EQ(p.data.images[0], image);
  EXPECT_EQ(p.data.images[0].records[0].ValueText(), "Name with spaces");
  EXPECT_EQ(p.data.images[0].records[1].ValueText(), "4");
  EXPECT_EQ(p.data.images[0].records[2].ValueText(), "192.168.1.2");
}

TEST(ConfigParser, CountOfZeroIsAcceptedAndTwoOrMoreIsASet) {
  Bytes zero = Head(0);
  Tail(zero);
  EXPECT_TRUE(ParseConfigFile(Seal(zero)).ok());
  for (std::uint32_t n : {2u, 8u, 16u, 0xFFFFFFFFu}) {
    Bytes b = Head(n);
    Tail(b);
    EXPECT_EQ(ParseConfigFile(Seal(b)).error, ConfigError::MoreThanOneConfig) << n;
  }
  EXPECT_EQ(ConfigErrorText(ConfigError::MoreThanOneConfig), "More than 1 config in file");
}

TEST(ConfigParser, EveryChangedByteIsAChecksumError) {
  Bytes b = Head(1, 2);
  NumRec(b, "oout", 1);
  TextRec(b, "gnam", "abc");
  Tail(b);
  const Bytes good = Seal(b);
  ASSERT_TRUE(ParseConfigFile(good).ok());
  for (std::size_t i = 0; i < good.size(); ++i) {
    Bytes bad = good;
    bad[i] ^= 0x01;
    EXPECT_EQ(ParseConfigFile(bad).error, ConfigError::Checksum) << "byte " << i;
  }
  // Cut anywhere: the last four bytes are no longer the checksum.
  for (std::size_t n = 4; n < good.size(); ++n)
    EXPECT_EQ(ParseConfigFile(std::span(good).first(n)).error, ConfigError::Checksum) << n;
  EXPECT_EQ(ConfigErrorText(ConfigError::Checksum), "Invalid checksum in file");
}

TEST(ConfigParser, DamagedStructuresBehindAGoodChecksum) {
  struct Case {
    const char* name;
    Bytes body;  // sealed below
    ConfigError want;
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, Bytes b, ConfigError e) { cases.push_back({name, std::move(b), e}); };

  add("empty", {}, ConfigError::Truncated);
  {
    Bytes b;
    Str(b, "\x01\x00");
    add("short count", b, ConfigError::Truncated);
  }
  {
    Bytes b;
    U32(b, 1);
    Str(b, "TX");
    add("short marker", b, ConfigError::Truncated);
  }
  {
    Bytes b = Head(1, 1, "TXT");
    Tail(b);
    add("not TXS", b, ConfigError::NotTransmitterConfig);
  }
  {
    Bytes b;
    U32(b, 1);
    Str(b, "TXS\x01\x00");
    add("short number", b, ConfigError::Truncated);
  }
  {
    Bytes b = Head();
    NumRec(b, "oout", 1);
    add("no end marker", b, ConfigError::Truncated);
  }
  {
    Bytes b = Head();
    Str(b, "oou");
    add("short mnemonic", b, ConfigError::Truncated);
  }
  {
    Bytes b = Head();
    Str(b, "oout");
    add("no kind", b, ConfigError::Truncated);
  }
  {
    Bytes b = Head();
    Str(b, "oout");
    b.push_back(1);
    b.push_back(0);
    add("short number field", b, ConfigError::Truncated);
  }
  for (std::uint8_t kind : {3, 4, 0x80, 0xFF}) {
    Bytes b = Head();
    NumRec(b, "oout", 1, kind);
    Tail(b);
    add("bad kind", b, ConfigError::BadRecordKind);
  }
  {
    Bytes b = Head();
    Str(b, "gnam");
    b.push_back(0);
    U32(b, 0xFFFFFFFF);  // a length far beyond the file
    Str(b, "abc----///");
    add("length past the end", b, ConfigError::Truncated);
  }
  {
    Bytes b = Head();
    Str(b, "gnam");
    b.push_back(0);
    U32(b, 11);  // reaches exactly into "----///" and one byte further
    Str(b, "abc----///");
    add("length one past the end", b, ConfigError::Truncated);
  }
  for (const char* m : {"OOUT", "oo t", "o;ut", "///x"}) {
    Bytes b = Head();
    NumRec(b, m, 1);
    Tail(b);
    add("bad mnemonic", b, ConfigError::BadMnemonic);
  }
  for (const std::string& text :
       {std::string("a;b"), std::string("a\0b", 3), std::string("\x02"), std::string("\x03")}) {
    Bytes b = Head();
    TextRec(b, "gnam", text);
    Tail(b);
    add("uncarriable text", b, ConfigError::BadValue);
  }
  {
    Bytes b = Head();
    for (std::size_t i = 0; i <= kMaxRecordsPerConfig; ++i) NumRec(b, "oout", 1);
    Tail(b);
    add("too many records", b, ConfigError::TooLarge);
  }
  for (const auto& c : cases) EXPECT_EQ(ParseConfigFile(Seal(c.body)).error, c.want) << c.name;

  Bytes huge(kMaxConfigFileSize + 1, 0);
  EXPECT_EQ(ParseConfigFile(huge).error, ConfigError::TooLarge);
  EXPECT_EQ(ParseConfigFile(Bytes{1, 2, 3}).error, ConfigError::Truncated);
}

TEST(ConfigParser, WhatFollowsTheStreamEndIsNotRead) {
  Bytes b = Head();
  NumRec(b, "oout", 1);
  Str(b, "----");
  Str(b, "anything at all");
  const ConfigParse p = ParseConfigFile(Seal(b));
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p.data.images[0].records.size(), 1u);
}

TEST(ConfigParser, EachParseErrorHasItsMessage) {
  EXPECT_EQ(ConfigErrorText(ConfigError::None), "");
  EXPECT_EQ(ConfigErrorText(ConfigError::Truncated), "Config file is truncated");
  EXPECT_EQ(ConfigErrorText(ConfigError::TooLarge), "Config file is too large");
  EXPECT_EQ(ConfigErrorText(ConfigError::NotTransmitterConfig), "Config in file is not a transmitter config");
  EXPECT_EQ(ConfigErrorText(ConfigError::IncorrectConfigCount), "Incorrect number of configs in file");
  EXPECT_EQ(ConfigErrorText(ConfigError::InvalidConfigType), "Invalid config type in file");
  EXPECT_EQ(ConfigErrorText(ConfigError::BadRecordKind), "Invalid record type in file");
  EXPECT_EQ(ConfigErrorText(ConfigError::BadMnemonic), "Invalid parameter name in file");
  EXPECT_EQ(ConfigErrorText(ConfigError::BadValue), "Invalid parameter value in file");
  EXPECT_EQ(ConfigErrorText(ConfigError::ValueTooLong), "Parameter value too long in file");
}

TEST(ConfigParser, RequestsMustFitTheLinksFrame) {
  // "\x02" "0001wgnam;" text ";" + checksum + ETX: 14 bytes around the text.
  auto image = [](std::size_t length) {
    return std::vector<ConfigImage>{{1, {{"gnam", RecordKind::Text, std::string(length, 'x'), 0}}}};
  };
  using vecta::link::kMaxSerialRequestFrame;
  using vecta::link::kMaxTcpRequestFrame;
  EXPECT_EQ(CheckRequestsFit(image(239), 1, kMaxSerialRequestFrame), ConfigError::None);
  EXPECT_EQ(CheckRequestsFit(image(240), 1, kMaxSerialRequestFrame), ConfigError::ValueTooLong);
  EXPECT_EQ(CheckRequestsFit(image(233), 1, kMaxTcpRequestFrame), ConfigError::None);
  EXPECT_EQ(CheckRequestsFit(image(234), 1, kMaxTcpRequestFrame), ConfigError::ValueTooLong);
}

// ---- Loading into the unit

TEST_F(ConfigFileTest, LoadSendsEveryRecordInOrderThenRefreshes) {
  Bytes b = Head(1, 3);
  NumRec(b, "owid", 4);  // from 1: crosses into the DVB-T bandwidths
  NumRec(b, "eenc", 1);  // from 0: another encoder
  NumRec(b, "cinp", 2);
  TextRec(b, "gnam", "X");
  NumRec(b, "gipa", 0x0A000001, 2);
  TextRec(b, "glod", "3");  // the saved-from configuration: not written
  NumRec(b, "ohls", 1);     // a K610 row into an other-variant unit: written all the same
  Tail(b);
  WriteBytes(dir.File("in.cfg"), Seal(b));

  Answer({"1", "0", "5", "", "", "7", "", "", "", "", ""});
  std::vector<std::string> atRefresh;
  std::atomic<bool> pollLockFree{true};
  ASSERT_TRUE(LoadConfigFile(unit, dir.File("in.cfg"), [&] {
    atRefresh = Requests();
    std::thread([&] {
      if (vecta::link::PollLock().try_lock()) {
        vecta::link::PollLock().unlock();
      } else {
        pollLockFree = false;
      }
    }).join();
  }));
  const std::vector<std::string> want = {"0001rowid;;",  "0001reenc;;",         "0001raenc;;",  "0001wowid;4;",
                                         "0001weenc;1;", "0001rcflo;;",         "0001wcinp;2;", "0001wcflo;7;",
                                         "0001wgnam;X;", "0001wgipa;10.0.0.1;", "0001wohls;1;"};
  EXPECT_EQ(Requests(), want);
  EXPECT_EQ(atRefresh, want) << "the refresh runs after every record";
  EXPECT_FALSE(pollLockFree) << "the poll lock is held throughout";
  EXPECT_EQ(f.clock.slept, (std::vector<std::int64_t>{5000, 5000}));
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(ConfigFileTest, LoadUsesTheUnitAddress) {
  unit.unitAddress = 42;
  Bytes b = Head();
  NumRec(b, "gsle", 1);
  Tail(b);
  WriteBytes(dir.File("in.cfg"), Seal(b));
  for (int i = 0; i < 4; ++i) f.line().Reply(ReplyFrame(42, '1', "0"));
  ASSERT_TRUE(LoadConfigFile(unit, dir.File("in.cfg"), refresh));
  EXPECT_EQ(Requests(), (std::vector<std::string>{"0042rowid;;", "0042reenc;;", "0042raenc;;", "0042wgsle;1;"}));
  EXPECT_EQ(refreshes, 1);
}

TEST_F(ConfigFileTest, ModeChangeWaits) {
  struct Case {
    int currentOwid, currentEenc;
    std::uint32_t owid, eenc;
    std::vector<std::int64_t> slept;
  };
  const Case cases[] = {
      {1, 0, 2, 0, {}},                                  // 0-2 to 0-2, same encoder
      {2, 0, 3, 0, {5000}},                              // across the boundary
      {3, 1, 5, 1, {}},                                  // 3-5 to 3-5
      {5, 1, 0, 0, {5000, 5000}}, {0, 2, 0, 1, {5000}},  // encoder only
  };
  for (const Case& c : cases) {
    f.clock.slept.clear();
    const std::vector<ConfigRecord> records = {{"owid", RecordKind::Number, "", c.owid},
                                               {"eenc", RecordKind::Number, "", c.eenc}};
    AnswerOk(2);
    SendRecordStream(unit, records, c.currentOwid, c.currentEenc, false);
    EXPECT_EQ(f.clock.slept, c.slept) << c.currentOwid << "->" << c.owid;
    f.clock.slept.clear();
    AnswerOk(2);
    SendRecordStream(unit, records, c.currentOwid, c.currentEenc, true);
    EXPECT_TRUE(f.clock.slept.empty()) << "the hold leaves the waits out";
  }
  EXPECT_TRUE(OwidCrossesBoundary(2, 3));
  EXPECT_FALSE(OwidCrossesBoundary(0, 2));
  EXPECT_FALSE(OwidCrossesBoundary(3, 5));
}

TEST_F(ConfigFileTest, RefusedChainingFlowReadIsNotWrittenBack) {
  const std::vector<ConfigRecord> records = {{"cinp", RecordKind::Number, "", 1}};
  f.line().Reply(ReplyFrame(1, 'E', "9"));
  AnswerOk(1);
  SendRecordStream(unit, records, 0, 0, false);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"0001rcflo;;", "0001wcinp;1;"}));
}

TEST_F(ConfigFileTest, FailedChainingFlowReadIsNotWrittenBack) {
  const std::vector<ConfigRecord> records = {{"cinp", RecordKind::Number, "", 1},
                                             {"gsle", RecordKind::Number, "", 0}};
  Bytes bad = ReplyFrame(1, '1', "9");
  bad[bad.size() - 2] ^= 0x01;  // checksum broken: a link error
  f.line().Reply(bad);
  AnswerOk(2);
  SendRecordStream(unit, records, 0, 0, false);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"0001rcflo;;", "0001wcinp;1;", "0001wgsle;0;"}));
}

TEST_F(ConfigFileTest, ReadFailuresCountAsZero) {
  // owid and eenc unreadable: taken as 0, so owid 3 and eenc 1 both wait.
  Bytes b = Head();
  NumRec(b, "owid", 3);
  NumRec(b, "eenc", 1);
  Tail(b);
  WriteBytes(dir.File("in.cfg"), Seal(b));
  f.line().Reply(ReplyFrame(1, 'E', "4"));
  Bytes bad = ReplyFrame(1, '1', "1");
  bad[bad.size() - 2] ^= 0x01;
  f.line().Reply(bad);
  AnswerOk(3);
  ASSERT_TRUE(LoadConfigFile(unit, dir.File("in.cfg"), refresh));
  EXPECT_EQ(f.clock.slept, (std::vector<std::int64_t>{5000, 5000}));
}

TEST_F(ConfigFileTest, EveryFileFailureStopsBeforeTheUnitIsTouched) {
  struct Case {
    const char* name;
    Bytes file;
    std::string message;
  };
  Bytes good = Head();
  NumRec(good, "oout", 1);
  Tail(good);
  Bytes badSum = Seal(good);
  badSum.back() ^= 0x80;
  Bytes set = Head(8);
  Tail(set);
  Bytes set16 = Head(16);
  Tail(set16);
  Bytes notTxs = Head(1, 1, "ABC");
  Tail(notTxs);
  Bytes kind = Head();
  NumRec(kind, "oout", 1);
  NumRec(kind, "gsle", 1, 7);
  Tail(kind);
  Bytes longCount = Head();
  Str(longCount, "gnam");
  longCount.push_back(0);
  U32(longCount, 0x7FFFFFFF);
  Tail(longCount);
  Bytes cut = Head();
  NumRec(cut, "oout", 1);
  Bytes longText = Head();
  NumRec(longText, "oout", 1);  // a good record before the bad one is not sent either
  TextRec(longText, "gnam", std::string(240, 'n'));
  Tail(longText);
  Bytes name = Head();
  NumRec(name, "Oout", 1);
  Tail(name);
  Bytes value = Head();
  TextRec(value, "gnam", "a;b");
  Tail(value);

  const Case cases[] = {
      {"checksum", badSum, "Invalid checksum in file"},
      {"8 configs", Seal(set), "More than 1 config in file"},
      {"16 configs", Seal(set16), "More than 1 config in file"},
      {"not TXS", Seal(notTxs), "Config in file is not a transmitter config"},
      {"record kind", Seal(kind), "Invalid record type in file"},
      {"string count", Seal(longCount), "Config file is truncated"},
      {"truncated", Seal(cut), "Config file is truncated"},
      {"too short", Bytes{1, 0}, "Config file is truncated"},
      {"text too long", Seal(longText), "Parameter value too long in file"},
      {"name", Seal(name), "Invalid parameter name in file"},
      {"value", Seal(value), "Invalid parameter value in file"},
  };
  for (const Case& c : cases) {
    prompter.messages.clear();
    WriteBytes(dir.File("bad.cfg"), c.file);
    EXPECT_FALSE(LoadConfigFile(unit, dir.File("bad.cfg"), refresh)) << c.name;
    ExpectOnlyError(c.message);
  }
  EXPECT_TRUE(f.line().writes.empty());
  EXPECT_EQ(refreshes, 0);
}

TEST_F(ConfigFileTest, LoadOfAnUnreadableFile) {
  EXPECT_FALSE(LoadConfigFile(unit, dir.File("missing.cfg"), refresh));
  ExpectOnlyError("Unable to open file for reading");
  prompter.messages.clear();
  EXPECT_FALSE(LoadConfigFile(unit, dir.path(), refresh));  // a folder
  ExpectOnlyError("Unable to open file for reading");
  prompter.messages.clear();
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(LoadConfigFile(unit, dir.File("fifo"), refresh)) << "a FIFO neither hangs nor loads";
  ExpectOnlyError("Unable to open file for reading");
  prompter.messages.clear();
  WriteBytes(dir.File("big.cfg"), Bytes(kMaxConfigFileSize + 1, 0));
  EXPECT_FALSE(LoadConfigFile(unit, dir.File("big.cfg"), refresh));
  ExpectOnlyError("Config file is too large");
  EXPECT_TRUE(f.line().writes.empty());
  EXPECT_EQ(refreshes, 0);
}

TEST_F(ConfigFileTest, LoadWithoutAUnitSaysNoConnection) {
  f.link->CloseSerialPort();
  prompter.answer = dir.File("any.cfg");
  EXPECT_FALSE(LoadConfigFromFile(unit, refresh));
  ExpectOnlyError("No connection currently");
  EXPECT_TRUE(prompter.filters.empty());
  EXPECT_EQ(refreshes, 0);
}

TEST_F(ConfigFileTest, LoadAsksForTheFileAndCancelDoesNothing) {
  EXPECT_FALSE(LoadConfigFromFile(unit, refresh));
  EXPECT_EQ(prompter.filters,
            std::vector<std::string>{
                "open Select a file to load from [cfg] Config files (*.cfg)|*.cfg|All files (*)|*||"});
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(f.line().writes.empty());

  Bytes b = Head();
  Tail(b);
  WriteBytes(dir.File("in.cfg"), Seal(b));
  prompter.answer = dir.File("in.cfg");
  AnswerOk(3);
  EXPECT_TRUE(LoadConfigFromFile(unit, refresh));
  EXPECT_EQ(Requests().size(), 3u);
  EXPECT_EQ(refreshes, 1);
}

TEST_F(ConfigFileTest, SavedFileLoadsBackIntoTheSameWrites) {
  unit.boardType = "K240";
  Row("owid").Set(std::int32_t{2});
  Row("zscr").Set(std::int32_t{5});  // BCrypt256: wire 10
  Row("gnam").Set(std::string("Field unit 7"));
  Row("mbit").Set(std::string("0.029"));
  ASSERT_TRUE(SaveConfigFile(unit, dir.File("rt.cfg"), 1));
  Answer({"2", "0", "0", "", "", "", ""});
  ASSERT_TRUE(LoadConfigFile(unit, dir.File("rt.cfg"), refresh));
  EXPECT_EQ(Requests(), (std::vector<std::string>{"0001rowid;;", "0001reenc;;", "0001raenc;;", "0001wowid;2;",
                                                  "0001wzscr;10;", "0001wgnam;Field unit 7;", "0001wmbit;29;"}));
  EXPECT_TRUE(f.clock.slept.empty());
}

}  // namespace
