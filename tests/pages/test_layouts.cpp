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
#include "params/control_ids.h"
#include "params/convert.h"
#include "params/descriptor.h"

using namespace vecta;
using namespace vecta::pages;
using params::Kind;
using params::RowDescriptor;
using params::RowExists;
namespace ids = vecta::params::ids;
namespace derived = vecta::params::derived;

namespace {

std::string Name(Variant v) { return v == Variant::K240 ? "K240" : v == Variant::K610 ? "K610" : "other"; }

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
    {PageId::MainSettings, "Output frequency (MHz)", 0, ids::kOutputFrequency, "ofre", 7},
    {PageId::MainSettings, "Bandwidth mode", 0, ids::kBandwidthMode, derived::kBandwidthMode, 7},
    {PageId::MainSettings, "Preset transmit mode", ids::kPresetTransmitModeCaption, ids::kPresetTransmitMode,
     "otxm", 7},
    {PageId::MainSettings, "Video input", 0, ids::kVideoInput, "vinp", 5},
    {PageId::MainSettings, "Video input", 0, ids::kK610VideoInput, "vinp", 2},
    {PageId::MainSettings, "", 0, ids::kHdInputFormat, "vhdf", 2},
    {PageId::MainSettings, "Audio", ids::kAudioCaption, ids::kAudio, derived::kAudio, 5},
    {PageId::MainSettings, "Audio encoder 1", ids::kAudioCaption, ids::kAudioEncoder1Source,
     derived::kAudioEncoder1, 2},
    {PageId::MainSettings, "Audio encoder 2", ids::kAudioEncoder2Caption, ids::kAudioEncoder2Source,
     derived::kAudioEncoder2, 2},
    {PageId::MainSettings, "Scrambling", 0, ids::kScrambling, "zscr", 7},
    {PageId::MainSettings, "", 0, ids::kWriteKey, "", 7},
    {PageId::UnitInformation, "Video locked", 0, ids::kVideoLocked, "vloc", 7},
    {PageId::UnitInformation, "Software version", 0, ids::kSoftwareVersion, "gver", 7},
    {PageId::UnitInformation, "FPGA version", 0, ids::kFpgaVersion, "gfpg", 7},
    {PageId::UnitInformation, "Serial number", 0, ids::kSerialNumber, "gser", 7},
    {PageId::UnitInformation, "Chaining", 0, ids::kChaining, "csta", 7},
    {PageId::UnitInformation, "FPGA core temp", ids::kFpgaCoreTempCaption, ids::kFpgaCoreTemp, "gtmp", 3},
    {PageId::UnitInformation, "FPGA core voltage", ids::kFpgaCoreVoltageCaption, ids::kFpgaCoreVoltage, "gvnt", 3},
    {PageId::UnitInformation, "FPGA aux voltage", ids::kFpgaAuxVoltageCaption, ids::kFpgaAuxVoltage, "gvax", 3},
    {PageId::UnitInformation, "Battery voltage", ids::kBatteryVoltageCaption, ids::kBatteryVoltage, "gvba", 2},
    {PageId::Modulation, "Output frequency (MHz)", 0, ids::kOutputFrequency, "ofre", 7},
    {PageId::Modulation, "Modulation bandwidth", 0, ids::kModulationBandwidth, "owid", 7},
    {PageId::Modulation, "Modulation output", 0, ids::kModulationOutput, "oout", 7},
    {PageId::Modulation, "Narrowband FEC", 0, ids::kNarrowbandFec, "ofec", 7},
    {PageId::Modulation, "Narrowband guard interval", 0, ids::kNarrowbandGuardInterval, "ogua", 7},
    {PageId::Modulation, "Narrowband modulation", 0, ids::kNarrowbandModulation, "omod", 7},
    {PageId::Modulation, "DVBT service name", ids::kDvbtServiceNameCaption, ids::kDvbtServiceName, "gdna", 5},
    {PageId::Modulation, "DVBT FEC rate", 0, ids::kDvbtFecRate, "odfe", 7},
    {PageId::Modulation, "DVBT guard interval", 0, ids::kDvbtGuardInterval, "odgu", 7},
    {PageId::Modulation, "DVBT modulation", 0, ids::kDvbtModulation, "odmo", 7},
    {PageId::Modulation, "DVBT spectrum inversion", 0, ids::kDvbtSpectrumInversion, "ospe", 7},
    {PageId::Modulation, "DVBT 4KHz offset", 0, ids::kDvbt4KhzOffset, "o4ko", 7},
    {PageId::Modulation, "Network name", ids::kNetworkNameCaption, ids::kNetworkName, "gnet", 2},
    {PageId::Modulation, "Preset transmit mode", 0, ids::kPresetTransmitMode, "otxm", 7},
    {PageId::Modulation, "Output power", 0, ids::kOutputPower, "ohls", 5},
    {PageId::Modulation, "Output power", 0, ids::kK610OutputPower, "ohls", 2},
    {PageId::Modulation, "Output attenuation high (dB)", 0, ids::kOutputAttenuationHigh, "olev", 7},
    {PageId::Modulation, "Output attenuation low (dB)", 0, ids::kOutputAttenuationLow, "ollv", 7},
    {PageId::Modulation, "Output attenuation preset", ids::kOutputAttenuationPresetCaption,
     ids::kOutputAttenuationPreset, "oplv", 2},
    {PageId::Audio, "Audio encoder", 0, ids::kAudioEncoder, "aenc", 5},
    {PageId::Audio, "Audio encoder", 0, ids::kEncoder1AudioEncoder, "a1en", 2},
    {PageId::Audio, "Audio encoder", 0, ids::kEncoder2AudioEncoder, "a2en", 2},
    {PageId::Audio, "Audio source", ids::kAudioSourceCaption, ids::kAudioSource, "asrc", 1},
    {PageId::Audio, "Audio source", 0, ids::kEncoder1AudioSource, "a1in", 2},
    {PageId::Audio, "Audio source", 0, ids::kEncoder2AudioSource, "a2in", 2},
    {PageId::Audio, "MPEG Audio rate", 0, ids::kLayer1AudioRate, "ampr", 5},
    {PageId::Audio, "MPEG Audio rate", 0, ids::kLayer2AudioRate, "ampr", 5},
    {PageId::Audio, "MPEG Audio rate", 0, ids::kEncoder1Layer1Rate, "a1br", 2},
    {PageId::Audio, "MPEG Audio rate", 0, ids::kEncoder1Layer2Rate, "a1br", 2},
    {PageId::Audio, "MPEG Audio rate", 0, ids::kEncoder2Layer1Rate, "a2br", 2},
    {PageId::Audio, "MPEG Audio rate", 0, ids::kEncoder2Layer2Rate, "a2br", 2},
    {PageId::Audio, "Audio input level", 0, ids::kAudioInputLevel, "alev", 5},
    {PageId::Audio, "Audio input level", 0, ids::kK610AudioInputLevel, "alev", 2},
    {PageId::Audio, "Second stereo audio pair", ids::kSecondStereoPairCaption, ids::kSecondStereoPair, "aen2", 1},
    {PageId::Audio, "Mic input bias", 0, ids::kMicInputBias, "abmb", 2},
    {PageId::Video, "Video input", 0, ids::kVideoInput, "vinp", 5},
    {PageId::Video, "Resolution", ids::kResolutionCaption, ids::kResolution, "ehor", 5},
    {PageId::Video, "MPEG mode", ids::kMpegModeCaption, ids::kMpegMode, "eenc", 5},
    {PageId::Video, "MPEG4 encoding mode", ids::kEncodingModeCaption, ids::kMpeg4EncodingMode, "ecmd", 5},
    {PageId::Video, "MPEG4 frame rate", ids::kFrameRateCaption, ids::kFrameRate, "efrm", 5},
    {PageId::Video, "Video bitrate (Mbit/s)", 0, ids::kVideoBitrate, "evid", 5},
    {PageId::Video, "Manual", 0, ids::kManual, "evbr", 5},
    {PageId::Video, "Video sharpness", 0, ids::kVideoSharpness, "esha", 5},
    {PageId::Video, "Video profile", ids::kVideoProfileCaption, ids::kVideoProfile, "epro", 1},
    {PageId::Video, "Mux bitrate (Mbit/s)", ids::kMuxBitrateCaption, ids::kMuxBitrate, "mbit", 1},
    {PageId::Video, "Video input", 0, ids::kK610VideoInput, "vinp", 2},
    {PageId::Video, "MPEG mode", ids::kK610MpegModeCaption, ids::kK610MpegMode, "eenc", 2},
    {PageId::Video, "HD input format", ids::kHdInputFormatCaption, ids::kHdInputFormat, "vhdf", 2},
    {PageId::Video, "Sub horizontal resolution", ids::kSubHorizontalResolutionCaption,
     ids::kSubHorizontalResolution, "ehor", 2},
    {PageId::Video, "Encoding mode", ids::kEncodingModeCaption, ids::kK610EncodingMode, "ecmd", 2},
    {PageId::Video, "Frame rate", ids::kFrameRateCaption, ids::kFrameRate, "efrm", 2},
    {PageId::Video, "Sub vertical resolution", ids::kSubVerticalResolutionCaption, ids::kSubVerticalResolution,
     "ever", 2},
    {PageId::Video, "GOP length", ids::kGopLengthCaption, ids::kGopLength, "eper", 2},
    {PageId::Video, "DTS delay (ms)", ids::kDtsDelayCaption, ids::kDtsDelay, "edts", 2},
    {PageId::Video, "Use as total PTS offset", 0, ids::kTotalPtsOffset, "epts", 2},
    {PageId::Video, "Video bitrate (Mbit/s)", 0, ids::kVideoBitrate, "evid", 2},
    {PageId::Video, "Manual", 0, ids::kManual, "evbr", 2},
    {PageId::Video, "Video sharpness", 0, ids::kK610VideoSharpness, "esha", 2},
    {PageId::Video, "Mux bitrate (Mbit/s)", ids::kMuxBitrateCaption, ids::kMuxBitrate, "mbit", 2},
    {PageId::Video, "Pattern generator", ids::kPatternGeneratorCaption, ids::kPatternGenerator, "vpgn", 2},
    {PageId::UnitParameters, "Unit name", 0, ids::kUnitName, "gnam", 7},
    {PageId::UnitParameters, "Sleep mode", 0, ids::kSleepMode, "gsle", 7},
    {PageId::UnitParameters, "Data", 0, ids::kDataInput, "dinp", 4},
    {PageId::UnitParameters, "Data", 0, ids::kModeDataInput, "dinp", 3},
    {PageId::UnitParameters, "Data baud rate", 0, ids::kDataBaudRate, "dbau", 7},
    {PageId::UnitParameters, "Data packet length", ids::kDataPacketLengthCaption, ids::kDataPacketLength, "dpln",
     2},
    {PageId::UnitParameters, "Transport stream control", ids::kTransportStreamControlCaption,
     ids::kTransportStreamControl, "gosw", 1},
    {PageId::UnitParameters, "Chaining input", 0, ids::kChainingInput, "cinp", 7},
    {PageId::UnitParameters, "Chain no.", 0, ids::kChainNumber, "ccha", 7},
    {PageId::UnitParameters, "Chaining output", 0, ids::kChainingOutput, "cout", 7},
    {PageId::UnitParameters, "Current config", 0, ids::kCurrentConfig, "glod", 7},
    {PageId::UnitParameters, "Scrambling", 0, ids::kScrambling, "zscr", 7},
    {PageId::UnitParameters, "Heartbeat enable", 0, ids::kHeartbeatEnable, "gblo", 7},
    {PageId::UnitParameters, "Metadata", 0, ids::kMetadata, "meta", 7},
    {PageId::UnitParameters, "On Screen Display", ids::kOnScreenDisplayCaption, ids::kOnScreenDisplay, "gosd", 2},
    {PageId::UnitParameters, "PMT PID", ids::kPmtPidCaption, ids::kPmtPid, "pmpd", 2},
    {PageId::UnitParameters, "PCR PID", ids::kPcrPidCaption, ids::kPcrPid, "pcpd", 2},
    {PageId::UnitParameters, "Video PID", ids::kVideoPidCaption, ids::kVideoPid, "pvid", 2},
    {PageId::UnitParameters, "Audio 1 PID", ids::kAudio1PidCaption, ids::kAudio1Pid, "pau1", 2},
    {PageId::UnitParameters, "Audio 2 PID", ids::kAudio2PidCaption, ids::kAudio2Pid, "pau2", 2},
    {PageId::UnitParameters, "Data PID", ids::kDataPidCaption, ids::kDataPid, "pdat", 2},
    {PageId::SatelliteModulator, "Carrier frequency (MHz)", 0, ids::kCarrierFrequency, "scar", 7},
    {PageId::SatelliteModulator, "Symbol rate (ksymbols/s)", 0, ids::kSymbolRate, "ssym", 7},
    {PageId::SatelliteModulator, "Spectrum polarity", 0, ids::kSpectrumPolarity, "spol", 7},
    {PageId::SatelliteModulator, "Roll off", 0, ids::kRollOff, "srol", 7},
    {PageId::SatelliteModulator, "Modulation", 0, ids::kSatModulation, "smod", 7},
    {PageId::SatelliteModulator, "FEC family", 0, ids::kFecFamily, "scod", 7},
    {PageId::SatelliteModulator, "FEC rate", 0, ids::kFecRate, "sfec", 7},
    {PageId::SatelliteModulator, "Signal level (dBm)", 0, ids::kSignalLevel, "slev", 7},
    {PageId::SatelliteModulator, "Output enable", 0, ids::kOutputEnable, "ssig", 7},
    {PageId::SatelliteModulator, "Carrier wave tone", 0, ids::kCarrierWaveTone, "scwt", 7},
    {PageId::SatelliteModulator, "Modulator version", 0, ids::kModulatorVersion, "sver", 7},
    {PageId::SatelliteModulator, "Modulator temperature (°C)", 0, ids::kModulatorTemperature, "stmp", 7},
    {PageId::SatelliteModulator, "Enable descriptors", 0, ids::kEnableDescriptors, "sdel", 7},
    {PageId::SatelliteModulator, "Satellite frequency (MHz)", 0, ids::kSatelliteFrequency, "sfre", 7},
    {PageId::SatelliteModulator, "Orbital position (°)", 0, ids::kOrbitalPosition, "sorb", 7},
    {PageId::SatelliteModulator, "West-East flag", 0, ids::kWestEastFlag, "swef", 7},
    {PageId::SatelliteModulator, "Polarization", 0, ids::kPolarization, "spla", 7},
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

std::set<int> IdSet(const std::vector<int>& list) { return {list.begin(), list.end()}; }

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
      const auto row =
          std::find_if(table.begin(), table.end(), [&](const RowDescriptor& r) { return r.control == e.control; });
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
        case Kind::StatusList:
          EXPECT_EQ(e.kind, ControlKind::Edit);
          break;
        case Kind::List:
          EXPECT_EQ(e.kind, ControlKind::List);
          break;
        case Kind::Check:
          EXPECT_EQ(e.kind, ControlKind::Check);
          break;
        case Kind::Address:
          ADD_FAILURE() << "no page has an address control";
          break;
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
      const auto row =
          std::find_if(table.begin(), table.end(), [&](const RowDescriptor& r) { return r.control == e.control; });
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
    {"gtmp", ids::kFpgaCoreTemp, Variant::Other},
    {"gvnt", ids::kFpgaCoreVoltage, Variant::Other},
    {"gvax", ids::kFpgaAuxVoltage, Variant::Other},
    {"gosw", ids::kTransportStreamControl, Variant::K610},
};

