// Apply against a scripted unit: the page is first loaded by a refresh, the
// operator changes controls, and apply must write exactly the changed
// parameters (checked frame by frame), in the right form, with the unit's
// waits taken through the injected clock and the "Please wait" window shown
// where the unit changes mode.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/clock.h"
#include "link/frame.h"
#include "link/link_lock.h"
#include "params/apply.h"
#include "params/config_document.h"
#include "params/config_file.h"
#include "params/control_ids.h"
#include "params/memory_host.h"
#include "params/page_rules.h"
#include "params/refresh.h"
#include "support/fake_link.h"

using namespace vecta;
using namespace vecta::params;
using vecta::test::Bytes;
using vecta::test::FakeClock;
using vecta::test::FakeLink;
using vecta::test::ReplyFrame;
constexpr auto Frame = vecta::test::IndependentFrame;

namespace {

// One time line of what the unit and the operator saw: requests ("w owid;3",
// "r cflo"), the waits apply takes ("sleep 5000") and the progress window.
using Timeline = std::vector<std::string>;

// The clock apply waits on: a FakeClock (which keeps every SleepMs) that
// also puts the wait on the time line.
class TimelineClock final : public link::Clock {
 public:
  TimelineClock(FakeClock& inner, Timeline& t) : inner_(inner), t_(t) {}
  std::int64_t NowMs() override { return inner_.NowMs(); }
  link::TimeOfDay UtcTimeOfDay() override { return inner_.UtcTimeOfDay(); }
  void SleepMs(std::int64_t ms) override {
    t_.push_back("sleep " + std::to_string(ms));
    inner_.SleepMs(ms);
  }

 private:
  FakeClock& inner_;
  Timeline& t_;
};

class TimelinePrompter final : public Prompter {
 public:
  explicit TimelinePrompter(Timeline& t) : t_(t) {}
  Answer Message(std::string_view, std::string_view text, MessageIcon, MessageButtons) override {
    t_.push_back("message " + std::string(text));
    return Answer::Ok;
  }
  std::optional<std::string> ChooseFileToOpen(std::string_view) override { return std::nullopt; }
  std::optional<std::string> ChooseFileToSave(std::string_view) override { return std::nullopt; }
  void BeginProgress(std::string_view title, std::string_view text, int maximum) override {
    t_.push_back("begin " + std::string(title) + "|" + std::string(text) + "|" + std::to_string(maximum));
  }
  void SetProgress(int value) override { t_.push_back("progress " + std::to_string(value)); }
  void EndProgress() override { t_.push_back("end"); }

 private:
  Timeline& t_;
};

const std::string kBegin = "begin Please wait|Please wait while the unit changes mode...|0";

// A unit on the fake line that answers by the request and takes every
// write it is sent.
struct ScriptedUnit {
  explicit ScriptedUnit(std::string board, std::map<std::string, std::string> v = TypicalValues())
      : values(std::move(v)), clock(f.clock, timeline), prompter(timeline) {
    EXPECT_EQ(f.link->OpenSerialPort(0), 0u);
    f.line().responder = [this](const Bytes& req) { return Answer(req); };
    ctx.link = f.link.get();
    ctx.clock = &clock;
    ctx.prompter = &prompter;
    ctx.tables = &tables;
    ctx.boardType = std::move(board);
  }

  static std::map<std::string, std::string> TypicalValues() {
    return {
        {"oout", "1"},  {"ofec", "1"},    {"ogua", "1"},    {"omod", "0"},   {"ofre", "1250"},   {"owid", "2"},
        {"ohls", "1"},  {"olev", "637"},  {"ollv", "1274"}, {"odfe", "0"},   {"odgu", "0"},      {"odmo", "0"},
        {"ospe", "0"},  {"o4ko", "0"},    {"zscr", "0"},    {"vinp", "2"},   {"aenc", "13"},     {"a1en", "3"},
        {"a2en", "3"},  {"ampr", "2"},    {"a1br", "2"},    {"a2br", "2"},   {"alev", "1"},      {"asrc", "0"},
        {"a1in", "0"},  {"a2in", "1"},    {"aen2", "0"},    {"abmb", "0"},   {"gnam", "Unit 7"}, {"gsle", "0"},
        {"dinp", "0"},  {"dbau", "3"},    {"dpln", "0"},    {"cinp", "0"},   {"ccha", "0"},      {"cout", "0"},
        {"gosw", "4"},  {"evid", "4.5"},  {"evbr", "0"},    {"vhdf", "0"},   {"eenc", "0"},      {"ecmd", "0"},
        {"ehor", "0"},  {"ever", "0"},    {"efrm", "0"},    {"esha", "0"},   {"eper", "0"},      {"edts", "100"},
        {"epts", "0"},  {"epro", "0"},    {"gdna", "Svc"},  {"gnet", "Net"}, {"gblo", "0"},      {"glod", "3"},
        {"vloc", "1"},  {"gver", "3.4"},  {"gfpg", "12"},   {"gser", "A1"},  {"csta", "1"},      {"gtmp", "45"},
        {"gvnt", "12"}, {"gvax", "33"},   {"meta", "0"},    {"gosd", "0"},   {"pmpd", "0"},      {"pcpd", "0"},
        {"pvid", "0"},  {"pau1", "0"},    {"pau2", "0"},    {"pdat", "0"},   {"mbit", "1500"},   {"sver", ""},
        {"otxm", "0"},  {"gvba", "1234"}, {"oplv", "637"},  {"vpgn", "0"},   {"cflo", "77"}};
  }

