// The companion record beside the terrain record: a small named mapping
// called "<record name>.Seq" (for the default record "TrnShmSpace.Seq") that
// lets readers take tear-free copies of what the server publishes and tells
// them whether a server is alive. The terrain record's layout stays as it is;
// a reader that finds no companion (an older server) falls back on reading
// the record alone.
//
// Sequence protocol (a seqlock): the one server makes `sequence` odd before
// it starts writing the grids and the tick's fields into the terrain record
// and even again when it has finished, with release ordering on both steps.
// A reader copies what it needs between two acquire loads of `sequence` and
// keeps the copy only when both loads gave the same even value.
//
// Claims: a server that takes the record over steps the sequence through an
// odd value to even (a predecessor killed inside a tick left it odd, and
// the record half written), with `publicationCount` back at 0, `generation`
// one up and `claimSequence` the even value it ends on, all inside that odd
// step. A reader reads publicationCount and claimSequence inside its own
// window: grids are whole only once publicationCount > 0, the tick's other
// fields only once the sequence has moved past claimSequence. An older
// server leaves generation and claimSequence at 0 (the reserved bytes it
// never wrote).
//
// Heartbeat: the server writes heartbeatNs as each tick opens (tickOpen 1)
// and again as it closes (tickOpen 0). Between ticks the heartbeat is never
// older than the pause between two ticks; inside a tick it is as old as the
// tick, which a cold or remote map may make long: readers allow a tick in
// progress more time (client/CTrnClient.h). An older server leaves tickOpen
// at 0 and beats only as a tick opens.
//
// Threading: shared with other processes without locks; the server is the
// only writer of every field but none (readers never write). 64-bit fields
// are 8-byte aligned so they can be read and written atomically.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace trn {

inline constexpr const char kSeqNameSuffix[] = ".Seq";
inline constexpr std::uint32_t kSeqMagic = 0x5153524FU;  // "ORSQ" in memory order
inline constexpr std::uint32_t kSeqLayoutVersion = 1;
inline constexpr std::uint32_t kSeqRecordSize = 128;

}  // namespace trn

struct TrnSeqData {
  std::uint32_t magic;             // kSeqMagic once the server has filled the record
  std::uint32_t layoutVersion;     // kSeqLayoutVersion
  std::uint32_t sequence;          // odd while the server writes the terrain record
  std::uint32_t serverProcessId;   // the serving process
  std::uint64_t publicationCount;  // grid publications since the server started
  std::int64_t lastPublicationNs;  // monotonic clock at the last publication, ns
  std::int64_t heartbeatNs;        // monotonic clock at the server's last tick, ns
  std::uint32_t lastTickMicros;    // duration of the last tick, microseconds
  std::uint32_t maxTickMicros;     // longest tick since the server started
  std::int32_t mapWidth;           // terrain map, pixels
  std::int32_t mapHeight;          // terrain map, pixels
  std::int32_t pixelsPerDegreeX;   // mapWidth / 360
  std::int32_t pixelsPerDegreeY;   // mapHeight / 180
  std::uint32_t tickPeriodMillis;  // the server's tick period (120)
  std::uint32_t generation;        // claims of the record: one more per server
  std::uint32_t claimSequence;     // the sequence as the last claim left it
  std::uint32_t tickOpen;          // 1 from a tick's first beat to its last, else 0
  std::uint8_t reserved[48];
};

static_assert(offsetof(TrnSeqData, sequence) == 8);
static_assert(offsetof(TrnSeqData, publicationCount) == 16);
static_assert(offsetof(TrnSeqData, lastPublicationNs) == 24);
static_assert(offsetof(TrnSeqData, heartbeatNs) == 32);
static_assert(offsetof(TrnSeqData, lastTickMicros) == 40);
static_assert(offsetof(TrnSeqData, mapWidth) == 48);
static_assert(offsetof(TrnSeqData, tickPeriodMillis) == 64);
static_assert(offsetof(TrnSeqData, generation) == 68);
static_assert(offsetof(TrnSeqData, claimSequence) == 72);
static_assert(offsetof(TrnSeqData, tickOpen) == 76);
static_assert(sizeof(TrnSeqData) == trn::kSeqRecordSize);

// Writer side, the server only. Begin makes the sequence odd before the first
// write into the terrain record; End makes it even after the last one.
inline void TrnSeqWriteBegin(TrnSeqData* seq) {
  std::atomic_ref<std::uint32_t> sequence(seq->sequence);
  sequence.store(sequence.load(std::memory_order_relaxed) + 1U, std::memory_order_relaxed);
  // Keeps the record's writes after the odd value, for every reader.
  std::atomic_thread_fence(std::memory_order_release);
}

inline void TrnSeqWriteEnd(TrnSeqData* seq) {
  std::atomic_ref<std::uint32_t> sequence(seq->sequence);
  sequence.store(sequence.load(std::memory_order_relaxed) + 1U, std::memory_order_release);
}

// Reader side. Take the value of TrnSeqReadBegin, copy, then ask
// TrnSeqReadValid whether the copy is whole: false while the server was
// writing (odd value) or when it wrote in between (the value moved).
inline std::uint32_t TrnSeqReadBegin(const TrnSeqData* seq) {
  std::atomic_ref<std::uint32_t> sequence(const_cast<std::uint32_t&>(seq->sequence));
  return sequence.load(std::memory_order_acquire);
}

inline bool TrnSeqReadValid(const TrnSeqData* seq, std::uint32_t begin) {
  // Keeps the copy's reads before the second look at the sequence.
  std::atomic_thread_fence(std::memory_order_acquire);
  std::atomic_ref<std::uint32_t> sequence(const_cast<std::uint32_t&>(seq->sequence));
  return (begin & 1U) == 0 && sequence.load(std::memory_order_relaxed) == begin;
}
