// The settings page layouts checked against the descriptor tables, against
// the variant layout that the windows apply, and against the captions and
// bindings of the page tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "pages/layouts.h"
#include "params/convert.h"
#include "params/descriptor.h"

using namespace vecta;
using namespace vecta::pages;
using params::Kind;
using params::RowExists;
using params::RowSpec;

namespace {

std::string Name(Variant v) {
  return v == Variant::K240 ? "K240" : v == Variant::K610 ? "K610" : "other";
}

std::string Name(PageId p) { return std::string(Layout(p).title.empty() ? "main settings" : Layout(p).title); }

bool Bound(const Entry& e) { return e.mnemonic != nullptr; }

// A field of the page tables: caption, caption id, control id, mnemonic and
// the variants the control is shown on (bit 1 K240, 2 K610, 4 other).
struct Listed {
  PageId page;
  const char* caption;
  int captionId;
  int control;
  const char* mnemonic;
  int shown;
};

// Every field of the page tables, top to bottom.
const Listed kListed[] = {
    {PageId::MainSettings, "Output frequency (MHz)", 0, 1301, "ofre", 7},
    {PageId::MainSettings, "Bandwidth mode", 0, 1230, "0000", 7},
    {PageId::MainSettings, "Preset transmit mode", 1097, 1227, "otxm", 7},
    {PageId::MainSettings, "Video input", 0, 1212, "vinp", 5},
    {PageId::MainSettings, "Video input", 0, 1236, "vinp", 2},
    {PageId::MainSettings, "", 0, 1237, "vhdf", 2},
    {PageId::MainSettings, "Audio", 1095, 1231, "0003", 5},
    {PageId::MainSettings, "Audio encoder 1", 1095, 1093, "0004", 2},
    {PageId::MainSettings, "Audio encoder 2", 1096, 1094, "0005", 2},
    {PageId::MainSettings, "Scrambling", 0, 1211, "zscr", 7},
    {PageId::MainSettings, "", 0, 1028, "", 7},
    {PageId::UnitInformation, "Video locked", 0, 1308, "vloc", 7},
    {PageId::UnitInformation, "Software version", 0, 1309, "gver", 7},
    {PageId::UnitInformation, "FPGA version", 0, 1310, "gfpg", 7},
    {PageId::UnitInformation, "Serial number", 0, 1307, "gser", 7},
    {PageId::UnitInformation, "Chaining", 0, 1311, "csta", 7},
    {PageId::UnitInformation, "FPGA core temp", 1065, 1066, "gtmp", 3},
    {PageId::UnitInformation, "FPGA core voltage", 1067, 1068, "gvnt", 3},
    {PageId::UnitInformation, "FPGA aux voltage", 1069, 1070, "gvax", 3},
    {PageId::UnitInformation, "Battery voltage", 1133, 1136, "gvba", 2},
    {PageId::Modulation, "Output frequency (MHz)", 0, 1301, "ofre", 7},
    {PageId::Modulation, "Modulation bandwidth", 0, 1204, "owid", 7},
    {PageId::Modulation, "Modulation output", 0, 1200, "oout", 7},
    {PageId::Modulation, "Narrowband FEC", 0, 1201, "ofec", 7},
    {PageId::Modulation, "Narrowband guard interval", 0, 1202, "ogua", 7},
    {PageId::Modulation, "Narrowband modulation", 0, 1203, "omod", 7},
    {PageId::Modulation, "DVBT service name", 1143, 1305, "gdna", 5},
    {PageId::Modulation, "DVBT FEC rate", 0, 1206, "odfe", 7},
    {PageId::Modulation, "DVBT guard interval", 0, 1207, "odgu", 7},
    {PageId::Modulation, "DVBT modulation", 0, 1208, "odmo", 7},
    {PageId::Modulation, "DVBT spectrum inversion", 0, 1209, "ospe", 7},
    {PageId::Modulation, "DVBT 4KHz offset", 0, 1210, "o4ko", 7},
    {PageId::Modulation, "Network name", 1116, 1117, "gnet", 2},
    {PageId::Modulation, "Preset transmit mode", 0, 1227, "otxm", 7},
    {PageId::Modulation, "Output power", 0, 1205, "ohls", 5},
    {PageId::Modulation, "Output power", 0, 1139, "ohls", 2},
    {PageId::Modulation, "Output attenuation high (dB)", 0, 1300, "olev", 7},
    {PageId::Modulation, "Output attenuation low (dB)", 0, 1302, "ollv", 7},
    {PageId::Modulation, "Output attenuation preset", 1134, 1137, "oplv", 2},
    {PageId::Audio, "Audio encoder", 0, 1213, "aenc", 5},
    {PageId::Audio, "Audio encoder", 0, 1083, "a1en", 2},
    {PageId::Audio, "Audio encoder", 0, 1084, "a2en", 2},
    {PageId::Audio, "Audio source", 1061, 1062, "asrc", 1},
    {PageId::Audio, "Audio source", 0, 1085, "a1in", 2},
    {PageId::Audio, "Audio source", 0, 1086, "a2in", 2},
    {PageId::Audio, "MPEG Audio rate", 0, 1233, "ampr", 5},
    {PageId::Audio, "MPEG Audio rate", 0, 1234, "ampr", 5},
    {PageId::Audio, "MPEG Audio rate", 0, 1089, "a1br", 2},
    {PageId::Audio, "MPEG Audio rate", 0, 1090, "a1br", 2},
    {PageId::Audio, "MPEG Audio rate", 0, 1091, "a2br", 2},
    {PageId::Audio, "MPEG Audio rate", 0, 1092, "a2br", 2},
    {PageId::Audio, "Audio input level", 0, 1214, "alev", 5},
    {PageId::Audio, "Audio input level", 0, 1246, "alev", 2},
    {PageId::Audio, "Second stereo audio pair", 1071, 1072, "aen2", 1},
    {PageId::Audio, "Mic input bias", 0, 1123, "abmb", 2},
    {PageId::Video, "Video input", 0, 1212, "vinp", 5},
    {PageId::Video, "Resolution", 1077, 1221, "ehor", 5},
    {PageId::Video, "MPEG mode", 1078, 1222, "eenc", 5},
    {PageId::Video, "MPEG4 encoding mode", 1075, 1223, "ecmd", 5},
    {PageId::Video, "MPEG4 frame rate", 1076, 1224, "efrm", 5},
    {PageId::Video, "Video bitrate (Mbit/s)", 0, 1304, "evid", 5},
    {PageId::Video, "Manual", 0, 1042, "evbr", 5},
    {PageId::Video, "Video sharpness", 0, 1225, "esha", 5},
    {PageId::Video, "Video profile", 1057, 1058, "epro", 1},
    {PageId::Video, "Mux bitrate (Mbit/s)", 1073, 1074, "mbit", 1},
    {PageId::Video, "Video input", 0, 1236, "vinp", 2},
    {PageId::Video, "MPEG mode", 1142, 1247, "eenc", 2},
    {PageId::Video, "HD input format", 1079, 1237, "vhdf", 2},
    {PageId::Video, "Sub horizontal resolution", 1080, 1238, "ehor", 2},
    {PageId::Video, "Encoding mode", 1075, 1240, "ecmd", 2},
    {PageId::Video, "Frame rate", 1076, 1224, "efrm", 2},
    {PageId::Video, "Sub vertical resolution", 1081, 1239, "ever", 2},
    {PageId::Video, "GOP length", 1100, 1243, "eper", 2},
    {PageId::Video, "DTS delay (ms)", 1101, 1102, "edts", 2},
    {PageId::Video, "Use as total PTS offset", 0, 1124, "epts", 2},
    {PageId::Video, "Video bitrate (Mbit/s)", 0, 1304, "evid", 2},
    {PageId::Video, "Manual", 0, 1042, "evbr", 2},
    {PageId::Video, "Video sharpness", 0, 1241, "esha", 2},
    {PageId::Video, "Mux bitrate (Mbit/s)", 1073, 1074, "mbit", 2},
    {PageId::Video, "Pattern generator", 1135, 1138, "vpgn", 2},
    {PageId::UnitParameters, "Unit name", 0, 1303, "gnam", 7},
    {PageId::UnitParameters, "Sleep mode", 0, 1215, "gsle", 7},
    {PageId::UnitParameters, "Data", 0, 1216, "dinp", 4},
    {PageId::UnitParameters, "Data", 0, 1245, "dinp", 3},
    {PageId::UnitParameters, "Data baud rate", 0, 1217, "dbau", 7},
    {PageId::UnitParameters, "Data packet length", 1118, 1119, "dpln", 2},
    {PageId::UnitParameters, "Transport stream control", 1063, 1064, "gosw", 1},
    {PageId::UnitParameters, "Chaining input", 0, 1218, "cinp", 7},
    {PageId::UnitParameters, "Chain no.", 0, 1219, "ccha", 7},
    {PageId::UnitParameters, "Chaining output", 0, 1220, "cout", 7},
    {PageId::UnitParameters, "Current config", 0, 1306, "glod", 7},
    {PageId::UnitParameters, "Scrambling", 0, 1211, "zscr", 7},
    {PageId::UnitParameters, "Heartbeat enable", 0, 1226, "gblo", 7},
    {PageId::UnitParameters, "Metadata", 0, 1235, "meta", 7},
    {PageId::UnitParameters, "On Screen Display", 1099, 1242, "gosd", 2},
    {PageId::UnitParameters, "PMT PID", 1103, 1109, "pmpd", 2},
    {PageId::UnitParameters, "PCR PID", 1104, 1110, "pcpd", 2},
    {PageId::UnitParameters, "Video PID", 1105, 1111, "pvid", 2},
    {PageId::UnitParameters, "Audio 1 PID", 1106, 1112, "pau1", 2},
    {PageId::UnitParameters, "Audio 2 PID", 1107, 1113, "pau2", 2},
    {PageId::UnitParameters, "Data PID", 1108, 1114, "pdat", 2},
    {PageId::SatelliteModulator, "Carrier frequency (MHz)", 0, 1351, "scar", 7},
    {PageId::SatelliteModulator, "Symbol rate (ksymbols/s)", 0, 1353, "ssym", 7},
    {PageId::SatelliteModulator, "Spectrum polarity", 0, 1250, "spol", 7},
    {PageId::SatelliteModulator, "Roll off", 0, 1352, "srol", 7},
    {PageId::SatelliteModulator, "Modulation", 0, 1251, "smod", 7},
    {PageId::SatelliteModulator, "FEC family", 0, 1252, "scod", 7},
    {PageId::SatelliteModulator, "FEC rate", 0, 1253, "sfec", 7},
    {PageId::SatelliteModulator, "Signal level (dBm)", 0, 1354, "slev", 7},
    {PageId::SatelliteModulator, "Output enable", 0, 1254, "ssig", 7},
    {PageId::SatelliteModulator, "Carrier wave tone", 0, 1255, "scwt", 7},
    {PageId::SatelliteModulator, "Modulator version", 0, 1355, "sver", 7},
    {PageId::SatelliteModulator, "Modulator temperature (°C)", 0, 1350, "stmp", 7},
    {PageId::SatelliteModulator, "Enable descriptors", 0, 1380, "sdel", 7},
    {PageId::SatelliteModulator, "Satellite frequency (MHz)", 0, 1356, "sfre", 7},
    {PageId::SatelliteModulator, "Orbital position (°)", 0, 1357, "sorb", 7},
    {PageId::SatelliteModulator, "West-East flag", 0, 1256, "swef", 7},
    {PageId::SatelliteModulator, "Polarization", 0, 1257, "spla", 7},
};

const Entry* EntryOf(PageId page, int control, Variants shown) {
  for (const auto& e : Layout(page).entries)
    if (e.control == control && e.shown == shown) return &e;
  return nullptr;
}

bool IsField(const Entry& e) {
  return e.kind == ControlKind::Edit || e.kind == ControlKind::List || e.kind == ControlKind::Check ||
         (e.kind == ControlKind::PushButton && e.place.area == Area::Grid);
}

const PageId kAdvanced[] = {PageId::UnitInformation, PageId::Modulation, PageId::Audio, PageId::Video,
                            PageId::UnitParameters};

std::set<int> IdSet(const std::vector<int>& ids) { return {ids.begin(), ids.end()}; }

// Every id of a page in any variant: controls and captions with ids.
std::set<int> AllIds(PageId page) {
  std::set<int> out;
  for (const auto& e : Layout(page).entries) {
    out.insert(e.control);
    if (e.caption.id != 0) out.insert(e.caption.id);
  }
  return out;
}

}  // namespace

