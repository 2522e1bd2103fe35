// Terrain bitmap encoding for the map maker: elevation <-> colour value and a
// plain 24-bit BMP writer and reader for maps of the server's geometry.
//
// Colour values are laid out 0x00BBGGRR like the server's pixel reads. The
// server decodes a colour v as 0 m when v is exactly 0, else as
// (blue - 100) * 100 + (green - 10) metres; red is ignored.
//
// Threading: no shared state; objects are used by one thread at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace mapmaker {

constexpr int kMinElevation = -10010;  // blue 0, green 0
constexpr int kMaxElevation = 15745;   // blue 255, green 255
constexpr std::uint32_t kOutsideColour = 0xFFFFFFFFu;

// Colour value for elevation e (whole metres, kMinElevation..kMaxElevation;
// values outside are clamped). Blue = 100 + floor(e / 100) and green = 10 +
// the floor remainder, except at the two ends of the range where blue would
// leave 0..255: there blue stays at 0 (or 255) and green carries the rest.
// red is the picture channel; it is raised to 1 whenever the colour would
// otherwise be exactly 0, which the server reads as 0 m rather than -10010 m.
std::uint32_t EncodeElevation(int e, std::uint8_t red);

// The server's decoding rule: exactly 0 is 0 m, otherwise
// (blue - 100) * 100 + (green - 10) metres.
int DecodeElevation(std::uint32_t colour);

// Writes a 24-bit bottom-up BMP of width x height pixels. rowFn(y, bgr) fills
// row y (0 = north) with width blue-green-red triples; rows are requested from
// the south edge up, one at a time. Returns false with text in error
// (at most errorSize - 1 characters) when the file cannot be written.
using RowFunction = void (*)(int y, std::uint8_t* bgr, void* context);
bool WriteBitmap24(std::FILE* file, int width, int height, RowFunction rowFn, void* context,
                   char* error, int errorSize);

// Bytes of a 24-bit BMP of the given size, headers included (rows padded to
// four bytes). Zero when the size cannot be held in a BMP (over 4 GB).
std::uint64_t Bitmap24FileSize(int width, int height);

// A whole terrain bitmap in memory, read from an uncompressed 24- or 32-bit
// BMP (bottom-up or top-down).
class CTerrainBitmap {
 public:
  // Loads path; false with a message in GetError() when the file is missing,
  // truncated or not an uncompressed 24/32-bit BMP. Nothing is kept then.
  bool Load(const char* path);
  // Same from a buffer holding a whole file.
  bool LoadFromMemory(const std::uint8_t* data, std::size_t size);

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  // Colour value 0x00BBGGRR of pixel (x, y), row 0 north; kOutsideColour
  // outside the bitmap.
  std::uint32_t Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) {
      return kOutsideColour;
    }
    return m_pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) +
                    static_cast<std::size_t>(x)];
  }
  const char* GetError() const { return m_szError; }

 private:
  int m_width = 0;
  int m_height = 0;
  std::vector<std::uint32_t> m_pixels;
  char m_szError[512] = {};
};

}  // namespace mapmaker
