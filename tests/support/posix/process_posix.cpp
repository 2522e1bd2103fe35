// POSIX child processes: posix_spawn, waitpid, kill(SIGKILL).
// Threading: any thread.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/process.h"

namespace testsupport {

bool StartProcess(const char* const* argv, ProcessHandle* process) {
  pid_t pid = 0;
  // posix_spawn takes char* const[] for historical reasons; it does not
  // write to the strings.
  const int result =
      posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ);
  if (result != 0) {
    errno = result;
    return false;
  }
  *process = static_cast<ProcessHandle>(pid);
  return true;
}

int WaitProcess(ProcessHandle process) {
  int status = 0;
  pid_t result;
  do {
    result = waitpid(static_cast<pid_t>(process), &status, 0);
  } while (result < 0 && errno == EINTR);
  if (result < 0 || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

bool KillProcess(ProcessHandle process) { return kill(static_cast<pid_t>(process), SIGKILL) == 0; }

int CurrentProcessId() { return static_cast<int>(getpid()); }

}  // namespace testsupport
