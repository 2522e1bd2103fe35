// orogrid-view's live window (see WindowMode.h). A frame is drawn when the
// server has published, when the simulation has moved the aircraft, when
// the view changed (a key), and at least every kFloorS so the
// publication's age keeps moving; events are polled every kPollMs in
// between. The aircraft's position, heading and altitude come from the
// simulation's own frames when it can be read, so the map moves with the
// aircraft between the server's publications.
// Threading: one thread.
#include "tools/view/WindowMode.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "client/orogrid_client.h"
#include "display/BaseDisplay.h"
#include "platform/monotonic_clock.h"
#include "platform/window_host.h"
#include "tools/view/MovingMap.h"

extern const char g_szWindowModeRevision[];
const char g_szWindowModeRevision[] = "%Z% OrogridTools KT4102:07 WindowMode $Revision: 1.0 $";

namespace mapview {

namespace {

constexpr int kPollMs = 20;
constexpr double kFloorS = 0.2;   // at least 5 frames a second
constexpr double kReopenS = 0.5;  // how often a missing record is looked for again

double NowS() { return static_cast<double>(platform::MonotonicNanoseconds()) * 1e-9; }

// What the window knows of the server between frames.
struct Feed {
  orogrid_client* client = nullptr;
  bool haveSnapshot = false;
  bool serverGone = false;
  std::uint64_t publications = 0;
  std::int32_t updateCount = -1;
  double ageS = -1.0;
  double lastOpenS = -1e9;
  bool simulationRead = false;  // the simulation's own values are at hand
  std::uint64_t simulationFrames = 0;
  double simulationLatitude = 0.0;
  double simulationLongitude = 0.0;
  double simulationHeading = 0.0;

  ~Feed() { orogrid_close(client); }
};

// Reads what the simulation last wrote: true when the aircraft moved (or
// turned) since the last look, which is worth a frame of its own between
// the server's publications.
bool ReadSimulation(Feed& feed, orogrid_simulation& simulation) {
  if (orogrid_simulation_read(feed.client, &simulation, sizeof simulation) != OROGRID_OK ||
      !std::isfinite(simulation.latitude) || !std::isfinite(simulation.longitude)) {
    feed.simulationRead = false;
    return false;
  }
  const bool moved = !feed.simulationRead || simulation.frame_count != feed.simulationFrames ||
                     simulation.latitude != feed.simulationLatitude ||
                     simulation.longitude != feed.simulationLongitude ||
                     simulation.heading != feed.simulationHeading;
  feed.simulationRead = true;
  feed.simulationFrames = simulation.frame_count;
  feed.simulationLatitude = simulation.latitude;
  feed.simulationLongitude = simulation.longitude;
  feed.simulationHeading = simulation.heading;
  return moved;
}

// Looks at the server: true when a new publication was copied into snap.
bool Refresh(Feed& feed, const char* segment, orogrid_snapshot& snap, double now) {
  if (feed.client == nullptr) {
    if (now - feed.lastOpenS < kReopenS) {
      return false;
    }
    feed.lastOpenS = now;
    if (orogrid_open(segment, 0, &feed.client) != OROGRID_OK) {
      feed.client = nullptr;
      return false;
    }
  }
  orogrid_status status;
  if (orogrid_status_read(feed.client, &status, sizeof status) != OROGRID_OK) {
    return false;
  }
  feed.ageS = status.publication_age_s;
  const bool gone = status.server_alive == OROGRID_SERVER_GONE;
  const bool moved =
      status.publication_count != feed.publications || status.update_count != feed.updateCount;
  if (!moved && gone == feed.serverGone && feed.haveSnapshot) {
    return false;
  }
  if (feed.serverGone && gone && feed.haveSnapshot) {
    return false;  // nothing more comes from a server that is gone
  }
  const int taken = orogrid_snapshot_take(feed.client, &snap, sizeof snap);
  if (taken == OROGRID_OK || taken == OROGRID_E_SERVER_GONE) {
    // A server gone still leaves a whole copy of its last grids.
    feed.haveSnapshot = true;
    feed.serverGone = taken == OROGRID_E_SERVER_GONE || gone;
    feed.publications = status.publication_count;
    feed.updateCount = snap.aircraft.update_count;
    return true;
  }
  if (gone) {
    feed.serverGone = true;
  }
  return false;
}

}  // namespace

int RunWindow(const WindowOptions& options, const volatile std::sig_atomic_t* stop) {
  platform::CWindowHost host;
  if (!host.Open(kWindowWidth, kWindowHeight, "Orogrid terrain")) {
    std::fprintf(stderr, "orogrid-view: cannot open the window: %s\n", host.ErrorText());
    return 1;
  }
  BaseDisplay display;
  display.SetDC(host.Canvas());
  display.SetScale(kFontScale);
  static orogrid_snapshot s_snapshot;  // 600 KB: not on the stack
  Feed feed;
  orogrid_simulation simulation{};
  FrameInputs inputs{};
  inputs.orientation = options.orientation;
  inputs.rangeKm = options.rangeKm;
  inputs.altitude =
      options.altitudeGiven ? options.altitude : std::numeric_limits<double>::quiet_NaN();
  inputs.latitude = inputs.longitude = inputs.heading = std::numeric_limits<double>::quiet_NaN();

  const double start = NowS();
  double lastFrame = -1e9;
  long frames = 0;
  bool viewChanged = true;
  for (;;) {
    const platform::WindowEvent event = host.Poll(kPollMs);
    if (event.kind == platform::WindowEvent::kClosed) {
      break;
    }
    if (event.kind == platform::WindowEvent::kKey) {
      if (event.key == 'q' || event.key == 'Q' || event.key == 27) {
        break;
      }
      if (event.key == 'n' || event.key == 'N') {
        inputs.orientation = inputs.orientation == Orientation::kHeadingUp
                                 ? Orientation::kNorthUp
                                 : Orientation::kHeadingUp;
        viewChanged = true;
      }
    }
    const double now = NowS();
    if ((stop != nullptr && *stop != 0) ||
        (options.closeAfterS > 0.0 && now - start >= options.closeAfterS)) {
      break;
    }
    const bool published = Refresh(feed, options.segment, s_snapshot, now);
    const bool moved = feed.client != nullptr && ReadSimulation(feed, simulation);
    if (!published && !moved && !viewChanged && now - lastFrame < kFloorS) {
      continue;
    }
    if (feed.simulationRead) {
      inputs.latitude = simulation.latitude;
      inputs.longitude = simulation.longitude;
      inputs.heading = simulation.heading;
      if (!options.altitudeGiven) {
        inputs.altitude = simulation.altitude;
      }
      inputs.simulationState = simulation.state;
    } else if (feed.haveSnapshot) {
      inputs.simulationState = s_snapshot.aircraft.simulation_state;
    }
    inputs.snapshot = feed.haveSnapshot ? &s_snapshot : nullptr;
    inputs.link = !feed.haveSnapshot ? Link::kWaiting
                  : feed.serverGone  ? Link::kServerGone
                                     : Link::kLive;
    inputs.publicationAgeS = feed.ageS;
    DrawMovingMap(display, inputs);
    if (!host.Present()) {
      break;
    }
    ++frames;
    lastFrame = now;
    viewChanged = false;
  }
  const double seconds = NowS() - start;
  std::printf("orogrid-view: %ld frames in %.1f s (%.1f frames/s)\n", frames, seconds,
              seconds > 0.0 ? static_cast<double>(frames) / seconds : 0.0);
  std::fflush(stdout);
  return 0;
}

}  // namespace mapview
