// vectactl set: the value as an operator types it, entered into a page and
// applied as the pages apply it.
#include <cmath>
#include <cstdlib>
#include <ostream>

#include "link/frame.h"
#include "link/link_lock.h"
#include "params/apply.h"
#include "params/convert.h"
#include "params/page_rules.h"
#include "params/refresh.h"
#include "params/typed_value.h"
#include "unit_tool.h"

namespace vecta::ctl {

using namespace vecta::link;

namespace {

// What the unit should hold once the page's control is applied, as the
// wire text; "" when that cannot be told (derived rows).
std::string AskedWire(const params::RowDescriptor& desc, const params::ControlHost& page, std::int32_t position) {
  if (desc.Derived()) return {};
  switch (desc.kind) {
    case params::Kind::Text:
      return params::FormTextValue(desc, page.Text(desc.control));
    case params::Kind::List:
      if (position > 3 && desc.control == params::ids::kResolution) return {};  // held in ecmd
      return params::FormListValue(desc, position).value_or("");
    case params::Kind::Check:
      return desc.Has(params::flag::kBitratePair) ? std::string()
                                                  : params::FormCheckValue(page.Checked(desc.control));
    case params::Kind::Address:
      return params::FormatAddress(page.Address(desc.control));
    default:
      return {};
  }
}

// Numbers compare by value: the unit may give 4.500 for 4.5.
bool SameWire(const params::RowDescriptor& desc, const std::string& held, const std::string& asked) {
  if (held == asked) return true;
  if (!desc.Numeric() || held.empty()) return false;
  return std::fabs(std::strtod(held.c_str(), nullptr) - std::strtod(asked.c_str(), nullptr)) < 1e-9;
}

std::string HeldWire(const params::RowDescriptor& desc, const params::ParamRow& row) {
  const auto value = row.Get();
  if (!value) return {};
  switch (desc.kind) {
    case params::Kind::Text:
      return params::FormTextValue(desc, std::get<std::string>(*value));
    default:
      return WireText(desc, value);
  }
}

}  // namespace

// The value as an operator types it, through a page holding the named
// row's control and only what its own rule needs, and the same apply the
// pages use: mode changes wait for the unit, derived rows write the
// mnemonics behind them. The unit's value is read back and compared.
int Tool::Set(const std::string& mnemonic, const std::string& text) {
  if (auto problem = params::TypedTextProblem(mnemonic, text)) {
    err_ << *problem << "\n";
    return kExitUsage;
  }
  if (int rc = Refresh()) return rc;
  params::ParamTable* table = nullptr;
  params::ParamRow* row = RowToSet(mnemonic, table);
  if (!row) return NoSuchRow(mnemonic);
  const params::RowDescriptor& desc = row->Desc();
  if (int rc = CheckSettable(mnemonic, desc, *table)) return rc;

  std::vector<int> controls;
  params::MemoryHost page = PageFor(desc, *table, controls);
  std::int32_t askedPosition = -1;
  if (int rc = EnterValue(page, desc, controls, text, askedPosition)) return rc;
  const std::string asked = AskedWire(desc, page, askedPosition);
  {
    OperationLock operation;
    if (params::Apply(unit_, *table, page) != 0) params::Refresh(unit_, *table, page);
  }
  if (prompter_.ErrorShown()) return kExitLinkError;
  const auto value = row->Get();
  if (!value) {
    err_ << "The unit did not answer " << mnemonic << "\n";
    return kExitLinkError;
  }
  const std::string shown = params::ShownValue(desc, value);
  if (!asked.empty() && !SameWire(desc, HeldWire(desc, *row), asked)) {
    err_ << "the unit kept " << mnemonic << " at " << shown << "\n";
    return kExitLinkError;
  }
  out_ << shown << "\n";
  return kExitOk;
}

// Why a row cannot be set now, as the exit code after saying so; 0 when
// it can.
int Tool::CheckSettable(const std::string& mnemonic, const params::RowDescriptor& desc,
                        const params::ParamTable& table) {
  // The manual bitrate is typed in its edit and written through the box.
  if (!desc.writable && !desc.Has(params::flag::kBitratePair)) {
    err_ << mnemonic << " is shown only; it cannot be set\n";
    return kExitUsage;
  }
  if (&table == &tables_.satmod && !view_.satmodButton) {
    err_ << mnemonic << " is a satellite modulator setting and no satellite modulator answers on this unit\n";
    return kExitUsage;
  }
  if (unit_.variant() != params::Variant::K610 && desc.control == params::ids::kMpeg4EncodingMode &&
      unit_.rules.encoderIndex == 0) {
    err_ << mnemonic << " is the MPEG4 encoding mode; the encoder is MPEG2 now\n";
    return kExitUsage;
  }
  return kExitOk;
}

// The page: the row's control and, for the bitrate pair, its partner
// (both in `controls`, the row's first), showing what the unit holds.
params::MemoryHost Tool::PageFor(const params::RowDescriptor& desc, const params::ParamTable& table,
                                 std::vector<int>& controls) {
  controls = {desc.control};
  if (desc.Has(params::flag::kBitratePair))
    for (const auto& other : table.Rows())
      if (other.Desc().Has(params::flag::kBitratePair) && other.Desc().control != desc.control)
        controls.push_back(other.Desc().control);
  params::MemoryHost page(controls);
  params::InitPage(page, table);
  for (const auto& r : table.Rows())
    if (page.HasControl(r.Desc().control) && params::RowExists(r.Desc(), unit_.variant()))
      params::ShowStoredValue(r, page);
  return page;
}

// The typed value into the page's control, as the operator would enter
// it; the exit code when it is not one the control takes.
int Tool::EnterValue(params::MemoryHost& page, const params::RowDescriptor& desc, const std::vector<int>& controls,
                     const std::string& text, std::int32_t& askedPosition) {
  std::vector<std::string> offered;
  params::TypedContext context;
  if (desc.kind == params::Kind::List) context.offered = &(offered = OfferedNow(page, desc));
  // The "Manual" box turned on writes the bitrate its edit shows.
  if (controls.size() > 1) context.bitrate = std::atof(page.Text(controls[1]).c_str());
  const params::TypedValue typed = params::TypedToWire(desc, text, context);
  if (!typed.ok()) {
    err_ << typed.problem << "\n";
    return kExitUsage;
  }
  switch (desc.kind) {
    case params::Kind::List:
      askedPosition = typed.position;
      page.Select(desc.control, askedPosition);
      return kExitOk;
    case params::Kind::Check:
      page.SetChecked(desc.control, typed.ticked);
      return kExitOk;
    case params::Kind::Address:
      page.SetAddress(desc.control, params::ParseAddress(text));
      page.SetText(desc.control, text);
      return kExitOk;
    default:
      page.SetText(desc.control, text);
      // A bitrate typed means a manual bitrate.
      if (desc.Has(params::flag::kBitratePair))
        for (int id : controls)
          if (id != desc.control) page.SetChecked(id, true);
      return kExitOk;
  }
}

// The entries the row's list offers now, in the page too.
std::vector<std::string> Tool::OfferedNow(params::MemoryHost& page, const params::RowDescriptor& desc) {
  auto offered = params::OfferedOptions(*desc.options);
  // MPEG4 offers the two small sizes after the four fixed ones.
  const bool k240Resolution = unit_.variant() != params::Variant::K610 && desc.control == params::ids::kResolution;
  if (k240Resolution && unit_.rules.encoderIndex == 1) {
    offered.resize(std::min<std::size_t>(offered.size(), 4));
    offered.push_back("SIF");
    offered.push_back("QSIF");
    page.ClearList(desc.control);
    for (std::size_t i = 0; i < offered.size(); ++i)
      page.InsertEntry(desc.control, static_cast<int>(i), offered[i]);
  }
  return offered;
}

// The row of the mnemonic that the unit uses now: of two rate lists, the
// one for the audio encoder's layer.
params::ParamRow* Tool::RowToSet(const std::string& mnemonic, params::ParamTable*& table) {
  std::vector<std::pair<params::ParamRow*, params::ParamTable*>> found;
  for (params::ParamTable* t : tables_.All())
    for (auto& row : t->Rows())
      if (row.Mnemonic() == mnemonic && params::RowExists(row.Desc(), unit_.variant())) found.push_back({&row, t});
  if (found.empty()) return nullptr;
  int wanted = 0;
  const params::ParamTable& main = tables_.main;
  if (mnemonic == "ampr")
    wanted = main.StoredListPosition("aenc") <= 12 ? params::ids::kLayer1AudioRate : params::ids::kLayer2AudioRate;
  else if (mnemonic == "a1br")
    wanted =
        main.StoredListPosition("a1en") <= 2 ? params::ids::kEncoder1Layer1Rate : params::ids::kEncoder1Layer2Rate;
  else if (mnemonic == "a2br")
    wanted =
        main.StoredListPosition("a2en") <= 2 ? params::ids::kEncoder2Layer1Rate : params::ids::kEncoder2Layer2Rate;
  for (auto& [row, t] : found)
    if (row->Desc().control == wanted) {
      table = t;
      return row;
    }
  table = found.front().second;
  return found.front().first;
}

}  // namespace vecta::ctl
