// Tests of the terrain bitmap service (platform/bitmap.h) through real files:
// LoadImageA under Wine, the project's own reader on POSIX. The same
// expectations hold on both.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/bitmap.h"
#include "platform/module_path.h"
#include "platform/system_error.h"
#include "tests/support/BmpTestWriter.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

namespace {

using bmptest::Bytes;
using bmptest::Layout;
using platform::CBitmapFile;

class BitmapFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_dir = bmptest::ScratchDir("bitmap-file"); }
  static void TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::remove_all(s_dir, ec);
  }
  void TearDown() override { platform::SetBitmapLoadFailure(0); }

  // Writes bytes to a file of this test and loads it.
  bool Load(const Bytes& bytes, const char* name = "map.bmp") {
    m_path = (s_dir / name).string();
    EXPECT_TRUE(bmptest::WriteFile(m_path, bytes));
    return m_bitmap.Load(m_path.c_str());
  }

  // Wine's LoadImageA (the Win32 build's loader under test) hands back an
  // all-black bitmap for top-down and RLE files, which Windows decodes.
  // Only there, and only when every pixel came back black, the case is
  // skipped rather than failed.
  bool SystemLoaderGaveBlack() const {
    if (m_bitmap.NativeHandle() == nullptr) {
      return false;
    }
    for (int y = 0; y < m_bitmap.Height(); ++y) {
      for (int x = 0; x < m_bitmap.Width(); ++x) {
        if (m_bitmap.Pixel(x, y) != 0) {
          return false;
        }
      }
    }
    return true;
  }

  static std::filesystem::path s_dir;
  std::string m_path;
  CBitmapFile m_bitmap;
};
std::filesystem::path BitmapFile::s_dir;

// A colour of each pixel that tells the pixel apart (and keeps red, green
// and blue distinct).
std::uint32_t Tag(int x, int y) {
  return static_cast<std::uint32_t>(0x10 + x) | (static_cast<std::uint32_t>(0x40 + y) << 8) |
         (static_cast<std::uint32_t>(0x80 + x + y) << 16);
}

TEST_F(BitmapFile, TwentyFourBitBothRowOrders) {
  for (bool topDown : {false, true}) {
    SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
    // Width 5: rows of 15 bytes padded to 16.
    ASSERT_TRUE(Load(bmptest::Make24(5, 3, Tag, topDown))) << m_bitmap.ErrorText();
    if (topDown && SystemLoaderGaveBlack()) {
      GTEST_SKIP() << "the system loader does not decode top-down files here";
    }
    EXPECT_EQ(m_bitmap.Width(), 5);
    EXPECT_EQ(m_bitmap.Height(), 3);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(m_bitmap.Pixel(x, y), Tag(x, y)) << x << "," << y;
      }
    }
  }
}

TEST_F(BitmapFile, ReadsOffTheBitmapGiveAllOnes) {
  ASSERT_TRUE(Load(bmptest::Make24(4, 2, Tag)));
  const int outside[][2] = {{-1, 0}, {4, 0}, {0, -1}, {0, 2}, {INT_MIN, 0}, {0, INT_MAX}};
  for (const auto& p : outside) {
    EXPECT_EQ(m_bitmap.Pixel(p[0], p[1]), 0xFFFFFFFFu) << p[0] << "," << p[1];
  }
  CBitmapFile empty;
  EXPECT_EQ(empty.Pixel(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(empty.Width(), 0);
}

TEST_F(BitmapFile, IndexedDepths) {
  const std::vector<std::uint32_t> palette16 = {
      0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0x123456, 0x654321, 0x0A0B0C, 0xFFFFFF,
      0x010203, 0x111111, 0x222222, 0x333333, 0x444444, 0x555555, 0x666666, 0x777777};
  for (int bits : {1, 4, 8}) {
    SCOPED_TRACE(bits);
    const int colours = bits == 1 ? 2 : 16;
    Layout l;
    l.width = 11;  // odd widths exercise the packing and the padding
    l.height = 3;
    l.bitCount = bits;
    l.palette.assign(palette16.begin(), palette16.begin() + colours);
    auto index = [&](int x, int y) { return static_cast<std::uint32_t>((x + 3 * y) % colours); };
    ASSERT_TRUE(Load(bmptest::MakeFile(l, bmptest::EncodeRows(11, 3, bits, false, index))))
        << m_bitmap.ErrorText();
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 11; ++x) {
        EXPECT_EQ(m_bitmap.Pixel(x, y), palette16[index(x, y)]) << x << "," << y;
      }
    }
  }
}

