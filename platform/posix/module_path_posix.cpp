// POSIX program path through /proc/self/exe.
// Threading: any thread.
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "platform/module_path.h"

namespace platform {

bool ModuleFileName(char* buf, int size) {
  if (buf == nullptr || size <= 0) {
    return false;
  }
  const ssize_t n = readlink("/proc/self/exe", buf, static_cast<std::size_t>(size));
  if (n <= 0 || n >= size) {
    buf[0] = '\0';
    return false;
  }
  buf[n] = '\0';
  return true;
}

char PathSeparator() { return '/'; }

const char* ExecutableSuffix() { return ""; }

bool InstallFolder(char* buf, int size) {
  if (!ModuleFileName(buf, size)) {
    return false;
  }
  char* slash = std::strrchr(buf, '/');
  if (slash == nullptr) {
    buf[0] = '\0';
    return false;
  }
  slash[1] = '\0';  // the executable's own name goes; the separator stays
  return true;
}

}  // namespace platform
