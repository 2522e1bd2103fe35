// POSIX named segments: shm_open("/" + name), ftruncate, mmap, with flock
// standing in for the system's handle counting of a Win32 named mapping.
//
// Liveness: every holder (a working handle from ShmOpen, or the creation
// descriptor ShmCreate keeps for the process) has a shared flock on its own
// descriptor for as long as it holds the segment. Whoever can take an
// exclusive lock on a segment knows nobody holds it: it is a leftover of
// processes that died, so it is removed and treated as absent. A holder
// takes its shared lock and then checks that the name still leads to the
// same object, so it never joins a segment whose name was removed meanwhile.
// A creator sizes the object before it locks it, so every segment a live
// process holds has its full size. Closing a working handle removes the name
// when no other holder is left (the last user's Close).
//
// Writers that know nothing of the locks: a process may make or map the
// object the ordinary way (shm_open, ftruncate, mmap) and hold no lock.
// Removing its name would leave it writing into an object nobody else can
// reach again. So an object nobody locks is taken for a leftover only when no
// process maps it either (the processes' memory maps in /proc tell); one that
// is still mapped is adopted: the opener takes its shared lock on it in place
// and reports it adopted, and no close removes its name while it is mapped.
//
// Views cut short: every view is entered in a fixed table the SIGBUS
// handler reads without locks. A fault the kernel raised (si_code > 0) on
// an address inside a view replaces the whole view with anonymous zero
// pages of the same rights (mmap MAP_FIXED, a plain system call) and
// returns, so the faulting access is made again and succeeds; the entry is
// marked cut. A slot's state moves by compare-exchange, so an unmap and a
// replacement of the same view never cross.
//
// Threading: any thread; the tables of creation descriptors and open
// handles are locked, the table of views is lock-free. The
// fault seam is meant for single-threaded tests.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/posix/signal_chain.h"
#include "platform/shared_memory.h"

