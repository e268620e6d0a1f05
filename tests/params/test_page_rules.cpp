// The rules by which the settings pages' controls react to each other, on
// in-memory windows: the live rules as the windows forward their
// notifications, and the load rules when a newly opened Advanced options
// window is filled from the cached values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "params/memory_host.h"
#include "params/page_rules.h"
#include "params/refresh.h"
#include "support/fake_link.h"

using namespace vecta;
using namespace vecta::params;

namespace {

using Entries = std::vector<std::string>;
const Entries k576 = {"704 x 576", "528 x 576", "480 x 576", "352 x 576"};
const Entries k480 = {"704 x 480", "528 x 480", "480 x 480", "352 x 480"};
Entries With(Entries e, std::initializer_list<std::string> more) {
  e.insert(e.end(), more);
  return e;
}

struct Rig {
  Rig() {
    ctx.tables = &tables;
    ctx.boardType = "K240";
    InitPage(advanced, tables.main);
    InitPage(mainPage, tables.main);
  }
  // Stores a wire value as a refresh would.
  void Store(const char* mnemonic, const char* wire, int control = 0) {
    StoreReply(*tables.main.Find(mnemonic, control), wire, &ctx.firmware);
  }
  Entries Resolution() const { return advanced.Find(1221)->entries; }

  ParamTables tables;
  UnitContext ctx;
  MemoryHost advanced = MemoryHost::ForTable(MainTableSpec());
  MemoryHost mainPage{std::vector<int>{1301, 1230, 1227, 1212, 1236, 1237, 1231, 1093, 1094, 1211}};
};

// ---- Picture sizes

TEST(PictureSizes, PalInputsUseThe576LineSet) {
  for (int pal : {1, 4, 7}) EXPECT_EQ(&PictureSizesFor(pal), &k576LineSizes) << pal;
  for (int other : {0, 2, 3, 5, 6, 8, 0xFFFF}) EXPECT_EQ(&PictureSizesFor(other), &k480LineSizes) << other;
  EXPECT_EQ(k576LineSizes[3], "352 x 576");
  EXPECT_EQ(k480LineSizes[0], "704 x 480");
}

// ---- HD input format beside the K610 video input

TEST(PageRules, K610VideoInputShowsHdFormatOnlyForHdInputs) {
  Rig r;
  for (auto [position, shown] : std::vector<std::pair<int, bool>>{{12, true}, {7, false}, {11, true}, {10, false}, {0, false}}) {
    r.mainPage.Select(1236, position);
    OnMainVideoInputChanged(r.ctx, r.mainPage, nullptr, 1236);
    EXPECT_EQ(r.mainPage.IsVisible(1237), shown) << position;
  }
}

// ---- Video input refits the resolution sizes

TEST(PageRules, VideoInputChangeKeepsSifSelectedAndRefitsSizes) {
  Rig r;
  r.Store("vinp", "2");  // PAL
  r.ctx.rules.encoderIndex = 1;
  r.ctx.rules.encodingMode = 4;
  LoadResolution(r.ctx, r.advanced, 0);
  ASSERT_EQ(r.Resolution(), With(k576, {"SIF", "QSIF"}));
  ASSERT_EQ(r.advanced.SelectedText(1221), "SIF");

  r.mainPage.Select(1212, 2);  // NTSC
  OnMainVideoInputChanged(r.ctx, r.mainPage, &r.advanced, 1212);
  EXPECT_EQ(r.Resolution(), With(k480, {"SIF", "QSIF"}));
  EXPECT_EQ(r.advanced.SelectedText(1221), "SIF");

  // The same from the "Video" page's own list.
  r.advanced.Select(1212, 7);  // SDI PAL
  OnAdvancedNotification(r.ctx, r.advanced, 1212);
  EXPECT_EQ(r.Resolution(), With(k576, {"SIF", "QSIF"}));
  EXPECT_EQ(r.advanced.Selected(1221), 4);
}

TEST(PageRules, VideoInputChangeKeepsAFullSizeSelected) {
  Rig r;
  r.Store("vinp", "2");  // PAL
  LoadResolution(r.ctx, r.advanced, 2);
  ASSERT_EQ(r.advanced.SelectedText(1221), "480 x 576");
  r.mainPage.Select(1212, 8);  // SDI NTSC
  OnMainVideoInputChanged(r.ctx, r.mainPage, &r.advanced, 1212);
  EXPECT_EQ(r.Resolution(), k480);
  EXPECT_EQ(r.advanced.SelectedText(1221), "480 x 480");
}

TEST(PageRules, VideoInputChangeWithoutAdvancedWindowChangesNothingElse) {
  Rig r;
  r.mainPage.Select(1212, 2);
  r.mainPage.Show(1237, false);
  OnMainVideoInputChanged(r.ctx, r.mainPage, nullptr, 1212);
  EXPECT_EQ(r.mainPage.Selected(1212), 2);
  EXPECT_FALSE(r.mainPage.IsVisible(1237));
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 0);
  EXPECT_EQ(r.Resolution(), (Entries{"704", "528", "480", "352"}));  // the window was not touched
}

