// Tests of the terrain engine against maps written by the tests: loading and
// its messages, positions to pixels, the colour encoding, the grid sweep
// and its publication, the override table and the cell sizes.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/bitmap.h"
#include "platform/system_error.h"
#include "terrain/CellSize.h"
#include "terrain/TerrainEngine.h"
#include "terrain/TerrainOverrides.h"
#include "tests/support/BmpTestWriter.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Elevation of pixel (x, y) on the small test map: every pixel differs.
int SmallMapElevation(int x, int y) { return x * 20 + y; }

class StatusRecorder : public ITerrainStatusView {
 public:
  explicit StatusRecorder(const char* line) : m_line(line) {}
  void ShowStatusLines() override { shown.emplace_back(m_line); }
  std::vector<std::string> shown;

 private:
  const char* m_line;
};

class TerrainEngine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = bmptest::ScratchDir("terrain-engine");
    // 360 x 180: one pixel per degree, every pixel its own elevation.
    bmptest::WriteFile(s_dir / "small.bmp", bmptest::Make24(360, 180, [](int x, int y) {
                         return bmptest::ElevationColour(SmallMapElevation(x, y));
                       }));
    // 4320 x 2160 at one bit per pixel: 1000 m everywhere, 2000 m on the
    // pixel of cell 22960512.
    bmptest::WriteFile(
        s_dir / "world.bmp",
        bmptest::Make1(4320, 2160, bmptest::ElevationColour(1000), bmptest::ElevationColour(2000),
                       [](int x, int y) { return x == 2296 && y == 512; }));
    bmptest::WriteFile(s_dir / "narrow.bmp", bmptest::Make1(359, 180, 0, 0, nullptr_set));
    bmptest::WriteFile(s_dir / "low.bmp", bmptest::Make1(360, 179, 0, 0, nullptr_set));
    bmptest::WriteFile(s_dir / "w4000.bmp", bmptest::Make1(4000, 180, 0, 0, nullptr_set));
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::remove_all(s_dir, ec);
  }
  static bool nullptr_set(int, int) { return false; }

  void SetUp() override {
    m_record = std::make_unique<TrnShmData>();
    std::memset(static_cast<void*>(m_record.get()), 0, sizeof(TrnShmData));
    m_engine = std::make_unique<CTerrainEngine>();
  }
  void TearDown() override { platform::SetBitmapLoadFailure(0); }

  static std::string MapPath(const char* name) { return (s_dir / name).string(); }

  // Loads a map, connects the record and seeds the engine as start-up does.
  void Start(const char* name) {
    ASSERT_TRUE(m_engine->LoadPicture(MapPath(name).c_str())) << m_engine->LoadError();
    m_engine->AttachRecord(m_record.get());
    m_engine->StartEngine();
  }

  // Runs ticks with the aircraft at (latitude, longitude); returns how many
  // of them published.
  int Fly(double latitude, double longitude, int ticks) {
    m_record->aircraftLatitude = latitude;
    m_record->aircraftLongitude = longitude;
    int published = 0;
    for (int k = 0; k < ticks; ++k) {
      published += m_engine->UpdateTerrain() ? 1 : 0;
    }
    return published;
  }

  static std::filesystem::path s_dir;
  // The engine's input in this process's memory: no shared record, no simulation.
  std::unique_ptr<TrnShmData> m_record;
  std::unique_ptr<CTerrainEngine> m_engine;  // 600 KB: not on the stack
};
std::filesystem::path TerrainEngine::s_dir;

// --- Colours and identifiers --------------------------------------------------

TEST(TerrainEncoding, ColourToElevation) {
  const struct {
    std::uint32_t colour;
    int metres;
  } cases[] = {
      {0x00000000, 0}, {0x000000FF, -10010}, {0x00FFFFFF, 15745}, {0xFFFFFFFF, 15745},
      {0x00640A00, 0}, {0x007A3200, 2240},   {0x00640AFF, 0},     {0x00000100, -10009},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CTerrainEngine::ColourToElevation(c.colour), c.metres) << std::hex << c.colour;
  }
}

TEST(TerrainEncoding, MakeCellId) {
  EXPECT_EQ(CTerrainEngine::MakeCellId(2296, 512), 22960512);
  EXPECT_EQ(CTerrainEngine::MakeCellId(-3, 512), -29488);
  EXPECT_EQ(CTerrainEngine::MakeCellId(0, 0), 0);
  // Wraps instead of overflowing on absurd columns.
  EXPECT_EQ(CTerrainEngine::MakeCellId(214749, 0), static_cast<int>(2147490000LL - 4294967296LL));
}

// --- Loading ------------------------------------------------------------------

TEST_F(TerrainEngine, LoadSetsSizeAndScales) {
  Start("world.bmp");
  EXPECT_EQ(m_engine->MapWidth(), 4320);
  EXPECT_EQ(m_engine->MapHeight(), 2160);
  EXPECT_EQ(m_engine->PixelsPerDegLon(), 12.0);
  EXPECT_EQ(m_engine->PixelsPerDegLat(), 12.0);
  // 1/12 degree per pixel, a third of it per sub-cell.
  EXPECT_DOUBLE_EQ(m_engine->DegPerPixelLon(), 1.0 / 12.0);
  EXPECT_DOUBLE_EQ(m_record->subCellLonSpan, 1.0 / 36.0);
  EXPECT_DOUBLE_EQ(m_record->subCellLatSpan, 1.0 / 36.0);
  const int dims[] = {m_record->coarseSizeX,  m_record->coarseSizeY, m_record->fineSizeX,
                      m_record->fineSizeY,    m_record->subDivX,     m_record->subDivY,
                      m_record->fineCentreX,  m_record->fineCentreY, m_record->coarseCentreX,
                      m_record->coarseCentreY};
  const int expected[] = {150, 150, 17, 17, 3, 3, 8, 8, 75, 75};
  EXPECT_TRUE(std::equal(std::begin(dims), std::end(dims), std::begin(expected)));
}