TEST(Layouts, EveryFieldHasItsListedCaptionBindingAndVariants) {
  std::map<PageId, int> matched;
  for (const auto& l : kListed) {
    SCOPED_TRACE(Name(l.page) + " control " + std::to_string(l.control));
    const Entry* e = EntryOf(l.page, l.control, Variants(static_cast<std::uint8_t>(l.shown)));
    ASSERT_NE(e, nullptr) << "no entry with these variants";
    EXPECT_EQ(e->caption.text, l.caption);
    EXPECT_EQ(e->caption.id, l.captionId);
    EXPECT_EQ(std::string(e->mnemonic ? e->mnemonic : ""), l.mnemonic);
    ++matched[l.page];
  }
  // And the pages hold no field beyond them.
  for (const auto& p : AllPages()) {
    int fields = 0;
    for (const auto& e : p.entries) fields += IsField(e) ? 1 : 0;
    EXPECT_EQ(fields, matched[p.id]) << Name(p.id);
  }
}

TEST(Layouts, BoundControlsAreRowsOfTheirTableWithThatMnemonicAndKind) {
  int bound = 0;
  for (const auto& p : AllPages()) {
    const auto table = TableFor(p.id);
    for (const auto& e : p.entries) {
      SCOPED_TRACE(Name(p.id) + " control " + std::to_string(e.control));
      const auto row = std::find_if(table.begin(), table.end(), [&](const RowSpec& r) { return r.control == e.control; });
      if (!Bound(e)) {
        // A control bound to nothing must not be one the table writes into.
        EXPECT_EQ(row, table.end());
        continue;
      }
      ++bound;
      ASSERT_NE(row, table.end()) << "no row binds this control";
      EXPECT_STREQ(row->mnemonic, e.mnemonic);
      switch (row->kind) {
        case Kind::Text:
        case Kind::StatusList: EXPECT_EQ(e.kind, ControlKind::Edit); break;
        case Kind::List: EXPECT_EQ(e.kind, ControlKind::List); break;
        case Kind::Check: EXPECT_EQ(e.kind, ControlKind::Check); break;
        case Kind::Address: ADD_FAILURE() << "no page has an address control"; break;
      }
    }
  }
  EXPECT_GT(bound, 100);
}

