// Cost of what the server adds around each tick for its readers: the clock
// readings, the odd and even sequence steps, the heartbeat, the publication
// count and the tick time, written into a real companion segment. The ticks
// run on a synthetic 4320 x 2160 map made here (terrain only around the
// flight, a hole elsewhere). Figures, in processor time measured in the same
// run (the difference sought is far below what other processes add to the
// elapsed time on a shared machine):
//  - the added steps alone, per tick, against an average tick of the cycle
//    (target: under 1 %, no measurable cost);
//  - the whole cycle with the steps against the same cycle without them,
//    for information: on a shared machine it wanders by several per cent
//    either way;
//  - the odd window (what readers wait for: the record's writes between
//    the odd and the even step) against the whole tick, both in elapsed
//    time of the same ticks, as the dialog's tick runs them; and the
//    window of a publishing tick (the two grid copies) on its own.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/monotonic_clock.h"
#include "platform/process_id.h"
#include "platform/shared_memory.h"
#include "shm/CTrnSeqShm.h"
#include "terrain/TerrainEngine.h"
#include "tests/support/BmpTestWriter.h"

namespace {

constexpr int kPixelsPerDegree = 12;
constexpr double kLatitude = 47.26;
constexpr double kLongitude = 11.35;

std::string g_mapPath;

bool WriteMap(const std::string& path) {
  const int k = kPixelsPerDegree;
  bmptest::SparseMap map(path, 360 * k, 180 * k);
  const int x0 = static_cast<int>((kLongitude + 180.0) * k) - 100;
  const int y0 = static_cast<int>((90.0 - kLatitude) * k) - 100;
  std::vector<std::uint32_t> run(200);
  for (int y = y0; y < y0 + 200; ++y) {
    for (int x = 0; x < 200; ++x) {
      run[static_cast<std::size_t>(x)] = bmptest::ElevationColour((x * 7 + y * 13) % 8000);
    }
    map.PutRun(x0, y, run.data(), 200);
  }
  return map.Close();
}

struct Fixture {
  // The engine's input in this process's memory: no shared record, no simulation.
  std::unique_ptr<TrnShmData> record = std::make_unique<TrnShmData>();
  std::unique_ptr<CTerrainEngine> engine = std::make_unique<CTerrainEngine>();
  bool ok = false;
  Fixture() {
    std::memset(static_cast<void*>(record.get()), 0, sizeof(TrnShmData));
    ok = engine->LoadPicture(g_mapPath.c_str());
    engine->AttachRecord(record.get());
    engine->StartEngine();
    record->aircraftLatitude = kLatitude;
    record->aircraftLongitude = kLongitude;
    for (int t = 0; t < 22; ++t) {
      engine->UpdateTerrain();
    }
  }
};

// The companion of a record of this process's own naming, and the steps
// the dialog's tick takes around the engine's work.
struct SequencedTick {
  std::string recordName = "OroBench" + std::to_string(platform::ThisProcessId());
  CTrnSeqShm seq{recordName.c_str()};
  bool ok = seq.Attach() == CTrnSeqShm::AttachResult::kServing;
  SequencedTick() { seq.Announce(4320, 2160, 120, platform::MonotonicNanoseconds()); }
  ~SequencedTick() {
    seq.Release();
    platform::ShmRemoveName((recordName + trn::kSeqNameSuffix).c_str());
  }
  SequencedTick(const SequencedTick&) = delete;
  SequencedTick& operator=(const SequencedTick&) = delete;
  template <class Work>
  void Run(Work work) {
    const std::int64_t start = platform::MonotonicNanoseconds();
    seq.BeginTick(start);
    if (work()) {
      seq.NotePublication(platform::MonotonicNanoseconds());
    }
    seq.EndTick();
    const std::int64_t end = platform::MonotonicNanoseconds();
    seq.CloseTick(end, end - start);
  }
};

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

// The steps alone, one publishing tick in eleven as in the cycle.
void BM_SequenceSteps(benchmark::State& state) {
  SequencedTick tick;
  if (!tick.ok) {
    state.SkipWithError("companion not ready");
    return;
  }
  int k = 0;
  for (auto _ : state) {
    tick.Run([&] { return ++k % 11 == 0; });
  }
}

// The dialog's tick: the work that reads the map first, then the odd step
// with the record's writes only. Elapsed time of the odd windows
// (kWindow), of the publishing ticks' windows (kPublishingWindow) or of the
// whole ticks (kTick) of an 11-tick cycle.
enum class Span { kWindow, kPublishingWindow, kTick };

void RunTicks(benchmark::State& state, Span span) {
  Fixture f;
  SequencedTick tick;
  if (!f.ok || !tick.ok) {
    state.SkipWithError("map or companion not ready");
    return;
  }
  for (auto _ : state) {
    std::int64_t measured = 0;
    for (int k = 0; k < 11; ++k) {
      const std::int64_t start = platform::MonotonicNanoseconds();
      tick.seq.OpenTick(start);
      const bool published = f.engine->PrepareTick();
      const std::int64_t open = platform::MonotonicNanoseconds();
      tick.seq.BeginTick(open);
      f.engine->WriteTick();
      f.record->updateCount = f.record->updateCount + 1;
      if (published) {
        tick.seq.NotePublication(open);
      }
      tick.seq.EndTick();
      const std::int64_t closed = platform::MonotonicNanoseconds();
      f.engine->FinishTick();
      const std::int64_t end = platform::MonotonicNanoseconds();
      tick.seq.CloseTick(end, end - start);
      if (span == Span::kTick) {
        measured += end - start;
      } else if (span == Span::kWindow || published) {
        measured += closed - open;
      }
    }
    state.SetIterationTime(static_cast<double>(measured) / 1e9);
  }
}

void BM_OddWindows(benchmark::State& state) { RunTicks(state, Span::kWindow); }
void BM_PublishingWindow(benchmark::State& state) { RunTicks(state, Span::kPublishingWindow); }
void BM_WholeTicks(benchmark::State& state) { RunTicks(state, Span::kTick); }

BENCHMARK(BM_SequenceSteps)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Cycle)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_CycleSequenced)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OddWindows)->UseManualTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PublishingWindow)->UseManualTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_WholeTicks)->UseManualTime()->Repetitions(5)->ReportAggregatesOnly(true);

