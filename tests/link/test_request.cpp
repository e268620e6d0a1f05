// The request texts every caller hands to the link, byte for byte, in both
// forms (with and without the leading STX), and what the link makes of them.
#include <gtest/gtest.h>

#include <string>

#include "link/frame.h"
#include "link/request.h"

using namespace vecta::link;

namespace {

const std::string kS(1, '\x02');  // STX

TEST(RequestText, UnitAddressIsFourDigitsWithLeadingZeros) {
  EXPECT_EQ(UnitAddressText(1), "0001");
  EXPECT_EQ(UnitAddressText(42), "0042");
  EXPECT_EQ(UnitAddressText(0), "0000");
  EXPECT_EQ(UnitAddressText(9999), "9999");
  // Out of the range a unit takes, the number is still written whole.
  EXPECT_EQ(UnitAddressText(12345), "12345");
  EXPECT_EQ(UnitAddressText(-1), "-001");
}

TEST(RequestText, ReadsAndWritesLeadWithStx) {
  EXPECT_EQ(ReadRequest(1, "gbty"), kS + "0001rgbty;;");
  EXPECT_EQ(ReadRequest(42, "cflo"), kS + "0042rcflo;;");
  EXPECT_EQ(WriteRequest(1, "owid", "3"), kS + "0001wowid;3;");
  EXPECT_EQ(WriteRequest(7, "gnam", "Unit 7"), kS + "0007wgnam;Unit 7;");
  EXPECT_EQ(WriteRequest(1, "gnam", ""), kS + "0001wgnam;;");
  EXPECT_EQ(WriteRequest(1, "gadd", UnitAddressText(12)), kS + "0001wgadd;0012;");
  EXPECT_EQ(WriteRequest(1, "ciqi", -128), kS + "0001wciqi;-128;");
  EXPECT_EQ(WriteRequest(3, "aenc", 5), kS + "0003waenc;5;");
}

TEST(RequestText, NoStxFormsAreTheSameTextWithoutIt) {
  EXPECT_EQ(ReadRequestNoStx(1, "ciqi"), "0001rciqi;;");
  EXPECT_EQ(WriteRequestNoStx(1, "glod", 3), "0001wglod;3;");
  EXPECT_EQ(WriteRequestNoStx(12, "zkey", "0123ABCD"), "0012wzkey;0123ABCD;");
  EXPECT_EQ(WriteRequestNoStx(1, "ofre", "1300.50"), "0001wofre;1300.50;");
  EXPECT_EQ(WriteRequestNoStx(1, "citr", 0), "0001wcitr;0;");
}

TEST(RequestText, AddressQueryIsAReadOfGaddAtTheBroadcastAddress) {
  EXPECT_EQ(AddressQuery(), kS + "9999rgadd;;");
  EXPECT_EQ(AddressQueryNoStx(), "9999rgadd;;");
  EXPECT_EQ(AddressQuery(), ReadRequest(kBroadcastAddress, "gadd"));
}

TEST(RequestText, AddressedRequestPutsStxAndTheAddressInFront) {
  EXPECT_EQ(AddressedRequest(1, "rgbty;;"), kS + "0001rgbty;;");
  EXPECT_EQ(AddressedRequest(250, "wgnam;x;"), kS + "0250wgnam;x;");
  EXPECT_EQ(AddressedRequest(1, ""), kS + "0001");
}

TEST(RequestText, ValueGoesInAsItIs) {
  // Whatever the value holds is the caller's: ';' is not escaped, and a
  // zero byte stays in the text (the frame ends there).
  EXPECT_EQ(WriteRequest(1, "gnam", "a;b"), kS + "0001wgnam;a;b;");
  const std::string withZero = WriteRequest(1, "gnam", std::string_view("ab\0cd", 5));
  EXPECT_EQ(withZero, kS + std::string("0001wgnam;ab\0cd;", 16));
  Bytes frame;
  ASSERT_TRUE(BuildRequestFrame(withZero, kMaxSerialRequestFrame, frame));
  const std::string cut = kS + "0001wgnam;ab";
  EXPECT_EQ(std::string(frame.begin(), frame.end() - 2), cut);
}

TEST(RequestText, BothFormsFrameToTheSameBytes) {
  Bytes a, b;
  ASSERT_TRUE(BuildRequestFrame(AddressQuery(), kMaxSerialRequestFrame, a));
  ASSERT_TRUE(BuildRequestFrame(AddressQueryNoStx(), kMaxSerialRequestFrame, b));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, (Bytes{0x02, '9', '9', '9', '9', 'r', 'g', 'a', 'd', 'd', ';', ';', 0xDC, 0x03}));

  ASSERT_TRUE(BuildRequestFrame(WriteRequest(1, "glod", 2), kMaxSerialRequestFrame, a));
  ASSERT_TRUE(BuildRequestFrame(WriteRequestNoStx(1, "glod", 2), kMaxSerialRequestFrame, b));
  EXPECT_EQ(a, b);
  ASSERT_EQ(a.size(), 15u);
  EXPECT_EQ(a.back(), 0x03);
}

}  // namespace
