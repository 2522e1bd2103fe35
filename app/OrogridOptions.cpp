// The Linux server's command line (see OrogridOptions.h).
// Threading: pure functions; any thread.
#include "app/OrogridOptions.h"

#include <cstring>

#include "text/TextFcns.h"

namespace orogrid_options {

namespace {

constexpr char kUsage[] =
    "Usage: orogrid [--map FILE]\n"
    "Serves terrain elevation grids around the simulated aircraft into the shared\n"
    "terrain record, from a terrain map (a Windows bitmap whose colours encode\n"
    "elevations).\n"
    "\n"
    "  -m, --map FILE   serve this map instead of the installed one\n"
    "                   (Bitmaps/Terrain/KtTerrainMap.bmp beside the program)\n"
    "  -h, --help       this text\n"
    "      --version    the program's version\n";

constexpr char kVersion[] = "orogrid " OROGRID_VERSION "\n";

}  // namespace

const char* UsageText() { return kUsage; }
const char* VersionText() { return kVersion; }

Options Parse(int argc, const char* const* argv) {
  Options o;
  auto refuse = [&o](const char* format, const char* what) {
    o.action = Action::kRefuse;
    FormatTextSafe(o.error, sizeof o.error, format, what);
    return o;
  };
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      o.action = Action::kHelp;
      return o;
    }
    if (std::strcmp(arg, "--version") == 0) {
      o.action = Action::kVersion;
      return o;
    }
    const char* value = nullptr;
    if (std::strcmp(arg, "-m") == 0 || std::strcmp(arg, "--map") == 0) {
      value = i + 1 < argc ? argv[++i] : nullptr;
    } else if (std::strncmp(arg, "--map=", 6) == 0) {
      value = arg + 6;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      return refuse("unknown option \"%s\"", arg);
    } else {
      return refuse("unexpected argument \"%s\"", arg);
    }
    if (value == nullptr || value[0] == '\0') {
      return refuse("%s needs a map file", "--map");
    }
    if (o.mapPath != nullptr) {
      return refuse("%s given twice", "--map");
    }
    o.mapPath = value;
  }
  return o;
}

}  // namespace orogrid_options
