// The main window's menu bar, accelerators and toolbar, and the commands
// that need no unit: polling toggle, icon, logo, logo size, title, About.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QTest>
#include <QToolBar>
#include <QWindow>

#include "gui/dialog_units.h"
#include "gui/main_window.h"
#include "gui/shell_dialogs.h"
#include "link/serial_port.h"
#include "modal_driver.h"
#include "support/fake_link.h"
#include "support/recording_ui.h"

namespace vecta::gui {
namespace {

using test::RecordingPrompter;

// Records what each file choice asks for.
class FileRequestPrompter : public RecordingPrompter {
 public:
  struct Request {
    bool save;
    std::string title, filter, suffix, name, folder;
  };
  std::optional<std::string> ChooseFile(const FileRequest& r) override {
    requests.push_back({r.save, std::string(r.title), std::string(r.filter), std::string(r.defaultSuffix),
                        std::string(r.initialName), std::string(r.initialFolder)});
    return RecordingPrompter::ChooseFile(r);
  }
  std::vector<Request> requests;
};

// A bitmap file of `size` whose four quarters have different colours.
std::string QuarteredBitmap(const test::TempDir& dir, const std::string& name, QSize size,
                            QImage* image = nullptr) {
  QImage picture(size, QImage::Format_RGB32);
  picture.fill(Qt::red);
  QPainter painter(&picture);
  painter.fillRect(size.width() / 2, 0, size.width() - size.width() / 2, size.height() / 2, Qt::blue);
  painter.fillRect(0, size.height() / 2, size.width() / 2, size.height() - size.height() / 2, Qt::green);
  painter.fillRect(size.width() / 2, size.height() / 2, size.width() - size.width() / 2,
                   size.height() - size.height() / 2, Qt::yellow);
  painter.end();
  const std::string path = dir.File(name);
  EXPECT_TRUE(picture.save(QString::fromStdString(path), "BMP"));
  if (image) *image = picture;
  return path;
}

// The logo frame's 120 x 46 dialog units at the window's font.
QSize LogoFrame(const QWidget& window) { return DialogUnitsToPixels(QSize(120, 46), window.font()); }

class MainCommands : public ::testing::Test {
 protected:
  std::unique_ptr<MainWindow> Make() {
    MainWindowOptions o;
    o.settings = &settings;
    o.prompter = &prompter;
    o.serialPorts = link::MakePosixSerialProvider({});  // no ports, no unit
    return std::make_unique<MainWindow>(std::move(o));
  }
  app::AppSettings settings;
  FileRequestPrompter prompter;
  test::TempDir dir;
};

TEST_F(MainCommands, MenusCarryEveryCommandWithItsTextAndShortcut) {
  auto w = Make();
  const QList<QAction*> menus = w->menuBar()->actions();
  ASSERT_GE(menus.size(), 2);
  EXPECT_EQ(menus[0]->text(), "&File");
  EXPECT_EQ(menus[1]->text(), "&Options");
  QStringList file;
  for (QAction* a : menus[0]->menu()->actions()) file << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(file, QStringList({"&Open configuration file...\tCtrl+O", "-", "Set &icon source", "Set &logo source",
                               "Set logo &size", "Set &application title", "-", "E&xit"}));
  QStringList options;
  for (QAction* a : menus[1]->menu()->actions()) options << a->text();
  EXPECT_EQ(options, QStringList({"Engineering\tCtrl+E", "Disable polling\tCtrl+P", "Polling options\tCtrl+L",
                                  "Write encryption key\tCtrl+K", "Restore defaults\tCtrl+D", "Status monitor"}));
  const std::pair<int, const char*> keys[] = {
      {commands::kOpenConfigFile, "Ctrl+O"}, {commands::kRestoreDefaults, "Ctrl+D"},
      {commands::kEngineering, "Ctrl+E"},    {commands::kTogglePolling, "Ctrl+P"},
      {commands::kPollingOptions, "Ctrl+L"}, {commands::kWriteKey, "Ctrl+K"}};
  for (const auto& [command, key] : keys) {
    ASSERT_NE(w->Action(command), nullptr) << command;
    EXPECT_EQ(w->Action(command)->shortcut().toString().toStdString(), key) << command;
  }
}

TEST_F(MainCommands, ToolbarHoldsTheButtonsInOrderWithTheirTooltips) {
  auto w = Make();
  QStringList items;
  for (QAction* a : w->ToolBar()->actions()) items << (a->isSeparator() ? QStringLiteral("|") : a->toolTip());
  EXPECT_EQ(items, QStringList({"Engineering", "Enable polling", "Disable polling", "Edit polling options", "|",
                                "Write encryption key", "|", "Restore defaults", "|", "Status monitor"}));
}

TEST_F(MainCommands, PollingToggleSwitchesMenuTextLabelAndTheOneVisibleButton) {
  auto w = Make();
  EXPECT_EQ(w->PollingLabel()->text(), "Polling enabled");
  EXPECT_FALSE(w->Action(commands::kEnablePolling)->isVisible());
  EXPECT_TRUE(w->Action(commands::kDisablePolling)->isVisible());

  w->Action(commands::kDisablePolling)->trigger();  // "Disable polling"
  EXPECT_FALSE(settings.pollingEnabled);
  EXPECT_EQ(w->Action(commands::kTogglePolling)->text(), "Enable polling\tCtrl+P");
  EXPECT_EQ(w->PollingLabel()->text(), "Polling disabled");
  EXPECT_TRUE(w->Action(commands::kEnablePolling)->isVisible());
  EXPECT_FALSE(w->Action(commands::kDisablePolling)->isVisible());

  w->Action(commands::kTogglePolling)->trigger();  // the menu item
  EXPECT_TRUE(settings.pollingEnabled);
  EXPECT_EQ(w->Action(commands::kTogglePolling)->text(), "Disable polling\tCtrl+P");
  EXPECT_FALSE(w->Action(commands::kEnablePolling)->isVisible());
}

TEST_F(MainCommands, StartsFromAStoredDisabledPollingFlag) {
  settings.pollingEnabled = false;
  auto w = Make();
  EXPECT_EQ(w->PollingLabel()->text(), "Polling disabled");
  EXPECT_EQ(w->Action(commands::kTogglePolling)->text(), "Enable polling\tCtrl+P");
  EXPECT_TRUE(w->Action(commands::kEnablePolling)->isVisible());
  EXPECT_FALSE(w->Action(commands::kDisablePolling)->isVisible());
}

TEST_F(MainCommands, CommandsThatNeedAUnitSayThereIsNone) {
  auto w = Make();
  w->Action(commands::kWriteKey)->trigger();         // Write encryption key
  w->Action(commands::kRestoreDefaults)->trigger();  // Restore defaults
  ASSERT_TRUE(w->WaitIdle(2000));
  w->Action(commands::kStatusMonitor)->trigger();  // Status monitor
  EXPECT_EQ(w->StatusMonitor(), nullptr);
  ASSERT_EQ(prompter.messages.size(), 3u);
  for (const auto& m : prompter.messages) {
    EXPECT_EQ(m.title, "Error");
    EXPECT_EQ(m.text, "No connection currently");
    EXPECT_EQ(m.icon, params::MessageIcon::Exclamation);
  }
}

// The frame is 120 x 46 dialog units; a 70 x 70 logo shows at its own size
// and shape, centred in the frame inside a sunken edge.
TEST_F(MainCommands, LogoShowsAtItsSizeCentredInASunkenEdgeInAFrameOfDialogUnits) {
  QImage image;
  settings.logoPath = QuarteredBitmap(dir, "logo.bmp", QSize(70, 70), &image);
  auto w = Make();
  w->show();
  QLabel* logo = w->LogoFrame();
  const QSize frame = LogoFrame(*w);
  ASSERT_GE(frame.height(), 70) << "a font too small for the frame to hold 70 pixels";
  QWidget* area = logo->parentWidget();
  EXPECT_EQ(area->size(), frame + QSize(2 * logo->frameWidth(), 2 * logo->frameWidth()));

  EXPECT_FALSE(logo->isHidden());
  EXPECT_EQ(logo->frameShape(), QFrame::Panel);
  EXPECT_EQ(logo->frameShadow(), QFrame::Sunken);
  EXPECT_GT(logo->frameWidth(), 0);
  EXPECT_EQ(logo->contentsRect().size(), QSize(70, 70));
  // Centred: the frame's left plus half its width less half the logo's.
  const QPoint contents = logo->mapTo(area, logo->contentsRect().topLeft());
  EXPECT_EQ(contents,
            QPoint(logo->frameWidth() + frame.width() / 2 - 35, logo->frameWidth() + frame.height() / 2 - 35));
  // The picture itself, pixel for pixel.
  ASSERT_FALSE(logo->pixmap().isNull());
  EXPECT_EQ(logo->pixmap().size(), QSize(70, 70));
  EXPECT_EQ(logo->grab(logo->contentsRect()).toImage().convertToFormat(QImage::Format_RGB32), image);
}

TEST_F(MainCommands, LogoKeepsItsShapeAtAnySizeAndTheSizeIsLimitedToTheFrame) {
  settings.logoPath = QuarteredBitmap(dir, "wide.bmp", QSize(200, 100));
  auto w = Make();
  QLabel* logo = w->LogoFrame();
  const QSize frame = LogoFrame(*w);
  EXPECT_EQ(logo->contentsRect().size(), QSize(70, 70).boundedTo(frame));  // -1 is 70
  EXPECT_EQ(logo->pixmap().size(), QSize(200, 100).scaled(QSize(70, 70).boundedTo(frame), Qt::KeepAspectRatio));

  // "Set logo size": a number above the frame is limited to it.
  ModalDriver driver([&](QWidget* dialog) {
    auto* d = qobject_cast<LogoSizeDialog*>(dialog);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->WidthBox()->Maximum(), frame.width());
    EXPECT_EQ(d->HeightBox()->Maximum(), frame.height());
    d->WidthBox()->selectAll();
    QTest::keyClicks(d->WidthBox(), "999");
    d->HeightBox()->selectAll();
    QTest::keyClicks(d->HeightBox(), "20");
    d->accept();
  });
  w->Action(commands::kSetLogoSize)->trigger();
  EXPECT_TRUE(driver.Ran());
  EXPECT_EQ(settings.logoWidth, frame.width());
  EXPECT_EQ(settings.logoHeight, 20);
  EXPECT_EQ(logo->contentsRect().size(), QSize(frame.width(), 20));
  EXPECT_EQ(logo->pixmap().size(), QSize(40, 20));
  EXPECT_EQ(logo->mapTo(logo->parentWidget(), logo->contentsRect().topLeft()),
            QPoint(logo->frameWidth(), logo->frameWidth() + frame.height() / 2 - 10));
}

// A 200 typed as the height ends as the frame's height, not as 20.
TEST_F(MainCommands, ATypedLogoSizeAboveTheFrameEndsAsTheFramesSize) {
  auto w = Make();
  const QSize frame = LogoFrame(*w);
  ASSERT_LT(frame.height(), 200);
  ModalDriver driver([](QWidget* dialog) {
    auto* d = qobject_cast<LogoSizeDialog*>(dialog);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->HeightBox()->text(), "70");  // the stored -1, as the window started with it
    d->HeightBox()->selectAll();
    QTest::keyClicks(d->HeightBox(), "200");
    d->WidthBox()->selectAll();
    QTest::keyClicks(d->WidthBox(), "5000");
    d->accept();
  });
  w->Action(commands::kSetLogoSize)->trigger();
  EXPECT_TRUE(driver.Ran());
  EXPECT_EQ(settings.logoHeight, frame.height());
  EXPECT_EQ(settings.logoWidth, frame.width());

