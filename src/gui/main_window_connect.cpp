// The main window's connection workflow: the start-up scan behind the
// "Connecting" dialog, the Connect button over RS-232 and over Ethernet,
// and what the window shows of each outcome.
#include "gui/main_window.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include "app/last_address.h"
#include "app/last_network_port.h"
#include "gui/main_window_parts.h"
#include "link/link_errors.h"
#include "link/trace.h"

namespace vecta::gui {

using namespace main_window_detail;

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

  auto scan = std::make_shared<app::ScanResult>();
  scan->comPortIndex = settings_.comPortIndex;
  const int stored = settings_.comPortIndex;
  Run([stored, scan, cancelled](Core& core) { RunStartupScan(core, stored, cancelled, *scan); },
      [this, scan, cancelled, stored] { StartupScanEnded(*scan, *cancelled, stored); },
      QStringLiteral("Looking for a unit on the serial ports..."));
}

// On the operation thread: the scan, and the full refresh when a unit answered.
void MainWindow::RunStartupScan(Core& core, int stored, const std::shared_ptr<std::atomic<bool>>& cancelled,
                                app::ScanResult& scan) {
  app::ScanHooks hooks;
  hooks.trying = [&core](int, const std::string& name) {
    core.view->OnWindow([name = Q(name)](MainWindow& w) {
      w.ShowOperationStatus(QStringLiteral("Looking for a unit on %1...").arg(name));
    });
  };
  // Cancel is offered until a unit answers; one that answers after it is
  // not taken.
  hooks.take = [&core, cancelled] {
    bool taken = false;
    core.view->OnWindow([&taken, cancelled](MainWindow& w) {
      taken = !*cancelled;
      if (taken && w.connecting_) w.connecting_->CancelButton()->setEnabled(false);
    });
    return taken;
  };
  scan = core.connector->Scan(stored, *cancelled, hooks);
  if (scan.found < 0) return;
  KeepNetworkPort(core, scan.found);
  core.session->SetConnected(true);
  core.view->OnWindow([found = scan.found](MainWindow& w) {
    w.connectedPort_ = w.ports_->itemText(found);
    w.shownBoard_.clear();
    w.ShowConnected(true);
    w.ShowOperationStatus(QStringLiteral("Reading the unit's settings..."));
  });
  core.session->FullRefresh();
}

void MainWindow::StartupScanEnded(const app::ScanResult& scan, bool cancelled, int storedPort) {
  if (connecting_) {
    disconnect(connecting_, &QDialog::rejected, this, nullptr);  // closed here, not cancelled
    connecting_->close();
  }
  settings_.comPortIndex = scan.comPortIndex;
  // Without a unit the list still offers a port for Connect: the one tried
  // first (the stored one, else the first port).
  const int count = ports_->count();
  int offered = scan.comPortIndex;
  if (offered < 0 || offered >= count) offered = storedPort >= 0 && storedPort < count ? storedPort : 0;
  if (count > 0) ports_->setCurrentIndex(offered);
  if (scan.found >= 0) {
    launch_.connected = true;
    SetUnitAddressEverywhere(core_->unit.unitAddress);
  } else {
    // No unit, or the operator called the search off: not connected
    // either way, but only a search that failed says so in a box.
    settings_.pollingEnabled = false;
    core_->session->SetConnected(false);
    if (cancelled)
      ShowResult(QStringLiteral("Connection attempt cancelled"));
    else
      SayUnableToConnect(scan);
    ShowConnected(false);
    OnSetLamp(params::kLampVideoLock, params::kIconGrey);
    OnSetLamp(params::kLampRfOutput, params::kIconGrey);
  }
  ShowConnected(core_->session->Connected());
  ShowPollingState();
  poll_->Start(settings_, core_->unit.unitAddress);
  SetCaption(this, Q(settings_.appTitle.value_or("")));
}

