// orogrid-bridge's parts: the datagram parser over good and hostile input,
// the command line, and the bridge's logic (state, loss, beats, status
// lines) against a recording sink.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/bridge/Bridge.h"
#include "tools/bridge/BridgeOptions.h"
#include "tools/bridge/SampleParser.h"

namespace {

// From the recordings: FlightGear's NMEA datagram and its generic line.
const char kFgNmea[] =
    "$GPRMC,131900,A,6357.0000,N,02218.0000,W,0.0,0.0,071226,9.6,W,A*10\n"
    "$GPGGA,131900,6357.0000,N,02218.0000,W,1,08,0.9,914.4,M,0.0,M,,*6D\n"
    "$GPGSA,A,3,01,02,03,,05,,07,,09,,11,12,0.9,0.9,2.0*38\n";
const char kFgGeneric[] =
    "75.308,63.96705491,-22.29465669,16.019,3001.42,2804.79,59.93,0,0,0,1.0\n";

SampleKind Parse(const std::string& text, BridgeSample* s, std::string* reason = nullptr) {
  char why[160];
  const SampleKind kind = ParseDatagram(text.data(), text.size(), s, why, sizeof why);
  if (reason != nullptr) {
    *reason = why;
  }
  return kind;
}

// Appends "*HH" with the sentence's right checksum.
std::string Sum(const std::string& sentence) {
  unsigned sum = 0;
  for (std::size_t i = 1; i < sentence.size(); ++i) {
    sum ^= static_cast<unsigned char>(sentence[i]);
  }
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X", sum);
  return sentence + tail;
}

TEST(BridgeParser, FlightGearNmeaDatagramGivesPositionCourseAndAltitude) {
  BridgeSample s;
  ASSERT_EQ(SampleKind::kSample, Parse(kFgNmea, &s));
  EXPECT_DOUBLE_EQ(63.95, s.latitude);
  EXPECT_DOUBLE_EQ(-22.3, s.longitude);
  EXPECT_TRUE(s.hasHeading);
  EXPECT_TRUE(s.hasAltitude);
  EXPECT_DOUBLE_EQ(914.4, s.altitude);
  EXPECT_FALSE(s.hasGroundElevation);
}

TEST(BridgeParser, GenericLineGivesEverythingInMetres) {
  BridgeSample s;
  ASSERT_EQ(SampleKind::kSample, Parse(kFgGeneric, &s));
  EXPECT_DOUBLE_EQ(63.96705491, s.latitude);
  EXPECT_DOUBLE_EQ(-22.29465669, s.longitude);
  EXPECT_DOUBLE_EQ(16.019, s.heading);
  EXPECT_NEAR(3001.42 * 0.3048, s.altitude, 1e-9);
  ASSERT_TRUE(s.hasGroundElevation);
  EXPECT_DOUBLE_EQ(59.93, s.groundElevation);
}

struct GoodCase {
  const char* name;
  std::string datagram;
  double latitude, longitude;
  bool hasHeading;
  double heading;
  bool hasAltitude;
};

TEST(BridgeParser, AcceptsEveryTalkerHemisphereAndOptionalChecksum) {
  const GoodCase cases[] = {
      {"GN talker, south-east",
       Sum("$GNRMC,120000,A,3351.5000,S,15112.6000,E,5.0,270.5,010125,,,A"), -33.858333333, 151.21,
       true, 270.5, false},
      {"II talker GGA alone",
       Sum("$IIGGA,120000,4715.6000,N,01121.0000,E,1,08,0.9,574.0,M,47.0,M,,"), 47.26, 11.35, false,
       0.0, true},
      {"no checksum", "$GPRMC,120000,A,0000.0000,N,00000.0000,E,0.0,,010125,,,A\r\n", 0.0, 0.0,
       false, 0.0, false},
      {"course 360 is north", Sum("$GPRMC,1,A,1000.0,N,01000.0,W,1,360.0,010125,,"), 10.0, -10.0,
       true, 0.0, false},
      {"lower-case checksum", "$GPRMC,2,A,1000.0,N,01000.0,W,1,,010125,,*0b", 10.0, -10.0, false,
       0.0, false},
      {"the poles and the antimeridian", Sum("$GPGGA,1,9000.0,N,18000.0,W,1,5,1,,M,,M,,"), 90.0,
       -180.0, false, 0.0, false},
      {"generic heading wrapped", "0,1.5,2.5,-90,0,0,0,0,0,0,0", 1.5, 2.5, true, 270.0, true},
  };
  for (const GoodCase& c : cases) {
    BridgeSample s;
    std::string reason;
    ASSERT_EQ(SampleKind::kSample, Parse(c.datagram, &s, &reason)) << c.name << ": " << reason;
    EXPECT_NEAR(c.latitude, s.latitude, 1e-8) << c.name;
    EXPECT_NEAR(c.longitude, s.longitude, 1e-8) << c.name;
    EXPECT_EQ(c.hasHeading, s.hasHeading) << c.name;
    if (c.hasHeading) {
      EXPECT_NEAR(c.heading, s.heading, 1e-9) << c.name;
    }
    EXPECT_EQ(c.hasAltitude, s.hasAltitude) << c.name;
  }
}

TEST(BridgeParser, NoFixAndStatusSentencesAreWellFormedButCarryNoPosition) {
  const std::string cases[] = {
      Sum("$GPRMC,120000,V,,,,,,,010125,,,N"),
      Sum("$GPGGA,120000,,,,,0,00,,,M,,M,,"),
      Sum("$GPGSA,A,3,01,02,03,,05,,07,,09,,11,12,0.9,0.9,2.0"),
      Sum("$PGRME,15.0,M,45.0,M,25.0,M"),
  };
  for (const std::string& c : cases) {
    BridgeSample s;
    s.latitude = 12.0;
    std::string reason;
    EXPECT_EQ(SampleKind::kNoFix, Parse(c, &s, &reason)) << c << ": " << reason;
    EXPECT_EQ(12.0, s.latitude) << c;
  }
}

struct BadCase {
  const char* name;
  std::string datagram;
  const char* reasonPart;
};

TEST(BridgeParser, RefusesHostileDatagramsWithAReasonAndLeavesTheSampleAlone) {
  const std::string nmea(kFgNmea);
  std::string withNul(kFgGeneric);
  withNul[5] = '\0';
  std::string badSum = nmea;
  badSum.replace(badSum.find("*10"), 3, "*11");
  const BadCase cases[] = {
      {"empty", "", "empty"},
      {"oversized", std::string(kMaxDatagramBytes + 1, '1'), "more than"},
      {"embedded NUL", withNul, "not printable"},
      {"high byte", std::string("0,1,2,3,4,5,6,7,8,9,\xB0"), "not printable"},
      {"bad checksum in one sentence", badSum, "checksum"},
      {"checksum of one digit", "$GPRMC,1,A,1000.0,N,01000.0,W,1,,010125,,*4", "checksum"},
      {"latitude beyond the pole", Sum("$GPRMC,1,A,9000.1,N,01000.0,W,1,,010125,,"), "RMC"},
      {"minutes of 60", Sum("$GPRMC,1,A,1060.0,N,01000.0,W,1,,010125,,"), "RMC"},
      {"hemisphere X", Sum("$GPRMC,1,A,1000.0,X,01000.0,W,1,,010125,,"), "RMC"},
      {"status neither A nor V", Sum("$GPRMC,1,Q,1000.0,N,01000.0,W,1,,010125,,"), "RMC"},
      {"course NaN", Sum("$GPRMC,1,A,1000.0,N,01000.0,W,1,nan,010125,,"), "RMC"},
      {"GGA altitude in feet", Sum("$GPGGA,1,1000.0,N,01000.0,W,1,5,1,300,F,,M,,"), "GGA"},
      {"GGA truncated", Sum("$GPGGA,1,1000.0,N,01000.0,W,1"), "GGA"},
      {"overlong field", Sum("$GPRMC,1,A,1000.000000000000000000000,N,01000.0,W,1,,010125,,"),
       "RMC"},
      {"RMC and GGA disagree",
       Sum("$GPRMC,1,A,1000.0,N,01000.0,W,1,,010125,,") + "\n" +
           Sum("$GPGGA,1,1100.0,N,01000.0,W,1,5,1,300,M,,M,,"),
       "disagree"},
      {"not a sentence after one", Sum("$GPGSA,A,3") + "\nhello", "'$'"},
      {"generic NaN", "0,nan,2,3,4,5,6,7,8,9,10", "not a decimal"},
      {"generic infinity", "0,1,inf,3,4,5,6,7,8,9,10", "not a decimal"},
      {"generic exponent", "0,1e1,2,3,4,5,6,7,8,9,10", "not a decimal"},
      {"generic hex", "0,0x1,2,3,4,5,6,7,8,9,10", "not a decimal"},
      {"generic empty field", "0,,2,3,4,5,6,7,8,9,10", "not a decimal"},
      {"generic latitude 91", "0,91,2,3,4,5,6,7,8,9,10", "latitude"},
      {"generic longitude -180.5", "0,1,-180.5,3,4,5,6,7,8,9,10", "longitude"},
      {"generic altitude beyond space", "0,1,2,3,400000,5,6,7,8,9,10", "altitude"},
      {"generic ground too deep", "0,1,2,3,4,5,-5000,7,8,9,10", "ground"},
      {"generic truncated", "75.308,63.96705491,-22.294", "fields"},
      {"generic two lines", std::string(kFgGeneric) + kFgGeneric, "more than one line"},
      {"generic too many fields", "0,1,2,3,4,5,6,7,8,9,10,11", "fields"},
      {"generic number of 25 characters", "0,1.000000000000000000000000,2,3,4,5,6,7,8,9,10",
       "not a decimal"},
  };
  for (const BadCase& c : cases) {
    BridgeSample s;
    s.latitude = 12.0;
    std::string reason;
    EXPECT_EQ(SampleKind::kRefused, Parse(c.datagram, &s, &reason)) << c.name;
    EXPECT_NE(std::string::npos, reason.find(c.reasonPart)) << c.name << ": " << reason;
    EXPECT_EQ(12.0, s.latitude) << c.name;
  }
}

TEST(BridgeParser, StrictDecimalTakesOnlyPlainNumbers) {
  double v = 0.0;
  EXPECT_TRUE(ParseStrictDecimal("+1.5", 4, &v));
  EXPECT_EQ(1.5, v);
  EXPECT_TRUE(ParseStrictDecimal("-.5", 3, &v));
  EXPECT_EQ(-0.5, v);
  EXPECT_TRUE(ParseStrictDecimal("7.", 2, &v));
  for (const char* bad : {"", "-", ".", "1.2.3", " 1", "1 ", "+-1", "1e3", "NaN", "0x10"}) {
    EXPECT_FALSE(ParseStrictDecimal(bad, std::strlen(bad), &v)) << bad;
  }
}

// Command line.
BridgeCommand ParseArgs(std::vector<const char*> args, BridgeOptions* options,
                        std::string* error = nullptr) {
  args.insert(args.begin(), "orogrid-bridge");
  char why[256];
  const BridgeCommand command =
      ParseBridgeOptions(static_cast<int>(args.size()), args.data(), *options, why, sizeof why);
  if (error != nullptr) {
    *error = why;
  }
  return command;
}

TEST(BridgeOptions, DefaultsAndEveryOption) {
  BridgeOptions o;
  ASSERT_EQ(BridgeCommand::kRun, ParseArgs({}, &o));
  EXPECT_STREQ("127.0.0.1", o.address);
  EXPECT_EQ(5500, o.port);
  EXPECT_STREQ("TrnShmSpace", o.segment);
  EXPECT_EQ(5.0, o.lossTimeoutSeconds);
  EXPECT_FALSE(o.exitOnLoss);
  ASSERT_EQ(BridgeCommand::kRun, ParseArgs({"--address", "0.0.0.0", "--port", "65535", "--segment",
                                            "Test.1", "--loss-timeout", "0.5", "--exit-on-loss"},
                                           &o));
  EXPECT_STREQ("0.0.0.0", o.address);
  EXPECT_EQ(65535, o.port);
  EXPECT_STREQ("Test.1", o.segment);
  EXPECT_EQ(0.5, o.lossTimeoutSeconds);
  EXPECT_TRUE(o.exitOnLoss);
  EXPECT_EQ(BridgeCommand::kHelp, ParseArgs({"--port", "1", "-h"}, &o));
  EXPECT_EQ(BridgeCommand::kVersion, ParseArgs({"--version"}, &o));
}

TEST(BridgeOptions, RefusesBadValuesAndUnknownOptions) {
  const std::vector<std::vector<const char*>> cases = {
      {"--bogus"},
      {"--port"},
      {"--port", "0"},
      {"--port", "65536"},
      {"--port", "55OO"},
      {"--address", "localhost"},
      {"--address", "127.0.0.256"},
      {"--address", "127.0.0"},
      {"--segment", "a/b"},
      {"--loss-timeout", "0.1"},
      {"--loss-timeout", "nan"},
      {"stray"},
  };
  for (const auto& args : cases) {
    BridgeOptions o;
    std::string error;
    EXPECT_EQ(BridgeCommand::kError, ParseArgs(args, &o, &error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

// The bridge against a sink that records every call.
struct Call {
  char kind;  // 'w' write, 's' state, 'b' beat
  double latitude, longitude, heading, altitude;
  std::int32_t state;
};

class RecordingSink : public IBridgeSink {
 public:
  bool Write(double latitude, double longitude, double heading, double altitude) override {
    calls.push_back({'w', latitude, longitude, heading, altitude, 0});
    return !failWrites;
  }
  bool SetState(std::int32_t state) override {
    calls.push_back({'s', 0, 0, 0, 0, state});
    return true;
  }
  bool Beat() override {
    calls.push_back({'b', 0, 0, 0, 0, 0});
    return true;
  }
  bool Elevation(double, double, double* metres) override {
    *metres = elevation;
    return haveElevation;
  }
  const char* LastError() const override { return "the record is gone"; }

  std::vector<Call> calls;
  bool failWrites = false;
  bool haveElevation = true;
  double elevation = 61.0;
};

class RecordingOutput : public IBridgeOutput {
 public:
  void Line(const char* text) override { lines.emplace_back(text); }
  std::vector<std::string> lines;
};

class BridgeLogic : public ::testing::Test {
 protected:
  void Send(double now, const std::string& text) {
    ASSERT_TRUE(bridge.OnDatagram(now, text.data(), text.size(), false));
  }
  RecordingSink sink;
  RecordingOutput out;
  CBridge bridge{sink, out, 2.0};
};

TEST_F(BridgeLogic, WaitsThenWritesThePositionBeforeSayingItRuns) {
  ASSERT_TRUE(bridge.Start(0.0));
  ASSERT_EQ(1u, sink.calls.size());
  EXPECT_EQ(CBridge::kWaiting, sink.calls[0].state);
  Send(0.1, kFgGeneric);
  ASSERT_EQ(3u, sink.calls.size());
  EXPECT_EQ('w', sink.calls[1].kind);
  EXPECT_DOUBLE_EQ(63.96705491, sink.calls[1].latitude);
  EXPECT_NEAR(914.83, sink.calls[1].altitude, 0.01);
  EXPECT_EQ('s', sink.calls[2].kind);
  EXPECT_EQ(CBridge::kRunning, sink.calls[2].state);
  Send(0.2, kFgGeneric);
  EXPECT_EQ(4u, sink.calls.size()) << "running is said once";
}

TEST_F(BridgeLogic, RefusedDatagramsWriteNothingAndAreReportedOnceASecond) {
  ASSERT_TRUE(bridge.Start(0.0));
  Send(0.1, "0,nan,2,3,4,5,6,7,8,9,10");
  Send(0.2, "garbage");
  EXPECT_TRUE(bridge.OnDatagram(0.3, "x", 1, true));
  EXPECT_EQ(1u, sink.calls.size());
  EXPECT_EQ(3u, bridge.Counts().refused);
  ASSERT_EQ(1u, out.lines.size());
  EXPECT_NE(std::string::npos, out.lines[0].find("refused a datagram: field 2")) << out.lines[0];
  ASSERT_TRUE(bridge.Tick(1.0));
  EXPECT_NE(std::string::npos, out.lines.back().find("3 refused")) << out.lines.back();
  EXPECT_NE(std::string::npos, out.lines.back().find("waiting for the first sample"));
}

TEST_F(BridgeLogic, StatusLineShowsRatePositionAndBothGroundElevations) {
  ASSERT_TRUE(bridge.Start(0.0));
  for (int i = 0; i < 19; ++i) {
    Send(0.05 * i, kFgGeneric);
  }
  ASSERT_TRUE(bridge.Tick(1.0));
  const std::string& line = out.lines.back();
  EXPECT_NE(std::string::npos, line.find("19.0 samples/s")) << line;
  EXPECT_NE(std::string::npos, line.find("63.96705 N  22.29466 W")) << line;
  EXPECT_NE(std::string::npos, line.find("Orogrid 61 m, simulator 59.9 m, difference +1.1 m"))
      << line;
  sink.haveElevation = false;
  ASSERT_TRUE(bridge.Tick(2.0));
  EXPECT_NE(std::string::npos, out.lines.back().find("0.0 samples/s")) << out.lines.back();
  EXPECT_NE(std::string::npos, out.lines.back().find("Orogrid -, simulator 59.9 m"))
      << out.lines.back();
}

TEST_F(BridgeLogic, LostAfterTheTimeoutAndRunningAgainWhenSamplesReturn) {
  ASSERT_TRUE(bridge.Start(0.0));
  Send(0.5, kFgNmea);
  ASSERT_TRUE(bridge.Tick(2.4));
  EXPECT_FALSE(bridge.IsLost());
  ASSERT_TRUE(bridge.Tick(2.5));
  EXPECT_TRUE(bridge.IsLost());
  EXPECT_EQ(CBridge::kLost, sink.calls.back().state);
  const std::size_t calls = sink.calls.size();
  ASSERT_TRUE(bridge.Tick(5.0));
  EXPECT_EQ(calls, sink.calls.size()) << "lost is said once";
  Send(6.0, kFgNmea);
  EXPECT_EQ(CBridge::kRunning, sink.calls.back().state);
  EXPECT_FALSE(bridge.IsLost());
}

TEST_F(BridgeLogic, NoFixDatagramsBeatAtMostTenTimesASecondAndKeepTheStreamAlive) {
  ASSERT_TRUE(bridge.Start(0.0));
  Send(0.0, kFgNmea);
  const std::string noFix = Sum("$GPRMC,120000,V,,,,,,,010125,,,N");
  for (int i = 1; i <= 40; ++i) {
    Send(0.05 * i, noFix);
  }
  int beats = 0;
  for (const Call& c : sink.calls) {
    beats += c.kind == 'b' ? 1 : 0;
  }
  EXPECT_GE(beats, 19);
  EXPECT_LE(beats, 21);
  ASSERT_TRUE(bridge.Tick(3.5));
  EXPECT_FALSE(bridge.IsLost());
}

// A bridge started before its simulator went unbeaten until the first
// sample, and the server took it for a simulation that died 5 s later.
TEST_F(BridgeLogic, WaitingForASlowSimulatorKeepsBeating) {
  ASSERT_TRUE(bridge.Start(0.0));
  for (int i = 1; i <= 100; ++i) {
    ASSERT_TRUE(bridge.Tick(0.1 * i));
  }
  int beats = 0;
  for (const Call& c : sink.calls) {
    beats += c.kind == 'b' ? 1 : 0;
  }
  EXPECT_GE(beats, 95);
  EXPECT_EQ(CBridge::kWaiting, bridge.State());
  Send(10.05, kFgGeneric);
  const std::size_t calls = sink.calls.size();
  ASSERT_TRUE(bridge.Tick(10.2));
  EXPECT_EQ(calls, sink.calls.size()) << "once running, the stream's samples are the beats";
}

// The shipped protocol file once held "--" inside its comment, which XML
// forbids: FlightGear refused it and sent nothing.
TEST(BridgeProtocolFile, IsWellFormedWhereFlightGearsReaderLooks) {
  std::FILE* f = std::fopen(OROGRID_PROTOCOL_FILE, "rb");
  ASSERT_NE(nullptr, f) << OROGRID_PROTOCOL_FILE;
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) {
    text.append(buffer, n);
  }
  std::fclose(f);
  for (std::size_t at = text.find("<!--"); at != std::string::npos; at = text.find("<!--", at)) {
    const std::size_t end = text.find("-->", at + 4);
    ASSERT_NE(std::string::npos, end) << "a comment never closed";
    EXPECT_EQ(std::string::npos, text.substr(at + 4, end - at - 4).find("--"))
        << "\"--\" inside the comment at byte " << at;
    at = end + 3;
  }
  // Every element closes in the order it opened.
  std::vector<std::string> open;
  for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
    if (text.compare(at, 4, "<!--") == 0) {
      at = text.find("-->", at);
      continue;
    }
    if (text.compare(at, 2, "<?") == 0) {
      continue;
    }
    const std::size_t end = text.find('>', at);
    ASSERT_NE(std::string::npos, end);
    if (text[at + 1] == '/') {
      ASSERT_FALSE(open.empty()) << text.substr(at, end - at + 1);
      EXPECT_EQ(open.back(), text.substr(at + 2, end - at - 2));
      open.pop_back();
    } else if (text[end - 1] != '/') {
      open.push_back(text.substr(at + 1, end - at - 1));
    }
  }
  EXPECT_TRUE(open.empty());
  EXPECT_NE(std::string::npos, text.find("<node>/position/ground-elev-m</node>"));
}

TEST_F(BridgeLogic, HeadingAndAltitudeCarryOverFromEarlierSentences) {
  ASSERT_TRUE(bridge.Start(0.0));
  Send(0.0, Sum("$GPRMC,1,A,1000.0,N,01000.0,W,1,45.0,010125,,"));
  Send(0.1, Sum("$GPGGA,1,1000.0,N,01000.0,W,1,5,1,300.0,M,,M,,"));
  Send(0.2, Sum("$GPRMC,1,A,1000.0,N,01000.0,W,1,,010125,,"));
  Send(3.0, Sum("$GPRMC,1,A,1000.0,N,01000.0,W,1,,010125,,"));
  std::vector<Call> writes;
  for (const Call& c : sink.calls) {
    if (c.kind == 'w') {
      writes.push_back(c);
    }
  }
  ASSERT_EQ(4u, writes.size());
  EXPECT_TRUE(std::isnan(writes[0].altitude));
  EXPECT_EQ(45.0, writes[1].heading);
  EXPECT_EQ(300.0, writes[1].altitude);
  EXPECT_EQ(45.0, writes[2].heading);
  EXPECT_EQ(300.0, writes[2].altitude);
  EXPECT_TRUE(std::isnan(writes[3].altitude)) << "an altitude older than 2 s is not used";
}

TEST_F(BridgeLogic, AFailedWriteStopsTheBridgeWithTheSinksReason) {
  ASSERT_TRUE(bridge.Start(0.0));
  sink.failWrites = true;
  EXPECT_FALSE(bridge.OnDatagram(0.1, kFgGeneric, std::strlen(kFgGeneric), false));
  EXPECT_STREQ("cannot write the position: the record is gone", bridge.LastError());
}

}  // namespace
