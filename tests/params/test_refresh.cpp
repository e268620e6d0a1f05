// Page initialisation and refresh against a scripted unit on the fake serial
// line: what is read (byte for byte), what each kind of row shows, how
// unanswered rows are handled, the derived rows, the lamps and the rules that
// run while values are loaded.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "link/link_lock.h"
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
  return {{"oout", "1"},   {"ofec", "1"},      {"ogua", "1"},    {"omod", "0"},    {"ofre", "1250"},
          {"owid", "2"},   {"ohls", "1"},      {"olev", "637"},  {"ollv", "1274"}, {"odfe", "0"},
          {"odgu", "0"},   {"odmo", "0"},      {"ospe", "0"},    {"o4ko", "0"},    {"zscr", "6"},
          {"vinp", "2"},   {"aenc", "13"},     {"a1en", "3"},    {"a2en", "3"},    {"ampr", "2"},
          {"a1br", "2"},   {"a2br", "2"},      {"alev", "1"},    {"asrc", "0"},    {"a1in", "0"},
          {"a2in", "1"},   {"aen2", "0"},      {"abmb", "1"},    {"gnam", "Unit 7"}, {"gsle", "0"},
          {"dinp", "0"},   {"dbau", "3"},      {"dpln", "0"},    {"cinp", "0"},    {"ccha", "0"},
          {"cout", "0"},   {"gosw", "0"},      {"evid", "4.5"},  {"evbr", "0"},    {"vhdf", "0"},
          {"eenc", "0"},   {"ecmd", "0"},      {"ehor", "0"},    {"ever", "0"},    {"efrm", "0"},
          {"esha", "0"},   {"eper", "0"},      {"edts", "0100"}, {"epts", "0"},    {"epro", "0"},
          {"gdna", "Svc"}, {"gnet", "Net"},    {"gblo", "0"},    {"glod", "003"},  {"vloc", "1"},
          {"gver", "V3.10.2.1"}, {"gfpg", "12"}, {"gser", "A1"}, {"csta", "2"},    {"gtmp", "45"},
          {"gvnt", "12"},  {"gvax", "33"},     {"meta", "0"},    {"gosd", "0"},    {"pmpd", "0"},
          {"pcpd", "0"},   {"pvid", "0"},      {"pau1", "0"},    {"pau2", "0"},    {"pdat", "0"},
          {"mbit", "1500"}, {"sver", ""},      {"otxm", "0"},    {"gvba", "1234"}, {"oplv", "637"},
          {"vpgn", "0"}};
}

MemoryHost FullPage(const ParamTable& table) {
  MemoryHost host = MemoryHost::ForTable(MainTableSpec());
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
  MemoryHost host = MemoryHost::ForTable(MainTableSpec());
  host.Enable(1204, false);
  InitPage(host, tables.main);
  EXPECT_TRUE(host.IsEnabled(1204));          // owid, writable
  EXPECT_FALSE(host.IsReadOnly(1204));
  EXPECT_TRUE(host.IsReadOnly(1309));         // gver, display-only text
  EXPECT_TRUE(host.IsEnabled(1309));
  EXPECT_TRUE(host.IsReadOnly(1311));         // csta, status list
  EXPECT_FALSE(host.IsReadOnly(1304));        // evid: display-only bitrate text is disabled instead
  EXPECT_FALSE(host.IsEnabled(1304));
}

TEST(InitPage, FillsListsWithOfferedOptionsOnly) {
  ParamTables tables;
  MemoryHost host = FullPage(tables.main);
  EXPECT_EQ(host.Find(1211)->entries,
            (std::vector<std::string>{"Off", "ABS", "AES128", "AES256", "BCrypt128", "BCrypt256"}));
  EXPECT_EQ(host.Find(1201)->entries, (std::vector<std::string>{"2/3", "1/3"}));
  EXPECT_EQ(host.EntryCount(1064), 4);       // gosw
  EXPECT_EQ(host.EntryCount(1109), 8191);    // the PID list
  EXPECT_EQ(host.EntryCount(1308), 0);       // vloc, status list: no entries
  EXPECT_EQ(host.EntryCount(1303), 0);       // gnam, text
}

TEST(InitPage, SkipsRowsWhoseControlThePageLacks) {
  ParamTables tables;
  MemoryHost host(std::vector<int>{1204, 9999});
  InitPage(host, tables.main);
  EXPECT_EQ(host.EntryCount(1204), 6);
  EXPECT_FALSE(host.HasControl(1211));
  EXPECT_EQ(host.EntryCount(9999), 0);
}

