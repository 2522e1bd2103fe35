// Platform service: the user's request that a console program end (Ctrl+C,
// SIGTERM, the console window closed), seen by the program's loop so it can
// say goodbye properly (a simulation writing "lost") before it leaves.
//
// Contract every platform provides:
//  - InstallStopRequest() catches SIGINT and SIGTERM (POSIX) or the console's
//    Ctrl+C, Ctrl+Break, close, log-off and shut-down events (Win32); after
//    it, such a request only raises the flag StopRequested() reads.
//  - Win32: the system ends a process soon after its console-close handler
//    returns, so the handler waits (at most about 4 s) until the program
//    calls StopAcknowledged(), which it does once it has said goodbye. POSIX
//    ignores StopAcknowledged().
//  - RequestStop() raises the flag from the program itself (tests).
//
// Threading: StopRequested and StopAcknowledged from any thread; the
// handlers run on the system's signal context or console thread.
#pragma once

namespace platform {

bool InstallStopRequest();
bool StopRequested();
void RequestStop();
void StopAcknowledged();

}  // namespace platform
