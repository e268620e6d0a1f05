#include "gui/shell_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "gui/accessibility.h"
#include "gui/dialog_units.h"
#include "gui/qt_control_host.h"

namespace vecta::gui {
namespace {

constexpr int kIntervalLimit = 7;
constexpr int kAbsKeyLength = 8;
constexpr int kAesKeyLength = 32;
// Digits a logo size takes: any number a frame could have, none that
// overflows.
constexpr int kLogoSizeDigits = 6;

QPushButton* Button(const QString& text, int id, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  SetControlId(b, id);
  b->setAutoDefault(false);
  return b;
}

}  // namespace

// -------------------------------------------------------- polling options

PollingOptionsDialog::PollingOptionsDialog(app::AppSettings& settings, params::Prompter& prompter,
                                           std::function<void()> applied, QWidget* parent)
    : QDialog(parent), settings_(settings), prompter_(prompter), applied_(std::move(applied)) {
  setWindowTitle(QStringLiteral("Polling options"));
  auto* layout = new QVBoxLayout(this);
  FitTitle(this);
  tabs_ = new QTabWidget(this);
  SetControlId(tabs_, kTabsId);
  layout->addWidget(tabs_);

  auto* list = new QWidget;
  auto* listLayout = new QVBoxLayout(list);
  const bool values[3] = {settings_.pollVideoLock, settings_.pollChainingStatus, settings_.pollRfOutput};
  const char* captions[3] = {"Video lock", "Chaining status", "RF output"};
  for (int i = 0; i < 3; ++i) {
    flags_[i] = new QCheckBox(QString::fromLatin1(captions[i]), list);
    SetControlId(flags_[i], kFirstFlagId + 10 * i);
    flags_[i]->setChecked(values[i]);
    listLayout->addWidget(flags_[i]);
    connect(flags_[i], &QCheckBox::clicked, this, [this] { apply_->setEnabled(true); });
  }
  listLayout->addStretch(1);
  tabs_->addTab(list, QStringLiteral("Polling list"));

  auto* misc = new QWidget;
  auto* miscLayout = new QFormLayout(misc);
  interval_ = new QLineEdit(QString::number(settings_.pollingIntervalMs), misc);
  SetControlId(interval_, kIntervalId);
  interval_->setMaxLength(kIntervalLimit);
  miscLayout->addRow(QStringLiteral("Polling interval (ms)"), interval_);
  connect(interval_, &QLineEdit::textEdited, this, [this] { apply_->setEnabled(true); });
  tabs_->addTab(misc, QStringLiteral("Miscellaneous"));

  auto* buttons = new QHBoxLayout;
  auto* ok = Button(QStringLiteral("OK"), 1, this);
  ok->setDefault(true);
  apply_ = Button(QStringLiteral("Apply"), kApplyId, this);
  auto* cancel = Button(QStringLiteral("Cancel"), 2, this);
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(apply_);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  apply_->setEnabled(false);
  connect(ok, &QPushButton::clicked, this, [this] {
    Apply();
    accept();
  });
  connect(apply_, &QPushButton::clicked, this, &PollingOptionsDialog::Apply);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  tabs_->tabBar()->setAccessibleName(QStringLiteral("Pages"));
  MakeAccessible(this);
}

void PollingOptionsDialog::Apply() {
  settings_.pollVideoLock = flags_[0]->isChecked();
  settings_.pollChainingStatus = flags_[1]->isChecked();
  settings_.pollRfOutput = flags_[2]->isChecked();
  // The text is read as the leading decimal number it starts with; 0, no
  // number at all and a negative number are refused alike, so the poll
  // thread never gets a pause it cannot take.
  const std::string text = interval_->text().left(kIntervalLimit).toStdString();
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value <= 0) {
    prompter_.Message("Error", "Invalid polling interval", params::MessageIcon::Exclamation);
  } else {
    settings_.pollingIntervalMs = static_cast<std::int32_t>(value);
  }
  if (applied_) applied_();
  apply_->setEnabled(false);
}

// -------------------------------------------------------------- key dialog

