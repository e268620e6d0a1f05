// Replies over TCP stay in step with their requests when one of them comes
// late, never comes, or comes in two pieces. The unit here answers in order,
// each reply naming the mnemonic it answers, on a clock that only moves when
// the link waits, so a 1.7 s late reply costs no real time.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/link_cipher.h"
#include "link/link_errors.h"
#include "support/fake_link.h"

using namespace vecta::link;
using namespace vecta::test;

namespace {

// What the unit does with request number n (counted from 0).
struct Answer {
  std::int64_t delayMs = 3;      // after the request arrives
  bool lost = false;             // never answered
  std::size_t splitAt = 0;       // nonzero: the envelope comes in two pieces
  std::int64_t tailAfterMs = 0;  // when the second piece follows the first
};

struct TimedUnitState {
  FakeClock* clock = nullptr;
  int receiveTimeoutMs = kReceiveTimeoutMs;
  std::function<Answer(int n)> plan = [](int) { return Answer{}; };
  std::deque<std::pair<std::int64_t, Bytes>> inFlight;  // arrival time, enciphered bytes
  std::int64_t lastReplyAt = 0;
  std::vector<std::string> requests;
  LinkCipher cipher;
};

class TimedUnitSocket final : public StreamSocket {
 public:
  explicit TimedUnitSocket(TimedUnitState& s) : s_(s) {}
  long Send(const std::uint8_t* data, std::size_t size, int&) override {
    Bytes env(data, data + size);
    OpenEnvelopeBlocks(s_.cipher, env.data(), env.size(), env.size());
    const std::string frame(env.begin() + 1, env.begin() + 1 + env[0]);
    const std::string mnemonic = frame.substr(6, 4);
    const int n = static_cast<int>(s_.requests.size());
    s_.requests.push_back(mnemonic);
    const Answer a = s_.plan(n);
    if (a.lost) return static_cast<long>(size);
    // In order: a reply never overtakes the one before it.
    const std::int64_t at = std::max(s_.clock->now + a.delayMs, s_.lastReplyAt + 1);
    s_.lastReplyAt = at;
    const Bytes reply = ReplyFrame(1, '1', "v" + mnemonic);
    const Bytes sealed = SealEnvelope(s_.cipher, reply.data(), reply.size());
    if (a.splitAt == 0) {
      s_.inFlight.emplace_back(at, sealed);
    } else {
      s_.inFlight.emplace_back(at, Bytes(sealed.begin(), sealed.begin() + a.splitAt));
      s_.inFlight.emplace_back(at + a.tailAfterMs, Bytes(sealed.begin() + a.splitAt, sealed.end()));
      s_.lastReplyAt = at + a.tailAfterMs;
    }
    return static_cast<long>(size);
  }
  long Receive(std::uint8_t* data, std::size_t size, int& err) override {
    return ReceiveWithin(data, size, s_.receiveTimeoutMs, err);
  }
  long ReceiveWithin(std::uint8_t* data, std::size_t size, int waitMs, int& err) override {
    FakeClock& c = *s_.clock;
    if (s_.inFlight.empty() || s_.inFlight.front().first > c.now + waitMs) {
      c.now += waitMs;
      err = EAGAIN;
      return -1;
    }
    c.now = std::max(c.now, s_.inFlight.front().first);
    // Everything that has arrived by now comes in one receive.
    std::size_t n = 0;
    while (!s_.inFlight.empty() && s_.inFlight.front().first <= c.now &&
           n + s_.inFlight.front().second.size() <= size) {
      const Bytes& b = s_.inFlight.front().second;
      std::copy(b.begin(), b.end(), data + n);
      n += b.size();
      s_.inFlight.pop_front();
    }
    return static_cast<long>(n);
  }
  void ShutdownBoth() override {}

 private:
  TimedUnitState& s_;
};

class TimedUnitFactory final : public SocketFactory {
 public:
  explicit TimedUnitFactory(TimedUnitState& s) : s_(s) {}
  std::unique_ptr<StreamSocket> Create(int&) override { return std::make_unique<TimedUnitSocket>(s_); }
  bool SetReceiveTimeout(StreamSocket&, int ms, int&) override {
    s_.receiveTimeoutMs = ms;
    return true;
  }
  bool Connect(StreamSocket&, const std::string&, std::uint16_t, int&, const std::atomic<bool>*) override {
    return true;
  }

 private:
  TimedUnitState& s_;
};

// The rows a full refresh of a K240 reads, in table order.
const std::vector<std::string> kRefresh = {
    "oout", "ofec", "ogua", "omod", "ofre", "owid", "ohls", "olev", "ollv", "odfe", "odgu", "odmo", "ospe", "o4ko",
    "zscr", "vinp", "aenc", "ampr", "a1br", "a2br", "alev", "asrc", "a1in", "a2in", "aen2", "gnam", "gsle", "dinp",
    "dbau", "dpln", "cinp", "ccha", "cout", "gosw", "evid", "evbr", "eenc", "ecmd", "ehor", "ever", "efrm", "esha",
    "eper", "epts", "epro", "gdna", "gblo", "glod", "vloc", "gver", "gfpg", "gser", "csta", "gtmp", "gvnt"};

class TcpInStep : public ::testing::Test {
 protected:
  void SetUp() override {
    unit.clock = &clock;
    unit.inFlight.clear();
    unit.requests.clear();
    unit.lastReplyAt = 0;
    LinkEnvironment env;
    env.clock = &clock;
    env.serial = std::make_shared<FakeSerialProvider>();
    env.sockets = std::make_shared<TimedUnitFactory>(unit);
    link = std::make_unique<CRavlenRemoteControl>(nullptr, env);
    link->OpenLogFile(dir.File("tcp.log"));
    link->SetCloseAfterSendFailure(false);
    link->SetCloseAfterReceiveFailure(false);
    link->SetEthernetAddress("127.0.0.1");
    ASSERT_EQ(ConnectAndWait(*link, 5000), kConnectOk);
  }

