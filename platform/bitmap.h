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
//    supported", ...).
//  - Uncompressed 24- and 32-bit files are read in place: from a read-only
//    mapping of the file, no pixel table, so loading costs the same whatever
//    the map's size; the headers and the file's length are checked once at
//    load so no pixel read goes past the file. Other encodings are decoded
//    into a table of at most kMaxPixels colour values; larger ones are
//    refused before anything is allocated.
//      Win32: LoadImageA(NULL, path, IMAGE_BITMAP, 0, 0,
//             LR_LOADFROMFILE | LR_CREATEDIBSECTION) for every map of at
//             most kMaxPixels pixels, the bitmap selected into the memory DC
//             of CreateMemoryDC when there is one. A larger 24- or 32-bit
//             map is read in place from a read-only file mapping
//             (CreateFileMappingA, MapViewOfFile); its memory DC is still
//             made and can be drawn on, but holds no map bitmap
//             (NativeHandle() is null): a DIB section on the file would need
//             a writable mapping of the map, and GDI's DIB engine cannot
//             address a bitmap past 2 GB.
//      POSIX: the project's own reader (platform/posix/bmp_reader.h) on a
//             read-only mapping of the file.
//  - Pixel(x, y) is the colour of pixel (x, y) as 0x00BBGGRR (red in bits
//    0-7, green 8-15, blue 16-23) whatever the file's bit depth; x is the
//    column from the west (left) edge, y the row from the top. Any (x, y)
//    outside the bitmap, or no bitmap loaded, yields 0xFFFFFFFF. A direct
//    memory read: no call, no allocation.
//  - A map read in place may be cut short or written to on disk while it is
//    served (replacing it by renaming another file over it is harmless: the
//    mapping keeps the old file). CheckFile() notices a file that no longer
//    holds the pixel data, or whose modification time has moved since the
//    load (written to in place, even at the same length), with one system
//    call (POSIX: fstat; Win32: GetFileInformationByHandle);
//    ReadGuarded(read, context) runs a batch of pixel reads and turns a
//    fault of the system on a page of the map's mapping into a false
//    result: on POSIX a bus error (SIGBUS, a page past the file's new end;
//    the first in-place load installs a handler for it), on Win32 an
//    in-page error or read access violation (a failing disk or network
//    share; the first in-place load adds a vectored exception handler).
//    Faults elsewhere, on other threads or outside ReadGuarded go on as they
//    would have (the handler that was there before, the next exception
//    handler, or the end of the program). Both then mark the map lost:
//    Lost() is true, ErrorText() says why, and Width() and Height() are 0 so
//    no later read touches the mapping. Win32 cannot shorten a file while
//    it is mapped (SetEndOfFile fails), and the map is opened without write
//    sharing, so there such a loss is rare.
//  - CreateMemoryDC(compatibleWith) makes a memory device context compatible
//    with a native DC (Win32: CreateCompatibleDC of an HDC; null means the
//    screen). NativeDC() returns it (HDC) and NativeHandle() the loaded
//    bitmap (HBITMAP), for drawing with the display toolkit. On POSIX there
//    is no device context: CreateMemoryDC succeeds and both handles are null;
//    draw from Pixel() instead.
//  - SetBitmapLoadFailure(code) is the test seam: while code is not 0, every
//    Load fails without touching the file, with the system's message for
//    that code as ErrorText() (platform/system_error.h).
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
  // Largest bitmap decoded into a table, in pixels (512 MB of colour
  // values); larger ones are refused before anything is allocated. Maps
  // read in place have no such limit.
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

  bool IsLoaded() const { return m_pTopRow != nullptr; }
  // True when the map is read in place from the file (no pixel table).
  bool InPlace() const { return m_inPlace; }
  int Width() const { return m_width; }    // pixels, 0 when nothing is loaded
  int Height() const { return m_height; }  // pixels, 0 when nothing is loaded

  // Colour of pixel (x, y) as 0x00BBGGRR; kOutside off the bitmap.
  std::uint32_t Pixel(int x, int y) const {
    if (static_cast<unsigned>(x) >= static_cast<unsigned>(m_width) ||
        static_cast<unsigned>(y) >= static_cast<unsigned>(m_height)) {
      return kOutside;
    }
    const std::uint8_t* p = m_pTopRow + static_cast<std::ptrdiff_t>(y) * m_rowStep +
                            static_cast<std::ptrdiff_t>(x) * m_pixelBytes;
    return static_cast<std::uint32_t>(p[m_redAt]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[m_blueAt]) << 16);
  }

  // False, and the map lost, when the file no longer holds all the pixel
  // data read in place (cut short on disk) or was written to since the
  // load. True for a table. One system call: call it per sweep, not per
  // pixel.
  bool CheckFile();
  // Calls read(context), which reads pixels; true when it ran to its end.
  // False when the map is lost or was lost during read (the rest of read
  // is then skipped). read must not allocate or hold resources across a
  // pixel read.
  bool ReadGuarded(void (*read)(void* context), void* context);
  bool Lost() const { return m_lost; }
  // A hint for maps read in place: the rows outside firstRow..lastRow (0 =
  // top) are not needed soon, so the system may drop their pages from the
  // process's resident memory (they stay in the file's cache and come back
  // on the next read). Keeps a long flight's memory to the rows around the
  // aircraft. POSIX: madvise(MADV_DONTNEED); Win32 and tables: nothing.
  void ReleaseRowsOutside(int firstRow, int lastRow);

  // Reason of the last failed Load or CreateMemoryDC, or of the loss; ""
  // after a success.
  const char* ErrorText() const { return m_errorText; }

  void* NativeHandle() const;  // HBITMAP on Win32, null on POSIX
  void* NativeDC() const;      // memory HDC on Win32, null on POSIX

 private:
  struct Native;  // the platform's handles and mappings

  void SetError(const char* text);
  void SetSystemError(int code);
  // Points the pixel reads at a table of 0x00BBGGRR values, top row first.
  void UseTable(PixelTable table, int width, int height);
  // Points the pixel reads at file pixels (blue, green, red[, unused]).
  void UseFilePixels(const std::uint8_t* bits, std::uint64_t stride, bool topDown,
                     int bytesPerPixel, int width, int height);
  // Stops every pixel read; the mapping stays until Unload.
  void MarkLost(const char* reason);
  // CheckFile's verdict on what the file's own record says now: its size
  // in bytes, and whether it was written to since the load. False (the map
  // marked lost with the reason) when it was cut short or written to.
  bool JudgeFile(std::uint64_t size, std::uint64_t needBytes, bool writtenSinceLoad);
  // Win32: the two ways of loading. fileHandle (HANDLE, taken over) is the
  // open file, headers the platform's record of its first bytes.
  bool LoadInPlace(void* fileHandle, const void* headers);
  bool LoadThroughSystem(const char* path);

  PixelTable m_storage;
  const std::uint8_t* m_pTopRow = nullptr;  // first byte of row 0 (the top)
  std::ptrdiff_t m_rowStep = 0;             // bytes from one row to the next one down
  int m_pixelBytes = 0;                     // 3 or 4
  int m_redAt = 0;                          // byte of red within a pixel
  int m_blueAt = 0;                         // byte of blue within a pixel
  int m_width = 0;
  int m_height = 0;
  bool m_inPlace = false;
  bool m_lost = false;
  std::unique_ptr<Native> m_native;
  char m_errorText[kErrorTextSize] = {};
};

// Test seam: a non-zero code makes every Load fail with that system error
// code's message; 0 restores normal loading.
void SetBitmapLoadFailure(int systemErrorCode);

}  // namespace platform
