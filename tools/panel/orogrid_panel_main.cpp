// orogrid-panel OUT: draws the display toolkit's sample instrument panel and
// writes it as an image (PNG on Linux, BMP on Windows). OUT is replaced only
// once the picture is whole; a device or pipe is written straight through.
// Exit status: 0 written, 1 the picture could not be drawn or written,
// 2 bad arguments.
//
// Threading: single-threaded tool.
#include <cstdio>

#include "display/BaseDisplay.h"
#include "platform/device_context.h"
#include "platform/output_file.h"
#include "tools/common/ToolCommand.h"
#include "tools/panel/InstrumentPanel.h"

extern const char g_szOrogridPanelRevision[];
const char g_szOrogridPanelRevision[] = "%Z% OrogridTools KT4103:01 orogrid-panel $Revision: 1.1 $";

namespace {

const char kUsage[] =
    "Usage: orogrid-panel OUT\n"
    "Draws the display toolkit's sample instrument panel and writes it to OUT as\n"
    "PNG on Linux, BMP on Windows. OUT is replaced only once the picture is whole;\n"
    "a device or a pipe is written straight through.\n"
    "\n"
    "  -h, --help     this text\n"
    "      --version  the program's revision\n"
    "\n"
    "Exit status: 0 written, 1 the picture could not be drawn or written, 2 bad\n"
    "arguments.\n";

const ToolInfo kTool = {"orogrid-panel", g_szOrogridPanelRevision, kUsage, 2};

}  // namespace

int main(int argc, char** argv) {
  const char* path = nullptr;
  const int parsed = ParseOutputOnlyCommand(kTool, argc, argv, &path);
  if (parsed >= 0) {
    return parsed;
  }
  auto dc = platform::CreateImageDC(panel::kWidth, panel::kHeight);
  if (!dc) {
    std::fprintf(stderr, "orogrid-panel: cannot create a %dx%d image\n", panel::kWidth,
                 panel::kHeight);
    return 1;
  }
  BaseDisplay display;
  if (!panel::DrawInstrumentPanel(display, *dc)) {
    std::fprintf(stderr, "orogrid-panel: cannot draw the tape strip\n");
    return 1;
  }
  platform::COutputFile out;
  if (!out.Open(path) || !platform::WriteImage(*dc, out) || !out.Commit()) {
    ReportCannotWrite(kTool, path,
                      out.ErrorText()[0] != '\0' ? out.ErrorText() : "the image cannot be encoded");
    return 1;
  }
  return 0;
}
