// POSIX segment spoilers: the segment's file under the shm_open namespace is
// opened and its mode or owner changed (see tests/support/shm_spoil.h).
// Threading: any thread.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/shm_spoil.h"

namespace testsupport {
namespace {

bool WithSegment(const char* name, bool (*change)(int fd)) {
  const std::string path = std::string("/") + name;
  const int fd = shm_open(path.c_str(), O_RDWR, 0);
  if (fd < 0) {
    return false;
  }
  const bool ok = change(fd);
  close(fd);
  return ok;
}

}  // namespace

bool ShmLoosenModeForTest(const char* name) {
  return WithSegment(name, [](int fd) { return fchmod(fd, S_IRUSR | S_IWUSR | S_IWGRP) == 0; });
}

bool ShmOpenToAllForTest(const char* name) {
  return WithSegment(name, [](int fd) {
    return fchmod(fd, S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH) == 0;
  });
}

bool ShmCutForTest(const char* name, unsigned bytes) {
  const std::string path = std::string("/") + name;
  const int fd = shm_open(path.c_str(), O_RDWR, 0);
  if (fd < 0) {
    return false;
  }
  const bool ok = ftruncate(fd, static_cast<off_t>(bytes)) == 0;
  close(fd);
  return ok;
}

bool ShmGiveAwayForTest(const char* name) {
  if (geteuid() != 0) {
    return false;
  }
  return WithSegment(name, [](int fd) { return fchown(fd, 65534, 65534) == 0; });
}

}  // namespace testsupport
