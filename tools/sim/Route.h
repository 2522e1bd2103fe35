// Routes for the simulation stand-in: a fixed list of waypoints read from a
// small text file, or the built-in demonstration route into Innsbruck.
//
// Route file format (also printed by orogrid-sim --help):
//   one waypoint per line: LATITUDE LONGITUDE in decimal degrees, north and
//   east positive, separated by blanks, tabs or one comma;
//   '#' starts a comment that runs to the end of the line; blank lines are
//   ignored; at least 2 and at most kMaxWaypoints waypoints; lines at most
//   kMaxLineLength characters; latitude -90..90, longitude -180..180.
// Numbers are plain decimals ("47.26", "-0.5", "1e-3"); "nan", "inf", hex
// and trailing characters are refused.
//
// Threading: no shared state; a CRoute is used by one thread.
#pragma once

#include <cstddef>

struct Waypoint {
  double latitude;   // degrees, north positive
  double longitude;  // degrees, east positive
};

class CRoute {
 public:
  static constexpr int kMaxWaypoints = 1000;
  static constexpr int kMaxLineLength = 200;
  static constexpr std::size_t kMaxFileBytes = 256 * 1024;
  static constexpr int kErrorSize = 256;

  CRoute() : m_count(0), m_szError{} {}

  // Replaces the route with the waypoints in text[0..length). On failure
  // the route keeps its previous waypoints and GetError says what and on
  // which line (1-based) the text was refused. Embedded NUL bytes are refused.
  bool Parse(const char* text, std::size_t length);
  // Reads and parses a route file; a file that cannot be opened or read, or
  // is larger than kMaxFileBytes, is refused with its name in the error.
  bool Load(const char* path);
  // The demonstration route: from Salzburg over the Inn valley into
  // Innsbruck (47.26 N 11.35 E).
  void SetDemonstration();

  int Count() const { return m_count; }
  const Waypoint& At(int index) const { return m_points[index]; }
  const char* GetError() const { return m_szError; }

 private:
  bool Fail(int line, const char* what);

  Waypoint m_points[kMaxWaypoints];
  int m_count;
  char m_szError[kErrorSize];
};

// Strict decimal number: optional sign, digits with at most one point, an
// optional exponent; nothing else in [begin, end). False for anything else,
// NaN and infinities included.
bool ParseDecimal(const char* begin, const char* end, double& value);

// True when latitude is within -90..90 and longitude within -180..180 (both
// finite).
bool ValidPosition(double latitude, double longitude);