// ---- What is read

TEST(Refresh, ReadsEveryExistingRowOnceInTableOrderWithExactFrames) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.ctx.unitAddress = 42;
  MemoryHost page = PageWith(u.tables.main, {1301});
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
  for (const char* m : {"a1en", "a2en", "abmb", "vhdf", "gnet", "gvba", "oplv", "vpgn", "edts", "0000", "0003"})
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
  EXPECT_EQ(k610.tables.main.Find("ehor", 1221)->Get(), std::nullopt);
  EXPECT_TRUE(k610.tables.main.Find("ehor", 1238)->Get().has_value());
}

TEST(Refresh, PageLackingMostControlsStillStoresEveryValue) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  MemoryHost page = PageWith(u.tables.main, {1301, 1211});
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.Text(1301), "1250.00");
  EXPECT_EQ(page.SelectedText(1211), "AES256");
  // Rows without a control on this page were read and stored too.
  EXPECT_EQ(u.tables.main.Find("gnam")->Text(), "Unit 7");
  EXPECT_EQ(u.tables.main.Find("owid")->Position(), 2);
  EXPECT_EQ(u.tables.main.Find("csta")->Position(), 2);
  EXPECT_FALSE(page.HasControl(1303));
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
    EXPECT_EQ(h->Text(1303), "Unit 7");         // text as sent
    EXPECT_EQ(h->Text(1301), "1250.00");        // two decimals
    EXPECT_EQ(h->Text(1300), "6.02");           // level in dB
    EXPECT_EQ(h->Text(1302), "0.00");
    EXPECT_EQ(h->Text(1306), "3");              // trimmed
    EXPECT_EQ(h->Text(1074), "1.500");          // thousandths
    EXPECT_EQ(h->Text(1068), "1.2");            // tenths
    EXPECT_EQ(h->SelectedText(1211), "AES256");  // list: wire 6
    EXPECT_EQ(h->SelectedText(1201), "1/3");
    EXPECT_EQ(h->Text(1311), "Overflow");       // status list csta 2
    EXPECT_EQ(h->Text(1308), "Yes");
    EXPECT_FALSE(h->Checked(1042));
  }
}

TEST(Refresh, StatusListBeyondItsOptionsAndChecks) {
  ScriptedUnit u("K610");
  u.values = TypicalValues();
  u.values["csta"] = "7";
  u.values["abmb"] = "2";
  u.values["epts"] = "0";
  MemoryHost page = FullPage(u.tables.main);
  page.SetChecked(1124, true);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.Text(1311), "Unknown (7)");
  EXPECT_TRUE(page.Checked(1123));   // any non-zero value ticks
  EXPECT_FALSE(page.Checked(1124));  // 0 clears
  EXPECT_EQ(u.tables.main.Find("abmb")->Check(), 1);
}

TEST(Refresh, VersionRowUpdatesTheFirmwareVersion) {
  ScriptedUnit u("K240");
  u.values = {{"gver", "V3.10.2.1"}};
  MemoryHost page = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(u.ctx.firmware.n, (std::array<std::int32_t, 4>{3, 10, 2, 1}));
  EXPECT_EQ(page.Text(1309), "V3.10.2.1");
}

// ---- Unanswered rows

TEST(Refresh, RefusedManualIsHiddenInBothWindows) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.refused = {"evbr"};
  MemoryHost page = FullPage(u.tables.main);
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_FALSE(page.IsVisible(1042));
  EXPECT_FALSE(adv.IsVisible(1042));
  EXPECT_TRUE(adv.IsVisible(1304));
  EXPECT_EQ(u.tables.main.Find("evbr")->Get(), std::nullopt);
}

TEST(Refresh, SilentManualIsHiddenAndRefreshGoesOn) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.silent = {"evbr"};
  MemoryHost page = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_FALSE(page.IsVisible(1042));
  EXPECT_EQ(u.tables.main.Find("otxm")->Position(), 0);  // the rows after it were read
  EXPECT_EQ(page.SelectedText(1222), "MPEG2");
}

