// Page initialisation and refresh against a scripted unit on the fake serial
// line: what is read (byte for byte), what each kind of row shows, how
// unanswered rows are handled, the derived rows, the lamps and the rules that
// run while values are loaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "link/link_lock.h"
#include "params/control_ids.h"
#include "params/memory_host.h"
#include "params/page_rules.h"
#include "params/refresh.h"
#include "support/fake_link.h"

using namespace vecta;
using namespace vecta::params;
using vecta::test::Bytes;
using vecta::test::FakeLink;
using vecta::test::ReplyFrame;
constexpr auto Frame = vecta::test::IndependentFrame;

namespace {

// A unit on the fake line that answers by the request: values by mnemonic
// (wire values), 'E' for refused mnemonics and for anything it does not
// know, silence for silent ones.
struct ScriptedUnit {
  explicit ScriptedUnit(std::string board) {
    EXPECT_EQ(f.link->OpenSerialPort(0), 0u);
    f.line().responder = [this](const Bytes& req) { return Answer(req); };
    ctx.link = f.link.get();
    ctx.clock = &f.clock;
    ctx.tables = &tables;
    ctx.boardType = std::move(board);
    ctx.setLamp = [this](int lamp, int icon) { lamps.emplace_back(lamp, icon); };
  }

  std::optional<Bytes> Answer(const Bytes& req) {
    const std::string text(req.begin() + 1, req.end() - 2);  // "0001rowid;;"
    const int address = std::stoi(text.substr(0, 4));
    const char op = text[4];
    const std::string mnemonic = text.substr(5, 4);
    requests.push_back(std::string(1, op) + " " + mnemonic);
    if (op == 'r' && lockedOnRead.empty()) {
      // Another thread must find the link lock taken during the exchange.
      bool free = false;
      std::thread([&] {
        free = link::LinkLock().try_lock();
        if (free) link::LinkLock().unlock();
      }).join();
      lockedOnRead = free ? "free" : "held";
    }
    if (silent.count(mnemonic)) return std::nullopt;
    auto it = values.find(mnemonic);
    if (refused.count(mnemonic) || it == values.end()) return ReplyFrame(address, 'E', "");
    return ReplyFrame(address, '1', it->second);
  }

  std::vector<std::string> Reads() const {
    std::vector<std::string> r;
    for (const auto& q : requests)
      if (q[0] == 'r') r.push_back(q.substr(2));
    return r;
  }
  int ReadsOf(const std::string& m) const {
    int n = 0;
    for (const auto& r : Reads()) n += r == m;
    return n;
  }

