/* orogrid_client.h: the C interface a simulation links to read the terrain
 * Orogrid publishes. Usable from C (C99) and C++, and from other languages
 * through the shared library (liborogrid_client.so, orogrid_client.dll).
 *
 *   orogrid_client* c;
 *   if (orogrid_open(NULL, 0, &c) != OROGRID_OK) { ... }   NULL: "TrnShmSpace"
 *   orogrid_wait_publication(c, 2000);                       next grids, 2 s at most
 *   double metres;
 *   int rc = orogrid_elevation(c, 47.26, 11.35, OROGRID_NEAREST, &metres, NULL);
 *   if (rc == OROGRID_E_OUTSIDE_AREA) { ... }                not covered by the grids
 *   orogrid_close(c);
 *
 * Every function returns OROGRID_OK (0) or a negative code; orogrid_strerror
 * gives the code's text and orogrid_last_error the handle's last failure in
 * words. Nothing here aborts the caller or throws.
 *
 * ABI: the structures only ever grow at their end. Functions that fill a
 * structure take its size (sizeof in the caller), accept any size from the
 * structure's first published one up (orogrid_snapshot 602536 bytes,
 * orogrid_aircraft 64, orogrid_status 80, orogrid_simulation its size now; less:
 * OROGRID_E_BUFFER_TOO_SMALL) and fill as much as the caller's structure has room for. They write
 * into it only a whole copy: on OROGRID_OK, and on OROGRID_E_SERVER_GONE when what the gone server
 * left could be read whole; on any other code it is left as it was. The same holds for
 * orogrid_elevation's *metres and *grid.
 *
 * Time: with a server that keeps the companion, every call returns within
 * 3 ms of processor time, plus the timeout of orogrid_wait_publication,
 * whatever the companion holds: a sequence counter that stays odd (a server
 * stopped or killed while writing) or never settles gives
 * OROGRID_E_UNSETTLED after 2 ms of trying, and once the server is known
 * gone (its heartbeat 1 s old, or inside a tick 3 s plus its longest tick
 * and 10 s at most, or its process ended: seen within 100 ms)
 * OROGRID_E_SERVER_GONE at once. Without a companion a snapshot makes up to
 * 8 copies 15 ms apart (up to about 110 ms); orogrid_open waits up to 1 s
 * for a record that is being made. orogrid_simulation_read waits up to
 * 50 ms for a simulation stopped inside one of its frames, once per frame:
 * asked again while the same frame stays open, it answers at once.
 *
 * Cut short: a record or companion that another process cuts short (ftruncate)
 * never crashes the caller; that call and every later one on the handle give
 * OROGRID_E_SEGMENT_CUT, and nothing more is read from it. The library maps
 * everything read-only, except the user count with OROGRID_OPEN_COUNT_USER.
 *
 * Threading: a handle is used by one thread at a time; separate handles are
 * independent. orogrid_strerror, orogrid_version and orogrid_api_version
 * may be called from any thread. The record is read while the server writes
 * it in another process: snapshots and queries are made consistent through
 * the server's sequence counter (the companion segment "<record>.Seq"), or,
 * with a server that has none, by copying again until two looks agree.
 */
#ifndef OROGRID_CLIENT_H
#define OROGRID_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define OROGRID_CALL __cdecl
#if defined(OROGRID_CLIENT_STATIC)
#define OROGRID_API
#elif defined(OROGRID_CLIENT_BUILDING)
#define OROGRID_API __declspec(dllexport)
#else
#define OROGRID_API __declspec(dllimport)
#endif
#else
#define OROGRID_CALL
#if defined(OROGRID_CLIENT_BUILDING)
#define OROGRID_API __attribute__((visibility("default")))
#else
#define OROGRID_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Version of this interface; orogrid_api_version() gives the library's. */
#define OROGRID_CLIENT_API_VERSION 2

