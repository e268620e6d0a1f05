// The program's icons, drawn rather than loaded, so they are sharp at every
// screen scale: 128 the application, 129 green lamp, 130 red lamp, 134 grey
// lamp, 131 the key on the button beside "Scrambling", and the toolbar's
// pictures.
#pragma once

#include <QIcon>

#include "gui/command_ids.h"

namespace vecta::gui {

inline constexpr int kIconApplication = 128;
inline constexpr int kIconKey = 131;
// The toolbar's pictures, with the ids of the commands they stand for.
inline constexpr int kIconEngineering = commands::kEngineering;
inline constexpr int kIconEnablePolling = commands::kEnablePolling;
inline constexpr int kIconDisablePolling = commands::kDisablePolling;
inline constexpr int kIconPollingOptions = commands::kPollingOptions;
inline constexpr int kIconRestoreDefaults = commands::kRestoreDefaults;
inline constexpr int kIconStatusMonitor = commands::kStatusMonitor;

// The icon for a resource id; a null icon for an id the program has not.
QIcon ResourceIcon(int id);

}  // namespace vecta::gui