  std::optional<Bytes> Answer(const Bytes& req) {
    const std::string text(req.begin() + 1, req.end() - 2);  // "0001wowid;3;"
    const int address = std::stoi(text.substr(0, 4));
    const char op = text[4];
    const std::string mnemonic = text.substr(5, 4);
    const std::size_t sep = text.find(';');
    const std::string value = text.substr(sep + 1, text.find(';', sep + 1) - sep - 1);
    if (recording) {
      timeline.push_back(op == 'w' ? "w " + mnemonic + ";" + value : "r " + mnemonic);
      if (lockedDuringWrite.empty() && op == 'w') {
        bool free = false;
        std::thread([&] {
          free = link::LinkLock().try_lock();
          if (free) link::LinkLock().unlock();
        }).join();
        lockedDuringWrite = free ? "free" : "held";
      }
    }
    if (silent.count(mnemonic)) return std::nullopt;
    if (op == 'w' && refusedWrites.count(mnemonic)) return ReplyFrame(address, 'E', "");
    if (op == 'w') {
      values[mnemonic] = value;
      return ReplyFrame(address, '1', value);
    }
    auto it = values.find(mnemonic);
    if (refused.count(mnemonic) || it == values.end()) return ReplyFrame(address, 'E', "");
    return ReplyFrame(address, '1', it->second);
  }

  // Loads the page from the unit, then records only what apply does.
  void Load(MemoryHost& page) {
    if (initialised.insert(&page).second) InitPage(page, tables.main);
    Refresh(ctx, tables.main, page);
    StartRecording();
  }
  void StartRecording() {
    recording = true;
    timeline.clear();
    f.line().writes.clear();
    f.clock.slept.clear();
  }
  std::uint8_t Apply(MemoryHost& page) { return params::Apply(ctx, tables.main, page); }

