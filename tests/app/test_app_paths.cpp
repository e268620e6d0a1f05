// Where the settings file and the log go: beside a writable executable, in
// the XDG folders otherwise, or wherever --config-dir says. Every case runs
// inside a temporary folder standing in for the home folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "app/app_paths.h"
#include "app/settings.h"
#include "support/fake_link.h"

using namespace vecta::app;
using vecta::test::TempDir;
namespace fs = std::filesystem;

namespace {

struct FakeEnv {
  std::map<std::string, std::string> vars;
  std::set<std::string> writable;

  Env Get() const {
    Env env;
    env.get = [this](const std::string& name) -> std::optional<std::string> {
      const auto it = vars.find(name);
      if (it == vars.end()) return std::nullopt;
      return it->second;
    };
    env.isWritableDir = [this](const std::string& dir) { return writable.count(dir) != 0; };
    return env;
  }
};

struct PathsTest : ::testing::Test {
  TempDir tmp;
  std::string home = tmp.File("home");
  std::string bin = tmp.File("bin");
  std::string exe = bin + "/vecta_tx_ctrl";
  FakeEnv fake;

  void SetUp() override {
    fs::create_directory(home);
    fs::create_directory(bin);
    fake.vars["HOME"] = home;
  }
};

}  // namespace

TEST_F(PathsTest, WritableExecutableFolderHoldsBothFiles) {
  fake.writable.insert(bin);
  const AppPaths p = ResolveAppPaths(exe, std::nullopt, fake.Get());
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.settingsFile, bin + "/vecta_tx_ctrl_v2.7.3.ini");
  EXPECT_EQ(p.lastAddressFile, bin + "/vecta_tx_ctrl.last-ip");
  EXPECT_EQ(p.logFile, bin + "/vecta_tx_ctrl_v2.7.3.log");
  EXPECT_EQ(p.configDir, bin);
  EXPECT_EQ(p.logDir, bin);
  EXPECT_TRUE(fs::is_empty(home));  // nothing created in the home folder
}

TEST_F(PathsTest, ReadOnlyExecutableFolderUsesHomeFoldersAndCreatesThem) {
  const AppPaths p = ResolveAppPaths(exe, std::nullopt, fake.Get());
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.settingsFile, home + "/.config/vecta_tx_ctrl/vecta_tx_ctrl_v2.7.3.ini");
  EXPECT_EQ(p.lastAddressFile, home + "/.config/vecta_tx_ctrl/vecta_tx_ctrl.last-ip");
  EXPECT_EQ(p.lastNetworkPortFile, home + "/.config/vecta_tx_ctrl/vecta_tx_ctrl.last-network-port");
  EXPECT_EQ(p.logFile, home + "/.local/state/vecta_tx_ctrl/vecta_tx_ctrl_v2.7.3.log");
  EXPECT_EQ(p.configDir, home + "/.config/vecta_tx_ctrl");
  EXPECT_EQ(p.logDir, home + "/.local/state/vecta_tx_ctrl");
  EXPECT_TRUE(fs::is_directory(p.configDir));
  EXPECT_TRUE(fs::is_directory(p.logDir));
  EXPECT_TRUE(fs::is_empty(bin));

  // A second start finds the folders there.
  const AppPaths again = ResolveAppPaths(exe, std::nullopt, fake.Get());
  EXPECT_EQ(again.error, "");
  EXPECT_EQ(again.settingsFile, p.settingsFile);
}

TEST_F(PathsTest, UnknownExecutableAlsoUsesHomeFolders) {
  fake.writable.insert(".");
  const AppPaths p = ResolveAppPaths("", std::nullopt, fake.Get());
  EXPECT_EQ(p.settingsFile, home + "/.config/vecta_tx_ctrl/vecta_tx_ctrl_v2.7.3.ini");
}