/* Status codes. */
#define OROGRID_OK 0
#define OROGRID_E_INVALID_ARGUMENT (-1) /* null pointer, NaN, bad flag or name */
#define OROGRID_E_BUFFER_TOO_SMALL (-2) /* structure size below its first published one */
#define OROGRID_E_NO_SEGMENT (-3)       /* no terrain record: nothing has made it yet */
#define OROGRID_E_REFUSED (-4)          /* record too small, foreign owner or open to others */
#define OROGRID_E_VERSION_MISMATCH (-5) /* record of another interface version */
#define OROGRID_E_SYSTEM (-6)           /* the operating system refused; see last_error */
#define OROGRID_E_TIMEOUT (-7)          /* no publication within the time given */
#define OROGRID_E_UNSETTLED (-8)        /* the grids kept changing while being copied */
#define OROGRID_E_OUTSIDE_AREA (-9)     /* the point is outside the published area */
#define OROGRID_E_NO_DATA (-10)     /* the server has published no grids yet (since it started) */
#define OROGRID_E_SERVER_GONE (-11) /* the serving process has ended or stopped */
#define OROGRID_E_OUT_OF_MEMORY (-12)
#define OROGRID_E_INTERNAL (-13) /* a fault inside the library; see last_error */
/* OROGRID_E_BUSY (-14): orogrid_sim.h */
#define OROGRID_E_SEGMENT_CUT (-15) /* another process cut the record or its companion short */

/* orogrid_open flags. */
#define OROGRID_OPEN_COUNT_USER 1u /* count this process in the record's userCount */

/* Elevation methods.
 * OROGRID_NEAREST: the value of the grid point whose pixel (or sub-cell of the
 *   fine grid) contains the position. Grid points sit at the north-west
 *   corner of their pixel or sub-cell, so this is the value of the cell the
 *   position lies in: what the server reports under the aircraft.
 * OROGRID_BILINEAR: interpolated between that point and its neighbours to the
 *   east, south and south-east, weighted by the position inside the cell;
 *   where a neighbour is not in the grid the cell's own value stands in. */
#define OROGRID_NEAREST 0
#define OROGRID_BILINEAR 1

/* Which grid answered an elevation query. */
#define OROGRID_GRID_FINE 1   /* the 17 x 17 x 3 x 3 refined grid (1/3 pixel) */
#define OROGRID_GRID_COARSE 2 /* the 150 x 150 grid (one map pixel) */

/* How a snapshot was made consistent. */
#define OROGRID_CONSISTENT_SEQUENCE 1  /* through the server's sequence counter */
#define OROGRID_CONSISTENT_HEURISTIC 2 /* no companion: repeated copies agreed */

/* Liveness of the server (orogrid_status.server_alive). */
#define OROGRID_SERVER_GONE 0
#define OROGRID_SERVER_ALIVE 1
#define OROGRID_SERVER_UNKNOWN (-1) /* not yet observed long enough to tell */

#define OROGRID_COARSE_SIZE 150
#define OROGRID_FINE_SIZE 17
#define OROGRID_SUBDIV 3

/* One grid point: the north-west corner of a map pixel or sub-cell.
 * cell_id is the record's identifier, column * 10000 + row: it names one
 * pixel only on maps of at most 10000 rows (up to 55 pixels per degree); on
 * taller maps pixel (x, 10000 + k) has the identifier of (x + 1, k). Use the
 * snapshot's coarse_pixel and fine_pixel to know a point's pixel. */
typedef struct orogrid_point {
  int32_t cell_id;   /* map column * 10000 + row (see above) */
  int32_t elevation; /* metres */
  double latitude;   /* degrees, north positive */
  double longitude;  /* degrees, east positive */
} orogrid_point;

/* The tick's values about the aircraft. */
typedef struct orogrid_aircraft {
  double latitude;   /* as the simulation wrote it, degrees */
  double longitude;  /* degrees */
  double heading;    /* degrees from north */
  int32_t elevation; /* terrain under the aircraft as the server found it, metres */
  int32_t cell_id;
  int32_t pixel_x;          /* map column as the server converts the longitude: the
                               map's width itself at +180, which is column 0 */
  int32_t pixel_y;          /* map row: the map's height itself at -90, the last
                               row across the pole (180 degrees away) */
  int32_t sub_x;            /* 0..2 west to east inside the pixel */
  int32_t sub_y;            /* 0..2 north to south */
  double pixels_per_metre;  /* along the heading */
  int32_t update_count;     /* server ticks since it started */
  int32_t simulation_state; /* 0 waiting, 0xFFFFFF lost, else running */
} orogrid_aircraft;

