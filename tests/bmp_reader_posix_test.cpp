// The POSIX bitmap reader's own refusals: each names what is wrong, since
// the text ends up on the status line after "Sorry :: ". Built into
// bitmap_file_test on POSIX only.
#include <gtest/gtest.h>

#include <string>

#include "platform/posix/bmp_reader.h"
#include "tests/support/BmpTestWriter.h"

namespace {

using bmptest::Bytes;

std::string Refusal(const Bytes& bytes, std::uint64_t maxPixels = std::uint64_t{1} << 27) {
  platform::bmp::DecodedBitmap out;
  char reason[256] = "untouched";
  if (platform::bmp::DecodeBmp(bytes.data(), bytes.size(), maxPixels, out, reason, sizeof reason)) {
    return "accepted";
  }
  EXPECT_EQ(out.pixels, nullptr);
  return reason;
}

TEST(BmpReader, RefusalsSayWhy) {
  const Bytes good = bmptest::Make24(4, 4, [](int x, int y) { return unsigned(x * 16 + y); });
  auto with32 = [&](std::size_t at, std::uint32_t v) {
    Bytes b = good;
    bmptest::Put32(b, at, v);
    return b;
  };
  auto with16 = [&](std::size_t at, std::uint32_t v) {
    Bytes b = good;
    bmptest::Put16(b, at, v);
    return b;
  };
  struct Case {
    Bytes bytes;
    const char* starts;
  };
  const Case cases[] = {
      {Bytes(good.begin(), good.begin() + 10), "file too short"},
      {Bytes(good.begin(), good.begin() + 30), "truncated bitmap header"},
      {Bytes(good.begin(), good.end() - 1), "truncated pixel data"},
      {with32(0, 0x0000), "not a bitmap file"},
      {with32(14, 64), "unsupported bitmap header size 64"},
      {with32(30, 5), "PNG inside a bitmap file"},
      {with32(30, 4), "JPEG inside a bitmap file"},
      {with32(30, 9), "unsupported compression 9"},
      {with16(28, 0), "unsupported bit count 0"},
      {with16(26, 2), "plane count 2"},
      {with32(30, 1), "compression 1 with 24 bits"},
      {with32(18, 0xFFFFFFFF), "invalid width -1"},
      {with32(22, 0x80000000), "invalid height"},
      {with32(22, 0x7FFFFFFF), "image too large"},
      {with32(10, 2), "pixel data offset 2 inside the header"},
      {with32(10, 100000), "pixel data offset 100000 outside the file"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Refusal(c.bytes).rfind(c.starts, 0), 0u) << Refusal(c.bytes);
  }
  EXPECT_EQ(Refusal(good), "accepted");
  EXPECT_EQ(Refusal(good, 15).rfind("image too large (4 x 4 pixels)", 0), 0u);
}

TEST(BmpReader, BitFieldsAndRunsRefused) {
  bmptest::Layout l;
  l.width = 2;
  l.height = 1;
  l.bitCount = 16;
  l.compression = 3;
  const std::uint32_t bad[][3] = {
      {0xF0F0, 0x0F00, 0x000F},   // red not one run of bits
      {0xF800, 0x0FE0, 0x001F},   // red and green overlap
      {0x10000, 0x07E0, 0x001F},  // past 16 bits
      {0, 0, 0},
  };
  for (const auto& m : bad) {
    std::copy(m, m + 3, l.masks);
    EXPECT_EQ(Refusal(bmptest::MakeFile(l, Bytes(4, 0))).rfind("invalid bit-field masks", 0), 0u);
  }

  bmptest::Layout rle;
  rle.width = 4;
  rle.height = 2;
  rle.bitCount = 8;
  rle.compression = 1;
  rle.palette = {0x0, 0xFF};
  EXPECT_EQ(Refusal(bmptest::MakeFile(rle, Bytes{4, 1, 0, 0, 4})), "truncated RLE data");
  EXPECT_EQ(Refusal(bmptest::MakeFile(rle, Bytes{4, 1, 0, 5, 1, 1})), "truncated RLE data");
  EXPECT_EQ(Refusal(bmptest::MakeFile(rle, Bytes{0, 2, 1})), "truncated RLE data");
  // Every row ended: the end-of-bitmap marker may be missing.
  EXPECT_EQ(Refusal(bmptest::MakeFile(rle, Bytes{4, 1, 0, 0, 4, 1, 0, 0})), "accepted");
  // Runs past the line end and deltas past the bitmap are clipped.
  EXPECT_EQ(Refusal(bmptest::MakeFile(rle, Bytes{200, 1, 0, 2, 255, 255, 9, 1, 0, 1})), "accepted");
  rle.topDown = true;
  EXPECT_EQ(Refusal(bmptest::MakeFile(rle, Bytes{0, 1})), "top-down RLE bitmap");
}

TEST(BmpReader, CoreHeaderWithTriplePalette) {
  bmptest::Layout core;
  core.width = 3;
  core.height = 2;
  core.headerSize = 12;
  core.bitCount = 8;
  core.palette.assign(256, 0);  // a core header's table is always full
  core.palette[1] = 0x445566;
  core.palette[2] = 0x778899;
  const Bytes file = bmptest::MakeFile(
      core, bmptest::EncodeRows(3, 2, 8, false, [](int x, int y) { return unsigned(x + y) % 3; }));
  platform::bmp::DecodedBitmap out;
  char reason[128] = "";
  ASSERT_TRUE(platform::bmp::DecodeBmp(file.data(), file.size(), 100, out, reason, sizeof reason))
      << reason;
  EXPECT_EQ(out.pixels[0], 0u);
  EXPECT_EQ(out.pixels[2], 0x778899u);      // (2, 0)
  EXPECT_EQ(out.pixels[3 + 0], 0x445566u);  // (0, 1)
}

}  // namespace
