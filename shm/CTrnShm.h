// CTrnShm: attaches a process to the terrain shared memory (by default
// "TrnShmSpace", 692672 bytes, the record TrnShmData). The constructor opens
// the segment if another process made it, checks that both sides were built
// against the same interface version text, or creates and initialises the
// record when nobody has made it yet (a record that a writer made without
// this protocol, with no version text, and still maps is adopted in place:
// counted and stamped, its values kept); it counts the process in the record's
// userCount. The destructor takes the process out of the count again and,
// when it was the last user, unmaps the segment.
//
// Use: construct; if IsConnected(), keep GetData() and use it; otherwise keep
// the object, use no pointer and read GetErrorText() for the reason. Delete
// the object when done (not before the last use of the pointer).
//
// Counting: userCount is changed only with atomic read-modify-write, so any
// number of processes may attach and leave at the same moment. A process
// that was not the last to leave keeps its view mapped until it ends; the
// last one (the count found at 1 or less) sets it to 0 and closes.
//
// Threading: all of an object runs on its owner's thread; the record itself
// is shared with other processes without locks (see TrnInterfaceShm.h).
#pragma once

#include <cstdint>

#include "shm/BaseSharedMemory.h"
#include "shm/TrnInterfaceShm.h"

extern const char g_szCTrnShmRevision[];

class CTrnShm : public BaseSharedMemory {
 public:
  // Caption of every report this class sets itself.
  static constexpr const char* kCaption = "CTrnShm::CTrnShm";
  static constexpr const char* kMismatchText =
      "Shared Memory Version Mismatch\nPlease rebuild software";
  static constexpr int kReasonSize = 256;

  // Runs the attach protocol on the segment `name` (at most 42 characters;
  // tests and tools pass their own). Never fails outwardly: read IsConnected.
  // With mayCreate false a missing record is not made (Missing()).
  explicit CTrnShm(const char* name = trn::kMappingName, bool mayCreate = true);
  // Runs the detach protocol (only when attached with a matching version).
  ~CTrnShm();
  CTrnShm(const CTrnShm&) = delete;
  CTrnShm& operator=(const CTrnShm&) = delete;

  // Mapped, and the version text matched (or this object created the record).
  bool IsConnected() const { return m_connected && m_versionOk; }
  // True when the record's first 64 bytes, read as text up to their first
  // NUL, equal InterfaceVersionText. False when nothing is mapped.
  bool CheckVersion() const;
  // The record, or null unless IsConnected().
  TrnShmData* GetData() const { return IsConnected() ? m_pData : nullptr; }
  // A view is mapped (even when the version differs).
  bool IsMapped() const { return m_connected; }
  // This object created and initialised the record (first user).
  bool CreatedRecord() const { return m_createdRecord; }
  // Not connected because no live record of that name exists.
  bool Missing() const { return m_missing; }
  // Why IsConnected() is false, without the report's caption (the refusal,
  // the version mismatch or the system's text); empty when connected. For
  // the owner to show its user.
  const char* Reason() const { return m_szReason; }

 private:
  bool AttachExisting();
  bool WaitForInitialisedRecord() const;
  void InitialiseRecord();
  // Counts this process, then writes the version text, first byte last.
  void StampVersion();

  bool m_connected;
  bool m_versionOk;
  TrnShmData* m_pData;
  bool m_createdRecord;
  bool m_missing;
  char m_szReason[kReasonSize];
};

// Atomic helpers on a mapped record's userCount, for tools that watch it.
std::int32_t TrnUserCount(const TrnShmData* data);
