// Building the main window: the connection panel, the config tabs with the
// main settings page, the labels, lamps and logo, the menus and the toolbar.
#include "gui/main_window.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "app/last_address.h"
#include "gui/accessibility.h"
#include "gui/icons.h"
#include "gui/main_window_parts.h"
#include "gui/offline_editor.h"
#include "gui/qt_control_host.h"

namespace vecta::gui {

using namespace main_window_detail;

void MainWindow::BuildWindow() {
  setWindowIcon(icon_);
  SetCaption(this, Q(settings_.appTitle.value_or("")));
  MarkUnitWindow(this);

  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* outer = new QVBoxLayout(central);

  outer->addLayout(BuildConnectionPanel(central));
  BuildConfigArea(central, outer);
  outer->addLayout(BuildStatusRow(central));

  OnSetLamp(params::kLampVideoLock, params::kIconRed);
  OnSetLamp(params::kLampRfOutput, params::kIconGrey);
  OnSetLamp(params::kLampConnection, params::kIconRed);
  connectionLabel_->setText(QStringLiteral("Not connected"));
  connectionLabel_->setStyleSheet(QStringLiteral("color: red;"));
  ShowPollingState();
  PlaceLogo();

  for (const link::SerialPortInfo& port : core_->link->SerialPorts()) ports_->addItem(Q(port.name));
  ports_->setCurrentIndex(-1);
  // The address last reached over Ethernet is offered again.
  if (const auto last = app::LoadLastAddress(options_.lastAddressFile)) address_->SetText(Q(*last));

  // The status line on the left, what the window is connected to on the right.
  connectedTo_ = new QLabel(this);
  statusBar()->addPermanentWidget(connectedTo_);
  statusBar()->setSizeGripEnabled(false);

  connect(connect_, &QPushButton::clicked, this, &MainWindow::OnConnect);
  connect(address_, &IpAddressEdit::returnPressed, connect_, &QPushButton::click);
  connect(saveSet_, &QPushButton::clicked, this, [this] { OnPageButton(ids::kSaveConfigSet); });
  connect(loadSet_, &QPushButton::clicked, this, [this] { OnPageButton(ids::kLoadConfigSet); });
  connect(rfLamp_, &QPushButton::clicked, this, &MainWindow::OnRfOutput);
  connect(tabs_, &QTabBar::currentChanged, this, &MainWindow::OnConfigTabChanged);
  connect(page_, &MainSettingsPage::ButtonPressed, this, &MainWindow::OnPageButton);
}

// The connection panel (RS-232 or Ethernet, port, address, Connect) and
// the config set buttons beside it.
QHBoxLayout* MainWindow::BuildConnectionPanel(QWidget* central) {
  auto* top = new QHBoxLayout;
  auto* connection = new QGroupBox(QStringLiteral("Connection"), central);
  auto* cgrid = new QGridLayout(connection);
  rs232_ = new QRadioButton(QStringLiteral("RS232"), connection);
  ethernet_ = new QRadioButton(QStringLiteral("Ethernet"), connection);
  SetControlId(rs232_, ids::kRs232);
  SetControlId(ethernet_, ids::kEthernet);
  rs232_->setChecked(true);
  ports_ = new QComboBox(connection);
  SetControlId(ports_, ids::kSerialPort);
  ports_->setMinimumContentsLength(10);
  ports_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  address_ = new IpAddressEdit(connection);
  SetControlId(address_, ids::kIpAddress);
  connect_ = new QPushButton(QStringLiteral("Connect"), connection);
  SetControlId(connect_, ids::kConnect);
  connect_->setAutoDefault(false);
  auto* portLabel = new QLabel(QStringLiteral("Port"), connection);
  SetCaption(portLabel, ports_);
  auto* addressLabel = new QLabel(QStringLiteral("Address"), connection);
  SetCaption(addressLabel, address_);
  address_->NameFields(addressLabel->text());
  cgrid->addWidget(rs232_, 0, 0);
  cgrid->addWidget(portLabel, 0, 1);
  cgrid->addWidget(ports_, 0, 2);
  cgrid->addWidget(ethernet_, 1, 0);
  cgrid->addWidget(addressLabel, 1, 1);
  cgrid->addWidget(address_, 1, 2);
  cgrid->addWidget(connect_, 0, 3, 2, 1);
  top->addWidget(connection);
  top->addStretch(1);
  auto* sets = new QVBoxLayout;
  saveSet_ = new QPushButton(QStringLiteral("Save config set"), central);
  loadSet_ = new QPushButton(QStringLiteral("Load config set"), central);
  SetControlId(saveSet_, ids::kSaveConfigSet);
  SetControlId(loadSet_, ids::kLoadConfigSet);
  saveSet_->setAutoDefault(false);
  loadSet_->setAutoDefault(false);
  sets->addWidget(saveSet_);
  sets->addWidget(loadSet_);
  sets->addStretch(1);
  top->addLayout(sets);
  return top;
}

// The config tabs with the main settings page in their display area.
void MainWindow::BuildConfigArea(QWidget* central, QVBoxLayout* outer) {
  tabs_ = new QTabBar(central);
  SetControlId(tabs_, ids::kConfigTabs);
  tabs_->setAccessibleName(QStringLiteral("Config"));
  tabs_->setExpanding(false);
  tabs_->setUsesScrollButtons(true);
  tabs_->setDrawBase(false);
  for (int i = 1; i <= 8; ++i) tabs_->addTab(QStringLiteral("Config %1").arg(i));
  outer->addWidget(tabs_);
  auto* frame = new QFrame(central);
  frame->setFrameShape(QFrame::StyledPanel);
  auto* frameLayout = new QVBoxLayout(frame);
  page_ = new MainSettingsPage(core_->unit, frame);
  page_->SetAdvancedHost([this]() -> ControlHost* { return advanced_ ? &advanced_->Host() : nullptr; });
  frameLayout->addWidget(page_);
  outer->addWidget(frame, 1);
}

// The polling and connection labels, the three lamps and the logo frame.
QHBoxLayout* MainWindow::BuildStatusRow(QWidget* central) {
  auto* status = new QHBoxLayout;
  auto* labels = new QVBoxLayout;
  pollingLabel_ = new QLabel(central);
  SetControlId(pollingLabel_, ids::kPollingLabel);
  pollingLabel_->setStyleSheet(QStringLiteral("color: blue;"));
  connectionLabel_ = new QLabel(central);
  SetControlId(connectionLabel_, ids::kConnectionLabel);
  labels->addWidget(pollingLabel_);
  labels->addWidget(connectionLabel_);
  status->addLayout(labels);
  status->addStretch(1);
  auto lampColumn = [&](const QString& caption, QWidget* lamp) {
    auto* column = new QVBoxLayout;
    auto* label = new QLabel(caption, central);
    label->setAlignment(Qt::AlignHCenter);
    column->addWidget(label);
    column->addWidget(lamp, 0, Qt::AlignHCenter);
    status->addLayout(column);
  };
  videoLamp_ = new QLabel(central);
  SetControlId(videoLamp_, params::kLampVideoLock);
  rfLamp_ = new QPushButton(central);
  SetControlId(rfLamp_, params::kLampRfOutput);
  rfLamp_->setAutoDefault(false);
  rfLamp_->setIconSize(QSize(kLampSize, kLampSize));
  connectionLamp_ = new QLabel(central);
  SetControlId(connectionLamp_, params::kLampConnection);
  lampColumn(QStringLiteral("Video lock"), videoLamp_);
  lampColumn(QStringLiteral("RF output"), rfLamp_);
  lampColumn(QStringLiteral("Connection status"), connectionLamp_);
  // The logo frame holds the logo and its sunken edge at any size up to
  // the frame's; at start the stored size is made one the frame can show.
  const QSize logoFrame = LogoFrameSize(this);
  logoArea_ = new QWidget(central);
  logoArea_->setFixedSize(logoFrame + QSize(2 * kLogoEdge, 2 * kLogoEdge));
  logo_ = new QLabel(logoArea_);
  SetControlId(logo_, ids::kLogo);
  logo_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  logo_->setLineWidth(kLogoEdge);
  logo_->setAlignment(Qt::AlignCenter);
  status->addWidget(logoArea_);
  settings_.logoWidth = std::clamp(app::LogoPixels(settings_.logoWidth), 0, logoFrame.width());
  settings_.logoHeight = std::clamp(app::LogoPixels(settings_.logoHeight), 0, logoFrame.height());
  return status;
}

// The logo, at its stored size (-1 is 70) limited to the frame and centred
// in it inside its sunken edge; the bitmap keeps its shape, fitted into that
// size. The frame is hidden when there is no logo.
void MainWindow::PlaceLogo() {
  QPixmap logo;
  if (settings_.logoPath && !settings_.logoPath->empty()) logo.load(Q(*settings_.logoPath));
  if (logo.isNull()) {
    logo_->hide();
    return;
  }
  const QSize frame = LogoFrameSize(this);
  // Negative sizes (possible through the settings file) count as 0.
  const QSize size(std::clamp(app::LogoPixels(settings_.logoWidth), 0, frame.width()),
                   std::clamp(app::LogoPixels(settings_.logoHeight), 0, frame.height()));
  if (size.isEmpty())
    logo_->clear();
  else
    logo_->setPixmap(logo.size() == size ? logo
                                         : logo.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  const QSize outer = size + QSize(2 * kLogoEdge, 2 * kLogoEdge);
  const QSize area = logoArea_->size();
  logo_->setGeometry(area.width() / 2 - outer.width() / 2, area.height() / 2 - outer.height() / 2, outer.width(),
                     outer.height());
  logo_->show();
}

// ------------------------------------------------------------------ menus

void MainWindow::BuildMenus() {
  using namespace commands;
  auto add = [this](QMenu* menu, int command, const QString& text, const char* shortcut, auto handler) {
    auto* action = new QAction(text, this);
    if (shortcut) {
      action->setShortcut(QKeySequence(QString::fromLatin1(shortcut)));
      action->setShortcutContext(Qt::WindowShortcut);
    }
    connect(action, &QAction::triggered, this, handler);
    actions_[command] = action;
    if (menu) menu->addAction(action);
    addAction(action);  // its shortcut works while the menu bar is hidden too
    return action;
  };
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  offline_ = std::make_unique<OfflineEditors>(*options_.prompter, icon_, this);
  add(file, kOpenConfigFile, QString::fromUtf8(offline_text::kOpenCommand), "Ctrl+O",
      [this] { offline_->Open(); });
  file->addSeparator();
  add(file, kSetIconSource, QStringLiteral("Set &icon source"), nullptr, &MainWindow::OnSetIconSource);
  add(file, kSetLogoSource, QStringLiteral("Set &logo source"), nullptr, &MainWindow::OnSetLogoSource);
  add(file, kSetLogoSize, QStringLiteral("Set logo &size"), nullptr, &MainWindow::OnSetLogoSize);
  add(file, kSetApplicationTitle, QStringLiteral("Set &application title"), nullptr,
      &MainWindow::OnSetApplicationTitle);
  file->addSeparator();
  add(file, kExit, QStringLiteral("E&xit"), nullptr, &QWidget::close);
  QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
  add(options, kEngineering, QStringLiteral("Engineering\tCtrl+E"), "Ctrl+E", &MainWindow::OnEngineering);
  add(options, kTogglePolling, QStringLiteral("Polling enabled\tCtrl+P"), "Ctrl+P", &MainWindow::OnTogglePolling);
  add(options, kPollingOptions, QStringLiteral("Polling options\tCtrl+L"), "Ctrl+L",
      &MainWindow::OnPollingOptions);
  add(options, kWriteKey, QStringLiteral("Write encryption key\tCtrl+K"), "Ctrl+K", &MainWindow::OnWriteKey);
  add(options, kRestoreDefaults, QStringLiteral("Restore defaults\tCtrl+D"), "Ctrl+D",
      &MainWindow::OnRestoreDefaults);
  add(options, kStatusMonitor, QStringLiteral("Status monitor"), nullptr, &MainWindow::OnStatusMonitor);
  // What the system menu of the window holds elsewhere.
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  add(help, kAbout, QStringLiteral("&About vecta_tx_ctrl_v2..."), nullptr, &MainWindow::OnAbout);

  // The toolbar: Engineering, the two polling buttons (one shows at a
  // time), polling options | key | restore defaults.
  toolbar_ = addToolBar(QStringLiteral("Commands"));
  toolbar_->setMovable(false);
  toolbar_->setIconSize(QSize(16, 16));
  // A command of the menu keeps its one action on the toolbar.
  auto button = [this](int command, int icon, const QString& tip, auto handler) {
    QAction* action = Action(command);
    if (!action) {
      action = new QAction(tip, this);
      connect(action, &QAction::triggered, this, handler);
      actions_[command] = action;
    }
    action->setIcon(ResourceIcon(icon));
    action->setIconVisibleInMenu(false);
    action->setToolTip(tip.left(79));
    toolbar_->addAction(action);
  };
  button(kEngineering, kIconEngineering, QStringLiteral("Engineering"), &MainWindow::OnEngineering);
  button(kEnablePolling, kIconEnablePolling, QStringLiteral("Enable polling"), &MainWindow::OnTogglePolling);
  button(kDisablePolling, kIconDisablePolling, QStringLiteral("Disable polling"), &MainWindow::OnTogglePolling);
  button(kPollingOptions, kIconPollingOptions, QStringLiteral("Edit polling options"),
         &MainWindow::OnPollingOptions);
  toolbar_->addSeparator();
  button(kWriteKey, kIconKey, QStringLiteral("Write encryption key"), &MainWindow::OnWriteKey);
  toolbar_->addSeparator();
  button(kRestoreDefaults, kIconRestoreDefaults, QStringLiteral("Restore defaults"),
         &MainWindow::OnRestoreDefaults);
  toolbar_->addSeparator();
  button(kStatusMonitor, kIconStatusMonitor, QStringLiteral("Status monitor"), &MainWindow::OnStatusMonitor);
  ShowPollingState();
}

QAction* MainWindow::Action(int command) const {
  auto it = actions_.find(command);
  return it == actions_.end() ? nullptr : it->second;
}

}  // namespace vecta::gui
