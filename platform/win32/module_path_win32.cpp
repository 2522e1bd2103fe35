// Win32 program path through GetModuleFileNameA.
// Threading: any thread.
#include <windows.h>

#include "platform/module_path.h"

namespace platform {

bool ModuleFileName(char* buf, int size) {
  if (buf == nullptr || size <= 0) {
    return false;
  }
  const DWORD n = GetModuleFileNameA(nullptr, buf, static_cast<DWORD>(size));
  if (n == 0 || n >= static_cast<DWORD>(size)) {
    buf[0] = '\0';
    return false;
  }
  return true;
}

char PathSeparator() { return '\\'; }

const char* ExecutableSuffix() { return ".exe"; }

}  // namespace platform
