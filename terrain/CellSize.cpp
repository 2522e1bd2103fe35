// Pixel sizes in metres from the map's degree scales.
// Threading: pure functions; any thread.
#include "terrain/CellSize.h"

#include <cmath>

namespace terrain {

double PixelWidthMetres(double latitude, double degPerPixelLon) {
  const double phi = latitude * kDegreesToRadians;
  double metresPerDegree = 111412.84 * std::cos(phi);
  metresPerDegree = metresPerDegree - 93.5 * std::cos(3.0 * phi);
  metresPerDegree = metresPerDegree + 0.118 * std::cos(5.0 * phi);
  return metresPerDegree * degPerPixelLon;
}

double PixelHeightMetres(double latitude, double degPerPixelLat) {
  const double phi = latitude * kDegreesToRadians;
  double metresPerDegree = 111132.954;
  metresPerDegree = metresPerDegree - 559.822 * std::cos(2.0 * phi);
  metresPerDegree = metresPerDegree + 1.175 * std::cos(4.0 * phi);
  metresPerDegree = metresPerDegree + 0.0023 * std::cos(6.0 * phi);
  return metresPerDegree * degPerPixelLat;
}

double PixelSizeAlongHeading(double heading, double height, double width) {
  const double theta = heading * kDegreesToRadians;
  const double a = width * std::fabs(std::sin(theta));
  const double b = height * std::fabs(std::cos(theta));
  return std::sqrt(a * a + b * b);
}

}  // namespace terrain
