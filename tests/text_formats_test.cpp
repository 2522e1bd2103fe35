// Tests of the TextFunctions filters and formats: dead band, rate limiter,
// fixed-point, sexagesimal and tenth-minute layouts, UTC clock times.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <numbers>
#include <string>

#include "text/Formats.h"
#include "text/TextFcns.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// A buffer pre-filled with a marker, so unwritten bytes show up.
struct Marked {
  char bytes[32];
  Marked() { std::memset(bytes, '#', sizeof bytes); }
};

}  // namespace

TEST(TextFcns, BacklashDragsBandAndHoldsInside) {
  Backlash b{2.0, 1.0, 9.0, 0.0, 0.0, 0.0, PushingUp};
  EXPECT_DOUBLE_EQ(UpdateBacklash(10.0, b), 9.0);
  EXPECT_DOUBLE_EQ(UpdateBacklash(11.0, b), 10.0);
  EXPECT_DOUBLE_EQ(UpdateBacklash(12.0, b), 11.0);
  EXPECT_DOUBLE_EQ(b.upper, 12.0);
  // The reversal re-anchors the band at the first sample past the turn.
  EXPECT_DOUBLE_EQ(UpdateBacklash(11.5, b), 10.5);
  EXPECT_EQ(b.mode, InsideAfterRise);
  for (double x : {9.6, 11.4, 10.0, 9.5, 11.5}) {
    EXPECT_DOUBLE_EQ(UpdateBacklash(x, b), 10.5) << x;
  }
  // Leaving the band returns the old output once, then follows.
  EXPECT_DOUBLE_EQ(UpdateBacklash(8.0, b), 10.5);
  EXPECT_EQ(b.mode, PushingDown);
  EXPECT_DOUBLE_EQ(UpdateBacklash(7.0, b), 8.0);
}

TEST(TextFcns, BacklashRepairsUnknownMode) {
  Backlash b{2.0, 1.0, 0.0, 5.0, 0.0, 2.0, 42};
  EXPECT_DOUBLE_EQ(UpdateBacklash(100.0, b), 5.0);
  EXPECT_EQ(b.mode, InsideAfterFall);
  EXPECT_DOUBLE_EQ(b.lastInput, 100.0);
}

TEST(TextFcns, RateLimitTable) {
  struct Case {
    double rise, fall, step, target, current, expected;
  };
  const Case cases[] = {
      {2, -3, 0.5, 10, 0, 1.0},    {2, -3, 0.5, -10, 0, -1.5}, {2, -3, 0.5, 0.4, 0, 0.4},
      {2, -3, 0.5, -0.4, 0, -0.4}, {2, -3, 0.0, 10, 7, 0.0},   {2, -3, 0.0, 7, 7, 0.0},
      {2, 3, 0.5, -10, 0, 1.5},  // a positive fall rate moves a falling value up
  };
  for (const Case& c : cases) {
    const RateLimits limits{c.rise, c.fall, c.step};
    EXPECT_DOUBLE_EQ(RateLimit(c.target, c.current, limits), c.expected)
        << c.target << " from " << c.current;
  }
}

TEST(TextFcns, SmallHelpers) {
  EXPECT_EQ(TextBufferSize(), 1024);
  EXPECT_EQ(BoolLetter(true), 'T');
  EXPECT_EQ(BoolLetter(false), 'F');
}

TEST(Formats, FormatFixedLayouts) {
  EXPECT_STREQ(FormatFixed(3.14159, 2), "      3.14");
  EXPECT_STREQ(FormatFixed(3.14159, 0), "         3");
  EXPECT_STREQ(FormatFixed(3.14159, 7), "   3.14159");
  EXPECT_STREQ(FormatFixed(-2.5, 1), "      -2.5");
  // The buffer is shared: the second call overwrites the first.
  const char* first = FormatFixed(1.0, 1);
  FormatFixed(2.0, 1);
  EXPECT_STREQ(first, "       2.0");
  // Too big for 256 bytes: cut, still terminated.
  EXPECT_EQ(std::strlen(FormatFixed(1e300, 5)), 255U);
}