namespace platform {
namespace {

constexpr int kMaxName = 42;
constexpr int kRetries = 64;  // races with removal of a leftover are brief
constexpr int kMaxCreations = 64;

struct PosixSegment {
  int fd;
  dev_t dev;
  ino_t ino;
  char path[kMaxName + 2];
  PosixSegment* next;
};

// Every open handle of the process. A user that leaves without being the
// last keeps its handle (and its lock) until the process ends, as a Windows
// handle is kept; the list is where such handles live on.
PosixSegment* g_openSegments = nullptr;
std::mutex g_openSegmentsMutex;

void RememberSegment(PosixSegment* segment) {
  const std::lock_guard<std::mutex> lock(g_openSegmentsMutex);
  segment->next = g_openSegments;
  g_openSegments = segment;
}

void ForgetSegment(PosixSegment* segment) {
  const std::lock_guard<std::mutex> lock(g_openSegmentsMutex);
  for (PosixSegment** link = &g_openSegments; *link != nullptr; link = &(*link)->next) {
    if (*link == segment) {
      *link = segment->next;
      return;
    }
  }
}

struct Creation {
  int fd;
  dev_t dev;
  ino_t ino;
};

std::mutex g_creationMutex;
Creation g_creations[kMaxCreations];
int g_creationCount = 0;

// The table of views.
constexpr int kMaxViews = 256;
// kSlotCutBare: cut, but the zero pages could not be put in place (no
// memory for them): a fault there takes the signal's own course.
enum ViewState : int { kSlotFree, kSlotLive, kSlotCut, kSlotBusy, kSlotCutBare };

struct GuardedView {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::size_t> bytes{0};
  std::atomic<std::uint64_t> fileEnd{0};  // the object's length the view needs
  std::atomic<int> protection{0};
  std::atomic<int> state{kSlotFree};
};

GuardedView g_views[kMaxViews];
// One past the highest slot ever taken: the scans stop there.
std::atomic<int> g_viewsUsed{0};
struct sigaction g_previousBusAction {};
std::once_flag g_busHandlerOnce;

// Puts private zero pages in place of the view (the slot is the caller's:
// kSlotBusy) and marks it cut.
void ReplaceView(GuardedView& slot) {
  void* begin = reinterpret_cast<void*>(slot.begin.load(std::memory_order_relaxed));
  const void* zeros = mmap(begin, slot.bytes.load(std::memory_order_relaxed),
                           slot.protection.load(std::memory_order_relaxed),
                           MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  slot.state.store(zeros == MAP_FAILED ? kSlotCutBare : kSlotCut, std::memory_order_release);
}

// Marks the live view of `slot` cut, replacing it; waits for a replacement
// that another thread has begun. Safe in the signal handler.
void CutView(GuardedView& slot) {
  for (;;) {
    int expected = kSlotLive;
    if (slot.state.compare_exchange_strong(expected, kSlotBusy, std::memory_order_acq_rel)) {
      ReplaceView(slot);
      return;
    }
    if (expected != kSlotBusy) {
      return;  // cut already, or freed
    }
  }
}

GuardedView* FindView(std::uintptr_t address, bool exactStart) {
  const int used = g_viewsUsed.load(std::memory_order_acquire);
  for (int i = 0; i < used; ++i) {
    GuardedView& slot = g_views[i];
    const int state = slot.state.load(std::memory_order_acquire);
    if (state != kSlotLive && state != kSlotCut && state != kSlotBusy && state != kSlotCutBare) {
      continue;
    }
    const std::uintptr_t begin = slot.begin.load(std::memory_order_relaxed);
    if (exactStart
            ? address == begin
            : address >= begin && address - begin < slot.bytes.load(std::memory_order_relaxed)) {
      return &slot;
    }
  }
  return nullptr;
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  // Only a fault the kernel raised carries an address; in a signal another
  // process sent (si_code <= 0) the same bytes hold its process and user id.
  if (info->si_code > 0) {
    GuardedView* slot = FindView(reinterpret_cast<std::uintptr_t>(info->si_addr), false);
    if (slot != nullptr) {
      CutView(*slot);
      if (slot->state.load(std::memory_order_acquire) != kSlotCutBare) {
        return;  // the access is made again, on the zero pages
      }
    }
  }
  PassOnSignal(g_previousBusAction, signal, info, context);  // not ours
}

void InstallBusHandler() {
  std::call_once(g_busHandlerOnce, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &g_previousBusAction);
  });
}

// Enters a new view; a full table leaves it unguarded (as before).
void GuardView(void* view, std::size_t bytes, std::uint64_t fileEnd, int protection) {
  InstallBusHandler();
  for (int i = 0; i < kMaxViews; ++i) {
    GuardedView& slot = g_views[i];
    int expected = kSlotFree;
    if (slot.state.compare_exchange_strong(expected, kSlotBusy, std::memory_order_acq_rel)) {
      int used = g_viewsUsed.load(std::memory_order_relaxed);
      while (used < i + 1 &&
             !g_viewsUsed.compare_exchange_weak(used, i + 1, std::memory_order_acq_rel)) {
      }
      slot.begin.store(reinterpret_cast<std::uintptr_t>(view), std::memory_order_relaxed);
      slot.bytes.store(bytes, std::memory_order_relaxed);
      slot.fileEnd.store(fileEnd, std::memory_order_relaxed);
      slot.protection.store(protection, std::memory_order_relaxed);
      slot.state.store(kSlotLive, std::memory_order_release);
      return;
    }
  }
}

// Takes the view out of the table before it is unmapped, waiting for a
// replacement in progress.
void ForgetView(const void* view) {
  GuardedView* slot = FindView(reinterpret_cast<std::uintptr_t>(view), true);
  if (slot == nullptr) {
    return;
  }
  for (;;) {
    int expected = slot->state.load(std::memory_order_acquire);
    if (expected == kSlotBusy) {
      continue;
    }
    if (expected == kSlotFree ||
        slot->state.compare_exchange_strong(expected, kSlotBusy, std::memory_order_acq_rel)) {
      break;
    }
  }
  slot->begin.store(0, std::memory_order_relaxed);
  slot->bytes.store(0, std::memory_order_relaxed);
  slot->state.store(kSlotFree, std::memory_order_release);
}

ShmFault g_fault = ShmFault::kNone;
int g_faultCode = 0;
char g_nameFault[64] = {};
int g_nameFaultCode = 0;

bool NameFaulted(const char* name) {
  if (g_nameFault[0] != '\0' && name != nullptr && std::strcmp(name, g_nameFault) == 0) {
    errno = g_nameFaultCode;
    return true;
  }
  return false;
}

bool Faulted(ShmFault kind) {
  if (g_fault != ShmFault::kNone && g_fault == kind) {
    errno = g_faultCode;
    return true;
  }
  return false;
}

// "/" + name; false (EINVAL) for names the system would not take as one
// segment name.
bool MakePath(const char* name, char (&path)[kMaxName + 2]) {
  if (name == nullptr || name[0] == '\0' ||
      std::strlen(name) > static_cast<std::size_t>(kMaxName) || std::strchr(name, '/') != nullptr) {
    errno = EINVAL;
    return false;
  }
  std::snprintf(path, sizeof path, "/%s", name);
  return true;
}

int LockRetrying(int fd, int operation) {
  int result;
  do {
    result = flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

// True when `path` still names the object open on fd.
bool StillNamed(int fd, const char* path) {
  struct stat mine {};
  struct stat named {};
  if (fstat(fd, &mine) != 0) {
    return false;
  }
  const int probe = shm_open(path, O_RDONLY, 0);
  if (probe < 0) {
    return false;
  }
  // Closing the probe leaves fd's flock alone: flock belongs to the open
  // file description, not to the process.
  const bool same =
      fstat(probe, &named) == 0 && named.st_dev == mine.st_dev && named.st_ino == mine.st_ino;
  close(probe);
  return same;
}

// True when the memory map of process `pid` (a /proc entry's name) has a
// mapping of the object dev/ino. A process whose map cannot be read (gone,
// or another user's) maps nothing this user's segments could be.
bool ProcessMaps(const char* pid, unsigned devMajor, unsigned devMinor, unsigned long long ino) {
  char path[300];
  std::snprintf(path, sizeof path, "/proc/%.256s/maps", pid);
  std::FILE* maps = std::fopen(path, "re");
  if (maps == nullptr) {
    return false;
  }
  // Lines: "start-end perms offset major:minor inode [path]". Long paths are
  // read in pieces; only a line's start is parsed.
  char line[512];
  bool lineStart = true;
  bool found = false;
  while (!found && std::fgets(line, sizeof line, maps) != nullptr) {
    const bool wasStart = lineStart;
    lineStart = std::strchr(line, '\n') != nullptr;
    if (!wasStart) {
      continue;
    }
    unsigned major = 0;
    unsigned minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(line, "%*s %*s %*s %x:%x %llu", &major, &minor, &inode) == 3) {
      found = inode == ino && major == devMajor && minor == devMinor;
    }
  }
  std::fclose(maps);
  return found;
}

// Whether any process maps the object open on fd. False when the system
// has no /proc to ask (nothing is then known to map it).
bool MappedByAnyProcess(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    return false;
  }
  DIR* proc = opendir("/proc");
  if (proc == nullptr) {
    return false;
  }
  bool mapped = false;
  while (!mapped) {
    const dirent* entry = readdir(proc);
    if (entry == nullptr) {
      break;
    }
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') {
      continue;
    }
    mapped = ProcessMaps(entry->d_name, major(st.st_dev), minor(st.st_dev),
                         static_cast<unsigned long long>(st.st_ino));
  }
  closedir(proc);
  return mapped;
}

