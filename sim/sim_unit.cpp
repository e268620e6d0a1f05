#include "sim_unit.h"

#include <charconv>
#include <cstdio>
#include <string_view>

#include "link/frame.h"
#include "params/convert.h"
#include "sim_state.h"

namespace vecta::sim {

using link::Checksum;
using link::kEtx;
using link::kStx;

namespace {

// The shortest frame that still carries an address: STX, 4 digits,
// checksum, ETX. Anything shorter cannot be told apart from line noise.
constexpr std::size_t kMinAddressedFrame = 7;
// STX, address, op, mnemonic, ';', ';', checksum, ETX.
constexpr std::size_t kMinRequestFrame = 14;

int ConfigurationsFor(const UnitOptions& unit) {
  if (unit.configurations > 0) return unit.configurations;
  return (unit.board == "K240" || unit.board == "K610") ? 16 : 8;
}

// A plain unsigned decimal of 1..`maxDigits` digits, nothing else.
bool ParseDecimal(const std::string& text, std::size_t maxDigits, int& out) {
  if (text.empty() || text.size() > maxDigits) return false;
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  out = value;
  return true;
}

void AppendNote(std::string& note, const std::string& what) {
  if (!note.empty()) note += ", ";
  note += what;
}

}  // namespace

std::string AddressText(int address) {
  char text[8];
  std::snprintf(text, sizeof text, "%04d", address % 10000);
  return text;
}

std::string FormatTranscript(const char* direction, const std::uint8_t* data, std::size_t size,
                             const std::string& note) {
  std::size_t begin = 0;
  std::size_t end = size;
  if (size >= 3 && data[0] == kStx && data[size - 1] == kEtx && data[size - 2] >= 0x80) {
    begin = 1;
    end = size - 2;
  }
  std::string line = direction;
  line += ' ';
  for (std::size_t i = begin; i < end; ++i) {
    const std::uint8_t c = data[i];
    if (c >= 0x20 && c <= 0x7E && c != '<') {
      line += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02x>", c);
      line += hex;
    }
  }
  if (!note.empty()) line += " (" + note + ")";
  return line;
}

namespace {

// The scrambling keys and their lengths in hex digits: ABS, AES128 (and the
// lower half of AES256), the upper half of AES256.
std::size_t KeyDigits(std::string_view mnemonic) {
  if (mnemonic == "zkey") return 8;
  if (mnemonic == "zkez" || mnemonic == "zkex") return 32;
  return 0;
}

// The I and Q trims of calibration point 1..3, kept unit-wide.
std::string TrimKey(std::string_view mnemonic, int point) { return std::string(mnemonic) + char('0' + point); }

bool IsTrimKey(std::string_view key) {
  return key.size() == 5 && (key.substr(0, 4) == "ciqi" || key.substr(0, 4) == "ciqq") && key[4] >= '1' &&
         key[4] <= '3';
}

// Factory trims: small offsets, as unsigned bytes (254 is -2).
const ParamStore::Values& TrimDefaults() {
  static const ParamStore::Values trims = {{"ciqi1", "3"},   {"ciqi2", "0"}, {"ciqi3", "254"},
                                           {"ciqq1", "252"}, {"ciqq2", "1"}, {"ciqq3", "4"}};
  return trims;
}

ParamStore BuildStore(const ParamCatalogue& catalogue, const UnitOptions& unit, std::string& error) {
  const int configurations = ConfigurationsFor(unit);
  std::vector<ParamStore::Values> perConfiguration(static_cast<std::size_t>(configurations));
  ParamStore::Values unitWide = TrimDefaults();
  for (const UnitParam& p : catalogue.All()) {
    if (p.scope == Scope::Unit) {
      unitWide[p.mnemonic] = catalogue.Seed(p, 1, unit);
    } else {
      for (int c = 1; c <= configurations; ++c)
        perConfiguration[static_cast<std::size_t>(c - 1)][p.mnemonic] = catalogue.Seed(p, c, unit);
    }
  }
  for (const ParamSeed& seed : unit.params) {
    const UnitParam* p = catalogue.Find(seed.mnemonic);
    if (!p) {
      error = "no parameter " + seed.mnemonic + " on this unit";
      continue;
    }
    std::optional<std::string> value = seed.value;
    if (p->writable) {
      auto& first = perConfiguration.front();
      value = catalogue.Accept(*p, seed.value, [&](std::string_view m) {
        auto it = first.find(m);
        return it == first.end() ? std::string() : it->second;
      });
    }
    if (!value) {
      error = "the unit refuses " + seed.mnemonic + "=" + seed.value;
      continue;
    }
    if (p->scope == Scope::Unit) {
      unitWide[p->mnemonic] = *value;
    } else {
      for (auto& values : perConfiguration) values[p->mnemonic] = *value;
    }
  }
  return ParamStore(std::move(perConfiguration), std::move(unitWide));
}

}  // namespace

SimUnit::SimUnit(const UnitOptions& unit, FaultOptions faults)
    : faults_(faults),
      catalogue_(unit.board, unit.satmod),
      address_(unit.address),
      board_(unit.board),
      store_(BuildStore(catalogue_, unit, setupError_)),
      clock_(unit.clock),
      settleMs_(unit.settleMs),
      vlocToggleMs_(unit.vlocToggleMs),
      stateFile_(unit.stateFile) {
  start_ = Now();
  if (unit.drift) drift_.emplace(unit.driftSeed, unit.driftSpeed);
  params::FirmwareVersion firmware;
  firmware.Parse(unit.firmware);
  holdSupported_ = firmware.AtLeast3400();
  if (!stateFile_.empty()) LoadState();
}

SimUnit::~SimUnit() {
  std::lock_guard lock(mutex_);
  if (stateDirty_) SaveStateLocked(nullptr);
}

int SimUnit::Address() const {
  std::lock_guard lock(mutex_);
  return address_;
}

int SimUnit::CurrentConfiguration() const {
  std::lock_guard lock(mutex_);
  return store_.Current();
}

int SimUnit::Configurations() const {
  std::lock_guard lock(mutex_);
  return store_.Configurations();
}

int SimUnit::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool SimUnit::Settling() const {
  std::lock_guard lock(mutex_);
  return settling_ && Now() < settleUntil_;
}

SimUnit::Clock::time_point SimUnit::Now() const { return clock_ ? clock_() : Clock::now(); }

SimReply SimUnit::Handle(const std::uint8_t* frame, std::size_t size) {
  std::lock_guard lock(mutex_);
  SimReply reply;
  if (size < kMinAddressedFrame || frame[0] != kStx || frame[size - 1] != kEtx) {
    reply.note = "malformed frame, ignored";
    return reply;
  }
  // A frame the unit cannot trust gets no answer at all: it cannot even be
  // sure the frame was meant for it.
  if (Checksum(frame + 1, size - 3) != frame[size - 2]) {
    reply.note = "bad checksum, ignored";
    return reply;
  }
  int target = 0;
  if (!ParseDecimal(std::string(reinterpret_cast<const char*>(frame + 1), 4), 4, target)) {
    reply.note = "bad address, ignored";
    return reply;
  }
  if (target != address_ && target != link::kBroadcastAddress) {
    reply.note = "not addressed";
    return reply;
  }
  // While it changes mode the unit hears nothing: the request is lost, not
  // queued.
  if (settling_) {
    if (Now() < settleUntil_) {
      reply.note = "settling";
      return reply;
    }
    settling_ = false;
  }

  const int number = ++requests_;
  const int replyAddress = address_;  // a new address takes effect after this reply
  Built built;
  const bool wellFormed = size >= kMinRequestFrame && frame[10] == ';' && frame[size - 3] == ';';
  std::string value;
  if (wellFormed) value.assign(reinterpret_cast<const char*>(frame + 11), size - 3 - 11);
  if (!wellFormed || value.find(';') != std::string::npos) {
    built = ShortReply(replyAddress, 'E', {});
  } else {
    bool known = false;
    const char op = static_cast<char>(frame[5]);
    const std::string mnemonic(reinterpret_cast<const char*>(frame + 6), 4);
    built = Execute(op, mnemonic, value, known);
    if (!known) built = ShortReply(replyAddress, 'E', {});
  }

  if (DropForFault(number, reply.note)) return reply;
  ApplyFaults(built, reply.note);
  reply.answer = true;
  reply.bytes = std::move(built.bytes);
  return reply;
}

SimUnit::Built SimUnit::Execute(char op, const std::string& mnemonic, const std::string& value, bool& known) {
  known = true;
  if (op == 'r') return Read(mnemonic, known);
  if (op == 'w') return Write(mnemonic, value, known);
  known = false;
  return {};
}

std::string SimUnit::Current(std::string_view mnemonic) const {
  auto value = store_.Get(mnemonic);
  return value ? *value : std::string();
}

std::int64_t SimUnit::ElapsedMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Now() - start_).count();
}

