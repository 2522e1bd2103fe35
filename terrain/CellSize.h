// Size of a terrain-map pixel (a cell) on the ground, in metres, at a
// latitude: east-west width, north-south height, and length along a heading.
// The series are those of the ellipsoid's metres per degree; each term is
// evaluated in the order written, in 64-bit floats, the degree scale last.
//
// Threading: pure functions; any thread.
#pragma once

namespace terrain {

inline constexpr double kDegreesToRadians = 0.017453292519943295;

// East-west width in metres of a pixel spanning degPerPixelLon degrees of
// longitude, at latitude degrees.
double PixelWidthMetres(double latitude, double degPerPixelLon);
// North-south height in metres of a pixel spanning degPerPixelLat degrees
// of latitude, at latitude degrees.
double PixelHeightMetres(double latitude, double degPerPixelLat);
// Length in metres of a pixel of the given height and width (metres) along
// heading (degrees from north): sqrt((width |sin|)^2 + (height |cos|)^2).
double PixelSizeAlongHeading(double heading, double height, double width);

}  // namespace terrain
