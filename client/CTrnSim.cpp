// The simulation's writer of the terrain record (see CTrnSim.h).
// Threading: one thread per object; the shared record and companion are
// read by other processes while they are written here.
#include "client/CTrnSim.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <new>

#include "client/orogrid_sim.h"
#include "platform/monotonic_clock.h"
#include "platform/process_id.h"
#include "platform/shared_memory.h"

namespace client {

CTrnSim::CTrnSim()
    : m_pCompanion(nullptr),
      m_pRecord(nullptr),
      m_pData(nullptr),
      m_frame{},
      m_createdRecord(false),
      m_szLastError{} {}

CTrnSim::~CTrnSim() { Close(false); }

int CTrnSim::Fail(int code, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(m_szLastError, sizeof m_szLastError, format, args);
  va_end(args);
  return code;
}

int CTrnSim::NotOpen() { return Fail(OROGRID_E_INVALID_ARGUMENT, "the simulation is closed"); }

int CTrnSim::Open(const char* name, bool mayCreate) {
  if (m_pCompanion != nullptr || m_pRecord != nullptr) {
    return Fail(OROGRID_E_INVALID_ARGUMENT, "the simulation is open already");
  }
  // Nothing is made for a record that is not there and may not be made.
  if (!mayCreate && !platform::ShmExists(name)) {
    return Fail(OROGRID_E_NO_SEGMENT, "no terrain record \"%s\"", name);
  }
  // The companion's hold first: a second simulation must neither count
  // itself in nor write into a record that another one writes.
  auto* companion = new (std::nothrow) CTrnSimShm(name);
  if (companion == nullptr) {
    return Fail(OROGRID_E_OUT_OF_MEMORY, "out of memory");
  }
  switch (companion->Claim()) {
    case CTrnSimShm::ClaimResult::kClaimed:
      break;
    case CTrnSimShm::ClaimResult::kBusy:
      delete companion;
      return Fail(OROGRID_E_BUSY, "terrain record \"%s\": another simulation already writes it",
                  name);
    case CTrnSimShm::ClaimResult::kFailed: {
      const int code = companion->Refused() ? OROGRID_E_REFUSED : OROGRID_E_SYSTEM;
      Fail(code, "simulation companion of \"%s\": %s", name, companion->GetErrorText());
      delete companion;
      return code;
    }
  }
  auto* record = new (std::nothrow) CTrnShm(name, mayCreate);
  if (record == nullptr) {
    delete companion;
    return Fail(OROGRID_E_OUT_OF_MEMORY, "out of memory");
  }
  if (!record->IsConnected()) {
    int code = OROGRID_E_SYSTEM;
    if (record->Missing()) {
      code = OROGRID_E_NO_SEGMENT;
    } else if (record->Refused()) {
      code = OROGRID_E_REFUSED;
    } else if (record->IsMapped()) {
      code = OROGRID_E_VERSION_MISMATCH;
    }
    if (code == OROGRID_E_NO_SEGMENT) {
      Fail(code, "no terrain record \"%s\"", name);
    } else {
      Fail(code, "terrain record \"%s\": %s", name, record->Reason());
    }
    delete record;
    delete companion;
    return code;
  }
  m_pCompanion = companion;
  m_pRecord = record;
  m_pData = record->GetData();
  m_createdRecord = record->CreatedRecord();
  // The first frame is what the record holds now, so that a reader of the
  // companion sees the same values as one of the record.
  m_frame.latitude = TrnSimLoad(m_pData->aircraftLatitude);
  m_frame.longitude = TrnSimLoad(m_pData->aircraftLongitude);
  m_frame.heading = TrnSimLoad(m_pData->aircraftHeading);
  m_frame.altitude = std::numeric_limits<double>::quiet_NaN();
  m_frame.simulationState = TrnSimLoad(m_pData->simulationState);
  m_frame.frameCount = 0;
  m_pCompanion->Start(m_frame, platform::ThisProcessId());
  ClearError();
  return OROGRID_OK;
}

void CTrnSim::PutFrame() {
  TrnSimData* sim = m_pCompanion->Data();
  m_pCompanion->BeginFrame();
  TrnSimStore(sim->latitude, m_frame.latitude);
  TrnSimStore(sim->longitude, m_frame.longitude);
  TrnSimStore(sim->heading, m_frame.heading);
  TrnSimStore(sim->altitude, m_frame.altitude);
  TrnSimStore(sim->simulationState, m_frame.simulationState);
  TrnSimStore(m_pData->aircraftLatitude, m_frame.latitude);
  TrnSimStore(m_pData->aircraftLongitude, m_frame.longitude);
  TrnSimStore(m_pData->aircraftHeading, m_frame.heading);
  TrnSimStore(m_pData->simulationState, m_frame.simulationState);
  m_pCompanion->EndFrame();
  m_pCompanion->Beat(platform::MonotonicNanoseconds());
}

int CTrnSim::Write(double latitude, double longitude, double heading, double altitudeMetres) {
  if (m_pData == nullptr) {
    return NotOpen();
  }
  // Comparisons written so that NaN fails them.
  if (!(latitude >= -90.0 && latitude <= 90.0) || !(longitude >= -180.0 && longitude <= 180.0)) {
    return Fail(OROGRID_E_INVALID_ARGUMENT, "position %g, %g outside -90..90, -180..180", latitude,
                longitude);
  }
  if (!std::isfinite(heading)) {
    return Fail(OROGRID_E_INVALID_ARGUMENT, "heading %g is not a number of degrees", heading);
  }
  if (std::isinf(altitudeMetres)) {
    return Fail(OROGRID_E_INVALID_ARGUMENT, "altitude %g is not a number of metres (NaN: unknown)",
                altitudeMetres);
  }
  m_frame.latitude = latitude;
  m_frame.longitude = longitude;
  m_frame.heading = heading;
  m_frame.altitude = altitudeMetres;
  PutFrame();
  ClearError();
  return OROGRID_OK;
}

int CTrnSim::SetState(std::int32_t state) {
  if (m_pData == nullptr) {
    return NotOpen();
  }
  m_frame.simulationState = state;
  PutFrame();
  ClearError();
  return OROGRID_OK;
}

int CTrnSim::Beat() {
  if (m_pData == nullptr) {
    return NotOpen();
  }
  m_pCompanion->Beat(platform::MonotonicNanoseconds());
  ClearError();
  return OROGRID_OK;
}

void CTrnSim::Close(bool keepState) {
  if (m_pData != nullptr && !keepState) {
    SetState(OROGRID_SIM_LOST);
  }
  m_pData = nullptr;
  // The companion goes first, so that no reader takes its last frame for a
  // live simulation's once the record is given back.
  delete m_pCompanion;
  m_pCompanion = nullptr;
  delete m_pRecord;
  m_pRecord = nullptr;
}

}  // namespace client
