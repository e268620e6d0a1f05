// Window geometry given in dialog units, and what a window needs so that
// its title bar shows its whole caption.
//
// A dialog unit scales with the window's font: a horizontal unit is a
// quarter of the font's average character width, a vertical unit an eighth
// of its character height. The average width is the mean advance of the 52
// letters A-Z and a-z, rounded to whole pixels; the height is the font's
// line height.
#pragma once

#include <QSize>

class QFont;
class QWidget;

namespace vecta::gui {

// A font's average character width and character height in pixels.
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
  bool operator==(const DialogBaseUnits&) const = default;
};

DialogBaseUnits BaseUnitsOf(const QFont& font);

// Pixels of a size in dialog units, each rounded to the nearest pixel.
QSize DialogUnitsToPixels(QSize units, DialogBaseUnits base);
QSize DialogUnitsToPixels(QSize units, const QFont& font);

// The width a window's title bar needs for its caption: the caption in the
// bold title font, with room for the window icon and three title buttons.
int TitleBarWidth(const QWidget* window);

// Keeps the window at least as wide as its title bar needs, so the window
// manager does not cut the caption. The window's layout (a box or a grid)
// carries the width, so the layout still keeps the window as large as its
// contents need: call it once the window has its title and its layout.
void FitTitle(QWidget* window);

}  // namespace vecta::gui
