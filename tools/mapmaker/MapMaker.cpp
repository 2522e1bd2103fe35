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
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <numbers>
#include <string>
#include <vector>

#include "platform/system_error.h"
#include "registry/RevisionRegistry.h"
#include "tools/mapmaker/MapEncoding.h"

namespace mapmaker {

extern const char kMapEncodingRevision[];
extern const char kMapMakerRevision[];
const char kMapMakerRevision[] = "%Z% OrogridTools KT9001:01 MapMaker $Revision: 1.1 $";

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

struct Grid {
  int width = 0;
  int height = 0;
  int k = 0;
  std::vector<std::int16_t> cells;
  std::int16_t& At(int x, int y) {
    return cells[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                 static_cast<std::size_t>(x)];
  }
  std::int16_t Get(int x, int y) const {
    return cells[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                 static_cast<std::size_t>(x)];
  }
};

class CSampler {
 public:
  CSampler(const SourceGrid& src, const MapOptions& options, Grid& grid, MapSummary& summary)
      : m_src(src), m_options(options), m_grid(grid), m_summary(summary) {}

  bool Run(ProgressFunction progress, void* context, double progressSpan, char* error,
           int errorSize);

 private:
  void Store(int x, int y, double metres);
  bool ReadWindow(int col, int row, int cols, int rows, double* buf, char* error, int errorSize);
  int NearestRow(int y) const;
  int NearestCol(int x) const;