TEST_F(PathsTest, XdgVariablesWhenAbsoluteIgnoredWhenRelative) {
  fake.vars["XDG_CONFIG_HOME"] = tmp.File("cfg");
  fake.vars["XDG_STATE_HOME"] = tmp.File("state/");
  AppPaths p = ResolveAppPaths(exe, std::nullopt, fake.Get());
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.settingsFile, tmp.File("cfg") + "/vecta_tx_ctrl/vecta_tx_ctrl_v2.7.3.ini");
  EXPECT_EQ(p.logFile, tmp.File("state") + "/vecta_tx_ctrl/vecta_tx_ctrl_v2.7.3.log");
  EXPECT_TRUE(fs::is_directory(tmp.File("state/vecta_tx_ctrl")));

  fake.vars["XDG_CONFIG_HOME"] = "relative/cfg";
  fake.vars["XDG_STATE_HOME"] = "";
  p = ResolveAppPaths(exe, std::nullopt, fake.Get());
  EXPECT_EQ(p.settingsFile, home + "/.config/vecta_tx_ctrl/vecta_tx_ctrl_v2.7.3.ini");
  EXPECT_EQ(p.logFile, home + "/.local/state/vecta_tx_ctrl/vecta_tx_ctrl_v2.7.3.log");
}

TEST_F(PathsTest, ConfigDirOptionWinsAndIsCreated) {
  fake.writable.insert(bin);
  const std::string dir = tmp.File("portable/a/b");
  const AppPaths p = ResolveAppPaths(exe, dir, fake.Get());
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.settingsFile, dir + "/vecta_tx_ctrl_v2.7.3.ini");
  EXPECT_EQ(p.lastAddressFile, dir + "/vecta_tx_ctrl.last-ip");
  EXPECT_EQ(p.logFile, dir + "/vecta_tx_ctrl_v2.7.3.log");
  EXPECT_EQ(p.configDir, dir);
  EXPECT_EQ(p.logDir, dir);
  EXPECT_TRUE(fs::is_directory(dir));
  EXPECT_TRUE(fs::is_empty(home));

  // The settings written there come back.
  AppSettings s;
  s.comPortIndex = 2;
  s.logoPath = "";
  s.iconPath = "";  // not set is stored as the count 0, which loads as ""
  ASSERT_TRUE(SaveSettings(p.settingsFile, s));
  EXPECT_EQ(LoadSettings(p.settingsFile), s);
}

TEST_F(PathsTest, FolderThatCannotBeCreatedIsReported) {
  const std::string file = tmp.File("plain");
  {
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }

  // --config-dir below a plain file.
  AppPaths p = ResolveAppPaths(exe, file + "/sub", fake.Get());
  EXPECT_NE(p.error, "");
  EXPECT_NE(p.error.find(file + "/sub"), std::string::npos) << p.error;
  EXPECT_EQ(p.settingsFile, file + "/sub/vecta_tx_ctrl_v2.7.3.ini");
  EXPECT_EQ(LoadSettings(p.settingsFile), AppSettings{});
  EXPECT_FALSE(SaveSettings(p.settingsFile, AppSettings{}));

  // --config-dir naming the plain file itself.
  p = ResolveAppPaths(exe, file, fake.Get());
  EXPECT_NE(p.error, "");

  // A home folder that is a plain file.
  fake.vars["HOME"] = file;
  p = ResolveAppPaths(exe, std::nullopt, fake.Get());
  EXPECT_NE(p.error, "");
  EXPECT_NE(p.error.find(".config"), std::string::npos) << p.error;

  // Only the state folder fails: the settings folder is still made.
  fake.vars["HOME"] = home;
  fake.vars["XDG_STATE_HOME"] = file;
  p = ResolveAppPaths(exe, std::nullopt, fake.Get());
  EXPECT_NE(p.error.find(file + "/vecta_tx_ctrl"), std::string::npos) << p.error;
  EXPECT_TRUE(fs::is_directory(home + "/.config/vecta_tx_ctrl"));
}

