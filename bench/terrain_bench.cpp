// Speed of the terrain engine on a synthetic 4320 x 2160 24-bit map made
// here: one band tick, one publishing tick, a whole 11-tick cycle (also with
// the server's sequence steps and companion writes around each tick), and
// the map load. Each figure is printed as a ratio to a reference measured in the
// same run, so it holds on a noisy machine:
//  - ticks against one block copy of the coarse grid (540000 bytes), the
//    machine's memory yardstick; the absolute times are shown beside their
//    targets (band tick < 30 us, publishing tick < 150 us);
//  - ticks with the sequence steps against the same ticks without them
//    (target: no measurable cost, under 1.05x);
//  - the load against reading the same file's bytes into memory (target:
//    under 3x).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "platform/bitmap.h"
#include "platform/monotonic_clock.h"
#include "platform/process_id.h"
#include "platform/shared_memory.h"
#include "shm/CTrnSeqShm.h"
#include "terrain/TerrainEngine.h"
#include "tests/support/BmpTestWriter.h"

namespace {

std::filesystem::path g_dir;
std::string g_mapPath;

// Terrain-like colours: elevations 0..8000 m varying across the map.
std::uint32_t SyntheticColour(int x, int y) {
  const int metres = ((x * 7 + y * 13) % 8000 + (x / 36) * (y / 36) % 500);
  return bmptest::ElevationColour(metres % 15000);
}

struct Fixture {
  std::unique_ptr<TrnShmData> record = std::make_unique<TrnShmData>();
  std::unique_ptr<CTerrainEngine> engine = std::make_unique<CTerrainEngine>();
  bool ok = false;
  Fixture() {
    std::memset(static_cast<void*>(record.get()), 0, sizeof(TrnShmData));
    ok = engine->LoadPicture(g_mapPath.c_str());
    engine->AttachRecord(record.get());
    engine->StartEngine();
    // Innsbruck-ish: away from the map's edges, near override cells.
    record->aircraftLatitude = 47.26;
    record->aircraftLongitude = 11.35;
    engine->UpdateTerrain();
  }
};

void BM_ReferenceCopy(benchmark::State& state) {
  constexpr std::size_t kBytes = sizeof(TrnShmData::coarseGrid);
  std::unique_ptr<std::uint8_t[]> from(new std::uint8_t[kBytes]());
  std::unique_ptr<std::uint8_t[]> to(new std::uint8_t[kBytes]());
  for (auto _ : state) {
    std::uint8_t* src = from.get();
    std::uint8_t* dst = to.get();
    benchmark::DoNotOptimize(src);
    benchmark::DoNotOptimize(dst);
    std::memcpy(dst, src, kBytes);
    benchmark::ClobberMemory();
  }
}

// One band: ten band ticks and the empty eleventh per iteration, reported
// per band tick by the summary.
void BM_BandTicks10(benchmark::State& state) {
  Fixture f;
  if (!f.ok) {
    state.SkipWithError("map not loaded");
    return;
  }
  for (auto _ : state) {
    for (int k = 0; k < 11; ++k) {
      benchmark::DoNotOptimize(f.engine->FillCoarseBand(47.26, 11.35, 2296, 512));
    }
    benchmark::ClobberMemory();
  }
}

void BM_PublishingTick(benchmark::State& state) {
  Fixture f;
  if (!f.ok) {
    state.SkipWithError("map not loaded");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    while (f.engine->NextColumn() != trn::kCoarseSize) {  // the ten band ticks
      f.engine->FillCoarseBand(47.26, 11.35, 2296, 512);
    }
    state.ResumeTiming();
    benchmark::DoNotOptimize(f.engine->UpdateTerrain());
  }
}

// What the server adds around a tick: the clock, the odd and even steps,
// the heartbeat, the publication and the tick time, on a real companion.
struct SequencedTick {
  std::string recordName = "OroBench" + std::to_string(platform::ThisProcessId());
  CTrnSeqShm seq{recordName.c_str()};
  bool ok = seq.Attach() == CTrnSeqShm::AttachResult::kServing;
  ~SequencedTick() {
    seq.Release();
    platform::ShmRemoveName((recordName + trn::kSeqNameSuffix).c_str());
  }
  template <class Work>
  void Run(Work work) {
    const std::int64_t start = platform::MonotonicNanoseconds();
    seq.BeginTick(start);
    if (work()) {
      seq.NotePublication(platform::MonotonicNanoseconds());
    }
    seq.EndTick();
    seq.NoteTickDuration(platform::MonotonicNanoseconds() - start);
  }
};

void BM_PublishingTickSequenced(benchmark::State& state) {
  Fixture f;
  SequencedTick tick;
  if (!f.ok || !tick.ok) {
    state.SkipWithError("map or companion not ready");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    while (f.engine->NextColumn() != trn::kCoarseSize) {
      f.engine->FillCoarseBand(47.26, 11.35, 2296, 512);
    }
    state.ResumeTiming();
    tick.Run([&] { return f.engine->UpdateTerrain(); });
  }
}

void BM_CycleSequenced(benchmark::State& state) {
  Fixture f;
  SequencedTick tick;
  if (!f.ok || !tick.ok) {
    state.SkipWithError("map or companion not ready");
    return;
  }
  for (auto _ : state) {
    for (int k = 0; k < 11; ++k) {
      tick.Run([&] { return f.engine->UpdateTerrain(); });
    }
  }
}

void BM_Cycle(benchmark::State& state) {
  Fixture f;
  if (!f.ok) {
    state.SkipWithError("map not loaded");
    return;
  }
  for (auto _ : state) {
    for (int k = 0; k < 11; ++k) {
      benchmark::DoNotOptimize(f.engine->UpdateTerrain());
    }
  }
}

void BM_ReadFileBytes(benchmark::State& state) {
  for (auto _ : state) {
    std::FILE* file = std::fopen(g_mapPath.c_str(), "rb");
    const auto size = static_cast<std::size_t>(std::filesystem::file_size(g_mapPath));
    std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size]);
    benchmark::DoNotOptimize(std::fread(bytes.get(), 1, size, file));
    std::fclose(file);
    benchmark::DoNotOptimize(bytes.get());
  }
}

