/* client_c_test: the client's C interface from a plain C program, as a
 * simulation written in C uses it. Without arguments it checks what needs
 * no server: bad arguments, too-small structures, texts of every code, a
 * record that does not exist. With SEGMENT LATITUDE LONGITUDE ELEVATION it
 * also attaches to a record a test writer publishes, waits for a
 * publication, and expects ELEVATION metres at the position, from the live
 * record and from a snapshot.
 *
 * Exit status: 0 when every check held, else the number of failed checks.
 * Threading: one thread. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <orogrid/orogrid_client.h>
#include <orogrid/orogrid_sim.h>

static int g_failures = 0;

#define CHECK(condition)                                                            \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++g_failures;                                                                 \
    }                                                                               \
  } while (0)

static void CheckWithoutServer(void) {
  orogrid_client* client = (orogrid_client*)1;
  orogrid_status status;
  orogrid_aircraft aircraft;
  double metres = 0.0;
  int code;

  CHECK(orogrid_api_version() == OROGRID_CLIENT_API_VERSION);
  CHECK(orogrid_version() != NULL && orogrid_version()[0] != '\0');
  for (code = OROGRID_OK; code >= OROGRID_E_BUSY; --code) {
    CHECK(orogrid_strerror(code) != NULL && orogrid_strerror(code)[0] != '\0');
  }
  CHECK(strcmp(orogrid_strerror(-1000), "unknown status code") == 0);
  CHECK(strstr(orogrid_strerror(OROGRID_E_OUTSIDE_AREA), "outside the published area") != NULL);

  /* Null handles and outputs. */
  CHECK(orogrid_open(NULL, 0, NULL) == OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_wait_publication(NULL, 10) == OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_snapshot_take(NULL, NULL, 0) == OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_aircraft_read(NULL, &aircraft, sizeof aircraft) == OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_status_read(NULL, &status, sizeof status) == OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_elevation(NULL, 0.0, 0.0, OROGRID_NEAREST, &metres, NULL) ==
        OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_snapshot_elevation(NULL, 0, 0.0, 0.0, OROGRID_NEAREST, &metres, NULL) ==
        OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_last_error(NULL) != NULL);
  orogrid_close(NULL);

  /* Names and flags are checked before anything is opened. */
  CHECK(orogrid_open("", 0, &client) == OROGRID_E_INVALID_ARGUMENT && client == NULL);
  CHECK(orogrid_open("bad/name", 0, &client) == OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_open("a_name_that_is_far_too_long_for_a_segment_x", 0, &client) ==
        OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_open("OrogridCTestNone", 0x80u, &client) == OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_open("OrogridCTestNoSuchRecord", 0, &client) == OROGRID_E_NO_SEGMENT &&
        client == NULL);
}

/* The simulation's side, as far as it goes without making a record. */
static void CheckSimulationWithoutRecord(void) {
  orogrid_sim* sim = (orogrid_sim*)1;
  orogrid_simulation simulation;
  CHECK(orogrid_sim_open(NULL, 0, NULL) == OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_sim_open("bad/name", OROGRID_SIM_OPEN_CREATE, &sim) == OROGRID_E_INVALID_ARGUMENT &&
        sim == NULL);
  CHECK(orogrid_sim_open("OrogridCTestNoSuchRecord", 0, &sim) == OROGRID_E_NO_SEGMENT &&
        sim == NULL);
  CHECK(orogrid_sim_write(NULL, 1.0, 2.0, 3.0, 4.0) == OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_sim_set_state(NULL, OROGRID_SIM_RUNNING) == OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_sim_beat(NULL) == OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_sim_created_record(NULL) == 0);
  CHECK(orogrid_sim_last_error(NULL) != NULL);
  orogrid_sim_close(NULL, OROGRID_SIM_CLOSE_KEEP_STATE);
  CHECK(orogrid_simulation_read(NULL, &simulation, sizeof simulation) ==
        OROGRID_E_INVALID_ARGUMENT);
  CHECK(strstr(orogrid_strerror(OROGRID_E_BUSY), "another simulation") != NULL);
}