TEST_F(TerrainEngine, MapsBelowOnePixelPerDegreeAreRefused) {
  for (const char* name : {"narrow.bmp", "low.bmp"}) {
    SCOPED_TRACE(name);
    const std::string path = MapPath(name);
    EXPECT_FALSE(m_engine->LoadPicture(path.c_str()));
    EXPECT_EQ(m_engine->MapWidth(), 0);
    const std::string head = std::string("COrogridDlg::LoadPicture\n") + path + "\n";
    const std::string error = m_engine->LoadError();
    EXPECT_EQ(error.substr(0, head.size()), head);
    EXPECT_NE(error.find("360 x 180"), std::string::npos) << error;
    // No division by zero afterwards either.
    EXPECT_EQ(m_engine->LongitudeToPixel(10.0), 0);
  }
}

TEST_F(TerrainEngine, LoadErrorTextIsTagPathReason) {
  platform::SetBitmapLoadFailure(platform::FileNotFoundCode());
  const std::string path = MapPath("small.bmp");
  EXPECT_FALSE(m_engine->CreateTerrainDC(nullptr, path.c_str()));
  char reason[512];
  platform::SystemErrorText(platform::FileNotFoundCode(), reason, sizeof reason);
  EXPECT_EQ(std::string(m_engine->LoadError()),
            "COrogridDlg::LoadPicture\n" + path + "\n" + reason);

  // Cut at 1023 characters, always terminated.
  const std::string longPath(3000, 'p');
  EXPECT_FALSE(m_engine->LoadPicture(longPath.c_str()));
  EXPECT_EQ(std::strlen(m_engine->LoadError()), 1023u);

  // A really missing file says something too.
  platform::SetBitmapLoadFailure(0);
  EXPECT_FALSE(m_engine->LoadPicture(MapPath("missing.bmp").c_str()));
  EXPECT_GT(std::strlen(m_engine->LoadError()),
            std::strlen("COrogridDlg::LoadPicture\n\n") + MapPath("missing.bmp").size());
}

TEST_F(TerrainEngine, StatusLinesWhileLoading) {
  char line[CTerrainEngine::kStatusLineSize] = {};
  StatusRecorder view(line);
  EXPECT_TRUE(
      m_engine->LoadTerrainMapFrom(nullptr, MapPath("small.bmp").c_str(), line, sizeof line, view));
  EXPECT_EQ(view.shown, std::vector<std::string>{"Loading Kt Orogrid Map"});

  // The fixed path, made to fail: "Sorry :: " and the whole error text.
  StatusRecorder failed(line);
  platform::SetBitmapLoadFailure(platform::FileNotFoundCode());
  EXPECT_FALSE(m_engine->LoadTerrainMap(nullptr, line, sizeof line, failed));
  ASSERT_EQ(failed.shown.size(), 2u);
  EXPECT_EQ(failed.shown[0], "Loading Kt Orogrid Map");
  EXPECT_EQ(failed.shown[1], std::string("Sorry :: ") + m_engine->LoadError());
  char path[1024];
  ASSERT_TRUE(CTerrainEngine::TerrainMapPath(path, sizeof path));
  EXPECT_NE(failed.shown[1].find(path), std::string::npos);

  // A short status buffer is cut, not overrun.
  char tiny[12];
  StatusRecorder cut(tiny);
  EXPECT_FALSE(m_engine->LoadTerrainMap(nullptr, tiny, sizeof tiny, cut));
  EXPECT_EQ(cut.shown.back(), "Sorry :: CO");
}

// --- Positions to pixels --------------------------------------------------------

TEST_F(TerrainEngine, WorkedConversionsOnTheWorldMap) {
  Start("world.bmp");
  const struct {
    bool longitude;
    double degrees;
    int pixel;
    int sub;
  } cases[] = {
      {true, 0.0, 2160, 0},
      {true, 11.35, 2296, 0},
      {false, 47.26, 512, 2},
      {true, 180.0, 4320, 0},
      {true, -180.5, 0, 2},
      {false, -90.0, 2160, 0},
      {false, 90.0, 0, 0},
      {true, 181.0, 4320, 2},
      // Fractions of 0.30 and 0.95 of a pixel: the factor 3.333 gives 0, not 1,
      // and 2, not 3.
      {true, 0.30 / 12.0, 2160, 0},
      {true, 0.95 / 12.0, 2160, 2},
      {true, 0.5 / 12.0, 2160, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.degrees);
    if (c.longitude) {
      EXPECT_EQ(m_engine->LongitudeToPixel(c.degrees), c.pixel);
      EXPECT_EQ(m_engine->SubX(), c.sub);
    } else {
      EXPECT_EQ(m_engine->LatitudeToPixel(c.degrees), c.pixel);
      EXPECT_EQ(m_engine->SubY(), c.sub);
    }
  }
  // One past the last pixel reads as all ones, which decodes to 15745 m.
  EXPECT_EQ(m_engine->GetTerrainPixel(4320, 100), 0xFFFFFFFFu);
  EXPECT_EQ(m_engine->GetTerrainPixel(100, 2160), 0xFFFFFFFFu);
  EXPECT_EQ(CTerrainEngine::ColourToElevation(m_engine->GetTerrainPixel(4320, 2160)), 15745);
}

