#include "gui/settings_windows.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/accessibility.h"
#include "gui/dialog_units.h"
#include "gui/icons.h"
#include "gui/operation_runner.h"
#include "gui/page_builder.h"
#include "gui/q_string.h"
#include "params/page_rules.h"
#include "params/refresh.h"

namespace vecta::gui {

using pages::PageId;

namespace {

// The "N unapplied changes" label, added at the end of a row of buttons
// (before its closing stretch); hidden until there are changes.
QLabel* AddUnappliedLabel(QWidget* parent, QHBoxLayout* row) {
  auto* label = new QLabel(parent);
  label->setObjectName(QStringLiteral("unappliedChanges"));
  label->hide();
  if (row) row->insertWidget(std::max(0, row->count() - 1), label);
  return label;
}

QHBoxLayout* BelowButtons(QWidget* page) {
  return page->findChild<QHBoxLayout*>(QString::fromLatin1(kBelowButtonsLayout));
}

}  // namespace

// ------------------------------------------------------ main settings page

MainSettingsPage::MainSettingsPage(params::UnitContext& unit, QWidget* parent)
    : QWidget(parent), unit_(unit), host_(this) {
  PageEvents events;
  events.listChanged = [this](int id) {
    if (id == ids::kVideoInput || id == ids::kK610VideoInput)
      params::OnMainVideoInputChanged(unit_, host_, advanced_ ? advanced_() : nullptr, id);
    emit OperatorChanged();
  };
  events.editChanged = [this](int) { emit OperatorChanged(); };
  events.checkClicked = [this](int) { emit OperatorChanged(); };
  events.buttonClicked = [this](int id) { emit ButtonPressed(id); };
  BuildPage(this, pages::Layout(PageId::MainSettings), unit_.variant(), events);
  unapplied_ = AddUnappliedLabel(this, BelowButtons(this));
  params::InitPage(host_, unit_.tables->main);
  host_.Show(ids::kSatmod, false);  // until a full refresh finds a modulator
  if (auto* key = qobject_cast<QAbstractButton*>(host_.Find(ids::kWriteKey)))
    NameIconButton(key, QStringLiteral("Write encryption key"));
  LayOutForStart(unit_.variant());
}

void MainSettingsPage::LayOutForStart(pages::Variant variant) {
  // On K610 the first video input list and the "Audio" list give way; on
  // every other variant the K610 lists do, and the first audio caption reads
  // "Audio".
  if (variant == pages::Variant::K610) {
    host_.Show(ids::kVideoInput, false);
    host_.Show(ids::kAudio, false);
  } else {
    host_.Show(ids::kK610VideoInput, false);
    host_.Show(ids::kHdInputFormat, false);
    host_.SetText(ids::kAudioCaption, "Audio");
    for (int id : {ids::kAudioEncoder2Caption, ids::kAudioEncoder1Source, ids::kAudioEncoder2Source})
      host_.Show(id, false);
  }
}

void MainSettingsPage::LayOutForBoard(pages::Variant variant) {
  ResizeWindowWith(this, [&] { ShowRowsFor(variant); });
  OrderTabs(window());  // the rows of this board in their places
}

void MainSettingsPage::ShowRowsFor(pages::Variant variant) {
  const bool k610 = variant == pages::Variant::K610;
  for (int id : {ids::kK610VideoInput, ids::kHdInputFormat, ids::kAudioEncoder2Caption, ids::kAudioEncoder1Source,
                 ids::kAudioEncoder2Source})
    host_.Show(id, k610);
  for (int id : {ids::kVideoInput, ids::kAudio, ids::kPresetTransmitModeCaption}) host_.Show(id, !k610);
  host_.SetText(ids::kAudioCaption, k610 ? "Audio encoder 1" : "Audio");
}

void MainSettingsPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (roomReserved_) return;
  roomReserved_ = true;
  ReserveRoomForEveryBoard();
}

// Laid out for each board in turn, the page takes the room of the largest
// (the K610's extra row and the list beside its video input), so the main
// window keeps one size whichever unit connects. The controls are then
// shown as they were.
void MainSettingsPage::ReserveRoomForEveryBoard() {
  std::vector<std::pair<QWidget*, bool>> shown;
  for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) shown.emplace_back(w, !w->isHidden());
  const std::string audioCaption = host_.Text(ids::kAudioCaption);
  QSize room = sizeHint();
  for (pages::Variant variant : {pages::Variant::K240, pages::Variant::K610, pages::Variant::Other}) {
    ShowRowsFor(variant);
    layout()->activate();
    room = room.expandedTo(sizeHint());
  }
  for (const auto& [w, visible] : shown) w->setVisible(visible);
  host_.SetText(ids::kAudioCaption, audioCaption);
  layout()->activate();
  setMinimumSize(room);
}

// ------------------------------------------------- Advanced options window