  struct Outcome {
    std::uint32_t code;
    std::string value;
  };
  // Reads every row of the refresh, `gapMs` apart; the result of each.
  std::vector<Outcome> Refresh(std::int64_t gapMs) {
    std::vector<Outcome> out;
    for (const auto& m : kRefresh) {
      LinkReply reply;
      const std::uint32_t rc = link->SendCommand("0001r" + m + ";;", reply);
      out.push_back({rc, rc == 0 ? reply.value : ""});
      clock.now += gapMs;
    }
    return out;
  }
  // Every exchange after `from` got its own reply.
  void ExpectInStepFrom(const std::vector<Outcome>& got, std::size_t from) {
    for (std::size_t i = from; i < got.size(); ++i) {
      EXPECT_EQ(got[i].code, 0u) << i << " " << kRefresh[i];
      EXPECT_EQ(got[i].value, "v" + kRefresh[i]) << i;
    }
  }

  TempDir dir;
  FakeClock clock;
  TimedUnitState unit;
  std::unique_ptr<CRavlenRemoteControl> link;
};

constexpr int kLate = 5;  // the request answered late

TEST_F(TcpInStep, LateReplyBackToBackCostsOnlyItsOwnExchange) {
  unit.plan = [](int n) {
    Answer a;
    if (n == kLate) a.delayMs = 1700;
    return a;
  };
  TraceCapture trace;
  const auto got = Refresh(0);
  EXPECT_EQ(got[kLate].code, kErrRead);
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (i == kLate) continue;
    EXPECT_EQ(got[i].value, "v" + kRefresh[i]) << i;
  }
  // The late reply went out after the next request and was dropped.
  EXPECT_NE(trace.Text().find("Dropped a late reply of 16 bytes:"), std::string::npos) << trace.Text();
  // The log holds no trace of it: each record is the ordinary one.
  const std::string log = ReadFile(dir.File("tcp.log"));
  EXPECT_EQ(log.find("v" + kRefresh[kLate]), std::string::npos);  // the late reply's value
}

TEST_F(TcpInStep, LateReplyWithPausesBetweenRequests) {
  unit.plan = [](int n) {
    Answer a;
    if (n == kLate) a.delayMs = 1700;
    return a;
  };
  const auto got = Refresh(200);
  EXPECT_EQ(got[kLate].code, kErrRead);
  ExpectInStepFrom(got, kLate + 1);
  for (std::size_t i = 0; i < kLate; ++i) EXPECT_EQ(got[i].value, "v" + kRefresh[i]);
}

TEST_F(TcpInStep, LateReplyArrivingJustBeforeOrAfterTheNextRequest) {
  for (std::int64_t gap : {150, 199, 200, 201, 250, 1000}) {
    SetUp();
    unit.plan = [](int n) {
      Answer a;
      if (n == kLate) a.delayMs = 1700;
      return a;
    };
    const auto got = Refresh(gap);
    EXPECT_EQ(got[kLate].code, kErrRead) << gap;
    ExpectInStepFrom(got, kLate + 1);
  }
}

TEST_F(TcpInStep, LostReplyCostsAtMostTheExchangeAfterIt) {
  unit.plan = [](int n) {
    Answer a;
    a.lost = n == kLate;
    return a;
  };
  for (std::int64_t gap : {0, 200}) {
    SetUp();
    const auto got = Refresh(gap);
    EXPECT_EQ(got[kLate].code, kErrRead) << gap;
    ExpectInStepFrom(got, kLate + 2);
  }
}

TEST_F(TcpInStep, SplitReplyEndsWithoutEtxAndItsTailIsDropped) {
  for (std::int64_t gap : {0, 200}) {
    SetUp();
    unit.plan = [](int n) {
      Answer a;
      if (n == kLate) {
        a.splitAt = 8;
        a.tailAfterMs = 40;
      }
      return a;
    };
    const auto got = Refresh(gap);
    EXPECT_EQ(got[kLate].code, kErrNoEtx) << gap;
    ExpectInStepFrom(got, kLate + 1);
  }
}

TEST_F(TcpInStep, TwoRepliesInOneReceiveAfterALateOne) {
  // The late reply and the next one arrive together.
  unit.plan = [](int n) {
    Answer a;
    if (n == kLate) a.delayMs = 1700;
    if (n == kLate + 1) a.delayMs = 300;
    return a;
  };
  const auto got = Refresh(0);
  EXPECT_EQ(got[kLate].code, kErrRead);
  ExpectInStepFrom(got, kLate + 1);
}

TEST_F(TcpInStep, OrdinaryExchangesLogExactlyAsBefore) {
  LinkReply reply;
  ASSERT_EQ(link->SendCommand("0001rgbty;;", reply), 0u);
  const Bytes frame = ReplyFrame(1, '1', "vgbty");
  const Bytes env = PlainEnvelope(frame.data(), frame.size());
  const std::string tail = "Response: " + HexDump(env) + std::string(1, char(frame.size())) +
                           std::string(frame.begin(), frame.end()) + std::string(1, '\0') + "\r\nReturning OK\r\n";
  const std::string log = ReadFile(dir.File("tcp.log"));
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

}  // namespace
