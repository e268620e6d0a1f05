#include "unit_tool.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <ostream>

#include "link/frame.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "link/request.h"
#include "params/config_file.h"
#include "params/config_set.h"
#include "params/refresh.h"
#include "review.h"
#include "transfer_signals.h"

namespace vecta::ctl {

using namespace vecta::link;

namespace {

// How long the tool waits for a TCP connection before giving up.
constexpr int kConnectWaitMs = 30000;

// The communication log lies in the user's state folder unless --log names
// another file.
std::string DefaultLogPath() {
  namespace fs = std::filesystem;
  fs::path base;
  // NOLINTBEGIN(concurrency-mt-unsafe): nothing in the tool changes its environment.
  if (const char* s = std::getenv("XDG_STATE_HOME"); s && *s)
    base = s;
  else if (const char* h = std::getenv("HOME"); h && *h)
    base = fs::path(h) / ".local" / "state";
  else
    return {};
  // NOLINTEND(concurrency-mt-unsafe)
  std::error_code ec;
  fs::create_directories(base / "vecta_tx_ctrl", ec);
  return (base / "vecta_tx_ctrl" / "vectactl.log").string();
}

// A host name or dotted quad, as the dotted quad the link dials.
std::optional<std::string> ResolveIpv4(const std::string& host) {
  in_addr a{};
  if (inet_pton(AF_INET, host.c_str(), &a) == 1) return host;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return std::nullopt;
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr, buf, sizeof buf);
  freeaddrinfo(res);
  return std::string(buf);
}

void PrintBytes(std::ostream& out, const std::string& bytes) {
  char hex[8];
  for (unsigned char c : bytes) {
    std::snprintf(hex, sizeof hex, "%2x ", c);
    out << hex;
  }
  out << bytes;
}

}  // namespace

std::string WireText(const params::RowDescriptor& row, const std::optional<params::Value>& value) {
  if (!value) return {};
  switch (row.kind) {
    case params::Kind::Text:
      return params::FormTextValue(row, std::get<std::string>(*value));
    case params::Kind::List:
    case params::Kind::StatusList: {
      const auto pos = std::get<std::int32_t>(*value);
      const auto wire = row.options ? params::PositionToWire(*row.options, pos) : std::nullopt;
      if (wire) return std::to_string(*wire);
      if (!row.options) return std::to_string(pos);
      long long empties = 0;
      for (const auto& o : *row.options) empties += o == params::kEmptyOption;
      return std::to_string(pos + empties);
    }
    case params::Kind::Address:
      return params::FormatAddress(std::get<std::uint32_t>(*value));
    case params::Kind::Check:
      return std::to_string(std::get<std::uint8_t>(*value));
  }
  return {};
}

Tool::Tool(const Options& o, std::ostream& out, std::ostream& err, Clock& clock)
    : o_(o),
      out_(out),
      err_(err),
      clock_(clock),
      prompter_(err, o.yes, isatty(STDERR_FILENO) != 0),
      connection_(ConnectionOptions(o, clock), view_, &prompter_) {}

app::UnitConnectionOptions Tool::ConnectionOptions(const Options& o, Clock& clock) {
  app::UnitConnectionOptions c;
  c.environment.clock = &clock;
  c.clock = &clock;
  c.extraPorts = o.extraPorts;
  if (!o.serialDevice.empty()) c.extraPorts.push_back(o.serialDevice);
  c.logFile = o.logFile.empty() ? DefaultLogPath() : o.logFile;
  c.baudRate = o.baud;
  if (o.readTimeoutMs) c.timeouts.readTotalConstant = *o.readTimeoutMs;
  return c;
}

int Tool::Connect() {
  const int rc = o_.serialDevice.empty() ? ConnectTcp() : ConnectSerial();
  if (rc == kExitOk) session_.SetConnected(true);
  return rc;
}

int Tool::Probe() {
  if (int rc = LearnAddress()) return rc;
  LinkReply reply;
  if (std::uint32_t rc = Exchange(*link_, ReadRequest(unit_.unitAddress, "gbty"), reply)) return LinkError(rc);
  out_ << "address " << unit_.unitAddress << "\n";
  out_ << "board " << (reply.status == '1' ? reply.value : std::string("(refused)")) << "\n";
  return kExitOk;
}

