#include "gui/qt_prompter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include "gui/config_review_window.h"
#include "gui/q_string.h"
#include "gui/qt_control_host.h"
#include "link/link_errors.h"

namespace vecta::gui {
namespace {

QMessageBox::Icon ToQtIcon(params::MessageIcon icon) {
  switch (icon) {
    case params::MessageIcon::Exclamation:
      return QMessageBox::Warning;
    case params::MessageIcon::Information:
      return QMessageBox::Information;
    case params::MessageIcon::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

std::optional<std::string> FromFileName(const QString& name) {
  if (name.isEmpty()) return std::nullopt;
  return name.toStdString();
}

// A message box over `parent`, plain text. It lives on the heap: the window
// in use may be closed while the box stands over it, and the box then goes
// with it.
QMessageBox* NewBox(QWidget* parent, std::string_view title, std::string_view text, params::MessageIcon icon,
                    QMessageBox::StandardButtons buttons) {
  auto* box = new QMessageBox(ToQtIcon(icon), Q(title), Q(text), buttons, parent);
  box->setTextFormat(Qt::PlainText);
  return box;
}

// Runs the box and deletes it; the standard button clicked, NoButton when
// none was (or the box went with its window).
QMessageBox::StandardButton Exec(QMessageBox* box) {
  QPointer<QMessageBox> alive(box);
  box->exec();
  if (!alive) return QMessageBox::NoButton;
  const QMessageBox::StandardButton clicked = box->standardButton(box->clickedButton());
  delete box;
  return clicked;
}

// Yes, No or Cancel; Escape and the close box answer Cancel, Enter Yes.
params::Answer AskYesNoCancel(QWidget* parent, std::string_view title, std::string_view text,
                              params::MessageIcon icon) {
  QMessageBox* box = NewBox(parent, title, text, icon, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  box->setDefaultButton(QMessageBox::Yes);
  box->setEscapeButton(QMessageBox::Cancel);
  switch (Exec(box)) {
    case QMessageBox::Yes:
      return params::Answer::Yes;
    case QMessageBox::No:
      return params::Answer::No;
    default:
      return params::Answer::Cancel;
  }
}

// The progress window: no close box, and a close request (the window
// system's, Alt+F4) is refused, since the work it shows goes on; EndProgress
// takes it away.
class PleaseWaitWindow final : public QWidget {
 public:
  explicit PleaseWaitWindow(QWidget* parent)
      : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {}

 protected:
  void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

}  // namespace

// Apply, Discard or Cancel; Enter and Escape cancel, so a key press keeps
// the operator where they are.
params::Answer AskApplyDiscardCancel(QWidget* parent, std::string_view title, std::string_view text,
                                     params::MessageIcon icon) {
  QMessageBox box(ToQtIcon(icon), Q(title), Q(text), QMessageBox::NoButton, parent);
  box.setTextFormat(Qt::PlainText);
  QPushButton* apply = box.addButton(QStringLiteral("Apply"), QMessageBox::AcceptRole);
  QPushButton* discard = box.addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
  QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  box.setDefaultButton(cancel);
  box.setEscapeButton(cancel);
  box.exec();
  if (box.clickedButton() == apply) return params::Answer::Apply;
  if (box.clickedButton() == discard) return params::Answer::Discard;
  return params::Answer::Cancel;
}

params::Answer ShowMessage(QWidget* parent, std::string_view title, std::string_view text,
                           params::MessageIcon icon, params::MessageButtons buttons) {
  if (buttons == params::MessageButtons::YesNoCancel) return AskYesNoCancel(parent, title, text, icon);
  if (buttons == params::MessageButtons::ApplyDiscardCancel)
    return AskApplyDiscardCancel(parent, title, text, icon);
  const bool yesNo = buttons == params::MessageButtons::YesNo;
  QMessageBox* box =
      NewBox(parent, title, text, icon, yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok);
  if (yesNo) {
    // The only questions ask before something that cannot be undone
    // (restore defaults): Enter must not say yes to them.
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
  }
  const QMessageBox::StandardButton clicked = Exec(box);
  if (!yesNo) return params::Answer::Ok;
  return clicked == QMessageBox::Yes ? params::Answer::Yes : params::Answer::No;
}

void ShowMessageWithReason(QWidget* parent, std::string_view title, std::string_view text, std::string_view reason,
                           params::MessageIcon icon) {
  QMessageBox* box = NewBox(parent, title, text, icon, QMessageBox::Ok);
  if (!reason.empty()) box->setInformativeText(Q(reason));
  Exec(box);
}

void ShowLinkError(QWidget* parent, std::uint32_t code) {
  ShowMessage(parent, "Error", link::LinkErrorText(code), params::MessageIcon::Exclamation,
              params::MessageButtons::Ok);
}

QString ToQtFileFilter(std::string_view filter) {
  const QString f = Q(filter);
  if (!f.contains(QLatin1Char('|'))) return f;
  const QStringList parts = f.split(QLatin1Char('|'));
  QStringList descriptions;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    if (!parts[i].isEmpty()) descriptions << parts[i];
  return descriptions.join(QStringLiteral(";;"));
}

QtPrompter::QtPrompter(QWidget* parent) : parent_(parent) {}

QtPrompter::~QtPrompter() { EndProgress(); }

QWidget* QtPrompter::WindowInUse() const {
  QWidget* active = QApplication::activeWindow();
  if (!active || active == progress_.data() || !active->isVisible()) return parent_;
  return active;
}

params::Answer QtPrompter::Message(std::string_view title, std::string_view text, params::MessageIcon icon,
                                   params::MessageButtons buttons) {
  return ShowMessage(WindowInUse(), title, text, icon, buttons);
}

void QtPrompter::MessageWithReason(std::string_view title, std::string_view text, std::string_view reason,
                                   params::MessageIcon icon) {
  ShowMessageWithReason(WindowInUse(), title, text, reason, icon);
}

bool QtPrompter::ReviewLoad(const params::ConfigReview& review) { return ShowConfigReview(WindowInUse(), review); }

std::optional<std::string> QtPrompter::ChooseFileToOpen(std::string_view filter) {
  return FromFileName(QFileDialog::getOpenFileName(WindowInUse(), QString(), QString(), ToQtFileFilter(filter)));
}

std::optional<std::string> QtPrompter::ChooseFileToSave(std::string_view filter) {
  return FromFileName(QFileDialog::getSaveFileName(WindowInUse(), QString(), QString(), ToQtFileFilter(filter)));
}

std::optional<std::string> QtPrompter::ChooseFile(const FileRequest& request) {
  QFileDialog dialog(WindowInUse(), Q(request.title), QString(), ToQtFileFilter(request.filter));
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(Q(request.defaultSuffix));
  if (!request.initialFolder.empty()) dialog.setDirectory(Q(request.initialFolder));
  if (!request.initialName.empty()) dialog.selectFile(Q(request.initialName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return FromFileName(dialog.selectedFiles().constFirst());
}

void QtPrompter::BeginProgress(std::string_view title, std::string_view text, int maximum) {
  EndProgress();
  auto* window = new PleaseWaitWindow(parent_);
  window->setWindowTitle(Q(title));
  window->setWindowModality(Qt::NonModal);
  auto* layout = new QVBoxLayout(window);
  auto* label = new QLabel(Q(text), window);
  label->setTextFormat(Qt::PlainText);
  SetControlId(label, kProgressTextId);
  layout->addWidget(label);
  auto* bar = new QProgressBar(window);
  SetControlId(bar, kProgressBarId);
  bar->setRange(0, maximum > 0 ? maximum : 0);
  bar->setValue(0);
  bar->setVisible(maximum > 0);
  layout->addWidget(bar);
  progress_ = window;
  bar_ = bar;
  window->show();
  window->raise();
  // The caller usually blocks the GUI thread next: paint the window now.
  QCoreApplication::processEvents();
}

void QtPrompter::SetProgress(int value) {
  if (!bar_) return;
  bar_->setValue(value);
  // Paint without handling input: the caller's operation is still running.
  bar_->repaint();
}

void QtPrompter::EndProgress() {
  delete progress_.data();
  progress_ = nullptr;
  bar_ = nullptr;
}

}  // namespace vecta::gui
