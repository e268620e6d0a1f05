// The status poll thread against a scripted serial unit. The pause between
// cycles goes through a stepping waiter: the thread stops in each pause until
// the test lets it go on, so every cycle is checked on its own - the exact
// requests, what lands in the rows and the notifications in their order -
// without any real waiting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/poll_thread.h"
#include "link/frame.h"
#include "link/link_lock.h"
#include "params/unit_context.h"
#include "support/fake_link.h"

using namespace vecta;
using namespace std::chrono_literals;
using app::AppSettings;
using app::PollNotifier;
using app::PollThread;
using app::PollWaiter;
using params::ParamTables;
using test::Bytes;
using test::FakeLink;
using test::ReplyFrame;

namespace {

constexpr auto kAwait = 5s;  // only reached when something is wrong

// Holds the thread in each pause until the test releases it.
class StepWaiter final : public PollWaiter {
 public:
  void WaitFor(std::int64_t ms, const std::atomic<bool>& stop) override {
    std::unique_lock lock(m_);
    pauses_.push_back(ms);
    const std::size_t mine = pauses_.size();
    cv_.notify_all();
    cv_.wait(lock, [&] { return stop.load() || released_ >= mine; });
  }
  void Wake() override {
    std::lock_guard lock(m_);
    woken_ = true;
    cv_.notify_all();
  }

  // Waits until the thread has entered its n-th pause (1-based).
  bool AwaitPause(std::size_t n) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, kAwait, [&] { return pauses_.size() >= n; });
  }
  // Lets the thread out of its current pause.
  void Release() {
    std::lock_guard lock(m_);
    ++released_;
    cv_.notify_all();
  }
  bool AwaitWake() {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, kAwait, [&] { return woken_; });
  }
  std::vector<std::int64_t> Pauses() {
    std::lock_guard lock(m_);
    return pauses_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::int64_t> pauses_;
  std::size_t released_ = 0;
  bool woken_ = false;
};

// A lamp and an icon by name ("lamp video-lock green"), a number where none fits.
std::string LampName(int lamp) {
  if (lamp == params::kLampVideoLock) return "video-lock";
  if (lamp == params::kLampRfOutput) return "rf-output";
  if (lamp == params::kLampConnection) return "connection";
  return std::to_string(lamp);
}
std::string IconName(int icon) {
  if (icon == params::kIconGreen) return "green";
  if (icon == params::kIconRed) return "red";
  if (icon == params::kIconGrey) return "grey";
  return std::to_string(icon);
}

// Records every notification as text; "polled" carries the row's stored
// value as the window would find it at that moment.
class RecordingNotifier final : public PollNotifier {
 public:
  explicit RecordingNotifier(std::shared_ptr<ParamTables> tables) : tables_(std::move(tables)) {}

  void SetLamp(int lamp, int icon) override { Add("lamp " + LampName(lamp) + " " + IconName(icon)); }
  void ParameterPolled(std::string_view mnemonic) override {
    std::string stored = "-";
    if (const params::ParamRow* row = tables_->main.Find(mnemonic))
      if (auto p = row->Position()) stored = std::to_string(*p);
    Add("polled " + std::string(mnemonic) + "=" + stored);
  }
  void LinkLost() override { Add("lost"); }
  void ContactConfirmed() override {
    Add("contact");
    if (onContact) onContact();
  }

  // Takes the events so far.
  std::vector<std::string> Take() {
    std::lock_guard lock(m_);
    return std::exchange(events_, {});
  }
  bool AwaitEvent(const std::string& event) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, kAwait,
                        [&] { return std::find(events_.begin(), events_.end(), event) != events_.end(); });
  }

  std::function<void()> onContact;  // set before the thread starts

 private:
  void Add(std::string e) {
    std::lock_guard lock(m_);
    events_.push_back(std::move(e));
    cv_.notify_all();
  }
  std::shared_ptr<ParamTables> tables_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::string> events_;
};

