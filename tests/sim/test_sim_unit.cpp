// The simulated unit's request -> reply logic, byte for byte: what it
// answers, to whom, and what each reply fault does to the bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "link/link_errors.h"
#include "sim_unit.h"
#include "support/fake_link.h"

namespace {

using vecta::link::Bytes;
using vecta::sim::FaultOptions;
using vecta::sim::ParamSeed;
using vecta::sim::SimReply;
using vecta::sim::SimUnit;
using vecta::sim::UnitOptions;
using vecta::test::Wire;

Bytes Request(const std::string& text) {
  Bytes frame;
  EXPECT_TRUE(vecta::link::BuildRequestFrame(text, vecta::link::kMaxSerialRequestFrame, frame));
  return frame;
}

std::string Value(const SimReply& r) {
  EXPECT_TRUE(r.answer);
  const auto d = vecta::link::DecodeReply(r.bytes.data(), r.bytes.size());
  EXPECT_EQ(d.code, 0u);
  return d.value;
}

char Status(const SimReply& r) {
  const auto d = vecta::link::DecodeReply(r.bytes.data(), r.bytes.size());
  EXPECT_EQ(d.code, 0u);
  return d.status;
}

UnitOptions Board(const std::string& board) {
  UnitOptions u;
  u.board = board;
  return u;
}

// ---- frames and addressing ----

TEST(SimUnitFrames, RepliesAreByteExact) {
  SimUnit unit;
  EXPECT_EQ(unit.Handle(Request("0001rgbty;;")).bytes, Wire("00011K610;", 0x8F));
  EXPECT_EQ(unit.Handle(Request("9999rgadd;;")).bytes, Wire("000110001;", 0xEE));
  EXPECT_EQ(unit.Handle(Request("0001rzzzz;;")).bytes, Wire("0001E;", 0xC1));
}

TEST(SimUnitFrames, ReportsBoardAndFirmwareGiven) {
  UnitOptions u;
  u.board = "TESTBRD8";
  u.firmware = "9.8.7.6";
  SimUnit unit(u);
  EXPECT_EQ(Value(unit.Handle(Request("0001rgbty;;"))), "TESTBRD8");
  EXPECT_EQ(Value(unit.Handle(Request("0001rgver;;"))), "9.8.7.6");
  EXPECT_EQ(Value(SimUnit().Handle(Request("0001rgver;;"))), "3.4.0.0");
}

TEST(SimUnitFrames, AnswersOwnAndBroadcastAddressOnly) {
  UnitOptions u;
  u.address = 42;
  SimUnit unit(u);
  const SimReply own = unit.Handle(Request("0042rgadd;;"));
  const SimReply broadcast = unit.Handle(Request("9999rgadd;;"));
  ASSERT_TRUE(own.answer);
  ASSERT_TRUE(broadcast.answer);
  // A broadcast is answered from the unit's own address.
  EXPECT_EQ(std::string(broadcast.bytes.begin() + 1, broadcast.bytes.begin() + 5), "0042");
  EXPECT_EQ(own.bytes, broadcast.bytes);
  EXPECT_EQ(Value(own), "0042");

  for (const char* other : {"0001rgadd;;", "0041rgadd;;", "0420rgadd;;", "00a2rgadd;;", "-042rgadd;;"}) {
    const SimReply r = unit.Handle(Request(other));
    EXPECT_FALSE(r.answer) << other;
    EXPECT_TRUE(r.bytes.empty()) << other;
  }
  // Frames for other units are not requests: they do not count for faults.
  EXPECT_EQ(unit.RequestCount(), 2);
}

TEST(SimUnitFrames, IgnoresBadChecksumAndBrokenFrames) {
  SimUnit unit;
  Bytes bad = Request("0001rgbty;;");
  bad[bad.size() - 2] ^= 0x01;
  EXPECT_FALSE(unit.Handle(bad).answer);

  Bytes noEtx = Request("0001rgbty;;");
  noEtx.pop_back();
  EXPECT_FALSE(unit.Handle(noEtx).answer);

  Bytes noStx = Request("0001rgbty;;");
  noStx.erase(noStx.begin());
  EXPECT_FALSE(unit.Handle(noStx).answer);

  EXPECT_FALSE(unit.Handle(Bytes{0x02, 0x03}).answer);
  EXPECT_FALSE(unit.Handle(nullptr, 0).answer);
  EXPECT_EQ(unit.RequestCount(), 0);
}

TEST(SimUnitFrames, RefusesAddressedButMalformedRequests) {
  SimUnit unit;
  // Correct checksum and address, but no separators where they belong.
  for (const char* text : {"0001rgbty", "0001rgbty;", "0001rgbty:x;", "0001rgbty;a;b;", "0001r"}) {
    const SimReply r = unit.Handle(Request(text));
    ASSERT_TRUE(r.answer) << text;
    EXPECT_EQ(r.bytes, Wire("0001E;", 0xC1)) << text;
  }
  // Neither read nor write.
  EXPECT_EQ(unit.Handle(Request("0001xgbty;;")).bytes, Wire("0001E;", 0xC1));
  // Mnemonics are lower case.
  EXPECT_EQ(unit.Handle(Request("0001rGBTY;;")).bytes, Wire("0001E;", 0xC1));
}

// ---- the parameter store ----

TEST(SimUnitParams, WriteStoresAndEchoesValue) {
  SimUnit unit;
  EXPECT_EQ(Value(unit.Handle(Request("0001rgnam;;"))), "Config 1");
  const SimReply w = unit.Handle(Request("0001wgnam;Studio A;"));
  EXPECT_EQ(Status(w), '1');
  EXPECT_EQ(Value(w), "Studio A");
  EXPECT_EQ(Value(unit.Handle(Request("0001rgnam;;"))), "Studio A");
  // An empty name is a name too.
  EXPECT_EQ(Status(unit.Handle(Request("0001wgnam;;"))), '1');
  EXPECT_EQ(Value(unit.Handle(Request("0001rgnam;;"))), "");
}

TEST(SimUnitParams, UnknownAndReadOnlyMnemonicsAreRefused) {
  SimUnit unit;
  for (const char* text : {"0001rqqqq;;", "0001wqqqq;5;", "0001wgbty;K240;", "0001wgver;1.0;", "0001wgrea;1;",
                           "0001rgdef;;", "0001wgser;1;", "0001wvloc;1;", "0001wevid;1;"}) {
    const SimReply r = unit.Handle(Request(text));
    EXPECT_EQ(Status(r), 'E') << text;
    EXPECT_EQ(Value(r), "") << text;
  }
  // Refused writes changed nothing, and did not create the parameter.
  EXPECT_EQ(Value(unit.Handle(Request("0001rgbty;;"))), "K610");
  EXPECT_EQ(Value(unit.Handle(Request("0001rgver;;"))), "3.4.0.0");
  EXPECT_EQ(Status(unit.Handle(Request("0001rqqqq;;"))), 'E');
}

TEST(SimUnitParams, ParamOptionsReplaceDefaultsOfKnownParametersOnly) {
  UnitOptions u;
  u.params.push_back({"gnam", "Truck"});
  u.params.push_back({"omod", "3"});
  u.params.push_back({"omod", "2"});  // a later one wins
  SimUnit unit(u);
  EXPECT_TRUE(unit.SetupError().empty()) << unit.SetupError();
  EXPECT_EQ(Value(unit.Handle(Request("0001rgnam;;"))), "Truck");
  unit.Handle(Request("0001wglod;5;"));
  EXPECT_EQ(Value(unit.Handle(Request("0001rgnam;;"))), "Truck");
  EXPECT_EQ(Value(unit.Handle(Request("0001romod;;"))), "2");

  for (const ParamSeed& bad : {ParamSeed{"qqqq", "1"}, ParamSeed{"omod", "9"}, ParamSeed{"gdna", "x"}}) {
    UnitOptions b;  // gdna does not exist on a K610
    b.params.push_back(bad);
    EXPECT_FALSE(SimUnit(b).SetupError().empty()) << bad.mnemonic << "=" << bad.value;
  }
}

TEST(SimUnitParams, ConfigurationsKeepTheirOwnValues) {
  SimUnit unit;
  EXPECT_EQ(Value(unit.Handle(Request("0001rglod;;"))), "1");
  unit.Handle(Request("0001wgnam;one;"));
  EXPECT_EQ(Value(unit.Handle(Request("0001wglod;2;"))), "2");
  EXPECT_EQ(Value(unit.Handle(Request("0001rglod;;"))), "2");
  // Each configuration has defaults of its own, so a switch shows.
  EXPECT_EQ(Value(unit.Handle(Request("0001rgnam;;"))), "Config 2");
  EXPECT_EQ(Value(unit.Handle(Request("0001rofre;;"))), "482.00");
  unit.Handle(Request("0001wgnam;two;"));
  unit.Handle(Request("0001wglod;1;"));
  EXPECT_EQ(Value(unit.Handle(Request("0001rgnam;;"))), "one");
  EXPECT_EQ(Value(unit.Handle(Request("0001rofre;;"))), "474.00");
  EXPECT_EQ(unit.CurrentConfiguration(), 1);
}

TEST(SimUnitParams, RestoreDefaultsTouchesOnlyCurrentConfiguration) {
  SimUnit unit;
  unit.Handle(Request("0001wgnam;one;"));
  unit.Handle(Request("0001wolev;900;"));
  unit.Handle(Request("0001wglod;3;"));
  unit.Handle(Request("0001wgnam;three;"));
  unit.Handle(Request("0001wcflo;400;"));  // calibration belongs to the unit, not to a configuration
  EXPECT_EQ(Status(unit.Handle(Request("0001wgdef;0;"))), 'E');
  EXPECT_EQ(Value(unit.Handle(Request("0001rgnam;;"))), "three");
  const SimReply r = unit.Handle(Request("0001wgdef;1;"));
  EXPECT_EQ(Status(r), '1');
  EXPECT_EQ(Value(r), "1");
  EXPECT_EQ(Value(unit.Handle(Request("0001rgnam;;"))), "Config 3");
  EXPECT_EQ(Value(unit.Handle(Request("0001rcflo;;"))), "400.00");
  EXPECT_EQ(Value(unit.Handle(Request("0001rglod;;"))), "3");
  unit.Handle(Request("0001wglod;1;"));
  EXPECT_EQ(Value(unit.Handle(Request("0001rgnam;;"))), "one");
  EXPECT_EQ(Value(unit.Handle(Request("0001rolev;;"))), "900");
}

TEST(SimUnitParams, ConfigurationRangeFollowsBoard) {
  struct Case {
    const char* board;
    int count;
  };
  for (const Case c : {Case{"K240", 16}, Case{"K610", 16}, Case{"K999", 8}, Case{"", 8}}) {
    SimUnit unit(Board(c.board));
    EXPECT_EQ(unit.Configurations(), c.count) << c.board;
    const std::string last = std::to_string(c.count);
    const std::string past = std::to_string(c.count + 1);
    EXPECT_EQ(Value(unit.Handle(Request("0001wglod;" + last + ";"))), last) << c.board;
    EXPECT_EQ(Status(unit.Handle(Request("0001wglod;" + past + ";"))), 'E') << c.board;
    for (const char* bad : {"0", "", "abc", "-1", "+2", "2x", " 2", "99999"})
      EXPECT_EQ(Status(unit.Handle(Request(std::string("0001wglod;") + bad + ";"))), 'E') << c.board << " " << bad;
    // Refused switches left the configuration alone.
    EXPECT_EQ(Value(unit.Handle(Request("0001rglod;;"))), last) << c.board;
  }
  UnitOptions u;
  u.configurations = 3;
  SimUnit three(u);
  EXPECT_EQ(three.Configurations(), 3);
  EXPECT_EQ(Status(three.Handle(Request("0001wglod;4;"))), 'E');
}

TEST(SimUnitParams, AddressWriteAnswersFromOldAddressThenMoves) {
  SimUnit unit;
  EXPECT_EQ(unit.Handle(Request("0001wgadd;0005;")).bytes, Wire("000110005;", 0xF2));
  EXPECT_EQ(unit.Address(), 5);
  EXPECT_FALSE(unit.Handle(Request("0001rgadd;;")).answer);
  EXPECT_EQ(unit.Handle(Request("0005rgadd;;")).bytes, Wire("000510005;", 0xF6));
  EXPECT_EQ(unit.Handle(Request("9999rgadd;;")).bytes, Wire("000510005;", 0xF6));
  // Short forms are plain decimals too.
  EXPECT_EQ(Value(unit.Handle(Request("0005wgadd;7;"))), "0007");
  EXPECT_EQ(unit.Address(), 7);
  for (const char* bad : {"9999", "10000", "abc", "", "-1", "12 "}) {
    EXPECT_EQ(unit.Handle(Request(std::string("0007wgadd;") + bad + ";")).bytes.at(5), 'E') << bad;
    EXPECT_EQ(unit.Address(), 7) << bad;
  }
}

// ---- the long read ----

TEST(SimUnitLongRead, LayoutIsAsDocumented) {
  UnitOptions u;
  u.address = 12;
  SimUnit unit(u);
  const SimReply r = unit.Handle(Request("0012rgrea;;"));
  ASSERT_TRUE(r.answer);
  const Bytes& b = r.bytes;
  ASSERT_EQ(b.size(), vecta::sim::kLongReplySize);
  EXPECT_GE(b.size(), vecta::link::kLongReadLength);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 11),
            "\x02"
            "00121"
            "0128;");
  EXPECT_EQ(b[12], 0x03);
  for (std::size_t k = 0; k < 128; ++k) ASSERT_EQ(b[13 + k], k + 1) << k;
  EXPECT_EQ(b[141], ';');
  // Replies are zero-terminated texts: not one byte of it may be zero.
  EXPECT_EQ(std::count(b.begin(), b.end(), 0), 0);
  EXPECT_EQ(b[143], 0x03);

  // ETX bytes early on, and past the 135th byte only the final one: a reader
  // that keeps going past 135 bytes stops exactly at the end.
  std::vector<std::size_t> etx;
  for (std::size_t i = 0; i < b.size(); ++i)
    if (b[i] == 0x03) etx.push_back(i);
  EXPECT_EQ(etx, (std::vector<std::size_t>{12, 15, 143}));
  EXPECT_EQ(b[14], 0x02);
  EXPECT_EQ(b[71], ';');

  // Both checksums hold.
  unsigned sum11 = 0, sum142 = 0;
  for (std::size_t i = 1; i < 11; ++i) sum11 += b[i];
  for (std::size_t i = 1; i < 142; ++i) sum142 += b[i];
  EXPECT_EQ(b[11], (sum11 & 0xFF) | 0x80);
  EXPECT_EQ(b[142], (sum142 & 0xFF) | 0x80);

  // Decoded up to its first ETX, it is an ordinary accepted reply.
  const auto d = vecta::link::DecodeReply(b.data(), b.size());
  EXPECT_EQ(d.code, 0u);
  EXPECT_EQ(d.status, '1');
  EXPECT_EQ(d.value, "0128");
}

