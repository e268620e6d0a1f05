// The main window: the connection panel (RS-232 or Ethernet, port, IP
// address, Connect), the config tabs with the main settings page under
// them, the polling and connection labels, the three lamps and the logo. It
// owns the link, the poll thread and the secondary settings windows.
//
// Every operation with the unit (the start-up scan, connects, the full
// refresh, apply, config changes, files and sets, the RF toggle) runs on the
// operation thread of an OperationRunner, one at a time, so the window
// keeps painting however long the unit takes; what the operation does to
// the windows and to the operator is carried out on the window thread.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/connector.h"
#include "app/poll_thread.h"
#include "app/session.h"
#include "app/settings.h"
#include "gui/command_ids.h"
#include "gui/connect_dialog.h"
#include "gui/cross_thread.h"
#include "gui/ip_address_edit.h"
#include "gui/operation_runner.h"
#include "gui/settings_windows.h"
#include "link/remote_control.h"

class QAction;
class QComboBox;
class QHBoxLayout;
class QVBoxLayout;
class QPushButton;
class QToolBar;
class QRadioButton;
class QTabBar;

namespace vecta::gui {

class OfflineEditors;
class UnappliedChanges;

struct MainWindowOptions {
  app::AppSettings* settings = nullptr;  // required; outlives the window
  std::string logFile;                   // the communication log; "" for none
  // Device paths added to the serial ports found (--port).
  std::vector<std::string> extraPorts;
  // Replaces the ports found and the extra ports (tests).
  std::shared_ptr<link::SerialPortProvider> serialPorts;
  // Replaces the BSD sockets of Ethernet connections (tests).
  std::shared_ptr<link::SocketFactory> sockets;
  // The file that keeps the last IP address reached over Ethernet; its
  // address is offered in the address field at start. "" for none.
  std::string lastAddressFile;
  // The file that keeps the last network serial port (rfc2217://HOST:PORT)
  // a unit answered on; its port is added to the port list (after the
  // extra ports) unless `serialPorts` replaces the list. "" for none.
  std::string lastNetworkPortFile;
  // Message boxes, file choices and progress; default: real dialogs over
  // this window. Must outlive the window.
  params::Prompter* prompter = nullptr;
  // The poll thread's pause (tests step it instead of waiting).
  std::shared_ptr<app::PollWaiter> pollWaiter;
  int tcpReceiveTimeoutMs = link::kReceiveTimeoutMs;
  // Times the operations' pauses (the config switch and mode-change waits);
  // default: the real clock. Must outlive the window (tests never wait).
  link::Clock* clock = nullptr;
  // How long closing waits for a set transfer to return the unit to its
  // configuration and end the switch hold before the link is cut.
  int transferCleanupMs = params::kTransferCleanupMs;
};

// The name and tooltip of the RF output button for the icon its lamp shows:
// "RF output on: click to switch it off", "RF output off: click to switch
// it on", and for the grey lamp "RF output not known: connect to a unit to
// switch it".
QString RfOutputButtonName(int lampIcon);

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(MainWindowOptions options);
  ~MainWindow() override;

  // What opening the window does once it is shown: the start-up scan of the
  // serial ports behind the "Connecting" dialog, the full refresh when a
  // unit answers, the lamps and labels, then the poll thread.
  void Start();

  // Waits up to `ms` (handling events) until no operation runs.
  bool WaitIdle(int ms);
  bool Busy() const { return runner_->Running(); }
  // Left running when the window closed (a unit that never answered):
  // the program should end without running static destructors.
  bool LeftWorkRunning() const { return leftWorkRunning_; }

