// orogrid-mapmaker: command line of the map maker. Makes the server's terrain
// bitmap from any elevation model GDAL opens in geographic coordinates.
// Threading: the main thread runs the maker (which writes with a second
// thread of its own); the signal handler only sets a flag.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/terminal.h"
#include "tools/common/ToolCommand.h"
#include "tools/mapmaker/MapEncoding.h"
#include "tools/mapmaker/MapMaker.h"

namespace {

const char kRevision[] = "%Z% OrogridTools KT9001:03 orogrid-mapmaker $Revision: 1.2 $";

const char kUsage[] =
    "Usage: orogrid-mapmaker INPUT OUTPUT.bmp [options]\n"
    "\n"
    "Makes the Orogrid terrain bitmap from an elevation model in latitude/longitude\n"
    "that GDAL can open: GeoTIFF tiles, netCDF grids (ETOPO, GEBCO), VRT mosaics.\n"
    "The map is a 24-bit BMP of 360 K x 180 K pixels; pixel (x, y) is the cell whose\n"
    "north-west corner is latitude 90 - y/K, longitude x/K - 180. Its elevation e\n"
    "(whole metres, -10010..15745) is blue = 100 + floor(e/100), green = 10 + the\n"
    "remainder; red holds a shaded relief so the file is a readable picture.\n"
    "Longitudes may run 0..360 or -180..180.\n"
    "\n"
    "The map is written in bands of rows, so memory stays bounded (about 250 MB at\n"
    "120 pixels per degree). An existing OUTPUT is replaced only once the new map\n"
    "is complete and on the disk: it is written to a temporary file beside it\n"
    "(OUTPUT.PID-N.tmp) and renamed. A symbolic link is followed (the file it points\n"
    "to is replaced, the link stays); a pipe or a character device is written\n"
    "straight through; a folder or a block device is refused. Stopped by INT, TERM\n"
    "or HUP, the maker removes the temporary file and leaves OUTPUT as it was.\n"
    "\n"
    "options:\n"
    "  -k, --pixels-per-degree K  whole pixels per degree, 1..120 (default 12, a\n"
    "                             4320 x 2160 map: the size the server's built-in\n"
    "                             elevation overrides are entered for)\n"
    "  -a, --aggregate MODE       how a pixel's elevation is taken from finer data:\n"
    "        maximum  (default) the highest sample inside the pixel. The server\n"
    "                 reports the ground under the aircraft from this map; a mean\n"
    "                 or a single sample can put a peak or a ridge lower than it is,\n"
    "                 the highest ground in the cell never does, so it is the safe\n"
    "                 answer for terrain awareness.\n"
    "        mean     the mean of the samples inside the pixel\n"
    "        nearest  the sample nearest the pixel's north-west corner\n"
    "  -n, --keep-negative        keep elevations below 0 m (land below sea level,\n"
    "                             bathymetry); by default every cell at or below 0 m\n"
    "                             is written as colour 0 (0 m), so coastlines stay at\n"
    "                             sea level as the server's grid blending expects\n"
    "  -b, --band N               input band to read (default 1)\n"
    "      --fill-distance N      no-data holes fill from their neighbours across at\n"
    "                             most N pixels (default K, one degree; at most\n"
    "                             what a band sees: 388 at K = 120, the whole map\n"
    "                             up to K = 20); cells left over are written as\n"
    "                             0 m and counted\n"
    "      --no-relief            no shaded relief (red is a constant)\n"
    "  -q, --quiet                no progress bar, no summary (warnings and errors stay)\n"
    "  -h, --help                 this text\n"
    "      --version              the program's version\n"
    "Options that take a value also take it as --option=VALUE; \"--\" ends the\n"
    "options.\n";

const ToolInfo kTool = {"orogrid-mapmaker", kRevision, kUsage, 2};

bool ParseInt(const char* text, int low, int high, int* value) {
  if (text == nullptr || *text == '\0') {
    return false;
  }
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || v < low || v > high) {
    return false;
  }
  *value = static_cast<int>(v);
  return true;
}

