// Where the settings file and the communication log live.
//
// Portable use: both lie beside the executable when its folder is writable
// and is no folder programs are installed into (system folders, ~/.local/...,
// ~/bin).
// Otherwise the settings file goes to the user's configuration folder
// ($XDG_CONFIG_HOME, else ~/.config, subfolder "vecta_tx_ctrl") and the log
// to the user's state folder ($XDG_STATE_HOME, else ~/.local/state, same
// subfolder). A --config-dir DIR puts both into DIR. The files are named
// after the base name "vecta_tx_ctrl_v2.7.3" with ".ini" and ".log".
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vecta::app {

inline constexpr const char* kAppFolderName = "vecta_tx_ctrl";

// The outside world path resolution looks at, replaceable in tests.
struct Env {
  // The value of an environment variable; nullopt when unset.
  std::function<std::optional<std::string>(const std::string& name)> get;
  // Whether files can be created in this existing folder.
  std::function<bool(const std::string& dir)> isWritableDir;
};

// The process environment; HOME falls back to the password database entry.
Env SystemEnv();

struct AppPaths {
  std::string settingsFile, logFile;
  // The last IP address reached (last_address.h) and the last network serial
  // port (last_network_port.h), beside the settings file.
  std::string lastAddressFile;
  std::string lastNetworkPortFile;
  std::string configDir;  // folder of the settings file
  std::string logDir;     // folder of the log (the same folder unless XDG is used)
  // Empty when both folders exist (or were created). Otherwise what went
  // wrong; the file paths are still filled when they could be worked out, so
  // loading gives the defaults and saving reports its own failure.
  std::string error;
};

// Works out both paths and creates the chosen folders when missing.
// `executablePath` is the running program's full path (may be empty when
// unknown, which rules out portable use); `configDir` is the --config-dir
// argument when one was given.
AppPaths ResolveAppPaths(const std::string& executablePath, const std::optional<std::string>& configDir,
                         const Env& env);

// The running executable's full path from /proc/self/exe; empty when it
// cannot be read.
std::string RunningExecutablePath();

}  // namespace vecta::app
