// Flight model of the simulation stand-in: flies a CRoute leg by leg along
// great circles at a constant ground speed, on a sphere of the earth's mean
// radius, and keeps the simulation run state it reports to Orogrid.
//
// Threading: a CFlight is used by one thread.
#pragma once

#include <cstdint>

#include "tools/sim/Route.h"

namespace flight {

inline constexpr double kEarthRadiusMetres = 6371008.8;
inline constexpr double kMetresPerNauticalMile = 1852.0;

// Great-circle distance in metres between two positions (degrees).
double DistanceMetres(const Waypoint& from, const Waypoint& to);
// Initial great-circle course from `from` to `to`, degrees from true north
// in [0, 360). Coincident points give 0; at a pole the course is the one of
// the longitude the point carries.
double InitialCourse(const Waypoint& from, const Waypoint& to);
// The point `metres` along the great circle that leaves `from` on `course`
// (degrees); longitude normalised to [-180, 180].
Waypoint Destination(const Waypoint& from, double course, double metres);
// Knots to metres per second.
inline double KnotsToMetresPerSecond(double knots) {
  return knots * kMetresPerNauticalMile / 3600.0;
}

}  // namespace flight

// Run states the stand-in writes to simulationState. Any value but 0 and
// 0xFFFFFF means running to Orogrid; the stand-in uses 1.
enum class SimState : std::int32_t {
  kWaiting = 0,
  kRunning = 1,
  kLost = 0xFFFFFF,
};

// Accepts "waiting", "running", "lost" or a decimal or 0x-hexadecimal value
// that fits in int32 (for checks such as 16777214, which counts as running).
bool ParseSimState(const char* text, std::int32_t& value);
// "waiting", "running" or "lost" as Orogrid reads the value.
const char* SimStateName(std::int32_t value);

class CFlight {
 public:
  // The flight starts over the route's first waypoint heading for the second
  // and is in the state kWaiting until Start.
  explicit CFlight(const CRoute& route);

  void Start() { m_state = SimState::kRunning; }
  // Advances the aircraft by `metres` of ground track (>= 0), turning at
  // waypoints; the remainder of a step carries over into the next leg. After
  // the last waypoint the aircraft stays there with its last heading and
  // Finished is true.
  void Advance(double metres);
  // Ends the flight: state kLost, as a simulation that has gone away.
  void Lose() { m_state = SimState::kLost; }

  const Waypoint& Position() const { return m_position; }
  double Heading() const { return m_heading; }  // degrees from north, [0, 360)
  int NextWaypoint() const { return m_next; }   // index; Count() once finished
  bool Finished() const { return m_next >= m_route.Count(); }
  SimState State() const { return m_state; }
  double FlownMetres() const { return m_flown; }

 private:
  const CRoute& m_route;
  Waypoint m_position;
  double m_heading;
  int m_next;
  double m_flown;
  SimState m_state;
};
