#include "vectactl.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

#include "app/connector.h"
#include "app/session.h"
#include "cli_ui.h"
#include "edit_config.h"
#include "review.h"
#include "transfer_signals.h"
#include "watch.h"
#include "link/frame.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "link/remote_control.h"
#include "link/request.h"
#include "link/serial_port.h"
#include "link/trace.h"
#include "params/apply.h"
#include "params/config_file.h"
#include "params/config_set.h"
#include "params/convert.h"
#include "params/memory_host.h"
#include "params/page_rules.h"
#include "params/refresh.h"

namespace vecta::ctl {
namespace {

using namespace vecta::link;

// How long the tool waits for a TCP connection before giving up.
constexpr int kConnectWaitMs = 30000;
// The longest value a write frame carries over either link.
constexpr std::size_t kMaxValueLength = kMaxTcpRequestFrame - 24;

struct Options {
  std::string serialDevice;
  std::uint32_t baud = 9600;
  std::string tcp;
  std::optional<int> address;
  std::string logFile;
  std::optional<std::uint32_t> readTimeoutMs;
  std::vector<std::string> extraPorts;
  bool trace = false;
  bool yes = false;
  // Command arguments.
  std::string text, mnemonic, value, file, otherFile, keyType, key, upperKey;
  bool json = false;
  bool dryRun = false;
  WatchOptions watch;
  EditConfigOptions edit;
};

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

// The wire text the program would write for a stored value.
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

class Tool {
 public:
  Tool(const Options& o, std::ostream& out, std::ostream& err, Clock& clock)
      : o_(o), out_(out), err_(err), clock_(clock), prompter_(err, o.yes, isatty(STDERR_FILENO) != 0) {}

  int Connect() {
    std::vector<std::string> extra = o_.extraPorts;
    if (!o_.serialDevice.empty()) extra.push_back(o_.serialDevice);
    ports_ = DiscoverSerialPorts(extra);
    LinkEnvironment env;
    env.serial = MakePosixSerialProvider(ports_);
    env.clock = &clock_;
    link_ = std::make_unique<CRavlenRemoteControl>(CRavlenRemoteControl::LinkLostNotify{}, env);
    const std::string log = o_.logFile.empty() ? DefaultLogPath() : o_.logFile;
    if (!log.empty()) link_->OpenLogFile(log);
    unit_.link = link_.get();
    unit_.clock = &clock_;
    unit_.prompter = &prompter_;
    unit_.tables = &tables_;
    unit_.transfer = &transfer_;
    const int rc = o_.serialDevice.empty() ? ConnectTcp() : ConnectSerial();
    if (rc == kExitOk) session_.SetConnected(true);
    return rc;
  }

  int Probe() {
    if (int rc = LearnAddress()) return rc;
    LinkReply reply;
    if (std::uint32_t rc = Exchange(*link_, ReadRequest(unit_.unitAddress, "gbty"), reply)) return LinkError(rc);
    out_ << "address " << unit_.unitAddress << "\n";
    out_ << "board " << (reply.status == '1' ? reply.value : std::string("(refused)")) << "\n";
    return kExitOk;
  }

