// client_test_writer: plays the terrain server for the client tests. It
// creates the record (and, unless told not to, its companion "<record>.Seq")
// and publishes until its time is up or it is killed.
//
//   client_test_writer SEGMENT storm SECONDS [--no-sequence] [--no-fences]
//     publishes as fast as it can, 1 ms apart: every point of both grids and the
//     aircraft's cell take the publication's number, so a copy that mixes
//     two publications shows it. --no-sequence leaves the sequence counter
//     alone (never odd); --no-fences steps it without ordering.
//   client_test_writer SEGMENT map SECONDS LATITUDE LONGITUDE [--mosaic]
//       [--no-companion]
//     publishes the synthetic map of support/ClientTestMap.h around the
//     position every 20 ms, with a heartbeat every tick.
//   client_test_writer SEGMENT sim SECONDS
//     plays the simulation through the library's simulation side instead:
//     creates the record, sets the state to running, and writes the frames
//     (10, 20, heading 30, altitude 40) and (-50, -60, 70, 80) in turn as
//     fast as it can, resting 1 ms every 999 frames, so that a reader
//     pairing values of two frames shows it.
//
// Exit status: 0 when the time was up, 2 when the record or companion could
// not be made, 1 on bad arguments.
//
// Threading: one thread.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "client/CTrnSim.h"
#include "client/orogrid_sim.h"
#include "platform/monotonic_clock.h"
#include "shm/CTrnShm.h"
#include "shm/TrnSeqShm.h"
#include "tests/support/ClientTestMap.h"
#include "tests/support/process.h"

