// The descriptor tables, option mappings, variant test and value conversions.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

#include "params/control_ids.h"
#include "params/convert.h"
#include "params/descriptor.h"

using namespace vecta::params;

namespace {

const RowDescriptor& Row(std::string_view mnemonic, int control = 0) {
  static ParamTables tables;
  for (auto* t : tables.All()) {
    if (auto* r = t->Find(mnemonic, control)) return r->Desc();
  }
  ADD_FAILURE() << "no row " << mnemonic;
  return MainTableRows()[0];
}

TEST(Tables, RowCountsOrderAndEveryRowWellFormed) {
  const auto main = MainTableRows();
  ASSERT_EQ(main.size(), 91u);
  ASSERT_EQ(SatmodTableRows().size(), 17u);
  EXPECT_STREQ(main.front().mnemonic, "oout");
  EXPECT_STREQ(main.back().mnemonic, "vpgn");
  // The page rules rely on eenc and ecmd coming before ehor.
  auto index = [&](const char* m) {
    for (std::size_t i = 0; i < main.size(); ++i)
      if (std::string_view(main[i].mnemonic) == m) return i;
    return main.size();
  };
  EXPECT_LT(index("eenc"), index("ehor"));
  EXPECT_LT(index("ecmd"), index("ehor"));
  // Every row: a four-character mnemonic, an option list exactly for list
  // and status-list rows, derived rows only among the four-digit ones.
  std::set<int> controls;
  for (auto span : {MainTableRows(), SatmodTableRows()}) {
    for (const auto& r : span) {
      EXPECT_EQ(std::string_view(r.mnemonic).size(), 4u) << r.mnemonic;
      const bool listy = r.kind == Kind::List || r.kind == Kind::StatusList;
      EXPECT_EQ(listy, r.options != nullptr) << r.mnemonic;
      EXPECT_EQ(r.Derived(), std::isdigit(static_cast<unsigned char>(r.mnemonic[0])) != 0) << r.mnemonic;
      EXPECT_NE(r.kind, Kind::Address);
      // sver stands in both tables with one control.
      if (std::string_view(r.mnemonic) != "sver") {
        EXPECT_TRUE(controls.insert(r.control).second) << r.control;
      }
    }
  }
}

TEST(Tables, SpotChecksAgainstTheUnitsNumbering) {
  const RowDescriptor& ohls610 = Row("ohls", ids::kK610OutputPower);
  EXPECT_EQ(ohls610.flags, flag::kK610Only);
  EXPECT_EQ(ohls610.options->size(), 7u);
  EXPECT_EQ(Row("mbit").flags, 0xA00000u);
  EXPECT_EQ(Row("evbr").flags, 0x2200u);
  EXPECT_EQ(Row("evbr").kind, Kind::Check);
  EXPECT_FALSE(Row("evid").writable);
  EXPECT_EQ(Row("ehor", ids::kResolution).flags, 0x2000040u);
  EXPECT_EQ(Row("gver").flags, flag::kVersion);
  EXPECT_EQ(Row("vloc").kind, Kind::StatusList);
  EXPECT_EQ(Row("slev").flags, flag::kNegativeTenths);
  EXPECT_EQ((*Row("dinp", ids::kModeDataInput).options).size(), 24u);
  EXPECT_EQ((*Row("aenc").options)[16], "MPEG Layer 2 48kHz Mono");
  EXPECT_EQ((*Row("vinp", ids::kK610VideoInput).options)[13], "HD HDMI");
  EXPECT_EQ((*Row("sfec").options).back(), "ACM");
}

// The flag words are written with the named flags; these are the words the
// unit's numbering gives, bit for bit.
TEST(Tables, FlagWordsKeepTheirBits) {
  struct Pinned {
    const char* mnemonic;
    int control;
    std::uint32_t flags;
  };
  const Pinned main[] = {
      {"oout", 0, 0x1000},
      {"ofec", 0, 0x0},
      {"ofre", 0, 0x10},
      {"ohls", ids::kOutputPower, 0x2000000},
      {"olev", 0, 0x400},
      {"ampr", ids::kLayer1AudioRate, 0x2080000},
      {"a1br", ids::kEncoder1Layer2Rate, 0x1100000},
      {"asrc", 0, 0x2200000},
      {"dinp", ids::kModeDataInput, 0x200000},
      {"dinp", ids::kDataInput, 0x400000},
      {"evbr", 0, 0x2200},
      {"eenc", ids::kMpegMode, 0x2000080},
      {"eenc", ids::kK610MpegMode, 0x1000080},
      {"edts", 0, 0x1000004},
      {"gvnt", 0, 0x8000},
      {"mbit", 0, 0xA00000},
      {derived::kBandwidthMode, 0, 0x800},
      {derived::kAudio, 0, 0x2000800},
      {derived::kAudioEncoder2, 0, 0x1000800},
      {"gvba", 0, 0x1000010},
      {"oplv", 0, 0x1000400},
  };
  for (const Pinned& p : main)
    EXPECT_EQ(Row(p.mnemonic, p.control).flags, p.flags) << p.mnemonic << " " << p.control;
  const Pinned satmod[] = {
      {"stmp", 0, 0x10000}, {"scar", 0, 0x4}, {"srol", 0, 0x40000}, {"slev", 0, 0x20000}, {"spol", 0, 0x0},
  };
  for (const Pinned& p : satmod) EXPECT_EQ(Row(p.mnemonic, p.control).flags, p.flags) << p.mnemonic;
  // No row carries a bit that has no name.
  const std::uint32_t named =
      flag::kTrim | flag::kTwoDecimals | flag::kMarker40 | flag::kMarker80 | flag::kHideIfUnanswered |
      flag::kLevel | flag::kDerived | flag::kStatusLamp | flag::kBitratePair | flag::kVersion | flag::kTenths |
      flag::kTenthsToo | flag::kNegativeTenths | flag::kHundredths | flag::kLayer1Rates | flag::kLayer2Rates |
      flag::kK240OrK610 | flag::kOtherOnly | flag::kThousandths | flag::kK610Only | flag::kNotK610;
  for (auto rows : {MainTableRows(), SatmodTableRows()})
    for (const RowDescriptor& r : rows) EXPECT_EQ(r.flags & ~named, 0u) << r.mnemonic << " " << r.control;
}

// The derived rows are known by their mnemonics, and nothing else is one.
TEST(Tables, DerivedRowsByName) {
  using derived::Row;
  EXPECT_EQ(derived::RowOf("0000"), Row::BandwidthMode);
  EXPECT_EQ(derived::RowOf("0003"), Row::Audio);
  EXPECT_EQ(derived::RowOf("0004"), Row::AudioEncoder1);
  EXPECT_EQ(derived::RowOf("0005"), Row::AudioEncoder2);
  for (const char* other : {"0001", "0002", "0006", "aenc", "", "00000"}) {
    EXPECT_EQ(derived::RowOf(other), Row::None) << other;
    EXPECT_FALSE(derived::IsAudioEncoderRow(other)) << other;
  }
  EXPECT_TRUE(derived::IsAudioEncoderRow("0004"));
  EXPECT_TRUE(derived::IsAudioEncoderRow("0005"));
  EXPECT_FALSE(derived::IsAudioEncoderRow("0003"));
  // Exactly the rows marked derived in the main table, and none in the other.
  std::set<std::string> marked;
  for (const RowDescriptor& r : MainTableRows())
    if (r.Derived()) marked.insert(r.mnemonic);
  EXPECT_EQ(marked, (std::set<std::string>{"0000", "0003", "0004", "0005"}));
  for (const RowDescriptor& r : SatmodTableRows()) EXPECT_FALSE(r.Derived()) << r.mnemonic;
}

TEST(Tables, GeneratedLists) {
  const OptionList& pid = PidOptions();
  ASSERT_EQ(pid.size(), 8191u);
  EXPECT_EQ(pid[0], "Default");
  EXPECT_EQ(pid[1], "0x0001");
  EXPECT_EQ(pid[255], "0x00FF");
  EXPECT_EQ(pid[8190], "0x1FFE");
  const OptionList& bytes = PacketLengthOptions();
  ASSERT_EQ(bytes.size(), 177u);
  EXPECT_EQ(bytes[1], "1 byte");
  EXPECT_EQ(bytes[2], "2 bytes");
  EXPECT_EQ(bytes[176], "176 bytes");
  const OptionList& frames = GopOptions();
  ASSERT_EQ(frames.size(), 65u);
  EXPECT_EQ(frames[1], "Intra only");
  EXPECT_EQ(frames[2], "2 frames");
  EXPECT_EQ(frames[64], "64 frames");
  for (const char* m : {"pmpd", "pcpd", "pvid", "pau1", "pau2", "pdat"}) EXPECT_EQ(Row(m).options, &pid);
}

TEST(Options, EmptyEntriesAreNotOffered) {
  const OptionList& ofec = *Row("ofec").options;
  EXPECT_EQ(OfferedOptions(ofec), (std::vector<std::string>{"2/3", "1/3"}));
  EXPECT_EQ(PositionToWire(ofec, 0), 1);
  EXPECT_EQ(WireToPosition(ofec, 2), 1);

  const OptionList& zscr = *Row("zscr").options;
  EXPECT_EQ(OfferedOptions(zscr),
            (std::vector<std::string>{"Off", "ABS", "AES128", "AES256", "BCrypt128", "BCrypt256"}));
  const int wires[] = {0, 1, 4, 6, 8, 10};
  for (int s = 0; s < 6; ++s) {
    EXPECT_EQ(PositionToWire(zscr, s), wires[s]);
    EXPECT_EQ(WireToPosition(zscr, wires[s]), s);
  }
  EXPECT_EQ(PositionToWire(zscr, 6), std::nullopt);
  EXPECT_EQ(PositionToWire(zscr, -1), std::nullopt);

  const OptionList& gosw = *Row("gosw").options;
  EXPECT_EQ(OfferedOptions(gosw).size(), 4u);
  EXPECT_EQ(PositionToWire(gosw, 3), 12);
  // Past the end: the wire value less every empty entry of the list.
  EXPECT_EQ(WireToPosition(zscr, 11), 6);
  EXPECT_EQ(WireToPosition(zscr, 20), 15);
  // A wire value that lands on an empty entry takes the offered entries
  // before it.
  EXPECT_EQ(WireToPosition(zscr, 5), 3);
  EXPECT_EQ(WireToPosition(zscr, -1), -1);
}

TEST(Variants, BoardTypes) {
  EXPECT_EQ(VariantOf("K240"), Variant::K240);
  EXPECT_EQ(VariantOf("K610"), Variant::K610);
  EXPECT_EQ(VariantOf(""), Variant::Other);
  EXPECT_EQ(VariantOf("K2400"), Variant::Other);
  EXPECT_EQ(VariantOf("k240"), Variant::Other);
  const std::uint32_t k240Only = 0x2200000;
  EXPECT_FALSE(RowExists(k240Only, Variant::K610));
  EXPECT_TRUE(RowExists(k240Only, Variant::K240));
  EXPECT_FALSE(RowExists(k240Only, Variant::Other));
  EXPECT_TRUE(RowExists(flag::kOtherOnly, Variant::Other));
  EXPECT_FALSE(RowExists(flag::kOtherOnly, Variant::K240));
  EXPECT_TRUE(RowExists(flag::kNotK610, Variant::Other));
  EXPECT_FALSE(RowExists(flag::kNotK610, Variant::K610));
  EXPECT_TRUE(RowExists(0, Variant::K610));
}

TEST(Firmware, ParseAndCompare) {
  FirmwareVersion v;
  EXPECT_TRUE(v.AtLeast(0, 0, 0, 0));
  EXPECT_FALSE(v.AtLeast3400());
  v.Parse("3.10.2.1");
  EXPECT_EQ(v.n, (std::array<std::int32_t, 4>{3, 10, 2, 1}));
  EXPECT_TRUE(v.AtLeast3400());
  // A letter first, then two numbers: the last two keep their values.
  FirmwareVersion w;
  w.Parse("V3.4");
  EXPECT_EQ(w.n, (std::array<std::int32_t, 4>{3, 4, 0, 0}));
  EXPECT_TRUE(w.AtLeast3400());
  v.Parse("v2.9");
  EXPECT_EQ(v.n, (std::array<std::int32_t, 4>{2, 9, 2, 1}));
  EXPECT_FALSE(v.AtLeast3400());
  // An empty run gives 0; a separator at the end stops.
  FirmwareVersion e;
  e.Parse("3..7.");
  EXPECT_EQ(e.n, (std::array<std::int32_t, 4>{3, 0, 7, 0}));
  FirmwareVersion none;
  none.Parse("none");
  EXPECT_EQ(none.n, (std::array<std::int32_t, 4>{0, 0, 0, 0}));
  FirmwareVersion big;
  big.Parse("99999999999.1");
  EXPECT_EQ(big.n[0], INT32_MAX);
}

TEST(Conversion, LevelsInDecibels) {
  const RowDescriptor& olev = Row("olev");
  EXPECT_EQ(DisplayText(olev, "1274"), "0.00");
  EXPECT_EQ(DisplayText(olev, "637"), "6.02");
  EXPECT_EQ(DisplayText(olev, "2548"), "-6.02");
  EXPECT_EQ(FormTextValue(olev, "6.02"), "637");
  EXPECT_EQ(FormTextValue(olev, "0"), "1274");
  // No output at all: shown as an infinite attenuation that writes back 0.
  EXPECT_EQ(DisplayText(olev, "0"), "inf");
  EXPECT_EQ(DisplayText(olev, "-3"), "inf");
  EXPECT_EQ(FormTextValue(olev, "inf"), "0");
  EXPECT_EQ(FormTextValue(olev, "-1e6"), "2147483647");  // clamped, never wraps
}

TEST(Conversion, ScaledNumbers) {
  EXPECT_EQ(DisplayText(Row("slev"), "35"), "-3.5");
  EXPECT_EQ(FormTextValue(Row("slev"), "-3.5"), "35");
  EXPECT_EQ(DisplayText(Row("srol"), "35"), "0.35");
  EXPECT_EQ(FormTextValue(Row("srol"), "0.35"), "35");
  EXPECT_EQ(DisplayText(Row("mbit"), "1500"), "1.500");
  EXPECT_EQ(FormTextValue(Row("mbit"), "1.5"), "1500");
  EXPECT_EQ(DisplayText(Row("gvnt"), "123"), "12.3");
  EXPECT_EQ(DisplayText(Row("stmp"), "455"), "45.5");
  EXPECT_EQ(DisplayText(Row("ofre"), "474"), "474.00");
  EXPECT_EQ(FormTextValue(Row("ofre"), "474.5"), "474.5");  // written as typed
  EXPECT_EQ(DisplayText(Row("gnam"), "Studio 1"), "Studio 1");
  EXPECT_EQ(DisplayText(Row("olev"), "abc"), "inf");  // not a number: 0
  EXPECT_EQ(DisplayText(Row("gvnt"), "abc"), "0.0");
}

TEST(Conversion, TypedDecimalsAreNotCutByBinaryRounding) {
  // 0.29 x 100, 1.001 x 1000 and -0.7 x -10 fall just short in binary.
  EXPECT_EQ(FormTextValue(Row("srol"), "0.29"), "29");
  EXPECT_EQ(FormTextValue(Row("srol"), "0.57"), "57");
  EXPECT_EQ(FormTextValue(Row("mbit"), "1.001"), "1001");
  EXPECT_EQ(FormTextValue(Row("mbit"), "4.35"), "4350");
  EXPECT_EQ(FormTextValue(Row("slev"), "-0.7"), "7");
  // Still the integer part: what the unit cannot hold is dropped, not rounded up.
  EXPECT_EQ(FormTextValue(Row("srol"), "0.299"), "29");
  EXPECT_EQ(FormTextValue(Row("mbit"), "1.0009"), "1000");
  EXPECT_EQ(FormTextValue(Row("srol"), "1e300"), "2147483647");
}

TEST(Conversion, TrimmedTexts) {
  EXPECT_EQ(TrimZeros("5.000"), "5.0");
  EXPECT_EQ(TrimZeros("007"), "7");
  EXPECT_EQ(TrimZeros("0.50"), "0.5");
  EXPECT_EQ(TrimZeros("000"), "0");
  EXPECT_EQ(TrimZeros("5."), "5.");
  EXPECT_EQ(TrimZeros("100"), "100");  // no '.', trailing zeros stay
  EXPECT_EQ(TrimZeros(""), "");
  EXPECT_EQ(DisplayText(Row("glod"), "03"), "3");
  EXPECT_EQ(DisplayText(Row("gtmp"), "042.50"), "42.5");
}

TEST(Conversion, StoreReplyByKind) {
  ParamTables t;
  FirmwareVersion fw;
  ParamRow& ofec = *t.main.Find("ofec");
  StoreReply(ofec, "2", &fw);
  EXPECT_EQ(ofec.Position(), 1);
  EXPECT_EQ(FormListValue(ofec.Desc(), 0), "1");
  ParamRow& zscr = *t.main.Find("zscr");
  StoreReply(zscr, "6");
  EXPECT_EQ(zscr.Position(), 3);
  EXPECT_EQ(ShownValue(zscr.Desc(), zscr.Get()), "AES256");
  EXPECT_EQ(FormListValue(zscr.Desc(), 4), "8");
  ParamRow& evbr = *t.main.Find("evbr");
  StoreReply(evbr, "4500");
  EXPECT_EQ(evbr.Check(), 1);
  StoreReply(evbr, "0.0");
  EXPECT_EQ(evbr.Check(), 0);
  ParamRow& gver = *t.main.Find("gver");
  StoreReply(gver, "3.4.1.0", &fw);
  EXPECT_EQ(gver.Text(), "3.4.1.0");
  EXPECT_TRUE(fw.AtLeast(3, 4, 1, 0));
  ParamRow& csta = *t.main.Find("csta");
  StoreReply(csta, "2");
  EXPECT_EQ(ShownValue(csta.Desc(), csta.Get()), "Overflow");
  StoreReply(csta, "7");
  EXPECT_EQ(ShownValue(csta.Desc(), csta.Get()), "Unknown (7)");
  EXPECT_EQ(FormCheckValue(true), "1");
  EXPECT_EQ(FormCheckValue(false), "0");
}

TEST(Conversion, IpAddressesParseFormatAndComeFromReplies) {
  EXPECT_EQ(ParseAddress("192.168.1.20"), 0xC0A80114u);
  EXPECT_EQ(ParseAddress("10.0.0"), 0u);
  EXPECT_EQ(FormatAddress(0xC0A80114u), "192.168.1.20");
  RowDescriptor address{"gipa", 9999, true, Kind::Address, 0, nullptr};
  EXPECT_EQ(std::get<std::uint32_t>(ConvertReply(address, "10.1.2.3")), 0x0A010203u);
}

TEST(StoredPosition, FirstMatchingRowOnly) {
  ParamTables t;
  EXPECT_EQ(t.main.StoredListPosition("owid"), kNoStoredPosition);
  StoreReply(*t.main.Find("owid"), "2");
  EXPECT_EQ(t.main.StoredListPosition("owid"), 2);
  // ohls has a row per variant: only the first is looked at for id 0.
  StoreReply(*t.main.Find("ohls", ids::kK610OutputPower), "5");
  EXPECT_EQ(t.main.StoredListPosition("ohls"), kNoStoredPosition);
  EXPECT_EQ(t.main.StoredListPosition("ohls", ids::kK610OutputPower), 5);
  // A text row has no position.
  StoreReply(*t.main.Find("gnam"), "x");
  EXPECT_EQ(t.main.StoredListPosition("gnam"), kNoStoredPosition);
  t.main.ClearValues();
  EXPECT_EQ(t.main.StoredListPosition("owid"), kNoStoredPosition);
}

TEST(RowLock, ValueIsReplacedWholeUnderConcurrentReaders) {
  ParamTables t;
  ParamRow& gnam = *t.main.Find("gnam");
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop) {
      const auto v = gnam.Text();
      if (v && *v != std::string(64, 'a') && *v != std::string(64, 'b')) ++bad;
    }
  });
  for (int i = 0; i < 20000; ++i) StoreReply(gnam, std::string(64, i % 2 ? 'a' : 'b'));
  stop = true;
  reader.join();
  EXPECT_EQ(bad, 0);
}

}  // namespace
