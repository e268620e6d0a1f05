// The main window's command dialogs: polling options, key writing, logo
// size, "Enter value" and the About box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <functional>
#include <memory>

#include "gui/qt_control_host.h"
#include "gui/qt_prompter.h"
#include "gui/settings_windows.h"
#include "gui/shell_dialogs.h"
#include "support/recording_ui.h"

namespace vecta::gui {
namespace {

using test::RecordingPrompter;

QPushButton* ButtonWithId(QWidget* root, int id) {
  return qobject_cast<QPushButton*>(QtControlHost(root).Find(id));
}

TEST(PollingOptionsDialog, OpensWithTheSettingsAndAppliesFlagsAndInterval) {
  app::AppSettings settings;
  settings.pollChainingStatus = false;
  settings.pollingIntervalMs = 2000;
  RecordingPrompter prompter;
  int applied = 0;
  PollingOptionsDialog dialog(
      settings, prompter, [&] { ++applied; }, nullptr);

  EXPECT_EQ(dialog.Tabs()->tabText(0), "Polling list");
  EXPECT_EQ(dialog.Tabs()->tabText(1), "Miscellaneous");
  EXPECT_TRUE(dialog.Flag(0)->isChecked());
  EXPECT_FALSE(dialog.Flag(1)->isChecked());
  EXPECT_EQ(QtControlHost(&dialog).Find(PollingOptionsDialog::kFirstFlagId + 10), dialog.Flag(1));
  EXPECT_EQ(dialog.Interval()->text(), "2000");
  EXPECT_EQ(dialog.Interval()->maxLength(), 7);
  EXPECT_FALSE(dialog.ApplyButton()->isEnabled());

  dialog.Flag(0)->click();  // a click enables Apply
  EXPECT_TRUE(dialog.ApplyButton()->isEnabled());
  dialog.Interval()->setText("500");
  dialog.ApplyButton()->click();
  EXPECT_FALSE(settings.pollVideoLock);
  EXPECT_EQ(settings.pollingIntervalMs, 500);
  EXPECT_EQ(applied, 1);
  EXPECT_FALSE(dialog.ApplyButton()->isEnabled());
  EXPECT_TRUE(prompter.messages.empty());
}

TEST(PollingOptionsDialog, RefusesZeroLettersAndNegativeIntervalsButAppliesTheFlags) {
  for (const char* text : {"0", "", "abc", "-500", "-1"}) {
    SCOPED_TRACE(text);
    app::AppSettings settings;
    RecordingPrompter prompter;
    PollingOptionsDialog dialog(settings, prompter, nullptr, nullptr);
    QTest::keyClicks(dialog.Interval(), "x");  // enables Apply as typing does
    dialog.Interval()->setText(QString::fromLatin1(text));
    dialog.Flag(2)->setChecked(false);
    dialog.ApplyButton()->click();
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].title, "Error");
    EXPECT_EQ(prompter.messages[0].text, "Invalid polling interval");
    EXPECT_EQ(prompter.messages[0].icon, params::MessageIcon::Exclamation);
    EXPECT_EQ(settings.pollingIntervalMs, 2000);
    EXPECT_FALSE(settings.pollRfOutput);
    EXPECT_FALSE(dialog.ApplyButton()->isEnabled());
  }
}

TEST(PollingOptionsDialog, OkAppliesAndClosesCancelKeepsWhatWasApplied) {
  app::AppSettings settings;
  RecordingPrompter prompter;
  {
    PollingOptionsDialog dialog(settings, prompter, nullptr, nullptr);
    dialog.Interval()->setText("750");
    dialog.ApplyButton()->setEnabled(true);
    dialog.ApplyButton()->click();
    dialog.Interval()->setText("900");
    ButtonWithId(&dialog, 2)->click();  // Cancel
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
  }
  EXPECT_EQ(settings.pollingIntervalMs, 750);
  {
    PollingOptionsDialog dialog(settings, prompter, nullptr, nullptr);
    dialog.Interval()->setText("letters");
    ButtonWithId(&dialog, 1)->click();  // OK: the message, then closed all the same
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
  }
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Invalid polling interval"});
  EXPECT_EQ(settings.pollingIntervalMs, 750);
}

