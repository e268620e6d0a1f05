// Writing the operator's changes of several windows before they would be
// lost: one window runs exactly its own Apply; several are all written
// (satellite modulator, Advanced options pages, main settings page) before
// one full refresh reads every window back.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/session.h"
#include "params/control_ids.h"
#include "support/fake_link.h"
#include "support/recording_ui.h"

using namespace vecta;
using namespace vecta::test;
using Strings = std::vector<std::string>;

namespace {

namespace ids = params::ids;

// A unit that answers reads by mnemonic and takes every write.
class Unit {
 public:
  std::map<std::string, std::string> values;
  Strings requests;

  void AnswerEveryRow() {
    for (auto table : {params::MainTableRows(), params::SatmodTableRows()})
    for (const auto& row : table) {
      if (row.Derived() || values.count(row.mnemonic)) continue;
      if (row.options)
        values[row.mnemonic] = std::to_string(params::PositionToWire(*row.options, 0).value_or(0));
      else
        values[row.mnemonic] = row.kind == params::Kind::Check ? "0" : "1";
    }
  }
  void Attach(FakeSerialState& line, int address) {
    line.responder = [this, address](const link::Bytes& request) -> std::optional<link::Bytes> {
      const std::string text(request.begin() + 1, request.end() - 2);
      requests.push_back(text);
      const std::string mnemonic = text.substr(5, 4);
      if (text[4] == 'w') {
        values[mnemonic] = text.substr(10, text.size() - 11);
        return ReplyFrame(address, '1', values[mnemonic]);
      }
      auto it = values.find(mnemonic);
      if (it == values.end()) return ReplyFrame(address, 'E', "");
      return ReplyFrame(address, '1', it->second);
    };
  }
  Strings Writes() const {
    Strings w;
    for (const auto& r : requests)
      if (r[4] == 'w') w.push_back(r);
    return w;
  }
  int Position(const std::string& request) const {
    auto it = std::find(requests.begin(), requests.end(), request);
    return it == requests.end() ? -1 : static_cast<int>(it - requests.begin());
  }
  int Count(const std::string& request) const {
    return static_cast<int>(std::count(requests.begin(), requests.end(), request));
  }
};

class ApplyChangedWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
    ctx.link = f.link.get();
    ctx.clock = &f.clock;
    ctx.prompter = &prompter;
    ctx.tables = &tables;
    ctx.unitAddress = 7;
    unit.values = {{"gbty", "K240"}, {"glod", "1"}, {"gnam", "A"}, {"odfe", "0"}, {"aenc", "0"},
                   {"smod", "2"},    {"scar", "1100"}};
    unit.AnswerEveryRow();
    unit.Attach(f.line(), 7);
    session.SetConnected(true);
    view.advancedOpen = view.satmodOpen = true;
    session.FullRefresh();
    unit.requests.clear();
  }

  FakeLink f;
  params::ParamTables tables;
  params::UnitContext ctx;
  RecordingPrompter prompter;
  RecordingView view;
  app::Session session{ctx, view};
  Unit unit;
};

TEST_F(ApplyChangedWindows, OneWindowRunsExactlyItsOwnApply) {
  view.page.SetText(ids::kUnitName, "B");
  session.ApplyChangedWindows({true, {}, nullptr});
  ASSERT_FALSE(unit.requests.empty());
  EXPECT_EQ(unit.Writes(), Strings{"0007wgnam;B;"});
  EXPECT_EQ(unit.requests.at(0), "0007wgnam;B;");
  // The page's Apply reads the main table back, without the full refresh's
  // board type and config reads.
  EXPECT_EQ(unit.Count("0007rgbty;;"), 0);
  EXPECT_EQ(unit.Count("0007rgnam;;"), 1);
  EXPECT_EQ(view.page.Text(ids::kUnitName), "B");
}

TEST_F(ApplyChangedWindows, NothingNamedSendsNothing) {
  view.page.SetText(ids::kUnitName, "B");
  session.ApplyChangedWindows({});
  EXPECT_EQ(unit.requests, Strings{});
}

TEST_F(ApplyChangedWindows, SeveralWindowsAreAllWrittenBeforeOneFullRefresh) {
  view.page.SetText(ids::kUnitName, "B");
  view.advanced.Select(ids::kDvbtFecRate, 2);
  view.satmod.Select(ids::kSatModulation, 0);
  std::vector<params::ControlHost*> pages{&view.advanced};
  session.ApplyChangedWindows({true, pages, &view.satmod});

  EXPECT_EQ(unit.Writes(), (Strings{"0007wsmod;0;", "0007wodfe;2;", "0007wgnam;B;"}));
  // The main page is written before anything reads gnam back into it.
  const int mainWrite = unit.Position("0007wgnam;B;");
  const int fullRefresh = unit.Position("0007rgbty;;");
  ASSERT_GE(fullRefresh, 0);
  EXPECT_LT(mainWrite, fullRefresh);
  EXPECT_EQ(unit.Count("0007rgbty;;"), 1);
  // Every window shows what the unit now holds.
  EXPECT_EQ(view.page.Text(ids::kUnitName), "B");
  EXPECT_EQ(view.advanced.Text(ids::kUnitName), "B");
  EXPECT_EQ(view.advanced.Selected(ids::kDvbtFecRate), 2);
  EXPECT_EQ(view.satmod.SelectedText(ids::kSatModulation), "QPSK");
  // In the busy state throughout, once.
  ASSERT_FALSE(view.busyChanges.empty());
  EXPECT_EQ(view.busyChanges.back(), false);
}

TEST_F(ApplyChangedWindows, ASettingChangedInOneWindowIsNotWrittenBackFromAnother) {
  // Both windows show the unit name; only the Advanced options window's
  // copy was changed.
  view.advanced.SetText(ids::kUnitName, "C");
  view.page.SetText(ids::kOutputFrequency, "700.00");
  std::vector<params::ControlHost*> pages{&view.advanced};
  session.ApplyChangedWindows({true, pages, nullptr});
  EXPECT_EQ(unit.Writes(), (Strings{"0007wgnam;C;", "0007wofre;700.00;"}));
  EXPECT_EQ(unit.values["gnam"], "C");
  EXPECT_EQ(view.page.Text(ids::kUnitName), "C");
}

TEST_F(ApplyChangedWindows, SeveralWindowsWithoutAConnectionSayNoConnection) {
  session.SetConnected(false);
  std::vector<params::ControlHost*> pages{&view.advanced};
  session.ApplyChangedWindows({true, pages, nullptr});
  EXPECT_EQ(prompter.Texts(), Strings{"No connection currently"});
  EXPECT_EQ(unit.requests, Strings{});
}

}  // namespace
