// Cost of the moving map's frame (orogrid-view --window): drawing one whole
// frame (raster of the grids, rings, symbol, readout) on an image against
// a plain copy of the snapshot it is drawn from (603 KB), heading-up with
// the bands and north-up with the elevation tints. The window draws at
// most about 20 frames a second (publications plus the simulation's
// moves), so the frame's time times 20 is its share of one core.
// Ratios use CPU time per iteration.
//
// Threading: one thread.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "bench/CpuTimeReporter.h"
#include "display/BaseDisplay.h"
#include "tests/support/MapSnapshot.h"
#include "tools/view/MovingMap.h"

namespace {

orogrid_snapshot g_snapshot;
orogrid_snapshot g_copy;

void BM_PlainSnapshotCopy(benchmark::State& state) {
  for (auto _ : state) {
    // Through pointers the compiler cannot see through, so the copy stays.
    orogrid_snapshot* from = &g_snapshot;
    orogrid_snapshot* to = &g_copy;
    benchmark::DoNotOptimize(from);
    benchmark::DoNotOptimize(to);
    std::memcpy(to, from, sizeof g_copy);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PlainSnapshotCopy);

void DrawFrames(benchmark::State& state, mapview::Orientation orientation, double altitude) {
  auto dc = platform::CreateImageDC(mapview::kWindowWidth, mapview::kWindowHeight);
  BaseDisplay display;
  display.SetDC(dc.get());
  display.SetScale(mapview::kFontScale);
  mapview::FrameInputs in{};
  in.snapshot = &g_snapshot;
  in.link = mapview::Link::kLive;
  in.orientation = orientation;
  in.rangeKm = 80.0;
  in.altitude = altitude;
  in.publicationAgeS = 0.1;
  in.latitude = in.longitude = std::numeric_limits<double>::quiet_NaN();
  in.simulationState = 1;
  double heading = 0.0;
  for (auto _ : state) {
    in.heading = heading;  // a turning aircraft: every frame differs
    heading = std::fmod(heading + 7.0, 360.0);
    mapview::DrawMovingMap(display, in);
    benchmark::DoNotOptimize(dc->GetPixel(300, 200));
  }
}

void BM_DrawFrameHeadingUpBands(benchmark::State& state) {
  DrawFrames(state, mapview::Orientation::kHeadingUp, 1500.0);
}
BENCHMARK(BM_DrawFrameHeadingUpBands);

void BM_DrawFrameNorthUpTints(benchmark::State& state) {
  DrawFrames(state, mapview::Orientation::kNorthUp, std::numeric_limits<double>::quiet_NaN());
}
BENCHMARK(BM_DrawFrameNorthUpTints);

}  // namespace

int main(int argc, char** argv) {
  maptest::FillSnapshot(g_snapshot, 47.2, 11.3, 90.0);
  benchsupport::CCpuTimeReporter reporter;
  benchsupport::RunBenchmarks(&argc, argv, reporter);
  const double copy = reporter.Seconds("BM_PlainSnapshotCopy");
  if (copy > 0.0) {
    std::printf("\nRatios to a plain copy of the snapshot measured in this run:\n");
    for (const char* name : {"BM_DrawFrameHeadingUpBands", "BM_DrawFrameNorthUpTints"}) {
      const double frame = reporter.Seconds(name);
      std::printf("  %-28s %.1f x a copy (%.2f ms a frame; 20 frames/s: %.1f %% of a core)\n", name,
                  frame / copy, frame * 1e3, frame * 20.0 * 100.0);
    }
  }
  return 0;
}
