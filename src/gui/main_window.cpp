#include "gui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenuBar>
#include <QToolBar>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabBar>
#include <QVBoxLayout>
#include <mutex>

#include "app/last_address.h"
#include "gui/dialog_units.h"
#include "gui/engineering_window.h"
#include "gui/icons.h"
#include "gui/qt_prompter.h"
#include "gui/shell_dialogs.h"
#include "gui/status_monitor_window.h"
#include "gui/unapplied_changes.h"
#include "link/frame.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "link/trace.h"
#include "params/config_file.h"
#include "params/config_set.h"
#include "params/page_rules.h"
#include "params/refresh.h"

namespace vecta::gui {

using params::ControlHost;

namespace {

// The logo frame at the lower right, in dialog units.
constexpr QSize kLogoFrameUnits(120, 46);
// The sunken edge around the logo.
constexpr int kLogoEdge = 2;
constexpr int kLampSize = 24;
// How long closing waits for an interrupted operation before leaving it.
constexpr int kCloseWaitMs = 400;

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The logo frame in pixels at the window's font: the largest logo size.
QSize LogoFrameSize(const QWidget* window) { return DialogUnitsToPixels(kLogoFrameUnits, window->font()); }

// The icon and logo file choices.
constexpr std::string_view kIconFilter = "Icon files (*.ico)|*.ico|All files (*.*)|*.*||";
constexpr std::string_view kBitmapFilter = "Bitmap files (*.bmp)|*.bmp|All files (*.*)|*.*||";

// Where a file choice starts: the folder of the file chosen before, while
// that folder exists, else the program's own folder.
std::string StartFolder(const std::optional<std::string>& current) {
  if (current && !current->empty()) {
    const QFileInfo file(Q(*current));
    if (file.absoluteDir().exists()) return file.absolutePath().toStdString();
  }
  return QCoreApplication::applicationDirPath().toStdString();
}

// Asks for a new icon or logo file of one kind ("ico", "bmp"), starting
// where the current one lies.
std::optional<std::string> ChooseImageFile(params::Prompter& prompter, std::string_view title,
                                           std::string_view filter, std::string_view suffix,
                                           const std::optional<std::string>& current) {
  const std::string folder = StartFolder(current);
  const std::string name = "*." + std::string(suffix);
  params::Prompter::FileRequest request;
  request.title = title;
  request.filter = filter;
  request.defaultSuffix = suffix;
  request.initialName = name;
  request.initialFolder = folder;
  return prompter.ChooseFile(request);
}

// The caption is the application title as set, blank when it is empty: the
// window system puts the program's name on a window without a title, so an
// empty title goes out as a single space.
void SetCaption(QWidget* window, const QString& title) {
  window->setWindowTitle(title.isEmpty() ? QStringLiteral(" ") : title);
}
}  // namespace

// --------------------------------------------------------------- the core

// What an operation works with. Shared with the operation thread, so an
// operation left running when the window closes still finds it all.
struct MainWindow::Core {
  explicit Core(link::Clock& base) : clock(base) {}
  std::shared_ptr<AbandonFlag> abandoned = std::make_shared<AbandonFlag>();
  std::shared_ptr<link::CRavlenRemoteControl> link;
  std::shared_ptr<params::ParamTables> tables = std::make_shared<params::ParamTables>();
  link::InterruptibleClock clock;
  std::unique_ptr<GuiThreadPrompter> prompter;
  params::UnitContext unit;
  std::unique_ptr<WorkerView> view;
  std::unique_ptr<app::Session> session;
};

// The session's view of the window, for the operation thread: every call is
// carried out on the window thread.
class MainWindow::WorkerView final : public app::SessionView {
 public:
  WorkerView(MainWindow* window, std::shared_ptr<AbandonFlag> abandoned)
      : window_(window),
        abandoned_(abandoned),
        main_([window] { return window->page_ ? &window->page_->Host() : nullptr; }, abandoned),
        advanced_([window]() -> ControlHost* { return window->advanced_ ? &window->advanced_->Host() : nullptr; },
                  abandoned),
        satmod_([window]() -> ControlHost* { return window->satmod_ ? &window->satmod_->Host() : nullptr; },
                abandoned) {
    for (int i = 0; i < AdvancedOptionsWindow::kPageCount; ++i)
      pages_.push_back(std::make_unique<GuiThreadControlHost>(
          [window, i]() -> ControlHost* { return window->advanced_ ? &window->advanced_->PageHost(i) : nullptr; },
          abandoned));
  }

  // Runs `fn` with the window on the window thread, unless abandoned.
  void OnWindow(const std::function<void(MainWindow&)>& fn) {
    if (abandoned_->set) return;
    CallOnGuiThread([&] {
      if (!abandoned_->set) fn(*window_);
    });
  }

  void SetBusy(bool busy) override {
    OnWindow([busy](MainWindow& w) { w.SetBusy(busy); });
  }
  void SetConfigCount(int count) override {
    OnWindow([count](MainWindow& w) { w.SetConfigTabCount(count); });
  }
  void SelectConfigTab(int index) override {
    OnWindow([index](MainWindow& w) { w.SelectConfigTab(index); });
  }
  void AdaptToBoard(const std::string& boardType) override {
    OnWindow([&boardType](MainWindow& w) { w.ApplyVariantToPage(boardType); });
  }
  void ShowSatmodButton(bool visible) override {
    OnWindow([visible](MainWindow& w) {
      if (w.page_) w.page_->Host().Show(button::kSatmod, visible);
    });
  }
  ControlHost& MainPage() override { return main_; }
  ControlHost* AdvancedWindow() override { return IsOpen([](MainWindow& w) { return bool(w.advanced_); }) ? &advanced_ : nullptr; }
  ControlHost* SatmodWindow() override { return IsOpen([](MainWindow& w) { return bool(w.satmod_); }) ? &satmod_ : nullptr; }

  // The pages of the Advanced options window, in tab order; empty when it
  // is not open.
  std::vector<ControlHost*> AdvancedPages() {
    std::vector<ControlHost*> pages;
    if (AdvancedWindow())
      for (auto& p : pages_) pages.push_back(p.get());
    return pages;
  }
  ControlHost& SatmodHost() { return satmod_; }

 private:
  bool IsOpen(const std::function<bool(MainWindow&)>& test) {
    bool open = false;
    OnWindow([&](MainWindow& w) { open = test(w); });
    return open;
  }

