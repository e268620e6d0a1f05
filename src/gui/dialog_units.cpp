#include "gui/dialog_units.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFont>
#include <QFontMetrics>
#include <QGridLayout>
#include <QSpacerItem>
#include <QWidget>
#include <algorithm>

namespace vecta::gui {
namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDivRounded(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

// The icon and three buttons of a title bar are each about one and a half
// lines high and as wide; with the bar's paddings that is six lines.
constexpr int kTitleBarExtraLines = 6;

}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(letters / 26 + 1) / 2, metrics.height()};
}

QSize DialogUnitsToPixels(QSize units, DialogBaseUnits base) {
  return {MulDivRounded(units.width(), base.x, 4), MulDivRounded(units.height(), base.y, 8)};
}

QSize DialogUnitsToPixels(QSize units, const QFont& font) { return DialogUnitsToPixels(units, BaseUnitsOf(font)); }

int TitleBarWidth(const QWidget* window) {
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  const QFontMetrics metrics(font);
  return metrics.horizontalAdvance(window->windowTitle()) + kTitleBarExtraLines * metrics.height();
}

void FitTitle(QWidget* window) {
  QLayout* layout = window->layout();
  if (!layout) return;
  const QMargins margins = layout->contentsMargins();
  const int width = std::max(0, TitleBarWidth(window) - margins.left() - margins.right());
  // A minimum width set on the window itself would stop its layout from
  // keeping it as wide as the contents; an item of the layout does not.
  if (auto* box = qobject_cast<QBoxLayout*>(layout);
      box && (box->direction() == QBoxLayout::TopToBottom || box->direction() == QBoxLayout::BottomToTop)) {
    box->addStrut(width);
  } else if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Fixed), 0, 0, 1, -1);
  } else {
    layout->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Fixed));
  }
}

}  // namespace vecta::gui
