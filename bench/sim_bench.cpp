// Cost of the simulation's side of the client library: one position write
// through orogrid_sim_write (a frame of the simulation's sequence in its
// companion, the record's own fields, and the heartbeat) against a plain
// store of the same four values into the record, as a simulation that
// writes the record by hand would do it. Reported as a ratio of CPU times
// per write measured in the same run.
//
// Threading: one thread; nothing else reads or writes the segments.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/CpuTimeReporter.h"
#include "client/orogrid_sim.h"
#include "platform/shared_memory.h"
#include "shm/CTrnShm.h"
#include "shm/TrnSimShm.h"
#include "tests/support/process.h"

namespace {

std::string g_record;
orogrid_sim* g_sim = nullptr;
TrnShmData* g_pData = nullptr;

// Positions that change every write, so no store is ever a repeat.
double Latitude(std::int64_t i) { return 47.0 + static_cast<double>(i & 1023) * 1e-5; }

void BM_PlainStore(benchmark::State& state) {
  volatile TrnShmData& record = *g_pData;
  std::int64_t i = 0;
  for (auto _ : state) {
    record.aircraftLatitude = Latitude(i);
    record.aircraftLongitude = 11.0;
    record.aircraftHeading = 90.0;
    // The record has no altitude field; the fourth value goes where it can.
    record.pixelsPerMetre = 2400.0;
    ++i;
  }
}
BENCHMARK(BM_PlainStore);

void BM_SimWrite(benchmark::State& state) {
  std::int64_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(orogrid_sim_write(g_sim, Latitude(i), 11.0, 90.0, 2400.0));
    ++i;
  }
}
BENCHMARK(BM_SimWrite);

}  // namespace

int main(int argc, char** argv) {
  g_record = "OrogridSimBench" + std::to_string(testsupport::CurrentProcessId());
  if (orogrid_sim_open(g_record.c_str(), OROGRID_SIM_OPEN_CREATE, &g_sim) != OROGRID_OK) {
    std::fprintf(stderr, "cannot make the benchmark's record\n");
    return 1;
  }
  int status = 0;
  {
    // A second view of the same record for the plain stores.
    CTrnShm record(g_record.c_str());
    if (!record.IsConnected()) {
      std::fprintf(stderr, "cannot map the benchmark's record: %s\n", record.GetErrorText());
      status = 1;
    } else {
      g_pData = record.GetData();
      benchsupport::CCpuTimeReporter reporter;
      benchsupport::RunBenchmarks(&argc, argv, reporter);
      const double plain = reporter.Seconds("BM_PlainStore");
      const double sim = reporter.Seconds("BM_SimWrite");
      if (plain > 0.0 && sim > 0.0) {
        std::printf("\nRatio to the reference measured in this run:\n");
        std::printf("  position write through the simulation API: %.1f ns, %.1f x a plain store\n",
                    sim * 1e9, sim / plain);
      }
    }
  }
  orogrid_sim_close(g_sim, 0);
  platform::ShmRemoveName(g_record.c_str());
  platform::ShmRemoveName((g_record + trn::kSimNameSuffix).c_str());
  return status;
}
