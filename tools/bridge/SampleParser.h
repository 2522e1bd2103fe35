// The position samples orogrid-bridge takes from a simulator's UDP stream:
// NMEA 0183 sentences (RMC and GGA of any talker; others are checked and
// passed over) and the line of the generic protocol in
// data/flightgear/Protocol/orogrid.xml. One datagram gives one sample, no
// fix, or a refusal with its reason; a refused datagram changes nothing.
//
// Everything is checked before any value is used: printable ASCII only (no
// NULs or control bytes but line ends), bounded lengths, strict decimal
// numbers (no NaN, infinity, exponents or hex), ranges, NMEA checksums
// where a sentence has one. A datagram with one bad sentence is refused
// whole.
//
// Needs nothing but the C++ library, so the fuzz target builds it alone.
// Threading: no shared state.
#pragma once

#include <cstddef>

struct BridgeSample {
  double latitude = 0.0;   // degrees north, -90..90
  double longitude = 0.0;  // degrees east, -180..180
  bool hasHeading = false;
  double heading = 0.0;  // degrees true, 0 <= heading < 360
  bool hasAltitude = false;
  double altitude = 0.0;  // metres above sea level
  bool hasGroundElevation = false;
  double groundElevation = 0.0;  // the simulator's own ground under the aircraft, metres
};

enum class SampleKind { kSample, kNoFix, kRefused };

// Longest datagram taken; anything longer is refused as oversized.
constexpr std::size_t kMaxDatagramBytes = 1024;

// Parses one datagram of size bytes (not terminated). kSample fills
// *sample; kNoFix (a well-formed datagram without a position: a receiver
// without a fix, status sentences only) and kRefused leave it as it was.
// On kRefused, reason (reasonSize > 0) holds a one-line reason.
SampleKind ParseDatagram(const char* data, std::size_t size, BridgeSample* sample, char* reason,
                         std::size_t reasonSize);

// A strict decimal number of at most 24 characters: optional sign, digits,
// optional point and digits, at least one digit. False for anything else.
bool ParseStrictDecimal(const char* text, std::size_t length, double* value);
