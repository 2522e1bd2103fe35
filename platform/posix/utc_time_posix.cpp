// POSIX UTC breakdown through gmtime_r.
// Threading: any thread.
#include <time.h>

#include "platform/utc_time.h"

namespace platform {

bool UtcHourMinute(long long secondsSince1970, int* hour, int* minute) {
  if (hour == nullptr || minute == nullptr || secondsSince1970 < 0) {
    return false;
  }
  const time_t t = static_cast<time_t>(secondsSince1970);
  if (static_cast<long long>(t) != secondsSince1970) {
    return false;
  }
  struct tm parts {};
  if (gmtime_r(&t, &parts) == nullptr) {
    return false;
  }
  *hour = parts.tm_hour;
  *minute = parts.tm_min;
  return true;
}

}  // namespace platform