  int Raw(const std::string& text) {
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
  int Dump(bool json) {
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

  int Get(const std::string& mnemonic) {
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

  // The value as an operator types it, through a page holding the named
  // row's control and only what its own rule needs, and the same apply the
  // pages use: mode changes wait for the unit, derived rows write the
  // mnemonics behind them. The unit's value is read back and compared.
  int Set(const std::string& mnemonic, const std::string& text) {
    if (auto problem = ValueProblem(mnemonic, text)) {
      err_ << *problem << "\n";
      return kExitUsage;
    }
    if (int rc = Refresh()) return rc;
    params::ParamTable* table = nullptr;
    params::ParamRow* row = RowToSet(mnemonic, table);
    if (!row) return NoSuchRow(mnemonic);
    const params::RowDescriptor& desc = row->Desc();
    if (int rc = CheckSettable(mnemonic, desc, *table)) return rc;

    std::vector<int> controls;
    params::MemoryHost page = PageFor(desc, *table, controls);
    std::int32_t askedPosition = -1;
    if (int rc = EnterValue(page, desc, controls, mnemonic, text, askedPosition)) return rc;
    const std::string asked = AskedWire(desc, page, askedPosition);
    {
      OperationLock operation;
      if (params::Apply(unit_, *table, page) != 0) params::Refresh(unit_, *table, page);
    }
    if (prompter_.ErrorShown()) return kExitLinkError;
    const auto value = row->Get();
    if (!value) {
      err_ << "The unit did not answer " << mnemonic << "\n";
      return kExitLinkError;
    }
    const std::string shown = params::ShownValue(desc, value);
    if (!asked.empty() && !SameWire(desc, HeldWire(desc, *row), asked)) {
      err_ << "the unit kept " << mnemonic << " at " << shown << "\n";
      return kExitLinkError;
    }
    out_ << shown << "\n";
    return kExitOk;
  }

  // The status values of the board type, sampled until Ctrl-C, the count,
  // or a unit that has stopped answering.
  int Watch(const WatchOptions& options, app::UtcClock& utc) {
    if (int rc = LearnAddress()) return rc;
    const app::UnitIdentity id = app::IdentifyUnit(*link_, unit_.unitAddress);
    const auto rows = app::StatusRowsFor(params::VariantOf(id.boardType), id.modulator);
    return RunWatch(*link_, unit_.unitAddress, rows, options, out_, err_, clock_, utc);
  }

  int SaveConfig(const std::string& path) {
    if (int rc = Refresh()) return rc;
    return params::SaveConfigFile(unit_, path, session_.CurrentConfig()) ? kExitOk : kExitLinkError;
  }

  int LoadConfig(const std::string& path) {
    if (int rc = Refresh()) return rc;
    if (o_.dryRun) return DryRunLoad(unit_, path, out_);
    return params::LoadConfigFile(unit_, path, FullRefresh()) ? kExitOk : kExitLinkError;
  }

  int DiffUnit(const std::string& path) {
    if (Refresh()) return kExitReviewError;
    return ctl::DiffUnit(unit_, path, out_);
  }

  int SaveSet(const std::string& path) {
    if (int rc = Refresh()) return rc;
    return params::SaveConfigSetFile(unit_, path, FullRefresh()) ? kExitOk : kExitLinkError;
  }

  int LoadSet(const std::string& path) {
    if (int rc = Refresh()) return rc;
    return params::LoadConfigSetFile(unit_, path, FullRefresh()) ? kExitOk : kExitLinkError;
  }

  // A command that switches the unit's configurations: a signal ends it
  // early, after its clean-up, with 128 + the signal's number.
  int Switching(const std::function<int()>& command) {
    TransferSignals signals(*link_, transfer_);
    const int rc = command();
    const int signal = signals.Received();
    if (signal == 0) return rc;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): only this thread names signals.
    err_ << "vectactl: " << strsignal(signal) << ": the transfer was ended early\n";
    return 128 + signal;
  }

  int RestoreDefaults() {
    if (int rc = LearnAddress()) return rc;
    session_.RestoreDefaults();
    return prompter_.ErrorShown() ? kExitLinkError : kExitOk;
  }

  int WriteKey(const std::string& typeName, const std::string& key, const std::string& upper) {
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

 private:
  // Why a row cannot be set now, as the exit code after saying so; 0 when
  // it can.
  int CheckSettable(const std::string& mnemonic, const params::RowDescriptor& desc, const params::ParamTable& table) {
    // The manual bitrate is typed in its edit and written through the box.
    if (!desc.writable && !desc.Has(params::flag::kBitratePair)) {
      err_ << mnemonic << " is shown only; it cannot be set\n";
      return kExitUsage;
    }
    if (&table == &tables_.satmod && !view_.satmodButton) {
      err_ << mnemonic << " is a satellite modulator setting and no satellite modulator answers on this unit\n";
      return kExitUsage;
    }
    if (unit_.variant() != params::Variant::K610 && desc.control == params::ids::kMpeg4EncodingMode &&
        unit_.rules.encoderIndex == 0) {
      err_ << mnemonic << " is the MPEG4 encoding mode; the encoder is MPEG2 now\n";
      return kExitUsage;
    }
    return kExitOk;
  }

  // The page: the row's control and, for the bitrate pair, its partner
  // (both in `controls`, the row's first), showing what the unit holds.
  params::MemoryHost PageFor(const params::RowDescriptor& desc, const params::ParamTable& table,
                             std::vector<int>& controls) {
    controls = {desc.control};
    if (desc.Has(params::flag::kBitratePair))
      for (const auto& other : table.Rows())
        if (other.Desc().Has(params::flag::kBitratePair) && other.Desc().control != desc.control)
          controls.push_back(other.Desc().control);
    params::MemoryHost page(controls);
    params::InitPage(page, table);
    for (const auto& r : table.Rows())
      if (page.HasControl(r.Desc().control) && params::RowExists(r.Desc(), unit_.variant()))
        params::ShowStoredValue(r, page);
    return page;
  }

  // The typed value into the page's control, as the operator would enter
  // it; the exit code when it is not one the control takes.
  int EnterValue(params::MemoryHost& page, const params::RowDescriptor& desc, const std::vector<int>& controls,
                 const std::string& mnemonic, const std::string& text, std::int32_t& askedPosition) {
    switch (desc.kind) {
      case params::Kind::List:
        return SelectChoice(page, desc, mnemonic, text, askedPosition);
      case params::Kind::Check: {
        const bool on = text == "1" || text == "on" || text == "yes" || text == "true";
        const bool off = text == "0" || text == "off" || text == "no" || text == "false";
        if (!on && !off) {
          err_ << mnemonic << " is a check box: give on or off\n";
          return kExitUsage;
        }
        page.SetChecked(desc.control, on);
        return kExitOk;
      }
      case params::Kind::Address:
        page.SetAddress(desc.control, params::ParseAddress(text));
        page.SetText(desc.control, text);
        return kExitOk;
      default:
        page.SetText(desc.control, text);
        // A bitrate typed means a manual bitrate.
        if (desc.Has(params::flag::kBitratePair))
          for (int id : controls)
            if (id != desc.control) page.SetChecked(id, true);
        return kExitOk;
    }
  }

  int SelectChoice(params::MemoryHost& page, const params::RowDescriptor& desc, const std::string& mnemonic,
                   const std::string& text, std::int32_t& askedPosition) {
    auto offered = params::OfferedOptions(*desc.options);
    // MPEG4 offers the two small sizes after the four fixed ones.
    const bool k240Resolution =
        unit_.variant() != params::Variant::K610 && desc.control == params::ids::kResolution;
    if (k240Resolution && unit_.rules.encoderIndex == 1) {
      offered.resize(std::min<std::size_t>(offered.size(), 4));
      offered.push_back("SIF");
      offered.push_back("QSIF");
      page.ClearList(desc.control);
      for (std::size_t i = 0; i < offered.size(); ++i) page.InsertEntry(desc.control, static_cast<int>(i), offered[i]);
    }
    auto it = std::find(offered.begin(), offered.end(), text);
    if (it == offered.end()) {
      err_ << "'" << text << "' is not a choice of " << mnemonic << ":";
      for (std::size_t i = 0; i < offered.size() && i < 40; ++i) err_ << " \"" << offered[i] << "\"";
      if (offered.size() > 40) err_ << " ... (" << offered.size() << " choices)";
      err_ << "\n";
      return kExitUsage;
    }
    askedPosition = static_cast<int>(it - offered.begin());
    page.Select(desc.control, askedPosition);
    return kExitOk;
  }

  // Why a typed value cannot go to the unit, before anything is sent.
  std::optional<std::string> ValueProblem(const std::string& mnemonic, const std::string& text) {
    for (unsigned char c : text) {
      if (c == ';') return "A value for " + mnemonic + " cannot hold ';'";
      if (c < 0x20 || c == 0x7f) return "A value for " + mnemonic + " cannot hold a control character";
    }
    if (text.size() > kMaxValueLength)
      return "The value for " + mnemonic + " is longer than " + std::to_string(kMaxValueLength) + " characters";
    for (params::ParamTable* table : tables_.All())
      for (const auto& row : table->Rows()) {
        const params::RowDescriptor& desc = row.Desc();
        if (row.Mnemonic() != mnemonic || desc.kind != params::Kind::Text || !NumericRow(desc)) continue;
        char* end = nullptr;
        const double number = std::strtod(text.c_str(), &end);
        if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(number) ||
            std::isspace(static_cast<unsigned char>(text.front())))
          // NOLINTNEXTLINE(performance-inefficient-string-concatenation): one error text.
          return "'" + text + "' is not a number; " + mnemonic + " takes one";
      }
    return std::nullopt;
  }

  static bool NumericRow(const params::RowDescriptor& desc) {
    using namespace params::flag;
    return desc.Has(kLevel | kTenths | kTenthsToo | kNegativeTenths | kHundredths | kThousandths |
                    kTwoDecimals | kTrim | kBitratePair);
  }

  // The row of the mnemonic that the unit uses now: of two rate lists, the
  // one for the audio encoder's layer.
  params::ParamRow* RowToSet(const std::string& mnemonic, params::ParamTable*& table) {
    std::vector<std::pair<params::ParamRow*, params::ParamTable*>> found;
    for (params::ParamTable* t : tables_.All())
      for (auto& row : t->Rows())
        if (row.Mnemonic() == mnemonic && params::RowExists(row.Desc(), unit_.variant())) found.push_back({&row, t});
    if (found.empty()) return nullptr;
    int wanted = 0;
    const params::ParamTable& main = tables_.main;
    if (mnemonic == "ampr")
      wanted = main.StoredListPosition("aenc") <= 12 ? params::ids::kLayer1AudioRate : params::ids::kLayer2AudioRate;
    else if (mnemonic == "a1br")
      wanted =
          main.StoredListPosition("a1en") <= 2 ? params::ids::kEncoder1Layer1Rate : params::ids::kEncoder1Layer2Rate;
    else if (mnemonic == "a2br")
      wanted =
          main.StoredListPosition("a2en") <= 2 ? params::ids::kEncoder2Layer1Rate : params::ids::kEncoder2Layer2Rate;
    for (auto& [row, t] : found)
      if (row->Desc().control == wanted) {
        table = t;
        return row;
      }
    table = found.front().second;
    return found.front().first;
  }

  // What the unit should hold once the page's control is applied, as the
  // wire text; "" when that cannot be told (derived rows).
  static std::string AskedWire(const params::RowDescriptor& desc, const params::ControlHost& page,
                               std::int32_t position) {
    if (desc.Derived()) return {};
    switch (desc.kind) {
      case params::Kind::Text:
        return params::FormTextValue(desc, page.Text(desc.control));
      case params::Kind::List:
        if (position > 3 && desc.control == params::ids::kResolution) return {};  // held in ecmd
        return params::FormListValue(desc, position).value_or("");
      case params::Kind::Check:
        return desc.Has(params::flag::kBitratePair) ? std::string() : params::FormCheckValue(page.Checked(desc.control));
      case params::Kind::Address:
        return params::FormatAddress(page.Address(desc.control));
      default:
        return {};
    }
  }

  // Numbers compare by value: the unit may give 4.500 for 4.5.
  static bool SameWire(const params::RowDescriptor& desc, const std::string& held, const std::string& asked) {
    if (held == asked) return true;
    if (desc.kind != params::Kind::Text || !NumericRow(desc) || held.empty()) return false;
    return std::fabs(std::strtod(held.c_str(), nullptr) - std::strtod(asked.c_str(), nullptr)) < 1e-9;
  }

  static std::string HeldWire(const params::RowDescriptor& desc, const params::ParamRow& row) {
    const auto value = row.Get();
    if (!value) return {};
    switch (desc.kind) {
      case params::Kind::Text:
        return params::FormTextValue(desc, std::get<std::string>(*value));
      default:
        return WireText(desc, value);
    }
  }

  int LinkError(std::uint32_t code) {
    err_ << LinkErrorText(code) << "\n";
    return kExitLinkError;
  }

  int NoSuchRow(const std::string& mnemonic) {
    err_ << "No parameter " << mnemonic << " on a " << (unit_.boardType.empty() ? "unit of unknown board type" : unit_.boardType) << "\n";
    return kExitUsage;
  }

  // The row of a mnemonic that exists for the board type.
  params::ParamRow* ExistingRow(const std::string& mnemonic) {
    for (params::ParamTable* table : tables_.All())
      for (auto& row : table->Rows())
        if (row.Mnemonic() == mnemonic && params::RowExists(row.Desc(), unit_.variant())) return &row;
    return nullptr;
  }

  // The main window's full refresh, for the file operations to run.
  std::function<void()> FullRefresh() {
    return [this] { session_.FullRefreshWithinOperation(); };
  }

  int Refresh() {
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

  int ConnectSerial() {
    int index = -1;
    for (std::size_t i = 0; i < ports_.size(); ++i)
      if (ports_[i].path == o_.serialDevice) index = static_cast<int>(i);
    link_->SetBaudRate(o_.baud);
    if (o_.readTimeoutMs) {
      SerialTimeouts t = link_->Timeouts();
      t.readTotalConstant = *o_.readTimeoutMs;
      link_->SetInitialTimeouts(t);
    }
    const app::SerialOpen open = connector_.OpenSerial(index);
    if (open.code != kLinkOk) {
      err_ << LinkErrorText(open.code);
      if (!open.reason.empty()) err_ << ": " << open.reason;
      err_ << "\n";
      if (!open.hint.empty()) err_ << open.hint << "\n";
      return kExitLinkError;
    }
    return kExitOk;
  }

  int ConnectTcp() {
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
    connector_.PrepareEthernet(*ip, app::ConnectionKind::Rs232);
    link_->SetTcpPort(port);
    // As the desktop application does: a failed send or receive never closes
    // the socket.
    link_->SetCloseAfterSendFailure(false);
    link_->SetCloseAfterReceiveFailure(false);
    const int result = ConnectAndWait(*link_, kConnectWaitMs);
    if (result != kConnectOk) {
      err_ << "Unable to connect" << (result < 0 ? " (no answer within 30 s)" : "") << "\n";
      return kExitLinkError;
    }
    connector_.Probe();
    return kExitOk;
  }

  // The unit's address: given, or asked with the broadcast query.
  int LearnAddress() {
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

  const Options& o_;
  std::ostream& out_;
  std::ostream& err_;
  Clock& clock_;
  TerminalPrompter prompter_;
  std::vector<SerialPortInfo> ports_;
  std::unique_ptr<CRavlenRemoteControl> link_;
  params::ParamTables tables_;
  params::UnitContext unit_;
  params::TransferControl transfer_;
  CliView view_;
  app::Session session_{unit_, view_};
  app::Connector connector_{session_};
  bool addressKnown_ = false;
};

// ---------------------------------------------------------------- files

// A configuration file or set, decoded; the error text when it is not one.
std::optional<params::ConfigFileData> ReadConfigFile(const std::string& path, std::ostream& err) {
  bool tooLarge = false;
  const auto bytes = params::ReadFileBounded(path, params::kMaxConfigFileSize, tooLarge);
  if (!bytes) {
    err << path << ": "
        << (tooLarge ? params::config_text::kTooLarge : params::config_text::kOpenForReading) << "\n";
    return std::nullopt;
  }
  // The first word counts the configurations: 1 (or 0) for a single one.
  std::uint32_t count = 0;
  for (std::size_t i = 0; i < 4 && i < bytes->size(); ++i) count |= std::uint32_t((*bytes)[i]) << (8 * i);
  const params::ConfigParse parsed = count <= 1 ? params::ParseConfigFile(*bytes) : params::ParseConfigSet(*bytes, 0);
  if (!parsed.ok()) {
    err << path << ": " << params::ConfigErrorText(parsed.error) << "\n";
    return std::nullopt;
  }
  return parsed.data;
}

// A record as the pages would show it. A mnemonic with rows for several
// board types may read differently on each: every distinct reading is given.
std::string ShownRecord(const params::ConfigRecord& record) {
  static params::ParamTables blank;
  std::vector<std::string> readings;
  for (params::ParamTable* table : blank.All()) {
    for (const auto& row : table->Rows()) {
      if (row.Mnemonic() != record.mnemonic) continue;
      const params::RowDescriptor& desc = row.Desc();
      std::string shown;
      switch (desc.kind) {
        case params::Kind::Text:
          shown = params::DisplayText(desc, record.ValueText());
          break;
        case params::Kind::List:
        case params::Kind::StatusList:
          shown = params::StatusText(desc, params::WireToPosition(*desc.options, record.number));
          break;
        case params::Kind::Check:
          shown = desc.Has(params::flag::kBitratePair) ? record.ValueText() : (record.number ? "on" : "off");
          break;
        case params::Kind::Address:
          shown = record.ValueText();
          break;
      }
      if (std::find(readings.begin(), readings.end(), shown) == readings.end()) readings.push_back(shown);
    }
  }
  std::string out;
  for (const auto& r : readings) out += (out.empty() ? "" : " / ") + r;
  return out;
}

int ShowConfig(const std::string& path, std::ostream& out, std::ostream& err) {
  const auto data = ReadConfigFile(path, err);
  if (!data) return kExitUsage;
  out << path << ": " << (data->images.size() == 1 && data->count <= 1 ? "configuration file" : "configuration set")
      << ", " << data->images.size() << " configuration" << (data->images.size() == 1 ? "" : "s")
      << ", checksum correct\n";
  for (const auto& image : data->images) {
    out << "config " << image.number << ": " << image.records.size() << " records\n";
    for (const auto& r : image.records) {
      char line[48];
      std::snprintf(line, sizeof line, "  %-4s %-12s ", r.mnemonic.c_str(), r.ValueText().c_str());
      out << line << ShownRecord(r) << "\n";
    }
  }
  return kExitOk;
}

// Exit 0 when the files hold the same settings, 1 when they differ.
int DiffConfig(const std::string& a, const std::string& b, std::ostream& out, std::ostream& err) {
  const auto left = ReadConfigFile(a, err);
  const auto right = ReadConfigFile(b, err);
  if (!left || !right) return kExitUsage;
  int differences = 0;
  const std::size_t n = std::max(left->images.size(), right->images.size());
  for (std::size_t i = 0; i < n; ++i) {
    const params::ConfigImage* l = i < left->images.size() ? &left->images[i] : nullptr;
    const params::ConfigImage* r = i < right->images.size() ? &right->images[i] : nullptr;
    const std::string where = "config " + std::to_string(l ? l->number : r->number);
    if (!l || !r) {
      out << where << ": only in " << (l ? a : b) << "\n";
      ++differences;
      continue;
    }
    // A mnemonic may repeat: its n-th record is compared with the other
    // file's n-th record of the same mnemonic.
    auto find = [](const params::ConfigImage& image, const std::string& m,
                   std::size_t nth) -> const params::ConfigRecord* {
      for (const auto& rec : image.records)
        if (rec.mnemonic == m && nth-- == 0) return &rec;
      return nullptr;
    };
    auto text = [](const params::ConfigRecord* rec) {
      return rec ? rec->ValueText() + " (" + ShownRecord(*rec) + ")" : std::string("(none)");
    };
    std::map<std::string, std::size_t> seenLeft, seenRight;
    for (const auto& rec : l->records) {
      const params::ConfigRecord* other = find(*r, rec.mnemonic, seenLeft[rec.mnemonic]++);
      if (other && *other == rec) continue;
      out << where << ": " << rec.mnemonic << " " << text(&rec) << " -> " << text(other) << "\n";
      ++differences;
    }
    for (const auto& rec : r->records) {
      if (find(*l, rec.mnemonic, seenRight[rec.mnemonic]++)) continue;
      out << where << ": " << rec.mnemonic << " (none) -> " << text(&rec) << "\n";
      ++differences;
    }
  }
  if (differences == 0) out << "no differences\n";
  return differences ? 1 : kExitOk;
}

// The argument parser; its help text is the usage text.
struct Parser {
  CLI::App app{"Talks to one Vecta transmitter unit (or the simulator vecta-sim).", "vectactl"};
  Options o;
  std::string command;

  Parser() {
    app.require_subcommand(1);
    app.fallthrough();
    auto* serial = app.add_option("--serial", o.serialDevice,
                                  "serial port device (a real port, or the simulator's pty), or a terminal "
                                  "server's port: rfc2217://HOST:PORT");
    app.add_option("--baud", o.baud, "serial speed")->check(CLI::Range(50u, 4000000u))->capture_default_str();
    auto* tcp = app.add_option("--tcp", o.tcp, "unit over Ethernet, HOST[:PORT] (port 9999 unless given)")
                    ->check([](const std::string& v) -> std::string {
                      auto colon = v.rfind(':');
                      if (colon == std::string::npos) return v.empty() ? "a host is needed" : "";
                      const std::string p = v.substr(colon + 1);
                      if (colon == 0) return "a host is needed";
                      if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos ||
                          std::stoi(p) < 1 || std::stoi(p) > 65535)
                        return "the TCP port must be 1..65535";
                      return "";
                    });
    serial->excludes(tcp);
    app.add_option("--address", o.address, "unit address; without it the unit is asked (broadcast 9999)")
        ->check(CLI::Range(0, 9999));
    app.add_option("--log", o.logFile, "communication log (default: $XDG_STATE_HOME/vecta_tx_ctrl/vectactl.log)");
    app.add_option("--read-timeout", o.readTimeoutMs, "serial read time-out per byte in ms (default 2500)")
        ->check(CLI::Range(0u, 600000u));
    app.add_option("--port", o.extraPorts, "add a device path (or rfc2217://HOST:PORT) to the port list");
    app.add_flag("--trace", o.trace, "debug trace lines on stderr");
    app.add_flag("--yes,-y", o.yes, "answer yes to every question (restore-defaults)");

    Sub("probe", "print the unit's address and board type");
    Sub("raw", "send TEXT after the unit address (for example rgbty;;) and print the bytes")
        ->add_option("TEXT", o.text, "the request after the address")->required();
    Sub("ports", "list the serial ports found, with their index");
    Sub("dump", "read every setting and print it as the pages show it, with the wire value")
        ->add_flag("--json", o.json, "print JSON");
    Sub("get", "read one setting and print it as the pages show it")
        ->add_option("MNEMONIC", o.mnemonic)->required();
    auto* set = Sub("set", "write one setting as an operator types it (an option text or the shown number)");
    set->add_option("MNEMONIC", o.mnemonic)->required();
    set->add_option("VALUE", o.value)->required();
    auto* watch = Sub("watch", "print the unit's status values, one line per sample, until Ctrl-C "
                               "(exit 1 when the unit stops answering for 3 samples)");
    watch->add_option("--interval", o.watch.intervalMs, "ms from one sample to the next")
        ->check(CLI::Range(100, 86400000))
        ->capture_default_str();
    watch->add_option("--count", o.watch.count, "stop after N samples")->check(CLI::Range(1, 1000000000));
    watch->add_flag("--json", o.watch.json, "print JSON lines");
    Sub("restore-defaults", "restore the unit's defaults (asks first; --yes answers)");
    Sub("save-config", "save the current configuration to FILE")->add_option("FILE", o.file)->required();
    auto* load = Sub("load-config", "load FILE into the unit's current configuration");
    load->add_option("FILE", o.file)->required();
    load->add_flag("--dry-run", o.dryRun, "print what the load would change and write nothing");
    Sub("diff-unit", "print what loading FILE (a configuration file or set) would change on the unit "
                     "(exit 0 when nothing, 1 when something differs, 2 on error)")
        ->add_option("FILE", o.file)->required();
    Sub("save-set", "save every configuration of the unit to FILE")->add_option("FILE", o.file)->required();
    Sub("load-set", "load every configuration of FILE into the unit")->add_option("FILE", o.file)->required();
    Sub("show-config", "decode a configuration file or set without a unit")
        ->add_option("FILE", o.file)->required();
    auto* diff = Sub("diff-config", "print what differs between two configuration files (exit 1 when they differ)");
    diff->add_option("A", o.file)->required();
    diff->add_option("B", o.otherFile)->required();
    auto* edit = Sub("edit-config", "change one setting of FILE without a unit and save it, the value as for set "
                                    "(exit 1 when the file cannot be saved)");
    edit->add_option("FILE", o.edit.file)->required();
    edit->add_option("MNEMONIC", o.edit.mnemonic)->required();
    edit->add_option("VALUE", o.edit.value)->required();
    edit->add_option("--config", o.edit.config, "the configuration of a set (1..N)");
    edit->add_option("--board", o.edit.board, "K240, K610 or other, when the file's records do not tell");
    auto* key = Sub("write-key", "write a scrambling key: abs KEY8 | aes128 KEY32 | aes256 LOWER32 UPPER32");
    key->add_option("TYPE", o.keyType)->required()->check(CLI::IsMember({"abs", "aes128", "aes256"}));
    key->add_option("KEY", o.key)->required();
    key->add_option("UPPER", o.upperKey);
  }

  CLI::App* Sub(const char* name, const char* description) {
    auto* sub = app.add_subcommand(name, description);
    sub->callback([this, name] { command = name; });
    return sub;
  }
};

}  // namespace

std::string Usage() {
  Parser p;
  return p.app.help() + "\nexit status: 0 success, 1 link error, 2 bad usage; diff-unit: 0 same, 1 different, 2 error\n";
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, Clock* clock,
        app::UtcClock* utc) {
  Parser p;
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    p.app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    // "vectactl COMMAND --help" is the command's own help, with its options.
    if (p.app.get_subcommands().empty())
      out << Usage();
    else
      out << p.app.help();
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    err << "vectactl: " << e.what() << "\n" << Usage();
    return kExitUsage;
  }
  const Options& o = p.o;
  EnableStderrTrace(o.trace);
  if (p.command == "ports") {
    const auto ports = DiscoverSerialPorts(o.extraPorts);
    for (std::size_t i = 0; i < ports.size(); ++i)
      out << i << " " << ports[i].name << " " << ports[i].path << "\n";
    return kExitOk;
  }
  if (p.command == "show-config") return ShowConfig(o.file, out, err);
  if (p.command == "diff-config") return DiffConfig(o.file, o.otherFile, out, err);
  if (p.command == "edit-config") return EditConfig(o.edit, out, err);
  if (o.serialDevice.empty() == o.tcp.empty()) {
    err << "vectactl: give either --serial DEVICE or --tcp HOST[:PORT]\n" << Usage();
    return kExitUsage;
  }
  Tool tool(o, out, err, clock ? *clock : SystemClock());
  if (int rc = tool.Connect()) return p.command == "diff-unit" ? kExitReviewError : rc;
  if (p.command == "probe") return tool.Probe();
  if (p.command == "raw") return tool.Raw(o.text);
  if (p.command == "dump") return tool.Dump(o.json);
  if (p.command == "get") return tool.Get(o.mnemonic);
  if (p.command == "set") return tool.Set(o.mnemonic, o.value);
  if (p.command == "watch") return tool.Watch(o.watch, utc ? *utc : app::SystemUtcClock());
  if (p.command == "restore-defaults") return tool.RestoreDefaults();
  if (p.command == "save-config") return tool.SaveConfig(o.file);
  if (p.command == "load-config") return tool.LoadConfig(o.file);
  if (p.command == "diff-unit") return tool.Switching([&] { return tool.DiffUnit(o.file); });
  if (p.command == "save-set") return tool.Switching([&] { return tool.SaveSet(o.file); });
  if (p.command == "load-set") return tool.Switching([&] { return tool.LoadSet(o.file); });
  if (p.command == "write-key") return tool.WriteKey(o.keyType, o.key, o.upperKey);
  err << "vectactl: unknown command\n";
  return kExitUsage;
}

}  // namespace vecta::ctl
