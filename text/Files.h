// TextFunctions, paths: the folder part of a Windows-style path and the
// folder of the running program's own file.
//
// Threading: stateless; any thread.
#pragma once

extern const char g_szFilesRevision[];

// Cuts path at its last backslash (character 92), leaving the folder part;
// a path without one stays whole. Returns path (null for null).
char* CutAtLastBackslash(char* path);

// Fills buf (size bytes) with the folder of the running program's file,
// without a trailing separator: C:\Folder\Sub for C:\Folder\Sub\Prog.exe on
// Windows, /opt/orogrid/bin for /opt/orogrid/bin/orogrid on POSIX. Returns
// false with buf empty when the program's path cannot be had or does not fit
// in size bytes; true otherwise (buf keeps the whole path when no folder is
// found, as the folder rule below says).
bool GetModuleDirectory(char* buf, int size);

// The folder rule of GetModuleDirectory on a path it already holds: find the
// first suffix (".exe"; an empty suffix stands for the end of the path) and
// store a terminator over the nearest separator before it, never examining
// the path's first character. Without the suffix or a separator the path
// stays whole. Returns path.
char* CutModulePathToFolder(char* path, const char* suffix, char separator);
