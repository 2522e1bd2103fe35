// Win32: QueryPerformanceCounter and OpenProcess/GetExitCodeProcess.
// Threading: any thread.
#include <windows.h>

#include "client/ClientClock.h"

namespace client {

std::int64_t MonotonicNs() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  // Split so that the multiplication cannot overflow.
  const long long seconds = counter.QuadPart / frequency.QuadPart;
  const long long rest = counter.QuadPart % frequency.QuadPart;
  return seconds * 1000000000LL + rest * 1000000000LL / frequency.QuadPart;
}

bool ProcessAlive(std::uint32_t processId) {
  if (processId == 0) {
    return false;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) {
    // Access denied: it exists but is not ours to look at.
    return GetLastError() == ERROR_ACCESS_DENIED;
  }
  DWORD code = 0;
  const BOOL got = GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return got == 0 || code == STILL_ACTIVE;
}

}  // namespace client