// With an exclusive lock on fd: nobody holds the object; remove its name if
// it is still this object's and no process maps it.
void RemoveIfNamed(int fd, const char* path) {
  if (StillNamed(fd, path) && !MappedByAnyProcess(fd)) {
    shm_unlink(path);
  }
}

void RememberCreation(int fd) {
  struct stat st {};
  fstat(fd, &st);
  const std::lock_guard<std::mutex> lock(g_creationMutex);
  if (g_creationCount < kMaxCreations) {
    g_creations[g_creationCount++] = Creation{fd, st.st_dev, st.st_ino};
  }
  // A full table keeps the descriptor open until the process ends, which is
  // what a Win32 creation handle does anyway.
}

void ReleaseCreations(dev_t dev, ino_t ino) {
  const std::lock_guard<std::mutex> lock(g_creationMutex);
  int kept = 0;
  for (int i = 0; i < g_creationCount; ++i) {
    if (g_creations[i].dev == dev && g_creations[i].ino == ino) {
      close(g_creations[i].fd);
    } else {
      g_creations[kept++] = g_creations[i];
    }
  }
  g_creationCount = kept;
}

enum class Probe { kLive, kMissing, kFailed };

// Opens `path` and joins its holders with a shared lock on the new
// descriptor; a leftover nobody holds or maps is removed and reported
// missing. An object nobody holds but some process maps is joined too, and
// *adopted set (it is false otherwise).
Probe JoinLive(const char* path, int flags, int* fdOut, bool* adopted) {
  *adopted = false;
  for (int attempt = 0; attempt < kRetries; ++attempt) {
    const int fd = shm_open(path, flags, 0);
    if (fd < 0) {
      return errno == ENOENT ? Probe::kMissing : Probe::kFailed;
    }
    if (LockRetrying(fd, LOCK_EX | LOCK_NB) == 0) {
      if (StillNamed(fd, path) && MappedByAnyProcess(fd)) {
        // A writer without locks uses it: joined where it is. Turning the
        // exclusive lock into a shared one may let another opener in
        // between, which decides the same way.
        if (LockRetrying(fd, LOCK_SH) == 0 && StillNamed(fd, path)) {
          *adopted = true;
          *fdOut = fd;
          return Probe::kLive;
        }
        close(fd);
        continue;
      }
      if (StillNamed(fd, path)) {
        shm_unlink(path);
      }
      close(fd);
      return Probe::kMissing;
    }
    if (errno != EWOULDBLOCK) {
      const int code = errno;
      close(fd);
      errno = code;
      return Probe::kFailed;
    }
    // Held by someone. An exclusive holder is deciding about removal; the
    // shared lock waits for it and the name check tells what it decided.
    if (LockRetrying(fd, LOCK_SH) != 0) {
      const int code = errno;
      close(fd);
      errno = code;
      return Probe::kFailed;
    }
    if (StillNamed(fd, path)) {
      *fdOut = fd;
      return Probe::kLive;
    }
    close(fd);
  }
  errno = EAGAIN;
  return Probe::kFailed;
}

}  // namespace

