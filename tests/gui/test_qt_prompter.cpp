#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "gui/qt_control_host.h"
#include "gui/qt_prompter.h"
#include "link/link_errors.h"
#include "modal_driver.h"
#include "params/config_file.h"
#include "support/fake_link.h"

using vecta::gui::QtControlHost;
using vecta::gui::QtPrompter;
using vecta::params::Answer;
using vecta::params::MessageButtons;
using vecta::params::MessageIcon;

namespace {

// What the message box looked like when it came up.
struct Seen {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  Qt::TextFormat format = Qt::AutoText;
  QWidget* parent = nullptr;
  bool modal = false;
};

// Answers the next message box by clicking `click` (NoButton: closes it
// with Escape, as the operator's close does) and records what it showed.
std::unique_ptr<ModalDriver> AnswerNext(Seen& seen, QMessageBox::StandardButton click) {
  return std::make_unique<ModalDriver>([&seen, click](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr) << "not a message box";
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.format = box->textFormat();
    seen.parent = box->parentWidget();
    seen.modal = box->isModal();
    if (click == QMessageBox::NoButton) {
      box->reject();
    } else {
      QAbstractButton* b = box->button(click);
      ASSERT_NE(b, nullptr) << "no such button";
      b->click();
    }
  });
}

}  // namespace

TEST(QtPrompter, ErrorBoxHasExclamationIconAndOk) {
  QWidget parent;
  QtPrompter prompter(&parent);
  Seen seen;
  auto driver = AnswerNext(seen, QMessageBox::Ok);
  EXPECT_EQ(prompter.Message("Error", "Unable to open file for writing", MessageIcon::Exclamation), Answer::Ok);
  ASSERT_TRUE(driver->Ran());
  EXPECT_EQ(seen.title, QStringLiteral("Error"));
  EXPECT_EQ(seen.text, QStringLiteral("Unable to open file for writing"));
  EXPECT_EQ(seen.icon, QMessageBox::Warning);
  EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(seen.parent, &parent);
  EXPECT_TRUE(seen.modal);
}

// Messages and questions open over the window the operator is using, not
// over the main window behind it.
TEST(QtPrompter, MessagesOpenOverTheWindowInUse) {
  QWidget main;
  main.show();
  QtPrompter prompter(&main);
  QWidget inUse;
  inUse.show();
  for (MessageButtons buttons : {MessageButtons::Ok, MessageButtons::YesNoCancel}) {
    inUse.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&inUse));
    Seen seen;
    auto driver = AnswerNext(seen, buttons == MessageButtons::Ok ? QMessageBox::Ok : QMessageBox::Cancel);
    prompter.Message("Error", "Value 200 is invalid.", MessageIcon::Exclamation, buttons);
    ASSERT_TRUE(driver->Ran());
    EXPECT_EQ(seen.parent, &inUse);
  }
}

TEST(QtPrompter, AlertNoticeHasInformationIcon) {
  QWidget parent;
  QtPrompter prompter(&parent);
  Seen seen;
  auto driver = AnswerNext(seen, QMessageBox::Ok);
  EXPECT_EQ(prompter.Message("Alert", "Config set saved", MessageIcon::Information, MessageButtons::Ok),
            Answer::Ok);
  ASSERT_TRUE(driver->Ran());
  EXPECT_EQ(seen.title, QStringLiteral("Alert"));
  EXPECT_EQ(seen.text, QStringLiteral("Config set saved"));
  EXPECT_EQ(seen.icon, QMessageBox::Information);
  EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST(QtPrompter, QuestionAnswersYesOrNo) {
  QWidget parent;
  QtPrompter prompter(&parent);
  const QMessageBox::StandardButtons yesNo = QMessageBox::Yes | QMessageBox::No;
  {
    Seen seen;
    auto driver = AnswerNext(seen, QMessageBox::Yes);
    EXPECT_EQ(prompter.Message("Alert", "Overwrite?", MessageIcon::Question, MessageButtons::YesNo), Answer::Yes);
    ASSERT_TRUE(driver->Ran());
    EXPECT_EQ(seen.title, QStringLiteral("Alert"));
    EXPECT_EQ(seen.text, QStringLiteral("Overwrite?"));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, yesNo);
  }
  {
    Seen seen;
    auto driver = AnswerNext(seen, QMessageBox::No);
    EXPECT_EQ(prompter.Message("Alert", "Overwrite?", MessageIcon::Question, MessageButtons::YesNo), Answer::No);
    ASSERT_TRUE(driver->Ran());
    EXPECT_EQ(seen.buttons, yesNo);
  }
  {
    Seen seen;  // closed without choosing
    auto driver = AnswerNext(seen, QMessageBox::NoButton);
    EXPECT_EQ(prompter.Message("Alert", "Overwrite?", MessageIcon::Question, MessageButtons::YesNo), Answer::No);
    ASSERT_TRUE(driver->Ran());
  }
}

