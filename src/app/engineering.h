// The engineering tools as plain functions: the diagnostic console's raw
// exchange, the IQ trim and carrier calibration steps, the power calibration
// table, the serial line settings and the unit address. Each function talks
// to the unit through link::Exchange (one exchange under the link lock at a
// time) and returns what the window has to show; nothing here knows about
// widgets, so the Engineering options window runs these on its operation
// thread and only copies the results into its controls.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "link/remote_control.h"

namespace vecta::app {

// ------------------------------------------------------------ diagnostic

// Characters of the fields that go into a raw request.
inline constexpr std::size_t kDiagnosticAddressChars = 4;
inline constexpr std::size_t kDiagnosticCommandChars = 255;

// STX, the first four characters of the address field, then the command
// text (at most 255 characters). An address shorter than four characters
// is padded with leading '0's, so "1" reaches unit 0001 rather than
// producing a frame with a hole in its address.
std::string DiagnosticRequest(std::string_view address, std::string_view command);

// A request frame around the command: STX, the four address characters,
// the checksum and ETX.
inline constexpr std::size_t kDiagnosticFrameOverhead = 7;
// The longest command text one request carries on the transport: 246
// characters on the serial line, 240 over TCP.
std::size_t DiagnosticCommandLimit(link::TransportKind transport);
// "The command is too long: 297 characters, at most 246 fit in one request.
// Nothing was sent."
std::string DiagnosticTooLongText(std::size_t typed, std::size_t limit);

struct DiagnosticResult {
  std::uint32_t code = 0;  // 0 or the link error code
  bool sent = false;       // false: refused before anything was sent
  // What the operator is told instead of the link error's own text ("" for
  // that text): why nothing was sent.
  std::string message;
  // What the reply box gains: "Sending: ..." and "Reply: ..." lines, or
  // nothing when the exchange failed before a reply could be shown.
  std::string transcript;
};

// Sends the raw request and builds the transcript from the link's copies
// of this exchange's request and reply, all under the link lock so a poll
// exchange cannot slip in between. A command that would not fit in a frame
// on the current transport is refused with kErrInvalidCommand and the
// DiagnosticTooLongText message, and nothing is sent. The transcript is
// produced for success and for the two errors whose rejected reply is worth
// a look (invalid reply, bad checksum).
DiagnosticResult SendDiagnostic(link::CRavlenRemoteControl& link, std::string_view address,
                                std::string_view command);

// "Sending: " + "%2x " per request byte + the request's characters + "\r\n"
// + "Reply: " + "%2x " per reply byte + the reply's characters + "\r\n".
// In the character parts a byte below 0x20 or from 0x7f up shows as '.',
// so each exchange is exactly one "Sending: " line and one "Reply: " line.
std::string DiagnosticTranscript(std::string_view request, std::string_view reply);

// ---------------------------------------------------------------- IQ trim

inline constexpr int kTrimMin = -128;
inline constexpr int kTrimMax = 127;
inline constexpr int kTrimSliderOffset = 128;  // slider position = trim + 128
inline constexpr std::size_t kTrimEntryChars = 7;
inline constexpr std::size_t kFrequencyApplyChars = 7;

// A trim as the unit holds it: the unsigned byte of the signed value (-1 is
// 255). From the unit: the integer of the reply modulo 256 as a signed byte
// ("255" and "-1" both give -1).
int TrimToWire(int trim);
int TrimFromWire(std::string_view value);

// The operator's entry in a trim edit (Enter): at most 7 characters read as
// a decimal integer with an optional sign (0 when it does not start with a
// number). Out of range gives the message to show and no value.
struct TrimEntry {
  std::optional<int> value;
  std::string message;  // "Value %d is invalid.\nAllowed range is -128 to 127."
};
TrimEntry ParseTrimEntry(std::string_view text);

// "+" and "-": one step, stopping at the ends of the range.
int TrimStep(int trim, int delta);

// The eleven points lie evenly from the lower (point 1) to the upper
// (point 11) calibration frequency; the three-point page's mid point halves
// the range.
double ElevenPointFrequency(double lower, double upper, int point);
double MidPointFrequency(double lower, double upper);
// "%.2f".
std::string FormatFrequency(double mhz);

// What the IQ trim page shows after a step.
enum class FrequencyEdit {
  Unchanged,
  Editable,  // editable, frequency "Apply" enabled: normal operation, single point
  Locked,    // read-only, frequency "Apply" disabled: at a calibration point
};
struct IqTrimView {
  bool trimsRead = false;  // the I and Q trims below are to be shown
  int iTrim = 0, qTrim = 0;
  std::optional<std::string> frequency;  // text for the frequency edit
  FrequencyEdit edit = FrequencyEdit::Unchanged;
  // The settings pages' parameters the step wrote (the output frequency),
  // for them to be read back there.
  std::vector<std::string> written;
};

// Reads "rciqi" and "rciqq"; a failed read or an 'E' reply gives 0.
void ReadTrims(link::CRavlenRemoteControl& link, int address, IqTrimView& view);
// Opening the page: the trims, then the output frequency. A failed
// frequency read leaves the edit as it is.
IqTrimView IqTrimStart(link::CRavlenRemoteControl& link, int address);
// "Normal Operation" (or the point list's "Normal operation").
IqTrimView IqNormalOperation(link::CRavlenRemoteControl& link, int address);
// "Single point trim": clears the upper and mid points, stays at the lower.
IqTrimView IqSinglePointTrim(link::CRavlenRemoteControl& link, int address);
// "3 point trim - lower/mid/upper point": point 1, 2 or 3.
IqTrimView IqThreePointTrim(link::CRavlenRemoteControl& link, int address, int point);
// "Select point" with point 1..11 of the eleven-point page.
IqTrimView IqElevenPointTrim(link::CRavlenRemoteControl& link, int address, int point);
// A trim row's "Apply": 'i' writes ciqi, 'q' ciqq.
void IqWriteTrim(link::CRavlenRemoteControl& link, int address, char which, int trim);
// The frequency row's "Apply": the first 7 characters as typed. Returns
// what it wrote, as IqTrimView::written.
std::vector<std::string> IqWriteFrequency(link::CRavlenRemoteControl& link, int address, std::string_view text);

// The mnemonic a raw diagnostic command writes ("wofre;500;" writes ofre),
// none for a read or anything else.
std::optional<std::string> DiagnosticWrite(std::string_view command);

// ------------------------------------------------------ power calibration

inline constexpr int kLevelUnity = 1274;  // the unit's level number for 0 dB
inline constexpr std::size_t kPowerCalWriteChars = 7;

struct PowerCalItem {
  const char* mnemonic;
  int controlId;
  bool level;  // false: a frequency in MHz
};

// The table as one list: all frequencies top to bottom, then all levels in
// the same row order; 8 items in the four-point layout, 16 in the
// eight-point layout (K240), whose "Maximum freq" level is cpl4 after cpl8.
std::span<const PowerCalItem> PowerCalItems(bool eightPoint);

// A level number shown in dB, "%.2f" of -20 log10(v / 1274). The dB form
// does not exist for 0 or negative numbers (or text that is no number):
// such a value is shown as an empty edit, which an Apply then writes as
// 0 dB, so the unit gets a sane level back instead of a made-up figure.
std::string LevelToDb(std::string_view unitValue);
// The number written for a level edit: int(1274 * 10^(-dB / 20) + 0.5);
// an empty edit is 0 dB (1274). Clamped to the int range for absurd
// entries instead of overflowing.
int DbToLevel(std::string_view text);
// What the edit shows for an item's reply value.
std::string PowerCalDisplay(const PowerCalItem& item, std::string_view unitValue);

// One text per item in list order; nullopt where the read failed (the edit
// stays as it is).
std::vector<std::optional<std::string>> ReadPowerCal(link::CRavlenRemoteControl& link, int address,
                                                     bool eightPoint);
// Writes every item in list order from `texts` (one per item, the edits'
// contents), ignoring the results.
void WritePowerCal(link::CRavlenRemoteControl& link, int address, bool eightPoint,
                   const std::vector<std::string>& texts);

// ------------------------------------------------------- serial control

inline constexpr std::array<std::uint32_t, 15> kBaudRates = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
inline constexpr std::size_t kTimeoutChars = 7;
inline constexpr int kTimeoutCount = 5;

// Position of the rate in kBaudRates, -1 when it is not one of them.
int BaudRateIndex(std::uint32_t baud);

// What the Serial control Apply changes on the link.
class SerialLineSettings {
 public:
  virtual ~SerialLineSettings() = default;
  virtual std::uint32_t BaudRate() const = 0;
  virtual std::uint32_t Timeout(int which) const = 0;
  virtual void SetBaudRate(std::uint32_t baud) = 0;
  virtual void SetCommTimeout(int which, std::uint32_t value) = 0;
};

// The link controller's serial settings, each change under the link lock
// (the poll thread may be exchanging frames on the same port).
class LinkSerialSettings final : public SerialLineSettings {
 public:
  explicit LinkSerialSettings(link::CRavlenRemoteControl& link) : link_(link) {}
  std::uint32_t BaudRate() const override;
  std::uint32_t Timeout(int which) const override;
  void SetBaudRate(std::uint32_t baud) override;
  void SetCommTimeout(int which, std::uint32_t value) override;

 private:
  link::CRavlenRemoteControl& link_;
};

// The five edits (1300..1304) as numbers: at most 7 characters each, their
// leading digits (0 when none).
std::array<std::uint32_t, kTimeoutCount> TimeoutsFromTexts(const std::array<std::string, kTimeoutCount>& texts);
// Items 5 to 9 of the settings record.
void StoreTimeouts(AppSettings& settings, const std::array<std::uint32_t, kTimeoutCount>& timeouts);

struct SerialApplyResult {
  bool baudRateSet = false;
  std::vector<int> timeoutsSet;  // the `which` of every SetCommTimeout, in order
};
// SetBaudRate only when the rate differs from the link's, then
// SetCommTimeout in the order 0..4 for each time-out that differs. The
// results of the calls are not reported.
SerialApplyResult ApplySerialSettings(SerialLineSettings& link, std::uint32_t baud,
                                      const std::array<std::uint32_t, kTimeoutCount>& timeouts);

// ---------------------------------------------------------- unit address

inline constexpr std::size_t kUnitAddressChars = 4;
// The first four characters' leading digits as a number, 0 when none.
int UnitAddressFromText(std::string_view text);
// "%04d".
std::string FormatUnitAddress(int address);

}  // namespace vecta::app
