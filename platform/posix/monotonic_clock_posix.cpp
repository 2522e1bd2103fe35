// POSIX monotonic clock: CLOCK_MONOTONIC, which every process shares.
// Threading: any thread.
#include <time.h>

#include "platform/monotonic_clock.h"

namespace platform {

std::int64_t MonotonicNanoseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace platform
