// Consistent snapshots of the published grids (see Snapshot.h).
// Threading: reads memory other processes write concurrently.
#include "tools/view/Snapshot.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

extern const char g_szSnapshotRevision[];
const char g_szSnapshotRevision[] = "%Z% OrogridTools KT4102:01 Snapshot $Revision: 1.0 $";

namespace {

// Reads through volatile so that the compiler re-reads the shared record
// every time instead of reusing what it copied a moment ago.
std::int32_t ReadCount(const TrnShmData& record) {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  const std::int32_t value = *static_cast<const volatile std::int32_t*>(&record.updateCount);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  return value;
}

bool SameBytes(const void* shared, const void* copy, std::size_t bytes) {
  const volatile unsigned char* a = static_cast<const volatile unsigned char*>(shared);
  const unsigned char* b = static_cast<const unsigned char*>(copy);
  for (std::size_t i = 0; i < bytes; ++i) {
    if (a[i] != b[i]) {
      return false;
    }
  }
  return true;
}

void CopyScalars(const TrnShmData& record, GridSnapshot& out) {
  const volatile TrnShmData& r = record;
  out.aircraftLatitude = r.aircraftLatitude;
  out.aircraftLongitude = r.aircraftLongitude;
  out.aircraftHeading = r.aircraftHeading;
  out.aircraftElevation = r.aircraftElevation;
  out.aircraftCellId = r.aircraftCellId;
  out.aircraftSubX = r.aircraftSubX;
  out.aircraftSubY = r.aircraftSubY;
  out.aircraftPixelX = r.aircraftPixelX;
  out.aircraftPixelY = r.aircraftPixelY;
  out.pixelsPerMetre = r.pixelsPerMetre;
  out.subCellLatSpan = r.subCellLatSpan;
  out.subCellLonSpan = r.subCellLonSpan;
  out.simulationState = r.simulationState;
  out.userCount = r.userCount;
}

void Pause(const SnapshotOptions& options, int milliseconds) {
  if (options.hooks.pause != nullptr) {
    options.hooks.pause(options.hooks.context, milliseconds);
  } else if (milliseconds > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

}  // namespace

bool GridsAgree(const GridSnapshot& snapshot) {
  for (int cx = 0; cx < trn::kFineSize; ++cx) {
    for (int cy = 0; cy < trn::kFineSize; ++cy) {
      const TrnGridPoint& fine = snapshot.fine[cx][cy][0][0];
      const TrnGridPoint& coarse = snapshot.coarse[trn::kFineOrigin + cx][trn::kFineOrigin + cy];
      if (fine.latitude != coarse.latitude || fine.longitude != coarse.longitude) {
        return false;
      }
    }
  }
  return true;
}

SnapshotResult TakeSnapshot(const TrnShmData& record, GridSnapshot& out,
                            const SnapshotOptions& options) {
  if (options.waitForCycleMs > 0) {
    const std::int32_t start = ReadCount(record);
    for (int waited = 0; waited < options.waitForCycleMs && ReadCount(record) == start;
         waited += 2) {
      Pause(options, 2);
    }
  }
  const int attempts = options.maxAttempts < 1 ? 1 : options.maxAttempts;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    out.attempts = attempt;
    const std::int32_t before = ReadCount(record);
    std::memcpy(out.coarse, record.coarseGrid, sizeof out.coarse);
    std::memcpy(out.fine, record.fineGrid, sizeof out.fine);
    CopyScalars(record, out);
    out.updateCount = before;
    if (options.hooks.afterCopy != nullptr) {
      options.hooks.afterCopy(options.hooks.context, attempt);
    }
    const std::int32_t afterCopy = ReadCount(record);
    const bool unchanged = SameBytes(record.coarseGrid, out.coarse, sizeof out.coarse) &&
                           SameBytes(record.fineGrid, out.fine, sizeof out.fine);
    const std::int32_t afterCheck = ReadCount(record);
    if (before == afterCopy && afterCopy == afterCheck && unchanged && GridsAgree(out)) {
      return SnapshotResult::kConsistent;
    }
    if (attempt < attempts) {
      Pause(options, options.retryPauseMs);
    }
  }
  return SnapshotResult::kUnsettled;
}
