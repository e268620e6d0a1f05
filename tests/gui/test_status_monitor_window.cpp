// The "Status monitor" window on the offscreen platform, over a scripted
// unit on the fake serial line with an injected wall clock: its interval,
// samples arriving on the window thread (lines, steps and the last value),
// a gap for a silent unit, the CSV written byte for byte, reads stopping
// when the window closes; and the main window's command that opens it.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <condition_variable>
#include <map>
#include <mutex>

#include "app/status_monitor.h"
#include "gui/status_monitor_window.h"
#include "support/fake_link.h"
#include "support/recording_ui.h"
#include "support_app.h"

using namespace vecta;
using namespace vecta::test;
using gui::StatusMonitorWindow;

namespace {

// 2026-12-08T22:20:05.000Z
constexpr std::int64_t kT0 = 1796768405000;

class FakeUtc final : public app::UtcClock {
 public:
  std::int64_t NowUtcMs() override { return now.load(); }
  std::atomic<std::int64_t> now{kT0};
};

// A unit on the fake line that answers reads from `values` (a missing one,
// or all while `silent`, gets silence). Reads come from the sampling
// thread; everything here is under the lock. `holdAt` makes the request of
// that number wait until Release.
struct ScriptedUnit {
  std::mutex m;
  std::condition_variable cv;
  std::map<std::string, std::string> values = {{"vloc", "1"},   {"oout", "1"},  {"csta", "0"},    {"gtmp", "38"},
                                               {"gvnt", "121"}, {"gvax", "50"}, {"gvba", "14.20"}};
  bool silent = false;
  int requests = 0;
  int holdAt = 0;
  bool holding = false, released = false;

  void Attach(FakeSerialState& line) {
    line.responder = [this](const Bytes& frame) -> std::optional<Bytes> {
      std::unique_lock lock(m);
      const int n = ++requests;
      if (n == holdAt) {
        holding = true;
        cv.notify_all();
        cv.wait(lock, [&] { return released; });
      }
      const std::string m4(frame.begin() + 6, frame.begin() + 10);
      const auto it = values.find(m4);
      if (silent || it == values.end()) return std::nullopt;
      return ReplyFrame(1, '1', it->second);
    };
  }
  void Set(const std::string& m4, const std::string& v) {
    std::lock_guard lock(m);
    values[m4] = v;
  }
  void Silence(bool on) {
    std::lock_guard lock(m);
    silent = on;
  }
  int Requests() {
    std::lock_guard lock(m);
    return requests;
  }
  bool Holding() {
    std::lock_guard lock(m);
    return holding;
  }
  void Release() {
    std::lock_guard lock(m);
    released = true;
    cv.notify_all();
  }
};

class MonitorWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    // Silence costs the fake clock 10 ms a try, not seconds.
    link::SerialTimeouts t;
    t.readTotalConstant = 10;
    f.link->SetInitialTimeouts(t);
    ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
    unit.Attach(f.line());
  }
  void TearDown() override {
    if (window) window->close();
    PumpUntil([&] { return window.isNull(); }, 2000);
    // The sampling thread lets go of the link when it ends.
    EXPECT_TRUE(PumpUntil([&] { return link.use_count() == 1; }, 3000));
  }
  StatusMonitorWindow* Open(bool timer = false, std::size_t capacity = app::StatusHistory::kDefaultCapacity) {
    gui::StatusMonitorOptions o;
    o.link = link;
    o.rows = app::StatusRowsFor(params::Variant::K610, false);
    o.unitAddress = [] { return 1; };
    o.prompter = &prompter;
    o.clock = &utc;
    o.timer = timer;
    o.capacity = capacity;
    window = new StatusMonitorWindow(std::move(o));
    QObject::connect(window, &StatusMonitorWindow::SampleAdded, [this] { ++added; });
    window->show();
    return window;
  }
  // One sample, asked for and waited for.
  bool Sample() {
    const int before = added;
    if (!window->SampleNow()) return false;
    const bool arrived = PumpUntil([&] { return added > before; }, 5000);
    utc.now += 5000;
    return arrived;
  }

  FakeLink f;
  std::shared_ptr<link::CRavlenRemoteControl> link{f.link.get(), [](link::CRavlenRemoteControl*) {}};
  ScriptedUnit unit;
  FakeUtc utc;
  RecordingPrompter prompter;
  TempDir dir;
  QPointer<StatusMonitorWindow> window;
  int added = 0;
};

