// The reader of the terrain record and its companion (see CTrnClient.h).
// Threading: one thread per object; the shared record is written by other
// processes while it is read here.
#include "client/CTrnClient.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "client/TrnElevation.h"
#include "platform/monotonic_clock.h"
#include "platform/process_id.h"
#include "platform/shared_memory.h"
#include "platform/system_error.h"

extern const char g_szCTrnClientRevision[];
const char g_szCTrnClientRevision[] = "%Z% OrogridClient KT4201:01 CTrnClient $Revision: 1.0 $";

namespace client {

namespace {

constexpr std::int64_t kMsNs = 1000000LL;
constexpr std::int64_t kSeqLookPeriodNs = 250 * kMsNs;
constexpr std::int64_t kPidCheckPeriodNs = 100 * kMsNs;
constexpr std::int64_t kCutLookPeriodNs = kMsNs;
// A sequenced copy gives up after this long (the server writes for well
// under a millisecond every 120 ms, so a copy rarely needs a second try).
// A sequence that stays odd (a server stopped or killed inside a tick) or
// never settles (a hostile writer) costs each call this much, no more.
constexpr std::int64_t kSequencedCopyLimitNs = CTrnClient::kCopyLimitNs;
// How long an attacher waits for a creator to stamp the version text.
constexpr int kInitialiseWaitMs = 1000;

std::int32_t LoadCount(const TrnShmData& record) {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  const std::int32_t value = *static_cast<const volatile std::int32_t*>(&record.updateCount);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  return value;
}

template <class T>
T LoadShared(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}

// How old the companion's heartbeat may be while its server lives: between
// ticks the pause between two ticks at most (kAliveWindowNs); inside a tick
// (tickOpen) as long as the tick, which a map on a cold or remote disk may
// make slow: kOpenTickWindowNs plus the longest tick the server reports, at
// most kOpenTickWindowMaxNs (the field may hold anything).
std::int64_t AliveWindowNs(const TrnSeqData& seq) {
  if (LoadShared(seq.tickOpen) == 0) {
    return CTrnClient::kAliveWindowNs;
  }
  const std::int64_t longest = static_cast<std::int64_t>(LoadShared(seq.maxTickMicros)) * 1000;
  return std::min(CTrnClient::kOpenTickWindowNs + longest, CTrnClient::kOpenTickWindowMaxNs);
}

// Neither of the two times is trusted: a companion may hold any value, so
// they are compared without subtracting one from the other.
bool HeartbeatStale(std::int64_t now, const TrnSeqData& seq) {
  const std::int64_t window = AliveWindowNs(seq);
  const std::int64_t heartbeat = LoadShared(seq.heartbeatNs);
  return heartbeat < now - window || heartbeat > now + window;
}

double AgeSeconds(std::int64_t now, std::int64_t then) {
  return (static_cast<double>(now) - static_cast<double>(then)) / 1e9;
}

enum class Sequenced {
  kWhole,      // read()'s copy is whole and has data
  kNoData,     // whole, but nothing of this server's generation yet
  kUnsettled,  // no whole copy within the limit
};

// Runs read() between two looks at the companion's sequence counter, again
// after a yield until both looks saw the same even value. needGrids: the
// copy has data once the generation has published grids; otherwise once a
// tick has ended since the claim. Gives up when limitNs have passed since
// start (platform::MonotonicNanoseconds); a limit of 0 makes one try.
// *attempts (may be null): the copies made.
template <class Read>
Sequenced ReadSequenced(const TrnSeqData* seq, std::int64_t start, std::int64_t limitNs,
                        bool needGrids, int* attempts, Read read) {
  int tries = 0;
  for (;;) {
    ++tries;
    const std::uint32_t begin = TrnSeqReadBegin(seq);
    if ((begin & 1U) == 0) {
      const bool hasData = needGrids ? LoadShared(seq->publicationCount) != 0
                                     : begin != LoadShared(seq->claimSequence);
      read();
      if (TrnSeqReadValid(seq, begin)) {
        if (attempts != nullptr) {
          *attempts = tries;
        }
        return hasData ? Sequenced::kWhole : Sequenced::kNoData;
      }
    }
    if (platform::MonotonicNanoseconds() - start >= limitNs) {
      if (attempts != nullptr) {
        *attempts = tries;
      }
      return Sequenced::kUnsettled;
    }
    if (tries % 16 == 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    } else {
      std::this_thread::yield();
    }
  }
}

// Compares a shared grid with its copy, re-reading the shared side; the
// grids are 8-byte aligned multiples of 8 bytes, compared a word at a time.
bool SameBytes(const void* shared, const void* copy, std::size_t bytes) {
  const volatile std::uint64_t* a = static_cast<const volatile std::uint64_t*>(shared);
  const std::uint64_t* b = static_cast<const std::uint64_t*>(copy);
  for (std::size_t i = 0; i < bytes / 8; ++i) {
    if (a[i] != b[i]) {
      return false;
    }
  }
  return true;
}

void Pause(const HeuristicOptions& options, int milliseconds) {
  if (options.hooks.pause != nullptr) {
    options.hooks.pause(options.hooks.context, milliseconds);
  } else if (milliseconds > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

void CopyGrids(const TrnShmData& record, orogrid_snapshot& out) {
  static_assert(sizeof out.coarse == sizeof record.coarseGrid);
  static_assert(sizeof out.fine == sizeof record.fineGrid);
  std::memcpy(out.coarse, record.coarseGrid, sizeof out.coarse);
  std::memcpy(out.fine, record.fineGrid, sizeof out.fine);
}

void CopyScalars(const TrnShmData& record, orogrid_snapshot& out) {
  CopyAircraft(record, out.aircraft);
  const volatile TrnShmData& r = record;
  out.sub_cell_lat_span = r.subCellLatSpan;
  out.sub_cell_lon_span = r.subCellLonSpan;
  out.user_count = r.userCount;
}

// Pixels per degree from the record alone: the sub-cell span is a third of
// a pixel.
std::int32_t ScaleFromSpan(double span) {
  if (!(span > 0.0 && span < 1.0)) {
    return 0;
  }
  const double pixels = 1.0 / (3.0 * span);
  return pixels < 1e6 ? static_cast<std::int32_t>(std::lround(pixels)) : 0;
}

// Bit for bit, so that a NaN position compares equal to itself.
bool SameAircraft(const orogrid_aircraft& a, const orogrid_aircraft& b) {
  const auto same = [](double x, double y) {
    return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
  };
  return same(a.latitude, b.latitude) && same(a.longitude, b.longitude) &&
         same(a.heading, b.heading) && a.elevation == b.elevation && a.cell_id == b.cell_id &&
         a.pixel_x == b.pixel_x && a.pixel_y == b.pixel_y && a.sub_x == b.sub_x &&
         a.sub_y == b.sub_y && same(a.pixels_per_metre, b.pixels_per_metre) &&
         a.update_count == b.update_count && a.simulation_state == b.simulation_state;
}

// Reads of the live record for the elevation lookup.
struct LiveGrids {
  const TrnShmData* record;
  TrnGridPoint Coarse(int i, int j) const {
    TrnGridPoint p;
    std::memcpy(&p, &record->coarseGrid[i][j], sizeof p);
    return p;
  }
  TrnGridPoint Fine(int cx, int cy, int sx, int sy) const {
    TrnGridPoint p;
    std::memcpy(&p, &record->fineGrid[cx][cy][sx][sy], sizeof p);
    return p;
  }
};

}  // namespace

void CopyAircraft(const TrnShmData& record, orogrid_aircraft& out) {
  const volatile TrnShmData& r = record;
  out.latitude = r.aircraftLatitude;
  out.longitude = r.aircraftLongitude;
  out.heading = r.aircraftHeading;
  out.elevation = r.aircraftElevation;
  out.cell_id = r.aircraftCellId;
  out.pixel_x = r.aircraftPixelX;
  out.pixel_y = r.aircraftPixelY;
  out.sub_x = r.aircraftSubX;
  out.sub_y = r.aircraftSubY;
  out.pixels_per_metre = r.pixelsPerMetre;
  out.update_count = r.updateCount;
  out.simulation_state = r.simulationState;
}

bool ValidSegmentName(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length == 0 || length >= static_cast<std::size_t>(BaseSharedMemory::kNameSize)) {
    return false;
  }
  for (std::size_t i = 0; i < length; ++i) {
    const char c = name[i];
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-' || c == '.';
    if (!ok) {
      return false;
    }
  }
  return true;
}

bool SnapshotGridsAgree(const orogrid_snapshot& snapshot) {
  // The server lays every grid out on the map's pixel lattice: a coarse
  // point's latitude follows from its row alone and its longitude from its
  // column alone, and inside a fine cell the same holds for the sub-points.
  // A writer stopped in the middle of a block copy leaves two publications
  // side by side in one grid, which breaks the lattice wherever the aircraft
  // moved between them; the count and the re-read cannot see such a stalled
  // copy, since nothing moves while it is read.
  // Near a pole a column's rows across it carry the longitude half a turn
  // away, give or take the rounding of the two degree conversions.
  const auto sameMeridian = [](double a, double b) {
    return a == b || std::fabs(std::fabs(a - b) - 180.0) < 1e-9;
  };
  const orogrid_point(&coarse)[trn::kCoarseSize][trn::kCoarseSize] = snapshot.coarse;
  for (int i = 0; i < trn::kCoarseSize; ++i) {
    for (int j = 0; j < trn::kCoarseSize; ++j) {
      if (coarse[i][j].latitude != coarse[0][j].latitude ||
          !sameMeridian(coarse[i][j].longitude, coarse[i][0].longitude)) {
        return false;
      }
    }
  }
  for (int cx = 0; cx < trn::kFineSize; ++cx) {
    for (int cy = 0; cy < trn::kFineSize; ++cy) {
      const auto& cell = snapshot.fine[cx][cy];
      for (int sx = 0; sx < trn::kSubDiv; ++sx) {
        for (int sy = 0; sy < trn::kSubDiv; ++sy) {
          if (cell[sx][sy].latitude != cell[0][sy].latitude ||
              cell[sx][sy].longitude != cell[sx][0].longitude) {
            return false;
          }
        }
      }
    }
  }
  for (int cx = 0; cx < trn::kFineSize; ++cx) {
    for (int cy = 0; cy < trn::kFineSize; ++cy) {
      const orogrid_point& fine = snapshot.fine[cx][cy][0][0];
      const orogrid_point& coarse = snapshot.coarse[trn::kFineOrigin + cx][trn::kFineOrigin + cy];
      if (fine.latitude != coarse.latitude || fine.longitude != coarse.longitude) {
        return false;
      }
    }
  }
  return true;
}

void FillSnapshotPixels(orogrid_snapshot& snapshot) {
  const MapScale scale{static_cast<double>(snapshot.pixels_per_degree_x),
                       static_cast<double>(snapshot.pixels_per_degree_y)};
  const bool known = snapshot.pixels_per_degree_x >= 1 && snapshot.pixels_per_degree_y >= 1;
  const std::int64_t columns = known ? GlobeColumns(scale) : 0;
  const std::int64_t rows = known ? GlobeRows(scale) : 0;
  // A point of the map rounds to a column below 360 x pixels per degree
  // (the width itself at +180, which is column 0) and a row below the
  // height; those convert directly, anything else the careful way.
  const double columnLimit = static_cast<double>(columns) + 1.0;
  const double rowLimit = static_cast<double>(rows);
  const auto pixelOf = [&](const orogrid_point& point, orogrid_pixel& out) {
    const double fx = (point.longitude + 180.0) * scale.pixelsPerDegreeX + 0.5;
    const double fy = (90.0 - point.latitude) * scale.pixelsPerDegreeY + 0.5;
    if (fx >= 0.0 && fx < columnLimit && fy >= 0.0 && fy < rowLimit && columns <= INT32_MAX) {
      const auto column = static_cast<std::int32_t>(fx);
      out.column = column >= columns ? static_cast<std::int32_t>(column - columns) : column;
      out.row = static_cast<std::int32_t>(fy);
      return;
    }
    TrnGridPoint p;
    std::memcpy(&p, &point, sizeof p);
    const std::int64_t column = known ? PointColumn(p, scale) : -1;
    const std::int64_t row = known ? PointRow(p, scale) : -1;
    const bool fits = column >= 0 && column <= INT32_MAX && row >= 0 && row <= INT32_MAX;
    out.column = fits ? static_cast<std::int32_t>(column) : -1;
    out.row = fits ? static_cast<std::int32_t>(row) : -1;
  };
  // The server lays the grid out on the pixel lattice: a point with the
  // first column's latitude of its row and the longitude of its column's
  // top point has their row and column, by comparison alone; any other
  // point (rows across a pole, a mosaic of bands) is converted.
  double rowLatitude[trn::kCoarseSize];
  std::int32_t rowOf[trn::kCoarseSize];
  for (int j = 0; j < trn::kCoarseSize; ++j) {
    pixelOf(snapshot.coarse[0][j], snapshot.coarse_pixel[0][j]);
    rowLatitude[j] = snapshot.coarse[0][j].latitude;
    rowOf[j] = snapshot.coarse_pixel[0][j].row;
  }
  for (int i = 1; i < trn::kCoarseSize; ++i) {
    const orogrid_point* column = snapshot.coarse[i];
    orogrid_pixel* out = snapshot.coarse_pixel[i];
    pixelOf(column[0], out[0]);
    const double topLongitude = column[0].longitude;
    const std::int32_t topColumn = out[0].column;
    for (int j = 1; j < trn::kCoarseSize; ++j) {
      if (column[j].longitude == topLongitude && column[j].latitude == rowLatitude[j]) {
        out[j].column = topColumn;
        out[j].row = rowOf[j];
      } else {
        pixelOf(column[j], out[j]);
      }
    }
  }
  for (int cx = 0; cx < trn::kFineSize; ++cx) {
    for (int cy = 0; cy < trn::kFineSize; ++cy) {
      pixelOf(snapshot.fine[cx][cy][0][0], snapshot.fine_pixel[cx][cy]);
    }
  }
}

bool TakeHeuristicSnapshot(const TrnShmData& record, orogrid_snapshot& out,
                           const HeuristicOptions& options) {
  if (options.waitForTickMs > 0) {
    const std::int32_t start = LoadCount(record);
    for (int waited = 0; waited < options.waitForTickMs && LoadCount(record) == start;
         waited += 2) {
      Pause(options, 2);
    }
  }
  const int attempts = options.maxAttempts < 1 ? 1 : options.maxAttempts;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    out.attempts = attempt;
    out.consistency = OROGRID_CONSISTENT_HEURISTIC;
    const std::int32_t before = LoadCount(record);
    CopyGrids(record, out);
    CopyScalars(record, out);
    out.aircraft.update_count = before;
    if (options.hooks.afterCopy != nullptr) {
      options.hooks.afterCopy(options.hooks.context, attempt);
    }
    const std::int32_t afterCopy = LoadCount(record);
    const bool unchanged = SameBytes(record.coarseGrid, out.coarse, sizeof out.coarse) &&
                           SameBytes(record.fineGrid, out.fine, sizeof out.fine);
    const std::int32_t afterCheck = LoadCount(record);
    if (before == afterCopy && afterCopy == afterCheck && unchanged && SnapshotGridsAgree(out)) {
      return true;
    }
    if (attempt < attempts) {
      Pause(options, options.retryPauseMs);
    }
  }
  return false;
}

CClientSegment::CClientSegment(const char* name, std::uint32_t size, bool countable)
    : m_attached(false), m_pWindow(nullptr), m_windowSize(0) {
  SetName(name);
  m_size = size;
  m_access = countable ? platform::ShmAccess::kReadWrite : platform::ShmAccess::kReadOnly;
  m_viewAccess = platform::ShmAccess::kReadOnly;
}

CClientSegment::~CClientSegment() {
  platform::ShmUnmapView(m_pWindow, m_windowSize);
  if (m_attached) {
    Close();
  }
}

std::int32_t* CClientSegment::MapCounter() {
  void* at = nullptr;
  if (!m_attached || m_access != platform::ShmAccess::kReadWrite ||
      platform::ShmMapWindow(m_hMapping, offsetof(TrnShmData, userCount), sizeof(std::int32_t), &at,
                             &m_pWindow, &m_windowSize) != platform::ShmStatus::kOk) {
    return nullptr;
  }
  return static_cast<std::int32_t*>(at);
}

int CClientSegment::Attach() {
  if (!OpenAndMap()) {
    if (Refused()) {
      return OROGRID_E_REFUSED;
    }
    return LastErrorCode() == platform::FileNotFoundCode() ? OROGRID_E_NO_SEGMENT
                                                           : OROGRID_E_SYSTEM;
  }
  m_attached = true;
  return OROGRID_OK;
}

CTrnClient::CTrnClient()
    : m_pRecordSegment(nullptr),
      m_pSeqSegment(nullptr),
      m_pSimWatch(nullptr),
      m_pData(nullptr),
      m_pSeq(nullptr),
      m_pCount(nullptr),
      m_pStage(nullptr),
      m_szSeqName{},
      m_seqNameFits(false),
      m_nextSeqLookNs(0),
      m_nextPidCheckNs(0),
      m_pidAlive(false),
      m_checkedProcessId(0),
      m_seqDropped(false),
      m_seqGoneSeen(false),
      m_goneUpdateCount(0),
      m_watching(false),
      m_lastUpdateCount(0),
      m_watchStartNs(0),
      m_lastUpdateChangeNs(0),
      m_updateMoved(false),
      m_fingerprint(0),
      m_seenPublications(0),
      m_lastPublicationSeenNs(0),
      m_nextCutLookNs(0),
      m_szCut{},
      m_szLastError{} {}

CTrnClient::~CTrnClient() {
  if (m_pCount != nullptr) {
    platform::ShmAtomicDecrementToZero(m_pCount);
  }
  delete m_pSimWatch;
  delete m_pSeqSegment;
  delete m_pRecordSegment;
  delete m_pStage;
}

int CTrnClient::KnownCut() { return m_szCut[0] != '\0' ? CutCode(false) : OROGRID_OK; }

int CTrnClient::AfterCall(int code) {
  // A page past a cut touched during the call may have made it fail for
  // another reason (zeros read as a gone heartbeat): the cut is the answer.
  if (code == OROGRID_OK || code == OROGRID_E_SEGMENT_CUT) {
    return code;
  }
  const int cut = CutCode(false);
  return cut != OROGRID_OK ? cut : code;
}

int CTrnClient::CutCode(bool mayLook) {
  if (m_szCut[0] == '\0') {
    // Every touch of a page past a cut is caught as it happens; the sizes
    // are looked at besides (for the zeros of a last page cut in its
    // middle), at most every kCutLookPeriodNs so that a call costs no more
    // system calls than that.
    bool look = false;
    if (mayLook) {
      const std::int64_t now = platform::MonotonicNanoseconds();
      look = now >= m_nextCutLookNs;
      if (look) {
        m_nextCutLookNs = now + kCutLookPeriodNs;
      }
    }
    const CClientSegment* cut = nullptr;
    if (m_pSeqSegment != nullptr && m_pSeqSegment->Attached() && m_pSeqSegment->Cut(look)) {
      cut = m_pSeqSegment;
    } else if (m_pRecordSegment != nullptr && m_pRecordSegment->Cut(look)) {
      cut = m_pRecordSegment;
    }
    if (cut == nullptr) {
      return OROGRID_OK;
    }
    std::snprintf(m_szCut, sizeof m_szCut, "%s", cut->GetName());
  }
  return Fail(OROGRID_E_SEGMENT_CUT,
              "shared memory \"%s\" was cut short by another process: nothing more is read "
              "from it; open the record again",
              m_szCut);
}

int CTrnClient::Fail(int code, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(m_szLastError, sizeof m_szLastError, format, args);
  va_end(args);
  return code;
}

int CTrnClient::Open(const char* name, bool countUser) {
  m_pStage = new (std::nothrow) orogrid_snapshot;
  m_pRecordSegment = new (std::nothrow) CClientSegment(name, trn::kRecordSize, countUser);
  if (m_pStage == nullptr || m_pRecordSegment == nullptr) {
    return Fail(OROGRID_E_OUT_OF_MEMORY, "out of memory");
  }
  const int attached = m_pRecordSegment->Attach();
  switch (attached) {
    case OROGRID_OK:
      break;
    case OROGRID_E_NO_SEGMENT:
      return Fail(attached, "no terrain record \"%s\": start orogrid or the simulation first",
                  name);
    default:
      return Fail(attached, "terrain record \"%s\": %s", name, m_pRecordSegment->GetErrorText());
  }
  const TrnShmData* record = static_cast<const TrnShmData*>(m_pRecordSegment->GetView());
  // A creator stamps the version text last, first byte last of all.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kInitialiseWaitMs);
  while (std::atomic_ref<char>(const_cast<char&>(record->interfaceVersion[0]))
                 .load(std::memory_order_acquire) == '\0' &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  char version[trn::kInterfaceVersionBytes + 1];
  std::memcpy(version, record->interfaceVersion, trn::kInterfaceVersionBytes);
  version[trn::kInterfaceVersionBytes] = '\0';
  if (std::strcmp(version, InterfaceVersionText) != 0) {
    return Fail(OROGRID_E_VERSION_MISMATCH,
                "terrain record \"%s\": Shared Memory Version Mismatch (found \"%.64s\", "
                "expected \"%s\")",
                name, version, InterfaceVersionText);
  }
  m_pData = record;
  if (countUser) {
    std::int32_t* count = m_pRecordSegment->MapCounter();
    if (count == nullptr) {
      char reason[200];
      platform::SystemErrorText(platform::LastSystemError(), reason, sizeof reason);
      return Fail(OROGRID_E_SYSTEM, "terrain record \"%s\": its user count cannot be mapped: %s",
                  name, reason);
    }
    platform::ShmAtomicIncrement(count);
    m_pCount = count;
  }
  const std::size_t nameLength = std::strlen(name);
  m_seqNameFits = nameLength + sizeof trn::kSeqNameSuffix <= sizeof m_szSeqName;
  if (m_seqNameFits) {
    std::snprintf(m_szSeqName, sizeof m_szSeqName, "%s%s", name, trn::kSeqNameSuffix);
  }
  m_pSimWatch = new (std::nothrow) CTrnSimWatch(name);
  if (m_pSimWatch == nullptr) {
    return Fail(OROGRID_E_OUT_OF_MEMORY, "out of memory");
  }
  RefreshCompanion(platform::MonotonicNanoseconds());
  ClearError();
  return OROGRID_OK;
}

void CTrnClient::RefreshCompanion(std::int64_t now) {
  if (m_pSeq != nullptr || !m_seqNameFits || now < m_nextSeqLookNs) {
    return;
  }
  m_nextSeqLookNs = now + kSeqLookPeriodNs;
  if (m_pSeqSegment == nullptr) {
    if (!platform::ShmExists(m_szSeqName)) {
      return;
    }
    m_pSeqSegment = new (std::nothrow) CClientSegment(m_szSeqName, trn::kSeqRecordSize);
    if (m_pSeqSegment == nullptr) {
      return;
    }
    if (m_pSeqSegment->Attach() != OROGRID_OK) {
      // Refused or gone again: never trusted; looked at again later.
      delete m_pSeqSegment;
      m_pSeqSegment = nullptr;
      return;
    }
  }
  // The server fills the companion and sets the magic last.
  const TrnSeqData* seq = static_cast<const TrnSeqData*>(m_pSeqSegment->GetView());
  const std::uint32_t magic = std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(seq->magic))
                                  .load(std::memory_order_acquire);
  // After a companion was dropped for a server that keeps none, only a
  // live one is taken again (the dropped one still carries its magic).
  const bool live = !m_seqDropped || !HeartbeatStale(now, *seq);
  if (magic == trn::kSeqMagic && LoadShared(seq->layoutVersion) == trn::kSeqLayoutVersion && live) {
    m_pSeq = seq;
    m_nextPidCheckNs = 0;
    m_seqGoneSeen = false;
  } else if (m_seqDropped) {
    // Opened again by name at the next look: a new server may have made a
    // new companion under it.
    delete m_pSeqSegment;
    m_pSeqSegment = nullptr;
  }
}

void CTrnClient::DropCompanion(std::int64_t now) {
  m_pSeq = nullptr;
  delete m_pSeqSegment;
  m_pSeqSegment = nullptr;
  m_seqDropped = true;
  m_seqGoneSeen = false;
  m_nextSeqLookNs = now + kSeqLookPeriodNs;
  // The record's count moved after the companion's server had gone: some
  // server ticks without a companion.
  m_lastUpdateChangeNs = now;
  m_updateMoved = true;
}

void CTrnClient::Observe(std::int64_t now) {
  RefreshCompanion(now);
  const std::int32_t count = LoadShared(m_pData->updateCount);
  if (!m_watching) {
    m_watching = true;
    m_lastUpdateCount = count;
    m_watchStartNs = now;
    m_lastUpdateChangeNs = now;
    m_fingerprint = FineFingerprint();
    return;
  }
  if (count != m_lastUpdateCount) {
    m_lastUpdateCount = count;
    m_lastUpdateChangeNs = now;
    m_updateMoved = true;
  }
}

int CTrnClient::Liveness(std::int64_t now) {
  Observe(now);
  if (m_pSeq != nullptr) {
    bool alive = !HeartbeatStale(now, *m_pSeq);
    const std::uint32_t server = LoadShared(m_pSeq->serverProcessId);
    // A new server's process is looked at at once, not on the old one's time.
    if (alive && (now >= m_nextPidCheckNs || server != m_checkedProcessId)) {
      m_pidAlive = platform::IsProcessAlive(server);
      m_checkedProcessId = server;
      m_nextPidCheckNs = now + kPidCheckPeriodNs;
    }
    alive = alive && m_pidAlive;
    if (alive) {
      m_seqGoneSeen = false;
      return OROGRID_SERVER_ALIVE;
    }
    // Gone by its companion. When the record's count moves on all the same,
    // another server (one without companion) serves it: the companion goes.
    if (!m_seqGoneSeen) {
      m_seqGoneSeen = true;
      m_goneUpdateCount = m_lastUpdateCount;
      return OROGRID_SERVER_GONE;
    }
    if (m_lastUpdateCount == m_goneUpdateCount) {
      return OROGRID_SERVER_GONE;
    }
    DropCompanion(now);
  }
  if (now - m_lastUpdateChangeNs < kAliveWindowNs) {
    return m_updateMoved ? OROGRID_SERVER_ALIVE : OROGRID_SERVER_UNKNOWN;
  }
  return OROGRID_SERVER_GONE;
}

int CTrnClient::GoneCode(std::int64_t now) {
  if (Liveness(now) != OROGRID_SERVER_GONE) {
    return OROGRID_OK;
  }
  if (m_pSeq != nullptr) {
    const std::int64_t heartbeat = LoadShared(m_pSeq->heartbeatNs);
    if (HeartbeatStale(now, *m_pSeq)) {
      return Fail(OROGRID_E_SERVER_GONE,
                  "the terrain server (process %u) is gone: no heartbeat for %.1f s; the values "
                  "are its last",
                  static_cast<unsigned>(LoadShared(m_pSeq->serverProcessId)),
                  AgeSeconds(now, heartbeat));
    }
    return Fail(OROGRID_E_SERVER_GONE,
                "the terrain server (process %u) is gone: the process has ended; the values "
                "are its last",
                static_cast<unsigned>(LoadShared(m_pSeq->serverProcessId)));
  }
  return Fail(OROGRID_E_SERVER_GONE,
              "the terrain server is gone: the record's update count has not moved for "
              "%.1f s; the values are the last",
              AgeSeconds(now, m_lastUpdateChangeNs));
}

std::uint64_t CTrnClient::FineFingerprint() const {
  // Word-wise mixing is enough to notice a new grid and 8 times faster than
  // byte-wise hashing.
  const volatile std::uint64_t* words =
      reinterpret_cast<const volatile std::uint64_t*>(&m_pData->fineGrid[0][0][0][0]);
  std::uint64_t hash = 14695981039346656037ULL;
  for (std::size_t i = 0; i < sizeof m_pData->fineGrid / 8; ++i) {
    hash = (hash ^ words[i]) * 1099511628211ULL;
  }
  return hash;
}

int CTrnClient::WaitPublication(std::uint32_t timeoutMs) {
  if (const int cut = KnownCut(); cut != OROGRID_OK) {
    return cut;
  }
  const std::int64_t start = platform::MonotonicNanoseconds();
  const std::int64_t deadline = start + static_cast<std::int64_t>(timeoutMs) * kMsNs;
  Observe(start);
  std::uint64_t fingerprint = m_pSeq == nullptr ? FineFingerprint() : 0;
  for (;;) {
    if (const int cut = CutCode(); cut != OROGRID_OK) {
      return cut;
    }
    const std::int64_t now = platform::MonotonicNanoseconds();
    const int gone = GoneCode(now);
    if (gone != OROGRID_OK) {
      return gone;
    }
    if (m_pSeq != nullptr) {
      // The server stamps each publication on the same monotonic clock, so
      // one made before this call is told apart however the companion came
      // and went meanwhile (a count taken at the start would not be).
      if (LoadShared(m_pSeq->publicationCount) != 0 &&
          LoadShared(m_pSeq->lastPublicationNs) >= start &&
          (LoadShared(m_pSeq->sequence) & 1U) == 0) {
        ClearError();
        return OROGRID_OK;
      }
    } else {
      const std::uint64_t now_print = FineFingerprint();
      if (now_print != fingerprint) {
        fingerprint = now_print;
        ++m_seenPublications;
        m_lastPublicationSeenNs = now;
        m_fingerprint = now_print;
        ClearError();
        return OROGRID_OK;
      }
    }
    if (now >= deadline) {
      return Fail(OROGRID_E_TIMEOUT, "no publication within %u ms", timeoutMs);
    }
    // Never past the deadline by more than the bound.
    const std::int64_t pauseNs = m_pSeq != nullptr ? kMsNs : 5 * kMsNs;
    const std::int64_t left = deadline - now;
    std::this_thread::sleep_for(std::chrono::nanoseconds(left < pauseNs ? left : pauseNs));
  }
}

int CTrnClient::Snapshot(orogrid_snapshot* out, std::size_t bytes) {
  if (const int cut = KnownCut(); cut != OROGRID_OK) {
    return cut;
  }
  const std::int64_t start = platform::MonotonicNanoseconds();
  const int gone = GoneCode(start);
  orogrid_snapshot& stage = *m_pStage;
  if (m_pSeq != nullptr) {
    const TrnSeqData* seq = m_pSeq;
    int attempts = 0;
    // A server known gone is not waited for: one look at what it left.
    const Sequenced copy = ReadSequenced(
        seq, start, gone != OROGRID_OK ? 0 : kSequencedCopyLimitNs, true, &attempts, [&] {
          CopyGrids(*m_pData, stage);
          CopyScalars(*m_pData, stage);
          stage.publication_count = LoadShared(seq->publicationCount);
          stage.pixels_per_degree_x = LoadShared(seq->pixelsPerDegreeX);
          stage.pixels_per_degree_y = LoadShared(seq->pixelsPerDegreeY);
        });
    stage.consistency = OROGRID_CONSISTENT_SEQUENCE;
    stage.attempts = attempts;
    stage.reserved0 = 0;
    if (copy == Sequenced::kNoData) {
      return gone != OROGRID_OK ? gone
                                : Fail(OROGRID_E_NO_DATA,
                                       "the server has published no grids since it took the "
                                       "record over");
    }
    if (copy == Sequenced::kUnsettled) {
      const int stillGone = gone != OROGRID_OK ? gone : GoneCode(platform::MonotonicNanoseconds());
      if (stillGone != OROGRID_OK) {
        return stillGone;
      }
      return Fail(OROGRID_E_UNSETTLED, "the sequence counter kept moving for %d copies", attempts);
    }
  } else {
    const bool whole = TakeHeuristicSnapshot(*m_pData, stage, m_heuristics);
    stage.publication_count = 0;
    stage.pixels_per_degree_x = ScaleFromSpan(stage.sub_cell_lon_span);
    stage.pixels_per_degree_y = ScaleFromSpan(stage.sub_cell_lat_span);
    stage.reserved0 = 0;
    if (!whole) {
      return Fail(OROGRID_E_UNSETTLED, "the grids kept changing during %d copies", stage.attempts);
    }
  }
  // A caller of the first layout has no room for the pixels: skip their work.
  if (bytes > offsetof(orogrid_snapshot, coarse_pixel)) {
    FillSnapshotPixels(stage);
  }
  if (const int cut = CutCode(); cut != OROGRID_OK) {
    return cut;
  }
  std::memcpy(out, &stage, bytes < sizeof stage ? bytes : sizeof stage);
  if (gone != OROGRID_OK) {
    return gone;
  }
  ClearError();
  return OROGRID_OK;
}

int CTrnClient::ReadAircraft(orogrid_aircraft* out, std::size_t bytes) {
  if (const int cut = KnownCut(); cut != OROGRID_OK) {
    return cut;
  }
  const std::int64_t start = platform::MonotonicNanoseconds();
  const int gone = GoneCode(start);
  orogrid_aircraft copy{};
  if (m_pSeq != nullptr) {
    const Sequenced read =
        ReadSequenced(m_pSeq, start, gone != OROGRID_OK ? 0 : kSequencedCopyLimitNs, false, nullptr,
                      [&] { CopyAircraft(*m_pData, copy); });
    if (read == Sequenced::kNoData) {
      return gone != OROGRID_OK ? gone
                                : Fail(OROGRID_E_NO_DATA,
                                       "the server has ended no tick since it took the "
                                       "record over");
    }
    if (read == Sequenced::kUnsettled) {
      return gone != OROGRID_OK ? gone
                                : Fail(OROGRID_E_UNSETTLED, "the sequence counter kept moving");
    }
  } else {
    // Ten plain fields: two copies that agree.
    orogrid_aircraft again{};
    bool whole = false;
    for (int attempt = 0; attempt < 8 && !whole; ++attempt) {
      CopyAircraft(*m_pData, copy);
      CopyAircraft(*m_pData, again);
      whole = SameAircraft(copy, again);
    }
    if (!whole) {
      return Fail(OROGRID_E_UNSETTLED, "the aircraft values kept changing");
    }
  }
  if (const int cut = CutCode(); cut != OROGRID_OK) {
    return cut;
  }
  std::memcpy(out, &copy, bytes < sizeof copy ? bytes : sizeof copy);
  if (gone != OROGRID_OK) {
    return gone;
  }
  ClearError();
  return OROGRID_OK;
}

int CTrnClient::ReadSimulation(orogrid_simulation* simulation, std::size_t bytes) {
  if (const int cut = KnownCut(); cut != OROGRID_OK) {
    return cut;
  }
  orogrid_simulation out{};
  const std::int64_t now = platform::MonotonicNanoseconds();
  m_pSimWatch->Refresh(now);
  TrnSimFrame frame{};
  if (m_pSimWatch->ReadFrame(frame)) {
    std::int64_t ageNs = -1;
    const CTrnSimWatch::BeatState beat = m_pSimWatch->Beat(now, &ageNs);
    out.latitude = frame.latitude;
    out.longitude = frame.longitude;
    out.heading = frame.heading;
    out.altitude = frame.altitude;
    out.state = frame.simulationState;
    out.beat = beat == CTrnSimWatch::BeatState::kSilent    ? OROGRID_SIM_SILENT
               : beat == CTrnSimWatch::BeatState::kBeating ? OROGRID_SIM_BEATING
                                                           : OROGRID_SIM_NO_BEAT;
    out.beat_age_s = ageNs < 0 ? -1.0 : static_cast<double>(ageNs) / 1e9;
    out.frame_count = frame.frameCount;
    if (const int cut = CutCode(); cut != OROGRID_OK) {
      return cut;
    }
    if (const int cut = CutCode(); cut != OROGRID_OK) {
      return cut;
    }
    std::memcpy(simulation, &out, bytes < sizeof out ? bytes : sizeof out);
    ClearError();
    return OROGRID_OK;
  }
  if (m_pSimWatch->Valid()) {
    return Fail(OROGRID_E_UNSETTLED,
                "the simulation has stayed inside one frame of its sequence: killed while "
                "writing?");
  }
  // A simulation without the companion: its fields as they are now.
  out.latitude = LoadShared(m_pData->aircraftLatitude);
  out.longitude = LoadShared(m_pData->aircraftLongitude);
  out.heading = LoadShared(m_pData->aircraftHeading);
  out.altitude = std::nan("");
  out.state = LoadShared(m_pData->simulationState);
  out.beat = OROGRID_SIM_NO_BEAT;
  out.beat_age_s = -1.0;
  out.frame_count = 0;
  if (const int cut = CutCode(); cut != OROGRID_OK) {
    return cut;
  }
  std::memcpy(simulation, &out, bytes < sizeof out ? bytes : sizeof out);
  ClearError();
  return OROGRID_OK;
}

int CTrnClient::ReadStatus(orogrid_status* status, std::size_t bytes) {
  if (const int cut = KnownCut(); cut != OROGRID_OK) {
    return cut;
  }
  const std::int64_t now = platform::MonotonicNanoseconds();
  orogrid_status out{};
  out.server_alive = Liveness(now);
  out.has_companion = m_pSeq != nullptr ? 1 : 0;
  out.reserved0 = 0;
  out.update_count = LoadShared(m_pData->updateCount);
  out.simulation_state = LoadShared(m_pData->simulationState);
  out.user_count = platform::ShmAtomicLoad(&m_pData->userCount);
  if (m_pSeq != nullptr) {
    const TrnSeqData& seq = *m_pSeq;
    out.server_process_id = LoadShared(seq.serverProcessId);
    out.tick_period_ms = LoadShared(seq.tickPeriodMillis);
    out.publication_count = LoadShared(seq.publicationCount);
    const std::int64_t published = LoadShared(seq.lastPublicationNs);
    out.publication_age_s = out.publication_count > 0 ? AgeSeconds(now, published) : -1.0;
    out.heartbeat_age_s = AgeSeconds(now, LoadShared(seq.heartbeatNs));
    out.last_tick_us = LoadShared(seq.lastTickMicros);
    out.max_tick_us = LoadShared(seq.maxTickMicros);
    out.map_width = LoadShared(seq.mapWidth);
    out.map_height = LoadShared(seq.mapHeight);
    out.pixels_per_degree_x = LoadShared(seq.pixelsPerDegreeX);
    out.pixels_per_degree_y = LoadShared(seq.pixelsPerDegreeY);
  } else {
    const std::uint64_t fingerprint = FineFingerprint();
    if (fingerprint != m_fingerprint) {
      m_fingerprint = fingerprint;
      ++m_seenPublications;
      m_lastPublicationSeenNs = now;
    }
    out.server_process_id = 0;
    out.tick_period_ms = 0;
    out.publication_count = m_seenPublications;
    out.publication_age_s =
        m_seenPublications > 0 ? AgeSeconds(now, m_lastPublicationSeenNs) : -1.0;
    out.heartbeat_age_s = -1.0;
    out.last_tick_us = 0;
    out.max_tick_us = 0;
    out.map_width = 0;
    out.map_height = 0;
    out.pixels_per_degree_x = ScaleFromSpan(LoadShared(m_pData->subCellLonSpan));
    out.pixels_per_degree_y = ScaleFromSpan(LoadShared(m_pData->subCellLatSpan));
  }
  if (const int cut = CutCode(); cut != OROGRID_OK) {
    return cut;
  }
  std::memcpy(status, &out, bytes < sizeof out ? bytes : sizeof out);
  ClearError();
  return OROGRID_OK;
}

int CTrnClient::Elevation(double latitude, double longitude, int method, double* metres,
                          int* grid) {
  if (const int cut = KnownCut(); cut != OROGRID_OK) {
    return cut;
  }
  const std::int64_t start = platform::MonotonicNanoseconds();
  const int gone = GoneCode(start);
  LiveGrids live{m_pData};
  int code = OROGRID_E_UNSETTLED;
  double value = 0.0;
  int answered = 0;
  if (m_pSeq != nullptr) {
    const TrnSeqData* seq = m_pSeq;
    const auto lookup = [&] {
      const MapScale scale{static_cast<double>(LoadShared(seq->pixelsPerDegreeX)),
                           static_cast<double>(LoadShared(seq->pixelsPerDegreeY))};
      code = LookupElevation(live, scale, latitude, longitude, method, &value, &answered);
    };
    const Sequenced read = ReadSequenced(seq, start, gone != OROGRID_OK ? 0 : kSequencedCopyLimitNs,
                                         true, nullptr, lookup);
    if (read == Sequenced::kUnsettled) {
      return gone != OROGRID_OK ? gone
                                : Fail(OROGRID_E_UNSETTLED, "the sequence counter kept moving");
    }
    if (read == Sequenced::kNoData) {
      code = OROGRID_E_NO_DATA;
    }
  } else {
    // Two lookups that agree, with no tick in between.
    const MapScale scale{static_cast<double>(ScaleFromSpan(LoadShared(m_pData->subCellLonSpan))),
                         static_cast<double>(ScaleFromSpan(LoadShared(m_pData->subCellLatSpan)))};
    bool whole = false;
    for (int attempt = 0; attempt < 8 && !whole; ++attempt) {
      const std::int32_t before = LoadCount(*m_pData);
      double second = 0.0;
      int secondGrid = 0;
      code = LookupElevation(live, scale, latitude, longitude, method, &value, &answered);
      const int again =
          LookupElevation(live, scale, latitude, longitude, method, &second, &secondGrid);
      whole = code == again && value == second && answered == secondGrid &&
              LoadCount(*m_pData) == before;
    }
    if (!whole) {
      return Fail(OROGRID_E_UNSETTLED, "the grids kept changing during the lookup");
    }
  }
  if (code != OROGRID_OK) {
    switch (code) {
      case OROGRID_E_OUTSIDE_AREA:
        return Fail(code, "%.6f, %.6f is outside the published area", latitude, longitude);
      case OROGRID_E_NO_DATA:
        return gone != OROGRID_OK ? gone : Fail(code, "the server has published no grids yet");
      default:
        return Fail(code, "latitude %g, longitude %g or method %d is not valid", latitude,
                    longitude, method);
    }
  }
  if (const int cut = CutCode(); cut != OROGRID_OK) {
    return cut;
  }
  *metres = value;
  if (grid != nullptr) {
    *grid = answered;
  }
  if (gone != OROGRID_OK) {
    return gone;
  }
  ClearError();
  return OROGRID_OK;
}

}  // namespace client
