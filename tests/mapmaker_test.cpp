// Tests of the map maker: the colour encoding, the map geometry for 0..360
// and -180..180 inputs, the sea, clamping and no-data rules, failures, the
// banded maker against the whole-raster one, the output file's targets, and
// the default map made from ETOPO5 checked against the elevation overrides.
// Rasters are made here through GDAL; maps are read back through the
// terrain engine's own loader and decoder.
// The tool itself runs as a child process for its options, output targets
// and signals (the map maker is built on Linux only, so POSIX is used here).
// Threading: single-threaded, but for a reader thread on a FIFO.
#include <fcntl.h>
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/output_file.h"
#include "terrain/TerrainEngine.h"
#include "terrain/TerrainOverrides.h"
#include "tests/support/TestSupport.h"
#include "tools/mapmaker/MapEncoding.h"
#include "tools/mapmaker/MapMaker.h"

namespace fs = std::filesystem;
using mapmaker::Aggregate;
using mapmaker::MapOptions;
using mapmaker::MapSummary;

namespace {

// A fresh folder for each test, removed with what it holds.
class ScratchDir : public testsupport::ScratchFolder {
 public:
  ScratchDir() : ScratchFolder("mapmaker-test") {}
};

struct RasterSpec {
  int width;
  int height;
  double gt[6];
  int epsg = 4326;  // 0: no coordinate system
  bool hasNoData = false;
  double noData = 0.0;
};

// Writes a one-band Float32 GeoTIFF with values[j * width + i].
void WriteRaster(const std::string& path, const RasterSpec& layout,
                 const std::vector<float>& values) {
  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  ASSERT_NE(driver, nullptr);
  GDALDataset* ds =
      driver->Create(path.c_str(), layout.width, layout.height, 1, GDT_Float32, nullptr);
  ASSERT_NE(ds, nullptr);
  double gt[6];
  std::copy(layout.gt, layout.gt + 6, gt);
  ds->SetGeoTransform(gt);
  if (layout.epsg != 0) {
    OGRSpatialReference srs;
    srs.importFromEPSG(layout.epsg);
    ds->SetSpatialRef(&srs);
  }
  GDALRasterBand* band = ds->GetRasterBand(1);
  if (layout.hasNoData) {
    band->SetNoDataValue(layout.noData);
  }
  std::vector<float> copy = values;
  ASSERT_EQ(band->RasterIO(GF_Write, 0, 0, layout.width, layout.height, copy.data(), layout.width,
                           layout.height, GDT_Float32, 0, 0, nullptr),
            CE_None);
  GDALClose(ds);
}

// The world at one sample per degree, pixel-registered: sample (i, j) covers
// longitudes -180 + i .. -179 + i, latitudes 90 - j .. 89 - j, so it is
// exactly map pixel (i, j) at 1 pixel per degree.
RasterSpec WorldDegrees() { return RasterSpec{360, 180, {-180.0, 1.0, 0.0, 90.0, 0.0, -1.0}}; }

// A map read back through the engine's loader.
class CMapReader {
 public:
  bool Load(const std::string& path) { return m_engine->LoadPicture(path.c_str()); }
  std::uint32_t Colour(int x, int y) const { return m_engine->GetTerrainPixel(x, y); }
  int Elevation(int x, int y) const { return CTerrainEngine::ColourToElevation(Colour(x, y)); }
  int Width() const { return m_engine->MapWidth(); }
  int Height() const { return m_engine->MapHeight(); }

 private:
  std::unique_ptr<CTerrainEngine> m_engine = std::make_unique<CTerrainEngine>();
};

bool Make(const std::string& in, const std::string& out, const MapOptions& options,
          MapSummary* summary, std::string* error = nullptr) {
  mapmaker::CMapMaker maker;
  const bool ok = maker.MakeMap(in.c_str(), out.c_str(), options, summary);
  if (error != nullptr) {
    *error = maker.GetError();
  }
  return ok;
}

// The files beside path whose names start with its own and a dot: the
// temporary files a writer left ("map.bmp.123-0.tmp").
std::vector<std::string> Leftovers(const std::string& path) {
  const fs::path target(path);
  const std::string prefix = target.filename().string() + ".";
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(target.parent_path())) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) {
      found.push_back(entry.path().filename().string());
    }
  }
  return found;
}

// The temporary file a process writes beside path first.
std::string TemporaryOf(const std::string& path, pid_t pid) {
  return path + "." + std::to_string(pid) + "-0.tmp";
}

}  // namespace

TEST(MapEncoding, EveryElevationRoundTripsThroughTheEngineDecoder) {
  for (int e = mapmaker::kMinElevation; e <= mapmaker::kMaxElevation; ++e) {
    for (std::uint8_t red : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{200}}) {
      const std::uint32_t colour = mapmaker::EncodeElevation(e, red);
      ASSERT_NE(colour, 0u) << e;  // 0 would read as 0 m
      ASSERT_EQ(colour >> 24, 0u) << e;
      ASSERT_EQ(CTerrainEngine::ColourToElevation(colour), e) << "red " << int(red);
      ASSERT_EQ(mapmaker::DecodeElevation(colour), e);
    }
  }
}

TEST(MapEncoding, HundredsInBlueRemainderInGreen) {
  struct Case {
    int e;
    int blue;
    int green;
  };
  const Case cases[] = {{0, 100, 10},    {2240, 122, 50},   {-1, 99, 109},     {-100, 99, 10},
                        {-10000, 0, 10}, {15599, 255, 109}, {-10010, 0, 0},    {15745, 255, 255},
                        {-10001, 0, 9},  {15600, 255, 110}, {20000, 255, 255}, {-20000, 0, 0}};
  for (const Case& c : cases) {
    const std::uint32_t colour = mapmaker::EncodeElevation(c.e, 7);
    EXPECT_EQ(static_cast<int>((colour >> 16) & 0xFF), c.blue) << c.e;
    EXPECT_EQ(static_cast<int>((colour >> 8) & 0xFF), c.green) << c.e;
    EXPECT_EQ(colour & 0xFF, 7u) << c.e;
  }
}

