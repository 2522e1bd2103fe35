// The map maker's core: samples a GDAL raster onto the terrain map grid,
// fills no-data holes, shades the relief and writes the bitmap.
// Threading: a CMapMaker is used by one thread; GDAL's error handler is
// replaced for the duration of MakeMap on the calling thread only.
#include "tools/mapmaker/MapMaker.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <future>
#include <limits>
#include <memory>
#include <new>
#include <numbers>
#include <string>
#include <system_error>
#include <vector>

#include "platform/output_file.h"
#include "registry/RevisionRegistry.h"
#include "tools/mapmaker/MapEncoding.h"

namespace mapmaker {

extern const char kMapEncodingRevision[];
extern const char kMapMakerRevision[];
const char kMapMakerRevision[] = "%Z% OrogridTools KT9001:01 MapMaker $Revision: 1.2 $";

namespace {

// Cells that hold no elevation yet; both lie below the clamped range.
constexpr std::int16_t kHole = std::numeric_limits<std::int16_t>::min();
constexpr std::int16_t kOutside = kHole + 1;

// Index arithmetic tolerance (in samples or pixels): a sample exactly on a
// cell's north or west edge belongs to that cell despite rounding.
constexpr double kIndexEps = 1e-6;
// Fraction of a sample by which a map cell's corner may lie beyond the
// input's stored edge and still take the edge sample.
constexpr double kEdgeSlack = 1e-3;
// No ground lies a thousand kilometres above or below sea level: such values
// are fill markers that the file does not declare.
constexpr double kImplausibleMetres = 1.0e6;
// Samples read per window (doubles), to bound memory on huge mosaics.
constexpr std::size_t kWindowSamples = std::size_t{8} << 20;
constexpr double kMetresPerDegree = 111320.0;
constexpr double kReliefExaggeration = 4.0;
// GDAL's block cache, unless GDAL_CACHEMAX says otherwise.
constexpr std::int64_t kGdalCacheBytes = std::int64_t{64} << 20;
// Bytes of map rows a band may look at on each side for the hole filling.
constexpr std::size_t kFillHaloBytes = std::size_t{32} << 20;

struct GdalCloser {
  void operator()(GDALDataset* ds) const { GDALClose(ds); }
};

class CQuietGdal {
 public:
  CQuietGdal() { CPLPushErrorHandler(CPLQuietErrorHandler); }
  ~CQuietGdal() { CPLPopErrorHandler(); }
  CQuietGdal(const CQuietGdal&) = delete;
  CQuietGdal& operator=(const CQuietGdal&) = delete;
};

// The input raster as a grid of samples: sample (i, j) stands at longitude
// lon0 + i * dx, latitude lat0 + j * dy (its pixel centre in GDAL's terms).
struct SourceGrid {
  GDALRasterBand* band = nullptr;
  int width = 0;
  int height = 0;
  double lon0 = 0.0;
  double lat0 = 0.0;
  double dx = 0.0;
  double dy = 0.0;
  bool global = false;  // the columns go round the world once
  bool hasNoData = false;
  double noData = 0.0;
  double scale = 1.0;
  double offset = 0.0;

  // Metres, or NaN for no data.
  double Value(double raw) const {
    if (std::isnan(raw)) {
      return raw;
    }
    if (hasNoData && (raw == noData || static_cast<float>(raw) == static_cast<float>(noData))) {
      return std::numeric_limits<double>::quiet_NaN();
    }
    const double metres = raw * scale + offset;
    if (!(std::fabs(metres) < kImplausibleMetres)) {
      return std::numeric_limits<double>::quiet_NaN();
    }
    return metres;
  }
};

// Some files store slightly uneven coordinates (a world grid of 1/12 degree
// whose last longitude is 359.92 instead of 359.9167), so GDAL derives a
// step that is a little off. A step within half a sample of covering the
// world exactly is taken to be exact.
double SnapStep(double step, int count, double span) {
  const double a = std::fabs(step);
  const double sign = step < 0 ? -1.0 : 1.0;
  if (std::fabs(count * a - span) < a / 2) {
    return sign * span / count;
  }
  if (count > 1 && std::fabs((count - 1) * a - span) < a / 2) {
    return sign * span / (count - 1);  // both edges sampled (poles included)
  }
  return step;
}

// Longitude wrapped into [0, 360) after shifting by +180.
double WrapFromWest(double lon) {
  double l = std::fmod(lon + 180.0, 360.0);
  if (l < 0) {
    l += 360.0;
  }
  return l;
}

// Map rows of cells. Row y lives in slot (y - first) mod slots, so the same
// store is the ring of rows the band being written needs and, with as many
// slots as rows, a plain block of rows first..first + slots - 1.
struct Rows {
  int width = 0;
  int first = 0;
  int slots = 0;
  std::vector<std::int16_t> cells;

