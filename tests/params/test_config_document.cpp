// Editing a configuration file or set without a unit: files as the unit's
// save makes them (from the simulated unit's values) come back byte for
// byte, an edit changes its record and the checksum and nothing else, a set
// changes only the chosen configuration, values that cannot be kept are
// refused with the file untouched, and a page shown and taken back changes
// nothing unless the operator changed it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "params/config_document.h"
#include "params/config_set.h"
#include "params/control_ids.h"
#include "params/memory_host.h"
#include "params/refresh.h"
#include "params/typed_value.h"
#include "sim_options.h"
#include "support/files.h"
#include "unit_params.h"

using namespace vecta::params;
using Bytes = std::vector<std::uint8_t>;
using vecta::test::FileBytes;
using vecta::test::TempDir;
using vecta::test::WriteBytes;
namespace fs = std::filesystem;

namespace {

// The stored values of a refresh of configuration `config` of a simulated
// unit of this board.
void FillFromUnit(ParamTable& table, const std::string& board, int config) {
  vecta::sim::UnitOptions options;
  options.board = board;
  vecta::sim::ParamCatalogue catalogue(board, false);
  for (ParamRow& row : table.Rows()) {
    const RowDescriptor& desc = row.Desc();
    if (desc.Derived() || !RowExists(desc, catalogue.GetVariant())) continue;
    const auto* param = catalogue.Find(desc.mnemonic);
    if (!param) continue;
    StoreReply(row, catalogue.Seed(*param, config, options));
  }
}

// One configuration as the save of a connected unit writes it.
ConfigImage UnitImage(const std::string& board, int config) {
  ParamTables tables;
  FillFromUnit(tables.main, board, config);
  ConfigImage image;
  image.number = static_cast<std::uint32_t>(config);
  image.records = RecordsFromTable(tables.main, VariantOf(board));
  return image;
}

Bytes UnitFile(const std::string& board) { return BuildConfigFile(UnitImage(board, 3)); }

Bytes UnitSet(const std::string& board) {
  std::vector<ConfigImage> images;
  for (int i = 1; i <= ConfigCount(VariantOf(board)); ++i) images.push_back(UnitImage(board, i));
  return BuildConfigSetFile(images);
}

ConfigDocument Opened(const Bytes& bytes, const std::string& path = "unused.cfg") {
  ConfigDocument doc;
  std::string error;
  EXPECT_TRUE(doc.OpenBytes(bytes, path, error)) << error;
  return doc;
}

// Where the record of `mnemonic` starts in the file, and its length.
std::pair<std::size_t, std::size_t> RecordAt(const Bytes& b, const std::string& mnemonic) {
  for (std::size_t i = 11; i + 9 <= b.size(); ++i) {
    if (std::string(b.begin() + static_cast<long>(i), b.begin() + static_cast<long>(i) + 4) != mnemonic) continue;
    const std::uint8_t kind = b[i + 4];
    std::uint32_t field = 0;
    for (int k = 0; k < 4; ++k) field |= std::uint32_t(b[i + 5 + static_cast<std::size_t>(k)]) << (8 * k);
    return {i, 9 + (kind == 0 ? field : 0)};
  }
  return {0, 0};
}

Bytes TextRecord(const std::string& m, const std::string& text) {
  Bytes b(m.begin(), m.end());
  b.push_back(0);
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(text.size() >> (8 * i)));
  b.insert(b.end(), text.begin(), text.end());
  return b;
}

Bytes NumberRecord(const std::string& m, std::uint32_t n) {
  Bytes b(m.begin(), m.end());
  b.push_back(1);
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  return b;
}

// `edited` is `original` with the record of `mnemonic` replaced by
// `record` and a new checksum, and nothing else.
void ExpectOnlyRecordChanged(const Bytes& original, const Bytes& edited, const std::string& mnemonic,
                             const Bytes& record) {
  const auto [at, length] = RecordAt(original, mnemonic);
  ASSERT_GT(length, 0u) << mnemonic << " is not in the file";
  Bytes expected(original.begin(), original.begin() + static_cast<long>(at));
  expected.insert(expected.end(), record.begin(), record.end());
  expected.insert(expected.end(), original.begin() + static_cast<long>(at + length), original.end() - 4);
  const std::uint32_t sum = ConfigChecksum(expected);
  for (int i = 0; i < 4; ++i) expected.push_back(static_cast<std::uint8_t>(sum >> (8 * i)));
  EXPECT_EQ(edited, expected);
}

}  // namespace

