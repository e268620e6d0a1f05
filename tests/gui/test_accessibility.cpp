// What screen readers and UI automation see, through QAccessible: in every
// window, on every tab page, each control Tab reaches has a name, its
// caption's text where it has a caption; buttons that show only an icon
// have a tooltip too; and Tab moves through the controls of a container in
// reading order, never back up a row nor back left within one.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include "gui/config_review_window.h"
#include "gui/connect_dialog.h"
#include "gui/main_window.h"
#include "gui/qt_control_host.h"
#include "modal_driver.h"
#include "params/config_review.h"
#include "params/control_ids.h"
#include "support_pages.h"

namespace {

using vecta::test::pages_rig::PagesRig;
namespace ids = vecta::params::ids;
namespace commands = vecta::gui::commands;

std::string S(const QString& s) { return s.toStdString(); }

bool PartOfAControl(QWidget* w, QWidget* window) {
  for (QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
    if (qobject_cast<QComboBox*>(p) || qobject_cast<QAbstractSpinBox*>(p) || qobject_cast<QAbstractItemView*>(p) ||
        qobject_cast<QTabBar*>(p))
      return true;
  return false;
}

// The controls Tab reaches in `window` as it shows now, in tab order.
std::vector<QWidget*> TabStops(QWidget* window) {
  std::vector<QWidget*> stops;
  for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain())
    if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() && w->isVisibleTo(window) &&
        !PartOfAControl(w, window))
      stops.push_back(w);
  return stops;
}

QString Caption(QWidget* control) {
  if (auto* label = qobject_cast<QLabel*>(vecta::gui::CaptionOf(control))) return label->text().remove('&');
  for (QLabel* label : control->window()->findChildren<QLabel*>())
    if (label->buddy() == control) return label->text().remove('&');
  return {};
}

// `b` comes before `a` in reading order: a row above, or left in its row.
bool ReadBefore(const QWidget* b, const QWidget* a) {
  const QRect ra = a->geometry(), rb = b->geometry();
  const bool sameRow = (rb.center().y() >= ra.top() && rb.center().y() <= ra.bottom()) ||
                       (ra.center().y() >= rb.top() && ra.center().y() <= rb.bottom());
  return sameRow ? rb.right() < ra.left() : rb.bottom() < ra.top();
}

void ExpectShownAccessible(QWidget* window, const std::string& where) {
  const std::vector<QWidget*> stops = TabStops(window);
  for (std::size_t i = 0; i < stops.size(); ++i) {
    QWidget* w = stops[i];
    const std::string what = where + ": " + w->metaObject()->className() + " " + S(w->objectName());
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(iface, nullptr) << what;
    const QString name = iface->text(QAccessible::Name);
    EXPECT_FALSE(name.isEmpty()) << what << " has no name";
    if (const QString caption = Caption(w); !caption.isEmpty()) {
      EXPECT_EQ(S(name), S(caption)) << what;
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->text().isEmpty()) {
      EXPECT_FALSE(b->toolTip().isEmpty()) << what << " shows an icon without a tooltip";
    }
    if (i > 0 && stops[i - 1]->parentWidget() == w->parentWidget()) {
      const QString before = QAccessible::queryAccessibleInterface(stops[i - 1])->text(QAccessible::Name);
      EXPECT_FALSE(ReadBefore(w, stops[i - 1])) << what << " (" << S(name) << ") comes after " << S(before);
    }
  }
}

// Every page of every tab widget, nested ones within their pages.
void ExpectAccessible(QWidget* window, const std::string& where) {
  PagesRig::Pump();
  ExpectShownAccessible(window, where);
  for (QTabWidget* tabs : window->findChildren<QTabWidget*>()) {
    for (QWidget* p = tabs->parentWidget(); p && p != window; p = p->parentWidget())
      if (auto* outer = qobject_cast<QTabWidget*>(p))
        for (int k = 0; k < outer->count(); ++k)
          if (outer->widget(k)->isAncestorOf(tabs)) outer->setCurrentIndex(k);
    for (int i = 0; i < tabs->count(); ++i) {
      tabs->setCurrentIndex(i);
      PagesRig::Pump();
      ExpectShownAccessible(window, where + " / " + S(tabs->tabText(i)));
    }
  }
}

// A modal dialog the command opens, checked and closed.
void ExpectDialogAccessible(vecta::gui::MainWindow& w, int command, const std::string& name) {
  ModalDriver driver([&](QWidget* dialog) {
    ExpectAccessible(dialog, name);
    dialog->close();
  });
  w.Action(command)->trigger();
  EXPECT_TRUE(driver.Ran()) << name;
}

TEST(Accessibility, EveryWindowNamesItsControlsAndTabsInReadingOrder) {
  PagesRig rig;
  ASSERT_TRUE(rig.Start({"K240", true, {"aenc=0", "oout=1"}}));
  vecta::gui::MainWindow& w = rig.Window();
  EXPECT_EQ(S(w.RfOutputButton()->accessibleName()), "RF output on: click to switch it off");
  EXPECT_EQ(S(w.Page()->Host().Find(ids::kWriteKey)->accessibleName()), "Write encryption key");
  ExpectAccessible(&w, "main window");

  w.OnPageButton(ids::kAdvanced);
  w.OnPageButton(ids::kSatmod);
  ASSERT_TRUE(rig.Idle());
  ASSERT_TRUE(w.Advanced() && w.Satmod());
  ExpectAccessible(w.Advanced(), "Advanced options");
  ExpectAccessible(w.Satmod(), "Satellite modulator");
  w.Action(commands::kEngineering)->trigger();  // Engineering, which reads the unit as it opens
  ASSERT_TRUE(rig.Idle());
  w.Action(commands::kStatusMonitor)->trigger();  // Status monitor
  ASSERT_TRUE(w.Engineering() && w.StatusMonitor());
  ExpectAccessible(w.Engineering(), "Engineering options");
  ExpectAccessible(w.StatusMonitor(), "Status monitor");

  ExpectDialogAccessible(w, commands::kPollingOptions, "Polling options");
  ExpectDialogAccessible(w, commands::kWriteKey, "Write encryption key");
  ExpectDialogAccessible(w, commands::kSetLogoSize, "Set logo dimensions");
  ExpectDialogAccessible(w, commands::kSetApplicationTitle, "Enter value");
  vecta::params::ConfigReview review;
  review.set = true;
  review.configs.resize(2);
  review.configs[0].differing.push_back({"owid", "Modulation bandwidth", "8MHz", "6MHz"});
  vecta::gui::ConfigReviewWindow reviewWindow(review, &w);
  reviewWindow.show();
  ExpectAccessible(&reviewWindow, "review");
  vecta::gui::ConnectDialog connecting(&w);
  connecting.show();
  ExpectAccessible(&connecting, "Connecting");
}

}  // namespace
