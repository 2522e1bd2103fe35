// Publication watch over a terrain record's grids (see PublicationWatch.h).
// Threading: one thread; the record is read while others write it.
#include "tests/support/PublicationWatch.h"

#include <cstddef>

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