  std::map<std::string, std::string> values;
  std::set<std::string> refused, silent, refusedWrites;
  FakeLink f;
  Timeline timeline;
  TimelineClock clock;
  TimelinePrompter prompter;
  ParamTables tables;
  UnitContext ctx;
  bool recording = false;
  std::string lockedDuringWrite;
  std::set<const MemoryHost*> initialised;
};

// Controls of the main settings page, and of the Advanced options pages.
const std::vector<int> kMainPage = {ids::kOutputFrequency, ids::kBandwidthMode,       ids::kPresetTransmitMode,
                                    ids::kVideoInput,      ids::kK610VideoInput,      ids::kHdInputFormat,
                                    ids::kAudio,           ids::kAudioEncoder1Source, ids::kAudioEncoder2Source,
                                    ids::kScrambling};
const std::vector<int> kModulationPage = {ids::kOutputFrequency,
                                          ids::kModulationBandwidth,
                                          ids::kModulationOutput,
                                          ids::kNarrowbandFec,
                                          ids::kNarrowbandGuardInterval,
                                          ids::kNarrowbandModulation,
                                          ids::kDvbtServiceName,
                                          ids::kDvbtFecRate,
                                          ids::kDvbtGuardInterval,
                                          ids::kDvbtModulation,
                                          ids::kDvbtSpectrumInversion,
                                          ids::kDvbt4KhzOffset,
                                          ids::kNetworkName,
                                          ids::kPresetTransmitMode,
                                          ids::kOutputPower,
                                          ids::kK610OutputPower,
                                          ids::kOutputAttenuationHigh,
                                          ids::kOutputAttenuationLow,
                                          ids::kOutputAttenuationPreset};
const std::vector<int> kVideoPage = {ids::kVideoInput,       ids::kResolution,
                                     ids::kMpegMode,         ids::kMpeg4EncodingMode,
                                     ids::kFrameRate,        ids::kVideoBitrate,
                                     ids::kManual,           ids::kVideoSharpness,
                                     ids::kVideoProfile,     ids::kMuxBitrate,
                                     ids::kK610VideoInput,   ids::kK610MpegMode,
                                     ids::kHdInputFormat,    ids::kSubHorizontalResolution,
                                     ids::kK610EncodingMode, ids::kSubVerticalResolution,
                                     ids::kGopLength,        ids::kDtsDelay,
                                     ids::kTotalPtsOffset,   ids::kK610VideoSharpness,
                                     ids::kPatternGenerator};
const std::vector<int> kAudioPage = {
    ids::kAudioEncoder,        ids::kEncoder1AudioEncoder, ids::kEncoder2AudioEncoder, ids::kAudioSource,
    ids::kEncoder1AudioSource, ids::kEncoder2AudioSource,  ids::kLayer1AudioRate,      ids::kLayer2AudioRate,
    ids::kEncoder1Layer1Rate,  ids::kEncoder1Layer2Rate,   ids::kEncoder2Layer1Rate,   ids::kEncoder2Layer2Rate,
    ids::kAudioInputLevel,     ids::kK610AudioInputLevel,  ids::kSecondStereoPair,     ids::kMicInputBias};

// ---- Nothing changed

TEST(Apply, NothingChangedWritesNothingOnEveryVariant) {
  for (const char* board : {"K240", "K610", "K999"}) {
    ScriptedUnit u(board);
    MemoryHost page = MemoryHost::ForTable(MainTableRows());
    u.Load(page);
    EXPECT_EQ(u.Apply(page), 0) << board;
    EXPECT_TRUE(u.f.line().writes.empty()) << board;
    EXPECT_TRUE(u.timeline.empty()) << board;
    EXPECT_TRUE(u.f.clock.slept.empty()) << board;
  }
}

MemoryHost PageOf(const std::vector<int>& ids) { return MemoryHost(ids); }

// ---- Bandwidth and band

TEST(Apply, BandwidthAcrossTheBandBoundaryWaitsForTheModeChange) {
  ScriptedUnit u("K240");  // owid 2: 8MHz
  MemoryHost page = PageOf(kModulationPage);
  u.Load(page);
  page.Select(ids::kModulationBandwidth, 3);  // 2.5MHz
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w owid;3", kBegin, "sleep 5000", "end"}));
  ASSERT_EQ(u.f.line().writes.size(), 1u);
  EXPECT_EQ(u.f.line().writes[0], Frame("0001wowid;3;"));
  EXPECT_EQ(u.f.clock.slept, (std::vector<std::int64_t>{5000}));
}

TEST(Apply, BandwidthWithinABandWaitsHalfASecond) {
  ScriptedUnit u("K240");
  MemoryHost page = PageOf(kModulationPage);
  u.Load(page);
  page.Select(ids::kModulationBandwidth, 1);  // 7MHz
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w owid;1", "sleep 500"}));

  u.values["owid"] = "3";
  u.Load(page);
  page.Select(ids::kModulationBandwidth, 5);  // 2.5MHz -> 625kHz
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w owid;5", "sleep 500"}));
}

TEST(Apply, FrequencyThenBandwidthInTableOrder) {
  ScriptedUnit u("K240");
  MemoryHost page = PageOf(kModulationPage);
  u.Load(page);
  ASSERT_EQ(page.Text(ids::kOutputFrequency), "1250.00");
  page.SetText(ids::kOutputFrequency, "1300.5");
  page.Select(ids::kModulationBandwidth, 3);
  EXPECT_EQ(u.Apply(page), 2);
  EXPECT_EQ(u.timeline, (Timeline{"w ofre;1300.5", "sleep 500", "w owid;3", kBegin, "sleep 5000", "end"}));
}

TEST(Apply, BandChoiceWritesTheBandwidth) {
  ScriptedUnit u("K240");
  MemoryHost page = PageOf(kMainPage);
  u.Load(page);
  ASSERT_EQ(page.SelectedText(ids::kBandwidthMode), "DVBT");
  page.Select(ids::kBandwidthMode, 0);  // Narrowband
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w owid;3", kBegin, "sleep 5000", "end"}));
  EXPECT_EQ(u.f.line().writes.back(), Frame("0001wowid;3;"));

  u.Load(page);  // the unit now runs at 2.5MHz
  ASSERT_EQ(page.SelectedText(ids::kBandwidthMode), "Narrowband");
  page.Select(ids::kBandwidthMode, 1);  // DVBT
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w owid;2", kBegin, "sleep 5000", "end"}));
}

// ---- Encoder, resolution and encoding mode (K240)

TEST(Apply, QsifIsWrittenAsEncodingModeAndNotAsResolution) {
  ScriptedUnit u("K240");
  u.values["eenc"] = "1";  // MPEG4
  MemoryHost page = PageOf(kVideoPage);
  u.Load(page);
  ASSERT_EQ(page.EntryCount(ids::kResolution), 6);
  page.Select(ids::kResolution, 5);  // QSIF
  OnAdvancedNotification(u.ctx, page, ids::kResolution);
  page.Select(ids::kMpeg4EncodingMode, 2);  // the encoding mode list is skipped at QSIF
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w ecmd;5"}));
  EXPECT_EQ(u.f.line().writes[0], Frame("0001wecmd;5;"));
}

TEST(Apply, EncodingModeIsSkippedForMpeg2AndWrittenForMpeg4) {
  ScriptedUnit u("K240");  // MPEG2
  MemoryHost page = PageOf(kVideoPage);
  u.Load(page);
  page.Select(ids::kMpeg4EncodingMode, 2);
  EXPECT_EQ(u.Apply(page), 0);
  EXPECT_TRUE(u.timeline.empty());

  u.values["eenc"] = "1";
  u.Load(page);
  page.Select(ids::kMpeg4EncodingMode, 2);
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w ecmd;2"}));
}

TEST(Apply, EncoderChangeWaitsForTheModeChange) {
  ScriptedUnit u("K240");
  MemoryHost page = PageOf(kVideoPage);
  u.Load(page);
  page.Select(ids::kMpegMode, 1);
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w eenc;1", kBegin, "sleep 5000", "end"}));
}

TEST(Apply, K610AspEncoderKeepsTheBandwidth) {
  ScriptedUnit u("K610");
  u.values["eenc"] = "2";  // AVC H.264
  MemoryHost video = PageOf(kVideoPage);
  MemoryHost modulation = PageOf(kModulationPage);
  u.Load(video);
  u.Load(modulation);
  // The Advanced options window applies its pages from the last to the
  // first: "Video" before "Modulation".
  video.Select(ids::kK610MpegMode, 0);  // MPEG4 ASP, wire 1
  EXPECT_EQ(u.Apply(video), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w eenc;1", kBegin, "sleep 5000", "end"}));
  EXPECT_EQ(u.ctx.rules.k610EncoderChoice, 1);
  u.StartRecording();
  modulation.Select(ids::kModulationBandwidth, 1);
  EXPECT_EQ(u.Apply(modulation), 0);
  EXPECT_TRUE(u.timeline.empty());

  u.ctx.rules.k610EncoderChoice.reset();  // the window clears it
  EXPECT_EQ(u.Apply(modulation), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w owid;1", "sleep 500"}));

  // AVC leaves the bandwidth free.
  u.Load(video);
  u.Load(modulation);
  video.Select(ids::kK610MpegMode, 1);
  EXPECT_EQ(u.Apply(video), 1);
  EXPECT_EQ(u.ctx.rules.k610EncoderChoice, 2);
  u.StartRecording();
  modulation.Select(ids::kModulationBandwidth, 0);
  EXPECT_EQ(u.Apply(modulation), 1);
}

// ---- Video input

TEST(Apply, VideoInputLeavingOffWaitsLongForTheReply) {
  ScriptedUnit u("K240");
  u.values["vinp"] = "0";
  MemoryHost page = PageOf(kVideoPage);
  u.Load(page);
  page.Select(ids::kVideoInput, 1);  // PAL, wire 2
  EXPECT_EQ(u.Apply(page), 1);
  // The wait comes between sending and reading the reply; apply itself
  // does not pause afterwards.
  EXPECT_EQ(u.timeline, (Timeline{"w vinp;2"}));
  EXPECT_EQ(u.f.clock.slept, (std::vector<std::int64_t>{2000}));

  u.Load(page);
  page.Select(ids::kVideoInput, 2);  // PAL -> NTSC
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w vinp;3"}));
  EXPECT_TRUE(u.f.clock.slept.empty());
}

// ---- Audio

TEST(Apply, AudioSwitchOnWritesTheAudioOnSetting) {
  for (const char* board : {"K240", "K999"}) {
    ScriptedUnit u(board);
    u.values["aenc"] = "0";
    MemoryHost page = PageOf(kMainPage);
    u.Load(page);
    ASSERT_EQ(page.SelectedText(ids::kAudio), "Off");
    page.Select(ids::kAudio, 1);
    EXPECT_EQ(u.Apply(page), 1) << board;
    EXPECT_EQ(u.timeline, (Timeline{"w aenc;5", kBegin, "sleep 1000", "end"})) << board;
    EXPECT_EQ(u.f.line().writes[0], Frame("0001waenc;5;"));
  }
}

TEST(Apply, AudioSwitchOffAndForcedRewrite) {
  ScriptedUnit u("K240");  // aenc 13
  MemoryHost page = PageOf(kMainPage);
  u.Load(page);
  page.Select(ids::kAudio, 0);
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w aenc;0", kBegin, "sleep 1000", "end"}));

  // An encoder setting below the audio-on one is rewritten even though the
  // switch did not move.
  u.values["aenc"] = "2";
  u.Load(page);
  ASSERT_EQ(page.SelectedText(ids::kAudio), "On");
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w aenc;5", kBegin, "sleep 1000", "end"}));

  u.values["aenc"] = "5";
  u.Load(page);
  EXPECT_EQ(u.Apply(page), 0);
}

TEST(Apply, EncoderSourceWritesEncoderThenInput) {
  ScriptedUnit u("K610");
  u.values["a1en"] = "0";
  u.values["a2en"] = "0";
  MemoryHost page = PageOf(kMainPage);
  u.Load(page);
  page.Select(ids::kAudioEncoder1Source, 2);  // Analogue
  page.Select(ids::kAudioEncoder2Source, 1);  // Embedded
  EXPECT_EQ(u.Apply(page), 2);
  EXPECT_EQ(u.timeline, (Timeline{"w a1en;3", "w a1in;1", "w a2en;3", "w a2in;0"}));
  EXPECT_EQ(u.f.line().writes[0], Frame("0001wa1en;3;"));
  EXPECT_EQ(u.f.line().writes[1], Frame("0001wa1in;1;"));

  u.Load(page);
  page.Select(ids::kAudioEncoder1Source, 0);
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w a1en;0"}));
}

TEST(Apply, LayerOneEncoderSourceIsAlwaysRewritten) {
  ScriptedUnit u("K610");
  u.values["a1en"] = "1";
  u.values["a1in"] = "1";
  u.values["a2en"] = "2";
  u.values["a2in"] = "0";
  MemoryHost page = PageOf(kMainPage);
  u.Load(page);
  ASSERT_EQ(page.SelectedText(ids::kAudioEncoder1Source), "Analogue");
  EXPECT_EQ(u.Apply(page), 2);
  EXPECT_EQ(u.timeline, (Timeline{"w a1en;3", "w a1in;1", "w a2en;3", "w a2in;0"}));
}

TEST(Apply, AudioEncoderWaits) {
  ScriptedUnit u("K240");  // aenc 13
  MemoryHost page = PageOf(kAudioPage);
  u.Load(page);
  page.Select(ids::kAudioEncoder, 15);
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w aenc;15", "sleep 1000"}));

  u.Load(page);
  page.Select(ids::kAudioEncoder, 0);  // off is another mode
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w aenc;0", kBegin, "sleep 5000", "end"}));

  ScriptedUnit k610("K610");
  MemoryHost k610Page = PageOf(kAudioPage);
  k610.Load(k610Page);
  k610Page.Select(ids::kEncoder2AudioEncoder, 4);
  k610Page.Select(ids::kAudioEncoder, 0);  // not a K610 row
  EXPECT_EQ(k610.Apply(k610Page), 1);
  EXPECT_EQ(k610.timeline, (Timeline{"w a2en;4", "sleep 1000"}));
}

// ---- Chaining input

TEST(Apply, ChainingInputRestoresTheCalibration) {
  ScriptedUnit u("K240");
  MemoryHost page = PageOf({ids::kChainingInput});
  u.Load(page);
  page.Select(ids::kChainingInput, 2);
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"r cflo", "w cinp;2", "w cflo;77"}));
  ASSERT_EQ(u.f.line().writes.size(), 3u);
  EXPECT_EQ(u.f.line().writes[0], Frame("0001rcflo;;"));
  EXPECT_EQ(u.f.line().writes[1], Frame("0001wcinp;2;"));
  EXPECT_EQ(u.f.line().writes[2], Frame("0001wcflo;77;"));
}

