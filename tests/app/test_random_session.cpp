// An operator at random: four simulated units (a K240 with a satellite
// modulator, a K610, a K240 without one that refuses some reads, a silent
// unit) reached over serial and TCP, and connects, changes, applies,
// refreshes, config switches, the settings windows opened and closed, a file
// saved and loaded and IQ trim points, in an order drawn from a seed. After
// every step: each control shown holds nothing, the operator's entry or what
// the unit holds now; no unit received a write the steps did not ask for;
// nothing is left busy; the unapplied count is the number of controls that
// show something else than the unit holds.
//
// VECTA_RANDOM_SEED=n runs seed n alone; VECTA_RANDOM_STEPS=n steps a seed.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "app/config_review.h"
#include "app/connector.h"
#include "app/engineering.h"
#include "pages/layouts.h"
#include "params/config_file.h"
#include "params/control_changes.h"
#include "params/page_rules.h"
#include "sim_unit.h"
#include "support/fake_link.h"
#include "support/files.h"
#include "support/recording_ui.h"

using namespace vecta;
using namespace vecta::test;
using params::MemoryHost;
using params::ParamRow;

namespace {

struct Unit {
  std::string board, ip;
  std::unique_ptr<sim::SimUnit> sim;
  std::set<std::string, std::less<>> refused;  // reads answered with 'E'
  std::vector<std::string> writes;             // "ofre;666.00"

  std::optional<Bytes> Answer(const Bytes& frame) {
    const std::string text(frame.begin() + 1, frame.end() - 2);
    if (text[4] == 'w') writes.push_back(text.substr(5, text.size() - 6));
    if (text[4] == 'r' && refused.count(text.substr(5, 4))) return ReplyFrame(sim->Address(), 'E', "");
    const sim::SimReply r = sim->Handle(frame);
    return r.answer ? std::optional(r.bytes) : std::nullopt;
  }
  // What it holds now, read behind the session's back.
  std::optional<std::string> Peek(std::string_view m) {
    if (refused.count(m)) return std::nullopt;
    const sim::SimReply r =
        sim->Handle(IndependentFrame(sim::AddressText(sim->Address()) + "r" + std::string(m) + ";;"));
    const link::DecodedReply d = link::DecodeReply(r.bytes.data(), r.bytes.size());
    return r.answer && d.code == 0 && d.status == '1' ? std::optional(d.value) : std::nullopt;
  }
};

enum Window { kMain, kAdvanced, kSatmod };

// The main window's windows without a screen, laid out as the real ones.
class Windows final : public app::SessionView {
 public:
  explicit Windows(params::UnitContext& unit)
      : unit_(unit), main(Ids(std::array{pages::PageId::MainSettings}, {})) {
    params::InitPage(main, unit.tables->main);
  }
  template <typename Pages>
  static std::vector<int> Ids(const Pages& pages, std::optional<params::Variant> variant) {
    std::vector<int> ids;
    for (pages::PageId p : pages)
      for (const pages::Entry& e : pages::Layout(p).entries)
        if (e.mnemonic && (!variant || e.ControlOn(*variant))) ids.push_back(e.control);
    return ids;
  }
  void OpenAdvanced() {
    advanced.emplace(Ids(pages::Window(pages::WindowId::AdvancedOptions).pages, unit_.variant()));
    params::InitPage(*advanced, unit_.tables->main);
    params::FillAdvancedFromCache(unit_, *advanced);
  }
  MemoryHost* Host(int w) {
    std::optional<MemoryHost>& other = w == kAdvanced ? advanced : satmod;
    return w == kMain ? &main : other ? &*other : nullptr;
  }
  void SetBusy(bool b) override { busy += b ? 1 : -1; }
  void SetConfigCount(int) override {}
  void SelectConfigTab(int) override {}
  void AdaptToBoard(const std::string&) override {}
  void ShowSatmodButton(bool visible) override { satmodButton = visible; }
  params::ControlHost& MainPage() override { return main; }
  params::ControlHost* AdvancedWindow() override { return Host(kAdvanced); }
  params::ControlHost* SatmodWindow() override { return Host(kSatmod); }
  void RebuildSettingsWindows(const std::string&) override {
    if (advanced) OpenAdvanced();
  }
  void CloseSatmodWindow() override { satmod.reset(); }

