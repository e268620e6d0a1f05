// The rules by which the settings pages' controls react to each other, on
// in-memory windows: the live rules as the windows forward their
// notifications, and the load rules when a newly opened Advanced options
// window is filled from the cached values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "params/control_ids.h"
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
  Entries Resolution() const { return advanced.Find(ids::kResolution)->entries; }

  ParamTables tables;
  UnitContext ctx;
  MemoryHost advanced = MemoryHost::ForTable(MainTableRows());
  MemoryHost mainPage{std::vector<int>{ids::kOutputFrequency, ids::kBandwidthMode, ids::kPresetTransmitMode,
                                       ids::kVideoInput, ids::kK610VideoInput, ids::kHdInputFormat, ids::kAudio,
                                       ids::kAudioEncoder1Source, ids::kAudioEncoder2Source, ids::kScrambling}};
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
  for (auto [position, shown] :
       std::vector<std::pair<int, bool>>{{12, true}, {7, false}, {11, true}, {10, false}, {0, false}}) {
    r.mainPage.Select(ids::kK610VideoInput, position);
    OnMainVideoInputChanged(r.ctx, r.mainPage, nullptr, ids::kK610VideoInput);
    EXPECT_EQ(r.mainPage.IsVisible(ids::kHdInputFormat), shown) << position;
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
  ASSERT_EQ(r.advanced.SelectedText(ids::kResolution), "SIF");

  r.mainPage.Select(ids::kVideoInput, 2);  // NTSC
  OnMainVideoInputChanged(r.ctx, r.mainPage, &r.advanced, ids::kVideoInput);
  EXPECT_EQ(r.Resolution(), With(k480, {"SIF", "QSIF"}));
  EXPECT_EQ(r.advanced.SelectedText(ids::kResolution), "SIF");

  // The same from the "Video" page's own list.
  r.advanced.Select(ids::kVideoInput, 7);  // SDI PAL
  OnAdvancedNotification(r.ctx, r.advanced, ids::kVideoInput);
  EXPECT_EQ(r.Resolution(), With(k576, {"SIF", "QSIF"}));
  EXPECT_EQ(r.advanced.Selected(ids::kResolution), 4);
}

TEST(PageRules, VideoInputChangeKeepsAFullSizeSelected) {
  Rig r;
  r.Store("vinp", "2");  // PAL
  LoadResolution(r.ctx, r.advanced, 2);
  ASSERT_EQ(r.advanced.SelectedText(ids::kResolution), "480 x 576");
  r.mainPage.Select(ids::kVideoInput, 8);  // SDI NTSC
  OnMainVideoInputChanged(r.ctx, r.mainPage, &r.advanced, ids::kVideoInput);
  EXPECT_EQ(r.Resolution(), k480);
  EXPECT_EQ(r.advanced.SelectedText(ids::kResolution), "480 x 480");
}

TEST(PageRules, VideoInputChangeWithoutAdvancedWindowChangesNothingElse) {
  Rig r;
  r.mainPage.Select(ids::kVideoInput, 2);
  r.mainPage.Show(ids::kHdInputFormat, false);
  OnMainVideoInputChanged(r.ctx, r.mainPage, nullptr, ids::kVideoInput);
  EXPECT_EQ(r.mainPage.Selected(ids::kVideoInput), 2);
  EXPECT_FALSE(r.mainPage.IsVisible(ids::kHdInputFormat));
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 0);
  EXPECT_EQ(r.Resolution(), (Entries{"704", "528", "480", "352"}));  // the window was not touched
}

// ---- Manual and the bitrate edit

TEST(PageRules, ManualEnablesTheBitrateEdit) {
  Rig r;
  r.advanced.SetChecked(ids::kManual, true);
  OnAdvancedCheckClicked(r.ctx, r.advanced, ids::kManual);
  EXPECT_TRUE(r.advanced.IsEnabled(ids::kVideoBitrate));
  r.advanced.SetChecked(ids::kManual, false);
  OnAdvancedCheckClicked(r.ctx, r.advanced, ids::kManual);
  EXPECT_FALSE(r.advanced.IsEnabled(ids::kVideoBitrate));
  r.advanced.SetChecked(ids::kManual, true);
  OnAdvancedCheckClicked(r.ctx, r.advanced, ids::kTotalPtsOffset);  // another box
  EXPECT_FALSE(r.advanced.IsEnabled(ids::kVideoBitrate));
}

