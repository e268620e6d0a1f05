#include "vectactl.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>

#include "app/status_monitor.h"
#include "config_files.h"
#include "edit_config.h"
#include "link/serial_port.h"
#include "link/trace.h"
#include "options.h"
#include "review.h"
#include "unit_tool.h"

#ifndef VECTA_VERSION
#error "VECTA_VERSION names the project's version"
#endif

namespace vecta::ctl {
namespace {

// What a command's handler is given: the parsed command line, the output
// streams and, for a command that needs a unit, the tool connected to it.
struct Call {
  const Options& o;
  std::ostream& out;
  std::ostream& err;
  Tool* tool;  // null for a command without a unit
  app::UtcClock& utc;
};

enum class Needs { Nothing, Unit };

struct Command {
  const char* name;
  const char* help;
  // Adds the command's own arguments and options; null when it has none.
  void (*arguments)(CLI::App& sub, Options& o);
  int (*run)(const Call& call);
  Needs needs;
  // The exit status when the unit cannot be reached, in place of the link's.
  std::optional<int> unreachable = std::nullopt;
};

void FileArgument(CLI::App& sub, Options& o) { sub.add_option("FILE", o.file)->required(); }

void WatchArguments(CLI::App& sub, Options& o) {
  sub.add_option("--interval", o.watch.intervalMs, "ms from one sample to the next")
      ->check(CLI::Range(100, 86400000))
      ->capture_default_str();
  sub.add_option("--count", o.watch.count, "stop after N samples")->check(CLI::Range(1, 1000000000));
  sub.add_flag("--json", o.watch.json, "print JSON lines");
}

void EditArguments(CLI::App& sub, Options& o) {
  sub.add_option("FILE", o.edit.file)->required();
  sub.add_option("MNEMONIC", o.edit.mnemonic)->required();
  sub.add_option("VALUE", o.edit.value)->required();
  sub.add_option("--config", o.edit.config, "the configuration of a set (1..N)");
  sub.add_option("--board", o.edit.board, "K240, K610 or other, when the file's records do not tell");
}

void KeyArguments(CLI::App& sub, Options& o) {
  sub.add_option("TYPE", o.keyType)->required()->check(CLI::IsMember({"abs", "aes128", "aes256"}));
  sub.add_option("KEY", o.key)->required();
  sub.add_option("UPPER", o.upperKey);
}

int ListPorts(const Call& c) {
  const auto ports = link::DiscoverSerialPorts(c.o.extraPorts);
  for (std::size_t i = 0; i < ports.size(); ++i)
    c.out << i << " " << ports[i].name << " " << ports[i].path << "\n";
  return kExitOk;
}

// The commands, in the order the usage text lists them.
const Command kCommands[] = {
    {"probe", "print the unit's address and board type", nullptr, [](const Call& c) { return c.tool->Probe(); },
     Needs::Unit},
    {"raw", "send TEXT after the unit address (for example rgbty;;) and print the bytes",
     [](CLI::App& sub, Options& o) {
       sub.add_option("TEXT", o.text, "the request after the address")->required();
     },
     [](const Call& c) { return c.tool->Raw(c.o.text); }, Needs::Unit},
    {"ports", "list the serial ports found, with their index", nullptr, ListPorts, Needs::Nothing},
    {"dump", "read every setting and print it as the pages show it, with the wire value",
     [](CLI::App& sub, Options& o) { sub.add_flag("--json", o.json, "print JSON"); },
     [](const Call& c) { return c.tool->Dump(c.o.json); }, Needs::Unit},
    {"get", "read one setting and print it as the pages show it",
     [](CLI::App& sub, Options& o) { sub.add_option("MNEMONIC", o.mnemonic)->required(); },
     [](const Call& c) { return c.tool->Get(c.o.mnemonic); }, Needs::Unit},
    {"set", "write one setting as an operator types it (an option text or the shown number)",
     [](CLI::App& sub, Options& o) {
       sub.add_option("MNEMONIC", o.mnemonic)->required();
       sub.add_option("VALUE", o.value)->required();
     },
     [](const Call& c) { return c.tool->Set(c.o.mnemonic, c.o.value); }, Needs::Unit},
    {"watch",
     "print the unit's status values, one line per sample, until Ctrl-C "
     "(exit 1 when the unit stops answering for 3 samples)",
     WatchArguments, [](const Call& c) { return c.tool->Watch(c.o.watch, c.utc); }, Needs::Unit},
    {"restore-defaults", "restore the unit's defaults (asks first; --yes answers)", nullptr,
     [](const Call& c) { return c.tool->RestoreDefaults(); }, Needs::Unit},
    {"save-config", "save the current configuration to FILE", FileArgument,
     [](const Call& c) { return c.tool->SaveConfig(c.o.file); }, Needs::Unit},
    {"load-config", "load FILE into the unit's current configuration",
     [](CLI::App& sub, Options& o) {
       FileArgument(sub, o);
       sub.add_flag("--dry-run", o.dryRun, "print what the load would change and write nothing");
     },
     [](const Call& c) { return c.tool->LoadConfig(c.o.file); }, Needs::Unit},
    {"diff-unit",
     "print what loading FILE (a configuration file or set) would change on the unit "
     "(exit 0 when nothing, 1 when something differs, 2 on error)",
     FileArgument, [](const Call& c) { return c.tool->Switching([&] { return c.tool->DiffUnit(c.o.file); }); },
     Needs::Unit, kExitReviewError},
    {"save-set", "save every configuration of the unit to FILE", FileArgument,
     [](const Call& c) { return c.tool->Switching([&] { return c.tool->SaveSet(c.o.file); }); }, Needs::Unit},
    {"load-set", "load every configuration of FILE into the unit", FileArgument,
     [](const Call& c) { return c.tool->Switching([&] { return c.tool->LoadSet(c.o.file); }); }, Needs::Unit},
    {"show-config", "decode a configuration file or set without a unit", FileArgument,
     [](const Call& c) { return ShowConfig(c.o.file, c.out, c.err); }, Needs::Nothing},
    {"diff-config", "print what differs between two configuration files (exit 1 when they differ)",
     [](CLI::App& sub, Options& o) {
       sub.add_option("A", o.file)->required();
       sub.add_option("B", o.otherFile)->required();
     },
     [](const Call& c) { return DiffConfig(c.o.file, c.o.otherFile, c.out, c.err); }, Needs::Nothing},
    {"edit-config",
     "change one setting of FILE without a unit and save it, the value as for set "
     "(exit 1 when the file cannot be saved)",
     EditArguments, [](const Call& c) { return EditConfig(c.o.edit, c.out, c.err); }, Needs::Nothing},
    {"write-key", "write a scrambling key: abs KEY8 | aes128 KEY32 | aes256 LOWER32 UPPER32", KeyArguments,
     [](const Call& c) { return c.tool->WriteKey(c.o.keyType, c.o.key, c.o.upperKey); }, Needs::Unit},
};

// The TCP target: a host, and a port of 1..65535 after a colon.
std::string TcpTargetProblem(const std::string& v) {
  auto colon = v.rfind(':');
  if (colon == std::string::npos) return v.empty() ? "a host is needed" : "";
  const std::string p = v.substr(colon + 1);
  if (colon == 0) return "a host is needed";
  if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos || std::stoi(p) < 1 ||
      std::stoi(p) > 65535)
    return "the TCP port must be 1..65535";
  return "";
}

// The argument parser; its help text is the usage text.
struct Parser {
  CLI::App app{"Talks to one Vecta transmitter unit (or the simulator vecta-sim).", "vectactl"};
  Options o;
  const Command* command = nullptr;

