// The simulation companion: the simulation's claim and frames (CTrnSimShm)
// and a reader's whole-frame copies and heartbeat (CTrnSimWatch).
//
// Every field is stored and loaded whole (atomic operations on aligned
// fields), so that even a copy the sequence later rejects never holds half
// a value, and the heartbeat can be read outside the sequence.
//
// Threading: an object's owner thread; the companion is shared without locks.
#include "shm/CTrnSimShm.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/monotonic_clock.h"
#include "platform/shared_memory.h"
#include "platform/system_error.h"

namespace {

constexpr const char* kCaption = "CTrnSimShm::Claim";
constexpr std::int64_t kLookPeriodNs = 250 * 1000000LL;
// A writer needs well under a microsecond per frame, but the system may
// stop it inside one for a time slice or two; a reader that finds it inside
// the same frame for this long takes it for stuck (killed while writing).
constexpr std::int64_t kFrameCopyLimitNs = 50 * 1000000LL;

// "<record><suffix>"; false when it does not fit a segment name.
bool CompanionName(const char* recordName, char (&name)[2 * BaseSharedMemory::kNameSize]) {
  const int length = std::snprintf(name, sizeof name, "%s%s",
                                   recordName == nullptr ? "" : recordName, trn::kSimNameSuffix);
  return length > static_cast<int>(sizeof trn::kSimNameSuffix) - 1 &&
         length < BaseSharedMemory::kNameSize;
}

std::uint32_t LoadAcquire(const std::uint32_t& field) {
  return std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(field))
      .load(std::memory_order_acquire);
}

void StoreRelease(std::uint32_t& field, std::uint32_t value) {
  std::atomic_ref<std::uint32_t>(field).store(value, std::memory_order_release);
}

}  // namespace

CTrnSimShm::CTrnSimShm(const char* recordName)
    : m_pSim(nullptr), m_hold(platform::kNoSegmentHold), m_nameFits(false) {
  char name[2 * kNameSize];
  // A companion whose name was cut to fit would belong to another record.
  m_nameFits = CompanionName(recordName, name);
  SetName(name);
  m_size = trn::kSimRecordSize;
}

CTrnSimShm::~CTrnSimShm() { Release(); }

CTrnSimShm::ClaimResult CTrnSimShm::Claim() {
  if (m_pSim != nullptr) {
    return ClaimResult::kClaimed;
  }
  if (!m_nameFits || !(OpenAndMap() || (!Refused() && CreateAndMap()))) {
    char message[1024];
    if (!m_nameFits) {
      std::snprintf(message, sizeof message, "Record name too long for its companion %s", m_name);
    } else if (Refused()) {
      std::snprintf(message, sizeof message, "%s", GetErrorText());
    } else {
      platform::SystemErrorText(LastErrorCode(), message, sizeof message);
    }
    SetReport(kCaption, message);
    return ClaimResult::kFailed;
  }
  const platform::HoldStatus status = platform::TakeSegmentHold(m_name, &m_hold);
  if (status == platform::HoldStatus::kAcquired) {
    m_pSim = static_cast<TrnSimData*>(GetView());
    return ClaimResult::kClaimed;
  }
  if (status == platform::HoldStatus::kHeldElsewhere) {
    SetReport(kCaption, "another simulation already writes this record");
    Close();
    return ClaimResult::kBusy;
  }
  char message[1024];
  platform::SystemErrorText(platform::LastSystemError(), message, sizeof message);
  SetReport(kCaption, message);
  Close();
  return ClaimResult::kFailed;
}

void CTrnSimShm::Start(const TrnSimFrame& initial, std::uint32_t processId) {
  if (m_pSim == nullptr) {
    return;
  }
  // Readers stop trusting the companion first: a killed simulation's frame
  // and heartbeat may still be in it.
  StoreRelease(m_pSim->magic, 0U);
  // A simulation killed inside a frame left the sequence odd; moving on
  // (never back) lets a reader that began before notice the change.
  const std::uint32_t sequence = LoadAcquire(m_pSim->sequence);
  if ((sequence & 1U) != 0) {
    StoreRelease(m_pSim->sequence, sequence + 1U);
  }
  BeginFrame();
  TrnSimStore(m_pSim->simProcessId, processId);
  TrnSimStore(m_pSim->heartbeatNs, std::int64_t{0});
  TrnSimStore(m_pSim->latitude, initial.latitude);
  TrnSimStore(m_pSim->longitude, initial.longitude);
  TrnSimStore(m_pSim->heading, initial.heading);
  TrnSimStore(m_pSim->altitude, initial.altitude);
  TrnSimStore(m_pSim->simulationState, initial.simulationState);
  TrnSimStore(m_pSim->frameCount, std::uint64_t{0});
  TrnSimSequenceEnd(m_pSim->sequence);
  StoreRelease(m_pSim->layoutVersion, trn::kSimLayoutVersion);
  StoreRelease(m_pSim->magic, trn::kSimMagic);
}

void CTrnSimShm::BeginFrame() {
  if (m_pSim == nullptr) {
    return;
  }
  std::atomic_ref<std::uint32_t> sequence(m_pSim->sequence);
  sequence.store(sequence.load(std::memory_order_relaxed) + 1U, std::memory_order_relaxed);
  // Keeps the frame's writes after the odd value, for every reader.
  std::atomic_thread_fence(std::memory_order_release);
}

