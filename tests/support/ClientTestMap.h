// The synthetic terrain the client tests publish and check against: a world
// map of 12 pixels per degree whose elevation is a formula of the pixel, and
// fine sub-points that differ from sub-point to sub-point, laid out in the
// record exactly as the server lays out its grids (points on the north-west
// corner of their pixel or sub-cell, [column][row], fine cell (cx, cy)
// refining coarse point (67 + cx, 67 + cy)).
//
// Threading: pure functions, and a filler of a record the caller owns.
#pragma once

#include <cmath>
#include <cstdint>

#include "shm/TrnInterfaceShm.h"

namespace clienttest {

inline constexpr int kPixelsPerDegree = 12;
inline constexpr int kMapWidth = 360 * kPixelsPerDegree;
inline constexpr int kMapHeight = 180 * kPixelsPerDegree;
inline constexpr double kDegPerPixel = 1.0 / kPixelsPerDegree;

// The map's own elevation of pixel (x, y), metres.
inline int MapElevation(int x, int y) { return (x * 7 + y * 13) % 4000 - 300; }
// The fine grid's value of sub-point (s, t) of pixel (x, y).
inline int FineElevation(int x, int y, int s, int t) { return MapElevation(x, y) + 10 * s + t; }

inline int PixelColumn(double longitude) {
  return static_cast<int>(std::floor((longitude + 180.0) * kPixelsPerDegree));
}
inline int PixelRow(double latitude) {
  return static_cast<int>(std::floor((90.0 - latitude) * kPixelsPerDegree));
}

// The map pixel a window position (x, y) past an edge stands for, as the
// server takes it: columns wrap, rows past a pole come down the other side
// of the globe, 180 degrees of longitude away. True over a pole.
inline bool GlobePixel(int& x, int& y) {
  const bool over = y < 0 || y >= kMapHeight;
  if (y < 0) {
    y = -1 - y;
  } else if (y >= kMapHeight) {
    y = 2 * kMapHeight - 1 - y;
  }
  x = ((over ? x + kMapWidth / 2 : x) % kMapWidth + kMapWidth) % kMapWidth;
  return over;
}

// Publishes grids around the aircraft at (latitude, longitude). With
// `mosaic`, the columns from 75 on are taken one pixel further south, as
// when the aircraft moved during the server's sweep.
inline void FillRecord(TrnShmData& record, double latitude, double longitude, bool mosaic) {
  const int x0 = PixelColumn(longitude);
  const int y0 = PixelRow(latitude);
  for (int i = 0; i < trn::kCoarseSize; ++i) {
    const int shift = mosaic && i >= trn::kCoarseCentre ? 1 : 0;
    for (int j = 0; j < trn::kCoarseSize; ++j) {
      int x = x0 + i - trn::kCoarseCentre;
      int y = y0 + j - trn::kCoarseCentre + shift;
      GlobePixel(x, y);
      TrnGridPoint& p = record.coarseGrid[i][j];
      p.cellId = x * 10000 + y;
      p.elevation = MapElevation(x, y);
      p.latitude = 90.0 - y * kDegPerPixel;
      p.longitude = x * kDegPerPixel - 180.0;
    }
  }
  const double step = kDegPerPixel / 3.0;
  for (int cx = 0; cx < trn::kFineSize; ++cx) {
    for (int cy = 0; cy < trn::kFineSize; ++cy) {
      const TrnGridPoint& c = record.coarseGrid[trn::kFineOrigin + cx][trn::kFineOrigin + cy];
      const int x =
          static_cast<int>(std::lround((c.longitude + 180.0) * kPixelsPerDegree)) % kMapWidth;
      const int y = static_cast<int>(std::lround((90.0 - c.latitude) * kPixelsPerDegree));
      double lat = c.latitude;
      for (int t = 0; t < trn::kSubDiv; ++t) {
        double lon = c.longitude;
        for (int s = 0; s < trn::kSubDiv; ++s) {
          TrnGridPoint& p = record.fineGrid[cx][cy][s][t];
          p.cellId = c.cellId;
          p.elevation = FineElevation(x, y, s, t);
          p.latitude = lat;
          p.longitude = lon;
          lon += step;
        }
        lat -= step;
      }
    }
  }
  record.subCellLatSpan = step;
  record.subCellLonSpan = step;
  record.coarseSizeX = trn::kCoarseSize;
  record.coarseSizeY = trn::kCoarseSize;
  record.fineSizeX = trn::kFineSize;
  record.fineSizeY = trn::kFineSize;
  record.subDivX = trn::kSubDiv;
  record.subDivY = trn::kSubDiv;
  record.aircraftPixelX = x0;
  record.aircraftPixelY = y0;
  record.aircraftCellId = x0 * 10000 + y0;
  record.aircraftElevation = MapElevation(x0, y0);
}

}  // namespace clienttest
