#include "gui/qt_control_host.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPalette>
#include <QPlainTextEdit>
#include <QSet>
#include <QStringListModel>
#include <QVariant>
#include <algorithm>
#include <atomic>

#include "gui/ip_address_edit.h"
#include "gui/q_string.h"

namespace vecta::gui {
namespace {

// Counts the id assignments (SetControlId): an index built since the last
// one still knows every widget's id.
std::atomic<std::uint64_t> g_idAssignments{0};

// The models given to UseSharedModel that still exist (window thread only).
// A combo box uses a shared model while its model is one of them: a private
// copy (Detach, ClearList) replaces the model.
QSet<const QAbstractItemModel*>& SharedModels() {
  static QSet<const QAbstractItemModel*> models;
  return models;
}

// Gives a combo box that uses a shared model its own copy of the entries,
// keeping its selection.
void Detach(QComboBox* combo) {
  if (!UsesSharedModel(combo)) return;
  const int selected = combo->currentIndex();
  QStringList entries;
  entries.reserve(combo->count());
  for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
  combo->setModel(new QStringListModel(entries, combo));
  combo->setCurrentIndex(selected);
}

// Set on an edit whose palette SetEditReadOnly changed; holds the palette
// the edit had been given before, if any.
constexpr char kReadOnlyLookProperty[] = "vectaReadOnlyLook";

// The caption of a control, and whether the control is marked.
constexpr char kCaptionProperty[] = "vectaCaption";
constexpr char kMarkedProperty[] = "vectaMarked";
// On a caption: the ids of the marked controls it stands for.
constexpr char kMarkedByProperty[] = "vectaMarkedBy";

// The caption a mark shows on: the control's own text for buttons and check
// boxes, else its caption label.
QWidget* MarkedCaption(QWidget* control) {
  if (qobject_cast<QAbstractButton*>(control)) return control;
  return CaptionOf(control);
}

// Bold, or the font the widget inherits.
void SetBold(QWidget* w, bool bold) {
  if (!w) return;
  if (!bold) {
    w->setFont(QFont());
    return;
  }
  QFont f;
  f.setBold(true);
  w->setFont(f);
}

}  // namespace

void SetCaptionOf(QWidget* control, QWidget* caption) {
  if (control) control->setProperty(kCaptionProperty, QVariant::fromValue(static_cast<QObject*>(caption)));
}

QWidget* CaptionOf(const QWidget* control) {
  if (!control) return nullptr;
  return qobject_cast<QWidget*>(control->property(kCaptionProperty).value<QObject*>());
}

void SetEditReadOnly(QLineEdit* edit, bool readOnly) {
  if (!edit) return;
  edit->setReadOnly(readOnly);
  const QVariant look = edit->property(kReadOnlyLookProperty);
  if (readOnly && !look.isValid()) {
    // Keep a palette someone gave the edit, to give it back.
    edit->setProperty(kReadOnlyLookProperty,
                      edit->testAttribute(Qt::WA_SetPalette) ? QVariant(edit->palette()) : QVariant(false));
    QPalette palette = edit->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
      palette.setBrush(group, QPalette::Base, palette.brush(group, QPalette::Window));
    edit->setPalette(palette);
  } else if (!readOnly && look.isValid()) {
    edit->setProperty(kReadOnlyLookProperty, QVariant());
    edit->setPalette(look.typeId() == QMetaType::QPalette ? look.value<QPalette>() : QPalette());
  }
}

void SetControlId(QWidget* widget, int id) {
  if (!widget) return;
  widget->setProperty(kControlIdProperty, id);
  ++g_idAssignments;
}

int ControlIdOf(const QWidget* widget) {
  if (!widget) return -1;
  bool ok = false;
  const int id = widget->property(kControlIdProperty).toInt(&ok);
  return ok ? id : -1;
}

void UseSharedModel(QComboBox* combo, QStringListModel* model) {
  if (!combo || !model) return;
  combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  combo->setMinimumContentsLength(kSharedListMinimumContentsLength);
  if (auto* view = qobject_cast<QListView*>(combo->view())) view->setUniformItemSizes(true);
  if (!SharedModels().contains(model)) {
    SharedModels().insert(model);
    QObject::connect(model, &QObject::destroyed, [model] { SharedModels().remove(model); });
  }
  combo->setModel(model);
  combo->setCurrentIndex(-1);
}

bool UsesSharedModel(const QComboBox* combo) { return combo && SharedModels().contains(combo->model()); }

QtControlHost::QtControlHost(QWidget* root) : root_(root) {}

// Lookups are answered from an index of the window's widgets by id. The
// index is rebuilt when ids were assigned since it was built, when a lookup
// finds a widget gone, and when an id is missing while the window has gained
// or lost widgets since. Between id assignments a lookup reads no property.
void QtControlHost::RebuildIndex() const {
  index_.clear();
  assignments_ = g_idAssignments.load();
  const auto children = root_->findChildren<QWidget*>();
  indexedWidgets_ = children.size();
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    const int id = ControlIdOf(*it);
    if (id >= 0) index_[id] = *it;  // the first in search order wins
  }
  if (const int id = ControlIdOf(root_); id >= 0) index_[id] = root_.data();
  indexed_ = true;
}

