// Ctrl-C (SIGINT), SIGTERM and SIGHUP while a command switches the unit's
// configurations (save-set, load-set, diff-unit): the transfer ends at its
// next step and its clean-up - the unit back on its configuration, the
// switch hold ended - still goes out. The clean-up is given `cleanupMs`
// from the signal; after that the link is cut, so the program always ends.
#pragma once

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include "link/remote_control.h"
#include "params/unit_context.h"

namespace vecta::ctl {

class TransferSignals {
 public:
  // Handles the three signals until destroyed (one instance at a time),
  // raising `transfer.stop` on the first.
  TransferSignals(link::CRavlenRemoteControl& link, params::TransferControl& transfer,
                  int cleanupMs = params::kTransferCleanupMs);
  // Puts the previous handling back.
  ~TransferSignals();
  TransferSignals(const TransferSignals&) = delete;
  TransferSignals& operator=(const TransferSignals&) = delete;

  // The first signal received, 0 for none.
  int Received() const;

 private:
  void Watch(int cleanupMs);

  link::CRavlenRemoteControl& link_;
  params::TransferControl& transfer_;
  struct sigaction old_[3]{};
  std::mutex m_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread watch_;
};

}  // namespace vecta::ctl
