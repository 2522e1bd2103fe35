// Win32 process ids: GetCurrentProcessId, and a handle on the other process
// whose signalled state says whether it has ended.
// Threading: any thread.
#include <windows.h>

#include "platform/process_id.h"

namespace platform {

std::uint32_t ThisProcessId() { return static_cast<std::uint32_t>(GetCurrentProcessId()); }

bool IsProcessAlive(std::uint32_t processId) {
  if (processId == 0) {
    return false;
  }
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId));
  if (process == nullptr) {
    // A process we may not open exists all the same.
    return GetLastError() == ERROR_ACCESS_DENIED;
  }
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

}  // namespace platform
