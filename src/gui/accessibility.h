// What screen readers and UI automation (AT-SPI) see of the windows: every
// control is named by its caption (the label whose buddy it is), buttons
// that show only an icon by what they do, and Tab moves through a window in
// its reading order.
#pragma once

#include <QString>

class QAbstractButton;
class QLabel;
class QWidget;

namespace vecta::gui {

// Called by every window once it is built. Installs (once) the accessible
// interface of the drop-down lists, which names a list by its caption and
// gives its entry as its value: the platform's own names it by its entry.
// Then orders the window's tab chain (OrderTabs).
void MakeAccessible(QWidget* window);

// The caption `label` stands for `control`: its buddy, so the control is
// named by it.
void SetCaption(QLabel* label, QWidget* control);

// A button that shows only an icon: its name for screen readers and its
// tooltip say what it does.
void NameIconButton(QAbstractButton* button, const QString& name);

// The text a control is named by: its accessible name when it has one,
// else its caption (the label set with SetCaptionOf, or a label whose buddy
// it is), without '&'; empty when it has neither.
QString CaptionName(const QWidget* control);

// Orders the tab chain of `window` (its controls that take the focus by
// Tab) in reading order: by rows from top to bottom, within a row from
// left to right, a group box, tab page or other container read whole where
// it stands. Positions are those of the current layout; hidden controls
// keep their place among the controls of their container.
void OrderTabs(QWidget* window);

}  // namespace vecta::gui