  FakeLink f;
  ParamTables tables;
  UnitContext ctx;
  std::map<std::string, std::string> values;
  std::set<std::string> refused, silent;
  std::vector<std::string> requests;
  std::vector<std::pair<int, int>> lamps;
  std::string lockedOnRead;
};

// Wire values of a unit at rest.
std::map<std::string, std::string> TypicalValues() {
  return {{"oout", "1"},         {"ofec", "1"},   {"ogua", "1"},    {"omod", "0"},      {"ofre", "1250"},
          {"owid", "2"},         {"ohls", "1"},   {"olev", "637"},  {"ollv", "1274"},   {"odfe", "0"},
          {"odgu", "0"},         {"odmo", "0"},   {"ospe", "0"},    {"o4ko", "0"},      {"zscr", "6"},
          {"vinp", "2"},         {"aenc", "13"},  {"a1en", "3"},    {"a2en", "3"},      {"ampr", "2"},
          {"a1br", "2"},         {"a2br", "2"},   {"alev", "1"},    {"asrc", "0"},      {"a1in", "0"},
          {"a2in", "1"},         {"aen2", "0"},   {"abmb", "1"},    {"gnam", "Unit 7"}, {"gsle", "0"},
          {"dinp", "0"},         {"dbau", "3"},   {"dpln", "0"},    {"cinp", "0"},      {"ccha", "0"},
          {"cout", "0"},         {"gosw", "0"},   {"evid", "4.5"},  {"evbr", "0"},      {"vhdf", "0"},
          {"eenc", "0"},         {"ecmd", "0"},   {"ehor", "0"},    {"ever", "0"},      {"efrm", "0"},
          {"esha", "0"},         {"eper", "0"},   {"edts", "0100"}, {"epts", "0"},      {"epro", "0"},
          {"gdna", "Svc"},       {"gnet", "Net"}, {"gblo", "0"},    {"glod", "003"},    {"vloc", "1"},
          {"gver", "V3.10.2.1"}, {"gfpg", "12"},  {"gser", "A1"},   {"csta", "2"},      {"gtmp", "45"},
          {"gvnt", "12"},        {"gvax", "33"},  {"meta", "0"},    {"gosd", "0"},      {"pmpd", "0"},
          {"pcpd", "0"},         {"pvid", "0"},   {"pau1", "0"},    {"pau2", "0"},      {"pdat", "0"},
          {"mbit", "1500"},      {"sver", ""},    {"otxm", "0"},    {"gvba", "1234"},   {"oplv", "637"},
          {"vpgn", "0"}};
}

MemoryHost FullPage(const ParamTable& table) {
  MemoryHost host = MemoryHost::ForTable(MainTableRows());
  InitPage(host, table);
  return host;
}

MemoryHost PageWith(const ParamTable& table, std::vector<int> ids) {
  MemoryHost host(ids);
  InitPage(host, table);
  return host;
}

// ---- Page initialisation

TEST(InitPage, EnablesWritableControlsAndLocksDisplayOnlyOnes) {
  ParamTables tables;
  MemoryHost host = MemoryHost::ForTable(MainTableRows());
  host.Enable(ids::kModulationBandwidth, false);
  InitPage(host, tables.main);
  EXPECT_TRUE(host.IsEnabled(ids::kModulationBandwidth));  // owid, writable
  EXPECT_FALSE(host.IsReadOnly(ids::kModulationBandwidth));
  EXPECT_TRUE(host.IsReadOnly(ids::kSoftwareVersion));  // gver, display-only text
  EXPECT_TRUE(host.IsEnabled(ids::kSoftwareVersion));
  EXPECT_TRUE(host.IsReadOnly(ids::kChaining));       // csta, status list
  EXPECT_FALSE(host.IsReadOnly(ids::kVideoBitrate));  // evid: display-only bitrate text is disabled instead
  EXPECT_FALSE(host.IsEnabled(ids::kVideoBitrate));
}

TEST(InitPage, FillsListsWithOfferedOptionsOnly) {
  ParamTables tables;
  MemoryHost host = FullPage(tables.main);
  EXPECT_EQ(host.Find(ids::kScrambling)->entries,
            (std::vector<std::string>{"Off", "ABS", "AES128", "AES256", "BCrypt128", "BCrypt256"}));
  EXPECT_EQ(host.Find(ids::kNarrowbandFec)->entries, (std::vector<std::string>{"2/3", "1/3"}));
  EXPECT_EQ(host.EntryCount(ids::kTransportStreamControl), 4);  // gosw
  EXPECT_EQ(host.EntryCount(ids::kPmtPid), 8191);               // the PID list
  EXPECT_EQ(host.EntryCount(ids::kVideoLocked), 0);             // vloc, status list: no entries
  EXPECT_EQ(host.EntryCount(ids::kUnitName), 0);                // gnam, text
}

TEST(InitPage, SkipsRowsWhoseControlThePageLacks) {
  ParamTables tables;
  MemoryHost host(std::vector<int>{ids::kModulationBandwidth, 9999});
  InitPage(host, tables.main);
  EXPECT_EQ(host.EntryCount(ids::kModulationBandwidth), 6);
  EXPECT_FALSE(host.HasControl(ids::kScrambling));
  EXPECT_EQ(host.EntryCount(9999), 0);
}

// ---- What is read

TEST(Refresh, ReadsEveryExistingRowOnceInTableOrderWithExactFrames) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.ctx.unitAddress = 42;
  MemoryHost page = PageWith(u.tables.main, {ids::kOutputFrequency});
  Refresh(u.ctx, u.tables.main, page);

