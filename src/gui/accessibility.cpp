#include "gui/accessibility.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QChildEvent>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "gui/qt_control_host.h"

namespace vecta::gui {
namespace {

QString WithoutAmpersands(QString text) {
  text.remove(QLatin1Char('&'));
  return text;
}

// A drop-down list as screen readers see it: named by its caption, its
// entry as its value, its popup list as its child, opened by "press".
class ListAccessible final : public QAccessibleWidget {
 public:
  explicit ListAccessible(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) {
      const QString caption = CaptionName(widget());
      if (!caption.isEmpty()) return caption;
    }
    if (t == QAccessible::Name || t == QAccessible::Value)
      return List()->isEditable() ? List()->lineEdit()->text() : List()->currentText();
    return QAccessibleWidget::text(t);
  }
  int childCount() const override { return List()->isEditable() ? 2 : 1; }
  QAccessibleInterface* child(int index) const override {
    if (index == 0) return QAccessible::queryAccessibleInterface(List()->view());
    if (index == 1 && List()->isEditable()) return QAccessible::queryAccessibleInterface(List()->lineEdit());
    return nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (child && child->object() == List()->view()) return 0;
    if (child && List()->isEditable() && child->object() == List()->lineEdit()) return 1;
    return -1;
  }
  QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
  void doAction(const QString& action) override {
    if (action == showMenuAction() || action == pressAction()) List()->showPopup();
  }

 private:
  QComboBox* List() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* ListFactory(const QString& className, QObject* object) {
  if (className != QLatin1String("QComboBox") || !object || !object->isWidgetType()) return nullptr;
  return new ListAccessible(static_cast<QComboBox*>(object));
}

// ------------------------------------------------------------ tab order

// Controls Tab stops at; the parts of a list or a spin box are not.
bool IsStop(const QWidget* w) { return (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() && !w->isWindow(); }
bool IsWhole(const QWidget* w) {
  return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
         qobject_cast<const QAbstractItemView*>(w) || qobject_cast<const QTabBar*>(w);
}
bool Shown(const QWidget* w) { return !w->isHidden(); }

// The shown children of `container` in reading order: rows from top to
// bottom (a child belongs to the row of the first one above it whose lower
// edge lies below its middle), left to right within a row.
std::vector<QWidget*> ReadingOrder(const std::vector<QWidget*>& shown) {
  std::vector<QWidget*> byTop = shown;
  std::stable_sort(byTop.begin(), byTop.end(),
                   [](const QWidget* a, const QWidget* b) { return a->geometry().top() < b->geometry().top(); });
  std::vector<std::vector<QWidget*>> rows;
  for (QWidget* w : byTop) {
    if (rows.empty() || w->geometry().center().y() > rows.back().front()->geometry().bottom()) rows.emplace_back();
    rows.back().push_back(w);
  }
  std::vector<QWidget*> out;
  for (auto& row : rows) {
    std::stable_sort(row.begin(), row.end(), [](const QWidget* a, const QWidget* b) {
      return a->geometry().left() < b->geometry().left();
    });
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

// The children of `container` in tab order: the shown ones in reading
// order, each hidden one after the child made before it.
std::vector<QWidget*> ChildOrder(QWidget* container) {
  const QList<QWidget*> children = container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  std::vector<QWidget*> shown;
  for (QWidget* w : children)
    if (!w->isWindow() && Shown(w)) shown.push_back(w);
  std::vector<QWidget*> out = ReadingOrder(shown);
  QWidget* before = nullptr;
  for (QWidget* w : children) {
    if (w->isWindow()) continue;
    if (!Shown(w)) {
      auto at = before ? std::find(out.begin(), out.end(), before) : out.end();
      out.insert(at == out.end() ? out.end() : at + 1, w);
    }
    before = w;
  }
  return out;
}

void CollectStops(QWidget* container, std::vector<QWidget*>& stops) {
  for (QWidget* w : ChildOrder(container)) {
    if (IsStop(w)) stops.push_back(w);
    if (!IsWhole(w)) CollectStops(w, stops);
  }
}

constexpr char kKeeperName[] = "tabOrderKeeper";

// Orders the window's tab chain again, once the events at hand are
// handled, whenever a control of the window shows, hides or moves (the
// window shows, a tab page turns, a layout changes) or a widget joins it.
class TabOrderKeeper final : public QObject {
 public:
  explicit TabOrderKeeper(QWidget* window) : QObject(window), window_(window) { Watch(window); }
  void Soon() {
    if (pending_) return;
    pending_ = true;
    QTimer::singleShot(0, this, [this] {
      pending_ = false;
      if (window_) OrderTabs(window_);
    });
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::ChildAdded:
      case QEvent::ChildPolished:
        if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child());
            child && !child->isWindow())
          Watch(child);
        Soon();
        break;
      case QEvent::Show:
      case QEvent::Hide:
      case QEvent::Move:
        Soon();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  void Watch(QWidget* widget) {
    widget->removeEventFilter(this);  // once each
    widget->installEventFilter(this);
    for (QWidget* w : widget->findChildren<QWidget*>())
      if (!w->isWindow()) {
        w->removeEventFilter(this);
        w->installEventFilter(this);
      }
  }

  QPointer<QWidget> window_;
  bool pending_ = false;
};

}  // namespace

QString CaptionName(const QWidget* control) {
  if (!control) return {};
  if (!control->accessibleName().isEmpty()) return control->accessibleName();
  const QLabel* caption = qobject_cast<const QLabel*>(CaptionOf(control));
  if (!caption && control->parentWidget())
    for (const QLabel* label : control->parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
      if (label->buddy() == control) caption = label;
  return caption ? WithoutAmpersands(caption->text()) : QString();
}

void SetCaption(QLabel* label, QWidget* control) {
  label->setBuddy(control);
  SetCaptionOf(control, label);
}

void NameIconButton(QAbstractButton* button, const QString& name) {
  button->setAccessibleName(name);
  button->setToolTip(name);
}

void OrderTabs(QWidget* window) {
  std::vector<QWidget*> stops;
  CollectStops(window, stops);
  for (std::size_t i = 1; i < stops.size(); ++i) QWidget::setTabOrder(stops[i - 1], stops[i]);
}

void MakeAccessible(QWidget* window) {
  static const bool installed = [] {
    QAccessible::installFactory(ListFactory);
    return true;
  }();
  (void)installed;
  // Interfaces made while the window was built (a screen reader asks as
  // soon as a widget appears) are the platform's own: they give way.
  for (QComboBox* list : window->findChildren<QComboBox*>()) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list);
    if (iface && !dynamic_cast<ListAccessible*>(iface))
      QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(iface));
  }
  if (window->findChild<QObject*>(QString::fromLatin1(kKeeperName), Qt::FindDirectChildrenOnly)) return;
  auto* keeper = new TabOrderKeeper(window);
  keeper->setObjectName(QString::fromLatin1(kKeeperName));
  if (window->isVisible()) keeper->Soon();
}

}  // namespace vecta::gui
