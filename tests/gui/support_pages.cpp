#include "support_pages.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <chrono>
#include <cstdio>
#include <thread>

#include "link/frame.h"
#include "link/link_lock.h"
#include "link/serial_port.h"

namespace vecta::test::pages_rig {

namespace {

constexpr std::string_view kMarker = "rzzzz;;";  // a mnemonic no unit has

}  // namespace

// ------------------------------------------------------------ the clock

void RecordingClock::SleepMs(std::int64_t ms) {
  std::lock_guard lock(m_);
  sleeps_.push_back(ms);
}

std::vector<std::int64_t> RecordingClock::Sleeps() const {
  std::lock_guard lock(m_);
  return sleeps_;
}

void RecordingClock::Forget() {
  std::lock_guard lock(m_);
  sleeps_.clear();
}

// ------------------------------------------------------- the poll pause

void RestingPollWaiter::WaitFor(std::int64_t, const std::atomic<bool>& stop) {
  std::unique_lock lock(m_);
  ++pauses_;
  cv_.notify_all();
  cv_.wait(lock, [&] { return woken_ || stop.load(); });
}

void RestingPollWaiter::Wake() {
  std::lock_guard lock(m_);
  woken_ = true;
  cv_.notify_all();
}

bool RestingPollWaiter::WaitPauses(int count, int timeoutMs) {
  std::unique_lock lock(m_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pauses_ >= count; });
}

// -------------------------------------------------------------- the rig

PagesRig::~PagesRig() {
  if (window_) {
    window_->close();
    window_.reset();
  }
  Pump();
}

::testing::AssertionResult PagesRig::Start(const SimUnit& unit) {
  std::vector<std::string> args = {"--pty", "--transcript", "--board", unit.board};
  if (unit.satmod) args.push_back("--satmod");
  for (const std::string& p : unit.params) {
    args.push_back("--param");
    args.push_back(p);
  }
  std::string error;
  if (!sim_.Start(args, &error)) return ::testing::AssertionFailure() << "simulator: " << error;
  if (sim_.PtyPath().empty()) return ::testing::AssertionFailure() << "simulator printed no pty";

  gui::MainWindowOptions options;
  options.settings = &settings_;
  options.serialPorts = link::MakePosixSerialProvider({{sim_.PtyPath(), "SIM"}});
  options.prompter = &prompter_;
  options.pollWaiter = waiter_;
  window_ = std::make_unique<gui::MainWindow>(std::move(options));
  // The unit's protocol waits (mode changes, tuning) are recorded, not slept.
  window_->Unit().clock = &clock_;
  window_->show();
  window_->Start();
  if (!Idle()) return ::testing::AssertionFailure() << "the start-up scan did not end";
  if (!window_->Session().Connected())
    return ::testing::AssertionFailure()
           << "not connected to the simulator; messages: " << ::testing::PrintToString(prompter_.Texts());
  if (!waiter_->WaitPauses(1, 10000)) return ::testing::AssertionFailure() << "the poll thread made no cycle";
  Pump();
  if (!prompter_.messages.empty())
    return ::testing::AssertionFailure() << "start-up showed " << ::testing::PrintToString(prompter_.Texts());
  Mark();
  clock_.Forget();
  return ::testing::AssertionSuccess();
}

void PagesRig::StartUnconnected() {
  gui::MainWindowOptions options;
  options.settings = &settings_;
  options.serialPorts = link::MakePosixSerialProvider({});
  options.prompter = &prompter_;
  options.pollWaiter = waiter_;
  window_ = std::make_unique<gui::MainWindow>(std::move(options));
  window_->Unit().clock = &clock_;
  window_->show();
  Pump();
}

bool PagesRig::Idle(int timeoutMs) {
  const bool idle = window_->WaitIdle(timeoutMs);
  Pump();
  return idle;
}

void PagesRig::Pump() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
}

std::string PagesRig::Address() const {
  char text[8];
  std::snprintf(text, sizeof text, "%04d", window_->Unit().unitAddress);
  return text;
}

std::string PagesRig::Direct(std::string_view request, char* status) {
  std::string frame(1, static_cast<char>(link::kStx));
  frame += Address();
  frame += request;
  link::LinkReply reply;
  const std::uint32_t rc = link::Exchange(window_->Link(), frame, reply, 1);
  if (status) *status = rc == 0 ? reply.status : '\0';
  return rc == 0 ? reply.value : std::string();
}

std::vector<std::string> PagesRig::SyncTranscript() {
  char status = 0;
  Direct(kMarker, &status);
  const std::string marker = "rx " + Address() + std::string(kMarker);
  QElapsedTimer timer;
  timer.start();
  for (;;) {
    std::vector<std::string> lines = sim_.TranscriptLines();
    for (std::size_t i = mark_; i < lines.size(); ++i) {
      if (lines[i] != marker) continue;
      // The marker's reply line follows it; the next span starts after it.
      if (i + 1 < lines.size() || timer.elapsed() > 3000) {
        std::vector<std::string> span(lines.begin() + static_cast<std::ptrdiff_t>(mark_),
                                      lines.begin() + static_cast<std::ptrdiff_t>(i));
        mark_ = std::min(lines.size(), i + 2);
        return span;
      }
    }
    if (timer.elapsed() > 5000) {
      ADD_FAILURE() << "the marker request never reached the simulator (status '" << status << "')";
      std::vector<std::string> span(lines.begin() + static_cast<std::ptrdiff_t>(std::min(mark_, lines.size())),
                                    lines.end());
      mark_ = lines.size();
      return span;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::vector<std::string> PagesRig::Requests() {
  std::vector<std::string> requests;
  for (const std::string& line : SyncTranscript())
    if (line.rfind("rx ", 0) == 0) requests.push_back(line.substr(3));
  return requests;
}

std::vector<std::string> PagesRig::WritesOf(const std::vector<std::string>& requests) {
  std::vector<std::string> writes;
  for (const std::string& r : requests)
    if (r.size() > 4 && r[4] == 'w') writes.push_back(r);
  return writes;
}

std::vector<std::string> PagesRig::ReadsOf(const std::vector<std::string>& requests) {
  std::vector<std::string> reads;
  for (const std::string& r : requests)
    if (r.size() > 4 && r[4] == 'r') reads.push_back(r);
  return reads;
}

}  // namespace vecta::test::pages_rig
