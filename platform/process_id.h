// Platform service: the calling process's id, and whether a process id
// belongs to a running process (a reader of a shared segment asking whether
// the writer that stamped its id there is still alive).
//
// Contract every platform provides:
//  - ThisProcessId() is the calling process's id, never 0.
//  - IsProcessAlive(id) is true while a process with that id exists and has
//    not ended, including one of another user that the caller may not
//    signal or open; false for 0, for ids no process has, and for a process
//    that has ended. POSIX: an ended child that its parent has not yet waited
//    for still counts as alive (its id is still taken). Ids are reused by the
//    system, so callers pair the answer with evidence of their own (a recent
//    time stamp).
//
// Threading: any thread.
#pragma once

#include <cstdint>

namespace platform {

std::uint32_t ThisProcessId();
bool IsProcessAlive(std::uint32_t processId);

}  // namespace platform
