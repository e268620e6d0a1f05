// Answers the next modal window from the event loop of its exec(): waits for
// QApplication::activeModalWidget(), hands it to the check, and closes it if
// the check left it open, so a failing check cannot hang the test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>

class ModalDriver {
 public:
  explicit ModalDriver(std::function<void(QWidget*)> check) : check_(std::move(check)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(10);
  }
  bool Ran() const { return ran_; }

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || !w->isVisible()) {
      if (++tries_ > 500) {
        timer_.stop();
        ADD_FAILURE() << "no modal window appeared";
      }
      return;
    }
    timer_.stop();
    ran_ = true;
    check_(w);
    if (w->isVisible()) {
      ADD_FAILURE() << "the check left the modal window open";
      if (auto* d = qobject_cast<QDialog*>(w))
        d->reject();
      else
        w->close();
    }
  }

  std::function<void(QWidget*)> check_;
  QTimer timer_;
  int tries_ = 0;
  bool ran_ = false;
};
