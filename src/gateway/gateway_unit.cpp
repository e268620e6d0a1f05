#include "gateway/gateway_unit.h"

#include <mutex>
#include <utility>

#include "link/link_errors.h"
#include "link/link_lock.h"
#include "params/memory_host.h"

namespace vecta::gateway {

struct GatewayUnit::NoView final : app::SessionView {
  void SetBusy(bool) override {}
  void SetConfigCount(int) override {}
  void SelectConfigTab(int) override {}
  void AdaptToBoard(const std::string&) override {}
  void ShowSatmodButton(bool) override {}
  params::ControlHost& MainPage() override { return page; }
  params::ControlHost* AdvancedWindow() override { return nullptr; }
  params::ControlHost* SatmodWindow() override { return nullptr; }
  params::MemoryHost page;
};

GatewayUnit::GatewayUnit(const GatewayOptions& gateway, app::UnitConnectionOptions options,
                         std::function<void(const std::string&)> notice)
    : target_(gateway.unit), view_(std::make_unique<NoView>()) {
  if (target_.kind == UnitTarget::Kind::Serial) options.extraPorts.push_back(target_.path);
  options.logFile = gateway.logFile;
  // A TCP unit that fails a send or receive is given up and dialled again
  // by the unit thread, which keeps trying every few seconds.
  options.closeAfterSendFailure = true;
  options.closeAfterReceiveFailure = true;
  options.pollThread = false;
  link::Clock* clock = options.environment.clock;
  connection_ = std::make_unique<app::UnitConnection>(std::move(options), *view_, nullptr);
  link::CRavlenRemoteControl& link = connection_->Link();
  link.SetReconnectAfterClose(false);
  if (target_.kind == UnitTarget::Kind::Tcp) {
    link.SetEthernetAddress(target_.host);
    link.SetTcpPort(target_.port);
  }
  UnitLinkHooks hooks{[this] { return Reopen(); }, [this] { return Up(); }, std::move(notice)};
  port_ = std::make_unique<LinkUnitPort>(link, clock ? *clock : link::SystemClock(), std::move(hooks));
}

GatewayUnit::~GatewayUnit() = default;

bool GatewayUnit::Up() {
  link::CRavlenRemoteControl& link = connection_->Link();
  return target_.kind == UnitTarget::Kind::Serial ? link.SerialOpen() : link.HasSocket();
}

bool GatewayUnit::Reopen() {
  link::CRavlenRemoteControl& link = connection_->Link();
  if (target_.kind == UnitTarget::Kind::Tcp) return link.ConnectOnThisThread() == link::kConnectOk;
  if (link.SerialPortLost()) return link.ReopenLostSerialPort();
  return connection_->Connector().OpenSerialPath(target_.path).code == link::kLinkOk;
}

bool GatewayUnit::Open(std::string& error) {
  std::lock_guard lock(link::LinkLock());
  if (Reopen()) return true;
  link::CRavlenRemoteControl& link = connection_->Link();
  if (target_.kind == UnitTarget::Kind::Tcp)
    error = "cannot connect to " + target_.host + ":" + std::to_string(target_.port);
  else
    error = "cannot open " + target_.path + (link.LastOpenError().empty() ? "" : ": " + link.LastOpenError());
  return false;
}

}  // namespace vecta::gateway
