// What the simulated unit has: every parameter of the descriptor tables that
// exists for its board type (the satellite modulator's only when fitted), the
// calibration parameters, their seeded defaults and the values each accepts.
// The descriptor tables are the only list of table mnemonics: nothing here
// names one except to give it a plausible default.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "params/convert.h"
#include "params/descriptor.h"
#include "sim_options.h"

namespace vecta::sim {

enum class Scope {
  Configuration,  // one value per configuration
  Unit,           // one value for the unit: calibration, information
};

enum class Form {
  Row,        // a descriptor-table parameter: kind and flags of its rows
  Frequency,  // calibration frequency in MHz (cflo, cfhi, cfl1..cfl6)
  Level,      // calibration level number, 1274 = 0 dB (cpl1..cpl8)
};

struct UnitParam {
  std::string mnemonic;
  Scope scope = Scope::Configuration;
  Form form = Form::Row;
  bool writable = true;
  // The rows of the mnemonic that exist for the board, in table order (a
  // mnemonic may have one row per variant, or two on one variant); empty for
  // the calibration parameters.
  std::vector<const params::RowDescriptor*> rows;
};

// Looks up another value of the same configuration ("" when unknown).
using ValueLookup = std::function<std::string(std::string_view mnemonic)>;

class ParamCatalogue {
 public:
  ParamCatalogue(const std::string& board, bool satmod);

  params::Variant GetVariant() const { return variant_; }
  const std::vector<UnitParam>& All() const { return params_; }
  const UnitParam* Find(std::string_view mnemonic) const;

  // The default of `param` in configuration `configuration` (1-based).
  std::string Seed(const UnitParam& param, int configuration, const UnitOptions& unit) const;
  // The text the unit stores for a write of `value`, or none when it refuses
  // it (read-only parameters included).
  std::optional<std::string> Accept(const UnitParam& param, const std::string& value,
                                    const ValueLookup& sameConfiguration) const;

 private:
  params::Variant variant_;
  std::vector<UnitParam> params_;
};

// True when `mnemonic` names a parameter of the satellite modulator table.
bool IsSatmodMnemonic(std::string_view mnemonic);

// Parsing shared with SimUnit: a plain unsigned decimal (digits only, at most
// `maxDigits`), and exactly `digits` hex digits.
bool ParsePlainDecimal(std::string_view text, std::size_t maxDigits, long long& out);
bool IsHex(std::string_view text, std::size_t digits);

}  // namespace vecta::sim
