// Notes the first paint of a widget: for tools that must wait until a
// window has really been drawn (screenshots, start-up timing).
#pragma once

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace vecta::gui {

class PaintWatch : public QObject {
 public:
  explicit PaintWatch(QWidget* w) : QObject(w) { w->installEventFilter(this); }
  bool painted = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return false;
  }
};

}  // namespace vecta::gui
