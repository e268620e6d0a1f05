#include "gui/page_builder.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <set>

#include "gui/icons.h"
#include "gui/q_string.h"
#include "gui/qt_control_host.h"
#include "params/descriptor.h"

namespace vecta::gui {
namespace {

using pages::Area;
using pages::ControlKind;
using pages::Entry;
using pages::PageLayout;
using pages::Variant;

QFont BoldFont(QFont font) {
  font.setBold(true);
  return font;
}

// A caption without an id of its own shows and hides with its control.
class CaptionFollower : public QObject {
 public:
  CaptionFollower(QWidget* control, QLabel* caption) : QObject(caption), caption_(caption) {
    control->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::ShowToParent) caption_->setVisible(true);
    if (event->type() == QEvent::HideToParent) caption_->setVisible(false);
    return false;
  }

 private:
  QLabel* caption_;
};

// The row that describes a control in the page's descriptor table.
const params::RowDescriptor* RowFor(const PageLayout& layout, const Entry& e) {
  if (!e.mnemonic) return nullptr;
  for (const params::RowDescriptor& row : pages::TableFor(layout.id))
    if (row.control == e.control && std::string_view(row.mnemonic) == e.mnemonic) return &row;
  return nullptr;
}

// Of the entries that carry the same control id (or caption id), the one
// whose variants include `variant`, else the first.
template <typename Key, typename Shown>
std::map<int, const Entry*> Owners(const PageLayout& layout, Variant variant, Key key, Shown shown) {
  std::map<int, const Entry*> owners;
  for (const Entry& e : layout.entries) {
    const int k = key(e);
    if (k <= 0) continue;
    auto [it, inserted] = owners.emplace(k, &e);
    if (!inserted && !shown(*it->second).Has(variant) && shown(e).Has(variant)) it->second = &e;
  }
  return owners;
}

// Grid columns: a frame margin, caption and control of column 0, a frame
// margin; then the same for column 1. The margins give the "Encoder" group
// boxes room around the controls they frame.
constexpr int kCaptionColumn[2] = {1, 5};
constexpr int kControlColumn[2] = {2, 6};
// Room between a group box's frame and what it frames.
constexpr int kFrameGap = 6;
// Rows a PID list's popup shows at a time, of its 8192 entries.
constexpr int kPidListVisibleItems = 12;

// The sizes the rows of a window's pages share, so that every page of the
// window has its columns alike: one width for the captions and one for the
// lists and edits of each column, and one row height.
struct RowSizes {
  int caption[2] = {0, 0};
  int control[2] = {0, 0};
  int rowHeight = 0;
};

// Measured once per window, variant, font and style: the widest entries of
// the PID lists alone are 8192 texts.
const RowSizes& SizesFor(QWidget* page, pages::WindowId window, Variant variant) {
  // The main settings page shows every unit that connects: its columns
  // take the lists of every variant. The other windows are built for the
  // variant they show.
  const bool everyVariant = window == pages::WindowId::MainSettings;
  const QString key = QStringLiteral("%1/%2/%3/%4")
                          .arg(static_cast<int>(window))
                          .arg(everyVariant ? -1 : static_cast<int>(variant))
                          .arg(page->font().key(), page->style()->name());
  static std::map<QString, RowSizes> measured;
  if (auto it = measured.find(key); it != measured.end()) return it->second;

  const QFontMetrics fm = page->fontMetrics();
  // Captions are measured bold: a caption marked as changed turns bold and
  // must not push its column's controls aside.
  const QFont bold = BoldFont(page->font());
  const QFontMetrics boldFm(bold);
  QString widestCaption[2], widestEntry[2];
  int captionWidth[2] = {0, 0}, entryWidth[2] = {0, 0};
  for (pages::PageId id : pages::Window(window).pages) {
    const PageLayout& layout = pages::Layout(id);
    for (const Entry& e : layout.entries) {
      if (e.place.area != Area::Grid || !(everyVariant || e.ControlOn(variant) || e.CaptionOn(variant))) continue;
      const int column = std::clamp(e.place.column, 0, 1);
      if (!e.CaptionIsOwnText() && !e.caption.text.empty()) {
        const QString text = Q(e.caption.text);
        if (const int w = boldFm.horizontalAdvance(text); w > captionWidth[column]) {
          captionWidth[column] = w;
          widestCaption[column] = text;
        }
      }
      if (e.kind != ControlKind::List || !(everyVariant || e.ControlOn(variant))) continue;
      const params::RowDescriptor* row = RowFor(layout, e);
      if (!row || !row->options) continue;
      for (const std::string& option : params::OfferedOptions(*row->options)) {
        const QString text = Q(option);
        if (const int w = fm.horizontalAdvance(text); w > entryWidth[column]) {
          entryWidth[column] = w;
          widestEntry[column] = text;
        }
      }
    }
  }
  // What a list and a caption with those texts ask for, and the taller of
  // a list and an edit.
  RowSizes sizes;
  for (int column : {0, 1}) {
    QComboBox list(page);  // one each: a list keeps the size it first measured
    QLineEdit edit(page);
    QLabel caption(widestCaption[column], page);
    caption.setFont(bold);
    list.hide();
    edit.hide();
    caption.hide();
    if (!widestEntry[column].isEmpty()) list.addItem(widestEntry[column]);
    sizes.control[column] = widestEntry[column].isEmpty() ? edit.sizeHint().width() : list.sizeHint().width();
    sizes.caption[column] = widestCaption[column].isEmpty() ? 0 : caption.sizeHint().width();
    sizes.rowHeight = std::max({sizes.rowHeight, list.sizeHint().height(), edit.sizeHint().height()});
  }
  return measured.emplace(key, sizes).first->second;
}

// A control shown by a rule beside another control keeps its place while
// that control shows, so nothing moves when it appears.
class PlaceKeeper : public QObject {
 public:
  PlaceKeeper(QWidget* beside, QWidget* kept) : QObject(kept), kept_(kept) {
    beside->installEventFilter(this);
    Keep(!beside->isHidden() || !beside->testAttribute(Qt::WA_WState_ExplicitShowHide));
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::ShowToParent) Keep(true);
    if (event->type() == QEvent::HideToParent) Keep(false);
    return false;
  }