void CTrnSimShm::EndFrame() {
  if (m_pSim == nullptr) {
    return;
  }
  TrnSimStore(m_pSim->frameCount, TrnSimLoad(m_pSim->frameCount) + 1U);
  TrnSimSequenceEnd(m_pSim->sequence);
}

void CTrnSimShm::Beat(std::int64_t nowNs) {
  if (m_pSim != nullptr) {
    // 0 means "never beat": a clock that reads 0 is taken one step later.
    TrnSimStore(m_pSim->heartbeatNs, nowNs == 0 ? std::int64_t{1} : nowNs);
  }
}

void CTrnSimShm::Release() {
  if (m_pSim != nullptr) {
    StoreRelease(m_pSim->magic, 0U);
  }
  if (m_hold != platform::kNoSegmentHold) {
    platform::ReleaseSegmentHold(m_hold);
    m_hold = platform::kNoSegmentHold;
  }
  if (m_pSim != nullptr) {
    m_pSim = nullptr;
    Close();
  }
}

CTrnSimWatch::CTrnSimWatch(const char* recordName)
    : m_pSim(nullptr), m_nextLookNs(0), m_stuckSequence(0), m_nameFits(false) {
  char name[2 * kNameSize];
  m_nameFits = CompanionName(recordName, name);
  SetName(name);
  m_size = trn::kSimRecordSize;
  // A reader: nothing of the simulation's companion is written here.
  m_access = platform::ShmAccess::kReadOnly;
  m_viewAccess = platform::ShmAccess::kReadOnly;
}

CTrnSimWatch::~CTrnSimWatch() {
  if (m_pSim != nullptr) {
    m_pSim = nullptr;
    Close();
  }
}

bool CTrnSimWatch::Refresh(std::int64_t nowNs) {
  if (m_pSim != nullptr && Cut()) {
    // Cut short by another process: nothing more is read from it; a
    // simulation that makes a new one is found at a later look.
    m_pSim = nullptr;
    Close();
    m_nextLookNs = nowNs + kLookPeriodNs;
    return false;
  }
  if (m_pSim != nullptr) {
    return true;
  }
  if (!m_nameFits || nowNs < m_nextLookNs) {
    return false;
  }
  m_nextLookNs = nowNs + kLookPeriodNs;
  if (!platform::ShmExists(m_name) || !OpenAndMap()) {
    return false;
  }
  m_pSim = static_cast<const TrnSimData*>(GetView());
  return true;
}

bool CTrnSimWatch::Valid() const {
  return m_pSim != nullptr && !Cut() && LoadAcquire(m_pSim->magic) == trn::kSimMagic &&
         LoadAcquire(m_pSim->layoutVersion) == trn::kSimLayoutVersion;
}

bool CTrnSimWatch::ReadFrame(TrnSimFrame& out) {
  if (!Valid()) {
    return false;
  }
  const std::int64_t start = platform::MonotonicNanoseconds();
  for (int attempt = 0;; ++attempt) {
    const std::uint32_t begin = LoadAcquire(m_pSim->sequence);
    if ((begin & 1U) == 0) {
      TrnSimFrame copy;
      copy.latitude = TrnSimLoad(m_pSim->latitude);
      copy.longitude = TrnSimLoad(m_pSim->longitude);
      copy.heading = TrnSimLoad(m_pSim->heading);
      copy.altitude = TrnSimLoad(m_pSim->altitude);
      copy.simulationState = TrnSimLoad(m_pSim->simulationState);
      copy.frameCount = TrnSimLoad(m_pSim->frameCount);
      // Keeps the copy's loads before the second look at the sequence.
      std::atomic_thread_fence(std::memory_order_acquire);
      if (TrnSimLoad(m_pSim->sequence) == begin) {
        if (Cut()) {
          return false;  // what was read may be the zeros of a cut companion
        }
        m_stuckSequence = 0;
        out = copy;
        return true;
      }
    } else if (begin == m_stuckSequence) {
      // Still inside the frame it was stuck in last time: no new wait.
      return false;
    }
    if (attempt % 64 == 63) {
      if (platform::MonotonicNanoseconds() - start >= kFrameCopyLimitNs) {
        m_stuckSequence = (begin & 1U) != 0 ? begin : 0;
        return false;
      }
      std::this_thread::yield();
    }
  }
}

CTrnSimWatch::BeatState CTrnSimWatch::Beat(std::int64_t nowNs, std::int64_t* ageNs) const {
  if (ageNs != nullptr) {
    *ageNs = -1;
  }
  if (!Valid()) {
    return BeatState::kNone;
  }
  const std::int64_t heartbeat = TrnSimLoad(m_pSim->heartbeatNs);
  if (heartbeat == 0) {
    return BeatState::kNone;
  }
  const std::int64_t age = nowNs > heartbeat ? nowNs - heartbeat : 0;
  if (ageNs != nullptr) {
    *ageNs = age;
  }
  return age >= trn::kSimSilentNs ? BeatState::kSilent : BeatState::kBeating;
}
