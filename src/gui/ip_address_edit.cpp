#include "gui/ip_address_edit.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStringList>

namespace vecta::gui {

IpAddressEdit::IpAddressEdit(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  // 0 to 255 without leading zeros, or blank while the operator types.
  const QRegularExpression octet(QStringLiteral("^(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])?$"));
  for (int i = 0; i < 4; ++i) {
    if (i > 0) layout->addWidget(new QLabel(QStringLiteral("."), this));
    auto* field = new QLineEdit(this);
    field->setValidator(new QRegularExpressionValidator(octet, field));
    field->setMaxLength(3);
    field->setAlignment(Qt::AlignCenter);
    field->setFrame(false);
    field->installEventFilter(this);
    fields_[static_cast<std::size_t>(i)] = field;
    layout->addWidget(field);
    connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
      // Three digits complete a field: move on to the next one.
      if (text.size() == 3 && i < 3 && fields_[static_cast<std::size_t>(i)]->cursorPosition() == 3) {
        MoveTo(i + 1, true);
        advancedTo_ = i + 1;
      }
      emit addressEdited();
    });
  }
  setFocusProxy(fields_[0]);
}

std::uint32_t IpAddressEdit::Address() const {
  std::uint32_t address = 0;
  for (const auto* field : fields_) address = (address << 8) | (field->text().toUInt() & 0xFFu);
  return address;
}

void IpAddressEdit::SetAddress(std::uint32_t address) {
  for (int i = 0; i < 4; ++i)
    fields_[static_cast<std::size_t>(i)]->setText(QString::number((address >> (24 - 8 * i)) & 0xFFu));
}

bool IpAddressEdit::IsComplete() const {
  for (const auto* field : fields_)
    if (field->text().isEmpty()) return false;
  return true;
}

void IpAddressEdit::Clear() {
  for (auto* field : fields_) field->clear();
}

QString IpAddressEdit::Text() const {
  QStringList parts;
  for (const auto* field : fields_) parts << field->text();
  return parts.join(QLatin1Char('.'));
}

void IpAddressEdit::SetText(const QString& text) {
  const QStringList parts = text.trimmed().split(QLatin1Char('.'));
  bool valid = parts.size() == 4;
  for (int i = 0; valid && i < 4; ++i) {
    QString part = parts[i];
    int pos = 0;
    valid = fields_[static_cast<std::size_t>(i)]->validator()->validate(part, pos) == QValidator::Acceptable;
  }
  for (int i = 0; i < 4; ++i) fields_[static_cast<std::size_t>(i)]->setText(valid ? parts[i] : QString());
}

void IpAddressEdit::SetReadOnly(bool readOnly) {
  for (auto* field : fields_) field->setReadOnly(readOnly);
}

bool IpAddressEdit::IsReadOnly() const { return fields_[0]->isReadOnly(); }

QLineEdit* IpAddressEdit::Field(int index) const {
  return index >= 0 && index < 4 ? fields_[static_cast<std::size_t>(index)] : nullptr;
}

void IpAddressEdit::NameFields(const QString& caption) {
  for (int i = 0; i < 4; ++i)
    fields_[static_cast<std::size_t>(i)]->setAccessibleName(
        QStringLiteral("%1, field %2").arg(caption).arg(i + 1));
}

void IpAddressEdit::MoveTo(int index, bool selectAll) {
  auto* field = fields_[static_cast<std::size_t>(index)];
  field->setFocus();
  if (selectAll)
    field->selectAll();
  else
    field->setCursorPosition(static_cast<int>(field->text().size()));
}

// Pasted text with dots fills this field and the ones after it; a whole
// address fills all four, whichever field it is pasted into. False when it
// does not fit, so nothing changes.
bool IpAddressEdit::Paste(int index) {
  const QStringList parts = QGuiApplication::clipboard()->text().trimmed().split(QLatin1Char('.'));
  if (parts.size() == 4) index = 0;
  if (parts.size() > 4 - index) return false;
  for (int k = 0; k < parts.size(); ++k) {
    QString part = parts[k];
    int pos = 0;
    if (fields_[static_cast<std::size_t>(index + k)]->validator()->validate(part, pos) == QValidator::Invalid)
      return false;
  }
  for (int k = 0; k < parts.size(); ++k) fields_[static_cast<std::size_t>(index + k)]->setText(parts[k]);
  MoveTo(index + static_cast<int>(parts.size()) - 1, false);
  emit addressEdited();
  return true;
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    for (int i = 0; i < 4; ++i) {
      if (watched != fields_[static_cast<std::size_t>(i)]) continue;
      auto* field = fields_[static_cast<std::size_t>(i)];
      const bool advanced = advancedTo_ == i;
      advancedTo_ = -1;
      if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        emit returnPressed();
        return true;
      }
      if (key->matches(QKeySequence::Paste)) {
        if (!QGuiApplication::clipboard()->text().contains(QLatin1Char('.'))) break;
        Paste(i);
        return true;
      }
      if (key->key() == Qt::Key_Period) {
        // The dot after three digits is the one focus already moved past.
        if (advanced) return true;
        // A dot moves to the next field, whose old text the next digit replaces.
        if (i < 3 && !field->text().isEmpty()) MoveTo(i + 1, true);
        return true;
      }
      // Backspace at the start of a field goes back across the dot; when focus
      // moved on by itself there was no typed dot, so a digit goes too.
      if (key->key() == Qt::Key_Backspace && i > 0 && field->cursorPosition() == 0 && !field->hasSelectedText()) {
        MoveTo(i - 1, false);
        if (advanced) {
          auto* previous = fields_[static_cast<std::size_t>(i - 1)];
          previous->backspace();  // reported through textEdited
        }
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace vecta::gui
