// What the simulation stand-in reads back from the terrain record: when the
// grids were last published and the once-a-second status line.
//
// Orogrid gives no signal when it publishes the grids (two block copies once
// per sweep); the stand-in notices a publication by a change of the grids'
// content. A publication that writes exactly what was there before (the
// aircraft standing still) cannot be told apart and is not counted.
//
// Threading: reads memory other processes write concurrently; one thread.
#pragma once

#include <cstddef>
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

struct StatusValues {
  double elapsed;   // seconds since the flight started (real time)
  double latitude;  // what the stand-in wrote, degrees
  double longitude;
  double heading;          // degrees from north
  std::int32_t elevation;  // read back: metres under the aircraft
  std::int32_t cellId;
  std::int32_t pixelX;
  std::int32_t pixelY;
  std::int32_t subX;
  std::int32_t subY;
  double pixelsPerMetre;
  std::int32_t updateCount;
  double updatesPerSecond;  // how fast updateCount moved over the last line
  double gridAge;           // seconds; negative: no publication seen yet
};

// One status line, without a line feed, e.g.
// "t=12.0s 47.26000N 011.35000E hdg 247.1 | elev 1010 m cell 22360512
//  px (2236,512) sub (1,2) px/m 0.000123 | updates 1234 (8.3/s) grids 0.4 s ago"
void FormatStatusLine(char* buffer, std::size_t size, const StatusValues& values);