  void Reset(int w, int firstRow, int slotCount) {
    width = w;
    first = firstRow;
    slots = slotCount;
    cells.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(slotCount));
  }
  // Precondition: y >= first.
  std::int16_t* Row(int y) {
    return cells.data() +
           static_cast<std::size_t>((y - first) % slots) * static_cast<std::size_t>(width);
  }
  const std::int16_t* Row(int y) const {
    return cells.data() +
           static_cast<std::size_t>((y - first) % slots) * static_cast<std::size_t>(width);
  }
};

// Samples the input onto map rows, one sampling band of k rows (one degree)
// at a time. Bands always start on a whole degree from the north edge, so a
// cell's samples are read and summed in the same order whatever order the
// bands are asked for in.
class CSampler {
 public:
  CSampler(const SourceGrid& src, const MapOptions& options, int width, int height, int k,
           MapSummary& summary)
      : m_src(src),
        m_options(options),
        m_width(width),
        m_height(height),
        m_k(k),
        m_summary(summary) {}

  // Index tables and band buffers; throws std::bad_alloc.
  void Prepare();
  // Samples map rows y0..y0 + k - 1 into rows. Precondition: y0 is a
  // multiple of k.
  bool SampleBand(int y0, Rows& rows, char* error, int errorSize);

 private:
  void Store(std::int16_t* cell, double metres);
  bool ReadWindow(int col, int row, int cols, int rows, double* buf, char* error, int errorSize);
  int NearestRow(int y) const;
  int NearestCol(int x) const;

