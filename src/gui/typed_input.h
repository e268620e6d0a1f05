// Two helpers of the engineering window's fields: a length limit on what
// the operator types (not on what the program shows), and a watch that
// tells a typed entry of an editable list from a choice made in its list.
#pragma once

#include <QObject>
#include <QString>
#include <QValidator>

class QComboBox;
class QLineEdit;

namespace vecta::gui {

// Limits what the operator types, not what the program shows: a value the
// unit reports may be longer than the field takes from the keyboard (a
// level of "-12.34" in a five-character field), and it stays whole, as
// deleting from it does.
class TypedLengthValidator final : public QValidator {
 public:
  TypedLengthValidator(QLineEdit* edit, int maxChars, bool digitsOnly);
  State validate(QString& input, int&) const override;

 private:
  int max_;
  bool digitsOnly_;
  QString last_;
};

// An editable list takes a typed entry that matches an item as a choice
// when the operator presses Enter or moves on. This watch on the list's
// edit marks such moments so the window can tell them from a choice made
// in the list; the mark lasts until the events that caused it are handled.
class TypedChoiceWatch final : public QObject {
 public:
  // The list hands its focus-out to the edit directly, so both are watched.
  explicit TypedChoiceWatch(QComboBox* list);
  bool Typed() const { return typed_; }

 protected:
  bool eventFilter(QObject*, QEvent* event) override;

 private:
  bool typed_ = false;
};

}  // namespace vecta::gui
