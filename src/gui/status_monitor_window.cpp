#include "gui/status_monitor_window.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCloseEvent>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "gui/accessibility.h"
#include "gui/cross_thread.h"
#include "gui/q_string.h"
#include "params/config_file.h"

namespace vecta::gui {
namespace {

constexpr std::string_view kCsvFilter = "CSV files (*.csv)|*.csv|All files (*)|*||";
constexpr std::string_view kCsvSuffix = "csv";
constexpr int kChartHeight = 130;
// How long closing waits for the sampling thread before leaving it to end
// by itself (a unit that does not answer holds it up to a time-out).
constexpr std::chrono::milliseconds kStopGrace{200};
const QString kNoValue = QStringLiteral("\u2014");
// A chart with more points than this is drawn again in buckets: a line
// through thousands of points costs more to draw than the chart has pixels
// to show.
constexpr int kMaxChartPoints = 600;
constexpr std::size_t kRedrawBuckets = 150;

}  // namespace

// What the window and its sampling thread share. The thread keeps it (and
// so the link) alive for as long as it runs.
struct StatusMonitorWindow::Shared {
  std::shared_ptr<link::CRavlenRemoteControl> link;
  std::vector<app::StatusRow> rows;
  app::UtcClock* clock = nullptr;

  std::mutex m;
  std::condition_variable cv;
  bool stop = false;       // the window is closing
  bool requested = false;  // a sample is asked for
  bool busy = false;       // asked for or being read
  bool done = false;       // the thread has ended
  int address = 1;
  std::atomic<bool> cut{false};  // ends a sample in progress
  // Receives the samples; cleared (under m) when the window goes.
  StatusMonitorWindow* window = nullptr;
};

struct StatusMonitorWindow::RowView {
  QChartView* view = nullptr;
  QChart* chart = nullptr;
  QDateTimeAxis* x = nullptr;
  QAbstractAxis* y = nullptr;
  QLabel* name = nullptr;
  QLabel* value = nullptr;
  QPen pen;
  std::vector<QLineSeries*> segments;
  bool open = false;  // the last sample had a value: the line goes on
};

StatusMonitorWindow::StatusMonitorWindow(StatusMonitorOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window), options_(std::move(options)), history_(options_.rows, options_.capacity) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Status monitor"));
  if (!options_.icon.isNull()) setWindowIcon(options_.icon);
  if (!options_.clock) options_.clock = &app::SystemUtcClock();

  auto* outer = new QVBoxLayout(this);
  outer->addLayout(MakeControlRow());
  outer->addWidget(MakeCharts(), 1);
  resize(820, 640);
  MakeAccessible(this);

  timer_ = new QTimer(this);
  timer_->setInterval(kDefaultIntervalSeconds * 1000);
  connect(timer_, &QTimer::timeout, this, [this] { SampleNow(); });
  connect(interval_, &QSpinBox::valueChanged, this, [this](int seconds) { timer_->setInterval(seconds * 1000); });
  connect(export_, &QPushButton::clicked, this, &StatusMonitorWindow::ExportCsv);

  StartSampler();
  if (options_.timer) {
    timer_->start();
    QTimer::singleShot(0, this, [this] { SampleNow(); });
  }
}

// The interval, the export button and the state of the samples, in one row
// above the charts.
QHBoxLayout* StatusMonitorWindow::MakeControlRow() {
  auto* top = new QHBoxLayout;
  auto* intervalLabel = new QLabel(QStringLiteral("Sample every"), this);
  interval_ = new QSpinBox(this);
  interval_->setRange(kMinIntervalSeconds, kMaxIntervalSeconds);
  interval_->setValue(kDefaultIntervalSeconds);
  interval_->setSuffix(QStringLiteral(" s"));
  SetCaption(intervalLabel, interval_);
  export_ = new QPushButton(QStringLiteral("Export CSV..."), this);
  export_->setAutoDefault(false);
  status_ = new QLabel(QStringLiteral("No samples yet"), this);
  top->addWidget(intervalLabel);
  top->addWidget(interval_);
  top->addSpacing(16);
  top->addWidget(export_);
  top->addStretch(1);
  top->addWidget(status_);
  return top;
}