  const SourceGrid& m_src;
  const MapOptions& m_options;
  int m_width;
  int m_height;
  int m_k;
  MapSummary& m_summary;
  std::vector<int> m_xOf;  // map column of every input column
  std::vector<int> m_yOf;  // map row of every input row, -1 off the map
  std::vector<int> m_rowFirst;
  std::vector<int> m_rowLast;
  std::vector<int> m_nearestCol;
  std::vector<double> m_value;
  std::vector<std::int32_t> m_valid;
  std::vector<std::uint8_t> m_seen;
  std::vector<double> m_window;
  std::vector<double> m_rowBuf;
  int m_rowBufJ = -1;
};

void CSampler::Store(std::int16_t* cell, double metres) {
  if (std::isnan(metres)) {
    *cell = kHole;
    return;
  }
  const long long e = std::llround(metres);
  const int whole = static_cast<int>(std::clamp<long long>(e, -1000000, 1000000));
  if (!m_summary.anyElevation) {
    m_summary.minElevation = m_summary.maxElevation = whole;
    m_summary.anyElevation = true;
  } else {
    m_summary.minElevation = std::min(m_summary.minElevation, whole);
    m_summary.maxElevation = std::max(m_summary.maxElevation, whole);
  }
  int stored = whole;
  if (whole > kMaxElevation) {
    stored = kMaxElevation;
    ++m_summary.clampedCells;
  } else if (whole < kMinElevation) {
    stored = kMinElevation;
    // Below the range only matters when negative elevations are kept;
    // otherwise the cell is sea and written as 0 m anyway.
    if (m_options.keepNegative) {
      ++m_summary.clampedCells;
    }
  }
  *cell = static_cast<std::int16_t>(stored);
}

bool CSampler::ReadWindow(int col, int row, int cols, int rows, double* buf, char* error,
                          int errorSize) {
  if (m_src.band->RasterIO(GF_Read, col, row, cols, rows, buf, cols, rows, GDT_Float64, 0, 0,
                           nullptr) != CE_None) {
    std::snprintf(error, static_cast<std::size_t>(errorSize),
                  "reading rows %d..%d of the input failed: %s", row, row + rows - 1,
                  CPLGetLastErrorMsg());
    return false;
  }
  return true;
}

// Source row nearest to the north edge of map row y; ties go south, into the
// cell. -1 when the input does not reach that latitude.
int CSampler::NearestRow(int y) const {
  const double lat = 90.0 - static_cast<double>(y) / m_k;
  double t = (lat - m_src.lat0) / m_src.dy;
  long long j;
  if (m_src.dy < 0) {
    j = static_cast<long long>(std::floor(t + 0.5 + kIndexEps));
  } else {
    j = static_cast<long long>(std::ceil(t - 0.5 - kIndexEps));
  }
  // A north edge stored a hair south of the true one (a world grid whose
  // first row is 89.99998 N) still covers the map's first row. (On the
  // south edge a corner exactly on the edge belongs to the cell below it.)
  if (j == -1 && m_src.dy < 0 && t > -0.5 - kEdgeSlack) {
    j = 0;
  }
  return (j < 0 || j >= m_src.height) ? -1 : static_cast<int>(j);
}

// Source column nearest to the west edge of map column x; ties go east.
int CSampler::NearestCol(int x) const {
  const double lon = static_cast<double>(x) / m_k - 180.0;
  if (m_src.dx > 0) {
    // Distance east of the input's west edge, round the world if need be.
    const double westEdge = m_src.lon0 - m_src.dx / 2;
    double span = std::fmod(lon - westEdge, 360.0);
    if (span < 0) {
      span += 360.0;
    }
    long long i = static_cast<long long>(std::floor(span / m_src.dx + kIndexEps));
    if (m_src.global && i >= m_src.width) {
      i = 0;  // within rounding of 360 degrees: back at the first column
    }
    if (span > 360.0 - kEdgeSlack * m_src.dx) {
      i = 0;  // a hair west of the west edge: the first column
    }
    return i >= m_src.width ? -1 : static_cast<int>(i);
  }
  const double eastEdge = m_src.lon0 - m_src.dx / 2;  // columns run west from here
  double span = std::fmod(eastEdge - lon, 360.0);
  if (span < 0) {
    span += 360.0;
  }
  long long i = static_cast<long long>(std::ceil(span / -m_src.dx - kIndexEps)) - 1;
  if (i < 0) {
    i = 0;
  }
  return i >= m_src.width ? -1 : static_cast<int>(i);
}

void CSampler::Prepare() {
  const int W = m_width;
  const int H = m_height;
  const int k = m_k;
  m_xOf.resize(static_cast<std::size_t>(m_src.width));
  for (int i = 0; i < m_src.width; ++i) {
    int x = static_cast<int>(std::floor(WrapFromWest(m_src.lon0 + i * m_src.dx) * k + kIndexEps));
    m_xOf[static_cast<std::size_t>(i)] = x >= W ? x - W : x;
  }
  m_rowFirst.assign(static_cast<std::size_t>(H), -1);
  m_rowLast.assign(static_cast<std::size_t>(H), -1);
  m_yOf.resize(static_cast<std::size_t>(m_src.height));
  for (int j = 0; j < m_src.height; ++j) {
    const double f = (90.0 - (m_src.lat0 + j * m_src.dy)) * k + kIndexEps;
    const int y = (f < 0 || f >= H) ? -1 : static_cast<int>(std::floor(f));
    m_yOf[static_cast<std::size_t>(j)] = y;
    if (y >= 0) {
      auto& first = m_rowFirst[static_cast<std::size_t>(y)];
      auto& last = m_rowLast[static_cast<std::size_t>(y)];
      first = first < 0 ? j : std::min(first, j);
      last = std::max(last, j);
    }
  }
  m_nearestCol.resize(static_cast<std::size_t>(W));
  for (int x = 0; x < W; ++x) {
    m_nearestCol[static_cast<std::size_t>(x)] = NearestCol(x);
  }
  const bool nearestOnly = m_options.aggregate == Aggregate::kNearest;
  const std::size_t bandCells = static_cast<std::size_t>(k) * static_cast<std::size_t>(W);
  m_value.resize(nearestOnly ? 0 : bandCells);
  m_valid.resize(nearestOnly ? 0 : bandCells);
  m_seen.resize(bandCells);
  m_rowBuf.resize(static_cast<std::size_t>(m_src.width));
  m_rowBufJ = -1;
}

bool CSampler::SampleBand(int y0, Rows& rows, char* error, int errorSize) {
  const int W = m_width;
  const int y1 = std::min(m_height, y0 + m_k);
  const bool nearestOnly = m_options.aggregate == Aggregate::kNearest;
  const bool mean = m_options.aggregate == Aggregate::kMean;
  std::fill(m_seen.begin(), m_seen.end(), std::uint8_t{0});
  if (!nearestOnly) {
    std::fill(m_value.begin(), m_value.end(), 0.0);
    std::fill(m_valid.begin(), m_valid.end(), 0);
    int jMin = -1;
    int jMax = -1;
    for (int y = y0; y < y1; ++y) {
      if (m_rowFirst[static_cast<std::size_t>(y)] >= 0) {
        jMin = jMin < 0 ? m_rowFirst[static_cast<std::size_t>(y)]
                        : std::min(jMin, m_rowFirst[static_cast<std::size_t>(y)]);
        jMax = std::max(jMax, m_rowLast[static_cast<std::size_t>(y)]);
      }
    }
    if (jMin >= 0) {
      const int nRows = jMax - jMin + 1;
      const int cols =
          static_cast<int>(std::clamp<std::size_t>(kWindowSamples / static_cast<std::size_t>(nRows),
                                                   1, static_cast<std::size_t>(m_src.width)));
      m_window.resize(static_cast<std::size_t>(nRows) * static_cast<std::size_t>(cols));
      for (int c0 = 0; c0 < m_src.width; c0 += cols) {
        const int nc = std::min(cols, m_src.width - c0);
        if (!ReadWindow(c0, jMin, nc, nRows, m_window.data(), error, errorSize)) {
          return false;
        }
        for (int r = 0; r < nRows; ++r) {
          const int y = m_yOf[static_cast<std::size_t>(jMin) + static_cast<std::size_t>(r)];
          if (y < y0 || y >= y1) {
            continue;
          }
          const double* in =
              m_window.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(nc);
          const std::size_t base = static_cast<std::size_t>(y - y0) * static_cast<std::size_t>(W);
          for (int c = 0; c < nc; ++c) {
            const std::size_t idx =
                base + static_cast<std::size_t>(
                           m_xOf[static_cast<std::size_t>(c0) + static_cast<std::size_t>(c)]);
            m_seen[idx] = 1;
            const double v = m_src.Value(in[c]);
            if (std::isnan(v)) {
              continue;
            }
            if (mean) {
              m_value[idx] += v;
            } else if (m_valid[idx] == 0 || v > m_value[idx]) {
              m_value[idx] = v;
            }
            ++m_valid[idx];
          }
        }
      }
    }
  }
  for (int y = y0; y < y1; ++y) {
    const std::size_t base = static_cast<std::size_t>(y - y0) * static_cast<std::size_t>(W);
    std::int16_t* out = rows.Row(y);
    bool needNearest = false;
    for (int x = 0; x < W; ++x) {
      const std::size_t idx = base + static_cast<std::size_t>(x);
      if (!m_seen[idx]) {
        needNearest = true;
      } else if (m_valid[idx] == 0) {
        out[x] = kHole;
      } else {
        Store(out + x, mean ? m_value[idx] / m_valid[idx] : m_value[idx]);
      }
    }
    if (!needNearest) {
      continue;
    }
    // Cells with no sample inside (a coarser input, or nearest mode) take
    // the sample nearest their north-west corner.
    const int j = NearestRow(y);
    if (j >= 0 && j != m_rowBufJ) {
      if (!ReadWindow(0, j, m_src.width, 1, m_rowBuf.data(), error, errorSize)) {
        return false;
      }
      m_rowBufJ = j;
    }
    // Neighbouring cells often take the same sample (a coarser input): it is
    // converted once and its cells counted each.
    int lastI = -1;
    std::int16_t lastCell = 0;
    std::int64_t lastClamped = 0;
    for (int x = 0; x < W; ++x) {
      if (m_seen[base + static_cast<std::size_t>(x)]) {
        continue;
      }
      const int i = m_nearestCol[static_cast<std::size_t>(x)];
      if (j < 0 || i < 0) {
        out[x] = kOutside;
      } else if (i == lastI) {
        out[x] = lastCell;
        m_summary.clampedCells += lastClamped;
      } else {
        const std::int64_t clampedBefore = m_summary.clampedCells;
        Store(out + x, m_src.Value(m_rowBuf[static_cast<std::size_t>(i)]));
        lastI = i;
        lastCell = out[x];
        lastClamped = m_summary.clampedCells - clampedBefore;
      }
    }
  }
  return true;
}

// Fills no-data cells layer by layer from the cells around them (the highest
// known neighbour, for the same reason the default aggregation is the
// maximum), up to maxDistance layers; what remains becomes 0 m. The map is a
// globe: columns wrap across the antimeridian, and the neighbours north of
// row 0 (south of the map's last row) are those of the same row half a
// turn away, across the pole. Works on a block of rows whose first and last
// rows are taken as the edge of the world unless they are the map's first
// and last (mapHeight rows): a cell's fill depends only on the cells within
// maxDistance of it, so the rows at least maxDistance inside the block are
// filled exactly as in the whole map. Only rows countFrom..countTo - 1 are
// counted in the summary.
// Threading: one filler per thread; its buffers are kept between blocks.
class CHoleFiller {
 public:
  void Fill(Rows& block, int mapHeight, int maxDistance, int countFrom, int countTo,
            MapSummary& summary);