 private:
  void Keep(bool keep) {
    QSizePolicy policy = kept_->sizePolicy();
    if (policy.retainSizeWhenHidden() == keep) return;
    policy.setRetainSizeWhenHidden(keep);
    kept_->setSizePolicy(policy);
  }
  QWidget* kept_;
};

// The control a rule-shown control in a second column stands beside: the
// one in the first column of its row on all of its variants, not itself
// shown by a rule.
const Entry* BesideOf(const PageLayout& layout, const Entry& e) {
  if (!e.byRule || e.place.area != Area::Grid || e.place.column == 0) return nullptr;
  for (const Entry& o : layout.entries)
    if (!o.byRule && o.place.area == Area::Grid && o.place.row == e.place.row && o.place.column == 0 &&
        (o.shown & e.shown) == e.shown)
      return &o;
  return nullptr;
}

// The size the window of `page` needs as it now shows: the layouts from the
// page up to its window are brought up to date first (a shown or hidden
// control reaches the window's layout only through posted events).
QSize NeededSize(QWidget* page) {
  for (QWidget* w = page; w; w = w->parentWidget()) {
    if (w->layout()) w->layout()->activate();
    if (w->isWindow()) return w->minimumSizeHint().expandedTo(w->minimumSize());
  }
  return {};
}

}  // namespace

QStringListModel* NewPidListModel(QObject* parent) {
  QStringList entries;
  for (const std::string& option : params::OfferedOptions(params::PidOptions())) entries << Q(option);
  return new QStringListModel(entries, parent);
}

namespace {

// Builds one page: the areas of the page, the group box frames, the widgets
// in reading order and their captions.
class PageBuilder {
 public:
  PageBuilder(QWidget* page, const PageLayout& layout, Variant variant, const PageEvents& events,
              QStringListModel* pidModel)
      : page_(page),
        layout_(layout),
        variant_(variant),
        events_(events),
        pidModel_(pidModel),
        controlOwners_(Owners(
            layout, variant, [](const Entry& e) { return e.control; }, [](const Entry& e) { return e.shown; })),
        captionOwners_(Owners(
            layout, variant, [](const Entry& e) { return e.CaptionIsOwnText() ? 0 : e.caption.id; },
            [](const Entry& e) { return e.caption.shown; })) {}