TEST(Refresh, UnansweredBatteryVoltageShowsNotAvailable) {
  ScriptedUnit u("K610");
  u.values = TypicalValues();
  u.refused = {"gvba"};
  MemoryHost page = FullPage(u.tables.main);
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_EQ(page.Text(1136), "Not available");
  EXPECT_EQ(adv.Text(1136), "Not available");
  EXPECT_TRUE(page.IsVisible(1136));

  u.refused.clear();
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_EQ(page.Text(1136), "1234.00");
}

TEST(Refresh, FailedReadKeepsStoredValueAndWhatIsShown) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  MemoryHost page = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page);
  for (const auto& [m, v] : TypicalValues()) u.refused.insert(m);
  page.SetText(1303, "typed");
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(u.tables.main.Find("gnam")->Text(), "Unit 7");
  EXPECT_EQ(u.tables.main.Find("owid")->Position(), 2);
  EXPECT_EQ(page.Text(1303), "typed");  // not touched, not hidden
  EXPECT_TRUE(page.IsVisible(1303));
  EXPECT_EQ(page.SelectedText(1204), "8MHz");
  EXPECT_FALSE(page.IsVisible(1042));  // the one flagged row
}

TEST(Refresh, WithoutAConnectionNothingIsStored) {
  ParamTables tables;
  UnitContext ctx;
  ctx.tables = &tables;
  ctx.boardType = "K240";
  MemoryHost page = FullPage(tables.main);
  Refresh(ctx, tables.main, page);
  EXPECT_EQ(tables.main.Find("owid")->Get(), std::nullopt);
  EXPECT_FALSE(page.IsVisible(1042));
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
    EXPECT_EQ(page.SelectedText(1230), shown) << owid;
  }
}

TEST(Refresh, UnreadBandwidthLeavesTheBandListAlone) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.refused = {"owid"};
  MemoryHost page = FullPage(u.tables.main);
  page.Select(1230, 0);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.Selected(1230), 0);
  EXPECT_EQ(u.tables.main.Find("0000")->Get(), std::nullopt);
  page.Select(1230, 1);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.Selected(1230), 1);
}

TEST(Refresh, AudioSwitchFollowsTheEncoder) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.refused = {"aenc"};
  MemoryHost page = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.SelectedText(1231), "On");  // unread counts as on

  u.refused.clear();
  u.values["aenc"] = "0";
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.SelectedText(1231), "Off");
  EXPECT_EQ(u.tables.main.Find("0003")->Position(), 0);
  u.values["aenc"] = "5";
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.SelectedText(1231), "On");
}

TEST(Refresh, EncoderSourcesFollowEncoderAndInput) {
  ScriptedUnit u("K610");
  u.values = TypicalValues();
  u.values["a1en"] = "0";
  u.values["a2en"] = "4";
  u.values["a2in"] = "1";
  MemoryHost page = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.SelectedText(1093), "Off");
  EXPECT_EQ(page.SelectedText(1094), "Analogue");
  u.values["a1en"] = "1";
  u.values["a1in"] = "0";
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.SelectedText(1093), "Embedded");
  EXPECT_EQ(u.tables.main.Find("0004")->Position(), 1);

  // Only the low 16 bits of the stored positions count.
  u.values["a1en"] = "65536";
  u.values["a2in"] = "65537";
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(page.SelectedText(1093), "Off");
  EXPECT_EQ(page.SelectedText(1094), "Analogue");
}

TEST(Refresh, DerivedRowsNeedTheirControlAndLeaveTheAdvancedWindowAlone) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  MemoryHost page = PageWith(u.tables.main, {1204});
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_EQ(u.tables.main.Find("0000")->Get(), std::nullopt);
  EXPECT_EQ(adv.Selected(1230), -1);
  EXPECT_EQ(adv.Selected(1231), -1);
}

// ---- Lamps

TEST(Refresh, LampsFollowVideoLockAndOutput) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.values["oout"] = "0";
  u.values["vloc"] = "1";
  MemoryHost page = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(u.lamps, (std::vector<std::pair<int, int>>{{1027, 130}, {1024, 129}}));

  u.lamps.clear();
  u.values["oout"] = "1";
  u.values["vloc"] = "3";
  Refresh(u.ctx, u.tables.main, page);
  EXPECT_EQ(u.lamps, (std::vector<std::pair<int, int>>{{1027, 129}, {1024, 130}}));

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
    EXPECT_TRUE(h->IsVisible(1234));
    EXPECT_FALSE(h->IsVisible(1233));
  }
  u.values["aenc"] = "12";
  Refresh(u.ctx, u.tables.main, page, &adv);
  for (MemoryHost* h : {&page, &adv}) {
    EXPECT_TRUE(h->IsVisible(1233));
    EXPECT_FALSE(h->IsVisible(1234));
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
    EXPECT_TRUE(h->IsVisible(1090));
    EXPECT_FALSE(h->IsVisible(1089));
    EXPECT_TRUE(h->IsVisible(1091));
    EXPECT_FALSE(h->IsVisible(1092));
  }
}