/* A map pixel: column from longitude -180 eastward, row from latitude +90
 * southward; -1, -1 when the map's scale is not known. */
typedef struct orogrid_pixel {
  int32_t column, row;
} orogrid_pixel;

/* A consistent copy of what the server published. 785 KB: not for the stack
 * of a small thread. Grids are [column][row], first index west to east,
 * second north to south; fine[cx][cy][sx][sy] refines coarse[67+cx][67+cy].
 * The map is a globe: near longitude +-180 the grids hold columns of both
 * sides of the antimeridian, and near a pole rows that lie across it (the
 * same latitudes, the longitude 180 degrees away, in reverse order), so
 * read a point's position from the point (or its pixel), not from its
 * place in the grid. Inside every fine cell, sub-point sy = 0 is the
 * pixel's northern third. */
typedef struct orogrid_snapshot {
  uint64_t publication_count;  /* the server's count (0 without a companion) */
  int32_t consistency;         /* OROGRID_CONSISTENT_* */
  int32_t attempts;            /* copies it took, 1 when the first was whole */
  int32_t pixels_per_degree_x; /* map pixels per degree, from the server */
  int32_t pixels_per_degree_y;
  int32_t user_count;
  int32_t reserved0;
  double sub_cell_lat_span; /* degrees of latitude per fine sub-cell */
  double sub_cell_lon_span;
  orogrid_aircraft aircraft;
  orogrid_point coarse[OROGRID_COARSE_SIZE][OROGRID_COARSE_SIZE];
  orogrid_point fine[OROGRID_FINE_SIZE][OROGRID_FINE_SIZE][OROGRID_SUBDIV][OROGRID_SUBDIV];
  /* Added after the first layout: the pixel of every coarse point and of every fine cell,
   * from their positions. */
  orogrid_pixel coarse_pixel[OROGRID_COARSE_SIZE][OROGRID_COARSE_SIZE];
  orogrid_pixel fine_pixel[OROGRID_FINE_SIZE][OROGRID_FINE_SIZE];
} orogrid_snapshot;

/* Size of the snapshot before coarse_pixel was added: programs built then
 * pass it, and get everything but the pixels. */
#define OROGRID_SNAPSHOT_SIZE_1 offsetof(orogrid_snapshot, coarse_pixel)

/* The server's state as the companion record reports it. */
typedef struct orogrid_status {
  int32_t server_alive;       /* OROGRID_SERVER_* */
  int32_t has_companion;      /* 1: the server keeps "<record>.Seq" */
  uint32_t server_process_id; /* 0 when unknown */
  uint32_t tick_period_ms;    /* 0 when unknown */
  uint64_t publication_count; /* without a companion: publications this handle saw */
  double publication_age_s;   /* seconds since the last publication; < 0: none */
  double heartbeat_age_s;     /* seconds since the server's last tick; < 0: unknown */
  uint32_t last_tick_us;      /* duration of the server's last tick */
  uint32_t max_tick_us;       /* longest tick since it started */
  int32_t map_width;          /* pixels; 0 when unknown */
  int32_t map_height;
  int32_t pixels_per_degree_x;
  int32_t pixels_per_degree_y;
  int32_t update_count;
  int32_t simulation_state;
  int32_t user_count;
  int32_t reserved0;
} orogrid_status;

/* The simulation's heartbeat (orogrid_simulation.beat). */
#define OROGRID_SIM_NO_BEAT 0 /* the simulation never beat (a foreign writer) */
#define OROGRID_SIM_BEATING 1
#define OROGRID_SIM_SILENT 2 /* it beat, then stopped for OROGRID_SIM_SILENT_S seconds */
#define OROGRID_SIM_SILENT_S 5

/* What the simulation last wrote. With a simulation companion
 * ("<record>.Sim", kept by simulations that use orogrid_sim.h) the values
 * are one frame of its sequence; without, the record's own fields. */
