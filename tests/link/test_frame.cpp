// Frames, checksum, envelope and the Blowfish block order, byte for byte.
#include <gtest/gtest.h>

#include "link/frame.h"
#include "link/link_cipher.h"
#include "link/link_errors.h"
#include "support/fake_link.h"

using namespace vecta::link;
using vecta::test::ReplyFrame;
using vecta::test::ToBytes;

namespace {

Bytes Frame(std::string_view text, std::size_t max = kMaxSerialRequestFrame) {
  Bytes out;
  EXPECT_TRUE(BuildRequestFrame(text, max, out)) << text;
  return out;
}

DecodedReply Decode(const Bytes& b) { return DecodeReply(b.data(), b.size()); }

TEST(RequestFrame, BroadcastQueryWithAndWithoutStx) {
  const Bytes expected = {0x02, 0x39, 0x39, 0x39, 0x39, 0x72, 0x67, 0x61, 0x64, 0x64, 0x3B, 0x3B, 0xDC, 0x03};
  EXPECT_EQ(Frame("9999rgadd;;"), expected);
  EXPECT_EQ(Frame("\x02"
                  "9999rgadd;;"),
            expected);
}

TEST(RequestFrame, ChecksumIsSumWithBit7Set) {
  const Bytes f = Frame("0001rgbty;;");
  EXPECT_EQ(f.at(f.size() - 2), 0xDF);
  // A sum that is already above 0x7F keeps its low bits; bit 7 is forced.
  const std::uint8_t bytes[] = {0x01, 0x02};
  EXPECT_EQ(Checksum(bytes, 2), 0x83);
  const std::uint8_t high[] = {0xFF, 0x01};  // 0x100: low byte 0
  EXPECT_EQ(Checksum(high, 2), 0x80);
  EXPECT_EQ(Checksum(nullptr, 0), 0x80);
}

TEST(RequestFrame, SizeLimitsAreRefusedNotOverflowed) {
  // A frame is the text plus STX, checksum and ETX.
  const std::string head = "0001wzkey;";
  auto text = [&](std::size_t frameSize) {
    return head + std::string(frameSize - 3 - head.size() - 1, 'A') + ";";
  };
  Bytes out;
  EXPECT_TRUE(BuildRequestFrame(text(253), kMaxSerialRequestFrame, out));
  EXPECT_EQ(out.size(), 253u);
  EXPECT_FALSE(BuildRequestFrame(text(254), kMaxSerialRequestFrame, out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(BuildRequestFrame(text(247), kMaxTcpRequestFrame, out));
  EXPECT_FALSE(BuildRequestFrame(text(248), kMaxTcpRequestFrame, out));
  // A text with its own STX is not counted twice.
  EXPECT_TRUE(BuildRequestFrame("\x02" + text(253), kMaxSerialRequestFrame, out));
  EXPECT_EQ(out.size(), 253u);
}

TEST(RequestFrame, TextEndsAtItsFirstZeroByte) {
  const std::string withZero("0001rgbty;;\0garbage", 19);
  EXPECT_EQ(Frame(withZero), Frame("0001rgbty;;"));
}

TEST(RequestFrame, LongReadIsRecognisedOnTheFrame) {
  const Bytes f = Frame("0001rgrea;;");
  EXPECT_TRUE(IsLongReadFrame(f.data(), f.size()));
  const Bytes g = Frame("0001rgred;;");
  EXPECT_FALSE(IsLongReadFrame(g.data(), g.size()));
  EXPECT_FALSE(IsLongReadFrame(f.data(), 9));
}

TEST(ReplyDecoding, ValueAndStatus) {
  DecodedReply r = Decode(ReplyFrame(1, '1', "0580"));
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(r.status, '1');
  EXPECT_EQ(r.value, "0580");

  r = Decode(ReplyFrame(1, 'E', "12"));
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(r.status, 'E');
  EXPECT_EQ(r.value, "12");
}

TEST(ReplyDecoding, OtherStatusIsInvalidEvenWithGoodChecksum) {
  for (char status : {'0', '2', 'e', 'X', ';'}) {
    EXPECT_EQ(Decode(ReplyFrame(1, status, "5")).code, kErrInvalidReply) << status;
  }
}

TEST(ReplyDecoding, NoSeparatorGivesEmptyValue) {
  Bytes f = ToBytes(
      "\x02"
      "00011ABC");
  f.push_back(Checksum(f.data() + 1, f.size() - 1));
  f.push_back(kEtx);
  const DecodedReply r = Decode(f);
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(r.value, "");
}

TEST(ReplyDecoding, ValueEndsAtItsFirstZeroByte) {
  // The checksum covers the zero byte and what follows it; only the value is cut.
  DecodedReply r = Decode(ReplyFrame(1, '1',
                                     std::string("05\0"
                                                 "80",
                                                 5)));
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(r.value, "05");
  EXPECT_EQ(r.value.size(), 2u);
  r = Decode(ReplyFrame(1, 'E',
                        std::string("\0"
                                    "12",
                                    3)));
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(r.status, 'E');
  EXPECT_EQ(r.value, "");
}

TEST(ReplyDecoding, ChecksumDifferingOnlyInBit7IsBad) {
  Bytes f = ReplyFrame(1, '1', "0580");
  f[f.size() - 2] &= 0x7F;
  EXPECT_EQ(Decode(f).code, kErrBadChecksum);
  f[f.size() - 2] |= 0x80;
  f[7] ^= 1;  // a value byte changed in transit
  EXPECT_EQ(Decode(f).code, kErrBadChecksum);
}

TEST(ReplyDecoding, GarbageBeforeStxAndBytesAfterEtxAreIgnored) {
  Bytes f = ToBytes("noise\x7f\x80");
  const Bytes reply = ReplyFrame(7, '1', "K610");
  f.insert(f.end(), reply.begin(), reply.end());
  f.insert(f.end(), {0x02, 'x', 0x03, 0xFF});
  const DecodedReply r = Decode(f);
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(r.value, "K610");
}

TEST(ReplyDecoding, MalformedShapes) {
  EXPECT_EQ(Decode(ToBytes("\x02"
                           "00011abc;"))
                .code,
            kErrNoEtx);
  EXPECT_EQ(Decode({}).code, kErrNoEtx);
  EXPECT_EQ(Decode(ToBytes("00011abc;\x90\x03")).code, kErrInvalidReply);  // no STX
  EXPECT_EQ(Decode({kStx, kEtx}).code, kErrInvalidReply);
  EXPECT_EQ(Decode({kEtx}).code, kErrInvalidReply);
  EXPECT_EQ(Decode(ToBytes("\x02"
                           "0001\x03"))
                .code,
            kErrInvalidReply);  // no status
  // A status but no checksum byte before ETX: the status doubles as the
  // checksum position and cannot match.
  EXPECT_EQ(Decode(ToBytes("\x02"
                           "00011\x03"))
                .code,
            kErrBadChecksum);
  // STX after the first ETX does not count.
  EXPECT_EQ(Decode(ToBytes("abc\x03\x02"
                           "00011;\xb2\x03"))
                .code,
            kErrInvalidReply);
}

TEST(Envelope, PaddingToWholeBlocks) {
  const Bytes seven(7, 'a');
  EXPECT_EQ(PlainEnvelope(seven.data(), 7).size(), 8u);  // L+1 = 8: no padding
  const Bytes eight(8, 'a');
  const Bytes env = PlainEnvelope(eight.data(), 8);
  ASSERT_EQ(env.size(), 16u);
  EXPECT_EQ(env[0], 8);
  for (std::size_t i = 9; i < 16; ++i) EXPECT_EQ(env[i], 0xFF);

  const Bytes query = Frame("9999rgadd;;");
  const Bytes q = PlainEnvelope(query.data(), query.size());
  ASSERT_EQ(q.size(), 16u);
  EXPECT_EQ(q[0], 0x0E);
  EXPECT_EQ(Bytes(q.begin() + 1, q.begin() + 15), query);
  EXPECT_EQ(q[15], 0xFF);
}

TEST(Envelope, SealedBlocksOpenToThePlainEnvelope) {
  const LinkCipher cipher;
  const Bytes query = Frame("9999rgadd;;");
  Bytes sealed = SealEnvelope(cipher, query.data(), query.size());
  ASSERT_EQ(sealed.size(), 16u);
  EXPECT_NE(sealed, PlainEnvelope(query.data(), query.size()));
  OpenEnvelopeBlocks(cipher, sealed.data(), sealed.size(), sealed.size());
  EXPECT_EQ(sealed, PlainEnvelope(query.data(), query.size()));
}

TEST(Envelope, BlocksAreEncipheredEachOnItsOwn) {
  // Electronic codebook: two equal plaintext blocks give equal ciphertext.
  const LinkCipher cipher;
  const Bytes frame(15, 'Q');  // length byte + 15 bytes = 16: blocks 0 and 1
  Bytes sealed = SealEnvelope(cipher, frame.data(), frame.size());
  ASSERT_EQ(sealed.size(), 16u);
  Bytes second(sealed.begin() + 8, sealed.end());
  Bytes block(8, 'Q');
  cipher.EncryptBlock(block.data());
  EXPECT_EQ(second, block);
}

TEST(Envelope, OpeningStopsAtTheBuffer) {
  // 13 received bytes: blocks at 0 and 8 begin within them; the second is
  // completed from the buffer, which must be long enough for it.
  const LinkCipher cipher;
  Bytes buf(16, 0);
  Bytes copy = buf;
  OpenEnvelopeBlocks(cipher, buf.data(), 13, buf.size());
  cipher.DecryptBlock(copy.data());
  cipher.DecryptBlock(copy.data() + 8);
  EXPECT_EQ(buf, copy);
  Bytes small(12, 0);
  OpenEnvelopeBlocks(cipher, small.data(), 12, small.size());  // no block past the end
  Bytes one(12, 0);
  cipher.DecryptBlock(one.data());
  EXPECT_EQ(small, one);
}

// The published Blowfish test vectors (key, plaintext, ciphertext as
// big-endian words, the way they are printed).
struct Vector {
  const char* key;
  std::uint32_t pl, pr, cl, cr;
};

Bytes Hex(const char* s) {
  Bytes b;
  for (; s[0] && s[1]; s += 2) b.push_back(static_cast<std::uint8_t>(std::stoi(std::string(s, 2), nullptr, 16)));
  return b;
}

TEST(Blowfish, PublishedTestVectors) {
  const Vector vectors[] = {
      {"0000000000000000", 0x00000000, 0x00000000, 0x4EF99745, 0x6198DD78},
      {"FFFFFFFFFFFFFFFF", 0xFFFFFFFF, 0xFFFFFFFF, 0x51866FD5, 0xB85ECB8A},
      {"3000000000000000", 0x10000000, 0x00000001, 0x7D856F9A, 0x613063F2},
      {"1111111111111111", 0x11111111, 0x11111111, 0x2466DD87, 0x8B963C9D},
      {"0123456789ABCDEF", 0x11111111, 0x11111111, 0x61F9C380, 0x2281B096},
      {"FEDCBA9876543210", 0x01234567, 0x89ABCDEF, 0x0ACEAB0F, 0xC6A0A28D},
  };
  for (const auto& v : vectors) {
    const Bytes key = Hex(v.key);
    const LinkCipher cipher(key);
    std::uint32_t l = v.pl, r = v.pr;
    cipher.EncryptWords(l, r);
    EXPECT_EQ(l, v.cl) << v.key;
    EXPECT_EQ(r, v.cr) << v.key;
    cipher.DecryptWords(l, r);
    EXPECT_EQ(l, v.pl);
    EXPECT_EQ(r, v.pr);
  }
  // Variable key length: the key bytes are used cyclically.
  const Bytes longKey = Hex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
  const LinkCipher oneByte(std::span<const std::uint8_t>(longKey.data(), 1));
  std::uint32_t l = 0xFEDCBA98, r = 0x76543210;
  oneByte.EncryptWords(l, r);
  EXPECT_EQ(l, 0xF9AD597Cu);
  EXPECT_EQ(r, 0x49DB005Eu);
}

TEST(Blowfish, BlockWordsAreLeastSignificantByteFirst) {
  const Bytes key = Hex("0000000000000000");
  const LinkCipher cipher(key);
  // Words 0x00000000/0x00000000 are the same either way; use the
  // FFFF.../0x1000000000000001 vector where byte order matters.
  const LinkCipher c3(Hex("3000000000000000"));
  std::uint8_t block[8] = {0x00, 0x00, 0x00, 0x10, 0x01, 0x00, 0x00, 0x00};
  c3.EncryptBlock(block);
  const std::uint8_t expected[8] = {0x9A, 0x6F, 0x85, 0x7D, 0xF2, 0x63, 0x30, 0x61};
  EXPECT_EQ(Bytes(block, block + 8), Bytes(expected, expected + 8));
  c3.DecryptBlock(block);
  const std::uint8_t plain[8] = {0x00, 0x00, 0x00, 0x10, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(Bytes(block, block + 8), Bytes(plain, plain + 8));
  (void)cipher;
}

TEST(Blowfish, BuiltInKeyIsFiftyTwoBytes) { EXPECT_EQ(BuiltInLinkKey().size(), 52u); }

TEST(LinkErrors, EachCodeHasItsOperatorTextUnknownOnesTheSendError) {
  EXPECT_STREQ(LinkErrorText(kErrNoEtx), LinkErrorText(kErrInvalidReply));
  EXPECT_STREQ(LinkErrorText(kErrInvalidReply), "Invalid response message received from unit");
  EXPECT_STREQ(LinkErrorText(0x80000010), "Error occurred sending message");
  EXPECT_STREQ(LinkErrorText(1), "Error occurred sending message");
  EXPECT_STREQ(LinkErrorText(kErrInvalidAddress), "Attempting to read an invalid address");
  EXPECT_STREQ(LinkErrorText(kErrTimedOut), "Timed out trying to read a response message");
  EXPECT_STREQ(LinkErrorText(kErrAlreadyConnected), "Already connected");
  EXPECT_STREQ(LinkErrorText(kErrOpenPort), "Unable to open serial port");
  EXPECT_STREQ(LinkErrorText(kErrCommState), "Error accessing CommTimeouts");
}

}  // namespace