// One chart per row, its name and last value beside it, in a scrolled area.
QScrollArea* StatusMonitorWindow::MakeCharts() {
  auto* area = new QScrollArea(this);
  area->setAccessibleName(QStringLiteral("Charts"));
  area->setWidgetResizable(true);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* charts = new QWidget(area);
  auto* grid = new QGridLayout(charts);
  const QList<QColor> colours = {QColor(0x1f, 0x4e, 0x8c), QColor(0xb0, 0x40, 0x10), QColor(0x2a, 0x7a, 0x2a),
                                 QColor(0xa0, 0x28, 0x28), QColor(0x6a, 0x3d, 0x9a), QColor(0x17, 0x7a, 0x74),
                                 QColor(0x8a, 0x6d, 0x1a), QColor(0x4a, 0x55, 0x68)};
  for (std::size_t i = 0; i < options_.rows.size(); ++i) {
    auto v = std::make_unique<RowView>();
    MakeChart(*v, options_.rows[i], charts);
    v->pen = QPen(colours[static_cast<qsizetype>(i) % colours.size()], 2);
    const int r = static_cast<int>(i);
    grid->addWidget(v->view, r, 0);
    grid->addLayout(MakeRowLabels(*v, options_.rows[i], charts), r, 1);
    views_.push_back(std::move(v));
  }
  grid->setColumnStretch(0, 1);
  area->setWidget(charts);
  return area;
}

// A row's chart: local time across the last minute, and the row's levels
// (a state) or its unit (a number) up the side.
void StatusMonitorWindow::MakeChart(RowView& v, const app::StatusRow& row, QWidget* parent) {
  v.chart = new QChart;
  v.chart->legend()->hide();
  v.chart->setMargins(QMargins(4, 4, 4, 4));
  v.chart->setBackgroundRoundness(0);
  v.x = new QDateTimeAxis;
  v.x->setFormat(QStringLiteral("HH:mm:ss"));
  v.x->setTickCount(5);
  const qint64 now = options_.clock->NowUtcMs();
  v.x->setRange(QDateTime::fromMSecsSinceEpoch(now - 60000), QDateTime::fromMSecsSinceEpoch(now));
  v.chart->addAxis(v.x, Qt::AlignBottom);
  if (row.form == app::StatusRow::Form::State) {
    auto* y = new QCategoryAxis;
    y->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    for (std::size_t l = 0; l < row.levels.size(); ++l) y->append(Q(row.levels[l]), static_cast<double>(l));
    y->setRange(-0.25, std::max<double>(1, static_cast<double>(row.levels.size()) - 1) + 0.25);
    v.y = y;
  } else {
    auto* y = new QValueAxis;
    y->setTitleText(Q(row.unit));
    y->setTickCount(3);
    y->setLabelFormat(QStringLiteral("%.1f"));
    v.y = y;
  }
  v.chart->addAxis(v.y, Qt::AlignLeft);
  v.view = new QChartView(v.chart, parent);
  v.view->setRenderHint(QPainter::Antialiasing, false);
  v.view->setMinimumHeight(kChartHeight);
  v.view->setMinimumWidth(320);
  v.view->setAccessibleName(Q(row.name));
}

// The row's name in bold over its last value in large type.
QVBoxLayout* StatusMonitorWindow::MakeRowLabels(RowView& v, const app::StatusRow& row, QWidget* parent) {
  v.name = new QLabel(Q(row.name), parent);
  QFont bold = v.name->font();
  bold.setBold(true);
  v.name->setFont(bold);
  v.value = new QLabel(kNoValue, parent);
  QFont big = v.value->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  v.value->setFont(big);
  v.value->setMinimumWidth(130);
  v.name->setMinimumWidth(v.name->sizeHint().width());
  auto* side = new QVBoxLayout;
  side->addStretch(1);
  side->addWidget(v.name);
  side->addWidget(v.value);
  side->addStretch(1);
  return side;
}

void StatusMonitorWindow::StartSampler() {
  shared_ = std::make_shared<Shared>();
  shared_->link = options_.link;
  shared_->rows = options_.rows;
  shared_->clock = options_.clock;
  shared_->window = this;
  std::thread(&StatusMonitorWindow::RunSampler, shared_).detach();
}

StatusMonitorWindow::~StatusMonitorWindow() { StopSampling(); }

void StatusMonitorWindow::RunSampler(std::shared_ptr<Shared> shared) {
  Shared& s = *shared;
  std::unique_lock lock(s.m);
  for (;;) {
    s.cv.wait(lock, [&] { return s.stop || s.requested; });
    if (s.stop) break;
    s.requested = false;
    const int address = s.address;
    lock.unlock();
    app::StatusSample sample = app::SampleStatus(*s.link, address, s.rows, *s.clock, &s.cut);
    lock.lock();
    if (s.stop || !s.window) break;
    // Queued while the window lives (it cannot go while this lock is
    // held); a call queued for a window that then goes is dropped.
    StatusMonitorWindow* window = s.window;
    PostToGuiThread(window,
                    [window, sample = std::move(sample)]() mutable { window->AddSample(std::move(sample)); });
  }
  s.done = true;
  s.cv.notify_all();
}

bool StatusMonitorWindow::SampleNow() {
  std::lock_guard lock(shared_->m);
  if (shared_->stop || shared_->busy) return false;
  shared_->address = options_.unitAddress ? options_.unitAddress() : 1;
  shared_->requested = shared_->busy = true;
  shared_->cv.notify_all();
  return true;
}

