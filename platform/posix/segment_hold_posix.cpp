// POSIX segment holds, two of them, so that neither removing nor replacing
// the segment's name lets a second holder in:
//  - by name: a socket bound in the abstract namespace to
//    "orogrid-hold/<device of /dev/shm>/<user>/<name>". Nobody can remove
//    such a name; it goes when the socket is closed, also by the process
//    ending. The device number keeps apart the segments of separate
//    /dev/shm mounts that share one network namespace.
//  - by object: an open-file-description write lock (F_OFD_SETLK) on byte 0
//    of the segment's object, on a descriptor opened for the hold alone
//    (for processes that share the object under separate namespaces).
// Both belong to a descriptor, not to the process, so two holds in one
// process conflict as two processes' do. They are independent of the flock
// locks shared_memory_posix.cpp keeps for liveness.
//
// Threading: any thread; the fault seam is for single-threaded tests.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/segment_hold.h"

namespace platform {
namespace {

constexpr int kMaxName = 42;

int g_faultCode = 0;

int LockFirstByte(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  int result;
  do {
    result = fcntl(fd, F_OFD_SETLK, &lock);
  } while (result != 0 && errno == EINTR);
  return result;
}

struct PosixHold {
  int lockFd;    // the object's lock
  int socketFd;  // the name's socket
};

// Binds a socket to the hold's abstract name: the socket, or -1 with errno
// (EADDRINUSE: another holder has the name).
int BindHoldName(const char* name) {
  struct stat shm {};
  const unsigned long long device = stat("/dev/shm", &shm) == 0 ? shm.st_dev : 0;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // sun_path[0] stays NUL: the abstract namespace.
  const int length =
      std::snprintf(address.sun_path + 1, sizeof address.sun_path - 1, "orogrid-hold/%llx/%u/%s",
                    device, static_cast<unsigned>(geteuid()), name);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof address.sun_path - 1) {
    errno = ENAMETOOLONG;
    return -1;
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return -1;
  }
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    const int code = errno;
    close(fd);
    errno = code;
    return -1;
  }
  return fd;
}

}  // namespace

HoldStatus TakeSegmentHold(const char* name, SegmentHold* hold) {
  *hold = kNoSegmentHold;
  if (g_faultCode != 0) {
    errno = g_faultCode;
    return HoldStatus::kFailed;
  }
  if (name == nullptr || name[0] == '\0' ||
      std::strlen(name) > static_cast<std::size_t>(kMaxName) || std::strchr(name, '/') != nullptr) {
    errno = EINVAL;
    return HoldStatus::kFailed;
  }
  char path[kMaxName + 2];
  std::snprintf(path, sizeof path, "/%s", name);
  // The caller holds the segment, so the name cannot meanwhile be removed as
  // a leftover and lead to another object.
  const int fd = shm_open(path, O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) {
    return HoldStatus::kFailed;
  }
  if (LockFirstByte(fd) != 0) {
    const int code = errno;
    close(fd);
    errno = code;
    return (code == EAGAIN || code == EACCES) ? HoldStatus::kHeldElsewhere : HoldStatus::kFailed;
  }
  const int socketFd = BindHoldName(name);
  if (socketFd < 0) {
    const int code = errno;
    close(fd);
    errno = code == EADDRINUSE ? EAGAIN : code;
    return code == EADDRINUSE ? HoldStatus::kHeldElsewhere : HoldStatus::kFailed;
  }
  auto* held = new (std::nothrow) PosixHold{fd, socketFd};
  if (held == nullptr) {
    close(socketFd);
    close(fd);
    errno = ENOMEM;
    return HoldStatus::kFailed;
  }
  *hold = reinterpret_cast<SegmentHold>(held);
  return HoldStatus::kAcquired;
}

void ReleaseSegmentHold(SegmentHold hold) {
  if (hold == kNoSegmentHold || hold == 0) {
    return;
  }
  auto* held = reinterpret_cast<PosixHold*>(hold);
  // Closing the only descriptors drops the lock and frees the name.
  close(held->socketFd);
  close(held->lockFd);
  delete held;
}

void SetSegmentHoldFault(int code) { g_faultCode = code; }

}  // namespace platform
