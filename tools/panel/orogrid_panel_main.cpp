// orogrid-panel OUT: draws the display toolkit's sample instrument panel and
// writes it as an image (PNG on Linux, BMP on Windows).
// Threading: single-threaded tool.
#include <cstdio>

#include "display/BaseDisplay.h"
#include "platform/device_context.h"
#include "tools/panel/InstrumentPanel.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orogrid-panel OUT.png\n");
    return 2;
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
  if (!platform::WriteImage(*dc, argv[1])) {
    std::fprintf(stderr, "orogrid-panel: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
