// Win32 segment spoilers: a named mapping has neither a mode nor an owner the
// server checks, so neither spoiling is possible (see tests/support/shm_spoil.h).
// Threading: any thread.
#include "tests/support/shm_spoil.h"

namespace testsupport {

bool ShmLoosenModeForTest(const char* /*name*/) { return false; }

bool ShmOpenToAllForTest(const char* /*name*/) { return false; }

// A mapping's size is fixed when it is made.
bool ShmCutForTest(const char* /*name*/, unsigned /*bytes*/) { return false; }

bool ShmGiveAwayForTest(const char* /*name*/) { return false; }

}  // namespace testsupport