// ---- Manual and the bitrate edit

TEST(PageRules, ManualEnablesTheBitrateEdit) {
  Rig r;
  r.advanced.SetChecked(1042, true);
  OnAdvancedCheckClicked(r.ctx, r.advanced, 1042);
  EXPECT_TRUE(r.advanced.IsEnabled(1304));
  r.advanced.SetChecked(1042, false);
  OnAdvancedCheckClicked(r.ctx, r.advanced, 1042);
  EXPECT_FALSE(r.advanced.IsEnabled(1304));
  r.advanced.SetChecked(1042, true);
  OnAdvancedCheckClicked(r.ctx, r.advanced, 1124);  // another box
  EXPECT_FALSE(r.advanced.IsEnabled(1304));
}

// ---- Audio encoder and its rate lists

TEST(PageRules, AudioEncoderPicksTheRateList) {
  Rig r;
  r.advanced.Select(1213, 13);  // MPEG Layer 2 32kHz Stereo
  OnAdvancedNotification(r.ctx, r.advanced, 1213);
  EXPECT_TRUE(r.advanced.IsVisible(1234));
  EXPECT_FALSE(r.advanced.IsVisible(1233));
  EXPECT_EQ(r.advanced.EntryText(1234, 0), "32kbits/s");
  EXPECT_EQ(r.advanced.EntryText(1234, 13), "384kbits/s");
  r.advanced.Select(1213, 12);  // MPEG Layer 1 48KHz Mono
  OnAdvancedNotification(r.ctx, r.advanced, 1213);
  EXPECT_TRUE(r.advanced.IsVisible(1233));
  EXPECT_FALSE(r.advanced.IsVisible(1234));
  EXPECT_EQ(r.advanced.EntryText(1233, 13), "448kbits/s");
}

// ---- MPEG mode

TEST(PageRules, Mpeg4AddsSifAndSelectsTheUnitsSmallSize) {
  Rig r;
  r.ctx.rules.encodingMode = 5;
  r.ctx.rules.resolutionIndex = 1;
  LoadResolution(r.ctx, r.advanced, 1);  // MPEG2: four sizes
  r.advanced.Select(1222, 1);
  OnAdvancedNotification(r.ctx, r.advanced, 1222);
  EXPECT_EQ(r.ctx.rules.encoderIndex, 1);
  EXPECT_EQ(r.Resolution(), With(k480, {"SIF", "QSIF"}));
  EXPECT_EQ(r.advanced.SelectedText(1221), "QSIF");
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 5);
  EXPECT_FALSE(r.advanced.IsEnabled(1223));
}

TEST(PageRules, Mpeg4AtAFullSizeEnablesTheEncodingMode) {
  Rig r;
  r.ctx.rules.encodingMode = 2;
  LoadResolution(r.ctx, r.advanced, 3);
  r.advanced.Enable(1223, false);
  r.advanced.Select(1222, 1);
  OnAdvancedNotification(r.ctx, r.advanced, 1222);
  EXPECT_EQ(r.Resolution(), With(k480, {"SIF", "QSIF"}));
  EXPECT_EQ(r.advanced.SelectedText(1221), "352 x 480");
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 3);
  EXPECT_TRUE(r.advanced.IsEnabled(1223));
}