TEST(Apply, ChainingInputWithoutACalibrationToRestore) {
  ScriptedUnit refused("K240");
  refused.refused = {"cflo"};
  MemoryHost page = PageOf({ids::kChainingInput});
  refused.Load(page);
  page.Select(ids::kChainingInput, 1);
  EXPECT_EQ(refused.Apply(page), 1);
  EXPECT_EQ(refused.timeline, (Timeline{"r cflo", "w cinp;1"}));

  ScriptedUnit silent("K240");
  silent.silent = {"cflo"};
  MemoryHost page2 = PageOf({ids::kChainingInput});
  silent.Load(page2);
  page2.Select(ids::kChainingInput, 1);
  EXPECT_EQ(silent.Apply(page2), 1);
  ASSERT_FALSE(silent.timeline.empty());
  EXPECT_EQ(silent.timeline.back(), "w cinp;1");
  for (const auto& e : silent.timeline) EXPECT_NE(e.rfind("w cflo", 0), 0u) << e;
}

// ---- Manual bitrate

TEST(Apply, ManualWritesTheBitrateInKilobits) {
  ScriptedUnit u("K240");  // evid 4.5, evbr 0
  MemoryHost page = PageOf(kVideoPage);
  u.Load(page);
  ASSERT_EQ(page.Text(ids::kVideoBitrate), "4.5");
  page.SetChecked(ids::kManual, true);
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w evbr;4500"}));
  EXPECT_EQ(u.f.line().writes[0], Frame("0001wevbr;4500;"));

  // Ticked with a bitrate: sent again on every apply.
  u.Load(page);
  ASSERT_TRUE(page.Checked(ids::kManual));
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w evbr;4500"}));

  page.SetChecked(ids::kManual, false);
  u.StartRecording();
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w evbr;0"}));
}

