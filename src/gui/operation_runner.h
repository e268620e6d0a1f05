// One operation with the unit at a time, on a thread of its own. While it
// runs the windows keep painting, but the operator's input to the windows
// that talk to the unit (those marked with MarkUnitWindow) is held back:
// clicks, keys and wheel turns never reach them, so no second operation can
// start and no control changes under a refresh. Message boxes, file
// dialogs, the "Please wait" window and the "Connecting" dialog stay usable.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <thread>

class QWidget;

namespace vecta::gui {

// Marks a top-level window (and so all its widgets) as one whose input is
// held back while an operation runs.
void MarkUnitWindow(QWidget* window, bool talksToUnit = true);
bool IsUnitWindow(const QWidget* widget);

class OperationRunner : public QObject {
  Q_OBJECT

 public:
  explicit OperationRunner(QObject* parent = nullptr);
  ~OperationRunner() override;

  // Starts `work` on the operation thread. `done` runs afterwards on the
  // window thread (not when the runner was abandoned). False, running
  // nothing, while another operation runs.
  bool Start(std::function<void()> work, std::function<void()> done = {});
  bool Running() const { return running_; }

  // Waits up to `ms` for the running operation, handling window events
  // meanwhile (the operation may be waiting for the window thread). True
  // when none runs any more.
  bool Wait(int ms);

  // For closing: the operation's thread is left to end on its own; its
  // `done` is dropped. Whatever it shares must be kept alive by the work
  // itself.
  void Abandon();

  // Whether input events to unit windows are held back now (for tests).
  bool HoldingInput() const { return running_; }

 signals:
  void runningChanged(bool running);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Finished(std::uint64_t generation);

  bool running_ = false;
  std::uint64_t generation_ = 0;
  std::thread thread_;
  std::shared_ptr<std::atomic<bool>> finished_;
  std::function<void()> done_;
};

}  // namespace vecta::gui