TEST(Layouts, ControlsShowOnlyWhereTheirRowExists) {
  for (const auto& p : AllPages()) {
    const auto table = TableFor(p.id);
    for (const auto& e : p.entries) {
      if (!Bound(e)) continue;
      const auto row = std::find_if(table.begin(), table.end(), [&](const RowSpec& r) { return r.control == e.control; });
      ASSERT_NE(row, table.end());
      for (Variant v : kEveryVariant) {
        if (e.ControlOn(v)) {
          EXPECT_TRUE(RowExists(*row, v)) << Name(p.id) << " " << e.control << " on " << Name(v);
        }
      }
    }
  }
}

// The rows the variant layout hides though they exist there: refresh still
// reads them, nobody sees them.
struct HiddenRow {
  const char* mnemonic;
  int control;
  Variant variant;
};
const HiddenRow kHiddenRows[] = {
    {"gtmp", 1066, Variant::Other},
    {"gvnt", 1068, Variant::Other},
    {"gvax", 1070, Variant::Other},
    {"gosw", 1064, Variant::K610},
};

bool ShownAnywhere(const RowSpec& row, Variant v) {
  for (const auto& p : AllPages())
    for (const auto& e : p.entries)
      if (Bound(e) && e.control == row.control && std::string_view(e.mnemonic) == row.mnemonic && e.ControlOn(v))
        return true;
  return false;
}

