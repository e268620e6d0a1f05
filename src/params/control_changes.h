// Which controls of a window the operator has changed since the last
// refresh: a control differs when what it holds is not what refresh put
// there for the row's stored value. Only what the operator sees counts; the
// rows that apply rewrites on its own (the audio switches while the unit's
// encoder setting is not the one they stand for) are not changes.
#pragma once

#include <string>
#include <vector>

#include "params/control_host.h"
#include "params/convert.h"
#include "params/descriptor.h"

namespace vecta::params {

// What Apply writes by: the text (text rows), the selected position
// (lists), the tick (check boxes) or the address (address rows) against the
// row's stored value. A row with no stored value never differs: its control
// holds nothing the unit connected now sent, so there is nothing to change.
// Neither does a status list, which the unit sets and the operator cannot,
// nor a row whose control the window does not have. Takes the row's lock
// while it compares.
bool ControlDiffers(const ParamRow& row, ControlHost& window);

// What the operator sees: true when the row's control holds something else
// than what refresh shows for the stored value: another text, list position
// or tick. A row with no stored value never differs (see ControlDiffers).
// A stored list position the list has no entry for shows no selection.
bool ShownValueDiffers(const ParamRow& row, ControlHost& window);

// The ids of the controls of `window` the operator changed, in table order:
// writable rows that exist for the variant and whose control the window
// has and differs. The K240 "Resolution" list counts as unchanged while it
// shows the "SIF" or "QSIF" size the unit's encoding mode stands for. The
// "Manual" box and its bitrate are one setting, named by the box: it
// differs when the box does, or when the box is ticked and the bitrate is
// not the unit's.
std::vector<int> UnappliedControls(const ParamTable& table, ControlHost& window, Variant variant);

// The unit's value of a row as the window shows it, for the operator's
// reminder: "Unit's value: 16QAM".
std::string UnitValueTip(const ParamRow& row, ControlHost& window);

// Marks every control of `window` that UnappliedControls names (with
// UnitValueTip as its tooltip) and clears the mark of every other control
// of the table; of the "Manual" setting, the box and the bitrate are each
// marked where they differ. Returns the number of changes.
int MarkUnappliedControls(const ParamTable& table, ControlHost& window, Variant variant);

// "1 unapplied change", "N unapplied changes"; "" for none.
std::string UnappliedChangesText(int count);

}  // namespace vecta::params
