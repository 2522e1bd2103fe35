// The terrain engine: map loading, position-to-pixel conversion, the grid
// sweep and its publication, the override lookups and the cell sizes.
// Threading: the owner's thread only (the dialog's timer); the record is
// shared with other processes without locks.
#include "terrain/TerrainEngine.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/module_path.h"
#include "terrain/CellSize.h"
#include "terrain/TerrainOverrides.h"
#include "text/TextFcns.h"

namespace {

constexpr int kCoarseLast = trn::kCoarseSize - 1;  // 149
constexpr double kSubCellFactor = 3.333;           // fraction of a pixel to sub-cell
constexpr double kMinHeadingMetres = 1.0;
constexpr double kMaxHeadingMetres = 1000000.0;
constexpr int kReleaseRowStep = 50;  // rows the grid moves before pages are let go

// Truncation toward zero that never converts a value an int cannot hold
// (that conversion is undefined): NaN gives nanResult, values at or beyond
// the int range give the limit they lie toward. Every other value keeps its
// exact truncation.
int TruncateToInt(double v, int nanResult) {
  if (std::isnan(v)) {
    return nanResult;
  }
  if (v >= 2147483648.0) {
    return INT_MAX;
  }
  if (v <= -2147483649.0) {
    return INT_MIN;
  }
  return static_cast<int>(v);
}

// ClampI(lo, base + offset, hi) without the sum overflowing.
int ClampSum(int lo, int base, int offset, int hi) {
  const long long v = static_cast<long long>(base) + offset;
  if (v >= hi) {
    return hi;
  }
  if (v < lo) {
    return lo;
  }
  return static_cast<int>(v);
}

// Appends text to buf (capacity size, NUL included), cutting what does not fit.
void Append(char* buf, std::size_t size, std::size_t& used, const char* text) {
  if (text == nullptr) {
    return;
  }
  while (*text != '\0' && used + 1 < size) {
    buf[used++] = *text++;
  }
  buf[used] = '\0';
}

// Neighbours (dx east, dy south) blended into each sub-point, by
// SubPointDirection. The centre's entry is never used for a real blend: it
// gives the centre's own elevation.
constexpr int kNeighbourOffsets[9][3][2] = {
    {{-1, -1}, {0, -1}, {-1, 0}},   // 0 north-west
    {{-1, -1}, {0, -1}, {+1, -1}},  // 1 north
    {{0, -1}, {+1, -1}, {+1, 0}},   // 2 north-east
    {{-1, -1}, {-1, 0}, {-1, +1}},  // 3 west
    {{0, 0}, {0, 0}, {0, 0}},       // 4 centre
    {{+1, -1}, {+1, 0}, {+1, +1}},  // 5 east
    {{-1, 0}, {-1, +1}, {0, +1}},   // 6 south-west
    {{+1, 0}, {+1, +1}, {0, +1}},   // 7 south-east
    {{-1, +1}, {0, +1}, {+1, +1}},  // 8 south
};

}  // namespace

CTerrainEngine::CTerrainEngine() = default;

// --- Map loading ------------------------------------------------------------

bool CTerrainEngine::TerrainMapPath(char* buf, int size) {
  if (buf == nullptr || size <= 0) {
    return false;
  }
  if (!platform::InstallFolder(buf, size)) {
    return false;
  }
  const char sep = platform::PathSeparator();
  const char tail[] = {'B', 'i', 't', 'm', 'a', 'p', 's', sep, 'T', 'e', 'r',
                       'r', 'a', 'i', 'n', sep, 'K', 't', 'T', 'e', 'r', 'r',
                       'a', 'i', 'n', 'M', 'a', 'p', '.', 'b', 'm', 'p', '\0'};
  const std::size_t used = std::strlen(buf);
  if (used + sizeof tail > static_cast<std::size_t>(size)) {
    buf[0] = '\0';
    return false;
  }
  std::memcpy(buf + used, tail, sizeof tail);
  return true;
}