TEST(Layouts, EveryRowIsShownWhereItExistsAndNowhereElse) {
  for (const auto table : {params::MainTableSpec(), params::SatmodTableSpec()}) {
    for (const auto& row : table) {
      for (Variant v : kEveryVariant) {
        const bool hiddenByLayout = std::any_of(std::begin(kHiddenRows), std::end(kHiddenRows), [&](const HiddenRow& h) {
          return h.control == row.control && h.mnemonic == std::string_view(row.mnemonic) && h.variant == v;
        });
        const bool expected = RowExists(row, v) && !hiddenByLayout;
        EXPECT_EQ(ShownAnywhere(row, v), expected) << row.mnemonic << " " << row.control << " on " << Name(v);
      }
    }
  }
  // The exceptions are real: each row exists there and is hidden.
  for (const auto& h : kHiddenRows) {
    const auto table = params::MainTableSpec();
    const auto row = std::find_if(table.begin(), table.end(), [&](const RowSpec& r) { return r.control == h.control; });
    ASSERT_NE(row, table.end());
    EXPECT_TRUE(RowExists(*row, h.variant)) << h.mnemonic;
  }
}

TEST(Layouts, NoIdTwiceOnAPageOrInTheAdvancedOptionsWindow) {
  for (Variant v : kEveryVariant) {
    for (const auto& p : AllPages()) {
      const auto ids = VisibleIds(p.id, v);
      EXPECT_EQ(IdSet(ids).size(), ids.size()) << Name(p.id) << " on " << Name(v);
      EXPECT_FALSE(ids.empty());
    }
    // The window finds a control by id in itself and then in every page.
    std::vector<int> window;
    for (const auto& e : Window(WindowId::AdvancedOptions).controls) window.push_back(e.control);
    for (PageId p : kAdvanced) {
      const auto ids = VisibleIds(p, v);
      window.insert(window.end(), ids.begin(), ids.end());
    }
    EXPECT_EQ(IdSet(window).size(), window.size()) << "Advanced options on " << Name(v);
  }
}

TEST(Layouts, OnlyAlternatesShareAPlaceAndSharedCaptionsReadTheSame) {
  for (Variant v : kEveryVariant) {
    for (const auto& p : AllPages()) {
      std::map<std::tuple<Area, int, int>, std::vector<const Entry*>> controls, captions;
      for (const Entry* e : EntriesFor(p.id, v)) {
        if (e->kind == ControlKind::GroupBox) continue;
        const auto at = std::make_tuple(e->place.area, e->place.row, e->place.column);
        if (e->ControlOn(v)) controls[at].push_back(e);
        if (e->CaptionOn(v) && !e->CaptionIsOwnText()) captions[at].push_back(e);
      }
      for (const auto& [at, list] : controls) {
        if (list.size() < 2) continue;
        for (const Entry* e : list) {
          EXPECT_TRUE(e->byRule) << Name(p.id) << " " << e->control << " shares its place on " << Name(v);
        }
      }
      for (const auto& [at, list] : captions)
        for (const Entry* e : list) EXPECT_EQ(e->caption.text, list.front()->caption.text) << Name(p.id);
    }
  }
}

