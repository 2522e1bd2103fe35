// POSIX terminal test: isatty on the stream's descriptor.
// Threading: any thread.
#include <unistd.h>

#include "platform/terminal.h"

namespace platform {

bool IsTerminal(int stream) {
  if (stream != 1 && stream != 2) {
    return false;
  }
  return isatty(stream == 1 ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

}  // namespace platform