TEST(SimUnitLongRead, OnlyTheReadIsLong) {
  SimUnit unit;
  EXPECT_EQ(Status(unit.Handle(Request("0001wgrea;;"))), 'E');
  EXPECT_EQ(unit.Handle(Request("9999rgrea;;")).bytes, unit.Handle(Request("0001rgrea;;")).bytes);
}

// ---- reply faults ----

FaultOptions Faults(void (*set)(FaultOptions&)) {
  FaultOptions f;
  set(f);
  return f;
}

TEST(SimUnitFaults, SilentNeverAnswersButStillActs) {
  SimUnit unit({}, Faults([](FaultOptions& f) { f.silent = true; }));
  EXPECT_FALSE(unit.Handle(Request("0001wglod;4;")).answer);
  EXPECT_FALSE(unit.Handle(Request("0001rgbty;;")).answer);
  EXPECT_EQ(unit.CurrentConfiguration(), 4);
  EXPECT_EQ(unit.RequestCount(), 2);
}

TEST(SimUnitFaults, SilentAfterCountsOnlyAddressedGoodRequests) {
  SimUnit unit({}, Faults([](FaultOptions& f) { f.silentAfter = 2; }));
  Bytes bad = Request("0001rgbty;;");
  bad[bad.size() - 2] ^= 0x01;
  EXPECT_FALSE(unit.Handle(bad).answer);
  EXPECT_FALSE(unit.Handle(Request("0002rgbty;;")).answer);
  EXPECT_TRUE(unit.Handle(Request("0001rgbty;;")).answer);
  EXPECT_TRUE(unit.Handle(Request("9999rgbty;;")).answer);
  for (int i = 0; i < 3; ++i) {
    const SimReply r = unit.Handle(Request("0001rgbty;;"));
    EXPECT_FALSE(r.answer);
    EXPECT_EQ(r.note, "silent after 2");
  }
  SimUnit zero({}, Faults([](FaultOptions& f) { f.silentAfter = 0; }));
  EXPECT_FALSE(zero.Handle(Request("0001rgbty;;")).answer);
}

