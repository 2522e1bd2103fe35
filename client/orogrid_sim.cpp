// The C interface of the simulation's side over CTrnSim: argument checks and
// a catch of everything at the boundary, so that no exception reaches a C
// caller. Threading: see orogrid_sim.h.
#include "client/orogrid_sim.h"

#include <cstring>
#include <exception>
#include <new>

#include "client/CTrnClient.h"
#include "client/CTrnSim.h"
#include "shm/TrnSimShm.h"

struct orogrid_sim {
  client::CTrnSim writer;
};

namespace {

// Runs body, turning any exception into a code.
template <class Body>
int Guard(orogrid_sim* s, Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return s != nullptr ? s->writer.Fail(OROGRID_E_OUT_OF_MEMORY, "out of memory")
                        : OROGRID_E_OUT_OF_MEMORY;
  } catch (const std::exception& e) {
    return s != nullptr ? s->writer.Fail(OROGRID_E_INTERNAL, "internal fault: %s", e.what())
                        : OROGRID_E_INTERNAL;
  } catch (...) {
    return s != nullptr ? s->writer.Fail(OROGRID_E_INTERNAL, "internal fault: unknown exception")
                        : OROGRID_E_INTERNAL;
  }
}

// A record name whose companion name "<name>.Sim" is still a segment name.
bool ValidSimRecordName(const char* name) {
  return client::ValidSegmentName(name) && std::strlen(name) + sizeof trn::kSimNameSuffix - 1 <= 42;
}

}  // namespace

extern "C" {

OROGRID_API int OROGRID_CALL orogrid_sim_open(const char* segment, unsigned flags,
                                              orogrid_sim** sim) {
  if (sim == nullptr) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  *sim = nullptr;
  const char* name = segment == nullptr ? trn::kMappingName : segment;
  if (!ValidSimRecordName(name) || (flags & ~OROGRID_SIM_OPEN_CREATE) != 0U) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  return Guard(nullptr, [&] {
    orogrid_sim* made = new (std::nothrow) orogrid_sim;
    if (made == nullptr) {
      return OROGRID_E_OUT_OF_MEMORY;
    }
    const int code = made->writer.Open(name, (flags & OROGRID_SIM_OPEN_CREATE) != 0U);
    if (code != OROGRID_OK) {
      delete made;
      return code;
    }
    *sim = made;
    return OROGRID_OK;
  });
}

OROGRID_API int OROGRID_CALL orogrid_sim_created_record(const orogrid_sim* sim) {
  return sim != nullptr && sim->writer.CreatedRecord() ? 1 : 0;
}

OROGRID_API int OROGRID_CALL orogrid_sim_write(orogrid_sim* sim, double latitude, double longitude,
                                               double heading, double altitude_m) {
  if (sim == nullptr) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  return Guard(sim, [&] { return sim->writer.Write(latitude, longitude, heading, altitude_m); });
}

OROGRID_API int OROGRID_CALL orogrid_sim_set_state(orogrid_sim* sim, int32_t state) {
  if (sim == nullptr) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  return Guard(sim, [&] { return sim->writer.SetState(state); });
}

OROGRID_API int OROGRID_CALL orogrid_sim_beat(orogrid_sim* sim) {
  if (sim == nullptr) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  return Guard(sim, [&] { return sim->writer.Beat(); });
}

OROGRID_API void OROGRID_CALL orogrid_sim_close(orogrid_sim* sim, unsigned flags) {
  if (sim == nullptr) {
    return;
  }
  try {
    sim->writer.Close((flags & OROGRID_SIM_CLOSE_KEEP_STATE) != 0U);
    delete sim;
  } catch (...) {
    // Nothing in Close throws; nothing may leave here anyway.
  }
}

OROGRID_API const char* OROGRID_CALL orogrid_sim_last_error(const orogrid_sim* sim) {
  if (sim == nullptr) {
    return "no simulation handle";
  }
  return sim->writer.LastError();
}

}  // extern "C"