 private:
  std::vector<std::uint32_t> m_frontier;
  std::vector<std::uint32_t> m_next;
  std::vector<std::int16_t> m_fill;
  std::vector<std::uint8_t> m_queued;
};

void CHoleFiller::Fill(Rows& block, int mapHeight, int maxDistance, int countFrom, int countTo,
                       MapSummary& summary) {
  const int W = block.width;
  const int H = block.slots;
  const bool northPole = block.first == 0;
  const bool southPole = block.first + H == mapHeight;
  std::int16_t* cells = block.cells.data();
  const std::size_t count = block.cells.size();
  const auto counted = [&](std::uint32_t idx) {
    const int y = block.first + static_cast<int>(idx / static_cast<std::uint32_t>(W));
    return y >= countFrom && y < countTo;
  };
  const auto known = [&](int x, int y) {
    const std::int16_t v = cells[static_cast<std::size_t>(y) * static_cast<std::size_t>(W) +
                                 static_cast<std::size_t>(x)];
    return v != kHole && v != kOutside;
  };
  const auto forNeighbours = [&](std::uint32_t idx, auto&& fn) {
    const int x = static_cast<int>(idx % static_cast<std::uint32_t>(W));
    const int y = static_cast<int>(idx / static_cast<std::uint32_t>(W));
    for (int dy = -1; dy <= 1; ++dy) {
      int ny = y + dy;
      int across = 0;  // columns to the far side of a pole
      if (ny < 0 || ny >= H) {
        if ((ny < 0 && !northPole) || (ny >= H && !southPole)) {
          continue;
        }
        ny = y;
        across = W / 2;
      }
      for (int dx = -1; dx <= 1; ++dx) {
        if (dx != 0 || dy != 0) {
          fn((x + dx + across + W) % W, ny);
        }
      }
    }
  };
  m_frontier.clear();
  m_queued.assign(count, 0);
  for (std::size_t n = 0; n < count; ++n) {
    if (cells[n] != kHole) {
      continue;
    }
    const auto idx = static_cast<std::uint32_t>(n);
    bool nextToData = false;
    forNeighbours(idx, [&](int nx, int ny) { nextToData = nextToData || known(nx, ny); });
    if (nextToData) {
      m_frontier.push_back(idx);
      m_queued[n] = 1;
    }
  }
  for (int layer = 0; layer < maxDistance && !m_frontier.empty(); ++layer) {
    // Values first, then assignment, so the result does not depend on order.
    m_fill.resize(m_frontier.size());
    for (std::size_t n = 0; n < m_frontier.size(); ++n) {
      int best = std::numeric_limits<int>::min();
      forNeighbours(m_frontier[n], [&](int nx, int ny) {
        if (known(nx, ny)) {
          best = std::max(
              best,
              static_cast<int>(cells[static_cast<std::size_t>(ny) * static_cast<std::size_t>(W) +
                                     static_cast<std::size_t>(nx)]));
        }
      });
      m_fill[n] = static_cast<std::int16_t>(best);
    }
    m_next.clear();
    for (std::size_t n = 0; n < m_frontier.size(); ++n) {
      cells[m_frontier[n]] = m_fill[n];
      summary.filledCells += counted(m_frontier[n]) ? 1 : 0;
    }
    for (std::uint32_t idx : m_frontier) {
      forNeighbours(idx, [&](int nx, int ny) {
        const std::size_t nIdx = static_cast<std::size_t>(ny) * static_cast<std::size_t>(W) +
                                 static_cast<std::size_t>(nx);
        if (cells[nIdx] == kHole && !m_queued[nIdx]) {
          m_queued[nIdx] = 1;
          m_next.push_back(static_cast<std::uint32_t>(nIdx));
        }
      });
    }
    m_frontier.swap(m_next);
  }
  for (std::size_t n = 0; n < count; ++n) {
    if (cells[n] == kHole) {
      cells[n] = 0;
      summary.unfilledCells += counted(static_cast<std::uint32_t>(n)) ? 1 : 0;
    }
  }
}

// Elevations used for the picture, for a whole row: sentinels are 0 m, and
// sea is flat unless negative elevations are kept.
void ShadeElevations(const std::int16_t* row, int W, bool keepNegative, std::int16_t* z) {
  for (int x = 0; x < W; ++x) {
    const std::int16_t v = row[x];
    z[x] = (v == kOutside || v == kHole || (!keepNegative && v < 0)) ? std::int16_t{0} : v;
  }
}

// Red channel 1..255 of cell x: the light falls from the north-west at 45
// degrees. n, c and s are the picture elevations of the rows north of, at
// and south of the cell (the edge row itself at the poles); metresX and
// metresY are a cell's size.
std::uint8_t Shade(const std::int16_t* n, const std::int16_t* c, const std::int16_t* s, int W,
                   int x, double metresX, double metresY) {
  const int xw = x == 0 ? W - 1 : x - 1;
  const int xe = x == W - 1 ? 0 : x + 1;
  const auto z = [](const std::int16_t* row, int px) { return static_cast<double>(row[px]); };
  const double dzEast =
      ((z(n, xe) + 2 * z(c, xe) + z(s, xe)) - (z(n, xw) + 2 * z(c, xw) + z(s, xw))) / (8 * metresX);
  const double dzNorth =
      ((z(n, xw) + 2 * z(n, x) + z(n, xe)) - (z(s, xw) + 2 * z(s, x) + z(s, xe))) / (8 * metresY);
  const double nx = -kReliefExaggeration * dzEast;
  const double ny = -kReliefExaggeration * dzNorth;
  const double length = std::sqrt(nx * nx + ny * ny + 1.0);
  // Unit vector toward the light: azimuth 315 degrees, altitude 45 degrees.
  const double lit = (nx * -0.5 + ny * 0.5 + std::numbers::sqrt2 / 2) / length;
  return static_cast<std::uint8_t>(1 + std::lround(std::clamp(lit, 0.0, 1.0) * 254.0));
}

// Writes map row y as blue-green-red triples into bgr, counting its cells.
// cells is the row (holes filled); n, c and s are the picture elevations of
// rows y - 1, y and y + 1 (the row itself beyond the poles).
void EncodeRow(const std::int16_t* cells, const std::int16_t* n, const std::int16_t* c,
               const std::int16_t* s, int W, int y, int k, const MapOptions& options,
               std::uint8_t* bgr, MapSummary& summary) {
  const double lat = 90.0 - (y + 0.5) / k;
  const double metresX =
      std::max(0.01, std::cos(lat * std::numbers::pi / 180.0)) * kMetresPerDegree / k;
  const double metresY = kMetresPerDegree / k;
  for (int x = 0; x < W; ++x, bgr += 3) {
    const int v = cells[x];
    const int e = (v == kOutside || v == kHole) ? 0 : v;
    if (e <= 0 && (!options.keepNegative || v == kOutside)) {
      bgr[0] = bgr[1] = bgr[2] = 0;
      ++summary.seaCells;
      summary.outsideCells += v == kOutside ? 1 : 0;
      continue;
    }
    const std::uint8_t red = options.relief ? Shade(n, c, s, W, x, metresX, metresY) : 128;
    const std::uint32_t colour = EncodeElevation(e, red);
    bgr[0] = static_cast<std::uint8_t>(colour >> 16);
    bgr[1] = static_cast<std::uint8_t>(colour >> 8);
    bgr[2] = static_cast<std::uint8_t>(colour);
    ++summary.landCells;
  }
}

bool OpenSource(const char* input, const MapOptions& options,
                std::unique_ptr<GDALDataset, GdalCloser>& ds, SourceGrid& src, char* error,
                int errorSize) {
  const auto fail = [&](const char* format, auto... args) {
    std::snprintf(error, static_cast<std::size_t>(errorSize), format, args...);
    return false;
  };
  ds.reset(GDALDataset::Open(input, GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR));
  if (!ds) {
    const char* why = CPLGetLastErrorMsg();
    return fail("cannot open %s as an elevation model: %s", input,
                (why && *why) ? why : "not a raster GDAL can read");
  }
  if (ds->GetRasterCount() == 0) {
    const char* first = CSLFetchNameValue(ds->GetMetadata("SUBDATASETS"), "SUBDATASET_1_NAME");
    if (first != nullptr) {
      return fail("%s holds several grids; name the elevation grid, for example %s", input, first);
    }
    return fail("%s holds no raster band", input);
  }
  if (options.band < 1 || options.band > ds->GetRasterCount()) {
    return fail("%s has %d band(s); band %d does not exist", input, ds->GetRasterCount(),
                options.band);
  }
  double gt[6] = {};
  if (ds->GetGeoTransform(gt) != CE_None) {
    return fail(
        "%s has no georeferencing (no geotransform): the map maker needs latitudes and longitudes",
        input);
  }
  if (gt[2] != 0.0 || gt[4] != 0.0 || gt[1] == 0.0 || gt[5] == 0.0) {
    return fail(
        "%s is a rotated or sheared grid; warp it to plain latitude/longitude first (gdalwarp "
        "-t_srs EPSG:4326)",
        input);
  }
  src.width = ds->GetRasterXSize();
  src.height = ds->GetRasterYSize();
  const OGRSpatialReference* srs = ds->GetSpatialRef();
  if (srs != nullptr && !srs->IsEmpty() && !srs->IsGeographic()) {
    return fail(
        "%s is in projected coordinates (%s); warp it to latitude/longitude first (gdalwarp -t_srs "
        "EPSG:4326)",
        input, srs->GetName() ? srs->GetName() : "unnamed");
  }
  const double west = std::min(gt[0], gt[0] + gt[1] * src.width);
  const double east = std::max(gt[0], gt[0] + gt[1] * src.width);
  const double south = std::min(gt[3], gt[3] + gt[5] * src.height);
  const double north = std::max(gt[3], gt[3] + gt[5] * src.height);
  const double marginX = std::max(1.0, std::fabs(gt[1]));
  const double marginY = std::max(1.0, std::fabs(gt[5]));
  // Longitudes wrap (some world grids run 20..380 E); latitudes do not.
  if (west < -360.0 - marginX || east > 720.0 + marginX || east - west > 360.0 + 2 * marginX ||
      south < -90.0 - marginY || north > 90.0 + marginY) {
    return fail("%s spans %.3f..%.3f E, %.3f..%.3f N, which are not geographic coordinates", input,
                west, east, south, north);
  }
  src.lon0 = gt[0] + gt[1] / 2;
  src.lat0 = gt[3] + gt[5] / 2;
  src.dx = SnapStep(gt[1], src.width, 360.0);
  src.dy = SnapStep(gt[5], src.height, 180.0);
  src.global = std::fabs(std::fabs(src.dx) * src.width - 360.0) < 1e-9;
  src.band = ds->GetRasterBand(options.band);
  int ok = 0;
  src.noData = src.band->GetNoDataValue(&ok);
  src.hasNoData = ok != 0;
  src.scale = src.band->GetScale(&ok);
  if (!ok || src.scale == 0.0) {
    src.scale = 1.0;
  }
  src.offset = src.band->GetOffset(&ok);
  if (!ok) {
    src.offset = 0.0;
  }
  return true;
}

}  // namespace

