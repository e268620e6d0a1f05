// A plain TCP client of the unit's Ethernet protocol (frames in the
// enciphered envelope), for what no link controller does: sending garbage
// or floods, coming from another source address, reading one reply with a
// bound of its own.
#pragma once

#include <cstdint>
#include <string>

#include "link/frame.h"
#include "link/link_cipher.h"

namespace vecta::test {

class EnvelopeClient {
 public:
  // Connects to 127.0.0.1:`port` from `source` (any 127.x.y.z address);
  // a failed connect fails the test.
  explicit EnvelopeClient(std::uint16_t port, const std::string& source = "127.0.0.1");
  ~EnvelopeClient();
  EnvelopeClient(const EnvelopeClient&) = delete;
  EnvelopeClient& operator=(const EnvelopeClient&) = delete;

  // "ADDRESS:PORT" of this end, as the peer sees it.
  const std::string& Label() const { return label_; }
  // Sends raw bytes; false when they could not all be sent.
  bool Send(const link::Bytes& bytes);
  // Sends `text` framed and sealed.
  bool SendRequest(const std::string& text);
  // The next reply within `ms`: its status and value ("10001"); "" when
  // none came, "closed" when the peer closed.
  std::string Reply(int ms = 5000);
  std::string Ask(const std::string& text, int ms = 5000) { return SendRequest(text) ? Reply(ms) : "unsent"; }
  // Reads until the peer closes, at most `ms`; whether it closed. `received`
  // counts the bytes that came before.
  bool ClosedWithin(int ms, std::size_t* received = nullptr);

  // `text` framed and sealed, as a link controller sends it.
  static link::Bytes Sealed(const std::string& text);

 private:
  int fd_ = -1;
  std::string label_;
  link::Bytes in_;  // received, not yet taken as a reply
};

}  // namespace vecta::test
