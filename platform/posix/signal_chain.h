// POSIX half only: hands a signal this process's own handler did not take
// to the action installed before it, so that a handler of ours changes
// nothing for signals that are not its own.
// Threading: called from a signal handler; async-signal-safe.
#pragma once

#include <signal.h>

namespace platform {

// previous: the action sigaction reported when ours was installed. A
// handler is called as it would have been; the default action is put back
// and takes its course: a fault repeats on return and ends the program as
// it would have without ours, a sent signal (si_code <= 0) is raised again.
inline void PassOnSignal(struct sigaction& previous, int signal, siginfo_t* info, void* context) {
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal, info, context);
    return;
  }
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
    return;
  }
  sigaction(signal, &previous, nullptr);
  if (info->si_code <= 0) {
    raise(signal);
  }
}

}  // namespace platform