  ModalDriver cancelled([](QWidget* dialog) {
    auto* d = qobject_cast<LogoSizeDialog*>(dialog);
    ASSERT_NE(d, nullptr);
    d->HeightBox()->selectAll();
    QTest::keyClicks(d->HeightBox(), "3");
    d->reject();
  });
  w->Action(commands::kSetLogoSize)->trigger();
  EXPECT_EQ(settings.logoHeight, frame.height());
}

// At start a stored -1 becomes 70 and a size above the frame the frame's,
// logo or no logo: what the window starts with is what the file keeps.
TEST_F(MainCommands, StartLimitsTheStoredLogoSize) {
  struct Case {
    std::int32_t width, height;
    bool withLogo;
  };
  for (const Case& c : {Case{-1, -1, false}, Case{-1, -1, true}, Case{999, 999, false}, Case{999, -1, true},
                        Case{-5, 30, false}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + (c.withLogo ? " logo" : ""));
    settings = {};
    settings.logoWidth = c.width;
    settings.logoHeight = c.height;
    if (c.withLogo) settings.logoPath = QuarteredBitmap(dir, "logo.bmp", QSize(10, 10));
    auto w = Make();
    const QSize frame = LogoFrame(*w);
    auto expected = [](std::int32_t stored, int limit) {
      return std::clamp(stored == -1 ? 70 : stored, 0, limit);
    };
    EXPECT_EQ(settings.logoWidth, expected(c.width, frame.width()));
    EXPECT_EQ(settings.logoHeight, expected(c.height, frame.height()));
  }
}

