// Parsing of the simulator's datagrams (see SampleParser.h).
// Threading: no shared state.
#include "tools/bridge/SampleParser.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kMaxNumberChars = 24;
constexpr std::size_t kMaxSentenceChars = 100;  // NMEA allows 82; some senders go a little over
constexpr int kMaxFields = 24;
constexpr double kFeetToMetres = 0.3048;
// Altitudes and ground elevations beyond these are no aircraft's.
constexpr double kLowestMetres = -1000.0;
constexpr double kHighestAltitudeMetres = 100000.0;
constexpr double kHighestGroundMetres = 9000.0;
// RMC and GGA of one datagram are one moment; further apart than this
// (about 20 m) they are not the same fix.
constexpr double kFixAgreementDegrees = 0.0002;
// The generic protocol's line: t, lat, lon, heading, altitude (ft),
// height above ground (ft), ground elevation (m), wow, frozen, crashed, fps.
constexpr int kGenericFields = 11;

SampleKind Refuse(char* reason, std::size_t size, const char* format, long a = 0, long b = 0) {
  if (size > 0) {
    std::snprintf(reason, size, format, a, b);
  }
  return SampleKind::kRefused;
}

struct Field {
  const char* text;
  std::size_t length;
};

// Splits text[0, length) at commas into at most kMaxFields fields; -1 when
// there are more.
int SplitFields(const char* text, std::size_t length, Field* fields) {
  int count = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= length; ++i) {
    if (i == length || text[i] == ',') {
      if (count == kMaxFields) {
        return -1;
      }
      fields[count++] = Field{text + start, i - start};
      start = i + 1;
    }
  }
  return count;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (IsDigit(c)) {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

// "ddmm.mmmm" (degreeDigits 2) or "dddmm.mmmm" (3), unsigned, minutes below
// 60; the hemisphere letter makes it signed.
bool ParseNmeaAngle(const Field& value, const Field& hemisphere, int degreeDigits, char positive,
                    char negative, double limit, double* degrees) {
  if (value.length < static_cast<std::size_t>(degreeDigits) + 2 || value.length > 16 ||
      hemisphere.length != 1) {
    return false;
  }
  for (int i = 0; i < degreeDigits + 2; ++i) {
    if (!IsDigit(value.text[i])) {
      return false;
    }
  }
  double minutes = 0.0;
  if (!ParseStrictDecimal(value.text + degreeDigits, value.length - degreeDigits, &minutes) ||
      minutes >= 60.0) {
    return false;
  }
  int whole = 0;
  for (int i = 0; i < degreeDigits; ++i) {
    whole = whole * 10 + (value.text[i] - '0');
  }
  const double angle = whole + minutes / 60.0;
  if (angle > limit) {
    return false;
  }
  if (hemisphere.text[0] == positive) {
    *degrees = angle;
  } else if (hemisphere.text[0] == negative) {
    *degrees = -angle;
  } else {
    return false;
  }
  return true;
}

bool ParseRanged(const Field& field, double low, double high, double* value) {
  return ParseStrictDecimal(field.text, field.length, value) && *value >= low && *value <= high;
}

struct NmeaFix {
  bool rmc = false;  // an RMC with a valid fix was seen
  bool gga = false;  // a GGA with a valid fix was seen
  double rmcLatitude = 0.0, rmcLongitude = 0.0;
  double ggaLatitude = 0.0, ggaLongitude = 0.0;
  bool hasHeading = false;
  double heading = 0.0;
  bool hasAltitude = false;
  double altitude = 0.0;
};

// RMC: time, status, lat, N/S, lon, E/W, speed (kn), course (deg true),
// date, magnetic variation, E/W[, mode[, navigational status]].
bool TakeRmc(const Field* f, int count, NmeaFix* fix) {
  if (count < 12 || count > 14 || f[2].length != 1) {
    return false;
  }
  const char status = f[2].text[0];
  if (status == 'V') {
    return true;  // no fix: well-formed, nothing to take
  }
  if (status != 'A') {
    return false;
  }
  if (!ParseNmeaAngle(f[3], f[4], 2, 'N', 'S', 90.0, &fix->rmcLatitude) ||
      !ParseNmeaAngle(f[5], f[6], 3, 'E', 'W', 180.0, &fix->rmcLongitude)) {
    return false;
  }
  if (f[8].length > 0) {
    double course = 0.0;
    if (!ParseRanged(f[8], 0.0, 360.0, &course)) {
      return false;
    }
    fix->hasHeading = true;
    fix->heading = course >= 360.0 ? 0.0 : course;
  }
  fix->rmc = true;
  return true;
}

// GGA: time, lat, N/S, lon, E/W, quality, satellites, HDOP, altitude, M,
// geoid separation, M, age of differential data, station id.
bool TakeGga(const Field* f, int count, NmeaFix* fix) {
  if (count != 15 || f[6].length != 1 || !IsDigit(f[6].text[0])) {
    return false;
  }
  if (f[6].text[0] == '0') {
    return true;  // no fix
  }
  if (!ParseNmeaAngle(f[2], f[3], 2, 'N', 'S', 90.0, &fix->ggaLatitude) ||
      !ParseNmeaAngle(f[4], f[5], 3, 'E', 'W', 180.0, &fix->ggaLongitude)) {
    return false;
  }
  if (f[9].length > 0) {
    double altitude = 0.0;
    if (f[10].length != 1 || f[10].text[0] != 'M' ||
        !ParseRanged(f[9], kLowestMetres, kHighestAltitudeMetres, &altitude)) {
      return false;
    }
    fix->hasAltitude = true;
    fix->altitude = altitude;
  }
  fix->gga = true;
  return true;
}

// One sentence "$AAAAA,...[*HH]" without its line end.
SampleKind TakeSentence(const char* s, std::size_t length, NmeaFix* fix, char* reason,
                        std::size_t reasonSize, long number) {
  if (length > kMaxSentenceChars) {
    return Refuse(reason, reasonSize, "NMEA sentence %ld is longer than %ld characters", number,
                  static_cast<long>(kMaxSentenceChars));
  }
  if (s[0] != '$') {
    return Refuse(reason, reasonSize, "NMEA sentence %ld does not start with '$'", number);
  }
  std::size_t body = length;
  const char* star = static_cast<const char*>(std::memchr(s, '*', length));
  if (star != nullptr) {
    body = static_cast<std::size_t>(star - s);
    if (length - body != 3 || HexValue(star[1]) < 0 || HexValue(star[2]) < 0) {
      return Refuse(reason, reasonSize, "NMEA sentence %ld has a malformed checksum", number);
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < body; ++i) {
      sum ^= static_cast<unsigned char>(s[i]);
    }
    const unsigned given = static_cast<unsigned>(HexValue(star[1]) * 16 + HexValue(star[2]));
    if (sum != given) {
      return Refuse(reason, reasonSize, "NMEA checksum %02lX, the sentence sums to %02lX",
                    static_cast<long>(given), static_cast<long>(sum));
    }
  }
  Field fields[kMaxFields];
  const int count = SplitFields(s + 1, body - 1, fields);
  if (count < 1) {
    return Refuse(reason, reasonSize, "NMEA sentence %ld has too many fields", number);
  }
  const Field& address = fields[0];
  if (address.length < 2 || address.length > 6) {
    return Refuse(reason, reasonSize, "NMEA sentence %ld has a malformed address", number);
  }
  for (std::size_t i = 0; i < address.length; ++i) {
    const char c = address.text[i];
    if (!((c >= 'A' && c <= 'Z') || IsDigit(c))) {
      return Refuse(reason, reasonSize, "NMEA sentence %ld has a malformed address", number);
    }
  }
  // Talker (two characters, any) and type: only RMC and GGA carry what we take.
  if (address.length == 5 && std::memcmp(address.text + 2, "RMC", 3) == 0) {
    if (!TakeRmc(fields, count, fix)) {
      return Refuse(reason, reasonSize, "NMEA sentence %ld: malformed RMC", number);
    }
  } else if (address.length == 5 && std::memcmp(address.text + 2, "GGA", 3) == 0) {
    if (!TakeGga(fields, count, fix)) {
      return Refuse(reason, reasonSize, "NMEA sentence %ld: malformed GGA", number);
    }
  }
  return SampleKind::kSample;
}

SampleKind ParseNmea(const char* data, std::size_t size, BridgeSample* sample, char* reason,
                     std::size_t reasonSize) {
  NmeaFix fix;
  long number = 0;
  std::size_t start = 0;
  while (start < size) {
    std::size_t end = start;
    while (end < size && data[end] != '\n') {
      ++end;
    }
    std::size_t length = end - start;
    if (length > 0 && data[start + length - 1] == '\r') {
      --length;
    }
    if (length > 0) {
      ++number;
      if (TakeSentence(data + start, length, &fix, reason, reasonSize, number) ==
          SampleKind::kRefused) {
        return SampleKind::kRefused;
      }
    }
    start = end + 1;
  }
  if (!fix.rmc && !fix.gga) {
    return SampleKind::kNoFix;
  }
  BridgeSample s;
  s.latitude = fix.rmc ? fix.rmcLatitude : fix.ggaLatitude;
  s.longitude = fix.rmc ? fix.rmcLongitude : fix.ggaLongitude;
  if (fix.rmc && fix.gga &&
      (std::fabs(fix.rmcLatitude - fix.ggaLatitude) > kFixAgreementDegrees ||
       std::fabs(fix.rmcLongitude - fix.ggaLongitude) > kFixAgreementDegrees)) {
    return Refuse(reason, reasonSize, "NMEA RMC and GGA of one datagram disagree on the position");
  }
  s.hasHeading = fix.hasHeading;
  s.heading = fix.heading;
  s.hasAltitude = fix.hasAltitude;
  s.altitude = fix.altitude;
  *sample = s;
  return SampleKind::kSample;
}

SampleKind ParseGeneric(const char* data, std::size_t size, BridgeSample* sample, char* reason,
                        std::size_t reasonSize) {
  std::size_t length = size;
  if (length > 0 && data[length - 1] == '\n') {
    --length;
  }
  if (length > 0 && data[length - 1] == '\r') {
    --length;
  }
  if (std::memchr(data, '\n', length) != nullptr || std::memchr(data, '\r', length) != nullptr) {
    return Refuse(reason, reasonSize, "more than one line in a generic-protocol datagram");
  }
  Field f[kMaxFields];
  const int count = SplitFields(data, length, f);
  if (count != kGenericFields) {
    return Refuse(reason, reasonSize, "%ld fields where the generic protocol has %ld",
                  static_cast<long>(count < 0 ? kMaxFields + 1 : count),
                  static_cast<long>(kGenericFields));
  }
  double values[kGenericFields];
  for (int i = 0; i < kGenericFields; ++i) {
    if (!ParseStrictDecimal(f[i].text, f[i].length, &values[i])) {
      return Refuse(reason, reasonSize, "field %ld is not a decimal number", i + 1L);
    }
  }
  const double latitude = values[1];
  const double longitude = values[2];
  const double heading = values[3];
  const double altitude = values[4] * kFeetToMetres;
  const double ground = values[6];
  if (latitude < -90.0 || latitude > 90.0) {
    return Refuse(reason, reasonSize, "latitude out of range (field 2)");
  }
  if (longitude < -180.0 || longitude > 180.0) {
    return Refuse(reason, reasonSize, "longitude out of range (field 3)");
  }
  if (heading < -360.0 || heading > 720.0) {
    return Refuse(reason, reasonSize, "heading out of range (field 4)");
  }
  if (altitude < kLowestMetres || altitude > kHighestAltitudeMetres) {
    return Refuse(reason, reasonSize, "altitude out of range (field 5)");
  }
  if (ground < kLowestMetres || ground > kHighestGroundMetres) {
    return Refuse(reason, reasonSize, "ground elevation out of range (field 7)");
  }
  BridgeSample s;
  s.latitude = latitude;
  s.longitude = longitude;
  s.hasHeading = true;
  s.heading = std::fmod(heading, 360.0);
  if (s.heading < 0.0) {
    s.heading += 360.0;
  }
  if (s.heading >= 360.0) {  // -1e-20 + 360 rounds to 360
    s.heading = 0.0;
  }
  s.hasAltitude = true;
  s.altitude = altitude;
  s.hasGroundElevation = true;
  s.groundElevation = ground;
  *sample = s;
  return SampleKind::kSample;
}

}  // namespace

