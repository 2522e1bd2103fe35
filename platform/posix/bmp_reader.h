// The project's own reader of Windows bitmap files, used where the system
// has no LoadImageA. It accepts what the terrain map loader must load:
// BITMAPINFOHEADER and its V2..V5 successors, the OS/2 core header, 1, 4, 8,
// 16, 24 and 32 bits per pixel, BI_RGB, BI_BITFIELDS, BI_RLE4 and BI_RLE8,
// bottom-up and top-down rows. Everything else (PNG or JPEG inside the
// file, truncated or inconsistent files, sizes over the pixel limit) is
// refused with a short specific reason. The decoder works on bytes in
// memory, so it can be fuzzed without files.
//
// Threading: free functions without state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/bitmap.h"

namespace platform::bmp {

using platform::PixelTable;

struct DecodedBitmap {
  PixelTable pixels;  // top row first, 0x00BBGGRR
  int width = 0;
  int height = 0;
};

// How a file's pixels can be read.
enum class Access {
  kInPlace,  // uncompressed 24 or 32 bits per pixel: read where they lie
  kDecode,   // other encodings: DecodeBmp into a table
  kRefused,  // not a bitmap the reader accepts
};

// Where the pixels of an in-place file lie. Offsets and strides are bytes
// from the start of the file; rows are stored bottom-up unless topDown.
struct InPlaceLayout {
  int width = 0;
  int height = 0;  // rows, positive
  bool topDown = false;
  int bytesPerPixel = 0;  // 3 (blue, green, red) or 4 (blue, green, red, unused)
  std::uint64_t bitsOffset = 0;
  std::uint64_t stride = 0;  // bytes per stored row, a multiple of 4
};

// Checks every header of the file image data[0..size) (size is the whole
// file's length) and says how its pixels are to be read. kInPlace fills
// out and guarantees that all height rows of stride bytes from bitsOffset
// lie inside size. kRefused writes a reason. Only the headers and the
// colour table are read, so data may be a mapping whose pixel pages were
// never touched.
Access Inspect(const std::uint8_t* data, std::size_t size, InPlaceLayout& out, char* reason,
               int reasonSize);

// Decodes the whole file image data[0..size). maxPixels bounds width x
// height before anything is allocated. On failure returns false, leaves out
// empty and writes a reason (no trailing line break) into reason.
bool DecodeBmp(const std::uint8_t* data, std::size_t size, std::uint64_t maxPixels,
               DecodedBitmap& out, char* reason, int reasonSize);

}  // namespace platform::bmp
