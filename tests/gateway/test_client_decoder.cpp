// What a client sends the gateway, decoded against the link's own framing
// and envelope: byte-exact frames, split and joined reads, every fault.
#include <gtest/gtest.h>

#include "gateway/client_decoder.h"
#include "link/frame.h"
#include "link/link_cipher.h"
#include "link/request.h"
#include "support/fake_link.h"

namespace vecta::gateway {
namespace {

using link::Bytes;
using test::Wire;

const link::LinkCipher& Cipher() {
  static const link::LinkCipher cipher;
  return cipher;
}

Bytes Sealed(const Bytes& frame) { return link::SealEnvelope(Cipher(), frame.data(), frame.size()); }

Bytes Framed(const std::string& text, std::size_t max = 255) {
  Bytes frame;
  EXPECT_TRUE(link::BuildRequestFrame(text, max, frame));
  return frame;
}

std::vector<ClientFrame> Decode(const Bytes& bytes, std::size_t piece) {
  ClientDecoder decoder(Cipher());
  std::vector<ClientFrame> out;
  for (std::size_t at = 0; at < bytes.size(); at += piece)
    decoder.Feed(bytes.data() + at, std::min(piece, bytes.size() - at), out);
  EXPECT_EQ(decoder.Pending(), 0u);
  return out;
}

TEST(ClientDecoder, TheAddressQueryDecodesToItsFourteenBytesHoweverTheReadsFall) {
  const Bytes expected = {0x02, '9', '9', '9', '9', 'r', 'g', 'a', 'd', 'd', ';', ';', 0xDC, 0x03};
  const Bytes sealed = Sealed(Framed("9999rgadd;;"));
  ASSERT_EQ(sealed.size(), 16u);
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{8}, std::size_t{16}}) {
    const auto out = Decode(sealed, piece);
    ASSERT_EQ(out.size(), 1u) << piece;
    EXPECT_EQ(out[0].fault, FrameFault::None);
    EXPECT_EQ(out[0].frame, expected) << piece;
  }
}

TEST(ClientDecoder, JoinedEnvelopesComeOutInOrderAndAHalfOneWaits) {
  const Bytes a = Framed(link::ReadRequest(1, "gbty")), b = Framed("0001woout;1;"), c = Framed("0001rvloc;;");
  Bytes joined = Sealed(a);
  for (const Bytes& f : {b, c}) {
    const Bytes s = Sealed(f);
    joined.insert(joined.end(), s.begin(), s.end());
  }
  ClientDecoder decoder(Cipher());
  std::vector<ClientFrame> out;
  decoder.Feed(joined.data(), joined.size() - 5, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].frame, a);
  EXPECT_EQ(out[1].frame, b);
  EXPECT_EQ(decoder.Pending(), Sealed(c).size() - 5);
  decoder.Feed(joined.data() + joined.size() - 5, 5, out);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2].frame, c);
}

TEST(ClientDecoder, FramesThatAreNoRequestsAreNamedOneFaultEach) {
  const std::string fill(link::kMaxTcpRequestFrame - 3, 'a');  // with STX, checksum, ETX: the most
  struct Case {
    const char* name;
    Bytes frame;
    FrameFault fault;
  } cases[] = {
      {"the longest a TCP request may be", Framed("\x02" + fill), FrameFault::None},
      {"one byte longer", Framed("\x02" + fill + "a"), FrameFault::Oversize},
      {"checksum without bit 7", Wire("0001rgbty;;", 0x5F), FrameFault::BadChecksum},
      {"checksum off by one", Wire("0001rgbty;;", 0xE0), FrameFault::BadChecksum},
      {"no STX", Bytes{'X', '0', 0xB0, 0x03}, FrameFault::NoStx},
      {"no ETX at the end", Bytes{0x02, '0', 0xB0, 0x04}, FrameFault::BadEnd},
      {"ETX inside", Bytes{0x02, 0x03, 0x83, 0x03}, FrameFault::BadEnd},
      {"zero byte inside", Bytes{0x02, 0x00, 0x80, 0x03}, FrameFault::BadEnd},
      {"too short for STX, checksum and ETX", Bytes{0x02, 0x03}, FrameFault::BadLength},
  };
  for (const Case& c : cases) {
    const auto out = Decode(Sealed(c.frame), 7);
    ASSERT_EQ(out.size(), 1u) << c.name;
    EXPECT_EQ(out[0].fault, c.fault) << c.name;
    EXPECT_EQ(out[0].frame, c.fault == FrameFault::None ? c.frame : Bytes{}) << c.name;
  }
}

TEST(ClientDecoder, AnEmptyEnvelopeIsDroppedBlockByBlockAndTheNextFrameStillDecodes) {
  Bytes bytes = Sealed(Bytes{});  // length byte 0: one block of padding
  const Bytes frame = Framed("0001rgbty;;");
  const Bytes sealed = Sealed(frame);
  bytes.insert(bytes.end(), sealed.begin(), sealed.end());
  const auto out = Decode(bytes, bytes.size());
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].fault, FrameFault::BadLength);
  EXPECT_EQ(out[1].frame, frame);
}

TEST(ClientDecoder, NoMoreThanOneEnvelopeIsEverHeld) {
  ClientDecoder decoder(Cipher());
  std::vector<ClientFrame> out;
  Bytes flood(100'000);
  for (std::size_t i = 0; i < flood.size(); ++i) flood[i] = static_cast<std::uint8_t>(i * 131 + 7);
  for (std::size_t at = 0; at < flood.size(); at += 4096) {
    decoder.Feed(flood.data() + at, std::min<std::size_t>(4096, flood.size() - at), out);
    EXPECT_LT(decoder.Pending(), 256u);
  }
  EXPECT_GT(out.size(), 0u);
}

TEST(ClientDecoder, OnlyTheScramblingKeyWritesAreLoggedMasked) {
  const struct {
    const char* text;
    int level;
  } cases[] = {{"0001wzkey;k;", 2},
               {"0001wzkez;k;", 2},
               {"0001wzkex;k;", 2},
               {"0001rzkey;;", 1},
               {"0001wzkez", 2},
               {"0001wgadd;2;", 1},
               {"", 1}};
  for (const auto& c : cases) {
    const Bytes frame = Framed(c.text);
    EXPECT_EQ(LogLevelFor(frame.data(), frame.size()), c.level) << c.text;
  }
}

}  // namespace
}  // namespace vecta::gateway