int Tool::Raw(const std::string& text) {
  if (int rc = LearnAddress()) return rc;
  std::lock_guard lock(LinkLock());
  LinkReply reply;
  const std::uint32_t rc = link_->SendCommand(AddressedRequest(unit_.unitAddress, text), reply, 1);
  if (rc && rc != kErrInvalidReply && rc != kErrBadChecksum) return LinkError(rc);
  // The exchange is shown even when the reply was rejected, so it can be
  // inspected.
  out_ << "Sending: ";
  PrintBytes(out_, link_->LastRequest());
  out_ << "\n";
  out_ << "Reply: ";
  PrintBytes(out_, link_->LastReply());
  out_ << "\n";
  return rc ? LinkError(rc) : kExitOk;
}

// The full refresh, then every row that exists for the board type.
int Tool::Dump(bool json) {
  if (int rc = Refresh()) return rc;
  const params::Variant variant = unit_.variant();
  nlohmann::json rows = nlohmann::json::array();
  auto list = [&](params::ParamTable& table, const char* name) {
    for (const auto& row : table.Rows()) {
      const params::RowDescriptor& desc = row.Desc();
      if (!params::RowExists(desc, variant)) continue;
      const auto value = row.Get();
      const std::string shown = params::ShownValue(row);
      const std::string wire = desc.Derived() ? std::string() : WireText(desc, value);
      if (json) {
        rows.push_back({{"table", name},
                        {"mnemonic", desc.mnemonic},
                        {"control", desc.control},
                        {"read", value.has_value()},
                        {"shown", shown},
                        {"wire", wire}});
      } else {
        char line[64];
        std::snprintf(line, sizeof line, "%-4s %5d  ", desc.mnemonic, desc.control);
        out_ << line << (value ? shown : std::string("(not read)"));
        if (value && !desc.Derived() && wire != shown) out_ << "  [" << wire << "]";
        out_ << "\n";
      }
    }
  };
  list(tables_.main, "main");
  if (view_.satmodButton) list(tables_.satmod, "satmod");
  if (json) {
    nlohmann::json doc = {{"address", unit_.unitAddress},
                          {"board", unit_.boardType},
                          {"config", session_.CurrentConfig()},
                          {"rows", rows}};
    out_ << doc.dump(2) << "\n";
  } else {
    out_ << "# address " << unit_.unitAddress << ", board " << unit_.boardType << ", config "
         << session_.CurrentConfig() << "\n";
  }
  return prompter_.ErrorShown() ? kExitLinkError : kExitOk;
}

int Tool::Get(const std::string& mnemonic) {
  if (int rc = Refresh()) return rc;
  const params::ParamRow* row = ExistingRow(mnemonic);
  if (!row) return NoSuchRow(mnemonic);
  const auto value = row->Get();
  if (!value) {
    err_ << "The unit did not answer " << mnemonic << "\n";
    return kExitLinkError;
  }
  out_ << params::ShownValue(*row) << "\n";
  return kExitOk;
}

// The status values of the board type, sampled until Ctrl-C, the count,
// or a unit that has stopped answering.
int Tool::Watch(const WatchOptions& options, app::UtcClock& utc) {
  if (int rc = LearnAddress()) return rc;
  const app::UnitIdentity id = app::IdentifyUnit(*link_, unit_.unitAddress);
  const auto rows = app::StatusRowsFor(params::VariantOf(id.boardType), id.modulator);
  return RunWatch(*link_, unit_.unitAddress, rows, options, out_, err_, clock_, utc);
}

int Tool::SaveConfig(const std::string& path) {
  if (int rc = Refresh()) return rc;
  return params::SaveConfigFile(unit_, path, session_.CurrentConfig()) ? kExitOk : kExitLinkError;
}

int Tool::LoadConfig(const std::string& path) {
  if (int rc = Refresh()) return rc;
  if (o_.dryRun) return DryRunLoad(unit_, path, out_);
  return params::LoadConfigFile(unit_, path, FullRefresh()) ? kExitOk : kExitLinkError;
}

int Tool::DiffUnit(const std::string& path) {
  if (Refresh()) return kExitReviewError;
  return ctl::DiffUnit(unit_, path, out_);
}

int Tool::SaveSet(const std::string& path) {
  if (int rc = Refresh()) return rc;
  return params::SaveConfigSetFile(unit_, path, FullRefresh()) ? kExitOk : kExitLinkError;
}

int Tool::LoadSet(const std::string& path) {
  if (int rc = Refresh()) return rc;
  return params::LoadConfigSetFile(unit_, path, FullRefresh()) ? kExitOk : kExitLinkError;
}