  const auto reads = u.Reads();
  ASSERT_GE(reads.size(), 3u);
  EXPECT_EQ(reads[0], "oout");
  EXPECT_EQ(reads[1], "ofec");
  EXPECT_EQ(reads.back(), "otxm");  // the K610-only rows after it are not read
  EXPECT_TRUE(u.requests.size() == reads.size()) << "refresh never writes";
  EXPECT_EQ(u.f.line().writes.front(), Frame("0042roout;;"));
  EXPECT_EQ(u.f.line().writes.back(), Frame("0042rotxm;;"));

  // K240 rows: ohls, vinp, aenc ... once each; K610-only and other-only rows
  // and the derived rows are never asked for.
  for (const char* m : {"ohls", "vinp", "aenc", "alev", "esha", "asrc", "aen2", "epro", "dinp", "gdna"})
    EXPECT_EQ(u.ReadsOf(m), 1) << m;
  for (const char* m : {"a1en", "a2en", "abmb", "vhdf", "gnet", "gvba", "oplv", "vpgn", "edts",
                        derived::kBandwidthMode, derived::kAudio})
    EXPECT_EQ(u.ReadsOf(m), 0) << m;
  EXPECT_EQ(u.ReadsOf("ehor"), 1);
  EXPECT_EQ(u.ReadsOf("ecmd"), 1);
  EXPECT_EQ(u.lockedOnRead, "held");
}

TEST(Refresh, VariantDecidesWhichRowsAreRead) {
  ScriptedUnit other("K999");
  other.values = TypicalValues();
  MemoryHost page = FullPage(other.tables.main);
  Refresh(other.ctx, other.tables.main, page);
  EXPECT_EQ(other.ReadsOf("dinp"), 1);
  EXPECT_EQ(other.ReadsOf("asrc"), 0);
  EXPECT_EQ(other.ReadsOf("gosw"), 0);
  EXPECT_EQ(other.ReadsOf("aenc"), 1);

  ScriptedUnit k610("K610");
  k610.values = TypicalValues();
  MemoryHost page2 = FullPage(k610.tables.main);
  Refresh(k610.ctx, k610.tables.main, page2);
  EXPECT_EQ(k610.ReadsOf("aenc"), 0);
  EXPECT_EQ(k610.ReadsOf("gdna"), 0);
  for (const char* m : {"a1en", "a2en", "abmb", "vhdf", "ohls", "vinp", "eenc", "ecmd", "ehor", "gvba"})
    EXPECT_EQ(k610.ReadsOf(m), 1) << m;
  // Two ehor rows on K610? Only the K610 one exists there.
  EXPECT_EQ(k610.tables.main.Find("ehor", ids::kResolution)->Get(), std::nullopt);
  EXPECT_TRUE(k610.tables.main.Find("ehor", ids::kSubHorizontalResolution)->Get().has_value());
}

TEST(Refresh, PageLackingMostControlsStillStoresEveryValue) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  MemoryHost page = PageWith(u.tables.main, {ids::kOutputFrequency, ids::kScrambling});
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.Text(ids::kOutputFrequency), "1250.00");
  EXPECT_EQ(page.SelectedText(ids::kScrambling), "AES256");
  // Rows without a control on this page were read and stored too.
  EXPECT_EQ(u.tables.main.Find("gnam")->Text(), "Unit 7");
  EXPECT_EQ(u.tables.main.Find("owid")->Position(), 2);
  EXPECT_EQ(u.tables.main.Find("csta")->Position(), 2);
  EXPECT_FALSE(page.HasControl(ids::kUnitName));
}

// ---- What is shown

