// How the controls of the settings pages react to each other: the rules that
// run while the operator changes a control, and the ones that run when values
// are loaded into the pages (by a refresh, or when a newly opened Advanced
// options window is filled from the values cached by the last refresh).
//
// The windows only forward their notifications here; every rule finds its
// controls by id and does nothing for a control the window does not have.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "params/control_host.h"
#include "params/control_ids.h"
#include "params/descriptor.h"
#include "params/unit_context.h"

namespace vecta::params {

// The four fixed entries of the "Resolution" list. PAL inputs use the
// 576-line sizes, every other input ("Off" included) the 480-line sizes.
using PictureSizes = std::array<std::string_view, 4>;
inline constexpr PictureSizes k576LineSizes = {"704 x 576", "528 x 576", "480 x 576", "352 x 576"};
inline constexpr PictureSizes k480LineSizes = {"704 x 480", "528 x 480", "480 x 480", "352 x 480"};
// "PAL", "S-Video PAL" and "SDI PAL" sit at drop-down positions 1, 4 and 7.
const PictureSizes& PictureSizesFor(std::int32_t videoInputPosition);

// The two sizes that exist only while the encoder is MPEG4; the unit holds
// them as encoding mode 4 and 5, not as a resolution.
inline constexpr std::string_view kSifEntry = "SIF";
inline constexpr std::string_view kQsifEntry = "QSIF";

// ---- Rules that run while the operator changes a control

// Main settings page, selection change of a video input list (ids::kVideoInput
// or ids::kK610VideoInput). The K610 list shows or hides the HD input format
// list beside it; the other refits the Advanced options window's "Resolution"
// sizes when that window exists.
// `advanced` is the Advanced options window, or none.
void OnMainVideoInputChanged(UnitContext& unit, ControlHost& mainPage, ControlHost* advanced, int controlId);

// Advanced options window, list or edit change forwarded by a page: the
// video input, the audio encoder, the resolution and the MPEG mode lists.
// Any other id does nothing.
void OnAdvancedNotification(UnitContext& unit, ControlHost& advanced, int controlId);

// Advanced options window, check box clicked: "Manual" (ids::kManual). Any
// other id does nothing.
void OnAdvancedCheckClicked(UnitContext& unit, ControlHost& advanced, int controlId);

// The single rules, for callers that already know which one applies.
// The HD input format list is shown for "HD-SDI" and "HD HDMI".
void ShowHdInputFormatFor(ControlHost& host, std::int32_t videoInputPosition);
// Replaces the four picture sizes of "Resolution" in the Advanced options
// window, leaving "SIF"/"QSIF", and selects the remembered resolution index.
void RefitResolutionSizes(const RuleMemory& rules, ControlHost& advanced, std::int32_t videoInputPosition);
// The bitrate edit is enabled exactly while "Manual" is ticked.
void EnableBitrateByManual(ControlHost& advanced);
// Layer 1 rate list for "Off" to "MPEG Layer 1 48KHz Mono"
// (positions 0-12), Layer 2 rate list for the "MPEG Layer 2" encoders.
void ShowAudioRateListFor(ControlHost& host, std::int32_t audioEncoderPosition);
// The same for a K610 encoder (1 or 2): positions 0-2 ("Off" and the
// two Layer 1 entries) take the Layer 1 list.
void ShowEncoderRateListFor(ControlHost& host, int encoder, std::int32_t audioEncoderPosition);
// "MPEG mode" changed to `position`.
void OnMpegModeChanged(UnitContext& unit, ControlHost& advanced, std::int32_t position);
// "Resolution" changed to `position`.
void OnResolutionChanged(UnitContext& unit, ControlHost& advanced, std::int32_t position);

// ---- Rules that run when values are loaded

// eenc sets the encoder index; ecmd (either encoding mode list) the encoding mode.
// Run once per row loaded, before its value is shown.
void RememberLoadedValue(RuleMemory& rules, const ParamRow& row);

// Loads the K240 / other "Resolution" list (ids::kResolution) with `position`.
// `windowOpening` adds what a newly opened Advanced options window does to
// "MPEG4 encoding mode".
void LoadResolution(UnitContext& unit, ControlHost& host, std::int32_t position, bool windowOpening = false);

// What follows the plain showing of a loaded row in a refresh: vinp shows
// or hides the HD input format list (in `window` only), aenc, a1en and a2en
// pick their rate lists in `window` and `advanced`, and evbr sets the
// bitrate edit in `advanced`. Rows without a load rule do nothing.
void LoadRuleAfter(UnitContext& unit, const ParamRow& row, ControlHost& window, ControlHost* advanced);

// Fills a newly opened Advanced options window from the values cached by the
// last refresh, without any exchange with the unit: every row of the main
// table that holds a value and whose control the window has is shown, with
// the rate lists, the resolution list and the bitrate edit set as a load
// sets them; a "Manual" box with no value is hidden and the
// bitrate edit disabled.
void FillAdvancedFromCache(UnitContext& unit, ControlHost& advanced);

// The plain showing of a stored value in a control, by the row's kind (text,
// selection, address, option text, tick). Nothing when the row has no value.
void ShowStoredValue(const ParamRow& row, ControlHost& host);

// A value the poll thread stored: the first row of `table` with the mnemonic
// and a value is shown, under its lock, in its control on `window` and on
// `advanced` when given. Drop-down lists keep the operator's selection:
// polling never changes one visibly.
void ShowPolledValue(const ParamTable& table, std::string_view mnemonic, ControlHost& window,
                     ControlHost* advanced);

}  // namespace vecta::params