TEST_F(MonitorWindow, SamplesEveryFiveSecondsByDefaultAndNoFasterThanOne) {
  Open(true);
  EXPECT_EQ(window->windowTitle(), "Status monitor");
  EXPECT_TRUE(window->Timer()->isActive());
  EXPECT_EQ(window->Timer()->interval(), 5000);
  EXPECT_EQ(window->IntervalBox()->value(), 5);
  EXPECT_EQ(window->IntervalBox()->minimum(), 1);
  window->IntervalBox()->setValue(0);
  EXPECT_EQ(window->Timer()->interval(), 1000);
  window->IntervalBox()->setValue(30);
  EXPECT_EQ(window->Timer()->interval(), 30000);
  // The first sample does not wait for the first tick.
  EXPECT_TRUE(PumpUntil([&] { return window->History().Samples().size() == 1; }, 5000));
  EXPECT_EQ(window->ExportButton()->text(), "Export CSV...");
}

TEST_F(MonitorWindow, SamplesArriveAsLinesStepsAndTheLastValue) {
  Open();
  for (int i = 0; i < 7; ++i) EXPECT_EQ(window->NameLabel(i) != nullptr, true);
  EXPECT_EQ(window->NameLabel(6)->text(), "Battery voltage");
  EXPECT_EQ(window->ValueLabel(6)->text(), "\u2014");  // nothing yet

  ASSERT_TRUE(Sample());
  EXPECT_TRUE(window->StatusLabel()->text().startsWith("1 sample,"));
  unit.Set("vloc", "0");
  unit.Set("gvba", "14.10");
  ASSERT_TRUE(Sample());
  unit.Set("vloc", "1");
  unit.Set("gvba", "14.00");
  ASSERT_TRUE(Sample());
  EXPECT_EQ(unit.Requests(), 3 * 7);

  EXPECT_EQ(window->ValueLabel(0)->text(), "Yes");
  EXPECT_EQ(window->ValueLabel(2)->text(), "Not active");
  EXPECT_EQ(window->ValueLabel(3)->text(), "38 \u00b0C");
  EXPECT_EQ(window->ValueLabel(4)->text(), "12.1 V");
  EXPECT_EQ(window->ValueLabel(6)->text(), "14.00 V");
  EXPECT_TRUE(window->StatusLabel()->text().startsWith("3 samples"));

  const double t0 = kT0, t1 = kT0 + 5000, t2 = kT0 + 10000;
  // A number is a line through its samples.
  EXPECT_EQ(window->Segments(6),
            (std::vector<std::vector<QPointF>>{{QPointF(t0, 14.2), QPointF(t1, 14.1), QPointF(t2, 14.0)}}));
  // A state holds its level until the next sample.
  EXPECT_EQ(window->Segments(0),
            (std::vector<std::vector<QPointF>>{
                {QPointF(t0, 1), QPointF(t1, 1), QPointF(t1, 0), QPointF(t2, 0), QPointF(t2, 1)}}));
}

TEST_F(MonitorWindow, LongRunsAreDrawnWithFewerPointsKeepingSpikesAndGaps) {
  Open();
  window->hide();  // no painting needed to count points
  constexpr int kSamples = 620;
  for (int i = 0; i < kSamples; ++i) {
    char volts[16];
    std::snprintf(volts, sizeof volts, "%.2f", i == 300 ? 9.0 : 14.2 - i * 0.001);
    unit.Set("gvba", volts);
    unit.Silence(i == 400);
    ASSERT_TRUE(Sample()) << i;
  }
  ASSERT_EQ(window->History().Samples().size(), static_cast<std::size_t>(kSamples));
  const auto segments = window->Segments(6);
  ASSERT_EQ(segments.size(), 2u);  // the silent sample still breaks the line
  std::size_t points = 0;
  double lowest = 100;
  for (const auto& s : segments) {
    points += s.size();
    for (const auto& p : s) lowest = std::min(lowest, p.y());
  }
  EXPECT_LE(points, 600u);
  EXPECT_EQ(lowest, 9.0);  // the dip is still drawn
  EXPECT_EQ(segments.front().front().x(), kT0);
  EXPECT_EQ(segments.back().back().x(), kT0 + 5000.0 * (kSamples - 1));
  // A level that does not change is one step from its first sample to its
  // last, in each piece of line.
  const auto vloc = window->Segments(0);
  ASSERT_EQ(vloc.size(), 2u);
  EXPECT_EQ(vloc[0], (std::vector<QPointF>{QPointF(kT0, 1), QPointF(kT0 + 5000.0 * 399, 1)}));
}

TEST_F(MonitorWindow, TheOldestSamplesGoBeyondTheCapacity) {
  Open(false, 3);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(Sample());
  ASSERT_EQ(window->History().Samples().size(), 3u);
  EXPECT_EQ(window->History().Samples().front().utcMs, kT0 + 10000);
  const auto segments = window->Segments(6);
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_EQ(segments[0].size(), 3u);
  EXPECT_EQ(segments[0].front().x(), kT0 + 10000.0);
}

