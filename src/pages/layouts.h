// The layouts of the settings windows as data: every control of the main
// settings page, of the five pages of the Advanced options window and of the
// satellite modulator window, with its caption, kind, the mnemonic whose value
// it shows, its control id, the unit variants it is visible on and its place.
//
// Refresh, apply and the config files find every control by its id, so the
// ids are the contract; the places are ours. The Qt pages are built from
// these tables and hold no layout knowledge of their own.
//
// Visibility is the state after the variant layout has run: for the Advanced
// options window the layout applied once when it opens, for the main
// settings page the one every full refresh applies. Controls that stand in
// the same place on different variants (the two "Video input" lists, the two
// "Output power" lists ...) share one place; the entry visible on a variant
// says which of them is shown. The Video page has one arrangement for K240
// and the other variant and one for K610; a control present in both (the
// frame rate list, the bitrate edit, "Manual", the mux bitrate) has an entry
// in each, with disjoint variants.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "params/convert.h"

namespace vecta::pages {

using params::Variant;

// A set of unit variants.
class Variants {
 public:
  constexpr Variants() = default;
  constexpr explicit Variants(std::uint8_t bits) : bits_(bits) {}
  static constexpr std::uint8_t Bit(Variant v) { return v == Variant::K240 ? 1 : v == Variant::K610 ? 2 : 4; }
  constexpr bool Has(Variant v) const { return (bits_ & Bit(v)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr std::uint8_t Bits() const { return bits_; }
  constexpr Variants operator|(Variants o) const { return Variants(static_cast<std::uint8_t>(bits_ | o.bits_)); }
  constexpr Variants operator&(Variants o) const { return Variants(static_cast<std::uint8_t>(bits_ & o.bits_)); }
  constexpr bool operator==(const Variants&) const = default;

 private:
  std::uint8_t bits_ = 0;
};

inline constexpr Variants kNoVariant{0};
inline constexpr Variants kK240{1};
inline constexpr Variants kK610{2};
inline constexpr Variants kOther{4};
inline constexpr Variants kK240K610{3};
inline constexpr Variants kK240Other{5};
inline constexpr Variants kAllVariants{7};

// The three variants, for walking them.
inline constexpr Variant kEveryVariant[] = {Variant::K240, Variant::K610, Variant::Other};

enum class ControlKind : std::uint8_t {
  Edit,        // single-line edit; read-only where the descriptor row is not writable
  List,        // drop-down list, filled with the descriptor's options
  Check,       // check box; its caption is its own text
  PushButton,  // its caption is its own text
  GroupBox,    // frames a column of the page; its caption is its own text
  TabControl,  // the Advanced options window's page tabs
};

// Which part of a window a control sits in.
enum class Area : std::uint8_t {
  Grid,      // the settings: rows top to bottom; column 0 is the first
             // control column, column 1 stands right of it
  Below,     // buttons under the settings, left to right by column
  TopRight,  // buttons at the top right, top to bottom by row
  Right,     // buttons at the right, top to bottom by row
};

struct Place {
  Area area = Area::Grid;
  int row = 0;
  int column = 0;
  int rowSpan = 1;  // rows a group box frames, from its row down
};

// The caption standing left of a control (edits and lists). A caption with
// an id of its own may be shown on other variants than its control and may
// read differently by variant (one entry per reading). A caption without an
// id stands and shows with its control; where two controls share a place on
// different variants, their captions read the same.
struct Caption {
  std::string_view text;  // empty: no caption
  int id = 0;             // 0: no id of its own
  Variants shown;         // where the caption is visible
};

struct Entry {
  Caption caption;
  ControlKind kind;
  const char* mnemonic;  // null: bound to no parameter
  int control;           // control id
  Variants shown;        // where the control is visible
  Place place;
  // Within `shown`, visibility is also decided at run time: by the page
  // rules from the values (the two rate lists of one encoder, the main
  // page's HD input format list) or by the full refresh (the "Satellite
  // modulator" button).
  bool byRule = false;
  int icon = 0;  // icon resource the control shows; 0 for none

  // For check boxes, buttons and group boxes the caption is the control's
  // own text.
  bool CaptionIsOwnText() const {
    return kind == ControlKind::Check || kind == ControlKind::PushButton || kind == ControlKind::GroupBox;
  }
  bool ControlOn(Variant v) const { return shown.Has(v); }
  bool CaptionOn(Variant v) const { return !caption.text.empty() && caption.shown.Has(v); }
};

enum class WindowId : std::uint8_t { MainSettings, AdvancedOptions, SatelliteModulator };

enum class PageId : std::uint8_t {
  MainSettings,        // the main settings page
  UnitInformation,     // Advanced options, tab 0
  Modulation,          // tab 1
  Audio,               // tab 2
  Video,               // tab 3
  UnitParameters,      // tab 4
  SatelliteModulator,  // the satellite modulator window
};

struct PageLayout {
  PageId id;
  WindowId window;
  int dialogTemplate;
  std::string_view title;  // the tab caption of an Advanced options page
  std::span<const Entry> entries;
};

struct WindowLayout {
  WindowId id;
  int dialogTemplate;
  std::string_view title;           // empty for the main settings page, a child page
  std::span<const Entry> controls;  // the window's own controls, outside its pages
  std::span<const PageId> pages;    // in tab order
};

// Every page, main settings page first, then the Advanced options pages in
// tab order, then the satellite modulator window.
std::span<const PageLayout> AllPages();
const PageLayout& Layout(PageId page);

std::span<const WindowLayout> AllWindows();
const WindowLayout& Window(WindowId window);

// The descriptor table whose rows bind the controls of a page.
std::span<const params::RowDescriptor> TableFor(PageId page);

// The entries of a page with something visible on the variant (the control,
// its caption or both), in table order.
std::vector<const Entry*> EntriesFor(PageId page, Variant variant);
// The entries whose control is visible on the variant.
std::vector<const Entry*> ControlsFor(PageId page, Variant variant);
// The entry whose control has this id and is visible on the variant; null
// when there is none.
const Entry* FindControl(PageId page, int control, Variant variant);
// Every id visible on the variant: controls and captions with ids of their
// own, in table order.
std::vector<int> VisibleIds(PageId page, Variant variant);
// The text of a caption with an id of its own on the variant; empty when the
// caption is not shown there.
std::string_view CaptionText(PageId page, int captionId, Variant variant);

}  // namespace vecta::pages
