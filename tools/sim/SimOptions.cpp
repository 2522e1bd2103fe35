// Command-line parsing of orogrid-sim.
// Threading: no shared state.
#include "tools/sim/SimOptions.h"

#include <cstdio>
#include <cstring>

#include "client/CTrnClient.h"
#include "tools/sim/Flight.h"
#include "tools/sim/Route.h"

extern const char g_szSimOptionsRevision[];
const char g_szSimOptionsRevision[] = "%Z% OrogridTools KT4101:03 SimOptions $Revision: 1.0 $";

namespace {

struct NumberOption {
  const char* name;
  double SimOptions::*field;
  double low;   // inclusive
  double high;  // inclusive
  bool lowExclusive;
};

constexpr NumberOption kNumberOptions[] = {
    {"--speed", &SimOptions::speedKnots, 0.0, 2000.0, true},
    {"--rate", &SimOptions::rateHz, 0.5, 100.0, false},
    {"--time-scale", &SimOptions::timeScale, 0.0, 10000.0, true},
    {"--duration", &SimOptions::durationSeconds, 0.0, 86400.0, false},
    {"--hold", &SimOptions::holdSeconds, 0.0, 3600.0, false},
    {"--altitude", &SimOptions::altitudeMetres, -1000.0, 30000.0, false},
};

// Options that take a value; every other option is unknown.
bool IsValueOption(const char* arg) {
  for (const NumberOption& option : kNumberOptions) {
    if (std::strcmp(arg, option.name) == 0) {
      return true;
    }
  }
  return std::strcmp(arg, "--segment") == 0 || std::strcmp(arg, "--route") == 0 ||
         std::strcmp(arg, "--state") == 0;
}

SimCommand Error(char* error, int errorSize, const char* format, const char* a,
                 const char* b = "") {
  std::snprintf(error, static_cast<std::size_t>(errorSize), format, a, b);
  return SimCommand::kError;
}

}  // namespace

SimCommand ParseSimOptions(int argc, const char* const* argv, SimOptions& options, char* error,
                           int errorSize) {
  error[0] = '\0';
  bool routeGiven = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      return SimCommand::kHelp;
    }
    if (std::strcmp(arg, "--version") == 0) {
      return SimCommand::kVersion;
    }
    if (arg[0] != '-' || arg[1] == '\0') {
      return Error(error, errorSize, "unexpected argument \"%.100s\"%s", arg);
    }
    if (!IsValueOption(arg)) {
      return Error(error, errorSize, "unknown option %.60s (see --help)%s", arg);
    }
    if (i + 1 >= argc) {
      return Error(error, errorSize, "option %.60s needs a value%s", arg);
    }
    const char* value = argv[++i];
    bool known = false;
    for (const NumberOption& option : kNumberOptions) {
      if (std::strcmp(arg, option.name) != 0) {
        continue;
      }
      known = true;
      double number = 0.0;
      if (!ParseDecimal(value, value + std::strlen(value), number)) {
        return Error(error, errorSize, "%s: \"%.60s\" is not a number", option.name, value);
      }
      const bool belowLow = option.lowExclusive ? number <= option.low : number < option.low;
      if (belowLow || number > option.high) {
        char range[96];
        std::snprintf(range, sizeof range, "%s%g..%g", option.lowExclusive ? "above " : "",
                      option.low, option.high);
        return Error(error, errorSize, "%s: value out of range %s", option.name, range);
      }
      options.*option.field = number;
    }
    if (known) {
      continue;
    }
    if (std::strcmp(arg, "--segment") == 0) {
      if (!client::ValidSegmentName(value)) {
        return Error(
            error, errorSize,
            "--segment: \"%.60s\" is not a valid name (1..42 letters, digits, '_', '-', '.')%s",
            value);
      }
      std::snprintf(options.segment, sizeof options.segment, "%s", value);
    } else if (std::strcmp(arg, "--route") == 0) {
      if (value[0] == '\0' || std::strlen(value) >= sizeof options.routeFile) {
        return Error(error, errorSize, "--route: the file name is empty or too long%s", "");
      }
      std::snprintf(options.routeFile, sizeof options.routeFile, "%s", value);
      routeGiven = true;
    } else if (std::strcmp(arg, "--state") == 0) {
      if (!ParseSimState(value, options.state)) {
        return Error(error, errorSize,
                     "--state: \"%.60s\" is not waiting, running, lost or a 32-bit number%s",
                     value);
      }
      options.setStateOnly = true;
    }
  }
  if (options.setStateOnly && routeGiven) {
    return Error(error, errorSize, "--state sets a state and leaves; it does not fly a --route%s",
                 "");
  }
  return options.setStateOnly ? SimCommand::kSetState : SimCommand::kFly;
}

const char* SimUsage() {
  return "Usage: orogrid-sim [options]\n"
         "A stand-in for the flight simulation: attaches to the terrain shared memory,\n"
         "flies a route writing aircraftLatitude, aircraftLongitude, aircraftHeading and\n"
         "simulationState, and shows once a second what Orogrid publishes. At the end it\n"
         "sets the state to lost (0xFFFFFF) and leaves.\n"
         "\n"
         "Options:\n"
         "  --route FILE        fly the waypoints in FILE (default: the built-in route\n"
         "                      from Salzburg down the Inn valley into Innsbruck)\n"
         "  --speed KNOTS       ground speed, above 0 up to 2000 (default 140)\n"
         "  --altitude METRES   fly level at this altitude above sea level, -1000..30000\n"
         "                      (default: none written, the altitude is unknown)\n"
         "  --rate HZ           position updates per second, 0.5..100 (default 10)\n"
         "  --time-scale X      flight seconds per real second, above 0 up to 10000\n"
         "                      (default 1; 20 flies the built-in route in about a minute)\n"
         "  --duration SECONDS  stop after this many real seconds even if the route is\n"
         "                      not finished (default 0: fly the whole route)\n"
         "  --hold SECONDS      stay over the last waypoint this long before leaving\n"
         "  --segment NAME      shared-memory segment (default TrnShmSpace)\n"
         "  --state STATE       only set simulationState and leave: waiting (0),\n"
         "                      running (1), lost (0xFFFFFF), or a number (decimal or 0x..)\n"
         "  -h, --help          this text\n"
         "  --version           the program's revision\n"
         "\n"
         "Route file: one waypoint per line, LATITUDE LONGITUDE in decimal degrees\n"
         "(north and east positive), separated by blanks or a comma; '#' starts a\n"
         "comment; blank lines are ignored. 2 to 1000 waypoints, lines up to 200\n"
         "characters, latitude -90..90, longitude -180..180. Example:\n"
         "  # down the Inn valley\n"
         "  47.3890, 11.7770\n"
         "  47.2600  11.3500   # Innsbruck\n"
         "\n"
         "Exit status: 0 when the flight ended and the segment was left, 1 on bad input\n"
         "(nothing is touched then), 2 when the segment could not be attached.\n";
}
