// Platform service: named shared-memory segments that live like Win32 named
// file mappings, and atomic operations on 32-bit counters inside them.
//
// Contract every platform provides:
//  - A segment is a named block of bytes shared by every process that maps
//    the same name. It exists while some live process holds it (a handle
//    from ShmCreate or ShmOpen that is not yet closed, or a process that has
//    not ended since it created it) and is gone once none does; a segment
//    left behind by processes that all died is absent to every call here.
//  - ShmCreate makes a new segment of `size` zero bytes, or finds a live one
//    of that name (created = false then, and nothing of it is changed). The
//    creation can never replace or clobber a segment another process has
//    just made. The handle it obtains stays with the process until the
//    process ends (POSIX: or until this process closes a working handle on
//    the same segment); callers get no handle from it.
//  - ShmOpen opens an existing live segment, read-write or read-only (a
//    reader's: nothing mapped through it can write). Missing: kFailed
//    with FileNotFoundCode(). A segment owned by another user or writable by
//    group or others (POSIX) is refused. A segment that a process made or
//    mapped without this service's holding rules (POSIX: a plain shm_open
//    and mmap) is live while that process maps it: it is joined in place,
//    never removed and made anew beside it, and *adopted (may be null) tells
//    the opener that nobody following these rules held it (so it may lack
//    what a creator would have written). Win32: the system counts every
//    user alike; *adopted is always false.
//  - ShmMapView maps the whole segment, writable or read-only (POSIX
//    PROT_READ, Win32 FILE_MAP_READ); one smaller than minSize bytes is
//    refused (and unmapped again), so nothing is ever touched past its end.
//    A read-only handle gives read-only views only.
//  - ShmMapWindow maps a writable window of a few bytes inside the segment
//    (the window may be larger: it starts on the system's mapping
//    boundary), so a reader can change one counter and nothing else.
//  - A segment another process cuts short (POSIX: ftruncate) never ends
//    this process: a view whose pages past the new end are touched, or
//    whose object ShmViewCut finds shorter than the view, is replaced in
//    place by private zero pages of the same rights, so the read or write
//    in progress runs to its end (reading zeros, writing nowhere), and
//    ShmViewCut is true from then on: the caller reports it and stops using
//    the view. POSIX catches the fault with a SIGBUS handler installed at
//    the first mapping (faults outside every view, and signals another
//    process sends, go to the handler that was there before, or end the
//    program as they would have). Win32: a mapping's size is fixed when it
//    is made, so no view is ever cut.
//  - ShmUnmapView and ShmCloseHandle release; closing the last handle of a
//    segment removes its name, unless a process still maps it without a
//    handle of this service (see ShmOpen).
//  - Failures set LastSystemError() (errno on POSIX, GetLastError on Win32);
//    refusals set ShmAccessDeniedCode().
//  - The counter operations are atomic read-modify-writes visible to every
//    process mapping the same bytes (full barriers).
// Test seams: SetShmFault makes one kind of call fail with a chosen code;
// SetShmNameFault makes one name fail to be created or opened.
//
// Threading: any thread; the fault setting is process-wide and meant for
// single-threaded tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// An open segment: a file descriptor on POSIX, a HANDLE on Win32.
using ShmHandle = std::intptr_t;
inline constexpr ShmHandle kNoShmHandle = -1;

enum class ShmAccess { kReadWrite, kReadOnly };

enum class ShmStatus {
  kOk,
  kFailed,        // the system call failed; LastSystemError() has the code
  kTooSmall,      // refused: the segment is smaller than needed
  kForeignOwner,  // refused: owned by another user
  kOpenToOthers,  // refused: writable by group or others
};

// Name: at most 42 characters, no path separators.
ShmStatus ShmCreate(const char* name, std::uint32_t size, bool* created);
ShmStatus ShmOpen(const char* name, ShmHandle* handle, bool* adopted = nullptr,
                  ShmAccess access = ShmAccess::kReadWrite);
// On success *view is the start of the whole segment and *size its usable
// length in bytes (>= minSize).
ShmStatus ShmMapView(ShmHandle handle, std::uint32_t minSize, void** view, std::size_t* size,
                     ShmAccess access = ShmAccess::kReadWrite);
// Maps bytes [offset, offset + length) of a segment open read-write, writable;
// *at is the byte at offset, *window and *windowSize what ShmUnmapView takes.
// The segment must be at least offset + length bytes long (kTooSmall else).
ShmStatus ShmMapWindow(ShmHandle handle, std::uint32_t offset, std::uint32_t length, void** at,
                       void** window, std::size_t* windowSize);
void ShmUnmapView(void* view, std::size_t size);
void ShmCloseHandle(ShmHandle handle);
// True once the segment has been cut short under `view` (a view or window
// from this service): looks at the object's size through handle (may be
// kNoShmHandle: only a fault already caught counts). Cheap (one fstat), for
// each call or tick.
bool ShmViewCut(ShmHandle handle, const void* view);

// Whether a live segment of that name exists right now (opens nothing that
// stays open). A leftover of dead processes counts as absent; one a process
// maps without holding it (see ShmOpen) as live.
bool ShmExists(const char* name);
// POSIX: removes the name when no live process holds or maps the segment
// (cleans up after killed processes); Win32: nothing to do, the system
// removes it.
void ShmRemoveIfStale(const char* name);
// POSIX: removes the name now, held or not (current holders keep their
// views; the next attacher makes a new segment). For tests and tools that
// clean up after themselves. Win32: nothing.
void ShmRemoveName(const char* name);

// Counters inside shared segments.
std::int32_t ShmAtomicLoad(const std::int32_t* counter);
// Adds 1; returns the new value.
std::int32_t ShmAtomicIncrement(std::int32_t* counter);
// Subtracts 1 but never goes below 0; returns the value found before.
std::int32_t ShmAtomicDecrementToZero(std::int32_t* counter);

// The code refusals leave (EACCES, ERROR_ACCESS_DENIED).
int ShmAccessDeniedCode();

// Test seam: while set, every call of that kind fails as if the system had
// returned `code` (kForeignOwner makes ShmOpen see a foreign owner).
enum class ShmFault { kNone, kCreate, kOpen, kMap, kForeignOwner };
void SetShmFault(ShmFault fault, int code);
// Test seam: while name is not null, ShmCreate and ShmOpen of exactly that
// name fail with `code` (one segment unavailable, the others as usual).
void SetShmNameFault(const char* name, int code);

}  // namespace platform