TEST(Refresh, ShowsEachKindInBothWindows) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.values["ofec"] = "2";  // wire 2 is the second offered entry
  MemoryHost page = FullPage(u.tables.main);
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page, &adv);
  for (MemoryHost* h : {&page, &adv}) {
    EXPECT_EQ(h->Text(ids::kUnitName), "Unit 7");             // text as sent
    EXPECT_EQ(h->Text(ids::kOutputFrequency), "1250.00");     // two decimals
    EXPECT_EQ(h->Text(ids::kOutputAttenuationHigh), "6.02");  // level in dB
    EXPECT_EQ(h->Text(ids::kOutputAttenuationLow), "0.00");
    EXPECT_EQ(h->Text(ids::kCurrentConfig), "3");            // trimmed
    EXPECT_EQ(h->Text(ids::kMuxBitrate), "1.500");           // thousandths
    EXPECT_EQ(h->Text(ids::kFpgaCoreVoltage), "1.2");        // tenths
    EXPECT_EQ(h->SelectedText(ids::kScrambling), "AES256");  // list: wire 6
    EXPECT_EQ(h->SelectedText(ids::kNarrowbandFec), "1/3");
    EXPECT_EQ(h->Text(ids::kChaining), "Overflow");  // status list csta 2
    EXPECT_EQ(h->Text(ids::kVideoLocked), "Yes");
    EXPECT_FALSE(h->Checked(ids::kManual));
  }
}

TEST(Refresh, RepliesThatNameNoOptionShowTheUnitsTextAndLeaveLampsGrey) {
  const struct {
    std::string reply, shown;
    int lamp;
  } cases[] = {
      {"1", "Yes", params::kIconGreen},
      {"0", "No", params::kIconRed},
      {"-5", "Unknown (-5)", params::kIconGrey},
      {"7", "Unknown (7)", params::kIconGrey},
      {"99999999999999999999", "Unknown (99999999999999999999)", params::kIconGrey},
  };
  for (const auto& c : cases) {
    ScriptedUnit u("K610");
    u.values = TypicalValues();
    u.values["vloc"] = c.reply;
    u.values["csta"] = c.reply;
    MemoryHost page = FullPage(u.tables.main);
    Refresh(u.ctx, u.tables.main, page);
    EXPECT_EQ(page.Text(ids::kVideoLocked), c.shown) << c.reply;
    EXPECT_EQ(ShownValue(*u.tables.main.Find("vloc")), c.shown) << c.reply;
    if (c.reply != "0" && c.reply != "1") {
      EXPECT_EQ(page.Text(ids::kChaining), "Unknown (" + c.reply + ")");
    }
    EXPECT_NE(std::find(u.lamps.begin(), u.lamps.end(), std::pair{params::kLampVideoLock, c.lamp}), u.lamps.end())
        << c.reply;
  }
}

TEST(Refresh, StatusListBeyondItsOptionsAndChecks) {
  ScriptedUnit u("K610");
  u.values = TypicalValues();
  u.values["csta"] = "7";
  u.values["abmb"] = "2";
  u.values["epts"] = "0";
  MemoryHost page = FullPage(u.tables.main);
  page.SetChecked(ids::kTotalPtsOffset, true);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.Text(ids::kChaining), "Unknown (7)");
  EXPECT_TRUE(page.Checked(ids::kMicInputBias));     // any non-zero value ticks
  EXPECT_FALSE(page.Checked(ids::kTotalPtsOffset));  // 0 clears
  EXPECT_EQ(u.tables.main.Find("abmb")->Check(), 1);
}

TEST(Refresh, VersionRowUpdatesTheFirmwareVersion) {
  ScriptedUnit u("K240");
  u.values = {{"gver", "V3.10.2.1"}};
  MemoryHost page = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(u.ctx.firmware.n, (std::array<std::int32_t, 4>{3, 10, 2, 1}));
  EXPECT_EQ(page.Text(ids::kSoftwareVersion), "V3.10.2.1");
}

// ---- Unanswered rows

TEST(Refresh, RefusedManualIsHiddenInBothWindows) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.refused = {"evbr"};
  MemoryHost page = FullPage(u.tables.main);
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_FALSE(page.IsVisible(ids::kManual));
  EXPECT_FALSE(adv.IsVisible(ids::kManual));
  EXPECT_TRUE(adv.IsVisible(ids::kVideoBitrate));
  EXPECT_EQ(u.tables.main.Find("evbr")->Get(), std::nullopt);
}

TEST(Refresh, SilentManualIsHiddenAndRefreshGoesOn) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.silent = {"evbr"};
  MemoryHost page = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_FALSE(page.IsVisible(ids::kManual));
  EXPECT_EQ(u.tables.main.Find("otxm")->Position(), 0);  // the rows after it were read
  EXPECT_EQ(page.SelectedText(ids::kMpegMode), "MPEG2");
}

