// Win32 UTC breakdown through the runtime's 64-bit gmtime.
// Threading: any thread (_gmtime64_s fills the caller's record).
#include <time.h>

#include "platform/utc_time.h"

namespace platform {

bool UtcHourMinute(long long secondsSince1970, int* hour, int* minute) {
  if (hour == nullptr || minute == nullptr || secondsSince1970 < 0) {
    return false;
  }
  const __time64_t t = static_cast<__time64_t>(secondsSince1970);
  struct tm parts {};
  if (_gmtime64_s(&parts, &t) != 0) {
    return false;
  }
  *hour = parts.tm_hour;
  *minute = parts.tm_min;
  return true;
}

}  // namespace platform
