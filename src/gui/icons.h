// The program's icons, drawn rather than loaded, so they are sharp at every
// screen scale: 128 the application, 129 green lamp, 130 red lamp, 134 grey
// lamp, 131 the key on the button beside "Scrambling".
#pragma once

#include <QIcon>

namespace vecta::gui {

inline constexpr int kIconApplication = 128;
inline constexpr int kIconKey = 131;

// The icon for a resource id; a null icon for an id the program has not.
QIcon ResourceIcon(int id);

}  // namespace vecta::gui
