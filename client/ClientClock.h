// The two operating-system services the client needs beyond named segments:
// the machine-wide monotonic clock the server stamps its heartbeat with, and
// whether a process id still names a live process.
//
// Contract every platform provides:
//  - MonotonicNs: nanoseconds on the clock every process of the machine
//    shares (CLOCK_MONOTONIC; QueryPerformanceCounter on Win32). It never
//    goes back; its origin is arbitrary.
//  - ProcessAlive: false only when no process with that id exists; a
//    process that exists but may not be inspected counts as alive.
//
// Kept small and internal so it can be pointed at the platform layer's own
// clock and process services once they exist.
//
// Threading: any thread.
#pragma once

#include <cstdint>

namespace client {

std::int64_t MonotonicNs();
bool ProcessAlive(std::uint32_t processId);

}  // namespace client
