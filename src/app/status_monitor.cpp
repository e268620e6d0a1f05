#include "app/status_monitor.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "link/frame.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "link/request.h"
#include "platform/atomic_file.h"

namespace vecta::app {
namespace {

class SystemUtc final : public UtcClock {
 public:
  std::int64_t NowUtcMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  }
};

// The status values, in the order they are shown. The table rows say how
// each is read, converted and on which board types it exists; these say
// what it is called and in which unit it is shown.
struct MonitoredValue {
  const char* mnemonic;
  bool satmod;  // in the satellite modulator table
  std::string_view name;
  std::string_view unit;
};

constexpr MonitoredValue kMonitored[] = {
    {"vloc", false, "Video lock", ""},         {"oout", false, "RF output", ""},
    {"csta", false, "Chaining", ""},           {"gtmp", false, "FPGA core temp", "\u00b0C"},
    {"gvnt", false, "FPGA core voltage", "V"}, {"gvax", false, "FPGA aux voltage", "V"},
    {"gvba", false, "Battery voltage", "V"},   {"stmp", true, "Modulator temperature", "\u00b0C"},
};

const params::RowDescriptor* FindDescriptor(std::span<const params::RowDescriptor> table,
                                            std::string_view mnemonic, params::Variant variant) {
  for (const params::RowDescriptor& row : table)
    if (mnemonic == row.mnemonic && params::RowExists(row, variant)) return &row;
  return nullptr;
}

void CsvField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += field;
    return;
  }
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

UtcClock& SystemUtcClock() {
  static SystemUtc clock;
  return clock;
}

std::string FormatUtcTime(std::int64_t utcMs) {
  std::int64_t seconds = utcMs / 1000;
  std::int64_t ms = utcMs % 1000;
  if (ms < 0) {
    ms += 1000;
    --seconds;
  }
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return text;
}

std::vector<StatusRow> StatusRowsFor(params::Variant variant, bool modulatorAnswers) {
  std::vector<StatusRow> rows;
  for (const MonitoredValue& m : kMonitored) {
    if (m.satmod && !modulatorAnswers) continue;
    const params::RowDescriptor* descriptor =
        FindDescriptor(m.satmod ? params::SatmodTableRows() : params::MainTableRows(), m.mnemonic, variant);
    if (!descriptor) continue;
    StatusRow row;
    row.descriptor = descriptor;
    row.name = m.name;
    row.unit = m.unit;
    if (descriptor->kind == params::Kind::List || descriptor->kind == params::Kind::StatusList) {
      row.form = StatusRow::Form::State;
      if (descriptor->options) row.levels = params::OfferedOptions(*descriptor->options);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

bool ModulatorAnswers(params::Variant variant, const params::ParamTable& main) {
  if (variant != params::Variant::K240) return false;
  const params::ParamRow* sver = main.Find("sver");
  const auto version = sver ? sver->Text() : std::nullopt;
  return version && !version->empty();
}

StatusValue ConvertStatus(const StatusRow& row, std::string_view replyText) {
  const params::Value value = params::ConvertReply(*row.descriptor, replyText);
  StatusValue out;
  out.shown = params::ShownValue(*row.descriptor, value);
  if (row.form == StatusRow::Form::State && row.descriptor->options &&
      !params::NamedOption(*row.descriptor, replyText))
    out.shown = params::UnknownReplyText(replyText);
  if (const auto* position = std::get_if<std::int32_t>(&value))
    out.number = *position;
  else
    out.number = std::strtod(out.shown.c_str(), nullptr);
  return out;
}

StatusSample SampleStatus(link::CRavlenRemoteControl& link, int unitAddress, const std::vector<StatusRow>& rows,
                          UtcClock& clock, const std::atomic<bool>* stop) {
  StatusSample sample;
  sample.values.resize(rows.size());
  bool stamped = false;
  for (std::size_t i = 0; unitAddress != 0 && i < rows.size(); ++i) {
    if (stop && stop->load()) break;
    link::LinkReply reply;
    const bool answered =
        link::PollExchange(link, link::ReadRequest(unitAddress, rows[i].Mnemonic()), reply) == link::kLinkOk;
    // Stamped when the first request ends, not before it waits for the poll
    // lock: an operation holding the lock would put the sample before it.
    if (!stamped) sample.utcMs = clock.NowUtcMs();
    stamped = true;
    if (!answered) break;
    sample.answered = true;
    // A refusal is an answer without a value.
    if (reply.status == '1') sample.values[i] = ConvertStatus(rows[i], reply.value);
  }
  if (!stamped) sample.utcMs = clock.NowUtcMs();  // nothing was sent
  return sample;
}

UnitIdentity IdentifyUnit(link::CRavlenRemoteControl& link, int unitAddress) {
  UnitIdentity id;
  link::LinkReply reply;
  if (link::PollExchange(link, link::ReadRequest(unitAddress, "gbty"), reply) != link::kLinkOk) return id;
  id.answered = true;
  if (reply.status == '1') id.boardType = reply.value.substr(0, 8);
  if (params::VariantOf(id.boardType) != params::Variant::K240) return id;
  if (link::PollExchange(link, link::ReadRequest(unitAddress, "sver"), reply) == link::kLinkOk &&
      reply.status == '1')
    id.modulator = !reply.value.empty();
  return id;
}

StatusHistory::StatusHistory(std::vector<StatusRow> rows, std::size_t capacity)
    : rows_(std::move(rows)), capacity_(capacity == 0 ? 1 : capacity) {}

std::size_t StatusHistory::Add(StatusSample sample) {
  samples_.push_back(std::move(sample));
  if (samples_.size() <= capacity_) return 0;
  samples_.pop_front();
  return 1;
}

std::string StatusCsv(const std::vector<StatusRow>& rows, const std::deque<StatusSample>& samples) {
  std::string out = "time";
  for (const StatusRow& row : rows) {
    out += ',';
    CsvField(out, row.Mnemonic());
  }
  out += "\r\n";
  for (const StatusSample& s : samples) {
    out += FormatUtcTime(s.utcMs);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      out += ',';
      if (i < s.values.size() && s.values[i]) CsvField(out, s.values[i]->shown);
    }
    out += "\r\n";
  }
  return out;
}

bool SaveStatusCsv(const std::string& path, const std::vector<StatusRow>& rows,
                   const std::deque<StatusSample>& samples, std::string* error, bool* openFailed) {
  if (openFailed) *openFailed = false;
  platform::AtomicFile file;
  if (!file.Open(path)) {
    if (error) *error = file.Error();
    if (openFailed) *openFailed = true;
    return false;
  }
  const std::string text = StatusCsv(rows, samples);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  if (!file.Commit({bytes, text.size()})) {
    if (error) *error = file.Error();
    return false;
  }
  return true;
}

}  // namespace vecta::app