// A unit on the fake serial line answering by request: the values of the
// three status parameters and of "gadd", refusals, or silence.
struct PollRig {
  FakeLink f;
  std::shared_ptr<link::CRavlenRemoteControl> link;
  std::shared_ptr<ParamTables> tables = std::make_shared<ParamTables>();
  std::shared_ptr<RecordingNotifier> notifier = std::make_shared<RecordingNotifier>(tables);
  std::shared_ptr<StepWaiter> waiter = std::make_shared<StepWaiter>();
  AppSettings settings;

  // Changed only while the thread is held in a pause (or before it starts).
  std::map<std::string, std::string> values = {{"vloc", "1"}, {"csta", "2"}, {"oout", "0"}, {"gadd", "1"}};
  std::set<std::string> refused;
  std::atomic<bool> silent{false};
  std::size_t writesSeen = 0;

  std::unique_ptr<PollThread> poll;  // last: stopped before the rest goes

  PollRig() : link(std::move(f.link)) {
    f.line().responder = [this](const Bytes& request) -> std::optional<Bytes> {
      if (silent) return std::nullopt;
      const std::string text(request.begin(), request.end());
      const int address = std::stoi(text.substr(1, 4));
      const std::string mnemonic = text.substr(6, 4);
      if (refused.count(mnemonic)) return ReplyFrame(address, 'E', "");
      auto it = values.find(mnemonic);
      return ReplyFrame(address, '1', it == values.end() ? "0" : it->second);
    };
  }
  ~PollRig() {
    if (poll) poll->Stop();
  }

  void Open() {
    std::lock_guard lock(link::LinkLock());
    ASSERT_EQ(link->OpenSerialPort(0), 0u);
  }

  void Start(int address = 1) {
    poll = std::make_unique<PollThread>(link, tables, notifier, waiter);
    ASSERT_TRUE(poll->Start(settings, address));
  }

  // The requests written since the last call, each up to its second ';'
  // without the STX; every frame checked to start with STX.
  std::vector<std::string> NewRequests() {
    std::vector<std::string> out;
    const auto& writes = f.line().writes;
    for (; writesSeen < writes.size(); ++writesSeen) {
      const Bytes& w = writes[writesSeen];
      EXPECT_FALSE(w.empty());
      if (w.empty()) continue;
      EXPECT_EQ(w.front(), link::kStx);
      std::string text(w.begin() + 1, w.end());
      const auto first = text.find(';');
      const auto second = first == std::string::npos ? first : text.find(';', first + 1);
      out.push_back(second == std::string::npos ? text : text.substr(0, second + 1));
    }
    return out;
  }

  // Polls the video lock alone, losses reported to the notifier, and runs
  // the thread into its first pause.
  void StartVideoLockOnlyWithLossReports() {
    settings.pollChainingStatus = false;
    settings.pollRfOutput = false;
    link->SetLinkLostNotify(app::LinkLostToNotifier(notifier));
    Open();
    Start();
    ASSERT_TRUE(waiter->AwaitPause(1));
  }

  // Runs the thread through its next cycle: out of pause n-1, into pause n.
  void NextCycle(std::size_t n) {
    waiter->Release();
    ASSERT_TRUE(waiter->AwaitPause(n));
  }
};

std::optional<std::int32_t> Stored(const ParamTables& t, std::string_view mnemonic) {
  return t.main.Find(mnemonic)->Position();
}

// ---- What is polled

TEST(PollThread, EachCombinationOfListFlagsPollsItsEntriesInOrder) {
  for (int mask = 0; mask < 8; ++mask) {
    PollRig r;
    r.settings.pollVideoLock = mask & 1;
    r.settings.pollChainingStatus = mask & 2;
    r.settings.pollRfOutput = mask & 4;
    r.Open();
    r.Start();
    ASSERT_TRUE(r.waiter->AwaitPause(1));

    std::vector<std::string> expected;
    if (mask & 1) expected.push_back("0001rvloc;;");
    if (mask & 2) expected.push_back("0001rcsta;;");
    if (mask & 4) expected.push_back("0001roout;;");
    if (mask == 0) expected.push_back("0001rgadd;;");  // keep-alive instead
    EXPECT_EQ(r.NewRequests(), expected) << "mask " << mask;

    // Every cycle the same.
    r.NextCycle(2);
    EXPECT_EQ(r.NewRequests(), expected) << "mask " << mask;
  }
}