TEST(PageRules, Mpeg2RemovesSifAndGoesBackToTheReadResolution) {
  Rig r;
  r.Store("ehor", "2", 1221);
  r.ctx.rules.encoderIndex = 1;
  r.ctx.rules.encodingMode = 5;
  LoadResolution(r.ctx, r.advanced, 2);
  ASSERT_EQ(r.advanced.SelectedText(1221), "QSIF");
  r.advanced.Select(1222, 0);
  OnAdvancedNotification(r.ctx, r.advanced, 1222);
  EXPECT_EQ(r.ctx.rules.encoderIndex, 0);
  EXPECT_EQ(r.Resolution(), k480);
  EXPECT_EQ(r.advanced.SelectedText(1221), "480 x 480");
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 2);
  EXPECT_FALSE(r.advanced.IsEnabled(1223));
}

TEST(PageRules, Mpeg2WithoutAReadResolutionSelectsNothing) {
  Rig r;
  r.ctx.rules.encoderIndex = 1;
  LoadResolution(r.ctx, r.advanced, 0);
  r.advanced.Select(1222, 0);
  OnAdvancedNotification(r.ctx, r.advanced, 1222);
  EXPECT_EQ(r.ctx.rules.resolutionIndex, kNoStoredPosition);
  EXPECT_EQ(r.advanced.Selected(1221), -1);
  EXPECT_EQ(r.advanced.EntryCount(1221), 4);
}

// ---- Resolution

TEST(PageRules, FullSizeAfterQsifResetsTheEncodingMode) {
  Rig r;
  r.Store("vinp", "2");
  r.ctx.rules.encoderIndex = 1;
  r.ctx.rules.encodingMode = 5;
  LoadResolution(r.ctx, r.advanced, 0);
  r.advanced.Select(1223, 3);
  r.advanced.Enable(1223, false);
  r.advanced.Select(1221, 0);  // 704 x 576
  OnAdvancedNotification(r.ctx, r.advanced, 1221);
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 0);
  EXPECT_EQ(r.ctx.rules.encodingMode, 0);
  EXPECT_EQ(r.advanced.SelectedText(1223), "Low delay interlaced");
  EXPECT_TRUE(r.advanced.IsEnabled(1223));
}

TEST(PageRules, ResolutionChoiceEnablesEncodingModeOnlyForMpeg4FullSizes) {
  Rig r;
  r.ctx.rules.encoderIndex = 1;
  r.ctx.rules.encodingMode = 2;
  LoadResolution(r.ctx, r.advanced, 0);
  r.advanced.Select(1223, 2);
  r.advanced.Select(1221, 4);  // SIF
  OnAdvancedNotification(r.ctx, r.advanced, 1221);
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 4);
  EXPECT_FALSE(r.advanced.IsEnabled(1223));
  EXPECT_EQ(r.advanced.Selected(1223), 2);  // a full-size mode stays as it was
  EXPECT_EQ(r.ctx.rules.encodingMode, 2);

  r.advanced.Select(1221, 1);
  OnAdvancedNotification(r.ctx, r.advanced, 1221);
  EXPECT_TRUE(r.advanced.IsEnabled(1223));

  r.ctx.rules.encoderIndex = 0;
  r.advanced.Select(1221, 2);
  OnAdvancedNotification(r.ctx, r.advanced, 1221);
  EXPECT_FALSE(r.advanced.IsEnabled(1223));
}

TEST(PageRules, SifAfterQsifKeepsTheUnitsEncodingMode) {
  Rig r;
  r.ctx.rules.encoderIndex = 1;
  r.ctx.rules.encodingMode = 5;
  LoadResolution(r.ctx, r.advanced, 0);
  r.advanced.Select(1223, 3);
  r.advanced.Select(1221, 4);  // SIF
  OnAdvancedNotification(r.ctx, r.advanced, 1221);
  EXPECT_EQ(r.ctx.rules.encodingMode, 5);
  EXPECT_EQ(r.advanced.Selected(1223), 3);
  EXPECT_FALSE(r.advanced.IsEnabled(1223));
}