  const SourceGrid& m_src;
  const MapOptions& m_options;
  Grid& m_grid;
  MapSummary& m_summary;
};

void CSampler::Store(int x, int y, double metres) {
  if (std::isnan(metres)) {
    m_grid.At(x, y) = kHole;
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
  m_grid.At(x, y) = static_cast<std::int16_t>(stored);
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
  const double lat = 90.0 - static_cast<double>(y) / m_grid.k;
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
  const double lon = static_cast<double>(x) / m_grid.k - 180.0;
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

bool CSampler::Run(ProgressFunction progress, void* context, double progressSpan, char* error,
                   int errorSize) {
  const int W = m_grid.width;
  const int H = m_grid.height;
  const int k = m_grid.k;
  const bool nearestOnly = m_options.aggregate == Aggregate::kNearest;

  // Map column and row of every input sample (-1: off the map).
  std::vector<int> xOf(static_cast<std::size_t>(m_src.width));
  for (int i = 0; i < m_src.width; ++i) {
    int x = static_cast<int>(std::floor(WrapFromWest(m_src.lon0 + i * m_src.dx) * k + kIndexEps));
    xOf[static_cast<std::size_t>(i)] = x >= W ? x - W : x;
  }
  std::vector<int> rowFirst(static_cast<std::size_t>(H), -1);
  std::vector<int> rowLast(static_cast<std::size_t>(H), -1);
  std::vector<int> yOf(static_cast<std::size_t>(m_src.height));
  for (int j = 0; j < m_src.height; ++j) {
    const double f = (90.0 - (m_src.lat0 + j * m_src.dy)) * k + kIndexEps;
    const int y = (f < 0 || f >= H) ? -1 : static_cast<int>(std::floor(f));
    yOf[static_cast<std::size_t>(j)] = y;
    if (y >= 0) {
      auto& first = rowFirst[static_cast<std::size_t>(y)];
      auto& last = rowLast[static_cast<std::size_t>(y)];
      first = first < 0 ? j : std::min(first, j);
      last = std::max(last, j);
    }
  }
  std::vector<int> nearestCol(static_cast<std::size_t>(W));
  for (int x = 0; x < W; ++x) {
    nearestCol[static_cast<std::size_t>(x)] = NearestCol(x);
  }

  // One degree of map rows at a time.
  const int bandRows = k;
  const std::size_t bandCells = static_cast<std::size_t>(bandRows) * static_cast<std::size_t>(W);
  std::vector<double> value(nearestOnly ? 0 : bandCells);
  std::vector<std::int32_t> valid(nearestOnly ? 0 : bandCells);
  std::vector<std::uint8_t> seen(bandCells);
  std::vector<double> window;
  std::vector<double> rowBuf(static_cast<std::size_t>(m_src.width));
  int rowBufJ = -1;
  const bool mean = m_options.aggregate == Aggregate::kMean;

  for (int y0 = 0; y0 < H; y0 += bandRows) {
    const int y1 = std::min(H, y0 + bandRows);
    std::fill(seen.begin(), seen.end(), std::uint8_t{0});
    if (!nearestOnly) {
      std::fill(value.begin(), value.end(), 0.0);
      std::fill(valid.begin(), valid.end(), 0);
      int jMin = -1;
      int jMax = -1;
      for (int y = y0; y < y1; ++y) {
        if (rowFirst[static_cast<std::size_t>(y)] >= 0) {
          jMin = jMin < 0 ? rowFirst[static_cast<std::size_t>(y)]
                          : std::min(jMin, rowFirst[static_cast<std::size_t>(y)]);
          jMax = std::max(jMax, rowLast[static_cast<std::size_t>(y)]);
        }
      }
      if (jMin >= 0) {
        const int rows = jMax - jMin + 1;
        const int cols = static_cast<int>(
            std::clamp<std::size_t>(kWindowSamples / static_cast<std::size_t>(rows), 1,
                                    static_cast<std::size_t>(m_src.width)));
        window.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
        for (int c0 = 0; c0 < m_src.width; c0 += cols) {
          const int nc = std::min(cols, m_src.width - c0);
          if (!ReadWindow(c0, jMin, nc, rows, window.data(), error, errorSize)) {
            return false;
          }
          for (int r = 0; r < rows; ++r) {
            const int y = yOf[static_cast<std::size_t>(jMin) + static_cast<std::size_t>(r)];
            if (y < y0 || y >= y1) {
              continue;
            }
            const double* in =
                window.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(nc);
            const std::size_t base = static_cast<std::size_t>(y - y0) * static_cast<std::size_t>(W);
            for (int c = 0; c < nc; ++c) {
              const std::size_t idx =
                  base + static_cast<std::size_t>(
                             xOf[static_cast<std::size_t>(c0) + static_cast<std::size_t>(c)]);
              seen[idx] = 1;
              const double v = m_src.Value(in[c]);
              if (std::isnan(v)) {
                continue;
              }
              if (mean) {
                value[idx] += v;
              } else if (valid[idx] == 0 || v > value[idx]) {
                value[idx] = v;
              }
              ++valid[idx];
            }
          }
        }
      }
    }
    for (int y = y0; y < y1; ++y) {
      const std::size_t base = static_cast<std::size_t>(y - y0) * static_cast<std::size_t>(W);
      bool needNearest = false;
      for (int x = 0; x < W; ++x) {
        const std::size_t idx = base + static_cast<std::size_t>(x);
        if (!seen[idx]) {
          needNearest = true;
        } else if (valid[idx] == 0) {
          m_grid.At(x, y) = kHole;
        } else {
          Store(x, y, mean ? value[idx] / valid[idx] : value[idx]);
        }
      }
      if (!needNearest) {
        continue;
      }
      // Cells with no sample inside (a coarser input, or nearest mode) take
      // the sample nearest their north-west corner.
      const int j = NearestRow(y);
      if (j >= 0 && j != rowBufJ) {
        if (!ReadWindow(0, j, m_src.width, 1, rowBuf.data(), error, errorSize)) {
          return false;
        }
        rowBufJ = j;
      }
      for (int x = 0; x < W; ++x) {
        if (seen[base + static_cast<std::size_t>(x)]) {
          continue;
        }
        const int i = nearestCol[static_cast<std::size_t>(x)];
        if (j < 0 || i < 0) {
          m_grid.At(x, y) = kOutside;
        } else {
          Store(x, y, m_src.Value(rowBuf[static_cast<std::size_t>(i)]));
        }
      }
    }
    if (progress != nullptr) {
      progress(progressSpan * y1 / H, context);
    }
  }
  return true;
}

// Fills no-data cells layer by layer from the cells around them (the highest
// known neighbour, for the same reason the default aggregation is the
// maximum), up to maxDistance layers; what remains becomes 0 m.
void FillHoles(Grid& grid, int maxDistance, MapSummary& summary) {
  const int W = grid.width;
  const int H = grid.height;
  std::vector<std::size_t> frontier;
  std::vector<std::uint8_t> queued;
  const auto known = [&](int x, int y) {
    const std::int16_t v = grid.Get(x, y);
    return v != kHole && v != kOutside;
  };
  const auto forNeighbours = [&](std::size_t idx, auto&& fn) {
    const int x = static_cast<int>(idx % static_cast<std::size_t>(W));
    const int y = static_cast<int>(idx / static_cast<std::size_t>(W));
    for (int dy = -1; dy <= 1; ++dy) {
      const int ny = y + dy;
      if (ny < 0 || ny >= H) {
        continue;
      }
      for (int dx = -1; dx <= 1; ++dx) {
        if (dx != 0 || dy != 0) {
          fn((x + dx + W) % W, ny);
        }
      }
    }
  };
  bool anyHole = false;
  for (std::int16_t v : grid.cells) {
    if (v == kHole) {
      anyHole = true;
      break;
    }
  }
  if (!anyHole) {
    return;
  }
  queued.assign(grid.cells.size(), 0);
  for (std::size_t idx = 0; idx < grid.cells.size(); ++idx) {
    if (grid.cells[idx] != kHole) {
      continue;
    }
    bool nextToData = false;
    forNeighbours(idx, [&](int nx, int ny) { nextToData = nextToData || known(nx, ny); });
    if (nextToData) {
      frontier.push_back(idx);
      queued[idx] = 1;
    }
  }
  std::vector<std::int16_t> fill;
  std::vector<std::size_t> next;
  for (int layer = 0; layer < maxDistance && !frontier.empty(); ++layer) {
    // Values first, then assignment, so the result does not depend on order.
    fill.resize(frontier.size());
    for (std::size_t n = 0; n < frontier.size(); ++n) {
      int best = std::numeric_limits<int>::min();
      forNeighbours(frontier[n], [&](int nx, int ny) {
        if (known(nx, ny)) {
          best = std::max(best, static_cast<int>(grid.Get(nx, ny)));
        }
      });
      fill[n] = static_cast<std::int16_t>(best);
    }
    next.clear();
    for (std::size_t n = 0; n < frontier.size(); ++n) {
      grid.cells[frontier[n]] = fill[n];
    }
    summary.filledCells += static_cast<std::int64_t>(frontier.size());
    for (std::size_t idx : frontier) {
      forNeighbours(idx, [&](int nx, int ny) {
        const std::size_t nIdx = static_cast<std::size_t>(ny) * static_cast<std::size_t>(W) +
                                 static_cast<std::size_t>(nx);
        if (grid.cells[nIdx] == kHole && !queued[nIdx]) {
          queued[nIdx] = 1;
          next.push_back(nIdx);
        }
      });
    }
    frontier.swap(next);
  }
  for (std::int16_t& v : grid.cells) {
    if (v == kHole) {
      v = 0;
      ++summary.unfilledCells;
    }
  }
}

struct WriterContext {
  const Grid* grid;
  const MapOptions* options;
  MapSummary* summary;
  ProgressFunction progress;
  void* progressContext;
  double progressStart;
};

// Elevation used for the picture: sentinels are 0 m, and sea is flat unless
// negative elevations are kept.
int ShadeElevation(const Grid& g, const MapOptions& o, int x, int y) {
  const int v = g.Get(x, y);
  if (v == kOutside || v == kHole) {
    return 0;
  }
  return (!o.keepNegative && v < 0) ? 0 : v;
}

// Red channel 1..255: the light falls from the north-west at 45 degrees.
std::uint8_t Shade(const Grid& g, const MapOptions& o, int x, int y) {
  const int W = g.width;
  const int xw = (x - 1 + W) % W;
  const int xe = (x + 1) % W;
  const int yn = std::max(0, y - 1);
  const int ys = std::min(g.height - 1, y + 1);
  const auto z = [&](int px, int py) { return static_cast<double>(ShadeElevation(g, o, px, py)); };
  const double lat = 90.0 - (y + 0.5) / g.k;
  const double metresX =
      std::max(0.01, std::cos(lat * std::numbers::pi / 180.0)) * kMetresPerDegree / g.k;
  const double metresY = kMetresPerDegree / g.k;
  const double dzEast =
      ((z(xe, yn) + 2 * z(xe, y) + z(xe, ys)) - (z(xw, yn) + 2 * z(xw, y) + z(xw, ys))) /
      (8 * metresX);
  const double dzNorth =
      ((z(xw, yn) + 2 * z(x, yn) + z(xe, yn)) - (z(xw, ys) + 2 * z(x, ys) + z(xe, ys))) /
      (8 * metresY);
  const double nx = -kReliefExaggeration * dzEast;
  const double ny = -kReliefExaggeration * dzNorth;
  const double length = std::sqrt(nx * nx + ny * ny + 1.0);
  // Unit vector toward the light: azimuth 315 degrees, altitude 45 degrees.
  const double lit = (nx * -0.5 + ny * 0.5 + std::numbers::sqrt2 / 2) / length;
  return static_cast<std::uint8_t>(1 + std::lround(std::clamp(lit, 0.0, 1.0) * 254.0));
}

void WriteRow(int y, std::uint8_t* bgr, void* context) {
  auto& c = *static_cast<WriterContext*>(context);
  const Grid& g = *c.grid;
  for (int x = 0; x < g.width; ++x, bgr += 3) {
    const int v = g.Get(x, y);
    const int e = (v == kOutside || v == kHole) ? 0 : v;
    if (e <= 0 && (!c.options->keepNegative || v == kOutside)) {
      bgr[0] = bgr[1] = bgr[2] = 0;
      ++c.summary->seaCells;
      continue;
    }
    const std::uint8_t red = c.options->relief ? Shade(g, *c.options, x, y) : 128;
    const std::uint32_t colour = EncodeElevation(e, red);
    bgr[0] = static_cast<std::uint8_t>(colour >> 16);
    bgr[1] = static_cast<std::uint8_t>(colour >> 8);
    bgr[2] = static_cast<std::uint8_t>(colour);
    ++c.summary->landCells;
  }
  if (c.progress != nullptr && y % g.k == 0) {
    c.progress(c.progressStart + (1.0 - c.progressStart) * (g.height - y) / g.height,
               c.progressContext);
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
  s.width = 360 * k;
  s.height = 180 * k;
  s.fileBytes = Bitmap24FileSize(s.width, s.height);

  GDALAllRegister();
  CQuietGdal quiet;
  std::unique_ptr<GDALDataset, GdalCloser> ds;
  SourceGrid src;
  if (!OpenSource(input, options, ds, src, m_szError, sizeof m_szError)) {
    return false;
  }

  // The output is claimed before the long work so that an unwritable place is
  // reported at once; the finished map replaces output only by renaming.
  const std::string partPath = std::string(output) + ".part";
  std::FILE* file = std::fopen(partPath.c_str(), "wb");
  if (file == nullptr) {
    char why[256];
    platform::SystemErrorText(platform::LastSystemError(), why, sizeof why);
    std::snprintf(m_szError, sizeof m_szError, "cannot write %s: %s", partPath.c_str(), why);
    return false;
  }
  const auto abandon = [&]() {
    if (file != nullptr) {
      std::fclose(file);
      file = nullptr;
    }
    std::error_code ignored;
    std::filesystem::remove(partPath, ignored);
    return false;
  };

  Grid grid;
  grid.width = s.width;
  grid.height = s.height;
  grid.k = k;
  try {
    grid.cells.assign(static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height),
                      kHole);
    CSampler sampler(src, options, grid, s);
    if (!sampler.Run(progress, progressContext, 0.7, m_szError, sizeof m_szError)) {
      return abandon();
    }
    FillHoles(grid, options.fillDistance < 0 ? k : options.fillDistance, s);
    for (std::int16_t v : grid.cells) {
      s.outsideCells += v == kOutside ? 1 : 0;
    }
    WriterContext context{&grid, &options, &s, progress, progressContext, 0.75};
    char why[256] = {};
    if (!WriteBitmap24(file, s.width, s.height, WriteRow, &context, why, sizeof why)) {
      char sys[256];
      platform::SystemErrorText(platform::LastSystemError(), sys, sizeof sys);
      std::snprintf(m_szError, sizeof m_szError, "%s: %s (%s)", partPath.c_str(), why, sys);
      return abandon();
    }
  } catch (const std::bad_alloc&) {
    std::snprintf(m_szError, sizeof m_szError, "not enough memory for a %d x %d map", s.width,
                  s.height);
    return abandon();
  }
  s.cellsWritten = static_cast<std::int64_t>(s.width) * s.height;
  const bool flushed = std::fflush(file) == 0;
  const bool closed = std::fclose(file) == 0;
  file = nullptr;
  if (!flushed || !closed) {
    char sys[256];
    platform::SystemErrorText(platform::LastSystemError(), sys, sizeof sys);
    std::snprintf(m_szError, sizeof m_szError, "finishing %s failed: %s", partPath.c_str(), sys);
    return abandon();
  }
  std::error_code ec;
  std::filesystem::rename(partPath, output, ec);
  if (ec) {
    std::snprintf(m_szError, sizeof m_szError, "cannot replace %s with %s: %s", output,
                  partPath.c_str(), ec.message().c_str());
    return abandon();
  }
  if (progress != nullptr) {
    progress(1.0, progressContext);
  }
  return true;
}

}  // namespace mapmaker