  MainWindow* window_;
  std::shared_ptr<AbandonFlag> abandoned_;
  GuiThreadControlHost main_, advanced_, satmod_;
  std::vector<std::unique_ptr<GuiThreadControlHost>> pages_;
};

// The poll thread's and the link's notices, queued for the window thread.
// Never waits; once the window is gone the notices are dropped.
class MainWindow::Notifier final : public app::PollNotifier {
 public:
  explicit Notifier(MainWindow* window) : window_(window) {}
  void Detach() {
    std::lock_guard lock(m_);
    window_ = nullptr;
  }
  void SetLamp(int lamp, int icon) override {
    Post([lamp, icon](MainWindow& w) { w.OnSetLamp(lamp, icon); });
  }
  void ParameterPolled(std::string_view mnemonic) override {
    Post([mnemonic](MainWindow& w) { w.OnParameterPolled(mnemonic); });
  }
  void LinkLost() override {
    Post([](MainWindow& w) { w.OnLinkLost(); });
  }
  void ContactConfirmed() override {
    Post([](MainWindow& w) { w.OnContactConfirmed(); });
  }

 private:
  void Post(std::function<void(MainWindow&)> fn) {
    std::lock_guard lock(m_);
    if (!window_) return;
    QPointer<MainWindow> target(window_);
    PostToGuiThread(window_, [target, fn = std::move(fn)] {
      if (target) fn(*target);
    });
  }

