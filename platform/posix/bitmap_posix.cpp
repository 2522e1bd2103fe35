// POSIX terrain bitmap: the file read whole with open/read and decoded by
// the project's own reader; there is no device context.
// Threading: one object per thread; the failure seam is not synchronised.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/bitmap.h"
#include "platform/module_path.h"
#include "platform/posix/bmp_reader.h"
#include "platform/system_error.h"

namespace platform {

namespace {

int g_loadFailure = 0;

// A file larger than the largest acceptable bitmap plus generous headers is
// refused before it is read.
constexpr std::uint64_t kMaxFileBytes = CBitmapFile::kMaxPixels * 4 + (std::uint64_t{1} << 20);

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() {
    if (m_fd >= 0) {
      close(m_fd);
    }
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return m_fd; }

 private:
  int m_fd;
};

}  // namespace

struct CBitmapFile::Native {};

// Tables this large come from the system as whole pages, huge ones where
// possible: the page faults of touching fresh memory would otherwise cost
// more than the decoding.
constexpr std::size_t kMappedBytes = std::size_t{1} << 20;

void* MapAnonymous(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    return nullptr;
  }
  // Huge pages where the system offers them: 512 times fewer page faults.
  madvise(p, bytes, MADV_HUGEPAGE);
  return p;
}

void PixelRelease::operator()(std::uint32_t* pixels) const {
  if (pixels == nullptr) {
    return;
  }
  if (count * sizeof(std::uint32_t) >= kMappedBytes) {
    munmap(pixels, count * sizeof(std::uint32_t));
  } else {
    delete[] pixels;
  }
}

PixelTable AllocatePixels(std::size_t count) {
  if (count * sizeof(std::uint32_t) >= kMappedBytes) {
    return PixelTable(static_cast<std::uint32_t*>(MapAnonymous(count * sizeof(std::uint32_t))),
                      PixelRelease{count});
  }
  return PixelTable(new (std::nothrow) std::uint32_t[count], PixelRelease{count});
}

void SetBitmapLoadFailure(int systemErrorCode) { g_loadFailure = systemErrorCode; }

CBitmapFile::CBitmapFile() = default;
CBitmapFile::~CBitmapFile() = default;

void CBitmapFile::SetError(const char* text) {
  std::snprintf(m_errorText, sizeof m_errorText, "%s", text);
}

void CBitmapFile::SetSystemError(int code) { SystemErrorText(code, m_errorText, kErrorTextSize); }

bool CBitmapFile::CreateMemoryDC(void* /*compatibleWith*/) {
  m_errorText[0] = '\0';
  return true;
}

void CBitmapFile::Unload() {
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
  if (path == nullptr) {
    SetSystemError(EINVAL);
    return false;
  }
  const FileDescriptor fd(open(path, O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    SetSystemError(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd.Get(), &st) != 0) {
    SetSystemError(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    SetError(S_ISDIR(st.st_mode) ? "is a directory, not a bitmap file" : "not a regular file");
    return false;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > kMaxFileBytes) {
    std::snprintf(m_errorText, sizeof m_errorText,
                  "file too large for a terrain bitmap (%llu bytes)",
                  static_cast<unsigned long long>(size));
    return false;
  }
  // Large files are decoded straight from a read-only mapping of the page
  // cache (no copy, no fresh memory to clear); small ones are read.
  const auto bytesSize = static_cast<std::size_t>(size);
  if (bytesSize >= kMappedBytes) {
    void* mapped = mmap(nullptr, bytesSize, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd.Get(), 0);
    if (mapped == MAP_FAILED) {
      SetSystemError(errno);
      return false;
    }
    bmp::DecodedBitmap decoded;
    const bool ok = bmp::DecodeBmp(static_cast<const std::uint8_t*>(mapped), bytesSize, kMaxPixels,
                                   decoded, m_errorText, kErrorTextSize);
    munmap(mapped, bytesSize);
    if (!ok) {
      return false;
    }
    m_storage = std::move(decoded.pixels);
    m_pixels = m_storage.get();
    m_width = decoded.width;
    m_height = decoded.height;
    return true;
  }
  std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[bytesSize + 1]);
  if (!bytes) {
    SetSystemError(ENOMEM);
    return false;
  }
  std::size_t got = 0;
  while (got < bytesSize) {
    const ssize_t n = read(fd.Get(), bytes.get() + got, bytesSize - got);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      SetSystemError(errno);
      return false;
    }
    if (n == 0) {
      break;  // the file shrank while being read: decode what is there
    }
    got += static_cast<std::size_t>(n);
  }
  bmp::DecodedBitmap decoded;
  if (!bmp::DecodeBmp(bytes.get(), got, kMaxPixels, decoded, m_errorText, kErrorTextSize)) {
    return false;
  }
  m_storage = std::move(decoded.pixels);
  m_pixels = m_storage.get();
  m_width = decoded.width;
  m_height = decoded.height;
  return true;
}

void* CBitmapFile::NativeHandle() const { return nullptr; }
void* CBitmapFile::NativeDC() const { return nullptr; }

bool TerrainMapPath(char* buf, int size) {
  static constexpr char kTail[] = "/Bitmaps/Terrain/KtTerrainMap.bmp";
  if (buf == nullptr || size <= 0) {
    return false;
  }
  if (!ModuleFileName(buf, size)) {
    return false;
  }
  char* slash = std::strrchr(buf, '/');
  if (slash == nullptr) {
    buf[0] = '\0';
    return false;
  }
  *slash = '\0';
  const std::size_t used = static_cast<std::size_t>(slash - buf);
  if (used + sizeof kTail > static_cast<std::size_t>(size)) {
    buf[0] = '\0';
    return false;
  }
  std::memcpy(slash, kTail, sizeof kTail);
  return true;
}

}  // namespace platform
