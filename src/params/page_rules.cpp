#include "params/page_rules.h"

#include "params/convert.h"

namespace vecta::params {
namespace {

// What the main table holds for a list row; kNoStoredPosition when it was
// never read (or there are no tables at all).
std::int32_t StoredPosition(const UnitContext& unit, std::string_view mnemonic, int control = 0) {
  return unit.tables ? unit.tables->main.StoredListPosition(mnemonic, control) : kNoStoredPosition;
}

// "Resolution" holds the four picture sizes, then "SIF" and "QSIF" while the
// encoder is MPEG4.
constexpr int kFixedSizes = 4;

void InsertSifEntries(ControlHost& host) {
  if (host.EntryCount(ids::kResolution) > kFixedSizes) return;  // already there
  host.InsertEntry(ids::kResolution, 4, kSifEntry);
  host.InsertEntry(ids::kResolution, 5, kQsifEntry);
}

}  // namespace

const PictureSizes& PictureSizesFor(std::int32_t videoInputPosition) {
  return videoInputPosition % 3 == 1 ? k576LineSizes : k480LineSizes;
}

// ---- Operator changes

void ShowHdInputFormatFor(ControlHost& host, std::int32_t videoInputPosition) {
  host.Show(ids::kHdInputFormat, videoInputPosition == 11 || videoInputPosition == 12);
}

void RefitResolutionSizes(const RuleMemory& rules, ControlHost& advanced, std::int32_t videoInputPosition) {
  if (!advanced.HasControl(ids::kResolution)) return;
  const PictureSizes& sizes = PictureSizesFor(videoInputPosition);
  for (int i = 0; i < kFixedSizes; ++i) {
    advanced.DeleteEntry(ids::kResolution, i);
    advanced.InsertEntry(ids::kResolution, i, sizes[static_cast<std::size_t>(i)]);
  }
  advanced.Select(ids::kResolution, rules.resolutionIndex);
}

void EnableBitrateByManual(ControlHost& advanced) {
  if (!advanced.HasControl(ids::kManual)) return;
  advanced.Enable(ids::kVideoBitrate, advanced.Checked(ids::kManual));
}

void ShowAudioRateListFor(ControlHost& host, std::int32_t audioEncoderPosition) {
  const bool layer1 = audioEncoderPosition <= 12;
  host.Show(ids::kLayer1AudioRate, layer1);
  host.Show(ids::kLayer2AudioRate, !layer1);
}

void ShowEncoderRateListFor(ControlHost& host, int encoder, std::int32_t audioEncoderPosition) {
  const bool layer1 = audioEncoderPosition <= 2;
  const int layer1List = encoder == 1 ? ids::kEncoder1Layer1Rate : ids::kEncoder2Layer1Rate;
  const int layer2List = encoder == 1 ? ids::kEncoder1Layer2Rate : ids::kEncoder2Layer2Rate;
  host.Show(layer1List, layer1);
  host.Show(layer2List, !layer1);
}

void OnMpegModeChanged(UnitContext& unit, ControlHost& advanced, std::int32_t position) {
  RuleMemory& rules = unit.rules;
  rules.encoderIndex = position;
  if (position == 1) {
    // MPEG4 offers the two small sizes; a unit already encoding at one of
    // them shows it as the current resolution.
    InsertSifEntries(advanced);
    if (rules.encodingMode > 3) {
      advanced.Select(ids::kResolution, rules.encodingMode);
      rules.resolutionIndex = rules.encodingMode;
    }
    advanced.Enable(ids::kMpeg4EncodingMode, rules.resolutionIndex <= 3);
  } else {
    // MPEG2 has neither the small sizes nor an encoding mode of its own; go
    // back to the resolution the unit last reported.
    while (advanced.EntryCount(ids::kResolution) > kFixedSizes) advanced.DeleteEntry(ids::kResolution, 4);
    rules.resolutionIndex = StoredPosition(unit, "ehor", ids::kResolution);
    advanced.Select(ids::kResolution, rules.resolutionIndex);
    advanced.Enable(ids::kMpeg4EncodingMode, false);
  }
}

void OnResolutionChanged(UnitContext& unit, ControlHost& advanced, std::int32_t position) {
  RuleMemory& rules = unit.rules;
  rules.resolutionIndex = position;
  // Leaving SIF/QSIF for a full picture size: the unit needs a real encoding
  // mode again.
  if (rules.encoderIndex == 1 && position < 4 && rules.encodingMode > 3) {
    advanced.Select(ids::kMpeg4EncodingMode, 0);
    rules.encodingMode = 0;
  }
  advanced.Enable(ids::kMpeg4EncodingMode, rules.resolutionIndex <= 3 && rules.encoderIndex != 0);
}

void OnMainVideoInputChanged(UnitContext& unit, ControlHost& mainPage, ControlHost* advanced, int controlId) {
  if (controlId == ids::kK610VideoInput) {
    ShowHdInputFormatFor(mainPage, mainPage.Selected(ids::kK610VideoInput));
  } else if (controlId == ids::kVideoInput) {
    if (advanced) RefitResolutionSizes(unit.rules, *advanced, mainPage.Selected(ids::kVideoInput));
  }
}

void OnAdvancedNotification(UnitContext& unit, ControlHost& advanced, int controlId) {
  switch (controlId) {
    case ids::kVideoInput:
      RefitResolutionSizes(unit.rules, advanced, advanced.Selected(ids::kVideoInput));
      break;
    case ids::kAudioEncoder:
      ShowAudioRateListFor(advanced, advanced.Selected(ids::kAudioEncoder));
      break;
    case ids::kResolution:
      OnResolutionChanged(unit, advanced, advanced.Selected(ids::kResolution));
      break;
    case ids::kMpegMode:
      OnMpegModeChanged(unit, advanced, advanced.Selected(ids::kMpegMode));
      break;
    default:
      break;
  }
}

void OnAdvancedCheckClicked(UnitContext&, ControlHost& advanced, int controlId) {
  if (controlId == ids::kManual) EnableBitrateByManual(advanced);
}

// ---- Loading values

void RememberLoadedValue(RuleMemory& rules, const ParamRow& row) {
  const auto position = row.Position();
  if (!position) return;
  if (row.Mnemonic() == "eenc") {
    rules.encoderIndex = *position;
  } else if (row.Mnemonic() == "ecmd" &&
             (row.Control() == ids::kMpeg4EncodingMode || row.Control() == ids::kK610EncodingMode)) {
    rules.encodingMode = *position;
  }
}

void LoadResolution(UnitContext& unit, ControlHost& host, std::int32_t position, bool windowOpening) {
  if (!host.HasControl(ids::kResolution)) return;
  RuleMemory& rules = unit.rules;
  const PictureSizes& sizes = PictureSizesFor(StoredPosition(unit, "vinp", ids::kVideoInput));
  host.ClearList(ids::kResolution);
  for (int i = 0; i < kFixedSizes; ++i) host.InsertEntry(ids::kResolution, i, sizes[static_cast<std::size_t>(i)]);
  host.Select(ids::kResolution, position);
  rules.resolutionIndex = position;
  if (rules.encoderIndex == 1) {
    InsertSifEntries(host);
    // A unit encoding at SIF or QSIF reports it as its encoding mode.
    if (rules.encodingMode > 3) {
      host.Select(ids::kResolution, rules.encodingMode);
      rules.resolutionIndex = rules.encodingMode;
    }
  }
  if (windowOpening && (rules.encoderIndex != 1 || rules.encodingMode > 3))
    host.Enable(ids::kMpeg4EncodingMode, false);
}

void ShowStoredValue(const ParamRow& row, ControlHost& host) {
  const int id = row.Control();
  if (!host.HasControl(id)) return;
  const auto value = row.Get();
  if (!value) return;
  switch (row.GetKind()) {
    case Kind::Text:
      if (const auto* text = std::get_if<std::string>(&*value)) host.SetText(id, *text);
      break;
    case Kind::List:
      if (const auto* position = std::get_if<std::int32_t>(&*value)) host.Select(id, *position);
      break;
    case Kind::Address:
      if (const auto* address = std::get_if<std::uint32_t>(&*value)) host.SetAddress(id, *address);
      break;
    case Kind::StatusList:
      if (std::holds_alternative<std::int32_t>(*value)) host.SetText(id, ShownValue(row));
      break;
    case Kind::Check:
      if (const auto* tick = std::get_if<std::uint8_t>(&*value)) host.SetChecked(id, *tick == 1);
      break;
  }
}

void ShowPolledValue(const ParamTable& table, std::string_view mnemonic, ControlHost& window,
                     ControlHost* advanced) {
  for (const ParamRow& row : table.Rows()) {
    if (row.Mnemonic() != mnemonic) continue;
    std::lock_guard lock(row.Lock());
    if (!row.Get()) continue;
    if (row.GetKind() == Kind::List) return;
    ShowStoredValue(row, window);
    if (advanced) ShowStoredValue(row, *advanced);
    return;
  }
}

void LoadRuleAfter(UnitContext& /*unit*/, const ParamRow& row, ControlHost& window, ControlHost* advanced) {
  const std::string_view m = row.Mnemonic();
  if (row.Desc().Has(flag::kBitratePair) && row.GetKind() == Kind::Check) {
    // The bitrate edit of the Advanced options window follows the box.
    if (advanced) advanced->Enable(ids::kVideoBitrate, row.Check().value_or(0) != 0);
    return;
  }
  const auto position = row.Position();
  if (!position) return;
  if (m == "vinp") {
    // Only the window being loaded; the Advanced options window's own
    // HD input format list is left alone.
    if (window.HasControl(ids::kHdInputFormat)) ShowHdInputFormatFor(window, *position);
  } else if (m == "aenc") {
    ShowAudioRateListFor(window, *position);
    if (advanced) ShowAudioRateListFor(*advanced, *position);
  } else if (m == "a1en" || m == "a2en") {
    const int encoder = m == "a1en" ? 1 : 2;
    ShowEncoderRateListFor(window, encoder, *position);
    if (advanced) ShowEncoderRateListFor(*advanced, encoder, *position);
  }
}

void FillAdvancedFromCache(UnitContext& unit, ControlHost& advanced) {
  if (!unit.tables) return;
  for (const ParamRow& row : unit.tables->main.Rows()) {
    const RowDescriptor& desc = row.Desc();
    if (!advanced.HasControl(desc.control)) continue;
    const bool manual = desc.kind == Kind::Check && desc.Has(flag::kBitratePair);
    const auto value = row.Get();
    if (!value) {
      if (manual) {
        // The unit has not told us whether the bitrate is set by hand.
        advanced.Show(desc.control, false);
        advanced.Enable(ids::kVideoBitrate, false);
      }
      continue;
    }
    if (desc.kind == Kind::List && desc.control == ids::kResolution) {
      LoadResolution(unit, advanced, row.Position().value_or(kNoStoredPosition), true);
      continue;
    }
    if (desc.kind == Kind::Check) {
      // A check box is ticked for any non-zero value.
      const auto* tick = std::get_if<std::uint8_t>(&*value);
      advanced.SetChecked(desc.control, tick && *tick != 0);
      if (manual) advanced.Enable(ids::kVideoBitrate, tick && *tick != 0);
      continue;
    }
    ShowStoredValue(row, advanced);
    if (const auto position = row.Position()) {
      if (desc.mnemonic == std::string_view("aenc")) {
        ShowAudioRateListFor(advanced, *position);
      } else if (desc.mnemonic == std::string_view("a1en")) {
        ShowEncoderRateListFor(advanced, 1, *position);
      } else if (desc.mnemonic == std::string_view("a2en")) {
        ShowEncoderRateListFor(advanced, 2, *position);
      }
    }
  }
}

}  // namespace vecta::params
