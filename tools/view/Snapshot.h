// A consistent copy of the grids Orogrid publishes in the terrain record.
//
// Orogrid copies the coarse grid and then the fine grid into the record
// with two plain block copies once per sweep, and counts updateCount up
// after each cycle's publication, without any lock. A reader in another
// process can therefore catch a grid half copied, or a new coarse grid with
// the old fine grid. TakeSnapshot copies the grids and the aircraft values
// and accepts the copy only when
//  - updateCount read before the copy, after it and after the check agree,
//  - the record's grids still equal the copy when compared afterwards, and
//  - every fine cell's first sub-point sits exactly on the position of its
//    coarse point, as a fine grid refined from that coarse grid does, and
//  - both grids lie on the map's pixel lattice (a writer stalled inside a
//    block copy leaves two publications side by side that break it).
// Otherwise it pauses briefly and copies again, a bounded number of times.
// The copying is the client library's (client::TakeHeuristicSnapshot), which
// orogrid-view uses through orogrid_snapshot_take; a record whose server
// keeps the companion segment is copied through its sequence counter there.
//
// Threading: the record is read concurrently with its writers in other
// processes; a GridSnapshot belongs to the calling thread.
#pragma once

#include <cstdint>

#include "client/orogrid_client.h"
#include "shm/TrnInterfaceShm.h"

struct GridSnapshot {
  std::int32_t updateCount;
  TrnGridPoint coarse[trn::kCoarseSize][trn::kCoarseSize];
  TrnGridPoint fine[trn::kFineSize][trn::kFineSize][trn::kSubDiv][trn::kSubDiv];
  double aircraftLatitude;         // degrees
  double aircraftLongitude;        // degrees
  double aircraftHeading;          // degrees from north
  std::int32_t aircraftElevation;  // metres
  std::int32_t aircraftCellId;
  std::int32_t aircraftSubX;
  std::int32_t aircraftSubY;
  std::int32_t aircraftPixelX;
  std::int32_t aircraftPixelY;
  double pixelsPerMetre;
  double subCellLatSpan;
  double subCellLonSpan;
  std::int32_t simulationState;
  std::int32_t userCount;
  int attempts;  // copies it took, 1 when the first was good
};

// Seams for tests: afterCopy runs between the copy and the checks (a test
// publishes there to play the concurrent writer); pause replaces the sleep
// between attempts. Both may be null.
struct SnapshotHooks {
  void (*afterCopy)(void* context, int attempt) = nullptr;
  void (*pause)(void* context, int milliseconds) = nullptr;
  void* context = nullptr;
};

struct SnapshotOptions {
  int maxAttempts = 8;
  int retryPauseMs = 15;  // a fraction of Orogrid's 120 ms cycle
  // Before the first copy, wait up to this long for updateCount to move, so
  // the copy starts just after a cycle has finished publishing; 0: no wait.
  int waitForCycleMs = 0;
  SnapshotHooks hooks;
};

enum class SnapshotResult {
  kConsistent,  // out holds a copy that passed every check
  kUnsettled,   // every attempt saw the record change or disagree; out holds the last try
};

SnapshotResult TakeSnapshot(const TrnShmData& record, GridSnapshot& out,
                            const SnapshotOptions& options);

// The picture's copy of a snapshot the client library took.
void FromClientSnapshot(const orogrid_snapshot& in, GridSnapshot& out);
