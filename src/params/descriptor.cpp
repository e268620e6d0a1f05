#include "params/descriptor.h"

namespace vecta::params {

std::vector<std::string> OfferedOptions(const OptionList& options) {
  std::vector<std::string> offered;
  offered.reserve(options.size());
  for (const auto& o : options)
    if (o != kEmptyOption) offered.push_back(o);
  return offered;
}

std::int32_t WireToPosition(const OptionList& options, long long wire) {
  const long long size = static_cast<long long>(options.size());
  long long empties = 0;
  if (wire < size) {
    for (long long i = 0; i < wire; ++i)
      if (options[static_cast<std::size_t>(i)] == kEmptyOption) ++empties;
    // A negative wire value names no option: no selection.
    return static_cast<std::int32_t>(wire < 0 ? -1 : wire - empties);
  }
  for (const auto& o : options)
    if (o == kEmptyOption) ++empties;
  const long long position = wire - empties;
  return static_cast<std::int32_t>(position > INT32_MAX ? INT32_MAX : position);
}

std::optional<int> PositionToWire(const OptionList& options, std::int32_t position) {
  if (position < 0) return std::nullopt;
  std::int32_t seen = 0;
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (options[i] == kEmptyOption) continue;
    if (seen++ == position) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::optional<std::string> ParamRow::Text() const {
  std::lock_guard lock(*lock_);
  if (value_ && std::holds_alternative<std::string>(*value_)) return std::get<std::string>(*value_);
  return std::nullopt;
}
std::optional<std::int32_t> ParamRow::Position() const {
  std::lock_guard lock(*lock_);
  if (value_ && std::holds_alternative<std::int32_t>(*value_)) return std::get<std::int32_t>(*value_);
  return std::nullopt;
}
std::optional<std::uint32_t> ParamRow::Address() const {
  std::lock_guard lock(*lock_);
  if (value_ && std::holds_alternative<std::uint32_t>(*value_)) return std::get<std::uint32_t>(*value_);
  return std::nullopt;
}
std::optional<std::uint8_t> ParamRow::Check() const {
  std::lock_guard lock(*lock_);
  if (value_ && std::holds_alternative<std::uint8_t>(*value_)) return std::get<std::uint8_t>(*value_);
  return std::nullopt;
}

ParamTable::ParamTable(std::span<const RowDescriptor> desc) {
  rows_.reserve(desc.size());
  for (const auto& s : desc) rows_.emplace_back(s);
}

ParamRow* ParamTable::Find(std::string_view mnemonic, int control) {
  for (auto& r : rows_)
    if (r.Mnemonic() == mnemonic && (control == 0 || r.Control() == control)) return &r;
  return nullptr;
}

const ParamRow* ParamTable::Find(std::string_view mnemonic, int control) const {
  return const_cast<ParamTable*>(this)->Find(mnemonic, control);
}

ParamRow* ParamTable::FindControl(int control) {
  for (auto& r : rows_)
    if (r.Control() == control) return &r;
  return nullptr;
}

std::int32_t ParamTable::StoredListPosition(std::string_view mnemonic, int control) const {
  const ParamRow* row = Find(mnemonic, control);
  if (!row || (row->GetKind() != Kind::List && row->GetKind() != Kind::StatusList)) return kNoStoredPosition;
  return row->Position().value_or(kNoStoredPosition);
}

void ParamTable::ClearValues() {
  for (auto& r : rows_) r.Clear();
}

ParamTables::ParamTables() : main(MainTableRows()), satmod(SatmodTableRows()) {}

}  // namespace vecta::params
