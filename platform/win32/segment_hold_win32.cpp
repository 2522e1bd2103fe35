// Win32 segment holds: a named mutex "<segment name>.Server". A mutex
// belongs to a thread and may be taken again by its owner, so the holds
// this process has taken are also kept in a small table: a second take of
// the same name in this process is refused as a second process's would be.
//
// Threading: a hold is taken and released on one thread; the table is
// locked. The fault seam is for single-threaded tests.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/segment_hold.h"

namespace platform {
namespace {

constexpr int kMaxHolds = 16;
constexpr char kSuffix[] = ".Server";

struct Held {
  HANDLE mutex;
  char name[64];
};

SRWLOCK g_tableLock = SRWLOCK_INIT;
Held g_held[kMaxHolds] = {};
int g_faultCode = 0;

class TableLock {
 public:
  TableLock() { AcquireSRWLockExclusive(&g_tableLock); }
  ~TableLock() { ReleaseSRWLockExclusive(&g_tableLock); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;
};

}  // namespace

HoldStatus TakeSegmentHold(const char* name, SegmentHold* hold) {
  *hold = kNoSegmentHold;
  if (g_faultCode != 0) {
    SetLastError(static_cast<DWORD>(g_faultCode));
    return HoldStatus::kFailed;
  }
  char mutexName[64];
  if (name == nullptr || name[0] == '\0' ||
      std::snprintf(mutexName, sizeof mutexName, "%s%s", name, kSuffix) >=
          static_cast<int>(sizeof mutexName)) {
    SetLastError(ERROR_INVALID_NAME);
    return HoldStatus::kFailed;
  }
  TableLock lock;
  int free = -1;
  for (int i = 0; i < kMaxHolds; ++i) {
    if (g_held[i].mutex == nullptr) {
      free = free < 0 ? i : free;
    } else if (std::strcmp(g_held[i].name, mutexName) == 0) {
      return HoldStatus::kHeldElsewhere;
    }
  }
  if (free < 0) {
    SetLastError(ERROR_TOO_MANY_POSTS);
    return HoldStatus::kFailed;
  }
  HANDLE mutex = CreateMutexA(nullptr, FALSE, mutexName);
  if (mutex == nullptr) {
    return HoldStatus::kFailed;
  }
  const DWORD wait = WaitForSingleObject(mutex, 0);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
    g_held[free].mutex = mutex;
    std::memcpy(g_held[free].name, mutexName, sizeof mutexName);
    *hold = reinterpret_cast<SegmentHold>(mutex);
    return HoldStatus::kAcquired;
  }
  const DWORD code = wait == WAIT_TIMEOUT ? ERROR_ACCESS_DENIED : GetLastError();
  CloseHandle(mutex);
  SetLastError(code);
  return wait == WAIT_TIMEOUT ? HoldStatus::kHeldElsewhere : HoldStatus::kFailed;
}

void ReleaseSegmentHold(SegmentHold hold) {
  if (hold == kNoSegmentHold || hold == 0) {
    return;
  }
  HANDLE mutex = reinterpret_cast<HANDLE>(hold);
  TableLock lock;
  for (Held& held : g_held) {
    if (held.mutex == mutex) {
      held.mutex = nullptr;
      held.name[0] = '\0';
    }
  }
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

void SetSegmentHoldFault(int code) { g_faultCode = code; }

}  // namespace platform
