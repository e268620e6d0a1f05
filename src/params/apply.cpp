#include "params/apply.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

#include "link/frame.h"
#include "link/link_lock.h"
#include "params/control_ids.h"
#include "params/convert.h"
#include "params/page_rules.h"

namespace vecta::params {
namespace {

// How long the unit needs before it takes the next command.
constexpr std::int64_t kModeChangeWaitMs = 5000;    // a new operating mode
constexpr std::int64_t kAudioEncoderWaitMs = 1000;  // aenc, a1en, a2en
constexpr std::int64_t kTuningWaitMs = 500;         // ofre, owid
// The first reply after the video input leaves "Off" comes late.
constexpr int kLongReplyWaitMs = 2000;
// How long the "Please wait" window stays up after the audio switch: the
// time the unit takes to settle after any audio encoder change.
constexpr std::int64_t kAudioSwitchWaitMs = kAudioEncoderWaitMs;

// The encoder setting written for "audio on": "16kHz 8bit Stereo" (aenc 5)
// on K240 and other units, "MPEG Layer 2 48kHz Stereo" (a1en/a2en 3) for the
// K610's two encoders.
constexpr std::int32_t kAudioOnK610 = 3;
constexpr std::int32_t kAudioOnOther = 5;

// The DVB-T bandwidths (6, 7, 8 MHz) sit at positions 0-2 of owid, the
// narrow ones (2.5 MHz, 1.25 MHz, 625 kHz) above.
bool IsDvbtBandwidth(std::int32_t position) { return position < 3; }
constexpr int kDvbtBandwidthWire = 2;        // 8 MHz
constexpr int kNarrowbandBandwidthWire = 3;  // 2.5 MHz

// While a K610 is set to encode "MPEG4 ASP", its bandwidth is not written.
constexpr std::int32_t kK610AspEncoder = 1;

std::string Request(int address, char operation, std::string_view mnemonic, std::string_view value) {
  char head[16];
  std::snprintf(head, sizeof head, "%c%04d%c", static_cast<char>(link::kStx), address, operation);
  std::string text(head);
  text.append(mnemonic).append(";").append(value).append(";");
  return text;
}

class Writer {
 public:
  explicit Writer(UnitContext& unit) : unit_(unit) {}

  // A write request; what the unit answers is not looked at: the refresh
  // that follows every apply shows what it took.
  void Write(std::string_view mnemonic, std::string_view value, int waitBeforeReadMs = 0) {
    Send(Request(unit_.unitAddress, 'w', mnemonic, value), waitBeforeReadMs);
  }
  void Write(std::string_view mnemonic, long long value) { Write(mnemonic, std::to_string(value)); }
  std::uint32_t Send(const std::string& request, int waitBeforeReadMs = 0,
                     link::LinkReply* reply = nullptr) {
    link::LinkReply ignored;
    link::LinkReply& r = reply ? *reply : ignored;
    if (!unit_.link) return 1;
    return link::Exchange(*unit_.link, request, r, 1, waitBeforeReadMs);
  }

  void Sleep(std::int64_t ms) {
    if (unit_.clock) unit_.clock->SleepMs(ms);
  }
  // The unit is changing mode: the operator sees "Please wait" meanwhile.
  void PleaseWait(std::int64_t ms) {
    if (unit_.prompter) unit_.prompter->BeginProgress(kPleaseWaitTitle, kPleaseWaitText, 0);
    Sleep(ms);
    if (unit_.prompter) unit_.prompter->EndProgress();
  }

