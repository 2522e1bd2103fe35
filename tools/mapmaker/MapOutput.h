// The map maker's output file. A map never replaces anything but a plain
// file, and a failed or stopped run never leaves a truncated map where a
// good one was:
//  - a regular file, or nothing yet: the map is written to "<target>.part"
//    beside the target, flushed to the disk and renamed over the target
//    only when it is complete (an existing target's permissions are kept);
//  - a symbolic link is followed to its final target, so the temporary file
//    is written beside that target and renamed over it: the link stays;
//  - a character device or a FIFO (/dev/null, /dev/stdout, a pipe) is
//    written straight through, in file order; there is nothing to replace;
//  - a folder, a block device or a socket is refused.
// Every failure carries the system's reason in GetError().
//
// The map maker is built on Linux only (it needs GDAL), so this file uses
// POSIX calls directly.
//
// Threading: an object belongs to one thread. The test seam is process-wide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mapmaker {

class CMapOutput {
 public:
  CMapOutput() = default;
  ~CMapOutput() { Abandon(); }
  CMapOutput(const CMapOutput&) = delete;
  CMapOutput& operator=(const CMapOutput&) = delete;

  // Starts the output at path. False, with nothing created or changed and
  // "cannot write ...: <reason>" in GetError(), when path is refused or
  // cannot be written.
  bool Open(const char* path);
  // Writes every byte or fails with the system's reason.
  bool Write(const void* data, std::size_t size);
  // Puts the map in place: flushes to the disk, closes and renames over the
  // target (or closes a device or pipe). False with the reason when any step
  // fails; the temporary file is removed then and the target is unchanged.
  bool Commit();
  // Closes and removes the temporary file; the target stays as it was.
  void Abandon();

  bool IsOpen() const { return m_fd >= 0; }
  // True when the map replaces the target through "<target>.part".
  bool IsReplacing() const { return m_bReplacing; }
  // The file the map replaces in the end (links resolved).
  const std::string& TargetPath() const { return m_target; }
  // The temporary file; empty when written straight through.
  const std::string& PartPath() const { return m_part; }
  const char* GetError() const { return m_szError; }

 private:
  bool Fail(const char* what, const std::string& path, int code);

  int m_fd = -1;
  bool m_bReplacing = false;
  std::string m_target;
  std::string m_part;
  char m_szError[1024] = {};
};

// Test seam: once afterBytes more bytes have been written through any
// CMapOutput, every write fails with the system error code (ENOSPC, EIO...),
// as a full disk would. code 0 turns the seam off.
void SetMapOutputFailure(std::uint64_t afterBytes, int code);

}  // namespace mapmaker
