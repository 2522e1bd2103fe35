// Screenshots on Win32: the screen's device context copied with BitBlt into
// a top-down 32-bit DIB section.
// Threading: the test's main thread.
#include <windows.h>

#include <cstring>
#include <string>

#include "tests/support/screen_capture.h"

namespace testsupport {

bool ScreenCaptureAvailable(std::string* reason) {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) {
    *reason = "no screen device context";
    return false;
  }
  ReleaseDC(nullptr, screen);
  return true;
}

bool CaptureScreen(ScreenImage& out, std::string* reason) {
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  if (width <= 0 || height <= 0) {
    *reason = "no screen size";
    return false;
  }
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = dib != nullptr && bits != nullptr;
  if (ok) {
    HGDIOBJ previous = SelectObject(memory, dib);
    ok = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != FALSE;
    GdiFlush();
    if (ok) {
      out.width = width;
      out.height = height;
      out.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
      const auto* from = static_cast<const std::uint32_t*>(bits);
      for (std::size_t i = 0; i < out.pixels.size(); ++i) {
        const std::uint32_t v = from[i];  // 0x00RRGGBB
        out.pixels[i] = ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
      }
    }
    SelectObject(memory, previous);
    DeleteObject(dib);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!ok) {
    *reason = "the screen could not be copied";
  }
  return ok;
}

}  // namespace testsupport
