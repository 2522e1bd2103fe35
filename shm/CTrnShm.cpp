// CTrnShm: attach and detach protocol of the terrain shared memory, and the
// version check of the record.
//
// Several processes may attach and leave at the same moment, so:
//  - a creation never clobbers a record another process has just made: when
//    the segment turns out to exist already, it is opened instead and
//    neither zeroed nor stamped;
//  - the creator counts itself and then publishes the version text with its
//    first byte written last, so an opener that sees a non-empty version
//    sees the whole of it; an opener that finds the text still empty waits a
//    moment for the creator to finish;
//  - userCount changes only by atomic read-modify-write;
//  - a record that a writer made without this protocol (no version text)
//    and still maps is adopted where it is: counted and stamped, not zeroed,
//    never removed and made anew beside it.
//
// Threading: the owner's thread; the record is shared without locks.
#include "shm/CTrnShm.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/system_error.h"
#include "text/TextFcns.h"

const char g_szCTrnShmRevision[] = "%Z% Orogrid TrnShm CTrnShm $Revision: 1.1 $";

namespace {

// How long an opener waits for a creator that has made the segment but not
// yet stamped the version text. A creator needs well under a millisecond;
// the margin covers a loaded machine.
constexpr int kInitialiseWaitMs = 1000;

char LoadFirstVersionByte(const TrnShmData* data) {
  return std::atomic_ref<char>(const_cast<char&>(data->interfaceVersion[0]))
      .load(std::memory_order_acquire);
}

}  // namespace

std::int32_t TrnUserCount(const TrnShmData* data) {
  return data == nullptr ? 0 : platform::ShmAtomicLoad(&data->userCount);
}

CTrnShm::CTrnShm(const char* name, bool mayCreate)
    : m_connected(false),
      m_versionOk(false),
      m_pData(nullptr),
      m_createdRecord(false),
      m_missing(false),
      m_szReason{} {
  SetName(name);
  m_size = trn::kRecordSize;

  if (OpenAndMap()) {
    AttachExisting();
  } else if (!mayCreate) {
    m_missing = !Refused() && LastErrorCode() == platform::FileNotFoundCode();
  } else if (!Refused() && CreateAndMap()) {
    if (CreatedNew()) {
      m_pData = static_cast<TrnShmData*>(GetView());
      m_connected = true;
      InitialiseRecord();
      m_versionOk = true;
      m_createdRecord = true;
    } else {
      // Another process made it between our open and our create.
      AttachExisting();
    }
  }

  if (!m_connected) {
    char message[1024];
    if (Refused()) {
      // The segment's own report says why; keep it under our caption.
      std::snprintf(message, sizeof message, "%s", GetErrorText());
    } else {
      platform::SystemErrorText(LastErrorCode(), message, sizeof message);
    }
    SetReport(kCaption, message);
    CopyText(m_szReason, message, kReasonSize);
  }
}

CTrnShm::~CTrnShm() {
  if (!(m_connected && m_versionOk)) {
    return;
  }
  // The one who finds the count at 1 (or less) is the last user: the count
  // is left at 0 and the segment closed.
  if (platform::ShmAtomicDecrementToZero(&m_pData->userCount) <= 1) {
    Close();
  }
}

bool CTrnShm::AttachExisting() {
  m_pData = static_cast<TrnShmData*>(GetView());
  m_connected = true;
  if (Adopted() && LoadFirstVersionByte(m_pData) == '\0') {
    // Made by a writer that knows nothing of the attach protocol and still
    // writes into it: it becomes the shared record in place, its values
    // kept, so that the writer and every attacher use the one record.
    StampVersion();
    m_versionOk = true;
    return true;
  }
  WaitForInitialisedRecord();
  m_versionOk = CheckVersion();
  if (m_versionOk) {
    platform::ShmAtomicIncrement(&m_pData->userCount);
  } else {
    SetReport(kCaption, kMismatchText);
    CopyText(m_szReason, kMismatchText, kReasonSize);
  }
  return m_versionOk;
}

bool CTrnShm::WaitForInitialisedRecord() const {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kInitialiseWaitMs);
  while (LoadFirstVersionByte(m_pData) == '\0') {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void CTrnShm::InitialiseRecord() {
  ZeroFill(trn::kRecordSize);
  StampVersion();
}

void CTrnShm::StampVersion() {
  char version[trn::kInterfaceVersionBytes];
  CopyText(version, InterfaceVersionText, trn::kInterfaceVersionBytes);
  platform::ShmAtomicIncrement(&m_pData->userCount);
  std::memcpy(m_pData->interfaceVersion + 1, version + 1, sizeof version - 1);
  std::atomic_ref<char>(m_pData->interfaceVersion[0]).store(version[0], std::memory_order_release);
}

bool CTrnShm::CheckVersion() const {
  if (m_pData == nullptr) {
    return false;
  }
  char stored[trn::kInterfaceVersionBytes + 1];
  std::memcpy(stored, m_pData->interfaceVersion, trn::kInterfaceVersionBytes);
  stored[trn::kInterfaceVersionBytes] = '\0';
  return std::strcmp(stored, InterfaceVersionText) == 0;
}
