#include "sim_cli.h"

#include <charconv>
#include <cstdint>
#include <limits>

namespace vecta::sim {

namespace {

bool ParseInt(const std::string& text, long long min, long long max, long long& out) {
  long long v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < min || v > max)
    return false;
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
         "  --help                this text\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  SimOptions& o = cl.options;
  bool anyTransport = false;
  bool tcpGiven = false;
  auto fail = [&](const std::string& why) {
    cl.action = CommandLine::Action::Error;
    cl.error = why;
    return cl;
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    auto takeInt = [&](long long min, long long max, long long& out) -> bool {
      return takeValue() && ParseInt(value, min, max, out);
    };
    auto noValue = [&]() { return !hasValue; };
    long long n = 0;
    constexpr long long kMaxMs = 600000;

    if (name == "--help" || name == "-h") {
      cl.action = CommandLine::Action::Help;
      return cl;
    } else if (name == "--tcp") {
      if (!takeValue()) return fail("--tcp needs ADDR[:PORT]");
      const auto colon = value.rfind(':');
      o.tcpAddress = value.substr(0, colon);
      o.tcpPort = 9999;
      if (colon != std::string::npos) {
        if (!ParseInt(value.substr(colon + 1), 0, 65535, n)) return fail("bad port in --tcp " + value);
        o.tcpPort = static_cast<std::uint16_t>(n);
      }
      if (o.tcpAddress.empty()) return fail("--tcp needs an address");
      tcpGiven = anyTransport = true;
    } else if (name == "--pty") {
      o.pty = anyTransport = true;
      if (hasValue) {
        o.ptyLink = value;
      } else if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
        o.ptyLink = args[++i];
      }
    } else if (name == "--serial") {
      if (!takeValue() || value.empty()) return fail("--serial needs a device");
      o.serialDevice = value;
      anyTransport = true;
    } else if (name == "--baud") {
      if (!takeInt(1, 4000000, n)) return fail("--baud needs a rate");
      o.serialBaud = static_cast<std::uint32_t>(n);
    } else if (name == "--address") {
      if (!takeInt(0, 9998, n)) return fail("--address needs 0..9998");
      o.unit.address = static_cast<int>(n);
    } else if (name == "--board") {
      if (!takeValue() || value.empty() || value.size() > 8) return fail("--board needs 1..8 characters");
      o.unit.board = value;
    } else if (name == "--firmware") {
      if (!takeValue() || value.empty()) return fail("--firmware needs a version");
      o.unit.firmware = value;
    } else if (name == "--configurations") {
      if (!takeInt(1, 99, n)) return fail("--configurations needs 1..99");
      o.unit.configurations = static_cast<int>(n);
    } else if (name == "--param") {
      if (!takeValue()) return fail("--param needs MNEM=VALUE");
      const auto eq = value.find('=');
      if (eq == std::string::npos || !IsMnemonic(value.substr(0, eq)) ||
          value.find(';', eq) != std::string::npos)
        return fail("--param needs MNEM=VALUE (4 lower-case letters or digits, no ';' in the value)");
      o.unit.params.push_back({value.substr(0, eq), value.substr(eq + 1)});
    } else if (name == "--satmod" && noValue()) {
      o.unit.satmod = true;
    } else if (name == "--settle-ms") {
      if (!takeInt(0, kMaxMs, n)) return fail("--settle-ms needs 0..600000");
      o.unit.settleMs = static_cast<int>(n);
    } else if (name == "--vloc-toggle-ms") {
      if (!takeInt(0, kMaxMs, n)) return fail("--vloc-toggle-ms needs 0..600000");
      o.unit.vlocToggleMs = static_cast<int>(n);
    } else if (name == "--drift" && noValue()) {
      o.unit.drift = true;
    } else if (name == "--drift-seed") {
      if (!takeInt(0, std::numeric_limits<long long>::max(), n)) return fail("--drift-seed needs N >= 0");
      o.unit.driftSeed = static_cast<std::uint64_t>(n);
    } else if (name == "--drift-speed") {
      if (!takeInt(1, 3600, n)) return fail("--drift-speed needs 1..3600");
      o.unit.driftSpeed = static_cast<int>(n);
    } else if (name == "--state") {
      if (!takeValue() || value.empty()) return fail("--state needs a file");
      o.unit.stateFile = value;
    } else if (name == "--silent" && noValue()) {
      o.faults.silent = true;
    } else if (name == "--silent-after") {
      if (!takeInt(0, std::numeric_limits<int>::max(), n)) return fail("--silent-after needs N >= 0");
      o.faults.silentAfter = static_cast<int>(n);
    } else if (name == "--every-other" && noValue()) {
      o.faults.everyOther = true;
    } else if (name == "--delay-ms") {
      if (!takeInt(0, kMaxMs, n)) return fail("--delay-ms needs 0..600000");
      o.faults.delayMs = static_cast<int>(n);
    } else if (name == "--bad-checksum" && noValue()) {
      o.faults.badChecksum = true;
    } else if (name == "--no-etx" && noValue()) {
      o.faults.noEtx = true;
    } else if (name == "--bad-status" && noValue()) {
      o.faults.badStatus = true;
    } else if (name == "--garbage") {
      if (!takeInt(0, 1000, n)) return fail("--garbage needs 0..1000");
      o.faults.garbage = static_cast<int>(n);
    } else if (name == "--split-reply" && noValue()) {
      o.faults.splitReply = true;
    } else if (name == "--split-pause-ms") {
      if (!takeInt(0, kMaxMs, n)) return fail("--split-pause-ms needs 0..600000");
      o.faults.splitPauseMs = static_cast<int>(n);
    } else if (name == "--close-after") {
      if (!takeInt(0, std::numeric_limits<int>::max(), n)) return fail("--close-after needs N >= 0");
      o.faults.closeAfter = static_cast<int>(n);
    } else if (name == "--pace-baud") {
      if (!takeInt(1, 4000000, n)) return fail("--pace-baud needs a rate");
      o.faults.paceBaud = static_cast<int>(n);
    } else if (name == "--transcript" && noValue()) {
      cl.transcript = true;
    } else {
      return fail("unknown option " + args[i]);
    }
  }
  o.tcp = tcpGiven || !anyTransport;
  return cl;
}

}  // namespace vecta::sim
