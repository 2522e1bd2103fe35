// Win32 terrain bitmap: LoadImageA from the file as a DIB section, selected
// into a memory DC for drawing; its colours are copied once into a 32-bit
// top-down table (GetDIBits) so pixel reads are plain memory reads. A map
// too large for a table (uncompressed 24 or 32 bits) is read in place from
// a read-only view of the file.
// Threading: one object per thread; the failure seam is not synchronised.
// The in-page guard is per thread.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/bitmap.h"
#include "platform/system_error.h"

namespace platform {

namespace {

int g_loadFailure = 0;

// What the file's first bytes say, for choosing between LoadImageA and
// reading in place.
struct Headers {
  bool isBitmap = false;  // "BM" and a header of 40 bytes or more
  std::uint32_t offBits = 0;
  std::uint32_t headerSize = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;  // negative: top-down
  std::uint32_t planes = 0;
  std::uint32_t bitCount = 0;
  std::uint32_t compression = 0;
};

std::uint32_t U16(const unsigned char* p) { return p[0] | (static_cast<std::uint32_t>(p[1]) << 8); }
std::uint32_t U32(const unsigned char* p) { return U16(p) | (U16(p + 2) << 16); }

bool ReadHeaders(HANDLE file, Headers& h) {
  unsigned char b[54] = {};
  DWORD got = 0;
  if (!ReadFile(file, b, sizeof b, &got, nullptr) || got < sizeof b) {
    return false;
  }
  h.isBitmap = b[0] == 'B' && b[1] == 'M' && U32(b + 14) >= 40;
  h.offBits = U32(b + 10);
  h.headerSize = U32(b + 14);
  h.width = static_cast<std::int32_t>(U32(b + 18));
  h.height = static_cast<std::int32_t>(U32(b + 22));
  h.planes = U16(b + 26);
  h.bitCount = U16(b + 28);
  h.compression = U32(b + 30);
  return true;
}

// Whether a file of these headers is too large for a table: then it is
// read in place (or refused), never given to LoadImageA.
bool TooLargeForTable(const Headers& h) {
  if (!h.isBitmap || h.width <= 0 || h.height == 0 || h.height == INT32_MIN) {
    return false;
  }
  const std::int64_t rows = h.height < 0 ? -h.height : h.height;
  return static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(rows) >
         CBitmapFile::kMaxPixels;
}

HANDLE OpenForReading(const char* path) {
  // Others may read the map, and rename or delete it (the open file stays),
  // but not write to it while it is served.
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The in-page guard. A page of the view that the system cannot read in (a
// failing disk, a network share gone) raises an in-page error; under Wine a
// page past the end of a file cut short by another program raises a read
// access violation. ReadGuarded puts a Guard for its thread in a TLS slot
// (read without allocating, so safe in any exception); the vectored handler
// takes only such a fault at an address of that view, and resumes the
// thread at ResumeAtGuard, which jumps back into ReadGuarded. The handler
// itself returns to the system first (EXCEPTION_CONTINUE_EXECUTION), so no
// dispatch is left half done. Everything else continues the search
// unchanged.
struct Guard {
  void* jump[5];  // __builtin_setjmp's buffer
  const std::uint8_t* begin;
  const std::uint8_t* end;
};
DWORD g_guardSlot = TLS_OUT_OF_INDEXES;
PVOID g_guardHandler = nullptr;

[[noreturn]] void ResumeAtGuard() {
  auto* guard = static_cast<Guard*>(TlsGetValue(g_guardSlot));
  __builtin_longjmp(guard->jump, 1);
}

LONG CALLBACK OnPageFault(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* rec = pointers->ExceptionRecord;
  const bool inPage = rec->ExceptionCode == EXCEPTION_IN_PAGE_ERROR;
  const bool readViolation =
      rec->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && rec->ExceptionInformation[0] == 0;
  if ((!inPage && !readViolation) || rec->NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const auto* guard = static_cast<const Guard*>(TlsGetValue(g_guardSlot));
  const auto* address = reinterpret_cast<const std::uint8_t*>(rec->ExceptionInformation[1]);
  if (guard == nullptr || address < guard->begin || address >= guard->end) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  // On a stack below the faulting frame (which is abandoned), as a call
  // would leave it: 16-byte aligned before the return address.
  CONTEXT* context = pointers->ContextRecord;
  context->Rsp = ((context->Rsp - 256) & ~static_cast<DWORD64>(15)) - 8;
  context->Rip = reinterpret_cast<DWORD64>(&ResumeAtGuard);
  return EXCEPTION_CONTINUE_EXECUTION;
}

void InstallPageFaultHandler() {
  if (g_guardHandler != nullptr) {
    return;
  }
  if (g_guardSlot == TLS_OUT_OF_INDEXES) {
    g_guardSlot = TlsAlloc();
    if (g_guardSlot == TLS_OUT_OF_INDEXES) {
      return;
    }
  }
  g_guardHandler = AddVectoredExceptionHandler(1, OnPageFault);
}

}  // namespace

struct CBitmapFile::Native {
  HDC dc = nullptr;              // memory DC, or null before CreateMemoryDC
  HBITMAP bitmap = nullptr;      // the loaded bitmap
  HGDIOBJ dcOriginal = nullptr;  // the DC's own bitmap while ours is selected
  // A map read in place: the file (kept open while it is mapped), its
  // read-only mapping and view.
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE mapping = nullptr;
  const std::uint8_t* view = nullptr;
  std::uint64_t viewBytes = 0;  // the whole file
  std::uint64_t needBytes = 0;  // the file's length the pixel reads rely on
  FILETIME modified{};          // the file's last write time at load

  void ReleaseFile() {
    if (view != nullptr) {
      UnmapViewOfFile(view);
      view = nullptr;
    }
    if (mapping != nullptr) {
      CloseHandle(mapping);
      mapping = nullptr;
    }
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      file = INVALID_HANDLE_VALUE;
    }
    viewBytes = 0;
    needBytes = 0;
    modified = FILETIME{};
  }

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

bool CBitmapFile::CheckFile() {
  if (m_lost) {
    return false;
  }
  if (!m_inPlace || m_native->file == INVALID_HANDLE_VALUE) {
    return true;
  }
  // The file is open without write sharing, but a handle opened before, or
  // the server of a network share, may still change it.
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(m_native->file, &info)) {
    return true;  // cannot tell: the guard still catches a fault
  }
  const std::uint64_t size =
      (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return JudgeFile(size, m_native->needBytes,
                   CompareFileTime(&info.ftLastWriteTime, &m_native->modified) != 0);
}

void CBitmapFile::ReleaseRowsOutside(int /*firstRow*/, int /*lastRow*/) {}

bool CBitmapFile::ReadGuarded(void (*read)(void* context), void* context) {
  if (m_lost) {
    return false;
  }
  if (!m_inPlace || g_guardHandler == nullptr) {
    read(context);  // a table in memory cannot fault
    return true;
  }
  Guard guard{};
  guard.begin = m_native->view;
  guard.end = m_native->view + m_native->viewBytes;
  void* const outer = TlsGetValue(g_guardSlot);
  if (__builtin_setjmp(guard.jump) != 0) {
    TlsSetValue(g_guardSlot, outer);
    MarkLost("the map file was cut short on disk while being read: no longer read");
    return false;
  }
  TlsSetValue(g_guardSlot, &guard);
  read(context);
  TlsSetValue(g_guardSlot, outer);
  return true;
}

void CBitmapFile::Unload() {
  m_native->Deselect();
  if (m_native->bitmap != nullptr) {
    DeleteObject(m_native->bitmap);
    m_native->bitmap = nullptr;
  }
  m_native->ReleaseFile();
  m_storage.reset();
  m_pTopRow = nullptr;
  m_rowStep = 0;
  m_pixelBytes = 0;
  m_width = 0;
  m_height = 0;
  m_inPlace = false;
  m_lost = false;
}

bool CBitmapFile::Load(const char* path) {
  Unload();
  m_errorText[0] = '\0';
  if (g_loadFailure != 0) {
    SetSystemError(g_loadFailure);
    return false;
  }
  if (path == nullptr) {
    SetSystemError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // A map too large for a table is read in place; every other file goes to
  // LoadImageA as it always has.
  HANDLE file = OpenForReading(path);
  Headers h;
  if (file != INVALID_HANDLE_VALUE && ReadHeaders(file, h) && TooLargeForTable(h)) {
    return LoadInPlace(file, &h);  // takes the handle over
  }
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
  }
  return LoadThroughSystem(path);
}

bool CBitmapFile::LoadInPlace(void* fileHandle, const void* headers) {
  const Headers& h = *static_cast<const Headers*>(headers);
  HANDLE file = static_cast<HANDLE>(fileHandle);
  m_native->file = file;
  const std::int64_t rows = h.height < 0 ? -h.height : h.height;
  if (h.compression != BI_RGB || (h.bitCount != 24 && h.bitCount != 32) || h.planes != 1) {
    std::snprintf(m_errorText, sizeof m_errorText,
                  "image too large (%lld x %lld pixels) for its encoding: only uncompressed "
                  "24- and 32-bit maps are read in place",
                  static_cast<long long>(h.width), static_cast<long long>(rows));
    m_native->ReleaseFile();
    return false;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) {
    SetSystemError(static_cast<int>(GetLastError()));
    m_native->ReleaseFile();
    return false;
  }
  const std::uint64_t stride = (static_cast<std::uint64_t>(h.width) * h.bitCount + 31) / 32 * 4;
  const std::uint64_t need = stride * static_cast<std::uint64_t>(rows);
  const auto fileSize = static_cast<std::uint64_t>(size.QuadPart);
  if (h.offBits < 14 + h.headerSize || h.offBits >= fileSize) {
    std::snprintf(m_errorText, sizeof m_errorText, "pixel data offset %u outside the file's data",
                  h.offBits);
    m_native->ReleaseFile();
    return false;
  }
  if (fileSize - h.offBits < need) {
    std::snprintf(m_errorText, sizeof m_errorText, "truncated pixel data (%llu of %llu bytes)",
                  static_cast<unsigned long long>(fileSize - h.offBits),
                  static_cast<unsigned long long>(need));
    m_native->ReleaseFile();
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) {
    SetSystemError(static_cast<int>(GetLastError()));
    m_native->ReleaseFile();
    return false;
  }
  m_native->modified = info.ftLastWriteTime;
  m_native->needBytes = h.offBits + need;
  m_native->mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (m_native->mapping != nullptr) {
    m_native->view =
        static_cast<const std::uint8_t*>(MapViewOfFile(m_native->mapping, FILE_MAP_READ, 0, 0, 0));
  }
  if (m_native->view == nullptr) {
    SetSystemError(static_cast<int>(GetLastError()));
    m_native->ReleaseFile();
    return false;
  }
  m_native->viewBytes = fileSize;
  // A page the system cannot read in faults instead of reading; the guard
  // turns that fault into a lost map.
  InstallPageFaultHandler();
  // No bitmap goes into the memory DC: a DIB section on the file would need
  // a read-write mapping (drawing would then change the map file), and the
  // system's DIB engine cannot address a bitmap past 2 GB. The DC stays
  // usable for drawing; the map itself is read from the view.
  UseFilePixels(m_native->view + h.offBits, stride, h.height < 0, static_cast<int>(h.bitCount / 8),
                static_cast<int>(h.width), static_cast<int>(rows));
  return true;
}

bool CBitmapFile::LoadThroughSystem(const char* path) {
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
  UseTable(std::move(pixels), static_cast<int>(width), static_cast<int>(height));
  return true;
}

void* CBitmapFile::NativeHandle() const { return m_native->bitmap; }
void* CBitmapFile::NativeDC() const { return m_native->dc; }

}  // namespace platform
