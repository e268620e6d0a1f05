// The operations on a unit that span several windows, against a scripted
// serial unit: the exact requests, the messages, the waits and what the
// main window is told.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <thread>

#include "app/session.h"
#include "link/frame.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "params/control_ids.h"
#include "support/fake_link.h"
#include "support/mnemonic_unit.h"
#include "support/recording_ui.h"

using namespace vecta;
using namespace vecta::test;
using app::KeyType;
using app::Session;
namespace ids = vecta::params::ids;

namespace {

std::string Frame(const std::string& text) {
  link::Bytes f;
  link::BuildRequestFrame(text, link::kMaxSerialRequestFrame, f);
  return std::string(f.begin(), f.end());
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f.link->OpenLogFile(dir.File("s.log"));
    ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
    unit.link = f.link.get();
    unit.clock = &f.clock;
    unit.prompter = &prompter;
    unit.tables = &tables;
    unit.unitAddress = 7;
  }
  std::vector<std::string> Sent() {
    std::vector<std::string> s;
    for (const auto& w : f.line().writes) s.emplace_back(w.begin(), w.end());
    return s;
  }

  TempDir dir;
  FakeLink f;
  params::ParamTables tables;
  params::UnitContext unit;
  RecordingPrompter prompter;
  RecordingView view;
  Session session{unit, view};
};

TEST_F(SessionTest, CommandsWithoutAConnectionSayNoConnection) {
  session.ApplyRequest();
  session.RefreshRequest();
  session.RestoreDefaults();
  session.ToggleRfOutput();
  session.WriteKey(KeyType::Abs, "01234567", "");
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>(5, "No connection currently"));
  for (const auto& m : prompter.messages) {
    EXPECT_EQ(m.title, "Error");
    EXPECT_EQ(m.icon, params::MessageIcon::Exclamation);
  }
  EXPECT_TRUE(f.line().writes.empty());
  // Without a connection only the tab moves.
  session.ChangeConfigTab(3);
  EXPECT_EQ(view.tab, 3);
  EXPECT_TRUE(f.line().writes.empty());
}

TEST_F(SessionTest, LearningTheAddressUsesTheBroadcastQuery) {
  f.line().Reply(ReplyFrame(42, '1', "0042"));
  EXPECT_EQ(session.LearnUnitAddress(), 0u);
  EXPECT_EQ(unit.unitAddress, 42);
  EXPECT_EQ(view.shownAddress, 42);
  EXPECT_EQ(Sent().at(0), Frame("9999rgadd;;"));
}

TEST_F(SessionTest, ARefusedAddressQueryLeavesTheAddressAsItWas) {
  f.line().Reply(ReplyFrame(1, 'E', ""));
  EXPECT_EQ(session.LearnUnitAddress(), 0u);
  EXPECT_EQ(unit.unitAddress, 7);
  EXPECT_EQ(view.shownAddress, -1);
}

TEST_F(SessionTest, RestoreDefaultsAnsweredNoSendsNothing) {
  session.SetConnected(true);
  prompter.answers = {params::Answer::No};
  session.RestoreDefaults();
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].text, "Are you sure you want to restore defaults");
  EXPECT_EQ(prompter.messages[0].title, "Alert");
  EXPECT_EQ(prompter.messages[0].icon, params::MessageIcon::Question);
  EXPECT_EQ(prompter.messages[0].buttons, params::MessageButtons::YesNo);
  EXPECT_TRUE(f.line().writes.empty());
}

TEST_F(SessionTest, AddressChangeIsSentFromTheOldAddress) {
  session.SetConnected(true);
  f.line().Reply(ReplyFrame(7, '1', "0012"));
  session.ChangeUnitAddress(12);
  EXPECT_EQ(Sent().at(0), Frame("\x02"
                                "0007wgadd;0012;"));
  EXPECT_EQ(unit.unitAddress, 12);
  EXPECT_EQ(view.shownAddress, 12);
  // Not connected: nothing sent, the address still changes.
  session.SetConnected(false);
  session.ChangeUnitAddress(3);
  EXPECT_EQ(f.line().writes.size(), 1u);
  EXPECT_EQ(unit.unitAddress, 3);
}

