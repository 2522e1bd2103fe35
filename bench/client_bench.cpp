// Speed of the client library on a record and companion made here, filled
// with the client tests' synthetic map around Innsbruck:
//  - a snapshot through the sequence counter against a plain copy of the
//    whole record (692672 bytes) from the same mapping (target: at most
//    1.5 x), and the copy without companion (repeated and compared) beside;
//  - an elevation query on the live record and on a snapshot, nearest and
//    bilinear, cycling over points in the fine and the coarse grid (target:
//    under 100 ns), shown beside one 24-byte point read as the floor.
// Ratios use CPU time per iteration: on a shared machine wall time counts
// other processes' work.
//
// Threading: one thread; nothing else writes the record meanwhile.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "bench/CpuTimeReporter.h"
#include "client/orogrid_client.h"
#include "platform/monotonic_clock.h"
#include "platform/shared_memory.h"
#include "shm/CTrnShm.h"
#include "shm/TrnSeqShm.h"
#include "tests/support/ClientTestMap.h"
#include "tests/support/process.h"

namespace {

constexpr double kLatitude = 47.26;
constexpr double kLongitude = 11.35;

class CSeqSegment : public BaseSharedMemory {
 public:
  explicit CSeqSegment(const char* name) {
    SetName(name);
    m_size = trn::kSeqRecordSize;
  }
};

std::string g_record;
std::string g_recordPlain;  // the same map without companion
TrnShmData* g_pData = nullptr;

// Query positions: the centre, fine cells off centre, coarse points further out.
struct Position {
  double latitude;
  double longitude;
};
constexpr Position kPositions[] = {
    {kLatitude, kLongitude},
    {kLatitude + 0.3, kLongitude - 0.25},
    {kLatitude - 0.5, kLongitude},
    {kLatitude + 2.0, kLongitude + 3.0},
    {kLatitude - 4.0, kLongitude + 1.0},
    {kLatitude + 0.05, kLongitude + 0.61},
    {kLatitude - 6.0, kLongitude - 5.5},
    {kLatitude + 1.2, kLongitude - 0.05},
};
constexpr int kPositionCount = sizeof kPositions / sizeof kPositions[0];

orogrid_client* Open(const std::string& name) {
  orogrid_client* client = nullptr;
  return orogrid_open(name.c_str(), 0, &client) == OROGRID_OK ? client : nullptr;
}

void BM_PlainRecordCopy(benchmark::State& state) {
  auto copy = std::make_unique<TrnShmData>();
  for (auto _ : state) {
    TrnShmData* to = copy.get();
    benchmark::DoNotOptimize(to);
    std::memcpy(static_cast<void*>(to), g_pData, sizeof(TrnShmData));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * sizeof(TrnShmData));
}
BENCHMARK(BM_PlainRecordCopy);

void SnapshotOf(benchmark::State& state, const std::string& name) {
  orogrid_client* client = Open(name);
  auto snapshot = std::make_unique<orogrid_snapshot>();
  if (client == nullptr) {
    state.SkipWithError("cannot open the record");
    return;
  }
  for (auto _ : state) {
    // Nothing ticks here, so without companion the server counts as gone;
    // the copy is made all the same.
    const int code = orogrid_snapshot_take(client, snapshot.get(), sizeof *snapshot);
    if (code != OROGRID_OK && code != OROGRID_E_SERVER_GONE) {
      state.SkipWithError(orogrid_last_error(client));
      break;
    }
    benchmark::ClobberMemory();
  }
  orogrid_close(client);
}

void BM_SnapshotSequenced(benchmark::State& state) { SnapshotOf(state, g_record); }
BENCHMARK(BM_SnapshotSequenced);

void BM_SnapshotWithoutCompanion(benchmark::State& state) { SnapshotOf(state, g_recordPlain); }
BENCHMARK(BM_SnapshotWithoutCompanion);

void BM_PointRead(benchmark::State& state) {
  int k = 0;
  for (auto _ : state) {
    TrnGridPoint p;
    std::memcpy(&p, &g_pData->coarseGrid[k & 127][k & 63], sizeof p);
    benchmark::DoNotOptimize(p);
    ++k;
  }
}
BENCHMARK(BM_PointRead);

void ElevationLive(benchmark::State& state, const std::string& name, int method) {
  orogrid_client* client = Open(name);
  if (client == nullptr) {
    state.SkipWithError("cannot open the record");
    return;
  }
  int k = 0;
  for (auto _ : state) {
    const Position& p = kPositions[k % kPositionCount];
    double metres = 0.0;
    const int code = orogrid_elevation(client, p.latitude, p.longitude, method, &metres, nullptr);
    benchmark::DoNotOptimize(code);
    benchmark::DoNotOptimize(metres);
    ++k;
  }
  orogrid_close(client);
}

void BM_ElevationNearest(benchmark::State& state) {
  ElevationLive(state, g_record, OROGRID_NEAREST);
}
BENCHMARK(BM_ElevationNearest);

void BM_ElevationBilinear(benchmark::State& state) {
  ElevationLive(state, g_record, OROGRID_BILINEAR);
}
BENCHMARK(BM_ElevationBilinear);

void BM_ElevationNearestWithoutCompanion(benchmark::State& state) {
  ElevationLive(state, g_recordPlain, OROGRID_NEAREST);
}
BENCHMARK(BM_ElevationNearestWithoutCompanion);

void BM_SnapshotElevationNearest(benchmark::State& state) {
  orogrid_client* client = Open(g_record);
  auto snapshot = std::make_unique<orogrid_snapshot>();
  if (client == nullptr ||
      orogrid_snapshot_take(client, snapshot.get(), sizeof *snapshot) != OROGRID_OK) {
    state.SkipWithError("cannot take a snapshot");
    orogrid_close(client);
    return;
  }
  int k = 0;
  for (auto _ : state) {
    const Position& p = kPositions[k % kPositionCount];
    double metres = 0.0;
    const int code = orogrid_snapshot_elevation(snapshot.get(), sizeof *snapshot, p.latitude,
                                                p.longitude, OROGRID_NEAREST, &metres, nullptr);
    benchmark::DoNotOptimize(code);
    benchmark::DoNotOptimize(metres);
    ++k;
  }
  orogrid_close(client);
}
BENCHMARK(BM_SnapshotElevationNearest);

}  // namespace

