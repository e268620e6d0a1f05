#include "gateway/metrics/exposition.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>

namespace vecta::gateway::metrics {
namespace {

// Where each status row is shown: its family and the label that tells it
// from the other rows of the same family.
struct RowSeries {
  std::string_view mnemonic;
  std::string_view family;
  std::string_view labels;  // "" or `name="value"`
};

constexpr RowSeries kRowSeries[] = {
    {"vloc", "vecta_video_locked", ""},
    {"oout", "vecta_rf_output_enabled", ""},
    {"csta", "vecta_chaining_state", ""},
    {"gtmp", "vecta_temperature_celsius", "sensor=\"fpga\""},
    {"stmp", "vecta_temperature_celsius", "sensor=\"modulator\""},
    {"gvnt", "vecta_voltage_volts", "rail=\"fpga_core\""},
    {"gvax", "vecta_voltage_volts", "rail=\"fpga_aux\""},
    {"gvba", "vecta_voltage_volts", "rail=\"battery\""},
};

struct RowFamily {
  std::string_view name;
  std::string_view help;
};

constexpr RowFamily kRowFamilies[] = {
    {"vecta_video_locked", "1 when the unit's video input is locked, else 0."},
    {"vecta_rf_output_enabled", "1 when the unit's RF output is on, else 0."},
    {"vecta_chaining_state", "The unit's chaining status: 0 not active, 1 active, 2 overflow."},
    {"vecta_temperature_celsius", "Temperatures the unit reports, in degrees Celsius."},
    {"vecta_voltage_volts", "Voltages the unit reports, in volts."},
};

void Header(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

// The shortest text that reads back as the same number; NaN and the
// infinities as the format spells them.
void Number(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NaN";
  } else if (std::isinf(v)) {
    out += v > 0 ? "+Inf" : "-Inf";
  } else {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    out.append(text, end);
  }
}

void Sample(std::string& out, std::string_view name, std::string_view labels, double value) {
  out.append(name);
  if (!labels.empty()) out.append("{").append(labels).append("}");
  out += ' ';
  Number(out, value);
  out += '\n';
}

void UnitInfoLines(std::string& out, const SampleResult& sample) {
  Header(out, "vecta_unit_info", "gauge", "The unit's board type, firmware version, address and name; always 1.");
  if (!sample.unit) return;
  const UnitInfo& u = *sample.unit;
  const std::string labels = "board=\"" + EscapeLabelValue(u.board) + "\",firmware=\"" +
                             EscapeLabelValue(u.firmware) + "\",address=\"" + EscapeLabelValue(u.address) +
                             "\",name=\"" + EscapeLabelValue(u.name) + "\"";
  Sample(out, "vecta_unit_info", labels, 1);
}

void RowLines(std::string& out, const MetricsSnapshot& snapshot) {
  const SampleResult& sample = snapshot.sample;
  for (const RowFamily& family : kRowFamilies) {
    Header(out, family.name, "gauge", family.help);
    for (const RowSeries& series : kRowSeries) {
      if (series.family != family.name) continue;
      for (const RowReading& r : sample.rows) {
        if (r.mnemonic != series.mnemonic) continue;
        out.append(series.family);
        if (!series.labels.empty()) out.append("{").append(series.labels).append("}");
        out += ' ';
        Number(out, r.value);
        if (snapshot.rowTimestamps) out.append(" ").append(std::to_string(r.utcMs));
        out += '\n';
      }
    }
  }
}

void DurationLines(std::string& out, const LinkHealthCounts& link) {
  constexpr std::string_view name = "vecta_link_exchange_duration_seconds";
  Header(out, name, "histogram", "How long the gateway's exchanges with the unit took.");
  const std::string bucket = std::string(name) + "_bucket";
  std::uint64_t cumulative = 0;
  std::string le;
  for (std::size_t i = 0; i <= kDurationBucketsMs.size(); ++i) {
    cumulative += link.buckets[i];
    le = "le=\"";
    if (i < kDurationBucketsMs.size())
      Number(le, static_cast<double>(kDurationBucketsMs[i]) / 1000.0);
    else
      le += "+Inf";
    le += '"';
    Sample(out, bucket, le, static_cast<double>(cumulative));
  }
  Sample(out, std::string(name) + "_sum", "", static_cast<double>(link.durationSumUs) / 1e6);
  Sample(out, std::string(name) + "_count", "", static_cast<double>(cumulative));
}

void LinkLines(std::string& out, const MetricsSnapshot& s) {
  Header(out, "vecta_link_exchanges_total", "counter",
         "Exchanges the gateway made with the unit, for every client and its own sampling.");
  Sample(out, "vecta_link_exchanges_total", "", static_cast<double>(s.link.exchanges));
  Header(out, "vecta_link_errors_total", "counter", "Exchanges with the unit that ended in a link error, by code.");
  for (const auto& [code, count] : s.link.errors) {
    char label[24];
    std::snprintf(label, sizeof label, "code=\"0x%08X\"", static_cast<unsigned>(code));
    Sample(out, "vecta_link_errors_total", label, static_cast<double>(count));
  }
  DurationLines(out, s.link);
  Header(out, "vecta_gateway_clients", "gauge", "Programs connected to the gateway now.");
  Sample(out, "vecta_gateway_clients", "", s.clients);
  Header(out, "vecta_unit_lost_total", "counter", "Times the unit stopped answering or its link went down.");
  Sample(out, "vecta_unit_lost_total", "", static_cast<double>(s.link.unitLost));
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '"')
      out += "\\\"";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string RenderExposition(const MetricsSnapshot& snapshot) {
  std::string out;
  out.reserve(4096);
  Header(out, "vecta_up", "gauge", "1 when the unit answered the gateway's last sample, else 0.");
  Sample(out, "vecta_up", "", snapshot.sample.up ? 1 : 0);
  UnitInfoLines(out, snapshot.sample);
  RowLines(out, snapshot);
  LinkLines(out, snapshot);
  return out;
}

}  // namespace vecta::gateway::metrics
