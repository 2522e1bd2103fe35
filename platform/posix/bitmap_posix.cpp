// POSIX terrain bitmap: the file mapped read-only; uncompressed 24- and
// 32-bit pixels are read where they lie, other encodings are decoded by the
// project's own reader into a table. There is no device context.
// Threading: one object per thread; the failure seam is not synchronised.
// The bus-error guard is per thread.
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/bitmap.h"
#include "platform/posix/bmp_reader.h"
#include "platform/posix/signal_chain.h"
#include "platform/system_error.h"

namespace platform {

namespace {

int g_loadFailure = 0;

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

struct CBitmapFile::Native {
  int fd = -1;                           // kept open to watch the file's length
  const std::uint8_t* mapped = nullptr;  // the whole file, read-only
  std::size_t mappedBytes = 0;
  std::uint64_t bitsOffset = 0;  // where the pixel data starts in the file
  std::uint64_t stride = 0;      // bytes per stored row
  bool topDown = false;
  std::uint64_t needBytes = 0;  // the file's length the pixel reads rely on
  struct timespec modified {};  // the file's modification time at load

  void Release() {
    if (mapped != nullptr) {
      munmap(const_cast<std::uint8_t*>(mapped), mappedBytes);
      mapped = nullptr;
      mappedBytes = 0;
    }
    if (fd >= 0) {
      close(fd);
      fd = -1;
    }
    needBytes = 0;
    modified = timespec{};
    bitsOffset = 0;
    stride = 0;
    topDown = false;
  }
};

namespace {

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

// The bus-error guard. A page of a file mapping that lies wholly past the
// file's end raises SIGBUS when read: a map cut short on disk while it is
// served. ReadGuarded arms the guard for its thread with the mapping's
// range; a fault inside that range jumps back to ReadGuarded, any other
// goes to the handler that was there before (or the default action).
thread_local sigjmp_buf* t_guardJump = nullptr;
thread_local const std::uint8_t* t_guardBegin = nullptr;
thread_local const std::uint8_t* t_guardEnd = nullptr;
struct sigaction g_previousBusAction {};
bool g_busHandlerInstalled = false;

void OnBusError(int signal, siginfo_t* info, void* context) {
  // Only a fault the kernel raised carries an address; in a signal another
  // process sent (si_code <= 0) the same bytes hold its process and user id.
  const bool fault = info->si_code > 0;
  const auto* address = fault ? static_cast<const std::uint8_t*>(info->si_addr) : nullptr;
  if (fault && t_guardJump != nullptr && address >= t_guardBegin && address < t_guardEnd) {
    siglongjmp(*t_guardJump, 1);
  }
  PassOnSignal(g_previousBusAction, signal, info, context);  // not ours
}

void InstallBusHandler() {
  if (g_busHandlerInstalled) {
    return;
  }
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGBUS, &action, &g_previousBusAction) == 0) {
    g_busHandlerInstalled = true;
  }
}

}  // namespace

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

CBitmapFile::CBitmapFile() : m_native(new Native) {}
CBitmapFile::~CBitmapFile() { Unload(); }

bool CBitmapFile::CreateMemoryDC(void* /*compatibleWith*/) {
  m_errorText[0] = '\0';
  return true;
}

