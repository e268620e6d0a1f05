// What a client sends the gateway, decoded: a stream of enciphered envelopes
// (length byte, frame, 0xFF padding, 8-byte blocks), each holding one
// request frame (STX, text, checksum, ETX). Bytes may come split over many
// reads or several envelopes joined in one; the decoder keeps at most the
// start of one envelope between reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/frame.h"
#include "link/link_cipher.h"

namespace vecta::gateway {

// Why bytes were not taken as a frame.
enum class FrameFault {
  None,
  BadLength,    // the length byte is too small to hold STX, checksum and ETX
  Oversize,     // longer than a request frame over TCP may be
  NoStx,        // the frame does not begin with STX
  BadEnd,       // it does not end with ETX, or holds ETX or a zero byte inside
  BadChecksum,  // the checksum byte does not match
};

struct ClientFrame {
  FrameFault fault = FrameFault::None;
  link::Bytes frame;  // STX..ETX when fault is None
};

// Checks one plain frame (STX..ETX) as a client sent it.
FrameFault CheckRequestFrame(const std::uint8_t* frame, std::size_t size);

class ClientDecoder {
 public:
  explicit ClientDecoder(const link::LinkCipher& cipher) : cipher_(cipher) {}

  // Takes the next bytes from the client and appends every envelope they
  // complete to `out`, a frame or a fault each. A first block whose length
  // byte is too small for any frame is dropped on its own (8 bytes), so
  // such garbage is counted block by block.
  void Feed(const std::uint8_t* data, std::size_t size, std::vector<ClientFrame>& out);

  // Bytes held for an envelope not yet whole (under one envelope).
  std::size_t Pending() const { return pending_.size(); }

 private:
  // Decodes the envelope at the front of pending_ if it is whole; the number
  // of bytes it took, 0 while more are needed.
  std::size_t TakeOne(std::vector<ClientFrame>& out);

  const link::LinkCipher& cipher_;
  link::Bytes pending_;
};

// The log level the gateway gives a request: the scrambling key writes
// (zkey, zkez, zkex) are logged with their values masked, whoever sends
// them and whatever level the client's own log used.
int LogLevelFor(const std::uint8_t* frame, std::size_t size);

}  // namespace vecta::gateway
