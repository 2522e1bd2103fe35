// TextFunctions, number, angle and time formats.
// Threading: stateless apart from FormatFixed's shared buffer.
#include "text/Formats.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "platform/utc_time.h"
#include "text/TextFcns.h"

const char g_szFormatsRevision[] = "%z% TextFunctions KT3102  Formats $Revision: 1.10 $";

namespace {

// Truncation toward zero into 32 bits; what cannot be converted becomes
// INT_MIN rather than undefined behaviour.
int Truncate(double v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return INT_MIN;
  return static_cast<int>(v);
}

struct Sexagesimal {
  int whole;
  int minutes;
  int seconds;
  double m;  // minutes with fraction
  double s;  // seconds with fraction
};

// Splits a count of seconds into whole (hours or degrees), minutes and
// seconds; nothing carries between the fields.
Sexagesimal Split(double scaledSeconds, bool roundSeconds) {
  Sexagesimal r{};
  const double u = scaledSeconds / 3600.0;
  r.whole = Truncate(u);
  r.m = (u - r.whole) * 60.0;
  r.minutes = Truncate(r.m);
  r.s = (r.m - r.minutes) * 60.0;
  r.seconds = roundSeconds ? Truncate(r.s + 0.5) : Truncate(r.s);
  return r;
}

// The sexagesimal formats write straight into the caller's out. The text is
// built in a work buffer and cut at 23 characters, so out never receives
// more than 24 bytes: every value below 100000 hours or degrees fits whole,
// and a NaN or huge value cannot run past a buffer sized for those.
constexpr int kDirectOutBytes = 24;

template <typename... Args>
char* WriteDirect(char* out, const char* format, Args... args) {
  char work[kDirectOutBytes];
  FormatTextSafe(work, kDirectOutBytes, format, args...);
  std::memcpy(out, work, std::strlen(work) + 1);
  return out;
}

char HemisphereLetter(double value, int axis) {
  if (axis == AxisLatitude) return value < 0.0 ? 'S' : 'N';
  if (axis == AxisLongitude) return value < 0.0 ? 'W' : 'E';
  return '?';
}

// "%c%03d:%02d:%02d" of a non-negative count of seconds, seconds rounded.
char* WriteDms(char* out, double absSeconds, char letter) {
  if (out == nullptr) return nullptr;
  const Sexagesimal p = Split(absSeconds, true);
  return WriteDirect(out, "%c%03d:%02d:%02d", letter, p.whole, p.minutes, p.seconds);
}

struct DegMinTenths {
  int whole;
  int minutes;
  int tenths;
};

bool InDegreeRange(double degrees) { return degrees >= -360.0 && degrees <= 360.0; }

DegMinTenths SplitTenths(double degrees) {
  const double a = std::fabs(degrees);
  DegMinTenths r{};
  r.whole = Truncate(a);
  const double m = (a - r.whole) * 60.0;
  r.minutes = Truncate(m);
  r.tenths = Truncate((m - r.minutes) * 10.0);
  return r;
}

// Exactly 10 bytes of the work text into out: the text cut at 10, then zero
// bytes (strncpy's delivery).
char* Deliver10(char* out, const char* work) {
  int i = 0;
  for (; i < 10 && work[i] != '\0'; ++i) out[i] = work[i];
  for (; i < 10; ++i) out[i] = '\0';
  return out;
}

}  // namespace

const char* FormatFixed(double value, unsigned decimals) {
  static char s_szFixed[256];
  static const char* const kLayouts[] = {"% 10.0f", "% 10.1f", "% 10.2f",
                                         "% 10.3f", "% 10.4f", "% 10.5f"};
  const char* layout = kLayouts[decimals < 5 ? decimals : 5];
  FormatTextSafe(s_szFixed, static_cast<int>(sizeof s_szFixed), layout, value);
  return s_szFixed;
}

char* FormatHms(char* out, double seconds) {
  if (out == nullptr) return nullptr;
  const Sexagesimal p = Split(seconds, false);
  return WriteDirect(out, "% 5d:% 2d:% 2.5f", p.whole, p.minutes, p.s);
}

char* FormatSignedDms(char* out, double seconds) {
  if (out == nullptr) return nullptr;
  const Sexagesimal p = Split(std::fabs(seconds), false);
  return WriteDirect(out, "%c%03d:%02d:%02d", seconds < 0.0 ? '-' : '+', p.whole, p.minutes,
                     p.seconds);
}

