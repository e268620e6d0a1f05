// Builds the settings pages from their layout tables: one widget per control
// id, each caption left of its control, rows top to bottom in a grid, the
// buttons below or at the right. Controls that share a place on different
// variants share one grid cell; only the one the variant shows takes room.
// The rows of all pages of a window look alike: one row height, captions of
// one width, and the lists and edits of a column as wide as the longest
// entry any list of that column offers in the window (for the main settings
// page, which shows every unit that connects, on any variant; for the other
// windows on the variant they were built for). Lists and edits keep that
// width however wide the window is; buttons keep their own. A list shown
// by a rule beside another one keeps its place while that one shows, so
// the page does not move when it appears. Group boxes keep a gap inside
// their frame. The PID lists open popups of 12 rows.
// Nothing here knows a mnemonic: what a control shows comes from the
// descriptor tables through refresh and apply.
#pragma once

#include <QWidget>
#include <functional>

#include "pages/layouts.h"

class QStringListModel;

namespace vecta::gui {

// What a page tells its window about the operator's actions. Programmatic
// changes (refresh, the page rules) are never reported.
struct PageEvents {
  std::function<void(int id)> listChanged;    // a list entry was picked
  std::function<void(int id)> editChanged;    // an edit's text was typed
  std::function<void(int id)> checkClicked;   // a check box was clicked
  std::function<void(int id)> buttonClicked;  // a push button was pressed
};

// The object name of the row of buttons under a page's settings (a
// QHBoxLayout ending in a stretch), so a window can add to it.
inline constexpr char kBelowButtonsLayout[] = "belowButtons";

// The list model every PID list of a window shares ("Default", "0x0001" ..
// "0x1FFE"), filled once.
QStringListModel* NewPidListModel(QObject* parent);

// Fills `page` with the controls of `layout`, placed as the variant
// arranges them (a control that stands in another row on another variant is
// placed where `variant` has it). Every control is created, whatever the
// variant; ShowForVariant decides what shows. PID lists use `pidModel`
// when given.
void BuildPage(QWidget* page, const pages::PageLayout& layout, pages::Variant variant, const PageEvents& events,
               QStringListModel* pidModel = nullptr);

// Shows the controls and captions of `layout` that the variant shows and
// hides the rest, and gives captions their variant's reading. Controls whose
// visibility a rule decides within their variants are shown on those
// variants, except the buttons the full refresh decides (left as they are).
void ShowForVariant(QWidget* page, const pages::PageLayout& layout, pages::Variant variant);

// Runs `change`, which shows or hides controls of `page`, and changes the
// size of the page's window by as much as the change changed the size the
// window needs. A window only grows by itself: without this, one that grew
// for rows of one unit would keep their room, empty, for the next unit.
// Room the operator gave the window stays.
void ResizeWindowWith(QWidget* page, const std::function<void()>& change);

}  // namespace vecta::gui