TEST(MapMaker, EveryElevationSurvivesTheBitmapFile) {
  ScratchDir dir;
  const int count = mapmaker::kMaxElevation - mapmaker::kMinElevation + 1;
  std::vector<float> values(360 * 180, 0.0f);
  for (int n = 0; n < count; ++n) {
    values[static_cast<std::size_t>(n)] = static_cast<float>(mapmaker::kMinElevation + n);
  }
  WriteRaster(dir.File("all.tif"), WorldDegrees(), values);
  MapOptions options;
  options.pixelsPerDegree = 1;
  options.keepNegative = true;
  MapSummary s;
  ASSERT_TRUE(Make(dir.File("all.tif"), dir.File("all.bmp"), options, &s));
  CMapReader map;
  ASSERT_TRUE(map.Load(dir.File("all.bmp")));
  ASSERT_EQ(map.Width(), 360);
  ASSERT_EQ(map.Height(), 180);
  for (int n = 0; n < count; ++n) {
    ASSERT_EQ(map.Elevation(n % 360, n / 360), mapmaker::kMinElevation + n);
  }
  EXPECT_EQ(s.clampedCells, 0);
  EXPECT_EQ(s.minElevation, mapmaker::kMinElevation);
  EXPECT_EQ(s.maxElevation, mapmaker::kMaxElevation);
  EXPECT_EQ(s.cellsWritten, 360 * 180);
}

// Node-registered grids at half a degree (samples on whole and half
// degrees, poles included, as ETOPO5 is at 1/12 degree): with 2 pixels per
// degree every map pixel holds exactly the sample at its north-west corner.
struct GeometryCase {
  const char* name;
  double firstLon;  // longitude of sample column 0
  double lastLon;   // what the file claims for the last column
  int columns;
  Aggregate aggregate;
};

class MapGeometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(MapGeometry, KnownSampleLandsInItsPixel) {
  const GeometryCase& c = GetParam();
  ScratchDir dir;
  const int rows = 361;
  const double step = (c.lastLon - c.firstLon) / (c.columns - 1);
  RasterSpec layout{c.columns, rows, {c.firstLon - step / 2, step, 0.0, 90.25, 0.0, -0.5}};
  std::vector<float> values(static_cast<std::size_t>(c.columns) * rows, 100.0f);
  // Spikes at true longitudes -109.5, 0 and 179.5, latitudes 47.5, 0, -89.5.
  struct Spike {
    double lon;
    double lat;
    float value;
    int x;
    int y;
  };
  const Spike spikes[] = {{-109.5, 47.5, 5000.0f, 141, 85},
                          {0.0, 0.0, 3000.0f, 360, 180},
                          {179.5, -89.5, 2000.0f, 719, 359},
                          {-180.0, 90.0, 1500.0f, 0, 0}};
  const double trueStep = 0.5;
  for (const Spike& s : spikes) {
    double offset = std::fmod(s.lon - c.firstLon, 360.0);
    if (offset < 0) {
      offset += 360.0;
    }
    const int i = static_cast<int>(std::lround(offset / trueStep));
    const int j = static_cast<int>(std::lround((90.0 - s.lat) / 0.5));
    values[static_cast<std::size_t>(j) * c.columns + i] = s.value;
  }
  WriteRaster(dir.File("g.tif"), layout, values);
  MapOptions options;
  options.pixelsPerDegree = 2;
  options.aggregate = c.aggregate;
  MapSummary summary;
  std::string error;
  ASSERT_TRUE(Make(dir.File("g.tif"), dir.File("g.bmp"), options, &summary, &error)) << error;
  CMapReader map;
  ASSERT_TRUE(map.Load(dir.File("g.bmp")));
  for (const Spike& s : spikes) {
    EXPECT_EQ(map.Elevation(s.x, s.y), static_cast<int>(s.value)) << s.lon << " " << s.lat;
    EXPECT_EQ(map.Elevation((s.x + 1) % 720, s.y), 100) << "east of " << s.lon;
    if (s.y + 1 < 360) {
      EXPECT_EQ(map.Elevation(s.x, s.y + 1), 100) << "south of " << s.lat;
    }
  }
  EXPECT_EQ(summary.outsideCells, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Longitudes, MapGeometry,
    ::testing::Values(
        GeometryCase{"From0To360Maximum", 0.0, 359.5, 720, Aggregate::kMaximum},
        GeometryCase{"From0To360Nearest", 0.0, 359.5, 720, Aggregate::kNearest},
        GeometryCase{"FromMinus180Maximum", -180.0, 179.5, 720, Aggregate::kMaximum},
        GeometryCase{"FromMinus180Mean", -180.0, 179.5, 720, Aggregate::kMean},
        GeometryCase{"FromMinus180Nearest", -180.0, 179.5, 720, Aggregate::kNearest},
        // The file's last longitude is short of the true one,
        // so the step GDAL derives is a little small: trusted
        // as it is, samples far east fall one pixel west.
        GeometryCase{"UnevenCoordinatesMaximum", 0.0, 359.4, 720, Aggregate::kMaximum},
        GeometryCase{"UnevenCoordinatesNearest", 0.0, 359.4, 720, Aggregate::kNearest}),
    [](const ::testing::TestParamInfo<GeometryCase>& info) {
      return std::string(info.param.name);
    });

// Finer input: four samples per map pixel, each mode's value known.
TEST(MapMaker, AggregationOfFinerSamples) {
  ScratchDir dir;
  RasterSpec layout{720, 360, {-180.0, 0.5, 0.0, 90.0, 0.0, -0.5}};
  std::vector<float> values(720 * 360, 10.0f);
  // Map pixel (200, 40) at 1 pixel per degree: samples (400..401, 80..81).
  values[80 * 720 + 400] = 100.0f;  // north-west
  values[80 * 720 + 401] = 700.0f;
  values[81 * 720 + 400] = 300.0f;
  values[81 * 720 + 401] = 500.0f;
  WriteRaster(dir.File("fine.tif"), layout, values);
  const struct {
    Aggregate aggregate;
    int expected;
  } cases[] = {{Aggregate::kMaximum, 700}, {Aggregate::kMean, 400}, {Aggregate::kNearest, 100}};
  for (const auto& c : cases) {
    MapOptions options;
    options.pixelsPerDegree = 1;
    options.aggregate = c.aggregate;
    MapSummary s;
    ASSERT_TRUE(Make(dir.File("fine.tif"), dir.File("fine.bmp"), options, &s));
    CMapReader map;
    ASSERT_TRUE(map.Load(dir.File("fine.bmp")));
    EXPECT_EQ(map.Elevation(200, 40), c.expected) << mapmaker::AggregateName(c.aggregate);
    EXPECT_EQ(map.Elevation(201, 40), 10);
  }
}

// Coarser input: every map pixel takes the sample nearest its corner.
TEST(MapMaker, CoarserInputTakesTheNearestSample) {
  ScratchDir dir;
  RasterSpec layout{180, 90, {-180.0, 2.0, 0.0, 90.0, 0.0, -2.0}};
  std::vector<float> values(180 * 90, 50.0f);
  values[10 * 180 + 20] = 900.0f;  // covers longitudes -140..-138, latitudes 70..68
  WriteRaster(dir.File("coarse.tif"), layout, values);
  MapOptions options;
  options.pixelsPerDegree = 2;
  MapSummary s;
  ASSERT_TRUE(Make(dir.File("coarse.tif"), dir.File("coarse.bmp"), options, &s));
  CMapReader map;
  ASSERT_TRUE(map.Load(dir.File("coarse.bmp")));
  // Pixels whose corners are nearest that sample's centre (-139, 69).
  EXPECT_EQ(map.Elevation(81, 41), 900);  // corner -139.5, 69.5
  EXPECT_EQ(map.Elevation(83, 43), 900);  // corner -138.5, 68.5
  EXPECT_EQ(map.Elevation(80, 41), 900);  // corner -140.0: a tie, which goes east, into the pixel
  EXPECT_EQ(map.Elevation(79, 41), 50);   // corner -140.5: nearer the sample to the west
  EXPECT_EQ(s.outsideCells, 0);
}

struct SeaCase {
  float input;
  bool keepNegative;
  int expected;
  bool black;  // written as colour 0
};

class MapSeaAndClamp : public ::testing::TestWithParam<SeaCase> {};

TEST_P(MapSeaAndClamp, ValueIsWrittenAsExpected) {
  const SeaCase& c = GetParam();
  ScratchDir dir;
  std::vector<float> values(360 * 180, 300.0f);
  values[90 * 360 + 180] = c.input;
  WriteRaster(dir.File("s.tif"), WorldDegrees(), values);
  MapOptions options;
  options.pixelsPerDegree = 1;
  options.keepNegative = c.keepNegative;
  MapSummary s;
  ASSERT_TRUE(Make(dir.File("s.tif"), dir.File("s.bmp"), options, &s));
  CMapReader map;
  ASSERT_TRUE(map.Load(dir.File("s.bmp")));
  EXPECT_EQ(map.Elevation(180, 90), c.expected);
  EXPECT_EQ(map.Colour(180, 90) == 0, c.black);
  const bool clamped =
      c.input > mapmaker::kMaxElevation || (c.keepNegative && c.input < mapmaker::kMinElevation);
  EXPECT_EQ(s.clampedCells, clamped ? 1 : 0);
  EXPECT_EQ(s.seaCells, c.black ? 1 : 0);
  EXPECT_NE(map.Colour(181, 90) & 0xFF, 0u) << "land carries the relief in red";
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MapSeaAndClamp,
    ::testing::Values(SeaCase{-5.0f, false, 0, true}, SeaCase{0.0f, false, 0, true},
                      SeaCase{0.4f, false, 0, true}, SeaCase{1.0f, false, 1, false},
                      SeaCase{8848.6f, false, 8849, false}, SeaCase{20000.0f, false, 15745, false},
                      SeaCase{-12000.0f, false, 0, true}, SeaCase{-5.0f, true, -5, false},
                      SeaCase{-12000.0f, true, -10010, false},
                      SeaCase{-10010.0f, true, -10010, false},
                      SeaCase{15745.0f, true, 15745, false},
                      SeaCase{20000.0f, true, 15745, false}));

TEST(MapMaker, NoDataHolesFillFromNeighbours) {
  ScratchDir dir;
  RasterSpec layout = WorldDegrees();
  layout.hasNoData = true;
  layout.noData = -32768.0;
  std::vector<float> values(360 * 180, 400.0f);
  for (int j = 50; j < 53; ++j) {
    for (int i = 358; i < 361; ++i) {  // across the antimeridian
      values[static_cast<std::size_t>(j) * 360 + static_cast<std::size_t>(i % 360)] = -32768.0f;
    }
  }
  values[51 * 360 + 1] = 900.0f;  // the highest neighbour wins
  values[120 * 360 + 100] = std::numeric_limits<float>::quiet_NaN();
  WriteRaster(dir.File("h.tif"), layout, values);
  MapOptions options;
  options.pixelsPerDegree = 1;
  options.fillDistance = 4;
  MapSummary s;
  ASSERT_TRUE(Make(dir.File("h.tif"), dir.File("h.bmp"), options, &s));
  CMapReader map;
  ASSERT_TRUE(map.Load(dir.File("h.bmp")));
  EXPECT_EQ(s.filledCells, 10);
  EXPECT_EQ(s.unfilledCells, 0);
  EXPECT_EQ(map.Elevation(358, 51), 400);
  EXPECT_EQ(map.Elevation(0, 50), 900);
  EXPECT_EQ(map.Elevation(0, 51), 900);
  EXPECT_EQ(map.Elevation(359, 51), 900);  // the centre of the hole: second layer
  EXPECT_EQ(map.Elevation(100, 120), 400);
}

// The map is a globe to the hole filling: a hole takes the highest
// neighbour across the antimeridian and across each pole (the same row half
// a turn away). Before, the pole rows were filled as an edge of the world.
TEST(MapMaker, HolesFillAcrossTheSeams) {
  ScratchDir dir;
  RasterSpec layout = WorldDegrees();
  layout.hasNoData = true;
  layout.noData = -32768.0;
  const struct {
    const char* seam;
    int holeX, holeY;
    int peakX, peakY;
  } cases[] = {
      // A peak one pixel east of 180 W reaches the cell touching it from the west.
      {"antimeridian", 359, 60, 0, 60},
      {"north pole", 10, 0, 190, 0},
      {"south pole", 20, 179, 200, 179},
      {"south pole, diagonal", 300, 179, 121, 179},
  };
  std::vector<float> values(360 * 180, 400.0f);
  for (const auto& c : cases) {
    values[static_cast<std::size_t>(c.holeY) * 360 + static_cast<std::size_t>(c.holeX)] = -32768.0f;
    values[static_cast<std::size_t>(c.peakY) * 360 + static_cast<std::size_t>(c.peakX)] = 900.0f;
  }
  WriteRaster(dir.File("h.tif"), layout, values);
  MapOptions options;
  options.pixelsPerDegree = 1;
  options.fillDistance = 1;
  MapSummary s;
  ASSERT_TRUE(Make(dir.File("h.tif"), dir.File("h.bmp"), options, &s));
  CMapReader map;
  ASSERT_TRUE(map.Load(dir.File("h.bmp")));
  EXPECT_EQ(s.filledCells, 4);
  for (const auto& c : cases) {
    EXPECT_EQ(map.Elevation(c.holeX, c.holeY), 900) << c.seam;
  }
}

TEST(MapMaker, HolesBeyondTheFillDistanceBecomeZeroAndAreCounted) {
  ScratchDir dir;
  RasterSpec layout = WorldDegrees();
  layout.hasNoData = true;
  layout.noData = -9999.0;
  std::vector<float> values(360 * 180, -9999.0f);
  values[90 * 360 + 180] = 700.0f;
  WriteRaster(dir.File("h.tif"), layout, values);
  MapOptions options;
  options.pixelsPerDegree = 1;
  options.fillDistance = 2;
  MapSummary s;
  ASSERT_TRUE(Make(dir.File("h.tif"), dir.File("h.bmp"), options, &s));
  CMapReader map;
  ASSERT_TRUE(map.Load(dir.File("h.bmp")));
  EXPECT_EQ(s.filledCells, 24);  // the 5 x 5 block around the one sample
  EXPECT_EQ(s.unfilledCells, 360 * 180 - 25);
  EXPECT_EQ(map.Elevation(182, 92), 700);
  EXPECT_EQ(map.Colour(183, 90), 0u);
}

TEST(MapMaker, RegionalTileLeavesTheRestOfTheWorldAtZero) {
  ScratchDir dir;
  RasterSpec layout{40, 40, {11.0, 0.25, 0.0, 48.0, 0.0, -0.25}};  // 11..21 E, 38..48 N
  WriteRaster(dir.File("tile.tif"), layout, std::vector<float>(40 * 40, 1234.0f));
  MapOptions options;
  options.pixelsPerDegree = 1;
  MapSummary s;
  ASSERT_TRUE(Make(dir.File("tile.tif"), dir.File("tile.bmp"), options, &s));
  CMapReader map;
  ASSERT_TRUE(map.Load(dir.File("tile.bmp")));
  EXPECT_EQ(map.Elevation(191, 42), 1234);  // corner 11 E, 48 N
  EXPECT_EQ(map.Elevation(200, 51), 1234);
  EXPECT_EQ(map.Colour(190, 42), 0u);
  EXPECT_EQ(map.Colour(191, 52), 0u);
  EXPECT_EQ(s.outsideCells, 360 * 180 - 100);
}

TEST(MapMaker, FailuresAreClearAndLoseNothing) {
  ScratchDir dir;
  WriteRaster(dir.File("ok.tif"), WorldDegrees(), std::vector<float>(360 * 180, 10.0f));
  RasterSpec projected{10, 10, {0.0, 1000.0, 0.0, 0.0, 0.0, -1000.0}, 3857};
  WriteRaster(dir.File("merc.tif"), projected, std::vector<float>(100, 10.0f));
  { std::ofstream(dir.File("text.tif")) << "not a raster\n"; }
  { std::ofstream(dir.File("keep.bmp")) << "previous map"; }
  MapOptions options;
  options.pixelsPerDegree = 1;
  const struct {
    const char* name;
    std::string input;
    std::string output;
    int k;
    const char* message;
  } cases[] = {
      {"missing input", dir.File("none.tif"), dir.File("keep.bmp"), 1, "cannot open"},
      {"not a raster", dir.File("text.tif"), dir.File("keep.bmp"), 1, "cannot open"},
      {"projected", dir.File("merc.tif"), dir.File("keep.bmp"), 1, "projected"},
      {"bad resolution", dir.File("ok.tif"), dir.File("keep.bmp"), 0, "pixels per degree"},
      {"no folder", dir.File("ok.tif"), dir.File("no/such/folder/map.bmp"), 1, "cannot write"},
  };
  for (const auto& c : cases) {
    options.pixelsPerDegree = c.k;
    MapSummary s;
    std::string error;
    EXPECT_FALSE(Make(c.input, c.output, options, &s, &error)) << c.name;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
    std::ifstream kept(dir.File("keep.bmp"));
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "previous map") << c.name;
    EXPECT_TRUE(Leftovers(dir.File("keep.bmp")).empty()) << c.name;
  }
  options.pixelsPerDegree = 1;
  MapSummary s;
  ASSERT_TRUE(Make(dir.File("ok.tif"), dir.File("keep.bmp"), options, &s));
  EXPECT_EQ(fs::file_size(dir.File("keep.bmp")), s.fileBytes);
  EXPECT_TRUE(Leftovers(dir.File("keep.bmp")).empty());
}