bool CTerrainEngine::LoadTerrainMap(void* clientDC, char* statusLine1, int statusLine1Size,
                                    ITerrainStatusView& view) {
  char path[kLoadErrorSize];
  if (!TerrainMapPath(path, sizeof path)) {
    FormatTextSafe(statusLine1, statusLine1Size, "%s", "Loading Kt Orogrid Map");
    view.ShowStatusLines();
    SetLoadError("", "the program's folder, where the map lies, cannot be found");
    FormatTextSafe(statusLine1, statusLine1Size, "Sorry :: %s", m_szLoadError);
    view.ShowStatusLines();
    return false;
  }
  return LoadTerrainMapFrom(clientDC, path, statusLine1, statusLine1Size, view);
}

bool CTerrainEngine::LoadTerrainMapFrom(void* clientDC, const char* path, char* statusLine1,
                                        int statusLine1Size, ITerrainStatusView& view) {
  FormatTextSafe(statusLine1, statusLine1Size, "%s", "Loading Kt Orogrid Map");
  view.ShowStatusLines();
  if (!CreateTerrainDC(clientDC, path)) {
    FormatTextSafe(statusLine1, statusLine1Size, "Sorry :: %s", m_szLoadError);
    view.ShowStatusLines();
    return false;
  }
  return true;
}

bool CTerrainEngine::CreateTerrainDC(void* clientDC, const char* path) {
  // A refused DC only stops drawing the map; pixel reads do not need it.
  m_bitmap.CreateMemoryDC(clientDC);
  return LoadPicture(path);
}

bool CTerrainEngine::LoadPicture(const char* path) {
  m_overridesApply = false;
  m_mapLost = false;
  m_releasedFirstRow = -1;
  CopyText(m_szMapPath, path != nullptr ? path : "", kLoadErrorSize);
  if (!m_bitmap.Load(path)) {
    m_mapWidth = 0;
    m_mapHeight = 0;
    m_globeWidth = 0;
    m_globeHeight = 0;
    SetLoadError(path, m_bitmap.ErrorText());
    return false;
  }
  const int width = m_bitmap.Width();
  const int height = m_bitmap.Height();
  if (width < kMinMapWidth || height < kMinMapHeight) {
    // Such a map has no whole pixel per degree: every conversion would
    // divide by zero.
    m_bitmap.Unload();
    m_mapWidth = 0;
    m_mapHeight = 0;
    m_globeWidth = 0;
    m_globeHeight = 0;
    char reason[160];
    std::snprintf(reason, sizeof reason,
                  "map of %d x %d pixels is smaller than the 360 x 180 of one pixel per degree",
                  width, height);
    SetLoadError(path, reason);
    return false;
  }
  m_mapWidth = width;
  m_mapHeight = height;
  m_globeWidth = width / 360 * 360;
  m_globeHeight = height / 180 * 180;
  // The override table names pixels of the 12 pixel-per-degree map it was
  // entered for; on any other map its identifiers are other places.
  m_overridesApply = width == kOverrideMapWidth && height == kOverrideMapHeight;
  return true;
}

void CTerrainEngine::SetLoadError(const char* path, const char* reason) {
  // Assembled whole, then cut to 1023 characters by the copy.
  char text[2 * kLoadErrorSize];
  std::size_t used = 0;
  text[0] = '\0';
  Append(text, sizeof text, used, kLoadPictureTag);
  Append(text, sizeof text, used, path);
  Append(text, sizeof text, used, "\n");
  Append(text, sizeof text, used, reason);
  CopyText(m_szLoadError, text, kLoadErrorSize);
}