TEST(Refresh, UnansweredBatteryVoltageShowsNotAvailable) {
  ScriptedUnit u("K610");
  u.values = TypicalValues();
  u.refused = {"gvba"};
  MemoryHost page = FullPage(u.tables.main);
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_EQ(page.Text(ids::kBatteryVoltage), "Not available");
  EXPECT_EQ(adv.Text(ids::kBatteryVoltage), "Not available");
  EXPECT_TRUE(page.IsVisible(ids::kBatteryVoltage));

  u.refused.clear();
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_EQ(page.Text(ids::kBatteryVoltage), "1234.00");
}

TEST(Refresh, FailedReadKeepsStoredValueAndWhatIsShown) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  MemoryHost page = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page);
  for (const auto& [m, v] : TypicalValues()) u.refused.insert(m);
  page.SetText(ids::kUnitName, "typed");
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(u.tables.main.Find("gnam")->Text(), "Unit 7");
  EXPECT_EQ(u.tables.main.Find("owid")->Position(), 2);
  EXPECT_EQ(page.Text(ids::kUnitName), "typed");  // not touched, not hidden
  EXPECT_TRUE(page.IsVisible(ids::kUnitName));
  EXPECT_EQ(page.SelectedText(ids::kModulationBandwidth), "8MHz");
  EXPECT_FALSE(page.IsVisible(ids::kManual));  // the one flagged row
}

TEST(Refresh, WithoutAConnectionNothingIsStored) {
  ParamTables tables;
  UnitContext ctx;
  ctx.tables = &tables;
  ctx.boardType = "K240";
  MemoryHost page = FullPage(tables.main);
  Refresh(ctx, tables.main, page);
  EXPECT_EQ(tables.main.Find("owid")->Get(), std::nullopt);
  EXPECT_FALSE(page.IsVisible(ids::kManual));
}

// ---- Derived rows

TEST(Refresh, BandChoiceFollowsTheBandwidth) {
  for (auto [owid, shown] : std::vector<std::pair<std::string, std::string>>{
           {"0", "DVBT"}, {"2", "DVBT"}, {"3", "Narrowband"}, {"5", "Narrowband"}}) {
    ScriptedUnit u("K240");
    u.values = TypicalValues();
    u.values["owid"] = owid;
    MemoryHost page = FullPage(u.tables.main);
    Refresh(u.ctx, u.tables.main, page);
    EXPECT_EQ(page.SelectedText(ids::kBandwidthMode), shown) << owid;
  }
}

TEST(Refresh, UnreadBandwidthLeavesTheBandListAlone) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.refused = {"owid"};
  MemoryHost page = FullPage(u.tables.main);
  page.Select(ids::kBandwidthMode, 0);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.Selected(ids::kBandwidthMode), 0);
  EXPECT_EQ(u.tables.main.Find(derived::kBandwidthMode)->Get(), std::nullopt);
  page.Select(ids::kBandwidthMode, 1);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.Selected(ids::kBandwidthMode), 1);
}

TEST(Refresh, AudioSwitchFollowsTheEncoder) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.refused = {"aenc"};
  MemoryHost page = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.SelectedText(ids::kAudio), "On");  // unread counts as on

  u.refused.clear();
  u.values["aenc"] = "0";
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.SelectedText(ids::kAudio), "Off");
  EXPECT_EQ(u.tables.main.Find(derived::kAudio)->Position(), 0);
  u.values["aenc"] = "5";
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.SelectedText(ids::kAudio), "On");
}

TEST(Refresh, EncoderSourcesFollowEncoderAndInput) {
  ScriptedUnit u("K610");
  u.values = TypicalValues();
  u.values["a1en"] = "0";
  u.values["a2en"] = "4";
  u.values["a2in"] = "1";
  MemoryHost page = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.SelectedText(ids::kAudioEncoder1Source), "Off");
  EXPECT_EQ(page.SelectedText(ids::kAudioEncoder2Source), "Analogue");
  u.values["a1en"] = "1";
  u.values["a1in"] = "0";
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.SelectedText(ids::kAudioEncoder1Source), "Embedded");
  EXPECT_EQ(u.tables.main.Find(derived::kAudioEncoder1)->Position(), 1);

  // Only the low 16 bits of the stored positions count.
  u.values["a1en"] = "65536";
  u.values["a2in"] = "65537";
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.SelectedText(ids::kAudioEncoder1Source), "Off");
  EXPECT_EQ(page.SelectedText(ids::kAudioEncoder2Source), "Analogue");
}

