// CTrnSim: a simulation's writer of the terrain record, behind the C
// interface of orogrid_sim.h. It claims the simulation companion
// "<record>.Sim" first (one simulation per record), then attaches to the
// record with the attach protocol of CTrnShm (creating it when allowed), and
// writes every change as one frame of the companion's sequence, into the
// companion and the record's own fields alike, followed by a heartbeat.
//
// Threading: one thread per object (on Win32 the one that opened it must
// close it: the companion's hold belongs to that thread). The record and
// the companion are read concurrently by other processes.
#pragma once

#include <cstdint>

#include "shm/CTrnShm.h"
#include "shm/CTrnSimShm.h"

namespace client {

class CTrnSim {
 public:
  CTrnSim();
  // Close(false) when still open.
  ~CTrnSim();
  CTrnSim(const CTrnSim&) = delete;
  CTrnSim& operator=(const CTrnSim&) = delete;

  // Claims the record `name` (validated by the caller) as its simulation;
  // an OROGRID_ code, the reason in LastError(). Once per object.
  int Open(const char* name, bool mayCreate);
  bool CreatedRecord() const { return m_createdRecord; }
  // One frame: position and heading (degrees), altitude (metres, NaN:
  // unknown); refuses non-finite and out-of-range values, writing nothing.
  int Write(double latitude, double longitude, double heading, double altitudeMetres);
  // One frame with the new simulationState (any value).
  int SetState(std::int32_t state);
  // Heartbeat only.
  int Beat();
  // Writes the lost state unless keepState, then gives the companion and
  // the record back. Later calls do nothing.
  void Close(bool keepState);

  const char* LastError() const { return m_szLastError; }
  // Sets the last-error text and returns code.
  int Fail(int code, const char* format, ...);
  void ClearError() { m_szLastError[0] = '\0'; }

 private:
  // The current frame into the companion and the record, as one frame.
  void PutFrame();
  int NotOpen();

  CTrnSimShm* m_pCompanion;
  CTrnShm* m_pRecord;
  TrnShmData* m_pData;
  TrnSimFrame m_frame;
  bool m_createdRecord;
  char m_szLastError[256];
};

}  // namespace client