TEST(PageRules, OtherNotificationsDoNothing) {
  Rig r;
  r.ctx.rules = {3, 1, 4, std::nullopt};
  LoadResolution(r.ctx, r.advanced, 3);
  const Entries before = r.Resolution();
  r.advanced.Select(1204, 4);
  for (int id : {1204, 1200, 1300, 1301, 1223, 1083}) OnAdvancedNotification(r.ctx, r.advanced, id);
  OnMainVideoInputChanged(r.ctx, r.mainPage, &r.advanced, 1227);
  EXPECT_EQ(r.Resolution(), before);
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 4);
  EXPECT_EQ(r.ctx.rules.encoderIndex, 1);
  EXPECT_EQ(r.ctx.rules.encodingMode, 4);
  EXPECT_TRUE(r.advanced.IsVisible(1233));
  EXPECT_TRUE(r.advanced.IsVisible(1234));
}

TEST(PageRules, RulesIgnoreAbsentControls) {
  UnitContext ctx;  // no tables either
  MemoryHost empty;
  OnAdvancedNotification(ctx, empty, 1212);
  OnAdvancedNotification(ctx, empty, 1221);
  OnAdvancedNotification(ctx, empty, 1222);
  OnAdvancedCheckClicked(ctx, empty, 1042);
  LoadResolution(ctx, empty, 2);
  FillAdvancedFromCache(ctx, empty);
  EXPECT_FALSE(empty.HasControl(1221));
  EXPECT_EQ(ctx.rules.resolutionIndex, kNoStoredPosition);  // set by the MPEG2 rule
}

// ---- Rules while loading

TEST(LoadRules, HdFormatFollowsLoadedVideoInputInTheLoadedWindowOnly) {
  Rig r;
  r.ctx.boardType = "K610";
  r.Store("vinp", "13", 1236);  // HD HDMI
  const ParamRow& vinp = *r.tables.main.Find("vinp", 1236);
  r.advanced.Show(1237, false);
  r.mainPage.Show(1237, false);
  LoadRuleAfter(r.ctx, vinp, r.mainPage, &r.advanced);
  EXPECT_TRUE(r.mainPage.IsVisible(1237));
  EXPECT_FALSE(r.advanced.IsVisible(1237));
}

TEST(LoadRules, LoadedEncoderAndModeAreRemembered) {
  Rig r;
  r.Store("eenc", "1", 1222);
  r.Store("ecmd", "4", 1223);
  RememberLoadedValue(r.ctx.rules, *r.tables.main.Find("eenc", 1222));
  RememberLoadedValue(r.ctx.rules, *r.tables.main.Find("ecmd", 1223));
  EXPECT_EQ(r.ctx.rules.encoderIndex, 1);
  EXPECT_EQ(r.ctx.rules.encodingMode, 4);
  r.Store("ecmd", "2", 1240);
  RememberLoadedValue(r.ctx.rules, *r.tables.main.Find("ecmd", 1240));
  EXPECT_EQ(r.ctx.rules.encodingMode, 2);
  r.Store("ehor", "3", 1221);
  RememberLoadedValue(r.ctx.rules, *r.tables.main.Find("ehor", 1221));
  EXPECT_EQ(r.ctx.rules.encodingMode, 2);
  EXPECT_EQ(r.ctx.rules.encoderIndex, 1);
}

// ---- Filling a newly opened Advanced options window

TEST(FillAdvanced, ShowsCachedValuesByKind) {
  Rig r;
  r.Store("gnam", "Unit 9");
  r.Store("zscr", "6");
  r.Store("csta", "2");
  r.Store("evbr", "1");
  r.Store("olev", "637");
  FillAdvancedFromCache(r.ctx, r.advanced);
  EXPECT_EQ(r.advanced.Text(1303), "Unit 9");
  EXPECT_EQ(r.advanced.SelectedText(1211), "AES256");
  EXPECT_EQ(r.advanced.Text(1311), "Overflow");
  EXPECT_EQ(r.advanced.Text(1300), "6.02");
  EXPECT_TRUE(r.advanced.Checked(1042));
  EXPECT_TRUE(r.advanced.IsVisible(1042));
  EXPECT_TRUE(r.advanced.IsEnabled(1304));
  // Rows without a value leave their controls alone.
  EXPECT_EQ(r.advanced.Selected(1204), -1);
  EXPECT_EQ(r.advanced.Text(1309), "");
}

