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
#include "support/mnemonic_unit.h"
#include "support/recording_ui.h"

using namespace vecta;
using namespace vecta::test;
using Strings = std::vector<std::string>;

namespace {

namespace ids = params::ids;

using Unit = MnemonicUnit;

class ApplyChangedWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
    ctx.link = f.link.get();
    ctx.clock = &f.clock;
    ctx.prompter = &prompter;
    ctx.tables = &tables;
    ctx.unitAddress = 7;
    unit.values = {{"gbty", "K240"}, {"glod", "1"}, {"gnam", "A"},   {"odfe", "0"},
                   {"aenc", "0"},    {"smod", "2"}, {"scar", "1100"}};
    unit.AnswerEveryRow(true);
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