void CTerrainEngine::StartEngine() {
  if (m_pShmData != nullptr) {
    m_pShmData->coarseSizeX = trn::kCoarseSize;
    m_pShmData->coarseSizeY = trn::kCoarseSize;
    m_pShmData->fineSizeX = trn::kFineSize;
    m_pShmData->fineSizeY = trn::kFineSize;
    m_pShmData->subDivX = trn::kSubDiv;
    m_pShmData->subDivY = trn::kSubDiv;
    m_pShmData->fineCentreX = trn::kFineCentre;
    m_pShmData->fineCentreY = trn::kFineCentre;
    m_pShmData->coarseCentreX = trn::kCoarseCentre;
    m_pShmData->coarseCentreY = trn::kCoarseCentre;
  }
  m_bandColumns = kBandColumns;
  ClearCoarseBuffer();
  m_latitude = 0.0;
  m_longitude = 0.0;
  m_pixelX = LongitudeToPixel(0.0);
  m_pixelY = LatitudeToPixel(0.0);
}

// --- Positions, pixels, colours -------------------------------------------

int CTerrainEngine::LongitudeToPixel(double longitude) {
  const int column = ConvertLongitude(longitude);
  if (m_pShmData != nullptr) {
    m_pShmData->subCellLonSpan = m_degPerPixelLon / 3.0;
  }
  return column;
}

int CTerrainEngine::LatitudeToPixel(double latitude) {
  const int row = ConvertLatitude(latitude);
  if (m_pShmData != nullptr) {
    m_pShmData->subCellLatSpan = m_degPerPixelLat / 3.0;
  }
  return row;
}

int CTerrainEngine::ConvertLongitude(double longitude) {
  m_pixelsPerDegLon = static_cast<double>(m_mapWidth / 360);
  const double f = (longitude + 180.0) * m_pixelsPerDegLon;
  const int column = ClampI(0, TruncateToInt(f, 0), m_mapWidth);
  // No map: no scale (a loaded map has at least one pixel per degree).
  m_degPerPixelLon = m_pixelsPerDegLon > 0.0 ? 1.0 / m_pixelsPerDegLon : 0.0;
  // Against the clamped column, so off the map the fraction exceeds 1.
  m_subX = ClampI(0, TruncateToInt(std::fabs((f - column) * kSubCellFactor), 0), 2);
  return column;
}

int CTerrainEngine::ConvertLatitude(double latitude) {
  m_pixelsPerDegLat = static_cast<double>(m_mapHeight / 180);
  const double f = (90.0 - latitude) * m_pixelsPerDegLat;
  const int row = ClampI(0, TruncateToInt(f, 0), m_mapHeight);
  m_degPerPixelLat = m_pixelsPerDegLat > 0.0 ? 1.0 / m_pixelsPerDegLat : 0.0;
  m_subY = ClampI(0, TruncateToInt(std::fabs((f - row) * kSubCellFactor), 0), 2);
  return row;
}

int CTerrainEngine::ColourToElevation(std::uint32_t colour) {
  if (colour == 0) {
    return 0;
  }
  const int green = static_cast<int>((colour >> 8) & 0xFFu);
  const int blue = static_cast<int>((colour >> 16) & 0xFFu);
  return (blue - 100) * 100 + (green - 10);
}

int CTerrainEngine::MakeCellId(int column, int row) {
  // In 64 bits, then wrapped: only maps wider than 214748 columns wrap.
  return static_cast<int>(static_cast<std::int32_t>(
      static_cast<std::uint32_t>(static_cast<std::int64_t>(column) * 10000 + row)));
}

int CTerrainEngine::GetAircraftElevation() const {
  if (m_pShmData == nullptr) {
    return 0;
  }
  return AircraftElevationIn(m_pShmData->fineGrid);
}

int CTerrainEngine::AircraftElevationIn(const FineGrid& grid) const {
  // Over the pole the window runs north on the map: the sub-row the
  // conversion gives counts from the pole, the fine cell's from the north.
  int x = 0;
  int y = 0;
  const int subY = GlobePixel(m_pixelX, m_pixelY, x, y) ? 2 - m_subY : m_subY;
  return grid[trn::kFineCentre][trn::kFineCentre][m_subX][subY].elevation;
}