TEST(MapEncoding, CorruptBitmapsAreRefused) {
  ScratchDir dir;
  WriteRaster(dir.File("ok.tif"), WorldDegrees(), std::vector<float>(360 * 180, 10.0f));
  MapOptions options;
  options.pixelsPerDegree = 1;
  MapSummary s;
  ASSERT_TRUE(Make(dir.File("ok.tif"), dir.File("ok.bmp"), options, &s));
  std::ifstream in(dir.File("ok.bmp"), std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  mapmaker::CTerrainBitmap bitmap;
  ASSERT_TRUE(bitmap.LoadFromMemory(bytes.data(), bytes.size()));
  EXPECT_EQ(mapmaker::DecodeElevation(bitmap.Pixel(10, 10)), 10);
  EXPECT_EQ(bitmap.Pixel(360, 0), mapmaker::kOutsideColour);
  EXPECT_FALSE(bitmap.LoadFromMemory(bytes.data(), bytes.size() - 1));
  EXPECT_EQ(bitmap.Width(), 0);
  std::vector<std::uint8_t> bad = bytes;
  bad[28] = 8;  // 8 bits per pixel
  EXPECT_FALSE(bitmap.LoadFromMemory(bad.data(), bad.size()));
  bad = bytes;
  bad[22] = bad[23] = bad[24] = bad[25] = 0;  // height 0
  EXPECT_FALSE(bitmap.LoadFromMemory(bad.data(), bad.size()));
}

// The default map, made by the build from ETOPO5 at 12 pixels per degree.
class DefaultMap : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (fs::exists(OROGRID_DEFAULT_MAP_PATH) && fs::exists(OROGRID_ETOPO5_PATH)) {
      s_map = new CMapReader;
      if (!s_map->Load(OROGRID_DEFAULT_MAP_PATH)) {
        delete s_map;
        s_map = nullptr;
      }
    }
  }
  static void TearDownTestSuite() {
    delete s_map;
    s_map = nullptr;
  }
  void SetUp() override {
    if (s_map == nullptr) {
      GTEST_SKIP() << "no default map at " << OROGRID_DEFAULT_MAP_PATH << " (needs "
                   << OROGRID_ETOPO5_PATH << ", Debian package ferret-datasets)";
    }
  }
  static CMapReader* s_map;
};
CMapReader* DefaultMap::s_map = nullptr;

