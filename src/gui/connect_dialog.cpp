#include "gui/connect_dialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRect>
#include <QShowEvent>
#include <QVBoxLayout>

#include "gui/accessibility.h"
#include "gui/qt_control_host.h"
#include "link/trace.h"

namespace vecta::gui {

ConnectDialog::ConnectDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle(QStringLiteral("Connecting"));
  auto* layout = new QVBoxLayout(this);
  text_ = new QLabel(QStringLiteral("Attempting to connect..."), this);
  text_->setMinimumWidth(text_->fontMetrics().horizontalAdvance(QStringLiteral("Attempting to connect...")) + 40);
  layout->addWidget(text_);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setAutoDefault(false);
  SetControlId(cancel_, 2);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(cancel_);
  row->addStretch(1);
  layout->addLayout(row);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  // The window it belongs to may still be placed or moved by the window
  // system after the dialog shows; the dialog follows it.
  if (parent) parent->window()->installEventFilter(this);
  link::Trace("CConnectDialog::OnInitDialog\r\n");
  MakeAccessible(this);
}

void ConnectDialog::CentreOverParent() {
  QWidget* over = parentWidget() ? parentWidget()->window() : nullptr;
  if (!over || !over->isVisible()) return;
  QRect frame = frameGeometry();
  frame.moveCenter(over->frameGeometry().center());
  move(frame.topLeft());
}

void ConnectDialog::showEvent(QShowEvent* event) {
  adjustSize();
  CentreOverParent();
  QDialog::showEvent(event);
}

bool ConnectDialog::eventFilter(QObject* watched, QEvent* event) {
  if (isVisible() &&
      (event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Show))
    CentreOverParent();
  return QDialog::eventFilter(watched, event);
}

void ConnectDialog::SetText(const QString& text) { text_->setText(text); }
QString ConnectDialog::Text() const { return text_->text(); }

void ConnectDialog::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return;  // ends nothing, on the button as anywhere else
    case Qt::Key_Escape:
      if (cancel_->isEnabled()) reject();  // Escape is Cancel, while Cancel may be used
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

}  // namespace vecta::gui