  params::UnitContext& unit_;
  MemoryHost main;
  std::optional<MemoryHost> advanced, satmod;
  int busy = 0;
  bool satmodButton = false;
};

// A control's content as one text; Blank() for what nothing was put in.
std::string Key(const MemoryHost& w, const ParamRow& row) {
  const int id = row.Control();
  switch (row.GetKind()) {
    case params::Kind::List:
      return "l" + std::to_string(w.Selected(id));
    case params::Kind::Check:
      return w.Checked(id) ? "c1" : "c0";
    case params::Kind::Address:
      return "a" + std::to_string(w.Address(id));
    default:
      return "t" + w.Text(id);
  }
}
bool Blank(const std::string& key) { return key == "t" || key == "l-1" || key == "c0" || key == "a0"; }

// The mnemonics a control's change writes besides its own.
const std::map<std::string, std::vector<std::string>, std::less<>> kAlsoWritten = {
    {"0000", {"owid"}}, {"0003", {"aenc"}}, {"0004", {"a1en", "a1in"}}, {"0005", {"a2en", "a2in"}},
    {"ehor", {"ecmd"}}, {"cinp", {"cflo"}}, {"evid", {"evbr"}}};

class RandomSession {
 public:
  explicit RandomSession(std::uint64_t seed) : seed_(seed), rng_(seed) {
    const char* boards[] = {"K240", "K610", "K240", "X100"};
    for (int i = 0; i < 4; ++i) {
      sim::UnitOptions o;
      o.address = i + 1;
      o.board = boards[i];
      o.satmod = i == 0;
      sim::FaultOptions faults;
      faults.silent = i == 3;
      units_[i] = {o.board, "10.0.0." + std::to_string(i + 1), std::make_unique<sim::SimUnit>(o, faults), {}, {}};
    }
    units_[2].refused = {"gnam", "odfe", "evbr", "otxm"};
    f_.line().responder = [this](const Bytes& frame) {
      const int port = std::stoi(f_.serial->opened.back().substr(9));  // "/dev/fakeN"
      return port < 4 ? units_[port].Answer(frame) : std::nullopt;
    };
    f_.sockets->state->responder = [this](const Bytes& frame) -> std::optional<Bytes> {
      for (Unit& u : units_)
        if (f_.sockets->targets.back().rfind(u.ip + ":", 0) == 0) return u.Answer(frame);
      return std::nullopt;
    };
    f_.link->SetCloseAfterSendFailure(false);
    f_.link->SetCloseAfterReceiveFailure(false);
    prompter_.reviewWith = [](const params::ConfigReview&) { return true; };
  }

  // Stops at the first rule broken, with the seed and every step so far.
  void Run(int steps) {
    for (int i = 0; i < steps; ++i) {
      Step();
      if (const std::string broken = Check(); !broken.empty()) {
        std::string story;
        for (const std::string& s : story_) story += "\n  " + s;
        ADD_FAILURE() << "seed " << seed_ << ", step " << i + 1 << ": " << broken << "\nsteps:" << story;
        return;
      }
    }
  }

 private:
  int Draw(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }

  void Step() {
    const int r = Draw(100), k = Draw(11);
    if (r < 10) return Connect(k % 4, k < 5);
    if (r < 40) return Change(k % 3);
    if (r < 55) return Apply(k % 3);
    if (r < 60) return Act("refresh", {}, [&] { session_.RefreshRequest(); });
    if (r < 65)
      return Act("config " + std::to_string(k % 8 + 1), {"glod"}, [&] { session_.ChangeConfigTab(k % 8); });
    if (r < 80)
      return Act("open or close window " + std::to_string(1 + r % 2), {}, [&] {
        typed_[1 + r % 2].clear();
        if (r % 2 == 0 && (view_.advanced || session_.Connected()))
          view_.advanced ? view_.advanced.reset() : view_.OpenAdvanced();
        if (r % 2 == 0 || !(view_.satmod || (session_.Connected() && view_.satmodButton))) return;
        if (view_.satmod) return view_.satmod.reset();
        view_.satmod.emplace(MemoryHost::ForTable(params::SatmodTableRows()));
        params::InitPage(*view_.satmod, tables_.satmod);
        session_.ReadSatmodWindow(*view_.satmod);
      });
    if (r < 90)
      return Act(r < 85 ? "save file" : "load file", {r < 85 ? "" : "*"}, [&] {
        prompter_.files.push_back(dir_.File("saved.cfg"));
        if (r < 85)
          params::SaveConfigToFile(ctx_, session_.CurrentConfig());
        else
          app::LoadConfigFromFileReviewed(ctx_, [&] { session_.FullRefreshWithinOperation(); });
      });
    Act("IQ trim point " + std::to_string(k + 1), {"citr", "ofre"}, [&] {
      if (session_.Connected())
        session_.ReadBackRows(app::IqElevenPointTrim(*f_.link, ctx_.unitAddress, k + 1).written);
    });
  }

