// vecta-screenshots: connects the desktop application's windows to one unit
// on a serial device (the simulator's pseudo-terminal) and saves what they
// look like as PNG files: the main window (also with two unapplied changes
// marked), the five pages of the Advanced options window and, when the unit
// has one, the satellite modulator window, the engineering window, the
// command dialogs and the review before a load; with --status-monitor only
// the status monitor, after a run of samples (start the simulator with
// --drift --drift-speed 300 so the values have moved).
//
//   vecta-screenshots --port /dev/pts/7 --out docs/screenshots --prefix K240 [--config-dir DIR] [--status-monitor]
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/app_paths.h"
#include "app/config_review.h"
#include "app/settings.h"
#include "gui/config_review_window.h"
#include "gui/engineering_window.h"
#include "gui/main_window.h"
#include "gui/offline_editor.h"
#include "gui/paint_watch.h"
#include "gui/shell_dialogs.h"
#include "gui/status_monitor_window.h"
#include "link/serial_port.h"
#include "params/config_file.h"
#include "params/config_set.h"
#include "platform/atomic_file.h"

namespace {

using vecta::gui::PaintWatch;

// Handles events for `ms`, or until `done` holds.
template <typename Done>
void Pump(int ms, Done done) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Lays the window out at its preferred size, shows it and waits until it
// has been painted.
void ShowPainted(QWidget* w) {
  auto* watch = new PaintWatch(w);
  w->adjustSize();
  w->show();
  w->raise();
  Pump(3000, [&] { return watch->painted; });
  Pump(100, [] { return false; });  // late layout passes (tab bars, combo sizes)
  delete watch;
}

bool Save(QWidget* w, const QString& dir, const QString& name) {
  const QString path = QDir(dir).filePath(name);
  if (!w->grab().save(path, "PNG")) {
    std::fprintf(stderr, "vecta-screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

// Draws the station logo the pictures show: a 70 x 70 mast with its waves,
// saved as a bitmap file in `dir` the way an operator's logo would be.
std::optional<std::string> WriteLogo(const QString& dir) {
  QImage image(70, 70, QImage::Format_RGB32);
  image.fill(QColor(0x1f, 0x4e, 0x79));
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QPen pen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.drawLine(QPointF(35, 30), QPointF(22, 62));
  p.drawLine(QPointF(35, 30), QPointF(48, 62));
  p.drawLine(QPointF(27, 50), QPointF(43, 50));
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(35, 26), 4, 4);
  p.setBrush(Qt::NoBrush);
  pen.setWidth(3);
  p.setPen(pen);
  for (int r : {12, 20}) {
    p.drawArc(QRectF(35 - r, 26 - r, 2 * r, 2 * r), 30 * 16, 120 * 16);
  }
  p.end();
  const QString path = QDir(dir).filePath(QStringLiteral("logo.bmp"));
  if (!QDir().mkpath(dir) || !image.save(path, "BMP")) return std::nullopt;
  return path.toStdString();
}

// Closes the window and gives the exit code. Work left running on a silent
// unit would hold the program at exit: it then ends at once.
int CloseAndExitCode(vecta::gui::MainWindow& window, int failures) {
  window.close();
  Pump(500, [&] { return !window.Busy(); });
  if (window.LeftWorkRunning()) {
    std::fflush(nullptr);
    std::_Exit(failures ? 1 : 0);
  }
  return failures ? 1 : 0;
}

// The main window with two changes the operator has not applied: another
// scrambling mode and another frequency, their captions marked and counted.
// A refresh then shows the unit's values again, so nothing asks at close.
bool SaveUnappliedMain(vecta::gui::MainWindow& window, const QString& out, const QString& prefix) {
  vecta::gui::QtControlHost& page = window.Page()->Host();
  auto* scrambling = qobject_cast<QComboBox*>(page.Find(1211));
  auto* frequency = qobject_cast<QLineEdit*>(page.Find(1301));
  if (!scrambling || !frequency || scrambling->count() < 2) {
    std::fprintf(stderr, "vecta-screenshots: the main settings page has no scrambling list or frequency\n");
    return false;
  }
  // As the operator picks and types: the page hears of both.
  const int other = scrambling->currentIndex() == 1 ? 2 : 1;
  scrambling->setCurrentIndex(other);
  emit scrambling->activated(other);
  const QString typed =
      frequency->text() == QStringLiteral("1300.00") ? QStringLiteral("1400.00") : QStringLiteral("1300.00");
  frequency->setText(typed);
  emit frequency->textEdited(typed);
  Pump(200, [] { return false; });
  const bool saved = Save(&window, out, prefix + QStringLiteral("-main-unapplied.png"));
  window.OnPageButton(vecta::params::ids::kMainRefresh);
  window.WaitIdle(30000);
  return saved;
}

// "Unit information" -> "unit-information".
QString Slug(QString text) {
  text = text.toLower();
  for (QChar& c : text)
    if (!c.isLetterOrNumber()) c = QLatin1Char('-');
  while (text.contains(QLatin1String("--"))) text.replace(QLatin1String("--"), QLatin1String("-"));
  return text;
}

// The status monitor after 16 samples 750 ms apart. Its time stamps run as
// fast as the simulator's drift (--drift-speed 300), from a fixed start, so
// the axes span the hour the values moved through.
class DriftTime final : public vecta::app::UtcClock {
 public:
  DriftTime() { started_.start(); }
  std::int64_t NowUtcMs() override { return kStart + started_.elapsed() * 300; }

 private:
  static constexpr std::int64_t kStart = 1796716800000;  // 2026-12-08T08:00:00Z
  QElapsedTimer started_;
};

// The review before a load, for a file prepared for an event: against the
// values the window last read, the file changes the bandwidth, the name and
// the scrambling; for a set, the second and fifth configurations as well.
vecta::params::ConfigReview EventReview(vecta::params::UnitContext& unit, bool set) {
  using namespace vecta::params;
  const Variant variant = unit.variant();
  const std::vector<ConfigRecord> held = RecordsFromTable(unit.tables->main, variant);
  UnitValues values;
  for (const ConfigRecord& r : held) values.emplace(r.mnemonic, r.ValueText());
  ConfigReview review;
  review.file = set ? "/home/crew/events/marathon-set.cfg" : "/home/crew/events/marathon-finish.cfg";
  review.set = set;
  review.unitBoard = review.fileBoard = unit.boardType;
  const int configs = set ? ConfigCount(variant) : 1;
  for (int i = 1; i <= configs; ++i) {
    ConfigImage image{static_cast<std::uint32_t>(i), held};
    for (ConfigRecord& r : image.records) {
      if (i == 1 && r.mnemonic == "owid") r.number = 3;
      if (i == 1 && r.mnemonic == "gnam") r.text = "Finish line";
      if ((i == 1 || i == 5) && r.mnemonic == "zscr") r.number = 4;
      if (i == 2 && r.mnemonic == "ofre") r.text = "642.00";
    }
    review.configs.push_back(vecta::app::CompareConfiguration(image, values, variant));
    review.configs.back().number = set ? i : 0;
  }
  return review;
}

bool SaveReviews(vecta::params::UnitContext& unit, QWidget* parent, const QString& out, const QString& prefix) {
  int failures = 0;
  for (bool set : {false, true}) {
    vecta::gui::ConfigReviewWindow review(EventReview(unit, set), parent);
    ShowPainted(&review);
    failures += !Save(
        &review, out,
        prefix + (set ? QStringLiteral("-review-config-set.png") : QStringLiteral("-review-config-file.png")));
  }
  return failures == 0;
}

bool SaveStatusMonitor(vecta::gui::MainWindow& window, vecta::params::Prompter& prompter, const QString& out,
                       const QString& prefix) {
  DriftTime clock;
  vecta::gui::StatusMonitorOptions o;
  o.link = std::shared_ptr<vecta::link::CRavlenRemoteControl>(&window.Link(), [](auto*) {});
  const auto variant = vecta::params::VariantOf(window.Unit().boardType);
  o.rows = vecta::app::StatusRowsFor(variant, vecta::app::ModulatorAnswers(variant, window.Unit().tables->main));
  o.unitAddress = [&window] { return window.Unit().unitAddress; };
  o.prompter = &prompter;
  o.clock = &clock;
  o.timer = false;
  o.icon = window.windowIcon();
  QPointer<vecta::gui::StatusMonitorWindow> monitor = new vecta::gui::StatusMonitorWindow(std::move(o));
  ShowPainted(monitor);
  // Every chart at once.
  monitor->resize(900, 90 + 150 * static_cast<int>(monitor->History().Rows().size()));
  for (int i = 0; i < 16; ++i) {
    const std::size_t before = monitor->History().Samples().size();
    QElapsedTimer tick;
    tick.start();
    monitor->SampleNow();
    Pump(5000, [&] { return monitor->History().Samples().size() > before; });
    Pump(static_cast<int>(std::max<qint64>(0, 750 - tick.elapsed())), [] { return false; });
  }
  Pump(200, [] { return false; });
  const bool saved = Save(monitor, out, prefix + QStringLiteral("-status-monitor.png"));
  monitor->close();
  // The sampling thread keeps `clock` until it has ended.
  Pump(1000, [&] { return monitor.isNull(); });
  Pump(300, [] { return false; });
  return saved;
}

// The configuration file editor on a file saved from the unit's values, with
// one setting changed, and its Advanced options window.
bool SaveOfflineEditor(vecta::gui::MainWindow& window, const QString& work, const QString& out,
                       const QString& prefix) {
  vecta::params::ConfigImage image;
  image.number = 1;
  image.records = vecta::params::RecordsFromTable(window.Unit().tables->main, window.Unit().variant());
  const std::string file = QDir(work).filePath(QStringLiteral("event.cfg")).toStdString();
  if (!vecta::platform::WriteFileAtomically(file, vecta::params::BuildConfigFile(image))) return false;
  vecta::gui::OfflineEditorWindow* editor = window.Offline().OpenFile(file);
  if (!editor) return false;
  if (editor->Page() == nullptr) {  // a board the records do not tell: the operator's choice
    const int index = editor->BoardList()->findText(window.Unit().variant() == vecta::params::Variant::Other
                                                        ? QStringLiteral("Other")
                                                        : QString::fromStdString(window.Unit().boardType));
    editor->BoardList()->setCurrentIndex(index);
    emit editor->BoardList()->activated(index);
  }
  ShowPainted(editor);
  bool saved = Save(editor, out, prefix + QStringLiteral("-offline-editor.png"));
  editor->OpenAdvanced();
  if (editor->Advanced()) {
    editor->Advanced()->Tabs()->setCurrentIndex(1);  // "Modulation": a file holds no unit information
    ShowPainted(editor->Advanced());
    saved = Save(editor->Advanced(), out, prefix + QStringLiteral("-offline-advanced.png")) && saved;
  }
  editor->Save();
  editor->close();
  Pump(100, [] { return false; });
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vecta-screenshots"));
  // A text cursor that never blinks looks the same in every picture.
  QApplication::setCursorFlashTime(0);

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Saves PNG pictures of the application's windows, connected to one unit."));
  parser.addHelpOption();
  QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("The unit's serial device."),
                                QStringLiteral("DEVICE"));
  QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("Folder for the PNG files."),
                               QStringLiteral("DIR"), QStringLiteral("."));
  QCommandLineOption prefixOption(QStringLiteral("prefix"), QStringLiteral("File name prefix."),
                                  QStringLiteral("NAME"), QStringLiteral("unit"));
  QCommandLineOption configDirOption(QStringLiteral("config-dir"),
                                     QStringLiteral("Folder of the settings file and the communication log."),
                                     QStringLiteral("DIR"));
  parser.addOption(portOption);
  parser.addOption(outOption);
  parser.addOption(prefixOption);
  parser.addOption(configDirOption);
  QCommandLineOption monitorOption(QStringLiteral("status-monitor"),
                                   QStringLiteral("Only the status monitor, after 16 samples."));
  parser.addOption(monitorOption);
  parser.process(app);
  if (!parser.isSet(portOption)) {
    std::fprintf(stderr, "vecta-screenshots: --port DEVICE is required\n");
    return 2;
  }
  const QString out = parser.value(outOption);
  const QString prefix = parser.value(prefixOption);
  if (!QDir().mkpath(out)) {
    std::fprintf(stderr, "vecta-screenshots: cannot create %s\n", qPrintable(out));
    return 1;
  }

  std::optional<std::string> configDir;
  if (parser.isSet(configDirOption)) configDir = parser.value(configDirOption).toStdString();
  const vecta::app::AppPaths paths =
      vecta::app::ResolveAppPaths(vecta::app::RunningExecutablePath(), configDir, vecta::app::SystemEnv());
  vecta::app::AppSettings settings = vecta::app::LoadSettings(paths.settingsFile);
  settings.comPortIndex = -1;  // the one port given is the one scanned
  if (!settings.logoPath || settings.logoPath->empty()) {
    settings.logoPath = WriteLogo(QFileInfo(QString::fromStdString(paths.settingsFile)).absolutePath());
    settings.logoWidth = settings.logoHeight = 70;
  }

  const std::string device = parser.value(portOption).toStdString();
  vecta::gui::MainWindowOptions options;
  options.settings = &settings;
  options.logFile = paths.logFile;
  options.serialPorts = vecta::link::MakePosixSerialProvider({{device, device}});

  int failures = 0;
  {
    vecta::gui::MainWindow window(std::move(options));
    ShowPainted(&window);
    window.Start();
    if (!window.WaitIdle(30000)) {
      std::fprintf(stderr, "vecta-screenshots: the start-up scan did not end\n");
      return 1;
    }
    if (!window.Session().Connected()) {
      std::fprintf(stderr, "vecta-screenshots: no unit answered on %s\n", device.c_str());
      return 1;
    }
    Pump(200, [] { return false; });
    window.adjustSize();
    Pump(200, [] { return false; });
    vecta::params::Prompter& prompter = *window.Unit().prompter;
    if (parser.isSet(monitorOption)) {
      failures += !SaveStatusMonitor(window, prompter, out, prefix);
      return CloseAndExitCode(window, failures);
    }
    failures += !Save(&window, out, prefix + QStringLiteral("-main.png"));
    failures += !SaveUnappliedMain(window, out, prefix);

    window.OnPageButton(vecta::gui::ids::kAdvanced);
    window.WaitIdle(10000);
    if (auto* advanced = window.Advanced()) {
      ShowPainted(advanced);
      QTabWidget* tabs = advanced->Tabs();
      for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        Pump(150, [] { return false; });
        failures +=
            !Save(advanced, out,
                  QStringLiteral("%1-advanced-%2-%3.png").arg(prefix).arg(i + 1).arg(Slug(tabs->tabText(i))));
      }
    } else {
      std::fprintf(stderr, "vecta-screenshots: the Advanced options window did not open\n");
      ++failures;
    }

    auto* satmodButton = qobject_cast<QPushButton*>(window.Page()->Host().Find(vecta::gui::ids::kSatmod));
    if (satmodButton && !satmodButton->isHidden()) {
      window.OnPageButton(vecta::gui::ids::kSatmod);
      window.WaitIdle(30000);
      if (auto* satmod = window.Satmod()) {
        ShowPainted(satmod);
        failures += !Save(satmod, out, prefix + QStringLiteral("-satmod.png"));
      } else {
        std::fprintf(stderr, "vecta-screenshots: the satellite modulator window did not open\n");
        ++failures;
      }
    }

    // The engineering window on each of its tabs (and the sub-tabs of its
    // "Advanced options" page).
    window.OnEngineering();
    window.WaitIdle(30000);
    if (auto* eng = qobject_cast<vecta::gui::EngineeringWindow*>(window.Engineering())) {
      ShowPainted(eng);
      window.WaitIdle(30000);  // its pages read the unit as they open
      Pump(200, [] { return false; });
      QTabWidget* tabs = eng->Tabs();
      for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        Pump(150, [] { return false; });
        const QString name =
            QStringLiteral("%1-engineering-%2-%3").arg(prefix).arg(i + 1).arg(Slug(tabs->tabText(i)));
        if (tabs->widget(i)->isAncestorOf(eng->AdvancedTabs()) && eng->AdvancedTabs()->count() > 1) {
          for (int j = 0; j < eng->AdvancedTabs()->count(); ++j) {
            eng->AdvancedTabs()->setCurrentIndex(j);
            Pump(150, [] { return false; });
            failures +=
                !Save(eng, out, QStringLiteral("%1-%2.png").arg(name, Slug(eng->AdvancedTabs()->tabText(j))));
          }
        } else {
          failures += !Save(eng, out, name + QStringLiteral(".png"));
        }
      }
      eng->close();
    } else {
      std::fprintf(stderr, "vecta-screenshots: the engineering window did not open\n");
      ++failures;
    }

