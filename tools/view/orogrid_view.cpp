// orogrid-view: draws the grids Orogrid publishes into a picture file (PNG
// on Linux, BMP on Windows), once or every N seconds, or shows them live in
// a terrain-awareness window (--window, tools/view/WindowMode.h). It reads the terrain
// record through the client library as a reader only: it never creates the
// segment and writes nothing into it; it warns when the server is gone. Each
// picture replaces a regular OUT only once it is whole (a temporary file
// beside it, renamed over it), so a watcher never sees half a picture; a
// device or a pipe is written straight through and a symbolic link is
// followed to its target.
//
// Threading: one thread; a signal handler only raises a flag.
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "client/orogrid_client.h"
#include "display/BaseDisplay.h"
#include "platform/device_context.h"
#include "platform/output_file.h"
#include "shm/BaseSharedMemory.h"
#include "tools/common/ToolCommand.h"
#include "tools/sim/Route.h"
#include "tools/view/Picture.h"
#include "tools/view/Snapshot.h"
#include "tools/view/WindowMode.h"

extern const char g_szOrogridViewRevision[];
const char g_szOrogridViewRevision[] = "%Z% OrogridTools KT4102:04 orogrid_view $Revision: 1.0 $";

namespace {

constexpr int kExitBadInput = 1;
constexpr int kExitNotAttached = 2;
constexpr int kExitUnsettled = 3;
constexpr int kExitWriteFailed = 4;

volatile std::sig_atomic_t g_stopRequested = 0;
extern "C" void OnStopSignal(int) { g_stopRequested = 1; }

const char kUsage[] =
    "Usage: orogrid-view OUT [--every SECONDS] [--count N] [--segment NAME]\n"
    "       orogrid-view --window [--north-up] [--range KM] [--altitude METRES]\n"
    "                    [--close-after SECONDS] [--segment NAME]\n"
    "Draws the terrain grids Orogrid publishes: the 150 x 150 coarse grid as coloured\n"
    "relief with the aircraft's pixel and heading, readouts of the values under the\n"
    "aircraft, and the 17 x 17 x 3 x 3 fine grid enlarged. Writes OUT as PNG on Linux,\n"
    "BMP on Windows. A regular OUT is replaced only once the picture is whole (through\n"
    "a temporary file beside it and a rename); a device or a pipe is written straight\n"
    "through, and a symbolic link is followed to its target.\n"
    "\n"
    "  --every SECONDS  draw again every SECONDS (0.2..3600) until interrupted, until\n"
    "                   the simulation state becomes lost, or until --count pictures\n"
    "  --count N        stop after N pictures (with --every; default: no limit)\n"
    "  --segment NAME   shared-memory segment (default TrnShmSpace); it must exist:\n"
    "                   the picture tool never creates it and writes nothing into it\n"
    "                   (the window waits for it)\n"
    "\n"
    "  --window         a live window instead of a file: a moving map around the\n"
    "                   aircraft, terrain coloured by its height against the\n"
    "                   aircraft (red above, amber within 150 m below, green to\n"
    "                   600 m below, black further down; elevation tints when the\n"
    "                   altitude is unknown), range rings, and a readout. Keys: n\n"
    "                   heading-up / north-up, q or Escape ends. Needs a display.\n"
    "  --north-up       start north-up (default heading-up)\n"
    "  --range KM       distance to the outer ring, 1..5000 km (default 80)\n"
    "  --altitude METRES  the aircraft's altitude above sea level, -1000..30000\n"
    "                   (default: the altitude the simulation writes, if any)\n"
    "  --close-after SECONDS  end the window after SECONDS (0.1..86400)\n"
    "  -h, --help       this text\n"
    "  --version        the program's revision\n"
    "\n"
    "Exit status: 0 pictures written (the window closed), 1 bad arguments or no\n"
    "display for the window, 2 no segment (or another version), 3 the grids kept\n"
    "changing while being copied, 4 the file could not be written.\n";

const ToolInfo kTool = {"orogrid-view", g_szOrogridViewRevision, kUsage, kExitBadInput};

struct ViewOptions {
  const char* out = nullptr;
  const char* segment = trn::kMappingName;
  double everySeconds = 0.0;
  long count = 0;
  bool window = false;
  bool viewOption = false;  // a window-only option was given
  mapview::WindowOptions windowOptions;
};

bool ParseNumber(const char* text, double low, double high, double& value) {
  return ParseDecimal(text, text + std::strlen(text), value) && value >= low && value <= high;
}

int ParseArguments(int argc, char** argv, ViewOptions& options) {
  CArgumentReader args(argc, argv);
  while (args.Next()) {
    const char* arg = args.Word();
    if (!args.IsOption()) {
      if (options.out != nullptr) {
        std::fprintf(stderr, "orogrid-view: more than one output file (\"%s\")\n", arg);
        return kExitBadInput;
      }
      options.out = arg;
      continue;
    }
    const StandardOption standard = StandardOptionOf(arg);
    if (standard != StandardOption::kNone) {
      return AnswerStandardOption(kTool, standard);
    }
    if (std::strcmp(arg, "--window") == 0) {
      options.window = true;
      continue;
    }
    if (std::strcmp(arg, "--north-up") == 0) {
      options.windowOptions.orientation = mapview::Orientation::kNorthUp;
      options.viewOption = true;
      continue;
    }
    if (std::strcmp(arg, "--range") == 0 || std::strcmp(arg, "--altitude") == 0 ||
        std::strcmp(arg, "--close-after") == 0) {
      const char* value = args.TakeValue();
      double number = 0.0;
      const bool range = std::strcmp(arg, "--range") == 0;
      const bool altitude = std::strcmp(arg, "--altitude") == 0;
      const double low = range ? 1.0 : (altitude ? -1000.0 : 0.1);
      const double high = range ? 5000.0 : (altitude ? 30000.0 : 86400.0);
      if (value == nullptr || !ParseNumber(value, low, high, number)) {
        std::fprintf(stderr, "orogrid-view: %s needs a number in %g..%g%s%s%s\n", arg, low, high,
                     value != nullptr ? " (not \"" : "", value != nullptr ? value : "",
                     value != nullptr ? "\")" : "");
        return kExitBadInput;
      }
      if (range) {
        options.windowOptions.rangeKm = number;
      } else if (altitude) {
        options.windowOptions.altitude = number;
        options.windowOptions.altitudeGiven = true;
      } else {
        options.windowOptions.closeAfterS = number;
      }
      options.viewOption = true;
      continue;
    }
    if (std::strcmp(arg, "--every") != 0 && std::strcmp(arg, "--count") != 0 &&
        std::strcmp(arg, "--segment") != 0) {
      return RefuseUnknownOption(kTool, arg);
    }
    const char* value = args.TakeValue();
    if (value == nullptr) {
      std::fprintf(stderr, "orogrid-view: option %s needs a value\n", arg);
      return kExitBadInput;
    }
    double number = 0.0;
    if (std::strcmp(arg, "--every") == 0) {
      if (!ParseNumber(value, 0.2, 3600.0, number)) {
        std::fprintf(stderr,
                     "orogrid-view: --every: \"%s\" is not a number of seconds in 0.2..3600\n",
                     value);
        return kExitBadInput;
      }
      options.everySeconds = number;
    } else if (std::strcmp(arg, "--count") == 0) {
      if (!ParseNumber(value, 1.0, 1e9, number) ||
          number != static_cast<double>(static_cast<long>(number))) {
        std::fprintf(stderr, "orogrid-view: --count: \"%s\" is not a whole number from 1\n", value);
        return kExitBadInput;
      }
      options.count = static_cast<long>(number);
    } else if (std::strcmp(arg, "--segment") == 0) {
      if (value[0] == '\0' ||
          std::strlen(value) >= static_cast<std::size_t>(BaseSharedMemory::kNameSize) ||
          std::strpbrk(value, "/\\") != nullptr) {
        std::fprintf(stderr, "orogrid-view: --segment: \"%s\" is not a valid name\n", value);
        return kExitBadInput;
      }
      options.segment = value;
    }
  }
  if (options.window) {
    if (options.out != nullptr || options.everySeconds > 0.0 || options.count > 0) {
      std::fprintf(stderr, "orogrid-view: --window draws no file (no OUT, --every or --count)\n");
      return kExitBadInput;
    }
    options.windowOptions.segment = options.segment;
    return -1;
  }
  if (options.viewOption) {
    std::fprintf(stderr,
                 "orogrid-view: --north-up, --range, --altitude and --close-after go with "
                 "--window\n");
    return kExitBadInput;
  }
  if (options.out == nullptr || options.out[0] == '\0') {
    std::fprintf(stderr, "orogrid-view: no output file given (see --help)\n");
    return kExitBadInput;
  }
  if (std::strlen(options.out) > 400) {
    std::fprintf(stderr, "orogrid-view: output file name too long\n");
    return kExitBadInput;
  }
  return -1;  // go on
}

// Writes the picture to path through an output file: a regular file is
// replaced only once the picture is whole. False with the reason printed.
bool WritePicture(platform::DeviceContext& dc, const char* path) {
  static platform::COutputFile out;  // 8 KB of buffer: not on the stack
  if (!out.Open(path) || !platform::WriteImage(dc, out) || !out.Commit()) {
    ReportCannotWrite(kTool, path,
                      out.ErrorText()[0] != '\0' ? out.ErrorText() : "the image cannot be encoded");
    out.Abandon();
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ViewOptions options;
  const int parsed = ParseArguments(argc, argv, options);
  if (parsed >= 0) {
    return parsed;
  }
  if (options.window) {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    return mapview::RunWindow(options.windowOptions, &g_stopRequested);
  }
  orogrid_client* reader = nullptr;
  const int opened = orogrid_open(options.segment, 0, &reader);
  if (opened != OROGRID_OK) {
    std::fprintf(stderr, "orogrid-view: shared memory \"%s\": %s\n", options.segment,
                 orogrid_strerror(opened));
    return kExitNotAttached;
  }
  struct Closer {
    orogrid_client* client;
    ~Closer() { orogrid_close(client); }
  } closer{reader};
  std::unique_ptr<platform::DeviceContext> dc =
      platform::CreateImageDC(picture::kWidth, picture::kHeight);
  if (!dc) {
    std::fprintf(stderr, "orogrid-view: cannot make a %d x %d image\n", picture::kWidth,
                 picture::kHeight);
    return kExitWriteFailed;
  }
  BaseDisplay display;
  display.SetDC(dc.get());
  display.SetScale(picture::kFontScale);
  static GridSnapshot snapshot;  // 600 KB each: not on the stack
  static orogrid_snapshot clientCopy;
  // Start just after a publication when there is one soon.
  orogrid_wait_publication(reader, 250);
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);

  long written = 0;
  long rounds = 0;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    ++rounds;
    const int taken = orogrid_snapshot_take(reader, &clientCopy, sizeof clientCopy);
    if (taken == OROGRID_E_SERVER_GONE) {
      // Still a whole copy: the last grids the server left.
      std::fprintf(stderr, "orogrid-view: warning: %s\n", orogrid_last_error(reader));
    }
    if (taken != OROGRID_OK && taken != OROGRID_E_SERVER_GONE) {
      std::fprintf(stderr, "orogrid-view: %s; no picture written\n", orogrid_last_error(reader));
      if (options.everySeconds <= 0.0) {
        return kExitUnsettled;
      }
    } else {
      FromClientSnapshot(clientCopy, snapshot);
      picture::DrawTerrainPicture(display, snapshot);
      if (!WritePicture(*dc, options.out)) {
        return kExitWriteFailed;
      }
      ++written;
      std::printf("orogrid-view: wrote %s (update %d, elevation %d m, cell %d, %d cop%s)\n",
                  options.out, snapshot.updateCount, snapshot.aircraftElevation,
                  snapshot.aircraftCellId, snapshot.attempts, snapshot.attempts == 1 ? "y" : "ies");
      std::fflush(stdout);
    }
    if (options.everySeconds <= 0.0 || g_stopRequested != 0 ||
        (options.count > 0 && written >= options.count) ||
        snapshot.simulationState == trn::kSimulationLost) {
      break;
    }
    const auto next =
        start +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(options.everySeconds * static_cast<double>(rounds)));
    while (g_stopRequested == 0 && std::chrono::steady_clock::now() < next) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (g_stopRequested != 0) {
      break;
    }
  }
  return 0;
}
