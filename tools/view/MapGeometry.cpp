// Geometry and colours of the moving terrain map (see MapGeometry.h).
// Threading: pure functions; any thread.
#include "tools/view/MapGeometry.h"

#include <cmath>

#include "tools/view/Picture.h"

extern const char g_szMapGeometryRevision[];
const char g_szMapGeometryRevision[] = "%Z% OrogridTools KT4102:05 MapGeometry $Revision: 1.0 $";

namespace mapview {

namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr platform::Colour Rgb(int r, int g, int b) {
  return static_cast<platform::Colour>(r) | (static_cast<platform::Colour>(g) << 8) |
         (static_cast<platform::Colour>(b) << 16);
}

// Screen turn: heading-up turns the map so the heading points up.
double TurnRadians(const MapFrame& frame) {
  if (frame.orientation == Orientation::kNorthUp || !std::isfinite(frame.heading)) {
    return 0.0;
  }
  return frame.heading * kPi / 180.0;
}

double PixelsPerKm(const MapFrame& frame) { return frame.radiusPx / frame.rangeKm; }

double KmPerDegreeLongitude(double latitude) {
  return kKmPerDegree * std::cos(latitude * kPi / 180.0);
}

}  // namespace

const BandRow kBands[4] = {
    {Band::kAbove, 0.0, Rgb(230, 30, 30), "above"},
    {Band::kNear, -kNearMetres, Rgb(250, 170, 20), "near"},
    {Band::kBelow, -kBelowMetres, Rgb(40, 170, 60), "below"},
    {Band::kFarBelow, -1e300, Rgb(0, 0, 0), "far below"},
};

double LongitudeDifference(double a, double b) {
  double d = std::fmod(b - a, 360.0);
  if (d < -180.0) {
    d += 360.0;
  } else if (d >= 180.0) {
    d -= 360.0;
  }
  return d;
}

GroundOffset OffsetOf(const MapFrame& frame, double latitude, double longitude) {
  return GroundOffset{
      LongitudeDifference(frame.longitude, longitude) * KmPerDegreeLongitude(frame.latitude),
      (latitude - frame.latitude) * kKmPerDegree};
}

ScreenPoint ToScreen(const MapFrame& frame, const GroundOffset& offset) {
  const double turn = TurnRadians(frame);
  const double c = std::cos(turn);
  const double s = std::sin(turn);
  const double right = offset.eastKm * c - offset.northKm * s;
  const double up = offset.eastKm * s + offset.northKm * c;
  const double scale = PixelsPerKm(frame);
  return ScreenPoint{frame.centreX + right * scale, frame.centreY - up * scale};
}

GroundOffset FromScreen(const MapFrame& frame, double x, double y) {
  const double turn = TurnRadians(frame);
  const double c = std::cos(turn);
  const double s = std::sin(turn);
  const double scale = PixelsPerKm(frame);
  const double right = (x - frame.centreX) / scale;
  const double up = (frame.centreY - y) / scale;
  return GroundOffset{right * c + up * s, -right * s + up * c};
}

ScreenPoint ScreenOf(const MapFrame& frame, double latitude, double longitude) {
  return ToScreen(frame, OffsetOf(frame, latitude, longitude));
}

bool LatticeUsable(const GridLattice& lattice) {
  return lattice.columns > 0 && lattice.rows > 0 && std::isfinite(lattice.latStep) &&
         std::isfinite(lattice.lonStep) && lattice.latStep > 0.0 && lattice.lonStep > 0.0 &&
         std::isfinite(lattice.refLatitude) && std::isfinite(lattice.refLongitude);
}

bool CellOf(const GridLattice& lattice, double latitude, double longitude, int& column, int& row) {
  const double c =
      lattice.refColumn + LongitudeDifference(lattice.refLongitude, longitude) / lattice.lonStep;
  const double r = lattice.refRow + (lattice.refLatitude - latitude) / lattice.latStep;
  if (!(c >= 0.0 && r >= 0.0 && c < lattice.columns && r < lattice.rows)) {
    return false;
  }
  column = static_cast<int>(c);
  row = static_cast<int>(r);
  return true;
}

AffineIndex ScreenToLattice(const MapFrame& frame, const GridLattice& lattice) {
  // Position as a function of the screen pixel is affine in the local
  // projection, so three pixels give the whole mapping.
  const auto at = [&](double x, double y, double& column, double& row) {
    const GroundOffset g = FromScreen(frame, x, y);
    const double dLon = g.eastKm / KmPerDegreeLongitude(frame.latitude);
    const double dLat = g.northKm / kKmPerDegree;
    column = lattice.refColumn +
             (LongitudeDifference(lattice.refLongitude, frame.longitude) + dLon) / lattice.lonStep;
    row = lattice.refRow + (lattice.refLatitude - (frame.latitude + dLat)) / lattice.latStep;
  };
  AffineIndex a{};
  double c1 = 0.0;
  double r1 = 0.0;
  double c2 = 0.0;
  double r2 = 0.0;
  at(0.0, 0.0, a.column0, a.row0);
  at(1.0, 0.0, c1, r1);
  at(0.0, 1.0, c2, r2);
  a.columnPerX = c1 - a.column0;
  a.rowPerX = r1 - a.row0;
  a.columnPerY = c2 - a.column0;
  a.rowPerY = r2 - a.row0;
  return a;
}

Band BandOf(double elevation, double altitude) {
  const double above = elevation - altitude;
  for (const BandRow& row : kBands) {
    if (above >= row.fromMetres) {
      return row.band;
    }
  }
  return Band::kFarBelow;
}

platform::Colour TerrainColour(int elevation, double altitude) {
  if (!std::isfinite(altitude)) {
    return picture::ReliefColour(elevation);
  }
  return kBands[static_cast<int>(BandOf(elevation, altitude))].colour;
}

}  // namespace mapview
