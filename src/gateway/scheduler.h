// The gateway's requests on their way to the unit: a queue per client,
// served in turn, one transaction at a time, each reply to its own client
// within its deadline.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gateway/gateway.h"
#include "link/clock.h"
#include "link/frame.h"

namespace vecta::gateway {

// The unit as the gateway uses it.
class UnitPort {
 public:
  virtual ~UnitPort() = default;
  // One transaction: `frame` (STX..ETX, as the client sent it) goes to the
  // unit and the unit's reply frame (STX..ETX) comes back, or nothing when
  // no reply came that a client could use (silence, a broken link). `client`
  // names the asker in the communication log.
  virtual link::Bytes Transact(const link::Bytes& frame, int logLevel, const std::string& client) = 0;
  // Called by the unit thread when it has nothing to do, and after a
  // transaction: brings a lost unit link back when it is time to try again.
  virtual void Maintain() {}
};

// Where replies go; called on the unit thread, must not wait for the unit.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  virtual void Deliver(ClientId client, const link::Bytes& replyFrame) = 0;
  // A request of `client` that gets no reply: the unit gave none, it came
  // past the deadline, or the deadline passed before it was sent. Every
  // request ends in exactly one Deliver or NoReply while its client stays.
  virtual void NoReply(ClientId /*client*/) {}
};

// The gateway's own client (the metrics sampler): its id is one no TCP
// client is ever given, its replies come to it and never to a socket.
inline constexpr ClientId kInternalClient = ~ClientId{0};

// A client inside the gateway. The unit thread calls Tick between
// transactions; it may Submit requests, and their replies come back through
// Deliver or NoReply on the same thread.
class InternalClient : public ReplySink {
 public:
  virtual void Tick() = 0;
};

// What happened to the requests, for the log and for tests.
struct SchedulerCounts {
  std::uint64_t transactions = 0;  // sent to the unit
  std::uint64_t delivered = 0;     // replies handed to their client
  std::uint64_t expired = 0;       // never sent: the deadline passed in the queue
  std::uint64_t late = 0;          // the reply came after the deadline
  std::uint64_t silent = 0;        // the unit gave no usable reply
  std::uint64_t orphaned = 0;      // the client went away meanwhile
};

class Scheduler {
 public:
  Scheduler(link::Clock& clock, int deadlineMs = kDefaultReplyDeadlineMs)
      : clock_(clock), deadlineMs_(deadlineMs) {}

  // IO thread. A client is known from its first request on; false (and
  // nothing queued) when the client already has kMaxQueuedFrames waiting.
  bool Submit(ClientId client, link::Bytes frame, std::string label);
  // The client has gone: its waiting requests are dropped, and a reply to
  // the one on the unit now is not delivered.
  void RemoveClient(ClientId client);

  // Unit thread: takes the next request in turn and runs it on `unit`,
  // delivering the reply to `sink` if its client still waits for it. False
  // when nothing was waiting.
  bool RunOne(UnitPort& unit, ReplySink& sink);
  // Unit thread: waits up to `ms` for a request to arrive (or Stop).
  void WaitForWork(int ms);
  void Stop();
  bool Stopped() const;

  SchedulerCounts Counts() const;
  std::size_t Waiting(ClientId client) const;

 private:
  struct Request {
    link::Bytes frame;
    std::int64_t deadlineMs = 0;
    std::string label;
  };
  struct Taken {
    ClientId client = 0;
    Request request;
  };

  // The next request in turn whose deadline has not passed; expired ones
  // on the way are dropped, their clients added to `expired`. Under mutex_.
  std::optional<Taken> TakeNext(std::vector<ClientId>& expired);
  void Finish(const Taken& taken, const link::Bytes& reply, ReplySink& sink);

  link::Clock& clock_;
  const int deadlineMs_;
  mutable std::mutex mutex_;
  std::condition_variable work_;
  // Clients with requests waiting, ordered by id: the turn order.
  std::map<ClientId, std::deque<Request>> queues_;
  ClientId lastServed_ = 0;  // the turn goes on after this id
  ClientId onUnit_ = 0;      // whose request is on the unit now
  bool onUnitGone_ = false;  // ...and that client has gone
  bool stopped_ = false;
  SchedulerCounts counts_;
};

}  // namespace vecta::gateway
