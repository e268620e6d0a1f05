// Feeds arbitrary reply bytes through a whole exchange of the link
// controller: byte by byte over a scripted serial line (first input byte
// even) or as one TCP receive that deciphers to them (odd). Every input ends in 0 or
// a link error code, never a crash or a read past a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "link/frame.h"
#include "link/link_errors.h"
#include "support/fake_link.h"

using namespace vecta::link;
using namespace vecta::test;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool tcp = data[0] & 1;
  const bool longRead = data[0] & 2;
  const Bytes bytes(data + 1, data + size);
  FakeLink f;
  LinkReply reply;
  const char* request = longRead ? "0001rgrea;;" : "0001rgbty;;";
  std::uint32_t rc;
  if (tcp) {
    f.link->SetEthernetAddress("127.0.0.1");
    int result = -1;
    f.link->StartConnectThread([&](int r) { result = r; });
    while (f.link->RunningConnectThreads() != 0) {
    }
    if (result != kConnectOk) std::abort();
    {
      std::lock_guard lock(f.sockets->state->m);
      f.sockets->state->receives.push_back({bytes, 0, false});  // deciphers to `bytes`
    }
    rc = f.link->SendCommand(request, reply);
  } else {
    if (f.link->OpenSerialPort(0) != 0) std::abort();
    f.line().Reply(bytes);
    rc = f.link->SendCommand(request, reply);
  }
  switch (rc) {
    case kLinkOk:
      if (reply.status != '1' && reply.status != 'E') std::abort();
      if (reply.value.size() > 255) std::abort();
      break;
    case kErrRead: case kErrTimedOut: case kErrInvalidReply: case kErrBadChecksum: case kErrNoEtx:
      break;
    default:
      std::abort();
  }
  if (f.link->LastReply().size() > kMaxTcpReceive) std::abort();
  return 0;
}