std::string SimUnit::VideoLock() const {
  // Nothing to lock to with the video input off.
  if (Current("vinp") == "0") return "0";
  if (vlocToggleMs_ > 0) return (ElapsedMs() / vlocToggleMs_) % 2 == 0 ? "1" : "0";
  if (drift_ && drift_->VideoDropped(ElapsedMs())) return "0";
  return "1";
}

SimUnit::Built SimUnit::Read(const std::string& mnemonic, bool& known) {
  if (mnemonic == "gadd") return Accepted(AddressText(address_));
  if (mnemonic == "gbty") return Accepted(board_);
  if (mnemonic == "glod") return Accepted(std::to_string(store_.Current()));
  if (mnemonic == "grea") return LongReply(address_);
  if (mnemonic == "girb" && holdSupported_) return Accepted(hold_ ? "1" : "0");
  if (mnemonic == "citr") return Accepted(std::to_string(trimPoint_));
  if (mnemonic == "ciqi" || mnemonic == "ciqq") {
    // In normal operation there is no calibration point to trim.
    if (trimPoint_ == 0) {
      known = false;
      return {};
    }
    return Accepted(Current(TrimKey(mnemonic, trimPoint_)));
  }
  if (catalogue_.Find(mnemonic)) {
    if (mnemonic == "vloc") return Accepted(VideoLock());
    if (drift_)
      if (auto moved = drift_->Value(mnemonic, Current(mnemonic), ElapsedMs())) return Accepted(*moved);
    // The chaining input is active whenever it is switched on.
    if (mnemonic == "csta") return Accepted(Current("cinp") == "0" || Current("cinp").empty() ? "0" : "1");
    if (auto stored = store_.Get(mnemonic)) return Accepted(*stored);
  }
  known = false;
  return {};
}