TEST(QtPrompter, SaveQuestionAnswersYesNoOrCancel) {
  QWidget parent;
  QtPrompter prompter(&parent);
  const QMessageBox::StandardButtons three = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  const std::pair<QMessageBox::StandardButton, Answer> cases[] = {{QMessageBox::Yes, Answer::Yes},
                                                                  {QMessageBox::No, Answer::No},
                                                                  {QMessageBox::Cancel, Answer::Cancel},
                                                                  {QMessageBox::NoButton, Answer::Cancel}};
  for (const auto& [button, answer] : cases) {
    Seen seen;
    auto driver = AnswerNext(seen, button);
    EXPECT_EQ(prompter.Message("Alert", "Save the changes to a.cfg?", MessageIcon::Question,
                               MessageButtons::YesNoCancel),
              answer);
    ASSERT_TRUE(driver->Ran());
    EXPECT_EQ(seen.text, QStringLiteral("Save the changes to a.cfg?"));
    EXPECT_EQ(seen.buttons, three);
  }
}

TEST(QtPrompter, TextIsShownAsPlainText) {
  QtPrompter prompter(nullptr);
  Seen seen;
  auto driver = AnswerNext(seen, QMessageBox::Ok);
  prompter.Message("Error", "<b>1 < 2</b>", MessageIcon::Exclamation);
  ASSERT_TRUE(driver->Ran());
  EXPECT_EQ(seen.text, QStringLiteral("<b>1 < 2</b>"));
  EXPECT_EQ(seen.format, Qt::PlainText);
  EXPECT_EQ(seen.parent, nullptr);
}

TEST(ShowLinkError, ShowsTheCodesTextAsAnError) {
  QWidget parent;
  struct Case {
    std::uint32_t code;
    const char* text;
  };
  for (const Case& c : {Case{vecta::link::kErrOpenPort, "Unable to open serial port"},
                        Case{vecta::link::kErrNoEtx, "Invalid response message received from unit"},
                        Case{1, "Error occurred sending message"}}) {
    Seen seen;
    auto driver = AnswerNext(seen, QMessageBox::Ok);
    vecta::gui::ShowLinkError(&parent, c.code);
    ASSERT_TRUE(driver->Ran());
    EXPECT_EQ(seen.title, QStringLiteral("Error"));
    EXPECT_EQ(seen.text, QString::fromLatin1(c.text));
    EXPECT_EQ(seen.text, QString::fromLatin1(vecta::link::LinkErrorText(c.code)));
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(seen.parent, &parent);
  }
}

TEST(QtPrompter, PleaseWaitWindowOfAModeChange) {
  QWidget parent;
  parent.show();
  QtPrompter prompter(&parent);
  EXPECT_EQ(prompter.ProgressWindow(), nullptr);
  prompter.BeginProgress(vecta::params::kPleaseWaitTitle, vecta::params::kPleaseWaitText, 0);
  QPointer<QWidget> window = prompter.ProgressWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Please wait"));
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->isWindow());
  EXPECT_FALSE(window->isModal());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(window->parentWidget(), &parent);
  // Shown and exposed before BeginProgress returned.
  EXPECT_TRUE(window->testAttribute(Qt::WA_Mapped));

  QtControlHost host(window);
  ASSERT_TRUE(host.HasControl(vecta::gui::kProgressTextId));
  ASSERT_TRUE(host.HasControl(vecta::gui::kProgressBarId));
  EXPECT_EQ(host.Text(vecta::gui::kProgressTextId), "Please wait while the unit changes mode...");
  auto* label = qobject_cast<QLabel*>(host.Find(vecta::gui::kProgressTextId));
  ASSERT_NE(label, nullptr);
  EXPECT_TRUE(label->isVisible());
  auto* bar = qobject_cast<QProgressBar*>(host.Find(vecta::gui::kProgressBarId));
  ASSERT_NE(bar, nullptr);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_FALSE(host.IsVisible(vecta::gui::kProgressBarId));

  // The load goes on: the window has no close box and stays when asked to close.
  EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());

  prompter.SetProgress(1);  // no bar to move, no harm
  prompter.EndProgress();
  EXPECT_EQ(prompter.ProgressWindow(), nullptr);
  EXPECT_TRUE(window.isNull());  // destroyed, not just hidden
  prompter.EndProgress();
  prompter.SetProgress(2);
}