TEST_F(BitmapFile, SixteenAndThirtyTwoBitFields) {
  // 5-5-5 (the default), 5-6-5 through masks, short fields widened with
  // their top bits repeated.
  const std::uint32_t words[] = {0x0000, 0x7FFF, 0x7C00, 0x03E0, 0x001F, 0x4210};
  const std::uint32_t as555[] = {0x000000, 0xFFFFFF, 0x0000FF, 0x00FF00, 0xFF0000, 0x848484};
  Layout l;
  l.width = 6;
  l.height = 1;
  l.bitCount = 16;
  auto word = [&](int x, int) { return words[x]; };
  ASSERT_TRUE(Load(bmptest::MakeFile(l, bmptest::EncodeRows(6, 1, 16, false, word))))
      << m_bitmap.ErrorText();
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(m_bitmap.Pixel(x, 0), as555[x]) << x;
  }

  l.compression = 3;
  l.masks[0] = 0xF800;
  l.masks[1] = 0x07E0;
  l.masks[2] = 0x001F;
  const std::uint32_t words565[] = {0xF800, 0x07E0, 0x001F, 0xF81F, 0xFFFF, 0x0000};
  const std::uint32_t as565[] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFF00FF, 0xFFFFFF, 0x000000};
  ASSERT_TRUE(Load(bmptest::MakeFile(
      l, bmptest::EncodeRows(6, 1, 16, false, [&](int x, int) { return words565[x]; }))))
      << m_bitmap.ErrorText();
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(m_bitmap.Pixel(x, 0), as565[x]) << x;
  }

  // 32 bits: plain B, G, R, x; and bit fields in a V5 header.
  Layout l32;
  l32.width = 3;
  l32.height = 2;
  l32.bitCount = 32;
  ASSERT_TRUE(Load(bmptest::MakeFile(l32, bmptest::EncodeRows(3, 2, 32, false, Tag))));
  EXPECT_EQ(m_bitmap.Pixel(2, 1), Tag(2, 1));
  l32.compression = 3;
  l32.headerSize = 124;
  l32.masks[0] = 0x00FF0000;
  l32.masks[1] = 0x0000FF00;
  l32.masks[2] = 0x000000FF;
  l32.topDown = true;
  ASSERT_TRUE(Load(bmptest::MakeFile(l32, bmptest::EncodeRows(3, 2, 32, true, Tag))))
      << m_bitmap.ErrorText();
  if (SystemLoaderGaveBlack()) {
    GTEST_SKIP() << "the system loader does not decode top-down files here";
  }
  EXPECT_EQ(m_bitmap.Pixel(0, 0), Tag(0, 0));
  EXPECT_EQ(m_bitmap.Pixel(2, 1), Tag(2, 1));
}

TEST_F(BitmapFile, LaterHeaders) {
  Layout v4;
  v4.width = 4;
  v4.height = 2;
  v4.headerSize = 108;
  ASSERT_TRUE(Load(bmptest::MakeFile(v4, bmptest::EncodeRows(4, 2, 24, false, Tag))))
      << m_bitmap.ErrorText();
  EXPECT_EQ(m_bitmap.Pixel(3, 1), Tag(3, 1));
}

