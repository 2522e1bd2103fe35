// Status line of the simulation stand-in.
// Threading: free functions without state.
#include "tools/sim/SimMonitor.h"

#include <cmath>
#include <cstdio>
#include <cstring>

extern const char g_szSimMonitorRevision[];
const char g_szSimMonitorRevision[] = "%Z% OrogridTools KT4101:04 SimMonitor $Revision: 1.0 $";

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