  void Connect(int u, bool serial) {
    Act("connect " + units_[u].board + " " + std::to_string(u) + (serial ? " serial" : " TCP"), {}, [&] {
      const auto closed = [&] { session_.SetConnected(false); };
      bool taken = false;
      if (serial) {
        taken = connector_.ConnectSerial(u, previous_, closed).result == app::SerialConnect::Result::Connected;
      } else {
        connector_.PrepareEthernet(units_[u].ip, previous_, closed);
        taken = link::ConnectAndWait(*f_.link, 5000) == link::kConnectOk &&
                connector_.FinishEthernet() == app::EthernetResult::Connected;
      }
      previous_ = serial ? app::ConnectionKind::Rs232 : app::ConnectionKind::Ethernet;
      if (!taken) return;
      session_.SetConnected(true);
      shown_ = &units_[u];
      for (auto& typed : typed_) typed.clear();
      session_.FullRefresh();
    });
  }

  const params::ParamTable& Table(int w) { return w == kSatmod ? tables_.satmod : tables_.main; }

  // The operator picks a value in a control of a row the unit has.
  void Change(int w) {
    MemoryHost* host = view_.Host(w);
    std::vector<const ParamRow*> rows;
    for (const ParamRow& row : Table(w).Rows())
      if (host && host->HasControl(row.Control()) && row.Desc().writable &&
          params::RowExists(row.Desc(), ctx_.variant()))
        rows.push_back(&row);
    if (rows.empty()) return;
    const ParamRow& row = *rows[static_cast<std::size_t>(Draw(static_cast<int>(rows.size())))];
    const int id = row.Control(), n = host->EntryCount(id);
    switch (row.GetKind()) {
      case params::Kind::List:
        host->Select(id, n ? Draw(n) : -1);
        break;
      case params::Kind::Check:
        host->SetChecked(id, !host->Checked(id));
        break;
      case params::Kind::Address:
        host->SetAddress(id, static_cast<std::uint32_t>(rng_()));
        break;
      default:
        host->SetText(id, std::vector<std::string>{"7", "12.5", "Studio"}[static_cast<std::size_t>(Draw(3))]);
    }
    typed_[w][id] = Key(*host, row);
    story_.push_back("window " + std::to_string(w) + ": control " + std::to_string(id) + " = " + typed_[w][id]);
  }

  void Apply(int w) {
    MemoryHost* host = view_.Host(w);
    if (!host) return;
    std::set<std::string> asked;  // by the operator's entries still shown there
    for (const ParamRow& row : Table(w).Rows())
      if (typed_[w].count(row.Control()) && typed_[w][row.Control()] == Key(*host, row)) {
        asked.insert(std::string(row.Mnemonic()));
        if (auto it = kAlsoWritten.find(row.Mnemonic()); it != kAlsoWritten.end())
          asked.insert(it->second.begin(), it->second.end());
      }
    Act("apply window " + std::to_string(w), asked, [&] {
      params::ControlHost* pages[] = {host};
      if (w == kMain) session_.ApplyRequest();
      if (w == kAdvanced) session_.ApplyAdvancedWindow(pages);
      if (w == kSatmod) session_.ApplySatmodWindow(*host);
    });
  }

  // One step; `asked` holds the mnemonics it may write to the unit
  // connected ("*": any).
  void Act(const std::string& what, const std::set<std::string>& asked, const std::function<void()>& step) {
    story_.push_back(what);
    std::size_t before[4];
    for (int i = 0; i < 4; ++i) before[i] = units_[i].writes.size();
    const Unit* connected = session_.Connected() ? shown_ : nullptr;
    step();
    for (int i = 0; i < 4; ++i)
      for (std::size_t w = before[i]; w < units_[i].writes.size(); ++w)
        if (&units_[i] != connected || !(asked.count("*") || asked.count(units_[i].writes[w].substr(0, 4))))
          unasked_ = "unit " + std::to_string(i) + (&units_[i] == connected ? "" : ", not connected,") + " got w" +
                     units_[i].writes[w];
  }