 private:
  UnitContext& unit_;
};

}  // namespace

std::uint8_t Apply(UnitContext& unit, ParamTable& table, ControlHost& window) {
  const Variant variant = unit.variant();
  const ParamTable& main = unit.tables ? unit.tables->main : table;
  RuleMemory& rules = unit.rules;
  Writer out(unit);

  std::uint8_t count = 0;
  std::int32_t audioOn = variant == Variant::K610 ? kAudioOnK610 : kAudioOnOther;
  bool modeChange = false;
  bool longReplyWait = false;
  double bitrate = 0;  // the bitrate text, once its row has been passed

  for (ParamRow& row : table.Rows()) {
    const RowDescriptor& desc = row.Desc();
    const int id = desc.control;
    if (!window.HasControl(id) || !RowExists(desc, variant)) continue;
    const std::string_view m = desc.mnemonic;

    bool marked = false;
    std::string value;
    std::int32_t selected = -1;
    {
      std::lock_guard lock(row.Lock());
      switch (desc.kind) {
        case Kind::Text: {
          const std::string text = window.Text(id);
          if (desc.Has(flag::kBitratePair)) bitrate = std::atof(text.c_str());
          const auto stored = row.Text();
          if (!stored || *stored != text) {
            value = FormTextValue(desc, text);
            marked = true;
          }
          break;
        }
        case Kind::StatusList:
          break;  // shown only; the unit sets these
        case Kind::List: {
          const std::int32_t s = window.Selected(id);
          selected = s;
          if (m == "vinp" && main.StoredListPosition("vinp") == 0) longReplyWait = true;
          // SIF and QSIF live in ecmd: the encoding mode list is not written
          // for MPEG2 nor while one of those sizes is chosen.
          if (variant != Variant::K610 && m == "ecmd" &&
              (rules.encoderIndex == 0 || rules.resolutionIndex > 3))
            continue;
          if (m == "ehor" && id == ids::kResolution && s > 3) {
            out.Write("ecmd", s);
            modeChange = longReplyWait = false;
            ++count;
          }
          const auto storedPosition = row.Position();
          if (!storedPosition || *storedPosition != s) {
            const std::int32_t stored = storedPosition.value_or(kNoStoredPosition);
            if (m == "owid" && IsDvbtBandwidth(s) != IsDvbtBandwidth(stored)) modeChange = true;
            if (m == derived::kBandwidthMode) modeChange = true;
            if (m == "aenc" && ((s == 0) != (stored == 0))) modeChange = true;
            if (auto formed = FormListValue(desc, s)) {
              value = *formed;
              marked = true;
              if (variant == Variant::K610) {
                if (m == "eenc") rules.k610EncoderChoice = std::atoi(value.c_str());
                if (m == "owid" && rules.k610EncoderChoice == kK610AspEncoder) marked = false;
              }
            }
          }
          // The audio switches are rewritten whenever the unit's encoder
          // setting is not the one they stand for.
          if (m == derived::kAudio) {
            const std::int32_t aenc = main.StoredListPosition("aenc");
            if (aenc >= 1 && aenc < audioOn) marked = true;
          } else if (derived::IsAudioEncoderRow(m)) {
            audioOn = kAudioOnK610;
            const std::int32_t encoder = main.StoredListPosition(m == derived::kAudioEncoder1 ? "a1en" : "a2en");
            if (encoder == 1 || encoder == 2) marked = true;
          }
          break;
        }
        case Kind::Address: {
          const std::uint32_t address = window.Address(id);
          const auto stored = row.Address();
          if (!stored || *stored != address) {
            value = FormatAddress(address);
            marked = true;
          }
          break;
        }
        case Kind::Check: {
          const std::uint8_t state = window.Checked(id) ? 1 : 0;
          const auto stored = row.Check();
          if (!stored || *stored != state || (state == 1 && bitrate != 0)) marked = true;
          if (desc.Has(flag::kBitratePair)) {
            // Manual bitrate: the unit takes kbit/s; 0 hands the bitrate
            // back to the encoder.
            value = state ? ScaledIntegerText(bitrate, 1000.0) : "0";
          } else {
            value = FormCheckValue(state == 1);
          }
          break;
        }
      }
    }
    if (!marked || !desc.writable) continue;

    if (desc.Derived()) {
      if (m == derived::kBandwidthMode) {
        if (!modeChange) continue;
        out.Write("owid", selected == 1 ? kDvbtBandwidthWire : kNarrowbandBandwidthWire);
        ++count;
        out.PleaseWait(kModeChangeWaitMs);
      } else if (m == derived::kAudio) {
        out.Write("aenc", selected == 1 ? audioOn : 0);
        ++count;
        out.PleaseWait(kAudioSwitchWaitMs);
      } else if (derived::IsAudioEncoderRow(m)) {
        const bool first = m == derived::kAudioEncoder1;
        if (selected >= 1) {
          out.Write(first ? "a1en" : "a2en", audioOn);
          out.Write(first ? "a1in" : "a2in", selected - 1);
        } else {
          out.Write(first ? "a1en" : "a2en", 0);
        }
        ++count;
      }
      modeChange = longReplyWait = false;
      continue;
    }

    if (m == "cinp") {
      // The chaining calibration (cflo) must come through a change of the
      // chaining input unchanged: read it first and write it back after.
      link::LinkReply cflo;
      const std::uint32_t rc = out.Send(Request(unit.unitAddress, 'r', "cflo", ""), 0, &cflo);
      out.Write("cinp", value);
      if (rc == 0 && cflo.status != 'E') out.Write("cflo", cflo.value);
    } else {
      out.Write(m, value, longReplyWait ? kLongReplyWaitMs : 0);
    }

    if (modeChange || m == "eenc") {
      out.PleaseWait(kModeChangeWaitMs);
    } else if (m == "ofre" || m == "owid") {
      out.Sleep(kTuningWaitMs);
    } else if (m == "aenc" || m == "a1en" || m == "a2en") {
      out.Sleep(kAudioEncoderWaitMs);
    }
    modeChange = longReplyWait = false;
    ++count;
  }
  return count;
}

}  // namespace vecta::params
