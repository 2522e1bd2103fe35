// Platform service: a count of seconds since 1970 broken down to the UTC
// hour and minute.
//
// Contract every platform provides: UtcHourMinute() returns true with hour
// (0..23) and minute (0..59) when the runtime's UTC conversion gives a
// result, false when it does not. Times before 1970 are refused on every
// platform (the Windows runtime has no calendar for them; the POSIX one is
// held to the same rule), as are times beyond the runtime's calendar.
//
// Threading: any thread (the reentrant conversion is used).
#pragma once

namespace platform {

bool UtcHourMinute(long long secondsSince1970, int* hour, int* minute);

}  // namespace platform