  // What the shown unit holds now, as a refresh would store it.
  void ReadTruth() {
    const params::Variant variant = params::VariantOf(shown_->board);
    for (params::ParamTable* table : truth_.All())
      for (ParamRow& row : table->Rows()) {
        row.Clear();
        if (row.Desc().Derived() || !params::RowExists(row.Desc(), variant)) continue;
        if (auto v = shown_->Peek(row.Mnemonic())) params::StoreReply(row, *v);
      }
    for (ParamRow& row : truth_.main.Rows())
      if (auto v = row.Desc().Derived() ? params::DerivedValue(row.Mnemonic(), truth_.main) : std::nullopt)
        row.Set(*v);
    // SIF and QSIF are the unit's encoding mode, shown in the resolution list.
    const std::int32_t mode = truth_.main.StoredListPosition("ecmd", params::ids::kMpeg4EncodingMode);
    if (truth_.main.StoredListPosition("eenc", params::ids::kMpegMode) == 1 && mode >= 4 &&
        mode != params::kNoStoredPosition)
      truth_.main.Find("ehor", params::ids::kResolution)->Set(mode);
  }

  std::string Check() {
    if (!unasked_.empty()) return unasked_;
    if (view_.busy != 0) return "busy depth " + std::to_string(view_.busy);
    if (!shown_) return {};
    ReadTruth();
    for (int w : {kMain, kAdvanced, kSatmod})
      if (MemoryHost* host = view_.Host(w))
        if (std::string broken = CheckWindow(w, *host); !broken.empty()) return broken;
    return {};
  }

  std::string CheckWindow(int w, MemoryHost& host) {
    const params::Variant variant = params::VariantOf(shown_->board);
    std::map<int, ParamRow*> rows;  // one per control: the one the unit has, if any
    for (ParamRow& row : (w == kSatmod ? truth_.satmod : truth_.main).Rows()) {
      ParamRow*& slot = rows[row.Control()];
      if (host.HasControl(row.Control()) &&
          (!slot || (!params::RowExists(slot->Desc(), variant) && params::RowExists(row.Desc(), variant))))
        slot = &row;
    }
    int differing = 0;
    for (const auto& [id, row] : rows) {
      if (!row || row->GetKind() == params::Kind::StatusList) continue;
      const bool held = params::RowExists(row->Desc(), variant) && row->Get();
      const bool differs = held && params::ShownValueDiffers(*row, host);
      differing += differs && row->Desc().writable;
      const std::string key = Key(host, *row);
      if (host.IsVisible(id) && (differs || !held) && !Blank(key) && typed_[w][id] != key &&
          !(id == params::ids::kBatteryVoltage && key == "tNot available"))
        return "window " + std::to_string(w) + " control " + std::to_string(id) + " (" +
               std::string(row->Mnemonic()) + ") shows " + key + ", unit " + shown_->board + " holds " +
               (held ? params::ShownValue(row->Desc(), row->Get()) : "nothing");
    }
    const std::size_t counted = params::UnappliedControls(Table(w), host, variant).size();
    if (static_cast<int>(counted) == differing) return {};
    return "window " + std::to_string(w) + " counts " + std::to_string(counted) + " unapplied changes, " +
           std::to_string(differing) + " controls differ from the unit";
  }

  std::uint64_t seed_;
  std::mt19937_64 rng_;
  FakeLink f_;
  TempDir dir_;
  Unit units_[4];
  params::ParamTables tables_, truth_;
  RecordingPrompter prompter_;
  params::UnitContext ctx_ = [this] {
    params::UnitContext c;
    c.link = f_.link.get();
    c.clock = &f_.clock;
    c.prompter = &prompter_;
    c.tables = &tables_;
    return c;
  }();
  Windows view_{ctx_};
  app::Session session_{ctx_, view_};
  app::Connector connector_{session_};
  app::ConnectionKind previous_ = app::ConnectionKind::Rs232;
  Unit* shown_ = nullptr;                // the unit the windows show: the last one connected
  std::map<int, std::string> typed_[3];  // per window: what the operator left in a control
  std::vector<std::string> story_;
  std::string unasked_;
};

int FromEnvironment(const char* name, int otherwise) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : otherwise;
}

TEST(RandomSession, EveryStepLeavesTheWindowsTruthfulAndWritesOnlyWhatWasAsked) {
  const int steps = FromEnvironment("VECTA_RANDOM_STEPS", 200);
  std::vector<std::uint64_t> seeds = {1, 2, 3, 4, 5, 6, 7, 8};
  if (const int seed = FromEnvironment("VECTA_RANDOM_SEED", 0)) seeds = {static_cast<std::uint64_t>(seed)};
  for (std::uint64_t seed : seeds) RandomSession(seed).Run(steps);
}

}  // namespace
