// A main window connected over a pseudo-terminal to a simulated unit of its
// own, for the widget tests of the settings pages: the simulator runs with
// its transcript, the window sees only the simulator's port, messages go to
// a recording prompter, the unit's protocol waits are recorded instead of
// slept, and the poll thread makes one cycle and then rests until the
// window closes, so the transcript shows only what the test's actions send.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/poll_thread.h"
#include "app/settings.h"
#include "gui/main_window.h"
#include "link/clock.h"
#include "support/recording_ui.h"
#include "support/sim_process.h"

namespace vecta::test::pages_rig {

// The unit the simulator plays.
struct SimUnit {
  std::string board = "K240";
  bool satmod = false;
  // "MNEM=VALUE" defaults, in order.
  std::vector<std::string> params;
};

// Keeps every pause it is asked for and returns at once.
class RecordingClock final : public link::Clock {
 public:
  std::int64_t NowMs() override { return link::SystemClock().NowMs(); }
  link::TimeOfDay UtcTimeOfDay() override { return link::SystemClock().UtcTimeOfDay(); }
  void SleepMs(std::int64_t ms) override;
  std::vector<std::int64_t> Sleeps() const;
  void Forget();

 private:
  mutable std::mutex m_;
  std::vector<std::int64_t> sleeps_;
};

// The poll thread's pause, ended only when the thread is told to stop.
class RestingPollWaiter final : public app::PollWaiter {
 public:
  void WaitFor(std::int64_t ms, const std::atomic<bool>& stop) override;
  void Wake() override;
  // Waits (handling no events) until the thread has entered its pause
  // `count` times.
  bool WaitPauses(int count, int timeoutMs);

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int pauses_ = 0;
  bool woken_ = false;
};

class PagesRig {
 public:
  PagesRig() = default;
  ~PagesRig();
  PagesRig(const PagesRig&) = delete;
  PagesRig& operator=(const PagesRig&) = delete;

  // Starts the simulator, then the window (shown) and its start-up scan and
  // full refresh, and waits for the poll thread's first cycle. Afterwards
  // the transcript is marked: Requests() returns what follows.
  ::testing::AssertionResult Start(const SimUnit& unit);
  // A window with no serial port at all, never connected (Start() not run).
  void StartUnconnected();

  gui::MainWindow& Window() { return *window_; }
  SimProcess& Sim() { return sim_; }
  RecordingPrompter& Prompter() { return prompter_; }
  RecordingClock& Clock() { return clock_; }

  // Waits (handling events) until no operation runs, and hands the queued
  // notices to the window.
  bool Idle(int timeoutMs = 30000);
  // Handles pending events, deferred deletes included.
  static void Pump();

  // The frames the unit received since the last mark, as the transcript
  // shows them without "rx " ("0001wzscr;6;"); marks the transcript again.
  // A marker request sent through the link closes the span, so nothing the
  // actions sent can still be on its way.
  std::vector<std::string> Requests();
  // Only the writes (op 'w') of Requests(), in order.
  static std::vector<std::string> WritesOf(const std::vector<std::string>& requests);
  // Only the reads (op 'r'), in order.
  static std::vector<std::string> ReadsOf(const std::vector<std::string>& requests);
  void Mark() { (void)Requests(); }

  // One exchange with the unit behind the window's back (between the
  // window's operations): "wgnam;Studio;" or "rgnam;;" with the unit
  // address put in front. Returns the reply's value; `status` gets its
  // status byte.
  std::string Direct(std::string_view request, char* status = nullptr);

  // The unit address as the transcript shows it ("0001").
  std::string Address() const;

 private:
  std::vector<std::string> SyncTranscript();

  SimProcess sim_;
  app::AppSettings settings_;
  RecordingPrompter prompter_;
  RecordingClock clock_;
  std::shared_ptr<RestingPollWaiter> waiter_ = std::make_shared<RestingPollWaiter>();
  std::unique_ptr<gui::MainWindow> window_;
  std::size_t mark_ = 0;
  int sentinels_ = 0;
};

}  // namespace vecta::test::pages_rig
