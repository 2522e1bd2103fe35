// The terrain engine: the terrain map and the mapping between positions and
// pixels, the colour encoding of elevations and the cell identifier, the
// coarse and fine grids published into the terrain record, the elevation
// override table and the cell sizes in metres. The main dialog owns one
// CTerrainEngine by value (about 600 KB: the two grid back buffers live
// inside it, so nothing is allocated per tick) and calls it from its
// start-up and timer handlers.
//
// Units: positions in degrees (latitude north positive, longitude east
// positive), elevations in whole metres, map columns from the west edge
// (longitude -180) and rows from the north edge (latitude +90). Grids are
// indexed [column][row].
//
// Threading: one thread (the dialog's), no locks. The record is shared with
// other processes without synchronisation: the grids are published by two
// block copies per cycle.
#pragma once

#include <cstdint>

#include "platform/bitmap.h"
#include "shm/CTrnSimShm.h"
#include "shm/TrnInterfaceShm.h"

// What LoadTerrainMap needs from the window that shows the status lines:
// the owner passes status line 1's text buffer, and this to show both lines.
class ITerrainStatusView {
 public:
  // Transfers both status texts to their controls at once.
  virtual void ShowStatusLines() = 0;

 protected:
  ~ITerrainStatusView() = default;
};

// The nine sub-points of a fine-grid cell, as InterpolateSubPoint numbers
// them. South-east comes before south.
enum SubPointDirection : int {
  kSubNorthWest = 0,
  kSubNorth = 1,
  kSubNorthEast = 2,
  kSubWest = 3,
  kSubCentre = 4,  // not interpolated: the coarse point's own elevation
  kSubEast = 5,
  kSubSouthWest = 6,
  kSubSouthEast = 7,
  kSubSouth = 8,
};

class CTerrainEngine {
 public:
  static constexpr int kLoadErrorSize = 1024;  // m_szLoadError, NUL included
  static constexpr int kBandColumns = 15;      // coarse columns filled per tick
  static constexpr int kMinMapWidth = 360;     // one pixel per degree at least
  static constexpr int kMinMapHeight = 180;
  // The one map the override table was entered for: 12 pixels per degree.
  static constexpr int kOverrideMapWidth = 4320;
  static constexpr int kOverrideMapHeight = 2160;
  // Head of every load error text: "<class>::LoadPicture" and a line feed.
  static constexpr const char kLoadPictureTag[] = "COrogridDlg::LoadPicture\n";
  // Room a status line needs for "Sorry :: " and the longest load error.
  static constexpr int kStatusLineSize = kLoadErrorSize + 16;

  using CoarseGrid = TrnGridPoint[trn::kCoarseSize][trn::kCoarseSize];
  using FineGrid = TrnGridPoint[trn::kFineSize][trn::kFineSize][trn::kSubDiv][trn::kSubDiv];

  CTerrainEngine();
  CTerrainEngine(const CTerrainEngine&) = delete;
  CTerrainEngine& operator=(const CTerrainEngine&) = delete;

  // The mapped terrain record (not owned), or null while not connected.
  // Operations that write the record skip those writes while it is null;
  // UpdateTerrain does nothing and returns false.
  void AttachRecord(TrnShmData* pShmData) { m_pShmData = pShmData; }
  TrnShmData* Record() const { return m_pShmData; }
  // The simulation companion's reader (not owned; null: none). While a
  // simulation keeps the companion, the aircraft's values are read from its
  // frames, whole; otherwise from the record's fields as before.
  void AttachSimulation(CTrnSimWatch* pSimWatch) { m_pSimWatch = pSimWatch; }

  // The aircraft's values as the simulation gave them.
  struct AircraftInput {
    double latitude;
    double longitude;
    double heading;
    std::int32_t simulationState;
  };
  // Reads them now: one whole frame of the simulation's companion while a
  // simulation keeps one (the last whole frame while its writer is stuck
  // inside one), else the record's fields; zeros without a record.
  AircraftInput ReadAircraftInput();

  // --- Map loading (once, at start-up) ---------------------------------

