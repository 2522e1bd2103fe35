// Build-time generator of the application icon: writes a Windows icon file
// with a 32 x 32 and a 16 x 16 image of 16 colours each (a snow-capped
// mountain over a terrain grid). Runs on the build machine; the resource
// script includes its output.
//
// Usage: MakeIcon OUT.ico
// Threading: a single-threaded command-line program.
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// The classic 16-colour palette as blue, green, red, reserved.
const std::uint8_t kPalette[16][4] = {
    {0, 0, 0, 0},       {0, 0, 128, 0},   {0, 128, 0, 0},   {0, 128, 128, 0},
    {128, 0, 0, 0},     {128, 0, 128, 0}, {128, 128, 0, 0}, {192, 192, 192, 0},
    {128, 128, 128, 0}, {0, 0, 255, 0},   {0, 255, 0, 0},   {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0}, {255, 255, 0, 0}, {255, 255, 255, 0}};
constexpr int kSky = 14;     // light cyan
constexpr int kRock = 8;     // grey
constexpr int kSnow = 15;    // white
constexpr int kGround = 2;   // dark green
constexpr int kGrid = 10;    // light green
constexpr int kOutline = 0;  // black

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, unsigned v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// Colour index of pixel (x, y), y from the top, on an n x n image.
int PixelAt(int x, int y, int n) {
  const double u = (x + 0.5) / n;
  const double v = (y + 0.5) / n;
  const double ridge = 0.18 + 1.3 * (u < 0.55 ? 0.55 - u : u - 0.55);  // peak at u = 0.55
  const double groundTop = 0.72;
  if (v >= groundTop) {
    const int cells = n / 4;
    const bool line = (x % cells == 0) || ((y - static_cast<int>(groundTop * n)) % cells == 0);
    return line ? kGrid : kGround;
  }
  if (v < ridge) {
    return kSky;
  }
  if (v < ridge + 1.5 / n) {
    return kOutline;
  }
  return v < 0.36 ? kSnow : kRock;
}

std::vector<std::uint8_t> Image(int n) {
  std::vector<std::uint8_t> out;
  Put32(out, 40);
  Put32(out, static_cast<unsigned>(n));
  Put32(out, static_cast<unsigned>(2 * n));  // colour rows then mask rows
  Put16(out, 1);
  Put16(out, 4);
  Put32(out, 0);
  const int xorStride = ((n * 4 + 31) / 32) * 4;
  const int andStride = ((n + 31) / 32) * 4;
  Put32(out, static_cast<unsigned>(n * (xorStride + andStride)));
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 16);
  Put32(out, 0);
  for (const auto& entry : kPalette) {
    out.insert(out.end(), entry, entry + 4);
  }
  for (int row = n - 1; row >= 0; --row) {  // bottom-up
    std::vector<std::uint8_t> line(static_cast<std::size_t>(xorStride), 0);
    for (int x = 0; x < n; ++x) {
      const int index = PixelAt(x, row, n);
      line[static_cast<std::size_t>(x / 2)] |=
          static_cast<std::uint8_t>(x % 2 == 0 ? index << 4 : index);
    }
    out.insert(out.end(), line.begin(), line.end());
  }
  out.insert(out.end(), static_cast<std::size_t>(n) * static_cast<std::size_t>(andStride),
             0);  // fully opaque
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: MakeIcon OUT.ico\n");
    return 2;
  }
  const int sizes[2] = {32, 16};
  std::vector<std::uint8_t> images[2] = {Image(sizes[0]), Image(sizes[1])};
  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, 2);
  unsigned offset = 6 + 2 * 16;
  for (int i = 0; i < 2; ++i) {
    out.push_back(static_cast<std::uint8_t>(sizes[i]));
    out.push_back(static_cast<std::uint8_t>(sizes[i]));
    out.push_back(16);
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 4);
    Put32(out, static_cast<unsigned>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<unsigned>(images[i].size());
  }
  for (const auto& image : images) {
    out.insert(out.end(), image.begin(), image.end());
  }
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  return std::fclose(file) == 0 && ok ? 0 : 1;
}