// ---- Audio encoder and its rate lists

TEST(PageRules, AudioEncoderPicksTheRateList) {
  Rig r;
  r.advanced.Select(ids::kAudioEncoder, 13);  // MPEG Layer 2 32kHz Stereo
  OnAdvancedNotification(r.ctx, r.advanced, ids::kAudioEncoder);
  EXPECT_TRUE(r.advanced.IsVisible(ids::kLayer2AudioRate));
  EXPECT_FALSE(r.advanced.IsVisible(ids::kLayer1AudioRate));
  EXPECT_EQ(r.advanced.EntryText(ids::kLayer2AudioRate, 0), "32kbits/s");
  EXPECT_EQ(r.advanced.EntryText(ids::kLayer2AudioRate, 13), "384kbits/s");
  r.advanced.Select(ids::kAudioEncoder, 12);  // MPEG Layer 1 48KHz Mono
  OnAdvancedNotification(r.ctx, r.advanced, ids::kAudioEncoder);
  EXPECT_TRUE(r.advanced.IsVisible(ids::kLayer1AudioRate));
  EXPECT_FALSE(r.advanced.IsVisible(ids::kLayer2AudioRate));
  EXPECT_EQ(r.advanced.EntryText(ids::kLayer1AudioRate, 13), "448kbits/s");
}

// ---- MPEG mode

TEST(PageRules, Mpeg4AddsSifAndSelectsTheUnitsSmallSize) {
  Rig r;
  r.ctx.rules.encodingMode = 5;
  r.ctx.rules.resolutionIndex = 1;
  LoadResolution(r.ctx, r.advanced, 1);  // MPEG2: four sizes
  r.advanced.Select(ids::kMpegMode, 1);
  OnAdvancedNotification(r.ctx, r.advanced, ids::kMpegMode);
  EXPECT_EQ(r.ctx.rules.encoderIndex, 1);
  EXPECT_EQ(r.Resolution(), With(k480, {"SIF", "QSIF"}));
  EXPECT_EQ(r.advanced.SelectedText(ids::kResolution), "QSIF");
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 5);
  EXPECT_FALSE(r.advanced.IsEnabled(ids::kMpeg4EncodingMode));
}

TEST(PageRules, Mpeg4AtAFullSizeEnablesTheEncodingMode) {
  Rig r;
  r.ctx.rules.encodingMode = 2;
  LoadResolution(r.ctx, r.advanced, 3);
  r.advanced.Enable(ids::kMpeg4EncodingMode, false);
  r.advanced.Select(ids::kMpegMode, 1);
  OnAdvancedNotification(r.ctx, r.advanced, ids::kMpegMode);
  EXPECT_EQ(r.Resolution(), With(k480, {"SIF", "QSIF"}));
  EXPECT_EQ(r.advanced.SelectedText(ids::kResolution), "352 x 480");
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 3);
  EXPECT_TRUE(r.advanced.IsEnabled(ids::kMpeg4EncodingMode));
}

TEST(PageRules, Mpeg2RemovesSifAndGoesBackToTheReadResolution) {
  Rig r;
  r.Store("ehor", "2", ids::kResolution);
  r.ctx.rules.encoderIndex = 1;
  r.ctx.rules.encodingMode = 5;
  LoadResolution(r.ctx, r.advanced, 2);
  ASSERT_EQ(r.advanced.SelectedText(ids::kResolution), "QSIF");
  r.advanced.Select(ids::kMpegMode, 0);
  OnAdvancedNotification(r.ctx, r.advanced, ids::kMpegMode);
  EXPECT_EQ(r.ctx.rules.encoderIndex, 0);
  EXPECT_EQ(r.Resolution(), k480);
  EXPECT_EQ(r.advanced.SelectedText(ids::kResolution), "480 x 480");
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 2);
  EXPECT_FALSE(r.advanced.IsEnabled(ids::kMpeg4EncodingMode));
}

