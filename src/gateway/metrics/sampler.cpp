#include "gateway/metrics/sampler.h"

#include <cstdlib>
#include <utility>

#include "link/request.h"
#include "params/convert.h"

namespace vecta::gateway::metrics {
namespace {

// How the gateway's own requests are named in the communication log.
constexpr const char* kLogLabel = "metrics";

const char* MnemonicOf(int step) {
  constexpr const char* kIdentity[] = {"gadd", "gbty", "gver", "gnam", "sver"};
  return kIdentity[step];
}

}  // namespace

StatusSampler::StatusSampler(Scheduler& scheduler, link::Clock& clock, app::UtcClock& utc, int intervalMs)
    : scheduler_(scheduler), clock_(clock), utc_(utc), intervalMs_(intervalMs > 0 ? intervalMs : 1) {}

void StatusSampler::Tick() {
  if (sampling_) return;
  const std::int64_t now = clock_.NowMs();
  if (started_ && now < nextDueMs_) return;
  started_ = true;
  // Counted from the start, so the pace does not drift by the sample's own
  // duration; a sample longer than the interval is followed at once.
  nextDueMs_ = now + intervalMs_;
  StartSample();
}

void StatusSampler::StartSample() {
  sampling_ = true;
  answered_ = false;
  building_ = {};
  plan_.clear();
  at_ = 0;
  if (identified_)
    PlanRows();
  else
    plan_.push_back({Step::Address, 0});
  SubmitNext();
}

void StatusSampler::PlanRows() {
  for (std::size_t i = 0; i < rows_.size(); ++i) plan_.push_back({Step::Row, i});
}

void StatusSampler::SubmitNext() {
  if (at_ >= plan_.size()) {
    FinishSample();
    return;
  }
  const Planned& p = plan_[at_];
  const std::string text = p.step == Step::Address ? link::AddressQuery()
                           : p.step == Step::Row   ? link::ReadRequest(address_, rows_[p.row].Mnemonic())
                                                   : link::ReadRequest(address_, MnemonicOf(static_cast<int>(p.step)));
  link::Bytes frame;
  if (!link::BuildRequestFrame(text, link::kMaxTcpRequestFrame, frame) ||
      !scheduler_.Submit(kInternalClient, std::move(frame), kLogLabel))
    FinishSample();
}

void StatusSampler::Deliver(ClientId client, const link::Bytes& replyFrame) {
  if (client != kInternalClient || !sampling_) return;
  const link::DecodedReply reply = link::DecodeReply(replyFrame.data(), replyFrame.size());
  // A reply the link refuses carries nothing to trust: as if none came.
  Answered(reply.code == 0 ? std::optional(reply) : std::nullopt);
}

void StatusSampler::NoReply(ClientId client) {
  if (client == kInternalClient && sampling_) Answered(std::nullopt);
}

void StatusSampler::Answered(const std::optional<link::DecodedReply>& reply) {
  const Planned p = plan_[at_];
  if (!reply) {
    // Silence: the rest of the sample is skipped, and the unit is identified
    // again when it answers, in case another has taken its place.
    identified_ = false;
    FinishSample();
    return;
  }
  answered_ = true;
  const bool good = reply->status == '1';
  if (p.step == Step::Row) {
    if (good) {
      const app::StatusValue v = app::ConvertStatus(rows_[p.row], reply->value);
      building_.rows.push_back({rows_[p.row].Mnemonic(), v.number, utc_.NowUtcMs()});
    }
  } else if (p.step == Step::Address && (!good || std::atoi(reply->value.c_str()) <= 0)) {
    FinishSample();  // no address to ask by
    return;
  } else {
    TakeIdentity(p.step, good ? std::optional(reply->value) : std::nullopt);
  }
  ++at_;
  SubmitNext();
}

void StatusSampler::TakeIdentity(Step step, const std::optional<std::string>& value) {
  const std::string text = value.value_or("");
  switch (step) {
    case Step::Address:
      address_ = std::atoi(text.c_str());
      identity_ = {};
      identity_.address = link::UnitAddressText(address_);
      plan_.push_back({Step::Board, 0});
      return;
    case Step::Board:
      // A board type the unit does not give is the other variant's.
      identity_.board = text.substr(0, 8);
      modulator_ = false;
      plan_.push_back({Step::Firmware, 0});
      plan_.push_back({Step::Name, 0});
      if (params::VariantOf(identity_.board) == params::Variant::K240) plan_.push_back({Step::Modulator, 0});
      return;
    case Step::Firmware: identity_.firmware = text; break;
    case Step::Name: identity_.name = text; break;
    case Step::Modulator: modulator_ = !text.empty(); break;
    case Step::Row: return;
  }
  if (at_ + 1 < plan_.size()) return;
  // Identified: the board and the modulator decide which rows exist.
  identified_ = true;
  known_ = identity_;
  rows_ = app::StatusRowsFor(params::VariantOf(identity_.board), modulator_);
  PlanRows();
}

void StatusSampler::FinishSample() {
  sampling_ = false;
  building_.up = answered_;
  building_.unit = known_;
  std::lock_guard lock(mutex_);
  last_ = std::move(building_);
  building_ = {};
  ++samples_;
}

SampleResult StatusSampler::Last() const {
  std::lock_guard lock(mutex_);
  return last_;
}

std::uint64_t StatusSampler::Samples() const {
  std::lock_guard lock(mutex_);
  return samples_;
}

}  // namespace vecta::gateway::metrics