  // The installed terrain map's path: Bitmaps/Terrain/KtTerrainMap.bmp
  // under the install folder (platform::InstallFolder), with the platform's
  // separator. False with buf empty when it cannot be formed or does not fit.
  static bool TerrainMapPath(char* buf, int size);
  // Loads the map from the installed path (TerrainMapPath). Writes
  // "Loading Kt Orogrid Map" into statusLine1 and shows both lines; on
  // failure writes "Sorry :: <load error>" (cut to statusLine1Size - 1
  // characters; kStatusLineSize holds all of it) and shows them again.
  // clientDC is the dialog's native client-area DC (HDC on Win32; may be
  // null, and is unused on POSIX). True when the map is loaded.
  bool LoadTerrainMap(void* clientDC, char* statusLine1, int statusLine1Size,
                      ITerrainStatusView& view);
  // The same with a path of the caller's: for tests and tools only; the
  // program always loads the fixed path.
  bool LoadTerrainMapFrom(void* clientDC, const char* path, char* statusLine1, int statusLine1Size,
                          ITerrainStatusView& view);
  // Creates the terrain memory DC compatible with clientDC, then LoadPicture.
  // Returns LoadPicture's result (pixel reads do not need the DC).
  bool CreateTerrainDC(void* clientDC, const char* path);
  // Loads the bitmap at path and selects it into the terrain DC. On failure
  // m_szLoadError holds kLoadPictureTag, the path, "\n" and the reason, cut
  // to 1023 characters, and nothing is loaded. A map narrower than 360 or
  // lower than 180 pixels is refused (no whole pixel per degree). The
  // override table applies only to a map of exactly 4320 x 2160 pixels.
  bool LoadPicture(const char* path);

  // Start-up seeding, after a successful load: writes the record's ten grid
  // dimensions (150, 150, 17, 17, 3, 3, 8, 8, 75, 75), sets the band to 15
  // columns, clears the coarse back buffer, puts the aircraft at latitude 0,
  // longitude 0 and converts that position (pixel, sub-cell, scales and the
  // record's sub-cell spans).
  void StartEngine();

  // --- Positions, pixels, colours (map geometry) ------------------------

  // Column of a longitude (degrees): (longitude + 180) x pixels per degree,
  // truncated, clamped to 0..width (width itself at +180 and beyond). Sets
  // the longitude scales, m_subX (0..2) and the record's subCellLonSpan.
  // NaN gives column 0, sub-column 0; infinities and values whose column
  // does not fit an int give the edge they lie toward (sub-column 2).
  int LongitudeToPixel(double longitude);
  // Row of a latitude (degrees): (90 - latitude) x pixels per degree, the
  // same rules against the height (height itself at -90); sets m_subY and
  // subCellLatSpan.
  int LatitudeToPixel(double latitude);
  // Colour value (0x00BBGGRR) of pixel (x, y); 0xFFFFFFFF off the map.
  std::uint32_t GetTerrainPixel(int x, int y) const { return m_bitmap.Pixel(x, y); }
  // Elevation in metres encoded by a colour: 0 for exactly 0, else
  // (blue - 100) x 100 + (green - 10); red is ignored.
  static int ColourToElevation(std::uint32_t colour);
  // column x 10000 + row, wrapped to 32 bits (no range check).
  static int MakeCellId(int column, int row);
  // Elevation (metres) of the aircraft's sub-point in the centre cell of the
  // fine grid last published in the record; 0 while not connected. At the
  // south pole itself (row = height) the aircraft's pixel is the last row's
  // across the pole (GlobePixel) and its sub-point that row's southern third.
  int GetAircraftElevation() const;

  // --- Grids (every tick) -------------------------------------------------

