#include "app/unit_connection.h"

#include <utility>

#include "link/serial_port.h"

namespace vecta::app {

void TakeSerialSettings(UnitConnectionOptions& options, const AppSettings& settings) {
  options.baudRate = static_cast<std::uint32_t>(settings.baudRate);
  link::SerialTimeouts& t = options.timeouts;
  t.readInterval = static_cast<std::uint32_t>(settings.readIntervalTimeoutMs);
  t.readTotalMultiplier = static_cast<std::uint32_t>(settings.readTotalTimeoutMultiplier);
  t.readTotalConstant = static_cast<std::uint32_t>(settings.readTotalTimeoutConstantMs);
  t.writeTotalMultiplier = static_cast<std::uint32_t>(settings.writeTotalTimeoutMultiplier);
  t.writeTotalConstant = static_cast<std::uint32_t>(settings.writeTotalTimeoutConstantMs);
}

UnitConnection::UnitConnection(UnitConnectionOptions options, SessionView& view, params::Prompter* prompter)
    : clock_(options.clock ? *options.clock : link::SystemClock()) {
  link::LinkEnvironment env = std::move(options.environment);
  if (!env.serial) env.serial = link::MakePosixSerialProvider(link::DiscoverSerialPorts(options.extraPorts));
  link::CRavlenRemoteControl::LinkLostNotify linkLost;
  if (options.notifier) linkLost = LinkLostToNotifier(options.notifier);
  link_ = std::make_shared<link::CRavlenRemoteControl>(std::move(linkLost), std::move(env));
  if (!options.logFile.empty()) link_->OpenLogFile(options.logFile);
  link_->SetInitialTimeouts(options.timeouts);
  link_->SetBaudRate(options.baudRate);
  link_->SetCloseAfterSendFailure(options.closeAfterSendFailure);
  link_->SetCloseAfterReceiveFailure(options.closeAfterReceiveFailure);
  link_->SetTcpReceiveTimeout(options.tcpReceiveTimeoutMs);

  unit_.link = link_.get();
  unit_.clock = &clock_;
  unit_.prompter = prompter;
  unit_.tables = tables_.get();
  unit_.transfer = &transfer_;
  if (options.notifier)
    unit_.setLamp = [notifier = options.notifier](int lamp, int icon) { notifier->SetLamp(lamp, icon); };
  session_ = std::make_unique<app::Session>(unit_, view);
  connector_ = std::make_unique<app::Connector>(*session_);
  if (options.pollThread)
    poll_ = std::make_unique<PollThread>(link_, tables_, options.notifier, std::move(options.pollWaiter));
}

UnitConnection::~UnitConnection() = default;

void UnitConnection::Interrupt() {
  link_->Interrupt();
  clock_.Interrupt();
}

}  // namespace vecta::app
