// The two descriptor tables, row for row in table order, and their option
// lists. Refresh, apply and the files walk the main table top to bottom, and
// the page rules rely on eenc and ecmd coming before ehor.
#include <cstdio>

#include "params/control_ids.h"
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
const OptionList kZscrOptions = {"Off",    "ABS",     "/empty/",   "/empty/", "AES128",   "/empty/",
                                 "AES256", "/empty/", "BCrypt128", "/empty/", "BCrypt256"};
const OptionList kVideoInputOptions = {"Off",         "/empty/",     "PAL",          "NTSC",
                                       "NTSC no ped", "S-Video PAL", "S-Video NTSC", "S-Video NTSC no ped",
                                       "SDI PAL",     "SDI NTSC"};
const OptionList kK610VideoInputOptions = {"Off",
                                           "/empty/",
                                           "Comp PAL",
                                           "Comp NTSC",
                                           "Comp NTSC (No Pedestal)",
                                           "Comp PAL S-vid",
                                           "Comp NTSC S-vid",
                                           "Comp NTSC S-Vid (No Pedestal)",
                                           "SDI PAL",
                                           "SDI NTSC",
                                           "HDMI PAL",
                                           "HDMI NTSC",
                                           "HD-SDI",
                                           "HD HDMI"};
const OptionList kAencOptions = {"Off",
                                 "32kHz 12bit Stereo",
                                 "32kHz 12bit Mono",
                                 "32kHz 8bit Stereo",
                                 "32kHz 8bit Mono",
                                 "16kHz 8bit Stereo",
                                 "16kHz 8bit Mono",
                                 "8kHz 8bit Stereo",
                                 "8kHz 8bit Mono",
                                 "MPEG Layer 1 32KHz Stereo",
                                 "MPEG Layer 1 32KHz Mono",
                                 "MPEG Layer 1 48KHz Stereo",
                                 "MPEG Layer 1 48KHz Mono",
                                 "MPEG Layer 2 32kHz Stereo",
                                 "MPEG Layer 2 32kHz Mono",
                                 "MPEG Layer 2 48kHz Stereo",
                                 "MPEG Layer 2 48kHz Mono"};
const OptionList kAudioEncoderOptions = {"Off", "MPEG Layer 1 48kHz Stereo", "MPEG Layer 1 48kHz Mono",
                                         "MPEG Layer 2 48kHz Stereo", "MPEG Layer 2 48kHz Mono"};
const OptionList kLayer1RateOptions = {"/empty/",    "32kbits/s",  "64kbits/s",  "96kbits/s",  "128kbits/s",
                                       "160kbits/s", "192kbits/s", "224kbits/s", "256kbits/s", "288kbits/s",
                                       "320kbits/s", "352kbits/s", "384kbits/s", "416kbits/s", "448kbits/s"};
const OptionList kLayer2RateOptions = {"/empty/",    "32kbits/s",  "48kbits/s",  "56kbits/s",  "64kbits/s",
                                       "80kbits/s",  "96kbits/s",  "112kbits/s", "128kbits/s", "160kbits/s",
                                       "192kbits/s", "224kbits/s", "256kbits/s", "320kbits/s", "384kbits/s"};
const OptionList kAudioLevelOptions = {"0dB", "12dB", "24dB", "36dB", "48dB"};
const OptionList kK610AudioLevelOptions = {"0dB",  "12dB", "24dB", "36dB",  "48dB", "60dB",
                                           "72dB", "84dB", "96dB", "108dB", "120dB"};