QWidget* QtControlHost::Find(int id) const {
  if (!root_) return nullptr;
  if (!indexed_ || assignments_ != g_idAssignments.load()) RebuildIndex();
  auto it = index_.find(id);
  if (it != index_.end()) {
    if (it->second) return it->second;
    RebuildIndex();
  } else if (root_->findChildren<QWidget*>().size() == indexedWidgets_) {
    return nullptr;
  } else {
    RebuildIndex();
  }
  it = index_.find(id);
  return it != index_.end() ? it->second.data() : nullptr;
}

QComboBox* QtControlHost::FindCombo(int id) const { return qobject_cast<QComboBox*>(Find(id)); }

bool QtControlHost::HasControl(int id) const { return Find(id) != nullptr; }

void QtControlHost::SetText(int id, std::string_view text) {
  QWidget* w = Find(id);
  const QString t = Q(text);
  if (auto* e = qobject_cast<QLineEdit*>(w))
    e->setText(t);
  else if (auto* l = qobject_cast<QLabel*>(w))
    l->setText(t);
  else if (auto* p = qobject_cast<QPlainTextEdit*>(w))
    p->setPlainText(t);
  else if (auto* a = qobject_cast<IpAddressEdit*>(w))
    a->SetText(t);
  else if (auto* b = qobject_cast<QAbstractButton*>(w))
    b->setText(t);
  else if (auto* c = qobject_cast<QComboBox*>(w); c && c->isEditable())
    c->setEditText(t);
}

std::string QtControlHost::Text(int id) const {
  QWidget* w = Find(id);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
  if (auto* p = qobject_cast<QPlainTextEdit*>(w)) return p->toPlainText().toStdString();
  if (auto* a = qobject_cast<IpAddressEdit*>(w)) return a->Text().toStdString();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText().toStdString();
  return {};
}

void QtControlHost::SetReadOnly(int id, bool readOnly) {
  QWidget* w = Find(id);
  if (auto* e = qobject_cast<QLineEdit*>(w))
    SetEditReadOnly(e, readOnly);
  else if (auto* p = qobject_cast<QPlainTextEdit*>(w))
    p->setReadOnly(readOnly);
  else if (auto* a = qobject_cast<IpAddressEdit*>(w))
    a->SetReadOnly(readOnly);
}

bool QtControlHost::IsReadOnly(int id) const {
  QWidget* w = Find(id);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->isReadOnly();
  if (auto* p = qobject_cast<QPlainTextEdit*>(w)) return p->isReadOnly();
  if (auto* a = qobject_cast<IpAddressEdit*>(w)) return a->IsReadOnly();
  return false;
}

void QtControlHost::Enable(int id, bool enabled) {
  if (QWidget* w = Find(id)) w->setEnabled(enabled);
}

void QtControlHost::Show(int id, bool visible) {
  if (QWidget* w = Find(id)) w->setVisible(visible);
}

bool QtControlHost::IsEnabled(int id) const {
  // Qt sets WA_ForceDisabled exactly when the widget itself was disabled;
  // isEnabled() would also be false under a disabled page or window.
  QWidget* w = Find(id);
  return w && !w->testAttribute(Qt::WA_ForceDisabled);
}

bool QtControlHost::IsVisible(int id) const {
  // A child widget counts as hidden (isHidden()) from its creation until its
  // window is first shown; only an explicit hide makes a control invisible.
  QWidget* w = Find(id);
  if (!w) return false;
  if (!w->isHidden()) return true;
  return !w->isWindow() && !w->testAttribute(Qt::WA_WState_ExplicitShowHide);
}

