// The "Connecting" dialog: shown while the program looks for a unit, with
// the text "Attempting to connect..." and a "Cancel" button. Cancel ends it
// with the cancel result, Enter with the OK result; it has no close box.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace vecta::gui {

class ConnectDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ConnectDialog(QWidget* parent);

  void SetText(const QString& text);
  QString Text() const;
  QPushButton* CancelButton() const { return cancel_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QLabel* text_;
  QPushButton* cancel_;
};

}  // namespace vecta::gui
