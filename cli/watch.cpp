#include "watch.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <nlohmann/json.hpp>
#include <ostream>

namespace vecta::ctl {
namespace {

using app::StatusRow;
using app::StatusSample;

constexpr std::string_view kGap = "-";
constexpr std::size_t kNumberWidth = 7;
// How long a pause may run before Ctrl-C is looked at again.
constexpr std::int64_t kPauseSliceMs = 100;

// Set by SIGINT; a lock-free atomic may be written from a handler.
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) { gInterrupted.store(true); }

// Characters on a terminal: UTF-8 continuation bytes take no column.
std::size_t Columns(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

std::string HeaderCell(const StatusRow& row) {
  std::string cell(row.Mnemonic());
  if (!row.unit.empty()) (cell += ' ') += row.unit;
  return cell;
}

std::size_t Width(const StatusRow& row) {
  std::size_t w = std::max(Columns(HeaderCell(row)), Columns(kGap));
  if (row.form == StatusRow::Form::State)
    for (const auto& level : row.levels) w = std::max(w, Columns(level));
  else
    w = std::max(w, kNumberWidth);
  return w;
}

void Cell(std::string& line, std::string_view text, std::size_t width, bool right) {
  const std::size_t pad = width > Columns(text) ? width - Columns(text) : 0;
  if (right) line.append(pad, ' ');
  line += text;
  if (!right) line.append(pad, ' ');
}

std::string Line(const std::vector<StatusRow>& rows, std::string_view time,
                 const std::vector<std::string>& cells) {
  std::string line(time);
  line.append(Columns(app::FormatUtcTime(0)) - std::min(Columns(time), Columns(app::FormatUtcTime(0))), ' ');
  for (std::size_t i = 0; i < rows.size(); ++i) {
    line += "  ";
    Cell(line, cells[i], Width(rows[i]), rows[i].form == StatusRow::Form::Number);
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line + "\n";
}

// SIGINT handling for the length of a watch; the previous handling after.
class InterruptScope {
 public:
  InterruptScope() {
    gInterrupted = false;
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old_);
  }
  ~InterruptScope() { sigaction(SIGINT, &old_, nullptr); }

 private:
  struct sigaction old_ {};
};

}  // namespace

std::string WatchHeader(const std::vector<StatusRow>& rows) {
  std::vector<std::string> cells;
  cells.reserve(rows.size());
  for (const auto& row : rows) cells.push_back(HeaderCell(row));
  return Line(rows, "time", cells);
}

std::string WatchTableLine(const std::vector<StatusRow>& rows, const StatusSample& sample) {
  std::vector<std::string> cells;
  for (std::size_t i = 0; i < rows.size(); ++i)
    cells.emplace_back(i < sample.values.size() && sample.values[i] ? std::string_view(sample.values[i]->shown)
                                                                    : kGap);
  return Line(rows, app::FormatUtcTime(sample.utcMs), cells);
}

std::string WatchJsonLine(const std::vector<StatusRow>& rows, const StatusSample& sample) {
  nlohmann::ordered_json values = nlohmann::ordered_json::object();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string key(rows[i].Mnemonic());
    if (i >= sample.values.size() || !sample.values[i]) {
      values[key] = nullptr;
      continue;
    }
    nlohmann::ordered_json v = {{"shown", sample.values[i]->shown}};
    if (rows[i].form == StatusRow::Form::State)
      v["value"] = static_cast<long long>(sample.values[i]->number);
    else
      v["value"] = sample.values[i]->number;
    values[key] = std::move(v);
  }
  nlohmann::ordered_json line = {
      {"time", app::FormatUtcTime(sample.utcMs)}, {"answered", sample.answered}, {"values", std::move(values)}};
  return line.dump() + "\n";
}

int RunWatch(link::CRavlenRemoteControl& link, int unitAddress, const std::vector<StatusRow>& rows,
             const WatchOptions& options, std::ostream& out, std::ostream& err, link::Clock& clock,
             app::UtcClock& utc) {
  InterruptScope interrupts;
  if (!options.json) out << WatchHeader(rows) << std::flush;
  std::int64_t due = clock.NowMs();
  int taken = 0, silent = 0;
  for (;;) {
    const StatusSample sample = app::SampleStatus(link, unitAddress, rows, utc, &gInterrupted);
    if (gInterrupted) return 0;  // cut short: not a sample
    out << (options.json ? WatchJsonLine(rows, sample) : WatchTableLine(rows, sample)) << std::flush;
    ++taken;
    silent = sample.answered ? 0 : silent + 1;
    if (silent >= kWatchSilentSamples) {
      err << "The unit stopped answering: no reply to " << kWatchSilentSamples << " samples in a row\n";
      return 1;
    }
    if (options.count > 0 && taken >= options.count) return 0;
    // Samples start one interval apart; after a sample that took longer
    // than that, the next starts at once rather than catching up.
    due = std::max(due + options.intervalMs, clock.NowMs());
    for (std::int64_t now = clock.NowMs(); now < due && !gInterrupted; now = clock.NowMs())
      clock.SleepMs(std::min(due - now, kPauseSliceMs));
    if (gInterrupted) return 0;
  }
}

}  // namespace vecta::ctl