// The variant layout of the Advanced options window, step by step as its
// Opening a window hides controls, applied to everything the five pages hold.
std::set<int> AdvancedIdsAfterInit(Variant v) {
  std::set<int> ids;
  for (PageId p : kAdvanced) {
    const auto all = AllIds(p);
    ids.insert(all.begin(), all.end());
  }
  auto hide = [&](std::initializer_list<int> list) {
    for (int id : list) ids.erase(id);
  };
  auto hideRange = [&](int from, int to) {
    for (int id = from; id <= to; ++id) ids.erase(id);
  };
  if (v != Variant::K240) hide({1071, 1072, 1063, 1064, 1057, 1058});
  if (v != Variant::K610) {
    hide({1087, 1088, 1083, 1084, 1085, 1086, 1089, 1091, 1090, 1092, 1242, 1099, 1100, 1243, 1101, 1102});
    hideRange(1103, 1114);
    hide({1118, 1119, 1116, 1117, 1246, 1123, 1124});
    hideRange(1133, 1139);
  }
  if (v != Variant::Other) {
    hide({1216});
  } else {
    hide({1245, 1061, 1073, 1074});
    hideRange(1065, 1070);
  }
  if (v == Variant::Other) {
    hideRange(1057, 1070);
    hide({1071, 1072, 1063, 1064, 1057, 1058});
  }
  if (v == Variant::K610)
    hide({1212, 1077, 1221, 1078, 1222, 1223, 1225, 1062, 1213, 1233, 1234, 1214, 1143, 1305, 1205});
  else
    hide({1236, 1079, 1237, 1080, 1238, 1081, 1239, 1240, 1241, 1142, 1247});
  return ids;
}

TEST(Layouts, AdvancedOptionsPagesShowWhatTheVariantLayoutLeaves) {
  for (Variant v : kEveryVariant) {
    std::set<int> shown;
    for (PageId p : kAdvanced) {
      const auto ids = VisibleIds(p, v);
      shown.insert(ids.begin(), ids.end());
    }
    EXPECT_EQ(shown, AdvancedIdsAfterInit(v)) << Name(v);
  }
  EXPECT_EQ(CaptionText(PageId::Video, 1075, Variant::K610), "Encoding mode");
  EXPECT_EQ(CaptionText(PageId::Video, 1076, Variant::K610), "Frame rate");
  for (Variant v : {Variant::K240, Variant::Other}) {
    EXPECT_EQ(CaptionText(PageId::Video, 1075, v), "MPEG4 encoding mode");
    EXPECT_EQ(CaptionText(PageId::Video, 1076, v), "MPEG4 frame rate");
  }
}

// The main settings page as a full refresh leaves it, before any value is
// loaded.
std::set<int> MainIdsAfterRefresh(Variant v) {
  std::set<int> ids = AllIds(PageId::MainSettings);
  const std::initializer_list<int> k610 = {1236, 1237, 1096, 1093, 1094};
  const std::initializer_list<int> others = {1212, 1231, 1097};
  for (int id : v == Variant::K610 ? others : k610) ids.erase(id);
  // The "Satellite modulator" button: K240 with a modulator only.
  if (v != Variant::K240) ids.erase(1043);
  return ids;
}

TEST(Layouts, MainSettingsPageShowsWhatTheVariantLayoutLeaves) {
  for (Variant v : kEveryVariant) {
    EXPECT_EQ(IdSet(VisibleIds(PageId::MainSettings, v)), MainIdsAfterRefresh(v)) << Name(v);
    EXPECT_EQ(CaptionText(PageId::MainSettings, 1095, v), v == Variant::K610 ? "Audio encoder 1" : "Audio");
  }
  // The HD input format list and the satellite modulator button are also
  // decided at run time.
  EXPECT_TRUE(FindControl(PageId::MainSettings, 1237, Variant::K610)->byRule);
  EXPECT_TRUE(FindControl(PageId::MainSettings, 1043, Variant::K240)->byRule);
  EXPECT_FALSE(FindControl(PageId::MainSettings, 1236, Variant::K610)->byRule);
}