// ---- Opening and saving unchanged

TEST(ConfigDocument, FilesOfEveryBoardSaveUnchangedByteForByte) {
  TempDir dir;
  for (const std::string board : {"K240", "K610", "K100"}) {
    const Bytes original = UnitFile(board);
    const std::string path = dir.File(board + ".cfg");
    WriteBytes(path, original);
    ConfigDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Open(path, error)) << error;
    EXPECT_FALSE(doc.IsSet());
    EXPECT_FALSE(doc.Modified());
    EXPECT_EQ(doc.Bytes(), original) << board;
    ASSERT_TRUE(doc.Save(&error)) << error;
    EXPECT_EQ(FileBytes(path), original) << board;
  }
}

TEST(ConfigDocument, BytesTheParserSkipsAreKeptAsTheyWere) {
  // Count 0 (accepted as one configuration) and bytes between "----" and
  // the checksum that no writer puts there.
  Bytes b = {0, 0, 0, 0, 'T', 'X', 'S', 7, 0, 0, 0};
  const Bytes rec = NumberRecord("owid", 4);
  b.insert(b.end(), rec.begin(), rec.end());
  for (char c : std::string("----///extra")) b.push_back(static_cast<std::uint8_t>(c));
  const std::uint32_t sum = ConfigChecksum(b);
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(sum >> (8 * i)));
  ConfigDocument doc = Opened(b);
  EXPECT_EQ(doc.Bytes(), b);
  ASSERT_FALSE(doc.Set("owid", "7MHz").has_value());
  Bytes edited = doc.Bytes();
  ASSERT_EQ(edited.size(), b.size());
  EXPECT_EQ(edited[11 + 5], 1);  // 7MHz is wire value 1
  EXPECT_EQ(std::string(edited.end() - 16, edited.end() - 4), "----///extra");
}

TEST(ConfigDocument, DamagedFilesAreRefusedWithTheLoadersTexts) {
  Bytes good = UnitFile("K610");
  ConfigDocument doc;
  std::string error;
  Bytes bad = good;
  bad[20] ^= 1;
  EXPECT_FALSE(doc.OpenBytes(bad, "x.cfg", error));
  EXPECT_EQ(error, "Invalid checksum in file");
  EXPECT_FALSE(doc.Open("/nonexistent/x.cfg", error));
  EXPECT_EQ(error, "Unable to open file for reading");
  Bytes notTxs = good;
  notTxs[4] = 'X';
  notTxs.resize(notTxs.size() - 4);
  const std::uint32_t sum = ConfigChecksum(notTxs);
  for (int i = 0; i < 4; ++i) notTxs.push_back(static_cast<std::uint8_t>(sum >> (8 * i)));
  EXPECT_FALSE(doc.OpenBytes(notTxs, "x.cfg", error));
  EXPECT_EQ(error, "Config in file is not a transmitter config");
}

// ---- Board type

TEST(ConfigDocument, BoardTypeIsToldByTheParametersOnlyOneBoardHas) {
  EXPECT_EQ(Opened(UnitFile("K240")).VariantFromFile(), Variant::K240);
  EXPECT_EQ(Opened(UnitFile("K610")).VariantFromFile(), Variant::K610);
  EXPECT_EQ(Opened(UnitSet("K610")).VariantFromFile(), Variant::K610);
  // Everything the other boards save, a K240 has too.
  ConfigDocument other = Opened(UnitFile("K100"));
  EXPECT_FALSE(other.VariantFromFile().has_value());
  EXPECT_FALSE(other.VariantChosen());

  EXPECT_EQ(VariantFromRecords(std::vector<ConfigRecord>{{"asrc", RecordKind::Number, "", 1}}), Variant::K240);
  EXPECT_EQ(VariantFromRecords(std::vector<ConfigRecord>{{"vhdf", RecordKind::Number, "", 1}}), Variant::K610);
  EXPECT_FALSE(VariantFromRecords(std::vector<ConfigRecord>{{"oout", RecordKind::Number, "", 1}}).has_value());
  // K610 and K240-only parameters together fit no board.
  EXPECT_FALSE(VariantFromRecords(std::vector<ConfigRecord>{{"vhdf", RecordKind::Number, "", 1},
                                                            {"asrc", RecordKind::Number, "", 1}})
                   .has_value());
}