TEST(PageRules, Mpeg2WithoutAReadResolutionSelectsNothing) {
  Rig r;
  r.ctx.rules.encoderIndex = 1;
  LoadResolution(r.ctx, r.advanced, 0);
  r.advanced.Select(ids::kMpegMode, 0);
  OnAdvancedNotification(r.ctx, r.advanced, ids::kMpegMode);
  EXPECT_EQ(r.ctx.rules.resolutionIndex, kNoStoredPosition);
  EXPECT_EQ(r.advanced.Selected(ids::kResolution), -1);
  EXPECT_EQ(r.advanced.EntryCount(ids::kResolution), 4);
}

// ---- Resolution

TEST(PageRules, FullSizeAfterQsifResetsTheEncodingMode) {
  Rig r;
  r.Store("vinp", "2");
  r.ctx.rules.encoderIndex = 1;
  r.ctx.rules.encodingMode = 5;
  LoadResolution(r.ctx, r.advanced, 0);
  r.advanced.Select(ids::kMpeg4EncodingMode, 3);
  r.advanced.Enable(ids::kMpeg4EncodingMode, false);
  r.advanced.Select(ids::kResolution, 0);  // 704 x 576
  OnAdvancedNotification(r.ctx, r.advanced, ids::kResolution);
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 0);
  EXPECT_EQ(r.ctx.rules.encodingMode, 0);
  EXPECT_EQ(r.advanced.SelectedText(ids::kMpeg4EncodingMode), "Low delay interlaced");
  EXPECT_TRUE(r.advanced.IsEnabled(ids::kMpeg4EncodingMode));
}

TEST(PageRules, ResolutionChoiceEnablesEncodingModeOnlyForMpeg4FullSizes) {
  Rig r;
  r.ctx.rules.encoderIndex = 1;
  r.ctx.rules.encodingMode = 2;
  LoadResolution(r.ctx, r.advanced, 0);
  r.advanced.Select(ids::kMpeg4EncodingMode, 2);
  r.advanced.Select(ids::kResolution, 4);  // SIF
  OnAdvancedNotification(r.ctx, r.advanced, ids::kResolution);
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 4);
  EXPECT_FALSE(r.advanced.IsEnabled(ids::kMpeg4EncodingMode));
  EXPECT_EQ(r.advanced.Selected(ids::kMpeg4EncodingMode), 2);  // a full-size mode stays as it was
  EXPECT_EQ(r.ctx.rules.encodingMode, 2);

  r.advanced.Select(ids::kResolution, 1);
  OnAdvancedNotification(r.ctx, r.advanced, ids::kResolution);
  EXPECT_TRUE(r.advanced.IsEnabled(ids::kMpeg4EncodingMode));

  r.ctx.rules.encoderIndex = 0;
  r.advanced.Select(ids::kResolution, 2);
  OnAdvancedNotification(r.ctx, r.advanced, ids::kResolution);
  EXPECT_FALSE(r.advanced.IsEnabled(ids::kMpeg4EncodingMode));
}

TEST(PageRules, SifAfterQsifKeepsTheUnitsEncodingMode) {
  Rig r;
  r.ctx.rules.encoderIndex = 1;
  r.ctx.rules.encodingMode = 5;
  LoadResolution(r.ctx, r.advanced, 0);
  r.advanced.Select(ids::kMpeg4EncodingMode, 3);
  r.advanced.Select(ids::kResolution, 4);  // SIF
  OnAdvancedNotification(r.ctx, r.advanced, ids::kResolution);
  EXPECT_EQ(r.ctx.rules.encodingMode, 5);
  EXPECT_EQ(r.advanced.Selected(ids::kMpeg4EncodingMode), 3);
  EXPECT_FALSE(r.advanced.IsEnabled(ids::kMpeg4EncodingMode));
}