  // One tick: PrepareTick, WriteTick and FinishTick in a row. True on a
  // publishing tick. When the map file is found cut short or changed on
  // disk (checked before each publication, and any fault while reading it)
  // the map is lost: MapLost() turns true, LoadError() says why, and from
  // then on ticks do nothing; the record keeps the last grids published.
  bool UpdateTerrain();
  // The tick in three steps, so that the record's readers wait only for
  // its writes. PrepareTick does everything that reads the map, the file or
  // the aircraft's input, into the engine's own buffers and nothing into
  // the record: the band of the previous tick's position, on the sweep's
  // last band the file check, the page release and the refined fine grid,
  // then the new position's pixel, sub-cell, cell id, colour (of the map
  // pixel GlobePixel gives, so at longitude +180 that of column 0) and
  // elevation. True when the tick publishes grids. WriteTick makes the
  // tick's writes into the record (the grids on a publishing tick, the
  // sub-cell spans), block copies of fixed buffers only; nothing when the
  // tick was not prepared whole (no record, the map lost). FinishTick
  // clears the coarse back buffer after a publication.
  bool PrepareTick();
  void WriteTick();
  void FinishTick();
  bool MapLost() const { return m_mapLost; }
  // Test seam: hook(context) runs inside every tick's guarded map reads,
  // after the band's pixels, where a map on a slow or failing disk holds
  // the tick. Null (the default): none.
  void SetMapReadHook(void (*hook)(void* context), void* context) {
    m_mapReadHook = hook;
    m_pMapReadContext = context;
  }
  // Fills the next band; when the cycle is complete publishes the coarse
  // grid, clears the buffer, refines and publishes the fine grid. Position
  // arguments are the previous tick's (degrees; column and row). True when
  // the grids were published.
  bool RefreshGrids(double latitude, double longitude, int column, int row);
  // RefreshGrids up to the publication: fills the band and, when the sweep
  // is complete, checks the file, lets pages go and refines the fine grid
  // from the back buffer into the fine back buffer. True when both grids
  // wait in their buffers for WriteStagedGrids.
  bool StageGrids(double latitude, double longitude, int column, int row);
  // Copies the staged grids into the record (two block copies).
  void WriteStagedGrids();
  // Fills m_bandColumns columns of the coarse back buffer with the window
  // centred on pixel (column, row); latitude and longitude are not used.
  // Every point is a real pixel of the map (GlobePixel) and carries that
  // pixel's elevation, identifier and north-west corner. True when the
  // column counter wrapped to 0 (every 11th call with a band of 15).
  bool FillCoarseBand(double latitude, double longitude, int column, int row);
  // The map pixel (x, y) that window position (column, row) stands for,
  // which may lie past an edge of the map. Columns wrap around the globe,
  // 360 x pixels per degree of them (a wider map's last columns are never
  // reached); rows past a pole continue over it down the other side of the
  // globe: the same latitudes, the longitude 180 degrees away, the row order
  // reversed. Continuing over the pole rather than holding the pole row:
  // that is the ground an aircraft crossing the pole really flies over, and
  // a held row would repeat one latitude's terrain for up to 75 rows, each
  // point then named by a latitude it does not lie at. True when (column,
  // row) lies over a pole, where going south in the window goes north on
  // the map. No map: (0, 0), false.
  bool GlobePixel(int column, int row, int& x, int& y) const;
  // m_nextColumn = 0 and every byte of the coarse back buffer 0.
  void ClearCoarseBuffer();
  // Refines the 17 x 17 cells around coarse point (75, 75) of the coarse
  // grid being refined (the record's, or the staged back buffer while
  // StageGrids refines) into the fine back buffer.
  void RefineFineGrid();
  // Cell (a, b) of the fine grid (0..16) from coarse point (i, j) (0..149):
  // the nine sub-cells of that point's pixel, with its identifier, each at
  // the north-west corner of its sub-cell; sub-row 0 is the pixel's
  // northern third wherever the pixel lies in the window.
  void RefineCell(int a, int b, int i, int j);
  // Elevation (metres) of one sub-point of coarse point (i, j) of the
  // coarse grid being refined (see RefineFineGrid); direction is a SubPointDirection other than the
  // centre, named as on the map: for a point over a pole (see GlobePixel)
  // the map's north neighbour is the next row down the grid. 0 while not
  // connected.
  int InterpolateSubPoint(int direction, int i, int j) const;
  // 0 when e is 0, else the mean of the mid-points between e and each
  // neighbour, truncated toward zero (metres).
  static int BlendElevations(int e, int n1, int n2, int n3);
  // index + offset clamped to 0..149.
  static int ClampGridIndex(int index, int offset);

  // --- Elevation overrides -------------------------------------------------

  // True when cellId is in either override table; then all nine
  // m_subElevation values are written. False leaves them untouched.
  bool LookupElevationOverride(int cellId);
  // The seven flat cells: one value to all nine sub-points. False (nothing
  // written) for any other identifier.
  bool LookupFlatOverride(int cellId);

  // --- Cell sizes in metres ---------------------------------------------

  // East-west width (metres) of a map pixel at a latitude (degrees).
  double GetPixelWidthMetres(double latitude) const;
  // North-south height (metres) of a map pixel at a latitude (degrees).
  double GetPixelHeightMetres(double latitude) const;
  // Length (metres) of a pixel along a heading (degrees from north); the
  // height comes before the width.
  static double GetPixelSizeAlongHeading(double heading, double height, double width);

  // The timer cycle's three cell-size phases, each reading the record
  // (nothing happens while not connected): 1 stores the width at the
  // aircraft's latitude, 2 the height, 3 the length along the aircraft's
  // heading limited to 1.0..1000000.0 (NaN gives 1.0).
  void UpdatePixelWidth();
  void UpdatePixelHeight();
  void UpdatePixelSizeAlongHeading();

  // --- State for the dialog, the display and tests ------------------------