SimUnit::Built SimUnit::Write(const std::string& mnemonic, const std::string& value, bool& known) {
  const int replyAddress = address_;
  int number = 0;
  long long n = 0;
  if (mnemonic == "gadd") {
    if (ParseDecimal(value, 4, number) && number < link::kBroadcastAddress) {
      address_ = number;
      StateChanged();
      return ShortReply(replyAddress, '1', AddressText(number));
    }
  } else if (mnemonic == "glod") {
    if (ParseDecimal(value, 4, number) && store_.Select(number)) {
      // Loading a configuration reconfigures the whole unit.
      ModeChanged();
      StateChanged();
      return Accepted(std::to_string(store_.Current()));
    }
  } else if (mnemonic == "gdef") {
    if (value == "1") {
      const std::string before = ModeSignature();
      store_.RestoreDefaults();
      if (ModeSignature() != before) ModeChanged();
      StateChanged();
      return Accepted("1");
    }
  } else if (mnemonic == "girb") {
    if (holdSupported_ && (value == "0" || value == "1")) {
      hold_ = value == "1";
      if (!hold_ && heldModeChange_) {
        heldModeChange_ = false;
        ModeChanged();
      }
      return Accepted(value);
    }
  } else if (const std::size_t digits = KeyDigits(mnemonic); digits > 0) {
    // Keys go in and never come out, not even in the reply.
    if (IsHex(value, digits)) {
      keys_[mnemonic] = value;
      return Accepted({});
    }
  } else if (mnemonic == "citr") {
    if (ParsePlainDecimal(value, 1, n) && n <= 3) {
      trimPoint_ = static_cast<int>(n);
      return Accepted(value);
    }
  } else if (mnemonic == "ciqi" || mnemonic == "ciqq") {
    // A signed trim travels as its unsigned byte.
    if (trimPoint_ > 0 && ParsePlainDecimal(value, 3, n) && n <= 255) {
      store_.SetUnit(TrimKey(mnemonic, trimPoint_), std::to_string(n));
      StateChanged();
      return Accepted(std::to_string(n));
    }
  } else if (const UnitParam* param = catalogue_.Find(mnemonic)) {
    auto accepted = catalogue_.Accept(*param, value, [this](std::string_view m) { return Current(m); });
    if (accepted) {
      const std::string before = ModeSignature();
      store_.Set(mnemonic, *accepted);
      // A manual bitrate (kbit/s) becomes the bitrate the encoder runs at;
      // back on automatic the encoder returns to its own choice.
      const params::RowDescriptor* row = param->rows.empty() ? nullptr : param->rows.front();
      if (row && row->Has(params::flag::kBitratePair) && row->kind == params::Kind::Check) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.3f", static_cast<double>(std::stoll(*accepted)) / 1000.0);
        const auto& defaults = store_.Defaults(store_.Current());
        auto automatic = defaults.find("evid");
        if (automatic != defaults.end())
          store_.Set("evid", *accepted == "0" ? automatic->second : std::string(rate));
      }
      if (ModeSignature() != before) ModeChanged();
      StateChanged();
      return Accepted(*accepted);
    }
  }
  known = false;
  return {};
}

