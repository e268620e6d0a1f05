// Debug trace lines (socket and thread events, "No ETX" lines and the like):
// one process-wide sink, off by default, stderr when switched on. Tests
// install a capturing sink.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vecta::link {

using TraceSink = std::function<void(std::string_view line)>;

// Replaces the sink; an empty function switches tracing off.
void SetTraceSink(TraceSink sink);
// Sends trace lines to stderr (on) or nowhere (off).
void EnableStderrTrace(bool on);
// printf-style; the text is passed to the sink as formatted, "\r\n" included.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Whether a sink is installed: a line that is costly to build is skipped
// when nobody reads it.
bool TraceOn();

}  // namespace vecta::link