TEST_F(DefaultMap, SizeAndKnownPlaces) {
  ASSERT_EQ(s_map->Width(), 4320);
  ASSERT_EQ(s_map->Height(), 2160);
  // ETOPO5's values at the nodes on these pixels' north-west corners.
  const struct {
    const char* place;
    double lat;
    double lon;
    int metres;
  } places[] = {{"19.43 N 99.13 W", 19.43, -99.13, 2226},
                {"47.26 N 11.35 E", 47.26, 11.35, 1010},
                {"33 N 88 E", 33.0, 88.0, 5181},
                {"0 N 150 W (sea, -4007 m)", 0.0, -150.0, 0},
                {"72 N 40 W", 72.0, -40.0, 2956}};
  for (const auto& p : places) {
    const int x = static_cast<int>((p.lon + 180.0) * 12.0);
    const int y = static_cast<int>((90.0 - p.lat) * 12.0);
    EXPECT_EQ(s_map->Elevation(x, y), p.metres) << p.place;
  }
}

// The override table was entered by hand for pixels of this map. Its centre
// sub-point lies inside the square of the four map pixels (x..x+1, y..y+1)
// whose values are ETOPO5's nodes at their corners, so the map's word on the
// centre is the range of those four, about 9 km apart. The table agrees with
// it to within 120 m wherever the ground is gentle (the whole 19.6 N 99.1 W
// basin); 150 m leaves room for that and no more. Disagreements beyond it
// are real: alpine valley floors and steep slopes a 5-minute grid cannot
// resolve, coastal pixels the grid has as sea, and the seven flat entries,
// which lie in the open South Pacific. They are listed, and the known ones
// are allowed; any other cell must agree.
TEST_F(DefaultMap, AgreesWithTheOverrideTable) {
  constexpr int kToleranceMetres = 150;
  const std::vector<int> knownDisagreements = {
      22930512, 22950512, 22950513, 22990510,
      22990512, 23010510, 23020510,  // alpine valleys
      34590886, 34700934, 34710933,  // headlands: sea on the map
      3561440,  3601440,  3601441,  3611440,
      3611441,  3621440,  3621441};        // flat entries, open sea
  std::vector<std::pair<int, int>> cells;  // identifier, centre value
  for (const auto& entry : terrain::kElevationOverrides) {
    cells.emplace_back(entry.cellId, entry.picture[1][1]);
  }
  for (const auto& entry : terrain::kFlatOverrides) {
    cells.emplace_back(entry.cellId, entry.elevation);
  }
  ASSERT_EQ(cells.size(), 60u);
  int disagreeing = 0;
  for (const auto& [cellId, centre] : cells) {
    const int x = cellId / 10000;
    const int y = cellId % 10000;
    int low = std::numeric_limits<int>::max();
    int high = std::numeric_limits<int>::min();
    for (int dx = 0; dx <= 1; ++dx) {
      for (int dy = 0; dy <= 1; ++dy) {
        const int e = s_map->Elevation(x + dx, y + dy);
        low = std::min(low, e);
        high = std::max(high, e);
      }
    }
    const bool agrees = centre >= low - kToleranceMetres && centre <= high + kToleranceMetres;
    if (!agrees) {
      ++disagreeing;
      std::printf("  cell %8d (%.3f N %.3f E): table %5d m, map %d..%d m\n", cellId,
                  90.0 - y / 12.0, x / 12.0 - 180.0, centre, low, high);
      const bool known = std::find(knownDisagreements.begin(), knownDisagreements.end(), cellId) !=
                         knownDisagreements.end();
      EXPECT_TRUE(known) << "cell " << cellId << ": table " << centre << " m, map " << low << ".."
                         << high << " m";
    }
  }
  std::printf("  %d of %zu override cells disagree with the map by more than %d m\n", disagreeing,
              cells.size(), kToleranceMetres);
}

