// The review before load: which records of a file differ from the unit's
// values and how both are shown, the counts, a file from another board
// type, a set read with the switching of the set load or taken from the set
// saved last, and the workflow: "Load" sends exactly what a load without
// review sends, "Cancel" nothing more than the review's reads.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "app/config_review.h"
#include "link/frame.h"
#include "params/config_file.h"
#include "params/config_set.h"
#include "params/memory_host.h"
#include "params/refresh.h"
#include "support/fake_link.h"
#include "support/recording_ui.h"

using namespace vecta;
using namespace vecta::params;
using namespace vecta::test;

namespace {

ConfigRecord Num(const std::string& m, std::uint32_t n) { return {m, RecordKind::Number, "", n}; }
ConfigRecord Txt(const std::string& m, const std::string& t) { return {m, RecordKind::Text, t, 0}; }

// A unit that answers by request: one map of values per configuration, glod
// switches between them (refused past the last), girb is accepted, a value
// it does not hold is refused.
struct ScriptedUnit {
  std::vector<std::map<std::string, std::string>> configs;
  int current = 0;
  std::vector<std::string> requests;  // "rowid;;", "wglod;2;" ...

  std::optional<Bytes> Answer(const Bytes& frame) {
    // STX, four address digits, the request up to the second ';', checksum, ETX.
    std::string text(frame.begin() + 5, frame.end());
    text = text.substr(0, text.find(';', text.find(';') + 1) + 1);
    requests.push_back(text);
    const char op = text[0];
    const std::string m = text.substr(1, 4);
    const std::string value = text.substr(6, text.size() - 7);
    if (op == 'w') {
      if (m == "glod") {
        const int n = std::atoi(value.c_str());
        if (n < 1 || n > static_cast<int>(configs.size())) return ReplyFrame(1, 'E', "");
        current = n - 1;
      } else if (m != "girb") {
        configs[static_cast<std::size_t>(current)][m] = value;
      }
      return ReplyFrame(1, '1', value);
    }
    if (m == "glod") return ReplyFrame(1, '1', std::to_string(current + 1));
    const auto& c = configs[static_cast<std::size_t>(current)];
    const auto it = c.find(m);
    if (it == c.end()) return ReplyFrame(1, 'E', "");
    return ReplyFrame(1, '1', it->second);
  }
};

class ConfigReviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f.line().responder = [this](const Bytes& b) { return scripted.Answer(b); };
    ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
    unit.link = f.link.get();
    unit.clock = &f.clock;
    unit.prompter = &prompter;
    unit.tables = &tables;
    unit.boardType = "K240";
  }
  void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(dir.File(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<std::string> TakeRequests() {
    auto r = scripted.requests;
    scripted.requests.clear();
    return r;
  }

  FakeLink f;
  ScriptedUnit scripted;
  RecordingPrompter prompter;
  ParamTables tables;
  UnitContext unit;
  TempDir dir;
};

// A K240 configuration: the file against a unit that differs in frequency,
// scrambling, level and name of the encoder's rate, agrees elsewhere, and
// lacks one K610-only setting.
ConfigImage K240File() {
  ConfigImage image;
  image.number = 3;
  image.records = {Num("oout", 1),     Txt("ofre", "650.00"), Num("owid", 2),        Num("zscr", 4),
                   Txt("olev", "637"), Num("a1en", 3),        Txt("gnam", "Unit 7"), Num("aenc", 15),
                   Num("ampr", 2),     Num("ampr", 2),        Txt("glod", "3"),      Txt("evbr", "4500")};
  return image;
}

TEST_F(ConfigReviewTest, ListsExactlyTheDifferingRecordsAsThePagesShowThem) {
  scripted.configs = {{{"oout", "1"},
                       {"ofre", "500.00"},
                       {"owid", "2"},
                       {"zscr", "6"},
                       {"olev", "1274"},
                       {"gnam", "Unit 7"},
                       {"aenc", "13"},
                       {"ampr", "2"},
                       {"evbr", "0"}}};
  ConfigFileData data;
  data.images = {K240File()};
  const ConfigReview review = app::ReviewConfigFile(unit, "x.cfg", data);

  // One read per setting of the file; glod, and the repeated rate, are not read again.
  EXPECT_EQ(TakeRequests(), (std::vector<std::string>{"roout;;", "rofre;;", "rowid;;", "rzscr;;", "rolev;;",
                                                      "ra1en;;", "rgnam;;", "raenc;;", "rampr;;", "revbr;;"}));
  ASSERT_EQ(review.configs.size(), 1u);
  const ConfigurationReview& c = review.configs[0];
  std::vector<std::string> lines;
  for (const ReviewLine& l : c.differing)
    lines.push_back(l.mnemonic + "|" + l.caption + "|" + l.unitValue + "|" + l.fileValue);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "ofre|Output frequency (MHz)|500.00|650.00",
                       "zscr|Scrambling|AES256|AES128",
                       "olev|Output attenuation high (dB)|0.00|6.02",
                       "aenc|Audio encoder|MPEG Layer 2 32kHz Stereo|MPEG Layer 2 48kHz Stereo",
                       "evbr|Manual|Off|On, 4.5 Mbit/s",
                   }));
  EXPECT_EQ(c.equal, 4);       // oout, owid, gnam, ampr
  EXPECT_EQ(c.notOnBoard, 1);  // a1en
  EXPECT_EQ(CountsText(review), "5 differing, 4 equal, 1 not on this board");
  EXPECT_FALSE(review.otherBoard);
  EXPECT_FALSE(review.Same());
}

