// Win32 terminal test: the CRT's _isatty on the stream's descriptor.
// Threading: any thread.
#include <io.h>

#include "platform/terminal.h"

namespace platform {

bool IsTerminal(int stream) {
  if (stream != 1 && stream != 2) {
    return false;
  }
  return _isatty(stream) != 0;
}

}  // namespace platform