TEST(SimUnitFaults, EveryOtherDropsEvenRequests) {
  SimUnit unit({}, Faults([](FaultOptions& f) { f.everyOther = true; }));
  std::vector<bool> answered;
  for (int i = 0; i < 6; ++i) answered.push_back(unit.Handle(Request("0001rgbty;;")).answer);
  EXPECT_EQ(answered, (std::vector<bool>{true, false, true, false, true, false}));
}

TEST(SimUnitFaults, DroppedWriteStillTakesEffect) {
  SimUnit unit({}, Faults([](FaultOptions& f) { f.everyOther = true; }));
  EXPECT_TRUE(unit.Handle(Request("0001rgnam;;")).answer);
  EXPECT_FALSE(unit.Handle(Request("0001wgnam;nine;")).answer);
  EXPECT_EQ(Value(unit.Handle(Request("0001rgnam;;"))), "nine");
}

TEST(SimUnitFaults, BadChecksumFlipsOnlyTheChecksum) {
  SimUnit unit({}, Faults([](FaultOptions& f) { f.badChecksum = true; }));
  const SimReply r = unit.Handle(Request("0001rgbty;;"));
  ASSERT_TRUE(r.answer);
  EXPECT_EQ(r.bytes, Wire("00011K610;", 0x8E));
  EXPECT_EQ(vecta::link::DecodeReply(r.bytes.data(), r.bytes.size()).code, vecta::link::kErrBadChecksum);
  EXPECT_EQ(r.note, "bad-checksum");

  const SimReply longReply = unit.Handle(Request("0001rgrea;;"));
  const Bytes good = SimUnit().Handle(Request("0001rgrea;;")).bytes;
  ASSERT_EQ(longReply.bytes.size(), good.size());
  std::vector<std::size_t> diff;
  for (std::size_t i = 0; i < good.size(); ++i)
    if (good[i] != longReply.bytes[i]) diff.push_back(i);
  EXPECT_EQ(diff, (std::vector<std::size_t>{11, 142}));
}

