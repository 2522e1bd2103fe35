// Windows bitmap decoder for the POSIX terrain map loader.
// Threading: free functions without state.
#include "platform/posix/bmp_reader.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace platform::bmp {

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiJpeg = 4;
constexpr std::uint32_t kBiPng = 5;

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;

std::uint32_t U16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Colour value from 8-bit channels.
constexpr std::uint32_t Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return r | (g << 8) | (b << 16);
}

class Refusal {
 public:
  // Empties the reason: nothing is refused yet.
  Refusal(char* buf, int size) : m_buf(buf), m_size(size) {
    if (m_buf != nullptr && m_size > 0) {
      m_buf[0] = '\0';
    }
  }
  bool operator()(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (m_buf != nullptr && m_size > 0) {
      va_list args;
      va_start(args, format);
      std::vsnprintf(m_buf, static_cast<std::size_t>(m_size), format, args);
      va_end(args);
    }
    return false;
  }

 private:
  char* m_buf;
  int m_size;
};

// One channel of a bit-field pixel: where it sits and how to widen it to
// 8 bits (short fields repeat their bits downward, as GDI expands them).
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  int length = 0;

  static bool Make(std::uint32_t mask, Channel& c) {
    c.mask = mask;
    c.shift = 0;
    c.length = 0;
    if (mask == 0) {
      return true;
    }
    while (((mask >> c.shift) & 1u) == 0) {
      ++c.shift;
    }
    const std::uint32_t bits = mask >> c.shift;
    if ((bits & (bits + 1)) != 0) {
      return false;  // not one run of bits
    }
    while (c.length < 32 && ((bits >> c.length) & 1u) != 0) {
      ++c.length;
    }
    return true;
  }

  std::uint32_t Get(std::uint32_t pixel) const {
    if (length == 0) {
      return 0;
    }
    const std::uint32_t v = (pixel & mask) >> shift;
    if (length >= 8) {
      return v >> (length - 8);
    }
    std::uint32_t out = 0;
    for (int pos = 8 - length;; pos -= length) {
      out |= pos >= 0 ? v << pos : v >> -pos;
      if (pos <= 0) {
        break;
      }
    }
    return out & 0xFFu;
  }
};

struct Layout {
  int width = 0;
  int height = 0;  // rows, positive
  bool topDown = false;
  std::uint32_t bitCount = 0;
  std::uint32_t compression = kBiRgb;
  std::uint32_t palette[256] = {};
  std::uint32_t paletteSize = 0;
  Channel red, green, blue;
  std::size_t bitsAt = 0;       // where the pixel data starts in the file
  std::uint32_t sizeImage = 0;  // the header's stored image size; 0: not given
};

// Row r of the image (0 = top) for file row fileRow (0 = first stored).
inline int ImageRow(const Layout& l, int fileRow) {
  return l.topDown ? fileRow : l.height - 1 - fileRow;
}

inline std::uint32_t PaletteColour(const Layout& l, std::uint32_t index) {
  // Indices past the colour table read as black.
  return index < l.paletteSize ? l.palette[index] : 0u;
}