int MaxFillDistance(int pixelsPerDegree) {
  const std::size_t rowBytes = std::size_t{360} * static_cast<std::size_t>(pixelsPerDegree) * 2;
  return static_cast<int>(std::min<std::size_t>(kFillHaloBytes / rowBytes, 1000000));
}

const char* AggregateName(Aggregate aggregate) {
  switch (aggregate) {
    case Aggregate::kNearest:
      return "nearest";
    case Aggregate::kMean:
      return "mean";
    case Aggregate::kMaximum:
      return "maximum";
  }
  return "?";
}

bool ParseAggregate(const char* text, Aggregate* aggregate) {
  if (text == nullptr) {
    return false;
  }
  if (std::strcmp(text, "nearest") == 0) {
    *aggregate = Aggregate::kNearest;
  } else if (std::strcmp(text, "mean") == 0) {
    *aggregate = Aggregate::kMean;
  } else if (std::strcmp(text, "maximum") == 0 || std::strcmp(text, "max") == 0) {
    *aggregate = Aggregate::kMaximum;
  } else {
    return false;
  }
  return true;
}

void RegisterMapMakerRevisions() {
  static bool registered = false;
  if (registered) {
    return;
  }
  BeginComponent("Map Maker");
  RegisterRevision(kMapMakerRevision);
  RegisterRevision(kMapEncodingRevision);
  EndComponent();
  registered = true;
}

