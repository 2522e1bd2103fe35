// POSIX: CLOCK_MONOTONIC and kill(pid, 0).
// Threading: any thread.
#include <signal.h>
#include <time.h>

#include <cerrno>

#include "client/ClientClock.h"

namespace client {

std::int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

bool ProcessAlive(std::uint32_t processId) {
  if (processId == 0) {
    return false;
  }
  // EPERM: it exists but belongs to someone else.
  return kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}

}  // namespace client