TEST(SimUnitFaults, NoEtxDropsTheFinalEtx) {
  SimUnit unit({}, Faults([](FaultOptions& f) { f.noEtx = true; }));
  Bytes expected = Wire("00011K610;", 0x8F);
  expected.pop_back();
  const SimReply r = unit.Handle(Request("0001rgbty;;"));
  EXPECT_EQ(r.bytes, expected);
  EXPECT_EQ(vecta::link::DecodeReply(r.bytes.data(), r.bytes.size()).code, vecta::link::kErrNoEtx);
}

TEST(SimUnitFaults, BadStatusKeepsChecksumRight) {
  SimUnit unit({}, Faults([](FaultOptions& f) { f.badStatus = true; }));
  const SimReply r = unit.Handle(Request("0001rgadd;;"));
  EXPECT_EQ(r.bytes, Wire("0001X0001;", 0x95));
  EXPECT_EQ(vecta::link::DecodeReply(r.bytes.data(), r.bytes.size()).code, vecta::link::kErrInvalidReply);
  // Refusals are marked the same way.
  EXPECT_EQ(unit.Handle(Request("0001rqqqq;;")).bytes, Wire("0001X;", 0xD4));
}

TEST(SimUnitFaults, GarbageGoesBeforeStxAndNeverLooksLikeFraming) {
  SimUnit five({}, Faults([](FaultOptions& f) { f.garbage = 5; }));
  Bytes expected{'@', 'A', 'B', 'C', 'D'};
  const Bytes good = Wire("00011K610;", 0x8F);
  expected.insert(expected.end(), good.begin(), good.end());
  const SimReply r = five.Handle(Request("0001rgbty;;"));
  EXPECT_EQ(r.bytes, expected);
  // The reply is still good behind the garbage.
  EXPECT_EQ(Value(r), "K610");

  SimUnit many({}, Faults([](FaultOptions& f) { f.garbage = 300; }));
  const Bytes b = many.Handle(Request("0001rgbty;;")).bytes;
  ASSERT_EQ(b.size(), 300 + good.size());
  EXPECT_TRUE(std::none_of(b.begin(), b.begin() + 300, [](std::uint8_t c) { return c == 0x02 || c == 0x03; }));
}

