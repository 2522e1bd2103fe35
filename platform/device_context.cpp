// Device-context service, the parts every platform shares: point-font
// heights, logical descriptions, writing an image to a path and the
// creation-failure seam.
// Threading: user-interface thread only; the seam is not synchronised.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/device_context.h"
#include "platform/output_file.h"
#include "platform/system_error.h"

namespace platform {

namespace {
bool g_bGdiFailing = false;

// MulDiv with rounding half away from zero, as the system's.
int MulDivRounded(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}
}  // namespace

void SetGdiCreationFailure(bool fail) { g_bGdiFailing = fail; }
bool GdiCreationFailing() { return g_bGdiFailing; }

bool Font::CreatePointFont(int sizeTenths, const char* faceName, DeviceContext* dc) {
  LogFont logFont{};
  logFont.height = sizeTenths;
  logFont.weight = 0;
  if (faceName != nullptr) {
    const std::size_t length = std::min<std::size_t>(std::strlen(faceName), kFaceNameSize - 1);
    std::memcpy(logFont.faceName, faceName, length);
  }
  return CreatePointFontIndirect(logFont, dc);
}

bool Font::CreatePointFontIndirect(const LogFont& logFont, DeviceContext* dc) {
  LogFont pixels = logFont;
  const int dpi = dc != nullptr ? dc->LogPixelsY() : ScreenLogPixelsY();
  pixels.height = -std::abs(MulDivRounded(dpi, logFont.height, 720));
  return CreateFromLogFont(pixels);
}

bool Font::GetLogFont(LogFont& out) const {
  if (!m_bCreated) {
    return false;
  }
  out = m_logFont;
  return true;
}

bool WriteImage(DeviceContext& dc, const char* path) {
  COutputFile out;
  if (!out.Open(path) || !WriteImage(dc, out) || !out.Commit()) {
    SetLastSystemError(out.ErrorCode());
    return false;
  }
  return true;
}

}  // namespace platform