// Keeps each benchmark's median processor time per iteration (ns, the
// benchmarks' time unit).
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
          !run.error_occurred) {
        cpuNs[run.run_name.function_name] = run.GetAdjustedCPUTime();
        realNs[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> cpuNs;
  std::map<std::string, double> realNs;  // manual time where a benchmark sets it
};

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path dir = bmptest::ScratchDir("server-tick-bench");
  g_mapPath = (dir / "KtTerrainMap.bmp").string();
  if (!WriteMap(g_mapPath)) {
    std::fprintf(stderr, "cannot write the synthetic map to %s\n", g_mapPath.c_str());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const double plain = reporter.cpuNs["BM_Cycle"];
  const double sequenced = reporter.cpuNs["BM_CycleSequenced"];
  const double steps = reporter.cpuNs["BM_SequenceSteps"];
  if (plain > 0.0 && steps > 0.0) {
    const double share = steps / (plain / 11.0);
    std::printf(
        "\nsequence steps per tick: %.0f ns (cpu, median) = %.3f %% of an average tick"
        " (%.2f us)  (target < 1 %%: %s)\n",
        steps, share * 100.0, plain / 11.0 / 1000.0, share < 0.01 ? "met" : "MISSED");
  }
  if (plain > 0.0 && sequenced > 0.0) {
    const double ratio = sequenced / plain;
    std::printf(
        "11-tick cycle with the sequence steps: %.2f us (cpu, median) = %.3f x without"
        " (%.2f us)\n",
        sequenced / 1000.0, ratio, plain / 1000.0);
  }
  const double windows = reporter.realNs["BM_OddWindows"];
  const double publishing = reporter.realNs["BM_PublishingWindow"];
  const double ticks = reporter.realNs["BM_WholeTicks"];
  if (windows > 0.0 && ticks > 0.0) {
    std::printf(
        "odd windows of an 11-tick cycle: %.2f us (elapsed, median) = %.2f %% of its ticks"
        " (%.2f us); a publishing tick's window %.2f us, an average window %.3f us\n",
        windows / 1000.0, windows / ticks * 100.0, ticks / 1000.0, publishing / 1000.0,
        windows / 11.0 / 1000.0);
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
