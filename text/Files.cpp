// TextFunctions, path helpers.
// Threading: stateless; any thread.
#include "text/Files.h"

#include <cstring>

#include "platform/module_path.h"

const char g_szFilesRevision[] = "%Z% TextFunctions KT3102:03 Files $Revision: 1.2 $";

char* CutAtLastBackslash(char* path) {
  if (path == nullptr) return nullptr;
  if (char* last = std::strrchr(path, '\\'); last != nullptr) *last = '\0';
  return path;
}

char* CutModulePathToFolder(char* path, const char* suffix, char separator) {
  if (path == nullptr) return nullptr;
  char* anchor = nullptr;
  if (suffix == nullptr || suffix[0] == '\0') {
    anchor = path + std::strlen(path);
  } else {
    anchor = std::strstr(path, suffix);
  }
  if (anchor == nullptr) return path;
  for (char* p = anchor - 1; p > path; --p) {
    if (*p == separator) {
      *p = '\0';
      break;
    }
  }
  return path;
}

bool GetModuleDirectory(char* buf, int size) {
  if (buf == nullptr || size < 1) return false;
  if (!platform::ModuleFileName(buf, size)) {
    buf[0] = '\0';
    return false;
  }
  CutModulePathToFolder(buf, platform::ExecutableSuffix(), platform::PathSeparator());
  return true;
}
