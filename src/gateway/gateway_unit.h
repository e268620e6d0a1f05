// The gateway's unit: the unit connection built as the application's and
// vectactl's are (serial speed and time-outs, the communication log), opened
// on the target the command line names, and the UnitPort the scheduler
// runs its requests on. The gateway shows no pages: what the session would
// show goes nowhere.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/unit_connection.h"
#include "gateway/gateway_options.h"
#include "gateway/link_unit_port.h"

namespace vecta::gateway {

class GatewayUnit {
 public:
  // `options` carries the link's seams and settings; the target and the log
  // come from `gateway`. Nothing is opened yet.
  GatewayUnit(const GatewayOptions& gateway, app::UnitConnectionOptions options,
              std::function<void(const std::string&)> notice);
  ~GatewayUnit();

  // Opens the serial port or connects TCP once; false with `error` when the
  // unit link is not up yet (the unit thread keeps trying).
  bool Open(std::string& error);
  UnitPort& Port() { return *port_; }
  // Counts every exchange and loss of the unit into `health`; before the
  // unit thread starts.
  void WatchHealth(metrics::LinkHealth& health) { port_->SetHealth(&health); }
  app::UnitConnection& Connection() { return *connection_; }
  // Exchanges in progress give up at once: the program is closing.
  void Interrupt() { connection_->Interrupt(); }

 private:
  struct NoView;
  bool Up();
  bool Reopen();

  UnitTarget target_;
  std::unique_ptr<NoView> view_;
  std::unique_ptr<app::UnitConnection> connection_;
  std::unique_ptr<LinkUnitPort> port_;
};

}  // namespace vecta::gateway
