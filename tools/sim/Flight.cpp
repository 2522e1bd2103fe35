// Great-circle stepping and run state of the simulation stand-in.
// Threading: no shared state.
#include "tools/sim/Flight.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

extern const char g_szFlightRevision[];
const char g_szFlightRevision[] = "%Z% OrogridTools KT4101:02 Flight $Revision: 1.0 $";

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRad = kPi / 180.0;
// Below this a leg counts as reached; a millimetre is far below a sub-cell.
constexpr double kArrivalMetres = 1e-3;

double NormaliseCourse(double degrees) {
  double d = std::fmod(degrees, 360.0);
  if (d < 0.0) {
    d += 360.0;
  }
  return d >= 360.0 ? 0.0 : d;
}

double NormaliseLongitude(double degrees) {
  double d = std::fmod(degrees + 180.0, 360.0);
  if (d < 0.0) {
    d += 360.0;
  }
  return d - 180.0;
}

}  // namespace

namespace flight {

double DistanceMetres(const Waypoint& from, const Waypoint& to) {
  // Haversine: well conditioned for the short steps the stand-in takes.
  const double lat1 = from.latitude * kRad;
  const double lat2 = to.latitude * kRad;
  const double dLat = lat2 - lat1;
  const double dLon = (to.longitude - from.longitude) * kRad;
  const double s = std::sin(dLat / 2.0);
  const double t = std::sin(dLon / 2.0);
  double h = s * s + std::cos(lat1) * std::cos(lat2) * t * t;
  h = h > 1.0 ? 1.0 : h;
  return 2.0 * kEarthRadiusMetres * std::asin(std::sqrt(h));
}

double InitialCourse(const Waypoint& from, const Waypoint& to) {
  const double lat1 = from.latitude * kRad;
  const double lat2 = to.latitude * kRad;
  const double dLon = (to.longitude - from.longitude) * kRad;
  const double y = std::sin(dLon) * std::cos(lat2);
  const double x =
      std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(dLon);
  if (x == 0.0 && y == 0.0) {
    return 0.0;
  }
  return NormaliseCourse(std::atan2(y, x) / kRad);
}

Waypoint Destination(const Waypoint& from, double course, double metres) {
  const double delta = metres / kEarthRadiusMetres;
  const double theta = course * kRad;
  const double lat1 = from.latitude * kRad;
  const double lon1 = from.longitude * kRad;
  double sinLat2 =
      std::sin(lat1) * std::cos(delta) + std::cos(lat1) * std::sin(delta) * std::cos(theta);
  sinLat2 = sinLat2 > 1.0 ? 1.0 : (sinLat2 < -1.0 ? -1.0 : sinLat2);
  const double lat2 = std::asin(sinLat2);
  const double lon2 = lon1 + std::atan2(std::sin(theta) * std::sin(delta) * std::cos(lat1),
                                        std::cos(delta) - std::sin(lat1) * sinLat2);
  return Waypoint{lat2 / kRad, NormaliseLongitude(lon2 / kRad)};
}

}  // namespace flight

bool ParseSimState(const char* text, std::int32_t& value) {
  if (text == nullptr || *text == '\0') {
    return false;
  }
  if (std::strcmp(text, "waiting") == 0) {
    value = static_cast<std::int32_t>(SimState::kWaiting);
    return true;
  }
  if (std::strcmp(text, "running") == 0) {
    value = static_cast<std::int32_t>(SimState::kRunning);
    return true;
  }
  if (std::strcmp(text, "lost") == 0) {
    value = static_cast<std::int32_t>(SimState::kLost);
    return true;
  }
  const char* p = text;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') {
    ++p;
  }
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  }
  if (*p == '\0') {
    return false;
  }
  for (const char* c = p; *c != '\0'; ++c) {
    const bool digit = *c >= '0' && *c <= '9';
    const bool hexLetter = (*c >= 'a' && *c <= 'f') || (*c >= 'A' && *c <= 'F');
    if (!(digit || (base == 16 && hexLetter)) || c - p > 10) {
      return false;  // also bounds the length, so strtoll cannot overflow
    }
  }
  const long long magnitude = std::strtoll(p, nullptr, base);
  const long long signedValue = negative ? -magnitude : magnitude;
  if (signedValue < std::numeric_limits<std::int32_t>::min() ||
      signedValue > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  value = static_cast<std::int32_t>(signedValue);
  return true;
}

const char* SimStateName(std::int32_t value) {
  if (value == static_cast<std::int32_t>(SimState::kWaiting)) {
    return "waiting";
  }
  if (value == static_cast<std::int32_t>(SimState::kLost)) {
    return "lost";
  }
  return "running";
}

CFlight::CFlight(const CRoute& route)
    : m_route(route),
      m_position{0.0, 0.0},
      m_heading(0.0),
      m_next(0),
      m_flown(0.0),
      m_state(SimState::kWaiting) {
  if (route.Count() > 0) {
    m_position = route.At(0);
    m_next = 1;
    // Skip waypoints that coincide with the start so the first heading is
    // a real course.
    while (m_next < route.Count() &&
           flight::DistanceMetres(m_position, route.At(m_next)) <= kArrivalMetres) {
      ++m_next;
    }
    if (m_next < route.Count()) {
      m_heading = flight::InitialCourse(m_position, route.At(m_next));
    }
  }
}

void CFlight::Advance(double metres) {
  if (!(metres > 0.0)) {
    return;  // also refuses NaN
  }
  double left = metres;
  while (left > 0.0 && m_next < m_route.Count()) {
    const Waypoint& target = m_route.At(m_next);
    const double toGo = flight::DistanceMetres(m_position, target);
    if (toGo <= left + kArrivalMetres) {
      m_position = target;
      m_flown += toGo;
      left -= toGo;
      ++m_next;
      while (m_next < m_route.Count() &&
             flight::DistanceMetres(m_position, m_route.At(m_next)) <= kArrivalMetres) {
        ++m_next;
      }
      if (m_next < m_route.Count()) {
        m_heading = flight::InitialCourse(m_position, m_route.At(m_next));
      }
    } else {
      // The course along a great circle changes as we go; take it afresh
      // from where we are now.
      const double course = flight::InitialCourse(m_position, target);
      m_position = flight::Destination(m_position, course, left);
      m_heading = flight::InitialCourse(m_position, target);
      m_flown += left;
      left = 0.0;
    }
  }
}
