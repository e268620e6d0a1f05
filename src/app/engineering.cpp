#include "app/engineering.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "app/engineering_ids.h"
#include "app/format_text.h"
#include "link/frame.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "link/request.h"

namespace vecta::app {
namespace {

std::string_view Head(std::string_view text, std::size_t n) { return text.substr(0, std::min(n, text.size())); }

// The engineering pages send their requests without the leading STX.
std::uint32_t ReadUnit(link::CRavlenRemoteControl& link, int address, std::string_view mnemonic,
                       link::LinkReply& reply) {
  return link::Exchange(link, link::ReadRequestNoStx(address, mnemonic), reply, 1);
}

// A write whose answer is not looked at.
void Write(link::CRavlenRemoteControl& link, int address, std::string_view mnemonic, std::string_view value) {
  link::LinkReply ignored;
  link::Exchange(link, link::WriteRequestNoStx(address, mnemonic, value), ignored, 1);
}

void Write(link::CRavlenRemoteControl& link, int address, std::string_view mnemonic, long long value) {
  Write(link, address, mnemonic, std::to_string(value));
}

// A read whose value counts: the exchange succeeded. (Only the trim reads
// also treat the unit's 'E' as a failure.)
std::optional<std::string> Read(link::CRavlenRemoteControl& link, int address, const char* mnemonic) {
  link::LinkReply reply;
  if (ReadUnit(link, address, mnemonic, reply) != link::kLinkOk) return std::nullopt;
  return reply.value;
}

// strtol's reading: optional white space, an optional sign, digits.
long long LeadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > 1'000'000'000'000LL) break;  // far beyond anything a field can hold
  }
  return negative ? -v : v;
}

std::uint32_t LeadingDigits(std::string_view text) {
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (v > UINT32_MAX) return UINT32_MAX;
  }
  return static_cast<std::uint32_t>(v);
}

double Number(std::string_view text) { return std::atof(std::string(text).c_str()); }

void AppendHex(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (unsigned char b : bytes) {
    out += b < 16 ? ' ' : kDigits[b >> 4];
    out += kDigits[b & 15];
    out += ' ';
  }
}

// The character part of a transcript line. Control bytes (a TCP length of
// 0x0d, a checksum of 0x0a, STX and ETX) would break the line or vanish, and
// bytes above 0x7f (every checksum) are no characters of the unit's texts,
// so each shows as '.', the usual stand-in of a hex dump; the hex part
// before it says which byte it was.
void AppendChars(std::string& out, std::string_view bytes) {
  for (unsigned char b : bytes) out += (b < 0x20 || b >= 0x7f) ? '.' : static_cast<char>(b);
}

}  // namespace

// ------------------------------------------------------------ diagnostic

std::string DiagnosticRequest(std::string_view address, std::string_view command) {
  std::string text(1, static_cast<char>(link::kStx));
  const std::string_view a = Head(address, kDiagnosticAddressChars);
  text.append(kDiagnosticAddressChars - a.size(), '0');
  text += a;
  text += Head(command, kDiagnosticCommandChars);
  return text;
}

std::string DiagnosticTranscript(std::string_view request, std::string_view reply) {
  std::string out = "Sending: ";
  AppendHex(out, request);
  AppendChars(out, request);
  out += "\r\nReply: ";
  AppendHex(out, reply);
  AppendChars(out, reply);
  out += "\r\n";
  return out;
}

std::size_t DiagnosticCommandLimit(link::TransportKind transport) {
  const std::size_t frame =
      transport == link::TransportKind::Tcp ? link::kMaxTcpRequestFrame : link::kMaxSerialRequestFrame;
  return frame - kDiagnosticFrameOverhead;
}

std::string DiagnosticTooLongText(std::size_t typed, std::size_t limit) {
  return FormatText("The command is too long: %zu characters, at most %zu fit in one request. Nothing was sent.",
                    typed, limit);
}

