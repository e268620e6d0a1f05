#include "params/control_changes.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>

#include "params/page_rules.h"

namespace vecta::params {
namespace {

// The position a list shows after Select(position): none (-1) for a
// position it has no entry for.
std::int32_t ShownPosition(const ControlHost& window, int id, std::optional<std::int32_t> position) {
  if (!position || *position < 0 || *position >= window.EntryCount(id)) return -1;
  return *position;
}

// What a list shows for the row's value as refresh loads it; `loaded`
// replaces the stored position where the page shows another one.
bool ListDiffers(const ParamRow& row, ControlHost& window, std::optional<std::int32_t> loaded) {
  const int id = row.Control();
  return window.Selected(id) != ShownPosition(window, id, loaded);
}

bool Differs(const ParamRow& row, ControlHost& window, std::optional<std::int32_t> loadedPosition) {
  const int id = row.Control();
  if (!window.HasControl(id) || !row.Get()) return false;
  switch (row.GetKind()) {
    case Kind::Text:
      return window.Text(id) != row.Text().value_or(std::string());
    case Kind::List:
      return ListDiffers(row, window, loadedPosition);
    case Kind::Address:
      return window.Address(id) != row.Address().value_or(0);
    case Kind::Check:
      return window.Checked(id) != (row.Check().value_or(0) == 1);
    case Kind::StatusList:
      return false;  // shown only; the operator cannot change it
  }
  return false;
}

// The K240 "Resolution" list shows "SIF" or "QSIF" (positions 4 and 5)
// rather than the stored size while the encoder is MPEG4 and the unit
// encodes at one of those sizes.
std::optional<std::int32_t> LoadedPosition(const ParamRow& row, const ParamTable& table) {
  const auto stored = row.Position();
  if (row.Control() != ids::kResolution || row.Mnemonic() != "ehor") return stored;
  constexpr std::int32_t kMpeg4 = 1;
  constexpr std::int32_t kFirstSmallSize = 4;
  const std::int32_t encoder = table.StoredListPosition("eenc", ids::kMpegMode);
  const std::int32_t mode = table.StoredListPosition("ecmd", ids::kMpeg4EncodingMode);
  if (encoder == kMpeg4 && mode != kNoStoredPosition && mode >= kFirstSmallSize) return mode;
  return stored;
}

// The "Manual" box and its bitrate are one setting: while the box is
// ticked, a bitrate other than the unit's (in the kbit/s Apply writes)
// changes it as much as the box does.
bool IsManualBox(const ParamRow& row) {
  return row.GetKind() == Kind::Check && row.Desc().Has(flag::kBitratePair);
}

bool ManualBitrateDiffers(const ParamTable& table, ControlHost& window) {
  if (!window.HasControl(ids::kManual) || !window.Checked(ids::kManual)) return false;
  const ParamRow* rate = table.Find("evid", ids::kVideoBitrate);
  if (!rate || !window.HasControl(ids::kVideoBitrate)) return false;
  auto kbits = [](const std::string& text) { return ScaledIntegerText(std::atof(text.c_str()), 1000.0); };
  return kbits(window.Text(ids::kVideoBitrate)) != kbits(rate->Text().value_or(std::string()));
}

bool Counts(const ParamRow& row, const ControlHost& window, Variant variant) {
  const RowDescriptor& desc = row.Desc();
  return desc.writable && desc.kind != Kind::StatusList && RowExists(desc, variant) &&
         window.HasControl(desc.control);
}

}  // namespace

bool ShownValueDiffers(const ParamRow& row, ControlHost& window) { return Differs(row, window, row.Position()); }

bool ControlDiffers(const ParamRow& row, ControlHost& window) {
  const int id = row.Control();
  if (!window.HasControl(id)) return false;
  std::lock_guard lock(row.Lock());
  if (!row.Get()) return false;
  switch (row.GetKind()) {
    case Kind::Text: {
      const auto stored = row.Text();
      return !stored || *stored != window.Text(id);
    }
    case Kind::List: {
      const auto stored = row.Position();
      return !stored || *stored != window.Selected(id);
    }
    case Kind::Address: {
      const auto stored = row.Address();
      return !stored || *stored != window.Address(id);
    }
    case Kind::Check: {
      const auto stored = row.Check();
      return !stored || *stored != (window.Checked(id) ? 1 : 0);
    }
    case Kind::StatusList:
      return false;
  }
  return false;
}

namespace {

// The changed rows, one per control, in table order.
std::vector<const ParamRow*> ChangedRows(const ParamTable& table, ControlHost& window, Variant variant) {
  std::vector<const ParamRow*> rows;
  std::set<int> seen;
  for (const ParamRow& row : table.Rows()) {
    if (!Counts(row, window, variant) || seen.count(row.Control())) continue;
    if (!Differs(row, window, LoadedPosition(row, table)) &&
        !(IsManualBox(row) && ManualBitrateDiffers(table, window)))
      continue;
    seen.insert(row.Control());
    rows.push_back(&row);
  }
  return rows;
}

}  // namespace

std::vector<int> UnappliedControls(const ParamTable& table, ControlHost& window, Variant variant) {
  std::vector<int> ids;
  for (const ParamRow* row : ChangedRows(table, window, variant)) ids.push_back(row->Control());
  return ids;
}

std::string UnitValueTip(const ParamRow& row, ControlHost& window) {
  const std::string prefix = "Unit's value: ";
  const auto value = row.Get();
  if (!value) return prefix + "not read";
  switch (row.GetKind()) {
    case Kind::List: {
      // The entry as the list offers it (the resolution sizes read as the
      // video input has them); a position past the list by its wire value.
      const auto position = row.Position();
      const int id = row.Control();
      if (position && ShownPosition(window, id, position) >= 0) return prefix + window.EntryText(id, *position);
      return prefix + ShownValue(row.Desc(), value);
    }
    case Kind::Check:
      return prefix + (row.Check().value_or(0) == 1 ? "ticked" : "not ticked");
    case Kind::Text: {
      const std::string text = ShownValue(row.Desc(), value);
      return prefix + (text.empty() ? "empty" : text);
    }
    default:
      return prefix + ShownValue(row.Desc(), value);
  }
}

int MarkUnappliedControls(const ParamTable& table, ControlHost& window, Variant variant) {
  const std::vector<const ParamRow*> changed = ChangedRows(table, window, variant);
  std::set<int> marked;
  for (const ParamRow* row : changed) {
    if (IsManualBox(*row)) {
      // The setting is marked where it differs: the box, the bitrate, or both.
      const ParamRow* rate = table.Find("evid", ids::kVideoBitrate);
      if (rate && ManualBitrateDiffers(table, window)) {
        window.SetMarked(rate->Control(), true, UnitValueTip(*rate, window));
        marked.insert(rate->Control());
      }
      if (!Differs(*row, window, row->Position())) continue;
    }
    window.SetMarked(row->Control(), true, UnitValueTip(*row, window));
    marked.insert(row->Control());
  }
  for (const ParamRow& row : table.Rows())
    if (window.HasControl(row.Control()) && marked.insert(row.Control()).second)
      window.SetMarked(row.Control(), false, {});
  return static_cast<int>(changed.size());
}

std::string UnappliedChangesText(int count) {
  if (count <= 0) return {};
  if (count == 1) return "1 unapplied change";
  return std::to_string(count) + " unapplied changes";
}

}  // namespace vecta::params
