// Platform service: an exclusive hold that goes with a named shared-memory
// segment, so that of several processes (or objects) that map the segment
// only one at a time acts as its writer.
//
// Contract every platform provides:
//  - TakeSegmentHold gives the hold to at most one holder on the machine at
//    a time, across processes and within one process alike; it never
//    waits. A second taker gets kHeldElsewhere until the holder releases.
//  - The hold ends with ReleaseSegmentHold, or with the holding process in
//    any way it may end (crash, kill): a dead holder never blocks the next
//    taker.
//  - The segment `name` must be live and held open by the caller for as
//    long as the hold is kept (see shared_memory.h).
//  - The hold goes with the segment's name and with its object alike:
//    removing the name, or making a new object under it, does not free it.
//  - POSIX: a socket bound to an abstract name made of the name, the user
//    and the /dev/shm mount (no process can remove it), and a write lock of
//    the open-file-description kind on the first byte of the segment, on a
//    descriptor of the hold's own. The lock does not meet the shared flock
//    every segment holder keeps for liveness (the two kinds of lock are
//    independent), so holders, openers and the last user's removal of the
//    name work as before. Win32: a named mutex "<name>.Server" (a mutex
//    cannot share the mapping's own name); an abandoned mutex counts as
//    taken.
//  - Failures set LastSystemError().
// Test seam: SetSegmentHoldFault makes every take fail with a chosen code.
//
// Threading: a hold is taken and released on one thread (Win32 mutexes
// belong to a thread). The fault setting is process-wide, for
// single-threaded tests.
#pragma once

#include <cstdint>

namespace platform {

using SegmentHold = std::intptr_t;
inline constexpr SegmentHold kNoSegmentHold = -1;

enum class HoldStatus {
  kAcquired,       // *hold is the caller's until ReleaseSegmentHold
  kHeldElsewhere,  // another process or object holds it
  kFailed,         // the system call failed; LastSystemError() has the code
};

HoldStatus TakeSegmentHold(const char* name, SegmentHold* hold);
// Gives the hold back; kNoSegmentHold does nothing.
void ReleaseSegmentHold(SegmentHold hold);

// Test seam: while code is not 0, every TakeSegmentHold fails with it.
void SetSegmentHoldFault(int code);

}  // namespace platform
