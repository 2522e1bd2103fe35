// libFuzzer target: orogrid-bridge's datagram parser. Any bytes must either
// be refused with a reason, give no fix, or give one sample whose every
// value is finite and in range; the bridge's logic then takes the same
// bytes against a sink that aborts on any value it must never be given.
// Threading: single-threaded, as libFuzzer calls it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tools/bridge/Bridge.h"
#include "tools/bridge/SampleParser.h"

namespace {

bool InRange(double v, double low, double high) {
  return std::isfinite(v) && v >= low && v <= high;
}
bool IsHeading(double v) { return std::isfinite(v) && v >= 0.0 && v < 360.0; }

class CheckingSink : public IBridgeSink {
 public:
  bool Write(double latitude, double longitude, double heading, double altitude) override {
    if (!InRange(latitude, -90.0, 90.0) || !InRange(longitude, -180.0, 180.0) ||
        !IsHeading(heading) || !(std::isnan(altitude) || InRange(altitude, -1000.0, 100000.0))) {
      std::abort();
    }
    return true;
  }
  bool SetState(std::int32_t) override { return true; }
  bool Beat() override { return true; }
  bool Elevation(double, double, double* metres) override {
    *metres = 0.0;
    return true;
  }
  const char* LastError() const override { return ""; }
};

class NoOutput : public IBridgeOutput {
 public:
  void Line(const char*) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  BridgeSample sample;
  sample.latitude = 1234.0;  // no parse may leave this behind as a sample
  char reason[160];
  switch (ParseDatagram(text, size, &sample, reason, sizeof reason)) {
    case SampleKind::kSample:
      if (!InRange(sample.latitude, -90.0, 90.0) || !InRange(sample.longitude, -180.0, 180.0) ||
          (sample.hasHeading && !IsHeading(sample.heading)) ||
          (sample.hasAltitude && !InRange(sample.altitude, -1000.0, 100000.0)) ||
          (sample.hasGroundElevation && !InRange(sample.groundElevation, -1000.0, 9000.0))) {
        std::abort();
      }
      break;
    case SampleKind::kNoFix:
      if (sample.latitude != 1234.0) {
        std::abort();
      }
      break;
    case SampleKind::kRefused:
      if (reason[0] == '\0' || sample.latitude != 1234.0) {
        std::abort();
      }
      break;
  }
  static CheckingSink sink;
  static NoOutput output;
  static CBridge bridge(sink, output, 5.0);
  static double now = 0.0;
  now += 0.05;
  if (!bridge.OnDatagram(now, text, size, false) || !bridge.Tick(now)) {
    std::abort();
  }
  return 0;
}
