#include "sim_cli.h"

#include <charconv>
#include <cstdint>
#include <limits>

namespace vecta::sim {

namespace {

bool ParseInt(const std::string& text, long long min, long long max, long long& out) {
  long long v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < min || v > max) return false;
  out = v;
  return true;
}

}  // namespace

std::string UsageText() {
  return "usage: vecta-sim [options]\n"
         "Plays a transmitter unit on TCP (enciphered envelope) and/or serial lines.\n"
         "\n"
         "Transports (TCP on 127.0.0.1:9999 when none is given):\n"
         "  --tcp ADDR[:PORT]     serve TCP on ADDR (port 9999 if omitted, 0 = any free)\n"
         "  --pty [LINK]          serve on a pseudo-terminal; LINK: symlink to its slave\n"
         "  --serial DEVICE       serve on a serial device, raw 8N1\n"
         "  --baud N              baud rate of --serial (default 9600)\n"
         "\n"
         "Unit:\n"
         "  --address N           unit address 0..9998 (default 1)\n"
         "  --board TEXT          board type, at most 8 characters (default K610)\n"
         "  --firmware TEXT       firmware version (default 3.4.0.0)\n"
         "  --configurations N    number of configurations (default 16 for K240/K610, else 8)\n"
         "  --satmod              the satellite modulator is fitted (its s... parameters exist)\n"
         "  --param MNEM=VALUE    the default of one of the unit's parameters, in every\n"
         "                        configuration (repeatable)\n"
         "  --settle-ms N         after a write that changes the unit's mode, answer nothing\n"
         "                        for N ms (default 0: no settling)\n"
         "  --vloc-toggle-ms N    video lock (vloc) flips every N ms (default 0: locked)\n"
         "  --drift               status values move as in the field: the battery runs\n"
         "                        down, temperatures warm up and wander, voltages flicker,\n"
         "                        the video lock drops now and then\n"
         "  --drift-seed N        seed of those movements (default 1)\n"
         "  --drift-speed N       the movements run N times faster (1..3600, default 1)\n"
         "  --state FILE          load the configurations and address from FILE when it\n"
         "                        exists; save them there after every change\n"
         "\n"
         "Faults:\n"
         "  --silent              never answer\n"
         "  --silent-after N      answer the first N requests only\n"
         "  --every-other         answer requests 1, 3, 5, ... only\n"
         "  --delay-ms N          wait N ms before each reply\n"
         "  --bad-checksum        replies carry a wrong checksum\n"
         "  --no-etx              replies lack their final ETX\n"
         "  --bad-status          replies carry status 'X' (checksum correct)\n"
         "  --garbage N           N garbage bytes before each reply's STX\n"
         "  --split-reply         send each reply in two parts with a pause between\n"
         "  --split-pause-ms N    that pause (default 50)\n"
         "  --close-after N       TCP: close the connection when its request N+1 arrives\n"
         "  --pace-baud N         serial: pace replies as on a line at N baud\n"
         "\n"
         "Other:\n"
         "  --transcript          print every request and reply on stdout\n"
         "  --help                this text\n"
         "  --version             the program's version\n";
}

namespace {

constexpr long long kMaxMs = 600000;
constexpr long long kMaxCount = std::numeric_limits<int>::max();

// One option being read: its name, and its value after '=' or, when it
// takes one, in the next argument.
class Option {
 public:
  Option(const std::vector<std::string>& args, std::size_t& i) : name(args[i]), args_(args), i_(i) {
    if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
  }
  bool TakeValue() {
    if (hasValue) return true;
    if (i_ + 1 >= args_.size()) return false;
    value = args_[++i_];
    return true;
  }
  bool TakeInt(long long min, long long max, long long& out) {
    return TakeValue() && ParseInt(value, min, max, out);
  }
  // The value after '=', or the next argument when it is not an option.
  bool TakeOptionalValue() {
    if (hasValue) return true;
    if (i_ + 1 >= args_.size() || args_[i_ + 1].rfind("--", 0) == 0) return false;
    value = args_[++i_];
    return true;
  }