TEST(PollThread, PollingDisabledSendsOnlyTheKeepAliveEveryCycle) {
  PollRig r;
  r.settings.pollingEnabled = false;
  r.Open();
  r.Start(12);
  ASSERT_TRUE(r.waiter->AwaitPause(1));
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"0012rgadd;;"});
  EXPECT_EQ(r.notifier->Take(), std::vector<std::string>{"contact"});
  // The rows are not touched by the keep-alive.
  EXPECT_FALSE(r.tables->main.Find("vloc")->Get().has_value());

  r.NextCycle(2);
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"0012rgadd;;"});
  EXPECT_EQ(r.notifier->Take(), std::vector<std::string>{"contact"});

  // Switched on between cycles: the next cycle polls.
  r.poll->SetPollingEnabled(true);
  r.NextCycle(3);
  EXPECT_EQ(r.NewRequests(), (std::vector<std::string>{"0012rvloc;;", "0012rcsta;;", "0012roout;;"}));
}

TEST(PollThread, ListFlagsChangedBetweenCyclesApplyFromTheNextCycle) {
  PollRig r;
  r.Open();
  r.Start();
  ASSERT_TRUE(r.waiter->AwaitPause(1));
  EXPECT_EQ(r.NewRequests().size(), 3u);

  AppSettings changed = r.settings;
  changed.pollVideoLock = false;
  changed.pollChainingStatus = false;
  r.poll->TakePollingFlags(changed);
  r.NextCycle(2);
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"0001roout;;"});

  changed.pollRfOutput = false;
  r.poll->TakePollingFlags(changed);
  r.NextCycle(3);
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"0001rgadd;;"});
}

TEST(PollThread, UnitAddressZeroSuppressesPollingAndBroadcastsTheKeepAlive) {
  PollRig r;
  r.Open();
  r.Start(0);
  ASSERT_TRUE(r.waiter->AwaitPause(1));
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"9999rgadd;;"});
  EXPECT_EQ(r.notifier->Take(), std::vector<std::string>{"contact"});

  // A learnt address reaches the thread and is used from the next cycle.
  r.poll->SetUnitAddress(42);
  EXPECT_EQ(r.poll->UnitAddress(), 42);
  r.NextCycle(2);
  EXPECT_EQ(r.NewRequests(), (std::vector<std::string>{"0042rvloc;;", "0042rcsta;;", "0042roout;;"}));

  r.settings.pollingEnabled = false;
  r.poll->TakePollingFlags(r.settings);
  r.NextCycle(3);
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"0042rgadd;;"});
}

TEST(PollThread, WithoutAnOpenLinkItOnlyPauses) {
  PollRig r;  // port never opened
  r.Start();
  ASSERT_TRUE(r.waiter->AwaitPause(1));
  r.NextCycle(2);
  EXPECT_TRUE(r.NewRequests().empty());
  EXPECT_TRUE(r.notifier->Take().empty());
  EXPECT_EQ(r.waiter->Pauses(), (std::vector<std::int64_t>{2000, 2000}));

  // Once the port is open the next cycle polls.
  r.Open();
  r.NextCycle(3);
  EXPECT_EQ(r.NewRequests().size(), 3u);
}

// ---- Replies, rows and notifications

