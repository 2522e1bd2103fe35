// POSIX segment holds: an open-file-description write lock (F_OFD_SETLK) on
// byte 0 of the segment's object, on a descriptor opened for the hold
// alone. Such locks belong to the open file description, not the process,
// so two holds in one process conflict as two processes' do, and the lock
// goes when the descriptor is closed, also by the process ending. They are
// independent of the flock locks shared_memory_posix.cpp keeps for liveness.
//
// Threading: any thread; the fault seam is for single-threaded tests.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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
  if (LockFirstByte(fd) == 0) {
    *hold = fd;
    return HoldStatus::kAcquired;
  }
  const int code = errno;
  close(fd);
  errno = code;
  return (code == EAGAIN || code == EACCES) ? HoldStatus::kHeldElsewhere : HoldStatus::kFailed;
}

void ReleaseSegmentHold(SegmentHold hold) {
  if (hold != kNoSegmentHold && hold >= 0) {
    // Closing the only descriptor of the description drops its lock.
    close(static_cast<int>(hold));
  }
}

void SetSegmentHoldFault(int code) { g_faultCode = code; }

}  // namespace platform