    // The command dialogs, as they open.
    {
      vecta::gui::PollingOptionsDialog dialog(settings, prompter, nullptr, &window);
      for (int i = 0; i < 2; ++i) {
        dialog.Tabs()->setCurrentIndex(i);
        ShowPainted(&dialog);
        failures +=
            !Save(&dialog, out,
                  QStringLiteral("%1-polling-options-%2.png").arg(prefix).arg(Slug(dialog.Tabs()->tabText(i))));
      }
    }
    {
      vecta::gui::WriteKeyDialog dialog(vecta::app::KeyType::Aes256, prompter, &window);
      ShowPainted(&dialog);
      failures += !Save(&dialog, out, prefix + QStringLiteral("-write-key.png"));
    }
    {
      vecta::gui::AboutDialog dialog(QString::fromStdString(settings.appTitle.value_or("")), window.windowIcon(),
                                     &window);
      ShowPainted(&dialog);
      failures += !Save(&dialog, out, prefix + QStringLiteral("-about.png"));
    }
    failures += !SaveReviews(window.Unit(), &window, out, prefix);

    failures += !SaveOfflineEditor(window, QFileInfo(QString::fromStdString(paths.settingsFile)).absolutePath(),
                                   out, prefix);

    return CloseAndExitCode(window, failures);
  }
}