static int CheckAgainstWriter(const char* segment, double latitude, double longitude,
                              double expected) {
  orogrid_client* client = NULL;
  orogrid_snapshot* snapshot;
  orogrid_status status;
  orogrid_aircraft aircraft;
  double metres = -1.0;
  int grid = 0;
  int code = orogrid_open(segment, 0, &client);
  if (code != OROGRID_OK) {
    fprintf(stderr, "orogrid_open(%s): %s\n", segment, orogrid_strerror(code));
    return 1;
  }
  CHECK(orogrid_wait_publication(client, 5000) == OROGRID_OK);

  /* Structures smaller than this version's are refused with a text. */
  CHECK(orogrid_status_read(client, &status, sizeof status - 1) == OROGRID_E_BUFFER_TOO_SMALL);
  CHECK(strstr(orogrid_last_error(client), "bytes given") != NULL);
  CHECK(orogrid_aircraft_read(client, &aircraft, 8) == OROGRID_E_BUFFER_TOO_SMALL);
  CHECK(orogrid_snapshot_take(client, NULL, sizeof(orogrid_snapshot)) ==
        OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_elevation(client, 0.0, 0.0, OROGRID_NEAREST, NULL, NULL) ==
        OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_elevation(client, NAN, 0.0, OROGRID_NEAREST, &metres, NULL) ==
        OROGRID_E_INVALID_ARGUMENT);
  CHECK(orogrid_elevation(client, 0.0, 0.0, 7, &metres, NULL) == OROGRID_E_INVALID_ARGUMENT);

  CHECK(orogrid_status_read(client, &status, sizeof status) == OROGRID_OK);
  CHECK(status.server_alive == OROGRID_SERVER_ALIVE);
  CHECK(orogrid_aircraft_read(client, &aircraft, sizeof aircraft) == OROGRID_OK);

  CHECK(orogrid_elevation(client, latitude, longitude, OROGRID_NEAREST, &metres, &grid) ==
        OROGRID_OK);
  CHECK(metres == expected);
  CHECK(grid == OROGRID_GRID_FINE || grid == OROGRID_GRID_COARSE);
  /* The far side of the world is not published. */
  CHECK(orogrid_elevation(client, -latitude, longitude > 0 ? longitude - 180.0 : longitude + 180.0,
                          OROGRID_NEAREST, &metres, NULL) == OROGRID_E_OUTSIDE_AREA);
  CHECK(strstr(orogrid_last_error(client), "outside the published area") != NULL);

  snapshot = (orogrid_snapshot*)malloc(sizeof *snapshot);
  if (snapshot != NULL) {
    /* Below the first published size: refused. */
    CHECK(orogrid_snapshot_take(client, snapshot, OROGRID_SNAPSHOT_SIZE_1 - 1) ==
          OROGRID_E_BUFFER_TOO_SMALL);
    CHECK(orogrid_snapshot_take(client, snapshot, sizeof *snapshot) == OROGRID_OK);
    metres = -1.0;
    CHECK(orogrid_snapshot_elevation(snapshot, sizeof *snapshot, latitude, longitude,
                                     OROGRID_NEAREST, &metres, NULL) == OROGRID_OK);
    CHECK(metres == expected);
    CHECK(orogrid_snapshot_elevation(snapshot, 16, latitude, longitude, OROGRID_NEAREST, &metres,
                                     NULL) == OROGRID_E_BUFFER_TOO_SMALL);
    /* Every pixel named: the aircraft's pixel is the fine grid's centre. */
    CHECK(snapshot->fine_pixel[8][8].column == snapshot->coarse_pixel[75][75].column);
    CHECK(snapshot->coarse_pixel[0][0].column >= 0 && snapshot->coarse_pixel[0][0].row >= 0);
    free(snapshot);
  }
  /* A program built before the pixels were added passes the older size and
   * gets all the rest; nothing is written past what it has. */
  snapshot = (orogrid_snapshot*)malloc(OROGRID_SNAPSHOT_SIZE_1);
  if (snapshot != NULL) {
    CHECK(orogrid_snapshot_take(client, snapshot, OROGRID_SNAPSHOT_SIZE_1) == OROGRID_OK);
    metres = -1.0;
    CHECK(orogrid_snapshot_elevation(snapshot, OROGRID_SNAPSHOT_SIZE_1, latitude, longitude,
                                     OROGRID_NEAREST, &metres, NULL) == OROGRID_OK);
    CHECK(metres == expected);
    free(snapshot);
  }
  orogrid_close(client);
  return 0;
}

int main(int argc, char** argv) {
  CheckWithoutServer();
  CheckSimulationWithoutRecord();
  if (argc >= 5) {
    g_failures += CheckAgainstWriter(argv[1], atof(argv[2]), atof(argv[3]), atof(argv[4]));
  }
  if (g_failures != 0) {
    fprintf(stderr, "client_c_test: %d check(s) failed\n", g_failures);
  } else {
    printf("client_c_test: all checks held\n");
  }
  return g_failures;
}