namespace {

class CSeqSegment : public BaseSharedMemory {
 public:
  explicit CSeqSegment(const char* name) {
    SetName(name);
    m_size = trn::kSeqRecordSize;
  }
};

// The sequence steps without any ordering: what a writer that forgot the
// fences would do.
void UnorderedStep(TrnSeqData* seq) {
  std::atomic_ref<std::uint32_t> sequence(seq->sequence);
  sequence.store(sequence.load(std::memory_order_relaxed) + 1U, std::memory_order_relaxed);
}

template <class T>
void Store(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

void FillStorm(TrnShmData& record, std::int32_t number) {
  for (int i = 0; i < trn::kCoarseSize; ++i) {
    for (int j = 0; j < trn::kCoarseSize; ++j) {
      TrnGridPoint& p = record.coarseGrid[i][j];
      p.cellId = number;
      p.elevation = i * trn::kCoarseSize + j;
      p.latitude = number;
      p.longitude = -number;
    }
  }
  TrnGridPoint* fine = &record.fineGrid[0][0][0][0];
  for (std::size_t k = 0; k < sizeof record.fineGrid / sizeof(TrnGridPoint); ++k) {
    fine[k].cellId = number;
    fine[k].elevation = static_cast<std::int32_t>(k);
    fine[k].latitude = number;
    fine[k].longitude = -number;
  }
  record.aircraftCellId = number;
  record.updateCount = number;
}

// The sim mode: exit as main's.
int PlaySimulation(const char* segment, double seconds) {
  client::CTrnSim sim;
  if (sim.Open(segment, true) != OROGRID_OK) {
    std::fprintf(stderr, "client_test_writer: %s\n", sim.LastError());
    return 2;
  }
  sim.SetState(OROGRID_SIM_RUNNING);
  const auto end = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(seconds));
  bool first = true;
  while (std::chrono::steady_clock::now() < end) {
    // An odd count, so that the frame left standing during the rest
    // changes from one rest to the next.
    for (int i = 0; i < 999; ++i) {
      if (first) {
        sim.Write(10.0, 20.0, 30.0, 40.0);
      } else {
        sim.Write(-50.0, -60.0, 70.0, 80.0);
      }
      first = !first;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sim.Close(false);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: client_test_writer SEGMENT storm|map|sim SECONDS ...\n");
    return 1;
  }
  const char* segment = argv[1];
  const bool storm = std::strcmp(argv[2], "storm") == 0;
  const double seconds = std::atof(argv[3]);
  if (std::strcmp(argv[2], "sim") == 0) {
    return PlaySimulation(segment, seconds);
  }
  bool noSequence = false;
  bool noFences = false;
  bool mosaic = false;
  bool companion = true;
  double latitude = 0.0;
  double longitude = 0.0;
  int next = 4;
  if (!storm) {
    if (argc < 6) {
      std::fprintf(stderr, "client_test_writer: map needs LATITUDE LONGITUDE\n");
      return 1;
    }
    latitude = std::atof(argv[4]);
    longitude = std::atof(argv[5]);
    next = 6;
  }
  for (int i = next; i < argc; ++i) {
    noSequence = noSequence || std::strcmp(argv[i], "--no-sequence") == 0;
    noFences = noFences || std::strcmp(argv[i], "--no-fences") == 0;
    mosaic = mosaic || std::strcmp(argv[i], "--mosaic") == 0;
    companion = companion && std::strcmp(argv[i], "--no-companion") != 0;
  }

  CTrnShm shm(segment);
  if (!shm.IsConnected()) {
    std::fprintf(stderr, "client_test_writer: %s\n", shm.GetErrorText());
    return 2;
  }
  TrnShmData& record = *shm.GetData();
  char seqName[64];
  std::snprintf(seqName, sizeof seqName, "%s%s", segment, trn::kSeqNameSuffix);
  CSeqSegment seqSegment(seqName);
  TrnSeqData* seq = nullptr;
  if (companion) {
    if (!seqSegment.CreateAndMap()) {
      std::fprintf(stderr, "client_test_writer: %s\n", seqSegment.GetErrorText());
      return 2;
    }
    seq = static_cast<TrnSeqData*>(seqSegment.GetView());
    seq->layoutVersion = trn::kSeqLayoutVersion;
    seq->serverProcessId = static_cast<std::uint32_t>(testsupport::CurrentProcessId());
    seq->mapWidth = clienttest::kMapWidth;
    seq->mapHeight = clienttest::kMapHeight;
    seq->pixelsPerDegreeX = clienttest::kPixelsPerDegree;
    seq->pixelsPerDegreeY = clienttest::kPixelsPerDegree;
    seq->tickPeriodMillis = storm ? 0 : 20;
    seq->heartbeatNs = platform::MonotonicNanoseconds();
    std::atomic_ref<std::uint32_t>(seq->magic).store(trn::kSeqMagic, std::memory_order_release);
  }

  const auto end = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(seconds));
  std::int32_t number = 0;
  while (std::chrono::steady_clock::now() < end) {
    ++number;
    const std::int64_t tickStart = platform::MonotonicNanoseconds();
    if (seq != nullptr && !noSequence) {
      if (noFences) {
        UnorderedStep(seq);
      } else {
        TrnSeqWriteBegin(seq);
      }
    }
    if (storm) {
      FillStorm(record, number);
    } else {
      clienttest::FillRecord(record, latitude, longitude, mosaic);
      // Each publication differs somewhere, as a moving aircraft's do, so a
      // reader without companion can notice it; lookups never read cellId.
      record.fineGrid[0][0][0][0].cellId = number;
      record.updateCount = number;
    }
    if (seq != nullptr) {
      Store(seq->publicationCount, static_cast<std::uint64_t>(number));
      Store(seq->lastPublicationNs, platform::MonotonicNanoseconds());
      if (!noSequence) {
        if (noFences) {
          UnorderedStep(seq);
        } else {
          TrnSeqWriteEnd(seq);
        }
      }
      const std::int64_t now = platform::MonotonicNanoseconds();
      Store(seq->heartbeatNs, now);
      const auto micros = static_cast<std::uint32_t>((now - tickStart) / 1000);
      Store(seq->lastTickMicros, micros);
      if (micros > seq->maxTickMicros) {
        Store(seq->maxTickMicros, micros);
      }
    }
    // A storm leaves the readers a gap of about a copy's time between
    // publications (a writer that never stopped would starve every
    // sequenced reader); the server leaves 120 ms.
    std::this_thread::sleep_for(storm ? std::chrono::milliseconds(1)
                                      : std::chrono::milliseconds(20));
  }
  if (seq != nullptr) {
    seqSegment.Close();
  }
  return 0;
}