// No unit found at start-up. Ports that did not open are named with the
// reason (another instance holding the port, say), and the first of them is
// the one the port list shows.
void MainWindow::SayUnableToConnect(const app::ScanResult& scan) {
  if (scan.notOpened.empty()) {
    options_.prompter->Message("Alert", "Unable to connect", params::MessageIcon::Information);
    return;
  }
  std::string reasons;
  for (const app::PortNotOpened& port : scan.notOpened)
    reasons += (reasons.empty() ? "" : "\n") + port.name + ": " + port.reason;
  ports_->setCurrentIndex(scan.notOpened.front().index);
  options_.prompter->MessageWithReason("Alert", "Unable to connect", reasons, params::MessageIcon::Information);
}

// A network serial port a unit answered on is offered again at the next start.
void MainWindow::KeepNetworkPort(Core& core, int index) {
  const std::vector<link::SerialPortInfo> ports = core.link->SerialPorts();
  if (index >= 0 && index < static_cast<int>(ports.size()))
    app::KeepNetworkPort(core.lastNetworkPortFile, ports[static_cast<std::size_t>(index)].path);
}

// ----------------------------------------------------------------- connect

void MainWindow::OnConnect() {
  if (runner_->Running()) return;
  if (rs232_->isChecked()) {
    ConnectSerialPort();
    return;
  }
  if (!address_->IsComplete()) {
    options_.prompter->Message("Error", "Invalid IP address entered", params::MessageIcon::Exclamation);
    return;
  }
  const std::string ip = address_->Text().left(15).toStdString();
  StartEthernetConnect(ip);
}