TEST(Apply, ManualBitrateIsNotCutShortByBinaryRounding) {
  ScriptedUnit u("K240");
  u.values["evid"] = "4.06";  // 4.06 x 1000 is 4059.999... in binary
  MemoryHost page = PageOf(kVideoPage);
  u.Load(page);
  page.SetChecked(ids::kManual, true);
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w evbr;4060"}));
}

TEST(Apply, TickedCheckBoxesAfterANonZeroBitrateAreRewritten) {
  ScriptedUnit u("K610");
  u.values["epts"] = "1";
  MemoryHost page = PageOf(kVideoPage);
  u.Load(page);
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w epts;1"}));

  u.values["evid"] = "0";
  u.Load(page);
  EXPECT_EQ(u.Apply(page), 0);
}

// ---- Text rows

TEST(Apply, TextRowsAreWrittenInTheUnitsForm) {
  ScriptedUnit u("K240");
  MemoryHost page = MemoryHost::ForTable(MainTableRows());
  u.Load(page);
  ASSERT_EQ(page.Text(ids::kOutputAttenuationHigh), "6.02");
  page.SetText(ids::kOutputAttenuationHigh, "0");  // level: 0 dB
  page.SetText(ids::kUnitName, "New name");        // as typed
  page.SetText(ids::kMuxBitrate, "2.25");          // thousandths
  page.SetText(ids::kSoftwareVersion, "9.9");      // gver: display only
  page.Select(ids::kChaining, 0);                  // csta: display only
  EXPECT_EQ(u.Apply(page), 3);
  EXPECT_EQ(u.timeline, (Timeline{"w olev;1274", "w gnam;New name", "w mbit;2250"}));
}

