// The IP-address control: four fields of 0 to 255 separated by dots. The
// 32-bit address has the first field in its top byte; a blank field counts
// as 0, and the address is complete only when all four fields are filled.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>

class QLineEdit;

namespace vecta::gui {

class IpAddressEdit : public QWidget {
  Q_OBJECT

 public:
  explicit IpAddressEdit(QWidget* parent = nullptr);

  std::uint32_t Address() const;
  void SetAddress(std::uint32_t address);
  bool IsComplete() const;
  void Clear();

  // "a.b.c.d"; a blank field stays blank ("10..0.1").
  QString Text() const;
  // Accepts "a.b.c.d" with blank fields allowed; anything else clears the
  // control.
  void SetText(const QString& text);

  void SetReadOnly(bool readOnly);
  bool IsReadOnly() const;

  // One of the four fields, 0 = first octet.
  QLineEdit* Field(int index) const;
  // Names the fields for screen readers after the control's caption:
  // "Address, field 1" .. "Address, field 4".
  void NameFields(const QString& caption);

 signals:
  // The operator edited a field (not emitted for SetAddress/SetText).
  void addressEdited();
  // Enter or Return in any field.
  void returnPressed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void MoveTo(int index, bool selectAll);
  bool Paste(int index);

  std::array<QLineEdit*, 4> fields_{};
  // The field focus moved to after three digits, -1 when none: the dot the
  // operator types next belongs to that move and is not a field of its own.
  int advancedTo_ = -1;
};

}  // namespace vecta::gui