TEST(QtPrompter, ProgressWindowOfAConfigSetTransfer) {
  QWidget parent;
  QtPrompter prompter(&parent);
  prompter.BeginProgress("Please wait", "Please wait while configs are read and saved...", 9);
  QPointer<QWidget> window = prompter.ProgressWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Please wait"));
  QtControlHost host(window);
  EXPECT_EQ(host.Text(vecta::gui::kProgressTextId), "Please wait while configs are read and saved...");
  auto* bar = qobject_cast<QProgressBar*>(host.Find(vecta::gui::kProgressBarId));
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 9);
  EXPECT_EQ(bar->value(), 0);
  prompter.SetProgress(3);
  EXPECT_EQ(bar->value(), 3);
  prompter.SetProgress(9);
  EXPECT_EQ(bar->value(), 9);

  // One at a time: a new one replaces it.
  prompter.BeginProgress("Please wait", "Please wait while configs are read and sent...", 17);
  EXPECT_TRUE(window.isNull());
  ASSERT_NE(prompter.ProgressWindow(), nullptr);
  QtControlHost second(prompter.ProgressWindow());
  EXPECT_EQ(second.Text(vecta::gui::kProgressTextId), "Please wait while configs are read and sent...");
  auto* bar2 = qobject_cast<QProgressBar*>(second.Find(vecta::gui::kProgressBarId));
  ASSERT_NE(bar2, nullptr);
  EXPECT_EQ(bar2->maximum(), 17);
  EXPECT_EQ(bar2->value(), 0);
}

TEST(QtPrompter, ProgressWindowGoesWithThePrompter) {
  QWidget parent;
  QPointer<QWidget> window;
  {
    QtPrompter prompter(&parent);
    prompter.BeginProgress("Please wait", "Working", 0);
    window = prompter.ProgressWindow();
    ASSERT_FALSE(window.isNull());
  }
  EXPECT_TRUE(window.isNull());
}

TEST(QtPrompter, FileFilters) {
  EXPECT_EQ(vecta::gui::ToQtFileFilter("Config files (*.cfg)"), QStringLiteral("Config files (*.cfg)"));
  EXPECT_EQ(vecta::gui::ToQtFileFilter("Config files (*.cfg)|*.cfg|All files (*.*)|*.*||"),
            QStringLiteral("Config files (*.cfg);;All files (*.*)"));
}

// The file dialogs: the filter and mode they come up with, and no file when
// the operator cancels. (Accepting a name is left to the windows' tests: the
// widget dialog lists directories in the background, which makes a scripted
// choice racy on the offscreen platform.)
TEST(QtPrompter, FileDialogsTakeTheFilterAndCancelGivesNoFile) {
  QWidget parent;
  QtPrompter prompter(&parent);
  QStringList filters;
  QFileDialog::AcceptMode mode = QFileDialog::AcceptSave;
  QWidget* dialogParent = nullptr;
  auto cancel = [&] {
    return std::make_unique<ModalDriver>([&](QWidget* w) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      ASSERT_NE(dialog, nullptr) << "not a file dialog";
      filters = dialog->nameFilters();
      mode = dialog->acceptMode();
      dialogParent = dialog->parentWidget();
      dialog->reject();
    });
  };
  {
    auto driver = cancel();
    EXPECT_FALSE(prompter.ChooseFileToOpen("Config files (*.cfg)|*.cfg|All files (*.*)|*.*||").has_value());
    ASSERT_TRUE(driver->Ran());
    EXPECT_EQ(filters, QStringList({QStringLiteral("Config files (*.cfg)"), QStringLiteral("All files (*.*)")}));
    EXPECT_EQ(mode, QFileDialog::AcceptOpen);
    EXPECT_EQ(dialogParent, &parent);
  }
  {
    auto driver = cancel();
    EXPECT_FALSE(prompter.ChooseFileToSave("Config files (*.cfg)").has_value());
    ASSERT_TRUE(driver->Ran());
    EXPECT_EQ(filters, QStringList({QStringLiteral("Config files (*.cfg)")}));
    EXPECT_EQ(mode, QFileDialog::AcceptSave);
  }
}

