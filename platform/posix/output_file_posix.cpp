// POSIX output files: symbolic links resolved by hand (lstat/readlink) so the
// temporary file lands beside the final target, O_EXCL temporary files,
// fsync and rename for regular files (then fsync of the folder), plain open
// and write for character devices and FIFOs; block devices are refused.
//
// Threading: see output_file.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/output_file.h"
#include "platform/output_file_internal.h"

namespace platform {
namespace detail {

bool OutputLineEndIsCrLf() { return false; }

}  // namespace detail

namespace {

// Links followed before giving up, as the kernel does (ELOOP).
constexpr int kMaxLinks = 40;

enum class TargetKind { kAbsent, kRegular, kStream, kBlockDevice, kRefused };

// Follows path through symbolic links into target (kPathMax + 1 bytes).
// Returns the kind of the final target; on kRefused, *error is the reason.
TargetKind ResolveTarget(const char* path, char* target, std::size_t size, struct stat* info,
                         int* error) {
  std::snprintf(target, size, "%s", path);
  for (int hops = 0;; ++hops) {
    if (lstat(target, info) != 0) {
      *error = errno;
      return errno == ENOENT ? TargetKind::kAbsent : TargetKind::kRefused;
    }
    if (!S_ISLNK(info->st_mode)) {
      break;
    }
    if (hops == kMaxLinks) {
      *error = ELOOP;
      return TargetKind::kRefused;
    }
    char link[COutputFile::kPathMax + 1];
    const ssize_t length = readlink(target, link, sizeof link - 1);
    if (length < 0) {
      *error = errno;
      return TargetKind::kRefused;
    }
    link[length] = '\0';
    // A relative link is relative to the folder holding it.
    char next[COutputFile::kPathMax + 1];
    const char* slash = std::strrchr(target, '/');
    int written = 0;
    if (link[0] == '/' || slash == nullptr) {
      written = std::snprintf(next, sizeof next, "%s", link);
    } else {
      written = std::snprintf(next, sizeof next, "%.*s/%s", static_cast<int>(slash - target),
                              target, link);
    }
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof next) {
      *error = ENAMETOOLONG;
      return TargetKind::kRefused;
    }
    std::snprintf(target, size, "%s", next);
  }
  if (S_ISREG(info->st_mode)) {
    return TargetKind::kRegular;
  }
  if (S_ISCHR(info->st_mode) || S_ISFIFO(info->st_mode)) {
    return TargetKind::kStream;
  }
  if (S_ISBLK(info->st_mode)) {
    return TargetKind::kBlockDevice;
  }
  *error = S_ISDIR(info->st_mode) ? EISDIR : ENXIO;
  return TargetKind::kRefused;
}

}  // namespace

bool COutputFile::Open(const char* path, Mode mode) {
  if (!BeginOpen(path, mode, ENOENT, ENAMETOOLONG)) {
    return false;
  }
  struct stat info {};
  int error = 0;
  const TargetKind kind = ResolveTarget(path, m_szTarget, sizeof m_szTarget, &info, &error);
  if (kind == TargetKind::kRefused) {
    return Fail(error);
  }
  if (kind == TargetKind::kBlockDevice) {
    // An output written over a disk or a partition would destroy it.
    return FailWithText(ENXIO,
                        "it is a block device; outputs go to files, pipes and "
                        "character devices only");
  }
  if (kind == TargetKind::kStream) {
    // Devices and FIFOs are written as they are: a rename would replace the
    // node itself with a plain file.
    const int fd = open(m_szTarget, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      return Fail(errno);
    }
    m_hFile = fd;
    return true;
  }
  if (kind == TargetKind::kRegular && access(m_szTarget, W_OK) != 0) {
    return Fail(errno);
  }
  // The temporary file is made with O_EXCL, so a name in use (another
  // writer, a leftover) is skipped rather than shared.
  for (unsigned attempt = 0;; ++attempt) {
    const int written = std::snprintf(m_szTemp, sizeof m_szTemp, "%s.%ld-%u.tmp", m_szTarget,
                                      static_cast<long>(getpid()), attempt);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof m_szTemp) {
      m_szTemp[0] = '\0';
      return Fail(ENAMETOOLONG);
    }
    const int fd = open(m_szTemp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      m_hFile = fd;
      break;
    }
    if (errno != EEXIST || attempt >= 100) {
      const int code = errno;
      m_szTemp[0] = '\0';
      return Fail(code);
    }
  }
  m_bReplacing = true;
  if (kind == TargetKind::kRegular &&
      fchmod(static_cast<int>(m_hFile), info.st_mode & 07777) != 0) {
    const int code = errno;
    CloseAndRemove();
    return Fail(code);
  }
  return true;
}

bool COutputFile::WriteOut(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(static_cast<int>(m_hFile), data, size);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Fail(errno);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool COutputFile::Commit() {
  if (!IsOpen()) {
    return m_bFailed ? false : Fail(EBADF);
  }
  if (m_bFailed || !Flush()) {
    CloseAndRemove();
    return false;
  }
  const int fd = static_cast<int>(m_hFile);
  if (m_bReplacing && fsync(fd) != 0) {
    Fail(errno);
    CloseAndRemove();
    return false;
  }
  m_hFile = kNoFile;
  if (close(fd) != 0) {
    Fail(errno);
    CloseAndRemove();
    return false;
  }
  if (m_bReplacing) {
    if (rename(m_szTemp, m_szTarget) != 0) {
      Fail(errno);
      CloseAndRemove();
      return false;
    }
    m_szTemp[0] = '\0';
    // The rename itself reaches the disk with the folder's entry.
    char folder[kPathMax + 1];
    const char* slash = std::strrchr(m_szTarget, '/');
    if (slash == nullptr) {
      std::snprintf(folder, sizeof folder, ".");
    } else {
      std::snprintf(folder, sizeof folder, "%.*s", static_cast<int>(slash - m_szTarget) + 1,
                    m_szTarget);
    }
    const int dirFd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      fsync(dirFd);
      close(dirFd);
    }
  }
  return true;
}

void COutputFile::Abandon() { CloseAndRemove(); }

void COutputFile::CloseAndRemove() {
  if (m_hFile != kNoFile) {
    close(static_cast<int>(m_hFile));
    m_hFile = kNoFile;
  }
  if (m_szTemp[0] != '\0') {
    unlink(m_szTemp);
    m_szTemp[0] = '\0';
  }
  m_nBuffered = 0;
}

}  // namespace platform