TEST_F(TerrainEngine, WidthNotAMultipleOf360) {
  Start("w4000.bmp");
  EXPECT_EQ(m_engine->PixelsPerDegLon(), 11.0);
  EXPECT_EQ(m_engine->LongitudeToPixel(179.99), 3959);
  EXPECT_EQ(m_engine->LongitudeToPixel(-180.0), 0);
}

// Positions no float-to-int conversion can hold: defined results, no
// undefined behaviour (run under the sanitizers).
TEST_F(TerrainEngine, UnconvertiblePositionsGoToTheEdges) {
  Start("world.bmp");
  const struct {
    double degrees;
    int column;
    int subX;
    int row;
    int subY;
  } cases[] = {
      {kNaN, 0, 0, 0, 0},      {kInf, 4320, 2, 0, 2},
      {-kInf, 0, 2, 2160, 2},  {1e300, 4320, 2, 0, 2},
      {-1e300, 0, 2, 2160, 2}, {3e8, 4320, 2, 0, 2},
      {-3e8, 0, 2, 2160, 2},   {std::numeric_limits<double>::max(), 4320, 2, 0, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.degrees);
    EXPECT_EQ(m_engine->LongitudeToPixel(c.degrees), c.column);
    EXPECT_EQ(m_engine->SubX(), c.subX);
    EXPECT_EQ(m_engine->LatitudeToPixel(c.degrees), c.row);
    EXPECT_EQ(m_engine->SubY(), c.subY);
  }
  // The whole tick copes as well.
  EXPECT_EQ(Fly(kNaN, kInf, 11), 1);
  EXPECT_EQ(m_engine->PixelX(), 4320);
  EXPECT_EQ(m_engine->PixelY(), 0);
  // The colour is that of the pixel under the aircraft on the globe,
  // column 0, not the read one past the map's edge.
  EXPECT_EQ(m_engine->TerrainColour(), bmptest::ElevationColour(1000));
}

// --- Grids ----------------------------------------------------------------------

TEST(TerrainBlend, Examples) {
  EXPECT_EQ(CTerrainEngine::BlendElevations(0, 900, 900, 900), 0);
  EXPECT_EQ(CTerrainEngine::BlendElevations(1000, 0, 0, 0), 500);
  EXPECT_EQ(CTerrainEngine::BlendElevations(100, 100, 101, 102), 100);
  EXPECT_EQ(CTerrainEngine::BlendElevations(-10, -11, -11, -11), -10);
  EXPECT_EQ(CTerrainEngine::BlendElevations(15745, 15745, 15745, 15745), 15745);
  EXPECT_EQ(CTerrainEngine::ClampGridIndex(0, -1), 0);
  EXPECT_EQ(CTerrainEngine::ClampGridIndex(149, 1), 149);
  EXPECT_EQ(CTerrainEngine::ClampGridIndex(84, 1), 85);
  EXPECT_EQ(CTerrainEngine::ClampGridIndex(2147483647, 1), 149);
}

TEST_F(TerrainEngine, ElevenTickCycleAndTheEleventhFillsNothing) {
  Start("small.bmp");
  // Ticks 1..9 at (10N, 20E); before tick 10 the aircraft jumps. Tick 10
  // still fills around the old pixel (the previous tick's position), and
  // tick 11 fills nothing, so the whole published grid is the old window.
  m_record->aircraftLatitude = 10.0;
  m_record->aircraftLongitude = 20.0;
  for (int tick = 1; tick <= 9; ++tick) {
    EXPECT_FALSE(m_engine->UpdateTerrain()) << tick;
    EXPECT_EQ(m_engine->NextColumn(), tick * 15);
  }
  m_record->aircraftLatitude = -40.0;
  m_record->aircraftLongitude = -100.0;
  EXPECT_FALSE(m_engine->UpdateTerrain());
  EXPECT_EQ(m_engine->NextColumn(), 150);
  EXPECT_TRUE(m_engine->UpdateTerrain());
  EXPECT_EQ(m_engine->NextColumn(), 0);

  // The first band was taken around latitude 0, longitude 0 (start-up):
  // pixel (180, 90), window origin (105, 15); the others around (200, 80),
  // origin (125, 5).
  for (int i : {0, 14, 15, 75, 149}) {
    const int x0 = i < 15 ? 105 : 125;
    const int y0 = i < 15 ? 15 : 5;
    const int ax = i < 15 ? 180 : 200;
    const int ay = i < 15 ? 90 : 80;
    for (int j : {0, 75, 149}) {
      const TrnGridPoint& p = m_record->coarseGrid[i][j];
      SCOPED_TRACE(testing::Message() << i << "," << j);
      EXPECT_EQ(p.elevation, SmallMapElevation(x0 + i, y0 + j));
      EXPECT_EQ(p.cellId, CTerrainEngine::MakeCellId(ax + i - 75, ay + j - 75));
      EXPECT_EQ(p.latitude, 90.0 - (y0 + j));
      EXPECT_EQ(p.longitude, (x0 + i) - 180.0);
    }
  }
  // The back buffer was cleared after the copy.
  EXPECT_EQ(m_engine->CoarseBuffer()[75][75].elevation, 0);
  // The fine grid went out in the same tick, identical to its back buffer.
  // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
  EXPECT_EQ(std::memcmp(m_record->fineGrid, m_engine->FineBuffer(), sizeof m_record->fineGrid), 0);
  // The next cycle publishes again exactly 11 ticks later.
  EXPECT_EQ(Fly(-40.0, -100.0, 10), 0);
  EXPECT_EQ(Fly(-40.0, -100.0, 1), 1);
}

