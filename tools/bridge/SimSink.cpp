// The bridge's sink over the client library (see SimSink.h).
// Threading: one thread.
#include "tools/bridge/SimSink.h"

#include <cstdio>

static_assert(CBridge::kWaiting == OROGRID_SIM_WAITING &&
                  CBridge::kRunning == OROGRID_SIM_RUNNING && CBridge::kLost == OROGRID_SIM_LOST,
              "the bridge's states are the record's");

CSimSink::~CSimSink() { Close(true); }

bool CSimSink::Check(int code) {
  if (code == OROGRID_OK) {
    return true;
  }
  std::snprintf(m_szError, sizeof m_szError, "%s", orogrid_sim_last_error(m_pSim));
  if (m_szError[0] == '\0') {
    std::snprintf(m_szError, sizeof m_szError, "%s", orogrid_strerror(code));
  }
  return false;
}

bool CSimSink::Open(const char* segment) {
  Close(false);
  std::snprintf(m_szSegment, sizeof m_szSegment, "%s", segment);
  const int code = orogrid_sim_open(segment, OROGRID_SIM_OPEN_CREATE, &m_pSim);
  if (code != OROGRID_OK) {
    std::snprintf(m_szError, sizeof m_szError, "%s", orogrid_strerror(code));
    return false;
  }
  return true;
}

bool CSimSink::CreatedRecord() const { return orogrid_sim_created_record(m_pSim) == 1; }

void CSimSink::Close(bool lost) {
  orogrid_close(m_pReader);
  m_pReader = nullptr;
  orogrid_sim_close(m_pSim, lost ? 0u : OROGRID_SIM_CLOSE_KEEP_STATE);
  m_pSim = nullptr;
}

bool CSimSink::Write(double latitude, double longitude, double heading, double altitude) {
  return Check(orogrid_sim_write(m_pSim, latitude, longitude, heading, altitude));
}

bool CSimSink::SetState(std::int32_t state) { return Check(orogrid_sim_set_state(m_pSim, state)); }

bool CSimSink::Beat() { return Check(orogrid_sim_beat(m_pSim)); }

bool CSimSink::Elevation(double latitude, double longitude, double* metres) {
  // The reader is opened when first asked (the bridge may start before
  // Orogrid does) and kept: it sees a server that went, and the next one
  // that claims the record. A handle opened afresh after the server went
  // would have no history to tell the last publication from a live one.
  if (m_pReader == nullptr && orogrid_open(m_szSegment, 0, &m_pReader) != OROGRID_OK) {
    m_pReader = nullptr;
    return false;
  }
  return orogrid_elevation(m_pReader, latitude, longitude, OROGRID_NEAREST, metres, nullptr) ==
         OROGRID_OK;
}
