#include "gui/dialog_units.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
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
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
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

void FitTitle(QWidget* window) { window->setMinimumWidth(std::max(window->minimumWidth(), TitleBarWidth(window))); }

}  // namespace vecta::gui
