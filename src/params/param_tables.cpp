// The two descriptor tables, row for row in table order, and their option
// lists. Refresh, apply and the files walk the main table top to bottom, and
// the page rules rely on eenc and ecmd coming before ehor.
#include <cstdio>

#include "params/descriptor.h"

namespace vecta::params {
namespace {

const OptionList kOffOn = {"Off", "On"};
const OptionList kOfecOptions = {"/empty/", "2/3", "1/3"};
const OptionList kOguaOptions = {"/empty/", "1/16", "1/8"};
const OptionList kOmodOptions = {"QPSK", "16QAM", "BPSK", "8PSK"};
const OptionList kOwidOptions = {"6MHz", "7MHz", "8MHz", "2.5MHz", "1.25MHz", "625kHz"};
const OptionList kLowHighOptions = {"Low", "High"};
const OptionList kK610PowerOptions = {"Low", "High", "10mW", "50mW", "100mW", "200mW", "500mW"};
const OptionList kOdfeOptions = {"1/2", "2/3", "3/4", "5/6", "7/8"};
const OptionList kOdguOptions = {"1/32", "1/16", "1/8", "1/4"};
const OptionList kOdmoOptions = {"QPSK", "16QAM", "64QAM"};
const OptionList kNormalInverted = {"Normal", "Inverted"};
const OptionList kO4koOptions = {"None", "+4KHz", "-4KHz"};
const OptionList kZscrOptions = {"Off", "ABS", "/empty/", "/empty/", "AES128", "/empty/", "AES256", "/empty/", "BCrypt128", "/empty/", "BCrypt256"};
const OptionList kVideoInputOptions = {"Off", "/empty/", "PAL", "NTSC", "NTSC no ped", "S-Video PAL", "S-Video NTSC", "S-Video NTSC no ped", "SDI PAL", "SDI NTSC"};
const OptionList kK610VideoInputOptions = {"Off", "/empty/", "Comp PAL", "Comp NTSC", "Comp NTSC (No Pedestal)", "Comp PAL S-vid", "Comp NTSC S-vid", "Comp NTSC S-Vid (No Pedestal)", "SDI PAL", "SDI NTSC", "HDMI PAL", "HDMI NTSC", "HD-SDI", "HD HDMI"};
const OptionList kAencOptions = {"Off", "32kHz 12bit Stereo", "32kHz 12bit Mono", "32kHz 8bit Stereo", "32kHz 8bit Mono", "16kHz 8bit Stereo", "16kHz 8bit Mono", "8kHz 8bit Stereo", "8kHz 8bit Mono", "MPEG Layer 1 32KHz Stereo", "MPEG Layer 1 32KHz Mono", "MPEG Layer 1 48KHz Stereo", "MPEG Layer 1 48KHz Mono", "MPEG Layer 2 32kHz Stereo", "MPEG Layer 2 32kHz Mono", "MPEG Layer 2 48kHz Stereo", "MPEG Layer 2 48kHz Mono"};
const OptionList kAudioEncoderOptions = {"Off", "MPEG Layer 1 48kHz Stereo", "MPEG Layer 1 48kHz Mono", "MPEG Layer 2 48kHz Stereo", "MPEG Layer 2 48kHz Mono"};
const OptionList kLayer1RateOptions = {"/empty/", "32kbits/s", "64kbits/s", "96kbits/s", "128kbits/s", "160kbits/s", "192kbits/s", "224kbits/s", "256kbits/s", "288kbits/s", "320kbits/s", "352kbits/s", "384kbits/s", "416kbits/s", "448kbits/s"};
const OptionList kLayer2RateOptions = {"/empty/", "32kbits/s", "48kbits/s", "56kbits/s", "64kbits/s", "80kbits/s", "96kbits/s", "112kbits/s", "128kbits/s", "160kbits/s", "192kbits/s", "224kbits/s", "256kbits/s", "320kbits/s", "384kbits/s"};
const OptionList kAudioLevelOptions = {"0dB", "12dB", "24dB", "36dB", "48dB"};
const OptionList kK610AudioLevelOptions = {"0dB", "12dB", "24dB", "36dB", "48dB", "60dB", "72dB", "84dB", "96dB", "108dB", "120dB"};
const OptionList kAsrcOptions = {"Analogue", "Digital", "Embedded"};
const OptionList kAudioInputOptions = {"Digital embedded", "Analogue"};
const OptionList kDisabledEnabled = {"Disabled", "Enabled"};
const OptionList kNoYes = {"No", "Yes"};
const OptionList kDataInputOptions = {"Off", "On", "On even parity", "On odd parity"};
const OptionList kK240DataInputOptions = {"Off", "Mode 1 8b No Parity", "Mode 1 8b Even Parity", "Mode 1 8b Odd Parity", "/empty/", "/empty/", "/empty/", "/empty/", "/empty/", "/empty/", "/empty/", "/empty/", "/empty/", "/empty/", "/empty/", "/empty/", "/empty/", "Mode 2 8b No Parity", "Mode 2 8b Even Parity", "Mode 2 8b Odd Parity", "/empty/", "Mode 2 7b No Parity", "Mode 2 7b Even Parity", "Mode 2 7b Odd Parity"};
const OptionList kDbauOptions = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
const OptionList kCinpOptions = {"Off", "On", "Relay"};
const OptionList kCchaOptions = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
const OptionList kGoswOptions = {"ASI in, ASI out", "/empty/", "/empty/", "/empty/", "Chaining in, ASI out", "/empty/", "/empty/", "/empty/", "ASI in, Chaining out", "/empty/", "/empty/", "/empty/", "Chaining in, Chaining out", "/empty/", "/empty/", "/empty/"};
const OptionList kVhdfOptions = {"720p 50Hz", "720p 59.94Hz", "720p 60Hz", "1080i 50Hz", "1080i 59.94Hz", "1080i 60Hz", "1080p 23.976Hz", "1080p 24Hz", "1080p 25Hz", "1080p 29.97Hz", "1080p 30Hz", "1080psf 23.976Hz", "1080psf 24Hz", "1080psf 25Hz", "1080psf 29.97Hz", "1080psf 30Hz"};
const OptionList kEncoderOptions = {"MPEG2", "MPEG4"};
const OptionList kK610EncoderOptions = {"/empty/", "MPEG4 ASP", "MPEG4 AVC H.264"};
const OptionList kEncoderModeOptions = {"Low delay interlaced", "Standard delay interlaced", "Low delay progressive", "Standard delay progressive"};
const OptionList kK610HorizontalOptions = {"full", "3/4", "2/3", "1/2", "1/4"};
const OptionList kVerticalOptions = {"full", "1/2", "1/4"};
const OptionList kHorizontalOptions = {"704", "528", "480", "352"};
const OptionList kEfrmOptions = {"Full", "1/2", "1/4", "1/8", "1/24"};
const OptionList kSharpnessOptions = {"Normal", "Sharp"};
const OptionList kK610SharpnessOptions = {"Normal", "Sharp", "De-blocking filter disabled"};
const OptionList kEproOptions = {"4:2:0", "4:2:2"};
const OptionList kCstaOptions = {"Not active", "Active", "Overflow"};
const OptionList kGosdOptions = {"Off", "Video source", "Service name"};
const OptionList kBandOptions = {"Narrowband", "DVBT"};
const OptionList kAudioSourceOptions = {"Off", "Embedded", "Analogue"};
const OptionList kOtxmOptions = {"None selected", "Short range", "Medium range", "Long range", "Ultra long range", "Extra long range 1", "Extra long range 2"};
const OptionList kVpgnOptions = {"Auto Pattern", "Auto Black Screen", "Moving Pattern", "Static Pattern", "A/V Sync", "Disabled"};
const OptionList kSmodOptions = {"QPSK", "8PSK", "16QAM", "16APSK", "32APSK"};
const OptionList kScodOptions = {"DVBS", "DSNG", "Intelsat", "DVBS2N", "DVBS2S"};
const OptionList kSfecOptions = {"1/4", "1/3", "2/5", "1/2", "3/5", "2/3", "3/4", "4/5", "5/6", "7/8", "8/9", "9/10", "ACM"};
const OptionList kSwefOptions = {"West", "East"};
const OptionList kSplaOptions = {"Linear horizontal", "Linear vertical", "Circular left", "Circular right"};

// Generated lists: texts and positions as the unit numbers them.
OptionList MakePidOptions() {
  OptionList l{"Default"};
  l.reserve(8191);
  char text[8];
  for (int n = 1; n <= 8190; ++n) {
    std::snprintf(text, sizeof text, "0x%04X", n);
    l.emplace_back(text);
  }
  return l;
}

OptionList MakePacketLengthOptions() {
  OptionList l{"Default", "1 byte"};
  for (int n = 2; n <= 176; ++n) l.push_back(std::to_string(n) + " bytes");
  return l;
}

OptionList MakeGopOptions() {
  OptionList l{"Default", "Intra only"};
  for (int n = 2; n <= 64; ++n) l.push_back(std::to_string(n) + " frames");
  return l;
}

}  // namespace

const OptionList& PidOptions() {
  static const OptionList l = MakePidOptions();
  return l;
}
const OptionList& PacketLengthOptions() {
  static const OptionList l = MakePacketLengthOptions();
  return l;
}
const OptionList& GopOptions() {
  static const OptionList l = MakeGopOptions();
  return l;
}

std::span<const RowSpec> MainTableSpec() {
  static const RowSpec rows[] = {
    {"oout", 1200, true, Kind::List, 0x1000, &kOffOn},
    {"ofec", 1201, true, Kind::List, 0x0, &kOfecOptions},
    {"ogua", 1202, true, Kind::List, 0x0, &kOguaOptions},
    {"omod", 1203, true, Kind::List, 0x0, &kOmodOptions},
    {"ofre", 1301, true, Kind::Text, 0x10, nullptr},
    {"owid", 1204, true, Kind::List, 0x0, &kOwidOptions},
    {"ohls", 1205, true, Kind::List, 0x2000000, &kLowHighOptions},
    {"ohls", 1139, true, Kind::List, 0x1000000, &kK610PowerOptions},
    {"olev", 1300, true, Kind::Text, 0x400, nullptr},
    {"ollv", 1302, true, Kind::Text, 0x400, nullptr},
    {"odfe", 1206, true, Kind::List, 0x0, &kOdfeOptions},
    {"odgu", 1207, true, Kind::List, 0x0, &kOdguOptions},
    {"odmo", 1208, true, Kind::List, 0x0, &kOdmoOptions},
    {"ospe", 1209, true, Kind::List, 0x0, &kNormalInverted},
    {"o4ko", 1210, true, Kind::List, 0x0, &kO4koOptions},
    {"zscr", 1211, true, Kind::List, 0x0, &kZscrOptions},
    {"vinp", 1212, true, Kind::List, 0x2000000, &kVideoInputOptions},
    {"vinp", 1236, true, Kind::List, 0x1000000, &kK610VideoInputOptions},
    {"aenc", 1213, true, Kind::List, 0x2000000, &kAencOptions},
    {"a1en", 1083, true, Kind::List, 0x1000000, &kAudioEncoderOptions},
    {"a2en", 1084, true, Kind::List, 0x1000000, &kAudioEncoderOptions},
    {"ampr", 1233, true, Kind::List, 0x2080000, &kLayer1RateOptions},
    {"ampr", 1234, true, Kind::List, 0x2100000, &kLayer2RateOptions},
    {"a1br", 1089, true, Kind::List, 0x1080000, &kLayer1RateOptions},
    {"a1br", 1090, true, Kind::List, 0x1100000, &kLayer2RateOptions},
    {"a2br", 1091, true, Kind::List, 0x1080000, &kLayer1RateOptions},
    {"a2br", 1092, true, Kind::List, 0x1100000, &kLayer2RateOptions},
    {"alev", 1214, true, Kind::List, 0x2000000, &kAudioLevelOptions},
    {"alev", 1246, true, Kind::List, 0x1000000, &kK610AudioLevelOptions},
    {"asrc", 1062, true, Kind::List, 0x2200000, &kAsrcOptions},
    {"a1in", 1085, true, Kind::List, 0x1000000, &kAudioInputOptions},
    {"a2in", 1086, true, Kind::List, 0x1000000, &kAudioInputOptions},
    {"aen2", 1072, true, Kind::List, 0x2200000, &kDisabledEnabled},
    {"abmb", 1123, true, Kind::Check, 0x1000000, nullptr},
    {"gnam", 1303, true, Kind::Text, 0x0, nullptr},
    {"gsle", 1215, true, Kind::List, 0x0, &kNoYes},
    {"dinp", 1216, true, Kind::List, 0x400000, &kDataInputOptions},
    {"dinp", 1245, true, Kind::List, 0x200000, &kK240DataInputOptions},
    {"dbau", 1217, true, Kind::List, 0x0, &kDbauOptions},
    {"dpln", 1119, true, Kind::List, 0x1000000, &PacketLengthOptions()},
    {"cinp", 1218, true, Kind::List, 0x0, &kCinpOptions},
    {"ccha", 1219, true, Kind::List, 0x0, &kCchaOptions},
    {"cout", 1220, true, Kind::List, 0x0, &kOffOn},
    {"gosw", 1064, true, Kind::List, 0x200000, &kGoswOptions},
    {"evid", 1304, false, Kind::Text, 0x2000, nullptr},
    {"evbr", 1042, true, Kind::Check, 0x2200, nullptr},
    {"vhdf", 1237, true, Kind::List, 0x1000000, &kVhdfOptions},
    {"eenc", 1222, true, Kind::List, 0x2000080, &kEncoderOptions},
    {"eenc", 1247, true, Kind::List, 0x1000080, &kK610EncoderOptions},
    {"ecmd", 1223, true, Kind::List, 0x2000000, &kEncoderModeOptions},
    {"ecmd", 1240, true, Kind::List, 0x1000000, &kEncoderModeOptions},
    {"ehor", 1238, true, Kind::List, 0x1000000, &kK610HorizontalOptions},
    {"ever", 1239, true, Kind::List, 0x1000000, &kVerticalOptions},
    {"ehor", 1221, true, Kind::List, 0x2000040, &kHorizontalOptions},
    {"efrm", 1224, true, Kind::List, 0x0, &kEfrmOptions},
    {"esha", 1225, true, Kind::List, 0x2000000, &kSharpnessOptions},
    {"esha", 1241, true, Kind::List, 0x1000000, &kK610SharpnessOptions},
    {"eper", 1243, true, Kind::List, 0x1000000, &GopOptions()},
    {"edts", 1102, true, Kind::Text, 0x1000004, nullptr},
    {"epts", 1124, true, Kind::Check, 0x1000000, nullptr},
    {"epro", 1058, true, Kind::List, 0x2200000, &kEproOptions},
    {"gdna", 1305, true, Kind::Text, 0x2000000, nullptr},
    {"gnet", 1117, true, Kind::Text, 0x1000000, nullptr},
    {"gblo", 1226, true, Kind::List, 0x0, &kOffOn},
    {"glod", 1306, true, Kind::Text, 0x4, nullptr},
    {"vloc", 1308, false, Kind::StatusList, 0x1000, &kNoYes},
    {"gver", 1309, false, Kind::Text, 0x4000, nullptr},
    {"gfpg", 1310, false, Kind::Text, 0x4, nullptr},
    {"gser", 1307, false, Kind::Text, 0x0, nullptr},
    {"csta", 1311, false, Kind::StatusList, 0x0, &kCstaOptions},
    {"gtmp", 1066, false, Kind::Text, 0x4, nullptr},
    {"gvnt", 1068, false, Kind::Text, 0x8000, nullptr},
    {"gvax", 1070, false, Kind::Text, 0x8000, nullptr},
    {"meta", 1235, true, Kind::List, 0x0, &kOffOn},
    {"gosd", 1242, true, Kind::List, 0x1000000, &kGosdOptions},
    {"pmpd", 1109, true, Kind::List, 0x1000000, &PidOptions()},
    {"pcpd", 1110, true, Kind::List, 0x1000000, &PidOptions()},
    {"pvid", 1111, true, Kind::List, 0x1000000, &PidOptions()},
    {"pau1", 1112, true, Kind::List, 0x1000000, &PidOptions()},
    {"pau2", 1113, true, Kind::List, 0x1000000, &PidOptions()},
    {"pdat", 1114, true, Kind::List, 0x1000000, &PidOptions()},
    {"mbit", 1074, true, Kind::Text, 0xA00000, nullptr},
    {"sver", 1355, false, Kind::Text, 0x0, nullptr},
    {"0000", 1230, true, Kind::List, 0x800, &kBandOptions},
    {"0003", 1231, true, Kind::List, 0x2000800, &kOffOn},
    {"0004", 1093, true, Kind::List, 0x1000800, &kAudioSourceOptions},
    {"0005", 1094, true, Kind::List, 0x1000800, &kAudioSourceOptions},
    {"otxm", 1227, true, Kind::List, 0x0, &kOtxmOptions},
    {"gvba", 1136, false, Kind::Text, 0x1000010, nullptr},
    {"oplv", 1137, true, Kind::Text, 0x1000400, nullptr},
    {"vpgn", 1138, true, Kind::List, 0x1000000, &kVpgnOptions},
  };
  return rows;
}

std::span<const RowSpec> SatmodTableSpec() {
  static const RowSpec rows[] = {
    {"stmp", 1350, false, Kind::Text, 0x10000, nullptr},
    {"scar", 1351, true, Kind::Text, 0x4, nullptr},
    {"spol", 1250, true, Kind::List, 0x0, &kNormalInverted},
    {"srol", 1352, true, Kind::Text, 0x40000, nullptr},
    {"ssym", 1353, true, Kind::Text, 0x4, nullptr},
    {"smod", 1251, true, Kind::List, 0x0, &kSmodOptions},
    {"scod", 1252, true, Kind::List, 0x0, &kScodOptions},
    {"sfec", 1253, true, Kind::List, 0x0, &kSfecOptions},
    {"slev", 1354, true, Kind::Text, 0x20000, nullptr},
    {"ssig", 1254, true, Kind::List, 0x0, &kOffOn},
    {"scwt", 1255, true, Kind::List, 0x0, &kOffOn},
    {"sver", 1355, false, Kind::Text, 0x0, nullptr},
    {"sdel", 1380, true, Kind::Check, 0x0, nullptr},
    {"sfre", 1356, true, Kind::Text, 0x0, nullptr},
    {"sorb", 1357, true, Kind::Text, 0x0, nullptr},
    {"swef", 1256, true, Kind::List, 0x0, &kSwefOptions},
    {"spla", 1257, true, Kind::List, 0x0, &kSplaOptions},
  };
  return rows;
}

}  // namespace vecta::params