  std::string name;
  std::string value;
  bool hasValue = false;

 private:
  const std::vector<std::string>& args_;
  std::size_t& i_;
};

// What the transport options have said so far: TCP is served when asked
// for, or when no transport is named at all.
struct Transports {
  bool any = false;
  bool tcp = false;
};

// Options that switch something on; they take no value.
struct FlagOption {
  const char* name;
  void (*set)(CommandLine&);
};
const FlagOption kFlagOptions[] = {
    {"--satmod", [](CommandLine& cl) { cl.options.unit.satmod = true; }},
    {"--drift", [](CommandLine& cl) { cl.options.unit.drift = true; }},
    {"--silent", [](CommandLine& cl) { cl.options.faults.silent = true; }},
    {"--every-other", [](CommandLine& cl) { cl.options.faults.everyOther = true; }},
    {"--bad-checksum", [](CommandLine& cl) { cl.options.faults.badChecksum = true; }},
    {"--no-etx", [](CommandLine& cl) { cl.options.faults.noEtx = true; }},
    {"--bad-status", [](CommandLine& cl) { cl.options.faults.badStatus = true; }},
    {"--split-reply", [](CommandLine& cl) { cl.options.faults.splitReply = true; }},
    {"--transcript", [](CommandLine& cl) { cl.transcript = true; }},
};

// Options that take a whole number within limits.
struct IntOption {
  const char* name;
  long long min, max;
  const char* error;
  void (*set)(SimOptions&, long long);
};
const IntOption kIntOptions[] = {
    {"--baud", 1, 4000000, "--baud needs a rate",
     [](SimOptions& o, long long n) { o.serialBaud = static_cast<std::uint32_t>(n); }},
    {"--address", 0, 9998, "--address needs 0..9998",
     [](SimOptions& o, long long n) { o.unit.address = static_cast<int>(n); }},
    {"--configurations", 1, 99, "--configurations needs 1..99",
     [](SimOptions& o, long long n) { o.unit.configurations = static_cast<int>(n); }},
    {"--settle-ms", 0, kMaxMs, "--settle-ms needs 0..600000",
     [](SimOptions& o, long long n) { o.unit.settleMs = static_cast<int>(n); }},
    {"--vloc-toggle-ms", 0, kMaxMs, "--vloc-toggle-ms needs 0..600000",
     [](SimOptions& o, long long n) { o.unit.vlocToggleMs = static_cast<int>(n); }},
    {"--drift-seed", 0, std::numeric_limits<long long>::max(), "--drift-seed needs N >= 0",
     [](SimOptions& o, long long n) { o.unit.driftSeed = static_cast<std::uint64_t>(n); }},
    {"--drift-speed", 1, 3600, "--drift-speed needs 1..3600",
     [](SimOptions& o, long long n) { o.unit.driftSpeed = static_cast<int>(n); }},
    {"--silent-after", 0, kMaxCount, "--silent-after needs N >= 0",
     [](SimOptions& o, long long n) { o.faults.silentAfter = static_cast<int>(n); }},
    {"--delay-ms", 0, kMaxMs, "--delay-ms needs 0..600000",
     [](SimOptions& o, long long n) { o.faults.delayMs = static_cast<int>(n); }},
    {"--garbage", 0, 1000, "--garbage needs 0..1000",
     [](SimOptions& o, long long n) { o.faults.garbage = static_cast<int>(n); }},
    {"--split-pause-ms", 0, kMaxMs, "--split-pause-ms needs 0..600000",
     [](SimOptions& o, long long n) { o.faults.splitPauseMs = static_cast<int>(n); }},
    {"--close-after", 0, kMaxCount, "--close-after needs N >= 0",
     [](SimOptions& o, long long n) { o.faults.closeAfter = static_cast<int>(n); }},
    {"--pace-baud", 1, 4000000, "--pace-baud needs a rate",
     [](SimOptions& o, long long n) { o.faults.paceBaud = static_cast<int>(n); }},
};

bool ReadFlagOption(const Option& op, CommandLine& cl) {
  if (op.hasValue) return false;
  for (const FlagOption& flag : kFlagOptions) {
    if (op.name != flag.name) continue;
    flag.set(cl);
    return true;
  }
  return false;
}

bool ReadIntOption(Option& op, SimOptions& o, std::string& error) {
  for (const IntOption& option : kIntOptions) {
    if (op.name != option.name) continue;
    long long n = 0;
    if (op.TakeInt(option.min, option.max, n))
      option.set(o, n);
    else
      error = option.error;
    return true;
  }
  return false;
}

// --tcp ADDR[:PORT]: the port is 9999 unless given.
void ReadTcp(Option& op, SimOptions& o, std::string& error) {
  if (!op.TakeValue()) {
    error = "--tcp needs ADDR[:PORT]";
    return;
  }
  const std::string& value = op.value;
  const auto colon = value.rfind(':');
  o.tcpAddress = value.substr(0, colon);
  o.tcpPort = 9999;
  if (colon != std::string::npos) {
    long long n = 0;
    if (!ParseInt(value.substr(colon + 1), 0, 65535, n)) {
      error = "bad port in --tcp " + value;
      return;
    }
    o.tcpPort = static_cast<std::uint16_t>(n);
  }
  if (o.tcpAddress.empty()) error = "--tcp needs an address";
}

bool ReadTransportOption(Option& op, SimOptions& o, Transports& transports, std::string& error) {
  if (op.name == "--tcp") {
    ReadTcp(op, o, error);
    transports.tcp = transports.any = true;
  } else if (op.name == "--pty") {
    o.pty = transports.any = true;
    if (op.TakeOptionalValue()) o.ptyLink = op.value;
  } else if (op.name == "--serial") {
    if (!op.TakeValue() || op.value.empty())
      error = "--serial needs a device";
    else
      o.serialDevice = op.value;
    transports.any = true;
  } else {
    return false;
  }
  return true;
}

// --param MNEM=VALUE: the value may hold '=' but no ';'.
void ReadParam(Option& op, SimOptions& o, std::string& error) {
  if (!op.TakeValue()) {
    error = "--param needs MNEM=VALUE";
    return;
  }
  const std::string& value = op.value;
  const auto eq = value.find('=');
  if (eq == std::string::npos || !IsMnemonic(value.substr(0, eq)) || value.find(';', eq) != std::string::npos) {
    error = "--param needs MNEM=VALUE (4 lower-case letters or digits, no ';' in the value)";
    return;
  }
  o.unit.params.push_back({value.substr(0, eq), value.substr(eq + 1)});
}

bool ReadTextOption(Option& op, SimOptions& o, std::string& error) {
  if (op.name == "--board") {
    if (!op.TakeValue() || op.value.empty() || op.value.size() > 8)
      error = "--board needs 1..8 characters";
    else
      o.unit.board = op.value;
  } else if (op.name == "--firmware") {
    if (!op.TakeValue() || op.value.empty())
      error = "--firmware needs a version";
    else
      o.unit.firmware = op.value;
  } else if (op.name == "--state") {
    if (!op.TakeValue() || op.value.empty())
      error = "--state needs a file";
    else
      o.unit.stateFile = op.value;
  } else if (op.name == "--param") {
    ReadParam(op, o, error);
  } else {
    return false;
  }
  return true;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  Transports transports;
  auto fail = [&](const std::string& why) {
    cl.action = CommandLine::Action::Error;
    cl.error = why;
    return cl;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    Option op(args, i);
    if (op.name == "--help" || op.name == "-h") {
      cl.action = CommandLine::Action::Help;
      return cl;
    }
    if (op.name == "--version") {
      cl.action = CommandLine::Action::Version;
      return cl;
    }
    std::string error;
    const bool known = ReadTransportOption(op, cl.options, transports, error) ||
                       ReadIntOption(op, cl.options, error) || ReadTextOption(op, cl.options, error) ||
                       ReadFlagOption(op, cl);
    if (!known) return fail("unknown option " + args[i]);
    if (!error.empty()) return fail(error);
  }
  cl.options.tcp = transports.tcp || !transports.any;
  return cl;
}

}  // namespace vecta::sim
