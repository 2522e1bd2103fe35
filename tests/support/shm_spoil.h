// Test harness: spoiling an existing shared segment the way a careless or
// hostile creator would, so the tests can see it refused.
//  - ShmLoosenModeForTest makes the segment writable by its group.
//  - ShmOpenToAllForTest makes it readable and writable by everyone (0666).
//  - ShmCutForTest cuts it short to `bytes` (ftruncate), as another process
//    of the same user could while it is mapped.
//  - ShmGiveAwayForTest hands it to another user (needs root).
// They return false when the change is not possible here (Windows, or not
// root): the caller skips that case. The name is a segment name as
// platform/shared_memory.h takes it, without a leading slash.
//
// Threading: any thread.
#pragma once

namespace testsupport {

bool ShmLoosenModeForTest(const char* name);
bool ShmOpenToAllForTest(const char* name);
bool ShmCutForTest(const char* name, unsigned bytes);
bool ShmGiveAwayForTest(const char* name);

}  // namespace testsupport
