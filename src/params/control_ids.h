// The control ids of the settings windows and the mnemonics of the derived
// rows, by name.
//
// The descriptor tables bind every mnemonic to a control by id, and refresh,
// apply, the config files, the page rules and the windows all find their
// controls by these ids; the page layouts place them. A name says what the
// control shows (its caption, or its mnemonic where it has none). Where a
// parameter has one control on K610 and another on K240 and the other
// variant, the K610 one carries the "K610" prefix. A caption with an id of
// its own is named after its control, with "Caption".
#pragma once

#include <string_view>

namespace vecta::params {
namespace ids {
// clang-format off

// ---- Main settings page
inline constexpr int kOutputFrequency = 1301;           // ofre; also on the Modulation page
inline constexpr int kBandwidthMode = 1230;             // derived row "0000"
inline constexpr int kPresetTransmitModeCaption = 1097;
inline constexpr int kPresetTransmitMode = 1227;        // otxm; also on the Modulation page
inline constexpr int kVideoInput = 1212;                // vinp, K240 / other; also on the Video page
inline constexpr int kK610VideoInput = 1236;            // vinp; also on the Video page
inline constexpr int kHdInputFormat = 1237;             // vhdf, K610; also on the Video page
inline constexpr int kAudioCaption = 1095;              // "Audio", on K610 "Audio encoder 1"
inline constexpr int kAudio = 1231;                     // derived row "0003", K240 / other
inline constexpr int kAudioEncoder1Source = 1093;       // derived row "0004", K610 "Audio encoder 1"
inline constexpr int kAudioEncoder2Caption = 1096;
inline constexpr int kAudioEncoder2Source = 1094;       // derived row "0005", K610 "Audio encoder 2"
inline constexpr int kScrambling = 1211;                // zscr; also on the Unit parameters page

// Buttons of the main settings page.
inline constexpr int kWriteKey = 1028;  // the small button beside "Scrambling"
inline constexpr int kMainApply = 1030;
inline constexpr int kMainRefresh = 1040;
inline constexpr int kSaveConfigFile = 1004;
inline constexpr int kLoadConfigFile = 1005;
inline constexpr int kAdvanced = 1003;
inline constexpr int kSatmod = 1043;  // "Satellite modulator"

// ---- "Unit information" page
inline constexpr int kVideoLocked = 1308;     // vloc
inline constexpr int kSoftwareVersion = 1309; // gver
inline constexpr int kFpgaVersion = 1310;     // gfpg
inline constexpr int kSerialNumber = 1307;    // gser
inline constexpr int kChaining = 1311;        // csta
inline constexpr int kFpgaCoreTempCaption = 1065;
inline constexpr int kFpgaCoreTemp = 1066;    // gtmp
inline constexpr int kFpgaCoreVoltageCaption = 1067;
inline constexpr int kFpgaCoreVoltage = 1068; // gvnt
inline constexpr int kFpgaAuxVoltageCaption = 1069;
inline constexpr int kFpgaAuxVoltage = 1070;  // gvax
inline constexpr int kBatteryVoltageCaption = 1133;
inline constexpr int kBatteryVoltage = 1136;  // gvba

// ---- "Modulation" page (also kOutputFrequency and kPresetTransmitMode)
inline constexpr int kModulationBandwidth = 1204;     // owid
inline constexpr int kModulationOutput = 1200;        // oout
inline constexpr int kNarrowbandFec = 1201;           // ofec
inline constexpr int kNarrowbandGuardInterval = 1202; // ogua
inline constexpr int kNarrowbandModulation = 1203;    // omod
inline constexpr int kDvbtServiceNameCaption = 1143;
inline constexpr int kDvbtServiceName = 1305;         // gdna
inline constexpr int kDvbtFecRate = 1206;             // odfe
inline constexpr int kDvbtGuardInterval = 1207;       // odgu
inline constexpr int kDvbtModulation = 1208;          // odmo
inline constexpr int kDvbtSpectrumInversion = 1209;   // ospe
inline constexpr int kDvbt4KhzOffset = 1210;          // o4ko
inline constexpr int kNetworkNameCaption = 1116;
inline constexpr int kNetworkName = 1117;             // gnet
inline constexpr int kOutputPower = 1205;             // ohls, K240 / other
inline constexpr int kK610OutputPower = 1139;         // ohls
inline constexpr int kOutputAttenuationHigh = 1300;   // olev
inline constexpr int kOutputAttenuationLow = 1302;    // ollv
inline constexpr int kOutputAttenuationPresetCaption = 1134;
inline constexpr int kOutputAttenuationPreset = 1137; // oplv

// ---- "Audio" page
inline constexpr int kEncoder1Group = 1087;  // K610 "Encoder 1" group box
inline constexpr int kEncoder2Group = 1088;  // K610 "Encoder 2" group box
inline constexpr int kAudioEncoder = 1213;   // aenc, K240 / other
inline constexpr int kEncoder1AudioEncoder = 1083;  // a1en
inline constexpr int kEncoder2AudioEncoder = 1084;  // a2en
inline constexpr int kAudioSourceCaption = 1061;
inline constexpr int kAudioSource = 1062;           // asrc
inline constexpr int kEncoder1AudioSource = 1085;   // a1in
inline constexpr int kEncoder2AudioSource = 1086;   // a2in
inline constexpr int kLayer1AudioRate = 1233;       // ampr, Layer 1 rates
inline constexpr int kLayer2AudioRate = 1234;       // ampr, Layer 2 rates
inline constexpr int kEncoder1Layer1Rate = 1089;    // a1br, Layer 1 rates
inline constexpr int kEncoder1Layer2Rate = 1090;    // a1br, Layer 2 rates
inline constexpr int kEncoder2Layer1Rate = 1091;    // a2br, Layer 1 rates
inline constexpr int kEncoder2Layer2Rate = 1092;    // a2br, Layer 2 rates
inline constexpr int kAudioInputLevel = 1214;       // alev, K240 / other
inline constexpr int kK610AudioInputLevel = 1246;   // alev
inline constexpr int kSecondStereoPairCaption = 1071;
inline constexpr int kSecondStereoPair = 1072;      // aen2
inline constexpr int kMicInputBias = 1123;          // abmb

// ---- "Video" page (also kVideoInput, kK610VideoInput and kHdInputFormat)
inline constexpr int kHdInputFormatCaption = 1079;
inline constexpr int kResolutionCaption = 1077;
inline constexpr int kResolution = 1221;            // ehor, K240 / other
inline constexpr int kMpegModeCaption = 1078;
inline constexpr int kMpegMode = 1222;              // eenc, K240 / other
inline constexpr int kK610MpegModeCaption = 1142;
inline constexpr int kK610MpegMode = 1247;          // eenc
inline constexpr int kEncodingModeCaption = 1075;   // "MPEG4 encoding mode", on K610 "Encoding mode"
inline constexpr int kMpeg4EncodingMode = 1223;     // ecmd, K240 / other
inline constexpr int kK610EncodingMode = 1240;      // ecmd
inline constexpr int kFrameRateCaption = 1076;      // "MPEG4 frame rate", on K610 "Frame rate"
inline constexpr int kFrameRate = 1224;             // efrm
inline constexpr int kVideoBitrate = 1304;          // evid
inline constexpr int kManual = 1042;                // evbr, the "Manual" box beside the bitrate
inline constexpr int kVideoSharpness = 1225;        // esha, K240 / other
inline constexpr int kK610VideoSharpness = 1241;    // esha
inline constexpr int kVideoProfileCaption = 1057;
inline constexpr int kVideoProfile = 1058;          // epro
inline constexpr int kMuxBitrateCaption = 1073;
inline constexpr int kMuxBitrate = 1074;            // mbit
inline constexpr int kSubHorizontalResolutionCaption = 1080;
inline constexpr int kSubHorizontalResolution = 1238;  // ehor, K610
inline constexpr int kSubVerticalResolutionCaption = 1081;
inline constexpr int kSubVerticalResolution = 1239;    // ever
inline constexpr int kGopLengthCaption = 1100;
inline constexpr int kGopLength = 1243;             // eper
inline constexpr int kDtsDelayCaption = 1101;
inline constexpr int kDtsDelay = 1102;              // edts
inline constexpr int kTotalPtsOffset = 1124;        // epts, "Use as total PTS offset"
inline constexpr int kPatternGeneratorCaption = 1135;
inline constexpr int kPatternGenerator = 1138;      // vpgn

// ---- "Unit parameters" page (also kScrambling)
inline constexpr int kUnitName = 1303;          // gnam
inline constexpr int kSleepMode = 1215;         // gsle
inline constexpr int kDataInput = 1216;         // dinp, the other variant's four entries
inline constexpr int kModeDataInput = 1245;     // dinp, K240 and K610: "Mode 1 ..", "Mode 2 .."
inline constexpr int kDataBaudRate = 1217;      // dbau
inline constexpr int kDataPacketLengthCaption = 1118;
inline constexpr int kDataPacketLength = 1119;  // dpln
inline constexpr int kTransportStreamControlCaption = 1063;
inline constexpr int kTransportStreamControl = 1064;  // gosw
inline constexpr int kChainingInput = 1218;     // cinp
inline constexpr int kChainNumber = 1219;       // ccha
inline constexpr int kChainingOutput = 1220;    // cout
inline constexpr int kCurrentConfig = 1306;     // glod
inline constexpr int kHeartbeatEnable = 1226;   // gblo
inline constexpr int kMetadata = 1235;          // meta
inline constexpr int kOnScreenDisplayCaption = 1099;
inline constexpr int kOnScreenDisplay = 1242;   // gosd
inline constexpr int kPmtPidCaption = 1103;
inline constexpr int kPcrPidCaption = 1104;
inline constexpr int kVideoPidCaption = 1105;
inline constexpr int kAudio1PidCaption = 1106;
inline constexpr int kAudio2PidCaption = 1107;
inline constexpr int kDataPidCaption = 1108;
inline constexpr int kPmtPid = 1109;            // pmpd
inline constexpr int kPcrPid = 1110;            // pcpd
inline constexpr int kVideoPid = 1111;          // pvid
inline constexpr int kAudio1Pid = 1112;         // pau1
inline constexpr int kAudio2Pid = 1113;         // pau2
inline constexpr int kDataPid = 1114;           // pdat

// ---- The Advanced options and satellite modulator windows' own controls
inline constexpr int kTabs = 1000;           // Advanced options page tabs
inline constexpr int kWindowApply = 1011;    // "Apply"
inline constexpr int kWindowRefresh = 1012;  // "Refresh"

// ---- Satellite modulator window
inline constexpr int kCarrierFrequency = 1351;      // scar
inline constexpr int kSymbolRate = 1353;            // ssym
inline constexpr int kSpectrumPolarity = 1250;      // spol
inline constexpr int kRollOff = 1352;               // srol
inline constexpr int kSatModulation = 1251;         // smod
inline constexpr int kFecFamily = 1252;             // scod
inline constexpr int kFecRate = 1253;               // sfec
inline constexpr int kSignalLevel = 1354;           // slev
inline constexpr int kOutputEnable = 1254;          // ssig
inline constexpr int kCarrierWaveTone = 1255;       // scwt
inline constexpr int kModulatorVersion = 1355;      // sver; also in the main table
inline constexpr int kModulatorTemperature = 1350;  // stmp
inline constexpr int kEnableDescriptors = 1380;     // sdel
inline constexpr int kSatelliteFrequency = 1356;    // sfre
inline constexpr int kOrbitalPosition = 1357;       // sorb
inline constexpr int kWestEastFlag = 1256;          // swef
inline constexpr int kPolarization = 1257;          // spla

// ---- The main window's own controls, around the main settings page (the
// lamps are in params/unit_context.h)
inline constexpr int kRs232 = 1140;            // "RS232" connection choice
inline constexpr int kEthernet = 1141;         // "Ethernet" connection choice
inline constexpr int kSerialPort = 1029;       // the serial port list
inline constexpr int kIpAddress = 1150;        // the unit's IP address
inline constexpr int kConnect = 1003;          // "Connect"
inline constexpr int kSaveConfigSet = 1001;    // "Save config set"
inline constexpr int kLoadConfigSet = 1002;    // "Load config set"
inline constexpr int kConfigTabs = 1000;       // the config tabs over the main settings page
inline constexpr int kPollingLabel = 1006;
inline constexpr int kConnectionLabel = 1031;  // the connected-to line
inline constexpr int kLogo = 1007;

// clang-format on
}  // namespace ids

// The derived rows: main-table rows computed from other rows and written as
// other rows, never read or written under their own mnemonic.
namespace derived {
inline constexpr char kBandwidthMode[] = "0000";  // "Narrowband" / "DVBT", from the owid bandwidth
inline constexpr char kAudio[] = "0003";          // "Off" / "On", from aenc
inline constexpr char kAudioEncoder1[] = "0004";  // "Off" / "Embedded" / "Analogue", from a1en and a1in
inline constexpr char kAudioEncoder2[] = "0005";  // the same from a2en and a2in

// Which derived row a mnemonic names.
enum class Row { None, BandwidthMode, Audio, AudioEncoder1, AudioEncoder2 };
constexpr Row RowOf(std::string_view mnemonic) {
  if (mnemonic == kBandwidthMode) return Row::BandwidthMode;
  if (mnemonic == kAudio) return Row::Audio;
  if (mnemonic == kAudioEncoder1) return Row::AudioEncoder1;
  if (mnemonic == kAudioEncoder2) return Row::AudioEncoder2;
  return Row::None;
}
// "0004" or "0005": one of the two K610 audio encoder rows.
constexpr bool IsAudioEncoderRow(std::string_view mnemonic) {
  return mnemonic == kAudioEncoder1 || mnemonic == kAudioEncoder2;
}
}  // namespace derived

}  // namespace vecta::params
