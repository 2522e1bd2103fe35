// BaseSharedMemory: a named, system-backed shared-memory segment. It creates
// the named mapping, opens it by name, maps a view of the whole of it, and
// later unmaps and closes it. It knows nothing about what the segment holds;
// failures are left in the inherited error report (GetErrorText).
//
// Calling order: the derived class sets the name (SetName) and m_size; then
// either OpenAndMap (attach to an existing segment) or CreateAndMap (make it,
// or open it when another process made it first: see CreatedNew); use
// GetView; Close once when done. Creating does not attach by itself: the
// working handle and the view always come from the Open and MapView that
// follow. The handle a successful Create obtains is kept by the process (not
// by the object) until the process ends, as a Win32 creation handle is, so a
// segment this process created outlives the object's Close. (On POSIX it is
// released early when this process closes its working handle on the same
// segment, so that the last user's Close can remove the name.)
//
// The destructor does not unmap or close: the derived class decides.
//
// An existing segment that is smaller than m_size, owned by another user, or
// writable by group or others (POSIX) is refused: Open or MapView returns
// false, Refused() is true, the report says why, and nothing of it is read or
// written.
//
// Threading: an object is used from one thread; several processes and
// objects may map the same segment at once. What they do with the bytes is
// the derived class's business.
#pragma once

#include <cstdint>

#include "errors/KT_ErrorReport.h"
#include "platform/shared_memory.h"

inline constexpr char kBaseSharedMemoryHeaderRevision[] =
    "%Z% BaseSharedMemory KT2082:01 BaseSharedMemory $Revision: 1.7 $ ";
extern const char g_szBaseSharedMemoryRevision[];

class BaseSharedMemory : public KT_ErrorReport {
 public:
  static constexpr int kNameSize = 43;  // at most 42 characters and the NUL

  // Empty report; registers the component with configuration control the
  // first time any segment object is made in the process.
  BaseSharedMemory();
  // Releases the error report only; the view stays mapped, the handle open.
  ~BaseSharedMemory();
  BaseSharedMemory(const BaseSharedMemory&) = delete;
  BaseSharedMemory& operator=(const BaseSharedMemory&) = delete;

  // Creates the named segment of `size` bytes (zero-filled by the system),
  // or finds that a live one of that name exists already: both return true,
  // CreatedNew() tells which. Report on failure:
  // "Creating Shared memory (Code: %d)".
  bool Create(std::uint32_t size);
  // Opens the segment by name into m_hMapping, with m_access (read-write
  // unless the derived class reads only).
  // Report on failure: "OpenFileMapping (Code: %d)" (a missing segment gives
  // the platform's file-not-found code), or the refusal text.
  bool Open();
  // Maps the whole segment into m_pView, read-only when m_viewAccess says
  // so (a write through such a view faults). Report on failure:
  // "MapViewOfFile (Code: %d)", or the refusal text when the segment is
  // smaller than m_size (the view is then unmapped again).
  bool MapView();
  // Create(m_size), Open, MapView; stops at the first failure.
  bool CreateAndMap();
  // Open, MapView; stops at the first failure.
  bool OpenAndMap();
  // Unmaps the view and closes m_hMapping; reports nothing. The view and
  // handle are forgotten, so a second Close does nothing.
  void Close();
  // Writes `count` zero bytes from the start of the view. False, writing
  // nothing, when count is 0, nothing is mapped, or count exceeds the mapped
  // size.
  bool ZeroFill(std::uint32_t count);
  // True once another process has cut the segment short under the view
  // (see platform/shared_memory.h: the view then reads zeros and takes
  // writes that go nowhere); stop using it. False when nothing is mapped.
  // lookAtSize false: only a fault already caught counts (no system call).
  bool Cut(bool lookAtSize = true) const {
    return m_pView != nullptr &&
           platform::ShmViewCut(lookAtSize ? m_hMapping : platform::kNoShmHandle, m_pView);
  }
  // Start of the mapped view, or null before a successful MapView.
  void* GetView() const { return m_pView; }

  // True when the last successful Create made the segment; false when a live
  // segment of that name existed (the caller must not initialise it then).
  bool CreatedNew() const { return m_created; }
  // True when the last successful Open joined a segment that a process uses
  // without the holding rules (a plain shm_open and mmap on POSIX): it may
  // lack what a creator writes into it. Never on Win32.
  bool Adopted() const { return m_adopted; }
  // True when the last Open or MapView refused an existing segment (too
  // small, foreign owner, writable by others); creating it afresh would not
  // help.
  bool Refused() const { return m_refused; }
  // System code of the last failed call (errno on POSIX, GetLastError on
  // Win32), 0 when none failed; for refusals the platform's access code.
  int LastErrorCode() const { return m_lastError; }
  // Bytes usable through the view (at least m_size once mapped), 0 when not
  // mapped.
  std::uint32_t MappedSize() const { return m_mappedSize; }
  const char* GetName() const { return m_name; }

 protected:
  // Copies at most 42 characters of `name` into m_name.
  void SetName(const char* name);

  char m_name[kNameSize];
  platform::ShmHandle m_hMapping;
  unsigned char* m_pView;
  std::uint32_t m_size;
  // How Open takes the segment and MapView maps it; a reader sets
  // kReadOnly (both), a reader that changes one counter only the view.
  platform::ShmAccess m_access;
  platform::ShmAccess m_viewAccess;

 private:
  void SetCodeText(const char* format, int code);

  bool m_created;
  bool m_adopted;
  bool m_refused;
  int m_lastError;
  std::uint32_t m_mappedSize;
};

// Hands BaseSharedMemory's two revision strings to configuration control in
// the section "Base Shared Memory Class ", once per process; later calls do
// nothing. The first segment object's constructor calls it.
void RegisterBaseSharedMemory();