// A row the unit never answered holds nothing of the unit: whatever its
// control shows (blank, typed) is not written.
TEST(Apply, TextRowNeverReadIsNotWritten) {
  ScriptedUnit u("K240");
  u.refused = {"gnam"};
  MemoryHost page = PageOf({ids::kUnitName});
  u.Load(page);
  for (const char* shown : {"", "Typed"}) {
    page.SetText(ids::kUnitName, shown);
    EXPECT_EQ(u.Apply(page), 0);
    EXPECT_TRUE(u.timeline.empty());
  }
}

// A write the unit refuses is kept by the row it was for (a derived row by
// itself), once, for the operator to be told.
TEST(Apply, WritesTheUnitRefusedAreKeptByTheirRows) {
  ScriptedUnit u("K240");
  u.refusedWrites = {"ofre", "owid"};
  MemoryHost page = PageOf(kMainPage);
  u.Load(page);
  page.SetText(ids::kOutputFrequency, "99999");
  page.Select(ids::kBandwidthMode, 0);  // "Narrowband": owid 3
  page.Select(ids::kScrambling, 2);
  EXPECT_EQ(u.Apply(page), 3);
  ASSERT_EQ(u.ctx.refusedWrites.size(), 2u);
  EXPECT_EQ(u.ctx.refusedWrites[0]->control, ids::kOutputFrequency);
  EXPECT_EQ(u.ctx.refusedWrites[1]->control, ids::kBandwidthMode);
}