TEST(ConfigDocument, TheChosenBoardTypeDecidesTheRowsShown) {
  ConfigDocument doc = Opened(UnitFile("K100"));
  doc.SetVariant(Variant::Other);
  // dinp has one row per board family with its own list.
  EXPECT_NE(doc.Table().Find("dinp", ids::kDataInput)->Get(), std::nullopt);
  EXPECT_EQ(doc.Table().Find("dinp", ids::kModeDataInput)->Get(), std::nullopt);
  doc.SetVariant(Variant::K240);
  EXPECT_EQ(doc.Table().Find("dinp", ids::kDataInput)->Get(), std::nullopt);
  EXPECT_NE(doc.Table().Find("dinp", ids::kModeDataInput)->Get(), std::nullopt);
}

// ---- Editing one value

TEST(ConfigDocument, AnEditChangesItsRecordAndTheChecksumOnly) {
  const Bytes original = UnitFile("K240");
  {
    ConfigDocument doc = Opened(original);
    ASSERT_EQ(doc.Set("olev", "3.00"), std::nullopt);  // dB as shown; 902 on the wire
    EXPECT_TRUE(doc.Modified());
    ExpectOnlyRecordChanged(original, doc.Bytes(), "olev", TextRecord("olev", "902"));
    EXPECT_EQ(doc.Table().Find("olev")->Text(), "3.00");
  }
  {
    ConfigDocument doc = Opened(original);
    ASSERT_EQ(doc.Set("zscr", "AES256"), std::nullopt);  // position 3, wire 6
    ExpectOnlyRecordChanged(original, doc.Bytes(), "zscr", NumberRecord("zscr", 6));
  }
  {
    ConfigDocument doc = Opened(original);
    ASSERT_EQ(doc.Set("evid", "4.5"), std::nullopt);  // the manual bitrate, kbit/s in the file
    ExpectOnlyRecordChanged(original, doc.Bytes(), "evbr", TextRecord("evbr", "4500"));
    EXPECT_EQ(doc.Table().Find("evbr")->Check(), 1);
  }
}

TEST(ConfigDocument, TheMarkFollowsTheDifferenceFromTheFile) {
  TempDir dir;
  const std::string path = dir.File("a.cfg");
  WriteBytes(path, UnitFile("K610"));
  ConfigDocument doc;
  std::string error;
  ASSERT_TRUE(doc.Open(path, error));
  const std::string before = *doc.Table().Find("gnam")->Text();
  ASSERT_EQ(doc.Set("gnam", "Outside broadcast"), std::nullopt);
  EXPECT_TRUE(doc.Modified());
  ASSERT_EQ(doc.Set("gnam", before), std::nullopt);
  EXPECT_FALSE(doc.Modified());
  ASSERT_EQ(doc.Set("gnam", "Truck 2"), std::nullopt);
  ASSERT_TRUE(doc.Save(&error));
  EXPECT_FALSE(doc.Modified());
  ConfigDocument again;
  ASSERT_TRUE(again.Open(path, error));
  EXPECT_EQ(again.Table().Find("gnam")->Text(), "Truck 2");
}

TEST(ConfigDocument, ValuesThatCannotBeKeptAreRefusedAndChangeNothing) {
  const Bytes original = UnitFile("K240");
  ConfigDocument doc = Opened(original);
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"zzzz", "1", "No parameter zzzz on a K240 board"},
      {"vhdf", "720p 50Hz", "No parameter vhdf on a K240 board"},
      {"zscr", "AES512", "'AES512' is not a choice of zscr:"},
      {"olev", "loud", "'loud' is not a number; olev takes one"},
      {"ofre", "", "'' is not a number; ofre takes one"},
      {"gnam", "a;b", "A value for gnam cannot hold ';'"},
      {"gnam", "a\tb", "A value for gnam cannot hold a control character"},
      {"gnam", std::string(300, 'x'), "The value for gnam is too long for a request to the unit"},
      {"gver", "4.0", "gver is shown only; it cannot be set"},
      {"0003", "On", "0003 is worked out from other settings; set those instead"},
      {"slev", "-3.5", "slev is a satellite modulator setting; configuration files hold none"},
  };
  for (const auto& [mnemonic, value, text] : cases) {
    const auto problem = doc.Set(mnemonic, value);
    ASSERT_TRUE(problem.has_value()) << mnemonic << " " << value;
    EXPECT_EQ(problem->substr(0, text.size()), text) << *problem;
  }
  EXPECT_FALSE(doc.Modified());
  EXPECT_EQ(doc.Bytes(), original);

  ConfigDocument k610 = Opened(UnitFile("K610"));
  EXPECT_EQ(k610.Set("abmb", "on"), "abmb is not kept in configuration files");
}