void DecodeRows(const Layout& l, const std::uint8_t* bits, std::size_t stride,
                std::uint32_t* pixels) {
  const auto w = static_cast<std::size_t>(l.width);
  for (int fr = 0; fr < l.height; ++fr) {
    const std::uint8_t* src = bits + static_cast<std::size_t>(fr) * stride;
    std::uint32_t* dst = pixels + static_cast<std::size_t>(ImageRow(l, fr)) * w;
    switch (l.bitCount) {
      case 24: {
        // Four bytes B, G, R, next read as one little-endian word: swapped
        // and shifted they are R, G, B, 0. The last pixel of a row is read
        // bytewise so nothing past the data is touched.
        std::size_t x = 0;
        for (; x + 1 < w; ++x, src += 3) {
          std::uint32_t word;
          std::memcpy(&word, src, sizeof word);
          dst[x] = __builtin_bswap32(word) >> 8;
        }
        dst[x] = Rgb(src[2], src[1], src[0]);
        break;
      }
      case 32:
        if (l.compression == kBiRgb) {
          for (std::size_t x = 0; x < w; ++x, src += 4) {
            dst[x] = Rgb(src[2], src[1], src[0]);
          }
        } else {
          for (std::size_t x = 0; x < w; ++x, src += 4) {
            const std::uint32_t p = U32(src);
            dst[x] = Rgb(l.red.Get(p), l.green.Get(p), l.blue.Get(p));
          }
        }
        break;
      case 16:
        for (std::size_t x = 0; x < w; ++x, src += 2) {
          const std::uint32_t p = U16(src);
          dst[x] = Rgb(l.red.Get(p), l.green.Get(p), l.blue.Get(p));
        }
        break;
      case 8:
        for (std::size_t x = 0; x < w; ++x) {
          dst[x] = PaletteColour(l, src[x]);
        }
        break;
      case 4:
        for (std::size_t x = 0; x < w; ++x) {
          const std::uint32_t byte = src[x / 2];
          dst[x] = PaletteColour(l, (x & 1) != 0 ? byte & 0x0Fu : byte >> 4);
        }
        break;
      default:  // 1
        for (std::size_t x = 0; x < w; ++x) {
          dst[x] = PaletteColour(l, (src[x / 8] >> (7 - (x & 7))) & 1u);
        }
        break;
    }
  }
}

// RLE4/RLE8 data, always bottom-up. Pixels the data skips (deltas, early
// ends of line) keep colour-table entry 0.
bool DecodeRle(const Layout& l, const std::uint8_t* data, std::size_t avail, std::uint32_t* pixels,
               Refusal& refuse) {
  const auto w = static_cast<std::size_t>(l.width);
  const std::uint32_t background = PaletteColour(l, 0);
  for (std::size_t i = 0, n = w * static_cast<std::size_t>(l.height); i < n; ++i) {
    pixels[i] = background;
  }
  const bool rle4 = l.compression == kBiRle4;
  int x = 0;
  int y = 0;  // file row, 0 = bottom
  auto put = [&](std::uint32_t index) {
    if (x < l.width && y < l.height) {
      pixels[static_cast<std::size_t>(ImageRow(l, y)) * w + static_cast<std::size_t>(x)] =
          PaletteColour(l, index);
    }
    ++x;
  };
  std::size_t pos = 0;
  for (;;) {
    if (pos + 2 > avail) {
      if (y >= l.height) {
        return true;  // every row ended; the end marker is missing only
      }
      return refuse("truncated RLE data");
    }
    const std::uint32_t a = data[pos];
    const std::uint32_t b = data[pos + 1];
    pos += 2;
    if (a > 0) {
      for (std::uint32_t k = 0; k < a && x < l.width; ++k) {
        put(rle4 ? ((k & 1) != 0 ? b & 0x0Fu : b >> 4) : b);
      }
      continue;
    }
    if (b == 0) {  // end of line
      x = 0;
      if (y < l.height) {
        ++y;
      }
    } else if (b == 1) {  // end of bitmap
      return true;
    } else if (b == 2) {  // delta
      if (pos + 2 > avail) {
        return refuse("truncated RLE data");
      }
      x += static_cast<int>(data[pos]);
      y += static_cast<int>(data[pos + 1]);
      pos += 2;
      if (x > l.width) {
        x = l.width;
      }
      if (y > l.height) {
        y = l.height;
      }
    } else {  // absolute run of b pixels, padded to a whole word
      std::size_t bytes = rle4 ? (b + 1) / 2 : b;
      bytes += bytes & 1u;
      if (pos + bytes > avail) {
        return refuse("truncated RLE data");
      }
      for (std::uint32_t k = 0; k < b && x < l.width; ++k) {
        const std::uint32_t byte = data[pos + (rle4 ? k / 2 : k)];
        put(rle4 ? ((k & 1) != 0 ? byte & 0x0Fu : byte >> 4) : byte);
      }
      pos += bytes;
    }
  }
}

}  // namespace