std::string SimUnit::ModeSignature() const {
  auto on = [&](const char* m) {
    const std::string v = Current(m);
    return v.empty() ? '-' : v == "0" ? '0' : '1';
  };
  // Bandwidths 0-2 are the DVB-T ones, 3-5 the narrow ones.
  long long width = 0;
  const char band = ParsePlainDecimal(Current("owid"), 5, width) ? (width <= 2 ? 'W' : 'N') : '-';
  return std::string{band, on("aenc"), on("a1en"), on("a2en"), '/'} + Current("eenc");
}

void SimUnit::ModeChanged() {
  // During a hold (file transfers) the change is made once the hold ends.
  if (hold_) {
    heldModeChange_ = true;
    return;
  }
  if (settleMs_ <= 0) return;
  settling_ = true;
  settleUntil_ = Now() + std::chrono::milliseconds(settleMs_);
}

void SimUnit::LoadState() {
  UnitState state;
  bool found = false;
  std::string error;
  if (!LoadUnitState(stateFile_, state, found, error)) {
    setupError_ = error;
    stateFile_.clear();  // never overwrite a file we could not read
    return;
  }
  if (!found) return;
  if (state.address >= 0 && state.address < link::kBroadcastAddress) address_ = state.address;
  // Values the unit would refuse keep their defaults.
  for (const auto& [number, values] : state.configurations) {
    if (number > store_.Configurations()) continue;
    auto lookup = [&values = values](std::string_view m) {
      auto it = values.find(std::string(m));
      return it == values.end() ? std::string() : it->second;
    };
    for (const auto& [key, value] : values) {
      const UnitParam* p = catalogue_.Find(key);
      if (!p || p->scope != Scope::Configuration) continue;
      if (!p->writable) {
        store_.SetIn(number, key, value);
      } else if (auto accepted = catalogue_.Accept(*p, value, lookup)) {
        store_.SetIn(number, key, *accepted);
      }
    }
  }
  for (const auto& [key, value] : state.unit) {
    long long n = 0;
    if (IsTrimKey(key)) {
      if (ParsePlainDecimal(value, 3, n) && n <= 255) store_.SetUnit(key, value);
      continue;
    }
    const UnitParam* p = catalogue_.Find(key);
    if (!p || p->scope != Scope::Unit || !p->writable) continue;
    if (auto accepted = catalogue_.Accept(*p, value, [](std::string_view) { return std::string(); }))
      store_.SetUnit(key, *accepted);
  }
  if (state.current > 0) store_.Select(state.current);
}

