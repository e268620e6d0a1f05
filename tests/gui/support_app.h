// A main window wired to simulated units: the simulators run as child
// processes (pty and/or TCP loopback), the window sees only their ports,
// its messages go to a RecordingPrompter, its poll thread is stepped by the
// test and the operations' pauses (config switch, mode change) are counted
// instead of waited for.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/poll_thread.h"
#include "app/settings.h"
#include "gui/main_window.h"
#include "link/clock.h"
#include "link/serial_port.h"
#include "support/fake_link.h"
#include "support/recording_ui.h"
#include "support/sim_process.h"

namespace vecta::test {

// Holds the poll thread in each pause until the test lets it out.
class SteppingPollWaiter final : public app::PollWaiter {
 public:
  void WaitFor(std::int64_t ms, const std::atomic<bool>& stop) override;
  void Wake() override;

  // Pauses the thread has entered so far.
  std::size_t Pauses() const;
  // The lengths asked for, in order.
  std::vector<std::int64_t> Lengths() const;
  // Lets the thread out of its current pause (or the next one).
  void Release();

 private:
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::int64_t> lengths_;
  std::size_t released_ = 0;
};

// A clock whose pauses return at once; each is recorded and moves the time
// on by its length.
class SkippingClock final : public link::Clock {
 public:
  std::int64_t NowMs() override;
  link::TimeOfDay UtcTimeOfDay() override { return link::SystemClock().UtcTimeOfDay(); }
  void SleepMs(std::int64_t ms) override;
  std::vector<std::int64_t> Pauses() const;

 private:
  mutable std::mutex m_;
  std::vector<std::int64_t> pauses_;
  std::int64_t skipped_ = 0;
};

// Serial ports at fixed paths (the simulators' ptys, or anything else),
// opened as termios devices; records every index the link opens.
class RecordingSerialProvider final : public link::SerialPortProvider {
 public:
  void Add(std::string path, std::string name);
  std::vector<link::SerialPortInfo> Ports() const override;
  std::unique_ptr<link::SerialDevice> Open(int index, std::string& error) override;
  std::vector<int> Opened() const;

 private:
  mutable std::mutex m_;
  std::vector<link::SerialPortInfo> ports_;
  std::vector<int> opened_;
};

// How one simulated unit is started.
struct SimSetup {
  std::string board = "K610";
  bool satmod = false;
  bool pty = true;      // served on a pseudo-terminal
  std::string ptyLink;  // with a symlink to it, when not empty
  std::string tcp;      // "ADDR:PORT" to serve TCP too; "" none
  int address = 1;
  bool addPort = true;                 // its pty joins the window's port list
  std::vector<std::string> extraArgs;  // faults, --param, --state, ...

  // Chained settings: SimSetup().Board("K240").Args({"--silent"}).
  SimSetup& Board(std::string b) {
    board = std::move(b);
    return *this;
  }
  SimSetup& Satmod() {
    satmod = true;
    return *this;
  }
  SimSetup& NoPty() {
    pty = false;
    return *this;
  }
  SimSetup& PtyLink(std::string link) {
    ptyLink = std::move(link);
    return *this;
  }
  SimSetup& Tcp(std::string at) {
    tcp = std::move(at);
    return *this;
  }
  SimSetup& Address(int a) {
    address = a;
    return *this;
  }
  SimSetup& NotAPort() {
    addPort = false;
    return *this;
  }
  SimSetup& Args(std::vector<std::string> more) {
    extraArgs.insert(extraArgs.end(), more.begin(), more.end());
    return *this;
  }
};

// The command line for vecta-sim (always with --transcript).
std::vector<std::string> SimArgs(const SimSetup& setup);

// Loopback address number `n` (1..254) of this test process: 127.X.Y.n with
// X.Y taken from the process id. The program always dials port 9999, so
// two runs of the tests on one machine must not share addresses.
std::string LoopbackOfThisRun(int n);

// Handles window events until `done` holds or `ms` have passed.
bool PumpUntil(const std::function<bool()>& done, int ms = 5000);
// Handles window events for `ms`.
void PumpFor(int ms);

// The requests a simulator received so far: its "rx" transcript lines
// without the "rx " (notes such as " (silent after 5)" kept).
std::vector<std::string> Requests(SimProcess& sim);
// Index of the first request equal to `request` at or after `from`; -1 none.
int FindRequest(const std::vector<std::string>& requests, const std::string& request, std::size_t from = 0);
// Waits (handling events) until the simulator has received nothing new for
// `quietMs`, at most `ms`.
void AwaitQuiet(SimProcess& sim, int quietMs = 100, int ms = 2000);

// The window's connection label, its lamp and the session agree that a unit
// is connected (or that none is).
void ExpectConnected(gui::MainWindow& w);
void ExpectNotConnected(gui::MainWindow& w);

// Waits (handling events) until the simulator has received `request` at or
// after position `from`; returns its position or -1.
int AwaitRequest(SimProcess& sim, const std::string& request, std::size_t from = 0, int ms = 3000);

class AppRig {
 public:
  AppRig();
  ~AppRig();  // the window goes first, then the simulators
  AppRig(const AppRig&) = delete;
  AppRig& operator=(const AppRig&) = delete;

  // Starts a simulator; with a pty and `addPort` its pty becomes the next
  // serial port of the window. Null (with a test failure) when it cannot
  // start.
  SimProcess* AddSim(const SimSetup& setup);
  // Another serial port (a path that need not be a terminal, or exist).
  void AddPort(const std::string& path, const std::string& name);

  // Serial read time-outs of `readMs` per byte, so silence costs a fraction
  // of a second (the defaults are 2500 ms); still long enough for a unit
  // that answers on a busy machine.
  void UseFastSerialTimeouts(int readMs = 200);

  // Builds and shows the window (not started). `configure` may change the
  // options first.
  gui::MainWindow& MakeWindow(const std::function<void(gui::MainWindowOptions&)>& configure = {});
  // MakeWindow, Start, and wait for the start-up scan and refresh.
  gui::MainWindow& StartWindow(const std::function<void(gui::MainWindowOptions&)>& configure = {});
  gui::MainWindow& Window() { return *window; }

  // Waits until no operation runs and none follows within a short while
  // (an operation's end may start the next one). The budget is one that an
  // operation meant to end never meets, even on a loaded machine.
  bool Settle(int ms = 30000);

  // Waits (handling events) until the poll thread has entered pause `n`.
  bool AwaitPause(std::size_t n, int ms = 5000);
  // One poll cycle: out of the current pause, into the next.
  bool StepPoll(int ms = 5000);

  // Stops a simulator's process (it falls silent, its pty stays open) and
  // lets it go on again; stopped ones are resumed before they are ended.
  void Freeze(SimProcess& sim);
  void Thaw(SimProcess& sim);

  // One exchange with the unit under both locks, as the unit's own side
  // might change a value (between poll cycles only).
  std::uint32_t Exchange(const std::string& request);

  app::AppSettings settings;
  RecordingPrompter prompter;
  std::shared_ptr<SteppingPollWaiter> waiter = std::make_shared<SteppingPollWaiter>();
  SkippingClock clock;
  std::shared_ptr<RecordingSerialProvider> ports = std::make_shared<RecordingSerialProvider>();
  std::vector<std::unique_ptr<SimProcess>> sims;
  TempDir dir;
  std::unique_ptr<gui::MainWindow> window;

 private:
  std::vector<SimProcess*> frozen_;
};

}  // namespace vecta::test
