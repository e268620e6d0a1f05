// Which controls the operator changed since the last refresh: a page is
// loaded by a refresh from a scripted unit, the operator changes controls in
// memory, and the changes, their marks and their tooltips must follow what
// differs from the unit's values, kind by kind.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "params/apply.h"
#include "params/control_changes.h"
#include "params/memory_host.h"
#include "params/page_rules.h"
#include "params/refresh.h"
#include "support/fake_link.h"

using namespace vecta;
using namespace vecta::params;
using vecta::test::Bytes;
using vecta::test::FakeLink;
using vecta::test::ReplyFrame;
using Ids = std::vector<int>;

namespace {

// A unit on the fake line answering reads from `values` (wire values) and
// taking every write; writes are recorded as "aenc;5".
struct ScriptedUnit {
  explicit ScriptedUnit(std::string board) {
    EXPECT_EQ(f.link->OpenSerialPort(0), 0u);
    f.line().responder = [this](const Bytes& req) -> std::optional<Bytes> {
      const std::string text(req.begin() + 1, req.end() - 2);  // "0001rowid;;"
      const int address = std::stoi(text.substr(0, 4));
      const std::string mnemonic = text.substr(5, 4);
      if (text[4] == 'w') {
        writes.push_back(text.substr(5, text.size() - 6));
        return ReplyFrame(address, '1', "");
      }
      auto it = values.find(mnemonic);
      if (it == values.end()) return ReplyFrame(address, 'E', "");
      return ReplyFrame(address, '1', it->second);
    };
    ctx.link = f.link.get();
    ctx.clock = &f.clock;
    ctx.tables = &tables;
    ctx.boardType = std::move(board);
  }

  // Refreshes `page` from the unit.
  void Load(MemoryHost& page) { Refresh(ctx, tables.main, page); }
  Ids Changed(MemoryHost& page) { return UnappliedControls(tables.main, page, ctx.variant()); }
  ParamRow& Row(int control) { return *tables.main.FindControl(control); }

