// Publication watch and status line of the simulation stand-in.
// Threading: one thread; the record is read while others write it.
#include "tools/sim/SimMonitor.h"

#include <cmath>
#include <cstdio>
#include <cstring>

extern const char g_szSimMonitorRevision[];
const char g_szSimMonitorRevision[] = "%Z% OrogridTools KT4101:04 SimMonitor $Revision: 1.0 $";

namespace {

std::uint64_t Fnv(std::uint64_t hash, const void* data, std::size_t bytes) {
  const volatile unsigned char* p = static_cast<const volatile unsigned char*>(data);
  for (std::size_t i = 0; i < bytes; ++i) {
    hash ^= p[i];
    hash *= 1099511628211ULL;
  }
  return hash;
}

}  // namespace

std::uint64_t GridFingerprint(const TrnShmData& record) {
  std::uint64_t hash = 14695981039346656037ULL;
  hash = Fnv(hash, record.coarseGrid, sizeof record.coarseGrid);
  return Fnv(hash, record.fineGrid, sizeof record.fineGrid);
}

void CPublicationWatch::Observe(std::uint64_t fingerprint, double now) {
  if (!m_started) {
    m_started = true;
    m_fingerprint = fingerprint;
    return;
  }
  if (fingerprint != m_fingerprint) {
    m_fingerprint = fingerprint;
    m_lastChange = now;
    ++m_publications;
  }
}

void FormatStatusLine(char* buffer, std::size_t size, const StatusValues& v) {
  char age[32];
  if (v.gridAge < 0.0) {
    std::snprintf(age, sizeof age, "none seen");
  } else {
    std::snprintf(age, sizeof age, "%.1f s ago", v.gridAge);
  }
  std::snprintf(buffer, size,
                "t=%.1fs %08.5f%c %09.5f%c hdg %05.1f | elev %d m cell %d px (%d,%d) sub (%d,%d) "
                "px/m %.3g | updates %d (%.1f/s) grids %s",
                v.elapsed, std::fabs(v.latitude), v.latitude < 0.0 ? 'S' : 'N',
                std::fabs(v.longitude), v.longitude < 0.0 ? 'W' : 'E', v.heading, v.elevation,
                v.cellId, v.pixelX, v.pixelY, v.subX, v.subY, v.pixelsPerMetre, v.updateCount,
                v.updatesPerSecond, age);
}
