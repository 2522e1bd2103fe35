// orogrid-sim: a stand-in for the flight simulation beside Orogrid. It
// attaches to the terrain shared memory through the simulation's side of
// the client library (orogrid_sim.h), as any simulation may, flies a route
// writing the aircraft position, heading and run state as frames, shows
// once a second what Orogrid publishes (read back through the client
// library, with a warning when the server is gone), and at the end sets the
// state to lost and leaves. With --state it only sets the run state.
//
// Threading: one thread; a signal handler only raises a flag.
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "client/orogrid_client.h"
#include "client/orogrid_sim.h"
#include "tools/common/ToolCommand.h"
#include "tools/sim/Flight.h"
#include "tools/sim/Route.h"
#include "tools/sim/SimMonitor.h"
#include "tools/sim/SimOptions.h"

extern const char g_szOrogridSimRevision[];
const char g_szOrogridSimRevision[] = "%Z% OrogridTools KT4101:05 orogrid_sim $Revision: 1.0 $";

namespace {

constexpr int kExitBadInput = 1;
constexpr int kExitNotAttached = 2;

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void OnStopSignal(int) { g_stopRequested = 1; }

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The stand-in flies level: at --altitude when given, else at an unknown
// altitude (NaN).
void WritePosition(orogrid_sim* sim, const CFlight& flight, double altitude) {
  orogrid_sim_write(sim, flight.Position().latitude, flight.Position().longitude, flight.Heading(),
                    altitude);
}

void WriteState(orogrid_sim* sim, std::int32_t state) { orogrid_sim_set_state(sim, state); }

// The simulation's handle, closed with the state this program wrote last.
struct SimCloser {
  orogrid_sim* sim;
  ~SimCloser() { orogrid_sim_close(sim, OROGRID_SIM_CLOSE_KEEP_STATE); }
};

struct ClientCloser {
  orogrid_client* client;
  ~ClientCloser() { orogrid_close(client); }
};

StatusValues ReadBack(orogrid_client* reader, const CFlight& flight, double elapsed) {
  StatusValues v{};
  v.elapsed = elapsed;
  v.latitude = flight.Position().latitude;
  v.longitude = flight.Position().longitude;
  v.heading = flight.Heading();
  orogrid_aircraft a{};
  // A gone server still leaves its last values to show.
  const int read = orogrid_aircraft_read(reader, &a, sizeof a);
  if (read == OROGRID_OK || read == OROGRID_E_SERVER_GONE) {
    v.elevation = a.elevation;
    v.cellId = a.cell_id;
    v.pixelX = a.pixel_x;
    v.pixelY = a.pixel_y;
    v.subX = a.sub_x;
    v.subY = a.sub_y;
    v.pixelsPerMetre = a.pixels_per_metre;
    v.updateCount = a.update_count;
  }
  return v;
}

// Says once when the server goes and when it is back.
void ReportServer(const orogrid_status& status, int& lastAlive) {
  if (status.server_alive == lastAlive || status.server_alive == OROGRID_SERVER_UNKNOWN) {
    return;
  }
  if (status.server_alive == OROGRID_SERVER_GONE) {
    if (status.has_companion != 0) {
      std::printf(
          "orogrid-sim: warning: the terrain server (process %u) is gone: no heartbeat for "
          "%.1f s; the grids shown are stale\n",
          static_cast<unsigned>(status.server_process_id), status.heartbeat_age_s);
    } else {
      std::printf(
          "orogrid-sim: warning: no terrain server is publishing (update count %d stands "
          "still); the grids shown are stale\n",
          status.update_count);
    }
  } else if (lastAlive == OROGRID_SERVER_GONE) {
    std::printf("orogrid-sim: the terrain server is publishing again\n");
  }
  std::fflush(stdout);
  lastAlive = status.server_alive;
}

// Opens the record as its simulation (making it when nobody has); null after
// saying why.
orogrid_sim* Attach(const char* segment) {
  orogrid_sim* sim = nullptr;
  const int opened = orogrid_sim_open(segment, OROGRID_SIM_OPEN_CREATE, &sim);
  if (opened != OROGRID_OK) {
    std::fprintf(stderr, "orogrid-sim: cannot attach to shared memory \"%s\": %s\n", segment,
                 orogrid_strerror(opened));
    return nullptr;
  }
  if (orogrid_sim_created_record(sim) != 0) {
    std::printf("orogrid-sim: created \"%s\" (Orogrid is not running yet)\n", segment);
  }
  return sim;
}

int SetStateOnly(const SimOptions& options) {
  orogrid_sim* sim = Attach(options.segment);
  if (sim == nullptr) {
    return kExitNotAttached;
  }
  const bool created = orogrid_sim_created_record(sim) != 0;
  int users = 0;
  {
    const SimCloser closer{sim};
    WriteState(sim, options.state);
    orogrid_client* reader = nullptr;
    if (orogrid_open(options.segment, 0, &reader) == OROGRID_OK) {
      orogrid_status status{};
      if (orogrid_status_read(reader, &status, sizeof status) == OROGRID_OK) {
        users = status.user_count;
      }
      orogrid_close(reader);
    }
  }
  std::printf("orogrid-sim: simulationState of \"%s\" set to %d (0x%X, %s); users %d\n",
              options.segment, options.state, static_cast<unsigned>(options.state),
              SimStateName(options.state), users);
  if (created) {
    std::printf("orogrid-sim: no other process holds \"%s\"; it goes away as this program leaves\n",
                options.segment);
  }
  return 0;
}

int Fly(const SimOptions& options, const CRoute& route) {
  orogrid_sim* sim = Attach(options.segment);
  if (sim == nullptr) {
    return kExitNotAttached;
  }
  const SimCloser simCloser{sim};
  orogrid_client* reader = nullptr;
  const int opened = orogrid_open(options.segment, 0, &reader);
  if (opened != OROGRID_OK) {
    std::fprintf(stderr, "orogrid-sim: cannot read back \"%s\": %s\n", options.segment,
                 orogrid_strerror(opened));
    return kExitNotAttached;
  }
  const ClientCloser closer{reader};
  CFlight flight(route);
  const double metresPerSecond =
      flight::KnotsToMetresPerSecond(options.speedKnots) * options.timeScale;
  const auto period = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(1.0 / options.rateHz));