namespace {

// FNV-1a over a map's pixel rows, read from the header's pixel data offset.
std::uint64_t PixelHash(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (bytes.size() < 54) {
    return 0;
  }
  const std::uint32_t offset = bytes[10] | (bytes[11] << 8) | (bytes[12] << 16) |
                               (static_cast<std::uint32_t>(bytes[13]) << 24);
  std::uint64_t h = 14695981039346656037ull;
  for (std::size_t n = offset; n < bytes.size(); ++n) {
    h = (h ^ bytes[n]) * 1099511628211ull;
  }
  return h;
}

// Half-degree world terrain from integer arithmetic (no libm), with no-data
// blobs of many sizes, some wider than any fill distance used here.
void WriteHoleyWorld(const std::string& path) {
  RasterSpec layout{720, 360, {-180.0, 0.5, 0.0, 90.0, 0.0, -0.5}};
  layout.hasNoData = true;
  layout.noData = -32768.0;
  std::vector<float> values(720 * 360);
  std::uint32_t seed = 12345;
  for (int j = 0; j < 360; ++j) {
    for (int i = 0; i < 720; ++i) {
      seed = seed * 1664525u + 1013904223u;
      const int ridge = 3000 - 25 * std::abs((i % 180) - 90) - 10 * std::abs((j % 120) - 60);
      values[static_cast<std::size_t>(j) * 720 + static_cast<std::size_t>(i)] =
          static_cast<float>(ridge + static_cast<int>(seed >> 24) - 128);
    }
  }
  const struct {
    int i;
    int j;
    int w;
    int h;
  } blobs[] = {{10, 10, 3, 2},     {700, 100, 40, 9}, {300, 170, 7, 30},
               {100, 300, 90, 50}, {0, 0, 720, 3},    {400, 50, 1, 1},
               {500, 200, 12, 12}, {250, 355, 30, 5}, {600, 20, 60, 70}};
  for (const auto& b : blobs) {
    for (int j = b.j; j < std::min(360, b.j + b.h); ++j) {
      for (int i = b.i; i < b.i + b.w; ++i) {
        values[static_cast<std::size_t>(j) * 720 + static_cast<std::size_t>(i % 720)] = -32768.0f;
      }
    }
  }
  WriteRaster(path, layout, values);
}

}  // namespace

// Hashes of maps made by the whole-raster maker before maps were written in
// bands; the fill, the relief and the aggregation reach across band edges.
// Four of them were taken again when hole filling began to reach across the
// poles: they differ from the earlier ones only in the rows by the south pole
// that the blob at (250, 355) touches, and the fill 0 case, which fills
// nothing, kept its hash.
TEST(MapMaker, BandedMapsMatchTheWholeRasterMaker) {
  ScratchDir dir;
  WriteHoleyWorld(dir.File("holey.tif"));
  const struct {
    int k;
    Aggregate aggregate;
    int fillDistance;
    bool keepNegative;
    std::uint64_t hash;
    std::int64_t filled;
    std::int64_t unfilled;
  } cases[] = {
      {2, Aggregate::kMaximum, 6, true, 0x5090da8fefa31bc9ull, 5983, 5748},
      {1, Aggregate::kMean, -1, false, 0xb3509e81918a5af4ull, 749, 1978},
      {3, Aggregate::kNearest, 40, true, 0xa34ff6be4c568b22ull, 26718, 250},
      {2, Aggregate::kMaximum, 0, false, 0xa1a3d9896f1fade6ull, 0, 11731},
      {4, Aggregate::kMaximum, -1, true, 0x6365405905e30162ull, 12044, 34880},
  };
  for (const auto& c : cases) {
    MapOptions options;
    options.pixelsPerDegree = c.k;
    options.aggregate = c.aggregate;
    options.fillDistance = c.fillDistance;
    options.keepNegative = c.keepNegative;
    MapSummary s;
    ASSERT_TRUE(Make(dir.File("holey.tif"), dir.File("holey.bmp"), options, &s));
    const std::string name = std::to_string(c.k) + " per degree, " +
                             mapmaker::AggregateName(c.aggregate) + ", fill " +
                             std::to_string(c.fillDistance);
    EXPECT_EQ(PixelHash(dir.File("holey.bmp")), c.hash) << name;
    EXPECT_EQ(s.filledCells, c.filled) << name;
    EXPECT_EQ(s.unfilledCells, c.unfilled) << name;
  }
}

