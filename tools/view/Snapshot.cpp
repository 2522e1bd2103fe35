// Consistent snapshots of the published grids (see Snapshot.h).
// Threading: reads memory other processes write concurrently.
#include "tools/view/Snapshot.h"

#include <cstring>

#include "client/CTrnClient.h"

extern const char g_szSnapshotRevision[];
const char g_szSnapshotRevision[] = "%Z% OrogridTools KT4102:01 Snapshot $Revision: 1.0 $";

SnapshotResult TakeSnapshot(const TrnShmData& record, GridSnapshot& out,
                            const SnapshotOptions& options) {
  static orogrid_snapshot s_copy;  // 785 KB: not on the stack; one thread
  client::HeuristicOptions heuristics;
  heuristics.maxAttempts = options.maxAttempts;
  heuristics.retryPauseMs = options.retryPauseMs;
  heuristics.waitForTickMs = options.waitForCycleMs;
  heuristics.hooks.afterCopy = options.hooks.afterCopy;
  heuristics.hooks.pause = options.hooks.pause;
  heuristics.hooks.context = options.hooks.context;
  const bool whole = client::TakeHeuristicSnapshot(record, s_copy, heuristics);
  FromClientSnapshot(s_copy, out);
  out.userCount = s_copy.user_count;
  return whole ? SnapshotResult::kConsistent : SnapshotResult::kUnsettled;
}

void FromClientSnapshot(const orogrid_snapshot& in, GridSnapshot& out) {
  static_assert(sizeof out.coarse == sizeof in.coarse && sizeof out.fine == sizeof in.fine);
  std::memcpy(out.coarse, in.coarse, sizeof out.coarse);
  std::memcpy(out.fine, in.fine, sizeof out.fine);
  out.updateCount = in.aircraft.update_count;
  out.aircraftLatitude = in.aircraft.latitude;
  out.aircraftLongitude = in.aircraft.longitude;
  out.aircraftHeading = in.aircraft.heading;
  out.aircraftElevation = in.aircraft.elevation;
  out.aircraftCellId = in.aircraft.cell_id;
  out.aircraftSubX = in.aircraft.sub_x;
  out.aircraftSubY = in.aircraft.sub_y;
  out.aircraftPixelX = in.aircraft.pixel_x;
  out.aircraftPixelY = in.aircraft.pixel_y;
  out.pixelsPerMetre = in.aircraft.pixels_per_metre;
  out.subCellLatSpan = in.sub_cell_lat_span;
  out.subCellLonSpan = in.sub_cell_lon_span;
  out.simulationState = in.aircraft.simulation_state;
  out.userCount = in.user_count;
  out.attempts = in.attempts;
}
