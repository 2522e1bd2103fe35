// POSIX last error: errno, and strerror_r in place of the system message table.
// Threading: errno is per thread; strerror_r is thread-safe.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/system_error.h"

namespace platform {
namespace {

// glibc offers the GNU strerror_r (returns a pointer), other libcs the XSI
// one (returns an int); these overloads accept either.
[[maybe_unused]] const char* PickMessage(int result, const char* buf) {
  return result == 0 ? buf : nullptr;
}
[[maybe_unused]] const char* PickMessage(const char* result, const char* /*buf*/) { return result; }

}  // namespace

int LastSystemError() { return errno; }

void SetLastSystemError(int code) { errno = code; }

int FileNotFoundCode() { return ENOENT; }

void SystemErrorText(int code, char* buf, int size) {
  if (buf == nullptr || size <= 0) {
    return;
  }
  char work[256] = {};
  const char* message = PickMessage(strerror_r(code, work, sizeof work), work);
  if (message == nullptr || message[0] == '\0' || std::strncmp(message, "Unknown error", 13) == 0) {
    std::snprintf(buf, static_cast<std::size_t>(size), "Unknown error (Code: %d)", code);
    return;
  }
  std::snprintf(buf, static_cast<std::size_t>(size), "%s", message);
}

}  // namespace platform