TEST(PageRules, OtherNotificationsDoNothing) {
  Rig r;
  r.ctx.rules = {3, 1, 4, std::nullopt};
  LoadResolution(r.ctx, r.advanced, 3);
  const Entries before = r.Resolution();
  r.advanced.Select(ids::kModulationBandwidth, 4);
  for (int id : {ids::kModulationBandwidth, ids::kModulationOutput, ids::kOutputAttenuationHigh,
                 ids::kOutputFrequency, ids::kMpeg4EncodingMode, ids::kEncoder1AudioEncoder})
    OnAdvancedNotification(r.ctx, r.advanced, id);
  OnMainVideoInputChanged(r.ctx, r.mainPage, &r.advanced, ids::kPresetTransmitMode);
  EXPECT_EQ(r.Resolution(), before);
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 4);
  EXPECT_EQ(r.ctx.rules.encoderIndex, 1);
  EXPECT_EQ(r.ctx.rules.encodingMode, 4);
  EXPECT_TRUE(r.advanced.IsVisible(ids::kLayer1AudioRate));
  EXPECT_TRUE(r.advanced.IsVisible(ids::kLayer2AudioRate));
}

TEST(PageRules, RulesIgnoreAbsentControls) {
  UnitContext ctx;  // no tables either
  MemoryHost empty;
  OnAdvancedNotification(ctx, empty, ids::kVideoInput);
  OnAdvancedNotification(ctx, empty, ids::kResolution);
  OnAdvancedNotification(ctx, empty, ids::kMpegMode);
  OnAdvancedCheckClicked(ctx, empty, ids::kManual);
  LoadResolution(ctx, empty, 2);
  FillAdvancedFromCache(ctx, empty);
  EXPECT_FALSE(empty.HasControl(ids::kResolution));
  EXPECT_EQ(ctx.rules.resolutionIndex, kNoStoredPosition);  // set by the MPEG2 rule
}

// ---- Rules while loading

TEST(LoadRules, HdFormatFollowsLoadedVideoInputInTheLoadedWindowOnly) {
  Rig r;
  r.ctx.boardType = "K610";
  r.Store("vinp", "13", ids::kK610VideoInput);  // HD HDMI
  const ParamRow& vinp = *r.tables.main.Find("vinp", ids::kK610VideoInput);
  r.advanced.Show(ids::kHdInputFormat, false);
  r.mainPage.Show(ids::kHdInputFormat, false);
  LoadRuleAfter(r.ctx, vinp, r.mainPage, &r.advanced);
  EXPECT_TRUE(r.mainPage.IsVisible(ids::kHdInputFormat));
  EXPECT_FALSE(r.advanced.IsVisible(ids::kHdInputFormat));
}

TEST(LoadRules, LoadedEncoderAndModeAreRemembered) {
  Rig r;
  r.Store("eenc", "1", ids::kMpegMode);
  r.Store("ecmd", "4", ids::kMpeg4EncodingMode);
  RememberLoadedValue(r.ctx.rules, *r.tables.main.Find("eenc", ids::kMpegMode));
  RememberLoadedValue(r.ctx.rules, *r.tables.main.Find("ecmd", ids::kMpeg4EncodingMode));
  EXPECT_EQ(r.ctx.rules.encoderIndex, 1);
  EXPECT_EQ(r.ctx.rules.encodingMode, 4);
  r.Store("ecmd", "2", ids::kK610EncodingMode);
  RememberLoadedValue(r.ctx.rules, *r.tables.main.Find("ecmd", ids::kK610EncodingMode));
  EXPECT_EQ(r.ctx.rules.encodingMode, 2);
  r.Store("ehor", "3", ids::kResolution);
  RememberLoadedValue(r.ctx.rules, *r.tables.main.Find("ehor", ids::kResolution));
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
  EXPECT_EQ(r.advanced.Text(ids::kUnitName), "Unit 9");
  EXPECT_EQ(r.advanced.SelectedText(ids::kScrambling), "AES256");
  EXPECT_EQ(r.advanced.Text(ids::kChaining), "Overflow");
  EXPECT_EQ(r.advanced.Text(ids::kOutputAttenuationHigh), "6.02");
  EXPECT_TRUE(r.advanced.Checked(ids::kManual));
  EXPECT_TRUE(r.advanced.IsVisible(ids::kManual));
  EXPECT_TRUE(r.advanced.IsEnabled(ids::kVideoBitrate));
  // Rows without a value leave their controls alone.
  EXPECT_EQ(r.advanced.Selected(ids::kModulationBandwidth), -1);
  EXPECT_EQ(r.advanced.Text(ids::kSoftwareVersion), "");
}