namespace {

// Reads and checks every header of the file image data[0..size) into the
// layout, where the pixel data starts and the stored image size included.
// maxPixels bounds width x height. False (through refuse) when the file is
// not one the reader accepts.
bool ParseHeaders(const std::uint8_t* data, std::size_t size, std::uint64_t maxPixels, Layout& l,
                  Refusal& refuse) {
  if (data == nullptr || size < kFileHeaderSize + 4) {
    return refuse("file too short for a bitmap header");
  }
  if (data[0] != 'B' || data[1] != 'M') {
    return refuse("not a bitmap file (no BM signature)");
  }
  const std::uint32_t offBits = U32(data + 10);
  const std::uint32_t headerSize = U32(data + 14);
  const bool core = headerSize == kCoreHeaderSize;
  if (!core && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124) {
    return refuse("unsupported bitmap header size %u", headerSize);
  }
  if (size < kFileHeaderSize + headerSize) {
    return refuse("truncated bitmap header");
  }
  const std::uint8_t* h = data + kFileHeaderSize;
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint32_t planes = 0;
  std::uint32_t sizeImage = 0;
  std::uint32_t colorsUsed = 0;
  if (core) {
    width = U16(h + 4);
    height = U16(h + 6);
    planes = U16(h + 8);
    l.bitCount = U16(h + 10);
  } else {
    width = static_cast<std::int32_t>(U32(h + 4));
    height = static_cast<std::int32_t>(U32(h + 8));
    planes = U16(h + 12);
    l.bitCount = U16(h + 14);
    l.compression = U32(h + 16);
    sizeImage = U32(h + 20);
    colorsUsed = U32(h + 32);
  }
  if (l.compression == kBiPng) {
    return refuse("PNG inside a bitmap file is not supported");
  }
  if (l.compression == kBiJpeg) {
    return refuse("JPEG inside a bitmap file is not supported");
  }
  if (l.compression > kBiBitfields) {
    return refuse("unsupported compression %u", l.compression);
  }
  if (planes != 1) {
    return refuse("plane count %u, not 1", planes);
  }
  const std::uint32_t bpp = l.bitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
    return refuse("unsupported bit count %u", bpp);
  }
  if (core && (bpp == 16 || bpp == 32)) {
    return refuse("bit count %u in a core header", bpp);
  }
  if ((l.compression == kBiRle8 && bpp != 8) || (l.compression == kBiRle4 && bpp != 4) ||
      (l.compression == kBiBitfields && bpp != 16 && bpp != 32)) {
    return refuse("compression %u with %u bits per pixel", l.compression, bpp);
  }
  if (width <= 0) {
    return refuse("invalid width %lld", static_cast<long long>(width));
  }
  if (height == 0 || height == INT32_MIN) {
    return refuse("invalid height %lld", static_cast<long long>(height));
  }
  l.topDown = height < 0;
  if (l.topDown) {
    height = -height;
    if (l.compression == kBiRle8 || l.compression == kBiRle4) {
      return refuse("top-down RLE bitmap");
    }
  }
  if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > maxPixels) {
    return refuse("image too large (%lld x %lld pixels)", static_cast<long long>(width),
                  static_cast<long long>(height));
  }
  l.width = static_cast<int>(width);
  l.height = static_cast<int>(height);

  std::size_t tableAt = kFileHeaderSize + headerSize;
  if (l.compression == kBiBitfields) {
    std::uint32_t masks[3];
    if (headerSize == kInfoHeaderSize) {
      if (size < tableAt + 12) {
        return refuse("truncated bit-field masks");
      }
      for (int k = 0; k < 3; ++k) {
        masks[k] = U32(data + tableAt + 4 * static_cast<std::size_t>(k));
      }
      tableAt += 12;
    } else {
      for (int k = 0; k < 3; ++k) {
        masks[k] = U32(h + 40 + 4 * k);
      }
    }
    const std::uint32_t all = masks[0] | masks[1] | masks[2];
    if (!Channel::Make(masks[0], l.red) || !Channel::Make(masks[1], l.green) ||
        !Channel::Make(masks[2], l.blue) || all == 0 ||
        ((masks[0] & masks[1]) | (masks[0] & masks[2]) | (masks[1] & masks[2])) != 0 ||
        (bpp == 16 && (all >> 16) != 0)) {
      return refuse("invalid bit-field masks %08X %08X %08X", masks[0], masks[1], masks[2]);
    }
  } else if (bpp == 16) {
    Channel::Make(0x7C00, l.red);
    Channel::Make(0x03E0, l.green);
    Channel::Make(0x001F, l.blue);
  }

  if (bpp <= 8) {
    const std::uint32_t full = 1u << bpp;
    l.paletteSize = (colorsUsed == 0 || colorsUsed > full) ? full : colorsUsed;
    const std::size_t entry = core ? 3 : 4;
    if (size < tableAt + l.paletteSize * entry) {
      return refuse("truncated colour table");
    }
    for (std::uint32_t k = 0; k < l.paletteSize; ++k) {
      const std::uint8_t* q = data + tableAt + k * entry;
      l.palette[k] = Rgb(q[2], q[1], q[0]);
    }
    tableAt += l.paletteSize * entry;
  }

  const std::size_t bitsAt = offBits == 0 ? tableAt : offBits;
  if (bitsAt < kFileHeaderSize + headerSize) {
    return refuse("pixel data offset %u inside the header", offBits);
  }
  if (bitsAt >= size) {
    return refuse("pixel data offset %u outside the file", offBits);
  }
  l.bitsAt = bitsAt;
  l.sizeImage = sizeImage;
  return true;
}

