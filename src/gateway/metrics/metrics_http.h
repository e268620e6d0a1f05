// The metrics over HTTP: GET /metrics (the exposition of the latest
// snapshot) and GET / (a short page linking to it); every other path or
// method gets 404. A scrape only renders what `snapshot` returns, which
// takes the last sample under a short lock: it never reaches the unit.
//
// A slow or hostile HTTP client cannot hold up sampling or the unit's
// clients: the server runs on threads of its own (a small fixed pool), each
// connection is read and written under a time-out, and requests are bounded
// in size (URI, headers, body).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "gateway/metrics/snapshot.h"

namespace vecta::gateway::metrics {

// Threads answering HTTP requests at once.
inline constexpr int kHttpThreads = 4;
// A connection that sends nothing for this long is closed.
inline constexpr int kHttpTimeoutSeconds = 3;

class MetricsHttp {
 public:
  explicit MetricsHttp(std::function<MetricsSnapshot()> snapshot);
  ~MetricsHttp();  // stops
  MetricsHttp(const MetricsHttp&) = delete;
  MetricsHttp& operator=(const MetricsHttp&) = delete;

  // Binds to HOST:PORT (port 0: a free one); false with `error` saying why.
  bool Listen(const std::string& host, std::uint16_t port, std::string& error);
  std::uint16_t Port() const { return port_; }
  // Serves on a thread of its own until Stop.
  void Start();
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::uint16_t port_ = 0;
};

}  // namespace vecta::gateway::metrics