TEST(PollThread, GoodRepliesAreStoredThenAnnouncedInOrder) {
  PollRig r;
  r.Open();
  r.Start();
  ASSERT_TRUE(r.waiter->AwaitPause(1));
  // vloc 1, csta 2, oout 0. Each value is in its row before the window hears
  // of it; csta has no lamp.
  EXPECT_EQ(r.notifier->Take(),
            (std::vector<std::string>{"lamp video-lock green", "polled vloc=1", "contact", "polled csta=2",
                                      "contact", "lamp rf-output red", "polled oout=0", "contact"}));
  EXPECT_EQ(Stored(*r.tables, "vloc"), 1);
  EXPECT_EQ(Stored(*r.tables, "csta"), 2);
  EXPECT_EQ(Stored(*r.tables, "oout"), 0);

  r.values["vloc"] = "0";
  r.values["csta"] = "0";
  r.values["oout"] = "1";
  r.NextCycle(2);
  EXPECT_EQ(r.notifier->Take(),
            (std::vector<std::string>{"lamp video-lock red", "polled vloc=0", "contact", "polled csta=0",
                                      "contact", "lamp rf-output green", "polled oout=1", "contact"}));
  EXPECT_EQ(Stored(*r.tables, "oout"), 1);

  // A value that is no option of the list leaves the lamp grey.
  for (const char* unnamed : {"2", "-5", "99999999999999999999"}) {
    r.values["vloc"] = unnamed;
    r.values["oout"] = unnamed;
    r.NextCycle(r.waiter->Pauses().size() + 1);
    const auto events = r.notifier->Take();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "lamp video-lock grey") << unnamed;
    EXPECT_NE(std::find(events.begin(), events.end(), "lamp rf-output grey"), events.end()) << unnamed;
  }
}

TEST(PollThread, RefusedRequestKeepsTheRowAndPostsNoValue) {
  PollRig r;
  r.settings.pollChainingStatus = false;
  r.settings.pollRfOutput = false;
  r.tables->main.Find("vloc")->Set(std::int32_t{1});
  r.refused = {"vloc"};
  r.values["vloc"] = "0";
  r.Open();
  r.Start();
  ASSERT_TRUE(r.waiter->AwaitPause(1));
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"0001rvloc;;"});  // no keep-alive after it
  // The unit answered, so contact stands, but its value is not taken.
  EXPECT_EQ(r.notifier->Take(), std::vector<std::string>{"contact"});
  EXPECT_EQ(Stored(*r.tables, "vloc"), 1);
}

TEST(PollThread, SilentUnitGivesOneLinkLostAndRestoresContactWhenItAnswersAgain) {
  PollRig r;
  ASSERT_NO_FATAL_FAILURE(r.StartVideoLockOnlyWithLossReports());
  EXPECT_EQ(r.notifier->Take(), (std::vector<std::string>{"lamp video-lock green", "polled vloc=1", "contact"}));
  r.NewRequests();

  // The unit falls silent: the link sends the request three times in all,
  // then reports the loss once; the poll thread itself posts nothing, and
  // the row keeps its value.
  r.silent = true;
  r.NextCycle(2);
  EXPECT_EQ(r.NewRequests(), (std::vector<std::string>{"0001rvloc;;", "0001rvloc;;", "0001rvloc;;"}));
  EXPECT_EQ(r.notifier->Take(), std::vector<std::string>{"lost"});
  EXPECT_EQ(Stored(*r.tables, "vloc"), 1);

  // Still silent: one attempt, one more loss report (the window ignores it
  // while disconnected), no contact.
  r.NextCycle(3);
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"0001rvloc;;"});
  EXPECT_EQ(r.notifier->Take(), std::vector<std::string>{"lost"});

  // Back: the first good reply confirms contact.
  r.silent = false;
  r.values["vloc"] = "0";
  r.NextCycle(4);
  EXPECT_EQ(r.notifier->Take(), (std::vector<std::string>{"lamp video-lock red", "polled vloc=0", "contact"}));
  EXPECT_EQ(Stored(*r.tables, "vloc"), 0);
}

TEST(PollThread, AHungUpPortIsALostLinkAndIsOpenedAgainEveryCycleUntilTheUnitAnswers) {
  PollRig r;
  ASSERT_NO_FATAL_FAILURE(r.StartVideoLockOnlyWithLossReports());
  r.notifier->Take();
  r.NewRequests();

  // The adapter is pulled: the loss is reported at once and the dead port
  // is closed; nothing is retried on it.
  r.f.line().hungUp = true;
  r.f.serial->failOpen = true;
  r.NextCycle(2);
  EXPECT_EQ(r.notifier->Take(), std::vector<std::string>{"lost"});
  EXPECT_FALSE(r.f.line().open);
  // Still away: the port is tried again, quietly.
  r.NextCycle(3);
  EXPECT_TRUE(r.notifier->Take().empty());
  EXPECT_TRUE(r.NewRequests().empty());

  // Plugged back in: the same port opens and the first answer is contact.
  r.f.line().hungUp = false;
  r.f.serial->failOpen = false;
  r.NextCycle(4);
  EXPECT_EQ(r.f.serial->opened, (std::vector<std::string>{"/dev/fake0", "/dev/fake0"}));
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"0001rvloc;;"});
  EXPECT_EQ(r.notifier->Take(), (std::vector<std::string>{"lamp video-lock green", "polled vloc=1", "contact"}));
}