ShmStatus ShmCreate(const char* name, std::uint32_t size, bool* created) {
  *created = false;
  char path[kMaxName + 2];
  if (Faulted(ShmFault::kCreate) || NameFaulted(name) || !MakePath(name, path)) {
    return ShmStatus::kFailed;
  }
  for (int attempt = 0; attempt < kRetries; ++attempt) {
    const int fd = shm_open(path, O_RDWR | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
    if (fd >= 0) {
      // Full size before the first lock: a held segment is never short.
      if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        const int code = errno;
        shm_unlink(path);
        close(fd);
        errno = code;
        return ShmStatus::kFailed;
      }
      if (LockRetrying(fd, LOCK_SH) != 0) {
        const int code = errno;
        close(fd);
        errno = code;
        return ShmStatus::kFailed;
      }
      if (!StillNamed(fd, path)) {
        // Another process took it for a leftover before we held it.
        close(fd);
        continue;
      }
      RememberCreation(fd);
      *created = true;
      return ShmStatus::kOk;
    }
    if (errno != EEXIST) {
      return ShmStatus::kFailed;
    }
    // The name exists: join it if someone holds it, else it was a leftover
    // (now removed) and we try again.
    int held = -1;
    bool adopted = false;
    const Probe probe = JoinLive(path, O_RDONLY, &held, &adopted);
    if (probe == Probe::kFailed) {
      return ShmStatus::kFailed;
    }
    if (probe == Probe::kLive) {
      RememberCreation(held);
      return ShmStatus::kOk;
    }
  }
  errno = EAGAIN;
  return ShmStatus::kFailed;
}

