// Win32 output files: the target is opened once to learn what it is (a disk
// file, a character device such as NUL or CON, a pipe); disk files are
// written to a CREATE_NEW temporary file, flushed and moved over the target
// with MoveFileExA; devices and pipes are written through their handle.
// Symbolic links are followed with GetFinalPathNameByHandleA.
//
// Threading: see output_file.h.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/output_file.h"
#include "platform/output_file_internal.h"

namespace platform {
namespace detail {

bool OutputLineEndIsCrLf() { return true; }

}  // namespace detail

namespace {

HANDLE AsHandle(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

bool COutputFile::Open(const char* path, Mode mode) {
  if (!BeginOpen(path, mode, ERROR_FILE_NOT_FOUND, ERROR_FILENAME_EXCED_RANGE)) {
    return false;
  }
  std::snprintf(m_szTarget, sizeof m_szTarget, "%s", path);
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return FailWithText(ERROR_DIRECTORY, "Is a directory");
  }
  // Opening an existing target neither truncates nor changes it.
  HANDLE existing = ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (existing == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if (code != ERROR_FILE_NOT_FOUND) {
      return Fail(static_cast<int>(code));
    }
  } else if (::GetFileType(existing) != FILE_TYPE_DISK) {
    // Devices and pipes are written as they are.
    m_hFile = reinterpret_cast<std::intptr_t>(existing);
    return true;
  } else {
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      // A link: the temporary file goes beside the file it leads to.
      char finalPath[kPathMax + 1];
      const DWORD length = ::GetFinalPathNameByHandleA(existing, finalPath, sizeof finalPath, 0);
      if (length > 0 && length < sizeof finalPath) {
        std::snprintf(m_szTarget, sizeof m_szTarget, "%s", finalPath);
      }
    }
    ::CloseHandle(existing);
  }
  for (unsigned attempt = 0;; ++attempt) {
    const int written = std::snprintf(m_szTemp, sizeof m_szTemp, "%s.%lu-%u.tmp", m_szTarget,
                                      static_cast<unsigned long>(::GetCurrentProcessId()), attempt);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof m_szTemp) {
      m_szTemp[0] = '\0';
      return Fail(ERROR_FILENAME_EXCED_RANGE);
    }
    HANDLE temp = ::CreateFileA(m_szTemp, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (temp != INVALID_HANDLE_VALUE) {
      m_hFile = reinterpret_cast<std::intptr_t>(temp);
      break;
    }
    const DWORD code = ::GetLastError();
    if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt >= 100) {
      m_szTemp[0] = '\0';
      return Fail(static_cast<int>(code));
    }
  }
  m_bReplacing = true;
  return true;
}

bool COutputFile::WriteOut(const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(AsHandle(m_hFile), data, chunk, &written, nullptr)) {
      return Fail(static_cast<int>(::GetLastError()));
    }
    if (written == 0) {
      return Fail(ERROR_WRITE_FAULT);
    }
    data += written;
    size -= written;
  }
  return true;
}

bool COutputFile::Commit() {
  if (!IsOpen()) {
    return m_bFailed ? false : Fail(ERROR_INVALID_HANDLE);
  }
  if (m_bFailed || !Flush()) {
    CloseAndRemove();
    return false;
  }
  HANDLE file = AsHandle(m_hFile);
  if (m_bReplacing && !::FlushFileBuffers(file)) {
    Fail(static_cast<int>(::GetLastError()));
    CloseAndRemove();
    return false;
  }
  m_hFile = kNoFile;
  if (!::CloseHandle(file)) {
    Fail(static_cast<int>(::GetLastError()));
    CloseAndRemove();
    return false;
  }
  if (m_bReplacing) {
    if (!::MoveFileExA(m_szTemp, m_szTarget, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      Fail(static_cast<int>(::GetLastError()));
      CloseAndRemove();
      return false;
    }
    m_szTemp[0] = '\0';
  }
  return true;
}

void COutputFile::Abandon() { CloseAndRemove(); }

void COutputFile::CloseAndRemove() {
  if (m_hFile != kNoFile) {
    ::CloseHandle(AsHandle(m_hFile));
    m_hFile = kNoFile;
  }
  if (m_szTemp[0] != '\0') {
    ::DeleteFileA(m_szTemp);
    m_szTemp[0] = '\0';
  }
  m_nBuffered = 0;
}

}  // namespace platform
