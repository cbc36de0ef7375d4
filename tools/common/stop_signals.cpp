#include "tools/common/stop_signals.h"

#include <pthread.h>
#include <signal.h>

namespace GoxTools {
namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void BlockStopSignals() {
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

const char* WaitForStopSignal() {
  const sigset_t set = StopSet();
  int received = 0;
  sigwait(&set, &received);
  return received == SIGINT ? "SIGINT" : "SIGTERM";
}

}  // namespace GoxTools
