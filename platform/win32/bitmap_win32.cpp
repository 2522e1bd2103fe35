// Win32 terrain bitmap: LoadImageA from the file as a DIB section, selected
// into a memory DC for drawing; its colours are copied once into a 32-bit
// top-down table (GetDIBits) so pixel reads are plain memory reads.
// Threading: one object per thread; the failure seam is not synchronised.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/bitmap.h"
#include "platform/system_error.h"

namespace platform {

namespace {

int g_loadFailure = 0;

constexpr char kFixedMapPath[] = "C:\\Program Files\\Norvalia\\Bitmaps\\Terrain\\KtTerrainMap.bmp";

}  // namespace

struct CBitmapFile::Native {
  HDC dc = nullptr;              // memory DC, or null before CreateMemoryDC
  HBITMAP bitmap = nullptr;      // the loaded bitmap
  HGDIOBJ dcOriginal = nullptr;  // the DC's own bitmap while ours is selected

  void Deselect() {
    if (dc != nullptr && dcOriginal != nullptr) {
      SelectObject(dc, dcOriginal);
      dcOriginal = nullptr;
    }
  }
  void Select() {
    if (dc != nullptr && bitmap != nullptr) {
      dcOriginal = SelectObject(dc, bitmap);
    }
  }
};

void PixelRelease::operator()(std::uint32_t* pixels) const { delete[] pixels; }

PixelTable AllocatePixels(std::size_t count) {
  return PixelTable(new (std::nothrow) std::uint32_t[count], PixelRelease{count});
}

void SetBitmapLoadFailure(int systemErrorCode) { g_loadFailure = systemErrorCode; }

CBitmapFile::CBitmapFile() : m_native(new Native) {}

CBitmapFile::~CBitmapFile() {
  Unload();
  if (m_native->dc != nullptr) {
    DeleteDC(m_native->dc);
  }
}

void CBitmapFile::SetError(const char* text) {
  std::snprintf(m_errorText, sizeof m_errorText, "%s", text);
}

void CBitmapFile::SetSystemError(int code) { SystemErrorText(code, m_errorText, kErrorTextSize); }

bool CBitmapFile::CreateMemoryDC(void* compatibleWith) {
  m_errorText[0] = '\0';
  HDC dc = CreateCompatibleDC(static_cast<HDC>(compatibleWith));
  if (dc == nullptr) {
    SetSystemError(static_cast<int>(GetLastError()));
    return false;
  }
  m_native->Deselect();
  if (m_native->dc != nullptr) {
    DeleteDC(m_native->dc);
  }
  m_native->dc = dc;
  m_native->Select();
  return true;
}

void CBitmapFile::Unload() {
  m_native->Deselect();
  if (m_native->bitmap != nullptr) {
    DeleteObject(m_native->bitmap);
    m_native->bitmap = nullptr;
  }
  m_storage.reset();
  m_pixels = nullptr;
  m_width = 0;
  m_height = 0;
}

bool CBitmapFile::Load(const char* path) {
  Unload();
  m_errorText[0] = '\0';
  if (g_loadFailure != 0) {
    SetSystemError(g_loadFailure);
    return false;
  }
  // A DIB section keeps the file's exact colours whatever the display's
  // depth. RLE files cannot be DIB sections: they load as device bitmaps.
  HANDLE image =
      LoadImageA(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
  if (image == nullptr) {
    image = LoadImageA(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
  }
  if (image == nullptr) {
    const DWORD code = GetLastError();
    if (code == 0) {
      SetError("the file is not a bitmap the system can load");
    } else {
      SetSystemError(static_cast<int>(code));
    }
    return false;
  }
  HBITMAP bitmap = static_cast<HBITMAP>(image);
  BITMAP info{};
  if (GetObjectA(bitmap, sizeof info, &info) != static_cast<int>(sizeof info)) {
    DeleteObject(bitmap);
    SetError("the bitmap's size cannot be read");
    return false;
  }
  const LONG width = info.bmWidth;
  const LONG height = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
  if (width <= 0 || height <= 0 ||
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxPixels) {
    DeleteObject(bitmap);
    std::snprintf(m_errorText, sizeof m_errorText, "image too large (%ld x %ld pixels)",
                  static_cast<long>(width), static_cast<long>(height));
    return false;
  }
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  PixelTable pixels = AllocatePixels(count);
  if (!pixels) {
    DeleteObject(bitmap);
    SetSystemError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  // The bitmap must not be selected into a DC while GetDIBits reads it.
  BITMAPINFO want{};
  want.bmiHeader.biSize = sizeof want.bmiHeader;
  want.bmiHeader.biWidth = width;
  want.bmiHeader.biHeight = -height;  // top row first
  want.bmiHeader.biPlanes = 1;
  want.bmiHeader.biBitCount = 32;
  want.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  const int rows =
      GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), pixels.get(), &want, DIB_RGB_COLORS);
  const DWORD readError = GetLastError();
  ReleaseDC(nullptr, screen);
  if (rows != height) {
    DeleteObject(bitmap);
    if (readError == 0) {
      SetError("the bitmap's pixels cannot be read");
    } else {
      SetSystemError(static_cast<int>(readError));
    }
    return false;
  }
  // GetDIBits gives 0x00RRGGBB; colour values are 0x00BBGGRR.
  std::uint32_t* p = pixels.get();
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint32_t v = p[k];
    p[k] = ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
  }
  m_native->bitmap = bitmap;
  m_native->Select();
  m_storage = std::move(pixels);
  m_pixels = m_storage.get();
  m_width = static_cast<int>(width);
  m_height = static_cast<int>(height);
  return true;
}

void* CBitmapFile::NativeHandle() const { return m_native->bitmap; }
void* CBitmapFile::NativeDC() const { return m_native->dc; }

bool TerrainMapPath(char* buf, int size) {
  if (buf == nullptr || size <= 0) {
    return false;
  }
  if (static_cast<std::size_t>(size) < sizeof kFixedMapPath) {
    buf[0] = '\0';
    return false;
  }
  std::memcpy(buf, kFixedMapPath, sizeof kFixedMapPath);
  return true;
}

}  // namespace platform