  void Build() {
    MakeAreas();
    FrameGroups();
    sizes_ = &SizesFor(page_, layout_.window, variant_);
    WidenCaptionColumns();
    const std::vector<const Entry*> order = ReadingOrder();
    for (const Entry* e : order)
      if (QWidget* control = MakeControl(*e)) Place(*e, control);
    MakeUnplacedCaptions();
    for (const Entry* e : order)
      if (const Entry* beside = BesideOf(layout_, *e);
          beside && made_.count(beside->control) && made_.count(e->control))
        new PlaceKeeper(made_[beside->control], made_[e->control]);
    below_->addStretch(1);
    below_->setObjectName(QString::fromLatin1(kBelowButtonsLayout));
    if (right_->count() > 0) {
      right_->insertStretch(topRightCount_, 1);
      outer_->addLayout(right_);
    } else {
      delete right_;
    }
  }

 private:
  // The captions with ids by grid cell, with the variants they show on.
  struct CellCaption {
    QLabel* label;
    pages::Variants shown;
  };

  void MakeAreas() {
    outer_ = new QHBoxLayout(page_);
    auto* left = new QVBoxLayout;
    grid_ = new QGridLayout;
    below_ = new QHBoxLayout;
    right_ = new QVBoxLayout;
    outer_->addLayout(left, 1);
    // The rows take the width they need; the rest stays free on their right.
    auto* rows = new QHBoxLayout;
    rows->addLayout(grid_);
    rows->addStretch(1);
    left->addLayout(rows);
    left->addStretch(1);
    left->addLayout(below_);
  }

  // Group boxes push the rows they frame down by one (for their title) and
  // the rows after them by one more (for their bottom edge); on a variant
  // without them the rows stay together.
  void FrameGroups() {
    for (const Entry& e : layout_.entries)
      if (e.kind == ControlKind::GroupBox && e.ControlOn(variant_))
        groupBottom_ = std::max(groupBottom_, e.place.row + e.place.rowSpan);
    framed_ = groupBottom_ >= 0;
    if (!framed_) return;
    // The margin rows and columns hold the frame's edges and title, as the
    // style draws them, and a gap inside them.
    QGroupBox probe(QStringLiteral("X"), page_);
    probe.hide();
    const QMargins edge = probe.contentsMargins();
    const int across = std::max(0, grid_->horizontalSpacing());
    const int down = std::max(0, grid_->verticalSpacing());
    auto room = [](int edgeWidth, int spacing) { return std::max(0, edgeWidth + kFrameGap - spacing); };
    for (int c : {0, 4}) grid_->setColumnMinimumWidth(c, room(edge.left(), across));
    for (int c : {3, 7}) grid_->setColumnMinimumWidth(c, room(edge.right(), across));
    grid_->setRowMinimumHeight(0, room(edge.top(), down));
    grid_->setRowMinimumHeight(GridRow(groupBottom_) - 1, room(edge.bottom(), down));
  }

  int GridRow(int row) const { return framed_ ? 1 + row + (row >= groupBottom_ ? 1 : 0) : row; }

  // Captions of one width across the window's pages, so that its lists and
  // edits start in one place on every page.
  void WidenCaptionColumns() {
    for (int column : {0, 1})
      if (std::any_of(layout_.entries.begin(), layout_.entries.end(), [&](const Entry& e) {
            return e.place.area == Area::Grid && std::clamp(e.place.column, 0, 1) == column &&
                   !e.CaptionIsOwnText() && !e.caption.text.empty();
          }))
        grid_->setColumnMinimumWidth(kCaptionColumn[column], sizes_->caption[column]);
  }

  // Widgets are made in reading order, which is also the tab order.
  std::vector<const Entry*> ReadingOrder() const {
    std::vector<const Entry*> order;
    for (const Entry& e : layout_.entries)
      if (controlOwners_.at(e.control) == &e) order.push_back(&e);
    std::stable_sort(order.begin(), order.end(), [](const Entry* a, const Entry* b) {
      if (a->place.area != b->place.area) return a->place.area < b->place.area;
      if (a->place.row != b->place.row) return a->place.row < b->place.row;
      return a->place.column < b->place.column;
    });
    return order;
  }

  // The widget of `e`, reporting the operator's actions by its id; none for
  // a group box (placed here) and the window's own tab control.
  QWidget* MakeControl(const Entry& e) {
    const QString ownText = e.CaptionIsOwnText() ? Q(e.caption.text) : QString();
    QWidget* control = nullptr;
    switch (e.kind) {
      case ControlKind::Edit:
        control = MakeEdit(e.control);
        break;
      case ControlKind::List:
        control = MakeList(e);
        break;
      case ControlKind::Check:
        control = MakeCheck(e.control, ownText);
        break;
      case ControlKind::PushButton:
        control = MakeButton(e, ownText);
        break;
      case ControlKind::GroupBox:
        PlaceGroupBox(e, ownText);
        return nullptr;
      case ControlKind::TabControl:
        return nullptr;
    }
    SetControlId(control, e.control);
    control->setObjectName(QStringLiteral("control%1").arg(e.control));
    made_[e.control] = control;
    return control;
  }

