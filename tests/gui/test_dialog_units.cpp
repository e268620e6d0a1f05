// Dialog units: a font's base units and the pixels of a size given in them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include "gui/dialog_units.h"

namespace vecta::gui {
namespace {

TEST(DialogUnits, AQuarterCharacterAcrossAndAnEighthOfALineDownRoundedToPixels) {
  // A font of 7 x 16 pixels: 120 x 46 units are 210 x 92 pixels.
  EXPECT_EQ(DialogUnitsToPixels(QSize(120, 46), DialogBaseUnits{7, 16}), QSize(210, 92));
  // 120 * 6 / 4 = 180; 46 * 13 / 8 = 74.75, rounded up to 75.
  EXPECT_EQ(DialogUnitsToPixels(QSize(120, 46), DialogBaseUnits{6, 13}), QSize(180, 75));
  // 3 * 5 / 4 = 3.75 -> 4; 3 * 15 / 8 = 5.625 -> 6; halves go up: 2 * 6 / 4 = 3, 1 * 4 / 8 = 0.5 -> 1.
  EXPECT_EQ(DialogUnitsToPixels(QSize(3, 3), DialogBaseUnits{5, 15}), QSize(4, 6));
  EXPECT_EQ(DialogUnitsToPixels(QSize(1, 1), DialogBaseUnits{2, 4}), QSize(1, 1));
  // 46 * 14 / 8 = 80.5 -> 81; 1 * 13 / 8 = 1.625 -> 2; 0 is 0.
  EXPECT_EQ(DialogUnitsToPixels(QSize(1, 46), DialogBaseUnits{13, 14}), QSize(3, 81));
  EXPECT_EQ(DialogUnitsToPixels(QSize(0, 0), DialogBaseUnits{9, 20}), QSize(0, 0));
}

// The base units are the mean advance of the 52 letters (rounded) and the
// line height, so a larger font gives larger units.
TEST(DialogUnits, BaseUnitsComeFromTheFontsLettersAndLineHeight) {
  QFont font = QApplication::font();
  for (int points : {8, 9, 12, 20}) {
    SCOPED_TRACE(points);
    font.setPointSize(points);
    const QFontMetrics metrics(font);
    const double mean =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
    const DialogBaseUnits base = BaseUnitsOf(font);
    EXPECT_LE(std::abs(base.x - mean), 0.5 + 1.0 / 52) << "mean letter advance " << mean;
    EXPECT_GT(base.x, 0);
    EXPECT_EQ(base.y, metrics.height());
    EXPECT_EQ(DialogUnitsToPixels(QSize(120, 46), font), DialogUnitsToPixels(QSize(120, 46), base));
  }
  QFont small = QApplication::font(), large = QApplication::font();
  small.setPointSize(8);
  large.setPointSize(16);
  const QSize a = DialogUnitsToPixels(QSize(120, 46), small), b = DialogUnitsToPixels(QSize(120, 46), large);
  EXPECT_GT(b.width(), a.width());
  EXPECT_GT(b.height(), a.height());
}

// A window made to fit its title is at least as wide as the bold caption
// and room for a title bar's icon and buttons; a wider window stays wide.
TEST(DialogUnits, FitTitleMakesRoomForTheCaptionAndTheTitleBarButtons) {
  QFont bold = QApplication::font("QMdiSubWindowTitleBar");
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  // A box and a grid, each with contents narrower than the caption.
  QWidget boxed;
  boxed.setWindowTitle(QStringLiteral("Set logo dimensions"));
  (new QVBoxLayout(&boxed))->addWidget(new QLabel(QStringLiteral("x")));
  QWidget gridded;
  gridded.setWindowTitle(QStringLiteral("Set logo dimensions"));
  (new QGridLayout(&gridded))->addWidget(new QLabel(QStringLiteral("x")), 0, 0);
  for (QWidget* narrow : {&boxed, &gridded}) {
    FitTitle(narrow);
    narrow->layout()->activate();
    EXPECT_GE(narrow->minimumWidth(), metrics.horizontalAdvance(narrow->windowTitle()) + 4 * metrics.height());
    narrow->resize(10, 10);
    EXPECT_GE(narrow->width(), TitleBarWidth(narrow));
  }
}

TEST(DialogUnits, FitTitleLeavesContentsWiderThanTheCaptionTheirWidth) {
  // The layout keeps a window as wide as its contents need, also when they
  // grow after the title was fitted.
  QWidget wide;
  wide.setWindowTitle(QStringLiteral("A"));
  auto* layout = new QVBoxLayout(&wide);
  FitTitle(&wide);
  auto* content = new QWidget;
  content->setFixedWidth(1000);
  layout->addWidget(content);
  layout->activate();
  EXPECT_GE(wide.minimumWidth(), 1000);
  wide.resize(10, 10);
  EXPECT_GE(wide.width(), 1000);
}

}  // namespace
}  // namespace vecta::gui