DiagnosticResult SendDiagnostic(link::CRavlenRemoteControl& link, std::string_view address,
                                std::string_view command) {
  DiagnosticResult result;
  const std::string request = DiagnosticRequest(address, command);
  // Held until the copies are taken, so they are this exchange's.
  std::lock_guard lock(link::LinkLock());
  const std::size_t limit = DiagnosticCommandLimit(link.Kind());
  link::Bytes frame;
  if (command.size() > limit || !link::BuildRequestFrame(request, limit + kDiagnosticFrameOverhead, frame)) {
    result.code = link::kErrInvalidCommand;
    result.message = DiagnosticTooLongText(command.size(), limit);
    return result;
  }
  link::LinkReply reply;
  result.code = link::Exchange(link, request, reply, 1);
  result.sent = true;
  if (result.code == link::kLinkOk || result.code == link::kErrInvalidReply ||
      result.code == link::kErrBadChecksum)
    result.transcript = DiagnosticTranscript(link.LastRequest(), link.LastReply());
  return result;
}

// ---------------------------------------------------------------- IQ trim

int TrimToWire(int trim) { return trim & 0xFF; }

int TrimFromWire(std::string_view value) {
  return static_cast<std::int8_t>(static_cast<std::uint8_t>(LeadingInteger(value) & 0xFF));
}

TrimEntry ParseTrimEntry(std::string_view text) {
  const long long v = LeadingInteger(Head(text, kTrimEntryChars));
  TrimEntry entry;
  if (v < kTrimMin || v > kTrimMax)
    entry.message = FormatText("Value %d is invalid.\nAllowed range is -128 to 127.", static_cast<int>(v));
  else
    entry.value = static_cast<int>(v);
  return entry;
}

int TrimStep(int trim, int delta) {
  if (delta > 0 && trim != kTrimMax) return trim + 1;
  if (delta < 0 && trim != kTrimMin) return trim - 1;
  return trim;
}

double ElevenPointFrequency(double lower, double upper, int point) {
  return lower + (upper - lower) / 10.0 * (point - 1);
}

double MidPointFrequency(double lower, double upper) { return (lower + upper) * 0.5; }

std::string FormatFrequency(double mhz) { return FormatText("%.2f", mhz); }

void ReadTrims(link::CRavlenRemoteControl& link, int address, IqTrimView& view) {
  auto trim = [&](const char* mnemonic) {
    link::LinkReply reply;
    if (ReadUnit(link, address, mnemonic, reply) != link::kLinkOk || reply.status == 'E') return 0;
    return TrimFromWire(reply.value);
  };
  view.iTrim = trim("ciqi");
  view.qTrim = trim("ciqq");
  view.trimsRead = true;
}

namespace {
// The output frequency as the edit shows it; none when the read failed.
std::optional<std::string> ReadFrequency(link::CRavlenRemoteControl& link, int address) {
  if (auto f = Read(link, address, "ofre")) return FormatFrequency(Number(*f));
  return std::nullopt;
}

// Tunes to a calibration point's frequency: the page then shows it, locked.
void TuneToPoint(link::CRavlenRemoteControl& link, int address, const std::string& wireText, double mhz,
                 IqTrimView& view) {
  Write(link, address, "ofre", wireText);
  view.written.emplace_back("ofre");
  view.frequency = FormatFrequency(mhz);
  view.edit = FrequencyEdit::Locked;
}
}  // namespace

IqTrimView IqTrimStart(link::CRavlenRemoteControl& link, int address) {
  IqTrimView view;
  ReadTrims(link, address, view);
  view.frequency = ReadFrequency(link, address);
  return view;
}

IqTrimView IqNormalOperation(link::CRavlenRemoteControl& link, int address) {
  IqTrimView view;
  Write(link, address, "citr", 0);
  view.frequency = ReadFrequency(link, address);
  view.edit = FrequencyEdit::Editable;
  return view;
}

IqTrimView IqSinglePointTrim(link::CRavlenRemoteControl& link, int address) {
  struct Step {
    const char* mnemonic;
    int value;
  };
  static constexpr Step kSteps[] = {{"citr", 3}, {"ciqi", 0}, {"ciqq", 0}, {"citr", 2},
                                    {"ciqi", 0}, {"ciqq", 0}, {"citr", 1}};
  for (const Step& step : kSteps) Write(link, address, step.mnemonic, step.value);
  IqTrimView view;
  ReadTrims(link, address, view);
  view.frequency = ReadFrequency(link, address);
  view.edit = FrequencyEdit::Editable;
  return view;
}

