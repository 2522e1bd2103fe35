// Terrain bitmap, the parts every platform shares: the error text and where
// the pixel reads point (a decoded table or the file's own pixels).
// Threading: one object per thread.
#include <cstdio>
#include <utility>

#include "platform/bitmap.h"
#include "platform/system_error.h"

namespace platform {

void CBitmapFile::SetError(const char* text) {
  std::snprintf(m_errorText, sizeof m_errorText, "%s", text);
}

void CBitmapFile::SetSystemError(int code) { SystemErrorText(code, m_errorText, kErrorTextSize); }

void CBitmapFile::UseTable(PixelTable table, int width, int height) {
  m_storage = std::move(table);
  m_pTopRow = reinterpret_cast<const std::uint8_t*>(m_storage.get());
  m_rowStep = static_cast<std::ptrdiff_t>(width) * 4;
  m_pixelBytes = 4;
  m_redAt = 0;  // 0x00BBGGRR in memory: red, green, blue, 0
  m_blueAt = 2;
  m_width = width;
  m_height = height;
  m_inPlace = false;
}

void CBitmapFile::UseFilePixels(const std::uint8_t* bits, std::uint64_t stride, bool topDown,
                                int bytesPerPixel, int width, int height) {
  const auto step = static_cast<std::ptrdiff_t>(stride);
  m_pTopRow = topDown ? bits : bits + step * (height - 1);
  m_rowStep = topDown ? step : -step;
  m_pixelBytes = bytesPerPixel;
  m_redAt = 2;  // blue, green, red as the file stores them
  m_blueAt = 0;
  m_width = width;
  m_height = height;
  m_inPlace = true;
}

void CBitmapFile::MarkLost(const char* reason) {
  m_lost = true;
  m_width = 0;
  m_height = 0;
  SetError(reason);
}

bool CBitmapFile::JudgeFile(std::uint64_t size, std::uint64_t needBytes, bool writtenSinceLoad) {
  if (size < needBytes) {
    char reason[160];
    std::snprintf(reason, sizeof reason,
                  "the map file was cut short on disk (%llu of %llu bytes): no longer read",
                  static_cast<unsigned long long>(size),
                  static_cast<unsigned long long>(needBytes));
    MarkLost(reason);
    return false;
  }
  if (writtenSinceLoad) {
    MarkLost("the map file was changed on disk (written to in place): no longer read");
    return false;
  }
  return true;
}

}  // namespace platform
