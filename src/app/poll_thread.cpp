#include "app/poll_thread.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/frame.h"
#include "link/link_lock.h"
#include "link/request.h"
#include "link/trace.h"
#include "params/convert.h"
#include "params/unit_context.h"

namespace vecta::app {

link::CRavlenRemoteControl::LinkLostNotify LinkLostToNotifier(std::shared_ptr<PollNotifier> notifier) {
  return [notifier = std::move(notifier)] {
    if (notifier) notifier->LinkLost();
  };
}

void CondVarPollWaiter::WaitFor(std::int64_t ms, const std::atomic<bool>& stop) {
  std::unique_lock lock(m_);
  cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stop.load(); });
}

void CondVarPollWaiter::Wake() {
  // Taking the mutex orders this after a waiter's check of the flag, so the
  // notification cannot fall between its check and its wait.
  { std::lock_guard lock(m_); }
  cv_.notify_all();
}

// Everything the thread touches, shared with it so that a thread left
// running after Stop never meets freed memory.
struct PollThread::State {
  std::shared_ptr<link::CRavlenRemoteControl> link;
  std::shared_ptr<params::ParamTables> tables;
  std::shared_ptr<PollNotifier> notifier;
  std::shared_ptr<PollWaiter> waiter;

  std::atomic<bool> stop{false};
  std::atomic<int> intervalMs{kDefaultPollIntervalMs};
  std::atomic<int> unitAddress{1};
  std::atomic<bool> pollingEnabled{true};
  std::array<std::atomic<bool>, 3> pollList{true, true, true};
  std::atomic<bool> newConnection{false};
  int failedTcpCycles = 0;  // the thread's own

  std::mutex doneMutex;
  std::condition_variable doneCv;
  bool done = false;
};

namespace {

struct PollEntry {
  std::string_view mnemonic;
  int lamp;  // driven when the row carries the status-lamp flag
};

// The order the entries are polled in; index i belongs to polling list flag i.
constexpr std::array<PollEntry, 3> kPollList = {{
    {kPollVideoLock, params::kLampVideoLock},
    {kPollChainingStatus, 0},
    {kPollRfOutput, params::kLampRfOutput},
}};

// While no address is known the unit is asked for it; afterwards the read of
// its address shows it is still there.
std::string KeepAliveRequest(int address) {
  return address == 0 ? link::AddressQuery() : link::ReadRequest(address, "gadd");
}

// Whether the link has a connection, and whether it is a TCP one. A serial
// port whose device went away is tried again first, so a unit plugged back
// in is found at the polling interval.
bool LinkOpen(link::CRavlenRemoteControl& link, bool& tcp) {
  if (link.SerialPortLost()) {
    link::PollAndLinkLock locks;
    link.ReopenLostSerialPort();
  }
  std::lock_guard lock(link::LinkLock());
  tcp = link.Kind() == link::TransportKind::Tcp;
  return link.IsConnected();
}

// How a cycle went: nothing sent (no connection), at least one answer, or
// every request failed with a link error.
enum class CycleOutcome { NothingSent, Answered, Failed };

// Stores a good reply and tells the window: the lamp first (for rows that
// carry one), then the new value, then that the unit is there.
void Polled(PollThread::State& s, const PollEntry& entry, const link::LinkReply& reply) {
  params::ParamRow* row = s.tables ? s.tables->main.Find(entry.mnemonic) : nullptr;
  if (row) {
    params::StoreReply(*row, reply.value);
    if (entry.lamp != 0 && row->Desc().Has(params::flag::kStatusLamp))
      s.notifier->SetLamp(entry.lamp, params::LampIcon(row->Desc(), reply.value));
  }
  s.notifier->ParameterPolled(entry.mnemonic);
  s.notifier->ContactConfirmed();
}

CycleOutcome Cycle(PollThread::State& s, bool& tcp) {
  link::CRavlenRemoteControl& link = *s.link;
  if (!LinkOpen(link, tcp)) return CycleOutcome::NothingSent;

  const int address = s.unitAddress.load();
  bool requested = false, answered = false;
  if (s.pollingEnabled.load() && address != 0) {
    for (std::size_t i = 0; i < kPollList.size(); ++i) {
      if (!s.pollList[i].load()) continue;
      const PollEntry& entry = kPollList[i];
      link::LinkReply reply;
      const std::uint32_t rc = link::PollExchange(link, link::ReadRequest(address, entry.mnemonic), reply);
      requested = true;
      if (rc == 0) {
        answered = true;
        // A refusal is still an answer: the unit is there, but its value
        // is not taken.
        if (reply.status == '1')
          Polled(s, entry, reply);
        else
          s.notifier->ContactConfirmed();
      }
      // Over TCP a unit that is gone costs a whole receive time-out per
      // request: the cycle ends at its first link error, so the loss shows
      // within three cycles of one time-out each.
      if (s.stop.load() || (tcp && rc != 0)) break;
    }
  }
  if (requested) return answered ? CycleOutcome::Answered : CycleOutcome::Failed;

  link::LinkReply reply;
  if (link::PollExchange(link, KeepAliveRequest(address), reply) != 0) return CycleOutcome::Failed;
  s.notifier->ContactConfirmed();
  return CycleOutcome::Answered;
}

// Over TCP a unit that is gone leaves the socket open; its loss shows only
// as requests that fail. A serial link reports the loss itself.
void CountFailedCycles(PollThread::State& s, CycleOutcome outcome, bool tcp) {
  if (s.newConnection.exchange(false)) s.failedTcpCycles = 0;
  if (!tcp || outcome != CycleOutcome::Failed) {
    s.failedTcpCycles = 0;
    return;
  }
  if (s.failedTcpCycles < kTcpFailedCyclesForLinkLost) ++s.failedTcpCycles;
  if (s.failedTcpCycles >= kTcpFailedCyclesForLinkLost) s.notifier->LinkLost();
}

}  // namespace

