#include "gui/typed_input.h"

#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

namespace vecta::gui {

TypedLengthValidator::TypedLengthValidator(QLineEdit* edit, int maxChars, bool digitsOnly)
    : QValidator(edit), max_(maxChars), digitsOnly_(digitsOnly) {
  // The edit asks about its new text before it takes it: what it held
  // last is what a change is measured against.
  connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { last_ = text; });
}

QValidator::State TypedLengthValidator::validate(QString& input, int&) const {
  if (digitsOnly_)
    for (QChar c : input)
      if (c < u'0' || c > u'9') return Invalid;
  if (input.size() <= max_ || input.size() <= last_.size()) return Acceptable;
  return Invalid;
}

TypedChoiceWatch::TypedChoiceWatch(QComboBox* list) : QObject(list) {
  list->installEventFilter(this);
  list->lineEdit()->installEventFilter(this);
}

bool TypedChoiceWatch::eventFilter(QObject*, QEvent* event) {
  const bool enter =
      event->type() == QEvent::KeyPress && (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Return ||
                                            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Enter);
  if (enter || event->type() == QEvent::FocusOut) {
    typed_ = true;
    QTimer::singleShot(0, this, [this] { typed_ = false; });
  }
  return false;
}

}  // namespace vecta::gui