TEST_F(SessionTest, RefusedConfigSwitchIsReported) {
  session.SetConnected(true);
  f.line().Reply(ReplyFrame(7, '1', "1"));  // answered once: the unit is alive
  link::LinkReply r;
  ASSERT_EQ(f.link->SendCommand("0007rgadd;;", r), 0u);
  for (int i = 0; i < 3; ++i) f.line().ReplySilence();
  session.ChangeConfigTab(4);
  EXPECT_EQ(Sent().back(), Frame("0007wglod;5;"));
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Unable to load config 5"});
  EXPECT_EQ(session.CurrentConfig(), 5);
  EXPECT_TRUE(f.clock.slept.empty());  // no wait, no refresh after a failure
}

TEST_F(SessionTest, KeyLengthAndHexDigitsAreCheckedPerKeyType) {
  const std::string k32(32, 'a');
  EXPECT_EQ(Session::CheckKey(KeyType::Abs, "0123456", ""), "ABS key must be 8 hex digits");
  EXPECT_EQ(Session::CheckKey(KeyType::Abs, "0123ABcd", ""), std::nullopt);
  EXPECT_EQ(Session::CheckKey(KeyType::Abs, "0123ABcg", ""), "Invalid characters in hex field");
  EXPECT_EQ(Session::CheckKey(KeyType::Aes128, std::string(31, 'a'), ""), "AES key must be 32 hex digits");
  EXPECT_EQ(Session::CheckKey(KeyType::Aes128, std::string(31, 'a') + "g", ""), "Invalid characters in hex field");
  EXPECT_EQ(Session::CheckKey(KeyType::Aes128, k32, ""), std::nullopt);
  EXPECT_EQ(Session::CheckKey(KeyType::Aes256, k32, std::string(31, 'b')),
            "AES key must be 32 hex digits in each field");
  EXPECT_EQ(Session::CheckKey(KeyType::Aes256, k32, std::string(31, 'b') + "x"),
            "Invalid characters in hex field");
  EXPECT_EQ(Session::CheckKey(KeyType::Aes256, k32, std::string(32, 'F')), std::nullopt);
}

TEST_F(SessionTest, InitialKeyTypeFollowsTheScramblingMode) {
  EXPECT_EQ(session.InitialKeyType(), KeyType::Abs);  // never read
  const std::pair<const char*, KeyType> cases[] = {{"0", KeyType::Abs},    {"1", KeyType::Abs},
                                                   {"4", KeyType::Aes128}, {"6", KeyType::Aes256},
                                                   {"8", KeyType::Abs},    {"10", KeyType::Abs}};
  for (const auto& [wire, type] : cases) {
    params::StoreReply(*tables.main.Find("zscr"), wire);
    EXPECT_EQ(session.InitialKeyType(), type) << wire;
  }
}

TEST_F(SessionTest, KeysAreWrittenMaskedInTheLog) {
  session.SetConnected(true);
  const std::string lower(32, 'a'), upper(32, 'B');
  f.line().Reply(ReplyFrame(7, '1', ""));
  f.line().Reply(ReplyFrame(7, '1', ""));
  session.WriteKey(KeyType::Aes256, lower, upper);
  ASSERT_EQ(Sent().size(), 2u);
  EXPECT_EQ(Sent()[0], Frame("0007wzkez;" + lower + ";"));
  EXPECT_EQ(Sent()[1], Frame("0007wzkex;" + upper + ";"));
  f.line().Reply(ReplyFrame(7, '1', ""));
  session.WriteKey(KeyType::Abs, "0123ABCD", "");
  EXPECT_EQ(Sent()[2], Frame("0007wzkey;0123ABCD;"));
  f.line().Reply(ReplyFrame(7, '1', ""));
  session.WriteKey(KeyType::Aes128, lower, "");
  EXPECT_EQ(Sent().size(), 4u);
  EXPECT_EQ(Sent()[3], Frame("0007wzkez;" + lower + ";"));
  const std::string log = ReadFile(dir.File("s.log"));
  EXPECT_EQ(log.find(lower), std::string::npos);
  EXPECT_EQ(log.find(upper), std::string::npos);
  EXPECT_EQ(log.find("0123ABCD"), std::string::npos);
  EXPECT_NE(log.find("\x02"
                     "0007wzkez;" +
                     std::string(32, '*') + ";"),
            std::string::npos);
  EXPECT_NE(log.find("\x02"
                     "0007wzkey;********;"),
            std::string::npos);
  EXPECT_NE(log.find(" 7a 6b 65 7a 3b ** ** "), std::string::npos);
  EXPECT_TRUE(prompter.messages.empty());  // outcomes are not reported
}