PollThread::PollThread(std::shared_ptr<link::CRavlenRemoteControl> link,
                       std::shared_ptr<params::ParamTables> tables, std::shared_ptr<PollNotifier> notifier,
                       std::shared_ptr<PollWaiter> waiter)
    : state_(std::make_shared<State>()) {
  state_->link = std::move(link);
  state_->tables = std::move(tables);
  state_->notifier = std::move(notifier);
  state_->waiter = waiter ? std::move(waiter) : std::make_shared<CondVarPollWaiter>();
}

PollThread::~PollThread() { Stop(); }

bool PollThread::Start(const AppSettings& settings, int unitAddress) {
  if (thread_.joinable() || state_->stop.load() || !state_->link || !state_->notifier) return false;
  SetIntervalMs(settings.pollingIntervalMs);
  TakePollingFlags(settings);
  SetUnitAddress(unitAddress);
  thread_ = std::thread(&PollThread::Run, state_);
  return true;
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): the thread owns its share of the state.
void PollThread::Run(std::shared_ptr<State> state) {
  State& s = *state;
  while (!s.stop.load()) {
    bool tcp = false;
    const CycleOutcome outcome = Cycle(s, tcp);
    if (s.stop.load()) break;
    CountFailedCycles(s, outcome, tcp);
    // Read here, so a change made during the cycle or the previous pause
    // applies to this pause. Always positive: SetIntervalMs refuses the rest.
    s.waiter->WaitFor(s.intervalMs.load(), s.stop);
  }
  std::lock_guard lock(s.doneMutex);
  s.done = true;
  s.doneCv.notify_all();
}

bool PollThread::Stop(std::chrono::milliseconds grace) {
  if (!thread_.joinable()) return true;
  state_->stop = true;
  state_->waiter->Wake();
  bool ended;
  {
    std::unique_lock lock(state_->doneMutex);
    ended = state_->doneCv.wait_for(lock, grace, [&] { return state_->done; });
  }
  // A thread stuck in a long exchange is left to finish it; it holds its own
  // reference to everything it uses and ends at its next stop check.
  if (ended)
    thread_.join();
  else
    thread_.detach();
  return ended;
}

bool PollThread::StopForClose(std::chrono::milliseconds grace) {
  const bool ended = Stop(grace);
  link::Trace("Poll thread terminated\r\n");
  return ended;
}

void PollThread::SetUnitAddress(int address) { state_->unitAddress = address; }
int PollThread::UnitAddress() const { return state_->unitAddress.load(); }

void PollThread::SetPollingEnabled(bool on) { state_->pollingEnabled = on; }

void PollThread::SetPollList(bool videoLock, bool chainingStatus, bool rfOutput) {
  state_->pollList[0] = videoLock;
  state_->pollList[1] = chainingStatus;
  state_->pollList[2] = rfOutput;
}

void PollThread::TakePollingFlags(const AppSettings& settings) {
  SetPollingEnabled(settings.pollingEnabled);
  SetPollList(settings.pollVideoLock, settings.pollChainingStatus, settings.pollRfOutput);
}

bool PollThread::SetIntervalMs(int ms) {
  if (ms <= 0) return false;
  state_->intervalMs = ms;
  return true;
}

int PollThread::IntervalMs() const { return state_->intervalMs.load(); }

void PollThread::NewConnection() { state_->newConnection = true; }

}  // namespace vecta::app