TEST_F(BitmapFile, RunLengthEncoded) {
  Layout l;
  l.width = 6;
  l.height = 2;
  l.bitCount = 8;
  l.compression = 1;
  l.palette = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000};
  // Bottom row: 3 x index 1, absolute run 1, 2, 3 (padded to a word); top
  // row: 6 x index 2.
  const Bytes rle8 = {3, 1, 0, 3, 1, 2, 3, 0, 0, 0, 6, 2, 0, 0, 0, 1};
  ASSERT_TRUE(Load(bmptest::MakeFile(l, rle8))) << m_bitmap.ErrorText();
  if (SystemLoaderGaveBlack()) {
    GTEST_SKIP() << "the system loader does not decode RLE files here";
  }
  const std::uint32_t bottom[] = {0x0000FF, 0x0000FF, 0x0000FF, 0x0000FF, 0x00FF00, 0xFF0000};
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(m_bitmap.Pixel(x, 1), bottom[x]) << x;
    EXPECT_EQ(m_bitmap.Pixel(x, 0), 0x00FF00u) << x;
  }

  l.bitCount = 4;
  l.compression = 2;
  // Bottom row: run of 5 alternating 1,2 then absolute 3 pixels 3,0,1;
  // top row: 6 x index 3.
  const Bytes rle4 = {5, 0x12, 0, 3, 0x30, 0x10, 0, 0, 6, 0x33, 0, 1};
  ASSERT_TRUE(Load(bmptest::MakeFile(l, rle4))) << m_bitmap.ErrorText();
  const std::uint32_t bottom4[] = {0x0000FF, 0x00FF00, 0x0000FF, 0x00FF00, 0x0000FF, 0xFF0000};
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(m_bitmap.Pixel(x, 1), bottom4[x]) << x;
    EXPECT_EQ(m_bitmap.Pixel(x, 0), 0xFF0000u) << x;
  }
}

