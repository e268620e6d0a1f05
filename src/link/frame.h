// Bytes on the wire: request frames, reply frames, the checksum and the
// enciphered TCP envelope. The program frames and checks with these alone;
// the request texts it frames come from link/request.h. The unit simulator
// (sim/) plays the other end: it checks request frames and builds its reply
// frames itself, with the same checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vecta::link {

class LinkCipher;

inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr char kSeparator = ';';
inline constexpr int kBroadcastAddress = 9999;
inline constexpr std::uint8_t kPadByte = 0xFF;

// A request is built in a 256-byte work area: on the serial line the frame
// (STX..ETX) may take 253 bytes; over TCP the length byte, the padding to a
// multiple of 8 and a terminating zero must fit as well, leaving 247.
inline constexpr std::size_t kMaxSerialRequestFrame = 253;
inline constexpr std::size_t kMaxTcpRequestFrame = 247;
// Replies: at most 255 bytes on the serial line, 256 received bytes over TCP.
inline constexpr std::size_t kMaxSerialReply = 255;
inline constexpr std::size_t kMaxTcpReceive = 256;
// A long read ("rgrea") keeps reading past early ETX bytes until this many
// bytes have arrived.
inline constexpr std::size_t kLongReadLength = 135;

using Bytes = std::vector<std::uint8_t>;

// Sum modulo 256 of the bytes, with bit 7 set: always 0x80..0xFF, so it can
// never be mistaken for STX, ETX, ';' or a printable character.
std::uint8_t Checksum(const std::uint8_t* data, std::size_t size);

// Builds STX + text + checksum + ETX. The text is the request up to and
// including its second ';', with or without its leading STX; it ends at its
// first zero byte, as the unit's texts are zero-terminated. Returns false
// (leaving `out` empty) when the frame would exceed `maxFrame` bytes.
bool BuildRequestFrame(std::string_view text, std::size_t maxFrame, Bytes& out);

// True when the frame (starting with STX) reads "rgrea" at offsets 5..9: the
// unit answers such a request with a long reply holding early ETX bytes.
bool IsLongReadFrame(const std::uint8_t* frame, std::size_t size);

struct DecodedReply {
  std::uint32_t code = 0;  // 0 or the link error code
  char status = 0;         // '1' or 'E' when code is 0
  std::string value;       // text from STX+6 up to the next ';' or zero byte
};

// Offset of the first ETX in the bytes, or size when there is none.
std::size_t FindEtx(const std::uint8_t* data, std::size_t size);

// Where the value field of received reply bytes lies, as offsets into them:
// from STX+6 up to the first ';' before the first ETX; without such a ';',
// up to the checksum (or, with no ETX, to the end of the bytes). An empty
// span when there is no STX to start from.
struct ByteSpan {
  std::size_t begin = 0, end = 0;
};
ByteSpan ReplyValueSpan(const std::uint8_t* data, std::size_t size);

// Checks and decodes received reply bytes (already deciphered on TCP): bytes
// before STX and after the first ETX are ignored.
DecodedReply DecodeReply(const std::uint8_t* data, std::size_t size);

// Wraps a plain frame in the TCP envelope: length byte, frame, 0xFF padding
// to a multiple of 8, every 8-byte block enciphered on its own.
// The frame must be at most 255 bytes.
Bytes SealEnvelope(const LinkCipher& cipher, const std::uint8_t* frame, std::size_t size);
// The same into `out`, reusing its storage.
void SealEnvelope(const LinkCipher& cipher, const std::uint8_t* frame, std::size_t size, Bytes& out);

// Deciphers in place every 8-byte block that begins within the first `size`
// bytes of `buffer`. `capacity` is the buffer's whole size; a last partial
// block is deciphered together with the bytes that follow it in the buffer,
// which must therefore extend to the next multiple of 8.
void OpenEnvelopeBlocks(const LinkCipher& cipher, std::uint8_t* buffer, std::size_t size, std::size_t capacity);

// The size of the enciphered envelope that starts `raw`, from its length
// byte: the length plus one, rounded up to a multiple of 8 (8 for a length
// of 0, so that a broken envelope still moves the reader on). 0 while fewer
// than 8 bytes are there to tell.
std::size_t EnvelopeSize(const LinkCipher& cipher, const std::uint8_t* raw, std::size_t size);

// Builds the plain envelope (length byte, frame, padding) without enciphering:
// what a peer sees after decipherment.
Bytes PlainEnvelope(const std::uint8_t* frame, std::size_t size);
void PlainEnvelope(const std::uint8_t* frame, std::size_t size, Bytes& out);

}  // namespace vecta::link