TEST(Refresh, DerivedRowsNeedTheirControlAndLeaveTheAdvancedWindowAlone) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  MemoryHost page = PageWith(u.tables.main, {ids::kModulationBandwidth});
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_EQ(u.tables.main.Find(derived::kBandwidthMode)->Get(), std::nullopt);
  EXPECT_EQ(adv.Selected(ids::kBandwidthMode), -1);
  EXPECT_EQ(adv.Selected(ids::kAudio), -1);
}

// ---- Lamps

TEST(Refresh, LampsFollowVideoLockAndOutput) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.values["oout"] = "0";
  u.values["vloc"] = "1";
  MemoryHost page = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(u.lamps, (std::vector<std::pair<int, int>>{{kLampRfOutput, kIconRed}, {kLampVideoLock, kIconGreen}}));

  u.lamps.clear();
  u.values["oout"] = "1";
  u.values["vloc"] = "3";  // no option of the list: grey
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(u.lamps, (std::vector<std::pair<int, int>>{{kLampRfOutput, kIconGreen}, {kLampVideoLock, kIconGrey}}));

  u.lamps.clear();
  u.refused = {"vloc", "oout"};
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_TRUE(u.lamps.empty());
}

// ---- Load rules

TEST(Refresh, AudioRateListFollowsTheEncoderInBothWindows) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.values["aenc"] = "13";
  MemoryHost page = FullPage(u.tables.main);
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page, &adv);
  for (MemoryHost* h : {&page, &adv}) {
    EXPECT_TRUE(h->IsVisible(ids::kLayer2AudioRate));
    EXPECT_FALSE(h->IsVisible(ids::kLayer1AudioRate));
  }
  u.values["aenc"] = "12";
  Refresh(u.ctx, u.tables.main, page, &adv);
  for (MemoryHost* h : {&page, &adv}) {
    EXPECT_TRUE(h->IsVisible(ids::kLayer1AudioRate));
    EXPECT_FALSE(h->IsVisible(ids::kLayer2AudioRate));
  }
}

TEST(Refresh, K610EncoderRateListsFollowTheirEncoders) {
  ScriptedUnit u("K610");
  u.values = TypicalValues();
  u.values["a1en"] = "3";
  u.values["a2en"] = "2";
  MemoryHost page = FullPage(u.tables.main);
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page, &adv);
  for (MemoryHost* h : {&page, &adv}) {
    EXPECT_TRUE(h->IsVisible(ids::kEncoder1Layer2Rate));
    EXPECT_FALSE(h->IsVisible(ids::kEncoder1Layer1Rate));
    EXPECT_TRUE(h->IsVisible(ids::kEncoder2Layer1Rate));
    EXPECT_FALSE(h->IsVisible(ids::kEncoder2Layer2Rate));
  }
}

TEST(Refresh, HdInputFormatFollowsVideoInputOnlyInTheLoadedWindow) {
  ScriptedUnit u("K610");
  u.values = TypicalValues();
  u.values["vinp"] = "12";  // HD-SDI
  MemoryHost page = FullPage(u.tables.main);
  MemoryHost adv = FullPage(u.tables.main);
  adv.Show(ids::kHdInputFormat, false);
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_TRUE(page.IsVisible(ids::kHdInputFormat));
  EXPECT_FALSE(adv.IsVisible(ids::kHdInputFormat));

  u.values["vinp"] = "8";  // SDI PAL
  adv.Show(ids::kHdInputFormat, true);
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_FALSE(page.IsVisible(ids::kHdInputFormat));
  EXPECT_TRUE(adv.IsVisible(ids::kHdInputFormat));
}

