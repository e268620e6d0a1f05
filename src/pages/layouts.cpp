#include "pages/layouts.h"

#include <array>
#include <stdexcept>

#include "params/descriptor.h"

namespace vecta::pages {
namespace {

using K = ControlKind;

constexpr Variants kKO = kK240Other;
constexpr Variants kKX = kK240K610;
constexpr Variants kX = kK610;
constexpr Variants kK = kK240;
constexpr Variants kO = kOther;
constexpr Variants kAll = kAllVariants;

constexpr Place At(int row, int column = 0) { return {Area::Grid, row, column, 1}; }
constexpr Place In(Area area, int row, int column = 0) { return {area, row, column, 1}; }

// A caption that stands and shows with its control.
constexpr Caption Cap(std::string_view text, Variants shown) { return {text, 0, shown}; }
// A caption with an id of its own.
constexpr Caption Cap(std::string_view text, int id, Variants shown) { return {text, id, shown}; }
constexpr Caption kNoCaption{};

// An edit or list with its caption left of it.
constexpr Entry Field(Caption caption, K kind, const char* mnemonic, int control, Variants shown, Place place,
                      bool byRule = false) {
  return {caption, kind, mnemonic, control, shown, place, byRule, 0};
}
// A field whose caption has no id and shows with it.
constexpr Entry Field(std::string_view caption, K kind, const char* mnemonic, int control, Variants shown,
                      Place place, bool byRule = false) {
  return {Cap(caption, shown), kind, mnemonic, control, shown, place, byRule, 0};
}
// A check box, a button or a group box, captioned with its own text.
constexpr Entry Own(std::string_view text, K kind, const char* mnemonic, int control, Variants shown, Place place,
                    bool byRule = false) {
  return {Cap(text, shown), kind, mnemonic, control, shown, place, byRule, 0};
}

// The main settings page: the most used settings of the current config and
// the buttons that drive everything else. The first video input list and the
// "Audio" list give way on K610 to the K610 list and the two encoder lists;
// the caption of the preset transmit mode is hidden on K610.
constexpr Entry kMainSettings[] = {
    Field("Output frequency (MHz)", K::Edit, "ofre", 1301, kAll, At(0)),
    Field("Bandwidth mode", K::List, "0000", 1230, kAll, At(1)),
    Field(Cap("Preset transmit mode", 1097, kKO), K::List, "otxm", 1227, kAll, At(2)),
    Field("Video input", K::List, "vinp", 1212, kKO, At(3)),
    Field("Video input", K::List, "vinp", 1236, kX, At(3)),
    // Shown on K610 only while the video input is an HD input.
    Field(kNoCaption, K::List, "vhdf", 1237, kX, At(3, 1), true),
    Field(Cap("Audio", 1095, kKO), K::List, "0003", 1231, kKO, At(4)),
    Field(Cap("Audio encoder 1", 1095, kX), K::List, "0004", 1093, kX, At(4)),
    Field(Cap("Audio encoder 2", 1096, kX), K::List, "0005", 1094, kX, At(5)),
    Field("Scrambling", K::List, "zscr", 1211, kAll, At(6)),
    // Opens the encryption key writing.
    {kNoCaption, K::PushButton, nullptr, 1028, kAll, At(6, 1), false, 131},
    Own("Apply", K::PushButton, nullptr, 1030, kAll, In(Area::Below, 0, 0)),
    Own("Refresh", K::PushButton, nullptr, 1040, kAll, In(Area::Below, 0, 1)),
    Own("Save config to file", K::PushButton, nullptr, 1004, kAll, In(Area::TopRight, 0)),
    Own("Load config from file", K::PushButton, nullptr, 1005, kAll, In(Area::TopRight, 1)),
    Own("Advanced", K::PushButton, nullptr, 1003, kAll, In(Area::Right, 0)),
    // Shown by the full refresh on a K240 whose modulator reported a version.
    Own("Satellite modulator", K::PushButton, nullptr, 1043, kK, In(Area::Right, 1), true),
};

// "Unit information": all read-only.
constexpr Entry kUnitInformation[] = {
    Field("Video locked", K::Edit, "vloc", 1308, kAll, At(0)),
    Field("Software version", K::Edit, "gver", 1309, kAll, At(1)),
    Field("FPGA version", K::Edit, "gfpg", 1310, kAll, At(2)),
    Field("Serial number", K::Edit, "gser", 1307, kAll, At(3)),
    Field("Chaining", K::Edit, "csta", 1311, kAll, At(4)),
    Field(Cap("FPGA core temp", 1065, kKX), K::Edit, "gtmp", 1066, kKX, At(5)),
    Field(Cap("FPGA core voltage", 1067, kKX), K::Edit, "gvnt", 1068, kKX, At(6)),
    Field(Cap("FPGA aux voltage", 1069, kKX), K::Edit, "gvax", 1070, kKX, At(7)),
    Field(Cap("Battery voltage", 1133, kX), K::Edit, "gvba", 1136, kX, At(8)),
};

// "Modulation".
constexpr Entry kModulation[] = {
    Field("Output frequency (MHz)", K::Edit, "ofre", 1301, kAll, At(0)),
    Field("Modulation bandwidth", K::List, "owid", 1204, kAll, At(1)),
    Field("Modulation output", K::List, "oout", 1200, kAll, At(2)),
    Field("Narrowband FEC", K::List, "ofec", 1201, kAll, At(3)),
    Field("Narrowband guard interval", K::List, "ogua", 1202, kAll, At(4)),
    Field("Narrowband modulation", K::List, "omod", 1203, kAll, At(5)),
    Field(Cap("DVBT service name", 1143, kKO), K::Edit, "gdna", 1305, kKO, At(6)),
    Field("DVBT FEC rate", K::List, "odfe", 1206, kAll, At(7)),
    Field("DVBT guard interval", K::List, "odgu", 1207, kAll, At(8)),
    Field("DVBT modulation", K::List, "odmo", 1208, kAll, At(9)),
    Field("DVBT spectrum inversion", K::List, "ospe", 1209, kAll, At(10)),
    Field("DVBT 4KHz offset", K::List, "o4ko", 1210, kAll, At(11)),
    Field(Cap("Network name", 1116, kX), K::Edit, "gnet", 1117, kX, At(12)),
    Field("Preset transmit mode", K::List, "otxm", 1227, kAll, At(13)),
    Field("Output power", K::List, "ohls", 1205, kKO, At(14)),
    Field("Output power", K::List, "ohls", 1139, kX, At(14)),
    Field("Output attenuation high (dB)", K::Edit, "olev", 1300, kAll, At(15)),
    Field("Output attenuation low (dB)", K::Edit, "ollv", 1302, kAll, At(16)),
    Field(Cap("Output attenuation preset", 1134, kX), K::Edit, "oplv", 1137, kX, At(17)),
};

// "Audio". On K610 the group boxes "Encoder 1" and "Encoder 2" frame a left
// and a right column (columns 0 and 1 of the first three rows) with the
// controls of each encoder. Of the two rate lists in one place only the one
// that fits the encoder's layer is shown.
constexpr Entry kAudio[] = {
    {Cap("Encoder 1", kX), K::GroupBox, nullptr, 1087, kX, {Area::Grid, 0, 0, 3}, false, 0},
    {Cap("Encoder 2", kX), K::GroupBox, nullptr, 1088, kX, {Area::Grid, 0, 1, 3}, false, 0},
    Field("Audio encoder", K::List, "aenc", 1213, kKO, At(0)),
    Field("Audio encoder", K::List, "a1en", 1083, kX, At(0, 0)),
    Field("Audio encoder", K::List, "a2en", 1084, kX, At(0, 1)),
    // The caption stays on K610, where it stands over the first encoder's
    // source list.
    Field(Cap("Audio source", 1061, kKX), K::List, "asrc", 1062, kK, At(1)),
    Field("Audio source", K::List, "a1in", 1085, kX, At(1, 0)),
    Field("Audio source", K::List, "a2in", 1086, kX, At(1, 1)),
    Field("MPEG Audio rate", K::List, "ampr", 1233, kKO, At(2), true),
    Field("MPEG Audio rate", K::List, "ampr", 1234, kKO, At(2), true),
    Field("MPEG Audio rate", K::List, "a1br", 1089, kX, At(2, 0), true),
    Field("MPEG Audio rate", K::List, "a1br", 1090, kX, At(2, 0), true),
    Field("MPEG Audio rate", K::List, "a2br", 1091, kX, At(2, 1), true),
    Field("MPEG Audio rate", K::List, "a2br", 1092, kX, At(2, 1), true),
    Field("Audio input level", K::List, "alev", 1214, kKO, At(3)),
    Field("Audio input level", K::List, "alev", 1246, kX, At(3)),
    Field(Cap("Second stereo audio pair", 1071, kK), K::List, "aen2", 1072, kK, At(4)),
    Own("Mic input bias", K::Check, "abmb", 1123, kX, At(5)),
};

// "Video": one arrangement for K240 and the other variant, one for K610, in
// the same rows. On K610 captions 1075 and 1076 read "Encoding mode" and
// "Frame rate".
constexpr Entry kVideo[] = {
    // K240 and the other variant.
    Field("Video input", K::List, "vinp", 1212, kKO, At(0)),
    Field(Cap("Resolution", 1077, kKO), K::List, "ehor", 1221, kKO, At(1)),
    Field(Cap("MPEG mode", 1078, kKO), K::List, "eenc", 1222, kKO, At(2)),
    Field(Cap("MPEG4 encoding mode", 1075, kKO), K::List, "ecmd", 1223, kKO, At(3)),
    Field(Cap("MPEG4 frame rate", 1076, kKO), K::List, "efrm", 1224, kKO, At(4)),
    Field("Video bitrate (Mbit/s)", K::Edit, "evid", 1304, kKO, At(5)),
    Own("Manual", K::Check, "evbr", 1042, kKO, At(5, 1)),
    Field("Video sharpness", K::List, "esha", 1225, kKO, At(6)),
    Field(Cap("Video profile", 1057, kK), K::List, "epro", 1058, kK, At(7)),
    Field(Cap("Mux bitrate (Mbit/s)", 1073, kK), K::Edit, "mbit", 1074, kK, At(8)),
    // K610.
    Field("Video input", K::List, "vinp", 1236, kX, At(0)),
    Field(Cap("MPEG mode", 1142, kX), K::List, "eenc", 1247, kX, At(1)),
    Field(Cap("HD input format", 1079, kX), K::List, "vhdf", 1237, kX, At(2)),
    Field(Cap("Sub horizontal resolution", 1080, kX), K::List, "ehor", 1238, kX, At(3)),
    Field(Cap("Encoding mode", 1075, kX), K::List, "ecmd", 1240, kX, At(4)),
    Field(Cap("Frame rate", 1076, kX), K::List, "efrm", 1224, kX, At(5)),
    Field(Cap("Sub vertical resolution", 1081, kX), K::List, "ever", 1239, kX, At(6)),
    Field(Cap("GOP length", 1100, kX), K::List, "eper", 1243, kX, At(7)),
    Field(Cap("DTS delay (ms)", 1101, kX), K::Edit, "edts", 1102, kX, At(8)),
    Own("Use as total PTS offset", K::Check, "epts", 1124, kX, At(8, 1)),
    Field("Video bitrate (Mbit/s)", K::Edit, "evid", 1304, kX, At(9)),
    Own("Manual", K::Check, "evbr", 1042, kX, At(9, 1)),
    Field("Video sharpness", K::List, "esha", 1241, kX, At(10)),
    Field(Cap("Mux bitrate (Mbit/s)", 1073, kX), K::Edit, "mbit", 1074, kX, At(11)),
    Field(Cap("Pattern generator", 1135, kX), K::List, "vpgn", 1138, kX, At(12)),
};

// "Unit parameters".
constexpr Entry kUnitParameters[] = {
    Field("Unit name", K::Edit, "gnam", 1303, kAll, At(0)),
    Field("Sleep mode", K::List, "gsle", 1215, kAll, At(1)),
    Field("Data", K::List, "dinp", 1216, kO, At(2)),
    Field("Data", K::List, "dinp", 1245, kKX, At(2)),
    Field("Data baud rate", K::List, "dbau", 1217, kAll, At(3)),
    Field(Cap("Data packet length", 1118, kX), K::List, "dpln", 1119, kX, At(4)),
    Field(Cap("Transport stream control", 1063, kK), K::List, "gosw", 1064, kK, At(4)),
    Field("Chaining input", K::List, "cinp", 1218, kAll, At(5)),
    Field("Chain no.", K::List, "ccha", 1219, kAll, At(6)),
    Field("Chaining output", K::List, "cout", 1220, kAll, At(7)),
    Field("Current config", K::Edit, "glod", 1306, kAll, At(8)),
    Field("Scrambling", K::List, "zscr", 1211, kAll, At(9)),
    Field("Heartbeat enable", K::List, "gblo", 1226, kAll, At(10)),
    Field("Metadata", K::List, "meta", 1235, kAll, At(11)),
    Field(Cap("On Screen Display", 1099, kX), K::List, "gosd", 1242, kX, At(12)),
    Field(Cap("PMT PID", 1103, kX), K::List, "pmpd", 1109, kX, At(13)),
    Field(Cap("PCR PID", 1104, kX), K::List, "pcpd", 1110, kX, At(14)),
    Field(Cap("Video PID", 1105, kX), K::List, "pvid", 1111, kX, At(15)),
    Field(Cap("Audio 1 PID", 1106, kX), K::List, "pau1", 1112, kX, At(16)),
    Field(Cap("Audio 2 PID", 1107, kX), K::List, "pau2", 1113, kX, At(17)),
    Field(Cap("Data PID", 1108, kX), K::List, "pdat", 1114, kX, At(18)),
};

// The satellite modulator window. Only a K240 opens it, but its layout does
// not depend on the variant.
constexpr Entry kSatelliteModulator[] = {
    Field("Carrier frequency (MHz)", K::Edit, "scar", 1351, kAll, At(0)),
    Field("Symbol rate (ksymbols/s)", K::Edit, "ssym", 1353, kAll, At(1)),
    Field("Spectrum polarity", K::List, "spol", 1250, kAll, At(2)),
    Field("Roll off", K::Edit, "srol", 1352, kAll, At(3)),
    Field("Modulation", K::List, "smod", 1251, kAll, At(4)),
    Field("FEC family", K::List, "scod", 1252, kAll, At(5)),
    Field("FEC rate", K::List, "sfec", 1253, kAll, At(6)),
    Field("Signal level (dBm)", K::Edit, "slev", 1354, kAll, At(7)),
    Field("Output enable", K::List, "ssig", 1254, kAll, At(8)),
    Field("Carrier wave tone", K::List, "scwt", 1255, kAll, At(9)),
    Field("Modulator version", K::Edit, "sver", 1355, kAll, At(10)),
    Field("Modulator temperature (\u00B0C)", K::Edit, "stmp", 1350, kAll, At(11)),
    Own("Enable descriptors", K::Check, "sdel", 1380, kAll, At(12)),
    Field("Satellite frequency (MHz)", K::Edit, "sfre", 1356, kAll, At(13)),
    Field("Orbital position (\u00B0)", K::Edit, "sorb", 1357, kAll, At(14)),
    Field("West-East flag", K::List, "swef", 1256, kAll, At(15)),
    Field("Polarization", K::List, "spla", 1257, kAll, At(16)),
    Own("Apply", K::PushButton, nullptr, 1011, kAll, In(Area::Below, 0, 0)),
    Own("Refresh", K::PushButton, nullptr, 1012, kAll, In(Area::Below, 0, 1)),
};

// The Advanced options window's own controls: the tabs fill its upper part,
// the two buttons stand below them.
constexpr Entry kAdvancedWindow[] = {
    {kNoCaption, K::TabControl, nullptr, 1000, kAll, At(0), false, 0},
    Own("Apply", K::PushButton, nullptr, 1011, kAll, In(Area::Below, 0, 0)),
    Own("Refresh", K::PushButton, nullptr, 1012, kAll, In(Area::Below, 0, 1)),
};

const std::array<PageLayout, 7> kPages = {{
    {PageId::MainSettings, WindowId::MainSettings, 104, "", kMainSettings},
    {PageId::UnitInformation, WindowId::AdvancedOptions, 124, "Unit information", kUnitInformation},
    {PageId::Modulation, WindowId::AdvancedOptions, 125, "Modulation", kModulation},
    {PageId::Audio, WindowId::AdvancedOptions, 126, "Audio", kAudio},
    {PageId::Video, WindowId::AdvancedOptions, 127, "Video", kVideo},
    {PageId::UnitParameters, WindowId::AdvancedOptions, 142, "Unit parameters", kUnitParameters},
    {PageId::SatelliteModulator, WindowId::SatelliteModulator, 122, "Satellite modulator", kSatelliteModulator},
}};

constexpr PageId kMainPages[] = {PageId::MainSettings};
constexpr PageId kAdvancedPages[] = {PageId::UnitInformation, PageId::Modulation, PageId::Audio, PageId::Video,
                                     PageId::UnitParameters};
constexpr PageId kSatmodPages[] = {PageId::SatelliteModulator};

const std::array<WindowLayout, 3> kWindows = {{
    {WindowId::MainSettings, 104, "", {}, kMainPages},
    {WindowId::AdvancedOptions, 116, "Advanced options", kAdvancedWindow, kAdvancedPages},
    {WindowId::SatelliteModulator, 122, "Satellite modulator", {}, kSatmodPages},
}};

}  // namespace

std::span<const PageLayout> AllPages() { return kPages; }

const PageLayout& Layout(PageId page) {
  for (const auto& p : kPages)
    if (p.id == page) return p;
  throw std::out_of_range("no such page");
}

std::span<const WindowLayout> AllWindows() { return kWindows; }

const WindowLayout& Window(WindowId window) {
  for (const auto& w : kWindows)
    if (w.id == window) return w;
  throw std::out_of_range("no such window");
}

std::span<const params::RowSpec> TableFor(PageId page) {
  return page == PageId::SatelliteModulator ? params::SatmodTableSpec() : params::MainTableSpec();
}

std::vector<const Entry*> EntriesFor(PageId page, Variant variant) {
  std::vector<const Entry*> out;
  for (const auto& e : Layout(page).entries)
    if (e.ControlOn(variant) || e.CaptionOn(variant)) out.push_back(&e);
  return out;
}

std::vector<const Entry*> ControlsFor(PageId page, Variant variant) {
  std::vector<const Entry*> out;
  for (const auto& e : Layout(page).entries)
    if (e.ControlOn(variant)) out.push_back(&e);
  return out;
}

const Entry* FindControl(PageId page, int control, Variant variant) {
  for (const auto& e : Layout(page).entries)
    if (e.control == control && e.ControlOn(variant)) return &e;
  return nullptr;
}

std::vector<int> VisibleIds(PageId page, Variant variant) {
  std::vector<int> out;
  for (const auto& e : Layout(page).entries) {
    if (e.caption.id != 0 && e.CaptionOn(variant)) out.push_back(e.caption.id);
    if (e.ControlOn(variant)) out.push_back(e.control);
  }
  return out;
}

std::string_view CaptionText(PageId page, int captionId, Variant variant) {
  for (const auto& e : Layout(page).entries)
    if (captionId != 0 && e.caption.id == captionId && e.CaptionOn(variant)) return e.caption.text;
  return {};
}

}  // namespace vecta::pages
