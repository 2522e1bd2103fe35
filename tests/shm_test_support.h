// Helpers shared by the shared-memory tests and their child program: a bare
// segment of any size, and the child program's path and commands.
//
// Threading: single-threaded test code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/module_path.h"
#include "shm/BaseSharedMemory.h"
#include "tests/support/TestSupport.h"

// A segment the test names and sizes itself, to play a foreign or hostile
// creator next to CTrnShm.
class RawSegment : public BaseSharedMemory {
 public:
  RawSegment(const char* name, std::uint32_t size) {
    SetName(name);
    m_size = size;
  }
  unsigned char* Bytes() const { return static_cast<unsigned char*>(GetView()); }
};

// Child program commands (argv[1]); the segment name is argv[2].
inline constexpr char kChildHold[] = "hold";                 // attach, wait for cycleFlagA, leave
inline constexpr char kChildAttachLeave[] = "attach-leave";  // exit code = count seen, or 200+
inline constexpr char kChildPeek[] = "peek";                 // latitude 12.5 -> longitude 33.25
inline constexpr char kChildStorm[] = "storm";               // argv[3] rounds; exit = failures
inline constexpr char kChildRegister[] = "register";  // exit = rows registered by two objects
inline constexpr char kChildServe[] = "serve";        // hold the record's companion until killed

// Path of the child program next to the running one.
inline bool ChildProgramPath(char* path, int size) {
  if (!platform::ModuleFileName(path, size)) {
    return false;
  }
  char* slash = std::strrchr(path, platform::PathSeparator());
  if (slash == nullptr) {
    return false;
  }
  const bool exe = std::strlen(path) > 4 && std::strcmp(path + std::strlen(path) - 4, ".exe") == 0;
  const int room = size - static_cast<int>(slash + 1 - path);
  return std::snprintf(slash + 1, static_cast<std::size_t>(room), "shm_test_child%s",
                       exe ? ".exe" : "") < room;
}

// Polls with a deadline (tests/support/TestSupport.h).
using testsupport::WaitFor;
