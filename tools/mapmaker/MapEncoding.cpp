// Terrain bitmap encoding and the BMP writer/reader of the map maker.
// Threading: free functions are reentrant; a CTerrainBitmap belongs to one thread.
#include "tools/mapmaker/MapEncoding.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace mapmaker {

extern const char kMapEncodingRevision[];
const char kMapEncodingRevision[] = "%Z% OrogridTools KT9001:02 MapEncoding $Revision: 1.1 $";

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
static_assert(kBitmapPixelOffset >= kFileHeaderSize + kInfoHeaderSize &&
              kBitmapPixelOffset % 4 == 0);

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}
std::uint32_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0] | (p[1] << 8));
}
std::uint32_t Get32(const std::uint8_t* p) { return Get16(p) | (Get16(p + 2) << 16); }

std::uint64_t RowBytes(int width) {
  return (static_cast<std::uint64_t>(width) * 3u + 3u) & ~std::uint64_t{3};
}

}  // namespace

std::uint32_t EncodeElevation(int e, std::uint8_t red) {
  if (e < kMinElevation) {
    e = kMinElevation;
  } else if (e > kMaxElevation) {
    e = kMaxElevation;
  }
  // Floor division, so that negative elevations keep a positive remainder.
  int hundreds = e / 100;
  if (e % 100 < 0) {
    --hundreds;
  }
  int blue = 100 + hundreds;
  int green = 10 + (e - hundreds * 100);
  // -10010..-10001 and 15600..15745 do not fit the plain rule; green has room
  // (0..255) for the hundred metres blue cannot carry.
  if (blue < 0) {
    green += blue * 100;
    blue = 0;
  } else if (blue > 255) {
    green += (blue - 255) * 100;
    blue = 255;
  }
  if (blue == 0 && green == 0 && red == 0) {
    red = 1;
  }
  return (static_cast<std::uint32_t>(blue) << 16) | (static_cast<std::uint32_t>(green) << 8) | red;
}

int DecodeElevation(std::uint32_t colour) {
  if (colour == 0) {
    return 0;
  }
  const int green = static_cast<int>((colour >> 8) & 0xFFu);
  const int blue = static_cast<int>((colour >> 16) & 0xFFu);
  return (blue - 100) * 100 + (green - 10);
}

std::uint64_t Bitmap24RowBytes(int width) { return RowBytes(width); }

std::uint64_t Bitmap24FileSize(int width, int height) {
  if (width <= 0 || height <= 0) {
    return 0;
  }
  const std::uint64_t size =
      kBitmapPixelOffset + RowBytes(width) * static_cast<std::uint64_t>(height);
  return size > 0xFFFFFFFFull ? 0 : size;
}

bool MakeBitmap24Header(int width, int height, std::uint8_t* header) {
  const std::uint64_t fileSize = Bitmap24FileSize(width, height);
  if (fileSize == 0) {
    return false;
  }
  std::memset(header, 0, kBitmapPixelOffset);
  header[0] = 'B';
  header[1] = 'M';
  Put32(header + 2, static_cast<std::uint32_t>(fileSize));
  Put32(header + 10, kBitmapPixelOffset);
  Put32(header + 14, kInfoHeaderSize);
  Put32(header + 18, static_cast<std::uint32_t>(width));
  Put32(header + 22, static_cast<std::uint32_t>(height));  // positive: bottom-up rows
  Put16(header + 26, 1);
  Put16(header + 28, 24);
  Put32(header + 34, static_cast<std::uint32_t>(fileSize - kBitmapPixelOffset));
  Put32(header + 38, 2835);  // 72 dots per inch, for image viewers only
  Put32(header + 42, 2835);
  return true;
}

bool CTerrainBitmap::Load(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::snprintf(m_szError, sizeof m_szError, "cannot open %s", path);
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff length = in.tellg();
  in.seekg(0, std::ios::beg);
  std::vector<std::uint8_t> data(length > 0 ? static_cast<std::size_t>(length) : 0);
  if (length < 0 ||
      !in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()))) {
    std::snprintf(m_szError, sizeof m_szError, "cannot read %s", path);
    return false;
  }
  if (!LoadFromMemory(data.data(), data.size())) {
    const std::string detail = m_szError;
    std::snprintf(m_szError, sizeof m_szError, "%s: %s", path, detail.c_str());
    return false;
  }
  return true;
}

bool CTerrainBitmap::LoadFromMemory(const std::uint8_t* data, std::size_t size) {
  m_width = 0;
  m_height = 0;
  m_pixels.clear();
  if (size < kFileHeaderSize + kInfoHeaderSize || data[0] != 'B' || data[1] != 'M') {
    std::snprintf(m_szError, sizeof m_szError, "not a BMP file");
    return false;
  }
  const std::uint32_t offset = Get32(data + 10);
  const std::uint32_t infoSize = Get32(data + 14);
  const std::int32_t width = static_cast<std::int32_t>(Get32(data + 18));
  const std::int32_t rawHeight = static_cast<std::int32_t>(Get32(data + 22));
  const std::uint32_t bits = Get16(data + 28);
  const std::uint32_t compression = Get32(data + 30);
  if (infoSize < kInfoHeaderSize || Get16(data + 26) != 1) {
    std::snprintf(m_szError, sizeof m_szError, "unsupported BMP header");
    return false;
  }
  if ((bits != 24 && bits != 32) || !(compression == 0 || (compression == 3 && bits == 32))) {
    std::snprintf(m_szError, sizeof m_szError,
                  "only uncompressed 24- and 32-bit BMP files are read (this one has %u bits, "
                  "compression %u)",
                  bits, compression);
    return false;
  }
  // INT32_MIN has no positive counterpart; anything that large is corrupt anyway.
  if (width <= 0 || rawHeight == 0 || rawHeight < -0x7FFFFFFF || width > 0x7FFF'FFFF / 4) {
    std::snprintf(m_szError, sizeof m_szError, "bad bitmap size %d x %d", width, rawHeight);
    return false;
  }
  const bool topDown = rawHeight < 0;
  const std::int32_t height = topDown ? -rawHeight : rawHeight;
  const std::uint64_t bytesPerPixel = bits / 8;
  const std::uint64_t rowBytes =
      (static_cast<std::uint64_t>(width) * bytesPerPixel + 3u) & ~std::uint64_t{3};
  if (offset > size || rowBytes * static_cast<std::uint64_t>(height) > size - offset) {
    std::snprintf(
        m_szError, sizeof m_szError,
        "file is truncated: %d x %d pixels need %llu bytes after offset %u, %llu present", width,
        height, static_cast<unsigned long long>(rowBytes) * static_cast<unsigned long long>(height),
        offset, static_cast<unsigned long long>(size > offset ? size - offset : 0));
    return false;
  }
  m_pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (std::int32_t y = 0; y < height; ++y) {
    const std::int32_t fileRow = topDown ? y : height - 1 - y;
    const std::uint8_t* p = data + offset + rowBytes * static_cast<std::uint64_t>(fileRow);
    std::uint32_t* out =
        m_pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    for (std::int32_t x = 0; x < width; ++x, p += bytesPerPixel) {
      out[x] =
          (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[2];
    }
  }
  m_width = width;
  m_height = height;
  return true;
}

}  // namespace mapmaker