// Files the loaders refuse; each refusal leaves nothing loaded and says why.
// Wine's LoadImageA is lenient with some (it reads PNG- or JPEG-flagged and
// truncated data as plain pixels), so those are checked against the
// project's own reader only.
TEST_F(BitmapFile, RefusesBadFiles) {
  const bool systemLoader = [] {
    CBitmapFile probe;
    probe.CreateMemoryDC(nullptr);
    return probe.NativeDC() != nullptr;
  }();
  const Bytes good = bmptest::Make24(4, 4, Tag);
  struct Case {
    const char* name;
    Bytes bytes;
    bool ownReaderOnly;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", Bytes{}, false});
  cases.push_back({"not a bitmap",
                   Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                   false});
  cases.push_back({"truncated pixels", Bytes(good.begin(), good.end() - 20), true});
  Bytes png = good;
  png[30] = 5;  // BI_PNG
  cases.push_back({"png inside", png, true});
  Bytes jpeg = good;
  jpeg[30] = 4;  // BI_JPEG
  cases.push_back({"jpeg inside", jpeg, true});
  Bytes depth = good;
  depth[28] = 7;
  cases.push_back({"seven bits", depth, true});
  Bytes zeroWidth = good;
  bmptest::Put32(zeroWidth, 18, 0);
  cases.push_back({"zero width", zeroWidth, true});
  Bytes huge = good;  // 100000 x 100000 pixels claimed by a tiny file
  bmptest::Put32(huge, 18, 100000);
  bmptest::Put32(huge, 22, 100000);
  cases.push_back({"absurd size", huge, false});
  Bytes overflow = good;  // a pixel count that overflows 32 bits
  bmptest::Put32(overflow, 18, 0x7FFFFFFF);
  bmptest::Put32(overflow, 22, 0x7FFFFFFF);
  cases.push_back({"overflowing size", overflow, false});

  ASSERT_TRUE(Load(good));
  for (const Case& c : cases) {
    if (systemLoader && c.ownReaderOnly) {
      continue;
    }
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(Load(c.bytes, "bad.bmp"));
    EXPECT_FALSE(m_bitmap.IsLoaded());
    EXPECT_EQ(m_bitmap.Width(), 0);
    EXPECT_EQ(m_bitmap.Pixel(0, 0), 0xFFFFFFFFu);
    EXPECT_STRNE(m_bitmap.ErrorText(), "");
  }
}

TEST_F(BitmapFile, MissingFileAndFailureSeam) {
  EXPECT_FALSE(m_bitmap.Load((s_dir / "no-such-map.bmp").string().c_str()));
  EXPECT_STRNE(m_bitmap.ErrorText(), "");

  ASSERT_TRUE(Load(bmptest::Make24(2, 2, Tag)));
  platform::SetBitmapLoadFailure(platform::FileNotFoundCode());
  EXPECT_FALSE(m_bitmap.Load(m_path.c_str()));
  char expected[CBitmapFile::kErrorTextSize];
  platform::SystemErrorText(platform::FileNotFoundCode(), expected, sizeof expected);
  EXPECT_STREQ(m_bitmap.ErrorText(), expected);
  platform::SetBitmapLoadFailure(0);
  EXPECT_TRUE(m_bitmap.Load(m_path.c_str()));
  EXPECT_STREQ(m_bitmap.ErrorText(), "");
}

TEST_F(BitmapFile, MemoryDeviceContextHoldsTheBitmap) {
  ASSERT_TRUE(m_bitmap.CreateMemoryDC(nullptr)) << m_bitmap.ErrorText();
  ASSERT_TRUE(Load(bmptest::Make24(3, 3, Tag)));
  // Where the platform has a DC the bitmap is selected into it; a second
  // DC takes the bitmap over.
  EXPECT_EQ(m_bitmap.NativeDC() != nullptr, m_bitmap.NativeHandle() != nullptr);
  ASSERT_TRUE(m_bitmap.CreateMemoryDC(nullptr));
  EXPECT_EQ(m_bitmap.Pixel(1, 1), Tag(1, 1));
}

TEST(InstallFolder, ProgramFolderOrFixedRoot) {
  char folder[1024];
  ASSERT_TRUE(platform::InstallFolder(folder, sizeof folder));
  const std::string f = folder;
  if (f.rfind("C:", 0) == 0) {
    EXPECT_EQ(f, "C:\\Program Files\\Norvalia\\");
  } else {
    char exe[1024];
    ASSERT_TRUE(platform::ModuleFileName(exe, sizeof exe));
    EXPECT_EQ(f, std::filesystem::path(exe).parent_path().string() + "/");
  }
  char tiny[8];
  EXPECT_FALSE(platform::InstallFolder(tiny, sizeof tiny));
  EXPECT_STREQ(tiny, "");
}

// Maps of 120 pixels per degree, 43200 x 21600, whose pixel data is a hole
// in the file: known pixels at the far corners, the antimeridian and the
// poles are read where they lie, whatever the row order and depth.
TEST_F(BitmapFile, FineMapsAreReadInPlace) {
  struct Case {
    const char* name;
    int bitCount;
    bool topDown;
    std::uint32_t offBits;
  } cases[] = {
      {"24-bit bottom-up", 24, false, 56},
      {"24-bit top-down", 24, true, 56},
      {"32-bit bottom-up, offset 138", 32, false, 138},
  };
  const int w = 43200;
  const int h = 21600;
  const int points[][2] = {{0, 0},     {w - 1, h - 1}, {w - 1, 0},
                           {0, h - 1}, {w / 2, 0},     {w / 2 - 1, h - 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = s_dir / "fine.bmp";
    {
      bmptest::SparseMap map(path, w, h, c.bitCount, c.topDown, c.offBits);
      for (const auto& p : points) {
        map.Put(p[0], p[1], Tag(p[0] % 60, p[1] % 40));
      }
      ASSERT_TRUE(map.Close());
    }
    ASSERT_TRUE(m_bitmap.Load(path.string().c_str())) << m_bitmap.ErrorText();
    EXPECT_TRUE(m_bitmap.InPlace());
    EXPECT_EQ(m_bitmap.Width(), w);
    EXPECT_EQ(m_bitmap.Height(), h);
    for (const auto& p : points) {
      EXPECT_EQ(m_bitmap.Pixel(p[0], p[1]), Tag(p[0] % 60, p[1] % 40)) << p[0] << "," << p[1];
    }
    EXPECT_EQ(m_bitmap.Pixel(1, 1), 0u);  // the hole reads as zeros
    EXPECT_EQ(m_bitmap.Pixel(w, 0), CBitmapFile::kOutside);
    EXPECT_EQ(m_bitmap.Pixel(0, h), CBitmapFile::kOutside);
    EXPECT_TRUE(m_bitmap.CheckFile());
    m_bitmap.Unload();
    std::filesystem::remove(path);
  }
}

// The pixel data must be wholly in the file, checked once at load: a map
// one byte short is refused, not read past its end later.
TEST_F(BitmapFile, FineMapOneByteShortIsRefused) {
  const auto path = s_dir / "short.bmp";
  std::uint64_t end = 0;
  {
    bmptest::SparseMap map(path, 43200, 21600);
    end = map.PixelBytesEnd();
    ASSERT_TRUE(map.Close());
  }
  std::filesystem::resize_file(path, end - 1);
  EXPECT_FALSE(m_bitmap.Load(path.string().c_str()));
  EXPECT_FALSE(m_bitmap.IsLoaded());
  EXPECT_NE(std::string(m_bitmap.ErrorText()).find("truncated pixel data"), std::string::npos)
      << m_bitmap.ErrorText();
  std::filesystem::remove(path);
}

#ifndef _WIN32
// The start of the first mapping of `path` in this process, from the
// kernel's list of mappings; null when there is none.
const void* MappingOf(const std::filesystem::path& path) {
  std::FILE* maps = std::fopen("/proc/self/maps", "r");
  if (maps == nullptr) {
    return nullptr;
  }
  const std::string name = std::filesystem::canonical(path).string();
  char line[4096];
  const void* found = nullptr;
  while (found == nullptr && std::fgets(line, sizeof line, maps) != nullptr) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') {
      text.pop_back();
    }
    if (text.size() > name.size() &&
        text.compare(text.size() - name.size(), name.size(), name) == 0) {
      found = reinterpret_cast<const void*>(std::strtoull(line, nullptr, 16));
    }
  }
  std::fclose(maps);
  return found;
}

