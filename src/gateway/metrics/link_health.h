// The unit link's health as the gateway sees it: every transaction it runs
// (each client's and its own sampler's), how long each took, the link
// errors, and how often the unit was lost. Written by the unit thread, read
// by scrapes; each under one short lock.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>

namespace vecta::gateway::metrics {

// Upper bounds of the exchange duration's buckets, in milliseconds: a TCP
// unit answers in a few, a serial one at 9600 baud in some tens, a silent
// one after its time-out.
inline constexpr std::array<std::int64_t, 10> kDurationBucketsMs = {5, 10, 25, 50, 100, 250, 500, 1000, 2500, 5000};

struct LinkHealthCounts {
  std::uint64_t exchanges = 0;
  std::map<std::uint32_t, std::uint64_t> errors;  // by link error code
  // Exchanges per bucket (not cumulative); the last counts those above
  // every bound.
  std::array<std::uint64_t, kDurationBucketsMs.size() + 1> buckets{};
  std::int64_t durationSumUs = 0;
  std::uint64_t unitLost = 0;
  bool operator==(const LinkHealthCounts&) const = default;
};

class LinkHealth {
 public:
  // One exchange: its link result (0 or an error code) and its duration.
  void Exchanged(std::uint32_t code, std::int64_t durationUs);
  // The unit stopped answering, or its link went down.
  void UnitLost();
  LinkHealthCounts Counts() const;

 private:
  mutable std::mutex mutex_;
  LinkHealthCounts counts_;
};

}  // namespace vecta::gateway::metrics
