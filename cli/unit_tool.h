// vectactl's commands that talk to a unit: one connection (a serial port or
// TCP), the parameter tables and the session the desktop application uses,
// with the terminal for its messages and questions. Each command returns
// the exit status.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/session.h"
#include "app/unit_connection.h"
#include "cli_ui.h"
#include "link/clock.h"
#include "link/remote_control.h"
#include "link/serial_port.h"
#include "options.h"
#include "params/memory_host.h"
#include "vectactl.h"

namespace vecta::ctl {

// The wire text the program would write for a stored value.
std::string WireText(const params::RowDescriptor& row, const std::optional<params::Value>& value);

class Tool {
 public:
  Tool(const Options& o, std::ostream& out, std::ostream& err, link::Clock& clock);

  // Opens the link the options name; 0, or the exit status after saying why
  // not.
  int Connect();

  int Probe();
  int Raw(const std::string& text);
  int Dump(bool json);
  int Get(const std::string& mnemonic);
  int Set(const std::string& mnemonic, const std::string& text);
  int Watch(const WatchOptions& options, app::UtcClock& utc);
  int SaveConfig(const std::string& path);
  int LoadConfig(const std::string& path);
  int DiffUnit(const std::string& path);
  int SaveSet(const std::string& path);
  int LoadSet(const std::string& path);
  int Switching(const std::function<int()>& command);
  int RestoreDefaults();
  int WriteKey(const std::string& typeName, const std::string& key, const std::string& upper);

 private:
  // set (set_command.cpp).
  int CheckSettable(const std::string& mnemonic, const params::RowDescriptor& desc,
                    const params::ParamTable& table);
  params::MemoryHost PageFor(const params::RowDescriptor& desc, const params::ParamTable& table,
                             std::vector<int>& controls);
  int EnterValue(params::MemoryHost& page, const params::RowDescriptor& desc, const std::vector<int>& controls,
                 const std::string& text, std::int32_t& askedPosition);
  std::vector<std::string> OfferedNow(params::MemoryHost& page, const params::RowDescriptor& desc);
  params::ParamRow* RowToSet(const std::string& mnemonic, params::ParamTable*& table);

  int LinkError(std::uint32_t code);
  int NoSuchRow(const std::string& mnemonic);
  params::ParamRow* ExistingRow(const std::string& mnemonic);
  std::function<void()> FullRefresh();
  int Refresh();
  int ConnectSerial();
  int ConnectTcp();
  // The link over the ports found plus --port and --serial, the log, the
  // serial speed and read time-out given.
  static app::UnitConnectionOptions ConnectionOptions(const Options& o, link::Clock& clock);
  int LearnAddress();

  const Options& o_;
  std::ostream& out_;
  std::ostream& err_;
  link::Clock& clock_;
  TerminalPrompter prompter_;
  CliView view_;
  app::UnitConnection connection_;
  link::CRavlenRemoteControl* link_ = &connection_.Link();
  params::ParamTables& tables_ = connection_.Tables();
  params::UnitContext& unit_ = connection_.Unit();
  params::TransferControl& transfer_ = connection_.Transfer();
  app::Session& session_ = connection_.Session();
  app::Connector& connector_ = connection_.Connector();
  bool addressKnown_ = false;
};

}  // namespace vecta::ctl
