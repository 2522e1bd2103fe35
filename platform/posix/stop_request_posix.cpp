// POSIX stop requests: SIGINT and SIGTERM raise a flag (sigaction without
// SA_RESTART, so a waiting poll returns at once).
// Threading: the handler only stores to a sig_atomic_t.
#include <signal.h>

#include <csignal>

#include "platform/stop_request.h"

namespace platform {

namespace {
volatile std::sig_atomic_t g_stop = 0;
extern "C" void OnStopSignal(int) { g_stop = 1; }
}  // namespace

bool InstallStopRequest() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

bool StopRequested() { return g_stop != 0; }
void RequestStop() { g_stop = 1; }
void StopAcknowledged() {}

}  // namespace platform
