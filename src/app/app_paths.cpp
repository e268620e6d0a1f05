#include "app/app_paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/last_address.h"
#include "app/last_network_port.h"
#include "app/settings.h"

namespace vecta::app {
namespace fs = std::filesystem;
namespace {

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string FolderOfExecutable(const std::string& exe) {
  const auto slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return exe.substr(0, slash);
}

// An XDG base folder: the variable when it holds an absolute path (relative
// values are to be ignored), else the fallback under the home folder.
std::optional<std::string> BaseFolder(const Env& env, const char* variable, const char* underHome) {
  if (auto v = env.get(variable); v && !v->empty() && v->front() == '/') return *v;
  auto home = env.get("HOME");
  if (!home || home->empty()) return std::nullopt;
  return Join(*home, underHome);
}

// Creates `dir` and its parents when missing; false (with `error` set) when
// it cannot be created or exists as something other than a folder.
bool EnsureFolder(const std::string& dir, std::string& error) {
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return true;
  fs::create_directories(dir, ec);
  std::error_code check;
  if (fs::is_directory(dir, check)) return true;
  if (error.empty()) error = "cannot create the folder " + dir + (ec ? ": " + ec.message() : "");
  return false;
}

}  // namespace

Env SystemEnv() {
  Env env;
  env.get = [](const std::string& name) -> std::optional<std::string> {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in the program changes its environment.
    if (const char* v = std::getenv(name.c_str())) return std::string(v);
    if (name == "HOME") {
      std::vector<char> buf(16384);
      struct passwd pw;
      struct passwd* found = nullptr;
      if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
          *found->pw_dir)
        return std::string(found->pw_dir);
    }
    return std::nullopt;
  };
  env.isWritableDir = [](const std::string& dir) {
    struct stat st;
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir.c_str(), W_OK | X_OK) == 0;
  };
  return env;
}

// An installed program lives in a system folder, or under the user's home
// in one of the folders its programs are installed into (~/.local/bin, the
// prefix `cmake --install --prefix ~/.local` uses, and ~/bin); even when that
// folder is writable its settings belong in the user's folders, not beside it.
static bool InstalledFolder(const std::string& folder, const Env& env) {
  for (const char* prefix : {"/usr/", "/bin", "/sbin", "/opt/", "/lib"})
    if (folder.rfind(prefix, 0) == 0) return true;
  if (folder == "/usr" || folder == "/opt") return true;
  const auto home = env.get("HOME");
  if (!home || home->empty() || home->front() != '/') return false;
  const std::string local = Join(*home, ".local");
  return folder == local || folder.rfind(local + "/", 0) == 0 || folder == Join(*home, "bin");
}

AppPaths ResolveAppPaths(const std::string& executablePath, const std::optional<std::string>& configDir,
                         const Env& env) {
  const std::string base = kSettingsBaseName;
  AppPaths p;
  if (configDir) {
    if (configDir->empty()) {
      p.error = "the --config-dir folder name is empty";
      return p;
    }
    p.configDir = p.logDir = *configDir;
  } else if (!executablePath.empty() && !InstalledFolder(FolderOfExecutable(executablePath), env) &&
             env.isWritableDir(FolderOfExecutable(executablePath))) {
    p.configDir = p.logDir = FolderOfExecutable(executablePath);
  } else {
    const auto config = BaseFolder(env, "XDG_CONFIG_HOME", ".config");
    const auto state = BaseFolder(env, "XDG_STATE_HOME", ".local/state");
    if (!config || !state) {
      p.error = "no home folder: HOME is not set";
      if (config) p.configDir = Join(*config, kAppFolderName);
      if (state) p.logDir = Join(*state, kAppFolderName);
    } else {
      p.configDir = Join(*config, kAppFolderName);
      p.logDir = Join(*state, kAppFolderName);
    }
  }

  if (!p.configDir.empty()) {
    EnsureFolder(p.configDir, p.error);
    p.settingsFile = Join(p.configDir, base + ".ini");
    p.lastAddressFile = Join(p.configDir, kLastAddressFileName);
    p.lastNetworkPortFile = Join(p.configDir, kLastNetworkPortFileName);
  }
  if (!p.logDir.empty()) {
    if (p.logDir != p.configDir) EnsureFolder(p.logDir, p.error);
    p.logFile = Join(p.logDir, base + ".log");
  }
  return p;
}

std::string RunningExecutablePath() {
  // No fixed limit on the path: the buffer grows until the link fits.
  std::vector<char> buf(256);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), n);
    if (buf.size() >= (1u << 16)) return {};
    buf.resize(buf.size() * 2);
  }
}

}  // namespace vecta::app