TEST(SimUnitFaults, AllReplyFaultsTogetherMarkOneReply) {
  SimUnit unit({}, Faults([](FaultOptions& f) {
                 f.badStatus = true;
                 f.badChecksum = true;
                 f.noEtx = true;
                 f.garbage = 2;
               }));
  const SimReply r = unit.Handle(Request("0001rgadd;;"));
  EXPECT_EQ(r.bytes, (Bytes{'@', 'A', 0x02, '0', '0', '0', '1', 'X', '0', '0', '0', '1', ';', 0x94}));
  EXPECT_EQ(r.note, "bad-status, bad-checksum, no-etx, garbage 2");
}

// ---- threads ----

TEST(SimUnitThreads, ConcurrentRequestsAreEachHandledOnce) {
  SimUnit unit;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  std::atomic<int> goodReplies{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread switches configurations and reads back; the store is
      // shared, so only the reply's well-formedness is checked here.
      const Bytes write = Request("0001wglod;" + std::to_string(t + 1) + ";");
      const Bytes read = Request("0001rgbty;;");
      for (int i = 0; i < kPerThread; ++i) {
        const SimReply r = unit.Handle(i % 2 ? read : write);
        const auto d = vecta::link::DecodeReply(r.bytes.data(), r.bytes.size());
        if (r.answer && d.code == 0 && d.status == '1') ++goodReplies;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(goodReplies.load(), kThreads * kPerThread);
  EXPECT_EQ(unit.RequestCount(), kThreads * kPerThread);
  EXPECT_GE(unit.CurrentConfiguration(), 1);
  EXPECT_LE(unit.CurrentConfiguration(), kThreads);
}

// ---- transcript lines ----

TEST(SimTranscript, ShowsFrameTextAndEscapes) {
  using vecta::sim::FormatTranscript;
  const Bytes req = Request("0001rgbty;;");
  EXPECT_EQ(FormatTranscript("rx", req.data(), req.size()), "rx 0001rgbty;;");
  const Bytes rep = Wire("00011K610;", 0x8F);
  EXPECT_EQ(FormatTranscript("tx", rep.data(), rep.size(), "bad-status"), "tx 00011K610; (bad-status)");
  // Not a whole frame: shown whole.
  const Bytes cut(rep.begin(), rep.end() - 1);
  EXPECT_EQ(FormatTranscript("tx", cut.data(), cut.size()), "tx <02>00011K610;<8f>");
  const Bytes odd = Wire("0001<\x7f\x01", 0x90);
  EXPECT_EQ(FormatTranscript("tx", odd.data(), odd.size()), "tx 0001<3c><7f><01>");
  EXPECT_EQ(FormatTranscript("rx", nullptr, 0, "closing connection"), "rx  (closing connection)");
}

}  // namespace