// The unit answers its "Manual" box with any non-zero value; a file holds
// the bitrate the box sets. A file saved from the unit after a refresh is
// the unit's, whatever the box answers; the encoding mode shows as the
// pages show it.
TEST_F(ConfigReviewTest, AFileSavedFromTheUnitReviewsEqualWhateverItsManualBoxAnswers) {
  for (const std::string manual : {"1", "4500", "0"}) {
    scripted.configs = {{{"evbr", manual}, {"evid", "4.500"}, {"eenc", "1"}, {"ecmd", "5"}, {"owid", "2"}}};
    MemoryHost page = MemoryHost::ForTable(MainTableRows());
    InitPage(page, tables.main);
    Refresh(unit, tables.main, page);
    ConfigFileData data;
    data.images = {{1, RecordsFromTable(tables.main, Variant::K240)}};
    const ConfigReview review = app::ReviewConfigFile(unit, "saved.cfg", data);
    EXPECT_TRUE(review.Same()) << manual << "\n" << ReviewText(review);
    EXPECT_EQ(review.Equal(), 3) << manual;  // owid, eenc, evbr (QSIF has no ecmd entry to save)
  }
  scripted.configs = {{{"evbr", "1"}, {"evid", "7.0"}, {"ecmd", "5"}}};
  ConfigFileData data;
  data.images = {{1, {Txt("evbr", "4500"), Num("ecmd", 0)}}};
  const ConfigReview review = app::ReviewConfigFile(unit, "x.cfg", data);
  std::vector<std::string> lines;
  for (const ReviewLine& l : review.configs[0].differing) lines.push_back(l.unitValue + "|" + l.fileValue);
  EXPECT_EQ(lines, (std::vector<std::string>{"On, 7 Mbit/s|On, 4.5 Mbit/s", "QSIF|Low delay interlaced"}));
}

TEST_F(ConfigReviewTest, UnansweredSettingDiffersAndEqualFileIsSame) {
  scripted.configs = {{{"owid", "2"}, {"gnam", "Unit 7"}}};
  ConfigFileData data;
  data.images = {{1, {Num("owid", 2), Txt("gnam", "Unit 7")}}};
  ConfigReview review = app::ReviewConfigFile(unit, "x.cfg", data);
  EXPECT_TRUE(review.Same());
  EXPECT_EQ(CountsText(review), "0 differing, 2 equal, 0 not on this board");

  data.images[0].records.push_back(Num("zscr", 1));  // the unit refuses zscr
  review = app::ReviewConfigFile(unit, "x.cfg", data);
  ASSERT_EQ(review.configs[0].differing.size(), 1u);
  EXPECT_EQ(review.configs[0].differing[0].unitValue, "(no reply)");
  EXPECT_EQ(review.configs[0].differing[0].fileValue, "ABS");
}

// What a unit of each board type saves after a refresh: every saved row.
ConfigImage SavedBy(const std::string& board) {
  ParamTables t;
  const Variant v = VariantOf(board);
  for (ParamRow& row : t.main.Rows()) {
    const RowDescriptor& d = row.Desc();
    if (!RowExists(d, v)) continue;
    if (d.kind == Kind::Text) row.Set(std::string("1"));
    if (d.kind == Kind::List) row.Set(std::int32_t{0});
    if (d.kind == Kind::Check) row.Set(std::uint8_t{0});
  }
  return {1, RecordsFromTable(t.main, v)};
}

TEST_F(ConfigReviewTest, FileFromAnotherBoardTypeIsNamed) {
  for (const std::string board : {"K240", "K610", "K999"}) {
    const ConfigImage image = SavedBy(board);
    for (Variant unitVariant : {Variant::K240, Variant::K610, Variant::Other})
      EXPECT_EQ(app::FileVariant(std::span(&image, 1), unitVariant), VariantOf(board)) << board;
  }
  // A few records fit every board: the unit's own is taken.
  const ConfigImage few{1, {Num("owid", 2)}};
  EXPECT_EQ(app::FileVariant(std::span(&few, 1), Variant::K610), Variant::K610);

  scripted.configs = {{}};
  ConfigFileData data;
  data.images = {SavedBy("K610")};
  const ConfigReview review = app::ReviewConfigFile(unit, "k610.cfg", data);
  EXPECT_TRUE(review.otherBoard);
  EXPECT_EQ(BoardText(review), "This file is from a K610; the unit is a K240.");
  EXPECT_GT(review.NotOnBoard(), 0);
}