TEST(PollThread, KeepAliveNoticesAUnitThatComesBack) {
  PollRig r;
  r.settings.pollingEnabled = false;
  r.link->SetLinkLostNotify(app::LinkLostToNotifier(r.notifier));
  r.silent = true;
  r.Open();
  r.Start();
  ASSERT_TRUE(r.waiter->AwaitPause(1));
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"0001rgadd;;"});
  EXPECT_EQ(r.notifier->Take(), std::vector<std::string>{"lost"});

  r.silent = false;
  r.NextCycle(2);
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"0001rgadd;;"});
  EXPECT_EQ(r.notifier->Take(), std::vector<std::string>{"contact"});
}

TEST(PollThread, RequestsWaitForThePollLock) {
  PollRig r;
  r.Open();
  {
    // A multi-step operation on the window thread holds the poll lock.
    std::lock_guard held(link::PollLock());
    r.Start();
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(r.f.line().writes.empty());
    EXPECT_TRUE(r.waiter->Pauses().empty());
  }
  ASSERT_TRUE(r.waiter->AwaitPause(1));
  EXPECT_EQ(r.NewRequests().size(), 3u);
}

// ---- A TCP unit that is gone

// The poll thread over a fake TCP connection. The socket stays open when the
// unit goes away, so every request fails at the receive; each cycle's
// receives are scripted while the thread is held in its pause.
struct TcpPollRig {
  FakeLink f;
  std::shared_ptr<link::CRavlenRemoteControl> link;
  std::shared_ptr<ParamTables> tables = std::make_shared<ParamTables>();
  std::shared_ptr<RecordingNotifier> notifier = std::make_shared<RecordingNotifier>(tables);
  std::shared_ptr<StepWaiter> waiter = std::make_shared<StepWaiter>();
  AppSettings settings;
  std::unique_ptr<PollThread> poll;

  TcpPollRig() : link(std::move(f.link)) {}
  ~TcpPollRig() {
    if (poll) poll->Stop();
  }

  // Connects and lets the probe find the unit.
  void Connect() {
    link->SetEthernetAddress("127.0.0.1");
    ASSERT_EQ(link::ConnectAndWait(*link, 5000), link::kConnectOk);
    Answer('1', "1");
    std::lock_guard lock(link::LinkLock());
    link->ProbeUnit();
    ASSERT_TRUE(link->IsConnected());
  }
  void Answer(char status, const std::string& value) {
    const Bytes frame = ReplyFrame(1, status, value);
    std::lock_guard lock(f.sockets->state->m);
    f.sockets->state->receives.push_back({link::PlainEnvelope(frame.data(), frame.size())});
  }
  // The next receive fails as a socket whose peer has gone does.
  void Fail() {
    std::lock_guard lock(f.sockets->state->m);
    f.sockets->state->receives.push_back({{}, ECONNRESET});
  }
  void Start() {
    poll = std::make_unique<PollThread>(link, tables, notifier, waiter);
    ASSERT_TRUE(poll->Start(settings, 1));
  }
  // The cycle that follows pause `n - 1`, with what was scripted for it;
  // the notifications it gave.
  std::vector<std::string> Cycle(std::size_t n) {
    if (n > 1) waiter->Release();
    EXPECT_TRUE(waiter->AwaitPause(n)) << "cycle " << n;
    return notifier->Take();
  }
  std::size_t Sends() {
    std::lock_guard lock(f.sockets->state->m);
    return f.sockets->state->sends.size();
  }
};

const std::vector<std::string> kNothing;
const std::vector<std::string> kLost = {"lost"};

