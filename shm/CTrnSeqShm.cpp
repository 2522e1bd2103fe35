// CTrnSeqShm: opening or creating the companion record, the server's hold,
// and the writer's side of the sequence protocol.
//
// Every field a reader may look at while the server writes it is stored
// whole (atomic stores on aligned fields), so a reader never sees half a
// 64-bit time stamp even outside the sequence protocol (the heartbeat is
// read that way to judge liveness).
//
// Threading: the owner's thread; the companion is shared without locks.
#include "shm/CTrnSeqShm.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/process_id.h"
#include "platform/system_error.h"

const char g_szCTrnSeqShmRevision[] = "%Z% Orogrid TrnShm CTrnSeqShm $Revision: 1.1 $";

namespace {

// How long a second server waits for a holder that has just taken the hold
// to write its process id (a holder needs microseconds).
constexpr int kHolderIdWaitMs = 1000;

template <class T>
void Store(T& field, T value, std::memory_order order = std::memory_order_relaxed) {
  std::atomic_ref<T>(field).store(value, order);
}

template <class T>
T Load(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_acquire);
}

}  // namespace

CTrnSeqShm::CTrnSeqShm(const char* recordName)
    : m_pSeq(nullptr),
      m_hold(platform::kNoSegmentHold),
      m_recordHold(platform::kNoSegmentHold),
      m_hRecord(platform::kNoShmHandle),
      m_holderProcessId(0),
      m_attached(false),
      m_nameFits(false),
      m_szReason{},
      m_szRecordName{} {
  std::snprintf(m_szRecordName, sizeof m_szRecordName, "%s",
                recordName == nullptr ? "" : recordName);
  char name[2 * kNameSize];
  const int length = std::snprintf(name, sizeof name, "%s%s",
                                   recordName == nullptr ? "" : recordName, trn::kSeqNameSuffix);
  // A companion whose name was cut to fit would belong to another record.
  m_nameFits = length > 0 && length < kNameSize;
  SetName(name);
  m_size = trn::kSeqRecordSize;
}

CTrnSeqShm::~CTrnSeqShm() { Release(); }

CTrnSeqShm::AttachResult CTrnSeqShm::Attach() {
  if (m_attached) {
    return m_pSeq != nullptr ? AttachResult::kServing : AttachResult::kUnavailable;
  }
  m_attached = true;
  const bool fits = m_nameFits;
  if (!fits || !(OpenAndMap() || (!Refused() && CreateAndMap()))) {
    char message[1024];
    if (!fits) {
      std::snprintf(message, sizeof message, "Record name too long for its companion %s", m_name);
    } else if (Refused()) {
      std::snprintf(message, sizeof message, "%s", GetErrorText());
    } else {
      platform::SystemErrorText(LastErrorCode(), message, sizeof message);
    }
    SetReport(kCaption, message);
    std::snprintf(m_szReason, sizeof m_szReason, "%.250s", message);
    return AttachResult::kUnavailable;
  }
  auto* seq = static_cast<TrnSeqData*>(GetView());
  const platform::HoldStatus status = platform::TakeSegmentHold(m_name, &m_hold);
  if (status == platform::HoldStatus::kAcquired) {
    m_pSeq = seq;
    Claim();
    return AttachResult::kServing;
  }
  if (status == platform::HoldStatus::kHeldElsewhere) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kHolderIdWaitMs);
    while ((m_holderProcessId = Load(seq->serverProcessId)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Close();
    return AttachResult::kServedElsewhere;
  }
  char message[1024];
  platform::SystemErrorText(platform::LastSystemError(), message, sizeof message);
  SetReport(kCaption, message);
  std::snprintf(m_szReason, sizeof m_szReason, "no server hold on %s: %.180s", m_name, message);
  Close();
  return AttachResult::kUnavailable;
}

