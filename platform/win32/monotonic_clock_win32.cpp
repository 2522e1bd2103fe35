// Win32 monotonic clock: the performance counter, which the system keeps
// consistent across processors and processes, scaled to nanoseconds.
// Threading: any thread.
#include <windows.h>

#include "platform/monotonic_clock.h"

namespace platform {

std::int64_t MonotonicNanoseconds() {
  // The frequency is fixed at boot; asking once is enough.
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return f.QuadPart > 0 ? static_cast<std::int64_t>(f.QuadPart) : 1;
  }();
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  const auto count = static_cast<std::int64_t>(counter.QuadPart);
  // Whole seconds and the remainder apart, so the product cannot overflow.
  return count / frequency * 1000000000 + count % frequency * 1000000000 / frequency;
}

}  // namespace platform
