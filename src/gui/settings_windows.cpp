#include "gui/settings_windows.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "gui/dialog_units.h"
#include "gui/icons.h"
#include "gui/operation_runner.h"
#include "gui/page_builder.h"
#include "params/page_rules.h"
#include "params/refresh.h"

namespace vecta::gui {

using pages::PageId;

// ------------------------------------------------------ main settings page

MainSettingsPage::MainSettingsPage(params::UnitContext& unit, QWidget* parent)
    : QWidget(parent), unit_(unit), host_(this) {
  PageEvents events;
  events.listChanged = [this](int id) {
    if (id == ids::kVideoInput || id == ids::kK610VideoInput)
      params::OnMainVideoInputChanged(unit_, host_, advanced_ ? advanced_() : nullptr, id);
  };
  events.buttonClicked = [this](int id) { emit ButtonPressed(id); };
  BuildPage(this, pages::Layout(PageId::MainSettings), unit_.variant(), events);
  params::InitPage(host_, unit_.tables->main);
  host_.Show(ids::kSatmod, false);  // until a full refresh finds a modulator
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
  const bool k610 = variant == pages::Variant::K610;
  // The K610 has a row more; the window gives its room back on the others.
  ResizeWindowWith(this, [&] {
    for (int id : {ids::kK610VideoInput, ids::kHdInputFormat, ids::kAudioEncoder2Caption, ids::kAudioEncoder1Source,
                   ids::kAudioEncoder2Source})
      host_.Show(id, k610);
    for (int id : {ids::kVideoInput, ids::kAudio, ids::kPresetTransmitModeCaption}) host_.Show(id, !k610);
    host_.SetText(ids::kAudioCaption, k610 ? "Audio encoder 1" : "Audio");
  });
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

void AddWindowButtons(QWidget* window, QVBoxLayout* layout, const std::function<void(int)>& pressed) {
  auto* row = new QHBoxLayout;
  for (const auto& [id, text] : {std::pair{ids::kWindowApply, "Apply"}, std::pair{ids::kWindowRefresh, "Refresh"}}) {
    auto* b = new QPushButton(QString::fromUtf8(text), window);
    b->setAutoDefault(false);
    SetControlId(b, id);
    b->setObjectName(QStringLiteral("control%1").arg(id));
    QObject::connect(b, &QPushButton::clicked, window, [pressed, id = id] { pressed(id); });
    row->addWidget(b);
  }
  row->addStretch(1);
  layout->addLayout(row);
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
  AddWindowButtons(this, layout, [this](int id) { emit ButtonPressed(id); });

  pidModel_ = NewPidListModel(this);
  const pages::Variant variant = unit_.variant();
  PageEvents events;
  events.listChanged = [this](int id) {
    if (ForwardedList(id)) params::OnAdvancedNotification(unit_, host_, id);
  };
  events.editChanged = [this](int id) {
    if (ForwardedEdit(id)) params::OnAdvancedNotification(unit_, host_, id);
  };
  events.checkClicked = [this](int id) {
    if (id == ids::kManual) params::OnAdvancedCheckClicked(unit_, host_, id);
  };
  for (PageId id : pages::Window(pages::WindowId::AdvancedOptions).pages) {
    const pages::PageLayout& layout = pages::Layout(id);
    auto* page = new QWidget;
    BuildPage(page, layout, variant, events, pidModel_);
    ShowForVariant(page, layout, variant);
    tabs_->addTab(page, QString::fromUtf8(layout.title.data(), static_cast<qsizetype>(layout.title.size())));
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
  BuildPage(body, page, pages::Variant::K240, events);
  layout->addWidget(body, 1);
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
