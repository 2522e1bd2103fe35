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

// A 24-bit bottom-up BMP of the map: a 14-byte file header, a 40-byte info
// header and two bytes of padding, so that the pixel data starts at byte 56.
// The server maps the file and puts a bitmap section on the mapping, which
// needs the pixel data at an offset that is a multiple of four; every reader
// honours the offset the header gives. Rows run from the south edge up and
// each is padded to four bytes.
constexpr int kBitmapPixelOffset = 56;

// Bytes of one row of width 24-bit pixels, padded to four bytes.
std::uint64_t Bitmap24RowBytes(int width);

// Bytes of a 24-bit BMP of the given size, headers included (rows padded to
// four bytes). Zero when the size cannot be held in a BMP (over 4 GB).
std::uint64_t Bitmap24FileSize(int width, int height);

// Fills header[0..kBitmapPixelOffset) for a width x height map. False when
// the size cannot be held in a BMP.
bool MakeBitmap24Header(int width, int height, std::uint8_t* header);

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
