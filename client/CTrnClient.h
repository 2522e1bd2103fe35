// CTrnClient: a reader of the terrain record and of its companion
// "<record>.Seq", behind the C interface of orogrid_client.h.
//
// Attaching: the record must exist (the client never creates it), be at
// least 692672 bytes, belong to this user and carry the interface version
// text; the client counts itself in userCount only when asked. The
// companion is optional: while it is missing (an older server, or none yet)
// the client looks for it again at most every 250 ms, and reads the record
// with the heuristics below meanwhile.
//
// Consistency: with the companion, copies are taken between two looks at
// its sequence counter and kept only when both saw the same even value, and
// only once the server that last claimed the record has published (a claim
// after a crash inside a tick leaves the record half written). A copy goes
// to the caller only when it is whole: into a stage first for snapshots.
//
// Time: with the companion a copy gives up after kCopyLimitNs; with a
// server known gone it is tried once.
// Without it, a snapshot is copied, compared again with the record and
// checked for agreement of the two grids, and copied again after a pause
// when anything moved (TakeHeuristicSnapshot).
//
// Liveness: with the companion, the server is alive while its process exists
// and its heartbeat (on the machine's monotonic clock) is younger than 1 s,
// or, while the companion says a tick is in progress (a slow map may hold
// one), younger than 3 s plus the longest tick it reports, 10 s at most.
// A companion whose server is gone while the record's updateCount moves on
// belongs to no server any more: it is dropped, and looked for again (then
// taken only with a live heartbeat).
// Without it, while the record's updateCount (one step per server tick) has
// moved within the last second this client watched it.
//
// Cut short: a record or companion that another process cuts short
// (ftruncate) is noticed by the first read of a page past its new end (the
// fault is caught, see platform/shared_memory.h), or by a look at its size
// (at most every millisecond); that call and every later one give
// OROGRID_E_SEGMENT_CUT and nothing more is read from either.
//
// Threading: one thread per object; the record is written concurrently by
// the server and the simulation in other processes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/orogrid_client.h"
#include "shm/BaseSharedMemory.h"
#include "shm/CTrnSimShm.h"
#include "shm/TrnInterfaceShm.h"
#include "shm/TrnSeqShm.h"

namespace client {

// Seams of the heuristic copy: afterCopy runs between the copy and the
// checks (a test plays the writer there); pause replaces the sleep.
struct HeuristicHooks {
  void (*afterCopy)(void* context, int attempt) = nullptr;
  void (*pause)(void* context, int milliseconds) = nullptr;
  void* context = nullptr;
};

struct HeuristicOptions {
  int maxAttempts = 8;
  int retryPauseMs = 15;  // a fraction of the server's 120 ms tick
  // Before the first copy, wait up to this long for updateCount to move, so
  // that the copy starts just after a tick; 0: no wait.
  int waitForTickMs = 0;
  HeuristicHooks hooks;
};

// The heuristic copy of a record without companion. True when a copy passed
// every check (out.attempts says how many it took); false leaves the last
// try in out. Fills everything but publication_count and the map scale.
bool TakeHeuristicSnapshot(const TrnShmData& record, orogrid_snapshot& out,
                           const HeuristicOptions& options);
// True when the grids look like one publication: both lie on the map's
// pixel lattice (one latitude per row, one longitude per column, or the
// longitude half a turn away for rows across a pole) and every fine cell's
// first sub-point has exactly the position of the coarse point it refines.
bool SnapshotGridsAgree(const orogrid_snapshot& snapshot);
// Fills the snapshot's coarse_pixel and fine_pixel from the positions of
// its points and its pixels per degree (-1, -1 when that is unknown).
void FillSnapshotPixels(orogrid_snapshot& snapshot);
// Copies the tick's aircraft values (plain reads; the caller makes them
// consistent).
void CopyAircraft(const TrnShmData& record, orogrid_aircraft& out);

// Segment names the client and the tools accept: 1..42 letters, digits,
// '_', '-' and '.'.
bool ValidSegmentName(const char* name);

// The terrain record or its companion, opened and mapped read-only, never
// created. With countable, the handle is opened read-write so that
// MapCounter can map a writable window over the record's userCount alone.
class CClientSegment : public BaseSharedMemory {
 public:
  CClientSegment(const char* name, std::uint32_t size, bool countable = false);
  // Unmaps the counter's window and the view.
  ~CClientSegment();
  CClientSegment(const CClientSegment&) = delete;
  CClientSegment& operator=(const CClientSegment&) = delete;
  // Opens and maps; an OROGRID_ code.
  int Attach();
  bool Attached() const { return m_attached; }
  // After Attach of a countable record: the record's userCount, writable
  // (the rest of the record stays read-only); null when it cannot be had.
  std::int32_t* MapCounter();