// A command that switches the unit's configurations: a signal ends it
// early, after its clean-up, with 128 + the signal's number.
int Tool::Switching(const std::function<int()>& command) {
  TransferSignals signals(*link_, transfer_);
  const int rc = command();
  const int signal = signals.Received();
  if (signal == 0) return rc;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): only this thread names signals.
  err_ << "vectactl: " << strsignal(signal) << ": the transfer was ended early\n";
  return 128 + signal;
}

int Tool::RestoreDefaults() {
  if (int rc = LearnAddress()) return rc;
  session_.RestoreDefaults();
  return prompter_.ErrorShown() ? kExitLinkError : kExitOk;
}

int Tool::WriteKey(const std::string& typeName, const std::string& key, const std::string& upper) {
  app::KeyType type;
  if (typeName == "abs")
    type = app::KeyType::Abs;
  else if (typeName == "aes128")
    type = app::KeyType::Aes128;
  else
    type = app::KeyType::Aes256;
  if (type != app::KeyType::Aes256 && !upper.empty()) {
    err_ << "Only an AES256 key has an upper half\n";
    return kExitUsage;
  }
  if (auto problem = app::Session::CheckKey(type, key, upper)) {
    prompter_.Message("Error", *problem, params::MessageIcon::Exclamation, params::MessageButtons::Ok);
    return kExitUsage;
  }
  const std::size_t length = type == app::KeyType::Abs ? 8 : 32;
  if (key.size() > length || upper.size() > length) {
    err_ << "The key is longer than " << length << " hex digits\n";
    return kExitUsage;
  }
  if (int rc = LearnAddress()) return rc;
  session_.WriteKey(type, key, upper);
  return kExitOk;
}

int Tool::LinkError(std::uint32_t code) {
  err_ << LinkErrorText(code) << "\n";
  return kExitLinkError;
}

int Tool::NoSuchRow(const std::string& mnemonic) {
  err_ << "No parameter " << mnemonic << " on a "
       << (unit_.boardType.empty() ? "unit of unknown board type" : unit_.boardType) << "\n";
  return kExitUsage;
}

// The row of a mnemonic that exists for the board type.
params::ParamRow* Tool::ExistingRow(const std::string& mnemonic) {
  for (params::ParamTable* table : tables_.All())
    for (auto& row : table->Rows())
      if (row.Mnemonic() == mnemonic && params::RowExists(row.Desc(), unit_.variant())) return &row;
  return nullptr;
}

// The main window's full refresh, for the file operations to run.
std::function<void()> Tool::FullRefresh() {
  return [this] { session_.FullRefreshWithinOperation(); };
}

int Tool::Refresh() {
  if (int rc = LearnAddress()) return rc;
  session_.FullRefresh();
  if (prompter_.ErrorShown()) return kExitLinkError;
  if (view_.satmodButton) {
    view_.satmodOpen = true;
    OperationLock operation;
    params::Refresh(unit_, tables_.satmod, view_.satmod);
  }
  return kExitOk;
}

int Tool::ConnectSerial() {
  const app::SerialOpen open = connector_.OpenSerialPath(o_.serialDevice);
  if (open.code != kLinkOk) {
    err_ << LinkErrorText(open.code);
    if (!open.reason.empty()) err_ << ": " << open.reason;
    err_ << "\n";
    if (!open.hint.empty()) err_ << open.hint << "\n";
    return kExitLinkError;
  }
  return kExitOk;
}

int Tool::ConnectTcp() {
  std::string host = o_.tcp;
  std::uint16_t port = kUnitTcpPort;
  if (auto colon = host.rfind(':'); colon != std::string::npos) {
    port = static_cast<std::uint16_t>(std::stoi(host.substr(colon + 1)));
    host.resize(colon);
  }
  const auto ip = ResolveIpv4(host);
  if (!ip) {
    err_ << "Unable to connect: cannot resolve " << host << "\n";
    return kExitLinkError;
  }
  const int result = connector_.ConnectEthernetAndWait(*ip, port, kConnectWaitMs);
  if (result != kConnectOk) {
    err_ << "Unable to connect" << (result < 0 ? " (no answer within 30 s)" : "") << "\n";
    return kExitLinkError;
  }
  return kExitOk;
}

// The unit's address: given, or asked with the broadcast query.
int Tool::LearnAddress() {
  if (addressKnown_) return kExitOk;
  if (o_.address) {
    unit_.unitAddress = *o_.address;
    addressKnown_ = true;
    return kExitOk;
  }
  // A unit that refuses the query is talked to at the address it had.
  if (std::uint32_t rc = connector_.LearnAddress()) return LinkError(rc);
  addressKnown_ = true;
  return kExitOk;
}

}  // namespace vecta::ctl
