// The windows that show the unit's settings: the main settings page inside
// the main window, the "Advanced options" window with its five tabbed pages,
// and the "Satellite modulator" window. They are built from the page layout
// tables and hold no values: refresh and apply reach their controls through
// their control hosts. What their buttons do is up to the main window,
// which hears of every press through ButtonPressed.
#pragma once

#include <QStringListModel>
#include <QWidget>
#include <functional>
#include <memory>

#include "gui/qt_control_host.h"
#include "pages/layouts.h"
#include "params/control_ids.h"
#include "params/unit_context.h"

class QLabel;
class QTabWidget;

namespace vecta::gui {

namespace ids = params::ids;

// The main settings page: a borderless child of the main window.
class MainSettingsPage : public QWidget {
  Q_OBJECT

 public:
  MainSettingsPage(params::UnitContext& unit, QWidget* parent);

  QtControlHost& Host() { return host_; }
  // The layout of the page for a board type: when the window is built and
  // after every board type read of a full refresh.
  void LayOutForStart(pages::Variant variant);
  void LayOutForBoard(pages::Variant variant);
  // The Advanced options window's host while it is open, so a video input
  // change refits its resolution sizes.
  void SetAdvancedHost(std::function<params::ControlHost*()> advanced) { advanced_ = std::move(advanced); }
  // "N unapplied changes" beside Apply and Refresh; hidden while there are none.
  QLabel* UnappliedLabel() const { return unapplied_; }

 signals:
  void ButtonPressed(int id);
  // The operator picked a list entry, typed in an edit or clicked a check
  // box (after the page rules have run).
  void OperatorChanged();

 protected:
  // The first time the page shows, it reserves the room of every board.
  void showEvent(QShowEvent* event) override;

 private:
  void ShowRowsFor(pages::Variant variant);
  void ReserveRoomForEveryBoard();

  params::UnitContext& unit_;
  QtControlHost host_;
  std::function<params::ControlHost*()> advanced_;
  QLabel* unapplied_ = nullptr;
  bool roomReserved_ = false;
};

// The "Advanced options" window: a top-level window of its own, laid out for
// the variant it was opened on; deletes itself when closed.
class AdvancedOptionsWindow : public QWidget {
  Q_OBJECT

 public:
  AdvancedOptionsWindow(params::UnitContext& unit, const QIcon& icon);

  QtControlHost& Host() { return host_; }
  QTabWidget* Tabs() const { return tabs_; }
  // The page of tab `index` (0 "Unit information" .. 4 "Unit parameters").
  QWidget* Page(int index) const;
  params::ControlHost& PageHost(int index) { return *pageHosts_.at(static_cast<std::size_t>(index)); }
  static constexpr int kPageCount = 5;
  QLabel* UnappliedLabel() const { return unapplied_; }
  // Asked before the window closes; false keeps it open.
  void SetCloseGuard(std::function<bool()> guard) { closeGuard_ = std::move(guard); }

 signals:
  void ButtonPressed(int id);  // ids::kWindowApply (also Enter), ids::kWindowRefresh
  void OperatorChanged();      // as on the main settings page

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  params::UnitContext& unit_;
  QLabel* unapplied_ = nullptr;
  std::function<bool()> closeGuard_;
  QTabWidget* tabs_ = nullptr;
  QStringListModel* pidModel_ = nullptr;
  std::vector<QWidget*> pages_;
  std::vector<std::unique_ptr<QtControlHost>> pageHosts_;
  QtControlHost host_;
};

// The "Satellite modulator" window; deletes itself when closed. Enter does
// nothing here.
class SatmodWindow : public QWidget {
  Q_OBJECT

 public:
  explicit SatmodWindow(const QIcon& icon);
  QtControlHost& Host() { return host_; }
  QLabel* UnappliedLabel() const { return unapplied_; }
  // Asked before the window closes; false keeps it open.
  void SetCloseGuard(std::function<bool()> guard) { closeGuard_ = std::move(guard); }

 signals:
  void ButtonPressed(int id);  // ids::kWindowApply, ids::kWindowRefresh
  void OperatorChanged();      // a list entry picked, an edit typed in, a box clicked

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QtControlHost host_;
  QLabel* unapplied_ = nullptr;
  std::function<bool()> closeGuard_;
};

}  // namespace vecta::gui