void SimUnit::StateChanged() {
  if (stateFile_.empty()) return;
  stateDirty_ = !SaveStateLocked(nullptr);
}

bool SimUnit::SaveState(std::string* error) {
  std::lock_guard lock(mutex_);
  const bool saved = SaveStateLocked(error);
  stateDirty_ = !saved;
  return saved;
}

bool SimUnit::SaveStateLocked(std::string* error) {
  if (stateFile_.empty()) return true;
  UnitState state;
  state.address = address_;
  state.current = store_.Current();
  for (int c = 1; c <= store_.Configurations(); ++c) {
    auto& values = state.configurations[c];
    for (const auto& [key, value] : store_.Configuration(c)) values[key] = value;
  }
  // Unit-wide only what can be changed: the rest comes from the options.
  for (const auto& [key, value] : store_.Unit()) {
    const UnitParam* p = catalogue_.Find(key);
    if (IsTrimKey(key) || (p && p->writable)) state.unit[key] = value;
  }
  std::string why;
  const bool saved = SaveUnitState(stateFile_, state, why);
  if (!saved && error) *error = why;
  return saved;
}

SimUnit::Built SimUnit::ShortReply(int address, char status, const std::string& value) const {
  Built built;
  Bytes& b = built.bytes;
  const std::string addr = AddressText(address);
  b.push_back(kStx);
  b.insert(b.end(), addr.begin(), addr.end());
  b.push_back(static_cast<std::uint8_t>(status));
  b.insert(b.end(), value.begin(), value.end());
  b.push_back(';');
  built.checksumAt.push_back(b.size());
  b.push_back(Checksum(b.data() + 1, b.size() - 1));
  b.push_back(kEtx);
  return built;
}

SimUnit::Built SimUnit::LongReply(int address) const {
  Built built = ShortReply(address, '1', "0128");
  Bytes& b = built.bytes;
  for (std::size_t k = 0; k < kLongReplyBlockSize; ++k) b.push_back(static_cast<std::uint8_t>(k + 1));
  b.push_back(';');
  built.checksumAt.push_back(b.size());
  b.push_back(Checksum(b.data() + 1, b.size() - 1));
  b.push_back(kEtx);
  return built;
}

bool SimUnit::DropForFault(int requestNumber, std::string& note) const {
  if (faults_.silent) {
    note = "silent";
    return true;
  }
  if (faults_.silentAfter >= 0 && requestNumber > faults_.silentAfter) {
    note = "silent after " + std::to_string(faults_.silentAfter);
    return true;
  }
  if (faults_.everyOther && requestNumber % 2 == 0) {
    note = "every other";
    return true;
  }
  return false;
}

void SimUnit::ApplyFaults(Built& reply, std::string& note) const {
  Bytes& b = reply.bytes;
  if (faults_.badStatus) {
    b[5] = 'X';
    for (std::size_t at : reply.checksumAt) b[at] = Checksum(b.data() + 1, at - 1);
    AppendNote(note, "bad-status");
  }
  if (faults_.badChecksum) {
    // Flipping bit 0 keeps bit 7 set, so the byte still cannot pass for ETX.
    for (std::size_t at : reply.checksumAt) b[at] ^= 0x01;
    AppendNote(note, "bad-checksum");
  }
  if (faults_.noEtx) {
    b.pop_back();
    AppendNote(note, "no-etx");
  }
  if (faults_.garbage > 0) {
    Bytes junk(static_cast<std::size_t>(faults_.garbage));
    for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<std::uint8_t>('@' + i % 27);
    b.insert(b.begin(), junk.begin(), junk.end());
    AppendNote(note, "garbage " + std::to_string(faults_.garbage));
  }
}

}  // namespace vecta::sim