TEST(FillAdvanced, ManualWithoutAValueIsHidden) {
  Rig r;
  r.advanced.Enable(ids::kVideoBitrate, true);
  FillAdvancedFromCache(r.ctx, r.advanced);
  EXPECT_FALSE(r.advanced.IsVisible(ids::kManual));
  EXPECT_FALSE(r.advanced.IsEnabled(ids::kVideoBitrate));

  Rig off;
  off.Store("evbr", "0");
  off.advanced.Enable(ids::kVideoBitrate, true);
  FillAdvancedFromCache(off.ctx, off.advanced);
  EXPECT_TRUE(off.advanced.IsVisible(ids::kManual));
  EXPECT_FALSE(off.advanced.Checked(ids::kManual));
  EXPECT_FALSE(off.advanced.IsEnabled(ids::kVideoBitrate));
}

TEST(FillAdvanced, RateListsFollowCachedEncoders) {
  Rig r;
  r.Store("aenc", "15");
  r.Store("a1en", "3");
  r.Store("a2en", "1");
  FillAdvancedFromCache(r.ctx, r.advanced);
  EXPECT_TRUE(r.advanced.IsVisible(ids::kLayer2AudioRate));
  EXPECT_FALSE(r.advanced.IsVisible(ids::kLayer1AudioRate));
  EXPECT_TRUE(r.advanced.IsVisible(ids::kEncoder1Layer2Rate));
  EXPECT_FALSE(r.advanced.IsVisible(ids::kEncoder1Layer1Rate));
  EXPECT_TRUE(r.advanced.IsVisible(ids::kEncoder2Layer1Rate));
  EXPECT_FALSE(r.advanced.IsVisible(ids::kEncoder2Layer2Rate));
  EXPECT_EQ(r.advanced.SelectedText(ids::kAudioEncoder), "MPEG Layer 2 48kHz Stereo");
}

TEST(FillAdvanced, Mpeg4AtQsifShowsSixSizesAndDisablesEncodingMode) {
  Rig r;
  r.Store("vinp", "5");  // S-Video PAL
  r.Store("eenc", "1", ids::kMpegMode);
  r.Store("ecmd", "5", ids::kMpeg4EncodingMode);
  r.Store("ehor", "0", ids::kResolution);
  r.ctx.rules.encoderIndex = 1;  // remembered from the last refresh
  r.ctx.rules.encodingMode = 5;
  FillAdvancedFromCache(r.ctx, r.advanced);
  EXPECT_EQ(r.Resolution(), With(k576, {"SIF", "QSIF"}));
  EXPECT_EQ(r.advanced.SelectedText(ids::kResolution), "QSIF");
  EXPECT_EQ(r.ctx.rules.resolutionIndex, 5);
  EXPECT_FALSE(r.advanced.IsEnabled(ids::kMpeg4EncodingMode));
  EXPECT_EQ(r.advanced.SelectedText(ids::kMpegMode), "MPEG4");
}

TEST(FillAdvanced, EncodingModeByEncoderWhenTheWindowOpens) {
  Rig mpeg4;
  mpeg4.Store("ehor", "1", ids::kResolution);
  mpeg4.ctx.rules.encoderIndex = 1;
  mpeg4.ctx.rules.encodingMode = 1;
  FillAdvancedFromCache(mpeg4.ctx, mpeg4.advanced);
  EXPECT_TRUE(mpeg4.advanced.IsEnabled(ids::kMpeg4EncodingMode));
  EXPECT_EQ(mpeg4.Resolution(), With(k480, {"SIF", "QSIF"}));
  EXPECT_EQ(mpeg4.advanced.SelectedText(ids::kResolution), "528 x 480");

  Rig mpeg2;
  mpeg2.Store("ehor", "1", ids::kResolution);
  mpeg2.ctx.rules.encoderIndex = 0;
  mpeg2.ctx.rules.encodingMode = 1;
  FillAdvancedFromCache(mpeg2.ctx, mpeg2.advanced);
  EXPECT_FALSE(mpeg2.advanced.IsEnabled(ids::kMpeg4EncodingMode));
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
  EXPECT_EQ(r.advanced.Text(ids::kUnitName), "x");
}

}  // namespace