  // The parts, for tests and the screenshot tool.
  app::Session& Session();
  params::UnitContext& Unit();
  link::CRavlenRemoteControl& Link();
  app::PollThread* Poll() { return poll_; }
  OperationRunner& Runner() { return *runner_; }
  MainSettingsPage* Page() const { return page_; }
  AdvancedOptionsWindow* Advanced() const { return advanced_; }
  SatmodWindow* Satmod() const { return satmod_; }
  ConnectDialog* Connecting() const { return connecting_; }
  UnappliedChanges* Unapplied() const { return unapplied_; }
  QTabBar* ConfigTabs() const { return tabs_; }
  QComboBox* PortList() const { return ports_; }
  IpAddressEdit* AddressEdit() const { return address_; }
  QRadioButton* Rs232Button() const { return rs232_; }
  QRadioButton* EthernetButton() const { return ethernet_; }
  QPushButton* ConnectButton() const { return connect_; }
  QPushButton* SaveSetButton() const { return saveSet_; }
  QPushButton* LoadSetButton() const { return loadSet_; }
  QPushButton* RfOutputButton() const { return rfLamp_; }
  QLabel* PollingLabel() const { return pollingLabel_; }
  QLabel* ConnectionLabel() const { return connectionLabel_; }
  QLabel* LogoFrame() const { return logo_; }
  // What the window is connected to ("Connected to ttyUSB0, unit address 1,
  // K610"), empty when not connected; in the status bar.
  QLabel* ConnectedToLabel() const { return connectedTo_; }
  // The status line: what runs now, or how the last operation ended.
  QString StatusText() const;
  // The icon id a lamp (params::kLampVideoLock, kLampRfOutput, kLampConnection)
  // shows now.
  int LampIcon(int lamp) const;

  // The button handlers, as the operator's presses call them.
  void OnConnect();
  void OnPageButton(int id);
  void OnAdvancedButton(int id);
  void OnSatmodButton(int id);
  void OnRfOutput();
  void OnConfigTabChanged(int index);

  // The menu commands.
  void OnSetIconSource();
  void OnSetLogoSource();
  void OnSetLogoSize();
  void OnSetApplicationTitle();
  void OnTogglePolling();
  void OnPollingOptions();
  void OnWriteKey();
  void OnRestoreDefaults();
  void OnAbout();
  void OnEngineering();
  void OnStatusMonitor();
  QWidget* StatusMonitor() const { return monitor_; }
  // The engineering window's unit address page applied a new address.
  void OnUnitAddressChanged(int address);
  QWidget* Engineering() const { return engineering_; }
  // The configuration files open for editing without a unit.
  OfflineEditors& Offline() { return *offline_; }
  // The action of a command of the menus or the toolbar (command_ids.h), or
  // null.
  QAction* Action(int command) const;
  QToolBar* ToolBar() const { return toolbar_; }

  // The poll thread's and the link's notices, on the window thread.
  void OnSetLamp(int lamp, int icon);
  void OnParameterPolled(std::string_view mnemonic);
  void OnContactConfirmed();
  void OnLinkLost();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct Core;
  class WorkerView;
  class Notifier;