// The configuration file and set dialogs: caption, both filters and the
// default suffix, in the mode of the operation.
TEST(QtPrompter, ConfigFileDialogsCarryTitleFiltersAndSuffix) {
  QWidget parent;
  QtPrompter prompter(&parent);
  struct Seen {
    QString title, suffix;
    QStringList filters;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
  } seen;
  auto cancel = [&] {
    return std::make_unique<ModalDriver>([&](QWidget* w) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      ASSERT_NE(dialog, nullptr) << "not a file dialog";
      seen = {dialog->windowTitle(), dialog->defaultSuffix(), dialog->nameFilters(), dialog->acceptMode()};
      dialog->reject();
    });
  };
  const QStringList both{QStringLiteral("Config files (*.cfg)"), QStringLiteral("All files (*)")};
  {
    auto driver = cancel();
    EXPECT_FALSE(prompter.ChooseFile(vecta::params::ConfigSaveRequest()).has_value());
    ASSERT_TRUE(driver->Ran());
    EXPECT_EQ(seen.title, QStringLiteral("Select a file to save to"));
    EXPECT_EQ(seen.suffix, QStringLiteral("cfg"));
    EXPECT_EQ(seen.filters, both);
    EXPECT_EQ(seen.mode, QFileDialog::AcceptSave);
  }
  {
    auto driver = cancel();
    EXPECT_FALSE(prompter.ChooseFile(vecta::params::ConfigLoadRequest()).has_value());
    ASSERT_TRUE(driver->Ran());
    EXPECT_EQ(seen.title, QStringLiteral("Select a file to load from"));
    EXPECT_EQ(seen.suffix, QStringLiteral("cfg"));
    EXPECT_EQ(seen.filters, both);
    EXPECT_EQ(seen.mode, QFileDialog::AcceptOpen);
  }
}

// The icon and bitmap dialogs: caption, filters, default suffix, and the
// initial folder and name they come up with.
TEST(QtPrompter, FileDialogsStartInTheRequestedFolderWithTheInitialName) {
  QWidget parent;
  QtPrompter prompter(&parent);
  vecta::test::TempDir dir;
  struct Seen {
    QString title, suffix, folder, name;
    QStringList filters;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptSave;
  } seen;
  ModalDriver driver([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr) << "not a file dialog";
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr) << "no file name edit";
    seen = {dialog->windowTitle(), dialog->defaultSuffix(), dialog->directory().absolutePath(),
            name->text(),          dialog->nameFilters(),   dialog->acceptMode()};
    dialog->reject();
  });
  vecta::params::Prompter::FileRequest request;
  request.title = "Select new bitmap file";
  request.filter = "Bitmap files (*.bmp)|*.bmp|All files (*.*)|*.*||";
  request.defaultSuffix = "bmp";
  request.initialName = "*.bmp";
  const std::string folder = dir.path();
  request.initialFolder = folder;
  EXPECT_FALSE(prompter.ChooseFile(request).has_value());
  ASSERT_TRUE(driver.Ran());
  EXPECT_EQ(seen.title, QStringLiteral("Select new bitmap file"));
  EXPECT_EQ(seen.suffix, QStringLiteral("bmp"));
  EXPECT_EQ(seen.folder, QDir(QString::fromStdString(folder)).absolutePath());
  EXPECT_EQ(seen.name, QStringLiteral("*.bmp"));
  EXPECT_EQ(seen.filters,
            QStringList({QStringLiteral("Bitmap files (*.bmp)"), QStringLiteral("All files (*.*)")}));
  EXPECT_EQ(seen.mode, QFileDialog::AcceptOpen);
}

// Enter on a question answers No: restore defaults is not a key press away.
TEST(QtPrompter, EnterOnAQuestionAnswersNo) {
  QWidget parent;
  QtPrompter prompter(&parent);
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  ModalDriver driver([&defaultButton](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr) << "not a message box";
    if (box->defaultButton()) defaultButton = box->standardButton(box->defaultButton());
    QTest::keyClick(box, Qt::Key_Return);
  });
  EXPECT_EQ(prompter.Message("Alert", "Are you sure you want to restore defaults", MessageIcon::Question,
                             MessageButtons::YesNo),
            Answer::No);
  ASSERT_TRUE(driver.Ran());
  EXPECT_EQ(defaultButton, QMessageBox::No);
}