TEST_F(MainCommands, ZeroLogoSizeHidesTheLogoButKeepsTheFrame) {
  settings.logoPath = QuarteredBitmap(dir, "logo.bmp", QSize(10, 10));
  settings.logoWidth = 0;
  settings.logoHeight = 0;
  auto w = Make();
  EXPECT_FALSE(w->LogoFrame()->isHidden());
  EXPECT_EQ(w->LogoFrame()->contentsRect().size(), QSize(0, 0));
}

TEST_F(MainCommands, ALogoThatDoesNotLoadHidesTheFrameAndKeepsThePath) {
  prompter.files.push_back(dir.File("missing.bmp"));
  auto w = Make();
  w->Action(commands::kSetLogoSource)->trigger();
  EXPECT_TRUE(w->LogoFrame()->isHidden());
  EXPECT_EQ(settings.logoPath, dir.File("missing.bmp"));
}

TEST_F(MainCommands, IconSourceKeepsThePathAndFallsBackToTheBuiltInIcon) {
  prompter.files.push_back(dir.File("broken.ico"));
  prompter.files.push_back(std::nullopt);  // the second choice is cancelled
  auto w = Make();
  w->Action(commands::kSetIconSource)->trigger();
  EXPECT_EQ(settings.iconPath, dir.File("broken.ico"));
  EXPECT_FALSE(w->windowIcon().isNull());
  w->Action(commands::kSetIconSource)->trigger();
  EXPECT_EQ(settings.iconPath, dir.File("broken.ico"));
}

