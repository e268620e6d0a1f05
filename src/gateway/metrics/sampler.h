// The gateway samples the unit's status rows itself, as one more client in
// the scheduler's round robin (kInternalClient): a scrape shows the last
// sample and never reaches the unit, so no scrape frequency loads its link.
//
// Every `intervalMs` a sample reads the status rows the monitor reads (the
// same rows and conversions: app::StatusRowsFor, app::ConvertStatus), one
// request at a time, each queued behind the other clients' in turn. Before
// the first sample, and again after a sample the unit did not answer whole,
// the unit is identified first: its address (the broadcast address query),
// board type, firmware version and name, and on a K240 whether its
// satellite modulator answers. The board decides which rows exist.
//
// A row the unit did not answer (silence, a refusal, a reply the link
// refused) is absent from the sample; after the first request left without
// a reply the rest of the sample is skipped, so a unit that has gone costs
// one time-out per sample. The unit is up when it answered a request of the
// last sample.
//
// Threads: Tick, Deliver and NoReply run on the unit thread (tests call them
// on theirs); Last is for scrapes, under a short lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/status_monitor.h"
#include "gateway/metrics/snapshot.h"
#include "gateway/scheduler.h"
#include "link/clock.h"
#include "link/frame.h"

namespace vecta::gateway::metrics {

inline constexpr int kDefaultSampleIntervalMs = 10000;

class StatusSampler final : public InternalClient {
 public:
  StatusSampler(Scheduler& scheduler, link::Clock& clock, app::UtcClock& utc,
                int intervalMs = kDefaultSampleIntervalMs);

  // Starts a sample when one is due and none is under way.
  void Tick() override;
  void Deliver(ClientId client, const link::Bytes& replyFrame) override;
  void NoReply(ClientId client) override;

  // The last whole sample (down and empty before the first).
  SampleResult Last() const;
  // Samples finished so far.
  std::uint64_t Samples() const;

 private:
  enum class Step { Address, Board, Firmware, Name, Modulator, Row };
  struct Planned {
    Step step = Step::Row;
    std::size_t row = 0;  // for a Row: its index in rows_
  };

  void StartSample();
  void SubmitNext();
  void Answered(const std::optional<link::DecodedReply>& reply);
  void TakeIdentity(Step step, const std::optional<std::string>& value);
  void PlanRows();
  void FinishSample();

  Scheduler& scheduler_;
  link::Clock& clock_;
  app::UtcClock& utc_;
  const int intervalMs_;

  // Unit thread only.
  bool sampling_ = false;
  bool started_ = false;
  std::int64_t nextDueMs_ = 0;
  bool identified_ = false;
  int address_ = 0;
  UnitInfo identity_;                // being read
  std::optional<UnitInfo> known_;    // the last whole identification
  bool modulator_ = false;
  std::vector<app::StatusRow> rows_;
  std::vector<Planned> plan_;
  std::size_t at_ = 0;
  bool answered_ = false;
  SampleResult building_;

  mutable std::mutex mutex_;
  SampleResult last_;  // under mutex_
  std::uint64_t samples_ = 0;
};

}  // namespace vecta::gateway::metrics