  QWidget* MakeEdit(int id) {
    auto* edit = new QLineEdit(page_);
    QObject::connect(edit, &QLineEdit::textEdited, page_, [events = events_, id] {
      if (events.editChanged) events.editChanged(id);
    });
    return edit;
  }

  QWidget* MakeList(const Entry& e) {
    auto* combo = new QComboBox(page_);
    const params::RowDescriptor* row = RowFor(layout_, e);
    if (row && row->options == &params::PidOptions()) {
      if (pidModel_) UseSharedModel(combo, pidModel_);
      // A style that opens lists over their current entry (as Fusion
      // does) shows them whole, 8192 rows as high as the screen,
      // unless told to open them as plain popups.
      combo->setMaxVisibleItems(kPidListVisibleItems);
      combo->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    }
    QObject::connect(combo, &QComboBox::activated, page_, [events = events_, id = e.control] {
      if (events.listChanged) events.listChanged(id);
    });
    return combo;
  }

  QWidget* MakeCheck(int id, const QString& text) {
    auto* check = new QCheckBox(text, page_);
    // A check box is its own caption: it keeps the width its text takes
    // bold, so a mark moves nothing.
    QCheckBox bold(text, page_);
    bold.hide();
    bold.setFont(BoldFont(check->font()));
    check->setMinimumWidth(bold.sizeHint().width());
    QObject::connect(check, &QCheckBox::clicked, page_, [events = events_, id] {
      if (events.checkClicked) events.checkClicked(id);
    });
    return check;
  }

  QWidget* MakeButton(const Entry& e, const QString& text) {
    auto* button = new QPushButton(text, page_);
    button->setAutoDefault(false);
    if (e.icon) {
      button->setIcon(ResourceIcon(e.icon));
      if (text.isEmpty()) button->setFixedWidth(sizes_->rowHeight + 4);
    }
    QObject::connect(button, &QPushButton::clicked, page_, [events = events_, id = e.control] {
      if (events.buttonClicked) events.buttonClicked(id);
    });
    return button;
  }

  void PlaceGroupBox(const Entry& e, const QString& text) {
    auto* box = new QGroupBox(text, page_);
    SetControlId(box, e.control);
    // On a variant without the frames they exist (hidden) but take no
    // place among the rows.
    if (!framed_) {
      box->hide();
      return;
    }
    const int column = e.place.column == 0 ? 0 : 4;
    grid_->addWidget(box, 0, column, GridRow(e.place.row + e.place.rowSpan), 4);
    box->lower();  // behind the controls it frames
  }

  void Place(const Entry& e, QWidget* control) {
    switch (e.place.area) {
      case Area::Grid:
        PlaceInGrid(e, control);
        break;
      case Area::Below:
        below_->addWidget(control);
        break;
      case Area::TopRight:
        right_->insertWidget(topRightCount_++, control, 0, Qt::AlignRight);
        break;
      case Area::Right:
        right_->addWidget(control, 0, Qt::AlignRight);
        break;
    }
  }

  void PlaceInGrid(const Entry& e, QWidget* control) {
    const int column = std::clamp(e.place.column, 0, 1);
    const int row = GridRow(e.place.row);
    // Rows of one height; lists and edits as wide as the widest list of
    // their column needs.
    control->setFixedHeight(sizes_->rowHeight);
    if (e.kind == ControlKind::List || e.kind == ControlKind::Edit)
      control->setFixedWidth(sizes_->control[column]);
    grid_->addWidget(control, row, kControlColumn[column]);
    if (e.CaptionIsOwnText() || e.caption.text.empty()) return;
    QLabel* caption = nullptr;
    if (e.caption.id > 0) {
      caption = CaptionWithId(e.caption.id, Q(e.caption.text));
    } else if (QLabel* shared = SharedCaption({row, kCaptionColumn[column]}, Q(e.caption.text), e)) {
      caption = shared;
    } else {
      caption = new QLabel(Q(e.caption.text), page_);
      grid_->addWidget(caption, row, kCaptionColumn[column]);
      new CaptionFollower(control, caption);
    }
    caption->setBuddy(control);
    SetCaptionOf(control, caption);
  }

