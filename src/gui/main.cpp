// vecta_tx_ctrl: the desktop program that runs one transmitter unit.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/app_paths.h"
#include "app/settings.h"
#include "gui/main_window.h"
#include "link/trace.h"

namespace {
constexpr char kVersion[] = "2.7.3";
}

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vecta_tx_ctrl"));
  QApplication::setApplicationVersion(QString::fromLatin1(kVersion));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Runs a portable broadcast transmitter unit over RS-232 or Ethernet: reads its settings into the\n"
      "pages, writes changes back, switches its configurations and watches its status."));
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption portOption(QStringLiteral("port"),
                                QStringLiteral("Adds a serial device (a pseudo-terminal, a symlink) to the port "
                                               "list; may be given more than once."),
                                QStringLiteral("DEVICE"));
  QCommandLineOption configDirOption(QStringLiteral("config-dir"),
                                     QStringLiteral("Keeps the settings file and the communication log in DIR."),
                                     QStringLiteral("DIR"));
  QCommandLineOption traceOption(QStringLiteral("trace"),
                                 QStringLiteral("Writes the program's trace lines (sockets, threads) to stderr."));
  parser.addOption(portOption);
  parser.addOption(configDirOption);
  parser.addOption(traceOption);
  parser.process(app);

  if (parser.isSet(traceOption)) vecta::link::EnableStderrTrace(true);
  std::optional<std::string> configDir;
  if (parser.isSet(configDirOption)) configDir = parser.value(configDirOption).toStdString();
  const vecta::app::AppPaths paths =
      vecta::app::ResolveAppPaths(vecta::app::RunningExecutablePath(), configDir, vecta::app::SystemEnv());
  if (!paths.error.empty()) std::fprintf(stderr, "vecta_tx_ctrl: %s\n", paths.error.c_str());

  vecta::app::AppSettings settings = vecta::app::LoadSettings(paths.settingsFile);

  vecta::gui::MainWindowOptions options;
  options.settings = &settings;
  options.logFile = paths.logFile;
  for (const QString& port : parser.values(portOption)) options.extraPorts.push_back(port.toStdString());

  bool leftWorkRunning = false;
  {
    vecta::gui::MainWindow window(std::move(options));
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