TEST(Layouts, OnK610TheMainPageHidesThePresetCaptionButKeepsItsList) {
  const Entry* preset = FindControl(PageId::MainSettings, 1227, Variant::K610);
  ASSERT_NE(preset, nullptr);
  EXPECT_FALSE(preset->CaptionOn(Variant::K610));
  EXPECT_TRUE(preset->CaptionOn(Variant::K240));
  EXPECT_TRUE(preset->CaptionOn(Variant::Other));
  EXPECT_EQ(CaptionText(PageId::MainSettings, 1097, Variant::K610), "");
  EXPECT_EQ(CaptionText(PageId::MainSettings, 1097, Variant::K240), "Preset transmit mode");
}

TEST(Layouts, OnTheOtherVariantTheK240ControlsAreHiddenAndDataHasFourEntries) {
  const Variant o = Variant::Other;
  for (const char* caption : {"Video profile", "Second stereo audio pair", "Transport stream control", "Audio source",
                              "Mux bitrate (Mbit/s)", "FPGA core temp", "FPGA core voltage", "FPGA aux voltage"}) {
    for (PageId p : kAdvanced)
      for (const Entry* e : EntriesFor(p, o)) EXPECT_NE(e->caption.text, caption) << Name(p);
  }
  const Entry* data = FindControl(PageId::UnitParameters, 1216, o);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(FindControl(PageId::UnitParameters, 1245, o), nullptr);
  const auto table = params::MainTableSpec();
  const auto row = std::find_if(table.begin(), table.end(), [](const RowSpec& r) { return r.control == 1216; });
  ASSERT_NE(row, table.end());
  EXPECT_EQ(row->options->size(), 4u);
  // On K240 and K610 the long list stands in the same place.
  for (Variant v : {Variant::K240, Variant::K610}) {
    const Entry* longList = FindControl(PageId::UnitParameters, 1245, v);
    ASSERT_NE(longList, nullptr);
    EXPECT_EQ(FindControl(PageId::UnitParameters, 1216, v), nullptr);
    EXPECT_EQ(longList->place.row, data->place.row);
  }
}

TEST(Layouts, ControlsThatShareAPlaceOnDifferentVariantsShareOneRow) {
  const struct {
    PageId page;
    int a;
    Variant va;
    int b;
    Variant vb;
  } pairs[] = {
      {PageId::MainSettings, 1212, Variant::K240, 1236, Variant::K610},
      {PageId::MainSettings, 1231, Variant::Other, 1093, Variant::K610},
      {PageId::Modulation, 1205, Variant::K240, 1139, Variant::K610},
      {PageId::Audio, 1213, Variant::K240, 1083, Variant::K610},
      {PageId::Audio, 1214, Variant::Other, 1246, Variant::K610},
      {PageId::Audio, 1233, Variant::K240, 1089, Variant::K610},
      {PageId::UnitParameters, 1119, Variant::K610, 1064, Variant::K240},
      {PageId::Video, 1212, Variant::Other, 1236, Variant::K610},
  };
  for (const auto& p : pairs) {
    const Entry* a = FindControl(p.page, p.a, p.va);
    const Entry* b = FindControl(p.page, p.b, p.vb);
    ASSERT_NE(a, nullptr) << p.a;
    ASSERT_NE(b, nullptr) << p.b;
    EXPECT_EQ(a->place.row, b->place.row) << p.a << " and " << p.b;
    EXPECT_EQ(a->place.column, b->place.column) << p.a << " and " << p.b;
  }
}

TEST(Layouts, K610AudioStandsInTwoFramedColumns) {
  const Variant x = Variant::K610;
  const Entry* left = FindControl(PageId::Audio, 1087, x);
  const Entry* right = FindControl(PageId::Audio, 1088, x);
  ASSERT_NE(left, nullptr);
  ASSERT_NE(right, nullptr);
  EXPECT_EQ(left->kind, ControlKind::GroupBox);
  EXPECT_EQ(left->caption.text, "Encoder 1");
  EXPECT_EQ(right->caption.text, "Encoder 2");
  EXPECT_NE(left->place.column, right->place.column);
  auto framedBy = [](const Entry* box, const Entry* e) {
    return e->place.column == box->place.column && e->place.row >= box->place.row &&
           e->place.row < box->place.row + box->place.rowSpan;
  };
  for (int id : {1083, 1085, 1089, 1090}) EXPECT_TRUE(framedBy(left, FindControl(PageId::Audio, id, x))) << id;
  for (int id : {1084, 1086, 1091, 1092}) EXPECT_TRUE(framedBy(right, FindControl(PageId::Audio, id, x))) << id;
  for (Variant v : {Variant::K240, Variant::Other}) {
    EXPECT_EQ(FindControl(PageId::Audio, 1087, v), nullptr);
    EXPECT_EQ(FindControl(PageId::Audio, 1088, v), nullptr);
  }
  // One rate list of each encoder at a time.
  EXPECT_TRUE(FindControl(PageId::Audio, 1089, x)->byRule);
  EXPECT_TRUE(FindControl(PageId::Audio, 1092, x)->byRule);
  EXPECT_TRUE(FindControl(PageId::Audio, 1233, Variant::K240)->byRule);
}

