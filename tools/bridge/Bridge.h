// The bridge between a simulator's position stream and the terrain record:
// takes each datagram, writes the samples it carries, keeps the run state
// (waiting, running, lost when the stream stops), beats while the stream
// flows and once a second makes one status line. It knows nothing of
// sockets or shared memory: the program gives it datagrams and the time,
// and a sink that writes (the simulation API) and answers Orogrid's
// elevation.
//
// Threading: one thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/bridge/SampleParser.h"

// Where samples go.
class IBridgeSink {
 public:
  virtual ~IBridgeSink() = default;
  // Position (degrees), heading (degrees true) and altitude (metres above
  // sea level, NaN when unknown) as one step; beats as well.
  virtual bool Write(double latitude, double longitude, double heading, double altitude) = 0;
  virtual bool SetState(std::int32_t state) = 0;
  // Alive without moving.
  virtual bool Beat() = 0;
  // Orogrid's terrain elevation at a point, metres; false when none is
  // published there (no server yet, outside the grids).
  virtual bool Elevation(double latitude, double longitude, double* metres) = 0;
  // Why the last call failed.
  virtual const char* LastError() const = 0;
};

// Where the bridge's lines go (standard output in the program).
class IBridgeOutput {
 public:
  virtual ~IBridgeOutput() = default;
  virtual void Line(const char* text) = 0;
};

struct BridgeCounts {
  std::uint64_t datagrams = 0;
  std::uint64_t written = 0;  // samples written to the record
  std::uint64_t noFix = 0;    // well-formed datagrams without a position
  std::uint64_t refused = 0;
};

class CBridge {
 public:
  static constexpr std::int32_t kWaiting = 0;
  static constexpr std::int32_t kRunning = 1;
  static constexpr std::int32_t kLost = 0xFFFFFF;
  // A sample's altitude stands in for following samples without one (an
  // NMEA feed with RMC and GGA in separate datagrams) for this long.
  static constexpr double kAltitudeHoldSeconds = 2.0;

  // lossTimeout: seconds without a datagram after which the stream is lost.
  CBridge(IBridgeSink& sink, IBridgeOutput& output, double lossTimeout);

  // Sets the state to waiting. False when the sink failed.
  bool Start(double now);
  // One datagram that arrived at now (seconds on a monotonic clock);
  // truncated: it was longer than what was received. False only when the
  // sink failed (the error is in LastError); a bad datagram is refused,
  // counted and reported, and the call is true.
  bool OnDatagram(double now, const char* data, std::size_t size, bool truncated);
  // Called at least ten times a second: the beat while waiting for the
  // first sample, loss, the status line. False when the sink failed.
  bool Tick(double now);
  // The stream ended (the user stopped the program): one closing line. The
  // caller then closes the sink, which writes lost.
  void Finish(const char* why, double now);

  bool IsLost() const { return m_nState == kLost; }
  std::int32_t State() const { return m_nState; }
  const BridgeCounts& Counts() const { return m_counts; }
  const char* LastError() const { return m_szError; }

 private:
  bool Fail(const char* what);
  void StatusLine(double now);

  IBridgeSink& m_sink;
  IBridgeOutput& m_output;
  double m_dLossTimeout;
  std::int32_t m_nState = kWaiting;
  BridgeCounts m_counts;
  bool m_bHaveSample = false;
  BridgeSample m_last;  // the last sample written, with the heading and altitude used
  double m_dLastAltitudeAt = -1.0;
  double m_dLastDatagramAt = 0.0;
  double m_dLastBeatAt = -1.0;
  double m_dStartedAt = 0.0;
  double m_dNextLineAt = 0.0;
  double m_dLineAt = 0.0;
  std::uint64_t m_nWrittenAtLine = 0;
  std::uint64_t m_nRefusedAtLine = 0;
  bool m_bRefusalShown = false;  // one refusal reason a second is shown
  char m_szError[256] = "";
  char m_szLine[400] = "";
};