  void BuildWindow();
  QHBoxLayout* BuildConnectionPanel(QWidget* central);
  void BuildConfigArea(QWidget* central, QVBoxLayout* outer);
  QHBoxLayout* BuildStatusRow(QWidget* central);
  void BuildMenus();
  void PlaceLogo();
  // Starts an operation; false (nothing done) while one runs. The window is
  // busy while it runs, and the status line says `status` (when given)
  // until the operation ends.
  bool Run(std::function<void(Core&)> work, std::function<void()> done = {}, const QString& status = {});
  void SetBusy(bool busy);
  // The status line: what an operation does now (cleared when it ends), or
  // a result that stays until the next message.
  void ShowOperationStatus(const QString& text);
  void ShowResult(const QString& text);
  void UpdateConnectedTo();
  void ShowConnected(bool connected);
  static void ShowConnectionClosed(Core& core);
  void ShowPollingState();
  void SetUnitAddressEverywhere(int address);
  void OpenAdvancedWindow();
  void NewAdvancedWindow();
  // Another unit is shown: the open Advanced options window is built anew,
  // and the satellite modulator window closes on a unit without one.
  void RebuildAdvancedWindow();
  void CloseSatmodWithoutModulator();
  void OpenSatmodWindow();
  // The connection workflow; the steps that talk to the unit are the
  // connector's, run on the operation thread.
  static void RunStartupScan(Core& core, int stored, const std::shared_ptr<std::atomic<bool>>& cancelled,
                             app::ScanResult& scan);
  void StartupScanEnded(const app::ScanResult& scan, bool cancelled, int storedPort);
  void SayUnableToConnect(const app::ScanResult& scan);
  void ConnectSerialPort();
  void SerialConnectEnded(int index, const app::SerialConnect& outcome, const QString& portName);
  void StartEthernetConnect(const std::string& ip);
  void RunEthernetAttempt(std::uint64_t attempt, const std::string& ip);
  void EthernetDialogEnded(int result, const std::string& ip);
  void EthernetAttemptEnded(std::uint64_t attempt);
  static void TakeEthernetConnection(Core& core, const std::string& ip, const std::string& lastAddressFile);
  static void KeepNetworkPort(Core& core, int index);
  void ApplyVariantToPage(const std::string& boardType);
  void SetConfigTabCount(int count);
  void SelectConfigTab(int index);
  void ShowPendingPolledValues();
  void WatchUnappliedChanges();
  void Shutdown();
  bool FinishTransferFirst();

  MainWindowOptions options_;
  app::AppSettings& settings_;
  app::LaunchState launch_;
  std::shared_ptr<Core> core_;
  std::shared_ptr<Notifier> notifier_;
  app::PollThread* poll_ = nullptr;  // the connection's
  std::unique_ptr<params::Prompter> ownPrompter_;
  OperationRunner* runner_ = nullptr;
  UnappliedChanges* unapplied_ = nullptr;
  QIcon icon_;

  MainSettingsPage* page_ = nullptr;
  QPointer<AdvancedOptionsWindow> advanced_;
  QPointer<SatmodWindow> satmod_;
  QPointer<ConnectDialog> connecting_;
  QPointer<QWidget> engineering_;
  std::unique_ptr<OfflineEditors> offline_;
  QPointer<QWidget> monitor_;
  QTabBar* tabs_ = nullptr;
  QComboBox* ports_ = nullptr;
  IpAddressEdit* address_ = nullptr;
  QRadioButton* rs232_ = nullptr;
  QRadioButton* ethernet_ = nullptr;
  QPushButton* connect_ = nullptr;
  QPushButton* saveSet_ = nullptr;
  QPushButton* loadSet_ = nullptr;
  QLabel* pollingLabel_ = nullptr;
  QLabel* connectionLabel_ = nullptr;
  QLabel* videoLamp_ = nullptr;
  QPushButton* rfLamp_ = nullptr;
  QLabel* connectionLamp_ = nullptr;
  QLabel* logo_ = nullptr;
  QWidget* logoArea_ = nullptr;
  QLabel* connectedTo_ = nullptr;
  // The serial port of the connection (its name in the list) and the board
  // type last read, for the connected-to line.
  QString connectedPort_;
  std::string shownBoard_;
  bool operationStatusShown_ = false;
  bool busyCursorShown_ = false;
  bool othersBusy_ = false;  // busy for an operation another window started
  std::map<int, int> lampIcons_;
  std::map<int, QAction*> actions_;
  QToolBar* toolbar_ = nullptr;

  int busyDepth_ = 0;
  bool connectionHandlerRunning_ = false;
  bool closing_ = false;
  bool leftWorkRunning_ = false;
  // Closing waits for a stopped set transfer's clean-up, at most until the
  // deadline has passed.
  bool finishingTransfer_ = false;
  bool transferDeadlinePassed_ = false;
  std::set<std::string> pendingPolled_;
  // Set when the operator cancels the start-up scan; read by the scan.
  std::shared_ptr<std::atomic<bool>> scanCancelled_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace vecta::gui