TEST(Layouts, VideoPageHasOneArrangementPerVariantGroup) {
  // The frame rate list is one control in both arrangements.
  const Entry* k = FindControl(PageId::Video, 1224, Variant::K240);
  const Entry* x = FindControl(PageId::Video, 1224, Variant::K610);
  ASSERT_NE(k, nullptr);
  ASSERT_NE(x, nullptr);
  EXPECT_NE(k, x);
  EXPECT_EQ(k->caption.text, "MPEG4 frame rate");
  EXPECT_EQ(x->caption.text, "Frame rate");
  // "Manual" right of the bitrate in both.
  for (Variant v : kEveryVariant) {
    const Entry* bitrate = FindControl(PageId::Video, 1304, v);
    const Entry* manual = FindControl(PageId::Video, 1042, v);
    ASSERT_NE(bitrate, nullptr);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(manual->place.row, bitrate->place.row);
    EXPECT_GT(manual->place.column, bitrate->place.column);
    EXPECT_EQ(manual->kind, ControlKind::Check);
  }
  const Entry* dts = FindControl(PageId::Video, 1102, Variant::K610);
  const Entry* pts = FindControl(PageId::Video, 1124, Variant::K610);
  ASSERT_NE(dts, nullptr);
  ASSERT_NE(pts, nullptr);
  EXPECT_EQ(pts->place.row, dts->place.row);
  EXPECT_GT(pts->place.column, dts->place.column);
  // Top to bottom as listed.
  for (Variant v : kEveryVariant) {
    int last = -1;
    for (const Entry* e : ControlsFor(PageId::Video, v)) {
      EXPECT_GE(e->place.row, last) << e->control << " on " << Name(v);
      last = e->place.row;
    }
  }
}

TEST(Layouts, EntriesForIncludeCaptionsShownWithoutTheirControl) {
  // "Audio source" stays on K610 while its K240 list is hidden.
  const auto entries = EntriesFor(PageId::Audio, Variant::K610);
  const auto controls = ControlsFor(PageId::Audio, Variant::K610);
  auto has = [](const std::vector<const Entry*>& list, int id) {
    return std::any_of(list.begin(), list.end(), [&](const Entry* e) { return e->control == id; });
  };
  EXPECT_TRUE(has(entries, 1062));
  EXPECT_FALSE(has(controls, 1062));
  EXPECT_EQ(CaptionText(PageId::Audio, 1061, Variant::K610), "Audio source");
  EXPECT_EQ(CaptionText(PageId::Audio, 1061, Variant::Other), "");
  EXPECT_FALSE(has(EntriesFor(PageId::Audio, Variant::Other), 1062));
  EXPECT_EQ(FindControl(PageId::Audio, 1062, Variant::K610), nullptr);
  EXPECT_NE(FindControl(PageId::Audio, 1062, Variant::K240), nullptr);
}

TEST(Layouts, MainSettingsPageButtons) {
  const struct {
    int id;
    const char* caption;
    Area area;
  } buttons[] = {
      {1030, "Apply", Area::Below},
      {1040, "Refresh", Area::Below},
      {1004, "Save config to file", Area::TopRight},
      {1005, "Load config from file", Area::TopRight},
      {1003, "Advanced", Area::Right},
      {1043, "Satellite modulator", Area::Right},
  };
  for (const auto& b : buttons) {
    const Entry* e = FindControl(PageId::MainSettings, b.id, Variant::K240);
    ASSERT_NE(e, nullptr) << b.id;
    EXPECT_EQ(e->kind, ControlKind::PushButton);
    EXPECT_EQ(e->caption.text, b.caption);
    EXPECT_EQ(e->place.area, b.area);
    EXPECT_EQ(e->mnemonic, nullptr);
  }
  // Save above Load, Advanced above Satellite modulator, Apply left of Refresh.
  auto at = [](int id) { return FindControl(PageId::MainSettings, id, Variant::K240)->place; };
  EXPECT_LT(at(1004).row, at(1005).row);
  EXPECT_LT(at(1003).row, at(1043).row);
  EXPECT_LT(at(1030).column, at(1040).column);
  // The key button beside "Scrambling" shows icon 131 and has no caption.
  for (Variant v : kEveryVariant) {
    const Entry* key = FindControl(PageId::MainSettings, 1028, v);
    const Entry* scrambling = FindControl(PageId::MainSettings, 1211, v);
    ASSERT_NE(key, nullptr);
    ASSERT_NE(scrambling, nullptr);
    EXPECT_EQ(key->kind, ControlKind::PushButton);
    EXPECT_EQ(key->icon, 131);
    EXPECT_TRUE(key->caption.text.empty());
    EXPECT_EQ(key->place.row, scrambling->place.row);
    EXPECT_GT(key->place.column, scrambling->place.column);
  }
}