  const char* LoadError() const { return m_szLoadError; }
  bool OverridesApply() const { return m_overridesApply; }
  const platform::CBitmapFile& TerrainBitmap() const { return m_bitmap; }
  void* TerrainDC() const { return m_bitmap.NativeDC(); }  // HDC on Win32
  int MapWidth() const { return m_mapWidth; }
  int MapHeight() const { return m_mapHeight; }
  // Columns and rows the globe covers: 360 and 180 x pixels per degree.
  int GlobeWidth() const { return m_globeWidth; }
  int GlobeHeight() const { return m_globeHeight; }
  double PixelsPerDegLon() const { return m_pixelsPerDegLon; }
  double PixelsPerDegLat() const { return m_pixelsPerDegLat; }
  double DegPerPixelLon() const { return m_degPerPixelLon; }
  double DegPerPixelLat() const { return m_degPerPixelLat; }
  int SubX() const { return m_subX; }
  int SubY() const { return m_subY; }
  int CellId() const { return m_cellId; }
  double Latitude() const { return m_latitude; }  // position of the last tick
  double Longitude() const { return m_longitude; }
  int PixelX() const { return m_pixelX; }
  int PixelY() const { return m_pixelY; }
  std::uint32_t TerrainColour() const { return m_terrainColour; }
  int Elevation() const { return m_elevation; }
  int SubElevation(int s, int t) const { return m_subElevation[s][t]; }
  double MetresPerPixelLon() const { return m_metresPerPixelLon; }
  double MetresPerPixelLat() const { return m_metresPerPixelLat; }
  double MetresPerPixelHeading() const { return m_metresPerPixelHeading; }
  int BandColumns() const { return m_bandColumns; }
  int NextColumn() const { return m_nextColumn; }
  const CoarseGrid& CoarseBuffer() const { return m_coarseBuffer; }
  const FineGrid& FineBuffer() const { return m_fineBuffer; }

  // Cell sizes may also be kept by the caller; these store them here.
  void SetMetresPerPixelLon(double metres) { m_metresPerPixelLon = metres; }
  void SetMetresPerPixelLat(double metres) { m_metresPerPixelLat = metres; }
  void SetMetresPerPixelHeading(double metres) { m_metresPerPixelHeading = metres; }

 private:
  void SetLoadError(const char* path, const char* reason);
  bool PrepareTickUnguarded();
  // Column and row as LongitudeToPixel and LatitudeToPixel give them, with
  // the same scales and sub-cell, without the record's span.
  int ConvertLongitude(double longitude);
  int ConvertLatitude(double latitude);
  // The aircraft's sub-point elevation in a fine grid (GetAircraftElevation).
  int AircraftElevationIn(const FineGrid& grid) const;
  // The coarse grid refinement reads: the staged buffer or the record's.
  const CoarseGrid& RefineSource() const {
    return m_pRefineSource != nullptr ? *m_pRefineSource : m_pShmData->coarseGrid;
  }
  void NoteMapLost();
  // True when row j of coarse column i, as last filled, lies over a pole.
  bool OverPole(int i, int j) const;

  TrnShmData* m_pShmData = nullptr;
  CTrnSimWatch* m_pSimWatch = nullptr;
  void (*m_mapReadHook)(void* context) = nullptr;  // test seam, see SetMapReadHook
  void* m_pMapReadContext = nullptr;
  AircraftInput m_lastFrameInput = {};
  platform::CBitmapFile m_bitmap;  // the terrain bitmap in its memory DC
  std::uint32_t m_terrainColour = 0;
  char m_szLoadError[kLoadErrorSize] = {};
  char m_szMapPath[kLoadErrorSize] = {};  // of the last load, for later reasons
  bool m_overridesApply = false;          // the map is the table's 4320 x 2160
  bool m_mapLost = false;
  bool m_gridsStaged = false;                   // both grids wait in their buffers for the record
  bool m_tickReady = false;                     // PrepareTick ran to its end: WriteTick may write
  const CoarseGrid* m_pRefineSource = nullptr;  // null: the record's coarse grid
  int m_releasedFirstRow = -1;                  // grid's first row when pages were last let go
  int m_mapWidth = 0;
  int m_mapHeight = 0;
  int m_globeWidth = 0;   // 360 x pixels per degree: the columns that wrap
  int m_globeHeight = 0;  // 180 x pixels per degree: the rows pole to pole
  double m_pixelsPerDegLat = 0.0;
  double m_pixelsPerDegLon = 0.0;
  double m_degPerPixelLat = 0.0;
  double m_degPerPixelLon = 0.0;
  int m_subX = 0;
  int m_subY = 0;
  int m_cellId = 0;
  double m_latitude = 0.0;
  double m_longitude = 0.0;
  int m_pixelX = 0;
  int m_pixelY = 0;
  int m_elevation = 0;
  int m_subElevation[trn::kSubDiv][trn::kSubDiv] = {};
  double m_metresPerPixelLon = 0.0;
  double m_metresPerPixelLat = 0.0;
  double m_metresPerPixelHeading = 0.0;
  int m_bandColumns = kBandColumns;
  int m_nextColumn = 0;
  // Window row 0's row (before GlobePixel) of each coarse column as it was
  // filled: which points lie over a pole, for the refinement's neighbours.
  int m_columnOriginRow[trn::kCoarseSize] = {};
  CoarseGrid m_coarseBuffer = {};
  FineGrid m_fineBuffer = {};
};
