// The small dialogs of the main window's commands: the polling options, the
// key writing, the logo size, the "Enter value" dialog and the About box.
// Each is modal and takes what it edits as plain values; the main window
// decides what to do with the result. Each is as wide as its caption needs
// and no larger than its content.
#pragma once

#include <QAbstractSpinBox>
#include <QDialog>
#include <optional>
#include <string>

#include "app/session.h"
#include "app/settings.h"
#include "params/prompter.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace vecta::gui {

// "Polling options": the polling list flags on the first page, the polling
// interval on the second. Apply (and OK) store the flags and a valid
// interval in `settings` and call `applied`; an interval that is 0, not a
// number or negative gives "Invalid polling interval" and stays as it was.
class PollingOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  PollingOptionsDialog(app::AppSettings& settings, params::Prompter& prompter, std::function<void()> applied,
                       QWidget* parent);

  // Control ids. The three flags count up from kFirstFlagId in steps of 10.
  static constexpr int kTabsId = 1000;
  static constexpr int kFirstFlagId = 1800;
  static constexpr int kIntervalId = 1300;
  static constexpr int kApplyId = 1003;

  QTabWidget* Tabs() const { return tabs_; }
  QCheckBox* Flag(int index) const { return flags_[index]; }  // 0 video lock, 1 chaining, 2 RF output
  QLineEdit* Interval() const { return interval_; }
  QPushButton* ApplyButton() const { return apply_; }
  void Apply();

 private:
  app::AppSettings& settings_;
  params::Prompter& prompter_;
  std::function<void()> applied_;
  QTabWidget* tabs_;
  QCheckBox* flags_[3];
  QLineEdit* interval_;
  QPushButton* apply_;
};

// "Write encryption key": the key type and one or two key fields, checked
// on OK; the message of a failed check is shown and the dialog stays open.
// The dialog grows and shrinks with the second field.
class WriteKeyDialog : public QDialog {
  Q_OBJECT

 public:
  WriteKeyDialog(app::KeyType initial, params::Prompter& prompter, QWidget* parent);

  // Control ids.
  static constexpr int kTypeListId = 1201;
  static constexpr int kFirstLabelId = 1018;
  static constexpr int kFirstFieldId = 1300;
  static constexpr int kSecondLabelId = 1019;
  static constexpr int kSecondFieldId = 1301;

  app::KeyType Type() const { return type_; }
  std::string FirstKey() const { return first_; }
  std::string SecondKey() const { return second_; }

  QComboBox* TypeList() const { return typeList_; }
  QLabel* FirstLabel() const { return firstLabel_; }
  QLineEdit* FirstField() const { return firstField_; }
  QLabel* SecondLabel() const { return secondLabel_; }
  QLineEdit* SecondField() const { return secondField_; }

  void accept() override;

 private:
  void ShowType(app::KeyType type);

  params::Prompter& prompter_;
  app::KeyType type_;
  std::string first_, second_;
  QComboBox* typeList_;
  QLabel* firstLabel_;
  QLineEdit* firstField_;
  QLabel* secondLabel_;
  QLineEdit* secondField_;
};

// A logo size: an edit that takes any decimal number (digits only) with an
// up-down control beside it, whose arrows and the arrow keys step the
// number from 0 to `maximum`. Whatever is typed stays as typed; the main
// window limits it to the frame.
class LogoSizeEdit : public QAbstractSpinBox {
  Q_OBJECT

 public:
  LogoSizeEdit(int value, int maximum, QWidget* parent);
  // The text as a decimal number; 0 when empty.
  int Number() const;
  int Maximum() const { return maximum_; }

  void stepBy(int steps) override;
  QValidator::State validate(QString& input, int& pos) const override;
  // Room for four digits beside the arrows.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  StepEnabled stepEnabled() const override;

 private:
  int maximum_;
};

// "Set logo dimensions": height and width as typed, their arrows running
// from 0 to the frame's size.
class LogoSizeDialog : public QDialog {
  Q_OBJECT

 public:
  LogoSizeDialog(int width, int height, int maxWidth, int maxHeight, QWidget* parent);
  static constexpr int kHeightId = 1300;  // control ids
  static constexpr int kWidthId = 1301;
  int LogoWidth() const;
  int LogoHeight() const;
  LogoSizeEdit* WidthBox() const { return width_; }
  LogoSizeEdit* HeightBox() const { return height_; }

 private:
  LogoSizeEdit* height_;
  LogoSizeEdit* width_;
};

// "Enter value": a prompt and one edit with a character limit.
class EnterValueDialog : public QDialog {
  Q_OBJECT

 public:
  EnterValueDialog(const QString& prompt, const QString& initial, int limit, QWidget* parent);
  static constexpr int kPromptId = 1022;  // control ids
  static constexpr int kFieldId = 1023;
  QString Value() const;
  QLineEdit* Field() const { return field_; }

 private:
  QLineEdit* field_;
};

// The About box: "About transmitter control", the version line "%s v%s"
// with the application title and the version, the program's icon, OK.
class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  AboutDialog(const QString& title, const QIcon& icon, QWidget* parent);
  static constexpr int kIconId = 1025;  // control ids
  static constexpr int kVersionId = 1026;
  QString VersionLine() const;

 private:
  QLabel* version_;
};

inline constexpr char kProgramVersion[] = "2.7.3";

}  // namespace vecta::gui