bool StatusMonitorWindow::Sampling() const {
  std::lock_guard lock(shared_->m);
  return shared_->busy;
}

bool StatusMonitorWindow::Stopped() const {
  std::lock_guard lock(shared_->m);
  return shared_->done;
}

void StatusMonitorWindow::StopSampling() {
  if (timer_) timer_->stop();
  std::unique_lock lock(shared_->m);
  if (shared_->stop) return;
  shared_->stop = true;
  shared_->window = nullptr;
  shared_->cut = true;
  shared_->cv.notify_all();
  // Idle, it ends at once; in an exchange with a silent unit it is left to
  // end by itself, holding what it needs.
  shared_->cv.wait_for(lock, kStopGrace, [&] { return shared_->done; });
}

void StatusMonitorWindow::AddSample(app::StatusSample sample) {
  {
    std::lock_guard lock(shared_->m);
    shared_->busy = false;
  }
  sample.values.resize(options_.rows.size());
  const qreal x = static_cast<qreal>(sample.utcMs);
  for (std::size_t i = 0; i < views_.size(); ++i) {
    RowView& v = *views_[i];
    const app::StatusRow& row = options_.rows[i];
    const auto& value = sample.values[i];
    if (!value) {
      v.open = false;
      v.value->setText(kNoValue);
      v.value->setToolTip(QStringLiteral("The unit gave no value in the last sample"));
      continue;
    }
    if (!v.open) StartSegment(v);
    AppendPoint(v, row.form == app::StatusRow::Form::State, x, value->number);
    QString shown = Q(value->shown);
    if (!row.unit.empty()) shown += QLatin1Char(' ') + Q(row.unit);
    v.value->setText(shown);
    v.value->setToolTip({});
  }
  if (history_.Add(std::move(sample)) > 0) DropOlderThan(history_.Samples().front().utcMs);
  for (std::size_t i = 0; i < views_.size(); ++i)
    if (PointCount(*views_[i]) > kMaxChartPoints) Redraw(i);

  const auto& samples = history_.Samples();
  const qint64 first = samples.front().utcMs, last = samples.back().utcMs;
  for (std::size_t i = 0; i < views_.size(); ++i) {
    views_[i]->x->setRange(QDateTime::fromMSecsSinceEpoch(std::min(first, last - 1000)),
                           QDateTime::fromMSecsSinceEpoch(last));
    UpdateRanges(*views_[i], i);
  }
  const QString at = QDateTime::fromMSecsSinceEpoch(last).toString(QStringLiteral("HH:mm:ss"));
  status_->setText(samples.back().answered
                       ? (samples.size() == 1
                              ? QStringLiteral("1 sample, the last at %1").arg(at)
                              : QStringLiteral("%1 samples, the last at %2").arg(samples.size()).arg(at))
                       : QStringLiteral("No answer from the unit at %1").arg(at));
  emit SampleAdded();
}

void StatusMonitorWindow::StartSegment(RowView& v) {
  auto* series = new QLineSeries;
  series->setPen(v.pen);
  v.chart->addSeries(series);
  series->attachAxis(v.x);
  series->attachAxis(v.y);
  v.segments.push_back(series);
  v.open = true;
}

void StatusMonitorWindow::AppendPoint(RowView& v, bool state, qreal x, qreal y) {
  QLineSeries* series = v.segments.back();
  const int n = series->count();
  if (state && n > 0) {
    const qreal held = series->at(n - 1).y();
    // A level that goes on only moves the end of its step.
    if (held == y && n >= 2 && series->at(n - 2).y() == y) {
      series->replace(n - 1, QPointF(x, y));
      return;
    }
    // A state holds its level until the next sample: a step.
    if (held != y) series->append(x, held);
  }
  series->append(x, y);
}

int StatusMonitorWindow::PointCount(const RowView& v) {
  int n = 0;
  for (const QLineSeries* series : v.segments) n += series->count();
  return n;
}

// Draws a row's line again from the samples with no more points than a
// chart can show: runs of samples become buckets, each drawn by its lowest
// and highest value, so a dip or a spike stays visible. States, drawn by
// their changes only, need no buckets.
void StatusMonitorWindow::Redraw(std::size_t index) {
  RowView& v = *views_[index];
  for (QLineSeries* series : v.segments) {
    v.chart->removeSeries(series);
    delete series;
  }
  v.segments.clear();
  v.open = false;
  const bool state = options_.rows[index].form == app::StatusRow::Form::State;
  const auto& samples = history_.Samples();
  const std::size_t bucket =
      state ? 1 : std::max<std::size_t>(1, (samples.size() + kRedrawBuckets - 1) / kRedrawBuckets);
  auto valueAt = [&](std::size_t k) -> const std::optional<app::StatusValue>& { return samples[k].values[index]; };
  std::size_t k = 0;
  while (k < samples.size()) {
    if (!valueAt(k)) {
      v.open = false;
      ++k;
      continue;
    }
    if (!v.open) StartSegment(v);
    // One bucket: up to `bucket` samples of this piece of line.
    std::size_t low = k, high = k, end = k;
    while (end < samples.size() && end - k < bucket && valueAt(end)) {
      if (valueAt(end)->number < valueAt(low)->number) low = end;
      if (valueAt(end)->number > valueAt(high)->number) high = end;
      ++end;
    }
    for (std::size_t p : {std::min(low, high), std::max(low, high)}) {
      AppendPoint(v, state, static_cast<qreal>(samples[p].utcMs), valueAt(p)->number);
      if (low == high) break;
    }
    k = end;
  }
}