void BM_LoadMap(benchmark::State& state) {
  for (auto _ : state) {
    platform::CBitmapFile bitmap;
    if (!bitmap.Load(g_mapPath.c_str())) {
      state.SkipWithError(bitmap.ErrorText());
      return;
    }
    benchmark::DoNotOptimize(bitmap.Pixel(100, 100));
  }
}

BENCHMARK(BM_ReferenceCopy);
BENCHMARK(BM_BandTicks10);
BENCHMARK(BM_PublishingTick);
BENCHMARK(BM_Cycle);
BENCHMARK(BM_PublishingTickSequenced);
BENCHMARK(BM_CycleSequenced);
BENCHMARK(BM_ReadFileBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadMap)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's mean time per iteration (seconds) for the summary.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.iterations > 0 && !run.error_occurred) {
        seconds[run.benchmark_name()] =
            run.real_accumulated_time / static_cast<double>(run.iterations);
        cpuSeconds[run.benchmark_name()] =
            run.cpu_accumulated_time / static_cast<double>(run.iterations);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds;
  std::map<std::string, double> cpuSeconds;
};

void PrintRatio(const char* what, double value, double reference, const char* referenceName,
                double targetRatio, double targetMicros) {
  std::printf("%-22s %10.2f us  = %7.2f x %s", what, value * 1e6, value / reference, referenceName);
  if (targetRatio > 0.0) {
    std::printf("  (target < %.3g x: %s)", targetRatio,
                value / reference < targetRatio ? "met" : "MISSED");
  }
  if (targetMicros > 0.0) {
    std::printf("  (target < %.0f us: %s)", targetMicros,
                value * 1e6 < targetMicros ? "met" : "MISSED");
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  g_dir = bmptest::ScratchDir("terrain-bench");
  g_mapPath = (g_dir / "KtTerrainMap.bmp").string();
  if (!bmptest::WriteFile(g_mapPath, bmptest::Make24(4320, 2160, SyntheticColour))) {
    std::fprintf(stderr, "cannot write the synthetic map to %s\n", g_mapPath.c_str());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const auto& s = reporter.seconds;
  auto get = [&](const char* name) {
    const auto it = s.find(name);
    return it == s.end() ? 0.0 : it->second;
  };
  const double copy = get("BM_ReferenceCopy");
  const double read = get("BM_ReadFileBytes");
  std::printf("\nRatios to references measured in this run:\n");
  if (copy > 0.0) {
    PrintRatio("band tick", get("BM_BandTicks10") / 10.0, copy, "coarse-grid copy", 0.0, 30.0);
    PrintRatio("publishing tick", get("BM_PublishingTick"), copy, "coarse-grid copy", 0.0, 150.0);
    PrintRatio("11-tick cycle", get("BM_Cycle"), copy, "coarse-grid copy", 0.0, 0.0);
  }
  if (get("BM_Cycle") > 0.0 && get("BM_PublishingTick") > 0.0) {
    PrintRatio("sequenced publishing", get("BM_PublishingTickSequenced"), get("BM_PublishingTick"),
               "publishing tick", 1.05, 0.0);
    PrintRatio("sequenced cycle", get("BM_CycleSequenced"), get("BM_Cycle"), "11-tick cycle", 1.05,
               0.0);
  }
  if (read > 0.0) {
    PrintRatio("map load (4320x2160)", get("BM_LoadMap"), read, "raw file read", 3.0, 0.0);
  }
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
  return 0;
}