using ScriptedUnit = MnemonicUnit;

class FullRefreshTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    unit.Attach(f.line(), 7);
    session.SetConnected(true);
  }
  ScriptedUnit unit;
};

TEST_F(FullRefreshTest, K240WithSatelliteModulator) {
  unit.values = {{"gbty", "K240"}, {"glod", "3"}, {"sver", "1.2"}, {"owid", "1"}, {"gnam", "North"}};
  view.satmodOpen = true;
  session.FullRefresh();
  EXPECT_EQ(view.adaptedTo, std::vector<std::string>{"K240"});
  EXPECT_EQ(view.configCount, 16);
  EXPECT_EQ(view.tab, 2);
  EXPECT_EQ(session.CurrentConfig(), 3);
  EXPECT_EQ(view.satmodButton, true);
  EXPECT_EQ(view.page.SelectedText(ids::kModulationBandwidth), "7MHz");
  EXPECT_EQ(view.page.Text(ids::kUnitName), "North");
  EXPECT_EQ(view.busyChanges, (std::vector<bool>{true, false}));
  // Board type and config first, then the main table, then the satellite modulator.
  ASSERT_GE(unit.requests.size(), 3u);
  EXPECT_EQ(unit.requests[0], "0007rgbty;;");
  EXPECT_EQ(unit.requests[1], "0007rglod;;");
  EXPECT_EQ(unit.requests[2], "0007roout;;");
  EXPECT_EQ(unit.requests.back(), "0007rspla;;");
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(FullRefreshTest, TabsAndSatelliteButtonFollowTheBoard) {
  unit.values = {{"gbty", "K240"}, {"glod", "1"}};
  session.FullRefresh();
  EXPECT_EQ(view.satmodButton, false);  // no sver: no satellite modulator
  unit.values = {{"gbty", "K610"}, {"glod", "16"}, {"sver", "1.2"}};
  session.FullRefresh();
  EXPECT_EQ(view.configCount, 16);
  EXPECT_EQ(view.satmodButton, false);  // never on a K610
  unit.values = {{"gbty", "K9"}, {"glod", "8"}};
  session.FullRefresh();
  EXPECT_EQ(view.configCount, 8);
  EXPECT_EQ(session.CurrentConfig(), 8);
  EXPECT_TRUE(prompter.messages.empty());
}

// Another unit on a new connection shows as itself alone: nothing read from
// the one before stays, the "Satellite modulator" button and window follow
// this refresh's sver, and an open Advanced options window is built anew.
TEST_F(FullRefreshTest, ANewConnectionKeepsNothingOfTheUnitBefore) {
  unit.values = {{"gbty", "K240"}, {"glod", "1"}, {"sver", "1.2"}, {"scar", "1450.0"}, {"aenc", "1"}};
  view.advancedOpen = view.satmodOpen = true;
  session.NewConnection();
  session.FullRefresh();
  ASSERT_EQ(view.satmodButton, true);
  ASSERT_EQ(view.satmod.Text(ids::kCarrierFrequency), "1450.0");
  ASSERT_EQ(view.page.Selected(ids::kAudio), 1);

  unit.values.erase("sver");  // the same unit, its modulator silent now
  session.FullRefresh();
  EXPECT_EQ(view.satmodButton, false);
  EXPECT_FALSE(view.satmodOpen);

  view.satmodOpen = true;
  unit.values = {{"gbty", "K610"}, {"glod", "2"}};
  session.NewConnection();
  session.FullRefresh();
  EXPECT_EQ(view.rebuiltFor, (std::vector<std::string>{"K240", "K610"}));
  EXPECT_FALSE(view.satmodOpen);
  EXPECT_EQ(view.satmod.Text(ids::kCarrierFrequency), "");
  EXPECT_EQ(view.page.Selected(ids::kAudio), -1);
  EXPECT_FALSE(tables.main.Find("aenc")->Get());
}

// What the engineering options wrote (the IQ trim's output frequency) is
// read back into every page; an operator's entry elsewhere stays.
TEST_F(FullRefreshTest, RowsWrittenElsewhereAreReadBackIntoThePages) {
  unit.values = {{"gbty", "K240"}, {"glod", "1"}, {"ofre", "474.00"}};
  view.advancedOpen = true;
  session.FullRefresh();
  unit.values["ofre"] = "666.00";
  view.page.SetText(ids::kUnitName, "Mine");
  unit.requests.clear();
  session.ReadBackRows(std::vector<std::string>{"citr", "ofre"});
  EXPECT_EQ(unit.requests, std::vector<std::string>{"0007rofre;;"});
  EXPECT_EQ(view.page.Text(ids::kOutputFrequency), "666.00");
  EXPECT_EQ(view.advanced.Text(ids::kOutputFrequency), "666.00");
  EXPECT_EQ(view.page.Text(ids::kUnitName), "Mine");
}

TEST_F(FullRefreshTest, ConfigNumberChecks) {
  unit.values = {{"gbty", "K610"}, {"glod", "17"}};
  session.FullRefresh();
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Invalid config number (17) returned from transmitter"});
  EXPECT_EQ(unit.requests.size(), 2u);  // the pages are not refreshed
  // A K240 may report any number.
  unit.values = {{"gbty", "K240"}, {"glod", "0"}};
  prompter.messages.clear();
  session.FullRefresh();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(session.CurrentConfig(), 0);
  EXPECT_GT(unit.requests.size(), 10u);
  // A unit that refuses the board type is the other variant with 8 tabs.
  unit.values = {{"glod", "9"}};
  session.FullRefresh();
  EXPECT_EQ(view.configCount, 8);
  EXPECT_EQ(prompter.Texts().back(), "Invalid config number (9) returned from transmitter");
}

TEST_F(FullRefreshTest, ConfigReadFailureIsReportedWithItsCode) {
  unit.values = {{"gbty", "K610"}};
  f.line().responder = [inner = f.line().responder](const link::Bytes& request) -> std::optional<link::Bytes> {
    if (std::string(request.begin(), request.end()).find("rglod") != std::string::npos) return std::nullopt;
    return inner(request);
  };
  session.FullRefresh();
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Error 0x80000009 reading transmitter config"});
}

TEST_F(FullRefreshTest, ConfigTabSwitchWaitsThenRefreshes) {
  unit.values = {{"gbty", "K610"}, {"glod", "1"}};
  session.ChangeConfigTab(4);
  EXPECT_EQ(unit.requests.at(0), "0007wglod;5;");
  EXPECT_EQ(f.clock.slept, std::vector<std::int64_t>{1000});
  EXPECT_EQ(unit.requests.at(1), "0007rgbty;;");
  EXPECT_EQ(session.CurrentConfig(), 5);
  EXPECT_EQ(view.tab, 4);
}

TEST_F(FullRefreshTest, ConfigTabSwitchTheUnitRefusesIsAFailedLoad) {
  unit.values = {{"gbty", "K610"}, {"glod", "1"}};
  std::vector<std::string> sent;
  f.line().responder = [&sent](const link::Bytes& request) -> std::optional<link::Bytes> {
    sent.emplace_back(request.begin() + 1, request.end() - 2);
    return ReplyFrame(7, 'E', "");  // refuses everything, the switch included
  };
  session.ChangeConfigTab(4);
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Unable to load config 5"});
  EXPECT_TRUE(f.clock.slept.empty());  // no switch to wait for, no refresh
  EXPECT_EQ(sent, std::vector<std::string>{"0007wglod;5;"});
}

TEST_F(FullRefreshTest, RestoreDefaultsAnsweredYes) {
  unit.values = {{"gbty", "K610"}, {"glod", "1"}};
  prompter.answers = {params::Answer::Yes};
  session.RestoreDefaults();
  EXPECT_EQ(unit.requests.at(0), "0007wgdef;1;");
  EXPECT_EQ(f.clock.slept, std::vector<std::int64_t>{5000});
  EXPECT_EQ(unit.requests.at(1), "0007rgbty;;");
  // Busy from the restore through the refresh that follows it.
  EXPECT_EQ(view.busyChanges.front(), true);
  EXPECT_EQ(view.busyChanges.back(), false);
}

// Every command that makes the window busy leaves it so again, whether the
// unit answers, refuses everything or has gone silent.
TEST_F(FullRefreshTest, EveryBusyStateEnteredIsLeft) {
  enum class Unit { Answering, Refusing, Silent };
  const std::vector<std::pair<const char*, std::function<void()>>> commands = {
      {"apply",
       [&] {
         view.page.SetText(ids::kUnitName, "Changed");
         session.ApplyRequest();
       }},
      {"refresh", [&] { session.RefreshRequest(); }},
      {"restore defaults",
       [&] {
         prompter.answers = {params::Answer::Yes};
         session.RestoreDefaults();
       }},
      {"RF output", [&] { session.ToggleRfOutput(); }},
      {"config tab", [&] { session.ChangeConfigTab(2); }},
      {"satellite apply", [&] { session.ApplySatmodWindow(view.page); }},
  };
  for (const Unit kind : {Unit::Answering, Unit::Refusing, Unit::Silent}) {
    for (const auto& [name, run] : commands) {
      SCOPED_TRACE(std::string(name) + (kind == Unit::Answering  ? ", answering"
                                        : kind == Unit::Refusing ? ", refusing"
                                                                 : ", silent"));
      unit.values = {{"gbty", "K240"}, {"glod", "1"}, {"oout", "1"}, {"gnam", "A"}};
      unit.AnswerEveryRow();
      unit.Attach(f.line(), 7);
      session.SetConnected(true);
      session.FullRefresh();  // something stored to compare and toggle
      if (kind == Unit::Refusing)
        f.line().responder = [](const link::Bytes&) -> std::optional<link::Bytes> {
          return ReplyFrame(7, 'E', "");
        };
      if (kind == Unit::Silent)
        f.line().responder = [](const link::Bytes&) -> std::optional<link::Bytes> { return std::nullopt; };
      view.busyChanges.clear();
      run();
      int depth = 0;
      for (const bool entered : view.busyChanges) {
        depth += entered ? 1 : -1;
        EXPECT_GE(depth, 0);
      }
      EXPECT_EQ(depth, 0);
      prompter.messages.clear();
    }
  }
}

TEST_F(FullRefreshTest, RfOutputToggles) {
  unit.values = {{"gbty", "K610"}, {"glod", "1"}, {"oout", "1"}};
  session.ToggleRfOutput();  // never read: nothing to toggle
  EXPECT_TRUE(unit.requests.empty());
  session.FullRefresh();
  unit.requests.clear();
  session.ToggleRfOutput();
  EXPECT_EQ(unit.requests.at(0), "0007woout;0;");
  EXPECT_EQ(tables.main.StoredListPosition("oout"), 0);  // re-read by the refresh
  unit.requests.clear();
  session.ToggleRfOutput();
  EXPECT_EQ(unit.requests.at(0), "0007woout;1;");
}

TEST_F(FullRefreshTest, ApplyWritesTheChangedRowAndRefreshes) {
  unit.values = {{"gbty", "K610"}, {"glod", "1"}, {"owid", "2"}, {"gnam", "A"}};
  unit.AnswerEveryRow();
  session.FullRefresh();
  unit.requests.clear();
  view.page.SetText(ids::kUnitName, "B");
  session.ApplyRequest();
  ASSERT_FALSE(unit.requests.empty());
  EXPECT_EQ(unit.requests.front(), "0007wgnam;B;");
  int writes = 0;
  for (const auto& r : unit.requests) writes += r[4] == 'w';
  EXPECT_EQ(writes, 1);
  EXPECT_EQ(unit.requests.at(1), "0007roout;;");  // the refresh after it
}

// ---- How a full refresh runs

TEST_F(FullRefreshTest, OptionsChooseTheBusyStateAndTheAdvancedWindow) {
  unit.values = {{"gbty", "K240"}, {"glod", "1"}, {"gnam", "North"}};
  view.advancedOpen = true;
  session.FullRefresh({.enterBusy = false});
  EXPECT_TRUE(view.busyChanges.empty());
  EXPECT_EQ(view.advanced.Text(ids::kUnitName), "North");

  unit.values["gnam"] = "South";
  session.FullRefresh({.refreshAdvanced = false});
  EXPECT_EQ(view.busyChanges, (std::vector<bool>{true, false}));
  EXPECT_EQ(view.page.Text(ids::kUnitName), "South");
  EXPECT_EQ(view.advanced.Text(ids::kUnitName), "North");  // left as it was
}

// Whether the poll lock is held while the unit is asked for its board type.
bool PollLockHeldDuringTheFirstRequest(FakeSerialState& line, const std::function<void()>& run) {
  auto answer = line.responder;
  std::optional<bool> held;
  line.responder = [&](const link::Bytes& request) {
    if (!held) {
      bool free = false;
      std::thread([&] {
        free = link::PollLock().try_lock();
        if (free) link::PollLock().unlock();
      }).join();
      held = !free;
    }
    return answer(request);
  };
  run();
  line.responder = answer;
  return held.value_or(false);
}

TEST_F(FullRefreshTest, TakesTheOperationLockUnlessTheCallerHoldsIt) {
  unit.values = {{"gbty", "K240"}, {"glod", "1"}};
  EXPECT_TRUE(PollLockHeldDuringTheFirstRequest(f.line(), [&] { session.FullRefresh(); }));
  EXPECT_FALSE(
      PollLockHeldDuringTheFirstRequest(f.line(), [&] { session.FullRefresh({.operationLockHeld = true}); }));
  EXPECT_FALSE(PollLockHeldDuringTheFirstRequest(f.line(), [&] { session.FullRefreshWithinOperation(); }));
  // Within an operation that holds it, the refresh runs under it all along.
  EXPECT_TRUE(PollLockHeldDuringTheFirstRequest(f.line(), [&] {
    link::OperationLock operation;
    session.FullRefreshWithinOperation();
  }));
}

}  // namespace

namespace {

// The refused writes named as the pages caption them, without their units,
// satellite modulator rows too; taking them clears the list.
TEST(RefusedWrites, NamedByTheirCaptionsAndTakenOnce) {
  params::ParamTables tables;
  params::UnitContext unit;
  unit.boardType = "K240";
  EXPECT_EQ(app::TakeRefusedWritesText(unit), "");
  unit.refusedWrites = {&tables.main.Find("ofre")->Desc(), &tables.main.FindControl(ids::kBandwidthMode)->Desc(),
                        &tables.satmod.Find("scar")->Desc()};
  EXPECT_EQ(app::TakeRefusedWritesText(unit),
            "The unit refused: Output frequency, Bandwidth mode, Carrier frequency");
  EXPECT_TRUE(unit.refusedWrites.empty());
}

}  // namespace
