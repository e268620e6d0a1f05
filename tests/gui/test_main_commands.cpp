// The main window's menu bar, accelerators and toolbar, and the commands
// that need no unit: polling toggle, icon, logo, logo size, title, About.
#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QSpinBox>
#include <QTest>
#include <QToolBar>
#include <QWindow>

#include "gui/main_window.h"
#include "gui/shell_dialogs.h"
#include "link/serial_port.h"
#include "modal_driver.h"
#include "support/fake_link.h"
#include "support/recording_ui.h"

namespace vecta::gui {
namespace {

using test::RecordingPrompter;

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
  RecordingPrompter prompter;
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
  EXPECT_EQ(file, QStringList({"Set &icon source", "Set &logo source", "Set logo &size", "Set &application title",
                               "-", "E&xit"}));
  QStringList options;
  for (QAction* a : menus[1]->menu()->actions()) options << a->text();
  EXPECT_EQ(options, QStringList({"Engineering\tCtrl+E", "Disable polling\tCtrl+P", "Polling options\tCtrl+L",
                                  "Write encryption key\tCtrl+K", "Restore defaults\tCtrl+D", "Status monitor"}));
  const std::pair<int, const char*> keys[] = {
      {32778, "Ctrl+D"}, {32771, "Ctrl+E"}, {32772, "Ctrl+P"}, {32776, "Ctrl+L"}, {32775, "Ctrl+K"}};
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
  EXPECT_FALSE(w->Action(32773)->isVisible());
  EXPECT_TRUE(w->Action(32774)->isVisible());

  w->Action(32774)->trigger();  // "Disable polling"
  EXPECT_FALSE(settings.pollingEnabled);
  EXPECT_EQ(w->Action(32772)->text(), "Enable polling\tCtrl+P");
  EXPECT_EQ(w->PollingLabel()->text(), "Polling disabled");
  EXPECT_TRUE(w->Action(32773)->isVisible());
  EXPECT_FALSE(w->Action(32774)->isVisible());

  w->Action(32772)->trigger();  // the menu item
  EXPECT_TRUE(settings.pollingEnabled);
  EXPECT_EQ(w->Action(32772)->text(), "Disable polling\tCtrl+P");
  EXPECT_FALSE(w->Action(32773)->isVisible());
}

TEST_F(MainCommands, StartsFromAStoredDisabledPollingFlag) {
  settings.pollingEnabled = false;
  auto w = Make();
  EXPECT_EQ(w->PollingLabel()->text(), "Polling disabled");
  EXPECT_EQ(w->Action(32772)->text(), "Enable polling\tCtrl+P");
  EXPECT_TRUE(w->Action(32773)->isVisible());
  EXPECT_FALSE(w->Action(32774)->isVisible());
}

TEST_F(MainCommands, CommandsThatNeedAUnitSayThereIsNone) {
  auto w = Make();
  w->Action(32775)->trigger();  // Write encryption key
  w->Action(32778)->trigger();  // Restore defaults
  ASSERT_TRUE(w->WaitIdle(2000));
  w->Action(32779)->trigger();  // Status monitor
  EXPECT_EQ(w->StatusMonitor(), nullptr);
  ASSERT_EQ(prompter.messages.size(), 3u);
  for (const auto& m : prompter.messages) {
    EXPECT_EQ(m.title, "Error");
    EXPECT_EQ(m.text, "No connection currently");
    EXPECT_EQ(m.icon, params::MessageIcon::Exclamation);
  }
}

TEST_F(MainCommands, LogoIsLimitedToItsFrameAndCentredInIt) {
  const std::string bmp = dir.File("logo.bmp");
  QImage image(200, 100, QImage::Format_RGB32);
  image.fill(Qt::darkCyan);
  ASSERT_TRUE(image.save(QString::fromStdString(bmp), "BMP"));
  settings.logoPath = bmp;
  auto w = Make();
  QLabel* logo = w->LogoFrame();
  EXPECT_FALSE(logo->isHidden());
  EXPECT_EQ(logo->size(), QSize(70, 46));  // -1 is 70; the frame is 46 high
  EXPECT_EQ(logo->pos(), QPoint(60 - 35, 0));

  // "Set logo size": entries above the frame are cut to it.
  ModalDriver driver([](QWidget* dialog) {
    auto* d = qobject_cast<LogoSizeDialog*>(dialog);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->WidthBox()->maximum(), 120);
    EXPECT_EQ(d->HeightBox()->maximum(), 46);
    d->WidthBox()->setValue(999);
    d->HeightBox()->setValue(20);
    d->accept();
  });
  w->Action(32804)->trigger();
  EXPECT_TRUE(driver.Ran());
  EXPECT_EQ(settings.logoWidth, 120);
  EXPECT_EQ(settings.logoHeight, 20);
  EXPECT_EQ(logo->geometry(), QRect(0, 23 - 10, 120, 20));
}

TEST_F(MainCommands, ZeroLogoSizeHidesTheLogoButKeepsTheFrame) {
  const std::string bmp = dir.File("logo.bmp");
  QImage image(10, 10, QImage::Format_RGB32);
  image.fill(Qt::red);
  ASSERT_TRUE(image.save(QString::fromStdString(bmp), "BMP"));
  settings.logoPath = bmp;
  settings.logoWidth = 0;
  settings.logoHeight = 0;
  auto w = Make();
  EXPECT_FALSE(w->LogoFrame()->isHidden());
  EXPECT_EQ(w->LogoFrame()->size(), QSize(0, 0));
}

TEST_F(MainCommands, ALogoThatDoesNotLoadHidesTheFrameAndKeepsThePath) {
  prompter.files.push_back(dir.File("missing.bmp"));
  auto w = Make();
  w->Action(32803)->trigger();
  EXPECT_TRUE(w->LogoFrame()->isHidden());
  EXPECT_EQ(settings.logoPath, dir.File("missing.bmp"));
}

TEST_F(MainCommands, IconSourceKeepsThePathAndFallsBackToTheBuiltInIcon) {
  prompter.files.push_back(dir.File("broken.ico"));
  prompter.files.push_back(std::nullopt);  // the second choice is cancelled
  auto w = Make();
  w->Action(32800)->trigger();
  EXPECT_EQ(settings.iconPath, dir.File("broken.ico"));
  EXPECT_FALSE(w->windowIcon().isNull());
  w->Action(32800)->trigger();
  EXPECT_EQ(settings.iconPath, dir.File("broken.ico"));
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
  w->Action(32802)->trigger();
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
  w->Action(32802)->trigger();
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
  w->Action(32802)->trigger();
  EXPECT_EQ(w->windowHandle()->title(), "Truck 4");
  ModalDriver cleared([](QWidget* dialog) {
    auto* d = qobject_cast<EnterValueDialog*>(dialog);
    ASSERT_NE(d, nullptr);
    d->Field()->clear();
    d->accept();
  });
  w->Action(32802)->trigger();
  EXPECT_EQ(settings.appTitle, "");
  EXPECT_FALSE(w->windowHandle()->title().isEmpty());
  EXPECT_EQ(w->windowHandle()->title().trimmed(), "");
}

}  // namespace
}  // namespace vecta::gui
