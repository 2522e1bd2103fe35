// When the grids of a terrain record were last published, told by a change
// of the grids' content.
//
// The server gives no signal when it publishes the grids (two block copies
// once per sweep); a change of the grids' content is noticed instead. A
// publication that writes exactly what was there before (the aircraft
// standing still) cannot be told apart and is not counted.
//
// Threading: reads memory other processes write concurrently; one thread.
#pragma once

#include <cstdint>

#include "shm/TrnInterfaceShm.h"

// 64-bit FNV-1a of the bytes of both grids, read through volatile.
std::uint64_t GridFingerprint(const TrnShmData& record);

class CPublicationWatch {
 public:
  // Takes the grids' fingerprint at time `now` (seconds, any steady clock).
  // The first call only sets the reference; afterwards a different
  // fingerprint counts as a publication at `now`.
  void Observe(std::uint64_t fingerprint, double now);
  bool SeenPublication() const { return m_publications > 0; }
  int Publications() const { return m_publications; }
  // Seconds since the last publication seen; negative when none was seen.
  double AgeAt(double now) const { return m_publications > 0 ? now - m_lastChange : -1.0; }

 private:
  bool m_started = false;
  std::uint64_t m_fingerprint = 0;
  double m_lastChange = 0.0;
  int m_publications = 0;
};
