// The control host over a Qt window. Every widget that stands for a control
// carries its id in the dynamic property "controlId" (SetControlId); a
// control is looked up in the root widget and all its descendants, so the
// Advanced options window is one host over all its pages.
//
// What each operation does by widget class:
//   text       QLineEdit, QLabel, QPlainTextEdit, QAbstractButton (caption),
//              IpAddressEdit ("a.b.c.d"); Text() of a QComboBox is the
//              current entry's text
//   read-only  QLineEdit, QPlainTextEdit, IpAddressEdit (others: nothing);
//              a read-only QLineEdit shows the window colour inside its
//              frame, as read-only edits do on the platform (SetEditReadOnly)
//   enable     any widget; IsEnabled is the widget's own state, not its
//              window's
//   show       any widget; IsVisible is the widget's own state (visible
//              unless hidden), so it reads the same before the window is
//              shown and on tab pages that are not current
//   lists      QComboBox; selection -1 (or a position the list does not
//              have) shows no selection; inserting and deleting entries
//              keeps the selected entry selected, deleting it selects none
//   checks     QAbstractButton (QCheckBox, QRadioButton)
//   address    IpAddressEdit
//   marks      the control's caption (CaptionOf; a check box or button is
//              its own caption) in bold, the tooltip on caption and control
// An id the window does not have, or an operation the widget does not
// support, does nothing; reads then give empty values.
//
// Programmatic changes do not count as operator actions: windows react to
// QComboBox::activated, QAbstractButton::clicked and QLineEdit::textEdited,
// which these operations never emit.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <unordered_map>

#include "params/control_host.h"

class QComboBox;
class QLineEdit;
class QStringListModel;

namespace vecta::gui {

inline constexpr char kControlIdProperty[] = "controlId";

void SetControlId(QWidget* widget, int id);
// The widget's id, -1 when it has none.
int ControlIdOf(const QWidget* widget);

// The label that stands as a control's caption (the page builder sets it);
// null when it has none.
void SetCaptionOf(QWidget* control, QWidget* caption);
QWidget* CaptionOf(const QWidget* control);

// Binds a combo box to a list model that several combo boxes share (the PID
// lists of 8191 entries): one copy of the entries, and a size policy that
// does not measure every entry. The page fills the shared model once.
// Afterwards the host treats such a combo box as already filled:
// InsertEntry of the entry the list already holds at that position does
// nothing. Any other change of the list (another entry, ClearList,
// DeleteEntry) first gives that one combo box a private copy of the
// entries, so the other combo boxes never see it.
void UseSharedModel(QComboBox* combo, QStringListModel* model);
// True while the combo box still uses a model given to UseSharedModel.
bool UsesSharedModel(const QComboBox* combo);

// Makes an edit read-only or editable, and shows which: a read-only edit is
// painted with the window colour instead of the base colour of an edit the
// operator can type into. Every read-only edit of the windows goes through
// here, so they all look alike.
void SetEditReadOnly(QLineEdit* edit, bool readOnly);

// Minimum contents length (characters) of combo boxes over shared models.
inline constexpr int kSharedListMinimumContentsLength = 8;

class QtControlHost : public params::ControlHost {
 public:
  explicit QtControlHost(QWidget* root);

  QWidget* Root() const { return root_; }
  // The first widget with this id (the root first, then its descendants),
  // nullptr when none.
  QWidget* Find(int id) const;

  bool HasControl(int id) const override;
  void SetText(int id, std::string_view text) override;
  std::string Text(int id) const override;
  void SetReadOnly(int id, bool readOnly) override;
  void Enable(int id, bool enabled) override;
  void Show(int id, bool visible) override;
  bool IsEnabled(int id) const override;
  bool IsVisible(int id) const override;
  // Read-only state of an edit; false for other widgets.
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
  // Whether the control is marked, and the mark's tooltip ("" unmarked).
  bool IsMarked(int id) const;
  std::string MarkTip(int id) const;

 private:
  QComboBox* FindCombo(int id) const;
  void RebuildIndex() const;

  QPointer<QWidget> root_;
  mutable std::unordered_map<int, QPointer<QWidget>> index_;
  mutable qsizetype indexedWidgets_ = 0;
  mutable std::uint64_t assignments_ = 0;  // id assignments when the index was built
  mutable bool indexed_ = false;
};

}  // namespace vecta::gui
