// Geometry and colours of the moving terrain map: where a position on the
// ground lands on the screen around the aircraft (heading-up or north-up,
// a range in kilometres to the outer ring), which published grid cell a
// screen pixel shows, and the colour bands of terrain relative to the
// aircraft's altitude.
//
// Distances use a local flat projection around the aircraft (kilometres
// east and north; a degree of latitude is kKmPerDegree, a degree of
// longitude that times the cosine of the aircraft's latitude), which is
// what a display of a few hundred kilometres needs.
//
// Threading: pure functions and values; any thread.
#pragma once

#include <cstdint>

#include "platform/device_context.h"

namespace mapview {

inline constexpr double kKmPerDegree = 111.195;  // on a sphere of radius 6371 km

enum class Orientation { kHeadingUp, kNorthUp };

// The view: the aircraft's position (degrees) and heading (degrees true),
// the screen pixel it is drawn at, and how many kilometres the radius of
// radiusPx pixels covers.
struct MapFrame {
  double latitude;
  double longitude;
  double heading;
  Orientation orientation;
  double rangeKm;   // > 0
  double centreX;   // screen pixels, x to the right
  double centreY;   // y downward
  double radiusPx;  // > 0
};

struct GroundOffset {
  double eastKm;
  double northKm;
};

struct ScreenPoint {
  double x;
  double y;
};

// Longitude difference b - a brought into [-180, 180).
double LongitudeDifference(double a, double b);

// Kilometres east and north of the aircraft of the position (degrees).
GroundOffset OffsetOf(const MapFrame& frame, double latitude, double longitude);
// Screen position of a ground offset, and back.
ScreenPoint ToScreen(const MapFrame& frame, const GroundOffset& offset);
GroundOffset FromScreen(const MapFrame& frame, double x, double y);
// Screen position of a ground position (degrees).
ScreenPoint ScreenOf(const MapFrame& frame, double latitude, double longitude);

// A grid of points each at the north-west corner of its cell, laid out in
// columns west to east and rows north to south with constant steps: the
// reference point (refColumn, refRow) at (refLatitude, refLongitude).
struct GridLattice {
  int columns;
  int rows;
  int refColumn;
  int refRow;
  double refLatitude;
  double refLongitude;
  double latStep;  // degrees per row (> 0, southward)
  double lonStep;  // degrees per column (> 0, eastward)
};

// The lattice of a grid whose steps are valid (finite and positive).
bool LatticeUsable(const GridLattice& lattice);

// The cell of the lattice holding the position (degrees): column and row,
// false when the position lies outside the grid.
bool CellOf(const GridLattice& lattice, double latitude, double longitude, int& column, int& row);

// Column and row (fractional; the cell is their floor) of the lattice as
// an affine function of the screen pixel: value = at0 + perX * x + perY * y.
struct AffineIndex {
  double column0;
  double columnPerX;
  double columnPerY;
  double row0;
  double rowPerX;
  double rowPerY;
};
AffineIndex ScreenToLattice(const MapFrame& frame, const GridLattice& lattice);

// Terrain relative to the aircraft, from the highest band down: the first
// row whose lower limit the terrain reaches (elevation - altitude >=
// fromMetres) gives the colour.
enum class Band { kAbove, kNear, kBelow, kFarBelow };
struct BandRow {
  Band band;
  double fromMetres;  // terrain's height above the aircraft, lower limit
  platform::Colour colour;
  const char* name;
};
inline constexpr double kNearMetres = 150.0;   // amber to this far below
inline constexpr double kBelowMetres = 600.0;  // green to this far below
extern const BandRow kBands[4];

// The band of terrain at elevation (metres) under an aircraft at altitude
// (metres above sea level, finite).
Band BandOf(double elevation, double altitude);
// The colour a grid point is drawn in: its band's colour, or plain
// elevation tints when the altitude is unknown (NaN).
platform::Colour TerrainColour(int elevation, double altitude);

}  // namespace mapview
