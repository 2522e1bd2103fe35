// Tests of the TextFunctions core: clamps, CopyText and bounded formatting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "text/TextFcns.h"

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();
}

TEST(TextFcns, ClampITable) {
  struct Case {
    int lo, x, hi, expected;
  };
  const Case cases[] = {
      {0, -1, 150, 0},
      {0, 150, 150, 150},
      {0, 151, 150, 150},
      {0, -7, 150, 0},
      {-10, -7, 150, -7},
      {0, 75, 150, 75},
      {5, 4, 3, 3},
      {5, 2, 3, 5},
      {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MIN},
      {0, INT32_MAX, INT32_MAX, INT32_MAX},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClampI(c.lo, c.x, c.hi), c.expected) << c.lo << " " << c.x << " " << c.hi;
  }
}

TEST(TextFcns, ClampUpperBoundFirstAndNaN) {
  EXPECT_EQ(ClampD(5.0, 1.0, 3.0), 5.0);
  EXPECT_EQ(ClampD(5.0, 4.0, 3.0), 3.0);
  EXPECT_EQ(ClampD(1.0, kNaN, 1000000.0), 1.0);
  EXPECT_EQ(ClampF(1.0f, std::nanf(""), 2.0f), 1.0f);
  EXPECT_EQ(ClampDFD(1.0, std::nanf(""), 2.0), 1.0);
  EXPECT_TRUE(std::isnan(ClampFDD(1.0f, kNaN, 2.0)));
  EXPECT_EQ(ClampFDD(1.0f, 0.5, 2.0), 1.0);
  EXPECT_EQ(ClampD(1.0, INFINITY, 10.0), 10.0);
  EXPECT_EQ(ClampD(1.0, -INFINITY, 10.0), 1.0);
}

TEST(TextFcns, CopyTextBoundsAndPadding) {
  char dst[8];
  std::memset(dst, 'q', sizeof dst);
  EXPECT_EQ(CopyText(dst, "ABCDEFG", 5), dst);
  EXPECT_STREQ(dst, "ABCD");
  EXPECT_EQ(dst[5], 'q') << "wrote past size";

  std::memset(dst, 'q', sizeof dst);
  CopyText(dst, "AB", 6);
  EXPECT_STREQ(dst, "AB");
  for (int i = 2; i < 6; ++i) EXPECT_EQ(dst[i], '\0') << i;
  EXPECT_EQ(dst[6], 'q');
}

// Size 0 used to store a terminator one byte before the buffer.
TEST(TextFcns, CopyTextRefusesWhatItCannotTerminate) {
  char guard[3] = {'g', 'g', 'g'};
  EXPECT_EQ(CopyText(guard + 1, "abc", 0), nullptr);
  EXPECT_EQ(guard[0], 'g');
  EXPECT_EQ(guard[1], 'g');
  EXPECT_EQ(CopyText(guard, "abc", -1), nullptr);
  EXPECT_EQ(CopyText(nullptr, "abc", 3), nullptr);
  EXPECT_EQ(CopyText(guard, nullptr, 3), nullptr);
  EXPECT_EQ(guard[0], 'g');
}

TEST(TextFcns, FormatTextSafeCounts) {
  char buf[9];
  std::memset(buf, 'q', sizeof buf);
  EXPECT_LT(FormatTextSafe(buf, 8, "%s", "123456789012"), 0);
  EXPECT_STREQ(buf, "1234567");
  EXPECT_EQ(buf[8], 'q');
  EXPECT_EQ(FormatTextSafe(buf, 8, "%s", "12345678"), 8);
  EXPECT_STREQ(buf, "1234567");
  EXPECT_EQ(FormatTextSafe(buf, 8, "%d", 42), 2);
  EXPECT_STREQ(buf, "42");
  EXPECT_EQ(FormatTextSafe(nullptr, 8, "%d", 42), 0);
}

TEST(TextFcns, FormatTextTerminatesAtSize) {
  char buf[6];
  EXPECT_EQ(FormatText(buf, 5, "%s", "abcde"), 5);
  EXPECT_STREQ(buf, "abcde");
  EXPECT_LT(FormatText(buf, 5, "%s", "abcdefgh"), 0);
  EXPECT_STREQ(buf, "abcde");
  EXPECT_EQ(FormatText(nullptr, 5, "%s", "x"), 0);
}