// ---- Framing, counting, skipping

TEST(Apply, CountsEveryWriteAndUsesTheUnitAddress) {
  ScriptedUnit u("K240");
  u.ctx.unitAddress = 42;
  MemoryHost page = PageOf(kModulationPage);
  u.Load(page);
  page.Select(ids::kModulationOutput, 0);
  page.Select(ids::kNarrowbandModulation, 1);
  page.Select(ids::kNarrowbandFec, 0);            // "2/3" is wire 1 ... it was already 1
  page.Select(ids::kNarrowbandGuardInterval, 1);  // "1/8", wire 2
  EXPECT_EQ(u.Apply(page), 3);
  EXPECT_EQ(u.f.line().writes,
            (std::vector<Bytes>{Frame("0042woout;0;"), Frame("0042wogua;2;"), Frame("0042womod;1;")}));
  EXPECT_EQ(u.lockedDuringWrite, "held");
}

TEST(Apply, SkipsRowsOfOtherVariantsAndMissingControls) {
  ScriptedUnit u("K610");
  MemoryHost page = PageOf(kModulationPage);
  u.Load(page);
  page.Select(ids::kOutputPower, 0);                // K240/other ohls
  page.Select(ids::kK610OutputPower, 4);            // K610 ohls
  page.SetText(ids::kDvbtServiceName, "DVB name");  // gdna: not on K610
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w ohls;4"}));

  // A window without the control writes nothing for its row.
  MemoryHost bare = PageOf({});
  EXPECT_EQ(u.Apply(bare), 0);
}

TEST(Apply, ListPositionWithoutAnOptionIsNotWritten) {
  ScriptedUnit u("K240");
  MemoryHost page = PageOf({ids::kScrambling});
  u.Load(page);
  page.Find(ids::kScrambling)->entries.push_back("extra");
  page.Select(ids::kScrambling, 6);
  EXPECT_EQ(u.Apply(page), 0);
  page.Select(ids::kScrambling, 4);  // BCrypt128
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w zscr;8"}));
}

// ---- What one row leaves for the next

TEST(Apply, VideoInputAtOffMakesTheNextWriteWaitLongForItsReply) {
  ScriptedUnit u("K240");
  u.values["vinp"] = "0";  // Off, and left there
  MemoryHost page = PageOf(kVideoPage);
  u.Load(page);
  page.Select(ids::kFrameRate, 2);  // frame rate 1/4
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w efrm;2"}));
  EXPECT_EQ(u.f.clock.slept, (std::vector<std::int64_t>{2000}));
}

TEST(Apply, SmallSizeWriteEndsTheLongReplyWait) {
  ScriptedUnit u("K240");
  u.values["vinp"] = "0";
  u.values["eenc"] = "1";  // MPEG4
  MemoryHost page = PageOf(kVideoPage);
  u.Load(page);
  page.Select(ids::kResolution, 4);  // SIF
  OnAdvancedNotification(u.ctx, page, ids::kResolution);
  page.Select(ids::kFrameRate, 1);
  EXPECT_EQ(u.Apply(page), 2);
  EXPECT_EQ(u.timeline, (Timeline{"w ecmd;4", "w efrm;1"}));
  EXPECT_TRUE(u.f.clock.slept.empty());
}

TEST(Apply, BandwidthKeptForTheK610AspEncoderLeavesItsModeChangeToTheNextWrite) {
  ScriptedUnit u("K610");
  u.ctx.rules.k610EncoderChoice = 1;  // MPEG4 ASP
  MemoryHost page = PageOf(kModulationPage);
  u.Load(page);
  page.Select(ids::kModulationBandwidth, 3);  // 8MHz -> 2.5MHz: another mode, but not written
  page.Select(ids::kK610OutputPower, 4);      // 100mW
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w ohls;4", kBegin, "sleep 5000", "end"}));
}

TEST(Apply, AudioEncoderTurnedOnIsAModeChange) {
  ScriptedUnit u("K240");
  u.values["aenc"] = "0";
  MemoryHost page = PageOf(kAudioPage);
  u.Load(page);
  page.Select(ids::kAudioEncoder, 15);
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w aenc;15", kBegin, "sleep 5000", "end"}));
}