TEST_F(DefaultMap, PixelsAreThoseOfTheWholeRasterMaker) {
  EXPECT_EQ(PixelHash(OROGRID_DEFAULT_MAP_PATH), 0x0030f20abb16bf25ull);
}

// The server maps the file and puts a bitmap section on the mapping: the
// pixel data must start at a multiple of four bytes.
TEST(MapEncoding, PixelDataStartsOnAFourByteBoundary) {
  ScratchDir dir;
  WriteRaster(dir.File("w.tif"), WorldDegrees(), std::vector<float>(360 * 180, 10.0f));
  for (int k : {1, 3, 7}) {
    MapOptions options;
    options.pixelsPerDegree = k;
    MapSummary s;
    ASSERT_TRUE(Make(dir.File("w.tif"), dir.File("w.bmp"), options, &s));
    std::ifstream in(dir.File("w.bmp"), std::ios::binary);
    std::uint8_t h[mapmaker::kBitmapPixelOffset] = {};
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(h), sizeof h));
    const auto u32 = [&](int at) {
      return static_cast<std::uint32_t>(h[at] | (h[at + 1] << 8) | (h[at + 2] << 16)) |
             (static_cast<std::uint32_t>(h[at + 3]) << 24);
    };
    const std::uint32_t offset = u32(10);
    EXPECT_EQ(offset % 4, 0u) << k;
    EXPECT_GE(offset, 54u) << k;
    const std::uint64_t rows = static_cast<std::uint64_t>(360 * k) * 3 * 180 * k;
    EXPECT_EQ(u32(2), fs::file_size(dir.File("w.bmp"))) << k;
    EXPECT_EQ(offset + rows, fs::file_size(dir.File("w.bmp"))) << k;
    EXPECT_EQ(u32(34), rows) << k;
    EXPECT_EQ(s.fileBytes, offset + rows) << k;
  }
}