ShmStatus ShmOpen(const char* name, ShmHandle* handle, bool* adopted, ShmAccess access) {
  *handle = kNoShmHandle;
  if (adopted != nullptr) {
    *adopted = false;
  }
  char path[kMaxName + 2];
  if (Faulted(ShmFault::kOpen) || NameFaulted(name) || !MakePath(name, path)) {
    return ShmStatus::kFailed;
  }
  int fd = -1;
  bool joinedUnlocked = false;
  const Probe probe =
      JoinLive(path, access == ShmAccess::kReadOnly ? O_RDONLY : O_RDWR, &fd, &joinedUnlocked);
  if (probe != Probe::kLive) {
    if (probe == Probe::kMissing) {
      errno = ENOENT;
    }
    return ShmStatus::kFailed;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    const int code = errno;
    close(fd);
    errno = code;
    return ShmStatus::kFailed;
  }
  ShmStatus refusal = ShmStatus::kOk;
  if (st.st_uid != geteuid() || g_fault == ShmFault::kForeignOwner) {
    refusal = ShmStatus::kForeignOwner;
  } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    refusal = ShmStatus::kOpenToOthers;
  }
  if (refusal != ShmStatus::kOk) {
    close(fd);
    errno = EACCES;
    return refusal;
  }
  auto* segment = new PosixSegment{fd, st.st_dev, st.st_ino, {}, nullptr};
  std::memcpy(segment->path, path, sizeof path);
  RememberSegment(segment);
  *handle = reinterpret_cast<ShmHandle>(segment);
  if (adopted != nullptr) {
    *adopted = joinedUnlocked;
  }
  return ShmStatus::kOk;
}

ShmStatus ShmMapView(ShmHandle handle, std::uint32_t minSize, void** view, std::size_t* size,
                     ShmAccess access) {
  *view = nullptr;
  *size = 0;
  if (Faulted(ShmFault::kMap)) {
    return ShmStatus::kFailed;
  }
  if (handle == kNoShmHandle || handle == 0) {
    errno = EBADF;
    return ShmStatus::kFailed;
  }
  const auto* segment = reinterpret_cast<const PosixSegment*>(handle);
  struct stat st {};
  if (fstat(segment->fd, &st) != 0) {
    return ShmStatus::kFailed;
  }
  const auto length = static_cast<std::size_t>(st.st_size);
  if (st.st_size < 0 || length < minSize || length == 0) {
    errno = EACCES;
    return ShmStatus::kTooSmall;
  }
  const int protection = access == ShmAccess::kReadOnly ? PROT_READ : PROT_READ | PROT_WRITE;
  void* mapped = mmap(nullptr, length, protection, MAP_SHARED, segment->fd, 0);
  if (mapped == MAP_FAILED) {
    return ShmStatus::kFailed;
  }
  GuardView(mapped, length, length, protection);
  *view = mapped;
  *size = length;
  return ShmStatus::kOk;
}

ShmStatus ShmMapWindow(ShmHandle handle, std::uint32_t offset, std::uint32_t length, void** at,
                       void** window, std::size_t* windowSize) {
  *at = nullptr;
  *window = nullptr;
  *windowSize = 0;
  if (Faulted(ShmFault::kMap)) {
    return ShmStatus::kFailed;
  }
  if (handle == kNoShmHandle || handle == 0) {
    errno = EBADF;
    return ShmStatus::kFailed;
  }
  const auto* segment = reinterpret_cast<const PosixSegment*>(handle);
  struct stat st {};
  if (fstat(segment->fd, &st) != 0) {
    return ShmStatus::kFailed;
  }
  const std::uint64_t end = std::uint64_t{offset} + length;
  if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) < end || length == 0) {
    errno = EACCES;
    return ShmStatus::kTooSmall;
  }
  const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  const std::uint64_t start = offset / page * page;
  const auto bytes = static_cast<std::size_t>(end - start);
  void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, segment->fd,
                      static_cast<off_t>(start));
  if (mapped == MAP_FAILED) {
    return ShmStatus::kFailed;
  }
  GuardView(mapped, bytes, end, PROT_READ | PROT_WRITE);
  *window = mapped;
  *windowSize = bytes;
  *at = static_cast<unsigned char*>(mapped) + (offset - start);
  return ShmStatus::kOk;
}

