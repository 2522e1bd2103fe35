// Command line of orogrid-sim: what to fly, how fast, against which segment.
// Everything is checked here, before the program touches the segment.
//
// Threading: no shared state.
#pragma once

#include <cstdint>
#include <limits>

struct SimOptions {
  static constexpr int kNameSize = 43;  // as BaseSharedMemory: 42 characters and the NUL
  static constexpr int kPathSize = 512;

  char segment[kNameSize] = "TrnShmSpace";
  char routeFile[kPathSize] = "";  // empty: the demonstration route
  double speedKnots = 140.0;       // ground speed
  double rateHz = 10.0;            // position updates per wall-clock second
  double timeScale = 1.0;          // flight seconds per wall-clock second
  double durationSeconds = 0.0;    // wall-clock limit of the flight; 0: none
  double holdSeconds = 0.0;        // wall-clock time over the last waypoint
  double altitudeMetres = std::numeric_limits<double>::quiet_NaN();  // NaN: unknown
  bool setStateOnly = false;  // --state: set simulationState and leave
  std::int32_t state = 0;
};

enum class SimCommand { kFly, kSetState, kHelp, kVersion, kError };

// Parses argv[1..argc). On kError, error holds a one-line reason.
SimCommand ParseSimOptions(int argc, const char* const* argv, SimOptions& options, char* error,
                           int errorSize);

// The text of --help, route file format included.
const char* SimUsage();
