// Speed of the engine's coarse sweep against what a user would write
// instead: the same 150 x 150 coarse grid read from the default map through
// GDAL (RasterIO of the window, then the same decoding). Both run in one
// program and the result is reported as a ratio, GDAL over engine.
// Also the map maker's banded writing against a plain write of the same
// bytes to the same folder (the map's time should stay near the time its
// bytes take to write), with the process's peak resident memory after it.
// Threading: single-threaded (the map maker writes with a thread of its own).
#include <benchmark/benchmark.h>
#include <gdal_priv.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "shm/TrnInterfaceShm.h"
#include "terrain/TerrainEngine.h"
#include "tools/mapmaker/MapEncoding.h"
#include "tools/mapmaker/MapMaker.h"

namespace {

// Innsbruck, inside the map and away from its edges.
constexpr double kLatitude = 47.26;
constexpr double kLongitude = 11.35;
constexpr int kSize = trn::kCoarseSize;
constexpr int kCentre = trn::kCoarseCentre;

bool HaveMap() { return std::filesystem::exists(OROGRID_DEFAULT_MAP_PATH); }

// The map maker's benchmarks: ETOPO5 at 24 pixels per degree, a 112 MB map.
constexpr int kMakerPixelsPerDegree = 24;

std::string ScratchMapPath() {
  return (std::filesystem::temp_directory_path() / "orogrid_mapmaker_bench.bmp").string();
}

double PeakResidentMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in kB on Linux
}

void BM_MapMakerBands(benchmark::State& state) {
  if (!std::filesystem::exists(OROGRID_ETOPO5_PATH)) {
    state.SkipWithError("no " OROGRID_ETOPO5_PATH " (Debian: ferret-datasets)");
    return;
  }
  mapmaker::MapOptions options;
  options.pixelsPerDegree = kMakerPixelsPerDegree;
  const std::string path = ScratchMapPath();
  for (auto _ : state) {
    mapmaker::CMapMaker maker;
    mapmaker::MapSummary summary;
    if (!maker.MakeMap(OROGRID_ETOPO5_PATH, path.c_str(), options, &summary)) {
      state.SkipWithError(maker.GetError());
      break;
    }
  }
  std::filesystem::remove(path);
  state.counters["peak_rss_MB"] = PeakResidentMegabytes();
}

// The same bytes, in the same band-sized writes, through the same output
// file (fsync and rename included).
void BM_RawMapWrite(benchmark::State& state) {
  const int width = 360 * kMakerPixelsPerDegree;
  const int height = 180 * kMakerPixelsPerDegree;
  const std::size_t band =
      static_cast<std::size_t>(mapmaker::Bitmap24RowBytes(width)) * kMakerPixelsPerDegree;
  std::vector<std::uint8_t> bytes(band, 0x55);
  const std::string path = ScratchMapPath();
  for (auto _ : state) {
    platform::COutputFile out;
    bool ok = out.Open(path.c_str());
    std::uint8_t header[mapmaker::kBitmapPixelOffset] = {};
    ok = ok && out.Write(header, sizeof header);
    for (int y = 0; ok && y < height; y += kMakerPixelsPerDegree) {
      ok = out.Write(bytes.data(), bytes.size());
    }
    if (!ok || !out.Commit()) {
      state.SkipWithError(out.ErrorText());
      break;
    }
  }
  std::filesystem::remove(path);
}

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

// The map maker first, so the peak resident memory it reports is its own.
BENCHMARK(BM_MapMakerBands)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RawMapWrite)->Unit(benchmark::kMillisecond)->Iterations(3);
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
    // Runs with a fixed iteration count are named "NAME/iterations:N".
    for (const auto& [runName, seconds] : m_seconds) {
      if (runName == name || runName.rfind(name + "/", 0) == 0) {
        return seconds;
      }
    }
    return 0.0;
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
  const double bands = reporter.Seconds("BM_MapMakerBands");
  const double raw = reporter.Seconds("BM_RawMapWrite");
  if (bands > 0.0 && raw > 0.0) {
    std::printf(
        "map maker / raw write of the same bytes: %.2f (map %.0f ms, raw write %.0f ms, %d pixels "
        "per degree)\n",
        bands / raw, bands * 1e3, raw * 1e3, kMakerPixelsPerDegree);
  }
  benchmark::Shutdown();
  return 0;
}