WriteKeyDialog::WriteKeyDialog(app::KeyType initial, params::Prompter& prompter, QWidget* parent)
    : QDialog(parent), prompter_(prompter), type_(initial) {
  setWindowTitle(QStringLiteral("Write encryption key"));
  auto* grid = new QGridLayout(this);
  FitTitle(this);
  typeList_ = new QComboBox(this);
  SetControlId(typeList_, kTypeListId);
  typeList_->addItems({QStringLiteral("ABS"), QStringLiteral("AES128"), QStringLiteral("AES256")});
  firstLabel_ = new QLabel(this);
  SetControlId(firstLabel_, kFirstLabelId);
  firstField_ = new QLineEdit(this);
  SetControlId(firstField_, kFirstFieldId);
  secondLabel_ = new QLabel(QStringLiteral("AES256 key (upper)"), this);
  SetControlId(secondLabel_, kSecondLabelId);
  secondField_ = new QLineEdit(this);
  SetControlId(secondField_, kSecondFieldId);
  secondField_->setMaxLength(kAesKeyLength);
  const int fieldWidth =
      firstField_->fontMetrics().horizontalAdvance(QString(kAesKeyLength + 2, QLatin1Char('D')));
  firstField_->setMinimumWidth(fieldWidth);
  secondField_->setMinimumWidth(fieldWidth);
  auto* typeCaption = new QLabel(QStringLiteral("Key type"), this);
  SetCaption(typeCaption, typeList_);
  SetCaption(firstLabel_, firstField_);
  SetCaption(secondLabel_, secondField_);
  grid->addWidget(typeCaption, 0, 0);
  grid->addWidget(typeList_, 0, 1);
  grid->addWidget(firstLabel_, 1, 0);
  grid->addWidget(firstField_, 1, 1);
  grid->addWidget(secondLabel_, 2, 0);
  grid->addWidget(secondField_, 2, 1);
  auto* buttons = new QHBoxLayout;
  auto* ok = Button(QStringLiteral("OK"), 1, this);
  ok->setDefault(true);
  auto* cancel = Button(QStringLiteral("Cancel"), 2, this);
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  grid->addLayout(buttons, 3, 0, 1, 2);
  connect(ok, &QPushButton::clicked, this, &WriteKeyDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(typeList_, &QComboBox::currentIndexChanged, this,
          [this](int index) { ShowType(static_cast<app::KeyType>(index)); });

  typeList_->setCurrentIndex(static_cast<int>(initial));
  ShowType(initial);
  firstField_->setFocus();
  MakeAccessible(this);
}

void WriteKeyDialog::ShowType(app::KeyType type) {
  const bool abs = type == app::KeyType::Abs;
  const bool upper = type == app::KeyType::Aes256;
  secondField_->setVisible(upper);
  secondLabel_->setVisible(upper);
  if (abs && firstField_->text().size() > kAbsKeyLength)
    firstField_->setText(firstField_->text().left(kAbsKeyLength));
  firstField_->setMaxLength(abs ? kAbsKeyLength : kAesKeyLength);
  firstLabel_->setText(abs     ? QStringLiteral("ABS key")
                       : upper ? QStringLiteral("AES256 key (lower)")
                               : QStringLiteral("AES128 key"));
  // Back to the size of what shows now: a window keeps its size when a
  // field goes, so the space of the second field would stay empty.
  layout()->activate();
  adjustSize();
}

void WriteKeyDialog::accept() {
  type_ = static_cast<app::KeyType>(std::max(0, typeList_->currentIndex()));
  const std::string first = firstField_->text().toStdString();
  const std::string second = secondField_->text().toStdString();
  if (auto problem = app::Session::CheckKey(type_, first, second)) {
    prompter_.Message("Error", *problem, params::MessageIcon::Exclamation);
    return;  // stays open with what was typed
  }
  first_ = first.substr(0, type_ == app::KeyType::Abs ? kAbsKeyLength : kAesKeyLength);
  second_ = type_ == app::KeyType::Aes256 ? second.substr(0, kAesKeyLength) : std::string();
  QDialog::accept();
}

// ---------------------------------------------------------------- logo size

LogoSizeEdit::LogoSizeEdit(int value, int maximum, QWidget* parent)
    : QAbstractSpinBox(parent), maximum_(std::max(0, maximum)) {
  lineEdit()->setMaxLength(kLogoSizeDigits);
  lineEdit()->setText(QString::number(std::max(0, value)));
}

int LogoSizeEdit::Number() const { return text().toInt(); }

// The base class measures no text of its own.
QSize LogoSizeEdit::sizeHint() const {
  return QAbstractSpinBox::sizeHint() + QSize(fontMetrics().horizontalAdvance(QStringLiteral("0000")), 0);
}

QSize LogoSizeEdit::minimumSizeHint() const {
  return QAbstractSpinBox::minimumSizeHint() + QSize(fontMetrics().horizontalAdvance(QStringLiteral("0000")), 0);
}

QValidator::State LogoSizeEdit::validate(QString& input, int&) const {
  for (QChar c : input)
    if (!c.isDigit() || c.unicode() > 0x7f) return QValidator::Invalid;
  return QValidator::Acceptable;
}

void LogoSizeEdit::stepBy(int steps) {
  const int value = std::clamp(std::clamp(Number(), 0, maximum_) + steps, 0, maximum_);
  lineEdit()->setText(QString::number(value));
  selectAll();
}

QAbstractSpinBox::StepEnabled LogoSizeEdit::stepEnabled() const {
  const int value = Number();
  StepEnabled enabled = StepNone;
  if (value < maximum_) enabled |= StepUpEnabled;
  if (value > 0) enabled |= StepDownEnabled;
  return enabled;
}

LogoSizeDialog::LogoSizeDialog(int width, int height, int maxWidth, int maxHeight, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Set logo dimensions"));
  auto* grid = new QGridLayout(this);
  FitTitle(this);
  height_ = new LogoSizeEdit(height, maxHeight, this);
  SetControlId(height_, kHeightId);
  width_ = new LogoSizeEdit(width, maxWidth, this);
  SetControlId(width_, kWidthId);
  auto* heightCaption = new QLabel(QStringLiteral("Logo height"), this);
  auto* widthCaption = new QLabel(QStringLiteral("Logo width"), this);
  SetCaption(heightCaption, height_);
  SetCaption(widthCaption, width_);
  grid->addWidget(heightCaption, 0, 0);
  grid->addWidget(height_, 0, 1, Qt::AlignLeft);
  grid->addWidget(widthCaption, 1, 0);
  grid->addWidget(width_, 1, 1, Qt::AlignLeft);
  grid->setColumnStretch(1, 1);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  grid->addWidget(box, 2, 0, 1, 2);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  height_->setFocus();
  MakeAccessible(this);
}

int LogoSizeDialog::LogoWidth() const { return width_->Number(); }
int LogoSizeDialog::LogoHeight() const { return height_->Number(); }

// -------------------------------------------------------------- enter value

EnterValueDialog::EnterValueDialog(const QString& prompt, const QString& initial, int limit, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Enter value"));
  auto* layout = new QVBoxLayout(this);
  FitTitle(this);
  auto* text = new QLabel(prompt, this);
  SetControlId(text, kPromptId);
  field_ = new QLineEdit(this);
  SetControlId(field_, kFieldId);
  field_->setMaxLength(limit);
  field_->setText(initial.left(limit));
  field_->setMinimumWidth(field_->fontMetrics().horizontalAdvance(QString(limit, QLatin1Char('M'))) / 2);
  SetCaption(text, field_);
  layout->addWidget(text);
  layout->addWidget(field_);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(box);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  MakeAccessible(this);
}

QString EnterValueDialog::Value() const { return field_->text(); }

// ----------------------------------------------------------------- About

AboutDialog::AboutDialog(const QString& title, const QIcon& icon, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About transmitter control"));
  auto* layout = new QGridLayout(this);
  FitTitle(this);
  auto* picture = new QLabel(this);
  SetControlId(picture, kIconId);
  picture->setPixmap(icon.pixmap(48, 48));
  version_ = new QLabel(QStringLiteral("%1 v%2").arg(title, QString::fromLatin1(kProgramVersion)), this);
  SetControlId(version_, kVersionId);
  layout->addWidget(picture, 0, 0, 2, 1, Qt::AlignTop);
  layout->addWidget(version_, 0, 1);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  layout->addWidget(box, 2, 0, 1, 2);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  MakeAccessible(this);
}

QString AboutDialog::VersionLine() const { return version_->text(); }

}  // namespace vecta::gui