void QtControlHost::ClearList(int id) {
  QComboBox* c = FindCombo(id);
  if (!c) return;
  if (UsesSharedModel(c)) {
    c->setModel(new QStringListModel(c));
  } else {
    c->clear();
  }
  c->setCurrentIndex(-1);
}

void QtControlHost::InsertEntry(int id, int position, std::string_view text) {
  QComboBox* c = FindCombo(id);
  if (!c) return;
  const int at = std::clamp(position, 0, c->count());
  const QString t = Q(text);
  if (UsesSharedModel(c)) {
    if (at < c->count() && c->itemText(at) == t) return;  // filled by its page
    Detach(c);
  }
  // A combo box selects its first entry when one is added to an empty list;
  // the selection stays as it was, moved down when the entry goes before it.
  const int selected = c->currentIndex();
  c->insertItem(at, t);
  c->setCurrentIndex(selected >= at ? selected + 1 : selected);
}

void QtControlHost::DeleteEntry(int id, int position) {
  QComboBox* c = FindCombo(id);
  if (!c || position < 0 || position >= c->count()) return;
  Detach(c);
  const int selected = c->currentIndex();
  c->removeItem(position);
  c->setCurrentIndex(selected == position ? -1 : selected > position ? selected - 1 : selected);
}

int QtControlHost::EntryCount(int id) const {
  QComboBox* c = FindCombo(id);
  return c ? c->count() : 0;
}

std::string QtControlHost::EntryText(int id, int position) const {
  QComboBox* c = FindCombo(id);
  if (!c || position < 0 || position >= c->count()) return {};
  return c->itemText(position).toStdString();
}

void QtControlHost::Select(int id, int position) {
  QComboBox* c = FindCombo(id);
  if (!c) return;
  c->setCurrentIndex(position >= 0 && position < c->count() ? position : -1);
}

int QtControlHost::Selected(int id) const {
  QComboBox* c = FindCombo(id);
  return c ? c->currentIndex() : -1;
}

void QtControlHost::SetChecked(int id, bool checked) {
  if (auto* b = qobject_cast<QAbstractButton*>(Find(id))) b->setChecked(checked);
}

bool QtControlHost::Checked(int id) const {
  auto* b = qobject_cast<QAbstractButton*>(Find(id));
  return b && b->isChecked();
}

void QtControlHost::SetAddress(int id, std::uint32_t address) {
  if (auto* a = qobject_cast<IpAddressEdit*>(Find(id))) a->SetAddress(address);
}

std::uint32_t QtControlHost::Address(int id) const {
  auto* a = qobject_cast<IpAddressEdit*>(Find(id));
  return a ? a->Address() : 0;
}

void QtControlHost::SetMarked(int id, bool marked, std::string_view tooltip) {
  QWidget* w = Find(id);
  if (!w || (w->property(kMarkedProperty).toBool() == marked && (!marked || MarkTip(id) == tooltip))) return;
  w->setProperty(kMarkedProperty, marked);
  const QString tip = marked ? Q(tooltip) : QString();
  w->setToolTip(tip);
  QWidget* caption = MarkedCaption(w);
  if (!caption || caption == w) {
    SetBold(caption, marked);
    return;
  }
  // A caption several controls share (lists that take turns in one place)
  // stays bold while any of them is marked, with the tooltip of the one
  // marked last.
  QVariantList by = caption->property(kMarkedByProperty).toList();
  by.removeAll(QVariant(id));
  if (marked) by.append(id);
  caption->setProperty(kMarkedByProperty, by);
  SetBold(caption, !by.isEmpty());
  if (marked || by.isEmpty()) {
    caption->setToolTip(tip);
  } else if (QWidget* other = Find(by.constLast().toInt())) {
    caption->setToolTip(other->toolTip());
  }
}

bool QtControlHost::IsMarked(int id) const {
  QWidget* w = Find(id);
  return w && w->property(kMarkedProperty).toBool();
}

std::string QtControlHost::MarkTip(int id) const {
  QWidget* w = Find(id);
  return w && w->property(kMarkedProperty).toBool() ? w->toolTip().toStdString() : std::string();
}

}  // namespace vecta::gui
