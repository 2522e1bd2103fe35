// The C interface over CTrnClient: argument checks, sizes, and a catch of
// everything at the boundary so that no exception reaches a C caller.
// Threading: see orogrid_client.h.
#include "client/orogrid_client.h"

#include <cstddef>
#include <cstring>
#include <exception>
#include <new>

#include "client/CTrnClient.h"
#include "client/TrnElevation.h"
#include "client/orogrid_sim.h"

#ifndef OROGRID_CLIENT_VERSION_TEXT
#define OROGRID_CLIENT_VERSION_TEXT "0.0.0"
#endif

extern const char g_szOrogridClientRevision[];
const char g_szOrogridClientRevision[] =
    "%Z% OrogridClient KT4201:02 orogrid_client $Revision: 1.0 $";

struct orogrid_client {
  client::CTrnClient reader;
};

namespace {

int Internal(orogrid_client* c, const char* what) {
  if (c != nullptr) {
    return c->reader.Fail(OROGRID_E_INTERNAL, "internal fault: %s", what);
  }
  return OROGRID_E_INTERNAL;
}

// Runs body, turning any exception into a code.
template <class Body>
int Guard(orogrid_client* c, Body body) {
  try {
    const int code = body();
    return c != nullptr ? c->reader.AfterCall(code) : code;
  } catch (const std::bad_alloc&) {
    return c != nullptr ? c->reader.Fail(OROGRID_E_OUT_OF_MEMORY, "out of memory")
                        : OROGRID_E_OUT_OF_MEMORY;
  } catch (const std::exception& e) {
    return Internal(c, e.what());
  } catch (...) {
    return Internal(c, "unknown exception");
  }
}

int TooSmall(orogrid_client* c, const char* what, std::size_t given, std::size_t needed) {
  return c->reader.Fail(OROGRID_E_BUFFER_TOO_SMALL, "%s: %zu bytes given, %zu needed", what, given,
                        needed);
}

// The size each structure had when it was first published. A caller built
// against any header since then passes its own sizeof, never less than
// this; the structures only grow at their end.
template <class Record>
struct FirstSize;
template <>
struct FirstSize<orogrid_snapshot> {
  static constexpr std::size_t kBytes = 602536;
};
template <>
struct FirstSize<orogrid_aircraft> {
  static constexpr std::size_t kBytes = 64;
};
template <>
struct FirstSize<orogrid_status> {
  static constexpr std::size_t kBytes = 80;
};
template <>
struct FirstSize<orogrid_simulation> {
  static constexpr std::size_t kBytes = sizeof(orogrid_simulation);
};
static_assert(offsetof(orogrid_snapshot, fine) + sizeof(orogrid_snapshot::fine) ==
              FirstSize<orogrid_snapshot>::kBytes);
static_assert(offsetof(orogrid_aircraft, simulation_state) + sizeof(int32_t) ==
              FirstSize<orogrid_aircraft>::kBytes);
static_assert(offsetof(orogrid_status, reserved0) + sizeof(int32_t) ==
              FirstSize<orogrid_status>::kBytes);

// A call that fills the caller's record of size bytes: a null client, a null
// record and a record smaller than the structure's first published size are
// refused before body runs (through Guard). body(bytes) fills the first
// bytes of the record: all of this library's structure, or as much of it as
// an older caller's has room for. what names the record in the error text.
template <class Record, class Body>
int FillRecord(orogrid_client* c, Record* record, std::size_t size, const char* what, Body body) {
  if (c == nullptr) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  if (record == nullptr) {
    return c->reader.Fail(OROGRID_E_INVALID_ARGUMENT, "%s: null pointer", what);
  }
  if (size < FirstSize<Record>::kBytes) {
    return TooSmall(c, what, size, FirstSize<Record>::kBytes);
  }
  const std::size_t bytes = size < sizeof(Record) ? size : sizeof(Record);
  return Guard(c, [&] { return body(bytes); });
}

struct SnapshotGrids {
  const orogrid_snapshot* s;
  TrnGridPoint Coarse(int i, int j) const {
    TrnGridPoint p;
    std::memcpy(&p, &s->coarse[i][j], sizeof p);
    return p;
  }
  TrnGridPoint Fine(int cx, int cy, int sx, int sy) const {
    TrnGridPoint p;
    std::memcpy(&p, &s->fine[cx][cy][sx][sy], sizeof p);
    return p;
  }
};
static_assert(sizeof(orogrid_point) == sizeof(TrnGridPoint));

}  // namespace

