// A window without a screen: controls by id holding text, list entries,
// selection, check state, visibility, enabled and read-only state. Used by
// the tests and by the command-line tool.
#pragma once

#include <map>
#include <span>
#include <string>
#include <vector>

#include "params/control_host.h"
#include "params/descriptor.h"

namespace vecta::params {

class MemoryHost : public ControlHost {
 public:
  struct Control {
    std::string text;
    std::vector<std::string> entries;
    int selected = -1;
    bool checked = false;
    bool visible = true;
    bool enabled = true;
    bool readOnly = false;
    std::uint32_t address = 0;
    bool marked = false;  // changed and not applied
    std::string markTip;  // the tooltip of the mark
  };

  MemoryHost() = default;
  // A window holding these controls.
  explicit MemoryHost(std::span<const int> ids);
  // A window holding the control of every row of a table (what the pages of
  // all variants together have).
  static MemoryHost ForTable(std::span<const RowDescriptor> rows);

  void Add(int id);
  void Remove(int id);
  Control* Find(int id);
  const Control* Find(int id) const;

  bool HasControl(int id) const override;
  void SetText(int id, std::string_view text) override;
  std::string Text(int id) const override;
  void SetReadOnly(int id, bool readOnly) override;
  void Enable(int id, bool enabled) override;
  void Show(int id, bool visible) override;
  bool IsEnabled(int id) const override;
  bool IsVisible(int id) const override;
  bool IsReadOnly(int id) const;
  void ClearList(int id) override;
  void InsertEntry(int id, int position, std::string_view text) override;
  void DeleteEntry(int id, int position) override;
  int EntryCount(int id) const override;
  std::string EntryText(int id, int position) const override;
  void Select(int id, int position) override;
  int Selected(int id) const override;
  void SetChecked(int id, bool checked) override;
  bool Checked(int id) const override;
  void SetAddress(int id, std::uint32_t address) override;
  std::uint32_t Address(int id) const override;
  void SetMarked(int id, bool marked, std::string_view tooltip) override;
  bool IsMarked(int id) const;
  std::string MarkTip(int id) const;

  // The selected entry's text, "" when none.
  std::string SelectedText(int id) const;

 private:
  std::map<int, Control> controls_;
};

}  // namespace vecta::params