TEST(PollThreadTcp, ThreeFailedCyclesInARowAreALostLinkUntilAnAnswerComes) {
  TcpPollRig r;
  r.settings.pollChainingStatus = false;
  r.settings.pollRfOutput = false;  // one request per cycle: "vloc"
  r.Connect();
  r.Answer('1', "1");
  r.Start();
  EXPECT_EQ(r.Cycle(1), (std::vector<std::string>{"lamp video-lock green", "polled vloc=1", "contact"}));

  // The unit is gone: two failed cycles say nothing yet, the third and
  // every one after it report the loss.
  std::size_t n = 2;
  for (int i = 0; i < 2; ++i, ++n) {
    r.Fail();
    EXPECT_EQ(r.Cycle(n), kNothing) << n;
  }
  for (int i = 0; i < 2; ++i, ++n) {
    r.Fail();
    EXPECT_EQ(r.Cycle(n), kLost) << n;
  }
  // A refusal is an answer: contact, and the count starts again.
  r.Answer('E', "");
  EXPECT_EQ(r.Cycle(n++), std::vector<std::string>{"contact"});
  for (int i = 0; i < 2; ++i, ++n) {
    r.Fail();
    EXPECT_EQ(r.Cycle(n), kNothing) << n;
  }
  // Two failures, then a good reply: never three in a row.
  r.Answer('1', "0");
  EXPECT_EQ(r.Cycle(n++), (std::vector<std::string>{"lamp video-lock red", "polled vloc=0", "contact"}));
  r.Fail();
  EXPECT_EQ(r.Cycle(n++), kNothing);
  r.Fail();
  EXPECT_EQ(r.Cycle(n++), kNothing);
  r.Fail();
  EXPECT_EQ(r.Cycle(n++), kLost);
  // Every cycle sent its one request: the thread polls on while the link is
  // lost, so the first good reply restores contact.
  EXPECT_EQ(r.Sends(), 1 + n - 1);  // the probe and one request per cycle
}

TEST(PollThreadTcp, ACycleEndsAtItsFirstLinkErrorAndAnAnswerBeforeItResetsTheCount) {
  TcpPollRig r;  // all three entries polled
  r.Connect();
  r.Answer('1', "1");
  r.Answer('1', "1");
  r.Answer('1', "1");
  r.Start();
  EXPECT_EQ(r.Cycle(1).size(), 8u);

  // A frozen unit costs one receive time-out per cycle, not three: lost at
  // the third cycle.
  std::size_t n = 2;
  for (int i = 0; i < 3; ++i, ++n) {
    const std::size_t before = r.Sends();
    r.Fail();
    EXPECT_EQ(r.Cycle(n), i < 2 ? kNothing : kLost) << n;
    EXPECT_EQ(r.Sends(), before + 1) << "cycle " << n << " went on after its link error";
  }

  // An answer before the failure keeps the link.
  for (int i = 0; i < 4; ++i, ++n) {
    r.Answer('1', "1");  // "vloc"
    r.Fail();            // "csta"; "oout" is not asked
    EXPECT_EQ(r.Cycle(n), (std::vector<std::string>{"lamp video-lock green", "polled vloc=1", "contact"})) << n;
  }

  // Sends that fail count as much as receives that do.
  {
    std::lock_guard lock(r.f.sockets->state->m);
    r.f.sockets->state->failSendErr = EPIPE;
  }
  EXPECT_EQ(r.Cycle(n++), kNothing);
  EXPECT_EQ(r.Cycle(n++), kNothing);
  EXPECT_EQ(r.Cycle(n++), kLost);
  {
    std::lock_guard lock(r.f.sockets->state->m);
    r.f.sockets->state->failSendErr = 0;
  }

  // With polling off only the keep-alive goes out; its failures count too,
  // and its answer ends the loss.
  r.poll->SetPollingEnabled(false);
  r.Fail();
  EXPECT_EQ(r.Cycle(n++), kLost);
  r.Answer('1', "1");
  EXPECT_EQ(r.Cycle(n++), std::vector<std::string>{"contact"});
  r.Fail();
  EXPECT_EQ(r.Cycle(n++), kNothing);
}