TEST(Refresh, ResolutionListWithMpeg4AtQsif) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.values["vinp"] = "2";  // PAL
  u.values["eenc"] = "1";
  u.values["ecmd"] = "5";
  u.values["ehor"] = "1";
  MemoryHost page = FullPage(u.tables.main);
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page, &adv);
  for (MemoryHost* h : {&page, &adv}) {
    EXPECT_EQ(h->Find(ids::kResolution)->entries,
              (std::vector<std::string>{"704 x 576", "528 x 576", "480 x 576", "352 x 576", "SIF", "QSIF"}));
    EXPECT_EQ(h->SelectedText(ids::kResolution), "QSIF");
  }
  EXPECT_EQ(u.ctx.rules.encoderIndex, 1);
  EXPECT_EQ(u.ctx.rules.encodingMode, 5);
  EXPECT_EQ(u.ctx.rules.resolutionIndex, 5);
}

TEST(Refresh, ResolutionListWithMpeg2OnNtsc) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.values["vinp"] = "3";  // NTSC
  u.values["eenc"] = "0";
  u.values["ecmd"] = "5";
  u.values["ehor"] = "2";
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, adv);
  EXPECT_EQ(adv.Find(ids::kResolution)->entries,
            (std::vector<std::string>{"704 x 480", "528 x 480", "480 x 480", "352 x 480"}));
  EXPECT_EQ(adv.SelectedText(ids::kResolution), "480 x 480");
  EXPECT_EQ(u.ctx.rules.resolutionIndex, 2);
  EXPECT_EQ(u.ctx.rules.encoderIndex, 0);

  // MPEG4 at a full size keeps the read resolution but offers SIF/QSIF.
  u.values["eenc"] = "1";
  u.values["ecmd"] = "2";
  Refresh(u.ctx, u.tables.main, adv);
  EXPECT_EQ(adv.EntryCount(ids::kResolution), 6);
  EXPECT_EQ(adv.SelectedText(ids::kResolution), "480 x 480");
  EXPECT_EQ(u.ctx.rules.encodingMode, 2);
}

TEST(Refresh, ManualDrivesTheBitrateEditOnlyWithTheAdvancedWindow) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.values["evbr"] = "4500";
  MemoryHost page = FullPage(u.tables.main);
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_TRUE(page.Checked(ids::kManual));
  EXPECT_TRUE(adv.Checked(ids::kManual));
  EXPECT_TRUE(adv.IsEnabled(ids::kVideoBitrate));
  EXPECT_FALSE(page.IsEnabled(ids::kVideoBitrate));  // only the Advanced options window follows

  u.values["evbr"] = "0";
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_FALSE(adv.Checked(ids::kManual));
  EXPECT_FALSE(adv.IsEnabled(ids::kVideoBitrate));

  // A page refresh on its own leaves the edit as it is.
  u.values["evbr"] = "1";
  Refresh(u.ctx, u.tables.main, adv);
  EXPECT_TRUE(adv.Checked(ids::kManual));
  EXPECT_FALSE(adv.IsEnabled(ids::kVideoBitrate));
}

TEST(Refresh, SatelliteModulatorTable) {
  ScriptedUnit u("K240");
  u.values = {{"stmp", "453"}, {"srol", "35"}, {"slev", "35"}, {"smod", "1"}, {"sdel", "1"}, {"scar", "0070"}};
  MemoryHost sat = MemoryHost::ForTable(SatmodTableRows());
  InitPage(sat, u.tables.satmod);
  Refresh(u.ctx, u.tables.satmod, sat);
  EXPECT_EQ(u.Reads().size(), SatmodTableRows().size());
  EXPECT_EQ(sat.Text(ids::kModulatorTemperature), "45.3");
  EXPECT_EQ(sat.Text(ids::kRollOff), "0.35");
  EXPECT_EQ(sat.Text(ids::kSignalLevel), "-3.5");
  EXPECT_EQ(sat.Text(ids::kCarrierFrequency), "70");
  EXPECT_EQ(sat.SelectedText(ids::kSatModulation), "8PSK");
  EXPECT_TRUE(sat.Checked(ids::kEnableDescriptors));
}

}  // namespace
