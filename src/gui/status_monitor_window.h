// The "Status monitor" window: while it is open it samples the unit's status
// values (app/status_monitor.h) at the interval the operator picks and
// plots each against time - numbers as lines with their unit, states (video
// lock, RF output, chaining) as steps - with the last value beside each
// chart. A sample the unit did not answer leaves a gap in the lines.
// "Export CSV..." saves the samples taken so far.
//
// The reads run on a thread of the window's own, never on the window
// thread: each tick of the timer asks that thread for one sample (a tick
// that comes while a sample is still being read is skipped) and the sample
// comes back as a queued call. Closing the window stops the timer and the
// thread: no read starts after that, a sample in progress ends before its
// next request, and the window deletes itself.
//
// The time axes show local time; the CSV carries UTC.
#pragma once

#include <QIcon>
#include <QPointF>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/status_monitor.h"
#include "link/remote_control.h"
#include "params/descriptor.h"
#include "params/prompter.h"

class QChartView;
class QHBoxLayout;
class QLabel;
class QLineSeries;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QTimer;
class QVBoxLayout;

namespace vecta::gui {

struct StatusMonitorOptions {
  std::shared_ptr<link::CRavlenRemoteControl> link;  // shared with the sampling thread
  std::vector<app::StatusRow> rows;
  // The unit address for the next sample; called on the window thread.
  std::function<int()> unitAddress;
  params::Prompter* prompter = nullptr;  // the file choice and errors of the export
  // Time stamps; the system's clock when null. Must outlive the sampling
  // thread (tests: wait for Stopped()).
  app::UtcClock* clock = nullptr;
  // Sample on the timer (and once at once). Off: only SampleNow samples
  // (tests).
  bool timer = true;
  std::size_t capacity = app::StatusHistory::kDefaultCapacity;
  QIcon icon;
};

class StatusMonitorWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDefaultIntervalSeconds = 5;
  static constexpr int kMinIntervalSeconds = 1;
  static constexpr int kMaxIntervalSeconds = 3600;

  explicit StatusMonitorWindow(StatusMonitorOptions options, QWidget* parent = nullptr);
  ~StatusMonitorWindow() override;

  // What a tick does: asks the sampling thread for one sample. False when
  // one is still being read or the window is closing.
  bool SampleNow();
  // Whether a sample has been asked for and not come back yet.
  bool Sampling() const;
  // The sampling thread has ended (or was left to end by itself).
  bool Stopped() const;

  // Saves the samples as CSV in the file the operator chooses.
  void ExportCsv();

  const app::StatusHistory& History() const { return history_; }
  QTimer* Timer() const { return timer_; }
  QSpinBox* IntervalBox() const { return interval_; }
  QPushButton* ExportButton() const { return export_; }
  QLabel* StatusLabel() const { return status_; }
  QChartView* Chart(int row) const;
  QLabel* NameLabel(int row) const;
  QLabel* ValueLabel(int row) const;
  // The points of each unbroken piece of a row's line, oldest first.
  std::vector<std::vector<QPointF>> Segments(int row) const;

 signals:
  // A sample has been added and drawn.
  void SampleAdded();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Shared;
  struct RowView;

  QHBoxLayout* MakeControlRow();
  QScrollArea* MakeCharts();
  void MakeChart(RowView& v, const app::StatusRow& row, QWidget* parent);
  static QVBoxLayout* MakeRowLabels(RowView& v, const app::StatusRow& row, QWidget* parent);
  void StartSampler();
  static void RunSampler(std::shared_ptr<Shared> shared);
  void AddSample(app::StatusSample sample);
  void DropOlderThan(std::int64_t utcMs);
  void StartSegment(RowView& v);
  static void AppendPoint(RowView& v, bool state, qreal x, qreal y);
  static int PointCount(const RowView& v);
  void Redraw(std::size_t index);
  void UpdateRanges(RowView& view, std::size_t index);
  void StopSampling();

  StatusMonitorOptions options_;
  app::StatusHistory history_;
  std::shared_ptr<Shared> shared_;
  std::vector<std::unique_ptr<RowView>> views_;
  QTimer* timer_ = nullptr;
  QSpinBox* interval_ = nullptr;
  QPushButton* export_ = nullptr;
  QLabel* status_ = nullptr;
};

// Opens the window for the unit the main window is connected to: the rows
// of its board type, with the modulator's temperature when the last full
// refresh found a modulator (`main` holds its version).
StatusMonitorWindow* OpenStatusMonitor(std::shared_ptr<link::CRavlenRemoteControl> link,
                                       const std::string& boardType, const params::ParamTable& main,
                                       std::function<int()> unitAddress, params::Prompter& prompter,
                                       const QIcon& icon);

}  // namespace vecta::gui