// --- Grids ------------------------------------------------------------------

bool CTerrainEngine::UpdateTerrain() {
  const bool published = PrepareTick();
  WriteTick();
  FinishTick();
  return published;
}

bool CTerrainEngine::PrepareTick() {
  m_tickReady = false;
  m_gridsStaged = false;
  if (m_pShmData == nullptr || m_mapLost) {
    return false;
  }
  // Every pixel read of the tick runs under the bitmap's guard: a map file
  // cut short on disk ends the tick instead of the program.
  struct Tick {
    CTerrainEngine* engine;
    bool published;
  } tick{this, false};
  const bool read = m_bitmap.ReadGuarded(
      [](void* context) {
        auto* t = static_cast<Tick*>(context);
        t->published = t->engine->PrepareTickUnguarded();
        if (t->engine->m_mapReadHook != nullptr) {
          t->engine->m_mapReadHook(t->engine->m_pMapReadContext);
        }
      },
      &tick);
  if (!read) {
    // Nothing of a tick the map failed in goes into the record.
    m_tickReady = false;
    NoteMapLost();
    return false;
  }
  return tick.published;
}

bool CTerrainEngine::PrepareTickUnguarded() {
  // The order matters: the grids follow the previous tick's position.
  const bool staged = StageGrids(m_latitude, m_longitude, m_pixelX, m_pixelY);
  if (m_mapLost) {
    return false;
  }
  const AircraftInput input = ReadAircraftInput();
  m_latitude = input.latitude;
  m_longitude = input.longitude;
  m_pixelX = ConvertLongitude(m_longitude);
  m_pixelY = ConvertLatitude(m_latitude);
  m_cellId = MakeCellId(m_pixelX, m_pixelY);
  // The colour of the pixel the grids put under the aircraft: at +180 and
  // -90 the conversion's column or row lies one past the map.
  int x = 0;
  int y = 0;
  GlobePixel(m_pixelX, m_pixelY, x, y);
  m_terrainColour = GetTerrainPixel(x, y);
  // From the fine grid this tick publishes, or the one last published.
  m_elevation = staged ? AircraftElevationIn(m_fineBuffer) : GetAircraftElevation();
  m_tickReady = true;
  return staged;
}

void CTerrainEngine::WriteTick() {
  if (m_pShmData == nullptr || !m_tickReady) {
    return;
  }
  m_tickReady = false;
  if (m_gridsStaged) {
    WriteStagedGrids();
  }
  m_pShmData->subCellLonSpan = m_degPerPixelLon / 3.0;
  m_pShmData->subCellLatSpan = m_degPerPixelLat / 3.0;
}

void CTerrainEngine::FinishTick() {
  if (m_gridsStaged) {
    m_gridsStaged = false;
    ClearCoarseBuffer();
  }
}

void CTerrainEngine::NoteMapLost() {
  m_mapLost = true;
  SetLoadError(m_szMapPath, m_bitmap.ErrorText());
}

bool CTerrainEngine::RefreshGrids(double latitude, double longitude, int column, int row) {
  if (!StageGrids(latitude, longitude, column, row)) {
    return false;
  }
  WriteStagedGrids();
  m_gridsStaged = false;
  ClearCoarseBuffer();
  return true;
}