bool ShownAnywhere(const RowDescriptor& row, Variant v) {
  for (const auto& p : AllPages())
    for (const auto& e : p.entries)
      if (Bound(e) && e.control == row.control && std::string_view(e.mnemonic) == row.mnemonic && e.ControlOn(v))
        return true;
  return false;
}

TEST(Layouts, EveryRowIsShownWhereItExistsAndNowhereElse) {
  for (const auto table : {params::MainTableRows(), params::SatmodTableRows()}) {
    for (const auto& row : table) {
      for (Variant v : kEveryVariant) {
        const bool hiddenByLayout =
            std::any_of(std::begin(kHiddenRows), std::end(kHiddenRows), [&](const HiddenRow& h) {
              return h.control == row.control && h.mnemonic == std::string_view(row.mnemonic) && h.variant == v;
            });
        const bool expected = RowExists(row, v) && !hiddenByLayout;
        EXPECT_EQ(ShownAnywhere(row, v), expected) << row.mnemonic << " " << row.control << " on " << Name(v);
      }
    }
  }
  // The exceptions are real: each row exists there and is hidden.
  for (const auto& h : kHiddenRows) {
    const auto table = params::MainTableRows();
    const auto row =
        std::find_if(table.begin(), table.end(), [&](const RowDescriptor& r) { return r.control == h.control; });
    ASSERT_NE(row, table.end());
    EXPECT_TRUE(RowExists(*row, h.variant)) << h.mnemonic;
  }
}

