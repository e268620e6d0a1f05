#include "gateway/client_decoder.h"

#include <algorithm>
#include <cstring>

namespace vecta::gateway {
namespace {

// STX, checksum and ETX: the least a frame can be.
constexpr std::size_t kMinFrame = 3;
constexpr std::size_t kBlock = 8;

std::size_t EnvelopeBytes(std::size_t length) { return (length + 1 + kBlock - 1) / kBlock * kBlock; }

}  // namespace

FrameFault CheckRequestFrame(const std::uint8_t* frame, std::size_t size) {
  if (size < kMinFrame) return FrameFault::BadLength;
  if (size > link::kMaxTcpRequestFrame) return FrameFault::Oversize;
  if (frame[0] != link::kStx) return FrameFault::NoStx;
  const std::uint8_t* last = frame + size - 1;
  if (*last != link::kEtx) return FrameFault::BadEnd;
  // The link frames a request text up to its first zero byte, and the unit
  // ends a frame at its first ETX: either inside would change the frame.
  const std::uint8_t* body = frame + 1;
  const std::uint8_t* checksum = last - 1;
  if (std::find(body, checksum, link::kEtx) != checksum || std::find(body, checksum, 0) != checksum)
    return FrameFault::BadEnd;
  if (link::Checksum(body, static_cast<std::size_t>(checksum - body)) != *checksum) return FrameFault::BadChecksum;
  return FrameFault::None;
}

void ClientDecoder::Feed(const std::uint8_t* data, std::size_t size, std::vector<ClientFrame>& out) {
  while (size > 0) {
    // Never more than one envelope's worth is held: take only what the
    // envelope at the front can still use, then decode it.
    const std::size_t room = EnvelopeBytes(255) - pending_.size();
    const std::size_t n = std::min(size, room);
    pending_.insert(pending_.end(), data, data + n);
    data += n;
    size -= n;
    while (std::size_t used = TakeOne(out))
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
  }
}

std::size_t ClientDecoder::TakeOne(std::vector<ClientFrame>& out) {
  if (pending_.size() < kBlock) return 0;
  std::uint8_t first[kBlock];
  std::memcpy(first, pending_.data(), kBlock);
  cipher_.DecryptBlock(first);
  const std::size_t length = first[0];
  if (length < kMinFrame) {
    out.push_back({FrameFault::BadLength, {}});
    return kBlock;
  }
  const std::size_t total = EnvelopeBytes(length);
  if (pending_.size() < total) return 0;
  if (length > link::kMaxTcpRequestFrame) {
    out.push_back({FrameFault::Oversize, {}});
    return total;
  }
  link::Bytes plain(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(total));
  link::OpenEnvelopeBlocks(cipher_, plain.data(), plain.size(), plain.size());
  ClientFrame result;
  result.fault = CheckRequestFrame(plain.data() + 1, length);
  if (result.fault == FrameFault::None)
    result.frame.assign(plain.begin() + 1, plain.begin() + 1 + static_cast<std::ptrdiff_t>(length));
  out.push_back(std::move(result));
  return total;
}

int LogLevelFor(const std::uint8_t* frame, std::size_t size) {
  if (size < 10 || frame[5] != 'w') return 1;
  const char* mnemonic = reinterpret_cast<const char*>(frame + 6);
  for (const char* key : {"zkey", "zkez", "zkex"})
    if (std::memcmp(mnemonic, key, 4) == 0) return 2;
  return 1;
}

}  // namespace vecta::gateway
