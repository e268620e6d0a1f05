// The program's icons, drawn rather than loaded, so they are sharp at every
// screen scale: 128 the application, 129 green lamp, 130 red lamp, 134 grey
// lamp, 131 the key on the button beside "Scrambling", and the toolbar's
// pictures.
#pragma once

#include <QIcon>

namespace vecta::gui {

inline constexpr int kIconApplication = 128;
inline constexpr int kIconKey = 131;
// The toolbar's pictures, by the command they stand for.
inline constexpr int kIconEngineering = 32771;
inline constexpr int kIconEnablePolling = 32773;
inline constexpr int kIconDisablePolling = 32774;
inline constexpr int kIconPollingOptions = 32776;
inline constexpr int kIconRestoreDefaults = 32778;
inline constexpr int kIconStatusMonitor = 32779;

// The icon for a resource id; a null icon for an id the program has not.
QIcon ResourceIcon(int id);

}  // namespace vecta::gui
