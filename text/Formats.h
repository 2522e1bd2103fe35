// TextFunctions, formats: fixed-point numbers, sexagesimal angles and times
// (degrees or hours, minutes, seconds with sign or hemisphere letter),
// degrees and tenth-minutes for position displays, and UTC clock times.
//
// Every stage of the angle formats truncates toward zero and nothing carries:
// a seconds field rounded up to 60 prints as 60 ("N000:00:60"), and 51.3
// degrees prints as "5117.9N" because its double lies just below 51.3.
// A value whose truncation does not fit an int (NaN, infinities, beyond
// +-2^31) truncates to INT32_MIN, the same "indefinite" integer the x86
// conversion produces, instead of undefined behaviour.
//
// Threading: stateless, except FormatFixed's shared buffer (one thread).
#pragma once

#include <ctime>

extern const char g_szFormatsRevision[];

// Axis selector of the hemisphere formats: latitude gives "N"/"S", longitude
// "E"/"W"; strictly negative values (not -0.0) take "S" or "W".
enum : int { AxisLatitude = 0, AxisLongitude = 1 };

// "% 10.<d>f" with d = decimals, at most 5, into a shared 256-byte buffer
// that the next call overwrites. Returns that buffer.
const char* FormatFixed(double value, unsigned decimals);

// The formats below write straight into out, which the caller sizes: 24
// bytes hold every value below 100000 hours or degrees. Each returns out.

// Hours, minutes and seconds of a count of seconds, every part carrying the
// value's own sign: 3661.5 -> "    1: 1: 1.50000", -3661 -> "   -1:-1:-1.00000".
char* FormatHms(char* out, double seconds);
// "+001:02:03" for 3723 s; "-" for negative values; seconds truncated.
char* FormatSignedDms(char* out, double seconds);
// Degrees, minutes, rounded seconds of arc-seconds with the axis's hemisphere
// letter, "?" for another axis: 185415 -> "N051:30:15".
char* FormatDmsSeconds(char* out, double arcSeconds, int axis);
// As FormatDmsSeconds; isLatitude 1 is latitude, 0 longitude, other "?".
char* FormatDmsSecondsByFlag(char* out, double arcSeconds, int isLatitude);
char* FormatDmsDegrees(char* out, double degrees, int axis);
char* FormatDmsRadians(char* out, double radians, int axis);
// Whole and minutes of a count of seconds, both with the value's sign:
// -1800 -> "  +0:-30.000".
char* FormatDegMin(char* out, double seconds);

// Degrees, minutes and tenths of a minute, all truncated. Values outside
// -360..360 (or NaN) give the empty text; so does an axis other than 0 or 1.
// The 10-byte forms copy exactly 10 bytes (text, then zero bytes).
char* FormatDegMinTenths(char* out, double degrees, int axis);  // "5130.0N"
char* FormatDegMinTenthsMarked(char* out, int size, double degrees,
                               int axis);                                    // "51^30.0N"
char* FormatWholeDegrees(char* out, double degrees, int axis);               // "51N"
char* FormatLetterDegMinTenths(char* out, double degrees, bool isLatitude);  // "N5130.0"

// "HH:MM" of a UTC time (seconds since 1970) into 6 bytes of out; "xx:xx"
// when the time cannot be converted: before 1970, beyond the platform's
// calendar, or a null when.
char* FormatUtcHourMinute(char* out, const std::time_t* when);