// The signal's own action: the default kills the process; under
// AddressSanitizer its handler, the one ours hands on to, reports and exits 1.
bool DiedOfTheSignalsOwnAction(int status) {
#if defined(__SANITIZE_ADDRESS__)
  if (WIFEXITED(status) && WEXITSTATUS(status) == 1) {
    return true;
  }
#endif
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS;
}

// A bus error another process sends (si_code <= 0) carries no fault
// address, whatever the bytes there hold: the guard leaves it to the
// signal's own action rather than mark a whole map lost.
TEST_F(BitmapFile, SentBusErrorIsNotAFaultOfTheMap) {
  const auto path = s_dir / "sent.bmp";
  const int w = 43200;
  const int h = 21600;
  {
    bmptest::SparseMap map(path, w, h);
    map.Put(0, 0, 0x123456u);
    ASSERT_TRUE(map.Close());
  }
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        CBitmapFile bitmap;
        if (!bitmap.Load(path.string().c_str()) || !bitmap.InPlace()) {
          std::_Exit(3);
        }
        const void* mapped = MappingOf(path);
        if (mapped == nullptr) {
          std::_Exit(4);
        }
        // What a sender can forge: SI_QUEUE with the map's address where a
        // fault's address would be.
        static siginfo_t info;
        std::memset(&info, 0, sizeof info);
        info.si_signo = SIGBUS;
        info.si_code = SI_QUEUE;
        info.si_addr = const_cast<void*>(mapped);
        bitmap.ReadGuarded(
            [](void*) {
              syscall(SYS_rt_tgsigqueueinfo, getpid(), static_cast<pid_t>(syscall(SYS_gettid)),
                      SIGBUS, &info);
            },
            nullptr);
        std::_Exit(bitmap.Lost() ? 5 : 6);
      },
      DiedOfTheSignalsOwnAction, "");
  std::filesystem::remove(path);
}
#endif

