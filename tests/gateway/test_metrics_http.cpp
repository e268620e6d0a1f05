// The metrics over HTTP on loopback: the two pages, 404 for every other
// path and method, and scrapes that go on while other clients connect and
// send nothing.
#include <gtest/gtest.h>

#include <atomic>

#include "gateway/metrics/exposition.h"
#include "gateway/metrics/metrics_http.h"
#include "support/http_get.h"

namespace vecta::gateway::metrics {
namespace {

struct MetricsHttpTest : ::testing::Test {
  void SetUp() override {
    snapshot.sample.up = true;
    snapshot.sample.rows = {{"gvba", 12.5, 1234}};
    std::string error;
    ASSERT_TRUE(http.Listen("127.0.0.1", 0, error)) << error;
    http.Start();
  }
  MetricsSnapshot snapshot;
  std::atomic<int> taken{0};
  MetricsHttp http{[this] {
    ++taken;
    return snapshot;
  }};
};

TEST_F(MetricsHttpTest, OnlyTheTwoPagesAnswerGet) {
  struct Case {
    const char* method;
    const char* path;
    int status;
    const char* type;  // the Content-Type header line
  };
  const Case cases[] = {
      {"GET", "/metrics", 200, "Content-Type: text/plain; version=0.0.4; charset=utf-8"},
      {"GET", "/", 200, "Content-Type: text/html; charset=utf-8"},
      {"GET", "/metrics/", 404, ""},
      {"GET", "/index.html", 404, ""},
      {"POST", "/metrics", 404, ""},
      {"HEAD", "/metrics", 404, ""},
      {"PUT", "/", 404, ""},
      {"DELETE", "/metrics", 404, ""},
      {"OPTIONS", "/metrics", 404, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.path);
    const test::HttpAnswer a = test::HttpRequest(http.Port(), c.method, c.path);
    EXPECT_EQ(a.status, c.status);
    if (*c.type) {
      EXPECT_NE(a.head.find(c.type), std::string::npos) << a.head;
    }
  }
  EXPECT_EQ(test::HttpRequest(http.Port(), "GET", "/metrics").body, RenderExposition(snapshot));
  EXPECT_NE(test::HttpRequest(http.Port(), "GET", "/").body.find("<a href=\"/metrics\">"), std::string::npos);
  EXPECT_EQ(taken, 2);  // only the scrapes took a snapshot
}

TEST_F(MetricsHttpTest, ScrapesGoOnWhileOtherClientsSendNothingOrHalfARequest) {
  const int idle = test::ConnectLoopback(http.Port());
  const int half = test::ConnectLoopback(http.Port());
  ASSERT_GE(idle, 0);
  ASSERT_GE(half, 0);
  const std::string partial = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  ASSERT_EQ(send(half, partial.data(), partial.size(), MSG_NOSIGNAL), static_cast<ssize_t>(partial.size()));
  // Each answered well before the silent ones time out.
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(test::HttpRequest(http.Port(), "GET", "/metrics", kHttpTimeoutSeconds * 1000 / 2).status, 200);
  close(idle);
  close(half);
}

TEST_F(MetricsHttpTest, AnOversizedRequestIsRefused) {
  const std::string big(20000, 'a');
  // Answered at once, though the connection is then kept open for more.
  EXPECT_EQ(test::HttpRequest(http.Port(), "GET", "/" + big, 500).status, 414);
  // A request with a body is refused before the body is read.
  const test::HttpAnswer a = test::HttpExchange(
      http.Port(), "POST /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 100000\r\n\r\n" + big);
  EXPECT_EQ(a.status, 404);
}

}  // namespace
}  // namespace vecta::gateway::metrics
