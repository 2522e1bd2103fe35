// The once-a-second status line of the simulation stand-in, from what it
// wrote and what it reads back through the client library.
//
// Threading: free functions without state.
#pragma once

#include <cstddef>
#include <cstdint>

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