void CBitmapFile::Unload() {
  m_storage.reset();
  m_native->Release();
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
  if (size > SIZE_MAX / 2) {
    std::snprintf(m_errorText, sizeof m_errorText,
                  "file too large to map on this system (%llu bytes)",
                  static_cast<unsigned long long>(size));
    return false;
  }
  if (size == 0) {
    SetError("file too short for a bitmap header");
    return false;
  }
  // The whole file is mapped but only the pages read are ever loaded: the
  // headers now, the pixels the grids need later.
  const auto bytes = static_cast<std::size_t>(size);
  void* mapped = mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd.Get(), 0);
  if (mapped == MAP_FAILED) {
    SetSystemError(errno);
    return false;
  }
  const auto* data = static_cast<const std::uint8_t*>(mapped);
  bmp::InPlaceLayout layout;
  const bmp::Access access = bmp::Inspect(data, bytes, layout, m_errorText, kErrorTextSize);
  if (access == bmp::Access::kInPlace) {
    // A map cut short later faults instead of reading; the guard turns
    // that fault into a lost map.
    InstallBusHandler();
    m_native->mapped = data;
    m_native->mappedBytes = bytes;
    m_native->needBytes =
        layout.bitsOffset + layout.stride * static_cast<std::uint64_t>(layout.height);
    m_native->bitsOffset = layout.bitsOffset;
    m_native->stride = layout.stride;
    m_native->topDown = layout.topDown;
    m_native->modified = st.st_mtim;
    // The grids read a few bytes of rows far apart: reading ahead around
    // each would load pages nobody reads.
    madvise(mapped, bytes, MADV_RANDOM);
    m_native->fd = fcntl(fd.Get(), F_DUPFD_CLOEXEC, 0);  // -1: the guard alone watches
    UseFilePixels(data + layout.bitsOffset, layout.stride, layout.topDown, layout.bytesPerPixel,
                  layout.width, layout.height);
    return true;
  }
  bool ok = false;
  bmp::DecodedBitmap decoded;
  if (access == bmp::Access::kDecode) {
    // Decoding reads every byte once, in order.
    madvise(mapped, bytes, MADV_SEQUENTIAL);
    ok = bmp::DecodeBmp(data, bytes, kMaxPixels, decoded, m_errorText, kErrorTextSize);
  }
  munmap(mapped, bytes);
  if (!ok) {
    return false;
  }
  UseTable(std::move(decoded.pixels), decoded.width, decoded.height);
  return true;
}

bool CBitmapFile::CheckFile() {
  if (m_lost) {
    return false;
  }
  if (!m_inPlace || m_native->fd < 0) {
    return true;
  }
  struct stat st {};
  if (fstat(m_native->fd, &st) != 0) {
    return true;  // cannot tell: the guard still catches a fault
  }
  // Written to in place, even at the same length: the pixels read in place
  // are no longer the map that was loaded, and a sweep may hold both. (The
  // change time would also move for a rename over the file, which leaves
  // the mapping whole.)
  const bool written = st.st_mtim.tv_sec != m_native->modified.tv_sec ||
                       st.st_mtim.tv_nsec != m_native->modified.tv_nsec;
  return JudgeFile(static_cast<std::uint64_t>(st.st_size), m_native->needBytes, written);
}

void CBitmapFile::ReleaseRowsOutside(int firstRow, int lastRow) {
  if (!m_inPlace || m_lost || firstRow < 0 || lastRow < firstRow || lastRow >= m_height) {
    return;
  }
  const Native& n = *m_native;
  const auto height = static_cast<std::uint64_t>(m_height);
  // File rows are stored bottom-up unless the map is top-down.
  const std::uint64_t firstStored = n.topDown ? static_cast<std::uint64_t>(firstRow)
                                              : height - 1 - static_cast<std::uint64_t>(lastRow);
  const std::uint64_t lastStored = n.topDown ? static_cast<std::uint64_t>(lastRow)
                                             : height - 1 - static_cast<std::uint64_t>(firstRow);
  const std::uint64_t keepFrom = n.bitsOffset + firstStored * n.stride;
  const std::uint64_t keepTo = n.bitsOffset + (lastStored + 1) * n.stride;
  const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  const std::uint64_t below = keepFrom / page * page;
  const std::uint64_t above = (keepTo + page - 1) / page * page;
  auto* base = const_cast<std::uint8_t*>(n.mapped);
  if (below > 0) {
    madvise(base, static_cast<std::size_t>(below), MADV_DONTNEED);
  }
  if (above < n.mappedBytes) {
    madvise(base + above, static_cast<std::size_t>(n.mappedBytes - above), MADV_DONTNEED);
  }
}

bool CBitmapFile::ReadGuarded(void (*read)(void* context), void* context) {
  if (m_lost) {
    return false;
  }
  if (!m_inPlace) {
    read(context);  // a table in memory cannot fault
    return true;
  }
  sigjmp_buf jump;
  if (sigsetjmp(jump, 1) != 0) {
    t_guardJump = nullptr;
    MarkLost("the map file was cut short on disk while being read: no longer read");
    return false;
  }
  t_guardBegin = m_native->mapped;
  t_guardEnd = m_native->mapped + m_native->mappedBytes;
  t_guardJump = &jump;
  read(context);
  t_guardJump = nullptr;
  return true;
}

void* CBitmapFile::NativeHandle() const { return nullptr; }
void* CBitmapFile::NativeDC() const { return nullptr; }

}  // namespace platform