// The editor takes what `vectactl set` takes, and refuses it in the same words.
TEST(ConfigDocument, TypedValuesAreJudgedAsASetJudgesThem) {
  ConfigDocument doc = Opened(UnitFile("K610"));
  const auto wire = [&doc](const std::string& mnemonic) {
    for (const ConfigRecord& r : doc.Image().records)
      if (r.mnemonic == mnemonic) return r.ValueText();
    return std::string("(none)");
  };
  // The longest name a write request carries is kept; one more is refused.
  const std::string longest(MaxValueLength(), 'n');
  EXPECT_EQ(MaxValueLength(), 233u);
  ASSERT_EQ(doc.Set("gnam", longest), std::nullopt);
  EXPECT_EQ(wire("gnam"), longest);
  EXPECT_EQ(doc.Set("gnam", longest + "n"), "The value for gnam is too long for a request to the unit");
  // Every word a check box takes.
  for (const char* off : {"no", "false"}) {
    ASSERT_EQ(doc.Set("evid", "4.5"), std::nullopt);
    ASSERT_EQ(doc.Set("evbr", "yes"), std::nullopt);
    EXPECT_EQ(wire("evbr"), "4500");
    EXPECT_EQ(doc.Set("evbr", off), std::nullopt) << off;
    EXPECT_EQ(wire("evbr"), "0") << off;
  }
  // A long list names its first 40 choices and counts them all.
  const auto problem = doc.Set("pvid", "9999");
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(problem->substr(0, 30), "'9999' is not a choice of pvid");
  EXPECT_EQ(std::count(problem->begin(), problem->end(), '"'), 80);
  EXPECT_TRUE(problem->ends_with(" ... (8191 choices)")) << *problem;
}

TEST(ConfigDocument, AParameterTheFileLacksIsAddedInTableOrder) {
  ConfigImage image = UnitImage("K610", 1);
  // Drop ofre (the fifth row) as a unit that did not answer it leaves it out.
  std::erase_if(image.records, [](const ConfigRecord& r) { return r.mnemonic == "ofre"; });
  ConfigDocument doc = Opened(BuildConfigFile(image));
  ASSERT_EQ(doc.Set("ofre", "474.00"), std::nullopt);
  const auto& records = doc.Image().records;
  const auto at =
      std::find_if(records.begin(), records.end(), [](const ConfigRecord& r) { return r.mnemonic == "ofre"; });
  ASSERT_NE(at, records.end());
  EXPECT_EQ(at->text, "474.00");  // two decimals: written as typed
  EXPECT_EQ(std::prev(at)->mnemonic, "omod");
  EXPECT_EQ(std::next(at)->mnemonic, "owid");
}

// ---- Sets

TEST(ConfigDocument, ASetChangesOnlyTheChosenConfiguration) {
  const Bytes original = UnitSet("K610");
  ConfigDocument doc = Opened(original);
  ASSERT_TRUE(doc.IsSet());
  ASSERT_EQ(doc.ConfigCount(), 16u);
  EXPECT_EQ(doc.Bytes(), original);
  doc.SelectConfig(4);
  EXPECT_EQ(doc.ConfigNumber(4), 5u);
  const std::string other = doc.Table().Find("owid")->Position() == 0 ? "7MHz" : "6MHz";
  ASSERT_EQ(doc.Set("owid", other), std::nullopt);
  const Bytes edited = doc.Bytes();

  const ConfigParse before = ParseConfigSet(original);
  const ConfigParse after = ParseConfigSet(edited);
  ASSERT_TRUE(after.ok());
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4)
      EXPECT_NE(after.data.images[i], before.data.images[i]);
    else
      EXPECT_EQ(after.data.images[i], before.data.images[i]) << "configuration " << i + 1;
  }
  // Same length: every byte outside configuration 5's owid record and the
  // checksum is as it was.
  ASSERT_EQ(edited.size(), original.size());
  std::size_t differing = 0;
  for (std::size_t i = 0; i + 4 < edited.size(); ++i) differing += edited[i] != original[i];
  EXPECT_EQ(differing, 1u);

  // Switching configurations keeps the edit and shows each one's values.
  doc.SelectConfig(0);
  EXPECT_EQ(doc.Table().Find("owid")->Position(),
            ConfigDocument(Opened(original)).Table().Find("owid")->Position());
  doc.SelectConfig(4);
  EXPECT_EQ(ShownValue(doc.Table().Find("owid")->Desc(), doc.Table().Find("owid")->Get()), other);
}

