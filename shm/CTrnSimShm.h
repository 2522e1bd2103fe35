// The two sides of the simulation companion "<record name>.Sim" (TrnSimData,
// see TrnSimShm.h).
//
// CTrnSimShm, the simulation's side: opens the companion or creates it and
// takes the segment's exclusive hold, which makes this object the one
// simulation of the record (a second one finds the hold taken). While it
// holds, it writes frames through the sequence and renews the heartbeat.
// Use: construct with the record's name; Claim; Start; per frame BeginFrame,
// the frame's fields (Data()), EndFrame; Beat; Release (or the destructor).
//
// CTrnSimWatch, a reader's side (the server and the client library): opens
// the companion when it exists, never creates it, looks for it again at most
// every 250 ms while it is missing, and copies whole frames.
//
// Threading: an object is used from one thread (on Win32 the hold belongs to
// the thread that took it, so Claim and Release run on the same thread); the
// companion is shared with other processes without locks.
#pragma once

#include <cstdint>

#include "platform/segment_hold.h"
#include "shm/BaseSharedMemory.h"
#include "shm/TrnSimShm.h"

class CTrnSimShm : public BaseSharedMemory {
 public:
  enum class ClaimResult {
    kClaimed,  // the hold is ours: this object is the record's simulation
    kBusy,     // another simulation holds it
    kFailed,   // no companion or no hold (the report says why)
  };

  // recordName: the terrain record's name (at most 38 characters, so that
  // the companion's name fits the 42 a segment name may have).
  explicit CTrnSimShm(const char* recordName);
  // Release.
  ~CTrnSimShm();
  CTrnSimShm(const CTrnSimShm&) = delete;
  CTrnSimShm& operator=(const CTrnSimShm&) = delete;

  // Opens or creates the companion and tries its hold, never waiting. Any
  // result but kClaimed leaves nothing mapped or held. Once per object.
  ClaimResult Claim();
  // After kClaimed: a sequence left odd by a simulation killed in the middle
  // of a frame is made even, the first frame (`initial`, with no heartbeat
  // yet and a frame count of 0) and processId are written, then the layout
  // version and the magic, last.
  void Start(const TrnSimFrame& initial, std::uint32_t processId);
  // The claimed companion, or null.
  TrnSimData* Data() const { return m_pSim; }
  // Sequence odd, before the frame's first write (companion or record).
  void BeginFrame();
  // Frame count up, sequence even, after the frame's last write.
  void EndFrame();
  // Heartbeat = nowNs (the machine-wide monotonic clock).
  void Beat(std::int64_t nowNs);
  // Clears the magic, gives the hold back and closes the companion. Later
  // calls do nothing.
  void Release();

 private:
  TrnSimData* m_pSim;
  platform::SegmentHold m_hold;
  bool m_nameFits;
};

class CTrnSimWatch : public BaseSharedMemory {
 public:
  // What the heartbeat says (Beat).
  enum class BeatState { kNone, kBeating, kSilent };

  explicit CTrnSimWatch(const char* recordName);
  // Closes the companion.
  ~CTrnSimWatch();
  CTrnSimWatch(const CTrnSimWatch&) = delete;
  CTrnSimWatch& operator=(const CTrnSimWatch&) = delete;

  // Opens the companion when it is not open yet and nowNs has passed the
  // next look (every 250 ms). True when it is open.
  bool Refresh(std::int64_t nowNs);
  // A simulation keeps the companion now (its magic is set).
  bool Valid() const;
  // A whole frame into out; false (out untouched) when no simulation keeps
  // the companion or its writer stays inside one frame for 50 ms (one killed
  // in the middle of a frame). A writer found stuck in the same frame again
  // is given up on at once, so that a stuck writer costs no more waits.
  bool ReadFrame(TrnSimFrame& out);
  // The heartbeat at nowNs: kNone without a valid companion or before the
  // first beat; kSilent once trn::kSimSilentNs have passed since the last.
  // *ageNs (may be null) gets the time since the last beat, -1 with kNone.
  BeatState Beat(std::int64_t nowNs, std::int64_t* ageNs) const;

 private:
  const TrnSimData* m_pSim;
  std::int64_t m_nextLookNs;
  std::uint32_t m_stuckSequence;  // odd value a writer was last stuck at; 0: none
  bool m_nameFits;
};
