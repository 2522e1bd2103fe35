// Writes small Windows bitmap files for the tests and benchmarks, so no
// binary map lives in the repository. Colours are colour values 0x00BBGGRR.
//
// Threading: free functions without state.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace bmptest {

using Bytes = std::vector<std::uint8_t>;
using ColourAt = std::function<std::uint32_t(int x, int y)>;

inline void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) {
    b[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
  }
}

// Header fields of a file to write; pixel data comes ready encoded.
struct Layout {
  int width = 0;
  int height = 0;  // rows; written negative when topDown
  bool topDown = false;
  int bitCount = 24;
  std::uint32_t compression = 0;       // BI_RGB
  std::uint32_t headerSize = 40;       // 12 (core), 40, 108 or 124
  std::vector<std::uint32_t> palette;  // colour values
  std::uint32_t masks[3] = {0, 0, 0};  // red, green, blue for BI_BITFIELDS
  std::uint32_t sizeImage = 0;
};

// A whole file: file header, info header, masks or palette, pixel bytes.
inline Bytes MakeFile(const Layout& l, const Bytes& bits) {
  const bool core = l.headerSize == 12;
  const bool maskTable = l.compression == 3 && l.headerSize == 40;
  const std::size_t entry = core ? 3 : 4;
  const std::size_t offBits = 14 + l.headerSize + (maskTable ? 12 : 0) + l.palette.size() * entry;
  Bytes b(offBits + bits.size(), 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 10, static_cast<std::uint32_t>(offBits));
  Put32(b, 14, l.headerSize);
  if (core) {
    Put16(b, 18, static_cast<std::uint32_t>(l.width));
    Put16(b, 20, static_cast<std::uint32_t>(l.height));
    Put16(b, 22, 1);
    Put16(b, 24, static_cast<std::uint32_t>(l.bitCount));
  } else {
    Put32(b, 18, static_cast<std::uint32_t>(l.width));
    Put32(b, 22, static_cast<std::uint32_t>(l.topDown ? -l.height : l.height));
    Put16(b, 26, 1);
    Put16(b, 28, static_cast<std::uint32_t>(l.bitCount));
    Put32(b, 30, l.compression);
    Put32(b, 34, l.sizeImage);
    Put32(b, 46, static_cast<std::uint32_t>(l.palette.size()));
    if (l.headerSize >= 52) {
      for (int k = 0; k < 3; ++k) {
        Put32(b, 54 + 4 * static_cast<std::size_t>(k), l.masks[k]);
      }
    }
  }
  std::size_t at = 14 + l.headerSize;
  if (maskTable) {
    for (int k = 0; k < 3; ++k, at += 4) {
      Put32(b, at, l.masks[k]);
    }
  }
  for (std::uint32_t c : l.palette) {
    b[at] = static_cast<std::uint8_t>(c >> 16);  // blue
    b[at + 1] = static_cast<std::uint8_t>(c >> 8);
    b[at + 2] = static_cast<std::uint8_t>(c);
    at += entry;
  }
  std::copy(bits.begin(), bits.end(), b.begin() + static_cast<std::ptrdiff_t>(offBits));
  return b;
}

inline std::size_t Stride(int width, int bitCount) {
  return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 31) / 32 * 4;
}

// Uncompressed pixel bytes in file order. value(x, y) gives what one pixel
// stores: a colour value for 24 and 32 bits, the raw 16-bit word, or a
// colour-table index; y counts from the top.
inline Bytes EncodeRows(int width, int height, int bitCount, bool topDown,
                        const std::function<std::uint32_t(int, int)>& value) {
  const std::size_t stride = Stride(width, bitCount);
  Bytes bits(stride * static_cast<std::size_t>(height), 0);
  for (int fr = 0; fr < height; ++fr) {
    const int y = topDown ? fr : height - 1 - fr;
    std::uint8_t* row = bits.data() + static_cast<std::size_t>(fr) * stride;
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = value(x, y);
      const auto ux = static_cast<std::size_t>(x);
      switch (bitCount) {
        case 32:
        case 24: {
          std::uint8_t* p = row + ux * static_cast<std::size_t>(bitCount / 8);
          p[0] = static_cast<std::uint8_t>(v >> 16);  // blue first
          p[1] = static_cast<std::uint8_t>(v >> 8);
          p[2] = static_cast<std::uint8_t>(v);
          break;
        }
        case 16:
          row[2 * ux] = static_cast<std::uint8_t>(v);
          row[2 * ux + 1] = static_cast<std::uint8_t>(v >> 8);
          break;
        case 8:
          row[ux] = static_cast<std::uint8_t>(v);
          break;
        case 4:
          row[ux / 2] |= static_cast<std::uint8_t>((v & 0x0F) << ((ux & 1) != 0 ? 0 : 4));
          break;
        default:
          row[ux / 8] |= static_cast<std::uint8_t>((v & 1) << (7 - (ux & 7)));
          break;
      }
    }
  }
  return bits;
}

// A 24-bit bottom-up file of the given colours.
inline Bytes Make24(int width, int height, const ColourAt& colour, bool topDown = false) {
  Layout l;
  l.width = width;
  l.height = height;
  l.topDown = topDown;
  return MakeFile(l, EncodeRows(width, height, 24, topDown, colour));
}

// A 1-bit file of two colours: colour 0 everywhere, colour 1 where set(x, y).
inline Bytes Make1(int width, int height, std::uint32_t colour0, std::uint32_t colour1,
                   const std::function<bool(int, int)>& set) {
  Layout l;
  l.width = width;
  l.height = height;
  l.bitCount = 1;
  l.palette = {colour0, colour1};
  return MakeFile(
      l, EncodeRows(width, height, 1, false, [&](int x, int y) { return set(x, y) ? 1u : 0u; }));
}