  Parser() {
    app.require_subcommand(1);
    app.fallthrough();
    app.set_version_flag("--version", "vectactl " VECTA_VERSION);
    auto* serial = app.add_option("--serial", o.serialDevice,
                                  "serial port device (a real port, or the simulator's pty), or a terminal "
                                  "server's port: rfc2217://HOST:PORT");
    app.add_option("--baud", o.baud, "serial speed")->check(CLI::Range(50u, 4000000u))->capture_default_str();
    auto* tcp = app.add_option("--tcp", o.tcp, "unit over Ethernet, HOST[:PORT] (port 9999 unless given)")
                    ->check(TcpTargetProblem);
    serial->excludes(tcp);
    app.add_option("--address", o.address, "unit address; without it the unit is asked (broadcast 9999)")
        ->check(CLI::Range(0, 9999));
    app.add_option("--log", o.logFile, "communication log (default: $XDG_STATE_HOME/vecta_tx_ctrl/vectactl.log)");
    app.add_option("--read-timeout", o.readTimeoutMs, "serial read time-out per byte in ms (default 2500)")
        ->check(CLI::Range(0u, 600000u));
    app.add_option("--port", o.extraPorts, "add a device path (or rfc2217://HOST:PORT) to the port list");
    app.add_flag("--trace", o.trace, "debug trace lines on stderr");
    app.add_flag("--yes,-y", o.yes, "answer yes to every question (restore-defaults)");
    for (const Command& c : kCommands) {
      CLI::App* sub = app.add_subcommand(c.name, c.help);
      sub->callback([this, &c] { command = &c; });
      if (c.arguments) c.arguments(*sub, o);
    }
  }
};

}  // namespace

std::string Usage() {
  Parser p;
  return p.app.help() +
         "\nexit status: 0 success, 1 link error, 2 bad usage; diff-unit: 0 same, 1 different, 2 error\n";
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, link::Clock* clock,
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
  } catch (const CLI::CallForVersion& v) {
    out << v.what() << "\n";
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    err << "vectactl: " << e.what() << "\n" << Usage();
    return kExitUsage;
  }
  const Options& o = p.o;
  link::EnableStderrTrace(o.trace);
  if (!p.command) {
    err << "vectactl: unknown command\n";
    return kExitUsage;
  }
  const Command& command = *p.command;
  app::UtcClock& stamps = utc ? *utc : app::SystemUtcClock();
  if (command.needs == Needs::Nothing) return command.run({o, out, err, nullptr, stamps});
  if (o.serialDevice.empty() == o.tcp.empty()) {
    err << "vectactl: give either --serial DEVICE or --tcp HOST[:PORT]\n" << Usage();
    return kExitUsage;
  }
  Tool tool(o, out, err, clock ? *clock : link::SystemClock());
  if (int rc = tool.Connect()) return command.unreachable.value_or(rc);
  return command.run({o, out, err, &tool, stamps});
}

}  // namespace vecta::ctl