bool CTerrainEngine::StageGrids(double latitude, double longitude, int column, int row) {
  m_gridsStaged = false;
  if (!FillCoarseBand(latitude, longitude, column, row)) {
    return false;
  }
  if (m_pShmData == nullptr) {
    ClearCoarseBuffer();  // a complete sweep with nowhere to publish it
    return false;
  }
  // Once per publication: a map cut short or changed on disk since the
  // last one is not published from. The record keeps the last good grids.
  if (!m_bitmap.CheckFile()) {
    ClearCoarseBuffer();
    NoteMapLost();
    return false;
  }
  // The rows of this sweep stay in memory, the rest of a map read in place
  // may go: a long flight keeps only the pages around the aircraft. Only
  // once the grid has moved a good part of its height, so a steady flight
  // pays for it rarely.
  const int firstRow = ClampSum(0, row, -trn::kCoarseCentre, m_mapHeight - 1);
  if (m_releasedFirstRow < 0 || std::abs(firstRow - m_releasedFirstRow) >= kReleaseRowStep) {
    m_bitmap.ReleaseRowsOutside(firstRow, ClampSum(0, firstRow, kCoarseLast, m_mapHeight - 1));
    m_releasedFirstRow = firstRow;
  }
  // Refined from the sweep as it will be published: the same points the
  // record's copy will hold.
  m_pRefineSource = &m_coarseBuffer;
  RefineFineGrid();
  m_pRefineSource = nullptr;
  m_gridsStaged = true;
  return true;
}

void CTerrainEngine::WriteStagedGrids() {
  std::memcpy(m_pShmData->coarseGrid, m_coarseBuffer, sizeof m_coarseBuffer);
  std::memcpy(m_pShmData->fineGrid, m_fineBuffer, sizeof m_fineBuffer);
}

bool CTerrainEngine::GlobePixel(int column, int row, int& x, int& y) const {
  x = 0;
  y = 0;
  if (m_globeWidth <= 0 || m_globeHeight <= 0) {
    return false;
  }
  // Over a pole and back again after two heights: rows repeat every 2H.
  const long long h = m_globeHeight;
  long long r = static_cast<long long>(row) % (2 * h);
  if (r < 0) {
    r += 2 * h;
  }
  const bool over = r >= h;
  y = static_cast<int>(over ? 2 * h - 1 - r : r);
  const long long w = m_globeWidth;
  long long c = (static_cast<long long>(column) + (over ? w / 2 : 0)) % w;
  if (c < 0) {
    c += w;
  }
  x = static_cast<int>(c);
  return over;
}

bool CTerrainEngine::OverPole(int i, int j) const {
  // Between the poles, as nearly every point is, without the division.
  const long long row = static_cast<long long>(m_columnOriginRow[i]) + j;
  if (row >= 0 && row < m_globeHeight) {
    return false;
  }
  int x = 0;
  int y = 0;
  return GlobePixel(0, static_cast<int>(row), x, y);
}

bool CTerrainEngine::FillCoarseBand(double /*latitude*/, double /*longitude*/, int column,
                                    int row) {
  // The window is centred on the aircraft's pixel everywhere: past an edge
  // of the map it goes on around the globe (GlobePixel), so every point is
  // a pixel of the map. Holding the window at the edge instead would put
  // another place under the aircraft; reading past it, phantom terrain.
  const int originColumn = ClampSum(INT_MIN, column, -trn::kCoarseCentre, INT_MAX);
  const int originRow = ClampSum(INT_MIN, row, -trn::kCoarseCentre, INT_MAX);
  const int end = m_nextColumn + m_bandColumns;
  for (int i = m_nextColumn; i < end && i < trn::kCoarseSize; ++i) {
    if (i < 0 || m_globeWidth <= 0) {
      continue;
    }
    m_columnOriginRow[i] = originRow;
    TrnGridPoint* out = m_coarseBuffer[i];
    // One straight run of rows on each side of a pole: away from the poles
    // the whole column is one run, as it would be on a flat map.
    int j = 0;
    while (j < trn::kCoarseSize) {
      int px = 0;
      int y = 0;
      const bool over = GlobePixel(originColumn + i, originRow + j, px, y);
      const int step = over ? -1 : 1;
      const int rows = over ? y + 1 : m_globeHeight - y;
      const int runEnd = rows < trn::kCoarseSize - j ? j + rows : trn::kCoarseSize;
      const double longitude = px * m_degPerPixelLon - 180.0;
      for (int py = y; j < runEnd; ++j, py += step) {
        out[j].cellId = MakeCellId(px, py);
        out[j].elevation = ColourToElevation(m_bitmap.Pixel(px, py));
        out[j].latitude = 90.0 - py * m_degPerPixelLat;
        out[j].longitude = longitude;
      }
    }
  }
  m_nextColumn += m_bandColumns;
  if (m_nextColumn > trn::kCoarseSize) {
    m_nextColumn = 0;
  }
  return m_nextColumn == 0;
}

