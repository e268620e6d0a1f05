// Whether what a window's control shows differs from the value the unit last
// gave for its row: the operator has changed it (or the row was never read).
#pragma once

#include "params/control_host.h"
#include "params/descriptor.h"

namespace vecta::params {

// By the row's kind: the text (text rows), the selected position (lists),
// the tick (check boxes) or the address (address rows) against the row's
// stored value. A row with no stored value differs; a status list, which
// the unit sets and the operator cannot, never does, and neither does a row
// whose control the window does not have. Takes the row's lock while it
// compares.
bool ControlDiffers(const ParamRow& row, ControlHost& window);

}  // namespace vecta::params
