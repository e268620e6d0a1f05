#include "params/memory_host.h"

#include <algorithm>

namespace vecta::params {

MemoryHost::MemoryHost(std::span<const int> ids) {
  for (int id : ids) Add(id);
}

MemoryHost MemoryHost::ForTable(std::span<const RowDescriptor> rows) {
  MemoryHost host;
  for (const auto& r : rows) host.Add(r.control);
  return host;
}

void MemoryHost::Add(int id) { controls_.try_emplace(id); }
void MemoryHost::Remove(int id) { controls_.erase(id); }

MemoryHost::Control* MemoryHost::Find(int id) {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}
const MemoryHost::Control* MemoryHost::Find(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

bool MemoryHost::HasControl(int id) const { return Find(id) != nullptr; }

void MemoryHost::SetText(int id, std::string_view text) {
  if (auto* c = Find(id)) c->text = text;
}
std::string MemoryHost::Text(int id) const {
  const auto* c = Find(id);
  return c ? c->text : std::string();
}
void MemoryHost::SetReadOnly(int id, bool readOnly) {
  if (auto* c = Find(id)) c->readOnly = readOnly;
}
void MemoryHost::Enable(int id, bool enabled) {
  if (auto* c = Find(id)) c->enabled = enabled;
}
void MemoryHost::Show(int id, bool visible) {
  if (auto* c = Find(id)) c->visible = visible;
}
bool MemoryHost::IsEnabled(int id) const {
  const auto* c = Find(id);
  return c && c->enabled;
}
bool MemoryHost::IsVisible(int id) const {
  const auto* c = Find(id);
  return c && c->visible;
}
bool MemoryHost::IsReadOnly(int id) const {
  const auto* c = Find(id);
  return c && c->readOnly;
}
void MemoryHost::ClearList(int id) {
  if (auto* c = Find(id)) {
    c->entries.clear();
    c->selected = -1;
  }
}
void MemoryHost::InsertEntry(int id, int position, std::string_view text) {
  auto* c = Find(id);
  if (!c) return;
  const auto at = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(position, 0)), 0, c->entries.size());
  c->entries.insert(c->entries.begin() + static_cast<std::ptrdiff_t>(at), std::string(text));
  if (c->selected >= static_cast<int>(at)) ++c->selected;
}
void MemoryHost::DeleteEntry(int id, int position) {
  auto* c = Find(id);
  if (!c || position < 0 || position >= static_cast<int>(c->entries.size())) return;
  c->entries.erase(c->entries.begin() + position);
  if (c->selected == position)
    c->selected = -1;
  else if (c->selected > position)
    --c->selected;
}
int MemoryHost::EntryCount(int id) const {
  const auto* c = Find(id);
  return c ? static_cast<int>(c->entries.size()) : 0;
}
std::string MemoryHost::EntryText(int id, int position) const {
  const auto* c = Find(id);
  if (!c || position < 0 || position >= static_cast<int>(c->entries.size())) return {};
  return c->entries[static_cast<std::size_t>(position)];
}
void MemoryHost::Select(int id, int position) {
  auto* c = Find(id);
  if (!c) return;
  // As a drop-down list does: a position it does not have selects nothing.
  c->selected = position >= 0 && position < static_cast<int>(c->entries.size()) ? position : -1;
}
int MemoryHost::Selected(int id) const {
  const auto* c = Find(id);
  return c ? c->selected : -1;
}
void MemoryHost::SetChecked(int id, bool checked) {
  if (auto* c = Find(id)) c->checked = checked;
}
bool MemoryHost::Checked(int id) const {
  const auto* c = Find(id);
  return c && c->checked;
}
void MemoryHost::SetAddress(int id, std::uint32_t address) {
  if (auto* c = Find(id)) c->address = address;
}
std::uint32_t MemoryHost::Address(int id) const {
  const auto* c = Find(id);
  return c ? c->address : 0;
}
std::string MemoryHost::SelectedText(int id) const { return EntryText(id, Selected(id)); }

}  // namespace vecta::params
