// POSIX process ids: getpid, and kill with signal 0 to ask after another.
// Threading: any thread.
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process_id.h"

namespace platform {

std::uint32_t ThisProcessId() { return static_cast<std::uint32_t>(getpid()); }

bool IsProcessAlive(std::uint32_t processId) {
  // 0 and ids beyond pid_t's range would address process groups.
  if (processId == 0 || processId > 0x7FFFFFFFu) {
    return false;
  }
  if (kill(static_cast<pid_t>(processId), 0) == 0) {
    return true;
  }
  // Another user's process: it exists, we may only not signal it.
  return errno == EPERM;
}

}  // namespace platform
