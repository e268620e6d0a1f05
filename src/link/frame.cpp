#include "link/frame.h"

#include <algorithm>
#include <cstring>

#include "link/link_cipher.h"
#include "link/link_errors.h"

namespace vecta::link {

std::uint8_t Checksum(const std::uint8_t* data, std::size_t size) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < size; ++i) sum += data[i];
  return static_cast<std::uint8_t>((sum & 0xFFu) | 0x80u);
}

bool BuildRequestFrame(std::string_view text, std::size_t maxFrame, Bytes& out) {
  out.clear();
  if (auto zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  const bool hasStx = !text.empty() && static_cast<std::uint8_t>(text.front()) == kStx;
  const std::size_t frameSize = text.size() + (hasStx ? 0 : 1) + 2;
  if (frameSize > maxFrame) return false;
  out.reserve(frameSize);
  if (!hasStx) out.push_back(kStx);
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(Checksum(out.data() + 1, out.size() - 1));
  out.push_back(kEtx);
  return true;
}

bool IsLongReadFrame(const std::uint8_t* frame, std::size_t size) {
  return size >= 10 && std::memcmp(frame + 5, "rgrea", 5) == 0;
}

std::size_t FindEtx(const std::uint8_t* data, std::size_t size) {
  return static_cast<std::size_t>(std::find(data, data + size, kEtx) - data);
}

ByteSpan ReplyValueSpan(const std::uint8_t* data, std::size_t size) {
  const std::size_t etx = FindEtx(data, size);
  const std::size_t stx = static_cast<std::size_t>(std::find(data, data + etx, kStx) - data);
  if (stx == etx || stx + 6 > etx) return {};
  const std::size_t begin = stx + 6;
  const std::uint8_t* sep = std::find(data + begin, data + etx, static_cast<std::uint8_t>(kSeparator));
  std::size_t end = static_cast<std::size_t>(sep - data);
  if (end == etx && etx < size) end = etx > begin ? etx - 1 : begin;  // keep the checksum
  return {begin, std::max(begin, end)};
}

DecodedReply DecodeReply(const std::uint8_t* data, std::size_t size) {
  DecodedReply r;
  const std::size_t etx = FindEtx(data, size);
  if (etx == size) {
    r.code = kErrNoEtx;
    return r;
  }
  const std::size_t stx = static_cast<std::size_t>(std::find(data, data + etx, kStx) - data);
  // The status byte sits at STX+5 and the checksum just before ETX; a frame
  // too short to hold both cannot be a reply.
  if (stx == etx || stx + 5 >= etx) {
    r.code = kErrInvalidReply;
    return r;
  }
  const char status = static_cast<char>(data[stx + 5]);
  if (status != '1' && status != 'E') {
    r.code = kErrInvalidReply;
    return r;
  }
  if (stx + 6 > etx - 1) {  // no room for a checksum after the status
    r.code = kErrBadChecksum;
    return r;
  }
  const std::uint8_t sum = Checksum(data + stx + 1, etx - 1 - (stx + 1));
  if (sum != data[etx - 1]) {
    r.code = kErrBadChecksum;
    return r;
  }
  const std::uint8_t* valueBegin = data + stx + 6;
  const std::uint8_t* end = data + etx;
  const std::uint8_t* sep = std::find(valueBegin, end, static_cast<std::uint8_t>(kSeparator));
  r.status = status;
  // The value is a zero-terminated text: a zero byte inside it ends it there.
  if (sep != end) {
    const std::uint8_t* valueEnd = std::find(valueBegin, sep, std::uint8_t{0});
    r.value.assign(reinterpret_cast<const char*>(valueBegin), valueEnd - valueBegin);
  }
  return r;
}

void PlainEnvelope(const std::uint8_t* frame, std::size_t size, Bytes& env) {
  env.clear();
  env.reserve((size + 1 + 7) / 8 * 8);
  env.push_back(static_cast<std::uint8_t>(size));
  env.insert(env.end(), frame, frame + size);
  while (env.size() % 8 != 0) env.push_back(kPadByte);
}

Bytes PlainEnvelope(const std::uint8_t* frame, std::size_t size) {
  Bytes env;
  PlainEnvelope(frame, size, env);
  return env;
}

void SealEnvelope(const LinkCipher& cipher, const std::uint8_t* frame, std::size_t size, Bytes& env) {
  PlainEnvelope(frame, size, env);
  for (std::size_t off = 0; off < env.size(); off += 8) cipher.EncryptBlock(env.data() + off);
}

Bytes SealEnvelope(const LinkCipher& cipher, const std::uint8_t* frame, std::size_t size) {
  Bytes env;
  SealEnvelope(cipher, frame, size, env);
  return env;
}

std::size_t EnvelopeSize(const LinkCipher& cipher, const std::uint8_t* raw, std::size_t size) {
  if (size < 8) return 0;
  std::uint8_t block[8];
  std::memcpy(block, raw, 8);
  cipher.DecryptBlock(block);
  const std::size_t length = block[0];
  if (length == 0) return 8;
  return (length + 1 + 7) / 8 * 8;
}

void OpenEnvelopeBlocks(const LinkCipher& cipher, std::uint8_t* buffer, std::size_t size, std::size_t capacity) {
  for (std::size_t off = 0; off < size && off + 8 <= capacity; off += 8) cipher.DecryptBlock(buffer + off);
}

}  // namespace vecta::link