IqTrimView IqThreePointTrim(link::CRavlenRemoteControl& link, int address, int point) {
  IqTrimView view;
  Write(link, address, "citr", point);
  if (point == 2) {
    const auto lower = Read(link, address, "cflo");
    if (!lower) return view;
    const auto upper = Read(link, address, "cfhi");
    if (!upper) return view;
    const double mid = MidPointFrequency(Number(*lower), Number(*upper));
    TuneToPoint(link, address, FormatFrequency(mid), mid, view);
    ReadTrims(link, address, view);
    return view;
  }
  // The lower and upper points tune to the unit's own text unchanged.
  if (const auto f = Read(link, address, point == 1 ? "cflo" : "cfhi"))
    TuneToPoint(link, address, *f, Number(*f), view);
  ReadTrims(link, address, view);
  return view;
}

IqTrimView IqElevenPointTrim(link::CRavlenRemoteControl& link, int address, int point) {
  IqTrimView view;
  Write(link, address, "citr", 2);
  // The end points need only their own calibration frequency.
  double lower = 0, upper = 0;
  if (point != 11) {
    const auto f = Read(link, address, "cflo");
    if (!f) return view;
    lower = Number(*f);
  }
  if (point != 1) {
    const auto f = Read(link, address, "cfhi");
    if (!f) return view;
    upper = Number(*f);
  }
  const double f = point == 11 ? upper : ElevenPointFrequency(lower, upper, point);
  TuneToPoint(link, address, FormatFrequency(f), f, view);
  ReadTrims(link, address, view);
  return view;
}

void IqWriteTrim(link::CRavlenRemoteControl& link, int address, char which, int trim) {
  Write(link, address, std::string("ciq") + which, TrimToWire(trim));
}

std::vector<std::string> IqWriteFrequency(link::CRavlenRemoteControl& link, int address, std::string_view text) {
  Write(link, address, "ofre", Head(text, kFrequencyApplyChars));
  return {"ofre"};
}

std::optional<std::string> DiagnosticWrite(std::string_view command) {
  constexpr std::size_t kMnemonicChars = 4;
  if (command.size() <= kMnemonicChars || command[0] != 'w') return std::nullopt;
  return std::string(command.substr(1, kMnemonicChars));
}

// ------------------------------------------------------ power calibration

namespace {
constexpr PowerCalItem kFourPoint[] = {
    {"cflo", eng::kMinimumFreq, false},           {"cfl1", eng::kIntermediateFreq1, false},
    {"cfl2", eng::kIntermediateFreq2, false},     {"cfhi", eng::kMaximumFreq, false},
    {"cpl1", eng::kMinimumFreqLevel, true},       {"cpl2", eng::kIntermediateFreq1Level, true},
    {"cpl3", eng::kIntermediateFreq2Level, true}, {"cpl4", eng::kMaximumFreqLevel, true},
};
constexpr PowerCalItem kEightPoint[] = {
    {"cflo", eng::kMinimumFreq, false},           {"cfl1", eng::kIntermediateFreq1, false},
    {"cfl2", eng::kIntermediateFreq2, false},     {"cfl3", eng::kIntermediateFreq3, false},
    {"cfl4", eng::kIntermediateFreq4, false},     {"cfl5", eng::kIntermediateFreq5, false},
    {"cfl6", eng::kIntermediateFreq6, false},     {"cfhi", eng::kMaximumFreq, false},
    {"cpl1", eng::kMinimumFreqLevel, true},       {"cpl2", eng::kIntermediateFreq1Level, true},
    {"cpl3", eng::kIntermediateFreq2Level, true}, {"cpl5", eng::kIntermediateFreq3Level, true},
    {"cpl6", eng::kIntermediateFreq4Level, true}, {"cpl7", eng::kIntermediateFreq5Level, true},
    {"cpl8", eng::kIntermediateFreq6Level, true}, {"cpl4", eng::kMaximumFreqLevel, true},
};
}  // namespace

std::span<const PowerCalItem> PowerCalItems(bool eightPoint) {
  if (eightPoint) return kEightPoint;
  return kFourPoint;
}

std::string LevelToDb(std::string_view unitValue) {
  const double v = Number(unitValue);
  if (!(v > 0)) return {};
  std::string db = FormatText("%.2f", -20.0 * std::log10(v / kLevelUnity));
  if (db == "-0.00") db = "0.00";  // a hair above 1274 is still 0 dB
  return db;
}