void CTrnSeqShm::Claim() {
  // Readers stop trusting the companion first: a crashed server's fields
  // may still be in it.
  Store(m_pSeq->magic, 0U, std::memory_order_release);
  Store(m_pSeq->serverProcessId, platform::ThisProcessId(), std::memory_order_release);
  // A server killed inside a tick left the sequence odd and the record half
  // written. The claim is a write step of its own (odd, then even, never
  // back), so a reader that began before notices it, and its resets are
  // seen together with the even value: no grids until the first whole
  // publication of this generation.
  std::uint32_t sequence = Load(m_pSeq->sequence);
  if ((sequence & 1U) == 0) {
    ++sequence;
    Store(m_pSeq->sequence, sequence);
    std::atomic_thread_fence(std::memory_order_release);
  }
  Store(m_pSeq->publicationCount, std::uint64_t{0});
  Store(m_pSeq->lastPublicationNs, std::int64_t{0});
  Store(m_pSeq->heartbeatNs, std::int64_t{0});
  Store(m_pSeq->lastTickMicros, 0U);
  Store(m_pSeq->maxTickMicros, 0U);
  Store(m_pSeq->mapWidth, 0);
  Store(m_pSeq->mapHeight, 0);
  Store(m_pSeq->pixelsPerDegreeX, 0);
  Store(m_pSeq->pixelsPerDegreeY, 0);
  Store(m_pSeq->tickPeriodMillis, 0U);
  Store(m_pSeq->generation, Load(m_pSeq->generation) + 1U);
  Store(m_pSeq->claimSequence, sequence + 1U);
  Store(m_pSeq->tickOpen, 0U);
  Store(m_pSeq->sequence, sequence + 1U, std::memory_order_release);
}

void CTrnSeqShm::Announce(int mapWidth, int mapHeight, std::uint32_t tickPeriodMillis,
                          std::int64_t nowNs) {
  if (m_pSeq == nullptr) {
    return;
  }
  Store(m_pSeq->mapWidth, mapWidth);
  Store(m_pSeq->mapHeight, mapHeight);
  Store(m_pSeq->pixelsPerDegreeX, mapWidth / 360);
  Store(m_pSeq->pixelsPerDegreeY, mapHeight / 180);
  Store(m_pSeq->tickPeriodMillis, tickPeriodMillis);
  Store(m_pSeq->heartbeatNs, nowNs);
  Store(m_pSeq->layoutVersion, trn::kSeqLayoutVersion, std::memory_order_release);
  Store(m_pSeq->magic, trn::kSeqMagic, std::memory_order_release);
}

void CTrnSeqShm::OpenTick(std::int64_t nowNs) {
  if (m_pSeq == nullptr) {
    return;
  }
  Store(m_pSeq->heartbeatNs, nowNs);
  Store(m_pSeq->tickOpen, 1U, std::memory_order_release);
}

void CTrnSeqShm::BeginTick(std::int64_t nowNs) {
  if (m_pSeq == nullptr) {
    return;
  }
  TrnSeqWriteBegin(m_pSeq);
  Store(m_pSeq->heartbeatNs, nowNs);
}

void CTrnSeqShm::NotePublication(std::int64_t nowNs) {
  if (m_pSeq == nullptr) {
    return;
  }
  Store(m_pSeq->publicationCount, m_pSeq->publicationCount + 1U);
  Store(m_pSeq->lastPublicationNs, nowNs);
}

void CTrnSeqShm::EndTick() {
  if (m_pSeq != nullptr) {
    TrnSeqWriteEnd(m_pSeq);
  }
}

void CTrnSeqShm::NoteTickDuration(std::int64_t tickNs) {
  if (m_pSeq == nullptr) {
    return;
  }
  const std::int64_t micros = tickNs <= 0 ? 0 : tickNs / 1000;
  const std::uint32_t clamped =
      micros > 0xFFFFFFFF ? 0xFFFFFFFFU : static_cast<std::uint32_t>(micros);
  Store(m_pSeq->lastTickMicros, clamped);
  if (clamped > m_pSeq->maxTickMicros) {
    Store(m_pSeq->maxTickMicros, clamped);
  }
}

void CTrnSeqShm::CloseTick(std::int64_t nowNs, std::int64_t tickNs) {
  if (m_pSeq == nullptr) {
    return;
  }
  NoteTickDuration(tickNs);
  Store(m_pSeq->heartbeatNs, nowNs);
  Store(m_pSeq->tickOpen, 0U, std::memory_order_release);
}

