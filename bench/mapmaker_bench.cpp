// Speed of the engine's coarse sweep against what a user would write
// instead: the same 150 x 150 coarse grid read from the default map through
// GDAL (RasterIO of the window, then the same decoding). Both run in one
// program and the result is reported as a ratio, GDAL over engine.
// Threading: single-threaded.
#include <benchmark/benchmark.h>
#include <gdal_priv.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "shm/TrnInterfaceShm.h"
#include "terrain/TerrainEngine.h"

namespace {

// Innsbruck, inside the map and away from its edges.
constexpr double kLatitude = 47.26;
constexpr double kLongitude = 11.35;
constexpr int kSize = trn::kCoarseSize;
constexpr int kCentre = trn::kCoarseCentre;

bool HaveMap() { return std::filesystem::exists(OROGRID_DEFAULT_MAP_PATH); }

void BM_EngineSweep(benchmark::State& state) {
  if (!HaveMap()) {
    state.SkipWithError("no default map (make the orogrid_default_map target)");
    return;
  }
  auto engine = std::make_unique<CTerrainEngine>();
  if (!engine->LoadPicture(OROGRID_DEFAULT_MAP_PATH)) {
    state.SkipWithError("the engine cannot load the default map");
    return;
  }
  engine->StartEngine();
  const int column = engine->LongitudeToPixel(kLongitude);
  const int row = engine->LatitudeToPixel(kLatitude);
  for (auto _ : state) {
    // One whole sweep: bands of 15 columns until the grid is complete.
    while (!engine->FillCoarseBand(kLatitude, kLongitude, column, row)) {
    }
    benchmark::DoNotOptimize(engine->CoarseBuffer());
  }
}

void BM_GdalWindowSweep(benchmark::State& state) {
  if (!HaveMap()) {
    state.SkipWithError("no default map (make the orogrid_default_map target)");
    return;
  }
  GDALAllRegister();
  std::unique_ptr<GDALDataset, void (*)(GDALDataset*)> ds(
      GDALDataset::Open(OROGRID_DEFAULT_MAP_PATH, GDAL_OF_RASTER | GDAL_OF_READONLY),
      [](GDALDataset* d) { GDALClose(d); });
  if (!ds || ds->GetRasterCount() < 3) {
    state.SkipWithError("GDAL cannot open the default map");
    return;
  }
  const int width = ds->GetRasterXSize();
  const int height = ds->GetRasterYSize();
  const double degPerPixelLon = 360.0 / width;
  const double degPerPixelLat = 180.0 / height;
  const int column = static_cast<int>((kLongitude + 180.0) / degPerPixelLon);
  const int row = static_cast<int>((90.0 - kLatitude) / degPerPixelLat);
  const int x0 = column - kCentre;
  const int y0 = row - kCentre;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kSize) * kSize * 3);
  static TrnGridPoint grid[kSize][kSize];
  int bands[3] = {1, 2, 3};  // red, green, blue
  for (auto _ : state) {
    if (ds->RasterIO(GF_Read, x0, y0, kSize, kSize, rgb.data(), kSize, kSize, GDT_Byte, 3, bands, 3,
                     3 * kSize, 1, nullptr) != CE_None) {
      state.SkipWithError("RasterIO failed");
      return;
    }
    for (int i = 0; i < kSize; ++i) {
      const double longitude = (x0 + i) * degPerPixelLon - 180.0;
      for (int j = 0; j < kSize; ++j) {
        const std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(j) * kSize + i) * 3;
        const std::uint32_t colour = (static_cast<std::uint32_t>(p[2]) << 16) |
                                     (static_cast<std::uint32_t>(p[1]) << 8) | p[0];
        grid[i][j].cellId = CTerrainEngine::MakeCellId(x0 + i, y0 + j);
        grid[i][j].elevation = CTerrainEngine::ColourToElevation(colour);
        grid[i][j].latitude = 90.0 - (y0 + j) * degPerPixelLat;
        grid[i][j].longitude = longitude;
      }
    }
    benchmark::DoNotOptimize(grid);
  }
}

BENCHMARK(BM_EngineSweep);
BENCHMARK(BM_GdalWindowSweep);

// Console output as usual, plus the time per sweep of each run kept for the ratio.
class CRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (!run.error_occurred && run.iterations > 0) {
        m_seconds[run.benchmark_name()] =
            run.real_accumulated_time / static_cast<double>(run.iterations);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double Seconds(const std::string& name) const {
    const auto it = m_seconds.find(name);
    return it == m_seconds.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::string, double> m_seconds;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  CRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double engine = reporter.Seconds("BM_EngineSweep");
  const double gdal = reporter.Seconds("BM_GdalWindowSweep");
  if (engine > 0.0 && gdal > 0.0) {
    std::printf(
        "GDAL window read / engine sweep: %.2f (engine %.1f us, GDAL %.1f us per 150 x 150 grid)\n",
        gdal / engine, engine * 1e6, gdal * 1e6);
  }
  benchmark::Shutdown();
  return 0;
}