bool CMapMaker::MakeMap(const char* input, const char* output, const MapOptions& options,
                        MapSummary* summary, ProgressFunction progress, void* progressContext) {
  m_szError[0] = '\0';
  MapSummary local;
  MapSummary& s = summary != nullptr ? *summary : local;
  s = MapSummary{};
  if (input == nullptr || output == nullptr || *input == '\0' || *output == '\0') {
    std::snprintf(m_szError, sizeof m_szError, "an input and an output file are needed");
    return false;
  }
  if (options.pixelsPerDegree < 1 || options.pixelsPerDegree > kMaxPixelsPerDegree) {
    std::snprintf(m_szError, sizeof m_szError, "pixels per degree must be 1..%d, not %d",
                  kMaxPixelsPerDegree, options.pixelsPerDegree);
    return false;
  }
  const int k = options.pixelsPerDegree;
  const int W = 360 * k;
  const int H = 180 * k;
  s.width = W;
  s.height = H;
  s.fileBytes = Bitmap24FileSize(W, H);
  s.fillDistance =
      std::min(options.fillDistance < 0 ? k : options.fillDistance, MaxFillDistance(k));

  GDALAllRegister();
  // GDAL's block cache would otherwise grow to a share of the machine's
  // memory on huge inputs; the bands are read once, in order.
  if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr) {
    GDALSetCacheMax64(kGdalCacheBytes);
  }
  CQuietGdal quiet;
  std::unique_ptr<GDALDataset, GdalCloser> ds;
  SourceGrid src;
  if (!OpenSource(input, options, ds, src, m_szError, sizeof m_szError)) {
    return false;
  }

  // The output is claimed before the long work so that an unwritable place is
  // reported at once; a finished map replaces a file only by renaming.
  platform::COutputFile out;
  // "cannot write "OUTPUT": REASON", as every tool says it.
  const auto outputFailed = [&]() {
    std::snprintf(m_szError, sizeof m_szError, "cannot write \"%s\": %s", output, out.ErrorText());
    return false;
  };
  if (!out.Open(output)) {
    return outputFailed();
  }

  // The map is written from the south edge up, one degree of rows (a band)
  // at a time. Writing band y0..y1 - 1 needs its rows filled and their
  // neighbours for the relief: the sampled rows from y0 - halo to
  // y1 + halo - 1. Those are kept in a ring that the sampler fills a band
  // ahead, northward; the ring never holds rows it would overwrite before
  // they are written (see the slot count). A band is written by a second
  // thread while the next one is made; every return waits for that write
  // (the future is destroyed before out, which then removes its temporary
  // file).
  const int D = s.fillDistance;
  const int halo = D + 1;
  const int slots = std::min(H, 2 * k + 2 * D + 2);
  const std::uint64_t rowBytes = Bitmap24RowBytes(W);
  try {
    CSampler sampler(src, options, W, H, k, s);
    sampler.Prepare();
    Rows ring;
    ring.Reset(W, 0, slots);
    std::vector<std::uint8_t> ringHoles(static_cast<std::size_t>(slots), 0);
    Rows block;
    CHoleFiller filler;
    std::vector<std::int16_t> zRows(static_cast<std::size_t>(k + 2) * static_cast<std::size_t>(W));
    const std::size_t bandBytes = static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(k);
    std::vector<std::uint8_t> bands[2] = {std::vector<std::uint8_t>(bandBytes, 0),
                                          std::vector<std::uint8_t>(bandBytes, 0)};
    int current = 0;
    std::future<bool> writing;
    const auto written = [&]() { return !writing.valid() || writing.get() || outputFailed(); };
    // Asked to stop: the band being written is waited for, then the
    // temporary file is removed at once, before the caller reports and ends.
    const auto stopped = [&]() {
      if (m_pStop == nullptr || *m_pStop == 0) {
        return false;
      }
      if (writing.valid()) {
        writing.wait();
      }
      out.Abandon();
      std::snprintf(m_szError, sizeof m_szError, "stopped by signal %d; %s is unchanged",
                    static_cast<int>(*m_pStop), output);
      return true;
    };

    std::uint8_t header[kBitmapPixelOffset];
    if (!MakeBitmap24Header(W, H, header)) {
      std::snprintf(m_szError, sizeof m_szError, "a %d x %d map does not fit in a BMP file", W, H);
      return false;
    }
    if (!out.Write(header, sizeof header)) {
      return outputFailed();
    }
    int sampledTop = H;  // rows sampledTop..H - 1 have been sampled
    for (int y0 = H - k; y0 >= 0; y0 -= k) {
      const int y1 = y0 + k;
      const int top = std::max(0, y0 - halo);
      const int bottom = std::min(H, y1 + halo);
      while (sampledTop > top) {
        sampledTop -= k;
        if (!sampler.SampleBand(sampledTop, ring, m_szError, sizeof m_szError)) {
          return false;
        }
        for (int y = sampledTop; y < sampledTop + k; ++y) {
          const std::int16_t* row = ring.Row(y);
          ringHoles[static_cast<std::size_t>(y % slots)] =
              std::find(row, row + W, kHole) != row + W ? 1 : 0;
        }
        if (stopped()) {
          return false;
        }
      }
      const Rows* rows = &ring;
      bool anyHole = false;
      for (int y = top; y < bottom; ++y) {
        anyHole = anyHole || ringHoles[static_cast<std::size_t>(y % slots)] != 0;
      }
      if (anyHole) {
        block.Reset(W, top, bottom - top);
        for (int y = top; y < bottom; ++y) {
          std::copy_n(ring.Row(y), W, block.Row(y));
        }
        filler.Fill(block, H, D, y0, y1, s);
        rows = &block;
      }
      // Picture elevations of rows y0 - 1..y1 (those inside the map), each once.
      const int zTop = std::max(0, y0 - 1);
      const int zBottom = std::min(H, y1 + 1);
      for (int y = zTop; y < zBottom; ++y) {
        ShadeElevations(
            rows->Row(y), W, options.keepNegative,
            zRows.data() + static_cast<std::size_t>(y - zTop) * static_cast<std::size_t>(W));
      }
      const auto zRow = [&](int y) {
        const int clamped = std::clamp(y, 0, H - 1);
        return zRows.data() +
               static_cast<std::size_t>(clamped - zTop) * static_cast<std::size_t>(W);
      };
      std::vector<std::uint8_t>& band = bands[current];
      const auto encodeRows = [&](int from, int to, MapSummary& counts) {
        for (int y = to - 1; y >= from; --y) {
          EncodeRow(rows->Row(y), zRow(y - 1), zRow(y), zRow(y + 1), W, y, k, options,
                    band.data() + static_cast<std::size_t>(y1 - 1 - y) * rowBytes, counts);
        }
      };
      // The southern half of the band is encoded by a second thread.
      const int middle = y0 + k / 2;
      MapSummary south;
      std::future<void> encoding;
      if (middle > y0) {
        encoding = std::async(std::launch::async, [&]() { encodeRows(middle, y1, south); });
      }
      encodeRows(y0, middle > y0 ? middle : y1, s);
      if (encoding.valid()) {
        encoding.get();
      }
      s.seaCells += south.seaCells;
      s.landCells += south.landCells;
      s.outsideCells += south.outsideCells;
      if (!written()) {
        return false;
      }
      writing = std::async(std::launch::async, [&out, data = band.data(), size = band.size()]() {
        return out.Write(data, size);
      });
      current ^= 1;
      if (stopped()) {
        return false;
      }
      if (progress != nullptr) {
        progress(static_cast<double>(H - y0) / H, progressContext);
      }
    }
    if (!written()) {
      return false;
    }
  } catch (const std::bad_alloc&) {
    std::snprintf(m_szError, sizeof m_szError, "not enough memory for a %d x %d map", W, H);
    return false;
  } catch (const std::system_error& e) {
    std::snprintf(m_szError, sizeof m_szError, "cannot start the thread that writes %s: %s", output,
                  e.what());
    return false;
  }
  if (!out.Commit()) {
    return outputFailed();
  }
  s.cellsWritten = static_cast<std::int64_t>(W) * H;
  return true;
}

}  // namespace mapmaker