void CTerrainEngine::ClearCoarseBuffer() {
  m_nextColumn = 0;
  std::memset(static_cast<void*>(m_coarseBuffer), 0, sizeof m_coarseBuffer);
}

void CTerrainEngine::RefineFineGrid() {
  for (int b = 0; b < trn::kFineSize; ++b) {
    for (int a = 0; a < trn::kFineSize; ++a) {
      RefineCell(a, b, trn::kFineOrigin + a, trn::kFineOrigin + b);
    }
  }
}

void CTerrainEngine::RefineCell(int a, int b, int i, int j) {
  if (m_pShmData == nullptr || a < 0 || a >= trn::kFineSize || b < 0 || b >= trn::kFineSize ||
      i < 0 || i > kCoarseLast || j < 0 || j > kCoarseLast) {
    return;
  }
  // The identifier of the pixel refined, as its coarse point names it.
  const TrnGridPoint& centre = RefineSource()[i][j];
  const int id = centre.cellId;
  if (!m_overridesApply || !LookupElevationOverride(id)) {
    m_subElevation[0][0] = InterpolateSubPoint(kSubNorthWest, i, j);
    m_subElevation[1][0] = InterpolateSubPoint(kSubNorth, i, j);
    m_subElevation[2][0] = InterpolateSubPoint(kSubNorthEast, i, j);
    m_subElevation[0][1] = InterpolateSubPoint(kSubWest, i, j);
    m_subElevation[1][1] = centre.elevation;
    m_subElevation[2][1] = InterpolateSubPoint(kSubEast, i, j);
    m_subElevation[0][2] = InterpolateSubPoint(kSubSouthWest, i, j);
    m_subElevation[1][2] = InterpolateSubPoint(kSubSouth, i, j);
    m_subElevation[2][2] = InterpolateSubPoint(kSubSouthEast, i, j);
  }
  const double dLat = m_degPerPixelLat / 3.0;
  const double dLon = m_degPerPixelLon / 3.0;
  // Running sums, not products: the sub-points' positions are exactly
  // these additions.
  double latitude = centre.latitude;
  for (int t = 0; t < trn::kSubDiv; ++t) {
    double longitude = centre.longitude;
    for (int s = 0; s < trn::kSubDiv; ++s) {
      TrnGridPoint& p = m_fineBuffer[a][b][s][t];
      p.cellId = id;
      p.elevation = m_subElevation[s][t];
      p.latitude = latitude;
      p.longitude = longitude;
      longitude += dLon;
    }
    latitude -= dLat;
  }
}

int CTerrainEngine::InterpolateSubPoint(int direction, int i, int j) const {
  if (m_pShmData == nullptr) {
    return 0;
  }
  i = ClampGridIndex(i, 0);
  j = ClampGridIndex(j, 0);
  const CoarseGrid& grid = RefineSource();
  const int e = grid[i][j].elevation;
  if (direction < 0 || direction > kSubSouth || direction == kSubCentre) {
    return e;
  }
  const auto& n = kNeighbourOffsets[direction];
  // Over a pole the map's south is up the grid. Every neighbour is a pixel
  // of the map: the window holds no other kind.
  const int south = OverPole(i, j) ? -1 : 1;
  const int n1 = grid[ClampGridIndex(i, n[0][0])][ClampGridIndex(j, south * n[0][1])].elevation;
  const int n2 = grid[ClampGridIndex(i, n[1][0])][ClampGridIndex(j, south * n[1][1])].elevation;
  const int n3 = grid[ClampGridIndex(i, n[2][0])][ClampGridIndex(j, south * n[2][1])].elevation;
  return BlendElevations(e, n1, n2, n3);
}