// The icon and bitmap choices: their captions, both filters, the default
// suffix and initial name, in the folder of the file chosen before or else
// the program's folder.
TEST_F(MainCommands, IconAndLogoFileChoicesStartInTheFolderOfTheCurrentFile) {
  const std::string exeDir = QCoreApplication::applicationDirPath().toStdString();
  const std::string folder = dir.File("pictures");
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
  prompter.files = {folder + "/station.ico", std::nullopt, folder + "/station.bmp", std::nullopt};
  settings.logoPath = dir.File("gone/old.bmp");  // its folder is not there: the program's folder
  auto w = Make();
  w->Action(commands::kSetIconSource)->trigger();
  w->Action(commands::kSetIconSource)->trigger();
  w->Action(commands::kSetLogoSource)->trigger();
  w->Action(commands::kSetLogoSource)->trigger();
  ASSERT_EQ(prompter.requests.size(), 4u);
  const std::string icons = "Icon files (*.ico)|*.ico|All files (*.*)|*.*||";
  const std::string bitmaps = "Bitmap files (*.bmp)|*.bmp|All files (*.*)|*.*||";
  const struct {
    std::string title, filter, suffix, name, folder;
  } expected[] = {
      {"Select new icon file", icons, "ico", "*.ico", exeDir},
      {"Select new icon file", icons, "ico", "*.ico", folder},
      {"Select new bitmap file", bitmaps, "bmp", "*.bmp", exeDir},
      {"Select new bitmap file", bitmaps, "bmp", "*.bmp", folder},
  };
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const auto& r = prompter.requests[i];
    EXPECT_FALSE(r.save);
    EXPECT_EQ(r.title, expected[i].title);
    EXPECT_EQ(r.filter, expected[i].filter);
    EXPECT_EQ(r.suffix, expected[i].suffix);
    EXPECT_EQ(r.name, expected[i].name);
    EXPECT_EQ(r.folder, expected[i].folder);
  }
  EXPECT_EQ(settings.iconPath, folder + "/station.ico");  // a cancelled choice changes nothing
  EXPECT_EQ(settings.logoPath, folder + "/station.bmp");
}