TEST(Layouts, WindowsPagesTitlesAndTheirButtons) {
  const auto& main = Window(WindowId::MainSettings);
  EXPECT_EQ(main.dialogTemplate, 104);
  ASSERT_EQ(main.pages.size(), 1u);
  EXPECT_EQ(main.pages[0], PageId::MainSettings);

  const auto& adv = Window(WindowId::AdvancedOptions);
  EXPECT_EQ(adv.dialogTemplate, 116);
  EXPECT_EQ(adv.title, "Advanced options");
  const struct {
    PageId page;
    const char* title;
    int dialogTemplate;
  } tabs[] = {
      {PageId::UnitInformation, "Unit information", 124}, {PageId::Modulation, "Modulation", 125},
      {PageId::Audio, "Audio", 126}, {PageId::Video, "Video", 127},
      {PageId::UnitParameters, "Unit parameters", 142},
  };
  ASSERT_EQ(adv.pages.size(), std::size(tabs));
  for (std::size_t i = 0; i < std::size(tabs); ++i) {
    EXPECT_EQ(adv.pages[i], tabs[i].page) << i;
    EXPECT_EQ(Layout(adv.pages[i]).title, tabs[i].title) << i;
    EXPECT_EQ(Layout(adv.pages[i]).dialogTemplate, tabs[i].dialogTemplate) << i;
    EXPECT_EQ(Layout(adv.pages[i]).window, WindowId::AdvancedOptions) << i;
  }
  std::map<int, const Entry*> own;
  for (const auto& e : adv.controls) own[e.control] = &e;
  ASSERT_EQ(own.size(), 3u);
  EXPECT_EQ(own.at(1000)->kind, ControlKind::TabControl);
  EXPECT_EQ(own.at(1011)->caption.text, "Apply");
  EXPECT_EQ(own.at(1012)->caption.text, "Refresh");
  EXPECT_EQ(own.at(1011)->place.area, Area::Below);

  const auto& sat = Window(WindowId::SatelliteModulator);
  EXPECT_EQ(sat.dialogTemplate, 122);
  EXPECT_EQ(sat.title, "Satellite modulator");
  ASSERT_EQ(sat.pages.size(), 1u);
  EXPECT_EQ(Layout(sat.pages[0]).dialogTemplate, 122);
  for (Variant v : kEveryVariant) {
    const Entry* apply = FindControl(PageId::SatelliteModulator, 1011, v);
    const Entry* refresh = FindControl(PageId::SatelliteModulator, 1012, v);
    ASSERT_NE(apply, nullptr);
    ASSERT_NE(refresh, nullptr);
    EXPECT_EQ(apply->caption.text, "Apply");
    EXPECT_EQ(refresh->caption.text, "Refresh");
    EXPECT_EQ(apply->place.area, Area::Below);
  }
}

TEST(Layouts, SatelliteModulatorWindowListsItsControlsTopToBottom) {
  std::vector<std::string> shown;
  int last = -1;
  for (const Entry* e : ControlsFor(PageId::SatelliteModulator, Variant::K240)) {
    if (!Bound(*e)) continue;
    EXPECT_GT(e->place.row, last) << e->mnemonic;
    last = e->place.row;
    shown.push_back(e->mnemonic);
  }
  const std::vector<std::string> expected = {"scar", "ssym", "spol", "srol", "smod", "scod", "sfec", "slev", "ssig",
                                             "scwt", "sver", "stmp", "sdel", "sfre", "sorb", "swef", "spla"};
  EXPECT_EQ(shown, expected);
  std::set<std::string> table;
  for (const auto& r : params::SatmodTableSpec()) table.insert(r.mnemonic);
  EXPECT_EQ(table, std::set<std::string>(expected.begin(), expected.end()));
}

TEST(Layouts, LookupsAnswerNothingForControlsNotShown) {
  EXPECT_EQ(FindControl(PageId::MainSettings, 1236, Variant::K240), nullptr);
  EXPECT_EQ(FindControl(PageId::MainSettings, 1212, Variant::K610), nullptr);
  EXPECT_EQ(FindControl(PageId::Video, 1058, Variant::K610), nullptr);
  EXPECT_EQ(FindControl(PageId::Video, 9999, Variant::K240), nullptr);
  EXPECT_EQ(CaptionText(PageId::Video, 0, Variant::K240), "");
  EXPECT_EQ(&Layout(PageId::Audio), &AllPages()[3]);
  EXPECT_EQ(AllPages().size(), 7u);
  EXPECT_EQ(AllWindows().size(), 3u);
}
