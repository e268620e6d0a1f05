// SIGTERM and SIGINT close the real application as its window's close does:
// the settings file is written and the program ends with status 0. And what
// the file holds then of what the window changed at start.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QFont>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/settings.h"
#include "gui/dialog_units.h"
#include "support/fake_link.h"

namespace {

using namespace std::chrono_literals;

// Starts the application offscreen, keeping its files in `dir`, without
// any serial port of this machine in its way beyond those it finds.
pid_t StartApplication(const std::string& dir) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::execl(VECTA_APP_PATH, VECTA_APP_PATH, "--config-dir", dir.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// Waits (a file-system poll, no protocol wait) until `pred` holds.
template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

void ExpectSignalClosesNormally(int signal) {
  vecta::test::TempDir dir;
  const std::string settings = dir.File("vecta_tx_ctrl_v2.7.3.ini");
  const pid_t app = StartApplication(dir.path());
  ASSERT_GT(app, 0);
  // The communication log appears once the main window has built its link,
  // after the signal handlers are in place.
  const bool started = WaitFor([&] { return std::filesystem::exists(dir.File("vecta_tx_ctrl_v2.7.3.log")); }, 30s);
  EXPECT_FALSE(std::filesystem::exists(settings));
  ASSERT_EQ(::kill(app, signal), 0);
  int status = 0;
  const bool ended = WaitFor([&] { return ::waitpid(app, &status, WNOHANG) == app; }, 30s);
  if (!ended) {
    ::kill(app, SIGKILL);
    ::waitpid(app, &status, 0);
  }
  ASSERT_TRUE(started) << "the application never opened its log";
  ASSERT_TRUE(ended) << "the application did not end";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(std::filesystem::exists(settings));
  EXPECT_GE(std::filesystem::file_size(settings), 56u);
}

// Starts the application on `stored`, closes it and returns what the
// settings file holds then.
vecta::app::AppSettings StartAndClose(const vecta::app::AppSettings& stored) {
  vecta::test::TempDir dir;
  const std::string settings = dir.File("vecta_tx_ctrl_v2.7.3.ini");
  EXPECT_TRUE(vecta::app::SaveSettings(settings, stored));
  const pid_t app = StartApplication(dir.path());
  EXPECT_GT(app, 0);
  if (app <= 0) return {};
  const bool started = WaitFor([&] { return std::filesystem::exists(dir.File("vecta_tx_ctrl_v2.7.3.log")); }, 30s);
  ::kill(app, SIGTERM);
  int status = 0;
  if (!WaitFor([&] { return ::waitpid(app, &status, WNOHANG) == app; }, 30s)) {
    ::kill(app, SIGKILL);
    ::waitpid(app, &status, 0);
    ADD_FAILURE() << "the application did not end";
  }
  EXPECT_TRUE(started) << "the application never opened its log";
  std::ifstream in(settings, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return vecta::app::ParseSettings(bytes.data(), bytes.size());
}

// A stored logo size of -1 is 70 and none is above the frame (120 x 46
// dialog units at the window's font, the application's font here too): the
// file keeps the size the window started with.
TEST(ExitSettings, TheFileHoldsTheLogoSizeAsLimitedAtStart) {
  const QSize frame = vecta::gui::DialogUnitsToPixels(QSize(120, 46), QApplication::font());
  ASSERT_LT(frame.height(), 999);
  vecta::app::AppSettings stored;
  stored.pollingEnabled = false;  // no poll thread to wait for
  stored.logoWidth = -1;
  stored.logoHeight = -1;
  vecta::app::AppSettings saved = StartAndClose(stored);
  EXPECT_EQ(saved.logoWidth, std::min(70, frame.width()));
  EXPECT_EQ(saved.logoHeight, std::min(70, frame.height()));
  EXPECT_EQ(saved.appTitle, stored.appTitle);

  stored.logoWidth = 999;
  stored.logoHeight = 999;
  saved = StartAndClose(stored);
  EXPECT_EQ(saved.logoWidth, frame.width());
  EXPECT_EQ(saved.logoHeight, frame.height());
}

TEST(StopSignals, SigtermWritesTheSettingsAndExitsZero) { ExpectSignalClosesNormally(SIGTERM); }
TEST(StopSignals, SigintWritesTheSettingsAndExitsZero) { ExpectSignalClosesNormally(SIGINT); }

}  // namespace
