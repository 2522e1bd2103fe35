/* orogrid-c-client: attaches to the terrain Orogrid publishes, waits for the
 * next publication, and prints the elevation under the aircraft and at a
 * point 5 km ahead of it along its heading.
 *
 *   orogrid-c-client [SEGMENT]     (default: the server's TrnShmSpace)
 *
 * Exit status: 0 printed, 1 no terrain (server or simulation not running, or
 * nothing published within 10 s). */
#include <math.h>
#include <stdio.h>

#include <orogrid/orogrid_client.h>

#define EARTH_RADIUS_M 6371000.0
#define PI 3.14159265358979323846

/* The point `distance` metres from (lat, lon) along `heading` degrees, on a
 * sphere. */
static void PointAhead(double lat, double lon, double heading, double distance, double* outLat,
                       double* outLon) {
  const double d = distance / EARTH_RADIUS_M;
  const double p1 = lat * PI / 180.0;
  const double l1 = lon * PI / 180.0;
  const double h = heading * PI / 180.0;
  const double p2 = asin(sin(p1) * cos(d) + cos(p1) * sin(d) * cos(h));
  const double l2 = l1 + atan2(sin(h) * sin(d) * cos(p1), cos(d) - sin(p1) * sin(p2));
  *outLat = p2 * 180.0 / PI;
  *outLon = fmod(l2 * 180.0 / PI + 540.0, 360.0) - 180.0;
}

static void PrintElevation(orogrid_client* client, const char* what, double lat, double lon) {
  double metres = 0.0;
  int grid = 0;
  const int rc = orogrid_elevation(client, lat, lon, OROGRID_BILINEAR, &metres, &grid);
  if (rc == OROGRID_OK) {
    printf("%s (%.5f, %.5f): %.0f m (%s grid)\n", what, lat, lon, metres,
           grid == OROGRID_GRID_FINE ? "fine" : "coarse");
  } else {
    printf("%s (%.5f, %.5f): %s\n", what, lat, lon, orogrid_strerror(rc));
  }
}

int main(int argc, char** argv) {
  const char* segment = argc > 1 ? argv[1] : NULL;
  orogrid_client* client = NULL;
  orogrid_aircraft aircraft;
  double aheadLat = 0.0;
  double aheadLon = 0.0;
  int rc = orogrid_open(segment, 0, &client);
  if (rc != OROGRID_OK) {
    fprintf(stderr, "orogrid-c-client: %s\n", orogrid_strerror(rc));
    return 1;
  }
  rc = orogrid_wait_publication(client, 10000);
  if (rc == OROGRID_OK) {
    rc = orogrid_aircraft_read(client, &aircraft, sizeof aircraft);
  }
  if (rc != OROGRID_OK) {
    fprintf(stderr, "orogrid-c-client: %s\n", orogrid_last_error(client));
    orogrid_close(client);
    return 1;
  }
  printf("aircraft at %.5f, %.5f heading %.1f; the server reports %d m below it\n",
         aircraft.latitude, aircraft.longitude, aircraft.heading, (int)aircraft.elevation);
  PrintElevation(client, "under the aircraft", aircraft.latitude, aircraft.longitude);
  PointAhead(aircraft.latitude, aircraft.longitude, aircraft.heading, 5000.0, &aheadLat, &aheadLon);
  PrintElevation(client, "5 km ahead", aheadLat, aheadLon);
  orogrid_close(client);
  return 0;
}
