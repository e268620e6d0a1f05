// The status poll thread. While the program runs it asks the connected unit,
// once per polling interval, for up to three status values - video lock
// ("vloc"), chaining status ("csta"), RF output ("oout") - stores each good
// reply in its row of the main table and tells the main window, which drives
// the "Video lock" and "RF output" lamps and the matching controls from it.
// When nothing is to be polled (polling off, all three list flags clear) the
// unit gets the address query "rgadd" instead, so a unit that comes back is
// still noticed. Every request is made under the poll lock and then the link
// lock, so polling never falls between the steps of a multi-step operation.
//
// A serial link reports a unit that stopped answering by itself (the link
// controller's link-lost notice). A TCP link does not: its socket stays open
// while the unit is gone, so the thread counts the cycles in a row in which
// no request got an answer, and from the third such cycle on it tells the
// window that the link is lost, once per failed cycle. A cycle with an answer
// (accepted or refused) starts the count afresh. Over TCP a cycle ends at its
// first link error, so a unit that froze shows as lost within about
// 3 x (receive time-out + interval).
//
// Qt-free: the window hands in a PollNotifier and turns each call into a
// queued call on its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "app/settings.h"
#include "link/remote_control.h"
#include "params/descriptor.h"

namespace vecta::app {

// What the poll thread (and the link, see LinkLostToNotifier) tells the main
// window. Every call is made on the sending thread and must return without
// waiting for the window thread: that thread may at that moment be waiting
// for a lock the sender holds.
class PollNotifier {
 public:
  virtual ~PollNotifier() = default;
  // A lamp (params::kLampVideoLock, kLampRfOutput) gets an icon
  // (params::kIconGreen, kIconRed).
  virtual void SetLamp(int lamp, int icon) = 0;
  // A fresh value of `mnemonic` is stored in the main table. The text is a
  // constant that lives as long as the program.
  virtual void ParameterPolled(std::string_view mnemonic) = 0;
  // The unit stopped answering. On a serial link sent by the link
  // controller; on a TCP link by the poll thread after kTcpFailedCyclesForLinkLost
  // failed cycles in a row.
  virtual void LinkLost() = 0;
  // The unit answered a poll request or the keep-alive.
  virtual void ContactConfirmed() = 0;
};

// A link-lost callback for the link controller that forwards to `notifier`
// (which it keeps alive).
link::CRavlenRemoteControl::LinkLostNotify LinkLostToNotifier(std::shared_ptr<PollNotifier> notifier);

// The pause between two cycles.
class PollWaiter {
 public:
  virtual ~PollWaiter() = default;
  // Pauses for `ms` (always > 0), returning early once `stop` is set and
  // Wake has been called; returns at once when `stop` is already set.
  virtual void WaitFor(std::int64_t ms, const std::atomic<bool>& stop) = 0;
  // Called after `stop` has been set, to end a pause in progress.
  virtual void Wake() = 0;
};

// The real pause: a condition variable wait, ended at once by Wake.
class CondVarPollWaiter final : public PollWaiter {
 public:
  void WaitFor(std::int64_t ms, const std::atomic<bool>& stop) override;
  void Wake() override;

 private:
  std::mutex m_;
  std::condition_variable cv_;
};

// The three fixed entries of the poll list, in the order they are polled.
inline constexpr std::string_view kPollVideoLock = "vloc";
inline constexpr std::string_view kPollChainingStatus = "csta";
inline constexpr std::string_view kPollRfOutput = "oout";

// Poll cycles in a row without any answer after which a TCP link counts as
// lost.
inline constexpr int kTcpFailedCyclesForLinkLost = 3;

// Used when the settings hold no usable interval (0 or negative).
inline constexpr int kDefaultPollIntervalMs = 2000;
// How long Stop waits for the thread before leaving it to end on its own.
inline constexpr std::chrono::milliseconds kPollStopGrace{1500};

class PollThread {
 public:
  // `link`, `tables` and `notifier` are shared with the thread, so a thread
  // that outlives Stop's grace period still finds them. `waiter` defaults to
  // a CondVarPollWaiter.
  PollThread(std::shared_ptr<link::CRavlenRemoteControl> link, std::shared_ptr<params::ParamTables> tables,
             std::shared_ptr<PollNotifier> notifier, std::shared_ptr<PollWaiter> waiter = nullptr);
  // Stops the thread (with the grace period) if it still runs.
  ~PollThread();
  PollThread(const PollThread&) = delete;
  PollThread& operator=(const PollThread&) = delete;

  // Takes the polling interval, the polling enabled flag and the three
  // polling list flags from `settings` and the unit address, then starts the
  // thread. Returns false, changing nothing, without a link or notifier, or
  // when it was started before (a stopped thread is not started again: make
  // a new PollThread).
  bool Start(const AppSettings& settings, int unitAddress);

  // Asks the thread to end and waits up to `grace` for it. Returns true when
  // it has ended (or never ran); false when it is still busy - it is then
  // detached and ends by itself at its next stop check. Never kills it.
  bool Stop(std::chrono::milliseconds grace = kPollStopGrace);
  // Stop, then the debug trace line "Poll thread terminated\r\n": what the
  // main window does when it closes.
  bool StopForClose(std::chrono::milliseconds grace = kPollStopGrace);
  bool Running() const { return thread_.joinable(); }

  // Thread-safe; take effect as described. The list flags and the enabled
  // flag are read at the start of each cycle.
  void SetUnitAddress(int address);  // 0 suppresses poll requests
  int UnitAddress() const;
  void SetPollingEnabled(bool on);
  void SetPollList(bool videoLock, bool chainingStatus, bool rfOutput);
  // Polling enabled and the three list flags from the settings record.
  void TakePollingFlags(const AppSettings& settings);
  // The pause after each cycle, from the next pause on (a pause in progress
  // keeps its length). 0 and negative values are refused, like the polling
  // options refuse 0: the interval stays as it was and false is returned.
  bool SetIntervalMs(int ms);
  int IntervalMs() const;

  // A new connection was made: the count of failed TCP cycles starts afresh
  // at the next cycle, so the old connection's failures do not count
  // against it.
  void NewConnection();

  // What the thread shares with this object (opaque outside poll_thread.cpp).
  struct State;

 private:
  static void Run(std::shared_ptr<State> state);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace vecta::app