TEST(Refresh, HdInputFormatFollowsVideoInputOnlyInTheLoadedWindow) {
  ScriptedUnit u("K610");
  u.values = TypicalValues();
  u.values["vinp"] = "12";  // HD-SDI
  MemoryHost page = FullPage(u.tables.main);
  MemoryHost adv = FullPage(u.tables.main);
  adv.Show(1237, false);
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_TRUE(page.IsVisible(1237));
  EXPECT_FALSE(adv.IsVisible(1237));

  u.values["vinp"] = "8";  // SDI PAL
  adv.Show(1237, true);
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_FALSE(page.IsVisible(1237));
  EXPECT_TRUE(adv.IsVisible(1237));
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
    EXPECT_EQ(h->Find(1221)->entries, (std::vector<std::string>{"704 x 576", "528 x 576", "480 x 576",
                                                                "352 x 576", "SIF", "QSIF"}));
    EXPECT_EQ(h->SelectedText(1221), "QSIF");
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
  EXPECT_EQ(adv.Find(1221)->entries,
            (std::vector<std::string>{"704 x 480", "528 x 480", "480 x 480", "352 x 480"}));
  EXPECT_EQ(adv.SelectedText(1221), "480 x 480");
  EXPECT_EQ(u.ctx.rules.resolutionIndex, 2);
  EXPECT_EQ(u.ctx.rules.encoderIndex, 0);

  // MPEG4 at a full size keeps the read resolution but offers SIF/QSIF.
  u.values["eenc"] = "1";
  u.values["ecmd"] = "2";
  Refresh(u.ctx, u.tables.main, adv);
  EXPECT_EQ(adv.EntryCount(1221), 6);
  EXPECT_EQ(adv.SelectedText(1221), "480 x 480");
  EXPECT_EQ(u.ctx.rules.encodingMode, 2);
}

TEST(Refresh, ManualDrivesTheBitrateEditOnlyWithTheAdvancedWindow) {
  ScriptedUnit u("K240");
  u.values = TypicalValues();
  u.values["evbr"] = "4500";
  MemoryHost page = FullPage(u.tables.main);
  MemoryHost adv = FullPage(u.tables.main);
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_TRUE(page.Checked(1042));
  EXPECT_TRUE(adv.Checked(1042));
  EXPECT_TRUE(adv.IsEnabled(1304));
  EXPECT_FALSE(page.IsEnabled(1304));  // only the Advanced options window follows

  u.values["evbr"] = "0";
  Refresh(u.ctx, u.tables.main, page, &adv);
  EXPECT_FALSE(adv.Checked(1042));
  EXPECT_FALSE(adv.IsEnabled(1304));

  // A page refresh on its own leaves the edit as it is.
  u.values["evbr"] = "1";
  Refresh(u.ctx, u.tables.main, adv);
  EXPECT_TRUE(adv.Checked(1042));
  EXPECT_FALSE(adv.IsEnabled(1304));
}

TEST(Refresh, SatelliteModulatorTable) {
  ScriptedUnit u("K240");
  u.values = {{"stmp", "453"}, {"srol", "35"}, {"slev", "35"}, {"smod", "1"}, {"sdel", "1"}, {"scar", "0070"}};
  MemoryHost sat = MemoryHost::ForTable(SatmodTableSpec());
  InitPage(sat, u.tables.satmod);
  Refresh(u.ctx, u.tables.satmod, sat);
  EXPECT_EQ(u.Reads().size(), SatmodTableSpec().size());
  EXPECT_EQ(sat.Text(1350), "45.3");
  EXPECT_EQ(sat.Text(1352), "0.35");
  EXPECT_EQ(sat.Text(1354), "-3.5");
  EXPECT_EQ(sat.Text(1351), "70");
  EXPECT_EQ(sat.SelectedText(1251), "8PSK");
  EXPECT_TRUE(sat.Checked(1380));
}

}  // namespace
