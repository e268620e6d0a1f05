// Page initialisation and refresh: a descriptor table and a window together.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "params/control_host.h"
#include "params/descriptor.h"
#include "params/unit_context.h"

namespace vecta::params {

// Prepares a window's controls once, when it is created: editable or
// read-only, and the entries of every drop-down list. No variant test.
void InitPage(ControlHost& window, const ParamTable& table);

// The mnemonics a refresh had answered with a value.
using Answered = std::set<std::string_view>;

// Reads every row of the table that exists for the board type from the unit,
// stores each value and shows it in `window` and, when given, in the same
// control of the Advanced options window. The caller holds the poll lock.
Answered Refresh(UnitContext& unit, ParamTable& table, ControlHost& window, ControlHost* advanced = nullptr);

// The same for the rows of `mnemonics` only: what another window wrote to
// the unit, read back. A derived row changes only when what it stands for
// did.
Answered RefreshRows(UnitContext& unit, ParamTable& table, std::span<const std::string> mnemonics,
                     ControlHost& window, ControlHost* advanced = nullptr);

// Empties every control of `window` that a row of `table` fills: no text,
// no selection, not ticked, address 0. Nothing shown is left from a unit
// that is no longer the one connected.
void ClearShownValues(const ParamTable& table, ControlHost& window);

// The value of a derived row, worked out from the stored positions of the
// main table by its rule (derived_rows.h); none when there is nothing to
// show yet.
std::optional<std::int32_t> DerivedValue(std::string_view mnemonic, const ParamTable& main);

}  // namespace vecta::params