 private:
  bool m_attached;
  void* m_pWindow;
  std::size_t m_windowSize;
};

class CTrnClient {
 public:
  static constexpr std::int64_t kAliveWindowNs = 1000000000LL;  // heartbeat younger than 1 s
  // Inside a tick: 3 s more than the longest tick reported, 10 s at most.
  static constexpr std::int64_t kOpenTickWindowNs = 3000000000LL;
  static constexpr std::int64_t kOpenTickWindowMaxNs = 10000000000LL;
  static constexpr std::int64_t kCopyLimitNs = 2000000LL;  // a sequenced copy's 2 ms at most

  CTrnClient();
  ~CTrnClient();
  CTrnClient(const CTrnClient&) = delete;
  CTrnClient& operator=(const CTrnClient&) = delete;

  // Attaches to the record `name` (validated by the caller). OROGRID_ code;
  // the reason in LastError().
  int Open(const char* name, bool countUser);

  int WaitPublication(std::uint32_t timeoutMs);
  // Each fills the first `bytes` of its record (at most the whole one), and
  // only with a whole copy: on OROGRID_OK, and on OROGRID_E_SERVER_GONE when
  // what the server left could be read whole. Elevation writes *metres and
  // *grid alike.
  int Snapshot(orogrid_snapshot* out, std::size_t bytes);
  int ReadAircraft(orogrid_aircraft* out, std::size_t bytes);
  int ReadStatus(orogrid_status* status, std::size_t bytes);
  // The simulation's last frame (through its companion "<record>.Sim" when
  // a simulation keeps one, else the record's fields) and its heartbeat.
  int ReadSimulation(orogrid_simulation* simulation, std::size_t bytes);
  int Elevation(double latitude, double longitude, int method, double* metres, int* grid);

  // What a call that returned `code` answers: OROGRID_E_SEGMENT_CUT instead
  // of a failure when a cut was caught during it. Every call of the C
  // interface ends here.
  int AfterCall(int code);

  const char* LastError() const { return m_szLastError; }
  // Sets the last-error text and returns code.
  int Fail(int code, const char* format, ...);
  void ClearError() { m_szLastError[0] = '\0'; }

  // Test seam: how snapshots without companion are taken.
  HeuristicOptions& Heuristics() { return m_heuristics; }
  bool HasCompanion() const { return m_pSeq != nullptr; }

 private:
  // Looks for the companion again when missing (at most every 250 ms).
  void RefreshCompanion(std::int64_t now);
  // Forgets the companion (its server is gone and another serves without).
  void DropCompanion(std::int64_t now);
  // Liveness at `now`: OROGRID_SERVER_*.
  int Liveness(std::int64_t now);
  // Watches updateCount (no companion) or the companion's heartbeat.
  void Observe(std::int64_t now);
  // OROGRID_E_SERVER_GONE when the server is known gone, else OROGRID_OK.
  int GoneCode(std::int64_t now);
  std::uint64_t FineFingerprint() const;
  // OROGRID_E_SEGMENT_CUT (with its text) once the record or the companion
  // has been cut short by another process, from then on; else OROGRID_OK.
  // mayLook false: only a fault already caught counts (no system call).
  int CutCode(bool mayLook = true);
  // CutCode for a cut found before (no look at all): the start of a call,
  // since reading a cut segment is harmless and the end of the call looks.
  int KnownCut();
  // Snapshot without the pixels: writes nothing from coarse_pixel on.
  int TakeSnapshot(orogrid_snapshot& out);

  CClientSegment* m_pRecordSegment;
  CClientSegment* m_pSeqSegment;
  CTrnSimWatch* m_pSimWatch;
  const TrnShmData* m_pData;
  const TrnSeqData* m_pSeq;
  std::int32_t* m_pCount;      // the record's userCount when this client counted itself
  orogrid_snapshot* m_pStage;  // where snapshots are copied before they are known whole
  char m_szSeqName[BaseSharedMemory::kNameSize];
  bool m_seqNameFits;
  std::int64_t m_nextSeqLookNs;
  std::int64_t m_nextPidCheckNs;
  bool m_pidAlive;
  std::uint32_t m_checkedProcessId;  // the process m_pidAlive is about
  bool m_seqDropped;                 // a companion was dropped: take only a live one
  bool m_seqGoneSeen;                // the companion's server was seen gone ...
  std::int32_t m_goneUpdateCount;    // ... while the record's count was this

  // Watching without companion.
  bool m_watching;
  std::int32_t m_lastUpdateCount;
  std::int64_t m_watchStartNs;
  std::int64_t m_lastUpdateChangeNs;
  bool m_updateMoved;
  std::uint64_t m_fingerprint;
  std::uint64_t m_seenPublications;
  std::int64_t m_lastPublicationSeenNs;

  HeuristicOptions m_heuristics;
  std::int64_t m_nextCutLookNs;               // next look at the segments' sizes
  char m_szCut[BaseSharedMemory::kNameSize];  // the segment found cut; "" while none is
  char m_szLastError[256];
};

}  // namespace client