ConfigFileData ThreeConfigs() {
  ConfigFileData data;
  for (std::uint32_t i = 1; i <= 3; ++i)
    data.images.push_back({i, {Num("owid", i), Txt("gnam", "C" + std::to_string(i))}});
  return data;
}

TEST_F(ConfigReviewTest, SetIsReadWithTheSwitchingOfTheLoad) {
  scripted.configs = {{{"owid", "1"}, {"gnam", "C1"}}, {{"owid", "5"}, {"gnam", "C2"}}};  // two configs only
  scripted.current = 1;  // the unit runs configuration 2, and is left on it
  const ConfigReview review = app::ReviewConfigSet(unit, "set.cfg", ThreeConfigs(), ReviewBasis::Unit);
  EXPECT_EQ(TakeRequests(), (std::vector<std::string>{"rglod;;", "wglod;1;", "rowid;;", "rgnam;;", "wglod;2;",
                                                      "rowid;;", "rgnam;;", "wglod;3;", "wglod;2;"}));
  EXPECT_EQ(f.clock.slept, (std::vector<std::int64_t>{1000, 1000, 1000, 1000}));
  ASSERT_EQ(review.configs.size(), 3u);
  EXPECT_EQ(review.configs[0].Differing(), 0);
  ASSERT_EQ(review.configs[1].Differing(), 1);
  EXPECT_EQ(review.configs[1].differing[0].unitValue, "625kHz");
  EXPECT_EQ(review.configs[1].differing[0].fileValue, "8MHz");
  EXPECT_FALSE(review.configs[2].read);
  EXPECT_EQ(ConfigName(review.configs[2]), "Config 3");
  EXPECT_EQ(CountsText(review), "1 differing, 3 equal, 0 not on this board, 1 config not read");
  EXPECT_EQ(scripted.current, 1);
  EXPECT_EQ(prompter.progress,
            (std::vector<std::string>{"begin Please wait: Please wait while configs are read for review... /4",
                                      "set 1", "set 2", "set 3", "set 4", "end"}));

  // With firmware 3.4.0.0 the reads are framed by girb and nothing waits.
  unit.firmware.Parse("3.4.0.0");
  f.clock.slept.clear();
  app::ReviewConfigSet(unit, "set.cfg", ThreeConfigs(), ReviewBasis::Unit);
  const auto requests = TakeRequests();
  EXPECT_EQ(requests.at(1), "wgirb;1;");
  EXPECT_EQ(requests.back(), "wgirb;0;");
  EXPECT_TRUE(f.clock.slept.empty());
}

TEST_F(ConfigReviewTest, SetComparedWithTheSetSavedLastReadsNothing) {
  scripted.configs.assign(16, {{"owid", "2"}, {"gnam", "Saved"}});
  unit.firmware.Parse("3.4.0.0");
  ASSERT_TRUE(SaveConfigSetFile(unit, dir.File("saved.cfg"), [&] {
    // The full refresh of the unit's current configuration.
    const auto& c = scripted.configs[static_cast<std::size_t>(scripted.current)];
    tables.main.Find("owid")->Set(std::int32_t{std::atoi(c.at("owid").c_str())});
    tables.main.Find("gnam")->Set(c.at("gnam"));
  }));
  ASSERT_TRUE(unit.lastSetSave);
  EXPECT_EQ(unit.lastSetSave->path, dir.File("saved.cfg"));
  TakeRequests();

  ConfigFileData data = ThreeConfigs();
  const ConfigReview review = app::ReviewConfigSet(unit, "set.cfg", data, ReviewBasis::LastSave);
  EXPECT_TRUE(TakeRequests().empty());
  EXPECT_EQ(review.basis, ReviewBasis::LastSave);
  EXPECT_EQ(BasisText(review), "Compared with the config set saved last (" + dir.File("saved.cfg") + ")");
  EXPECT_EQ(review.Differing(), 2 + 3);  // owid of configs 1 and 3, every name

  // Another unit: the saved set does not describe it.
  unit.unitAddress = 2;
  EXPECT_FALSE(app::LastSaveFits(unit));
}