// ---- Pages

namespace {

struct Page {
  explicit Page(ConfigDocument& doc) : host(MemoryHost::ForTable(MainTableRows())) {
    unit.tables = &doc.Tables();
    unit.boardType = BoardTypeText(doc.variant());
    InitPage(host, doc.Table());
    ShowStoredValues(unit, doc.Table(), host);
  }
  UnitContext unit;
  MemoryHost host;
};

}  // namespace

TEST(ConfigDocument, APageShownAndTakenBackChangesNothing) {
  for (const std::string board : {"K240", "K610", "K100"}) {
    const Bytes original = UnitSet(board);
    ConfigDocument doc = Opened(original);
    doc.SetVariant(VariantOf(board));
    for (std::size_t c = 0; c < doc.ConfigCount(); c += 5) {
      doc.SelectConfig(c);
      Page page(doc);
      EXPECT_EQ(doc.TakeFromPage(page.host, page.unit.rules), 0) << board << " config " << c + 1;
    }
    EXPECT_EQ(doc.Bytes(), original) << board;
  }
}

TEST(ConfigDocument, PageEditsBecomeTheParametersAnApplyWouldWrite) {
  ConfigDocument doc = Opened(UnitFile("K240"));
  ASSERT_EQ(doc.Set("owid", "8MHz"), std::nullopt);
  ASSERT_EQ(doc.Set("aenc", "Off"), std::nullopt);
  Page page(doc);
  ASSERT_EQ(page.host.Selected(ids::kBandwidthMode), 1);   // "DVBT" worked out from owid
  page.host.Select(ids::kBandwidthMode, 0);                // "Narrowband"
  page.host.Select(ids::kAudio, 1);                        // audio "On"
  page.host.SetText(ids::kOutputAttenuationHigh, "3.00");  // output level, dB
  EXPECT_EQ(doc.TakeFromPage(page.host, page.unit.rules), 3);
  const auto& owid = doc.Table().Find("owid");
  EXPECT_EQ(ShownValue(owid->Desc(), owid->Get()), "2.5MHz");
  EXPECT_EQ(doc.Table().Find("aenc")->Position(), 5);  // 16kHz 8bit Stereo
  EXPECT_EQ(doc.Table().Find("0000")->Position(), 0);
  const auto rec = std::find_if(doc.Image().records.begin(), doc.Image().records.end(),
                                [](const ConfigRecord& r) { return r.mnemonic == "olev"; });
  ASSERT_NE(rec, doc.Image().records.end());
  EXPECT_EQ(rec->text, "902");

  // Texts no file can keep are left out, with the reason.
  const Bytes before = doc.Bytes();
  ShowStoredValues(page.unit, doc.Table(), page.host);  // as the window shows what it took
  page.host.SetText(ids::kOutputAttenuationHigh, "loud");
  page.host.SetText(ids::kUnitName, "a;b");
  std::vector<std::string> refused;
  EXPECT_EQ(doc.TakeFromPage(page.host, page.unit.rules, &refused), 0);
  EXPECT_EQ(refused, (std::vector<std::string>{"'loud' is not a number; olev takes one",
                                               "A value for gnam cannot hold ';'"}));
  EXPECT_EQ(doc.Bytes(), before);
}

// ---- Where saves go

TEST(ConfigDocument, SavesFollowLinksAndRefuseWhatIsNoFile) {
  TempDir dir;
  const std::string target = dir.File("real.cfg");
  const std::string link = dir.File("link.cfg");
  WriteBytes(target, UnitFile("K610"));
  fs::create_symlink(target, link);
  ConfigDocument doc;
  std::string error;
  ASSERT_TRUE(doc.Open(link, error));
  ASSERT_EQ(doc.Set("gnam", "Linked"), std::nullopt);
  ASSERT_TRUE(doc.Save(&error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(FileBytes(target), doc.Bytes());

  // A file replaced by a folder meanwhile is not replaced.
  fs::remove(target);
  fs::create_directory(target);
  ASSERT_EQ(doc.Set("gnam", "Again"), std::nullopt);
  EXPECT_FALSE(doc.Save(&error));
  EXPECT_EQ(error, "Unable to open file for writing");
  EXPECT_TRUE(fs::is_directory(target));
  EXPECT_TRUE(doc.Modified());
}
