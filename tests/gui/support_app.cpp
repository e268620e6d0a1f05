#include "support_app.h"

#include "link/rfc2217.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "link/link_lock.h"

namespace vecta::test {

// --------------------------------------------------------------- waiter

void SteppingPollWaiter::WaitFor(std::int64_t ms, const std::atomic<bool>& stop) {
  std::unique_lock lock(m_);
  lengths_.push_back(ms);
  const std::size_t mine = lengths_.size();
  cv_.notify_all();
  // Stop ends the wait through Wake; the time-out only guards a lost wake.
  while (!stop.load() && released_ < mine) cv_.wait_for(lock, std::chrono::milliseconds(50));
}

void SteppingPollWaiter::Wake() {
  std::lock_guard lock(m_);
  cv_.notify_all();
}

std::size_t SteppingPollWaiter::Pauses() const {
  std::lock_guard lock(m_);
  return lengths_.size();
}

std::vector<std::int64_t> SteppingPollWaiter::Lengths() const {
  std::lock_guard lock(m_);
  return lengths_;
}

void SteppingPollWaiter::Release() {
  std::lock_guard lock(m_);
  ++released_;
  cv_.notify_all();
}

// ---------------------------------------------------------------- clock

std::int64_t SkippingClock::NowMs() {
  std::lock_guard lock(m_);
  return link::SystemClock().NowMs() + skipped_;
}

void SkippingClock::SleepMs(std::int64_t ms) {
  std::lock_guard lock(m_);
  pauses_.push_back(ms);
  if (ms > 0) skipped_ += ms;
}

std::vector<std::int64_t> SkippingClock::Pauses() const {
  std::lock_guard lock(m_);
  return pauses_;
}

// ---------------------------------------------------------------- ports

void RecordingSerialProvider::Add(std::string path, std::string name) {
  std::lock_guard lock(m_);
  ports_.push_back({std::move(path), std::move(name)});
}

std::vector<link::SerialPortInfo> RecordingSerialProvider::Ports() const {
  std::lock_guard lock(m_);
  return ports_;
}

std::unique_ptr<link::SerialDevice> RecordingSerialProvider::Open(int index, std::string& error) {
  std::string path;
  {
    std::lock_guard lock(m_);
    opened_.push_back(index);
    if (index < 0 || index >= static_cast<int>(ports_.size())) {
      error = "no serial port with index " + std::to_string(index);
      return nullptr;
    }
    path = ports_[static_cast<std::size_t>(index)].path;
  }
  if (link::IsNetworkPortName(path)) return link::OpenNetworkSerialDevice(path, error);
  return link::OpenPosixSerialDevice(path, error);
}

std::vector<int> RecordingSerialProvider::Opened() const {
  std::lock_guard lock(m_);
  return opened_;
}

// -------------------------------------------------------------- helpers

std::string LoopbackOfThisRun(int n) {
  const auto pid = static_cast<unsigned>(::getpid());
  return "127." + std::to_string(1 + (pid >> 8) % 254) + "." + std::to_string(pid & 0xff) + "." +
         std::to_string(n);
}

std::vector<std::string> SimArgs(const SimSetup& setup) {
  std::vector<std::string> args{"--board", setup.board, "--address", std::to_string(setup.address),
                                "--transcript"};
  if (setup.satmod) args.push_back("--satmod");
  if (setup.pty) {
    args.push_back("--pty");
    if (!setup.ptyLink.empty()) args.push_back(setup.ptyLink);
  }
  if (!setup.tcp.empty()) {
    args.push_back("--tcp");
    args.push_back(setup.tcp);
  }
  args.insert(args.end(), setup.extraArgs.begin(), setup.extraArgs.end());
  return args;
}

bool PumpUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  for (;;) {
    if (done()) return true;
    if (timer.elapsed() >= ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void PumpFor(int ms) {
  QElapsedTimer timer;
  timer.start();
  PumpUntil([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

void AwaitQuiet(SimProcess& sim, int quietMs, int ms) {
  QElapsedTimer total, quiet;
  total.start();
  quiet.start();
  std::size_t seen = Requests(sim).size();
  while (quiet.elapsed() < quietMs && total.elapsed() < ms) {
    PumpFor(10);
    const std::size_t now = Requests(sim).size();
    if (now != seen) {
      seen = now;
      quiet.restart();
    }
  }
}

void ExpectConnected(gui::MainWindow& w) {
  EXPECT_EQ(w.ConnectionLabel()->text(), "Connected");
  EXPECT_EQ(w.LampIcon(params::kLampConnection), params::kIconGreen);
  EXPECT_TRUE(w.Session().Connected());
}

void ExpectNotConnected(gui::MainWindow& w) {
  EXPECT_EQ(w.ConnectionLabel()->text(), "Not connected");
  EXPECT_EQ(w.LampIcon(params::kLampConnection), params::kIconRed);
  EXPECT_FALSE(w.Session().Connected());
}

std::vector<std::string> Requests(SimProcess& sim) {
  std::vector<std::string> out;
  for (const std::string& line : sim.TranscriptLines())
    if (line.rfind("rx ", 0) == 0) out.push_back(line.substr(3));
  return out;
}

int AwaitRequest(SimProcess& sim, const std::string& request, std::size_t from, int ms) {
  int at = -1;
  PumpUntil(
      [&] {
        at = FindRequest(Requests(sim), request, from);
        return at >= 0;
      },
      ms);
  return at;
}

int FindRequest(const std::vector<std::string>& requests, const std::string& request, std::size_t from) {
  for (std::size_t i = from; i < requests.size(); ++i)
    if (requests[i] == request) return static_cast<int>(i);
  return -1;
}

// ------------------------------------------------------------------ rig

AppRig::AppRig() {
  // Nothing the window does must reach the real settings of whoever runs
  // the tests; the record lives here only.
  settings.pollingIntervalMs = 2000;
}

AppRig::~AppRig() {
  for (SimProcess* sim : frozen_)
    if (sim->Running()) ::kill(sim->Pid(), SIGCONT);
  frozen_.clear();
  if (window) {
    window->close();
    window.reset();
  }
  // Whatever the window posted on its way out.
  QCoreApplication::processEvents();
  sims.clear();
}

SimProcess* AppRig::AddSim(const SimSetup& setup) {
  auto sim = std::make_unique<SimProcess>();
  std::string error;
  if (!sim->Start(SimArgs(setup), &error)) {
    ADD_FAILURE() << "the simulator did not start: " << error;
    return nullptr;
  }
  if (setup.pty && setup.addPort)
    ports->Add(setup.ptyLink.empty() ? sim->PtyPath() : setup.ptyLink, "sim" + std::to_string(sims.size() + 1));
  sims.push_back(std::move(sim));
  return sims.back().get();
}

void AppRig::AddPort(const std::string& path, const std::string& name) { ports->Add(path, name); }

void AppRig::UseFastSerialTimeouts(int readMs) {
  settings.readIntervalTimeoutMs = readMs;
  settings.readTotalTimeoutMultiplier = 0;
  settings.readTotalTimeoutConstantMs = readMs;
}

gui::MainWindow& AppRig::MakeWindow(const std::function<void(gui::MainWindowOptions&)>& configure) {
  gui::MainWindowOptions options;
  options.settings = &settings;
  options.serialPorts = ports;
  options.prompter = &prompter;
  options.pollWaiter = waiter;
  options.tcpReceiveTimeoutMs = 1500;
  options.clock = &clock;
  if (configure) configure(options);
  window = std::make_unique<gui::MainWindow>(std::move(options));
  window->show();
  return *window;
}

gui::MainWindow& AppRig::StartWindow(const std::function<void(gui::MainWindowOptions&)>& configure) {
  gui::MainWindow& w = MakeWindow(configure);
  w.Start();
  EXPECT_TRUE(Settle()) << "the start-up scan did not end";
  return w;
}

bool AppRig::Settle(int ms) {
  QElapsedTimer timer;
  timer.start();
  for (;;) {
    const int left = std::max(1, ms - static_cast<int>(timer.elapsed()));
    if (!window->WaitIdle(left)) return false;
    // What the end of an operation queued may start the next one.
    PumpFor(30);
    if (!window->Busy()) return true;
    if (timer.elapsed() >= ms) return false;
  }
}

bool AppRig::AwaitPause(std::size_t n, int ms) {
  return PumpUntil([&] { return waiter->Pauses() >= n; }, ms);
}

bool AppRig::StepPoll(int ms) {
  const std::size_t next = waiter->Pauses() + 1;
  waiter->Release();
  return AwaitPause(next, ms);
}

void AppRig::Freeze(SimProcess& sim) {
  ASSERT_EQ(::kill(sim.Pid(), SIGSTOP), 0);
  frozen_.push_back(&sim);
  // The signal takes effect a little later on a busy machine: wait until
  // the process is stopped, so it cannot answer what is sent next.
  const std::string stat = "/proc/" + std::to_string(sim.Pid()) + "/stat";
  for (int i = 0; i < 2000; ++i) {
    std::ifstream in(stat);
    std::string line;
    std::getline(in, line);
    const auto close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'T') return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ADD_FAILURE() << "the simulator did not stop";
}

void AppRig::Thaw(SimProcess& sim) {
  ASSERT_EQ(::kill(sim.Pid(), SIGCONT), 0);
  std::erase(frozen_, &sim);
}

std::uint32_t AppRig::Exchange(const std::string& request) {
  std::lock_guard poll(link::PollLock());
  link::LinkReply reply;
  return link::Exchange(window->Link(), request, reply);
}

}  // namespace vecta::test