int main(int argc, char** argv) {
  const int pid = testsupport::CurrentProcessId();
  g_record = "OrogridClientBench" + std::to_string(pid);
  g_recordPlain = "OrogridClientBenchPlain" + std::to_string(pid);
  const std::string seqName = g_record + trn::kSeqNameSuffix;
  int status = 0;
  {
    CTrnShm record(g_record.c_str());
    CTrnShm plain(g_recordPlain.c_str());
    CSeqSegment seq(seqName.c_str());
    if (!record.IsConnected() || !plain.IsConnected() || !seq.CreateAndMap()) {
      std::fprintf(stderr, "cannot make the benchmark's segments\n");
      return 1;
    }
    g_pData = record.GetData();
    clienttest::FillRecord(*g_pData, kLatitude, kLongitude, false);
    clienttest::FillRecord(*plain.GetData(), kLatitude, kLongitude, false);
    auto* s = static_cast<TrnSeqData*>(seq.GetView());
    s->layoutVersion = trn::kSeqLayoutVersion;
    s->serverProcessId = static_cast<std::uint32_t>(pid);
    s->pixelsPerDegreeX = clienttest::kPixelsPerDegree;
    s->pixelsPerDegreeY = clienttest::kPixelsPerDegree;
    s->publicationCount = 1;
    // Nothing ticks here, so a thread of its own beats as a live server
    // does: a heartbeat far in the future would read as a server gone, and
    // every call would measure its failure instead.
    std::atomic_ref<std::int64_t> heartbeat(s->heartbeatNs);
    heartbeat.store(platform::MonotonicNanoseconds(), std::memory_order_release);
    std::atomic_ref<std::uint32_t>(s->magic).store(trn::kSeqMagic, std::memory_order_release);
    std::atomic<bool> running{true};
    std::thread beater([&] {
      while (running.load()) {
        heartbeat.store(platform::MonotonicNanoseconds(), std::memory_order_release);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });

    benchsupport::CCpuTimeReporter reporter;
    benchsupport::RunBenchmarks(&argc, argv, reporter);
    running.store(false);
    beater.join();

    const auto get = [&](const char* name) { return reporter.Seconds(name); };
    const double copy = get("BM_PlainRecordCopy");
    std::printf("\nRatios to references measured in this run:\n");
    if (copy > 0.0) {
      const double sequenced = get("BM_SnapshotSequenced");
      std::printf(
          "  snapshot through the sequence: %.2f x a plain record copy (target <= 1.5 x: %s)\n",
          sequenced / copy, sequenced / copy <= 1.5 ? "met" : "MISSED");
      std::printf("  snapshot without companion:    %.2f x a plain record copy\n",
                  get("BM_SnapshotWithoutCompanion") / copy);
    }
    const double point = get("BM_PointRead");
    for (const char* name :
         {"BM_ElevationNearest", "BM_ElevationBilinear", "BM_ElevationNearestWithoutCompanion",
          "BM_SnapshotElevationNearest"}) {
      const double ns = get(name) * 1e9;
      std::printf("  %-36s %6.1f ns, %.0f x one point read (target < 100 ns: %s)\n", name, ns,
                  point > 0.0 ? get(name) / point : 0.0, ns < 100.0 ? "met" : "MISSED");
    }
    seq.Close();
  }
  platform::ShmRemoveName(g_record.c_str());
  platform::ShmRemoveName(g_recordPlain.c_str());
  platform::ShmRemoveName(seqName.c_str());
  return status;
}