TEST_F(MonitorWindow, ASilentUnitIsAGapNotZeros) {
  Open();
  ASSERT_TRUE(Sample());
  unit.Silence(true);
  ASSERT_TRUE(Sample());
  EXPECT_EQ(window->ValueLabel(6)->text(), "\u2014");
  EXPECT_EQ(window->ValueLabel(0)->text(), "\u2014");
  EXPECT_TRUE(window->StatusLabel()->text().startsWith("No answer from the unit"))
      << window->StatusLabel()->text().toStdString();
  unit.Silence(false);
  ASSERT_TRUE(Sample());
  EXPECT_EQ(window->ValueLabel(6)->text(), "14.20 V");
  // Two pieces of line, none through the silent sample.
  const auto segments = window->Segments(6);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0], (std::vector<QPointF>{QPointF(kT0, 14.2)}));
  EXPECT_EQ(segments[1], (std::vector<QPointF>{QPointF(kT0 + 10000, 14.2)}));
  for (const auto& s : window->History().Samples()) EXPECT_EQ(s.values.size(), 7u);
  EXPECT_FALSE(window->History().Samples()[1].answered);
}

TEST_F(MonitorWindow, ExportWritesTheCsvByteForByte) {
  Open();
  ASSERT_TRUE(Sample());
  unit.Silence(true);
  ASSERT_TRUE(Sample());
  unit.Silence(false);
  unit.Set("csta", "2");
  ASSERT_TRUE(Sample());
  const std::string path = dir.File("status.csv");
  prompter.files.push_back(path);
  window->ExportButton()->click();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(ReadFile(path),
            "time,vloc,oout,csta,gtmp,gvnt,gvax,gvba\r\n"
            "2026-12-08T22:20:05.000Z,Yes,On,Not active,38,12.1,5.0,14.20\r\n"
            "2026-12-08T22:20:10.000Z,,,,,,,\r\n"
            "2026-12-08T22:20:15.000Z,Yes,On,Overflow,38,12.1,5.0,14.20\r\n");

  // Cancelled: nothing happens. A folder in the way: the file format's error.
  window->ExportButton()->click();
  EXPECT_TRUE(prompter.messages.empty());
  prompter.files.push_back(dir.path());
  window->ExportButton()->click();
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].title, "Error");
  EXPECT_EQ(prompter.messages[0].text, "Unable to open file for writing");
  EXPECT_EQ(prompter.messages[0].icon, params::MessageIcon::Exclamation);
}

TEST_F(MonitorWindow, ATickWhileASampleIsReadIsSkippedAndReadsStopOnClose) {
  Open();
  ASSERT_TRUE(Sample());
  unit.holdAt = 7 + 2;  // the second row of the second sample
  ASSERT_TRUE(window->SampleNow());
  ASSERT_TRUE(PumpUntil([&] { return unit.Holding(); }, 5000));
  // The window thread is free while the unit takes its time.
  EXPECT_TRUE(window->Sampling());
  EXPECT_FALSE(window->SampleNow());

  window->close();
  unit.Release();
  EXPECT_TRUE(PumpUntil([&] { return link.use_count() == 1; }, 3000));
  PumpFor(100);
  // The exchange in progress ended; no later row and no later sample was read.
  EXPECT_EQ(unit.Requests(), 7 + 2);
  EXPECT_TRUE(window.isNull());
}

// The main window's command, connected to a simulated unit.
TEST(MainWindowMonitor, OpensForTheUnitsBoardAndClosesWithTheMainWindow) {
  AppRig rig;
  ASSERT_NE(rig.AddSim(SimSetup().Board("K240").Satmod()), nullptr);
  rig.UseFastSerialTimeouts();
  gui::MainWindow& w = rig.StartWindow();
  ASSERT_TRUE(w.Session().Connected());
  QAction* action = w.Action(gui::commands::kStatusMonitor);
  ASSERT_NE(action, nullptr);
  EXPECT_TRUE(w.ToolBar()->actions().contains(action));
  action->trigger();
  auto* monitor = qobject_cast<StatusMonitorWindow*>(w.StatusMonitor());
  ASSERT_NE(monitor, nullptr);
  std::vector<std::string> rows;
  for (const auto& r : monitor->History().Rows()) rows.emplace_back(r.Mnemonic());
  EXPECT_EQ(rows, (std::vector<std::string>{"vloc", "oout", "csta", "gtmp", "gvnt", "gvax", "stmp"}));
  EXPECT_TRUE(PumpUntil([&] { return monitor->History().Samples().size() == 1; }, 5000));
  EXPECT_EQ(monitor->ValueLabel(6)->text(), "41.2 \u00b0C");
  // Once more: the same window comes to the front.
  action->trigger();
  EXPECT_EQ(w.StatusMonitor(), monitor);
  QPointer<QWidget> guard(monitor);
  w.close();
  EXPECT_TRUE(PumpUntil([&] { return guard.isNull(); }, 3000));
}

}  // namespace