// The signal that asked the maker to stop, 0 while none did.
volatile std::sig_atomic_t g_stopSignal = 0;

// Asks the maker to stop at the next band; a second signal ends the program
// at once (the default action is back in place).
extern "C" void OnStopSignal(int signal) {
  g_stopSignal = signal;
  std::signal(signal, SIG_DFL);
}

struct ProgressBar {
  int lastPercent = -1;
};

void DrawProgress(double fraction, void* context) {
  auto& bar = *static_cast<ProgressBar*>(context);
  const int percent = static_cast<int>(fraction * 100.0);
  if (percent == bar.lastPercent) {
    return;
  }
  bar.lastPercent = percent;
  constexpr int kWidth = 40;
  char cells[kWidth + 1];
  const int done = percent * kWidth / 100;
  for (int i = 0; i < kWidth; ++i) {
    cells[i] = i < done ? '#' : '-';
  }
  cells[kWidth] = '\0';
  std::fprintf(stderr, "\r  [%s] %3d%%", cells, percent);
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  mapmaker::MapOptions options;
  const char* paths[2] = {nullptr, nullptr};
  int pathCount = 0;
  bool quiet = false;
  CArgumentReader args(argc, argv);
  while (args.Next()) {
    const char* arg = args.Word();
    if (!args.IsOption()) {
      if (pathCount == 2) {
        return RefuseCommandLine(kTool, "one input and one output only; \"%s\" is one too many",
                                 arg);
      }
      paths[pathCount++] = arg;
      continue;
    }
    // "--name=value" carries its value; otherwise it is the next argument.
    char name[64] = {};
    const char* inlineValue = nullptr;
    const char* equals = std::strncmp(arg, "--", 2) == 0 ? std::strchr(arg, '=') : nullptr;
    if (equals != nullptr && static_cast<std::size_t>(equals - arg) < sizeof name) {
      std::memcpy(name, arg, static_cast<std::size_t>(equals - arg));
      arg = name;
      inlineValue = equals + 1;
    }
    bool usedValue = false;
    const auto value = [&]() -> const char* {
      usedValue = true;
      if (inlineValue != nullptr) {
        return inlineValue;
      }
      return args.TakeValue();
    };
    const auto is = [&](const char* shortName, const char* longName) {
      return (shortName != nullptr && std::strcmp(arg, shortName) == 0) ||
             std::strcmp(arg, longName) == 0;
    };
    const StandardOption standard = StandardOptionOf(arg);
    if (standard != StandardOption::kNone) {
      if (inlineValue != nullptr) {
        return RefuseCommandLine(kTool, "%s takes no value", name);
      }
      return AnswerStandardOption(kTool, standard);
    }
    if (is("-k", "--pixels-per-degree")) {
      const char* v = value();
      if (!ParseInt(v, 1, mapmaker::kMaxPixelsPerDegree, &options.pixelsPerDegree)) {
        return RefuseCommandLine(
            kTool, "--pixels-per-degree needs a whole number 1..120, not \"%s\"", v ? v : "");
      }
    } else if (is("-a", "--aggregate")) {
      const char* v = value();
      if (!mapmaker::ParseAggregate(v, &options.aggregate)) {
        return RefuseCommandLine(kTool, "--aggregate is nearest, mean or maximum, not \"%s\"",
                                 v ? v : "");
      }
    } else if (is("-n", "--keep-negative")) {
      options.keepNegative = true;
    } else if (is("-b", "--band")) {
      const char* v = value();
      if (!ParseInt(v, 1, 1000000, &options.band)) {
        return RefuseCommandLine(kTool, "--band needs a band number from 1, not \"%s\"",
                                 v ? v : "");
      }
    } else if (is(nullptr, "--fill-distance")) {
      const char* v = value();
      if (!ParseInt(v, 0, 1000000, &options.fillDistance)) {
        return RefuseCommandLine(
            kTool, "--fill-distance needs a number of pixels from 0, not \"%s\"", v ? v : "");
      }
    } else if (is(nullptr, "--no-relief")) {
      options.relief = false;
    } else if (is("-q", "--quiet")) {
      quiet = true;
    } else {
      return RefuseUnknownOption(kTool, args.Word());
    }
    if (inlineValue != nullptr && !usedValue) {
      return RefuseCommandLine(kTool, "%s takes no value", name);
    }
  }
  if (pathCount < 2) {
    return RefuseCommandLine(kTool, "%s",
                             pathCount == 0
                                 ? "an input elevation model and an output bitmap are needed"
                                 : "an output bitmap (OUTPUT.bmp) is needed");
  }

  if (options.fillDistance > mapmaker::MaxFillDistance(options.pixelsPerDegree)) {
    std::fprintf(stderr,
                 "orogrid-mapmaker: warning: holes fill across at most %d pixels at %d pixels per "
                 "degree, not %d\n",
                 mapmaker::MaxFillDistance(options.pixelsPerDegree), options.pixelsPerDegree,
                 options.fillDistance);
  }
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    std::signal(signal, OnStopSignal);
  }

  ProgressBar bar;
  const bool showProgress = !quiet && platform::IsTerminal(2);
  const auto start = std::chrono::steady_clock::now();
  mapmaker::CMapMaker maker;
  maker.SetStopFlag(&g_stopSignal);
  mapmaker::MapSummary s;
  const bool ok =
      maker.MakeMap(paths[0], paths[1], options, &s, showProgress ? DrawProgress : nullptr, &bar);
  if (showProgress && bar.lastPercent >= 0) {
    std::fputc('\n', stderr);
  }
  if (!ok) {
    std::fprintf(stderr, "orogrid-mapmaker: %s\n", maker.GetError());
    if (g_stopSignal != 0) {
      // Ended by the signal, as the sender expects.
      const int signal = g_stopSignal;
      std::signal(signal, SIG_DFL);
      std::raise(signal);
    }
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (s.clampedCells > 0) {
    std::fprintf(stderr, "orogrid-mapmaker: warning: %lld cells clamped to %d..%d m\n",
                 static_cast<long long>(s.clampedCells), mapmaker::kMinElevation,
                 mapmaker::kMaxElevation);
  }
  if (s.unfilledCells > 0) {
    std::fprintf(
        stderr, "orogrid-mapmaker: warning: %lld no-data cells too far from data, written as 0 m\n",
        static_cast<long long>(s.unfilledCells));
  }
  if (!quiet) {
    std::printf(
        "orogrid-mapmaker: wrote %s (%d x %d pixels, %d per degree, %llu bytes) in %.1f s\n",
        paths[1], s.width, s.height, options.pixelsPerDegree,
        static_cast<unsigned long long>(s.fileBytes), seconds);
    std::printf("  cells written:     %lld (%lld with elevation, %lld as colour 0)\n",
                static_cast<long long>(s.cellsWritten), static_cast<long long>(s.landCells),
                static_cast<long long>(s.seaCells));
    if (s.anyElevation) {
      std::printf("  input elevations:  %d .. %d m (%s per pixel)\n", s.minElevation,
                  s.maxElevation, mapmaker::AggregateName(options.aggregate));
    } else {
      std::printf("  input elevations:  none (no data in the input)\n");
    }
    std::printf("  clamped:           %lld cells\n", static_cast<long long>(s.clampedCells));
    std::printf("  no-data holes:     %lld filled from neighbours, %lld written as 0 m\n",
                static_cast<long long>(s.filledCells), static_cast<long long>(s.unfilledCells));
    std::printf("  outside the input: %lld cells written as 0 m\n",
                static_cast<long long>(s.outsideCells));
  }
  return FinishStandardOutput(kTool, 0);
}
