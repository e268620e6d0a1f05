// vecta_tx_ctrl: the desktop program that runs one transmitter unit.
#include <fcntl.h>
#include <unistd.h>
#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "app/app_paths.h"
#include "app/settings.h"
#include "gui/main_window.h"
#include "link/trace.h"

namespace {

constexpr char kVersion[] = VECTA_VERSION;

struct CommandLine {
  QCommandLineParser parser;
  QCommandLineOption portOption{QStringLiteral("port"),
                                QStringLiteral("Adds a serial device (a pseudo-terminal, a symlink) or a terminal "
                                               "server's port, rfc2217://HOST:PORT, to the port list; may be "
                                               "given more than once."),
                                QStringLiteral("DEVICE")};
  QCommandLineOption configDirOption{QStringLiteral("config-dir"),
                                     QStringLiteral("Keeps the settings file and the communication log in DIR."),
                                     QStringLiteral("DIR")};
  QCommandLineOption traceOption{QStringLiteral("trace"),
                                 QStringLiteral("Writes the program's trace lines (sockets, threads) to stderr.")};
  CommandLine();
};

// Help and version are answered without a display.
bool AsksForHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help" || a == "--help-all" || a == "-v" || a == "--version") return true;
  }
  return false;
}

CommandLine::CommandLine() {
  parser.setApplicationDescription(QStringLiteral(
      "Runs a portable broadcast transmitter unit over RS-232 or Ethernet: reads its settings into the\n"
      "pages, writes changes back, switches its configurations and watches its status."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption(portOption);
  parser.addOption(configDirOption);
  parser.addOption(traceOption);
}

// Milliseconds since the kernel started this process (its start time in
// /proc/self/stat counts clock ticks since boot); -1 when unknown.
double MsSinceProcessStart() {
  std::ifstream in("/proc/self/stat");
  std::string stat;
  std::getline(in, stat);
  const auto close = stat.rfind(')');  // the command name may hold spaces
  if (close == std::string::npos) return -1;
  std::string field;
  std::istringstream rest(stat.substr(close + 2));
  // Field 3 (state) comes first; the start time is field 22.
  for (int i = 3; i <= 22 && rest >> field; ++i) {
  }
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const double startMs = std::stod(field) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6 - startMs;
}

// VECTA_EXIT_WHEN_SHOWN=1 (start-up time measurements): at the main window's
// first paint the program prints how long it took since the process started
// and ends at once, before anything the start-up scan might show.
class ExitWhenShown : public QObject {
 public:
  explicit ExitWhenShown(QWidget* window) : QObject(window) { window->installEventFilter(this); }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::Paint) return false;
    std::printf("vecta_tx_ctrl: main window shown %.1f ms after the process started\n", MsSinceProcessStart());
    std::fflush(nullptr);
    std::_Exit(0);
  }
};

// SIGINT and SIGTERM end the program as closing its window does, so the
// settings are written: the handler only writes a byte into a pipe, which
// the window thread reads as an event.
int g_stopPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_stopPipe[1], &byte, 1);
  errno = saved;
}

bool InstallStopSignals() {
  if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

// Closes what is open over the main window (message boxes, dialogs), then
// the main window the normal way, once those have unwound.
void CloseOnStopSignal(QWidget& window) {
  char buf[64];
  while (::read(g_stopPipe[0], buf, sizeof buf) > 0) {
  }
  for (int i = 0; i < 16; ++i) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == &window) break;
    if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->reject();
    else
      modal->close();
  }
  QTimer::singleShot(0, &window, [&window] { window.close(); });
}

}  // namespace

int main(int argc, char** argv) {
  if (AsksForHelpOrVersion(argc, argv)) {
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vecta_tx_ctrl"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    CommandLine line;
    line.parser.process(core);  // prints and ends the program
    return 0;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vecta_tx_ctrl"));
  QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
  CommandLine line;
  QCommandLineParser& parser = line.parser;
  const QCommandLineOption& portOption = line.portOption;
  const QCommandLineOption& configDirOption = line.configDirOption;
  const QCommandLineOption& traceOption = line.traceOption;
  parser.process(app);

  if (parser.isSet(traceOption)) vecta::link::EnableStderrTrace(true);
  std::optional<std::string> configDir;
  if (parser.isSet(configDirOption)) configDir = parser.value(configDirOption).toStdString();
  const vecta::app::AppPaths paths =
      vecta::app::ResolveAppPaths(vecta::app::RunningExecutablePath(), configDir, vecta::app::SystemEnv());
  if (!paths.error.empty()) std::fprintf(stderr, "vecta_tx_ctrl: %s\n", paths.error.c_str());

  if (!InstallStopSignals()) std::fprintf(stderr, "vecta_tx_ctrl: cannot handle SIGINT and SIGTERM\n");
  vecta::app::AppSettings settings = vecta::app::LoadSettings(paths.settingsFile);

  vecta::gui::MainWindowOptions options;
  options.settings = &settings;
  options.logFile = paths.logFile;
  options.lastAddressFile = paths.lastAddressFile;
  options.lastNetworkPortFile = paths.lastNetworkPortFile;
  for (const QString& port : parser.values(portOption)) options.extraPorts.push_back(port.toStdString());

  bool leftWorkRunning = false;
  {
    vecta::gui::MainWindow window(std::move(options));
    if (qEnvironmentVariableIntValue("VECTA_EXIT_WHEN_SHOWN") == 1) new ExitWhenShown(&window);
    QSocketNotifier stopNotifier(g_stopPipe[0], QSocketNotifier::Read);
    stopNotifier.setEnabled(g_stopPipe[0] >= 0);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &window,
                     [&window] { CloseOnStopSignal(window); });
    window.show();
    QTimer::singleShot(0, &window, [&window] { window.Start(); });
    app.exec();
    leftWorkRunning = window.LeftWorkRunning();
  }

  std::string error;
  if (!paths.settingsFile.empty() && !vecta::app::SaveSettings(paths.settingsFile, settings, &error))
    std::fprintf(stderr, "vecta_tx_ctrl: the settings were not saved: %s\n", error.c_str());
  std::fflush(nullptr);
  // An exchange with a unit that never answered may still be ending on its
  // thread; the program does not wait for it.
  if (leftWorkRunning) std::_Exit(0);
  return 0;
}