namespace {

// Reads a whole small file as text.
std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Starts orogrid-mapmaker with args, its standard output and error into
// files; returns its process id, -1 when it cannot start.
pid_t StartTool(const std::vector<std::string>& args, const std::string& outPath,
                const std::string& errPath) {
  std::vector<std::string> all = {OROGRID_MAPMAKER_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(all.size() + 1);
  for (std::string& a : all) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int WaitTool(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

struct ToolRun {
  int status = 0;  // wait status
  std::string out;
  std::string err;
  int ExitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

ToolRun RunTool(const ScratchDir& dir, const std::vector<std::string>& args,
                const char* stdoutPath = nullptr) {
  ToolRun run;
  const std::string outPath = stdoutPath != nullptr ? stdoutPath : dir.File("stdout.txt");
  const pid_t pid = StartTool(args, outPath, dir.File("stderr.txt"));
  if (pid < 0) {
    run.status = -1;
    return run;
  }
  run.status = WaitTool(pid);
  run.out = stdoutPath != nullptr ? "" : ReadText(outPath);
  run.err = ReadText(dir.File("stderr.txt"));
  return run;
}

}  // namespace

TEST(MapMakerTool, HelpVersionAndUnknownOptions) {
  ScratchDir dir;
  ToolRun run = RunTool(dir, {"--help"});
  EXPECT_EQ(run.ExitCode(), 0);
  EXPECT_NE(run.out.find("--pixels-per-degree"), std::string::npos);
  run = RunTool(dir, {"--version"});
  EXPECT_EQ(run.ExitCode(), 0);
  EXPECT_EQ(run.out.rfind("orogrid-mapmaker 1.3.0\n", 0), 0u) << run.out;
  // Unknown options are called unknown, whatever follows them.
  for (const char* option : {"--frobnicate", "-x", "--quiet=yes", "--pixels=12"}) {
    run = RunTool(dir, {"in.tif", "out.bmp", option, "12"});
    EXPECT_EQ(run.ExitCode(), 2) << option;
    const bool named = run.err.find("unknown option") != std::string::npos ||
                       run.err.find("takes no value") != std::string::npos;
    EXPECT_TRUE(named) << option << ": " << run.err;
  }
  // After "--" a name that starts with a dash is a path.
  run = RunTool(dir, {"--", "-in.tif", "out.bmp"});
  EXPECT_EQ(run.ExitCode(), 1) << run.err;
  EXPECT_NE(run.err.find("-in.tif"), std::string::npos) << run.err;
  run = RunTool(dir, {"in.tif", "out.bmp", "--pixels-per-degree"});
  EXPECT_EQ(run.ExitCode(), 2);
  EXPECT_NE(run.err.find("--pixels-per-degree needs"), std::string::npos) << run.err;
  // Output that does not reach standard output is a failure, with the reason.
  run = RunTool(dir, {"--help"}, "/dev/full");
  EXPECT_EQ(run.ExitCode(), 1);
  EXPECT_NE(run.err.find("cannot write to standard output: No space left on device"),
            std::string::npos)
      << run.err;
}

// Symbolic links are followed and stay links; devices and pipes are written
// through, never replaced by a plain file; folders are refused.
TEST(MapMakerTool, OutputTargetsKeepWhatTheyAre) {
  ScratchDir dir;
  WriteRaster(dir.File("w.tif"), WorldDegrees(), std::vector<float>(360 * 180, 10.0f));
  fs::create_directories(dir.File("maps"));
  { std::ofstream(dir.File("maps/world.bmp")) << "old map"; }
  fs::permissions(dir.File("maps/world.bmp"), fs::perms(0640));
  fs::create_symlink("maps/world.bmp", dir.File("link.bmp"));
  fs::create_symlink("link.bmp", dir.File("link2.bmp"));  // a chain of links
  ToolRun run = RunTool(dir, {dir.File("w.tif"), dir.File("link2.bmp"), "-k", "1", "-q"});
  ASSERT_EQ(run.ExitCode(), 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(dir.File("link.bmp")));
  EXPECT_TRUE(fs::is_symlink(dir.File("link2.bmp")));
  EXPECT_EQ(fs::read_symlink(dir.File("link.bmp")), "maps/world.bmp");
  CMapReader map;
  ASSERT_TRUE(map.Load(dir.File("maps/world.bmp")));
  EXPECT_EQ(map.Elevation(100, 50), 10);
  EXPECT_EQ(fs::status(dir.File("maps/world.bmp")).permissions(), fs::perms(0640));
  EXPECT_TRUE(Leftovers(dir.File("maps/world.bmp")).empty());
  EXPECT_TRUE(Leftovers(dir.File("link2.bmp")).empty());

  run = RunTool(dir, {dir.File("w.tif"), "/dev/null", "-k", "1", "-q"});
  EXPECT_EQ(run.ExitCode(), 0) << run.err;
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  // A FIFO is written through to its reader, in file order.
  ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
  std::string piped;
  std::thread reader([&]() { piped = ReadText(dir.File("pipe")); });
  run = RunTool(dir, {dir.File("w.tif"), dir.File("pipe"), "-k", "1", "-q"});
  reader.join();
  EXPECT_EQ(run.ExitCode(), 0) << run.err;
  EXPECT_TRUE(fs::is_fifo(dir.File("pipe")));
  EXPECT_EQ(piped, ReadText(dir.File("maps/world.bmp")));

  run = RunTool(dir, {dir.File("w.tif"), dir.File("maps"), "-k", "1", "-q"});
  EXPECT_EQ(run.ExitCode(), 1);
  EXPECT_NE(run.err.find("cannot write \"" + dir.File("maps") + "\": Is a directory"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(fs::is_directory(dir.File("maps")));

  // A full device gets the system's reason.
  run = RunTool(dir, {dir.File("w.tif"), "/dev/full", "-k", "1", "-q"});
  EXPECT_EQ(run.ExitCode(), 1);
  EXPECT_NE(run.err.find("cannot write \"/dev/full\": No space left on device"), std::string::npos)
      << run.err;
}

// Stopped while writing, the maker removes its temporary file and the old
// map stays.
TEST(MapMakerTool, StopSignalsRemoveTheTemporaryFile) {
  ScratchDir dir;
  WriteRaster(dir.File("w.tif"), WorldDegrees(), std::vector<float>(360 * 180, 700.0f));
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const std::string map = dir.File("map.bmp");
    { std::ofstream(map) << "good map"; }
    // 120 pixels per degree: 2.8 GB, far more than is written before the signal.
    const pid_t pid = StartTool({dir.File("w.tif"), map, "-k", "120", "-q"}, dir.File("out.txt"),
                                dir.File("err.txt"));
    ASSERT_GT(pid, 0);
    const std::string temporary = TemporaryOf(map, pid);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    const auto started = [&]() {
      std::error_code ec;
      const std::uintmax_t size = fs::file_size(temporary, ec);
      return !ec && size >= (1u << 20);
    };
    while (!started() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(fs::exists(temporary)) << "signal " << signal;
    kill(pid, signal);
    const int status = WaitTool(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
        << "signal " << signal << ", status " << status;
    EXPECT_TRUE(Leftovers(map).empty()) << "signal " << signal;
    EXPECT_EQ(ReadText(map), "good map") << "signal " << signal;
    EXPECT_NE(ReadText(dir.File("err.txt")).find("unchanged"), std::string::npos);
  }
}

// A write that fails part way (a full disk) leaves the old map and no
// temporary file.
TEST(MapMaker, FailedWritesLeaveTheOldMap) {
  ScratchDir dir;
  WriteRaster(dir.File("w.tif"), WorldDegrees(), std::vector<float>(360 * 180, 10.0f));
  { std::ofstream(dir.File("map.bmp")) << "good map"; }
  for (std::uint64_t after : {0ull, 100ull, 150000ull}) {
    platform::SetOutputWriteFailure(ENOSPC, after);
    MapOptions options;
    options.pixelsPerDegree = 1;
    MapSummary s;
    std::string error;
    EXPECT_FALSE(Make(dir.File("w.tif"), dir.File("map.bmp"), options, &s, &error));
    platform::SetOutputWriteFailure(0);
    EXPECT_NE(error.find("cannot write \"" + dir.File("map.bmp") + "\": No space left on device"),
              std::string::npos)
        << error;
    EXPECT_EQ(ReadText(dir.File("map.bmp")), "good map");
    EXPECT_TRUE(Leftovers(dir.File("map.bmp")).empty());
  }
}

// A link planted under the temporary file's name (or a leftover of a killed
// run) is never written through: the name is skipped, the map still made.
TEST(MapMaker, PlantedTemporaryNameIsNotWrittenThrough) {
  ScratchDir dir;
  WriteRaster(dir.File("w.tif"), WorldDegrees(), std::vector<float>(360 * 180, 10.0f));
  { std::ofstream(dir.File("precious.txt")) << "precious"; }
  const std::string planted = TemporaryOf(dir.File("map.bmp"), getpid());
  fs::create_symlink(dir.File("precious.txt"), planted);
  MapOptions options;
  options.pixelsPerDegree = 1;
  MapSummary s;
  ASSERT_TRUE(Make(dir.File("w.tif"), dir.File("map.bmp"), options, &s));
  EXPECT_EQ(ReadText(dir.File("precious.txt")), "precious");
  EXPECT_EQ(Leftovers(dir.File("map.bmp")),
            std::vector<std::string>{fs::path(planted).filename().string()});
  EXPECT_FALSE(fs::is_symlink(dir.File("map.bmp")));
  EXPECT_EQ(fs::file_size(dir.File("map.bmp")), s.fileBytes);
}