// The colour that encodes an elevation of 0 to 15745 metres.
inline std::uint32_t ElevationColour(int metres) {
  const int hundreds = metres >= 0 ? metres / 100 : -((-metres + 99) / 100);
  const int rest = metres - hundreds * 100;
  return static_cast<std::uint32_t>((100 + hundreds) << 16) |
         static_cast<std::uint32_t>((10 + rest) << 8);
}

inline bool WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.string().c_str(), "wb");
  if (f == nullptr) {
    return false;
  }
  // An empty file is a valid test case; fwrite must not see a null buffer.
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// A large uncompressed map made without writing its pixels: the headers,
// then the file's length set (std::filesystem::resize_file: ftruncate or
// SetEndOfFile) so the pixel data is a hole that reads as zeros (colour 0,
// 0 m) and costs no disk. Pixels are then set one by one with positioned
// writes. A 43200 x 21600 map at 24 bits is 2,799,360,054 bytes of which a
// few pages are real.
class SparseMap {
 public:
  // offBits: where the pixel data starts (54 at the least for a 40-byte
  // header; the gap up to it is zeros).
  SparseMap(const std::filesystem::path& path, int width, int height, int bitCount = 24,
            bool topDown = false, std::uint32_t offBits = 56)
      : m_height(height), m_bytesPerPixel(bitCount / 8), m_topDown(topDown), m_offBits(offBits) {
    m_stride =
        (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bitCount) + 31) / 32 * 4;
    const std::uint64_t imageSize = m_stride * static_cast<std::uint64_t>(height);
    Bytes h(offBits, 0);
    h[0] = 'B';
    h[1] = 'M';
    const std::uint64_t fileSize = offBits + imageSize;
    Put32(h, 2, fileSize > 0xFFFFFFFFu ? 0u : static_cast<std::uint32_t>(fileSize));
    Put32(h, 10, offBits);
    Put32(h, 14, 40);
    Put32(h, 18, static_cast<std::uint32_t>(width));
    Put32(h, 22, static_cast<std::uint32_t>(topDown ? -height : height));
    Put16(h, 26, 1);
    Put16(h, 28, static_cast<std::uint32_t>(bitCount));
    Put32(h, 34, imageSize > 0xFFFFFFFFu ? 0u : static_cast<std::uint32_t>(imageSize));
    m_ok = WriteFile(path, h);
    std::error_code ec;
    std::filesystem::resize_file(path, fileSize, ec);
    m_ok = m_ok && !ec;
    m_file = m_ok ? std::fopen(path.string().c_str(), "r+b") : nullptr;
    m_ok = m_file != nullptr;
  }
  ~SparseMap() { Close(); }
  SparseMap(const SparseMap&) = delete;
  SparseMap& operator=(const SparseMap&) = delete;

  // Byte offset of pixel (x, y), y from the top.
  std::uint64_t Offset(int x, int y) const {
    const int fileRow = m_topDown ? y : m_height - 1 - y;
    return m_offBits + static_cast<std::uint64_t>(fileRow) * m_stride +
           static_cast<std::uint64_t>(x) * static_cast<std::uint64_t>(m_bytesPerPixel);
  }
  // Sets pixel (x, y) to a colour value 0x00BBGGRR.
  void Put(int x, int y, std::uint32_t colour) {
    const std::uint8_t px[4] = {static_cast<std::uint8_t>(colour >> 16),
                                static_cast<std::uint8_t>(colour >> 8),
                                static_cast<std::uint8_t>(colour), 0};
    m_ok = m_ok && Seek(Offset(x, y)) &&
           std::fwrite(px, 1, static_cast<std::size_t>(m_bytesPerPixel), m_file) ==
               static_cast<std::size_t>(m_bytesPerPixel);
  }
  // Sets count pixels of row y from column x on, in one write.
  void PutRun(int x, int y, const std::uint32_t* colours, int count) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(count) *
                                 static_cast<std::size_t>(m_bytesPerPixel));
    for (int k = 0; k < count; ++k) {
      std::uint8_t* q = px.data() + static_cast<std::size_t>(k) * m_bytesPerPixel;
      q[0] = static_cast<std::uint8_t>(colours[k] >> 16);
      q[1] = static_cast<std::uint8_t>(colours[k] >> 8);
      q[2] = static_cast<std::uint8_t>(colours[k]);
    }
    m_ok = m_ok && Seek(Offset(x, y)) && std::fwrite(px.data(), 1, px.size(), m_file) == px.size();
  }
  // Closes the file; false when any step failed.
  bool Close() {
    if (m_file != nullptr) {
      m_ok = (std::fclose(m_file) == 0) && m_ok;
      m_file = nullptr;
    }
    return m_ok;
  }
  bool Ok() const { return m_ok; }
  std::uint64_t PixelBytesEnd() const {
    return m_offBits + m_stride * static_cast<std::uint64_t>(m_height);
  }

 private:
  bool Seek(std::uint64_t offset) {
#if defined(_WIN32)
    return _fseeki64(m_file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
  }

  int m_height;
  int m_bytesPerPixel;
  bool m_topDown;
  std::uint32_t m_offBits;
  std::uint64_t m_stride = 0;
  std::FILE* m_file = nullptr;
  bool m_ok = false;
};

// A scratch folder for one test program, removed by the caller.
inline std::filesystem::path ScratchDir(const std::string& name) {
  std::random_device random;
  const unsigned long long stamp =
      (static_cast<unsigned long long>(random()) << 16) ^ static_cast<unsigned long long>(random());
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("orogrid-" + name + "-" + std::to_string(stamp));
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace bmptest