TEST(WriteKeyDialog, FieldRulesFollowTheKeyType) {
  RecordingPrompter prompter;
  WriteKeyDialog aes256(app::KeyType::Aes256, prompter, nullptr);
  EXPECT_EQ(aes256.TypeList()->currentText(), "AES256");
  EXPECT_EQ(aes256.FirstLabel()->text(), "AES256 key (lower)");
  EXPECT_FALSE(aes256.SecondField()->isHidden());
  EXPECT_FALSE(aes256.SecondLabel()->isHidden());
  EXPECT_EQ(aes256.SecondLabel()->text(), "AES256 key (upper)");
  EXPECT_EQ(aes256.FirstField()->maxLength(), 32);
  EXPECT_EQ(aes256.SecondField()->maxLength(), 32);

  WriteKeyDialog dialog(app::KeyType::Aes128, prompter, nullptr);
  EXPECT_EQ(dialog.FirstLabel()->text(), "AES128 key");
  EXPECT_TRUE(dialog.SecondField()->isHidden());
  dialog.FirstField()->setText("0123456789abcdef0123456789ABCDEF");
  dialog.TypeList()->setCurrentIndex(0);  // ABS keeps the first 8 characters
  EXPECT_EQ(dialog.FirstLabel()->text(), "ABS key");
  EXPECT_EQ(dialog.FirstField()->text(), "01234567");
  EXPECT_EQ(dialog.FirstField()->maxLength(), 8);
  EXPECT_TRUE(dialog.SecondLabel()->isHidden());
}

TEST(WriteKeyDialog, RefusesShortAndNonHexKeysAndStaysOpen) {
  struct Case {
    app::KeyType type;
    QString first, second;
    const char* message;  // null: accepted
  };
  const QString k32 = QStringLiteral("0123456789abcdef0123456789ABCDEF");
  const Case cases[] = {
      {app::KeyType::Abs, "1234567", "", "ABS key must be 8 hex digits"},
      {app::KeyType::Abs, "1234567g", "", "Invalid characters in hex field"},
      {app::KeyType::Abs, "89abCDEF", "", nullptr},
      {app::KeyType::Aes128, k32.left(31), "", "AES key must be 32 hex digits"},
      {app::KeyType::Aes128, k32.left(31) + "g", "", "Invalid characters in hex field"},
      {app::KeyType::Aes128, k32, "", nullptr},
      {app::KeyType::Aes256, k32, k32.left(31), "AES key must be 32 hex digits in each field"},
      {app::KeyType::Aes256, k32, k32.left(31) + "z", "Invalid characters in hex field"},
      {app::KeyType::Aes256, k32, "FEDCBA9876543210fedcba9876543210", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first.toStdString() + " / " + c.second.toStdString());
    RecordingPrompter prompter;
    WriteKeyDialog dialog(c.type, prompter, nullptr);
    dialog.FirstField()->setText(c.first);
    dialog.SecondField()->setText(c.second);
    ButtonWithId(&dialog, 1)->click();
    if (c.message) {
      ASSERT_EQ(prompter.messages.size(), 1u);
      EXPECT_EQ(prompter.messages[0].title, "Error");
      EXPECT_EQ(prompter.messages[0].text, c.message);
      EXPECT_NE(dialog.result(), QDialog::Accepted);
      EXPECT_EQ(dialog.FirstField()->text(), c.first);  // what was typed stays
    } else {
      EXPECT_TRUE(prompter.messages.empty());
      EXPECT_EQ(dialog.result(), QDialog::Accepted);
      EXPECT_EQ(dialog.Type(), c.type);
      EXPECT_EQ(dialog.FirstKey(), c.first.toStdString());
      EXPECT_EQ(dialog.SecondKey(), c.second.toStdString());
    }
  }
}

