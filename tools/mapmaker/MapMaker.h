// The map maker: turns an elevation model that GDAL can open (GeoTIFF,
// netCDF, VRT mosaics...) in geographic coordinates into the server's
// terrain bitmap: 360 k x 180 k pixels, pixel (x, y) standing for the cell
// whose north-west corner is latitude 90 - y / k, longitude x / k - 180.
//
// The map is made in bands of rows, one degree at a time, and streamed to
// the file, so memory stays bounded at any resolution.
//
// Threading: one CMapMaker per thread; GDAL is initialised on first use.
#pragma once

#include <csignal>
#include <cstdint>

namespace mapmaker {

// How a pixel's elevation is taken from the input samples inside its cell.
enum class Aggregate {
  kNearest,  // the sample nearest the cell's north-west corner
  kMean,     // the mean of the samples in the cell
  kMaximum,  // the highest sample in the cell (the default: never hides ground)
};

struct MapOptions {
  int pixelsPerDegree = 12;  // k, 1..kMaxPixelsPerDegree
  Aggregate aggregate = Aggregate::kMaximum;
  bool keepNegative = false;  // false: every cell at or below 0 m is colour 0
  int band = 1;               // input band, 1-based
  int fillDistance = -1;      // pixels a hole fills across; -1: one degree (k)
                              // (at most MaxFillDistance(k))
  bool relief = true;         // shaded relief in the red channel
};

constexpr int kMaxPixelsPerDegree = 120;  // 43200 x 21600: the largest that a BMP holds comfortably

// The farthest a hole fills across at k pixels per degree, in pixels: a band
// sees that many rows around it (32 MB of them on each side; 388 pixels at
// 120 per degree, the whole map up to 20 per degree).
int MaxFillDistance(int pixelsPerDegree);

struct MapSummary {
  int width = 0;
  int height = 0;
  std::uint64_t fileBytes = 0;
  int fillDistance = 0;  // pixels holes were filled across
  std::int64_t cellsWritten = 0;
  std::int64_t landCells = 0;     // written with an elevation above 0 m (or any, with keepNegative)
  std::int64_t seaCells = 0;      // written as colour 0
  std::int64_t clampedCells = 0;  // elevation outside -10010..15745 m, written at the limit
  std::int64_t filledCells = 0;   // no-data cells filled from their neighbours
  std::int64_t unfilledCells = 0;  // no-data cells too far from data, written as 0 m
  std::int64_t outsideCells = 0;   // cells the input does not cover, written as 0 m
  bool anyElevation = false;
  int minElevation = 0;  // whole metres, input cells before clamping and the sea rule
  int maxElevation = 0;
};

// Progress in 0..1, called from the maker's thread.
using ProgressFunction = void (*)(double fraction, void* context);

class CMapMaker {
 public:
  // Reads input and writes the bitmap to output through a COutputFile (a
  // plain file is replaced by renaming a finished temporary file over it,
  // links are followed, character devices and pipes are written through,
  // folders and block devices are refused), so a
  // failure never leaves a half-written map nor destroys an existing one.
  // Returns false with the reason in GetError().
  bool MakeMap(const char* input, const char* output, const MapOptions& options,
               MapSummary* summary, ProgressFunction progress = nullptr,
               void* progressContext = nullptr);

  const char* GetError() const { return m_szError; }

  // A flag a signal handler sets to the signal's number: the maker checks it
  // between bands, and when it is set removes its temporary file and fails.
  void SetStopFlag(const volatile std::sig_atomic_t* flag) { m_pStop = flag; }

 private:
  const volatile std::sig_atomic_t* m_pStop = nullptr;
  char m_szError[1024] = {};
};

const char* AggregateName(Aggregate aggregate);
// Parses "nearest", "mean" or "maximum" (also "max"); false for anything else.
bool ParseAggregate(const char* text, Aggregate* aggregate);

// Hands the map maker's revision strings to configuration control.
void RegisterMapMakerRevisions();

}  // namespace mapmaker