  std::mutex m_;
  MainWindow* window_;
};

// ------------------------------------------------------------ construction

MainWindow::MainWindow(MainWindowOptions options)
    : options_(std::move(options)),
      settings_(*options_.settings),
      core_(std::make_shared<Core>(options_.clock ? *options_.clock : link::SystemClock())) {
  app::ApplyStartupDefaults(settings_, launch_);
  runner_ = new OperationRunner(this);
  // Operations started by other windows (the engineering window) make the
  // program busy too, with the same cursor and a line that says so.
  connect(runner_, &OperationRunner::runningChanged, this, [this](bool running) {
    if (running && busyDepth_ == 0 && !closing_) {
      othersBusy_ = true;
      SetBusy(true);
      ShowOperationStatus(QStringLiteral("Working with the unit..."));
    } else if (!running && othersBusy_) {
      othersBusy_ = false;
      SetBusy(false);
      if (operationStatusShown_) ShowResult({});
    }
  });
  notifier_ = std::make_shared<Notifier>(this);

  if (!options_.prompter) {
    ownPrompter_ = std::make_unique<QtPrompter>(this);
    options_.prompter = ownPrompter_.get();
  }

  // The link: ports found in the system plus those named on the command
  // line, the log, the serial settings; a failed TCP send or receive never
  // closes the socket.
  link::LinkEnvironment env;
  env.serial = options_.serialPorts ? options_.serialPorts
                                    : link::MakePosixSerialProvider(link::DiscoverSerialPorts(options_.extraPorts));
  env.sockets = options_.sockets;
  core_->link = std::make_shared<link::CRavlenRemoteControl>(app::LinkLostToNotifier(notifier_), env);
  link::CRavlenRemoteControl& rc = *core_->link;
  if (!options_.logFile.empty()) rc.OpenLogFile(options_.logFile);
  link::SerialTimeouts timeouts;
  timeouts.readInterval = static_cast<std::uint32_t>(settings_.readIntervalTimeoutMs);
  timeouts.readTotalMultiplier = static_cast<std::uint32_t>(settings_.readTotalTimeoutMultiplier);
  timeouts.readTotalConstant = static_cast<std::uint32_t>(settings_.readTotalTimeoutConstantMs);
  timeouts.writeTotalMultiplier = static_cast<std::uint32_t>(settings_.writeTotalTimeoutMultiplier);
  timeouts.writeTotalConstant = static_cast<std::uint32_t>(settings_.writeTotalTimeoutConstantMs);
  rc.SetInitialTimeouts(timeouts);
  rc.SetBaudRate(static_cast<std::uint32_t>(settings_.baudRate));
  rc.SetCloseAfterSendFailure(false);
  rc.SetCloseAfterReceiveFailure(false);
  rc.SetTcpReceiveTimeout(options_.tcpReceiveTimeoutMs);

  core_->prompter = std::make_unique<GuiThreadPrompter>(*options_.prompter, core_->abandoned);
  core_->unit.link = core_->link.get();
  core_->unit.clock = &core_->clock;
  core_->unit.prompter = core_->prompter.get();
  core_->unit.tables = core_->tables.get();
  core_->unit.unitAddress = launch_.unitAddress;
  core_->unit.setLamp = [notifier = notifier_](int lamp, int icon) { notifier->SetLamp(lamp, icon); };
  core_->view = std::make_unique<WorkerView>(this, core_->abandoned);
  core_->session = std::make_unique<app::Session>(core_->unit, *core_->view);

  poll_ = std::make_unique<app::PollThread>(core_->link, core_->tables, notifier_, options_.pollWaiter);

  icon_ = ResourceIcon(kIconApplication);
  if (settings_.iconPath && !settings_.iconPath->empty()) {
    QIcon custom(Q(*settings_.iconPath));
    if (!custom.isNull() && !custom.availableSizes().isEmpty()) icon_ = custom;
  }
  BuildWindow();
  BuildMenus();
  WatchUnappliedChanges();
}

// The marks of the operator's changes and the questions before a config
// switch or a close would drop them; Apply there runs the windows' applies.
void MainWindow::WatchUnappliedChanges() {
  UnappliedChanges::Hooks hooks;
  hooks.busy = [this] { return runner_->Running(); };
  hooks.connected = [this] { return core_->session->Connected(); };
  hooks.closing = [this] { return closing_; };
  hooks.prompter = options_.prompter;
  hooks.apply = [this](UnappliedChanges::Windows windows, std::function<void()> then) {
    return Run(
        [windows](Core& core) {
          const std::vector<ControlHost*> pages =
              windows.advanced ? core.view->AdvancedPages() : std::vector<ControlHost*>{};
          core.session->ApplyChangedWindows(
              {windows.mainPage, pages, windows.satmod ? &core.view->SatmodHost() : nullptr});
        },
        std::move(then), QStringLiteral("Writing the settings..."));
  };
  unapplied_ = new UnappliedChanges(core_->unit, std::move(hooks), this);
  unapplied_->WatchMainPage(page_);
}

MainWindow::~MainWindow() {
  Shutdown();
  notifier_->Detach();
}

void MainWindow::BuildWindow() {
  setWindowIcon(icon_);
  SetCaption(this, Q(settings_.appTitle.value_or("")));
  MarkUnitWindow(this);

  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* outer = new QVBoxLayout(central);

  // Connection panel and the config set buttons.
  auto* top = new QHBoxLayout;
  auto* connection = new QGroupBox(QStringLiteral("Connection"), central);
  auto* cgrid = new QGridLayout(connection);
  rs232_ = new QRadioButton(QStringLiteral("RS232"), connection);
  ethernet_ = new QRadioButton(QStringLiteral("Ethernet"), connection);
  SetControlId(rs232_, 1140);
  SetControlId(ethernet_, 1141);
  rs232_->setChecked(true);
  ports_ = new QComboBox(connection);
  SetControlId(ports_, 1029);
  ports_->setMinimumContentsLength(10);
  ports_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  address_ = new IpAddressEdit(connection);
  SetControlId(address_, 1150);
  connect_ = new QPushButton(QStringLiteral("Connect"), connection);
  SetControlId(connect_, 1003);
  connect_->setAutoDefault(false);
  auto* portLabel = new QLabel(QStringLiteral("Port"), connection);
  portLabel->setBuddy(ports_);
  auto* addressLabel = new QLabel(QStringLiteral("Address"), connection);
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
  SetControlId(saveSet_, 1001);
  SetControlId(loadSet_, 1002);
  saveSet_->setAutoDefault(false);
  loadSet_->setAutoDefault(false);
  sets->addWidget(saveSet_);
  sets->addWidget(loadSet_);
  sets->addStretch(1);
  top->addLayout(sets);
  outer->addLayout(top);

  // Config tabs with the main settings page in their display area.
  tabs_ = new QTabBar(central);
  SetControlId(tabs_, 1000);
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

  // Status: the labels, the lamps and the logo.
  auto* status = new QHBoxLayout;
  auto* labels = new QVBoxLayout;
  pollingLabel_ = new QLabel(central);
  SetControlId(pollingLabel_, 1006);
  pollingLabel_->setStyleSheet(QStringLiteral("color: blue;"));
  connectionLabel_ = new QLabel(central);
  SetControlId(connectionLabel_, 1031);
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
  rfLamp_->setToolTip(QStringLiteral("Switch the RF output on or off"));
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
  SetControlId(logo_, 1007);
  logo_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  logo_->setLineWidth(kLogoEdge);
  logo_->setAlignment(Qt::AlignCenter);
  status->addWidget(logoArea_);
  settings_.logoWidth = std::clamp(app::LogoPixels(settings_.logoWidth), 0, logoFrame.width());
  settings_.logoHeight = std::clamp(app::LogoPixels(settings_.logoHeight), 0, logoFrame.height());
  outer->addLayout(status);

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
  connect(saveSet_, &QPushButton::clicked, this, [this] { OnPageButton(1001); });
  connect(loadSet_, &QPushButton::clicked, this, [this] { OnPageButton(1002); });
  connect(rfLamp_, &QPushButton::clicked, this, &MainWindow::OnRfOutput);
  connect(tabs_, &QTabBar::currentChanged, this, &MainWindow::OnConfigTabChanged);
  connect(page_, &MainSettingsPage::ButtonPressed, this, &MainWindow::OnPageButton);
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
    logo_->setPixmap(logo.size() == size ? logo : logo.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  const QSize outer = size + QSize(2 * kLogoEdge, 2 * kLogoEdge);
  const QSize area = logoArea_->size();
  logo_->setGeometry(area.width() / 2 - outer.width() / 2, area.height() / 2 - outer.height() / 2, outer.width(),
                     outer.height());
  logo_->show();
}

// ------------------------------------------------------------------ menus

void MainWindow::BuildMenus() {
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
  add(file, 32800, QStringLiteral("Set &icon source"), nullptr, &MainWindow::OnSetIconSource);
  add(file, 32803, QStringLiteral("Set &logo source"), nullptr, &MainWindow::OnSetLogoSource);
  add(file, 32804, QStringLiteral("Set logo &size"), nullptr, &MainWindow::OnSetLogoSize);
  add(file, 32802, QStringLiteral("Set &application title"), nullptr, &MainWindow::OnSetApplicationTitle);
  file->addSeparator();
  add(file, 32801, QStringLiteral("E&xit"), nullptr, &QWidget::close);
  QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
  add(options, 32771, QStringLiteral("Engineering\tCtrl+E"), "Ctrl+E", &MainWindow::OnEngineering);
  add(options, 32772, QStringLiteral("Polling enabled\tCtrl+P"), "Ctrl+P", &MainWindow::OnTogglePolling);
  add(options, 32776, QStringLiteral("Polling options\tCtrl+L"), "Ctrl+L", &MainWindow::OnPollingOptions);
  add(options, 32775, QStringLiteral("Write encryption key\tCtrl+K"), "Ctrl+K", &MainWindow::OnWriteKey);
  add(options, 32778, QStringLiteral("Restore defaults\tCtrl+D"), "Ctrl+D", &MainWindow::OnRestoreDefaults);
  add(options, 32779, QStringLiteral("Status monitor"), nullptr, &MainWindow::OnStatusMonitor);
  // What the system menu of the window holds elsewhere.
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  add(help, 16, QStringLiteral("&About vecta_tx_ctrl_v2..."), nullptr, &MainWindow::OnAbout);

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
  button(32771, kIconEngineering, QStringLiteral("Engineering"), &MainWindow::OnEngineering);
  button(32773, kIconEnablePolling, QStringLiteral("Enable polling"), &MainWindow::OnTogglePolling);
  button(32774, kIconDisablePolling, QStringLiteral("Disable polling"), &MainWindow::OnTogglePolling);
  button(32776, kIconPollingOptions, QStringLiteral("Edit polling options"), &MainWindow::OnPollingOptions);
  toolbar_->addSeparator();
  button(32775, kIconKey, QStringLiteral("Write encryption key"), &MainWindow::OnWriteKey);
  toolbar_->addSeparator();
  button(32778, kIconRestoreDefaults, QStringLiteral("Restore defaults"), &MainWindow::OnRestoreDefaults);
  toolbar_->addSeparator();
  button(32779, kIconStatusMonitor, QStringLiteral("Status monitor"), &MainWindow::OnStatusMonitor);
  ShowPollingState();
}

QAction* MainWindow::Action(int command) const {
  auto it = actions_.find(command);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::OnSetIconSource() {
  const auto path =
      ChooseImageFile(*options_.prompter, "Select new icon file", kIconFilter, "ico", settings_.iconPath);
  if (!path) return;
  settings_.iconPath = *path;
  QIcon custom(Q(*path));
  icon_ = !custom.isNull() && !custom.availableSizes().isEmpty() ? custom : ResourceIcon(kIconApplication);
  setWindowIcon(icon_);
  if (advanced_) advanced_->setWindowIcon(icon_);
  if (satmod_) satmod_->setWindowIcon(icon_);
  if (engineering_) engineering_->setWindowIcon(icon_);
}

void MainWindow::OnSetLogoSource() {
  const auto path =
      ChooseImageFile(*options_.prompter, "Select new bitmap file", kBitmapFilter, "bmp", settings_.logoPath);
  if (!path) return;
  settings_.logoPath = *path;
  PlaceLogo();
}

void MainWindow::OnSetLogoSize() {
  const QSize frame = LogoFrameSize(this);
  LogoSizeDialog dialog(std::clamp(app::LogoPixels(settings_.logoWidth), 0, frame.width()),
                        std::clamp(app::LogoPixels(settings_.logoHeight), 0, frame.height()), frame.width(),
                        frame.height(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  // What was typed, up to the frame's size.
  settings_.logoWidth = std::clamp(dialog.LogoWidth(), 0, frame.width());
  settings_.logoHeight = std::clamp(dialog.LogoHeight(), 0, frame.height());
  PlaceLogo();
}

void MainWindow::OnSetApplicationTitle() {
  EnterValueDialog dialog(QStringLiteral("Enter the new application title"), Q(settings_.appTitle.value_or("")), 32,
                          this);
  if (dialog.exec() != QDialog::Accepted) return;
  settings_.appTitle = dialog.Value().toStdString();
  SetCaption(this, dialog.Value());
}

void MainWindow::OnTogglePolling() {
  settings_.pollingEnabled = !settings_.pollingEnabled;
  poll_->SetPollingEnabled(settings_.pollingEnabled);
  ShowPollingState();
}

void MainWindow::OnPollingOptions() {
  PollingOptionsDialog dialog(settings_, *options_.prompter, [this] {
    poll_->TakePollingFlags(settings_);
    poll_->SetIntervalMs(settings_.pollingIntervalMs);
  }, this);
  dialog.exec();
}

void MainWindow::OnWriteKey() {
  if (runner_->Running()) return;
  if (!core_->session->Connected()) {
    options_.prompter->Message("Error", "No connection currently", params::MessageIcon::Exclamation);
    return;
  }
  WriteKeyDialog dialog(core_->session->InitialKeyType(), *options_.prompter, this);
  if (dialog.exec() != QDialog::Accepted) return;
  const app::KeyType type = dialog.Type();
  const std::string first = dialog.FirstKey(), second = dialog.SecondKey();
  Run([type, first, second](Core& core) { core.session->WriteKey(type, first, second); }, {},
      QStringLiteral("Writing the encryption key..."));
}

void MainWindow::OnRestoreDefaults() {
  if (runner_->Running()) return;
  Run([](Core& core) { core.session->RestoreDefaults(); }, {}, QStringLiteral("Restoring the unit's defaults..."));
}

void MainWindow::OnEngineering() {
  if (engineering_) {
    engineering_->raise();
    engineering_->activateWindow();
    return;
  }
  auto* window = new EngineeringWindow(
      core_->link, core_->unit.boardType, settings_, *options_.prompter,
      [this] { return core_->session->Connected(); }, [this] { return core_->unit.unitAddress; }, *runner_,
      icon_);
  engineering_ = window;
  connect(window, &EngineeringWindow::UnitAddressChanged, this, &MainWindow::OnUnitAddressChanged);
  window->show();
  window->raise();
  window->activateWindow();
}

void MainWindow::OnStatusMonitor() {
  if (monitor_) {
    monitor_->raise();
    monitor_->activateWindow();
    return;
  }
  if (runner_->Running()) return;
  if (!core_->session->Connected()) {
    options_.prompter->Message("Error", "No connection currently", params::MessageIcon::Exclamation);
    return;
  }
  monitor_ = OpenStatusMonitor(core_->link, core_->unit.boardType, core_->tables->main,
                               [this] { return core_->unit.unitAddress; }, *options_.prompter, icon_);
}

void MainWindow::OnUnitAddressChanged(int address) {
  // The unit takes the new address (its outcome is not examined), and every
  // later request uses it.
  if (Run([address](Core& core) { core.session->ChangeUnitAddress(address); },
          [this, address] { SetUnitAddressEverywhere(address); }, QStringLiteral("Changing the unit address...")))
    return;
  // An operation runs: the change follows it rather than being lost.
  if (!closing_)
    connect(runner_, &OperationRunner::runningChanged, this, [this, address] { OnUnitAddressChanged(address); },
            Qt::SingleShotConnection);
}

void MainWindow::OnAbout() {
  AboutDialog dialog(Q(settings_.appTitle.value_or("")), icon_, this);
  dialog.exec();
}

// ---------------------------------------------------------------- helpers

app::Session& MainWindow::Session() { return *core_->session; }
params::UnitContext& MainWindow::Unit() { return core_->unit; }
link::CRavlenRemoteControl& MainWindow::Link() { return *core_->link; }

bool MainWindow::Run(std::function<void(Core&)> work, std::function<void()> done, const QString& status) {
  if (closing_ || runner_->Running()) return false;
  // What follows an operation is skipped once the window is closing.
  auto then = [this, done = std::move(done)] {
    SetBusy(false);
    // The operation is over: what it read may be looked at here.
    shownBoard_ = core_->unit.boardType;
    UpdateConnectedTo();
    if (operationStatusShown_) ShowResult({});
    if (!closing_) unapplied_->UpdateAll();
    if (!closing_ && done) done();
  };
  SetBusy(true);
  if (!status.isEmpty()) ShowOperationStatus(status);
  if (runner_->Start([core = core_, work = std::move(work)] { work(*core); }, std::move(then))) return true;
  SetBusy(false);
  return false;
}

QString MainWindow::StatusText() const { return statusBar()->currentMessage(); }

void MainWindow::ShowOperationStatus(const QString& text) {
  statusBar()->showMessage(text);
  operationStatusShown_ = true;
}

void MainWindow::ShowResult(const QString& text) {
  operationStatusShown_ = false;
  if (text.isEmpty())
    statusBar()->clearMessage();
  else
    statusBar()->showMessage(text);
}

// "Connected to ttyUSB0, unit address 1, K610" (the board type left out
// while none is known); nothing while not connected.
void MainWindow::UpdateConnectedTo() {
  if (!connectedTo_) return;
  if (!core_->session->Connected()) {
    connectedTo_->clear();
    return;
  }
  const QString target =
      launch_.connection == app::ConnectionKind::Ethernet ? Q(launch_.ipAddress) : connectedPort_;
  QString text = QStringLiteral("Connected to %1, unit address %2").arg(target).arg(core_->unit.unitAddress);
  if (!shownBoard_.empty()) text += QStringLiteral(", ") + Q(shownBoard_);
  connectedTo_->setText(text);
}

bool MainWindow::WaitIdle(int ms) { return runner_->Wait(ms); }

void MainWindow::SetBusy(bool busy) {
  busyDepth_ = std::max(0, busyDepth_ + (busy ? 1 : -1));
  const bool enable = busyDepth_ == 0;
  // The busy cursor over every window of the program (dialogs stay usable).
  if (!enable && !busyCursorShown_ && !closing_) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    busyCursorShown_ = true;
  } else if (enable && busyCursorShown_) {
    QApplication::restoreOverrideCursor();
    busyCursorShown_ = false;
  }
  connect_->setEnabled(enable);
  saveSet_->setEnabled(enable);
  loadSet_->setEnabled(enable);
  for (int id : {button::kAdvanced, button::kSaveConfigFile, button::kLoadConfigFile, button::kMainApply,
                 button::kMainRefresh})
    page_->Host().Enable(id, enable);
  if (advanced_)
    for (int id : {button::kWindowRefresh, button::kWindowApply}) advanced_->Host().Enable(id, enable);
}

void MainWindow::ShowConnected(bool connected) {
  connectionLabel_->setText(connected ? QStringLiteral("Connected") : QStringLiteral("Not connected"));
  connectionLabel_->setStyleSheet(connected ? QStringLiteral("color: green;") : QStringLiteral("color: red;"));
  OnSetLamp(params::kLampConnection, connected ? params::kIconGreen : params::kIconRed);
  // A connection that is made anew owes nothing to the failures of the
  // one before it.
  if (connected && poll_) poll_->NewConnection();
  UpdateConnectedTo();
}

void MainWindow::ShowPollingState() {
  const bool on = settings_.pollingEnabled;
  pollingLabel_->setText(on ? QStringLiteral("Polling enabled") : QStringLiteral("Polling disabled"));
  if (QAction* toggle = Action(32772))
    toggle->setText(on ? QStringLiteral("Disable polling\tCtrl+P") : QStringLiteral("Enable polling\tCtrl+P"));
  if (QAction* enable = Action(32773)) enable->setVisible(!on);
  if (QAction* disable = Action(32774)) disable->setVisible(on);
}

void MainWindow::SetUnitAddressEverywhere(int address) {
  core_->unit.unitAddress = address;
  launch_.unitAddress = address;
  poll_->SetUnitAddress(address);
  UpdateConnectedTo();
}

int MainWindow::LampIcon(int lamp) const {
  auto it = lampIcons_.find(lamp);
  return it == lampIcons_.end() ? 0 : it->second;
}

void MainWindow::ApplyVariantToPage(const std::string& boardType) {
  launch_.boardType = boardType;
  shownBoard_ = boardType;
  UpdateConnectedTo();
  page_->LayOutForBoard(params::VariantOf(boardType));
}

void MainWindow::SetConfigTabCount(int count) {
  const QSignalBlocker block(tabs_);
  while (tabs_->count() < count) tabs_->addTab(QStringLiteral("Config %1").arg(tabs_->count() + 1));
  while (tabs_->count() > count) tabs_->removeTab(tabs_->count() - 1);
}

void MainWindow::SelectConfigTab(int index) {
  const QSignalBlocker block(tabs_);
  if (index >= 0 && index < tabs_->count()) tabs_->setCurrentIndex(index);
}

// ---------------------------------------------------------------- start-up

void MainWindow::Start() {
  // The start-up connection: the stored port first, then every port, with
  // the broadcast address query, while the "Connecting" dialog shows. Its
  // Cancel ends the scan once the port being tried is done with.
  connecting_ = new ConnectDialog(this);
  connecting_->setAttribute(Qt::WA_DeleteOnClose);
  connecting_->setModal(false);
  std::shared_ptr<std::atomic<bool>> cancelled = scanCancelled_;
  connect(connecting_, &QDialog::rejected, this, [cancelled] {
    link::Trace("Connection attempt cancelled by user\r\n");
    *cancelled = true;
  });
  connecting_->show();
  rs232_->setChecked(true);

  struct Scan {
    int comPortIndex = -1;  // what the settings hold afterwards
    int found = -1;
  };
  auto scan = std::make_shared<Scan>();
  scan->comPortIndex = settings_.comPortIndex;
  const int stored = settings_.comPortIndex;
  Run(
      [stored, scan, cancelled](Core& core) {
        link::CRavlenRemoteControl& rc = *core.link;
        const std::vector<link::SerialPortInfo> ports = rc.SerialPorts();
        const int count = static_cast<int>(ports.size());
        auto tryPort = [&](int index) {
          if (*cancelled) return false;
          core.view->OnWindow([name = Q(ports[static_cast<std::size_t>(index)].name)](MainWindow& w) {
            w.ShowOperationStatus(QStringLiteral("Looking for a unit on %1...").arg(name));
          });
          {
            std::lock_guard lock(link::LinkLock());
            if (rc.OpenSerialPort(index) != link::kLinkOk) return false;
          }
          if (core.session->LearnUnitAddress() == link::kLinkOk) {
            // Cancel is offered until a unit answers; one that answers after
            // it is not taken.
            bool taken = false;
            core.view->OnWindow([&taken, cancelled](MainWindow& w) {
              taken = !*cancelled;
              if (taken && w.connecting_) w.connecting_->CancelButton()->setEnabled(false);
            });
            if (taken) return true;
          }
          std::lock_guard lock(link::LinkLock());
          rc.CloseSerialPort();
          return false;
        };
        if (stored >= 0 && stored < count && tryPort(stored)) scan->found = stored;
        if (scan->found < 0 && !*cancelled) {
          scan->comPortIndex = -1;
          for (int i = 0; scan->found < 0 && i < count && !*cancelled; ++i)
            if (tryPort(i)) scan->found = i;
        }
        if (scan->found >= 0) {
          scan->comPortIndex = scan->found;
          core.session->SetConnected(true);
          core.view->OnWindow([found = scan->found](MainWindow& w) {
            w.connectedPort_ = w.ports_->itemText(found);
            w.shownBoard_.clear();
            w.ShowConnected(true);
            w.ShowOperationStatus(QStringLiteral("Reading the unit's settings..."));
          });
          core.session->FullRefresh();
        }
      },
      [this, scan, cancelled] {
        if (connecting_) {
          disconnect(connecting_, &QDialog::rejected, this, nullptr);  // closed here, not cancelled
          connecting_->close();
        }
        settings_.comPortIndex = scan->comPortIndex;
        if (scan->comPortIndex >= 0 && scan->comPortIndex < ports_->count())
          ports_->setCurrentIndex(scan->comPortIndex);
        if (scan->found >= 0) {
          launch_.connected = true;
          SetUnitAddressEverywhere(core_->unit.unitAddress);
        } else {
          // No unit, or the operator called the search off: not connected
          // either way, but only a search that failed says so in a box.
          settings_.pollingEnabled = false;
          core_->session->SetConnected(false);
          if (*cancelled)
            ShowResult(QStringLiteral("Connection attempt cancelled"));
          else
            options_.prompter->Message("Alert", "Unable to connect", params::MessageIcon::Information);
          ShowConnected(false);
          OnSetLamp(params::kLampVideoLock, params::kIconGrey);
          OnSetLamp(params::kLampRfOutput, params::kIconGrey);
        }
        ShowConnected(core_->session->Connected());
        ShowPollingState();
        poll_->Start(settings_, core_->unit.unitAddress);
        SetCaption(this, Q(settings_.appTitle.value_or("")));
      },
      QStringLiteral("Looking for a unit on the serial ports..."));
}

// ----------------------------------------------------------------- connect

void MainWindow::OnConnect() {
  if (runner_->Running()) return;
  if (rs232_->isChecked()) {
    const int index = ports_->currentIndex();
    if (index < 0) {
      options_.prompter->Message("Error", "No serial port selected", params::MessageIcon::Exclamation);
      return;
    }
    const bool wasEthernet = launch_.connection == app::ConnectionKind::Ethernet;
    launch_.connection = app::ConnectionKind::Rs232;
    const QString portName = ports_->itemText(index);
    struct Outcome {
      bool opened = false, answered = false;
      std::string reason;
    };
    auto outcome = std::make_shared<Outcome>();
    Run(
        [index, wasEthernet, outcome](Core& core) {
          link::CRavlenRemoteControl& rc = *core.link;
          {
            std::lock_guard poll(link::PollLock());
            std::lock_guard lock(link::LinkLock());
            if (rc.IsConnected() || rc.HasSocket() || rc.SerialOpen()) {
              if (wasEthernet)
                rc.CloseEthernet();
              else
                rc.CloseSerialPort();
            }
            ShowConnectionClosed(core);
            outcome->opened = rc.OpenSerialPort(index) == link::kLinkOk;
            outcome->reason = rc.LastOpenError();
          }
          if (!outcome->opened) return;
          if (core.session->LearnUnitAddress() != link::kLinkOk) {
            std::lock_guard lock(link::LinkLock());
            rc.CloseSerialPort();  // no unit answered: no message
            return;
          }
          outcome->answered = true;
          core.session->SetConnected(true);
          core.view->OnWindow([index](MainWindow& w) {
            w.connectedPort_ = w.ports_->itemText(index);
            w.shownBoard_.clear();  // until the refresh has read it
            w.SetUnitAddressEverywhere(w.core_->unit.unitAddress);
            w.ShowConnected(true);
            w.ShowOperationStatus(QStringLiteral("Reading the unit's settings..."));
          });
          core.session->FullRefresh();
        },
        [this, index, outcome, portName] {
          if (outcome->answered) {
            settings_.comPortIndex = index;
            launch_.connected = true;
          }
          if (outcome->opened) {
            // The port opened but nothing answered the address query: said
            // in the status line only.
            if (!outcome->answered) ShowResult(QStringLiteral("No unit answered on %1").arg(portName));
            return;
          }
          ShowResult(QStringLiteral("Unable to connect to %1").arg(portName));
          std::string reason = outcome->reason;
          if (reason.find("ermission denied") != std::string::npos)
            reason += "\n\nAdd your user to the \"dialout\" group (sudo usermod -aG dialout $USER), "
                      "then log out and in again.";
          options_.prompter->MessageWithReason("Error", "Unable to connect", reason,
                                               params::MessageIcon::Exclamation);
        },
        QStringLiteral("Connecting to %1...").arg(portName));
    return;
  }

  // Ethernet.
  if (!address_->IsComplete()) {
    options_.prompter->Message("Error", "Invalid IP address entered", params::MessageIcon::Exclamation);
    return;
  }
  const std::string ip = address_->Text().left(15).toStdString();
  StartEthernetConnect(ip);
}

void MainWindow::StartEthernetConnect(const std::string& ip) {
  const bool wasEthernet = launch_.connection == app::ConnectionKind::Ethernet;
  // While the link is lost the same address is connected anew.
  if (wasEthernet && ip == launch_.ipAddress && core_->session->Connected() && core_->link->IsConnected()) {
    options_.prompter->Message("Alert", "Already connected on this IP address", params::MessageIcon::Information);
    return;
  }
  launch_.connection = app::ConnectionKind::Ethernet;
  launch_.ipAddress = ip;
  const std::uint64_t attempt = ++ethernetAttempt_;
  ethernetCancelled_ = false;
  ethernetAttemptOver_ = false;
  const QString connecting = QStringLiteral("Connecting to %1...").arg(Q(ip));
  // Closing the old connection waits for the link, so it runs as an
  // operation; the connect thread starts when it is done.
  Run(
      [wasEthernet, ip](Core& core) {
        link::CRavlenRemoteControl& rc = *core.link;
        std::lock_guard poll(link::PollLock());
        std::lock_guard lock(link::LinkLock());
        if (wasEthernet) {
          if (rc.IsConnected() || rc.HasSocket()) rc.CloseEthernet();
        } else if (rc.SerialOpen()) {
          rc.CloseSerialPort();
        }
        ShowConnectionClosed(core);
        rc.SetEthernetAddress(ip);
      },
      [this, attempt, ip, connecting] {
        if (attempt != ethernetAttempt_) return;
        QPointer<MainWindow> self(this);
        connectHandle_ = core_->link->StartConnectThread([self, attempt](int) {
          // On the connect thread: hand the result to the window thread.
          QMetaObject::invokeMethod(
              qApp,
              [self, attempt] {
                if (self) self->EthernetAttemptEnded(attempt);
              },
              Qt::QueuedConnection);
        });
        // Busy for as long as the attempt lasts, not only while its steps run.
        SetBusy(true);
        ShowOperationStatus(connecting);
        setEnabled(false);
        auto* dialog = new ConnectDialog(this);
        connecting_ = dialog;
        const int result = dialog->exec();
        delete dialog;
        setEnabled(true);
        SetBusy(false);
        if (closing_) {
          core_->link->CancelConnectThread(connectHandle_);
          return;
        }
        // A dialog that ended before the attempt did (Cancel, Escape, closed
        // by the window system) cancels it: nothing connects behind it.
        if (result != QDialog::Accepted || !ethernetAttemptOver_) {
          link::Trace("Connection attempt cancelled by user\r\n");
          ethernetCancelled_ = true;
          core_->link->CancelConnectThread(connectHandle_);
          ShowResult(QStringLiteral("Connection attempt cancelled"));
          // A socket the thread stored just before the cancel is dropped too.
          auto closeIt = [this] {
            Run([](Core& core) {
              std::lock_guard poll(link::PollLock());
              std::lock_guard lock(link::LinkLock());
              if (!core.session->Connected()) core.link->CloseEthernet();
            });
          };
          if (runner_->Running())
            QObject::connect(runner_, &OperationRunner::runningChanged, this, closeIt, Qt::SingleShotConnection);
          else
            closeIt();
        } else if (!runner_->Running() && !core_->link->IsConnected()) {
          ShowResult(QStringLiteral("Unable to connect to %1").arg(Q(ip)));
          options_.prompter->Message("Alert", "Unable to connect", params::MessageIcon::Information);
        } else {
          ShowResult({});
        }
      });
}

void MainWindow::EthernetAttemptEnded(std::uint64_t attempt) {
  if (attempt != ethernetAttempt_ || ethernetCancelled_ || closing_) return;
  const std::string ip = launch_.ipAddress;
  const std::string lastAddressFile = options_.lastAddressFile;
  Run(
      [ip, lastAddressFile](Core& core) {
        {
          std::lock_guard lock(link::LinkLock());
          core.link->ProbeUnit();
        }
        if (!core.link->IsConnected()) return;
        // The operator may have cancelled while the unit was probed; from
        // here on Cancel is no longer offered.
        bool cancelled = false;
        core.view->OnWindow([&cancelled](MainWindow& w) {
          cancelled = w.ethernetCancelled_;
          if (w.connecting_) w.connecting_->CancelButton()->setEnabled(false);
        });
        if (cancelled || core.abandoned->set) {
          std::lock_guard poll(link::PollLock());
          std::lock_guard lock(link::LinkLock());
          core.link->CloseEthernet();
          return;
        }
        // A unit answered at this address: it is offered at the next start.
        if (!lastAddressFile.empty()) {
          std::string error;
          if (!app::SaveLastAddress(lastAddressFile, ip, &error))
            link::Trace("The last IP address was not kept: %s\r\n", error.c_str());
        }
        core.session->LearnUnitAddress();
        core.session->SetConnected(true);
        core.view->OnWindow([](MainWindow& w) {
          if (w.ethernetCancelled_) return;
          w.shownBoard_.clear();
          w.SetUnitAddressEverywhere(w.core_->unit.unitAddress);
          w.ShowConnected(true);
          w.launch_.connected = true;
          if (w.connecting_) w.connecting_->SetText(QStringLiteral("Reading values..."));
          w.ShowOperationStatus(QStringLiteral("Reading the unit's settings..."));
        });
        core.session->FullRefresh();
      },
      [this] {
        ethernetAttemptOver_ = true;
        if (connecting_) connecting_->accept();
      });
}

// ------------------------------------------------------- the page buttons

void MainWindow::OnPageButton(int id) {
  if (runner_->Running()) return;
  switch (id) {
    case button::kAdvanced:
      OpenAdvancedWindow();
      return;
    case button::kSatmod:
      OpenSatmodWindow();
      return;
    case button::kMainApply:
      Run([](Core& core) { core.session->ApplyRequest(); }, {}, QStringLiteral("Writing the settings..."));
      return;
    case button::kMainRefresh:
      Run([](Core& core) { core.session->RefreshRequest(); }, {}, QStringLiteral("Reading the unit's settings..."));
      return;
    case button::kSaveConfigFile:
      Run([](Core& core) { params::SaveConfigToFile(core.unit, core.session->CurrentConfig()); }, {},
          QStringLiteral("Saving the configuration to a file..."));
      return;
    case button::kLoadConfigFile:
      Run([](Core& core) { params::LoadConfigFromFile(core.unit, [&core] { core.session->FullRefresh(); }); }, {},
          QStringLiteral("Loading a configuration from a file..."));
      return;
    case 1001:  // Save config set
      Run([](Core& core) { params::SaveConfigSet(core.unit, [&core] { core.session->FullRefresh(); }); }, {},
          QStringLiteral("Saving the configuration set..."));
      return;
    case 1002:  // Load config set
      Run([](Core& core) { params::LoadConfigSet(core.unit, [&core] { core.session->FullRefresh(); }); }, {},
          QStringLiteral("Loading the configuration set..."));
      return;
    case button::kWriteKey:
      OnWriteKey();
      return;
    default:
      return;
  }
}

void MainWindow::OpenAdvancedWindow() {
  if (!core_->session->Connected()) {
    options_.prompter->Message("Error", "No connection currently", params::MessageIcon::Exclamation);
    return;
  }
  if (advanced_) {
    advanced_->raise();
    advanced_->activateWindow();
    return;
  }
  advanced_ = new AdvancedOptionsWindow(core_->unit, icon_);
  connect(advanced_, &AdvancedOptionsWindow::ButtonPressed, this, &MainWindow::OnAdvancedButton);
  unapplied_->WatchAdvanced(advanced_);
  if (busyDepth_ > 0)
    for (int id : {button::kWindowRefresh, button::kWindowApply}) advanced_->Host().Enable(id, false);
  advanced_->show();
  advanced_->raise();
  advanced_->activateWindow();
}

void MainWindow::OnAdvancedButton(int id) {
  if (runner_->Running() || !advanced_) return;
  if (id == button::kWindowApply) {
    Run([](Core& core) {
      const std::vector<ControlHost*> pages = core.view->AdvancedPages();
      core.session->ApplyAdvancedWindow(pages);
    }, {}, QStringLiteral("Writing the settings..."));
  } else if (id == button::kWindowRefresh) {
    Run([](Core& core) { core.session->FullRefresh(); }, {}, QStringLiteral("Reading the unit's settings..."));
  }
}

void MainWindow::OpenSatmodWindow() {
  if (!core_->session->Connected()) {
    options_.prompter->Message("Error", "No connection currently", params::MessageIcon::Exclamation);
    return;
  }
  if (satmod_) {
    satmod_->raise();
    satmod_->activateWindow();
    return;
  }
  satmod_ = new SatmodWindow(icon_);
  connect(satmod_, &SatmodWindow::ButtonPressed, this, &MainWindow::OnSatmodButton);
  unapplied_->WatchSatmod(satmod_);
  params::InitPage(satmod_->Host(), core_->tables->satmod);
  // Unlike the Advanced options window, this one reads the unit as it opens.
  Run([](Core& core) { core.session->ReadSatmodWindow(core.view->SatmodHost()); },
      [this] {
        if (!satmod_) return;
        satmod_->show();
        satmod_->raise();
        satmod_->activateWindow();
      },
      QStringLiteral("Reading the satellite modulator's settings..."));
}

void MainWindow::OnSatmodButton(int id) {
  if (runner_->Running() || !satmod_) return;
  if (id == button::kWindowApply)
    Run([](Core& core) { core.session->ApplySatmodWindow(core.view->SatmodHost()); }, {},
        QStringLiteral("Writing the satellite modulator's settings..."));
  else if (id == button::kWindowRefresh)
    Run([](Core& core) { core.session->FullRefresh(); }, {}, QStringLiteral("Reading the unit's settings..."));
}

void MainWindow::OnRfOutput() {
  if (runner_->Running()) return;
  Run([](Core& core) { core.session->ToggleRfOutput(); }, {}, QStringLiteral("Switching the RF output..."));
}

void MainWindow::OnConfigTabChanged(int index) {
  if (runner_->Running() || index < 0) return;
  if (!core_->link->IsConnected()) return;  // only the selection changes
  const int back = core_->session->CurrentConfig() - 1;
  unapplied_->BeforeConfigSwitch(
      index,
      [this, index] {
        Run([index](Core& core) { core.session->ChangeConfigTab(index); }, {},
            QStringLiteral("Loading config %1...").arg(index + 1));
      },
      [this, back] { SelectConfigTab(back); });
}

// --------------------------------------------------------------- polling

void MainWindow::OnSetLamp(int lamp, int icon) {
  lampIcons_[lamp] = icon;
  const QIcon image = ResourceIcon(icon);
  if (lamp == params::kLampRfOutput) {
    rfLamp_->setIcon(image);
    return;
  }
  QLabel* label = lamp == params::kLampVideoLock ? videoLamp_ : lamp == params::kLampConnection ? connectionLamp_ : nullptr;
  if (label) label->setPixmap(image.pixmap(QSize(kLampSize, kLampSize), devicePixelRatioF()));
}

void MainWindow::OnParameterPolled(std::string_view mnemonic) {
  // While an operation runs it may hold the row's lock and wait for this
  // thread; the value is shown when it has ended.
  if (runner_->Running()) {
    if (pendingPolled_.empty())
      QObject::connect(runner_, &OperationRunner::runningChanged, this, &MainWindow::ShowPendingPolledValues,
                       Qt::SingleShotConnection);
    pendingPolled_.insert(std::string(mnemonic));
    return;
  }
  params::ShowPolledValue(core_->tables->main, mnemonic, page_->Host(), advanced_ ? &advanced_->Host() : nullptr);
}

void MainWindow::ShowPendingPolledValues() {
  auto pending = std::move(pendingPolled_);
  pendingPolled_.clear();
  for (const std::string& m : pending) OnParameterPolled(m);
}

void MainWindow::OnContactConfirmed() {
  if (connectionHandlerRunning_ || core_->session->Connected() || closing_) return;
  if (runner_->Running()) return;  // the next contact tries again
  connectionHandlerRunning_ = true;
  Run(
      [](Core& core) {
        core.session->SetConnected(true);
        core.view->OnWindow([](MainWindow& w) {
          w.launch_.connected = true;
          w.ShowConnected(true);
        });
        if (core.session->LearnUnitAddress() == link::kLinkOk)
          core.view->OnWindow([](MainWindow& w) { w.SetUnitAddressEverywhere(w.core_->unit.unitAddress); });
        core.session->FullRefresh();
      },
      [this] { connectionHandlerRunning_ = false; }, QStringLiteral("Connection restored: reading the unit's settings..."));
}

// A connect closes the connection that was open before it tries the new
// one; until the new one answers the window says there is none, so a
// failed attempt never leaves "Connected" showing over a closed link.
void MainWindow::ShowConnectionClosed(Core& core) {
  if (!core.session->Connected()) return;
  core.session->SetConnected(false);
  core.view->OnWindow([](MainWindow& w) {
    w.launch_.connected = false;
    w.ShowConnected(false);
    w.OnSetLamp(params::kLampVideoLock, params::kIconGrey);
    w.OnSetLamp(params::kLampRfOutput, params::kIconGrey);
  });
}

void MainWindow::OnLinkLost() {
  if (connectionHandlerRunning_) return;
  if (!core_->session->Connected()) return;
  core_->session->SetConnected(false);
  launch_.connected = false;
  ShowConnected(false);
  OnSetLamp(params::kLampVideoLock, params::kIconGrey);
  OnSetLamp(params::kLampRfOutput, params::kIconGrey);
  ShowResult(QStringLiteral("The unit stopped answering"));
}

// ---------------------------------------------------------------- closing

void MainWindow::keyPressEvent(QKeyEvent* event) {
  // Escape does not close the main window; Enter presses nothing.
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
  QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!closing_ && !unapplied_->AllowMainClose([this] { close(); })) {
    event->ignore();
    return;
  }
  Shutdown();
  event->accept();
}

void MainWindow::Shutdown() {
  if (closing_) return;
  closing_ = true;
  // Whatever still talks to the unit is cut short: waits end, exchanges
  // give up at once, and a running operation no longer touches the windows.
  core_->link->Interrupt();
  core_->clock.Interrupt();
  if (runner_->Running()) core_->abandoned->set = true;
  poll_->StopForClose();
  if (runner_->Running() && !runner_->Wait(kCloseWaitMs)) {
    leftWorkRunning_ = true;
    runner_->Abandon();
  }
  core_->abandoned->set = true;
  if (busyCursorShown_) {
    QApplication::restoreOverrideCursor();
    busyCursorShown_ = false;
  }
  if (connecting_) connecting_->reject();
  if (engineering_) engineering_->close();
  if (monitor_) monitor_->close();
  if (advanced_) advanced_->close();
  if (satmod_) satmod_->close();
}

}  // namespace vecta::gui
