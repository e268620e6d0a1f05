#include "params/refresh.h"

#include <algorithm>
#include <string>

#include "link/frame.h"
#include "link/link_lock.h"
#include "link/request.h"
#include "params/control_ids.h"
#include "params/convert.h"
#include "params/derived_rows.h"
#include "params/page_rules.h"

namespace vecta::params {
namespace {

constexpr std::string_view kNotAvailable = "Not available";

void HideUnanswered(const RowDescriptor& desc, ControlHost& window, ControlHost* advanced) {
  for (ControlHost* host : {&window, advanced}) {
    if (!host) continue;
    host->Show(desc.control, false);
    if (desc.Companion() != 0) host->Show(desc.Companion(), false);
  }
}

// Shows a freshly stored value in one window.
void ShowLoaded(UnitContext& unit, const ParamRow& row, ControlHost& host) {
  if (row.GetKind() == Kind::List && row.Control() == ids::kResolution) {
    LoadResolution(unit, host, row.Position().value_or(kNoStoredPosition));
    return;
  }
  ShowStoredValue(row, host);
}

void PostLamp(UnitContext& unit, const ParamRow& row, std::string_view replyText) {
  int lamp = 0;
  if (row.Mnemonic() == "oout")
    lamp = kLampRfOutput;
  else if (row.Mnemonic() == "vloc")
    lamp = kLampVideoLock;
  if (lamp == 0 || !unit.setLamp) return;
  unit.setLamp(lamp, LampIcon(row.Desc(), replyText));
}

}  // namespace

std::optional<std::int32_t> DerivedValue(std::string_view mnemonic, const ParamTable& main) {
  const DerivedRule* rule = FindDerivedRule(mnemonic);
  return rule ? rule->read(main) : std::nullopt;
}

void InitPage(ControlHost& window, const ParamTable& table) {
  for (const ParamRow& row : table.Rows()) {
    const RowDescriptor& desc = row.Desc();
    if (!window.HasControl(desc.control)) continue;
    if (desc.writable) {
      window.Enable(desc.control, true);
    } else if ((desc.kind == Kind::Text || desc.kind == Kind::StatusList) && !desc.Has(flag::kBitratePair)) {
      window.SetReadOnly(desc.control, true);
    } else {
      window.Enable(desc.control, false);
    }
    if (desc.kind == Kind::List && desc.options) {
      int position = 0;
      for (const std::string& option : *desc.options)
        if (option != kEmptyOption) window.InsertEntry(desc.control, position++, option);
    }
  }
}

namespace {

// Reads one row and shows what it got; true when the unit answered it.
bool ReadRow(UnitContext& unit, ParamRow& row, ControlHost& window, ControlHost* advanced) {
  const RowDescriptor& desc = row.Desc();
  link::LinkReply reply;
  const std::uint32_t rc =
      unit.link ? link::Exchange(*unit.link, link::ReadRequest(unit.unitAddress, desc.mnemonic), reply, 1) : 1u;
  if (rc != 0 || reply.status != '1') {
    // The row keeps what it had. Parameters a unit may lack altogether
    // disappear from the pages instead of showing stale values.
    if (desc.Has(flag::kHideIfUnanswered)) {
      HideUnanswered(desc, window, advanced);
    } else if (desc.control == ids::kBatteryVoltage) {
      window.SetText(desc.control, kNotAvailable);
      if (advanced) advanced->SetText(desc.control, kNotAvailable);
    }
    return false;
  }

  StoreReply(row, reply.value, &unit.firmware);
  // The encoder and its mode come before the resolution in the table, so
  // the resolution list below is built from what was just read.
  RememberLoadedValue(unit.rules, row);
  ShowLoaded(unit, row, window);
  if (advanced) ShowLoaded(unit, row, *advanced);
  LoadRuleAfter(unit, row, window, advanced);

  if (desc.Has(flag::kStatusLamp)) PostLamp(unit, row, reply.value);
  return true;
}

// `wanted` picks the rows read; without `whole` a derived row is shown anew
// only when what it stands for has changed, so an operator's choice there
// stays.
template <typename Wanted>
Answered RefreshWhere(UnitContext& unit, ParamTable& table, ControlHost& window, ControlHost* advanced, bool whole,
                      Wanted wanted) {
  const Variant variant = unit.variant();
  const ParamTable& main = unit.tables ? unit.tables->main : table;
  Answered answered;
  for (ParamRow& row : table.Rows()) {
    if (unit.StopRequested()) break;  // the program is closing mid-transfer
    const RowDescriptor& desc = row.Desc();
    if (!RowExists(desc, variant)) continue;
    if (desc.Derived()) {
      // Nothing is sent; only the window being loaded shows these.
      if (!window.HasControl(desc.control)) continue;
      const auto value = DerivedValue(desc.mnemonic, main);
      if (!value || (!whole && row.Position() == value)) continue;
      row.Set(*value);
      window.Select(desc.control, *value);
      continue;
    }
    if (wanted(desc.mnemonic) && ReadRow(unit, row, window, advanced)) answered.insert(desc.mnemonic);
  }
  return answered;
}

}  // namespace

Answered Refresh(UnitContext& unit, ParamTable& table, ControlHost& window, ControlHost* advanced) {
  return RefreshWhere(unit, table, window, advanced, true, [](std::string_view) { return true; });
}

Answered RefreshRows(UnitContext& unit, ParamTable& table, std::span<const std::string> mnemonics,
                     ControlHost& window, ControlHost* advanced) {
  return RefreshWhere(unit, table, window, advanced, false, [mnemonics](std::string_view m) {
    return std::find(mnemonics.begin(), mnemonics.end(), m) != mnemonics.end();
  });
}

void ClearShownValues(const ParamTable& table, ControlHost& window) {
  for (const ParamRow& row : table.Rows()) {
    const int id = row.Control();
    if (!window.HasControl(id)) continue;
    switch (row.GetKind()) {
      case Kind::Text:
      case Kind::StatusList:
        window.SetText(id, "");
        break;
      case Kind::List:
        window.Select(id, -1);
        break;
      case Kind::Address:
        window.SetAddress(id, 0);
        break;
      case Kind::Check:
        window.SetChecked(id, false);
        break;
    }
  }
}

}  // namespace vecta::params
