// Platform service: the terrain bitmap file, loaded once and read pixel by
// pixel (and drawn from, through its memory device context on Win32).
//
// Contract every platform provides:
//  - CBitmapFile::Load(path) reads a Windows bitmap file (BITMAPINFOHEADER and
//    later headers; 1, 4, 8, 16, 24 and 32 bits per pixel; uncompressed,
//    bit-field, RLE4 and RLE8 data; bottom-up and top-down rows). On success
//    the previous bitmap, if any, is replaced; on failure nothing is loaded
//    (Width() and Height() are 0) and ErrorText() holds a short reason
//    without a trailing line break: the system's message for the last error
//    (Win32: FormatMessageA of GetLastError) or the reader's own specific
//    reason ("truncated pixel data", "PNG inside a bitmap file is not
//    supported", ...; POSIX).
//      Win32: LoadImageA(NULL, path, IMAGE_BITMAP, 0, 0,
//             LR_LOADFROMFILE | LR_CREATEDIBSECTION), the bitmap selected
//             into the memory DC of CreateMemoryDC when there is one.
//      POSIX: the project's own reader (platform/posix/bmp_reader.h); a
//             large file is decoded from a read-only mapping of it.
//  - Pixel(x, y) is the colour of pixel (x, y) as 0x00BBGGRR (red in bits
//    0-7, green 8-15, blue 16-23) whatever the file's bit depth; x is the
//    column from the west (left) edge, y the row from the top. Any (x, y)
//    outside the bitmap, or no bitmap loaded, yields 0xFFFFFFFF. Never faults.
//  - Row(y) gives the Width() colour values of row y (top row 0) in the same
//    layout, for fast sequential reads; null when y is outside the bitmap.
//  - CreateMemoryDC(compatibleWith) makes a memory device context compatible
//    with a native DC (Win32: CreateCompatibleDC of an HDC; null means the
//    screen). NativeDC() returns it (HDC) and NativeHandle() the loaded
//    bitmap (HBITMAP), for drawing with the display toolkit. On POSIX there
//    is no device context: CreateMemoryDC succeeds and both handles are null;
//    draw from Row() instead.
//  - SetBitmapLoadFailure(code) is the test seam: while code is not 0, every
//    Load fails without touching the file, with the system's message for
//    that code as ErrorText() (platform/system_error.h).
//  - TerrainMapPath() writes the fixed path of the terrain map: on Win32
//    "C:\Program Files\Norvalia\Bitmaps\Terrain\KtTerrainMap.bmp"; on POSIX
//    "<folder of the executable>/Bitmaps/Terrain/KtTerrainMap.bmp".
//
// Threading: an object is used from one thread; the failure seam is meant
// for tests and is not synchronised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

// Releases a pixel table the platform allocated (each platform allocates
// its own way: large tables come pre-faulted from the system on POSIX).
struct PixelRelease {
  std::size_t count = 0;  // colour values in the table
  void operator()(std::uint32_t* pixels) const;
};
using PixelTable = std::unique_ptr<std::uint32_t[], PixelRelease>;

// A table for count colour values, uninitialised; null when out of memory.
PixelTable AllocatePixels(std::size_t count);

class CBitmapFile {
 public:
  static constexpr std::uint32_t kOutside = 0xFFFFFFFFu;  // Pixel() off the bitmap
  static constexpr int kErrorTextSize = 512;              // ErrorText() room, NUL included
  // Largest bitmap accepted, in pixels (512 MB of colour values); larger
  // ones are refused before anything is allocated.
  static constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 27;

  CBitmapFile();
  ~CBitmapFile();
  CBitmapFile(const CBitmapFile&) = delete;
  CBitmapFile& operator=(const CBitmapFile&) = delete;

  // Creates the memory device context (Win32) compatible with the given
  // native DC (HDC, or null for the screen). Replaces an earlier one; the
  // loaded bitmap, if any, is selected into the new one. False when the
  // system refuses (ErrorText() says why); POSIX: always true.
  bool CreateMemoryDC(void* compatibleWith);

  // Loads the bitmap file at path. False with ErrorText() set on failure.
  bool Load(const char* path);
  // Drops the bitmap (and the device context's selection); Width() is 0.
  void Unload();

  bool IsLoaded() const { return m_pixels != nullptr; }
  int Width() const { return m_width; }    // pixels, 0 when nothing is loaded
  int Height() const { return m_height; }  // pixels, 0 when nothing is loaded

  // Colour of pixel (x, y) as 0x00BBGGRR; kOutside off the bitmap.
  std::uint32_t Pixel(int x, int y) const {
    if (static_cast<unsigned>(x) >= static_cast<unsigned>(m_width) ||
        static_cast<unsigned>(y) >= static_cast<unsigned>(m_height)) {
      return kOutside;
    }
    return m_pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) +
                    static_cast<std::size_t>(x)];
  }
  // Width() colour values of row y (0 = top), or null outside.
  const std::uint32_t* Row(int y) const {
    if (static_cast<unsigned>(y) >= static_cast<unsigned>(m_height)) {
      return nullptr;
    }
    return m_pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width);
  }

  // Reason of the last failed Load or CreateMemoryDC; "" after a success.
  const char* ErrorText() const { return m_errorText; }

  void* NativeHandle() const;  // HBITMAP on Win32, null on POSIX
  void* NativeDC() const;      // memory HDC on Win32, null on POSIX

 private:
  struct Native;  // the platform's handles, if it has any

  void SetError(const char* text);
  void SetSystemError(int code);

  PixelTable m_storage;
  const std::uint32_t* m_pixels = nullptr;  // top row first, Width() per row
  int m_width = 0;
  int m_height = 0;
  std::unique_ptr<Native> m_native;
  char m_errorText[kErrorTextSize] = {};
};

// Test seam: a non-zero code makes every Load fail with that system error
// code's message; 0 restores normal loading.
void SetBitmapLoadFailure(int systemErrorCode);

// The fixed path of the terrain map, written into buf (always terminated).
// False, with buf empty, when the path cannot be formed or does not fit.
bool TerrainMapPath(char* buf, int size);

}  // namespace platform