char* FormatDmsSeconds(char* out, double arcSeconds, int axis) {
  return WriteDms(out, std::fabs(arcSeconds), HemisphereLetter(arcSeconds, axis));
}

char* FormatDmsSecondsByFlag(char* out, double arcSeconds, int isLatitude) {
  const int axis = isLatitude == 1 ? AxisLatitude : isLatitude == 0 ? AxisLongitude : -1;
  return FormatDmsSeconds(out, arcSeconds, axis);
}

char* FormatDmsDegrees(char* out, double degrees, int axis) {
  return WriteDms(out, std::fabs(degrees * 3600.0), HemisphereLetter(degrees, axis));
}

char* FormatDmsRadians(char* out, double radians, int axis) {
  return WriteDms(out, std::fabs(radians * 57.29577951308232 * 3600.0),
                  HemisphereLetter(radians, axis));
}

char* FormatDegMin(char* out, double seconds) {
  if (out == nullptr) return nullptr;
  const Sexagesimal p = Split(seconds, false);
  return WriteDirect(out, "%+4d:%05.3f", p.whole, p.m);
}

char* FormatDegMinTenths(char* out, double degrees, int axis) {
  if (out == nullptr) return nullptr;
  if (!InDegreeRange(degrees)) {
    out[0] = '\0';
    return out;
  }
  char work[20] = {};
  const DegMinTenths p = SplitTenths(degrees);
  const char letter = HemisphereLetter(degrees, axis);
  if (axis == AxisLatitude) {
    FormatTextSafe(work, 11, "%02d%02d.%1d%c", p.whole, p.minutes, p.tenths, letter);
  } else if (axis == AxisLongitude) {
    FormatTextSafe(work, 11, "%03d%02d.%1d%c", p.whole, p.minutes, p.tenths, letter);
  }
  return Deliver10(out, work);
}

char* FormatDegMinTenthsMarked(char* out, int size, double degrees, int axis) {
  if (out == nullptr) return nullptr;
  if (!InDegreeRange(degrees)) {
    if (size > 0) out[0] = '\0';
    return out;
  }
  char work[20] = {};
  const DegMinTenths p = SplitTenths(degrees);
  const char letter = HemisphereLetter(degrees, axis);
  if (axis == AxisLatitude) {
    FormatTextSafe(work, 12, "%02d%c%02d.%1d%c", p.whole, '^', p.minutes, p.tenths, letter);
  } else if (axis == AxisLongitude) {
    FormatTextSafe(work, 12, "%03d%c%02d.%1d%c", p.whole, '^', p.minutes, p.tenths, letter);
  }
  CopyText(out, work, size);
  return out;
}

char* FormatWholeDegrees(char* out, double degrees, int axis) {
  if (out == nullptr) return nullptr;
  if (!InDegreeRange(degrees)) {
    out[0] = '\0';
    return out;
  }
  char work[20] = {};
  const DegMinTenths p = SplitTenths(degrees);
  const char letter = HemisphereLetter(degrees, axis);
  if (axis == AxisLatitude) {
    FormatTextSafe(work, 11, "%02d%c", p.whole, letter);
  } else if (axis == AxisLongitude) {
    FormatTextSafe(work, 11, "%03d%c", p.whole, letter);
  }
  return Deliver10(out, work);
}

char* FormatLetterDegMinTenths(char* out, double degrees, bool isLatitude) {
  if (out == nullptr) return nullptr;
  if (!InDegreeRange(degrees)) {
    out[0] = '\0';
    return out;
  }
  char work[20] = {};
  const DegMinTenths p = SplitTenths(degrees);
  const char letter = HemisphereLetter(degrees, isLatitude ? AxisLatitude : AxisLongitude);
  if (isLatitude) {
    FormatTextSafe(work, 20, "%c%02d%02d.%1d", letter, p.whole, p.minutes, p.tenths);
  } else {
    FormatTextSafe(work, 20, "%c%03d%02d.%1d", letter, p.whole, p.minutes, p.tenths);
  }
  work[10] = '\0';
  return Deliver10(out, work);
}

char* FormatUtcHourMinute(char* out, const std::time_t* when) {
  if (out == nullptr) return nullptr;
  int hour = 0;
  int minute = 0;
  if (when != nullptr && platform::UtcHourMinute(static_cast<long long>(*when), &hour, &minute)) {
    FormatTextSafe(out, 6, "%02d:%02d", hour, minute);
  } else {
    CopyText(out, "xx:xx", 6);
  }
  return out;
}