  std::printf("orogrid-sim: flying %d waypoints at %.0f kt (time x%g, %g updates/s) on \"%s\"\n",
              route.Count(), options.speedKnots, options.timeScale, options.rateHz,
              options.segment);
  WritePosition(sim, flight, options.altitudeMetres);
  flight.Start();
  WriteState(sim, static_cast<std::int32_t>(flight.State()));

  orogrid_status status{};
  orogrid_status_read(reader, &status, sizeof status);
  // Publications before the flight are not the flight's.
  const std::uint64_t firstPublication = status.publication_count;
  int lastAlive = OROGRID_SERVER_UNKNOWN;
  const Clock::time_point start = Clock::now();
  Clock::time_point last = start;
  Clock::time_point next = start;
  double nextLine = 0.0;
  double lastLineTime = 0.0;
  std::int32_t lastLineCount = status.update_count;
  double finishedAt = -1.0;
  const char* reason = "route flown";
  char line[320];
  for (;;) {
    const double now = SecondsSince(start);
    orogrid_status_read(reader, &status, sizeof status);
    ReportServer(status, lastAlive);
    if (now >= nextLine) {
      StatusValues values = ReadBack(reader, flight, now);
      const double span = now - lastLineTime;
      values.updatesPerSecond = span > 0.0 ? (values.updateCount - lastLineCount) / span : 0.0;
      values.gridAge =
          status.publication_count > firstPublication ? status.publication_age_s : -1.0;
      FormatStatusLine(line, sizeof line, values);
      std::printf("%s\n", line);
      std::fflush(stdout);
      lastLineTime = now;
      lastLineCount = values.updateCount;
      nextLine += 1.0;
    }
    if (g_stopRequested != 0) {
      reason = "interrupted";
      break;
    }
    if (options.durationSeconds > 0.0 && now >= options.durationSeconds) {
      reason = flight.Finished() ? "route flown" : "time is up";
      break;
    }
    if (flight.Finished()) {
      if (finishedAt < 0.0) {
        finishedAt = now;
      }
      if (now - finishedAt >= options.holdSeconds) {
        break;
      }
    }
    next += period;
    std::this_thread::sleep_until(next);
    const Clock::time_point tick = Clock::now();
    // Fly by the real time that passed, so a late wake-up keeps the speed.
    flight.Advance(metresPerSecond * std::chrono::duration<double>(tick - last).count());
    last = tick;
    WritePosition(sim, flight, options.altitudeMetres);
  }
  flight.Lose();
  WriteState(sim, static_cast<std::int32_t>(flight.State()));
  std::printf(
      "orogrid-sim: %s after %.1f s, %.1f km; simulationState set to lost (0xFFFFFF); %d grid "
      "publications seen; leaving\n",
      reason, SecondsSince(start), flight.FlownMetres() / 1000.0,
      static_cast<int>(status.publication_count - firstPublication));
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  char error[256];
  const ToolInfo tool = {"orogrid-sim", g_szOrogridSimRevision, SimUsage(), kExitBadInput};
  const SimCommand command = ParseSimOptions(argc, argv, options, error, sizeof error);
  switch (command) {
    case SimCommand::kHelp:
      return AnswerStandardOption(tool, StandardOption::kHelp);
    case SimCommand::kVersion:
      return AnswerStandardOption(tool, StandardOption::kVersion);
    case SimCommand::kError:
      std::fprintf(stderr, "orogrid-sim: %s\n", error);
      return kExitBadInput;
    case SimCommand::kSetState:
      return SetStateOnly(options);
    case SimCommand::kFly:
      break;
  }
  static CRoute route;  // 16 KB of waypoints: not on the stack
  if (options.routeFile[0] != '\0') {
    if (!route.Load(options.routeFile)) {
      std::fprintf(stderr, "orogrid-sim: %s\n", route.GetError());
      return kExitBadInput;
    }
  } else {
    route.SetDemonstration();
  }
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  return Fly(options, route);
}