// A typed number stays whole, larger than the frame or not: the main
// window limits it. Only digits are taken. The arrows step from 0 to the
// frame's size.
TEST(LogoSizeDialog, TypedNumbersStayWholeAndTheArrowsStayWithinTheFrame) {
  LogoSizeDialog dialog(70, 40, 120, 46, nullptr);
  EXPECT_EQ(dialog.windowTitle(), "Set logo dimensions");
  EXPECT_EQ(QtControlHost(&dialog).Find(LogoSizeDialog::kHeightId), dialog.HeightBox());
  EXPECT_EQ(QtControlHost(&dialog).Find(LogoSizeDialog::kWidthId), dialog.WidthBox());
  EXPECT_EQ(dialog.WidthBox()->text(), "70");
  EXPECT_EQ(dialog.HeightBox()->text(), "40");
  EXPECT_EQ(dialog.WidthBox()->Maximum(), 120);
  EXPECT_EQ(dialog.HeightBox()->Maximum(), 46);

  dialog.HeightBox()->selectAll();
  QTest::keyClicks(dialog.HeightBox(), "200");
  EXPECT_EQ(dialog.HeightBox()->text(), "200");
  EXPECT_EQ(dialog.LogoHeight(), 200);
  dialog.WidthBox()->selectAll();
  QTest::keyClicks(dialog.WidthBox(), "-1x5 ");
  EXPECT_EQ(dialog.WidthBox()->text(), "15");
  EXPECT_EQ(dialog.LogoWidth(), 15);

  QTest::keyClick(dialog.HeightBox(), Qt::Key_Up);  // above the frame: no step up
  EXPECT_EQ(dialog.HeightBox()->text(), "200");
  QTest::keyClick(dialog.HeightBox(), Qt::Key_Down);  // down from the frame's size
  EXPECT_EQ(dialog.HeightBox()->text(), "45");
  QTest::keyClick(dialog.HeightBox(), Qt::Key_Up);
  QTest::keyClick(dialog.HeightBox(), Qt::Key_Up);
  EXPECT_EQ(dialog.HeightBox()->text(), "46");
  dialog.HeightBox()->selectAll();
  QTest::keyClicks(dialog.HeightBox(), "0");
  QTest::keyClick(dialog.HeightBox(), Qt::Key_Down);
  EXPECT_EQ(dialog.HeightBox()->text(), "0");
  dialog.WidthBox()->selectAll();
  QTest::keyClick(dialog.WidthBox(), Qt::Key_Backspace);
  EXPECT_EQ(dialog.LogoWidth(), 0);  // nothing typed reads as 0
}

TEST(EnterValueDialog, LimitsTheTextAndAcceptsAnEmptyOne) {
  EnterValueDialog dialog(QStringLiteral("Enter the new application title"), QStringLiteral("Old"), 32, nullptr);
  EXPECT_EQ(qobject_cast<QLabel*>(QtControlHost(&dialog).Find(EnterValueDialog::kPromptId))->text(),
            "Enter the new application title");
  EXPECT_EQ(dialog.Value(), "Old");
  dialog.Field()->clear();
  QTest::keyClicks(dialog.Field(), QString(40, QLatin1Char('x')));
  EXPECT_EQ(dialog.Value().size(), 32);
  dialog.Field()->clear();
  EXPECT_EQ(dialog.Value(), "");
}

TEST(AboutDialog, VersionLineIsTheTitleAndTheVersion) {
  AboutDialog dialog(QStringLiteral("Vecta transmitter control"), QIcon(), nullptr);
  EXPECT_EQ(dialog.windowTitle(), "About transmitter control");
  EXPECT_EQ(dialog.VersionLine(), "Vecta transmitter control v2.7.3");
  EXPECT_EQ(qobject_cast<QLabel*>(QtControlHost(&dialog).Find(AboutDialog::kVersionId))->text(),
            dialog.VersionLine());
}

// ------------------------------------------------------------ dialog sizes

// What an operator sees of a control: buttons, edits, lists, texts.
bool IsControl(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return !label->text().isEmpty() || !label->pixmap().isNull();
  return qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
         qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QTabWidget*>(w) || qobject_cast<QProgressBar*>(w);
}

// A window, a group box, a page of a tab widget or a frame with a border.
bool IsFramed(QWidget* w, QWidget* window) {
  if (w == window || qobject_cast<QGroupBox*>(w)) return true;
  if (qobject_cast<QStackedWidget*>(w->parentWidget()) &&
      qobject_cast<QTabWidget*>(w->parentWidget()->parentWidget()))
    return true;
  auto* frame = qobject_cast<QFrame*>(w);
  return frame && !qobject_cast<QLabel*>(w) && frame->frameShape() != QFrame::NoFrame;
}

// The room a title bar needs beside the bold caption: an icon and three
// buttons of about a line and a half each.
int TitleBarNeeds(const QWidget* window) {
  QFont bold = QApplication::font("QMdiSubWindowTitleBar");
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  return metrics.horizontalAdvance(window->windowTitle()) + 6 * metrics.height();
}

