// The daemons' (simulator's, gateway's) stop signals: SIGINT and SIGTERM are
// blocked before any thread starts, so every thread inherits the mask and
// the signals reach only a sigwait on the set returned. SIGPIPE is ignored:
// a peer that went away is an error on the write, not the end of the program.
#pragma once

#include <pthread.h>
#include <signal.h>

namespace vecta::platform {

inline sigset_t BlockStopSignals() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return stopSignals;
}

}  // namespace vecta::platform
