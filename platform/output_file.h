// Platform service: writing a program's output file so that a failed write
// never leaves a truncated file where a good one was, and never replaces
// something that is not a plain file.
//
// Contract every platform provides:
//  - Open(path) looks at what path names, following symbolic links to their
//    final target:
//      a regular file, or nothing yet: the output goes to a new temporary
//        file beside the target ("<target>.<pid>-<n>.tmp"), which Commit
//        flushes to the disk and renames over the target; an existing file
//        keeps its permissions, a read-only one is refused;
//      a character device or a pipe (FIFO on POSIX; NUL, CON or a named
//        pipe on Win32): the output is written straight through to it
//        (opening a FIFO waits for its reader);
//      a folder, a block device (an output written over a disk would
//        destroy it), a socket, or anything the system will not open for
//        writing: refused.
//  - Write(data, size) buffers and writes every byte or fails. The first
//    failure sticks: later writes do nothing, Commit fails and removes the
//    temporary file, and ErrorCode()/ErrorText() keep that first failure.
//  - Commit() writes what is buffered, closes the file and checks the close
//    (and, for a replacement, flushes the file to the disk, renames it over
//    the target and flushes the folder's entry where the system can). Only
//    then is the output in place.
//  - Abandon(), and the destructor of an output that was not committed,
//    close and remove the temporary file; the target stays as it was.
//  - ErrorCode() is the system's error code of the failure (errno on POSIX,
//    GetLastError on Win32) and ErrorText() the system's message for it, in
//    a fixed buffer, never empty after a failure.
//  - In text mode a line feed becomes the platform's line end (CR LF on
//    Win32); binary mode writes the bytes as they are.
//  - SetOutputWriteFailure(code, afterBytes) is the test seam: while code
//    is not 0, once afterBytes more bytes have been given to Write (through
//    any COutputFile), every Write fails with that code, as a full disk
//    would; the bytes before that point are written.
//
// Threading: an object is used from one thread; the seam is process-wide
// and meant for single-threaded tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

class COutputFile {
 public:
  static constexpr int kPathMax = 1024;       // longest path accepted, in bytes
  static constexpr int kErrorTextSize = 256;  // ErrorText() room, NUL included
  static constexpr int kBufferSize = 8192;    // bytes gathered before a system write
  enum class Mode { kBinary, kText };

  COutputFile() = default;
  ~COutputFile();
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;

  // Starts an output at path. False, with nothing created or changed and the
  // reason in ErrorText(), when path is refused or cannot be written. An
  // output still open is abandoned first.
  bool Open(const char* path, Mode mode = Mode::kBinary);
  bool Write(const void* data, std::size_t size);
  bool WriteText(const char* text);
  // Puts the output in place. False when any step failed (ErrorText() says
  // why); the target then is as it was before Open (or, written straight
  // through, holds whatever reached it).
  bool Commit();
  void Abandon();

  bool IsOpen() const { return m_hFile != kNoFile; }
  // True when the output replaces the target through a temporary file.
  bool IsReplacing() const { return m_bReplacing; }
  int ErrorCode() const { return m_nError; }
  const char* ErrorText() const { return m_szError; }

 private:
  static constexpr std::intptr_t kNoFile = -1;

  bool Fail(int code);
  bool FailWithText(int code, const char* text);
  bool Flush();
  bool Gather(const char* bytes, std::size_t size);
  bool WriteOut(const char* data, std::size_t size);
  void CloseAndRemove();
  void ClearError();
  // The opening both platforms share: forgets any earlier output and refuses
  // an empty or over-long path with the platform's own codes.
  bool BeginOpen(const char* path, Mode mode, int missingCode, int tooLongCode);

  std::intptr_t m_hFile = kNoFile;  // file descriptor on POSIX, HANDLE on Win32
  Mode m_mode = Mode::kBinary;
  bool m_bReplacing = false;
  bool m_bFailed = false;
  int m_nError = 0;
  std::size_t m_nBuffered = 0;
  char m_szTarget[kPathMax + 1] = {};
  char m_szTemp[kPathMax + 32] = {};
  char m_szError[kErrorTextSize] = {};
  char m_buffer[kBufferSize] = {};
};

void SetOutputWriteFailure(int code, std::uint64_t afterBytes = 0);

}  // namespace platform
