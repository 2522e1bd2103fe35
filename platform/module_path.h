// Platform service: the full path of the running program's file.
//
// Contract: ModuleFileName() writes the absolute path of the executable
// (GetModuleFileNameA on Win32; /proc/self/exe on Linux) into buf, always
// terminated, and returns true; it returns false with buf empty when the
// path cannot be found or does not fit. Paths use the platform's separator,
// reported by PathSeparator(). ExecutableSuffix() is the ending the
// platform gives program files (".exe" on Win32, "" on POSIX).
// InstallFolder() writes the folder the program's data files lie under,
// ending in the separator: on POSIX the folder of the executable; on Win32
// the fixed install root "C:\Program Files\Norvalia\". False with buf
// empty when it cannot be found or does not fit.
//
// Threading: any thread.
#pragma once

namespace platform {

bool ModuleFileName(char* buf, int size);
char PathSeparator();
const char* ExecutableSuffix();
bool InstallFolder(char* buf, int size);

}  // namespace platform
