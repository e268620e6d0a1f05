#include "edit_config.h"

#include <ostream>

#include "params/config_document.h"
#include "vectactl.h"

namespace vecta::ctl {
namespace {

// The configuration of a set the edit is for; false (with the reason told)
// when the options do not name one the file has.
bool ChooseConfig(const EditConfigOptions& o, params::ConfigDocument& doc, std::ostream& err) {
  const std::size_t n = doc.ConfigCount();
  if (!doc.IsSet()) {
    if (o.config && *o.config != 1) {
      err << o.file << ": a configuration file holds one configuration; --config is for a set\n";
      return false;
    }
    return true;
  }
  if (!o.config) {
    err << o.file << ": a configuration set of " << n << "; give --config 1.." << n << "\n";
    return false;
  }
  if (*o.config < 1 || static_cast<std::size_t>(*o.config) > n) {
    err << o.file << ": no configuration " << *o.config << " in a set of " << n << "\n";
    return false;
  }
  doc.SelectConfig(static_cast<std::size_t>(*o.config - 1));
  return true;
}

// The board type: the caller's, else the one the records tell.
bool ChooseBoard(const EditConfigOptions& o, params::ConfigDocument& doc, std::ostream& err) {
  if (!o.board.empty()) {
    const auto variant = params::ParseBoardName(o.board);
    if (!variant) {
      err << "--board takes K240, K610 or other\n";
      return false;
    }
    doc.SetVariant(*variant);
    return true;
  }
  if (doc.VariantChosen()) return true;
  err << o.file << ": the board type cannot be told from the file's records; give --board K240, K610 or other\n";
  return false;
}

}  // namespace

int EditConfig(const EditConfigOptions& o, std::ostream& out, std::ostream& err) {
  params::ConfigDocument doc;
  std::string error;
  if (!doc.Open(o.file, error)) {
    err << o.file << ": " << error << "\n";
    return kExitUsage;
  }
  if (!ChooseBoard(o, doc, err) || !ChooseConfig(o, doc, err)) return kExitUsage;
  if (const auto problem = doc.Set(o.mnemonic, o.value)) {
    err << *problem << "\n";
    return kExitUsage;
  }
  // The value as the pages show it now.
  std::string shown = o.value;
  for (const params::ParamRow& r : doc.Table().Rows())
    if (r.Mnemonic() == o.mnemonic && r.Get() && params::RowExists(r.Desc(), doc.variant())) {
      shown = params::ShownValue(r.Desc(), r.Get());
      break;
    }
  if (!doc.Modified()) {
    out << shown << " (unchanged)\n";
    return kExitOk;
  }
  if (!doc.Save(&error)) {
    err << o.file << ": " << error << "\n";
    return kExitLinkError;
  }
  out << shown << "\n";
  return kExitOk;
}

}  // namespace vecta::ctl