#ifdef _WIN32
// The first mapped region of at least `bytes` bytes in this process: the
// view of a map read in place (no other mapping is that large here).
const std::uint8_t* MappingOfAtLeast(std::uint64_t bytes) {
  MEMORY_BASIC_INFORMATION info{};
  const std::uint8_t* p = nullptr;
  while (VirtualQuery(p, &info, sizeof info) == sizeof info) {
    if (info.Type == MEM_MAPPED && info.State == MEM_COMMIT && info.RegionSize >= bytes) {
      return static_cast<const std::uint8_t*>(info.BaseAddress);
    }
    p = static_cast<const std::uint8_t*>(info.BaseAddress) + info.RegionSize;
  }
  return nullptr;
}

// Forged faults, told apart from any other exception by their last
// parameter; a handler after the guard's counts those the guard passed on
// and lets RaiseException return.
constexpr ULONG_PTR kForgedStatus = 0xC000009CUL;  // STATUS_DEVICE_DATA_ERROR
LONG g_passedOn = 0;

LONG CALLBACK CountPassedOn(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* rec = info->ExceptionRecord;
  if ((rec->ExceptionCode == EXCEPTION_IN_PAGE_ERROR ||
       rec->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) &&
      rec->NumberParameters == 3 && rec->ExceptionInformation[2] == kForgedStatus) {
    ++g_passedOn;
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void RaiseForged(DWORD code, const void* address) {
  const ULONG_PTR args[3] = {0, reinterpret_cast<ULONG_PTR>(address), kForgedStatus};
  RaiseException(code, 0, 3, args);
}

// The regression of a server ended by an in-page error on its map (a
// failing disk or a network share): inside the guarded read, at an address
// of the map's view, it loses the map as a cut file does on POSIX; at any
// other address, or outside the guarded read, it is not the map's and goes
// on to the next handler unchanged.
TEST_F(BitmapFile, InPageErrorOnTheMapLosesIt) {
  const auto path = s_dir / "inpage.bmp";
  const int w = 43200;
  const int h = 21600;
  std::uint64_t end = 0;
  {
    bmptest::SparseMap map(path, w, h);
    map.Put(0, 0, 0x123456u);
    end = map.PixelBytesEnd();
    ASSERT_TRUE(map.Close());
  }
  struct Case {
    const char* what;
    DWORD code;
    bool inView;
    bool guarded;
    bool lost;
  } cases[] = {
      {"in-page error in the view", EXCEPTION_IN_PAGE_ERROR, true, true, true},
      {"read access violation in the view", EXCEPTION_ACCESS_VIOLATION, true, true, true},
      {"in-page error elsewhere", EXCEPTION_IN_PAGE_ERROR, false, true, false},
      {"in-page error in the view, unguarded", EXCEPTION_IN_PAGE_ERROR, true, false, false},
  };
  PVOID after = AddVectoredExceptionHandler(0, CountPassedOn);
  ASSERT_NE(after, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CBitmapFile bitmap;
    ASSERT_TRUE(bitmap.Load(path.string().c_str())) << bitmap.ErrorText();
    ASSERT_TRUE(bitmap.InPlace());
    const std::uint8_t* view = MappingOfAtLeast(end);
    ASSERT_NE(view, nullptr);
    static int elsewhere = 0;
    struct Probe {
      DWORD code;
      const void* address;
      bool finished;
    } probe{c.code, c.inView ? static_cast<const void*>(view + end / 2) : &elsewhere, false};
    g_passedOn = 0;
    bool read = true;
    if (c.guarded) {
      read = bitmap.ReadGuarded(
          [](void* context) {
            auto* p = static_cast<Probe*>(context);
            RaiseForged(p->code, p->address);
            p->finished = true;
          },
          &probe);
    } else {
      RaiseForged(probe.code, probe.address);
      probe.finished = true;
    }
    EXPECT_EQ(read, !c.lost);
    EXPECT_EQ(probe.finished, !c.lost);
    EXPECT_EQ(bitmap.Lost(), c.lost);
    EXPECT_EQ(g_passedOn, c.lost ? 0 : 1);
    if (c.lost) {
      EXPECT_NE(std::string(bitmap.ErrorText()).find("no longer read"), std::string::npos)
          << bitmap.ErrorText();
      EXPECT_EQ(bitmap.Pixel(0, 0), CBitmapFile::kOutside);
      EXPECT_FALSE(bitmap.ReadGuarded([](void*) {}, nullptr));
    } else {
      EXPECT_EQ(bitmap.Pixel(0, 0), 0x123456u);
    }
  }
  RemoveVectoredExceptionHandler(after);
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

// Under Wine a program outside it can cut the map short while it is mapped
// (the system's sharing rules bind Windows programs only), and a read past
// the new end raises a real fault, an access violation: the guard loses
// the map as on POSIX. Elsewhere the cut cannot be made and the case is
// skipped.
TEST_F(BitmapFile, MapCutShortByAnotherProgramIsLost) {
  using UnixName = char*(CDECL*)(const WCHAR*);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) {
    GTEST_SKIP() << "not under Wine: no program can shorten a mapped file";
  }
  const auto path = s_dir / "cut-outside.bmp";
  const int w = 43200;
  const int h = 21600;
  {
    bmptest::SparseMap map(path, w, h);
    map.Put(w - 1, 0, 0x123456u);
    ASSERT_TRUE(map.Close());
  }
  CBitmapFile bitmap;
  ASSERT_TRUE(bitmap.Load(path.string().c_str())) << bitmap.ErrorText();
  ASSERT_TRUE(bitmap.InPlace());
  char* name = unixName(path.wstring().c_str());
  ASSERT_NE(name, nullptr);
  std::string command = std::string("Z:\\usr\\bin\\truncate -s 4096 ") + name;
  HeapFree(GetProcessHeap(), 0, name);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    GTEST_SKIP() << "truncate cannot be run from here";
  }
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // The handle of a program outside Wine may be signalled before that
  // program has done its work: the file's own size says when the cut is made.
  std::error_code sizeError;
  for (int waited = 0; waited < 10000; waited += 10) {
    if (std::filesystem::file_size(path, sizeError) == 4096u && !sizeError) {
      break;
    }
    Sleep(10);
  }
  if (std::filesystem::file_size(path, sizeError) != 4096u || sizeError) {
    bitmap.Unload();
    std::filesystem::remove(path, sizeError);
    GTEST_SKIP() << "truncate did not cut the file here";
  }
  struct Probe {
    const CBitmapFile* bitmap;
    int x;
    std::uint32_t colour;
    bool finished;
  } probe{&bitmap, w - 1, 0, false};
  EXPECT_FALSE(bitmap.ReadGuarded(
      [](void* context) {
        auto* p = static_cast<Probe*>(context);
        p->colour = p->bitmap->Pixel(p->x, 0);
        p->finished = true;
      },
      &probe));
  EXPECT_FALSE(probe.finished);
  EXPECT_TRUE(bitmap.Lost());
  EXPECT_NE(std::string(bitmap.ErrorText()).find("cut short"), std::string::npos)
      << bitmap.ErrorText();
  bitmap.Unload();
  std::error_code ec;
  std::filesystem::remove(path, ec);
}
#endif

// Replacing the map by renaming another file over it leaves the mapping on
// the old file; cutting it short in place loses the map, but every read
// after that is refused, never a crash. (Win32 cannot shorten a mapped
// file, nor rename over it: there the change fails and the map stays whole.)
TEST_F(BitmapFile, MapChangedOnDiskWhileServed) {
  const auto path = s_dir / "served.bmp";
  const auto other = s_dir / "other.bmp";
  const int w = 43200;  // past the table's limit: read in place everywhere
  const int h = 21600;
  const auto write = [&]() {
    bmptest::SparseMap map(path, w, h);
    map.Put(w - 1, 0, 0x123456u);
    return map.Close();
  };
  ASSERT_TRUE(write());
  ASSERT_TRUE(m_bitmap.Load(path.string().c_str())) << m_bitmap.ErrorText();
  ASSERT_TRUE(m_bitmap.InPlace());

  ASSERT_TRUE(bmptest::WriteFile(other, bmptest::Make24(2, 2, Tag)));
  std::error_code ec;
  std::filesystem::rename(other, path, ec);
#ifdef _WIN32
  // A mapped file cannot be replaced here: the rename must fail.
  EXPECT_TRUE(ec) << "the served map was replaced";
#else
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(std::filesystem::file_size(path, ec), bmptest::Make24(2, 2, Tag).size())
      << "the rename did not replace the map";
#endif
  EXPECT_TRUE(m_bitmap.CheckFile());
  EXPECT_EQ(m_bitmap.Pixel(w - 1, 0), 0x123456u);
  m_bitmap.Unload();
  std::filesystem::remove(other, ec);

  ASSERT_TRUE(write());
  ASSERT_TRUE(m_bitmap.Load(path.string().c_str())) << m_bitmap.ErrorText();
  std::filesystem::resize_file(path, 4096, ec);
  if (ec) {
    // The system refuses to shorten a mapped file: the map stays whole.
    EXPECT_TRUE(m_bitmap.CheckFile());
    EXPECT_EQ(m_bitmap.Pixel(w - 1, 0), 0x123456u);
    m_bitmap.Unload();
    std::filesystem::remove(path, ec);
    return;
  }
  // A read of a page past the new end faults; the guard turns that into a
  // lost map and skips the rest of the batch.
  struct Probe {
    const CBitmapFile* bitmap;
    int x;
    int y;
    std::uint32_t colour;
    bool finished;
  } probe{&m_bitmap, w - 1, 0, 0, false};
  EXPECT_FALSE(m_bitmap.ReadGuarded(
      [](void* context) {
        auto* p = static_cast<Probe*>(context);
        p->colour = p->bitmap->Pixel(p->x, p->y);
        p->finished = true;
      },
      &probe));
  EXPECT_FALSE(probe.finished);
  EXPECT_TRUE(m_bitmap.Lost());
  EXPECT_NE(std::string(m_bitmap.ErrorText()).find("cut short"), std::string::npos)
      << m_bitmap.ErrorText();
  EXPECT_EQ(m_bitmap.Pixel(w - 1, 0), CBitmapFile::kOutside);
  EXPECT_EQ(m_bitmap.Width(), 0);
  EXPECT_FALSE(m_bitmap.CheckFile());

  // The check alone notices a cut too, before any read faults.
  ASSERT_TRUE(write());
  ASSERT_TRUE(m_bitmap.Load(path.string().c_str())) << m_bitmap.ErrorText();
  std::filesystem::resize_file(path, 4096);
  EXPECT_FALSE(m_bitmap.CheckFile());
  EXPECT_TRUE(m_bitmap.Lost());
  EXPECT_EQ(m_bitmap.Pixel(0, 0), CBitmapFile::kOutside);
  // A new load starts afresh.
  ASSERT_TRUE(Load(bmptest::Make24(2, 2, Tag)));
  EXPECT_FALSE(m_bitmap.Lost());
  EXPECT_EQ(m_bitmap.Pixel(1, 1), Tag(1, 1));
  std::filesystem::remove(path);
}

}  // namespace
