// CTrnReader: looks at the terrain record as a reader only. Unlike CTrnShm
// it never creates the segment, never initialises it and never counts
// itself in userCount; it writes nothing into the record.
//
// Threading: one thread; the record is written by other processes meanwhile.
#pragma once

#include "shm/BaseSharedMemory.h"
#include "shm/TrnInterfaceShm.h"

class CTrnReader : public BaseSharedMemory {
 public:
  explicit CTrnReader(const char* name);
  // Unmaps and closes the segment when Attach succeeded.
  ~CTrnReader();
  CTrnReader(const CTrnReader&) = delete;
  CTrnReader& operator=(const CTrnReader&) = delete;

  // Opens and maps the existing segment and checks its interface version
  // text. False with a one-line reason in why when the segment is absent,
  // cannot be mapped or carries another version.
  bool Attach(char* why, int whySize);
  // The record, or null before a successful Attach.
  const TrnShmData* GetData() const { return m_pData; }

 private:
  const TrnShmData* m_pData;
  bool m_mapped;
};