extern "C" {

OROGRID_API const char* OROGRID_CALL orogrid_version(void) { return OROGRID_CLIENT_VERSION_TEXT; }

OROGRID_API int OROGRID_CALL orogrid_api_version(void) { return OROGRID_CLIENT_API_VERSION; }

OROGRID_API const char* OROGRID_CALL orogrid_strerror(int code) {
  switch (code) {
    case OROGRID_OK:
      return "no error";
    case OROGRID_E_INVALID_ARGUMENT:
      return "invalid argument";
    case OROGRID_E_BUFFER_TOO_SMALL:
      return "structure or buffer too small for this library version";
    case OROGRID_E_NO_SEGMENT:
      return "no terrain record: start orogrid or the simulation first";
    case OROGRID_E_REFUSED:
      return "terrain record refused: too small, another user's, or writable by others";
    case OROGRID_E_VERSION_MISMATCH:
      return "terrain record of another interface version";
    case OROGRID_E_SYSTEM:
      return "the operating system refused the terrain record";
    case OROGRID_E_TIMEOUT:
      return "no publication within the time given";
    case OROGRID_E_UNSETTLED:
      return "the grids kept changing while being copied";
    case OROGRID_E_OUTSIDE_AREA:
      return "outside the published area";
    case OROGRID_E_NO_DATA:
      return "the server has published no grids yet";
    case OROGRID_E_SERVER_GONE:
      return "the terrain server is gone; values are its last";
    case OROGRID_E_OUT_OF_MEMORY:
      return "out of memory";
    case OROGRID_E_INTERNAL:
      return "internal fault in the client library";
    case OROGRID_E_BUSY:
      return "another simulation already writes this terrain record";
    case OROGRID_E_SEGMENT_CUT:
      return "the terrain record or its companion was cut short by another process";
    default:
      return "unknown status code";
  }
}

OROGRID_API int OROGRID_CALL orogrid_open(const char* segment, unsigned flags,
                                          orogrid_client** client) {
  if (client == nullptr) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  *client = nullptr;
  const char* name = segment == nullptr ? trn::kMappingName : segment;
  if (!client::ValidSegmentName(name) || (flags & ~OROGRID_OPEN_COUNT_USER) != 0U) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  return Guard(nullptr, [&] {
    orogrid_client* made = new (std::nothrow) orogrid_client;
    if (made == nullptr) {
      return OROGRID_E_OUT_OF_MEMORY;
    }
    const int code = made->reader.Open(name, (flags & OROGRID_OPEN_COUNT_USER) != 0U);
    if (code != OROGRID_OK) {
      delete made;
      return code;
    }
    *client = made;
    return OROGRID_OK;
  });
}

OROGRID_API void OROGRID_CALL orogrid_close(orogrid_client* client) {
  try {
    delete client;
  } catch (...) {
    // Nothing in the destructors throws; nothing may leave here anyway.
  }
}

OROGRID_API const char* OROGRID_CALL orogrid_last_error(const orogrid_client* client) {
  if (client == nullptr) {
    return "no client handle";
  }
  return client->reader.LastError();
}

OROGRID_API int OROGRID_CALL orogrid_wait_publication(orogrid_client* client, uint32_t timeout_ms) {
  if (client == nullptr) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  return Guard(client, [&] { return client->reader.WaitPublication(timeout_ms); });
}

OROGRID_API int OROGRID_CALL orogrid_snapshot_take(orogrid_client* client,
                                                   orogrid_snapshot* snapshot, size_t size) {
  return FillRecord(client, snapshot, size, "snapshot",
                    [&](std::size_t bytes) { return client->reader.Snapshot(snapshot, bytes); });
}

OROGRID_API int OROGRID_CALL orogrid_aircraft_read(orogrid_client* client,
                                                   orogrid_aircraft* aircraft, size_t size) {
  return FillRecord(client, aircraft, size, "aircraft", [&](std::size_t bytes) {
    return client->reader.ReadAircraft(aircraft, bytes);
  });
}

OROGRID_API int OROGRID_CALL orogrid_status_read(orogrid_client* client, orogrid_status* status,
                                                 size_t size) {
  return FillRecord(client, status, size, "status",
                    [&](std::size_t bytes) { return client->reader.ReadStatus(status, bytes); });
}

OROGRID_API int OROGRID_CALL orogrid_simulation_read(orogrid_client* client,
                                                     orogrid_simulation* simulation, size_t size) {
  return FillRecord(client, simulation, size, "simulation", [&](std::size_t bytes) {
    return client->reader.ReadSimulation(simulation, bytes);
  });
}

OROGRID_API int OROGRID_CALL orogrid_elevation(orogrid_client* client, double latitude,
                                               double longitude, int method, double* metres,
                                               int* grid) {
  if (client == nullptr) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  if (metres == nullptr) {
    return client->reader.Fail(OROGRID_E_INVALID_ARGUMENT, "metres: null pointer");
  }
  return Guard(client,
               [&] { return client->reader.Elevation(latitude, longitude, method, metres, grid); });
}

OROGRID_API int OROGRID_CALL orogrid_snapshot_elevation(const orogrid_snapshot* snapshot,
                                                        size_t size, double latitude,
                                                        double longitude, int method,
                                                        double* metres, int* grid) {
  if (snapshot == nullptr || metres == nullptr) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  // Reads the grids alone, which every size from the first has.
  if (size < FirstSize<orogrid_snapshot>::kBytes) {
    return OROGRID_E_BUFFER_TOO_SMALL;
  }
  return Guard(nullptr, [&] {
    const client::MapScale scale{static_cast<double>(snapshot->pixels_per_degree_x),
                                 static_cast<double>(snapshot->pixels_per_degree_y)};
    return client::LookupElevation(SnapshotGrids{snapshot}, scale, latitude, longitude, method,
                                   metres, grid);
  });
}

}  // extern "C"