void MainWindow::ConnectSerialPort() {
  const int index = ports_->currentIndex();
  if (index < 0) {
    options_.prompter->Message("Error", "No serial port selected", params::MessageIcon::Exclamation);
    return;
  }
  const app::ConnectionKind previous = launch_.connection;
  launch_.connection = app::ConnectionKind::Rs232;
  const QString portName = ports_->itemText(index);
  auto outcome = std::make_shared<app::SerialConnect>();
  Run(
      [index, previous, outcome](Core& core) {
        *outcome = core.connector->ConnectSerial(index, previous, [&core] { ShowConnectionClosed(core); });
        if (outcome->result != app::SerialConnect::Result::Connected) return;
        KeepNetworkPort(core, index);
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
      [this, index, outcome, portName] { SerialConnectEnded(index, *outcome, portName); },
      QStringLiteral("Connecting to %1...").arg(portName));
}

void MainWindow::SerialConnectEnded(int index, const app::SerialConnect& outcome, const QString& portName) {
  using Result = app::SerialConnect::Result;
  if (outcome.result == Result::Connected) {
    settings_.comPortIndex = index;
    launch_.connected = true;
    return;
  }
  // The port opened but nothing answered the address query: said in the
  // status line only.
  if (outcome.result == Result::NoAnswer) {
    ShowResult(QStringLiteral("No unit answered on %1").arg(portName));
    return;
  }
  ShowResult(QStringLiteral("Unable to connect to %1").arg(portName));
  std::string reason = outcome.open.reason;
  if (!outcome.open.hint.empty()) reason += "\n\n" + outcome.open.hint;
  options_.prompter->MessageWithReason("Error", "Unable to connect", reason, params::MessageIcon::Exclamation);
}

void MainWindow::StartEthernetConnect(const std::string& ip) {
  const app::ConnectionKind previous = launch_.connection;
  // While the link is lost the same address is connected anew.
  if (previous == app::ConnectionKind::Ethernet && ip == launch_.ipAddress && core_->session->Connected() &&
      core_->link->IsConnected()) {
    options_.prompter->Message("Alert", "Already connected on this IP address", params::MessageIcon::Information);
    return;
  }
  launch_.connection = app::ConnectionKind::Ethernet;
  launch_.ipAddress = ip;
  const std::uint64_t attempt = core_->connector->BeginEthernetAttempt();
  // Closing the old connection waits for the link, so it runs as an
  // operation; the connect thread starts when it is done.
  Run([previous,
       ip](Core& core) { core.connector->PrepareEthernet(ip, previous, [&core] { ShowConnectionClosed(core); }); },
      [this, attempt, ip] { RunEthernetAttempt(attempt, ip); });
}

// The connect thread and the modal "Connecting" dialog while it runs.
void MainWindow::RunEthernetAttempt(std::uint64_t attempt, const std::string& ip) {
  QPointer<MainWindow> self(this);
  const bool started = core_->connector->StartEthernetAttempt(attempt, [self, attempt] {
    // On the connect thread: hand the result to the window thread.
    QMetaObject::invokeMethod(
        qApp,
        [self, attempt] {
          if (self) self->EthernetAttemptEnded(attempt);
        },
        Qt::QueuedConnection);
  });
  if (!started) return;  // a newer attempt has begun
  // Busy for as long as the attempt lasts, not only while its steps run.
  SetBusy(true);
  ShowOperationStatus(QStringLiteral("Connecting to %1...").arg(Q(ip)));
  setEnabled(false);
  auto* dialog = new ConnectDialog(this);
  connecting_ = dialog;
  const int result = dialog->exec();
  delete dialog;
  setEnabled(true);
  SetBusy(false);
  if (closing_) {
    core_->connector->StopEthernetAttempt();
    return;
  }
  EthernetDialogEnded(result, ip);
}

void MainWindow::EthernetDialogEnded(int result, const std::string& ip) {
  // A dialog that ended before the attempt did (Cancel, Escape, closed by
  // the window system) cancels it: nothing connects behind it.
  if (core_->connector->EthernetDialogEnded(result == QDialog::Accepted)) {
    ShowResult(QStringLiteral("Connection attempt cancelled"));
    // A socket the thread stored just before the cancel is dropped too.
    auto closeIt = [this] { Run([](Core& core) { core.connector->DropCancelledEthernet(); }); };
    if (runner_->Running())
      QObject::connect(runner_, &OperationRunner::runningChanged, this, closeIt, Qt::SingleShotConnection);
    else
      closeIt();
  } else if (!runner_->Running() && !core_->link->IsConnected()) {
    ShowResult(QStringLiteral("Unable to connect to %1: %2")
                   .arg(Q(ip), Q(app::EthernetFailureReason(core_->link->LastConnectError()))));
    options_.prompter->Message("Alert", "Unable to connect", params::MessageIcon::Information);
  } else if (operationStatusShown_) {
    ShowResult({});  // what the connect said; a result of its refresh stays
  }
}

void MainWindow::EthernetAttemptEnded(std::uint64_t attempt) {
  if (!core_->connector->EthernetAttemptLive(attempt) || closing_) return;
  const std::string ip = launch_.ipAddress;
  const std::string lastAddressFile = options_.lastAddressFile;
  Run([ip, lastAddressFile](Core& core) { TakeEthernetConnection(core, ip, lastAddressFile); },
      [this] {
        core_->connector->EthernetAttemptHandled();
        if (connecting_) connecting_->accept();
      });
}

// On the operation thread: the probe of the new connection and, when the
// unit answered and the operator still wants it, the full refresh.
void MainWindow::TakeEthernetConnection(Core& core, const std::string& ip, const std::string& lastAddressFile) {
  // The operator may have cancelled while the unit was probed; from here on
  // Cancel is no longer offered.
  const app::EthernetResult result = core.connector->FinishEthernet([&core] {
    bool cancelled = false;
    core.view->OnWindow([&cancelled, &core](MainWindow& w) {
      cancelled = core.connector->EthernetAttemptCancelled();
      if (w.connecting_) w.connecting_->CancelButton()->setEnabled(false);
    });
    return !cancelled && !core.abandoned->set;
  });
  if (result != app::EthernetResult::Connected) return;
  // A unit answered at this address: it is offered at the next start.
  if (!lastAddressFile.empty()) {
    std::string error;
    if (!app::SaveLastAddress(lastAddressFile, ip, &error))
      link::Trace("The last IP address was not kept: %s\r\n", error.c_str());
  }
  core.session->SetConnected(true);
  core.view->OnWindow([](MainWindow& w) {
    if (w.core_->connector->EthernetAttemptCancelled()) return;
    w.shownBoard_.clear();
    w.SetUnitAddressEverywhere(w.core_->unit.unitAddress);
    w.ShowConnected(true);
    w.launch_.connected = true;
    if (w.connecting_) w.connecting_->SetText(QStringLiteral("Reading values..."));
    w.ShowOperationStatus(QStringLiteral("Reading the unit's settings..."));
  });
  core.session->FullRefresh();
}

}  // namespace vecta::gui