TEST(Layouts, NoIdTwiceOnAPageOrInTheAdvancedOptionsWindow) {
  for (Variant v : kEveryVariant) {
    for (const auto& p : AllPages()) {
      const auto shownIds = VisibleIds(p.id, v);
      EXPECT_EQ(IdSet(shownIds).size(), shownIds.size()) << Name(p.id) << " on " << Name(v);
      EXPECT_FALSE(shownIds.empty());
    }
    // The window finds a control by id in itself and then in every page.
    std::vector<int> window;
    for (const auto& e : Window(WindowId::AdvancedOptions).controls) window.push_back(e.control);
    for (PageId p : kAdvanced) {
      const auto shownIds = VisibleIds(p, v);
      window.insert(window.end(), shownIds.begin(), shownIds.end());
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
  std::set<int> shownIds;
  for (PageId p : kAdvanced) {
    const auto all = AllIds(p);
    shownIds.insert(all.begin(), all.end());
  }
  auto hide = [&](std::initializer_list<int> list) {
    for (int id : list) shownIds.erase(id);
  };
  auto hideRange = [&](int from, int to) {
    for (int id = from; id <= to; ++id) shownIds.erase(id);
  };
  if (v != Variant::K240)
    hide({ids::kSecondStereoPairCaption, ids::kSecondStereoPair, ids::kTransportStreamControlCaption,
          ids::kTransportStreamControl, ids::kVideoProfileCaption, ids::kVideoProfile});
  if (v != Variant::K610) {
    hide({ids::kEncoder1Group, ids::kEncoder2Group, ids::kEncoder1AudioEncoder, ids::kEncoder2AudioEncoder,
          ids::kEncoder1AudioSource, ids::kEncoder2AudioSource, ids::kEncoder1Layer1Rate, ids::kEncoder2Layer1Rate,
          ids::kEncoder1Layer2Rate, ids::kEncoder2Layer2Rate, ids::kOnScreenDisplay, ids::kOnScreenDisplayCaption,
          ids::kGopLengthCaption, ids::kGopLength, ids::kDtsDelayCaption, ids::kDtsDelay});
    hideRange(ids::kPmtPidCaption, ids::kDataPid);
    hide({ids::kDataPacketLengthCaption, ids::kDataPacketLength, ids::kNetworkNameCaption, ids::kNetworkName,
          ids::kK610AudioInputLevel, ids::kMicInputBias, ids::kTotalPtsOffset});
    hideRange(ids::kBatteryVoltageCaption, ids::kK610OutputPower);
  }
  if (v != Variant::Other) {
    hide({ids::kDataInput});
  } else {
    hide({ids::kModeDataInput, ids::kAudioSourceCaption, ids::kMuxBitrateCaption, ids::kMuxBitrate});
    hideRange(ids::kFpgaCoreTempCaption, ids::kFpgaAuxVoltage);
  }
  if (v == Variant::Other) {
    hideRange(ids::kVideoProfileCaption, ids::kFpgaAuxVoltage);
    hide({ids::kSecondStereoPairCaption, ids::kSecondStereoPair, ids::kTransportStreamControlCaption,
          ids::kTransportStreamControl, ids::kVideoProfileCaption, ids::kVideoProfile});
  }
  if (v == Variant::K610)
    hide({ids::kVideoInput, ids::kResolutionCaption, ids::kResolution, ids::kMpegModeCaption, ids::kMpegMode,
          ids::kMpeg4EncodingMode, ids::kVideoSharpness, ids::kAudioSource, ids::kAudioEncoder,
          ids::kLayer1AudioRate, ids::kLayer2AudioRate, ids::kAudioInputLevel, ids::kDvbtServiceNameCaption,
          ids::kDvbtServiceName, ids::kOutputPower});
  else
    hide({ids::kK610VideoInput, ids::kHdInputFormatCaption, ids::kHdInputFormat,
          ids::kSubHorizontalResolutionCaption, ids::kSubHorizontalResolution, ids::kSubVerticalResolutionCaption,
          ids::kSubVerticalResolution, ids::kK610EncodingMode, ids::kK610VideoSharpness, ids::kK610MpegModeCaption,
          ids::kK610MpegMode});
  return shownIds;
}

TEST(Layouts, AdvancedOptionsPagesShowWhatTheVariantLayoutLeaves) {
  for (Variant v : kEveryVariant) {
    std::set<int> shown;
    for (PageId p : kAdvanced) {
      const auto shownIds = VisibleIds(p, v);
      shown.insert(shownIds.begin(), shownIds.end());
    }
    EXPECT_EQ(shown, AdvancedIdsAfterInit(v)) << Name(v);
  }
  EXPECT_EQ(CaptionText(PageId::Video, ids::kEncodingModeCaption, Variant::K610), "Encoding mode");
  EXPECT_EQ(CaptionText(PageId::Video, ids::kFrameRateCaption, Variant::K610), "Frame rate");
  for (Variant v : {Variant::K240, Variant::Other}) {
    EXPECT_EQ(CaptionText(PageId::Video, ids::kEncodingModeCaption, v), "MPEG4 encoding mode");
    EXPECT_EQ(CaptionText(PageId::Video, ids::kFrameRateCaption, v), "MPEG4 frame rate");
  }
}

// The main settings page as a full refresh leaves it, before any value is
// loaded.
std::set<int> MainIdsAfterRefresh(Variant v) {
  std::set<int> shownIds = AllIds(PageId::MainSettings);
  const std::initializer_list<int> k610 = {ids::kK610VideoInput, ids::kHdInputFormat, ids::kAudioEncoder2Caption,
                                           ids::kAudioEncoder1Source, ids::kAudioEncoder2Source};
  const std::initializer_list<int> others = {ids::kVideoInput, ids::kAudio, ids::kPresetTransmitModeCaption};
  for (int id : v == Variant::K610 ? others : k610) shownIds.erase(id);
  // The "Satellite modulator" button: K240 with a modulator only.
  if (v != Variant::K240) shownIds.erase(ids::kSatmod);
  return shownIds;
}

TEST(Layouts, MainSettingsPageShowsWhatTheVariantLayoutLeaves) {
  for (Variant v : kEveryVariant) {
    EXPECT_EQ(IdSet(VisibleIds(PageId::MainSettings, v)), MainIdsAfterRefresh(v)) << Name(v);
    EXPECT_EQ(CaptionText(PageId::MainSettings, ids::kAudioCaption, v),
              v == Variant::K610 ? "Audio encoder 1" : "Audio");
  }
  // The HD input format list and the satellite modulator button are also
  // decided at run time.
  EXPECT_TRUE(FindControl(PageId::MainSettings, ids::kHdInputFormat, Variant::K610)->byRule);
  EXPECT_TRUE(FindControl(PageId::MainSettings, ids::kSatmod, Variant::K240)->byRule);
  EXPECT_FALSE(FindControl(PageId::MainSettings, ids::kK610VideoInput, Variant::K610)->byRule);
}

TEST(Layouts, OnK610TheMainPageHidesThePresetCaptionButKeepsItsList) {
  const Entry* preset = FindControl(PageId::MainSettings, ids::kPresetTransmitMode, Variant::K610);
  ASSERT_NE(preset, nullptr);
  EXPECT_FALSE(preset->CaptionOn(Variant::K610));
  EXPECT_TRUE(preset->CaptionOn(Variant::K240));
  EXPECT_TRUE(preset->CaptionOn(Variant::Other));
  EXPECT_EQ(CaptionText(PageId::MainSettings, ids::kPresetTransmitModeCaption, Variant::K610), "");
  EXPECT_EQ(CaptionText(PageId::MainSettings, ids::kPresetTransmitModeCaption, Variant::K240),
            "Preset transmit mode");
}

TEST(Layouts, OnTheOtherVariantTheK240ControlsAreHiddenAndDataHasFourEntries) {
  const Variant o = Variant::Other;
  for (const char* caption :
       {"Video profile", "Second stereo audio pair", "Transport stream control", "Audio source",
        "Mux bitrate (Mbit/s)", "FPGA core temp", "FPGA core voltage", "FPGA aux voltage"}) {
    for (PageId p : kAdvanced)
      for (const Entry* e : EntriesFor(p, o)) EXPECT_NE(e->caption.text, caption) << Name(p);
  }
  const Entry* data = FindControl(PageId::UnitParameters, ids::kDataInput, o);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(FindControl(PageId::UnitParameters, ids::kModeDataInput, o), nullptr);
  const auto table = params::MainTableRows();
  const auto row = std::find_if(table.begin(), table.end(),
                                [](const RowDescriptor& r) { return r.control == ids::kDataInput; });
  ASSERT_NE(row, table.end());
  EXPECT_EQ(row->options->size(), 4u);
  // On K240 and K610 the long list stands in the same place.
  for (Variant v : {Variant::K240, Variant::K610}) {
    const Entry* longList = FindControl(PageId::UnitParameters, ids::kModeDataInput, v);
    ASSERT_NE(longList, nullptr);
    EXPECT_EQ(FindControl(PageId::UnitParameters, ids::kDataInput, v), nullptr);
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
      {PageId::MainSettings, ids::kVideoInput, Variant::K240, ids::kK610VideoInput, Variant::K610},
      {PageId::MainSettings, ids::kAudio, Variant::Other, ids::kAudioEncoder1Source, Variant::K610},
      {PageId::Modulation, ids::kOutputPower, Variant::K240, ids::kK610OutputPower, Variant::K610},
      {PageId::Audio, ids::kAudioEncoder, Variant::K240, ids::kEncoder1AudioEncoder, Variant::K610},
      {PageId::Audio, ids::kAudioInputLevel, Variant::Other, ids::kK610AudioInputLevel, Variant::K610},
      {PageId::Audio, ids::kLayer1AudioRate, Variant::K240, ids::kEncoder1Layer1Rate, Variant::K610},
      {PageId::UnitParameters, ids::kDataPacketLength, Variant::K610, ids::kTransportStreamControl, Variant::K240},
      {PageId::Video, ids::kVideoInput, Variant::Other, ids::kK610VideoInput, Variant::K610},
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
  const Entry* left = FindControl(PageId::Audio, ids::kEncoder1Group, x);
  const Entry* right = FindControl(PageId::Audio, ids::kEncoder2Group, x);
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
  for (int id :
       {ids::kEncoder1AudioEncoder, ids::kEncoder1AudioSource, ids::kEncoder1Layer1Rate, ids::kEncoder1Layer2Rate})
    EXPECT_TRUE(framedBy(left, FindControl(PageId::Audio, id, x))) << id;
  for (int id :
       {ids::kEncoder2AudioEncoder, ids::kEncoder2AudioSource, ids::kEncoder2Layer1Rate, ids::kEncoder2Layer2Rate})
    EXPECT_TRUE(framedBy(right, FindControl(PageId::Audio, id, x))) << id;
  for (Variant v : {Variant::K240, Variant::Other}) {
    EXPECT_EQ(FindControl(PageId::Audio, ids::kEncoder1Group, v), nullptr);
    EXPECT_EQ(FindControl(PageId::Audio, ids::kEncoder2Group, v), nullptr);
  }
  // One rate list of each encoder at a time.
  EXPECT_TRUE(FindControl(PageId::Audio, ids::kEncoder1Layer1Rate, x)->byRule);
  EXPECT_TRUE(FindControl(PageId::Audio, ids::kEncoder2Layer2Rate, x)->byRule);
  EXPECT_TRUE(FindControl(PageId::Audio, ids::kLayer1AudioRate, Variant::K240)->byRule);
}

TEST(Layouts, VideoPageHasOneArrangementPerVariantGroup) {
  // The frame rate list is one control in both arrangements.
  const Entry* k = FindControl(PageId::Video, ids::kFrameRate, Variant::K240);
  const Entry* x = FindControl(PageId::Video, ids::kFrameRate, Variant::K610);
  ASSERT_NE(k, nullptr);
  ASSERT_NE(x, nullptr);
  EXPECT_NE(k, x);
  EXPECT_EQ(k->caption.text, "MPEG4 frame rate");
  EXPECT_EQ(x->caption.text, "Frame rate");
  // "Manual" right of the bitrate in both.
  for (Variant v : kEveryVariant) {
    const Entry* bitrate = FindControl(PageId::Video, ids::kVideoBitrate, v);
    const Entry* manual = FindControl(PageId::Video, ids::kManual, v);
    ASSERT_NE(bitrate, nullptr);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(manual->place.row, bitrate->place.row);
    EXPECT_GT(manual->place.column, bitrate->place.column);
    EXPECT_EQ(manual->kind, ControlKind::Check);
  }
  const Entry* dts = FindControl(PageId::Video, ids::kDtsDelay, Variant::K610);
  const Entry* pts = FindControl(PageId::Video, ids::kTotalPtsOffset, Variant::K610);
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
  EXPECT_TRUE(has(entries, ids::kAudioSource));
  EXPECT_FALSE(has(controls, ids::kAudioSource));
  EXPECT_EQ(CaptionText(PageId::Audio, ids::kAudioSourceCaption, Variant::K610), "Audio source");
  EXPECT_EQ(CaptionText(PageId::Audio, ids::kAudioSourceCaption, Variant::Other), "");
  EXPECT_FALSE(has(EntriesFor(PageId::Audio, Variant::Other), ids::kAudioSource));
  EXPECT_EQ(FindControl(PageId::Audio, ids::kAudioSource, Variant::K610), nullptr);
  EXPECT_NE(FindControl(PageId::Audio, ids::kAudioSource, Variant::K240), nullptr);
}

TEST(Layouts, MainSettingsPageButtons) {
  const struct {
    int id;
    const char* caption;
    Area area;
  } buttons[] = {
      {ids::kMainApply, "Apply", Area::Below},
      {ids::kMainRefresh, "Refresh", Area::Below},
      {ids::kSaveConfigFile, "Save config to file", Area::TopRight},
      {ids::kLoadConfigFile, "Load config from file", Area::TopRight},
      {ids::kAdvanced, "Advanced", Area::Right},
      {ids::kSatmod, "Satellite modulator", Area::Right},
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
  EXPECT_LT(at(ids::kSaveConfigFile).row, at(ids::kLoadConfigFile).row);
  EXPECT_LT(at(ids::kAdvanced).row, at(ids::kSatmod).row);
  EXPECT_LT(at(ids::kMainApply).column, at(ids::kMainRefresh).column);
  // The key button beside "Scrambling" shows icon 131 and has no caption.
  for (Variant v : kEveryVariant) {
    const Entry* key = FindControl(PageId::MainSettings, ids::kWriteKey, v);
    const Entry* scrambling = FindControl(PageId::MainSettings, ids::kScrambling, v);
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
      {PageId::UnitInformation, "Unit information", 124},
      {PageId::Modulation, "Modulation", 125},
      {PageId::Audio, "Audio", 126},
      {PageId::Video, "Video", 127},
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
  EXPECT_EQ(own.at(ids::kTabs)->kind, ControlKind::TabControl);
  EXPECT_EQ(own.at(ids::kWindowApply)->caption.text, "Apply");
  EXPECT_EQ(own.at(ids::kWindowRefresh)->caption.text, "Refresh");
  EXPECT_EQ(own.at(ids::kWindowApply)->place.area, Area::Below);

  const auto& sat = Window(WindowId::SatelliteModulator);
  EXPECT_EQ(sat.dialogTemplate, 122);
  EXPECT_EQ(sat.title, "Satellite modulator");
  ASSERT_EQ(sat.pages.size(), 1u);
  EXPECT_EQ(Layout(sat.pages[0]).dialogTemplate, 122);
  for (Variant v : kEveryVariant) {
    const Entry* apply = FindControl(PageId::SatelliteModulator, ids::kWindowApply, v);
    const Entry* refresh = FindControl(PageId::SatelliteModulator, ids::kWindowRefresh, v);
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
  const std::vector<std::string> expected = {"scar", "ssym", "spol", "srol", "smod", "scod",
                                             "sfec", "slev", "ssig", "scwt", "sver", "stmp",
                                             "sdel", "sfre", "sorb", "swef", "spla"};
  EXPECT_EQ(shown, expected);
  std::set<std::string> table;
  for (const auto& r : params::SatmodTableRows()) table.insert(r.mnemonic);
  EXPECT_EQ(table, std::set<std::string>(expected.begin(), expected.end()));
}

TEST(Layouts, LookupsAnswerNothingForControlsNotShown) {
  EXPECT_EQ(FindControl(PageId::MainSettings, ids::kK610VideoInput, Variant::K240), nullptr);
  EXPECT_EQ(FindControl(PageId::MainSettings, ids::kVideoInput, Variant::K610), nullptr);
  EXPECT_EQ(FindControl(PageId::Video, ids::kVideoProfile, Variant::K610), nullptr);
  EXPECT_EQ(FindControl(PageId::Video, 9999, Variant::K240), nullptr);
  EXPECT_EQ(CaptionText(PageId::Video, 0, Variant::K240), "");
  EXPECT_EQ(&Layout(PageId::Audio), &AllPages()[3]);
  EXPECT_EQ(AllPages().size(), 7u);
  EXPECT_EQ(AllWindows().size(), 3u);
}