TEST_F(PathsTest, NoHomeAndNoOptionLeavesPathsUnknown) {
  fake.vars.erase("HOME");
  AppPaths p = ResolveAppPaths(exe, std::nullopt, fake.Get());
  EXPECT_NE(p.error, "");
  EXPECT_EQ(p.settingsFile, "");
  EXPECT_EQ(p.logFile, "");
  EXPECT_EQ(p.lastAddressFile, "");
  EXPECT_EQ(p.lastNetworkPortFile, "");

  // The configuration folder alone can still be named.
  fake.vars["XDG_CONFIG_HOME"] = tmp.File("cfg");
  p = ResolveAppPaths(exe, std::nullopt, fake.Get());
  EXPECT_NE(p.error, "");
  EXPECT_EQ(p.settingsFile, tmp.File("cfg") + "/vecta_tx_ctrl/vecta_tx_ctrl_v2.7.3.ini");
  EXPECT_EQ(p.logFile, "");

  p = ResolveAppPaths(exe, std::string(), fake.Get());
  EXPECT_NE(p.error, "");
  EXPECT_EQ(p.settingsFile, "");
}

TEST(SystemPaths, RunningExecutableAndWritableCheck) {
  const std::string self = RunningExecutablePath();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(self.front(), '/');
  EXPECT_EQ(fs::path(self).filename(), "test_app_paths");
  EXPECT_TRUE(fs::equivalent(self, "/proc/self/exe"));

  TempDir tmp;
  const Env env = SystemEnv();
  EXPECT_TRUE(env.isWritableDir(tmp.path()));
  const std::string file = tmp.File("f");
  {
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  EXPECT_FALSE(env.isWritableDir(file));
  EXPECT_FALSE(env.isWritableDir(tmp.File("missing")));
  ASSERT_EQ(::setenv("VECTA_PATHS_PROBE", "x1", 1), 0);
  EXPECT_EQ(env.get("VECTA_PATHS_PROBE"), std::optional<std::string>("x1"));
  ::unsetenv("VECTA_PATHS_PROBE");
  EXPECT_EQ(env.get("VECTA_PATHS_PROBE"), std::nullopt);
}

TEST_F(PathsTest, InstalledProgramKeepsItsFilesInTheHomeFoldersEvenWhenItsFolderIsWritable) {
  // Run as root, /usr/bin is writable; the settings still belong to the user.
  for (const char* installed :
       {"/usr/bin/vecta_tx_ctrl", "/usr/local/bin/vecta_tx_ctrl", "/opt/vecta/vecta_tx_ctrl"}) {
    const std::string folder = fs::path(installed).parent_path().string();
    fake.writable.insert(folder);
    const AppPaths p = ResolveAppPaths(installed, std::nullopt, fake.Get());
    EXPECT_EQ(p.settingsFile, home + "/.config/vecta_tx_ctrl/vecta_tx_ctrl_v2.7.3.ini") << installed;
    EXPECT_EQ(p.logFile, home + "/.local/state/vecta_tx_ctrl/vecta_tx_ctrl_v2.7.3.log") << installed;
  }
}

TEST_F(PathsTest, ProgramInstalledUnderTheHomeUsesTheHomeFolders) {
  // cmake --install --prefix ~/.local, or a copy in ~/bin: an installed program.
  for (const std::string& folder : {home + "/.local/bin", home + "/bin"}) {
    fake.writable.insert(folder);
    const AppPaths p = ResolveAppPaths(folder + "/vecta_tx_ctrl", std::nullopt, fake.Get());
    EXPECT_EQ(p.settingsFile, home + "/.config/vecta_tx_ctrl/vecta_tx_ctrl_v2.7.3.ini") << folder;
    EXPECT_EQ(p.logFile, home + "/.local/state/vecta_tx_ctrl/vecta_tx_ctrl_v2.7.3.log") << folder;
  }
}