TEST_F(TerrainEngine, RefinedCellsAroundTheAircraft) {
  Start("small.bmp");
  ASSERT_EQ(Fly(10.0, 20.0, 11), 1);
  // The aircraft's pixel is (200, 80); fine cell (8, 8) refines coarse
  // point (75, 75), which is that pixel.
  const auto& cell = m_record->fineGrid[8][8];
  EXPECT_EQ(cell[1][1].elevation, SmallMapElevation(200, 80));
  EXPECT_EQ(cell[0][0].cellId, CTerrainEngine::MakeCellId(200, 80));
  EXPECT_EQ(cell[0][0].latitude, 10.0);
  EXPECT_EQ(cell[0][0].longitude, 20.0);
  EXPECT_NEAR(cell[2][2].latitude, 10.0 - 2.0 / 3.0, 1e-12);
  EXPECT_NEAR(cell[2][2].longitude, 20.0 + 2.0 / 3.0, 1e-12);
  // The elevation under the aircraft comes from the published fine grid at
  // its sub-cell (the centre of pixel (200, 80): sub-cell 0, 0).
  Fly(10.0, 20.0, 1);
  EXPECT_EQ(m_engine->SubX(), 0);
  EXPECT_EQ(m_engine->Elevation(), cell[0][0].elevation);
  EXPECT_EQ(m_engine->CellId(), CTerrainEngine::MakeCellId(200, 80));
  EXPECT_EQ(m_engine->TerrainColour(), bmptest::ElevationColour(SmallMapElevation(200, 80)));
}

// Which neighbour feeds which sub-point, checked by geometry: a corner
// sub-point blends the three neighbours touching that corner, a side
// sub-point the three along that side.
TEST_F(TerrainEngine, DirectionTableFollowsTheGeometry) {
  m_engine->AttachRecord(m_record.get());
  const int i = 75;
  const int j = 75;
  // Sub-point offsets (sx, sy) by SubPointDirection.
  const int subOffset[9][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {0, 0},
                               {1, 0},   {-1, 1}, {1, 1},  {0, 1}};
  auto uses = [](int sx, int sy, int dx, int dy) {
    if (sx != 0 && sy != 0) {
      return (dx == sx && dy == 0) || (dx == 0 && dy == sy) || (dx == sx && dy == sy);
    }
    return sx != 0 ? dx == sx : dy == sy;
  };
  for (int dx = -1; dx <= 1; ++dx) {
    for (int dy = -1; dy <= 1; ++dy) {
      if (dx == 0 && dy == 0) {
        continue;
      }
      for (int a = -1; a <= 1; ++a) {
        for (int b = -1; b <= 1; ++b) {
          m_record->coarseGrid[i + a][j + b].elevation = 300;
        }
      }
      m_record->coarseGrid[i + dx][j + dy].elevation = 3000;
      for (int d = 0; d < 9; ++d) {
        if (d == kSubCentre) {
          continue;
        }
        const bool used = uses(subOffset[d][0], subOffset[d][1], dx, dy);
        EXPECT_EQ(m_engine->InterpolateSubPoint(d, i, j), used ? 750 : 300)
            << "direction " << d << " neighbour " << dx << "," << dy;
      }
    }
  }
}

TEST_F(TerrainEngine, CoastAndPeakRefinement) {
  m_engine->AttachRecord(m_record.get());
  // A 1000 m coarse point among sea: 500 m on the eight outer sub-points.
  m_record->coarseGrid[75][75].elevation = 1000;
  m_engine->RefineCell(8, 8, 75, 75);
  for (int s = 0; s < 3; ++s) {
    for (int t = 0; t < 3; ++t) {
      EXPECT_EQ(m_engine->FineBuffer()[8][8][s][t].elevation, s == 1 && t == 1 ? 1000 : 500);
    }
  }
  // A sea point stays flat whatever its neighbours.
  m_record->coarseGrid[76][75].elevation = 0;
  m_engine->RefineCell(9, 8, 76, 75);
  for (int s = 0; s < 3; ++s) {
    for (int t = 0; t < 3; ++t) {
      EXPECT_EQ(m_engine->FineBuffer()[9][8][s][t].elevation, 0);
    }
  }
}

// The window past the map's edges: columns wrap around the globe, rows past
// a pole come down the other side of it (same latitude, longitude 180
// degrees away, rows reversed), and a second crossing comes back.
TEST_F(TerrainEngine, GlobePixelWrapsAndCrossesThePoles) {
  Start("small.bmp");
  const struct {
    int column, row;
    int x, y;
    bool over;
  } cases[] = {
      {0, 0, 0, 0, false},
      {359, 179, 359, 179, false},
      {360, 5, 0, 5, false},
      {-1, 5, 359, 5, false},
      {-361, 5, 359, 5, false},
      {10, -1, 190, 0, true},
      {10, -3, 190, 2, true},
      {200, -1, 20, 0, true},
      {10, 180, 190, 179, true},
      {10, 181, 190, 178, true},
      {10, 360, 10, 0, false},
      {10, -181, 10, 179, false},
      {-75, -75, 105, 74, true},
      {434, 254, 254, 105, true},
      {2147483647, 0, 127, 0, false},
      {-2147483647 - 1, -2147483647 - 1, 52, 127, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.column << "," << c.row);
    int x = -1;
    int y = -1;
    EXPECT_EQ(m_engine->GlobePixel(c.column, c.row, x, y), c.over);
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.y);
  }
  // Only the columns of whole degrees wrap: 3960 of a 4000-pixel map.
  Start("w4000.bmp");
  EXPECT_EQ(m_engine->GlobeWidth(), 3960);
  int x = -1;
  int y = -1;
  EXPECT_FALSE(m_engine->GlobePixel(3960, 0, x, y));
  EXPECT_EQ(x, 0);
}

