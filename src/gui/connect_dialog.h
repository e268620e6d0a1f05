// The "Connecting" dialog: shown while the program looks for a unit, with
// the text "Attempting to connect..." and a "Cancel" button. Cancel (and
// Escape, or closing it through the window system) ends it with the cancel
// result, which cancels the attempt; Enter does nothing, so a keystroke meant
// for another window never ends it while the attempt goes on. Only the
// program ends it with the OK result, when the attempt is over. It has no
// close box and stays centred over the window it belongs to.
#pragma once

#include <QDialog>

class QLabel;
class QShowEvent;
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
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CentreOverParent();

  QLabel* text_;
  QPushButton* cancel_;
};

}  // namespace vecta::gui