// A shown window: its caption fits, no button is stretched across it and
// every control keeps a margin inside the nearest window, group box, tab
// page or frame around it.
void ExpectSizedToContent(QWidget* window) {
  SCOPED_TRACE(window->windowTitle().toStdString());
  window->show();
  QApplication::processEvents();
  EXPECT_GE(window->width(), TitleBarNeeds(window));
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window) || !IsControl(w)) continue;
    const std::string what = w->metaObject()->className() + std::string(" ") +
                             (qobject_cast<QAbstractButton*>(w) ? qobject_cast<QAbstractButton*>(w)->text()
                              : qobject_cast<QLabel*>(w)        ? qobject_cast<QLabel*>(w)->text()
                                                                : QString())
                                 .toStdString();
    if (auto* button = qobject_cast<QPushButton*>(w)) {
      EXPECT_LT(button->width(), window->width() / 2) << what;
    }
    QWidget* frame = w->parentWidget();
    while (!IsFramed(frame, window)) frame = frame->parentWidget();
    const QRect inside = frame->contentsRect().adjusted(2, 2, -2, -2);
    const QRect at(w->mapTo(frame, QPoint(0, 0)), w->size());
    EXPECT_TRUE(inside.contains(at)) << what << " at " << at.x() << "," << at.y() << " " << at.width() << "x"
                                     << at.height() << " in " << frame->metaObject()->className() << " "
                                     << frame->width() << "x" << frame->height();
  }
}

TEST(DialogSizes, EachSmallDialogIsSizedToItsContentAndCaption) {
  app::AppSettings settings;
  RecordingPrompter prompter;
  ExpectSizedToContent(std::make_unique<LogoSizeDialog>(70, 46, 210, 92, nullptr).get());
  ExpectSizedToContent(std::make_unique<EnterValueDialog>(QStringLiteral("Enter the new application title"),
                                                          QStringLiteral("Vecta transmitter control"), 32, nullptr)
                           .get());
  ExpectSizedToContent(
      std::make_unique<AboutDialog>(QStringLiteral("Vecta transmitter control"), QIcon(), nullptr).get());
  {
    PollingOptionsDialog polling(settings, prompter, nullptr, nullptr);
    ExpectSizedToContent(&polling);
    polling.Tabs()->setCurrentIndex(1);
    ExpectSizedToContent(&polling);
  }
  for (app::KeyType type : {app::KeyType::Abs, app::KeyType::Aes128, app::KeyType::Aes256})
    ExpectSizedToContent(std::make_unique<WriteKeyDialog>(type, prompter, nullptr).get());
  auto* satmod = new SatmodWindow(QIcon());  // deletes itself when closed
  ExpectSizedToContent(satmod);
  satmod->close();
}

// The Advanced options window on each variant, page by page.
TEST(DialogSizes, AdvancedOptionsPagesKeepTheirControlsOffTheEdges) {
  for (const char* board : {"K240", "K610", "K999"}) {
    SCOPED_TRACE(board);
    params::ParamTables tables;
    RecordingPrompter prompter;
    params::UnitContext unit;
    unit.tables = &tables;
    unit.prompter = &prompter;
    unit.boardType = board;
    auto* window = new AdvancedOptionsWindow(unit, QIcon());  // deletes itself when closed
    for (int page = 0; page < AdvancedOptionsWindow::kPageCount; ++page) {
      SCOPED_TRACE(page);
      window->Tabs()->setCurrentIndex(page);
      ExpectSizedToContent(window);
    }
    window->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

// The key dialog takes the height of what it shows: the space of the upper
// AES256 key goes with the field.
TEST(DialogSizes, KeyDialogShrinksBackWhenTheSecondFieldHides) {
  RecordingPrompter prompter;
  WriteKeyDialog dialog(app::KeyType::Aes256, prompter, nullptr);
  dialog.show();
  QApplication::processEvents();
  const QSize tall = dialog.size();
  WriteKeyDialog aes128(app::KeyType::Aes128, prompter, nullptr);
  aes128.show();
  QApplication::processEvents();
  ASSERT_LT(aes128.height(), tall.height());

  dialog.TypeList()->setCurrentIndex(1);  // AES128: one field
  QApplication::processEvents();
  EXPECT_TRUE(dialog.SecondField()->isHidden());
  EXPECT_EQ(dialog.height(), aes128.height());
  EXPECT_EQ(dialog.size(), dialog.sizeHint().expandedTo(dialog.minimumSize()));
  dialog.TypeList()->setCurrentIndex(0);  // ABS
  QApplication::processEvents();
  EXPECT_EQ(dialog.height(), aes128.height());
  dialog.TypeList()->setCurrentIndex(2);  // AES256 again
  QApplication::processEvents();
  EXPECT_EQ(dialog.size(), tall);
}

}  // namespace
}  // namespace vecta::gui
