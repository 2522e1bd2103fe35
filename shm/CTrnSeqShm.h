// CTrnSeqShm: the server's side of the companion record (TrnSeqData, see
// TrnSeqShm.h) beside a terrain record: "<record name>.Seq", 128 bytes. It
// opens the companion or creates it, and takes the segment's exclusive hold,
// which makes this object the one server of the record; a second server
// finds the hold taken and learns the holder's process id from the
// companion. While it holds, it brackets each tick's writes into the
// terrain record with the sequence steps and keeps the heartbeat, the
// publication count and the tick times.
//
// Without the hold (the companion refused, as a record writable by others
// or owned by another user is, or not to be made, or the hold failing)
// Attach gives kUnavailable with the reason: the caller must not serve.
//
// Use: construct with the record's name; HoldRecord, then Attach, before
// touching the record.
// kServing: call Announce once the server is ready (magic last, so readers
// trust nothing before), then per tick OpenTick, the work that reads the
// map, BeginTick, the record's writes, NotePublication on a publishing
// tick, EndTick, CloseTick. Release
// (or the destructor) gives the hold back and closes the companion.
//
// Threading: the owner's thread (the dialog's); the companion is shared with
// readers in other processes without locks, through the sequence protocol.
#pragma once

#include <cstdint>

#include "platform/segment_hold.h"
#include "shm/BaseSharedMemory.h"
#include "shm/TrnSeqShm.h"

extern const char g_szCTrnSeqShmRevision[];

class CTrnSeqShm : public BaseSharedMemory {
 public:
  static constexpr const char* kCaption = "CTrnSeqShm::Attach";

  enum class AttachResult {
    kServing,          // the hold is ours: this object serves the record
    kServedElsewhere,  // another server holds it (HolderProcessId)
    kUnavailable,      // no companion or no hold (Reason says why)
    kNoRecord,         // HoldRecord: the record does not exist (yet)
  };
  static constexpr int kReasonSize = 256;

  // recordName: the terrain record's name (at most 38 characters, so that
  // the companion's name fits the 42 a segment name may have).
  explicit CTrnSeqShm(const char* recordName);
  // Release.
  ~CTrnSeqShm();
  CTrnSeqShm(const CTrnSeqShm&) = delete;
  CTrnSeqShm& operator=(const CTrnSeqShm&) = delete;

  // Opens or creates the companion and tries the hold; never waits for the
  // hold. kServing: the companion carries this process's id, an even
  // sequence past anything a reader saw, zero counts, a generation one up,
  // and no magic until Announce. Any other result
  // leaves nothing mapped or held. Once per object.
  AttachResult Attach();
  // The serving process's id as the companion shows it (kServedElsewhere);
  // 0 when that server has not written it yet.
  std::uint32_t HolderProcessId() const { return m_holderProcessId; }
  bool Serving() const { return m_pSeq != nullptr; }
  // Why Attach gave kUnavailable, in one line; "" otherwise.
  const char* Reason() const { return m_szReason; }
  const TrnSeqData* Data() const { return m_pSeq; }

  // The server is ready: map size (pixels), tick period (ms) and a first
  // heartbeat, then the layout version and the magic.
  void Announce(int mapWidth, int mapHeight, std::uint32_t tickPeriodMillis, std::int64_t nowNs);
  // The tick's first beat, before any of its work: heartbeat = nowNs
  // (monotonic clock) and tickOpen 1, so readers know a tick is in progress.
  void OpenTick(std::int64_t nowNs);
  // Sequence odd and heartbeat = nowNs (monotonic clock), before the tick's
  // first write into the record.
  void BeginTick(std::int64_t nowNs);
  // A grid publication in this tick: the count rises, its time is nowNs.
  void NotePublication(std::int64_t nowNs);
  // Sequence even, after the tick's last write into the record.
  void EndTick();
  // The whole tick's duration (ns): last and largest tick, microseconds.
  void NoteTickDuration(std::int64_t tickNs);
  // The tick's last beat, after all its work: NoteTickDuration(tickNs),
  // then heartbeat = nowNs and tickOpen 0.
  void CloseTick(std::int64_t nowNs, std::int64_t tickNs);
  // The server's first step, before it writes anything into the record or
  // the companion: the hold on the record itself (whose object no removal
  // or replacement of the companion's name reaches). It opens the record by
  // name, never creating it, and keeps it open while it holds. kNoRecord:
  // nothing to hold yet, no live record of that name (create it, then call
  // again) or one the record's own attach refuses (and says why). On
  // kServedElsewhere the holder's id is read from the companion, read-only,
  // and Reason() names it; kUnavailable leaves the reason too. The caller
  // must not serve without kServing.
  AttachResult HoldRecord();
  // Gives the holds back and closes the companion; its name goes when no
  // reader holds it any more. Later calls do nothing.
  void Release();

 private:
  void Claim();
  // The process id the holder's companion shows, read-only; 0 when none.
  std::uint32_t PeekHolder();

  TrnSeqData* m_pSeq;
  platform::SegmentHold m_hold;        // on the companion
  platform::SegmentHold m_recordHold;  // on the record
  platform::ShmHandle m_hRecord;       // the record, open while it is held
  std::uint32_t m_holderProcessId;
  bool m_attached;
  bool m_nameFits;
  char m_szReason[kReasonSize];
  char m_szRecordName[kNameSize];
};