TEST_F(ConfigReviewTest, LoadAfterReviewSendsWhatAPlainLoadSends) {
  const std::map<std::string, std::string> values = {{"owid", "5"},   {"eenc", "0"}, {"aenc", "0"},
                                                     {"gnam", "Old"}, {"cinp", "0"}, {"cflo", "7"}};
  ConfigImage image{1, {Num("owid", 2), Txt("gnam", "New"), Num("cinp", 1), Txt("glod", "1")}};
  WriteFile("in.cfg", BuildConfigFile(image));

  scripted.configs = {values};
  ASSERT_TRUE(LoadConfigFile(unit, dir.File("in.cfg"), {}));
  const auto plain = TakeRequests();
  const auto plainSleeps = f.clock.slept;

  scripted.configs = {values};
  f.clock.slept.clear();
  prompter.files = {dir.File("in.cfg")};
  prompter.reviewAnswers = {true};
  int refreshes = 0;
  ASSERT_TRUE(app::LoadConfigFromFileReviewed(unit, [&] { ++refreshes; }));
  auto reviewed = TakeRequests();
  const std::vector<std::string> reads = {"rowid;;", "rgnam;;", "rcinp;;"};
  ASSERT_GE(reviewed.size(), reads.size());
  EXPECT_EQ(std::vector<std::string>(reviewed.begin(), reviewed.begin() + 3), reads);
  EXPECT_EQ(std::vector<std::string>(reviewed.begin() + 3, reviewed.end()), plain);
  EXPECT_EQ(f.clock.slept, plainSleeps);
  EXPECT_EQ(refreshes, 1);
  ASSERT_EQ(prompter.reviews.size(), 1u);
  EXPECT_EQ(prompter.reviews[0].Differing(), 3);

  // Cancel: the reads of the review and nothing after them.
  scripted.configs = {values};
  prompter.files = {dir.File("in.cfg")};
  EXPECT_FALSE(app::LoadConfigFromFileReviewed(unit, [&] { ++refreshes; }));
  EXPECT_EQ(TakeRequests(), reads);
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(scripted.configs[0].at("owid"), "5");
}

TEST_F(ConfigReviewTest, BadFileShowsItsErrorAndNoReview) {
  std::vector<std::uint8_t> bytes = BuildConfigFile({1, {Num("owid", 2)}});
  bytes[8] ^= 1;
  WriteFile("bad.cfg", bytes);
  prompter.files = {dir.File("bad.cfg")};
  EXPECT_FALSE(app::LoadConfigFromFileReviewed(unit, {}));
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Invalid checksum in file"});
  EXPECT_TRUE(prompter.reviews.empty());
  EXPECT_TRUE(TakeRequests().empty());
}

TEST_F(ConfigReviewTest, SetLoadAfterReviewAsksWhichBasisAndSendsThePlainLoad) {
  unit.firmware.Parse("3.4.0.0");
  auto sixteen = [] {
    std::vector<std::map<std::string, std::string>> c(16, {{"owid", "2"}, {"eenc", "0"}, {"aenc", "0"}});
    return c;
  };
  std::vector<ConfigImage> images;
  for (std::uint32_t i = 1; i <= 16; ++i) images.push_back({i, {Num("owid", i % 6)}});
  WriteFile("set.cfg", BuildConfigSetFile(images));

  scripted.configs = sixteen();
  ASSERT_TRUE(LoadConfigSetFile(unit, dir.File("set.cfg"), {}));
  const auto plain = TakeRequests();
  prompter.messages.clear();
  unit.lastSetSave.reset();

  // No set saved: no question; the unit is read, then loaded.
  scripted.configs = sixteen();
  prompter.files = {dir.File("set.cfg")};
  prompter.reviewAnswers = {true};
  ASSERT_TRUE(app::LoadConfigSetReviewed(unit, {}));
  auto reviewed = TakeRequests();
  ASSERT_EQ(prompter.reviews.size(), 1u);
  const std::size_t reads = 2 + 16 * 2 + 2;  // glod read, girb, (glod, owid) x 16, glod back, girb
  ASSERT_EQ(reviewed.size(), reads + plain.size());
  EXPECT_EQ(std::vector<std::string>(reviewed.begin() + reads, reviewed.end()), plain);
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Config set loaded"});

  // A set saved from this unit: asked; Yes compares with it, Cancel sends nothing.
  auto saved = std::make_shared<SavedConfigSet>();
  saved->boardType = unit.boardType;
  saved->path = "saved.cfg";
  saved->images = images;
  unit.lastSetSave = saved;
  prompter.messages.clear();
  prompter.files = {dir.File("set.cfg")};
  prompter.answers = {Answer::Yes};
  EXPECT_FALSE(app::LoadConfigSetReviewed(unit, {}));
  EXPECT_TRUE(TakeRequests().empty());
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].title, "Alert");
  EXPECT_EQ(prompter.messages[0].text,
            "Compare the file with the config set saved last instead of reading every config from the unit?");
  EXPECT_TRUE(prompter.reviews.back().Same());
}

}  // namespace
