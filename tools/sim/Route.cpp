// Route parsing and the demonstration route of the simulation stand-in.
// Threading: no shared state.
#include "tools/sim/Route.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern const char g_szRouteRevision[];
const char g_szRouteRevision[] = "%Z% OrogridTools KT4101:01 Route $Revision: 1.0 $";

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Salzburg, Bad Reichenhall, Kufstein, down the Inn valley past Woergl,
// Jenbach, Schwaz and Hall, ending over Innsbruck.
constexpr Waypoint kDemonstration[] = {
    {47.7950, 13.0430}, {47.7260, 12.8780}, {47.5830, 12.1700}, {47.4860, 12.0620},
    {47.3890, 11.7770}, {47.3490, 11.7060}, {47.2810, 11.5080}, {47.2600, 11.3500},
};

}  // namespace

bool ParseDecimal(const char* begin, const char* end, double& value) {
  const char* p = begin;
  if (p < end && (*p == '+' || *p == '-')) {
    ++p;
  }
  int mantissaDigits = 0;
  while (p < end && IsDigit(*p)) {
    ++p;
    ++mantissaDigits;
  }
  if (p < end && *p == '.') {
    ++p;
    while (p < end && IsDigit(*p)) {
      ++p;
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) {
    return false;
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p < end && (*p == '+' || *p == '-')) {
      ++p;
    }
    int exponentDigits = 0;
    while (p < end && IsDigit(*p)) {
      ++p;
      ++exponentDigits;
    }
    if (exponentDigits == 0) {
      return false;
    }
  }
  if (p != end) {
    return false;
  }
  // strtod needs a terminated copy; the characters were checked above, so
  // the locale cannot matter beyond the decimal point, which the program
  // never changes from ".".
  char buffer[64];
  const std::size_t length = static_cast<std::size_t>(end - begin);
  if (length >= sizeof buffer) {
    return false;
  }
  std::memcpy(buffer, begin, length);
  buffer[length] = '\0';
  const double parsed = std::strtod(buffer, nullptr);
  if (!std::isfinite(parsed)) {
    return false;
  }
  value = parsed;
  return true;
}

bool ValidPosition(double latitude, double longitude) {
  return std::isfinite(latitude) && std::isfinite(longitude) && latitude >= -90.0 &&
         latitude <= 90.0 && longitude >= -180.0 && longitude <= 180.0;
}

bool CRoute::Fail(int line, const char* what) {
  if (line > 0) {
    std::snprintf(m_szError, sizeof m_szError, "line %d: %s", line, what);
  } else {
    std::snprintf(m_szError, sizeof m_szError, "%s", what);
  }
  return false;
}

bool CRoute::Parse(const char* text, std::size_t length) {
  static Waypoint parsed[kMaxWaypoints];  // kept off the stack; one thread only
  int count = 0;
  int line = 0;
  std::size_t pos = 0;
  if (text == nullptr && length > 0) {
    return Fail(0, "no route text");
  }
  while (pos < length) {
    ++line;
    const std::size_t lineStart = pos;
    while (pos < length && text[pos] != '\n') {
      if (text[pos] == '\0') {
        return Fail(line, "NUL byte in the route text");
      }
      ++pos;
    }
    const std::size_t lineEnd = pos;
    if (pos < length) {
      ++pos;  // the line feed
    }
    if (lineEnd - lineStart > static_cast<std::size_t>(kMaxLineLength)) {
      char what[96];
      std::snprintf(what, sizeof what, "line longer than %d characters", kMaxLineLength);
      return Fail(line, what);
    }
    const char* p = text + lineStart;
    const char* e = text + lineEnd;
    for (const char* c = p; c < e; ++c) {
      if (*c == '#') {
        e = c;
        break;
      }
    }
    while (p < e && IsBlank(*p)) {
      ++p;
    }
    while (e > p && IsBlank(e[-1])) {
      --e;
    }
    if (p == e) {
      continue;
    }
    // Two fields separated by blanks and/or one comma.
    const char* firstEnd = p;
    while (firstEnd < e && !IsBlank(*firstEnd) && *firstEnd != ',') {
      ++firstEnd;
    }
    const char* second = firstEnd;
    while (second < e && IsBlank(*second)) {
      ++second;
    }
    if (second < e && *second == ',') {
      ++second;
      while (second < e && IsBlank(*second)) {
        ++second;
      }
    }
    const char* secondEnd = second;
    while (secondEnd < e && !IsBlank(*secondEnd) && *secondEnd != ',') {
      ++secondEnd;
    }
    if (second == firstEnd || second == e) {
      return Fail(line, "expected LATITUDE LONGITUDE");
    }
    if (secondEnd != e) {
      return Fail(line, "unexpected text after LATITUDE LONGITUDE");
    }
    double latitude = 0.0;
    double longitude = 0.0;
    if (!ParseDecimal(p, firstEnd, latitude)) {
      return Fail(line, "latitude is not a decimal number");
    }
    if (!ParseDecimal(second, secondEnd, longitude)) {
      return Fail(line, "longitude is not a decimal number");
    }
    if (latitude < -90.0 || latitude > 90.0) {
      return Fail(line, "latitude out of range -90..90");
    }
    if (longitude < -180.0 || longitude > 180.0) {
      return Fail(line, "longitude out of range -180..180");
    }
    if (count == kMaxWaypoints) {
      char what[96];
      std::snprintf(what, sizeof what, "more than %d waypoints", kMaxWaypoints);
      return Fail(line, what);
    }
    parsed[count++] = Waypoint{latitude, longitude};
  }
  if (count < 2) {
    return Fail(0, "a route needs at least 2 waypoints");
  }
  std::memcpy(m_points, parsed, sizeof(Waypoint) * static_cast<std::size_t>(count));
  m_count = count;
  m_szError[0] = '\0';
  return true;
}

bool CRoute::Load(const char* path) {
  static char buffer[kMaxFileBytes + 1];
  char what[kErrorSize];
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::snprintf(what, sizeof what, "cannot open route file \"%.160s\"", path);
    return Fail(0, what);
  }
  const std::size_t length = std::fread(buffer, 1, sizeof buffer, file);
  const bool readError = std::ferror(file) != 0;
  std::fclose(file);
  if (readError) {
    std::snprintf(what, sizeof what, "cannot read route file \"%.160s\"", path);
    return Fail(0, what);
  }
  if (length > kMaxFileBytes) {
    std::snprintf(what, sizeof what, "route file \"%.120s\" is larger than %u bytes", path,
                  static_cast<unsigned>(kMaxFileBytes));
    return Fail(0, what);
  }
  if (!Parse(buffer, length)) {
    std::snprintf(what, sizeof what, "%.120s: %.120s", path, m_szError);
    std::snprintf(m_szError, sizeof m_szError, "%s", what);
    return false;
  }
  return true;
}

void CRoute::SetDemonstration() {
  m_count = static_cast<int>(sizeof kDemonstration / sizeof kDemonstration[0]);
  std::memcpy(m_points, kDemonstration, sizeof kDemonstration);
  m_szError[0] = '\0';
}
