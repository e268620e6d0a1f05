// What refresh, apply and the page rules do to a window, as one small
// interface: controls are found by id, and an id the window does not have is
// no error (the operation does nothing and reads give empty values). The Qt
// windows implement it over their widgets; tests and the command-line tool
// use MemoryHost.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vecta::params {

class ControlHost {
 public:
  virtual ~ControlHost() = default;

  virtual bool HasControl(int id) const = 0;

  // Edit boxes and captions.
  virtual void SetText(int id, std::string_view text) = 0;
  virtual std::string Text(int id) const = 0;
  virtual void SetReadOnly(int id, bool readOnly) = 0;

  // Every control.
  virtual void Enable(int id, bool enabled) = 0;
  virtual void Show(int id, bool visible) = 0;
  virtual bool IsEnabled(int id) const = 0;
  virtual bool IsVisible(int id) const = 0;

  // Drop-down lists. A selection of -1 (or any position the list does not
  // have) shows no selection.
  virtual void ClearList(int id) = 0;
  virtual void InsertEntry(int id, int position, std::string_view text) = 0;
  virtual void DeleteEntry(int id, int position) = 0;
  virtual int EntryCount(int id) const = 0;
  virtual std::string EntryText(int id, int position) const = 0;
  virtual void Select(int id, int position) = 0;
  virtual int Selected(int id) const = 0;

  // Check boxes.
  virtual void SetChecked(int id, bool checked) = 0;
  virtual bool Checked(int id) const = 0;

  // IP-address controls: 32 bits, first octet in the top byte.
  virtual void SetAddress(int id, std::uint32_t address) = 0;
  virtual std::uint32_t Address(int id) const = 0;

  // Marks a control the operator changed but did not apply: its caption
  // stands out and `tooltip` says what the unit holds. A window that shows
  // no marks ignores this.
  virtual void SetMarked(int /*id*/, bool /*marked*/, std::string_view /*tooltip*/) {}
};

}  // namespace vecta::params