const OptionList kAsrcOptions = {"Analogue", "Digital", "Embedded"};
const OptionList kAudioInputOptions = {"Digital embedded", "Analogue"};
const OptionList kDisabledEnabled = {"Disabled", "Enabled"};
const OptionList kNoYes = {"No", "Yes"};
const OptionList kDataInputOptions = {"Off", "On", "On even parity", "On odd parity"};
const OptionList kK240DataInputOptions = {"Off",
                                          "Mode 1 8b No Parity",
                                          "Mode 1 8b Even Parity",
                                          "Mode 1 8b Odd Parity",
                                          "/empty/",
                                          "/empty/",
                                          "/empty/",
                                          "/empty/",
                                          "/empty/",
                                          "/empty/",
                                          "/empty/",
                                          "/empty/",
                                          "/empty/",
                                          "/empty/",
                                          "/empty/",
                                          "/empty/",
                                          "/empty/",
                                          "Mode 2 8b No Parity",
                                          "Mode 2 8b Even Parity",
                                          "Mode 2 8b Odd Parity",
                                          "/empty/",
                                          "Mode 2 7b No Parity",
                                          "Mode 2 7b Even Parity",
                                          "Mode 2 7b Odd Parity"};
const OptionList kDbauOptions = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
const OptionList kCinpOptions = {"Off", "On", "Relay"};
const OptionList kCchaOptions = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
const OptionList kGoswOptions = {"ASI in, ASI out",           "/empty/", "/empty/", "/empty/",
                                 "Chaining in, ASI out",      "/empty/", "/empty/", "/empty/",
                                 "ASI in, Chaining out",      "/empty/", "/empty/", "/empty/",
                                 "Chaining in, Chaining out", "/empty/", "/empty/", "/empty/"};
const OptionList kVhdfOptions = {"720p 50Hz",     "720p 59.94Hz",  "720p 60Hz",       "1080i 50Hz",
                                 "1080i 59.94Hz", "1080i 60Hz",    "1080p 23.976Hz",  "1080p 24Hz",
                                 "1080p 25Hz",    "1080p 29.97Hz", "1080p 30Hz",      "1080psf 23.976Hz",
                                 "1080psf 24Hz",  "1080psf 25Hz",  "1080psf 29.97Hz", "1080psf 30Hz"};
const OptionList kEncoderOptions = {"MPEG2", "MPEG4"};
const OptionList kK610EncoderOptions = {"/empty/", "MPEG4 ASP", "MPEG4 AVC H.264"};
const OptionList kEncoderModeOptions = {"Low delay interlaced", "Standard delay interlaced",
                                        "Low delay progressive", "Standard delay progressive"};
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
const OptionList kOtxmOptions = {"None selected",    "Short range",        "Medium range",      "Long range",
                                 "Ultra long range", "Extra long range 1", "Extra long range 2"};
const OptionList kVpgnOptions = {"Auto Pattern",   "Auto Black Screen", "Moving Pattern",
                                 "Static Pattern", "A/V Sync",          "Disabled"};
const OptionList kSmodOptions = {"QPSK", "8PSK", "16QAM", "16APSK", "32APSK"};
const OptionList kScodOptions = {"DVBS", "DSNG", "Intelsat", "DVBS2N", "DVBS2S"};
const OptionList kSfecOptions = {"1/4", "1/3", "2/5", "1/2", "3/5",  "2/3", "3/4",
                                 "4/5", "5/6", "7/8", "8/9", "9/10", "ACM"};
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

const OptionList kPidOptions = MakePidOptions();
const OptionList kPacketLengthOptions = MakePacketLengthOptions();
const OptionList kGopOptions = MakeGopOptions();

using namespace flag;

// The rows hold only addresses of the lists above, so the tables are
// need no start-up code of their own.