// Every grid point, anywhere on the globe, is the pixel it names: its
// identifier, elevation and corner are that pixel's, and fine cell (8, 8)
// is the aircraft's own pixel. Before, the window stopped at the west and
// north edges (another place under the aircraft) and ran off the east and
// south edges (15745 m of phantom terrain).
TEST_F(TerrainEngine, GridsAreRealPixelsAtEveryEdge) {
  Start("small.bmp");
  const struct {
    const char* where;
    double latitude, longitude;
    int x, y;  // the aircraft's pixel on the map
  } places[] = {
      {"north-west corner", 89.5, -179.5, 0, 0},
      {"north-east corner", 89.5, 179.5, 359, 0},
      {"south-east corner", -89.5, 179.5, 359, 179},
      {"south-west corner", -89.5, -179.5, 0, 179},
      {"longitude +180 is -180", 10.5, 180.0, 0, 79},
      {"the south pole itself", -90.0, 20.5, 200, 179},
      {"north pole, mid-map", 89.5, 0.5, 180, 0},
      {"middle of the map", 10.5, 20.5, 200, 79},
  };
  for (const auto& p : places) {
    SCOPED_TRACE(p.where);
    ASSERT_EQ(Fly(p.latitude, p.longitude, 22), 2);
    for (int i = 0; i < trn::kCoarseSize; ++i) {
      for (int j = 0; j < trn::kCoarseSize; ++j) {
        const TrnGridPoint& q = m_record->coarseGrid[i][j];
        const int x = q.cellId / 10000;
        const int y = q.cellId % 10000;
        ASSERT_TRUE(x >= 0 && x < 360 && y >= 0 && y < 180) << i << "," << j << " " << q.cellId;
        ASSERT_EQ(q.elevation, SmallMapElevation(x, y)) << i << "," << j;
        ASSERT_EQ(q.latitude, 90.0 - y) << i << "," << j;
        ASSERT_EQ(q.longitude, x - 180.0) << i << "," << j;
      }
    }
    const int cx = p.y == 179 && p.latitude == -90.0 ? (p.x + 180) % 360 : p.x;
    EXPECT_EQ(m_record->coarseGrid[75][75].cellId, CTerrainEngine::MakeCellId(cx, p.y));
    for (int a = 0; a < trn::kFineSize; ++a) {
      for (int b = 0; b < trn::kFineSize; ++b) {
        const TrnGridPoint& coarse = m_record->coarseGrid[67 + a][67 + b];
        const auto& cell = m_record->fineGrid[a][b];
        ASSERT_EQ(cell[1][1].elevation, coarse.elevation) << a << "," << b;
        for (int s = 0; s < 3; ++s) {
          for (int t = 0; t < 3; ++t) {
            ASSERT_EQ(cell[s][t].cellId, coarse.cellId) << a << "," << b;
            ASSERT_NEAR(cell[s][t].latitude, coarse.latitude - t / 3.0, 1e-9);
            ASSERT_NEAR(cell[s][t].longitude, coarse.longitude + s / 3.0, 1e-9);
            ASSERT_LT(cell[s][t].elevation, 7360);  // the map's highest pixel
          }
        }
      }
    }
    // The published pixel keeps the conversion's value (360 at +180, 180
    // at -90); the elevation is the aircraft's sub-point of its own pixel.
    EXPECT_EQ(m_engine->PixelX(), p.longitude == 180.0 ? 360 : p.x);
    EXPECT_EQ(m_engine->TerrainColour(), bmptest::ElevationColour(SmallMapElevation(cx, p.y)));
    const int subY = p.latitude == -90.0 ? 2 : m_engine->SubY();
    EXPECT_EQ(m_engine->Elevation(), m_record->fineGrid[8][8][m_engine->SubX()][subY].elevation);
    if (m_engine->SubX() == 1 && subY == 1) {
      EXPECT_EQ(m_engine->Elevation(), SmallMapElevation(cx, p.y));
    }
  }
}

// Refinement blends neighbours as they lie on the map: over the pole the
// map's north is down the window. Values on the 360 x 180 map (x * 20 + y).
TEST_F(TerrainEngine, RefinementBlendsAcrossThePole) {
  Start("small.bmp");
  const struct {
    const char* what;
    double latitude, longitude;
    int a, b, s, t;
    int metres;
  } cases[] = {
      // Pixel (280, 0): its north is (279..281, 0) seen from across the
      // pole, (99..101, 0): ((1980 + 5600) / 2 + ...) / 3.
      {"north of row 0", 89.5, 100.5, 8, 8, 1, 0, 3800},
      {"south of row 0", 89.5, 100.5, 8, 8, 1, 2, 5600},
      // The row above it in the window is (100, 0) over the pole: its
      // north is back across, (279..281, 0); its south (99..101, 1).
      {"north over the pole", 89.5, 100.5, 8, 7, 1, 0, 3800},
      {"south over the pole", 89.5, 100.5, 8, 7, 1, 2, 2000},
      // At -90 the aircraft's pixel is (20, 179) across the pole; its
      // south is (199..201, 179).
      {"south at the south pole", -90.0, 20.5, 8, 8, 1, 2, 2379},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Fly(c.latitude, c.longitude, 22), 2);
    EXPECT_EQ(m_record->fineGrid[c.a][c.b][c.s][c.t].elevation, c.metres);
  }
  EXPECT_EQ(m_engine->Elevation(), 2379);  // the aircraft at the pole: that sub-point
}