typedef struct orogrid_simulation {
  double latitude, longitude, heading; /* as the simulation last wrote them, one frame */
  double altitude;                     /* metres above sea level; NaN when unknown */
  int32_t state;                       /* simulationState */
  int32_t beat;                        /* OROGRID_SIM_* above */
  double beat_age_s;                   /* seconds since its last beat; < 0 unknown */
  uint64_t frame_count;                /* writes through the sequence; 0 for a foreign writer */
} orogrid_simulation;

typedef struct orogrid_client orogrid_client;

/* Library version text ("1.3.0") and interface version number. */
OROGRID_API const char* OROGRID_CALL orogrid_version(void);
OROGRID_API int OROGRID_CALL orogrid_api_version(void);
/* Text of a status code; never null. */
OROGRID_API const char* OROGRID_CALL orogrid_strerror(int code);

/* Attaches to the terrain record `segment` (NULL: "TrnShmSpace"; 1..42
 * letters, digits, '_', '-', '.') as a reader: it never creates the record
 * and writes nothing into it, except the user count with
 * OROGRID_OPEN_COUNT_USER. Refuses records of another interface version and
 * undersized or foreign segments. *client is null on failure; the reason is
 * the code (no handle exists to carry a text). */
OROGRID_API int OROGRID_CALL orogrid_open(const char* segment, unsigned flags,
                                          orogrid_client** client);
/* Detaches (and uncounts); null is allowed. */
OROGRID_API void OROGRID_CALL orogrid_close(orogrid_client* client);
/* The handle's last failure in words ("" after success); never null. */
OROGRID_API const char* OROGRID_CALL orogrid_last_error(const orogrid_client* client);

/* Waits up to timeout_ms for the server's next publication of the grids
 * after this call (never one made before it). OROGRID_E_SERVER_GONE when the
 * server is seen gone meanwhile. Without a companion a publication is noticed by a change of
 * the fine grid, so one that writes the same values is not seen. */
OROGRID_API int OROGRID_CALL orogrid_wait_publication(orogrid_client* client, uint32_t timeout_ms);

/* A consistent copy of the grids and the tick's values into *snapshot,
 * whose size is `size` bytes (sizeof(orogrid_snapshot), or
 * OROGRID_SNAPSHOT_SIZE_1 for the snapshot without pixels). */
OROGRID_API int OROGRID_CALL orogrid_snapshot_take(orogrid_client* client,
                                                   orogrid_snapshot* snapshot, size_t size);
/* The tick's aircraft values alone, consistent, without the grids. */
OROGRID_API int OROGRID_CALL orogrid_aircraft_read(orogrid_client* client,
                                                   orogrid_aircraft* aircraft, size_t size);
/* The server's liveness and tick statistics. */
OROGRID_API int OROGRID_CALL orogrid_status_read(orogrid_client* client, orogrid_status* status,
                                                 size_t size);

/* The simulation's values, one frame of its sequence when it keeps the
 * companion; its heartbeat's state and age. */
OROGRID_API int OROGRID_CALL orogrid_simulation_read(orogrid_client* client,
                                                     orogrid_simulation* simulation, size_t size);

/* Terrain elevation at a position (degrees) from the grids as now
 * published: the fine grid where it covers the position, the coarse grid
 * elsewhere; OROGRID_E_OUTSIDE_AREA where neither does. *metres gets the
 * elevation; *grid (may be null) the OROGRID_GRID_* that answered. */
OROGRID_API int OROGRID_CALL orogrid_elevation(orogrid_client* client, double latitude,
                                               double longitude, int method, double* metres,
                                               int* grid);
/* The same over a snapshot taken earlier (no handle needed); size as for
 * orogrid_snapshot_take. Latitude -90..90, longitude -180..180: -180 and
 * +180 are one meridian. */
OROGRID_API int OROGRID_CALL orogrid_snapshot_elevation(const orogrid_snapshot* snapshot,
                                                        size_t size, double latitude,
                                                        double longitude, int method,
                                                        double* metres, int* grid);

#ifdef __cplusplus
}
#endif

#endif /* OROGRID_CLIENT_H */