TEST(PollThreadTcp, ANewConnectionStartsTheCountAfresh) {
  TcpPollRig r;
  r.settings.pollingEnabled = false;  // the keep-alive alone
  r.Connect();
  r.Fail();
  r.Start();
  EXPECT_EQ(r.Cycle(1), kNothing);
  r.Fail();
  EXPECT_EQ(r.Cycle(2), kNothing);
  r.Fail();
  EXPECT_EQ(r.Cycle(3), kLost);

  // The window connected anew while the thread paused: the old connection's
  // failures no longer count.
  r.poll->NewConnection();
  r.Fail();
  EXPECT_EQ(r.Cycle(4), kNothing);
  r.Fail();
  EXPECT_EQ(r.Cycle(5), kNothing);
  r.Fail();
  EXPECT_EQ(r.Cycle(6), kLost);
}

TEST(PollThreadTcp, WithoutAConnectionNothingIsCounted) {
  TcpPollRig r;
  r.settings.pollingEnabled = false;
  r.link->SetEthernetAddress("127.0.0.1");  // TCP, but no unit has answered
  r.Start();
  for (std::size_t n = 1; n <= 4; ++n) EXPECT_EQ(r.Cycle(n), kNothing) << n;
  EXPECT_EQ(r.Sends(), 0u);
}

// ---- The pause

TEST(PollThread, PauseIsTheIntervalAndAChangeTakesEffectAtTheNextPause) {
  PollRig r;
  r.settings.pollingIntervalMs = 2000;
  r.Open();
  r.Start();
  ASSERT_TRUE(r.waiter->AwaitPause(1));
  // Changed while the thread pauses: this pause is not cut short or
  // lengthened, the next one uses the new interval.
  EXPECT_TRUE(r.poll->SetIntervalMs(500));
  EXPECT_EQ(r.poll->IntervalMs(), 500);
  r.NextCycle(2);
  r.NextCycle(3);
  EXPECT_EQ(r.waiter->Pauses(), (std::vector<std::int64_t>{2000, 500, 500}));
  // The pause is the waiter's, not a sleep on the link's clock.
  EXPECT_TRUE(r.f.clock.slept.empty());
}

TEST(PollThread, ZeroOrNegativeIntervalNeverBecomesThePause) {
  for (int stored : {0, -1, -5000}) {
    PollRig r;
    r.settings.pollingIntervalMs = stored;
    r.Open();
    r.Start();
    ASSERT_TRUE(r.waiter->AwaitPause(1));
    EXPECT_EQ(r.waiter->Pauses().back(), app::kDefaultPollIntervalMs) << stored;

    EXPECT_TRUE(r.poll->SetIntervalMs(300));
    r.NextCycle(2);
    // Refused: the interval stays as it was.
    EXPECT_FALSE(r.poll->SetIntervalMs(0));
    EXPECT_FALSE(r.poll->SetIntervalMs(-1));
    EXPECT_FALSE(r.poll->SetIntervalMs(stored));
    EXPECT_EQ(r.poll->IntervalMs(), 300);
    r.NextCycle(3);
    EXPECT_EQ(r.waiter->Pauses(), (std::vector<std::int64_t>{app::kDefaultPollIntervalMs, 300, 300})) << stored;
  }
}

// ---- Stopping

TEST(PollThread, StopDuringAPauseReturnsAtOnce) {
  test::FakeLink f;
  std::shared_ptr<link::CRavlenRemoteControl> link(std::move(f.link));
  ASSERT_EQ(link->OpenSerialPort(0), 0u);
  f.line().responder = [](const Bytes&) { return std::optional<Bytes>(ReplyFrame(1, '1', "1")); };
  auto tables = std::make_shared<ParamTables>();
  auto notifier = std::make_shared<RecordingNotifier>(tables);
  AppSettings settings;
  settings.pollingIntervalMs = 600000;  // ten minutes: only a woken wait ends in time

  PollThread poll(link, tables, notifier);  // the real condition variable waiter
  ASSERT_TRUE(poll.Start(settings, 1));
  ASSERT_TRUE(notifier->AwaitEvent("polled oout=1"));
  std::this_thread::sleep_for(20ms);  // into the pause

  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(poll.Stop());
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(took, 500ms);
  EXPECT_FALSE(poll.Running());
  EXPECT_EQ(f.line().writes.size(), 3u);  // one cycle, nothing after the stop
  EXPECT_TRUE(poll.Stop());               // again: nothing to do
}

