// The main window's commands by name: the ids of its menu items and toolbar
// buttons, by which the window keeps their actions (MainWindow::Action), the
// toolbar's pictures are drawn (icons.h) and the tests press them.
#pragma once

namespace vecta::gui::commands {

// "&File"
inline constexpr int kOpenConfigFile = 32805;  // Ctrl+O, the editor without a unit
inline constexpr int kSetIconSource = 32800;
inline constexpr int kSetLogoSource = 32803;
inline constexpr int kSetLogoSize = 32804;
inline constexpr int kSetApplicationTitle = 32802;
inline constexpr int kExit = 32801;

// "&Options", and the toolbar
inline constexpr int kEngineering = 32771;      // Ctrl+E
inline constexpr int kTogglePolling = 32772;    // Ctrl+P, the menu item
inline constexpr int kEnablePolling = 32773;    // toolbar, shown while polling is off
inline constexpr int kDisablePolling = 32774;   // toolbar, shown while polling is on
inline constexpr int kPollingOptions = 32776;   // Ctrl+L
inline constexpr int kWriteKey = 32775;         // Ctrl+K
inline constexpr int kRestoreDefaults = 32778;  // Ctrl+D
inline constexpr int kStatusMonitor = 32779;

// "&Help": the About box (a command of the system menu on other platforms).
inline constexpr int kAbout = 16;

}  // namespace vecta::gui::commands
