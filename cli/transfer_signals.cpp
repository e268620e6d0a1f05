#include "transfer_signals.h"

#include <atomic>
#include <chrono>

namespace vecta::ctl {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// What the handler touches: lock-free atomics only.
std::atomic<int> gReceived{0};
std::atomic<params::TransferControl*> gTransfer{nullptr};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free &&
              std::atomic<params::TransferControl*>::is_always_lock_free);

extern "C" void OnTransferSignal(int signal) {
  int none = 0;
  gReceived.compare_exchange_strong(none, signal);
  if (params::TransferControl* transfer = gTransfer.load()) transfer->stop.store(true);
}

// A handler cannot wake the watch: it looks at the flag this often.
constexpr auto kWatchSlice = std::chrono::milliseconds(20);

}  // namespace

TransferSignals::TransferSignals(link::CRavlenRemoteControl& link, params::TransferControl& transfer,
                                 int cleanupMs)
    : link_(link), transfer_(transfer) {
  gReceived = 0;
  gTransfer = &transfer;
  struct sigaction action {};
  action.sa_handler = OnTransferSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // the exchange under way runs to its end
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &old_[i]);
  watch_ = std::thread(&TransferSignals::Watch, this, cleanupMs);
}

TransferSignals::~TransferSignals() {
  {
    std::lock_guard lock(m_);
    done_ = true;
  }
  cv_.notify_all();
  watch_.join();
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &old_[i], nullptr);
  gTransfer = nullptr;
}

int TransferSignals::Received() const { return gReceived.load(); }

// Once a signal has stopped the transfer, its clean-up has `cleanupMs`;
// then the link gives up on whatever it waits for.
void TransferSignals::Watch(int cleanupMs) {
  std::unique_lock lock(m_);
  while (!done_ && !transfer_.stop.load()) cv_.wait_for(lock, kWatchSlice);
  if (done_) return;
  if (!cv_.wait_for(lock, std::chrono::milliseconds(cleanupMs), [this] { return done_; })) link_.Interrupt();
}

}  // namespace vecta::ctl
