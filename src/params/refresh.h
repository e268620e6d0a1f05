// Page initialisation and refresh: a descriptor table and a window together.
#pragma once

#include "params/control_host.h"
#include "params/descriptor.h"
#include "params/unit_context.h"

namespace vecta::params {

// Prepares a window's controls once, when it is created: editable or
// read-only, and the entries of every drop-down list. No variant test.
void InitPage(ControlHost& window, const ParamTable& table);

// Reads every row of the table that exists for the board type from the unit,
// stores each value and shows it in `window` and, when given, in the same
// control of the Advanced options window. The caller holds the poll lock.
void Refresh(UnitContext& unit, ParamTable& table, ControlHost& window, ControlHost* advanced = nullptr);

}  // namespace vecta::params
