#include "gui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <mutex>

#include "app/last_network_port.h"
#include "gui/accessibility.h"
#include "gui/icons.h"
#include "gui/main_window_parts.h"
#include "gui/offline_editor.h"
#include "gui/qt_prompter.h"
#include "gui/unapplied_changes.h"
#include "params/page_rules.h"
#include "params/refresh.h"

namespace vecta::gui {

using namespace main_window_detail;

// ------------------------------------------------------------ construction

MainWindow::MainWindow(MainWindowOptions options) : options_(std::move(options)), settings_(*options_.settings) {
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
      if (!closing_) unapplied_->UpdateAll();  // it may have read values back
    }
  });
  notifier_ = std::make_shared<Notifier>(this);

  if (!options_.prompter) {
    ownPrompter_ = std::make_unique<QtPrompter>(this);
    options_.prompter = ownPrompter_.get();
  }

  // The link: ports found in the system plus those named on the command
  // line and the last network port, the log, the serial settings; a failed
  // TCP send or receive never closes the socket.
  app::UnitConnectionOptions connection;
  connection.environment.serial = options_.serialPorts;
  if (!connection.environment.serial)
    connection.extraPorts = app::PortsToOffer(options_.extraPorts, options_.lastNetworkPortFile);
  connection.environment.sockets = options_.sockets;
  connection.clock = options_.clock;
  connection.logFile = options_.logFile;
  app::TakeSerialSettings(connection, settings_);
  connection.tcpReceiveTimeoutMs = options_.tcpReceiveTimeoutMs;
  connection.notifier = notifier_;
  connection.pollThread = true;
  connection.pollWaiter = options_.pollWaiter;
  auto abandoned = std::make_shared<AbandonFlag>();
  core_ = std::make_shared<Core>(abandoned, std::make_unique<GuiThreadPrompter>(*options_.prompter, abandoned),
                                 std::make_unique<WorkerView>(this, abandoned), std::move(connection));
  core_->lastNetworkPortFile = options_.lastNetworkPortFile;
  core_->unit.unitAddress = launch_.unitAddress;
  poll_ = core_->connection.Poll();

  icon_ = ResourceIcon(kIconApplication);
  if (settings_.iconPath && !settings_.iconPath->empty()) {
    QIcon custom(Q(*settings_.iconPath));
    if (!custom.isNull() && !custom.availableSizes().isEmpty()) icon_ = custom;
  }
  BuildWindow();
  BuildMenus();
  WatchUnappliedChanges();
  MakeAccessible(this);
}

MainWindow::~MainWindow() {
  Shutdown();
  notifier_->Detach();
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
    // A value the unit would not take returns to the unit's own on the
    // page; the status line says which.
    if (const std::string refused = app::TakeRefusedWritesText(core_->unit); !refused.empty())
      ShowResult(Q(refused));
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
  for (int id : {ids::kAdvanced, ids::kSaveConfigFile, ids::kLoadConfigFile, ids::kMainApply, ids::kMainRefresh})
    page_->Host().Enable(id, enable);
  if (advanced_)
    for (int id : {ids::kWindowRefresh, ids::kWindowApply}) advanced_->Host().Enable(id, enable);
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
  if (QAction* toggle = Action(commands::kTogglePolling))
    toggle->setText(on ? QStringLiteral("Disable polling\tCtrl+P") : QStringLiteral("Enable polling\tCtrl+P"));
  if (QAction* enable = Action(commands::kEnablePolling)) enable->setVisible(!on);
  if (QAction* disable = Action(commands::kDisablePolling)) disable->setVisible(on);
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

// --------------------------------------------------------------- polling

QString RfOutputButtonName(int lampIcon) {
  if (lampIcon == params::kIconGreen) return QStringLiteral("RF output on: click to switch it off");
  if (lampIcon == params::kIconRed) return QStringLiteral("RF output off: click to switch it on");
  return QStringLiteral("RF output not known: connect to a unit to switch it");
}

void MainWindow::OnSetLamp(int lamp, int icon) {
  lampIcons_[lamp] = icon;
  const QIcon image = ResourceIcon(icon);
  if (lamp == params::kLampRfOutput) {
    rfLamp_->setIcon(image);
    NameIconButton(rfLamp_, RfOutputButtonName(icon));
    return;
  }
  QLabel* label = lamp == params::kLampVideoLock    ? videoLamp_
                  : lamp == params::kLampConnection ? connectionLamp_
                                                    : nullptr;
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
        // Whatever answers now may be another unit than before the loss.
        core.session->NewConnection();
        core.session->FullRefresh();
      },
      [this] { connectionHandlerRunning_ = false; },
      QStringLiteral("Connection restored: reading the unit's settings..."));
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
  // A serial device that went away is opened again at every poll.
  ShowResult(core_->link->SerialPortLost()
                 ? QStringLiteral("The serial port went away; it is tried again at every poll")
                 : QStringLiteral("The unit stopped answering"));
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
  if (!closing_ && !offline_->CloseAll()) {  // the operator stays with an unsaved file
    event->ignore();
    return;
  }
  if (!closing_ && FinishTransferFirst()) {
    event->ignore();
    return;
  }
  Shutdown();
  event->accept();
}

// A set transfer under way is stopped at its next step and given time to
// return the unit to its configuration and end the switch hold before the
// link is cut: the window closes when the transfer has ended, or when that
// time is up. True while it waits.
bool MainWindow::FinishTransferFirst() {
  // Set first: a transfer that has not yet begun sees it and switches nothing.
  core_->transfer.stop = true;
  if (transferDeadlinePassed_ || !runner_->Running() || !core_->transfer.running) return false;
  if (finishingTransfer_) return true;
  finishingTransfer_ = true;
  ShowOperationStatus(QStringLiteral("Finishing the transfer..."));
  connect(
      runner_, &OperationRunner::runningChanged, this,
      [this](bool running) {
        if (!running) close();
      },
      Qt::QueuedConnection);
  QTimer::singleShot(options_.transferCleanupMs, this, [this] {
    transferDeadlinePassed_ = true;
    close();
  });
  return true;
}

void MainWindow::Shutdown() {
  if (closing_) return;
  closing_ = true;
  // Whatever still talks to the unit is cut short: waits end, exchanges
  // give up at once, and a running operation no longer touches the windows.
  core_->connection.Interrupt();
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