int DbToLevel(std::string_view text) {
  double db = Number(Head(text, kPowerCalWriteChars));
  if (!std::isfinite(db)) db = 0;
  const double v = kLevelUnity * std::pow(10.0, -db / 20.0) + 0.5;
  if (!(v < static_cast<double>(INT_MAX))) return INT_MAX;
  return static_cast<int>(v);
}

std::string PowerCalDisplay(const PowerCalItem& item, std::string_view unitValue) {
  return item.level ? LevelToDb(unitValue) : FormatFrequency(Number(unitValue));
}

std::vector<std::optional<std::string>> ReadPowerCal(link::CRavlenRemoteControl& link, int address,
                                                     bool eightPoint) {
  std::vector<std::optional<std::string>> texts;
  for (const PowerCalItem& item : PowerCalItems(eightPoint)) {
    const auto value = Read(link, address, item.mnemonic);
    texts.push_back(value ? std::optional(PowerCalDisplay(item, *value)) : std::nullopt);
  }
  return texts;
}

void WritePowerCal(link::CRavlenRemoteControl& link, int address, bool eightPoint,
                   const std::vector<std::string>& texts) {
  const auto items = PowerCalItems(eightPoint);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string_view text = i < texts.size() ? std::string_view(texts[i]) : std::string_view();
    if (items[i].level) {
      Write(link, address, items[i].mnemonic, DbToLevel(text));
    } else {
      // The edit's text ends at a zero byte, should it hold one.
      const std::string_view typed = Head(text, kPowerCalWriteChars);
      Write(link, address, items[i].mnemonic, typed.substr(0, typed.find('\0')));
    }
  }
}

// ------------------------------------------------------- serial control

int BaudRateIndex(std::uint32_t baud) {
  for (std::size_t i = 0; i < kBaudRates.size(); ++i)
    if (kBaudRates[i] == baud) return static_cast<int>(i);
  return -1;
}

std::uint32_t LinkSerialSettings::BaudRate() const { return link_.BaudRate(); }

std::uint32_t LinkSerialSettings::Timeout(int which) const {
  std::lock_guard lock(link::LinkLock());
  return link_.Timeouts().Get(which);
}

void LinkSerialSettings::SetBaudRate(std::uint32_t baud) {
  std::lock_guard lock(link::LinkLock());
  link_.SetBaudRate(baud);
}

void LinkSerialSettings::SetCommTimeout(int which, std::uint32_t value) {
  std::lock_guard lock(link::LinkLock());
  link_.SetCommTimeout(which, value);
}

std::array<std::uint32_t, kTimeoutCount> TimeoutsFromTexts(const std::array<std::string, kTimeoutCount>& texts) {
  std::array<std::uint32_t, kTimeoutCount> values{};
  for (int i = 0; i < kTimeoutCount; ++i) values[i] = LeadingDigits(Head(texts[i], kTimeoutChars));
  return values;
}

void StoreTimeouts(AppSettings& settings, const std::array<std::uint32_t, kTimeoutCount>& t) {
  std::int32_t* items[kTimeoutCount] = {
      &settings.readIntervalTimeoutMs, &settings.readTotalTimeoutMultiplier, &settings.readTotalTimeoutConstantMs,
      &settings.writeTotalTimeoutMultiplier, &settings.writeTotalTimeoutConstantMs};
  for (int i = 0; i < kTimeoutCount; ++i) *items[i] = static_cast<std::int32_t>(t[i]);
}

SerialApplyResult ApplySerialSettings(SerialLineSettings& link, std::uint32_t baud,
                                      const std::array<std::uint32_t, kTimeoutCount>& timeouts) {
  SerialApplyResult result;
  if (baud != link.BaudRate()) {
    link.SetBaudRate(baud);
    result.baudRateSet = true;
  }
  for (int i = 0; i < kTimeoutCount; ++i) {
    if (timeouts[i] == link.Timeout(i)) continue;
    link.SetCommTimeout(i, timeouts[i]);
    result.timeoutsSet.push_back(i);
  }
  return result;
}

// ---------------------------------------------------------- unit address

int UnitAddressFromText(std::string_view text) {
  return static_cast<int>(LeadingDigits(Head(text, kUnitAddressChars)));
}

std::string FormatUnitAddress(int address) { return link::UnitAddressText(address); }

}  // namespace vecta::app
