// Platform service: a monotonic clock in nanoseconds that every process on
// the machine reads alike, so one process can judge how long ago another
// wrote a time stamp (a server's heartbeat in a shared segment).
//
// Contract every platform provides:
//  - MonotonicNanoseconds() never goes backwards, is not moved by changes
//    of the wall-clock time, and gives the same reading in every process at
//    the same moment (POSIX: CLOCK_MONOTONIC; Win32: the performance
//    counter, scaled to nanoseconds). Its zero is some moment since the
//    machine started; only differences mean anything.
//  - Resolution is a microsecond or better where the system offers it.
//
// Threading: any thread.
#pragma once

#include <cstdint>

namespace platform {

// Nanoseconds on the machine's monotonic clock.
std::int64_t MonotonicNanoseconds();

}  // namespace platform
