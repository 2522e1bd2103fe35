// Win32 program path through GetModuleFileNameA.
// Threading: any thread.
#include <windows.h>

#include <cstring>

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

bool InstallFolder(char* buf, int size) {
  static constexpr char kInstallRoot[] = "C:\\Program Files\\Norvalia\\";
  if (buf == nullptr || size <= 0) {
    return false;
  }
  if (static_cast<std::size_t>(size) < sizeof kInstallRoot) {
    buf[0] = '\0';
    return false;
  }
  std::memcpy(buf, kInstallRoot, sizeof kInstallRoot);
  return true;
}

}  // namespace platform
