#include "pages/layouts.h"

#include <array>
#include <stdexcept>

#include "params/control_ids.h"
#include "params/descriptor.h"

namespace vecta::pages {
namespace {

using K = ControlKind;
namespace ids = params::ids;
namespace derived = params::derived;

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

// clang-format off
// The main settings page: the most used settings of the current config and
// the buttons that drive everything else. The first video input list and the
// "Audio" list give way on K610 to the K610 list and the two encoder lists;
// the caption of the preset transmit mode is hidden on K610.
constexpr Entry kMainSettings[] = {
    Field("Output frequency (MHz)", K::Edit, "ofre", ids::kOutputFrequency, kAll, At(0)),
    Field("Bandwidth mode", K::List, derived::kBandwidthMode, ids::kBandwidthMode, kAll, At(1)),
    Field(Cap("Preset transmit mode", ids::kPresetTransmitModeCaption, kKO), K::List, "otxm", ids::kPresetTransmitMode,
          kAll, At(2)),
    Field("Video input", K::List, "vinp", ids::kVideoInput, kKO, At(3)),
    Field("Video input", K::List, "vinp", ids::kK610VideoInput, kX, At(3)),
    // Shown on K610 only while the video input is an HD input.
    Field(kNoCaption, K::List, "vhdf", ids::kHdInputFormat, kX, At(3, 1), true),
    Field(Cap("Audio", ids::kAudioCaption, kKO), K::List, derived::kAudio, ids::kAudio, kKO, At(4)),
    Field(Cap("Audio encoder 1", ids::kAudioCaption, kX), K::List, derived::kAudioEncoder1, ids::kAudioEncoder1Source,
          kX, At(4)),
    Field(Cap("Audio encoder 2", ids::kAudioEncoder2Caption, kX), K::List, derived::kAudioEncoder2,
          ids::kAudioEncoder2Source, kX, At(5)),
    Field("Scrambling", K::List, "zscr", ids::kScrambling, kAll, At(6)),
    // Opens the encryption key writing.
    {kNoCaption, K::PushButton, nullptr, ids::kWriteKey, kAll, At(6, 1), false, 131},
    Own("Apply", K::PushButton, nullptr, ids::kMainApply, kAll, In(Area::Below, 0, 0)),
    Own("Refresh", K::PushButton, nullptr, ids::kMainRefresh, kAll, In(Area::Below, 0, 1)),
    Own("Save config to file", K::PushButton, nullptr, ids::kSaveConfigFile, kAll, In(Area::TopRight, 0)),
    Own("Load config from file", K::PushButton, nullptr, ids::kLoadConfigFile, kAll, In(Area::TopRight, 1)),
    Own("Advanced", K::PushButton, nullptr, ids::kAdvanced, kAll, In(Area::Right, 0)),
    // Shown by the full refresh on a K240 whose modulator reported a version.
    Own("Satellite modulator", K::PushButton, nullptr, ids::kSatmod, kK, In(Area::Right, 1), true),
};

// "Unit information": all read-only.
constexpr Entry kUnitInformation[] = {
    Field("Video locked", K::Edit, "vloc", ids::kVideoLocked, kAll, At(0)),
    Field("Software version", K::Edit, "gver", ids::kSoftwareVersion, kAll, At(1)),
    Field("FPGA version", K::Edit, "gfpg", ids::kFpgaVersion, kAll, At(2)),
    Field("Serial number", K::Edit, "gser", ids::kSerialNumber, kAll, At(3)),
    Field("Chaining", K::Edit, "csta", ids::kChaining, kAll, At(4)),
    Field(Cap("FPGA core temp", ids::kFpgaCoreTempCaption, kKX), K::Edit, "gtmp", ids::kFpgaCoreTemp, kKX, At(5)),
    Field(Cap("FPGA core voltage", ids::kFpgaCoreVoltageCaption, kKX), K::Edit, "gvnt", ids::kFpgaCoreVoltage, kKX,
          At(6)),
    Field(Cap("FPGA aux voltage", ids::kFpgaAuxVoltageCaption, kKX), K::Edit, "gvax", ids::kFpgaAuxVoltage, kKX, At(7)),
    Field(Cap("Battery voltage", ids::kBatteryVoltageCaption, kX), K::Edit, "gvba", ids::kBatteryVoltage, kX, At(8)),
};

// "Modulation".
constexpr Entry kModulation[] = {
    Field("Output frequency (MHz)", K::Edit, "ofre", ids::kOutputFrequency, kAll, At(0)),
    Field("Modulation bandwidth", K::List, "owid", ids::kModulationBandwidth, kAll, At(1)),
    Field("Modulation output", K::List, "oout", ids::kModulationOutput, kAll, At(2)),
    Field("Narrowband FEC", K::List, "ofec", ids::kNarrowbandFec, kAll, At(3)),
    Field("Narrowband guard interval", K::List, "ogua", ids::kNarrowbandGuardInterval, kAll, At(4)),
    Field("Narrowband modulation", K::List, "omod", ids::kNarrowbandModulation, kAll, At(5)),
    Field(Cap("DVBT service name", ids::kDvbtServiceNameCaption, kKO), K::Edit, "gdna", ids::kDvbtServiceName, kKO,
          At(6)),
    Field("DVBT FEC rate", K::List, "odfe", ids::kDvbtFecRate, kAll, At(7)),
    Field("DVBT guard interval", K::List, "odgu", ids::kDvbtGuardInterval, kAll, At(8)),
    Field("DVBT modulation", K::List, "odmo", ids::kDvbtModulation, kAll, At(9)),
    Field("DVBT spectrum inversion", K::List, "ospe", ids::kDvbtSpectrumInversion, kAll, At(10)),
    Field("DVBT 4KHz offset", K::List, "o4ko", ids::kDvbt4KhzOffset, kAll, At(11)),
    Field(Cap("Network name", ids::kNetworkNameCaption, kX), K::Edit, "gnet", ids::kNetworkName, kX, At(12)),
    Field("Preset transmit mode", K::List, "otxm", ids::kPresetTransmitMode, kAll, At(13)),
    Field("Output power", K::List, "ohls", ids::kOutputPower, kKO, At(14)),
    Field("Output power", K::List, "ohls", ids::kK610OutputPower, kX, At(14)),
    Field("Output attenuation high (dB)", K::Edit, "olev", ids::kOutputAttenuationHigh, kAll, At(15)),
    Field("Output attenuation low (dB)", K::Edit, "ollv", ids::kOutputAttenuationLow, kAll, At(16)),
    Field(Cap("Output attenuation preset", ids::kOutputAttenuationPresetCaption, kX), K::Edit, "oplv",
          ids::kOutputAttenuationPreset, kX, At(17)),
};

// "Audio". On K610 the group boxes "Encoder 1" and "Encoder 2" frame a left
// and a right column (columns 0 and 1 of the first three rows) with the
// controls of each encoder. Of the two rate lists in one place only the one
// that fits the encoder's layer is shown.
constexpr Entry kAudio[] = {
    {Cap("Encoder 1", kX), K::GroupBox, nullptr, ids::kEncoder1Group, kX, {Area::Grid, 0, 0, 3}, false, 0},
    {Cap("Encoder 2", kX), K::GroupBox, nullptr, ids::kEncoder2Group, kX, {Area::Grid, 0, 1, 3}, false, 0},
    Field("Audio encoder", K::List, "aenc", ids::kAudioEncoder, kKO, At(0)),
    Field("Audio encoder", K::List, "a1en", ids::kEncoder1AudioEncoder, kX, At(0, 0)),
    Field("Audio encoder", K::List, "a2en", ids::kEncoder2AudioEncoder, kX, At(0, 1)),
    // The caption stays on K610, where it stands over the first encoder's
    // source list.
    Field(Cap("Audio source", ids::kAudioSourceCaption, kKX), K::List, "asrc", ids::kAudioSource, kK, At(1)),
    Field("Audio source", K::List, "a1in", ids::kEncoder1AudioSource, kX, At(1, 0)),
    Field("Audio source", K::List, "a2in", ids::kEncoder2AudioSource, kX, At(1, 1)),
    Field("MPEG Audio rate", K::List, "ampr", ids::kLayer1AudioRate, kKO, At(2), true),
    Field("MPEG Audio rate", K::List, "ampr", ids::kLayer2AudioRate, kKO, At(2), true),
    Field("MPEG Audio rate", K::List, "a1br", ids::kEncoder1Layer1Rate, kX, At(2, 0), true),
    Field("MPEG Audio rate", K::List, "a1br", ids::kEncoder1Layer2Rate, kX, At(2, 0), true),
    Field("MPEG Audio rate", K::List, "a2br", ids::kEncoder2Layer1Rate, kX, At(2, 1), true),
    Field("MPEG Audio rate", K::List, "a2br", ids::kEncoder2Layer2Rate, kX, At(2, 1), true),
    Field("Audio input level", K::List, "alev", ids::kAudioInputLevel, kKO, At(3)),
    Field("Audio input level", K::List, "alev", ids::kK610AudioInputLevel, kX, At(3)),
    Field(Cap("Second stereo audio pair", ids::kSecondStereoPairCaption, kK), K::List, "aen2", ids::kSecondStereoPair,
          kK, At(4)),
    Own("Mic input bias", K::Check, "abmb", ids::kMicInputBias, kX, At(5)),
};

// "Video": one arrangement for K240 and the other variant, one for K610, in
// the same rows. On K610 the encoding mode and frame rate captions read
// "Encoding mode" and "Frame rate".
constexpr Entry kVideo[] = {
    // K240 and the other variant.
    Field("Video input", K::List, "vinp", ids::kVideoInput, kKO, At(0)),
    Field(Cap("Resolution", ids::kResolutionCaption, kKO), K::List, "ehor", ids::kResolution, kKO, At(1)),
    Field(Cap("MPEG mode", ids::kMpegModeCaption, kKO), K::List, "eenc", ids::kMpegMode, kKO, At(2)),
    Field(Cap("MPEG4 encoding mode", ids::kEncodingModeCaption, kKO), K::List, "ecmd", ids::kMpeg4EncodingMode, kKO,
          At(3)),
    Field(Cap("MPEG4 frame rate", ids::kFrameRateCaption, kKO), K::List, "efrm", ids::kFrameRate, kKO, At(4)),
    Field("Video bitrate (Mbit/s)", K::Edit, "evid", ids::kVideoBitrate, kKO, At(5)),
    Own("Manual", K::Check, "evbr", ids::kManual, kKO, At(5, 1)),
    Field("Video sharpness", K::List, "esha", ids::kVideoSharpness, kKO, At(6)),
    Field(Cap("Video profile", ids::kVideoProfileCaption, kK), K::List, "epro", ids::kVideoProfile, kK, At(7)),
    Field(Cap("Mux bitrate (Mbit/s)", ids::kMuxBitrateCaption, kK), K::Edit, "mbit", ids::kMuxBitrate, kK, At(8)),
    // K610.
    Field("Video input", K::List, "vinp", ids::kK610VideoInput, kX, At(0)),
    Field(Cap("MPEG mode", ids::kK610MpegModeCaption, kX), K::List, "eenc", ids::kK610MpegMode, kX, At(1)),
    Field(Cap("HD input format", ids::kHdInputFormatCaption, kX), K::List, "vhdf", ids::kHdInputFormat, kX, At(2)),
    Field(Cap("Sub horizontal resolution", ids::kSubHorizontalResolutionCaption, kX), K::List, "ehor",
          ids::kSubHorizontalResolution, kX, At(3)),
    Field(Cap("Encoding mode", ids::kEncodingModeCaption, kX), K::List, "ecmd", ids::kK610EncodingMode, kX, At(4)),
    Field(Cap("Frame rate", ids::kFrameRateCaption, kX), K::List, "efrm", ids::kFrameRate, kX, At(5)),
    Field(Cap("Sub vertical resolution", ids::kSubVerticalResolutionCaption, kX), K::List, "ever",
          ids::kSubVerticalResolution, kX, At(6)),
    Field(Cap("GOP length", ids::kGopLengthCaption, kX), K::List, "eper", ids::kGopLength, kX, At(7)),
    Field(Cap("DTS delay (ms)", ids::kDtsDelayCaption, kX), K::Edit, "edts", ids::kDtsDelay, kX, At(8)),
    Own("Use as total PTS offset", K::Check, "epts", ids::kTotalPtsOffset, kX, At(8, 1)),
    Field("Video bitrate (Mbit/s)", K::Edit, "evid", ids::kVideoBitrate, kX, At(9)),
    Own("Manual", K::Check, "evbr", ids::kManual, kX, At(9, 1)),
    Field("Video sharpness", K::List, "esha", ids::kK610VideoSharpness, kX, At(10)),
    Field(Cap("Mux bitrate (Mbit/s)", ids::kMuxBitrateCaption, kX), K::Edit, "mbit", ids::kMuxBitrate, kX, At(11)),
    Field(Cap("Pattern generator", ids::kPatternGeneratorCaption, kX), K::List, "vpgn", ids::kPatternGenerator, kX,
          At(12)),
};

// "Unit parameters".
constexpr Entry kUnitParameters[] = {
    Field("Unit name", K::Edit, "gnam", ids::kUnitName, kAll, At(0)),
    Field("Sleep mode", K::List, "gsle", ids::kSleepMode, kAll, At(1)),
    Field("Data", K::List, "dinp", ids::kDataInput, kO, At(2)),
    Field("Data", K::List, "dinp", ids::kModeDataInput, kKX, At(2)),
    Field("Data baud rate", K::List, "dbau", ids::kDataBaudRate, kAll, At(3)),
    Field(Cap("Data packet length", ids::kDataPacketLengthCaption, kX), K::List, "dpln", ids::kDataPacketLength, kX,
          At(4)),
    Field(Cap("Transport stream control", ids::kTransportStreamControlCaption, kK), K::List, "gosw",
          ids::kTransportStreamControl, kK, At(4)),
    Field("Chaining input", K::List, "cinp", ids::kChainingInput, kAll, At(5)),
    Field("Chain no.", K::List, "ccha", ids::kChainNumber, kAll, At(6)),
    Field("Chaining output", K::List, "cout", ids::kChainingOutput, kAll, At(7)),
    Field("Current config", K::Edit, "glod", ids::kCurrentConfig, kAll, At(8)),
    Field("Scrambling", K::List, "zscr", ids::kScrambling, kAll, At(9)),
    Field("Heartbeat enable", K::List, "gblo", ids::kHeartbeatEnable, kAll, At(10)),
    Field("Metadata", K::List, "meta", ids::kMetadata, kAll, At(11)),
    Field(Cap("On Screen Display", ids::kOnScreenDisplayCaption, kX), K::List, "gosd", ids::kOnScreenDisplay, kX,
          At(12)),
    Field(Cap("PMT PID", ids::kPmtPidCaption, kX), K::List, "pmpd", ids::kPmtPid, kX, At(13)),
    Field(Cap("PCR PID", ids::kPcrPidCaption, kX), K::List, "pcpd", ids::kPcrPid, kX, At(14)),
    Field(Cap("Video PID", ids::kVideoPidCaption, kX), K::List, "pvid", ids::kVideoPid, kX, At(15)),
    Field(Cap("Audio 1 PID", ids::kAudio1PidCaption, kX), K::List, "pau1", ids::kAudio1Pid, kX, At(16)),
    Field(Cap("Audio 2 PID", ids::kAudio2PidCaption, kX), K::List, "pau2", ids::kAudio2Pid, kX, At(17)),
    Field(Cap("Data PID", ids::kDataPidCaption, kX), K::List, "pdat", ids::kDataPid, kX, At(18)),
};

// The satellite modulator window. Only a K240 opens it, but its layout does
// not depend on the variant.
constexpr Entry kSatelliteModulator[] = {
    Field("Carrier frequency (MHz)", K::Edit, "scar", ids::kCarrierFrequency, kAll, At(0)),
    Field("Symbol rate (ksymbols/s)", K::Edit, "ssym", ids::kSymbolRate, kAll, At(1)),
    Field("Spectrum polarity", K::List, "spol", ids::kSpectrumPolarity, kAll, At(2)),
    Field("Roll off", K::Edit, "srol", ids::kRollOff, kAll, At(3)),
    Field("Modulation", K::List, "smod", ids::kSatModulation, kAll, At(4)),
    Field("FEC family", K::List, "scod", ids::kFecFamily, kAll, At(5)),
    Field("FEC rate", K::List, "sfec", ids::kFecRate, kAll, At(6)),
    Field("Signal level (dBm)", K::Edit, "slev", ids::kSignalLevel, kAll, At(7)),
    Field("Output enable", K::List, "ssig", ids::kOutputEnable, kAll, At(8)),
    Field("Carrier wave tone", K::List, "scwt", ids::kCarrierWaveTone, kAll, At(9)),
    Field("Modulator version", K::Edit, "sver", ids::kModulatorVersion, kAll, At(10)),
    Field("Modulator temperature (\u00B0C)", K::Edit, "stmp", ids::kModulatorTemperature, kAll, At(11)),
    Own("Enable descriptors", K::Check, "sdel", ids::kEnableDescriptors, kAll, At(12)),
    Field("Satellite frequency (MHz)", K::Edit, "sfre", ids::kSatelliteFrequency, kAll, At(13)),
    Field("Orbital position (\u00B0)", K::Edit, "sorb", ids::kOrbitalPosition, kAll, At(14)),
    Field("West-East flag", K::List, "swef", ids::kWestEastFlag, kAll, At(15)),
    Field("Polarization", K::List, "spla", ids::kPolarization, kAll, At(16)),
    Own("Apply", K::PushButton, nullptr, ids::kWindowApply, kAll, In(Area::Below, 0, 0)),
    Own("Refresh", K::PushButton, nullptr, ids::kWindowRefresh, kAll, In(Area::Below, 0, 1)),
};

// The Advanced options window's own controls: the tabs fill its upper part,
// the two buttons stand below them.
constexpr Entry kAdvancedWindow[] = {
    {kNoCaption, K::TabControl, nullptr, ids::kTabs, kAll, At(0), false, 0},
    Own("Apply", K::PushButton, nullptr, ids::kWindowApply, kAll, In(Area::Below, 0, 0)),
    Own("Refresh", K::PushButton, nullptr, ids::kWindowRefresh, kAll, In(Area::Below, 0, 1)),
};
// clang-format on

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

std::span<const params::RowDescriptor> TableFor(PageId page) {
  return page == PageId::SatelliteModulator ? params::SatmodTableRows() : params::MainTableRows();
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
