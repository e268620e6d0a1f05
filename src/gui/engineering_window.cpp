#include "gui/engineering_window.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/accessibility.h"
#include "gui/operation_runner.h"
#include "gui/typed_input.h"
#include "link/link_errors.h"

namespace vecta::gui {
namespace {

using params::MessageIcon;

constexpr char kNoConnection[] = "No connection currently";

QLineEdit* NewEdit(QWidget* parent, int id, int maxChars, bool digitsOnly = false) {
  auto* edit = new QLineEdit(parent);
  SetControlId(edit, id);
  edit->setObjectName(QStringLiteral("control%1").arg(id));
  if (maxChars > 0) edit->setValidator(new TypedLengthValidator(edit, maxChars, digitsOnly));
  return edit;
}

QPushButton* NewButton(QWidget* parent, int id, const char* caption) {
  auto* b = new QPushButton(QString::fromUtf8(caption), parent);
  b->setAutoDefault(false);
  SetControlId(b, id);
  b->setObjectName(QStringLiteral("control%1").arg(id));
  return b;
}

QLabel* NewLabel(QWidget* parent, const char* caption) { return new QLabel(QString::fromUtf8(caption), parent); }

// The caption left of `control`, which it names.
QLabel* CaptionFor(QWidget* control, const char* caption) {
  QLabel* label = NewLabel(control->parentWidget(), caption);
  SetCaption(label, control);
  return label;
}

std::string Latin1(const QString& s) {
  const QByteArray b = s.toLatin1();
  return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

QString FromLatin1(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

EngineeringWindow::EngineeringWindow(std::shared_ptr<link::CRavlenRemoteControl> link, std::string boardType,
                                     app::AppSettings& settings, params::Prompter& prompter,
                                     std::function<bool()> connected, std::function<int()> unitAddress,
                                     OperationRunner& runner, const QIcon& icon)
    : QWidget(nullptr, Qt::Window),
      link_(std::move(link)),
      boardType_(std::move(boardType)),
      settings_(settings),
      prompter_(prompter),
      connected_(std::move(connected)),
      unitAddress_(std::move(unitAddress)),
      runner_(runner) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Engineering options"));
  setWindowIcon(icon);
  MarkUnitWindow(this);
  // The variant is fixed when the window opens.
  eightPoint_ = boardType_ == "K240";
  elevenPoint_ = boardType_ == "K240" || boardType_ == "K610";

  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  SetControlId(tabs_, eng::kTabs);
  layout->addWidget(tabs_);
  tabs_->addTab(BuildDiagnostic(), QStringLiteral("Diagnostic"));
  tabs_->addTab(BuildPowerCal(), QStringLiteral("Power calibration"));
  tabs_->addTab(BuildIqTrim(), QStringLiteral("IQ trim"));
  tabs_->addTab(BuildAdvanced(), QStringLiteral("Advanced options"));
  tabs_->setCurrentIndex(0);
  for (std::size_t i = 0; i < pages_.size(); ++i) hosts_[i] = std::make_unique<QtControlHost>(pages_[i]);
  tabs_->tabBar()->setAccessibleName(QStringLiteral("Pages"));
  advancedTabs_->tabBar()->setAccessibleName(QStringLiteral("Advanced options pages"));
  MakeAccessible(this);

  // The power calibration table and the IQ trim page read the unit when
  // the window opens; while another operation runs they wait for it.
  connect(&runner_, &OperationRunner::runningChanged, this, [this](bool running) {
    if (!running && openingReadsPending_) QTimer::singleShot(0, this, [this] { RunOpeningReads(); });
  });
  RunOpeningReads();
}

EngineeringWindow::~EngineeringWindow() { emit Closed(); }

QWidget* EngineeringWindow::PageWidget(Page page) const { return pages_[static_cast<std::size_t>(page)]; }

QtControlHost& EngineeringWindow::Host(Page page) const { return *hosts_[static_cast<std::size_t>(page)]; }

bool EngineeringWindow::Run(std::function<void()> work, std::function<void()> done) {
  QPointer<EngineeringWindow> self(this);
  return runner_.Start(std::move(work), [self, done = std::move(done)] {
    if (self && done) done();
  });
}

void EngineeringWindow::keyPressEvent(QKeyEvent* event) {
  // Enter sends on the Diagnostic tab and does nothing elsewhere; it never
  // closes the window. Escape closes it like its close box.
  // On a focused button Enter presses it, as Space does.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    auto* b = qobject_cast<QPushButton*>(focusWidget());
    if (b != nullptr && b->isEnabled() && b->isVisible()) {
      b->click();
      return;
    }
    if (tabs_->currentIndex() == 0) SendDiagnostic();
    return;
  }
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

// ------------------------------------------------------------ diagnostic

QWidget* EngineeringWindow::BuildDiagnostic() {
  auto* page = new QWidget;
  pages_[static_cast<std::size_t>(Page::Diagnostic)] = page;
  auto* grid = new QGridLayout(page);
  sendAddress_ = NewEdit(page, eng::kSendAddress, 0);
  grid->addWidget(CaptionFor(sendAddress_, "Send address"), 0, 0);
  grid->addWidget(sendAddress_, 0, 1);
  command_ = NewEdit(page, eng::kCommand, 0);
  grid->addWidget(CaptionFor(command_, "Command and data"), 1, 0);
  grid->addWidget(command_, 1, 1);
  QPushButton* send = NewButton(page, eng::kSend, "Send command");
  send->setDefault(true);
  connect(send, &QPushButton::clicked, this, [this] { SendDiagnostic(); });
  grid->addWidget(send, 1, 2);
  replyBox_ = new QPlainTextEdit(page);
  SetControlId(replyBox_, eng::kReplyBox);
  replyBox_->setReadOnly(true);
  replyBox_->setLineWrapMode(QPlainTextEdit::NoWrap);
  replyBox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  replyBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  replyBox_->setAccessibleName(QStringLiteral("Requests sent and replies"));
  grid->addWidget(replyBox_, 2, 0, 1, 3);
  grid->setRowStretch(2, 1);
  grid->setColumnStretch(1, 1);
  return page;
}

void EngineeringWindow::SendDiagnostic() {
  if (runner_.Running()) return;
  if (!connected_()) {
    prompter_.Message("Error", kNoConnection, MessageIcon::Exclamation);
    return;
  }
  auto link = link_;
  const std::string address = Latin1(sendAddress_->text());
  const std::string command = Latin1(command_->text());
  auto result = std::make_shared<app::DiagnosticResult>();
  Run(
      [link, address, command, result, readBack = readBack_] {
        *result = app::SendDiagnostic(*link, address, command);
        const auto written = app::DiagnosticWrite(command);
        if (result->sent && written && readBack) readBack({*written});
      },
      [this, result] {
        if (result->code != link::kLinkOk)
          prompter_.Message("Error", result->message.empty() ? link::LinkErrorText(result->code) : result->message,
                            MessageIcon::Exclamation);
        // Appended where the insertion point stands: the box keeps every
        // exchange since the window opened.
        if (!result->transcript.empty()) replyBox_->insertPlainText(FromLatin1(result->transcript));
      });
}

// ------------------------------------------------------ power calibration

QWidget* EngineeringWindow::BuildPowerCal() {
  auto* page = new QWidget;
  pages_[static_cast<std::size_t>(Page::PowerCalibration)] = page;
  auto* grid = new QGridLayout(page);
  grid->addWidget(NewLabel(page, "Freq (MHz)"), 0, 1);
  grid->addWidget(NewLabel(page, "Level (dB)"), 0, 2);
  static constexpr const char* kFourRows[] = {"Minimum freq", "Intermediate freq 1", "Intermediate freq 2",
                                              "Maximum freq"};
  static constexpr const char* kEightRows[] = {"Minimum freq",        "Intermediate freq 1", "Intermediate freq 2",
                                               "Intermediate freq 3", "Intermediate freq 4", "Intermediate freq 5",
                                               "Intermediate freq 6", "Maximum freq"};
  const auto items = app::PowerCalItems(eightPoint_);
  const std::size_t rows = items.size() / 2;
  powerCalEdits_.assign(items.size(), nullptr);
  for (std::size_t r = 0; r < rows; ++r) {
    const char* caption = eightPoint_ ? kEightRows[r] : kFourRows[r];
    grid->addWidget(NewLabel(page, caption), static_cast<int>(r) + 1, 0);
    // Frequencies take 7 characters, levels 5.
    for (std::size_t column = 0; column < 2; ++column) {
      const std::size_t i = r + column * rows;
      powerCalEdits_[i] = NewEdit(page, items[i].controlId, column == 0 ? 7 : 5);
      // Named by its row and its column.
      const char* heading = column == 0 ? "Freq (MHz)" : "Level (dB)";
      powerCalEdits_[i]->setAccessibleName(
          QStringLiteral("%1, %2").arg(QString::fromUtf8(caption), QString::fromUtf8(heading)));
      grid->addWidget(powerCalEdits_[i], static_cast<int>(r) + 1, static_cast<int>(column) + 1);
    }
  }
  powerCalApply_ = NewButton(page, eng::kPowerCalApply, "Apply");
  connect(powerCalApply_, &QPushButton::clicked, this, [this] { ApplyPowerCal(); });
  grid->addWidget(powerCalApply_, static_cast<int>(rows) + 1, 2);
  grid->setRowStretch(static_cast<int>(rows) + 2, 1);
  return page;
}

void EngineeringWindow::ShowPowerCal(const std::vector<std::optional<std::string>>& texts) {
  for (std::size_t i = 0; i < texts.size() && i < powerCalEdits_.size(); ++i)
    if (texts[i]) powerCalEdits_[i]->setText(QString::fromStdString(*texts[i]));
}

void EngineeringWindow::ApplyPowerCal() {
  if (runner_.Running()) return;
  if (!connected_()) {
    prompter_.Message("Error", kNoConnection, MessageIcon::Exclamation);
    return;
  }
  std::vector<std::string> texts;
  for (QLineEdit* e : powerCalEdits_) texts.push_back(Latin1(e->text()));
  auto link = link_;
  const int address = unitAddress_();
  const bool eight = eightPoint_;
  auto read = std::make_shared<std::vector<std::optional<std::string>>>();
  const bool started = Run(
      [link, address, eight, texts, read] {
        app::WritePowerCal(*link, address, eight, texts);
        *read = app::ReadPowerCal(*link, address, eight);
      },
      [this, read] {
        ShowPowerCal(*read);
        powerCalApply_->setEnabled(true);
      });
  if (started) powerCalApply_->setEnabled(false);
}

// ---------------------------------------------------------------- IQ trim

void EngineeringWindow::AddTrimRow(QWidget* page, QGridLayout* grid, int row, int which) {
  static constexpr int kIds[2][5] = {{eng::kIMinus, eng::kISlider, eng::kIPlus, eng::kIEdit, eng::kIApply},
                                     {eng::kQMinus, eng::kQSlider, eng::kQPlus, eng::kQEdit, eng::kQApply}};
  const int* ids = kIds[which];
  const QString name = QString::fromUtf8(which == 0 ? "I trim" : "Q trim");
  QPushButton* minus = NewButton(page, ids[0], "-");
  minus->setAccessibleName(name + QStringLiteral(" down by one"));
  auto* slider = new QSlider(Qt::Horizontal, page);
  SetControlId(slider, ids[1]);
  slider->setRange(0, 255);
  slider->setValue(app::kTrimSliderOffset);
  slider->setAccessibleName(name);
  QPushButton* plus = NewButton(page, ids[2], "+");
  plus->setAccessibleName(name + QStringLiteral(" up by one"));
  QLineEdit* edit = NewEdit(page, ids[3], 4);
  grid->addWidget(CaptionFor(edit, which == 0 ? "I trim" : "Q trim"), row, 0);
  edit->setText(QStringLiteral("0"));
  QPushButton* apply = NewButton(page, ids[4], "Apply");
  apply->setEnabled(false);
  trimSlider_[which] = slider;
  trimEdit_[which] = edit;
  trimApply_[which] = apply;
  connect(minus, &QPushButton::clicked, this, [this, which] { SetTrim(which, app::TrimStep(trim_[which], -1)); });
  connect(plus, &QPushButton::clicked, this, [this, which] { SetTrim(which, app::TrimStep(trim_[which], +1)); });
  // Any move of the slider by the operator (drag, keys, page clicks).
  connect(slider, &QSlider::actionTriggered, this, [this, which](int) {
    trim_[which] = trimSlider_[which]->sliderPosition() - app::kTrimSliderOffset;
    trimEdit_[which]->setText(QString::number(trim_[which]));
    trimApply_[which]->setEnabled(true);
  });
  connect(edit, &QLineEdit::returnPressed, this, [this, which] { TrimEntered(which); });
  connect(apply, &QPushButton::clicked, this, [this, which] { ApplyTrim(which); });
  // The slider takes the room; the step buttons stay small.
  for (QPushButton* step : {minus, plus}) step->setFixedWidth(step->sizeHint().height() + 8);
  slider->setMinimumWidth(256);
  grid->setColumnStretch(2, 1);
  grid->addWidget(minus, row, 1);
  grid->addWidget(slider, row, 2);
  grid->addWidget(plus, row, 3);
  grid->addWidget(edit, row, 4);
  grid->addWidget(apply, row, 5);
}

QWidget* EngineeringWindow::BuildIqTrim() {
  auto* page = new QWidget;
  pages_[static_cast<std::size_t>(Page::IqTrim)] = page;
  auto* layout = new QVBoxLayout(page);
  auto* grid = new QGridLayout;
  layout->addLayout(grid);
  // Takes the 7 characters its "Apply" sends.
  frequency_ = NewEdit(page, eng::kFrequency, static_cast<int>(app::kFrequencyApplyChars));
  grid->addWidget(CaptionFor(frequency_, "Frequency (MHz)"), 0, 0);
  grid->addWidget(frequency_, 0, 1, 1, 4);
  frequencyApply_ = NewButton(page, eng::kFrequencyApply, "Apply");
  frequencyApply_->setEnabled(false);
  grid->addWidget(frequencyApply_, 0, 5);
  connect(frequency_, &QLineEdit::textChanged, this, [this] { frequencyApply_->setEnabled(true); });
  connect(frequencyApply_, &QPushButton::clicked, this, [this] { ApplyFrequency(); });
  AddTrimRow(page, grid, 1, 0);
  AddTrimRow(page, grid, 2, 1);
  grid->setColumnStretch(2, 1);

  auto* buttons = new QVBoxLayout;
  layout->addLayout(buttons);
  if (elevenPoint_) {
    auto* row = new QHBoxLayout;
    pointList_ = new QComboBox(page);
    SetControlId(pointList_, eng::kPointList);
    QLabel* caption = CaptionFor(pointList_, "Calibration point");
    pointList_->addItem(QStringLiteral("Normal operation"));
    for (int k = 1; k <= 11; ++k) pointList_->addItem(QString::number(k));
    // The unit does not say which point it is at: the list asks for one
    // rather than naming any.
    pointList_->setPlaceholderText(QStringLiteral("Choose a point"));
    pointList_->setCurrentIndex(-1);
    QPushButton* select = NewButton(page, eng::kSelectPoint, "Select point");
    connect(select, &QPushButton::clicked, this, [this] { SelectPoint(); });
    row->addWidget(caption);
    row->addWidget(pointList_);
    row->addWidget(select);
    row->addStretch(1);
    buttons->addLayout(row);
  } else {
    struct Step {
      int id;
      const char* caption;
      std::function<app::IqTrimView(link::CRavlenRemoteControl&, int)> run;
    };
    const Step steps[] = {
        {eng::kNormalOperation, "Normal Operation", app::IqNormalOperation},
        {eng::kSinglePoint, "Single point trim", app::IqSinglePointTrim},
        {eng::kLowerPoint, "3 point trim - lower point",
         [](link::CRavlenRemoteControl& l, int a) { return app::IqThreePointTrim(l, a, 1); }},
        {eng::kMidPoint, "3 point trim - mid point",
         [](link::CRavlenRemoteControl& l, int a) { return app::IqThreePointTrim(l, a, 2); }},
        {eng::kUpperPoint, "3 point trim - upper point",
         [](link::CRavlenRemoteControl& l, int a) { return app::IqThreePointTrim(l, a, 3); }},
    };
    for (const Step& s : steps) {
      QPushButton* b = NewButton(page, s.id, s.caption);
      connect(b, &QPushButton::clicked, this, [this, run = s.run] { RunIqStep(run); });
      buttons->addWidget(b);
    }
  }
  layout->addStretch(1);
  return page;
}

void EngineeringWindow::SetTrim(int which, int trim) {
  trim_[which] = trim;
  trimSlider_[which]->setValue(trim + app::kTrimSliderOffset);
  trimEdit_[which]->setText(QString::number(trim));
  trimApply_[which]->setEnabled(true);
}

void EngineeringWindow::TrimEntered(int which) {
  const app::TrimEntry entry = app::ParseTrimEntry(Latin1(trimEdit_[which]->text()));
  if (!entry.value) {
    prompter_.Message("Error", entry.message, MessageIcon::Exclamation);
    return;
  }
  trim_[which] = *entry.value;
  trimSlider_[which]->setValue(*entry.value + app::kTrimSliderOffset);
  trimApply_[which]->setEnabled(true);
}

void EngineeringWindow::ApplyTrim(int which) {
  auto link = link_;
  const int address = unitAddress_();
  const int trim = trim_[which];
  Run([link, address, which, trim] { app::IqWriteTrim(*link, address, which == 0 ? 'i' : 'q', trim); });
}

void EngineeringWindow::ApplyFrequency() {
  auto link = link_;
  const int address = unitAddress_();
  const std::string text = Latin1(frequency_->text());
  if (Run([link, address, text, readBack = readBack_] {
        const std::vector<std::string> written = app::IqWriteFrequency(*link, address, text);
        if (readBack) readBack(written);
      }))
    frequencyApply_->setEnabled(false);
}

void EngineeringWindow::ShowIqView(const app::IqTrimView& view) {
  if (view.trimsRead) {
    for (int which = 0; which < 2; ++which) {
      trim_[which] = which == 0 ? view.iTrim : view.qTrim;
      trimSlider_[which]->setValue(trim_[which] + app::kTrimSliderOffset);
      trimEdit_[which]->setText(QString::number(trim_[which]));
    }
  }
  if (view.frequency) frequency_->setText(QString::fromStdString(*view.frequency));
  if (view.edit == app::FrequencyEdit::Editable) {
    SetEditReadOnly(frequency_, false);
    frequencyApply_->setEnabled(true);
  } else if (view.edit == app::FrequencyEdit::Locked) {
    SetEditReadOnly(frequency_, true);
    frequencyApply_->setEnabled(false);
  }
}

void EngineeringWindow::RunIqStep(std::function<app::IqTrimView(link::CRavlenRemoteControl&, int)> step) {
  auto link = link_;
  const int address = unitAddress_();
  auto view = std::make_shared<app::IqTrimView>();
  Run(
      [link, address, step = std::move(step), view, readBack = readBack_] {
        *view = step(*link, address);
        if (readBack && !view->written.empty()) readBack(view->written);
      },
      [this, view] { ShowIqView(*view); });
}

void EngineeringWindow::SelectPoint() {
  // With no entry chosen there is no point to go to: nothing happens.
  const int entry = pointList_->currentIndex();
  if (entry < 0) return;
  if (entry == 0) {
    RunIqStep(app::IqNormalOperation);
    return;
  }
  RunIqStep([entry](link::CRavlenRemoteControl& l, int a) { return app::IqElevenPointTrim(l, a, entry); });
}

void EngineeringWindow::RunOpeningReads() {
  auto link = link_;
  const int address = unitAddress_();
  const bool eight = eightPoint_;
  auto table = std::make_shared<std::vector<std::optional<std::string>>>();
  auto view = std::make_shared<app::IqTrimView>();
  openingReadsPending_ = !Run(
      [link, address, eight, table, view] {
        *table = app::ReadPowerCal(*link, address, eight);
        *view = app::IqTrimStart(*link, address);
      },
      [this, table, view] {
        ShowPowerCal(*table);
        ShowIqView(*view);
        frequencyApply_->setEnabled(false);
      });
}

// ------------------------------------------------------- advanced options

QWidget* EngineeringWindow::BuildAdvanced() {
  auto* page = new QWidget;
  pages_[static_cast<std::size_t>(Page::Advanced)] = page;
  auto* layout = new QVBoxLayout(page);
  advancedTabs_ = new QTabWidget(page);
  SetControlId(advancedTabs_, eng::kAdvancedTabs);
  layout->addWidget(advancedTabs_);
  advancedTabs_->addTab(BuildGeneral(), QStringLiteral("General"));
  advancedTabs_->addTab(BuildSerialControl(), QStringLiteral("Serial control"));
  advancedTabs_->setCurrentIndex(0);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  advancedApply_ = NewButton(page, eng::kAdvancedApply, "Apply");
  advancedApply_->setEnabled(false);
  connect(advancedApply_, &QPushButton::clicked, this, [this] { ApplyAdvanced(); });
  row->addWidget(advancedApply_);
  layout->addLayout(row);
  // Any change on either sub-page enables Apply; the pages are filled
  // before these connections exist.
  auto enable = [this] { advancedApply_->setEnabled(true); };
  connect(unitAddressEdit_, &QLineEdit::textChanged, this, enable);
  for (QLineEdit* e : timeoutEdits_) connect(e, &QLineEdit::textChanged, this, enable);
  // Only a rate chosen from the list is applied: a few keystrokes must not
  // cut the link. A typed rate puts the chosen one back on show.
  auto* typed = new TypedChoiceWatch(baudList_);
  connect(baudList_, &QComboBox::activated, this, [this, typed](int index) {
    if (typed->Typed()) {
      baudList_->setCurrentIndex(app::BaudRateIndex(selectedBaud_));
      if (baudList_->currentIndex() < 0) baudList_->setEditText(QString());
      return;
    }
    if (index >= 0 && index < static_cast<int>(app::kBaudRates.size()))
      selectedBaud_ = app::kBaudRates[static_cast<std::size_t>(index)];
    advancedApply_->setEnabled(true);
  });
  return page;
}

QWidget* EngineeringWindow::BuildGeneral() {
  auto* page = new QWidget;
  pages_[static_cast<std::size_t>(Page::General)] = page;
  auto* grid = new QGridLayout(page);
  unitAddressEdit_ = NewEdit(page, eng::kUnitAddress, static_cast<int>(app::kUnitAddressChars));
  grid->addWidget(CaptionFor(unitAddressEdit_, "Unit address"), 0, 0);
  unitAddressEdit_->setText(QString::fromStdString(app::FormatUnitAddress(unitAddress_())));
  grid->addWidget(unitAddressEdit_, 0, 1);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(1, 1);
  return page;
}

QWidget* EngineeringWindow::BuildSerialControl() {
  auto* page = new QWidget;
  pages_[static_cast<std::size_t>(Page::SerialControl)] = page;
  auto* grid = new QGridLayout(page);
  baudList_ = new QComboBox(page);
  SetControlId(baudList_, eng::kBaudRate);
  grid->addWidget(CaptionFor(baudList_, "Baudrate"), 0, 0);
  // A drop-down with an edit field of its own; what is typed there is not
  // a choice of rate.
  baudList_->setEditable(true);
  baudList_->setInsertPolicy(QComboBox::NoInsert);
  baudList_->setCompleter(nullptr);
  for (std::uint32_t rate : app::kBaudRates) baudList_->addItem(QString::number(rate));
  selectedBaud_ = link_->BaudRate();
  baudList_->setCurrentIndex(app::BaudRateIndex(selectedBaud_));
  if (baudList_->currentIndex() < 0) baudList_->setEditText(QString());
  grid->addWidget(baudList_, 0, 1);
  static constexpr const char* kCaptions[app::kTimeoutCount] = {
      "Read interval timeout (ms)", "Read total timeout multiplier", "Read total timeout constant (ms)",
      "Write total timeout multiplier", "Write total timeout constant (ms)"};
  const link::SerialTimeouts timeouts = link_->Timeouts();
  for (int i = 0; i < app::kTimeoutCount; ++i) {
    QLineEdit* e = NewEdit(page, eng::kFirstTimeout + i, static_cast<int>(app::kTimeoutChars), true);
    grid->addWidget(CaptionFor(e, kCaptions[i]), i + 1, 0);
    e->setText(QString::number(timeouts.Get(i)));
    timeoutEdits_[static_cast<std::size_t>(i)] = e;
    grid->addWidget(e, i + 1, 1);
  }
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(app::kTimeoutCount + 1, 1);
  return page;
}

void EngineeringWindow::ApplyAdvanced() {
  if (advancedTabs_->currentIndex() == 0) {
    emit UnitAddressChanged(app::UnitAddressFromText(Latin1(unitAddressEdit_->text())));
    advancedApply_->setEnabled(false);
    return;
  }
  if (runner_.Running()) return;
  std::array<std::string, app::kTimeoutCount> texts;
  for (int i = 0; i < app::kTimeoutCount; ++i)
    texts[static_cast<std::size_t>(i)] = Latin1(timeoutEdits_[static_cast<std::size_t>(i)]->text());
  const auto timeouts = app::TimeoutsFromTexts(texts);
  // Kept in the settings even where the port refuses them (or no port is
  // open): they reach the link at the next start.
  app::StoreTimeouts(settings_, timeouts);
  auto link = link_;
  const std::uint32_t baud = selectedBaud_;
  Run([link, baud, timeouts] {
    app::LinkSerialSettings target(*link);
    app::ApplySerialSettings(target, baud, timeouts);
  });
  advancedApply_->setEnabled(false);
}

}  // namespace vecta::gui
