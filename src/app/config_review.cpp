#include "app/config_review.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "link/link_lock.h"
#include "pages/layouts.h"
#include "params/config_set.h"
#include "params/convert.h"
#include "params/page_rules.h"

namespace vecta::app {
namespace {

using params::ConfigImage;
using params::ConfigRecord;
using params::Kind;
using params::RowDescriptor;
using params::Variant;

long long WireNumber(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

// The rows whose values a configuration file carries.
bool Saved(const RowDescriptor& row) {
  if (!row.writable || row.Derived()) return false;
  return row.kind != Kind::StatusList && (row.kind != Kind::Check || row.Has(params::flag::kBitratePair));
}

std::vector<const RowDescriptor*> RowsOf(std::string_view mnemonic, Variant variant) {
  std::vector<const RowDescriptor*> rows;
  for (const RowDescriptor& row : params::MainTableRows())
    if (row.mnemonic == mnemonic && Saved(row) && params::RowExists(row, variant)) rows.push_back(&row);
  return rows;
}

// Of two rate lists of one encoder the page shows the one for the
// encoder's layer (Layer 1 up to "MPEG Layer 1 48KHz Mono" of aenc, up to
// position 2 of a1en and a2en); the encoder's value comes from the same
// side of the comparison.
const RowDescriptor* RowShown(const std::vector<const RowDescriptor*>& rows, const params::UnitValues& values) {
  if (rows.size() < 2) return rows.front();
  const std::string_view m = rows.front()->mnemonic;
  const char* encoder = m == "ampr" ? "aenc" : m == "a1br" ? "a1en" : m == "a2br" ? "a2en" : nullptr;
  const long long lastLayer1 = m == "ampr" ? 12 : 2;
  if (!encoder) return rows.front();
  const auto it = values.find(encoder);
  const bool layer1 = it == values.end() || WireNumber(it->second) <= lastLayer1;
  for (const RowDescriptor* row : rows)
    if (row->Has(layer1 ? params::flag::kLayer1Rates : params::flag::kLayer2Rates)) return row;
  return rows.front();
}

// The K240 encoding mode 4 and 5 are the "SIF" and "QSIF" sizes, which the
// pages show in the "Resolution" list.
std::optional<std::string_view> SmallSizeName(const RowDescriptor& row, long long wire) {
  if (row.control != params::ids::kMpeg4EncodingMode) return std::nullopt;
  if (wire == 4) return params::kSifEntry;
  if (wire == 5) return params::kQsifEntry;
  return std::nullopt;
}

std::string Shown(const RowDescriptor& row, const std::string& wire) {
  switch (row.kind) {
    case Kind::Text:
      return params::DisplayText(row, wire);
    case Kind::List:
      if (const auto size = SmallSizeName(row, WireNumber(wire))) return std::string(*size);
      return params::StatusText(row, params::WireToPosition(*row.options, WireNumber(wire)));
    case Kind::Address:
      return params::FormatAddress(params::ParseAddress(wire));
    case Kind::Check: {
      // The "Manual" box with the bitrate it sets, in kbit/s on the wire and
      // in Mbit/s on the page.
      const long long kbits = WireNumber(wire);
      if (kbits == 0) return "Off";
      char text[48];
      std::snprintf(text, sizeof text, "On, %g Mbit/s", static_cast<double>(kbits) / 1000.0);
      return text;
    }
    default:
      return wire;
  }
}

bool SameValue(const RowDescriptor& row, const std::string& a, const std::string& b) {
  switch (row.kind) {
    case Kind::Text:
      return params::DisplayText(row, a) == params::DisplayText(row, b);
    case Kind::Address:
      return params::ParseAddress(a) == params::ParseAddress(b);
    default:
      return WireNumber(a) == WireNumber(b);
  }
}

// A record's value as the unit would answer it.
params::UnitValues FileValues(const ConfigImage& image) {
  params::UnitValues values;
  for (const ConfigRecord& r : image.records) values.emplace(r.mnemonic, r.ValueText());
  return values;
}

std::optional<std::string> GroupOf(const pages::PageLayout& page, const pages::Entry& entry, Variant variant) {
  if (entry.place.area != pages::Area::Grid) return std::nullopt;
  for (const pages::Entry& g : page.entries)
    if (g.kind == pages::ControlKind::GroupBox && g.ControlOn(variant) && g.place.area == pages::Area::Grid &&
        g.place.column == entry.place.column && entry.place.row >= g.place.row &&
        entry.place.row < g.place.row + g.place.rowSpan)
      return std::string(g.caption.text);
  return std::nullopt;
}

}  // namespace

std::string VariantName(Variant variant) {
  switch (variant) {
    case Variant::K240:
      return "K240";
    case Variant::K610:
      return "K610";
    default:
      return "board of another type";
  }
}

Variant FileVariant(std::span<const ConfigImage> images, Variant unitVariant) {
  std::set<std::string, std::less<>> inFile;
  for (const ConfigImage& image : images)
    for (const ConfigRecord& r : image.records)
      if (r.mnemonic != "glod") inFile.insert(r.mnemonic);
  struct Fit {
    Variant variant;
    long long foreign = 0, missing = 0, settings = 0;
  };
  std::vector<Fit> fits;
  for (Variant v : {unitVariant, Variant::K240, Variant::K610, Variant::Other}) {
    Fit fit{v};
    for (const std::string& m : inFile) fit.foreign += RowsOf(m, v).empty() ? 1 : 0;
    std::set<std::string_view> boardSettings;
    for (const RowDescriptor& row : params::MainTableRows())
      if (Saved(row) && params::RowExists(row, v)) boardSettings.insert(row.mnemonic);
    for (std::string_view m : boardSettings) fit.missing += inFile.count(m) ? 0 : 1;
    fit.settings = static_cast<long long>(boardSettings.size());
    fits.push_back(fit);
  }
  long long leastForeign = fits.front().foreign;
  for (const Fit& f : fits) leastForeign = std::min(leastForeign, f.foreign);
  // A file that names only a few settings (made by hand, or cut down) says
  // little about the board it came from: when nothing in it is foreign to
  // the unit's board, it is taken as the unit's.
  const Fit& own = fits.front();
  if (own.foreign == leastForeign && (own.settings - own.missing) * 2 < own.settings) return unitVariant;
  const Fit* best = nullptr;
  for (const Fit& f : fits)
    if (f.foreign == leastForeign && (!best || f.missing < best->missing)) best = &f;
  return best->variant;
}

std::string SettingCaption(const RowDescriptor& row, Variant variant) {
  for (const pages::PageLayout& page : pages::AllPages()) {
    // The pages of the table the row belongs to.
    const std::span<const RowDescriptor> table = pages::TableFor(page.id);
    if (&row < table.data() || &row >= table.data() + table.size()) continue;
    for (const pages::Entry& e : page.entries) {
      if (e.control != row.control || !e.ControlOn(variant) || e.caption.text.empty()) continue;
      if (!e.CaptionIsOwnText() && !e.CaptionOn(variant)) continue;
      std::string caption(e.caption.text);
      if (const auto group = GroupOf(page, e, variant)) return *group + ": " + caption;
      return caption;
    }
  }
  return row.mnemonic;
}

params::ConfigurationReview CompareConfiguration(const ConfigImage& image, const params::UnitValues& unit,
                                                 Variant variant) {
  params::ConfigurationReview review;
  const params::UnitValues file = FileValues(image);
  std::set<std::pair<std::string, std::string>> seen;
  for (const ConfigRecord& r : image.records) {
    if (r.mnemonic == "glod") continue;
    const std::string value = r.ValueText();
    if (!seen.insert({r.mnemonic, value}).second) continue;
    const std::vector<const RowDescriptor*> rows = RowsOf(r.mnemonic, variant);
    if (rows.empty()) {
      ++review.notOnBoard;
      continue;
    }
    const RowDescriptor& fileRow = *RowShown(rows, file);
    const auto held = unit.find(r.mnemonic);
    if (held != unit.end() && SameValue(fileRow, value, held->second)) {
      ++review.equal;
      continue;
    }
    params::ReviewLine line;
    line.mnemonic = r.mnemonic;
    line.caption = SettingCaption(fileRow, variant);
    line.unitValue = held == unit.end() ? params::kNoReplyValue : Shown(*RowShown(rows, unit), held->second);
    line.fileValue = Shown(fileRow, value);
    review.differing.push_back(std::move(line));
  }
  return review;
}

namespace {

params::ConfigReview StartReview(const params::UnitContext& unit, const std::string& path,
                                 const params::ConfigFileData& data, bool set) {
  params::ConfigReview review;
  review.file = path;
  review.set = set;
  review.unitBoard = unit.boardType;
  const Variant fileVariant = FileVariant(data.images, unit.variant());
  review.fileBoard = VariantName(fileVariant);
  review.otherBoard = fileVariant != unit.variant();
  return review;
}

}  // namespace

params::ConfigReview ReviewConfigFile(params::UnitContext& unit, const std::string& path,
                                      const params::ConfigFileData& data) {
  params::ConfigReview review = StartReview(unit, path, data, false);
  link::OperationLock operation;
  const params::UnitValues values = params::ReadUnitValues(unit, data.images.front().records);
  review.configs.push_back(CompareConfiguration(data.images.front(), values, unit.variant()));
  review.configs.back().number = 0;
  return review;
}

bool LastSaveFits(const params::UnitContext& unit) {
  return unit.lastSetSave && unit.lastSetSave->boardType == unit.boardType &&
         unit.lastSetSave->unitAddress == unit.unitAddress;
}

params::ConfigReview ReviewConfigSet(params::UnitContext& unit, const std::string& path,
                                     const params::ConfigFileData& data, params::ReviewBasis basis) {
  params::ConfigReview review = StartReview(unit, path, data, true);
  std::vector<std::optional<params::UnitValues>> values;
  if (basis == params::ReviewBasis::LastSave && LastSaveFits(unit)) {
    review.basis = basis;
    review.lastSavePath = unit.lastSetSave->path;
    for (std::size_t i = 0; i < data.images.size(); ++i) {
      if (i < unit.lastSetSave->images.size())
        values.push_back(FileValues(unit.lastSetSave->images[i]));
      else
        values.emplace_back();
    }
  } else {
    values = params::ReadConfigurations(unit, data.images);
  }
  for (std::size_t i = 0; i < data.images.size(); ++i) {
    params::ConfigurationReview config;
    if (values[i]) {
      config = CompareConfiguration(data.images[i], *values[i], unit.variant());
    } else {
      config.read = false;
    }
    config.number = static_cast<int>(i) + 1;
    review.configs.push_back(std::move(config));
  }
  return review;
}

bool LoadConfigFromFileReviewed(params::UnitContext& unit, const std::function<void()>& fullRefresh,
                                const std::string* chosen) {
  using namespace params::config_text;
  if (!params::UnitConnected(unit)) {
    unit.prompter->Message(kError, kNoConnection, params::MessageIcon::Exclamation);
    return false;
  }
  link::OperationLock operation;
  const std::optional<std::string> path =
      chosen ? std::optional<std::string>(*chosen) : unit.prompter->ChooseFile(params::ConfigLoadRequest());
  if (!path) return false;
  if (!params::UnitConnected(unit)) {
    unit.prompter->Message(kError, kNoConnection, params::MessageIcon::Exclamation);
    return false;
  }
  const std::optional<params::ConfigFileData> data = params::ReadConfigFileToLoad(unit, *path);
  if (!data) return false;
  if (!unit.prompter->ReviewLoad(ReviewConfigFile(unit, *path, *data))) return false;
  params::SendConfigFile(unit, *data, fullRefresh);
  return true;
}

bool LoadConfigSetReviewed(params::UnitContext& unit, const std::function<void()>& fullRefresh,
                           const std::string* chosen) {
  using namespace params::config_text;
  link::OperationLock operation;
  const std::optional<std::string> path =
      chosen ? std::optional<std::string>(*chosen) : unit.prompter->ChooseFile(params::ConfigLoadRequest());
  if (!path) return false;
  if (!unit.link) {
    unit.prompter->Message(kError, kNoConnection, params::MessageIcon::Exclamation);
    return false;
  }
  const std::optional<params::ConfigFileData> data = params::ReadConfigSetToLoad(unit, *path);
  if (!data) return false;
  params::ReviewBasis basis = params::ReviewBasis::Unit;
  if (LastSaveFits(unit) &&
      unit.prompter->Message(kAlert, review_text::kUseLastSaveQuestion, params::MessageIcon::Question,
                             params::MessageButtons::YesNo) == params::Answer::Yes)
    basis = params::ReviewBasis::LastSave;
  const params::ConfigReview review = ReviewConfigSet(unit, *path, *data, basis);
  if (unit.StopRequested() || !unit.prompter->ReviewLoad(review)) return false;  // closing: no review, no load
  params::SendConfigSet(unit, *data, fullRefresh);
  return true;
}

}  // namespace vecta::app