// The main table.
// clang-format off
const RowDescriptor kMainRows[] = {
  {"oout", ids::kModulationOutput, true, Kind::List, kStatusLamp, &kOffOn},
  {"ofec", ids::kNarrowbandFec, true, Kind::List, kNone, &kOfecOptions},
  {"ogua", ids::kNarrowbandGuardInterval, true, Kind::List, kNone, &kOguaOptions},
  {"omod", ids::kNarrowbandModulation, true, Kind::List, kNone, &kOmodOptions},
  {"ofre", ids::kOutputFrequency, true, Kind::Text, kTwoDecimals, nullptr},
  {"owid", ids::kModulationBandwidth, true, Kind::List, kNone, &kOwidOptions},
  {"ohls", ids::kOutputPower, true, Kind::List, kNotK610, &kLowHighOptions},
  {"ohls", ids::kK610OutputPower, true, Kind::List, kK610Only, &kK610PowerOptions},
  {"olev", ids::kOutputAttenuationHigh, true, Kind::Text, kLevel, nullptr},
  {"ollv", ids::kOutputAttenuationLow, true, Kind::Text, kLevel, nullptr},
  {"odfe", ids::kDvbtFecRate, true, Kind::List, kNone, &kOdfeOptions},
  {"odgu", ids::kDvbtGuardInterval, true, Kind::List, kNone, &kOdguOptions},
  {"odmo", ids::kDvbtModulation, true, Kind::List, kNone, &kOdmoOptions},
  {"ospe", ids::kDvbtSpectrumInversion, true, Kind::List, kNone, &kNormalInverted},
  {"o4ko", ids::kDvbt4KhzOffset, true, Kind::List, kNone, &kO4koOptions},
  {"zscr", ids::kScrambling, true, Kind::List, kNone, &kZscrOptions},
  {"vinp", ids::kVideoInput, true, Kind::List, kNotK610, &kVideoInputOptions},
  {"vinp", ids::kK610VideoInput, true, Kind::List, kK610Only, &kK610VideoInputOptions},
  {"aenc", ids::kAudioEncoder, true, Kind::List, kNotK610, &kAencOptions},
  {"a1en", ids::kEncoder1AudioEncoder, true, Kind::List, kK610Only, &kAudioEncoderOptions},
  {"a2en", ids::kEncoder2AudioEncoder, true, Kind::List, kK610Only, &kAudioEncoderOptions},
  {"ampr", ids::kLayer1AudioRate, true, Kind::List, kLayer1Rates | kNotK610, &kLayer1RateOptions},
  {"ampr", ids::kLayer2AudioRate, true, Kind::List, kLayer2Rates | kNotK610, &kLayer2RateOptions},
  {"a1br", ids::kEncoder1Layer1Rate, true, Kind::List, kLayer1Rates | kK610Only, &kLayer1RateOptions},
  {"a1br", ids::kEncoder1Layer2Rate, true, Kind::List, kLayer2Rates | kK610Only, &kLayer2RateOptions},
  {"a2br", ids::kEncoder2Layer1Rate, true, Kind::List, kLayer1Rates | kK610Only, &kLayer1RateOptions},
  {"a2br", ids::kEncoder2Layer2Rate, true, Kind::List, kLayer2Rates | kK610Only, &kLayer2RateOptions},
  {"alev", ids::kAudioInputLevel, true, Kind::List, kNotK610, &kAudioLevelOptions},
  {"alev", ids::kK610AudioInputLevel, true, Kind::List, kK610Only, &kK610AudioLevelOptions},
  {"asrc", ids::kAudioSource, true, Kind::List, kK240OrK610 | kNotK610, &kAsrcOptions},
  {"a1in", ids::kEncoder1AudioSource, true, Kind::List, kK610Only, &kAudioInputOptions},
  {"a2in", ids::kEncoder2AudioSource, true, Kind::List, kK610Only, &kAudioInputOptions},
  {"aen2", ids::kSecondStereoPair, true, Kind::List, kK240OrK610 | kNotK610, &kDisabledEnabled},
  {"abmb", ids::kMicInputBias, true, Kind::Check, kK610Only, nullptr},
  {"gnam", ids::kUnitName, true, Kind::Text, kNone, nullptr},
  {"gsle", ids::kSleepMode, true, Kind::List, kNone, &kNoYes},
  {"dinp", ids::kDataInput, true, Kind::List, kOtherOnly, &kDataInputOptions},
  {"dinp", ids::kModeDataInput, true, Kind::List, kK240OrK610, &kK240DataInputOptions},
  {"dbau", ids::kDataBaudRate, true, Kind::List, kNone, &kDbauOptions},
  {"dpln", ids::kDataPacketLength, true, Kind::List, kK610Only, &kPacketLengthOptions},
  {"cinp", ids::kChainingInput, true, Kind::List, kNone, &kCinpOptions},
  {"ccha", ids::kChainNumber, true, Kind::List, kNone, &kCchaOptions},
  {"cout", ids::kChainingOutput, true, Kind::List, kNone, &kOffOn},
  {"gosw", ids::kTransportStreamControl, true, Kind::List, kK240OrK610, &kGoswOptions},
  {"evid", ids::kVideoBitrate, false, Kind::Text, kBitratePair, nullptr},
  {"evbr", ids::kManual, true, Kind::Check, kHideIfUnanswered | kBitratePair, nullptr},
  {"vhdf", ids::kHdInputFormat, true, Kind::List, kK610Only, &kVhdfOptions},
  {"eenc", ids::kMpegMode, true, Kind::List, kMarker80 | kNotK610, &kEncoderOptions},
  {"eenc", ids::kK610MpegMode, true, Kind::List, kMarker80 | kK610Only, &kK610EncoderOptions},
  {"ecmd", ids::kMpeg4EncodingMode, true, Kind::List, kNotK610, &kEncoderModeOptions},
  {"ecmd", ids::kK610EncodingMode, true, Kind::List, kK610Only, &kEncoderModeOptions},
  {"ehor", ids::kSubHorizontalResolution, true, Kind::List, kK610Only, &kK610HorizontalOptions},
  {"ever", ids::kSubVerticalResolution, true, Kind::List, kK610Only, &kVerticalOptions},
  {"ehor", ids::kResolution, true, Kind::List, kMarker40 | kNotK610, &kHorizontalOptions},
  {"efrm", ids::kFrameRate, true, Kind::List, kNone, &kEfrmOptions},
  {"esha", ids::kVideoSharpness, true, Kind::List, kNotK610, &kSharpnessOptions},
  {"esha", ids::kK610VideoSharpness, true, Kind::List, kK610Only, &kK610SharpnessOptions},
  {"eper", ids::kGopLength, true, Kind::List, kK610Only, &kGopOptions},
  {"edts", ids::kDtsDelay, true, Kind::Text, kTrim | kK610Only, nullptr},
  {"epts", ids::kTotalPtsOffset, true, Kind::Check, kK610Only, nullptr},
  {"epro", ids::kVideoProfile, true, Kind::List, kK240OrK610 | kNotK610, &kEproOptions},
  {"gdna", ids::kDvbtServiceName, true, Kind::Text, kNotK610, nullptr},
  {"gnet", ids::kNetworkName, true, Kind::Text, kK610Only, nullptr},
  {"gblo", ids::kHeartbeatEnable, true, Kind::List, kNone, &kOffOn},
  {"glod", ids::kCurrentConfig, true, Kind::Text, kTrim, nullptr},
  {"vloc", ids::kVideoLocked, false, Kind::StatusList, kStatusLamp, &kNoYes},
  {"gver", ids::kSoftwareVersion, false, Kind::Text, kVersion, nullptr},
  {"gfpg", ids::kFpgaVersion, false, Kind::Text, kTrim, nullptr},
  {"gser", ids::kSerialNumber, false, Kind::Text, kNone, nullptr},
  {"csta", ids::kChaining, false, Kind::StatusList, kNone, &kCstaOptions},
  {"gtmp", ids::kFpgaCoreTemp, false, Kind::Text, kTrim, nullptr},
  {"gvnt", ids::kFpgaCoreVoltage, false, Kind::Text, kTenths, nullptr},
  {"gvax", ids::kFpgaAuxVoltage, false, Kind::Text, kTenths, nullptr},
  {"meta", ids::kMetadata, true, Kind::List, kNone, &kOffOn},
  {"gosd", ids::kOnScreenDisplay, true, Kind::List, kK610Only, &kGosdOptions},
  {"pmpd", ids::kPmtPid, true, Kind::List, kK610Only, &kPidOptions},
  {"pcpd", ids::kPcrPid, true, Kind::List, kK610Only, &kPidOptions},
  {"pvid", ids::kVideoPid, true, Kind::List, kK610Only, &kPidOptions},
  {"pau1", ids::kAudio1Pid, true, Kind::List, kK610Only, &kPidOptions},
  {"pau2", ids::kAudio2Pid, true, Kind::List, kK610Only, &kPidOptions},
  {"pdat", ids::kDataPid, true, Kind::List, kK610Only, &kPidOptions},
  {"mbit", ids::kMuxBitrate, true, Kind::Text, kK240OrK610 | kThousandths, nullptr},
  {"sver", ids::kModulatorVersion, false, Kind::Text, kNone, nullptr},
  {derived::kBandwidthMode, ids::kBandwidthMode, true, Kind::List, kDerived, &kBandOptions},
  {derived::kAudio, ids::kAudio, true, Kind::List, kDerived | kNotK610, &kOffOn},
  {derived::kAudioEncoder1, ids::kAudioEncoder1Source, true, Kind::List, kDerived | kK610Only, &kAudioSourceOptions},
  {derived::kAudioEncoder2, ids::kAudioEncoder2Source, true, Kind::List, kDerived | kK610Only, &kAudioSourceOptions},
  {"otxm", ids::kPresetTransmitMode, true, Kind::List, kNone, &kOtxmOptions},
  {"gvba", ids::kBatteryVoltage, false, Kind::Text, kTwoDecimals | kK610Only, nullptr},
  {"oplv", ids::kOutputAttenuationPreset, true, Kind::Text, kLevel | kK610Only, nullptr},
  {"vpgn", ids::kPatternGenerator, true, Kind::List, kK610Only, &kVpgnOptions},
};