namespace {

// Enter reaches the window from a focused push button too, which takes only
// Space itself: Enter there presses the button. False when no enabled push
// button has the focus.
bool PressFocusedButton(QWidget* window) {
  auto* b = qobject_cast<QPushButton*>(window->focusWidget());
  if (b == nullptr || !b->isEnabled() || !b->isVisible()) return false;
  b->click();
  return true;
}

// The lists and edits whose changes a page passes on to its window: the
// lists from "Modulation output" to "MPEG mode" by id, both ends included.
bool ForwardedList(int id) { return id >= ids::kModulationOutput && id <= ids::kMpegMode; }
bool ForwardedEdit(int id) { return id == ids::kOutputAttenuationHigh || id == ids::kOutputFrequency; }

QHBoxLayout* AddWindowButtons(QWidget* window, QVBoxLayout* layout, const std::function<void(int)>& pressed) {
  auto* row = new QHBoxLayout;
  for (const auto& [id, text] :
       {std::pair{ids::kWindowApply, "Apply"}, std::pair{ids::kWindowRefresh, "Refresh"}}) {
    auto* b = new QPushButton(QString::fromUtf8(text), window);
    b->setAutoDefault(false);
    SetControlId(b, id);
    b->setObjectName(QStringLiteral("control%1").arg(id));
    QObject::connect(b, &QPushButton::clicked, window, [pressed, id = id] { pressed(id); });
    row->addWidget(b);
  }
  row->addStretch(1);
  layout->addLayout(row);
  return row;
}

}  // namespace

AdvancedOptionsWindow::AdvancedOptionsWindow(params::UnitContext& unit, const QIcon& icon)
    : QWidget(nullptr, Qt::Window), unit_(unit), host_(this) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(icon);
  setWindowTitle(QStringLiteral("Advanced options"));
  MarkUnitWindow(this);
  unit_.rules.k610EncoderChoice.reset();

  auto* layout = new QVBoxLayout(this);
  FitTitle(this);
  tabs_ = new QTabWidget(this);
  SetControlId(tabs_, ids::kTabs);
  tabs_->setUsesScrollButtons(false);  // the window is as wide as its five tabs
  layout->addWidget(tabs_, 1);
  unapplied_ = AddUnappliedLabel(this, AddWindowButtons(this, layout, [this](int id) { emit ButtonPressed(id); }));

  pidModel_ = NewPidListModel(this);
  const pages::Variant variant = unit_.variant();
  PageEvents events;
  events.listChanged = [this](int id) {
    if (ForwardedList(id)) params::OnAdvancedNotification(unit_, host_, id);
    emit OperatorChanged();
  };
  events.editChanged = [this](int id) {
    if (ForwardedEdit(id)) params::OnAdvancedNotification(unit_, host_, id);
    emit OperatorChanged();
  };
  events.checkClicked = [this](int id) {
    if (id == ids::kManual) params::OnAdvancedCheckClicked(unit_, host_, id);
    emit OperatorChanged();
  };
  for (PageId id : pages::Window(pages::WindowId::AdvancedOptions).pages) {
    const pages::PageLayout& layout = pages::Layout(id);
    auto* page = new QWidget;
    BuildPage(page, layout, variant, events, pidModel_);
    ShowForVariant(page, layout, variant);
    tabs_->addTab(page, Q(layout.title));
    pages_.push_back(page);
    pageHosts_.push_back(std::make_unique<QtControlHost>(page));
  }
  if (variant == pages::Variant::K610) {
    host_.SetText(ids::kEncodingModeCaption, "Encoding mode");
    host_.SetText(ids::kFrameRateCaption, "Frame rate");
  }
  // Every page from the main table, then the values the last refresh left.
  params::InitPage(host_, unit_.tables->main);
  params::FillAdvancedFromCache(unit_, host_);
  tabs_->tabBar()->setAccessibleName(QStringLiteral("Pages"));
  MakeAccessible(this);
}

QWidget* AdvancedOptionsWindow::Page(int index) const {
  return index >= 0 && index < static_cast<int>(pages_.size()) ? pages_[static_cast<std::size_t>(index)] : nullptr;
}

void AdvancedOptionsWindow::keyPressEvent(QKeyEvent* event) {
  // Enter on a button presses that button, anywhere else it applies; Escape
  // closes the window like its close box.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (PressFocusedButton(this)) return;
    emit ButtonPressed(ids::kWindowApply);
    return;
  }
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void AdvancedOptionsWindow::closeEvent(QCloseEvent* event) {
  if (closeGuard_ && !closeGuard_()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

// ------------------------------------------------ satellite modulator window

SatmodWindow::SatmodWindow(const QIcon& icon) : QWidget(nullptr, Qt::Window), host_(this) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(icon);
  setWindowTitle(QStringLiteral("Satellite modulator"));
  MarkUnitWindow(this);
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(this);
  FitTitle(this);
  const pages::PageLayout& page = pages::Layout(PageId::SatelliteModulator);
  PageEvents events;
  events.buttonClicked = [this](int id) { emit ButtonPressed(id); };
  events.listChanged = events.editChanged = events.checkClicked = [this](int) { emit OperatorChanged(); };
  BuildPage(body, page, pages::Variant::K240, events);
  unapplied_ = AddUnappliedLabel(body, BelowButtons(body));
  layout->addWidget(body, 1);
  MakeAccessible(this);
}

void SatmodWindow::closeEvent(QCloseEvent* event) {
  if (closeGuard_ && !closeGuard_()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void SatmodWindow::keyPressEvent(QKeyEvent* event) {
  // Enter presses a focused button and changes nothing elsewhere.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    PressFocusedButton(this);
    return;
  }
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace vecta::gui
