// Apply: writes every parameter whose control differs from the value last
// read; derived rows become writes of the real mnemonics; mode changes wait
// for the unit behind the "Please wait" window.
#pragma once

#include <cstdint>

#include "params/control_host.h"
#include "params/descriptor.h"
#include "params/unit_context.h"

namespace vecta::params {

// Returns the number of writes made; callers refresh the same window when
// it is not 0. Rows with no stored value are passed over. The caller holds
// the poll lock.
std::uint8_t Apply(UnitContext& unit, ParamTable& table, ControlHost& window);

}  // namespace vecta::params
