// Everything a simulated unit is started with: who it is, what goes wrong on
// purpose, and where it listens.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "param_store.h"

namespace vecta::sim {

struct UnitOptions {
  int address = 1;             // 0..9998; 9999 is the broadcast address
  std::string board = "K610";  // at most 8 characters
  std::string firmware = "3.4.0.0";
  // 0: by board type (16 for K240 and K610, 8 otherwise).
  int configurations = 0;
  // The satellite modulator is fitted: its parameters (s...) exist.
  bool satmod = false;
  // Replacements for the seeded default of a parameter the unit has, in
  // every configuration; later entries win. A mnemonic the unit does not
  // have is a setup error (SimUnit::SetupError).
  std::vector<ParamSeed> params;
  // > 0: after a write that changes the unit's mode (bandwidth class,
  // encoder, audio on/off, configuration switch, defaults restored) the unit
  // answers nothing for this long, as a real unit does while it reconfigures.
  int settleMs = 0;
  // > 0: the video lock (vloc) flips between locked and unlocked this often.
  int vlocToggleMs = 0;
  // The status values move as in the field (StatusDrift): battery, FPGA and
  // modulator temperatures, supply voltages, video lock drop-outs;
  // determined by the seed and the unit's running time, `driftSpeed` times
  // faster than the clock.
  bool drift = false;
  std::uint64_t driftSeed = 1;
  int driftSpeed = 1;
  // Not empty: the unit's configurations, current configuration and address
  // are loaded from this file when it exists and saved to it after every
  // change (temporary file + rename).
  std::string stateFile;
  // "Now" for settling and the video lock; the steady clock when empty.
  std::function<std::chrono::steady_clock::time_point()> clock;
};

// Deliberate faults. "Requests" below are frames addressed to this unit (its
// own address or broadcast) with a correct checksum, counted from 1 over the
// unit's whole life, on every transport together. A request the unit stays
// silent to because of a fault is still carried out: the fault loses the
// reply, not the request.
struct FaultOptions {
  bool silent = false;       // never answer
  int silentAfter = -1;      // >= 0: answer requests 1..N, then never again
  bool everyOther = false;   // answer requests 1, 3, 5, ...; drop 2, 4, 6, ...
  int delayMs = 0;           // wait this long before each reply
  bool badChecksum = false;  // every checksum of the reply off by one (bit 0 flipped)
  bool noEtx = false;        // reply without its final ETX
  bool badStatus = false;    // status byte 'X', checksums computed over it correctly
  int garbage = 0;           // this many bytes ('@'..'Z' repeating) before STX
  bool splitReply = false;   // TCP: first 8 envelope bytes, pause, the rest;
                             // serial: first half of the frame, pause, the rest
  int splitPauseMs = 50;
  int closeAfter = -1;  // >= 0: TCP connection closed when its request N+1 arrives
  int paceBaud = 0;     // > 0: serial output paced as at this baud rate (10 bits/byte)
};

struct SimOptions {
  UnitOptions unit;
  FaultOptions faults;

  bool tcp = true;
  std::string tcpAddress = "127.0.0.1";
  std::uint16_t tcpPort = 9999;  // 0: any free port

  bool pty = false;
  std::string ptyLink;  // when not empty, a symlink to the slave, removed at stop

  std::string serialDevice;  // a real serial device, raw 8N1
  std::uint32_t serialBaud = 9600;

  // Partial serial input older than this is dropped before the next frame.
  int serialStaleMs = 1000;

  // Called once per received frame and once per sent reply, one line each
  // (see FormatTranscript), from the server's threads but never two at once.
  std::function<void(const std::string& line)> transcript;
};

}  // namespace vecta::sim
