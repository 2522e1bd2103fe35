// The bridge's logic (see Bridge.h).
// Threading: one thread.
#include "tools/bridge/Bridge.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace {

constexpr double kBeatEverySeconds = 0.1;

// "63.96693 N  22.29475 W"
void FormatPosition(char* out, std::size_t size, double latitude, double longitude) {
  std::snprintf(out, size, "%.5f %c  %.5f %c", std::fabs(latitude), latitude < 0.0 ? 'S' : 'N',
                std::fabs(longitude), longitude < 0.0 ? 'W' : 'E');
}

}  // namespace

CBridge::CBridge(IBridgeSink& sink, IBridgeOutput& output, double lossTimeout)
    : m_sink(sink), m_output(output), m_dLossTimeout(lossTimeout) {}

bool CBridge::Fail(const char* what) {
  std::snprintf(m_szError, sizeof m_szError, "cannot %s: %s", what, m_sink.LastError());
  return false;
}

bool CBridge::Start(double now) {
  m_dStartedAt = now;
  m_dLineAt = now;
  m_dNextLineAt = now + 1.0;
  if (!m_sink.SetState(kWaiting)) {
    return Fail("set the state to waiting");
  }
  m_nState = kWaiting;
  return true;
}

bool CBridge::OnDatagram(double now, const char* data, std::size_t size, bool truncated) {
  ++m_counts.datagrams;
  BridgeSample sample;
  char reason[160];
  SampleKind kind = SampleKind::kRefused;
  if (truncated) {
    std::snprintf(reason, sizeof reason, "datagram longer than %lu bytes",
                  static_cast<unsigned long>(kMaxDatagramBytes));
  } else {
    kind = ParseDatagram(data, size, &sample, reason, sizeof reason);
  }
  if (kind == SampleKind::kRefused) {
    ++m_counts.refused;
    if (!m_bRefusalShown) {
      m_bRefusalShown = true;
      std::snprintf(m_szLine, sizeof m_szLine, "orogrid-bridge: refused a datagram: %s", reason);
      m_output.Line(m_szLine);
    }
    return true;
  }
  m_dLastDatagramAt = now;
  if (kind == SampleKind::kNoFix) {
    ++m_counts.noFix;
    if (m_dLastBeatAt < 0.0 || now - m_dLastBeatAt >= kBeatEverySeconds - 1e-6) {
      if (!m_sink.Beat()) {
        return Fail("beat");
      }
      m_dLastBeatAt = now;
    }
    return true;
  }
  if (!sample.hasHeading) {
    sample.heading = m_bHaveSample ? m_last.heading : 0.0;
  }
  if (sample.hasAltitude) {
    m_dLastAltitudeAt = now;
  } else if (m_bHaveSample && m_last.hasAltitude &&
             now - m_dLastAltitudeAt <= kAltitudeHoldSeconds) {
    sample.hasAltitude = true;
    sample.altitude = m_last.altitude;
  }
  const double altitude =
      sample.hasAltitude ? sample.altitude : std::numeric_limits<double>::quiet_NaN();
  if (!m_sink.Write(sample.latitude, sample.longitude, sample.heading, altitude)) {
    return Fail("write the position");
  }
  m_dLastBeatAt = now;
  ++m_counts.written;
  m_last = sample;
  m_bHaveSample = true;
  if (m_nState != kRunning) {
    // The position is in place before anyone is told the simulation runs.
    if (!m_sink.SetState(kRunning)) {
      return Fail("set the state to running");
    }
    if (m_nState == kLost) {
      m_output.Line("orogrid-bridge: the stream is back; simulationState set to running (1)");
    } else {
      m_output.Line("orogrid-bridge: first sample; simulationState set to running (1)");
    }
    m_nState = kRunning;
  }
  return true;
}

bool CBridge::Tick(double now) {
  // Until the simulator's first sample the bridge itself is the simulation
  // the server waits for: it beats, or the server would take a simulator
  // slow to start (a minute is common) for one that died.
  if (m_nState == kWaiting &&
      (m_dLastBeatAt < 0.0 || now - m_dLastBeatAt >= kBeatEverySeconds - 1e-6)) {
    if (!m_sink.Beat()) {
      return Fail("beat");
    }
    m_dLastBeatAt = now;
  }
  if (m_nState == kRunning && now - m_dLastDatagramAt >= m_dLossTimeout) {
    if (!m_sink.SetState(kLost)) {
      return Fail("set the state to lost");
    }
    m_nState = kLost;
    std::snprintf(m_szLine, sizeof m_szLine,
                  "orogrid-bridge: stream lost: nothing for %.1f s; simulationState set to lost "
                  "(0xFFFFFF)",
                  now - m_dLastDatagramAt);
    m_output.Line(m_szLine);
  }
  if (now >= m_dNextLineAt) {
    StatusLine(now);
    m_dLineAt = now;
    m_nWrittenAtLine = m_counts.written;
    m_nRefusedAtLine = m_counts.refused;
    m_bRefusalShown = false;
    // A late tick does not make a burst of lines.
    m_dNextLineAt = now >= m_dNextLineAt + 1.0 ? now + 1.0 : m_dNextLineAt + 1.0;
  }
  return true;
}

void CBridge::StatusLine(double now) {
  const double span = now - m_dLineAt;
  const double rate =
      span > 0.0 ? static_cast<double>(m_counts.written - m_nWrittenAtLine) / span : 0.0;
  std::size_t used = 0;
  const auto append = [&](const char* format, ...) {
    if (used >= sizeof m_szLine - 1) {
      return;  // full: the rest of the line is cut
    }
    std::va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(m_szLine + used, sizeof m_szLine - used, format, args);
    va_end(args);
    used = n < 0 ? sizeof m_szLine - 1
                 : std::min(sizeof m_szLine - 1, used + static_cast<std::size_t>(n));
  };
  append("orogrid-bridge: %.1f samples/s", rate);
  if (!m_bHaveSample) {
    append("  waiting for the first sample");
  } else {
    char position[64];
    FormatPosition(position, sizeof position, m_last.latitude, m_last.longitude);
    append("  %s  heading %.1f", position, m_last.heading);
    if (m_last.hasAltitude) {
      append("  altitude %.0f m", m_last.altitude);
    }
    double orogrid = 0.0;
    const bool haveOrogrid = m_sink.Elevation(m_last.latitude, m_last.longitude, &orogrid);
    if (haveOrogrid) {
      append("  ground: Orogrid %.0f m", orogrid);
    } else {
      append("  ground: Orogrid -");
    }
    if (m_last.hasGroundElevation) {
      append(", simulator %.1f m", m_last.groundElevation);
      if (haveOrogrid) {
        append(", difference %+.1f m", orogrid - m_last.groundElevation);
      }
    }
    if (m_nState == kLost) {
      append("  (lost)");
    }
  }
  if (m_counts.refused > m_nRefusedAtLine) {
    append("  %lu refused", static_cast<unsigned long>(m_counts.refused - m_nRefusedAtLine));
  }
  m_output.Line(m_szLine);
}

void CBridge::Finish(const char* why, double now) {
  std::snprintf(m_szLine, sizeof m_szLine,
                "orogrid-bridge: %s after %.1f s; %lu samples written, %lu without a fix, %lu "
                "refused; simulationState set to lost (0xFFFFFF)",
                why, now - m_dStartedAt, static_cast<unsigned long>(m_counts.written),
                static_cast<unsigned long>(m_counts.noFix),
                static_cast<unsigned long>(m_counts.refused));
  m_output.Line(m_szLine);
  m_nState = kLost;
}
