#include "link/trace.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

namespace vecta::link {
namespace {
std::mutex gMutex;
std::shared_ptr<const TraceSink> gSink;
}  // namespace

void SetTraceSink(TraceSink sink) {
  std::lock_guard lock(gMutex);
  gSink = sink ? std::make_shared<const TraceSink>(std::move(sink)) : nullptr;
}

void EnableStderrTrace(bool on) {
  if (!on) return SetTraceSink({});
  SetTraceSink([](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  });
}

bool TraceOn() {
  std::lock_guard lock(gMutex);
  return gSink != nullptr;
}

void Trace(const char* format, ...) {
  std::shared_ptr<const TraceSink> sink;
  {
    std::lock_guard lock(gMutex);
    sink = gSink;
  }
  if (!sink) return;
  char buf[512];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  if (n < 0) return;
  (*sink)(std::string_view(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1)));
}

}  // namespace vecta::link