  FakeLink f;
  ParamTables tables;
  UnitContext ctx;
  // Wire values of a unit at rest.
  std::map<std::string, std::string> values = {
      {"oout", "1"},         {"ofec", "1"},   {"ogua", "1"},   {"omod", "0"},    {"ofre", "1250"},
      {"owid", "2"},         {"ohls", "1"},   {"olev", "637"}, {"ollv", "1274"}, {"odfe", "0"},
      {"odgu", "0"},         {"odmo", "0"},   {"ospe", "0"},   {"o4ko", "0"},    {"zscr", "3"},
      {"vinp", "1"},         {"aenc", "13"},  {"a1en", "3"},   {"a2en", "3"},    {"ampr", "2"},
      {"alev", "1"},         {"asrc", "0"},   {"a1in", "0"},   {"a2in", "1"},    {"aen2", "0"},
      {"gnam", "Unit 7"},    {"gsle", "0"},   {"dinp", "0"},   {"dbau", "3"},    {"cinp", "0"},
      {"ccha", "0"},         {"cout", "0"},   {"gosw", "0"},   {"evid", "4.5"},  {"evbr", "0"},
      {"eenc", "0"},         {"ecmd", "0"},   {"ehor", "1"},   {"efrm", "0"},    {"esha", "0"},
      {"epro", "0"},         {"gdna", "Svc"}, {"gblo", "0"},   {"glod", "003"},  {"vloc", "1"},
      {"gver", "V3.10.2.1"}, {"gfpg", "12"},  {"gser", "A1"},  {"csta", "2"},    {"gtmp", "45"},
      {"gvnt", "12"},        {"gvax", "33"},  {"meta", "0"},   {"mbit", "1500"}, {"sver", ""},
      {"otxm", "0"}};
  std::vector<std::string> writes;
};

MemoryHost FullPage(const ParamTable& table) {
  MemoryHost host = MemoryHost::ForTable(MainTableRows());
  InitPage(host, table);
  return host;
}

// =========================================================== per kind

TEST(ControlChanges, AFreshlyRefreshedPageHasNoChanges) {
  ScriptedUnit u("K240");
  MemoryHost page = FullPage(u.tables.main);
  u.Load(page);
  EXPECT_EQ(u.Changed(page), Ids{});
  EXPECT_EQ(MarkUnappliedControls(u.tables.main, page, u.ctx.variant()), 0);
  EXPECT_FALSE(page.IsMarked(ids::kOutputFrequency));
}

TEST(ControlChanges, TextListAndTickDifferFromTheStoredValueInTableOrder) {
  ScriptedUnit u("K240");
  MemoryHost page = FullPage(u.tables.main);
  u.Load(page);
  ASSERT_EQ(page.Text(ids::kOutputFrequency), "1250.00");
  const int unitScrambling = page.Selected(ids::kScrambling);
  ASSERT_GT(unitScrambling, 0);
  ASSERT_FALSE(page.Checked(ids::kManual));

  page.SetText(ids::kUnitName, "Studio");
  page.Select(ids::kScrambling, 0);
  page.SetChecked(ids::kManual, true);
  page.SetText(ids::kOutputFrequency, "1251");
  // Table order: ofre, zscr, gnam ... evbr.
  const Ids changed = u.Changed(page);
  EXPECT_EQ(changed, (Ids{ids::kOutputFrequency, ids::kScrambling, ids::kUnitName, ids::kManual}));
  EXPECT_TRUE(ShownValueDiffers(u.Row(ids::kScrambling), page));

  EXPECT_EQ(MarkUnappliedControls(u.tables.main, page, u.ctx.variant()), 4);
  EXPECT_TRUE(page.IsMarked(ids::kOutputFrequency));
  EXPECT_EQ(page.MarkTip(ids::kOutputFrequency), "Unit's value: 1250.00");
  EXPECT_EQ(page.MarkTip(ids::kScrambling), "Unit's value: " + page.EntryText(ids::kScrambling, unitScrambling));
  EXPECT_EQ(page.MarkTip(ids::kUnitName), "Unit's value: Unit 7");
  EXPECT_EQ(page.MarkTip(ids::kManual), "Unit's value: not ticked");
  EXPECT_FALSE(page.IsMarked(ids::kSoftwareVersion));
}

TEST(ControlChanges, AChangeBackToTheUnitsValueClearsItsMark) {
  ScriptedUnit u("K240");
  MemoryHost page = FullPage(u.tables.main);
  u.Load(page);
  const int unitScrambling = page.Selected(ids::kScrambling);
  page.Select(ids::kScrambling, unitScrambling + 1);
  page.SetText(ids::kUnitName, "Studio");
  ASSERT_EQ(MarkUnappliedControls(u.tables.main, page, u.ctx.variant()), 2);
  page.Select(ids::kScrambling, unitScrambling);
  EXPECT_EQ(MarkUnappliedControls(u.tables.main, page, u.ctx.variant()), 1);
  EXPECT_FALSE(page.IsMarked(ids::kScrambling));
  EXPECT_EQ(page.MarkTip(ids::kScrambling), "");
  EXPECT_TRUE(page.IsMarked(ids::kUnitName));
}

TEST(ControlChanges, ARefreshAfterTheUnitTookTheChangeClearsEveryMark) {
  ScriptedUnit u("K240");
  MemoryHost page = FullPage(u.tables.main);
  u.Load(page);
  page.SetText(ids::kUnitName, "Studio");
  page.Select(ids::kScrambling, 0);
  ASSERT_EQ(MarkUnappliedControls(u.tables.main, page, u.ctx.variant()), 2);
  ASSERT_GT(Apply(u.ctx, u.tables.main, page), 0);
  EXPECT_EQ(u.writes, (std::vector<std::string>{"zscr;0", "gnam;Studio"}));
  u.values["gnam"] = "Studio";
  u.values["zscr"] = "0";
  u.Load(page);
  EXPECT_EQ(MarkUnappliedControls(u.tables.main, page, u.ctx.variant()), 0);
  EXPECT_FALSE(page.IsMarked(ids::kUnitName));
  EXPECT_FALSE(page.IsMarked(ids::kScrambling));
}

TEST(ControlChanges, ARefreshTheUnitRefusedShowsItsValueAgainAndClearsTheMark) {
  ScriptedUnit u("K240");
  MemoryHost page = FullPage(u.tables.main);
  u.Load(page);
  page.SetText(ids::kUnitName, "Studio");
  ASSERT_EQ(u.Changed(page), Ids{ids::kUnitName});
  u.Load(page);  // the unit still holds "Unit 7"
  EXPECT_EQ(page.Text(ids::kUnitName), "Unit 7");
  EXPECT_EQ(u.Changed(page), Ids{});
}

// The "Manual" box and its bitrate: one setting, counted once, marked where
// it differs; the bitrate counts only while the box is ticked.
TEST(ControlChanges, TheManualBitrateIsOneSettingWithItsBox) {
  ScriptedUnit u("K240");
  u.values["evbr"] = "4500";
  MemoryHost page = FullPage(u.tables.main);
  u.Load(page);
  ASSERT_TRUE(page.Checked(ids::kManual));
  struct Case {
    bool ticked;
    const char* bitrate;
    Ids changed;
    bool boxMarked, rateMarked;
  };
  const Case cases[] = {
      {true, "4.50", {}, false, false},  // the same kbit/s
      {true, "7.0", {ids::kManual}, false, true},
      {false, "7.0", {ids::kManual}, true, false},
      {false, "4.5", {ids::kManual}, true, false},
  };
  for (const Case& c : cases) {
    page.SetChecked(ids::kManual, c.ticked);
    page.SetText(ids::kVideoBitrate, c.bitrate);
    EXPECT_EQ(u.Changed(page), c.changed) << c.ticked << " " << c.bitrate;
    EXPECT_EQ(MarkUnappliedControls(u.tables.main, page, u.ctx.variant()), static_cast<int>(c.changed.size()));
    EXPECT_EQ(page.IsMarked(ids::kManual), c.boxMarked) << c.ticked << " " << c.bitrate;
    EXPECT_EQ(page.IsMarked(ids::kVideoBitrate), c.rateMarked) << c.ticked << " " << c.bitrate;
  }
  page.SetChecked(ids::kManual, true);
  page.SetText(ids::kVideoBitrate, "7.0");
  MarkUnappliedControls(u.tables.main, page, u.ctx.variant());
  EXPECT_EQ(page.MarkTip(ids::kVideoBitrate), "Unit's value: 4.5");
}

// ======================================================= what does not count

TEST(ControlChanges, ReadOnlyRowsAndRowsOfOtherVariantsNeverCount) {
  ScriptedUnit u("K240");
  MemoryHost page = FullPage(u.tables.main);
  u.Load(page);
  page.SetText(ids::kSoftwareVersion, "V9");  // read-only
  page.Select(ids::kK610VideoInput, 3);       // K610 only
  EXPECT_EQ(u.Changed(page), Ids{});
  EXPECT_TRUE(ShownValueDiffers(u.Row(ids::kSoftwareVersion), page));  // it differs, but nobody can type there
}

TEST(ControlChanges, AControlTheWindowLacksIsNoChange) {
  ScriptedUnit u("K240");
  MemoryHost page(std::vector<int>{ids::kUnitName});
  InitPage(page, u.tables.main);
  u.Load(page);
  EXPECT_EQ(u.Changed(page), Ids{});
  EXPECT_FALSE(ShownValueDiffers(u.Row(ids::kScrambling), page));
  page.SetText(ids::kUnitName, "Studio");
  EXPECT_EQ(u.Changed(page), Ids{ids::kUnitName});
}

TEST(ControlChanges, TheAudioSwitchThatApplyRewritesIsNoOperatorChange) {
  ScriptedUnit u("K240");
  u.values["aenc"] = "2";  // on, but not the setting "On" stands for
  MemoryHost page = FullPage(u.tables.main);
  u.Load(page);
  ASSERT_EQ(page.Selected(ids::kAudio), 1);
  EXPECT_EQ(u.Changed(page), Ids{});
  // Apply still rewrites it: that is its own rule, not the operator's.
  Apply(u.ctx, u.tables.main, page);
  EXPECT_EQ(u.writes, (std::vector<std::string>{"aenc;5"}));
}

TEST(ControlChanges, TheResolutionShowingTheUnitsSmallSizeIsNoChange) {
  ScriptedUnit u("K240");
  u.values["eenc"] = "1";  // MPEG4
  u.values["ecmd"] = "5";  // encoding at QSIF
  MemoryHost page = FullPage(u.tables.main);
  u.Load(page);
  ASSERT_EQ(page.SelectedText(ids::kResolution), "QSIF");
  ASSERT_EQ(page.Selected(ids::kMpeg4EncodingMode), -1);  // mode 5 has no entry there
  EXPECT_EQ(u.Changed(page), Ids{});

  page.Select(ids::kResolution, 0);
  EXPECT_EQ(u.Changed(page), Ids{ids::kResolution});
  MarkUnappliedControls(u.tables.main, page, u.ctx.variant());
  // The stored size, as the list names it for the PAL input.
  EXPECT_EQ(page.MarkTip(ids::kResolution), "Unit's value: 528 x 576");
}

TEST(ControlChanges, WithNothingReadNoControlCountsWhateverItHolds) {
  ScriptedUnit u("K240");
  MemoryHost page = FullPage(u.tables.main);  // never refreshed
  page.SetText(ids::kUnitName, "Studio");
  page.Select(ids::kScrambling, 1);
  EXPECT_EQ(u.Changed(page), Ids{});
  EXPECT_EQ(MarkUnappliedControls(u.tables.main, page, u.ctx.variant()), 0);
  EXPECT_FALSE(page.IsMarked(ids::kUnitName));
}

TEST(ControlChanges, TheSatelliteModulatorTableCountsItsOwnControls) {
  ScriptedUnit u("K240");
  u.values = {{"smod", "2"}, {"scar", "1100"}, {"sdel", "1"}};
  MemoryHost page = MemoryHost::ForTable(SatmodTableRows());
  InitPage(page, u.tables.satmod);
  Refresh(u.ctx, u.tables.satmod, page);
  ASSERT_EQ(page.SelectedText(ids::kSatModulation), "16QAM");
  EXPECT_EQ(UnappliedControls(u.tables.satmod, page, u.ctx.variant()), Ids{});
  page.Select(ids::kSatModulation, 0);
  page.SetChecked(ids::kEnableDescriptors, false);
  EXPECT_EQ(MarkUnappliedControls(u.tables.satmod, page, u.ctx.variant()), 2);
  EXPECT_EQ(page.MarkTip(ids::kSatModulation), "Unit's value: 16QAM");
  EXPECT_EQ(page.MarkTip(ids::kEnableDescriptors), "Unit's value: ticked");
}

TEST(ControlChanges, TheCountReadsAsTheSystemSaysIt) {
  EXPECT_EQ(UnappliedChangesText(0), "");
  EXPECT_EQ(UnappliedChangesText(1), "1 unapplied change");
  EXPECT_EQ(UnappliedChangesText(2), "2 unapplied changes");
  EXPECT_EQ(UnappliedChangesText(17), "17 unapplied changes");
}

}  // namespace
