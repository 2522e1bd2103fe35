// Platform service: the last system error and its message text.
//
// Contract every platform provides:
//  - LastSystemError() returns the calling thread's last error code of the
//    most recent failed system call (GetLastError on Win32, errno on POSIX).
//  - SystemErrorText() writes the system's message for a code into buf
//    (always terminated, at most size - 1 characters, trailing line breaks
//    removed). When the system has no text for the code it writes
//    "Unknown error (Code: N)", never an empty text.
//  - SetLastSystemError() lets tests and seams make a failure look real.
// Core code uses these instead of errno or GetLastError.
//
// Threading: any thread; each thread has its own last error.
#pragma once

namespace platform {

int LastSystemError();
void SetLastSystemError(int code);
void SystemErrorText(int code, char* buf, int size);

// The code a platform uses for "no such file or object" (ERROR_FILE_NOT_FOUND
// on Win32, ENOENT on POSIX), for tests and for seams that fake a missing map.
int FileNotFoundCode();

}  // namespace platform
