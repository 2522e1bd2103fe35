// BaseSharedMemory: named segments over the platform's mapping service, and
// the component's registration routine.
//
// Threading: an object is used from one thread; the registration flag is
// not locked (components are made on the user-interface thread).
#include "shm/BaseSharedMemory.h"

#include <cstdio>
#include <cstring>

#include "platform/system_error.h"
#include "registry/RevisionRegistry.h"

const char g_szBaseSharedMemoryRevision[] =
    "%Z% BaseSharedMemory KT2082:02 BaseSharedMemory $Revision: 1.3 $";

namespace {

constexpr char kSection[] = "Base Shared Memory Class ";
bool g_bRegistered = false;

}  // namespace

void RegisterBaseSharedMemory() {
  if (g_bRegistered) {
    return;
  }
  BeginComponent(kSection);
  RegisterRevision(g_szBaseSharedMemoryRevision);
  RegisterRevision(kBaseSharedMemoryHeaderRevision);
  EndComponent();
  g_bRegistered = true;
}

BaseSharedMemory::BaseSharedMemory()
    : m_name{},
      m_hMapping(platform::kNoShmHandle),
      m_pView(nullptr),
      m_size(0),
      m_access(platform::ShmAccess::kReadWrite),
      m_viewAccess(platform::ShmAccess::kReadWrite),
      m_created(false),
      m_adopted(false),
      m_refused(false),
      m_lastError(0),
      m_mappedSize(0) {
  RegisterBaseSharedMemory();
}

BaseSharedMemory::~BaseSharedMemory() = default;

void BaseSharedMemory::SetName(const char* name) {
  std::snprintf(m_name, sizeof m_name, "%s", name == nullptr ? "" : name);
}

void BaseSharedMemory::SetCodeText(const char* format, int code) {
  char text[1024];
  std::snprintf(text, sizeof text, format, code);
  SetText(text);
}

bool BaseSharedMemory::Create(std::uint32_t size) {
  m_created = false;
  bool created = false;
  if (platform::ShmCreate(m_name, size, &created) != platform::ShmStatus::kOk) {
    m_lastError = platform::LastSystemError();
    SetCodeText("Creating Shared memory (Code: %d)", m_lastError);
    return false;
  }
  m_created = created;
  return true;
}

bool BaseSharedMemory::Open() {
  m_refused = false;
  m_adopted = false;
  platform::ShmHandle handle = platform::kNoShmHandle;
  bool adopted = false;
  const platform::ShmStatus status = platform::ShmOpen(m_name, &handle, &adopted, m_access);
  if (status == platform::ShmStatus::kOk) {
    m_hMapping = handle;
    m_adopted = adopted;
    return true;
  }
  m_lastError = platform::LastSystemError();
  char text[1024];
  switch (status) {
    case platform::ShmStatus::kForeignOwner:
      std::snprintf(text, sizeof text, "Shared memory %s refused: owned by another user", m_name);
      break;
    case platform::ShmStatus::kOpenToOthers:
      std::snprintf(text, sizeof text, "Shared memory %s refused: writable by group or others",
                    m_name);
      break;
    default:
      SetCodeText("OpenFileMapping (Code: %d)", m_lastError);
      return false;
  }
  m_refused = true;
  SetText(text);
  return false;
}

bool BaseSharedMemory::MapView() {
  m_refused = false;
  void* view = nullptr;
  std::size_t length = 0;
  const platform::ShmStatus status =
      platform::ShmMapView(m_hMapping, m_size, &view, &length, m_viewAccess);
  if (status == platform::ShmStatus::kOk) {
    m_pView = static_cast<unsigned char*>(view);
    // The record never needs more than 4 GiB; a longer mapping is used up to
    // that much.
    m_mappedSize = length > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(length);
    return true;
  }
  m_lastError = platform::LastSystemError();
  if (status == platform::ShmStatus::kTooSmall) {
    char text[1024];
    std::snprintf(text, sizeof text, "Shared memory %s refused: smaller than %u bytes", m_name,
                  static_cast<unsigned>(m_size));
    m_refused = true;
    SetText(text);
    return false;
  }
  SetCodeText("MapViewOfFile (Code: %d)", m_lastError);
  return false;
}

bool BaseSharedMemory::CreateAndMap() { return Create(m_size) && OpenAndMap(); }

bool BaseSharedMemory::OpenAndMap() {
  if (!Open()) {
    return false;
  }
  if (MapView()) {
    return true;
  }
  // A handle whose view failed is given back at once: the next attempt (the
  // create after a failed open) would otherwise overwrite and lose it.
  platform::ShmCloseHandle(m_hMapping);
  m_hMapping = platform::kNoShmHandle;
  return false;
}

void BaseSharedMemory::Close() {
  platform::ShmUnmapView(m_pView, m_mappedSize);
  platform::ShmCloseHandle(m_hMapping);
  // Forgotten at once, so that a second Close (or a later GetView) cannot
  // reach a released view or handle.
  m_pView = nullptr;
  m_hMapping = platform::kNoShmHandle;
  m_mappedSize = 0;
}

bool BaseSharedMemory::ZeroFill(std::uint32_t count) {
  if (count == 0 || m_pView == nullptr || count > m_mappedSize) {
    return false;
  }
  std::memset(m_pView, 0, count);
  return true;
}