TEST(FillAdvanced, ManualWithoutAValueIsHidden) {
  Rig r;
  r.advanced.Enable(1304, true);
  FillAdvancedFromCache(r.ctx, r.advanced);
  EXPECT_FALSE(r.advanced.IsVisible(1042));
  EXPECT_FALSE(r.advanced.IsEnabled(1304));

  Rig off;
  off.Store("evbr", "0");
  off.advanced.Enable(1304, true);
  FillAdvancedFromCache(off.ctx, off.advanced);
  EXPECT_TRUE(off.advanced.IsVisible(1042));
  EXPECT_FALSE(off.advanced.Checked(1042));
  EXPECT_FALSE(off.advanced.IsEnabled(1304));
}

TEST(FillAdvanced, RateListsFollowCachedEncoders) {
  Rig r;
  r.Store("aenc", "15");
  r.Store("a1en", "3");
  r.Store("a2en", "1");
  FillAdvancedFromCache(r.ctx, r.advanced);
  EXPECT_TRUE(r.advanced.IsVisible(1234));
  EXPECT_FALSE(r.advanced.IsVisible(1233));
  EXPECT_TRUE(r.advanced.IsVisible(1090));
  EXPECT_FALSE(r.advanced.IsVisible(1089));
  EXPECT_TRUE(r.advanced.IsVisible(1091));
  EXPECT_FALSE(r.advanced.IsVisible(1092));
  EXPECT_EQ(r.advanced.SelectedText(1213), "MPEG Layer 2 48kHz Stereo");
}

TEST(FillAdvanced, Mpeg4AtQsifShowsSixSizesAndDisablesEncodingMode) {
  Rig r;
  r.Store("vinp", "5");  // S-Video PAL
  r.Store("eenc", "1", 1222);
  r.Store("ecmd", "5", 1223);
  r.Store("ehor", "0", 1221);
  r.ctx.rules.encoderIndex = 1;  // remembered from the last refresh
  r.ctx.rules.encodingMode = 5;
  FillAdvancedFromCache(r.ctx, r.advanced);
  EXPECT_EQ(r.Resolution(), With(k576, {"SIF", "QSIF"}));
  EXPECT_EQ(r.advanced.SelectedText(1221), "QSIF");
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 5);
  EXPECT_FALSE(r.advanced.IsEnabled(1223));
  EXPECT_EQ(r.advanced.SelectedText(1222), "MPEG4");
}

TEST(FillAdvanced, EncodingModeByEncoderWhenTheWindowOpens) {
  Rig mpeg4;
  mpeg4.Store("ehor", "1", 1221);
  mpeg4.ctx.rules.encoderIndex = 1;
  mpeg4.ctx.rules.encodingMode = 1;
  FillAdvancedFromCache(mpeg4.ctx, mpeg4.advanced);
  EXPECT_TRUE(mpeg4.advanced.IsEnabled(1223));
  EXPECT_EQ(mpeg4.Resolution(), With(k480, {"SIF", "QSIF"}));
  EXPECT_EQ(mpeg4.advanced.SelectedText(1221), "528 x 480");

  Rig mpeg2;
  mpeg2.Store("ehor", "1", 1221);
  mpeg2.ctx.rules.encoderIndex = 0;
  mpeg2.ctx.rules.encodingMode = 1;
  FillAdvancedFromCache(mpeg2.ctx, mpeg2.advanced);
  EXPECT_FALSE(mpeg2.advanced.IsEnabled(1223));
  EXPECT_EQ(mpeg2.Resolution(), k480);
  EXPECT_EQ(mpeg2.ctx.rules.resolutionIndex, 1);
}

TEST(FillAdvanced, SendsNothingToTheUnit) {
  test::FakeLink f;
  ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
  Rig r;
  r.ctx.link = f.link.get();
  r.Store("gnam", "x");
  FillAdvancedFromCache(r.ctx, r.advanced);
  EXPECT_TRUE(f.line().writes.empty());
  EXPECT_EQ(r.advanced.Text(1303), "x");
}

}  // namespace