  // The one label of a caption id, made with `text` at the first control
  // that has it, in the cell of the entry that owns the id.
  QLabel* CaptionWithId(int captionId, const QString& text) {
    if (auto it = captionsById_.find(captionId); it != captionsById_.end()) return it->second;
    const Entry* owner = captionOwners_.at(captionId);
    auto* caption = new QLabel(text, page_);
    SetControlId(caption, captionId);
    captionsById_[captionId] = caption;
    const std::pair cell{GridRow(owner->place.row), kCaptionColumn[std::clamp(owner->place.column, 0, 1)]};
    grid_->addWidget(caption, cell.first, cell.second);
    captionsByCell_.emplace(cell, CellCaption{caption, owner->caption.shown});
    return caption;
  }

  // A caption with an id that stands in `cell` with `text` on every variant
  // that shows `e`: that caption serves `e` too, instead of a second label
  // drawn over it.
  QLabel* SharedCaption(std::pair<int, int> cell, const QString& text, const Entry& e) const {
    auto it = captionsByCell_.find(cell);
    if (it == captionsByCell_.end() || it->second.label->text() != text) return nullptr;
    for (Variant v : {Variant::K240, Variant::K610, Variant::Other})
      if (e.shown.Has(v) && !it->second.shown.Has(v)) return nullptr;
    return it->second.label;
  }

  // A caption with an id whose own entry was not the one placed (the
  // control it stands with is placed by another entry) still exists once.
  void MakeUnplacedCaptions() {
    for (const auto& [captionId, owner] : captionOwners_) {
      if (captionsById_.count(captionId)) continue;
      auto* caption = new QLabel(Q(owner->caption.text), page_);
      SetControlId(caption, captionId);
      captionsById_[captionId] = caption;
      grid_->addWidget(caption, GridRow(owner->place.row), kCaptionColumn[std::clamp(owner->place.column, 0, 1)]);
    }
  }

  QWidget* page_;
  const PageLayout& layout_;
  Variant variant_;
  const PageEvents& events_;
  QStringListModel* pidModel_;
  const RowSizes* sizes_ = nullptr;
  const std::map<int, const Entry*> controlOwners_;
  const std::map<int, const Entry*> captionOwners_;

  QHBoxLayout* outer_ = nullptr;
  QGridLayout* grid_ = nullptr;
  QHBoxLayout* below_ = nullptr;
  QVBoxLayout* right_ = nullptr;
  int groupBottom_ = -1;
  bool framed_ = false;
  int topRightCount_ = 0;
  std::map<int, QLabel*> captionsById_;
  std::map<std::pair<int, int>, CellCaption> captionsByCell_;
  std::map<int, QWidget*> made_;
};

}  // namespace

void BuildPage(QWidget* page, const PageLayout& layout, Variant variant, const PageEvents& events,
               QStringListModel* pidModel) {
  PageBuilder(page, layout, variant, events, pidModel).Build();
}

void ResizeWindowWith(QWidget* page, const std::function<void()>& change) {
  QWidget* window = page->window();
  const QSize before = NeededSize(page);
  const QSize had = window->size();
  change();
  // Bringing the window's layout up to date may already have grown it.
  const QSize after = NeededSize(page);
  if (after == before || window->isMaximized() || window->isFullScreen()) return;
  const QSize size = (had + after - before).expandedTo(after);
  if (size != window->size()) window->resize(size);
}

void ShowForVariant(QWidget* page, const PageLayout& layout, Variant variant) {
  QtControlHost host(page);
  std::set<int> captionsShown;
  for (const Entry& e : layout.entries) {
    if (e.kind == ControlKind::TabControl) continue;
    if (e.kind == ControlKind::PushButton && e.byRule) continue;  // the full refresh decides
    const bool on = e.ControlOn(variant);
    // A control listed twice (the same id on other rows for other variants)
    // is shown when either entry shows it.
    if (on || !std::any_of(layout.entries.begin(), layout.entries.end(),
                           [&](const Entry& o) { return o.control == e.control && o.ControlOn(variant); }))
      host.Show(e.control, on);
    if (!e.CaptionIsOwnText() && e.caption.id > 0) {
      const bool captionOn = e.CaptionOn(variant);
      if (captionOn) {
        captionsShown.insert(e.caption.id);
        host.SetText(e.caption.id, pages::CaptionText(layout.id, e.caption.id, variant));
        host.Show(e.caption.id, true);
      } else if (!captionsShown.count(e.caption.id)) {
        host.Show(e.caption.id, false);
      }
    }
  }
}

}  // namespace vecta::gui