// A 120 pixel-per-degree map (2.8 GB, a hole but for a few pixels) served
// in place: at its far corners the aircraft's own pixel is under it.
TEST_F(TerrainEngine, FineMapCornersAreTheAircraftsPixels) {
  const int w = 43200;
  const int h = 21600;
  const auto path = s_dir / "k120.bmp";
  auto elevationAt = [](int x, int y) { return 100 + (x % 97) * 10 + (y % 89); };
  const struct {
    double latitude;
    double longitude;
    int x;
    int y;
  } places[] = {
      {-89.996, 179.996, w - 1, h - 1}, {89.996, -179.996, 0, 0},      {89.996, 179.996, w - 1, 0},
      {-89.996, -179.996, 0, h - 1},    {-0.004, 0.004, w / 2, h / 2},
  };
  {
    bmptest::SparseMap map(path, w, h);
    for (const auto& p : places) {
      map.Put(p.x, p.y, bmptest::ElevationColour(elevationAt(p.x, p.y)));
    }
    ASSERT_TRUE(map.Close());
  }
  Start("k120.bmp");
  EXPECT_TRUE(m_engine->TerrainBitmap().InPlace());
  for (const auto& p : places) {
    SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
    Fly(p.latitude, p.longitude, 23);
    ASSERT_EQ(m_engine->PixelX(), p.x);
    ASSERT_EQ(m_engine->PixelY(), p.y);
    const TrnGridPoint& centre = m_record->coarseGrid[75][75];
    EXPECT_EQ(centre.cellId, CTerrainEngine::MakeCellId(p.x, p.y));
    EXPECT_EQ(centre.elevation, elevationAt(p.x, p.y));
    EXPECT_DOUBLE_EQ(centre.latitude, 90.0 - p.y / 120.0);
    EXPECT_DOUBLE_EQ(centre.longitude, p.x / 120.0 - 180.0);
    EXPECT_EQ(m_record->fineGrid[8][8][1][1].elevation, elevationAt(p.x, p.y));
    ASSERT_EQ(m_engine->SubX(), 1);
    ASSERT_EQ(m_engine->SubY(), 1);
    EXPECT_EQ(m_engine->Elevation(), elevationAt(p.x, p.y));
  }
  m_engine = std::make_unique<CTerrainEngine>();  // closes the map
  std::filesystem::remove(path);
}

// --- Overrides -------------------------------------------------------------------

