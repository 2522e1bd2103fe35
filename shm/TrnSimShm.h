// The simulation companion beside the terrain record: a small named mapping
// called "<record name>.Sim" (for the default record "TrnShmSpace.Sim") that a
// simulation writing through the client library keeps. It carries the
// aircraft's values as whole frames, the simulation's heartbeat and values
// the record has no room for (the altitude). The terrain record's layout
// stays as it is, and the simulation writes the same values into the
// record's own fields too, for readers that do not know this companion.
//
// Sequence protocol (a seqlock, as in TrnSeqShm.h): the one simulation makes
// `sequence` odd before it writes a frame and even when it has finished,
// with release ordering; a reader copies the frame between two acquire loads
// and keeps it only when both gave the same even value. The heartbeat is one
// atomic 64-bit store of the machine-wide monotonic clock outside the
// sequence (0: the simulation has not beaten yet).
//
// Lifetime: the simulation fills the record and sets `magic` last when it
// opens, and clears `magic` when it closes, so a reader trusts the frames
// only while a simulation keeps the companion. A simulation that is killed
// leaves the magic set and its heartbeat standing still.
//
// Threading: shared with other processes without locks; the simulation
// holding the companion's segment hold is the only writer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace trn {

inline constexpr const char kSimNameSuffix[] = ".Sim";
inline constexpr std::uint32_t kSimMagic = 0x4D49534FU;  // "OSIM" in memory order
inline constexpr std::uint32_t kSimLayoutVersion = 1;
inline constexpr std::uint32_t kSimRecordSize = 128;
// A simulation that beat and then stays silent this long is taken for lost.
inline constexpr int kSimSilentSeconds = 5;
inline constexpr std::int64_t kSimSilentNs = kSimSilentSeconds * 1000000000LL;

}  // namespace trn

struct TrnSimData {
  std::uint32_t magic;           // kSimMagic while a simulation keeps the companion
  std::uint32_t layoutVersion;   // kSimLayoutVersion
  std::uint32_t sequence;        // odd while the simulation writes a frame
  std::uint32_t simProcessId;    // the simulation's process
  std::uint64_t frameCount;      // frames written since the simulation opened
  std::int64_t heartbeatNs;      // monotonic clock at its last beat, ns; 0: none yet
  double latitude;               // degrees, north positive
  double longitude;              // degrees, east positive
  double heading;                // degrees true
  double altitude;               // metres above sea level; NaN: unknown
  std::int32_t simulationState;  // as the record's simulationState
  std::uint8_t reserved[60];
};

static_assert(offsetof(TrnSimData, sequence) == 8);
static_assert(offsetof(TrnSimData, frameCount) == 16);
static_assert(offsetof(TrnSimData, heartbeatNs) == 24);
static_assert(offsetof(TrnSimData, latitude) == 32);
static_assert(offsetof(TrnSimData, altitude) == 56);
static_assert(offsetof(TrnSimData, simulationState) == 64);
static_assert(sizeof(TrnSimData) == trn::kSimRecordSize);

// One frame as a reader copies it.
struct TrnSimFrame {
  double latitude;
  double longitude;
  double heading;
  double altitude;
  std::int32_t simulationState;
  std::uint64_t frameCount;
};

// Plain loads and stores of a shared field, atomic so that no half of a
// 64-bit value is ever seen.
template <class T>
T TrnSimLoad(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}
template <class T>
void TrnSimStore(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

// The sequence's step that ends a frame: even again, after every write of
// the frame (release ordering).
inline void TrnSimSequenceEnd(std::uint32_t& sequence) {
  std::atomic_ref<std::uint32_t> value(sequence);
  value.store(value.load(std::memory_order_relaxed) + 1U, std::memory_order_release);
}