TEST(Apply, ClearedCheckBoxIsWrittenAsZero) {
  ScriptedUnit u("K610");
  u.values["epts"] = "1";
  u.values["evid"] = "0";  // no bitrate: ticked boxes are not rewritten
  MemoryHost page = PageOf(kVideoPage);
  u.Load(page);
  ASSERT_TRUE(page.Checked(ids::kTotalPtsOffset));
  page.SetChecked(ids::kTotalPtsOffset, false);
  EXPECT_EQ(u.Apply(page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w epts;0"}));
  EXPECT_EQ(u.f.line().writes[0], Frame("0001wepts;0;"));
}

// ---- Address rows

TEST(Apply, AddressRowsWriteTheDottedAddressWhenItDiffers) {
  static const RowDescriptor kRows[] = {
      {"gipa", 1400, true, Kind::Address, 0, nullptr},
      {"gipb", 1401, false, Kind::Address, 0, nullptr},  // shown only
  };
  ScriptedUnit u("K240");
  ParamTable table(kRows);
  MemoryHost page = PageOf({1400, 1401});
  page.SetAddress(1400, 0xC0A80102);
  page.SetAddress(1401, 0x0A000001);
  u.StartRecording();
  // Never read: the unit sent nothing to change, so nothing is written.
  EXPECT_EQ(params::Apply(u.ctx, table, page), 0);
  EXPECT_TRUE(u.timeline.empty());

  table.Find("gipa")->Set(std::uint32_t{0x0A000001});
  EXPECT_EQ(params::Apply(u.ctx, table, page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w gipa;192.168.1.2"}));
  EXPECT_EQ(u.f.line().writes[0], Frame("0001wgipa;192.168.1.2;"));

  table.Find("gipa")->Set(std::uint32_t{0xC0A80102});
  u.StartRecording();
  EXPECT_EQ(params::Apply(u.ctx, table, page), 0);
  EXPECT_TRUE(u.timeline.empty());

  page.SetAddress(1400, 0x0A000102);
  EXPECT_EQ(params::Apply(u.ctx, table, page), 1);
  EXPECT_EQ(u.timeline, (Timeline{"w gipa;10.0.1.2"}));
}

}  // namespace

// ---- The offline editor

// A derived choice made in the offline editor changes in the file what
// Apply writes to the unit for the same choice on the same page.
TEST(Apply, DerivedChoicesWriteWhatTheEditorKeeps) {
  const struct {
    const char* board;
    int control;
    int choices;
  } cases[] = {{"K240", ids::kBandwidthMode, 2},
               {"K240", ids::kAudio, 2},
               {"K610", ids::kAudioEncoder1Source, 3},
               {"K610", ids::kAudioEncoder2Source, 3}};
  std::size_t written = 0;
  for (const auto& c : cases)
    for (int choice = 0; choice < c.choices; ++choice) {
      SCOPED_TRACE(std::string(c.board) + " control " + std::to_string(c.control) + " entry " +
                   std::to_string(choice));
      ScriptedUnit u(c.board);
      MemoryHost page = PageOf(kMainPage);
      u.Load(page);
      const Variant variant = VariantOf(c.board);
      ConfigImage image;
      image.number = 1;
      image.records = RecordsFromTable(u.tables.main, variant);
      ConfigDocument doc;
      std::string error;
      ASSERT_TRUE(doc.OpenBytes(BuildConfigFile(image), "unused.cfg", error)) << error;
      doc.SetVariant(variant);
      UnitContext offline;
      offline.tables = &doc.Tables();
      offline.boardType = c.board;
      MemoryHost editor = MemoryHost::ForTable(MainTableRows());
      InitPage(editor, doc.Table());
      ShowStoredValues(offline, doc.Table(), editor);

      page.Select(c.control, choice);
      editor.Select(c.control, choice);
      u.Apply(page);
      doc.TakeFromPage(editor, offline.rules);

      std::map<std::string, std::string> applied, kept, before;
      for (const std::string& event : u.timeline)
        if (event.starts_with("w ")) applied[event.substr(2, 4)] = event.substr(7);
      for (const ConfigRecord& r : image.records) before[r.mnemonic] = r.ValueText();
      for (const ConfigRecord& r : doc.Image().records)
        if (before[r.mnemonic] != r.ValueText() || applied.count(r.mnemonic)) kept[r.mnemonic] = r.ValueText();
      EXPECT_EQ(applied, kept);
      written += applied.size();
    }
  EXPECT_EQ(written, 8u);
}
