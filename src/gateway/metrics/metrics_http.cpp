#include "gateway/metrics/metrics_http.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "gateway/metrics/exposition.h"

namespace vecta::gateway::metrics {
namespace {

constexpr const char* kIndexPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>vecta-gateway</title></head>\n"
    "<body><h1>vecta-gateway</h1><p><a href=\"/metrics\">Metrics</a></p></body></html>\n";
constexpr std::size_t kMaxBody = 1024;
constexpr std::size_t kMaxRequestsPerConnection = 100;

}  // namespace

struct MetricsHttp::Impl {
  httplib::Server server;
  std::thread thread;
  std::atomic<bool> ended{false};
};

MetricsHttp::MetricsHttp(std::function<MetricsSnapshot()> snapshot) : impl_(std::make_unique<Impl>()) {
  httplib::Server& s = impl_->server;
  s.new_task_queue = [] { return new httplib::ThreadPool(kHttpThreads); };
  s.set_read_timeout(kHttpTimeoutSeconds, 0);
  s.set_write_timeout(kHttpTimeoutSeconds, 0);
  s.set_keep_alive_timeout(kHttpTimeoutSeconds);
  s.set_keep_alive_max_count(kMaxRequestsPerConnection);
  s.set_payload_max_length(kMaxBody);
  // Only GET of the two pages; HEAD, POST and the rest, and every other
  // path, are not found.
  s.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.method == "GET" && (req.path == "/" || req.path == "/metrics"))
      return httplib::Server::HandlerResponse::Unhandled;
    res.status = 404;
    res.set_content("Not found\n", "text/plain; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  });
  s.Get("/metrics", [snapshot = std::move(snapshot)](const httplib::Request&, httplib::Response& res) {
    res.set_content(RenderExposition(snapshot()), std::string(kExpositionContentType));
  });
  s.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kIndexPage, "text/html; charset=utf-8");
  });
}

MetricsHttp::~MetricsHttp() { Stop(); }

bool MetricsHttp::Listen(const std::string& host, std::uint16_t port, std::string& error) {
  const int bound = port == 0 ? impl_->server.bind_to_any_port(host)
                              : (impl_->server.bind_to_port(host, port) ? port : -1);
  if (bound <= 0) {
    error = "cannot listen for metrics on " + host + ":" + std::to_string(port);
    return false;
  }
  port_ = static_cast<std::uint16_t>(bound);
  return true;
}

void MetricsHttp::Start() {
  impl_->thread = std::thread([this] {
    impl_->server.listen_after_bind();
    impl_->ended = true;
  });
  // The server only stops once it runs: wait for that, so a Stop that
  // follows at once is not lost.
  while (!impl_->server.is_running() && !impl_->ended)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void MetricsHttp::Stop() {
  if (!impl_->thread.joinable()) return;
  impl_->server.stop();
  impl_->thread.join();
}

}  // namespace vecta::gateway::metrics
