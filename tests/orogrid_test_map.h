// A small terrain map for the application tests: 360 x 180 pixels (one per
// degree), 24 bits, whose colours encode an elevation that differs from
// pixel to pixel, written as BMP bytes by the tests themselves.
//
// Threading: pure functions; any thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace testmap {

inline constexpr int kWidth = 360;
inline constexpr int kHeight = 180;

// Elevation (metres) the test map encodes at pixel (x, y).
inline int Elevation(int x, int y) { return x * 7 + y * 3 - 200; }

// The colour (0x00BBGGRR) that encodes an elevation: blue carries the
// hundreds (offset 100), green the remainder (offset 10), red is free.
inline std::uint32_t Colour(int elevation) {
  int hundreds = elevation / 100;
  int rest = elevation % 100;
  if (rest < 0) {
    rest += 100;
    hundreds -= 1;
  }
  return (static_cast<std::uint32_t>(100 + hundreds) << 16) |
         (static_cast<std::uint32_t>(10 + rest) << 8) | 0x20u;
}

inline void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

inline void Put32(std::vector<std::uint8_t>& out, unsigned v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// The whole file, bottom-up rows as most bitmap files have them, encoding
// elevation(x, y) (the map's own formula unless another is given).
inline std::vector<std::uint8_t> Bytes(int (*elevation)(int x, int y) = Elevation) {
  const int stride = (kWidth * 3 + 3) / 4 * 4;
  const unsigned imageSize = static_cast<unsigned>(stride * kHeight);
  std::vector<std::uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, 54 + imageSize);
  Put32(out, 0);
  Put32(out, 54);
  Put32(out, 40);
  Put32(out, kWidth);
  Put32(out, kHeight);
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, 0);
  Put32(out, imageSize);
  Put32(out, 2835);
  Put32(out, 2835);
  Put32(out, 0);
  Put32(out, 0);
  for (int row = kHeight - 1; row >= 0; --row) {
    const std::size_t start = out.size();
    for (int x = 0; x < kWidth; ++x) {
      const std::uint32_t c = Colour(elevation(x, row));
      out.push_back(static_cast<std::uint8_t>((c >> 16) & 0xFF));  // blue first
      out.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
      out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    }
    while (out.size() - start < static_cast<std::size_t>(stride)) {
      out.push_back(0);
    }
  }
  return out;
}

inline bool Write(const char* path) {
  const std::vector<std::uint8_t> bytes = Bytes();
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    return false;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace testmap