int CTerrainEngine::BlendElevations(int e, int n1, int n2, int n3) {
  if (e == 0) {
    return 0;  // sea level stays flat whatever the neighbours
  }
  const double centre = e;
  const double mean = ((n1 + centre) / 2.0 + (n2 + centre) / 2.0 + (n3 + centre) / 2.0) / 3.0;
  return static_cast<int>(mean);  // a mean of ints always fits
}

int CTerrainEngine::ClampGridIndex(int index, int offset) {
  return ClampSum(0, index, offset, kCoarseLast);
}

// --- Overrides --------------------------------------------------------------

bool CTerrainEngine::LookupElevationOverride(int cellId) {
  if (LookupFlatOverride(cellId)) {
    return true;
  }
  const terrain::ElevationOverride* entry = terrain::FindElevationOverride(cellId);
  if (entry == nullptr) {
    return false;
  }
  // The table is a picture [row][column]; m_subElevation is [column][row].
  for (int t = 0; t < trn::kSubDiv; ++t) {
    for (int s = 0; s < trn::kSubDiv; ++s) {
      m_subElevation[s][t] = entry->picture[t][s];
    }
  }
  return true;
}

bool CTerrainEngine::LookupFlatOverride(int cellId) {
  const terrain::FlatOverride* entry = terrain::FindFlatOverride(cellId);
  if (entry == nullptr) {
    return false;
  }
  for (auto& column : m_subElevation) {
    for (int& value : column) {
      value = entry->elevation;
    }
  }
  return true;
}

// --- Cell sizes -------------------------------------------------------------

double CTerrainEngine::GetPixelWidthMetres(double latitude) const {
  return terrain::PixelWidthMetres(latitude, m_degPerPixelLon);
}

double CTerrainEngine::GetPixelHeightMetres(double latitude) const {
  return terrain::PixelHeightMetres(latitude, m_degPerPixelLat);
}

double CTerrainEngine::GetPixelSizeAlongHeading(double heading, double height, double width) {
  return terrain::PixelSizeAlongHeading(heading, height, width);
}

CTerrainEngine::AircraftInput CTerrainEngine::ReadAircraftInput() {
  if (m_pSimWatch != nullptr && m_pSimWatch->Valid()) {
    TrnSimFrame frame{};
    if (m_pSimWatch->ReadFrame(frame)) {
      m_lastFrameInput =
          AircraftInput{frame.latitude, frame.longitude, frame.heading, frame.simulationState};
    }
    // A writer stuck inside a frame (killed while writing) leaves its last
    // whole frame standing; the record's fields may be half written.
    return m_lastFrameInput;
  }
  if (m_pShmData == nullptr) {
    return AircraftInput{};
  }
  const volatile TrnShmData& record = *m_pShmData;
  return AircraftInput{record.aircraftLatitude, record.aircraftLongitude, record.aircraftHeading,
                       record.simulationState};
}

void CTerrainEngine::UpdatePixelWidth() {
  if (m_pShmData != nullptr) {
    m_metresPerPixelLon = GetPixelWidthMetres(ReadAircraftInput().latitude);
  }
}

void CTerrainEngine::UpdatePixelHeight() {
  if (m_pShmData != nullptr) {
    m_metresPerPixelLat = GetPixelHeightMetres(ReadAircraftInput().latitude);
  }
}

void CTerrainEngine::UpdatePixelSizeAlongHeading() {
  if (m_pShmData != nullptr) {
    const double metres = GetPixelSizeAlongHeading(ReadAircraftInput().heading, m_metresPerPixelLat,
                                                   m_metresPerPixelLon);
    m_metresPerPixelHeading = ClampD(kMinHeadingMetres, metres, kMaxHeadingMetres);
  }
}