TEST_F(MainCommands, ApplicationTitleBecomesTheCaptionAndTheAboutLine) {
  auto w = Make();
  EXPECT_EQ(w->windowTitle(), "Vecta transmitter control");
  ModalDriver title([](QWidget* dialog) {
    auto* d = qobject_cast<EnterValueDialog*>(dialog);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Field()->text(), "Vecta transmitter control");
    d->Field()->setText("Truck 4");
    d->accept();
  });
  w->Action(commands::kSetApplicationTitle)->trigger();
  EXPECT_EQ(settings.appTitle, "Truck 4");
  EXPECT_EQ(w->windowTitle(), "Truck 4");

  ModalDriver about([](QWidget* dialog) {
    auto* d = qobject_cast<AboutDialog*>(dialog);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->VersionLine(), "Truck 4 v2.7.3");
    d->accept();
  });
  w->Action(16)->trigger();
  EXPECT_TRUE(about.Ran());

  ModalDriver cancelled([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
  w->Action(commands::kSetApplicationTitle)->trigger();
  EXPECT_EQ(settings.appTitle, "Truck 4");
}

// The window system names a window without a caption after the program; an
// empty title must leave the caption blank instead.
TEST_F(MainCommands, EmptyApplicationTitleLeavesTheCaptionBlank) {
  settings.appTitle = "";
  auto w = Make();
  w->show();
  ASSERT_NE(w->windowHandle(), nullptr);
  EXPECT_FALSE(w->windowHandle()->title().isEmpty());
  EXPECT_EQ(w->windowHandle()->title().trimmed(), "");

  ModalDriver title([](QWidget* dialog) {
    auto* d = qobject_cast<EnterValueDialog*>(dialog);
    ASSERT_NE(d, nullptr);
    d->Field()->setText("Truck 4");
    d->accept();
  });
  w->Action(commands::kSetApplicationTitle)->trigger();
  EXPECT_EQ(w->windowHandle()->title(), "Truck 4");
  ModalDriver cleared([](QWidget* dialog) {
    auto* d = qobject_cast<EnterValueDialog*>(dialog);
    ASSERT_NE(d, nullptr);
    d->Field()->clear();
    d->accept();
  });
  w->Action(commands::kSetApplicationTitle)->trigger();
  EXPECT_EQ(settings.appTitle, "");
  EXPECT_FALSE(w->windowHandle()->title().isEmpty());
  EXPECT_EQ(w->windowHandle()->title().trimmed(), "");
}

}  // namespace
}  // namespace vecta::gui