bool ParseStrictDecimal(const char* text, std::size_t length, double* value) {
  if (length == 0 || length > kMaxNumberChars) {
    return false;
  }
  std::size_t i = 0;
  if (text[0] == '-' || text[0] == '+') {
    i = 1;
  }
  std::size_t digits = 0;
  bool point = false;
  for (std::size_t j = i; j < length; ++j) {
    if (IsDigit(text[j])) {
      ++digits;
    } else if (text[j] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (digits == 0) {
    return false;
  }
  // from_chars takes no '+' and reads the C locale's point whatever the
  // program's locale.
  const char* first = text + (text[0] == '+' ? 1 : 0);
  double parsed = 0.0;
  const std::from_chars_result r = std::from_chars(first, text + length, parsed);
  if (r.ec != std::errc() || r.ptr != text + length || !std::isfinite(parsed)) {
    return false;
  }
  *value = parsed;
  return true;
}

SampleKind ParseDatagram(const char* data, std::size_t size, BridgeSample* sample, char* reason,
                         std::size_t reasonSize) {
  if (reasonSize > 0) {
    reason[0] = '\0';
  }
  if (size == 0) {
    return Refuse(reason, reasonSize, "empty datagram");
  }
  if (size > kMaxDatagramBytes) {
    return Refuse(reason, reasonSize, "datagram of %ld bytes, more than %ld",
                  static_cast<long>(size), static_cast<long>(kMaxDatagramBytes));
  }
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    if ((c < 0x20 && c != '\n' && c != '\r') || c > 0x7E) {
      return Refuse(reason, reasonSize, "byte 0x%02lX at offset %ld is not printable text",
                    static_cast<long>(c), static_cast<long>(i));
    }
  }
  if (data[0] == '$') {
    return ParseNmea(data, size, sample, reason, reasonSize);
  }
  return ParseGeneric(data, size, sample, reason, reasonSize);
}
