#include "gui/operation_runner.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QWidget>
#include <atomic>

#include "gui/cross_thread.h"

namespace vecta::gui {
namespace {

constexpr char kUnitWindowProperty[] = "vectaUnitWindow";

bool IsOperatorInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::InputMethod:
      return true;
    default:
      return false;
  }
}

}  // namespace

void MarkUnitWindow(QWidget* window, bool talksToUnit) { window->setProperty(kUnitWindowProperty, talksToUnit); }

bool IsUnitWindow(const QWidget* widget) {
  const QWidget* w = widget ? widget->window() : nullptr;
  return w && w->property(kUnitWindowProperty).toBool();
}

OperationRunner::OperationRunner(QObject* parent) : QObject(parent) {}

OperationRunner::~OperationRunner() {
  if (running_) qApp->removeEventFilter(this);
  if (thread_.joinable()) {
    // Destroyed while an operation runs only when it was abandoned or the
    // program ends: never wait for a unit here.
    thread_.detach();
  }
}

bool OperationRunner::Start(std::function<void()> work, std::function<void()> done) {
  if (running_) return false;
  if (thread_.joinable()) thread_.join();  // ended: only its Finished call was pending
  running_ = true;
  done_ = std::move(done);
  const std::uint64_t generation = ++generation_;
  finished_ = std::make_shared<std::atomic<bool>>(false);
  qApp->installEventFilter(this);
  emit runningChanged(true);

  QPointer<OperationRunner> self(this);
  auto finished = finished_;
  thread_ = std::thread([self, finished, generation, work = std::move(work)] {
    work();
    finished->store(true);
    // Back on the window thread: the runner may be gone or abandoned by then.
    QMetaObject::invokeMethod(
        qApp,
        [self, generation] {
          if (self) self->Finished(generation);
        },
        Qt::QueuedConnection);
  });
  return true;
}

void OperationRunner::Finished(std::uint64_t generation) {
  if (generation != generation_ || !running_) return;
  if (thread_.joinable()) thread_.join();
  running_ = false;
  qApp->removeEventFilter(this);
  auto done = std::move(done_);
  done_ = nullptr;
  emit runningChanged(false);
  if (done) done();
}

bool OperationRunner::Wait(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (running_) {
    if (finished_ && finished_->load()) {
      Finished(generation_);
      break;
    }
    if (timer.elapsed() >= ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!(finished_ && finished_->load())) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void OperationRunner::Abandon() {
  ++generation_;  // its Finished call is ignored
  if (running_) {
    running_ = false;
    qApp->removeEventFilter(this);
  }
  done_ = nullptr;
  if (thread_.joinable()) {
    if (finished_ && finished_->load())
      thread_.join();
    else
      thread_.detach();
  }
}

bool OperationRunner::eventFilter(QObject* watched, QEvent* event) {
  if (running_ && IsOperatorInput(event->type())) {
    // Shortcuts and actions are delivered to objects owned by a widget.
    QObject* owner = watched->isWidgetType() ? watched : watched->parent();
    if (owner && owner->isWidgetType() && IsUnitWindow(static_cast<QWidget*>(owner)))
      return true;  // held back until the operation ends
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace vecta::gui
