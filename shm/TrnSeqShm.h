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
// Threading: shared with other processes without locks; the server is the
// only writer of every field but none (readers never write). 64-bit fields
// are 8-byte aligned so they can be read and written atomically.
#pragma once

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
  std::uint8_t reserved[60];
};

static_assert(offsetof(TrnSeqData, sequence) == 8);
static_assert(offsetof(TrnSeqData, publicationCount) == 16);
static_assert(offsetof(TrnSeqData, lastPublicationNs) == 24);
static_assert(offsetof(TrnSeqData, heartbeatNs) == 32);
static_assert(offsetof(TrnSeqData, lastTickMicros) == 40);
static_assert(offsetof(TrnSeqData, mapWidth) == 48);
static_assert(offsetof(TrnSeqData, tickPeriodMillis) == 64);
static_assert(sizeof(TrnSeqData) == trn::kSeqRecordSize);
