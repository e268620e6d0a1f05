#include "params/control_changes.h"

#include <mutex>

namespace vecta::params {

bool ControlDiffers(const ParamRow& row, ControlHost& window) {
  const int id = row.Control();
  if (!window.HasControl(id)) return false;
  std::lock_guard lock(row.Lock());
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

}  // namespace vecta::params
