// Win32 last error: GetLastError, and FormatMessageA for its text.
// Threading: the last-error value is per thread.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/system_error.h"

namespace platform {

int LastSystemError() { return static_cast<int>(GetLastError()); }

void SetLastSystemError(int code) { SetLastError(static_cast<DWORD>(code)); }

int FileNotFoundCode() { return ERROR_FILE_NOT_FOUND; }

void SystemErrorText(int code, char* buf, int size) {
  if (buf == nullptr || size <= 0) {
    return;
  }
  char* message = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPSTR>(&message), 0, nullptr);
  if (length == 0 || message == nullptr) {
    std::snprintf(buf, static_cast<std::size_t>(size), "Unknown error (Code: %d)", code);
    if (message != nullptr) {
      LocalFree(message);
    }
    return;
  }
  std::snprintf(buf, static_cast<std::size_t>(size), "%s", message);
  LocalFree(message);
  // The system's texts end with CR LF; a status line has no room for them.
  std::size_t n = std::strlen(buf);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == ' ')) {
    buf[--n] = '\0';
  }
}

}  // namespace platform
