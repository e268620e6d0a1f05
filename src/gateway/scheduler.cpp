#include "gateway/scheduler.h"

#include <chrono>
#include <utility>

#include "gateway/client_decoder.h"

namespace vecta::gateway {

bool Scheduler::Submit(ClientId client, link::Bytes frame, std::string label) {
  {
    std::lock_guard lock(mutex_);
    auto& queue = queues_[client];
    if (queue.size() >= kMaxQueuedFrames) return false;
    queue.push_back({std::move(frame), clock_.NowMs() + deadlineMs_, std::move(label)});
  }
  // Woken after the lock is let go, the unit thread does not wake only to
  // wait for it again.
  work_.notify_one();
  return true;
}

void Scheduler::RemoveClient(ClientId client) {
  std::lock_guard lock(mutex_);
  queues_.erase(client);
  if (onUnit_ == client) onUnitGone_ = true;
}

std::optional<Scheduler::Taken> Scheduler::TakeNext(std::vector<ClientId>& expired) {
  const std::int64_t now = clock_.NowMs();
  while (!queues_.empty()) {
    // The first client after the one served last, round the ring.
    auto it = queues_.upper_bound(lastServed_);
    if (it == queues_.end()) it = queues_.begin();
    lastServed_ = it->first;
    Taken taken{it->first, std::move(it->second.front())};
    it->second.pop_front();
    if (it->second.empty()) queues_.erase(it);
    if (now >= taken.request.deadlineMs) {
      ++counts_.expired;  // its client gave up waiting: not sent at all
      expired.push_back(taken.client);
      continue;
    }
    return taken;
  }
  return std::nullopt;
}

bool Scheduler::RunOne(UnitPort& unit, ReplySink& sink) {
  std::optional<Taken> taken;
  std::vector<ClientId> expired;
  {
    std::lock_guard lock(mutex_);
    taken = TakeNext(expired);
    if (taken) {
      onUnit_ = taken->client;
      onUnitGone_ = false;
      ++counts_.transactions;
    }
  }
  for (const ClientId client : expired) sink.NoReply(client);
  if (!taken) return false;
  const link::Bytes& frame = taken->request.frame;
  const link::Bytes reply = unit.Transact(frame, LogLevelFor(frame.data(), frame.size()), taken->request.label);
  Finish(*taken, reply, sink);
  return true;
}

void Scheduler::Finish(const Taken& taken, const link::Bytes& reply, ReplySink& sink) {
  bool deliver = false;
  {
    std::lock_guard lock(mutex_);
    const bool gone = onUnitGone_;
    onUnit_ = 0;
    onUnitGone_ = false;
    if (gone) {
      ++(reply.empty() ? counts_.silent : counts_.orphaned);
      return;  // nobody to tell
    }
    if (reply.empty()) {
      ++counts_.silent;
    } else if (clock_.NowMs() >= taken.request.deadlineMs) {
      ++counts_.late;
    } else {
      ++counts_.delivered;
      deliver = true;
    }
  }
  // Outside the lock: the sink may take locks of its own, or submit again.
  if (deliver)
    sink.Deliver(taken.client, reply);
  else
    sink.NoReply(taken.client);
}

void Scheduler::WaitForWork(int ms) {
  std::unique_lock lock(mutex_);
  work_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopped_ || !queues_.empty(); });
}

void Scheduler::Stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  work_.notify_all();
}

bool Scheduler::Stopped() const {
  std::lock_guard lock(mutex_);
  return stopped_;
}

SchedulerCounts Scheduler::Counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

std::size_t Scheduler::Waiting(ClientId client) const {
  std::lock_guard lock(mutex_);
  const auto it = queues_.find(client);
  return it == queues_.end() ? 0 : it->second.size();
}

}  // namespace vecta::gateway
