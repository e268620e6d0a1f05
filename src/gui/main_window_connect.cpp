// The main window's connection workflow: the start-up scan behind the
// "Connecting" dialog, the Connect button over RS-232 and over Ethernet,
// and what the window shows of each outcome.
#include "gui/main_window.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include "app/last_address.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "link/trace.h"
#include "gui/main_window_parts.h"

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

}  // namespace vecta::gui