TEST(PollThread, StopLeavesThePollListAtOnce) {
  PollRig r;
  r.Open();
  r.notifier->onContact = [w = r.waiter] { w->AwaitWake(); };  // stop arrives during the first entry
  r.Start();
  ASSERT_TRUE(r.notifier->AwaitEvent("polled vloc=1"));
  EXPECT_TRUE(r.poll->Stop());
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"0001rvloc;;"});  // no csta, oout or keep-alive
  EXPECT_TRUE(r.waiter->Pauses().empty());
}

TEST(PollThread, StopForCloseWritesTheTraceLine) {
  test::TraceCapture trace;
  PollRig r;
  r.Open();
  r.Start();
  ASSERT_TRUE(r.waiter->AwaitPause(1));
  EXPECT_TRUE(r.poll->Stop());
  EXPECT_EQ(trace.Count("Poll thread terminated\r\n"), 0);  // a plain stop writes nothing
  EXPECT_TRUE(r.poll->StopForClose());
  EXPECT_EQ(trace.Count("Poll thread terminated\r\n"), 1);

  PollRig running;
  running.Open();
  running.Start();
  ASSERT_TRUE(running.waiter->AwaitPause(1));
  EXPECT_TRUE(running.poll->StopForClose());
  EXPECT_FALSE(running.poll->Running());
  EXPECT_EQ(trace.Count("Poll thread terminated\r\n"), 2);
}

TEST(PollThread, AThreadThatOutlivesTheGraceIsLeftRunningAndKeepsWhatItUses) {
  PollRig r;
  r.Open();
  struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool entered = false, open = false;
  };
  auto gate = std::make_shared<Gate>();
  r.notifier->onContact = [gate] {
    std::unique_lock lock(gate->m);
    gate->entered = true;
    gate->cv.notify_all();
    gate->cv.wait(lock, [&] { return gate->open; });
  };
  r.Start();
  {
    std::unique_lock lock(gate->m);
    ASSERT_TRUE(gate->cv.wait_for(lock, kAwait, [&] { return gate->entered; }));
  }
  // The thread is in a notification: it holds neither lock there, so a
  // window thread could take them (try_lock on a recursive mutex fails only
  // when another thread holds it).
  EXPECT_TRUE(link::PollLock().try_lock());
  link::PollLock().unlock();
  EXPECT_TRUE(link::LinkLock().try_lock());
  link::LinkLock().unlock();

  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(r.poll->Stop(30ms));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1000ms);
  EXPECT_FALSE(r.poll->Running());

  // Everything the test holds goes; the thread still has its share.
  std::weak_ptr<RecordingNotifier> notifier = r.notifier;
  std::weak_ptr<link::CRavlenRemoteControl> linkSeen = r.link;
  r.poll.reset();
  r.notifier.reset();
  r.link.reset();
  r.tables.reset();
  EXPECT_FALSE(notifier.expired());
  EXPECT_FALSE(linkSeen.expired());

  {
    std::lock_guard lock(gate->m);
    gate->open = true;
    gate->cv.notify_all();
  }
  // It sees the stop, ends without another request and lets go of it all.
  const auto deadline = std::chrono::steady_clock::now() + kAwait;
  while ((!notifier.expired() || !linkSeen.expired()) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(notifier.expired());
  EXPECT_TRUE(linkSeen.expired());
  EXPECT_EQ(r.NewRequests(), std::vector<std::string>{"0001rvloc;;"});
}

TEST(PollThread, StartsOnlyOnce) {
  PollRig r;
  r.Open();
  r.Start();
  ASSERT_TRUE(r.waiter->AwaitPause(1));
  EXPECT_FALSE(r.poll->Start(r.settings, 1));
  EXPECT_TRUE(r.poll->Stop());
  EXPECT_FALSE(r.poll->Start(r.settings, 1));
  EXPECT_FALSE(r.poll->Running());
}

}  // namespace
