// Test harness: a screenshot of the whole screen the test runs on, for the
// tests that look at a real window.
//  - POSIX: the X display in $DISPLAY (an Xvfb), taken with ImageMagick's
//    import of the root window into a PPM file in a scratch folder.
//  - Windows (under Wine, on its X display): the screen's device context
//    copied into a DIB section with BitBlt.
// Available() is false where neither works (no display, no import); the
// tests skip then.
//
// Threading: the test's main thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct ScreenImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // rows top-down, 0x00BBGGRR

  std::uint32_t At(int x, int y) const {
    return (x < 0 || y < 0 || x >= width || y >= height)
               ? 0u
               : pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                        static_cast<std::size_t>(x)];
  }
};

bool ScreenCaptureAvailable(std::string* reason);
bool CaptureScreen(ScreenImage& out, std::string* reason);

}  // namespace testsupport