TEST(Formats, SexagesimalTable) {
  struct Case {
    const char* name;
    std::string text;
    const char* expected;
  };
  char b[24];
  const auto run = [&b](char* (*f)(char*, double), double v) { return std::string(f(b, v)); };
  const auto runAxis = [&b](char* (*f)(char*, double, int), double v, int axis) {
    return std::string(f(b, v, axis));
  };
  const Case cases[] = {
      {"dms lat", runAxis(FormatDmsSeconds, 185415.0, AxisLatitude), "N051:30:15"},
      {"dms lon neg", runAxis(FormatDmsSeconds, -185415.0, AxisLongitude), "W051:30:15"},
      {"dms no carry", runAxis(FormatDmsSeconds, 59.6, AxisLatitude), "N000:00:60"},
      {"dms bad axis", runAxis(FormatDmsSeconds, 3600.0, 7), "?001:00:00"},
      {"dms -0 is N", runAxis(FormatDmsSeconds, -0.0, AxisLatitude), "N000:00:00"},
      {"dms tiny neg", runAxis(FormatDmsSeconds, -0.2, AxisLatitude), "S000:00:00"},
      {"flag 1", runAxis(FormatDmsSecondsByFlag, 185415.0, 1), "N051:30:15"},
      {"flag 0", runAxis(FormatDmsSecondsByFlag, 185415.0, 0), "E051:30:15"},
      {"flag 2", runAxis(FormatDmsSecondsByFlag, 185415.0, 2), "?051:30:15"},
      {"deg", runAxis(FormatDmsDegrees, 51.504166666666666, AxisLatitude), "N051:30:15"},
      {"deg west", runAxis(FormatDmsDegrees, -0.5, AxisLongitude), "W000:30:00"},
      {"deg axis", runAxis(FormatDmsDegrees, 1.0, -1), "?001:00:00"},
      {"rad", runAxis(FormatDmsRadians, std::numbers::pi, AxisLongitude), "E180:00:00"},
      {"rad south", runAxis(FormatDmsRadians, -std::numbers::pi / 4, AxisLatitude), "S045:00:00"},
      {"signed", run(FormatSignedDms, 3723.0), "+001:02:03"},
      {"signed neg", run(FormatSignedDms, -3723.0), "-001:02:03"},
      {"hms", run(FormatHms, 3661.5), "    1: 1: 1.50000"},
      {"hms neg", run(FormatHms, -3661.0), "   -1:-1:-1.00000"},
      {"degmin half", run(FormatDegMin, -1800.0), "  +0:-30.000"},
      {"degmin", run(FormatDegMin, -5400.0), "  -1:-30.000"},
      {"degmin pos", run(FormatDegMin, 5400.0), "  +1:30.000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.text, c.expected) << c.name;
  }
}

// NaN and huge values used to reach a float-to-int conversion; they now
// truncate to INT32_MIN and the text stays inside 24 bytes.
TEST(Formats, UnconvertibleValuesStayInside24Bytes) {
  for (double v : {kNaN, kInf, -kInf, 1e300, -1e19}) {
    Marked m;
    FormatHms(m.bytes, v);
    EXPECT_LT(std::strlen(m.bytes), 24U) << v;
    EXPECT_EQ(m.bytes[24], '#') << v;
    FormatDegMin(m.bytes, v);
    EXPECT_EQ(m.bytes[24], '#') << v;
    FormatDmsSeconds(m.bytes, v, AxisLatitude);
    EXPECT_EQ(m.bytes[24], '#') << v;
    FormatDmsRadians(m.bytes, v, AxisLatitude);
    EXPECT_EQ(m.bytes[24], '#') << v;
  }
  char b[24];
  EXPECT_STREQ(FormatSignedDms(b, 1e300), "+-2147483648:-214748364");
}

TEST(Formats, TenthMinuteTable) {
  struct Case {
    const char* name;
    std::string text;
    const char* expected;
  };
  char b[16];
  const auto tenths = [&b](double v, int axis) {
    return std::string(FormatDegMinTenths(b, v, axis));
  };
  const auto whole = [&b](double v, int axis) {
    return std::string(FormatWholeDegrees(b, v, axis));
  };
  const auto letter = [&b](double v, bool lat) {
    return std::string(FormatLetterDegMinTenths(b, v, lat));
  };
  const auto marked = [&b](double v, int size, int axis) {
    return std::string(FormatDegMinTenthsMarked(b, size, v, axis));
  };
  const Case cases[] = {
      {"lat", tenths(51.5, AxisLatitude), "5130.0N"},
      {"lon", tenths(-0.125, AxisLongitude), "00007.5W"},
      {"no carry 51.3", tenths(51.3, AxisLatitude), "5117.9N"},
      {"360 accepted", tenths(360.0, AxisLongitude), "36000.0E"},
      {"-360 accepted", tenths(-360.0, AxisLatitude), "36000.0S"},
      {"beyond -360", tenths(-360.5, AxisLatitude), ""},
      {"beyond 360", tenths(360.01, AxisLongitude), ""},
      {"NaN", tenths(kNaN, AxisLatitude), ""},
      {"whole", whole(51.9, AxisLatitude), "51N"},
      {"whole -0.5", whole(-0.5, AxisLatitude), "00S"},
      {"whole lon", whole(7.0, AxisLongitude), "007E"},
      {"letter lat", letter(51.5, true), "N5130.0"},
      {"letter lon", letter(-0.125, false), "W00007.5"},
      {"letter range", letter(400.0, true), ""},
      {"marked", marked(51.5, 16, AxisLatitude), "51^30.0N"},
      {"marked lon", marked(-1.5, 16, AxisLongitude), "001^30.0W"},
      {"marked size 4", marked(51.5, 4, AxisLatitude), "51^"},
      {"marked range", marked(-361.0, 16, AxisLatitude), ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.text, c.expected) << c.name;
  }
}

// The 10-byte forms deliver exactly 10 bytes: the text, then zero bytes.
TEST(Formats, TenthMinuteDeliversTenBytes) {
  Marked m;
  FormatDegMinTenths(m.bytes, 51.5, AxisLatitude);
  for (int i = 7; i < 10; ++i) EXPECT_EQ(m.bytes[i], '\0') << i;
  EXPECT_EQ(m.bytes[10], '#');
  Marked w;
  FormatWholeDegrees(w.bytes, 1.0, AxisLatitude);
  EXPECT_EQ(w.bytes[9], '\0');
  EXPECT_EQ(w.bytes[10], '#');
}

// An axis other than 0 or 1 formatted nothing and delivered whatever the
// work buffer held; it now delivers the empty text.
TEST(Formats, TenthMinuteUnknownAxisGivesEmptyText) {
  for (int axis : {-1, 2, 99}) {
    Marked a;
    EXPECT_STREQ(FormatDegMinTenths(a.bytes, 51.5, axis), "") << axis;
    for (int i = 0; i < 10; ++i) EXPECT_EQ(a.bytes[i], '\0') << i;
    Marked w;
    EXPECT_STREQ(FormatWholeDegrees(w.bytes, 51.5, axis), "") << axis;
    Marked k;
    EXPECT_STREQ(FormatDegMinTenthsMarked(k.bytes, 12, 51.5, axis), "") << axis;
    EXPECT_EQ(k.bytes[12], '#');
  }
  Marked z;
  FormatDegMinTenthsMarked(z.bytes, 0, 51.5, AxisLatitude);
  EXPECT_EQ(z.bytes[0], '#') << "size 0 must write nothing";
}

TEST(Formats, UtcHourMinute) {
  struct Case {
    long long seconds;
    const char* expected;
  };
  const Case cases[] = {
      {0, "00:00"},          {45296, "12:34"}, {86399, "23:59"},  {86400 + 3600, "01:00"},
      {1700000000, "22:13"}, {-1, "xx:xx"},    {-86400, "xx:xx"},
  };
  for (const Case& c : cases) {
    Marked m;
    const std::time_t t = static_cast<std::time_t>(c.seconds);
    EXPECT_STREQ(FormatUtcHourMinute(m.bytes, &t), c.expected) << c.seconds;
    EXPECT_EQ(m.bytes[6], '#');
  }
  Marked m;
  EXPECT_STREQ(FormatUtcHourMinute(m.bytes, nullptr), "xx:xx");
  EXPECT_EQ(FormatUtcHourMinute(nullptr, nullptr), nullptr);
}
