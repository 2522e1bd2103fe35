// Screenshots on POSIX: ImageMagick's import of the X root window into a
// PPM file, read back here.
// Threading: the test's main thread.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/TestSupport.h"
#include "tests/support/screen_capture.h"

namespace testsupport {

namespace {

const char kImport[] = "/usr/bin/import";

// Reads a binary PPM (P6, maxval 255) into out.
bool ReadPpm(const std::string& path, ScreenImage& out) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return false;
  }
  int width = 0;
  int height = 0;
  int maxval = 0;
  const bool header = std::fscanf(file, "P6 %d %d %d", &width, &height, &maxval) == 3 &&
                      std::fgetc(file) != EOF && maxval == 255 && width > 0 && height > 0;
  bool ok = header;
  if (ok) {
    out.width = width;
    out.height = height;
    out.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    unsigned char rgb[3];
    for (std::uint32_t& pixel : out.pixels) {
      if (std::fread(rgb, 1, 3, file) != 3) {
        ok = false;
        break;
      }
      pixel = static_cast<std::uint32_t>(rgb[0]) | (static_cast<std::uint32_t>(rgb[1]) << 8) |
              (static_cast<std::uint32_t>(rgb[2]) << 16);
    }
  }
  std::fclose(file);
  return ok;
}

}  // namespace

bool ScreenCaptureAvailable(std::string* reason) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || display[0] == '\0') {
    *reason = "no X display (run under xvfb-run)";
    return false;
  }
  if (access(kImport, X_OK) != 0) {
    *reason = "no /usr/bin/import (Debian: imagemagick)";
    return false;
  }
  return true;
}

bool CaptureScreen(ScreenImage& out, std::string* reason) {
  ScratchFolder folder("screenshot");
  if (folder.Path().empty()) {
    *reason = "no scratch folder";
    return false;
  }
  const std::string path = folder.File("screen.ppm");
  const int status =
      RunProgram(kImport, {"-silent", "-window", "root", "-depth", "8", "ppm:" + path});
  if (status != 0) {
    *reason = "import ended with status " + std::to_string(status);
    return false;
  }
  if (!ReadPpm(path, out)) {
    *reason = "import wrote no readable PPM";
    return false;
  }
  return true;
}

}  // namespace testsupport