void StatusMonitorWindow::DropOlderThan(std::int64_t utcMs) {
  const qreal first = static_cast<qreal>(utcMs);
  for (auto& v : views_) {
    while (!v->segments.empty()) {
      QLineSeries* series = v->segments.front();
      int n = 0;
      while (n < series->count() && series->at(n).x() < first) ++n;
      if (n > 0) series->removePoints(0, n);
      if (series->count() > 0) break;
      v->chart->removeSeries(series);
      delete series;
      v->segments.erase(v->segments.begin());
      if (v->segments.empty()) v->open = false;
    }
  }
}

void StatusMonitorWindow::UpdateRanges(RowView& v, std::size_t index) {
  if (options_.rows[index].form != app::StatusRow::Form::Number) return;
  bool any = false;
  double low = 0, high = 0;
  for (const auto& s : history_.Samples()) {
    if (index >= s.values.size() || !s.values[index]) continue;
    const double n = s.values[index]->number;
    low = any ? std::min(low, n) : n;
    high = any ? std::max(high, n) : n;
    any = true;
  }
  if (!any) return;
  const double pad = std::max({(high - low) * 0.1, std::fabs(high) * 0.01, 0.05});
  auto* axis = static_cast<QValueAxis*>(v.y);
  axis->setRange(low - pad, high + pad);
  // Enough decimals that the labels of a narrow range differ.
  axis->setLabelFormat(high - low + 2 * pad < 2 ? QStringLiteral("%.2f") : QStringLiteral("%.1f"));
}

void StatusMonitorWindow::ExportCsv() {
  if (!options_.prompter) return;
  const auto path = options_.prompter->ChooseFile({true, params::kSaveFileTitle, kCsvFilter, kCsvSuffix});
  if (!path) return;
  std::string error;
  bool openFailed = false;
  if (app::SaveStatusCsv(*path, history_.Rows(), history_.Samples(), &error, &openFailed)) return;
  options_.prompter->MessageWithReason(
      params::config_text::kError,
      openFailed ? params::config_text::kOpenForWriting : params::config_text::kWriteFailed, error,
      params::MessageIcon::Exclamation);
}

QChartView* StatusMonitorWindow::Chart(int row) const {
  return row >= 0 && row < static_cast<int>(views_.size()) ? views_[static_cast<std::size_t>(row)]->view : nullptr;
}
QLabel* StatusMonitorWindow::NameLabel(int row) const {
  return row >= 0 && row < static_cast<int>(views_.size()) ? views_[static_cast<std::size_t>(row)]->name : nullptr;
}
QLabel* StatusMonitorWindow::ValueLabel(int row) const {
  return row >= 0 && row < static_cast<int>(views_.size()) ? views_[static_cast<std::size_t>(row)]->value
                                                           : nullptr;
}

std::vector<std::vector<QPointF>> StatusMonitorWindow::Segments(int row) const {
  std::vector<std::vector<QPointF>> out;
  if (row < 0 || row >= static_cast<int>(views_.size())) return out;
  for (QLineSeries* series : views_[static_cast<std::size_t>(row)]->segments) {
    const QList<QPointF> points = series->points();
    out.emplace_back(points.begin(), points.end());
  }
  return out;
}

void StatusMonitorWindow::closeEvent(QCloseEvent* event) {
  StopSampling();
  event->accept();
}

StatusMonitorWindow* OpenStatusMonitor(std::shared_ptr<link::CRavlenRemoteControl> link,
                                       const std::string& boardType, const params::ParamTable& main,
                                       std::function<int()> unitAddress, params::Prompter& prompter,
                                       const QIcon& icon) {
  const params::Variant variant = params::VariantOf(boardType);
  StatusMonitorOptions o;
  o.link = std::move(link);
  o.rows = app::StatusRowsFor(variant, app::ModulatorAnswers(variant, main));
  o.unitAddress = std::move(unitAddress);
  o.prompter = &prompter;
  o.icon = icon;
  auto* window = new StatusMonitorWindow(std::move(o));
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

}  // namespace vecta::gui
