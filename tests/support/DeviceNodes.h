// Device nodes for the tests that write through devices (POSIX only): the
// null device (1, 3), the full device (1, 7) and a link to the full one, made
// in a test's scratch folder. Making nodes needs the right to; a test skips
// when the system refuses.
//
// Threading: free functions without state.
#pragma once

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>

namespace testsupport {

struct DeviceNodes {
  std::filesystem::path null;      // takes every write
  std::filesystem::path full;      // every write fails with ENOSPC
  std::filesystem::path fullLink;  // a relative symbolic link to full
};

// Makes "null", "full" and "full-link" in dir. False, and no link made, when
// the system refuses a node.
inline bool MakeDeviceNodes(const std::filesystem::path& dir, DeviceNodes& nodes) {
  nodes.null = dir / "null";
  nodes.full = dir / "full";
  nodes.fullLink = dir / "full-link";
  if (mknod(nodes.null.string().c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
      mknod(nodes.full.string().c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
    return false;
  }
  std::filesystem::create_symlink("full", nodes.fullLink);
  return true;
}

}  // namespace testsupport