// The satellite modulator table.
const RowDescriptor kSatmodRows[] = {
  {"stmp", ids::kModulatorTemperature, false, Kind::Text, kTenthsToo, nullptr},
  {"scar", ids::kCarrierFrequency, true, Kind::Text, kTrim, nullptr},
  {"spol", ids::kSpectrumPolarity, true, Kind::List, kNone, &kNormalInverted},
  {"srol", ids::kRollOff, true, Kind::Text, kHundredths, nullptr},
  {"ssym", ids::kSymbolRate, true, Kind::Text, kTrim, nullptr},
  {"smod", ids::kSatModulation, true, Kind::List, kNone, &kSmodOptions},
  {"scod", ids::kFecFamily, true, Kind::List, kNone, &kScodOptions},
  {"sfec", ids::kFecRate, true, Kind::List, kNone, &kSfecOptions},
  {"slev", ids::kSignalLevel, true, Kind::Text, kNegativeTenths, nullptr},
  {"ssig", ids::kOutputEnable, true, Kind::List, kNone, &kOffOn},
  {"scwt", ids::kCarrierWaveTone, true, Kind::List, kNone, &kOffOn},
  {"sver", ids::kModulatorVersion, false, Kind::Text, kNone, nullptr},
  {"sdel", ids::kEnableDescriptors, true, Kind::Check, kNone, nullptr},
  {"sfre", ids::kSatelliteFrequency, true, Kind::Text, kNone, nullptr},
  {"sorb", ids::kOrbitalPosition, true, Kind::Text, kNone, nullptr},
  {"swef", ids::kWestEastFlag, true, Kind::List, kNone, &kSwefOptions},
  {"spla", ids::kPolarization, true, Kind::List, kNone, &kSplaOptions},
};
// clang-format on

}  // namespace

const OptionList& PidOptions() { return kPidOptions; }
const OptionList& PacketLengthOptions() { return kPacketLengthOptions; }
const OptionList& GopOptions() { return kGopOptions; }

std::span<const RowDescriptor> MainTableRows() { return kMainRows; }
std::span<const RowDescriptor> SatmodTableRows() { return kSatmodRows; }

}  // namespace vecta::params
