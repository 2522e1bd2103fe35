// Win32 named segments: file mappings backed by the system paging file. The
// system counts handles and views itself, so a mapping lives exactly while
// some process holds it and its name goes with the last handle.
//
// Threading: any thread. The fault seam is meant for single-threaded tests.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/shared_memory.h"

namespace platform {
namespace {

ShmFault g_fault = ShmFault::kNone;
int g_faultCode = 0;
char g_nameFault[64] = {};
int g_nameFaultCode = 0;

bool NameFaulted(const char* name) {
  if (g_nameFault[0] != '\0' && name != nullptr && std::strcmp(name, g_nameFault) == 0) {
    SetLastError(static_cast<DWORD>(g_nameFaultCode));
    return true;
  }
  return false;
}

bool Faulted(ShmFault kind) {
  if (g_fault != ShmFault::kNone && g_fault == kind) {
    SetLastError(static_cast<DWORD>(g_faultCode));
    return true;
  }
  return false;
}

HANDLE AsHandle(ShmHandle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

ShmStatus ShmCreate(const char* name, std::uint32_t size, bool* created) {
  *created = false;
  if (Faulted(ShmFault::kCreate) || NameFaulted(name)) {
    return ShmStatus::kFailed;
  }
  // The handle is the process's creation handle: never closed, so the
  // mapping lives at least as long as this process.
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      static_cast<DWORD>(size), name);
  if (mapping == nullptr) {
    return ShmStatus::kFailed;
  }
  // An existing mapping is handed back as it is; it must be opened, not
  // initialised again.
  *created = GetLastError() != ERROR_ALREADY_EXISTS;
  return ShmStatus::kOk;
}

ShmStatus ShmOpen(const char* name, ShmHandle* handle, bool* adopted, ShmAccess access) {
  if (adopted != nullptr) {
    *adopted = false;
  }
  *handle = kNoShmHandle;
  if (Faulted(ShmFault::kOpen) || NameFaulted(name)) {
    return ShmStatus::kFailed;
  }
  const DWORD rights = access == ShmAccess::kReadOnly ? FILE_MAP_READ : FILE_MAP_ALL_ACCESS;
  HANDLE mapping = OpenFileMappingA(rights, FALSE, name);
  if (mapping == nullptr) {
    return ShmStatus::kFailed;
  }
  if (g_fault == ShmFault::kForeignOwner) {
    CloseHandle(mapping);
    SetLastError(ERROR_ACCESS_DENIED);
    return ShmStatus::kForeignOwner;
  }
  *handle = reinterpret_cast<ShmHandle>(mapping);
  return ShmStatus::kOk;
}

ShmStatus ShmMapView(ShmHandle handle, std::uint32_t minSize, void** view, std::size_t* size,
                     ShmAccess access) {
  *view = nullptr;
  *size = 0;
  if (Faulted(ShmFault::kMap)) {
    return ShmStatus::kFailed;
  }
  const DWORD rights = access == ShmAccess::kReadOnly ? FILE_MAP_READ : FILE_MAP_ALL_ACCESS;
  void* mapped = MapViewOfFile(AsHandle(handle), rights, 0, 0, 0);
  if (mapped == nullptr) {
    return ShmStatus::kFailed;
  }
  // A view covers whole pages of the mapping; a mapping made smaller by
  // another process shows here as a shorter region.
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(mapped, &info, sizeof info) == 0) {
    const DWORD code = GetLastError();
    UnmapViewOfFile(mapped);
    SetLastError(code);
    return ShmStatus::kFailed;
  }
  if (info.RegionSize < minSize) {
    UnmapViewOfFile(mapped);
    SetLastError(ERROR_ACCESS_DENIED);
    return ShmStatus::kTooSmall;
  }
  *view = mapped;
  *size = info.RegionSize;
  return ShmStatus::kOk;
}

ShmStatus ShmMapWindow(ShmHandle handle, std::uint32_t offset, std::uint32_t length, void** at,
                       void** window, std::size_t* windowSize) {
  *at = nullptr;
  *window = nullptr;
  *windowSize = 0;
  if (Faulted(ShmFault::kMap)) {
    return ShmStatus::kFailed;
  }
  // A view starts on the allocation granularity (64 KiB).
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  const DWORD granularity = system.dwAllocationGranularity;
  const DWORD start = offset / granularity * granularity;
  const SIZE_T bytes = static_cast<SIZE_T>(offset - start) + length;
  void* mapped = MapViewOfFile(AsHandle(handle), FILE_MAP_ALL_ACCESS, 0, start, bytes);
  if (mapped == nullptr) {
    // A view past the mapping's end is refused by the system.
    return GetLastError() == ERROR_ACCESS_DENIED ? ShmStatus::kTooSmall : ShmStatus::kFailed;
  }
  *window = mapped;
  *windowSize = bytes;
  *at = static_cast<unsigned char*>(mapped) + (offset - start);
  return ShmStatus::kOk;
}

void ShmUnmapView(void* view, std::size_t /*size*/) {
  if (view != nullptr) {
    UnmapViewOfFile(view);
  }
}

bool ShmViewCut(ShmHandle /*handle*/, const void* /*view*/) {
  // A mapping's size is fixed when it is made: no view is ever cut.
  return false;
}

void ShmCloseHandle(ShmHandle handle) {
  if (handle != kNoShmHandle && handle != 0) {
    CloseHandle(AsHandle(handle));
  }
}

bool ShmExists(const char* name) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
  if (mapping == nullptr) {
    return false;
  }
  CloseHandle(mapping);
  return true;
}

void ShmRemoveIfStale(const char* /*name*/) {}

void ShmRemoveName(const char* /*name*/) {}

std::int32_t ShmAtomicLoad(const std::int32_t* counter) {
  // A load, not a compare-exchange: the counter may lie in a read-only view,
  // where any locked instruction faults (it always writes).
  return std::atomic_ref<std::int32_t>(*const_cast<std::int32_t*>(counter))
      .load(std::memory_order_seq_cst);
}

std::int32_t ShmAtomicIncrement(std::int32_t* counter) {
  return static_cast<std::int32_t>(InterlockedIncrement(reinterpret_cast<volatile LONG*>(counter)));
}

std::int32_t ShmAtomicDecrementToZero(std::int32_t* counter) {
  // A compare-exchange loop rather than InterlockedDecrement: the count must
  // never be seen below zero, not even for a moment.
  auto* target = reinterpret_cast<volatile LONG*>(counter);
  LONG found = InterlockedCompareExchange(target, 0, 0);
  for (;;) {
    const LONG next = found > 1 ? found - 1 : 0;
    const LONG seen = InterlockedCompareExchange(target, next, found);
    if (seen == found) {
      return static_cast<std::int32_t>(found);
    }
    found = seen;
  }
}

int ShmAccessDeniedCode() { return ERROR_ACCESS_DENIED; }

void SetShmFault(ShmFault fault, int code) {
  g_fault = fault;
  g_faultCode = code;
}

void SetShmNameFault(const char* name, int code) {
  std::snprintf(g_nameFault, sizeof g_nameFault, "%s", name == nullptr ? "" : name);
  g_nameFaultCode = code;
}

}  // namespace platform
