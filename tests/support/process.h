// Test harness: starting, waiting for and killing child processes, for the
// tests that need real processes beside them (several attachers of a shared
// segment, the simulation stand-in, the picture tool).
//
// On POSIX and on Windows alike:
//  - StartProcess runs argv[0] (a path to a program) with argv[1..] as its
//    arguments (argv ends with a null pointer); the child inherits the
//    environment and the standard streams. False when it could not start.
//  - WaitProcess waits until the child ends and returns its exit status
//    (0..255 on POSIX), or -1 when it was killed or cannot be waited for.
//    Each started process is waited for exactly once.
//  - KillProcess ends the child at once, without letting it clean up
//    (SIGKILL, TerminateProcess); WaitProcess must still follow.
//  - CurrentProcessId is the calling process's id.
//
// Threading: any thread; a process handle is used from one thread.
#pragma once

#include <cstdint>

namespace testsupport {

using ProcessHandle = std::intptr_t;

bool StartProcess(const char* const* argv, ProcessHandle* process);
int WaitProcess(ProcessHandle process);
bool KillProcess(ProcessHandle process);
int CurrentProcessId();

}  // namespace testsupport
