// The elevation override table: hand-entered elevations for 60 pixels of
// the terrain map, which replace the map's values when the fine grid is
// refined. Keys are cell identifiers (column x 10000 + row); the values are
// whole metres. The table is constant and built into the program.
//
// Threading: constant data and pure functions; any thread.
#pragma once

#include <cstdint>

namespace terrain {

// One main-table entry: the nine sub-point elevations as a picture of the
// pixel in reading order, picture[row][column]: row 0 north, column 0 west.
struct ElevationOverride {
  std::int32_t cellId;
  std::int32_t picture[3][3];
};

// One flat entry: a single elevation for all nine sub-points.
struct FlatOverride {
  std::int32_t cellId;
  std::int32_t elevation;
};

inline constexpr int kElevationOverrideCount = 53;
inline constexpr int kFlatOverrideCount = 7;

// The tables themselves, sorted by identifier.
extern const ElevationOverride kElevationOverrides[kElevationOverrideCount];
extern const FlatOverride kFlatOverrides[kFlatOverrideCount];

// The entry for a cell, or null when the cell is not in that table. No
// allocation; a binary search over the sorted table.
const ElevationOverride* FindElevationOverride(std::int32_t cellId);
const FlatOverride* FindFlatOverride(std::int32_t cellId);

}  // namespace terrain
