// Arbitrary request texts through the framing and the envelope: a frame is
// either refused or fits its limit, carries a checksum with bit 7 set, and
// its envelope opens back to the plain bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "link/frame.h"
#include "link/link_cipher.h"

using namespace vecta::link;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const LinkCipher cipher;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (std::size_t limit : {kMaxSerialRequestFrame, kMaxTcpRequestFrame}) {
    Bytes frame;
    if (!BuildRequestFrame(text, limit, frame)) {
      if (!frame.empty()) std::abort();
      continue;
    }
    if (frame.size() > limit || frame.size() < 3) std::abort();
    if (frame.front() != kStx || frame.back() != kEtx) std::abort();
    const std::uint8_t sum = frame[frame.size() - 2];
    if (sum < 0x80 || sum != Checksum(frame.data() + 1, frame.size() - 3)) std::abort();
    if (std::memchr(frame.data(), 0, frame.size() - 2)) std::abort();  // zero-terminated text
    Bytes sealed = SealEnvelope(cipher, frame.data(), frame.size());
    if (sealed.size() % 8 || sealed.size() > 256) std::abort();
    OpenEnvelopeBlocks(cipher, sealed.data(), sealed.size(), sealed.size());
    if (sealed != PlainEnvelope(frame.data(), frame.size())) std::abort();
    const DecodedReply r = DecodeReply(sealed.data(), sealed.size());
    (void)r;
  }
  return 0;
}