TEST_F(TerrainEngine, OverrideTableValues) {
  const struct {
    int cellId;
    int rows[3][3];  // north, middle, south rows, west to east
  } cases[] = {
      {22960512, {{2000, 1800, 1600}, {875, 1005, 625}, {621, 581, 582}}},
      {24490623, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
      {34580886, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
      {34590887, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
      {3621441, {{3000, 3000, 3000}, {3000, 3000, 3000}, {3000, 3000, 3000}}},
      {3561440, {{328, 328, 328}, {328, 328, 328}, {328, 328, 328}}},
      {9690847, {{2241, 2240, 2244}, {2240, 2243, 2242}, {2244, 2240, 2241}}},
      {9700843, {{2241, 2240, 2244}, {2240, 2243, 2242}, {2244, 2240, 2241}}},
      {34710938, {{50, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cellId);
    ASSERT_TRUE(m_engine->LookupElevationOverride(c.cellId));
    for (int t = 0; t < 3; ++t) {
      for (int s = 0; s < 3; ++s) {
        EXPECT_EQ(m_engine->SubElevation(s, t), c.rows[t][s]) << s << "," << t;
      }
    }
  }
  ASSERT_TRUE(m_engine->LookupElevationOverride(24470623));
  EXPECT_EQ(m_engine->SubElevation(1, 1), 100);  // centre
  EXPECT_EQ(m_engine->SubElevation(2, 1), 90);   // east
  EXPECT_FALSE(m_engine->LookupFlatOverride(22960512));
}

TEST_F(TerrainEngine, CellsOutsideTheTableAreLeftAlone) {
  ASSERT_TRUE(m_engine->LookupElevationOverride(3621441));
  for (int id : {3621442, 0, -29488, -22960512, 22960513, 2147483647}) {
    EXPECT_FALSE(m_engine->LookupElevationOverride(id)) << id;
    EXPECT_EQ(m_engine->SubElevation(0, 0), 3000);  // untouched
  }
  EXPECT_EQ(terrain::kElevationOverrides[52].cellId, 34710938);
}

TEST_F(TerrainEngine, OverrideReachesTheAircraftButNotTheColour) {
  Start("world.bmp");
  // Longitude 11.35, latitude 47.26: pixel (2296, 512), sub-cell (0, 2).
  ASSERT_EQ(Fly(47.26, 11.35, 11), 1);
  const auto& cell = m_record->fineGrid[8][8];
  EXPECT_EQ(cell[0][0].cellId, 22960512);
  EXPECT_EQ(cell[0][0].elevation, 2000);
  EXPECT_EQ(cell[1][1].elevation, 1005);
  EXPECT_EQ(cell[2][2].elevation, 582);
  // The cell south of it, (2296, 513), is not in the table: its centre is
  // the map's 1000 m.
  EXPECT_EQ(m_record->fineGrid[8][9][1][1].elevation, 1000);
  Fly(47.26, 11.35, 1);
  EXPECT_EQ(m_engine->SubX(), 0);
  EXPECT_EQ(m_engine->SubY(), 2);
  EXPECT_EQ(m_engine->Elevation(), 621);  // south-west of the table's picture
  EXPECT_EQ(m_engine->TerrainColour(), bmptest::ElevationColour(2000));  // the map's own
  EXPECT_EQ(m_engine->CellId(), 22960512);
}

// The table names pixels of the 4320 x 2160 map. On a 24 pixel-per-degree
// map cell 22960512 is in the Canadian Arctic (68.65 N 84.32 W), where the
// map says 370 m: the Inn valley's picture must not land there.
TEST_F(TerrainEngine, OverridesOnlyOnTheirOwnMap) {
  const auto path = s_dir / "k24.bmp";
  {
    bmptest::SparseMap map(path, 8640, 4320);
    for (int x = 2280; x <= 2312; ++x) {
      for (int y = 496; y <= 528; ++y) {
        map.Put(x, y, bmptest::ElevationColour(370));
      }
    }
    ASSERT_TRUE(map.Close());
  }
  Start("k24.bmp");
  EXPECT_FALSE(m_engine->OverridesApply());
  ASSERT_EQ(Fly(68.65, -84.32, 11), 1);
  ASSERT_EQ(Fly(68.65, -84.32, 11), 1);
  const auto& cell = m_record->fineGrid[8][8];
  EXPECT_EQ(cell[0][0].cellId, 22960512);
  for (int s = 0; s < 3; ++s) {
    for (int t = 0; t < 3; ++t) {
      EXPECT_EQ(cell[s][t].elevation, 370) << s << "," << t;
    }
  }
  EXPECT_EQ(m_engine->Elevation(), 370);
  std::filesystem::remove(path);

  // A map one pixel wider than 12 per degree is not the table's map either.
  bmptest::WriteFile(
      s_dir / "w4321.bmp",
      bmptest::Make1(4321, 2160, bmptest::ElevationColour(1000), bmptest::ElevationColour(2000),
                     [](int x, int y) { return x == 2296 && y == 512; }));
  Start("w4321.bmp");
  EXPECT_FALSE(m_engine->OverridesApply());
  Start("world.bmp");
  EXPECT_TRUE(m_engine->OverridesApply());
}

// The tick in its steps: preparing it (the map's pixels, the file check,
// the page release, the refinement) writes nothing into the record; its
// writes, the grids on the sweep's last tick among them, come in WriteTick.
TEST_F(TerrainEngine, PreparingATickWritesNothingIntoTheRecord) {
  Start("small.bmp");
  ASSERT_EQ(Fly(10.0, 20.0, 11), 1);
  for (int tick = 1; tick <= 11; ++tick) {
    SCOPED_TRACE(tick);
    m_record->aircraftLatitude = 10.0 + tick;
    m_record->aircraftLongitude = 20.0 - tick;
    const auto before = std::make_unique<TrnShmData>(*m_record);
    const bool publishes = m_engine->PrepareTick();
    EXPECT_EQ(publishes, tick == 11);
    EXPECT_TRUE(testsupport::SameBytes(before.get(), m_record.get(), sizeof(TrnShmData)))
        << "PrepareTick wrote into the record";
    m_engine->WriteTick();
    EXPECT_EQ(!testsupport::SameBytes(before->coarseGrid, m_record->coarseGrid,
                                      sizeof before->coarseGrid),
              publishes);
    m_engine->FinishTick();
    EXPECT_EQ(m_engine->NextColumn(), tick == 11 ? 0 : tick * 15);
  }
}

// Rewrites a pixel of the map file in place, the file's length unchanged.
// False when the system refuses to open a mapped file for writing.
bool RewriteInPlace(const std::filesystem::path& path, std::uint64_t offset) {
  // File times tick with the system's coarse clock: a rewrite in the same
  // tick as the load would leave them as they were.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  std::FILE* file = std::fopen(path.string().c_str(), "r+b");
  if (file == nullptr) {
    return false;
  }
  const unsigned char pixel[3] = {0x11, 0x22, 0x33};
  const bool ok = std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
                  std::fwrite(pixel, 1, sizeof pixel, file) == sizeof pixel;
  return std::fclose(file) == 0 && ok;
}

// The map file cut short, or rewritten in place at the same length (the
// regression of a rewrite that went unnoticed: only the length was
// checked), while it is served: no crash, the map is lost with a reason,
// ticks stop and the record keeps the last grids.
TEST_F(TerrainEngine, MapChangedOnDiskStopsServing) {
  struct Case {
    const char* what;
    bool cut;
    const char* reason;
  } cases[] = {
      {"cut short", true, "cut short"},
      {"rewritten in place at the same length", false, "changed on disk"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto path = s_dir / "cut.bmp";
    std::uint64_t offset = 0;
    {
      bmptest::SparseMap map(path, 43200, 21600);  // read in place everywhere
      map.Put(21600, 10800, bmptest::ElevationColour(555));
      offset = map.Offset(21610, 10800);
      ASSERT_TRUE(map.Close());
    }
    Start("cut.bmp");
    ASSERT_TRUE(m_engine->TerrainBitmap().InPlace());
    ASSERT_EQ(Fly(-0.004, 0.004, 22), 2);
    ASSERT_EQ(m_record->coarseGrid[75][75].elevation, 555);
    const auto before = std::make_unique<TrnShmData>(*m_record);
    std::error_code ec;
    if (c.cut) {
      std::filesystem::resize_file(path, 60, ec);
    } else if (!RewriteInPlace(path, offset)) {
      ec = std::make_error_code(std::errc::permission_denied);
    }
    if (ec) {
      m_engine = std::make_unique<CTerrainEngine>();  // closes the map
      std::filesystem::remove(path, ec);
      std::printf("the system refuses to change a mapped file (%s): nothing to notice\n", c.what);
      continue;
    }
    EXPECT_EQ(Fly(-0.004, 0.004, 22), 0);
    EXPECT_TRUE(m_engine->MapLost());
    const std::string reason = m_engine->LoadError();
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_NE(reason.find(path.string()), std::string::npos) << reason;
    // The record keeps the last grids: every coarse point and fine sub-point.
    int changed = 0;
    for (int i = 0; i < trn::kCoarseSize; ++i) {
      for (int j = 0; j < trn::kCoarseSize; ++j) {
        changed += before->coarseGrid[i][j].elevation != m_record->coarseGrid[i][j].elevation ||
                   before->coarseGrid[i][j].cellId != m_record->coarseGrid[i][j].cellId;
      }
    }
    for (int a = 0; a < trn::kFineSize; ++a) {
      for (int b = 0; b < trn::kFineSize; ++b) {
        for (int s = 0; s < trn::kSubDiv; ++s) {
          for (int t = 0; t < trn::kSubDiv; ++t) {
            changed +=
                before->fineGrid[a][b][s][t].elevation != m_record->fineGrid[a][b][s][t].elevation;
          }
        }
      }
    }
    EXPECT_EQ(changed, 0);
    m_engine = std::make_unique<CTerrainEngine>();
    std::filesystem::remove(path);
  }
}

// The installed map lies under the install folder the platform gives: the
// program's folder on Linux, the fixed install root on Windows.
TEST(TerrainMapPath, InstalledMapUnderTheInstallFolder) {
  char path[1024];
  ASSERT_TRUE(CTerrainEngine::TerrainMapPath(path, sizeof path));
  const std::string p = path;
  if (p.rfind("C:", 0) == 0) {
    EXPECT_EQ(p, "C:\\Program Files\\Norvalia\\Bitmaps\\Terrain\\KtTerrainMap.bmp");
  } else {
    const std::string tail = "/Bitmaps/Terrain/KtTerrainMap.bmp";
    ASSERT_GT(p.size(), tail.size());
    EXPECT_EQ(p.substr(p.size() - tail.size()), tail);
    EXPECT_EQ(p.find("//"), std::string::npos) << p;
  }
  // Too small for the folder, or for the folder and the tail: refused, empty.
  for (int size : {8, static_cast<int>(p.size())}) {
    std::vector<char> small(static_cast<std::size_t>(size), 'x');
    EXPECT_FALSE(CTerrainEngine::TerrainMapPath(small.data(), size)) << size;
    EXPECT_EQ(small[0], '\0') << size;
  }
}

// --- Cell sizes -------------------------------------------------------------------

TEST(TerrainCellSize, PerDegreeFigures) {
  const struct {
    double latitude;
    double width;
    double widthTolerance;
    double height;
    double heightTolerance;
  } cases[] = {
      {0.0, 111319.458, 5e-4, 110574.3093, 5e-5},  {60.0, 55799.979, 5e-4, 111412.2798, 5e-5},
      {-60.0, 55799.979, 5e-4, 111412.2798, 5e-5}, {45.0, 78846.8057, 5e-5, 111131.779, 5e-4},
      {90.0, 6.8e-12, 1e-12, 111693.9487, 5e-5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.latitude);
    EXPECT_NEAR(terrain::PixelWidthMetres(c.latitude, 1.0), c.width, c.widthTolerance);
    EXPECT_NEAR(terrain::PixelHeightMetres(c.latitude, 1.0), c.height, c.heightTolerance);
  }
  EXPECT_NEAR(terrain::PixelWidthMetres(0.0, 1.0 / 120.0), 927.66215, 5e-6);
  EXPECT_NEAR(terrain::PixelHeightMetres(0.0, 1.0 / 120.0), 921.4525775, 5e-8);
}

TEST(TerrainCellSize, AlongTheHeading) {
  const struct {
    double heading;
    double metres;
  } cases[] = {{0, 100}, {45, 79.0569}, {90, 50}, {135, 79.0569}, {180, 100}, {270, 50}, {-90, 50}};
  for (const auto& c : cases) {
    EXPECT_NEAR(CTerrainEngine::GetPixelSizeAlongHeading(c.heading, 100.0, 50.0), c.metres, 5e-5)
        << c.heading;
  }
}

TEST_F(TerrainEngine, CellSizePhasesOnTheMap) {
  Start("small.bmp");  // one pixel per degree: the per-degree figures
  m_record->aircraftLatitude = 60.0;
  m_record->aircraftHeading = 90.0;
  m_engine->UpdatePixelWidth();
  m_engine->UpdatePixelHeight();
  m_engine->UpdatePixelSizeAlongHeading();
  EXPECT_NEAR(m_engine->MetresPerPixelLon(), 55799.979, 5e-4);
  EXPECT_NEAR(m_engine->MetresPerPixelLat(), 111412.2798, 5e-5);
  EXPECT_NEAR(m_engine->MetresPerPixelHeading(), 55799.979, 5e-4);
  // At the pole an easterly length is practically 0: limited to 1 m. A NaN
  // heading also gives 1 m.
  m_record->aircraftLatitude = 90.0;
  m_engine->UpdatePixelWidth();
  m_engine->UpdatePixelSizeAlongHeading();
  EXPECT_EQ(m_engine->MetresPerPixelHeading(), 1.0);
  m_record->aircraftHeading = kNaN;
  m_engine->UpdatePixelSizeAlongHeading();
  EXPECT_EQ(m_engine->MetresPerPixelHeading(), 1.0);
}

}  // namespace