void ShmUnmapView(void* view, std::size_t size) {
  if (view != nullptr && size > 0) {
    ForgetView(view);
    munmap(view, size);
  }
}

bool ShmViewCut(ShmHandle handle, const void* view) {
  GuardedView* slot =
      view == nullptr ? nullptr : FindView(reinterpret_cast<std::uintptr_t>(view), true);
  if (slot == nullptr) {
    return false;
  }
  const int state = slot->state.load(std::memory_order_acquire);
  if (state == kSlotCut || state == kSlotCutBare) {
    return true;
  }
  if (handle == kNoShmHandle || handle == 0) {
    return false;
  }
  struct stat st {};
  const auto* segment = reinterpret_cast<const PosixSegment*>(handle);
  if (fstat(segment->fd, &st) != 0 || st.st_size < 0 ||
      static_cast<std::uint64_t>(st.st_size) >= slot->fileEnd.load(std::memory_order_relaxed)) {
    return false;
  }
  // Cut short, though nothing touched a page past the new end yet: the view
  // goes now, so that no later access can fault.
  CutView(*slot);
  return true;
}

void ShmCloseHandle(ShmHandle handle) {
  if (handle == kNoShmHandle || handle == 0) {
    return;
  }
  auto* segment = reinterpret_cast<PosixSegment*>(handle);
  // This process's creation descriptor would count as a holder of its own.
  ReleaseCreations(segment->dev, segment->ino);
  if (LockRetrying(segment->fd, LOCK_EX | LOCK_NB) == 0) {
    RemoveIfNamed(segment->fd, segment->path);
  }
  close(segment->fd);
  ForgetSegment(segment);
  delete segment;
}

bool ShmExists(const char* name) {
  char path[kMaxName + 2];
  if (!MakePath(name, path)) {
    return false;
  }
  const int fd = shm_open(path, O_RDONLY, 0);
  if (fd < 0) {
    return false;
  }
  // Held by someone, or used by a writer without locks.
  const bool live = LockRetrying(fd, LOCK_EX | LOCK_NB) != 0 || MappedByAnyProcess(fd);
  close(fd);
  return live;
}

void ShmRemoveIfStale(const char* name) {
  char path[kMaxName + 2];
  if (!MakePath(name, path)) {
    return;
  }
  const int fd = shm_open(path, O_RDONLY, 0);
  if (fd < 0) {
    return;
  }
  if (LockRetrying(fd, LOCK_EX | LOCK_NB) == 0) {
    RemoveIfNamed(fd, path);
  }
  close(fd);
}

void ShmRemoveName(const char* name) {
  char path[kMaxName + 2];
  if (MakePath(name, path)) {
    shm_unlink(path);
  }
}

std::int32_t ShmAtomicLoad(const std::int32_t* counter) {
  return __atomic_load_n(counter, __ATOMIC_SEQ_CST);
}

std::int32_t ShmAtomicIncrement(std::int32_t* counter) {
  return __atomic_add_fetch(counter, 1, __ATOMIC_SEQ_CST);
}

std::int32_t ShmAtomicDecrementToZero(std::int32_t* counter) {
  std::int32_t found = __atomic_load_n(counter, __ATOMIC_SEQ_CST);
  for (;;) {
    const std::int32_t next = found > 1 ? found - 1 : 0;
    if (__atomic_compare_exchange_n(counter, &found, next, false, __ATOMIC_SEQ_CST,
                                    __ATOMIC_SEQ_CST)) {
      return found;
    }
  }
}

int ShmAccessDeniedCode() { return EACCES; }

void SetShmFault(ShmFault fault, int code) {
  g_fault = fault;
  g_faultCode = code;
}

void SetShmNameFault(const char* name, int code) {
  std::snprintf(g_nameFault, sizeof g_nameFault, "%s", name == nullptr ? "" : name);
  g_nameFaultCode = code;
}

}  // namespace platform