// Bytes of one stored row: whole 32-bit words.
std::uint64_t StrideOf(const Layout& l) {
  return (static_cast<std::uint64_t>(l.width) * l.bitCount + 31) / 32 * 4;
}

}  // namespace

Access Inspect(const std::uint8_t* data, std::size_t size, InPlaceLayout& out, char* reason,
               int reasonSize) {
  out = InPlaceLayout{};
  Refusal refuse(reason, reasonSize);
  Layout l;
  if (!ParseHeaders(data, size, UINT64_MAX, l, refuse)) {
    return Access::kRefused;
  }
  if (l.compression != kBiRgb || (l.bitCount != 24 && l.bitCount != 32)) {
    return Access::kDecode;
  }
  const std::uint64_t stride = StrideOf(l);
  const std::uint64_t need = stride * static_cast<std::uint64_t>(l.height);
  const std::uint64_t avail = size - l.bitsAt;
  if (need > avail) {
    refuse("truncated pixel data (%llu of %llu bytes)", static_cast<unsigned long long>(avail),
           static_cast<unsigned long long>(need));
    return Access::kRefused;
  }
  out.width = l.width;
  out.height = l.height;
  out.topDown = l.topDown;
  out.bytesPerPixel = static_cast<int>(l.bitCount / 8);
  out.bitsOffset = l.bitsAt;
  out.stride = stride;
  return Access::kInPlace;
}

bool DecodeBmp(const std::uint8_t* data, std::size_t size, std::uint64_t maxPixels,
               DecodedBitmap& out, char* reason, int reasonSize) {
  out = DecodedBitmap{};
  Refusal refuse(reason, reasonSize);
  Layout l;
  if (!ParseHeaders(data, size, maxPixels, l, refuse)) {
    return false;
  }
  const std::size_t avail = size - l.bitsAt;

  const std::size_t count = static_cast<std::size_t>(l.width) * static_cast<std::size_t>(l.height);
  if (l.compression == kBiRle8 || l.compression == kBiRle4) {
    PixelTable pixels = AllocatePixels(count);
    if (!pixels) {
      return refuse("out of memory for %zu pixels", count);
    }
    const std::size_t rleBytes = (l.sizeImage != 0 && l.sizeImage < avail) ? l.sizeImage : avail;
    if (!DecodeRle(l, data + l.bitsAt, rleBytes, pixels.get(), refuse)) {
      return false;
    }
    out.pixels = std::move(pixels);
  } else {
    const std::uint64_t stride = StrideOf(l);
    const std::uint64_t need = stride * static_cast<std::uint64_t>(l.height);
    if (need > avail) {
      return refuse("truncated pixel data (%zu of %llu bytes)", avail,
                    static_cast<unsigned long long>(need));
    }
    PixelTable pixels = AllocatePixels(count);
    if (!pixels) {
      return refuse("out of memory for %zu pixels", count);
    }
    DecodeRows(l, data + l.bitsAt, static_cast<std::size_t>(stride), pixels.get());
    out.pixels = std::move(pixels);
  }
  out.width = l.width;
  out.height = l.height;
  return true;
}

}  // namespace platform::bmp