CTrnSeqShm::AttachResult CTrnSeqShm::HoldRecord() {
  if (m_recordHold != platform::kNoSegmentHold) {
    return AttachResult::kServing;
  }
  char message[1024];
  const platform::ShmStatus opened =
      platform::ShmOpen(m_szRecordName, &m_hRecord, nullptr, platform::ShmAccess::kReadOnly);
  if (opened != platform::ShmStatus::kOk) {
    const int code = platform::LastSystemError();
    m_hRecord = platform::kNoShmHandle;
    if (opened == platform::ShmStatus::kFailed && code == platform::FileNotFoundCode()) {
      return AttachResult::kNoRecord;
    }
    // A refused record is left to the record's own attach, which says why.
    platform::SystemErrorText(code, message, sizeof message);
    std::snprintf(m_szReason, sizeof m_szReason, "no server hold on %.42s: %.180s", m_szRecordName,
                  message);
    return opened == platform::ShmStatus::kFailed ? AttachResult::kUnavailable
                                                  : AttachResult::kNoRecord;
  }
  const platform::HoldStatus status = platform::TakeSegmentHold(m_szRecordName, &m_recordHold);
  if (status == platform::HoldStatus::kAcquired) {
    return AttachResult::kServing;
  }
  const int code = platform::LastSystemError();
  platform::ShmCloseHandle(m_hRecord);
  m_hRecord = platform::kNoShmHandle;
  if (status == platform::HoldStatus::kHeldElsewhere) {
    m_holderProcessId = PeekHolder();
    if (m_holderProcessId != 0) {
      std::snprintf(m_szReason, sizeof m_szReason, "%.42s is already served by process %u",
                    m_szRecordName, static_cast<unsigned>(m_holderProcessId));
    } else {
      std::snprintf(m_szReason, sizeof m_szReason,
                    "%.42s is already served by another process (its companion is missing)",
                    m_szRecordName);
    }
    return AttachResult::kServedElsewhere;
  }
  platform::SystemErrorText(code, message, sizeof message);
  std::snprintf(m_szReason, sizeof m_szReason, "no server hold on %.42s: %.180s", m_szRecordName,
                message);
  return AttachResult::kUnavailable;
}

std::uint32_t CTrnSeqShm::PeekHolder() {
  // Read-only: the holder's companion is looked at, never changed. A holder
  // that has just taken the record's hold claims the companion within
  // microseconds; until then it may still show a dead predecessor's id.
  if (!m_nameFits) {
    return 0;
  }
  platform::ShmHandle handle = platform::kNoShmHandle;
  if (platform::ShmOpen(m_name, &handle, nullptr, platform::ShmAccess::kReadOnly) !=
      platform::ShmStatus::kOk) {
    return 0;
  }
  void* view = nullptr;
  std::size_t size = 0;
  std::uint32_t holder = 0;
  if (platform::ShmMapView(handle, trn::kSeqRecordSize, &view, &size,
                           platform::ShmAccess::kReadOnly) == platform::ShmStatus::kOk) {
    const auto* seq = static_cast<const TrnSeqData*>(view);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kHolderIdWaitMs);
    for (;;) {
      holder = Load(seq->serverProcessId);
      if ((holder != 0 && platform::IsProcessAlive(holder)) ||
          std::chrono::steady_clock::now() >= deadline) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    platform::ShmUnmapView(view, size);
  }
  platform::ShmCloseHandle(handle);
  return holder;
}

void CTrnSeqShm::Release() {
  if (m_recordHold != platform::kNoSegmentHold) {
    platform::ReleaseSegmentHold(m_recordHold);
    m_recordHold = platform::kNoSegmentHold;
  }
  if (m_hRecord != platform::kNoShmHandle) {
    platform::ShmCloseHandle(m_hRecord);
    m_hRecord = platform::kNoShmHandle;
  }
  if (m_hold != platform::kNoSegmentHold) {
    platform::ReleaseSegmentHold(m_hold);
    m_hold = platform::kNoSegmentHold;
  }
  if (m_pSeq != nullptr) {
    m_pSeq = nullptr;
    Close();
  }
}
