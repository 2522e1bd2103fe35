// The map maker's output file: "<target>.part" and rename for plain files,
// links followed by hand (lstat/readlink) so the temporary file lands beside
// the final target, straight writes for character devices and FIFOs.
// Threading: see MapOutput.h.
#include "tools/mapmaker/MapOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/system_error.h"

namespace mapmaker {
namespace {

// Links followed before giving up, as the kernel does (ELOOP).
constexpr int kMaxLinks = 40;

std::uint64_t g_failAfterBytes = 0;
int g_failCode = 0;

enum class TargetKind { kAbsent, kRegular, kStream, kRefused };

// Follows path through symbolic links into *target. Returns the kind of the
// final target; for kRefused, *code is the reason.
TargetKind ResolveTarget(const char* path, std::string* target, struct stat* info, int* code) {
  *target = path;
  for (int hops = 0;; ++hops) {
    if (lstat(target->c_str(), info) != 0) {
      *code = errno;
      return errno == ENOENT ? TargetKind::kAbsent : TargetKind::kRefused;
    }
    if (!S_ISLNK(info->st_mode)) {
      break;
    }
    if (hops == kMaxLinks) {
      *code = ELOOP;
      return TargetKind::kRefused;
    }
    char link[4096];
    const ssize_t length = readlink(target->c_str(), link, sizeof link - 1);
    if (length < 0) {
      *code = errno;
      return TargetKind::kRefused;
    }
    link[length] = '\0';
    // A relative link is relative to the folder that holds it.
    const std::size_t slash = target->rfind('/');
    if (link[0] == '/' || slash == std::string::npos) {
      *target = link;
    } else {
      *target = target->substr(0, slash + 1) + link;
    }
  }
  if (S_ISREG(info->st_mode)) {
    return TargetKind::kRegular;
  }
  if (S_ISCHR(info->st_mode) || S_ISFIFO(info->st_mode)) {
    return TargetKind::kStream;
  }
  // A map written over a disk or partition would destroy it; a folder or a
  // socket cannot hold one.
  *code = S_ISDIR(info->st_mode) ? EISDIR : S_ISBLK(info->st_mode) ? ENOTBLK : ENXIO;
  return TargetKind::kRefused;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void SetMapOutputFailure(std::uint64_t afterBytes, int code) {
  g_failAfterBytes = afterBytes;
  g_failCode = code;
}

bool CMapOutput::Fail(const char* what, const std::string& path, int code) {
  char why[256];
  platform::SystemErrorText(code, why, sizeof why);
  std::snprintf(m_szError, sizeof m_szError, "%s %s: %s", what, path.c_str(), why);
  return false;
}

bool CMapOutput::Open(const char* path) {
  Abandon();
  m_szError[0] = '\0';
  m_bReplacing = false;
  m_part.clear();
  if (path == nullptr || *path == '\0') {
    return Fail("cannot write", "\"\"", ENOENT);
  }
  struct stat info {};
  int code = 0;
  const TargetKind kind = ResolveTarget(path, &m_target, &info, &code);
  if (kind == TargetKind::kRefused) {
    if (code == ENOTBLK) {
      std::snprintf(m_szError, sizeof m_szError,
                    "cannot write %s: it is a block device; maps go to files, pipes and "
                    "character devices only",
                    m_target.c_str());
      return false;
    }
    return Fail("cannot write", m_target, code);
  }
  if (kind == TargetKind::kStream) {
    // A rename would replace the device or pipe itself with a plain file.
    m_fd = open(m_target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    return m_fd >= 0 || Fail("cannot write", m_target, errno);
  }
  m_part = m_target + ".part";
  // A leftover from a run that was killed is replaced, never written
  // through: it may be a link somebody put there.
  if (unlink(m_part.c_str()) != 0 && errno != ENOENT) {
    const int error = errno;
    const std::string part = m_part;
    m_part.clear();
    return Fail("cannot write", part, error);
  }
  m_fd = open(m_part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (m_fd < 0) {
    const int error = errno;
    const std::string part = m_part;
    m_part.clear();
    return Fail("cannot write", part, error);
  }
  m_bReplacing = true;
  if (kind == TargetKind::kRegular && fchmod(m_fd, info.st_mode & 07777) != 0) {
    const int error = errno;
    Abandon();
    return Fail("cannot write", m_target + ".part", error);
  }
  return true;
}

bool CMapOutput::Write(const void* data, std::size_t size) {
  if (m_fd < 0) {
    return Fail("cannot write", m_target, EBADF);
  }
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    std::size_t chunk = size;
    if (g_failCode != 0) {
      if (g_failAfterBytes == 0) {
        return Fail("cannot write", IsReplacing() ? m_part : m_target, g_failCode);
      }
      chunk = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, g_failAfterBytes));
    }
    const ssize_t n = write(m_fd, bytes, chunk);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Fail("cannot write", IsReplacing() ? m_part : m_target, errno);
    }
    if (g_failCode != 0) {
      g_failAfterBytes -= static_cast<std::uint64_t>(n);
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool CMapOutput::Commit() {
  if (m_fd < 0) {
    return Fail("cannot write", m_target, EBADF);
  }
  if (!m_bReplacing) {
    const int fd = m_fd;
    m_fd = -1;
    return close(fd) == 0 || Fail("cannot write", m_target, errno);
  }
  // The data reaches the disk before the name does, so a crash right after
  // the rename cannot leave an empty or partial map under the old name.
  if (fsync(m_fd) != 0) {
    const int error = errno;
    Abandon();
    return Fail("cannot write", m_target + ".part", error);
  }
  const int fd = m_fd;
  m_fd = -1;
  if (close(fd) != 0) {
    const int error = errno;
    Abandon();
    return Fail("cannot write", m_target + ".part", error);
  }
  if (rename(m_part.c_str(), m_target.c_str()) != 0) {
    const int error = errno;
    const std::string part = m_part;
    Abandon();
    return Fail(("cannot replace " + m_target + " with").c_str(), part, error);
  }
  m_part.clear();
  m_bReplacing = false;
  // The rename itself is made durable; a folder that cannot be synced
  // (some network file systems) still holds the complete map.
  const int folder = open(FolderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return true;
}

void CMapOutput::Abandon() {
  if (m_fd >= 0) {
    close(m_fd);
    m_fd = -1;
  }
  if (!m_part.empty()) {
    unlink(m_part.c_str());
    m_part.clear();
  }
  m_bReplacing = false;
}

}  // namespace mapmaker
