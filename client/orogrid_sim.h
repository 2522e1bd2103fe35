/* orogrid_sim.h: the simulation's side of the client library. A simulation
 * links this (the same library as orogrid_client.h) to put its aircraft into
 * the terrain record Orogrid reads, with every rule of the record kept:
 *
 *   orogrid_sim* s;
 *   if (orogrid_sim_open(NULL, OROGRID_SIM_OPEN_CREATE, &s) != OROGRID_OK) { ... }
 *   orogrid_sim_set_state(s, OROGRID_SIM_RUNNING);
 *   every frame: orogrid_sim_write(s, 47.26, 11.35, 90.0, 2400.0);
 *   orogrid_sim_close(s, 0);                                  writes LOST
 *
 * The record is opened, or created, as a simulation must: created mode 0600,
 * sized before it is held, version text stamped first byte last, the user
 * count changed atomically. One simulation writes a record at a time
 * (OROGRID_E_BUSY for a second one). Each write is one frame of its own
 * sequence in the simulation companion "<record>.Sim" beside the record,
 * so that no reader pairs a value of one frame with one of another; the
 * values also go into the record's own fields for readers that do not know
 * the companion. Each write and orogrid_sim_beat renew the heartbeat: a
 * simulation that beat and then stays silent for OROGRID_SIM_SILENT_S
 * seconds is taken for lost by the server.
 *
 * Every function returns OROGRID_OK (0) or a negative code of
 * orogrid_client.h (orogrid_strerror gives its text) and
 * orogrid_sim_last_error the handle's last failure in words.
 *
 * Threading: a handle is used by one thread at a time; it is opened and
 * closed on the same thread (on Windows the record's simulation hold, a
 * named mutex, belongs to the thread that took it).
 */
#ifndef OROGRID_SIM_H
#define OROGRID_SIM_H

#include "orogrid_client.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct orogrid_sim orogrid_sim;

#define OROGRID_SIM_OPEN_CREATE 1u      /* make the record when it does not exist */
#define OROGRID_SIM_CLOSE_KEEP_STATE 1u /* close without writing "lost" */
#define OROGRID_SIM_WAITING 0
#define OROGRID_SIM_RUNNING 1
#define OROGRID_SIM_LOST 0xFFFFFF
#define OROGRID_E_BUSY (-14) /* another simulation already writes this record */

/* Opens (or with OROGRID_SIM_OPEN_CREATE creates) the record `segment`
 * (NULL: "TrnShmSpace"; 1..38 letters, digits, '_', '-', '.', so that the
 * companion's name fits) as its simulation; *sim null on failure, the
 * reason the code. Without OROGRID_SIM_OPEN_CREATE a missing record is
 * OROGRID_E_NO_SEGMENT. */
OROGRID_API int OROGRID_CALL orogrid_sim_open(const char* segment, unsigned flags,
                                              orogrid_sim** sim);
/* 1 when this open made the record, 0 when it existed; 0 for null. */
OROGRID_API int OROGRID_CALL orogrid_sim_created_record(const orogrid_sim* sim);
/* Position (degrees, north and east positive), heading (degrees true) and
 * altitude (metres above sea level; NaN: unknown) as one frame of the
 * simulation's sequence; also beats. NaN or infinite positions and
 * headings, latitudes beyond +-90 and longitudes beyond +-180 are refused
 * (OROGRID_E_INVALID_ARGUMENT) and nothing is written. */
OROGRID_API int OROGRID_CALL orogrid_sim_write(orogrid_sim* sim, double latitude, double longitude,
                                               double heading, double altitude_m);
/* The record's simulationState: OROGRID_SIM_WAITING, OROGRID_SIM_LOST,
 * anything else running (raw values are written as given); also beats. */
OROGRID_API int OROGRID_CALL orogrid_sim_set_state(orogrid_sim* sim, int32_t state);
/* Alive without moving: renews the heartbeat only. */
OROGRID_API int OROGRID_CALL orogrid_sim_beat(orogrid_sim* sim);
/* Writes OROGRID_SIM_LOST unless OROGRID_SIM_CLOSE_KEEP_STATE, gives the
 * record up and frees the handle; null is allowed. */
OROGRID_API void OROGRID_CALL orogrid_sim_close(orogrid_sim* sim, unsigned flags);
/* The handle's last failure in words ("" after success); never null. */
OROGRID_API const char* OROGRID_CALL orogrid_sim_last_error(const orogrid_sim* sim);

#ifdef __cplusplus
}
#endif

#endif /* OROGRID_SIM_H */
