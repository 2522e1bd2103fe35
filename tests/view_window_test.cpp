// Tests of orogrid-view's live window against the real server and the
// flying simulation stand-in: screenshots of the whole screen (Xvfb on
// Linux, Wine's display on Windows) show where the aircraft symbol is, which
// way the map turns, the colour a known mountain is drawn in under and over
// the aircraft's altitude, and "Server gone" once the server is killed.
// Threading: the test's main thread; the programs run as child processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "client/orogrid_client.h"
#include "display/BaseDisplay.h"
#include "platform/window_host.h"
#include "tests/orogrid_test_map.h"
#include "tests/support/TestSupport.h"
#include "tests/support/process.h"
#include "tests/support/screen_capture.h"
#include "tests/support/server_process.h"
#include "tools/view/MapGeometry.h"
#include "tools/view/MovingMap.h"
#include "tools/view/WindowMode.h"

namespace {

using testsupport::NowMs;
using testsupport::ProcessHandle;
using testsupport::ScreenImage;
using testsupport::SleepMs;

// One pixel a degree: 100 m everywhere but a 3000 m block at 20..25 E,
// 2 N..2 S, straight east of the route along the equator.
int MountainMap(int x, int y) { return (x >= 200 && x < 205 && y >= 88 && y < 92) ? 3000 : 100; }

const char kRoute[] = "0 0.5\n0 15\n";

struct Blob {
  int count = 0;
  double x = 0.0;  // centroid
  double y = 0.0;
  int top = 1 << 20;  // extent
  int bottom = -1;
};

Blob Find(const ScreenImage& image, platform::Colour colour, int left = 0, int top = 0,
          int right = 1 << 20, int bottom = 1 << 20) {
  Blob b;
  for (int y = std::max(top, 0); y < std::min(bottom, image.height); ++y) {
    for (int x = std::max(left, 0); x < std::min(right, image.width); ++x) {
      if (image.At(x, y) == colour) {
        ++b.count;
        b.x += x;
        b.y += y;
        b.top = std::min(b.top, y);
        b.bottom = std::max(b.bottom, y);
      }
    }
  }
  if (b.count > 0) {
    b.x /= b.count;
    b.y /= b.count;
  }
  return b;
}

// Screenshots until ready(image) holds or timeoutMs pass.
template <class Ready>
bool WaitForScreen(ScreenImage& image, Ready ready, int timeoutMs, std::string* why) {
  const long long end = NowMs() + timeoutMs;
  while (NowMs() < end) {
    if (!testsupport::CaptureScreen(image, why)) {
      return false;
    }
    if (ready(image)) {
      return true;
    }
    SleepMs(300);
  }
  *why = "the window did not show it in time";
  return false;
}

class ViewWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!testsupport::ScreenCaptureAvailable(&why)) {
      GTEST_SKIP() << why;
    }
    ASSERT_TRUE(m_server.Start(testmap::Bytes(MountainMap), true, &why)) << why;
    // Until this server publishes (a record an earlier one left says gone).
    ASSERT_TRUE(testsupport::WaitFor(
        [&] {
          orogrid_client* client = nullptr;
          if (orogrid_open(nullptr, 0, &client) != OROGRID_OK) {
            return false;
          }
          const bool publishing = orogrid_wait_publication(client, 1000) == OROGRID_OK;
          orogrid_close(client);
          return publishing;
        },
        60000, 50))
        << m_server.Output();
    ASSERT_TRUE(testsupport::WriteTextFile(m_scratch.File("route.txt"), kRoute));
  }

  // The stand-in flies east along the equator, level at altitude (metres;
  // null: it writes no altitude).
  void Fly(const char* altitude) {
    const std::string sim = testsupport::ProgramPath("orogrid-sim");
    const std::string route = m_scratch.File("route.txt");
    std::vector<const char*> argv{sim.c_str(), "--route",      route.c_str(), "--speed",
                                  "600",       "--time-scale", "10"};
    if (altitude != nullptr) {
      argv.push_back("--altitude");
      argv.push_back(altitude);
    }
    argv.push_back(nullptr);
    ASSERT_TRUE(testsupport::StartProcess(argv.data(), &m_sim)) << sim;
    m_simStarted = true;
  }

  void TearDown() override {
    if (m_simStarted) {
      testsupport::KillProcess(m_sim);
      testsupport::WaitProcess(m_sim);
    }
  }

  ProcessHandle StartView(const std::vector<std::string>& options) {
    const std::string view = testsupport::ProgramPath("orogrid-view");
    std::vector<const char*> argv{view.c_str(), "--window", "--range", "3000"};
    for (const std::string& o : options) {
      argv.push_back(o.c_str());
    }
    argv.push_back(nullptr);
    ProcessHandle process = 0;
    EXPECT_TRUE(testsupport::StartProcess(argv.data(), &process)) << view;
    return process;
  }

  e2e::ServerProcess m_server;
  testsupport::ScratchFolder m_scratch{"viewwin"};
  ProcessHandle m_sim = 0;
  bool m_simStarted = false;
};

// The aircraft symbol (its colour is used nowhere else) and a blob of the
// colour given, the blob's centroid relative to the symbol's.
struct Look {
  Blob aircraft;
  Blob terrain;
  double dx() const { return terrain.x - aircraft.x; }
  double dy() const { return terrain.y - aircraft.y; }
};

bool Seen(const ScreenImage& image, platform::Colour colour, Look& look) {
  look.aircraft = Find(image, mapview::kAircraftColour);
  if (look.aircraft.count < 20) {
    return false;
  }
  // Only the map around the symbol counts, not the panel's key.
  const int ax = static_cast<int>(look.aircraft.x);
  const int ay = static_cast<int>(look.aircraft.y);
  look.terrain = Find(image, colour, ax - 300, ay - 300, ax + 300, ay + 300);
  return look.terrain.count > 200;
}

}  // namespace

TEST_F(ViewWindow, HeadingUpPutsTheMountainEastAheadInRedBelowItsTop) {
  // The altitude comes from the simulation.
  Fly("1500");
  const ProcessHandle view = StartView({"--close-after", "40"});
  ScreenImage image;
  Look look;
  std::string why;
  const platform::Colour red = mapview::kBands[0].colour;
  ASSERT_TRUE(WaitForScreen(
      image, [&](const ScreenImage& i) { return Seen(i, red, look); }, 30000, &why))
      << why;
  // Flying east along the equator: the block 19..25 degrees east is ahead,
  // straight up the screen, 180..250 pixels away at 3000 km on 270 pixels.
  EXPECT_NEAR(look.dx(), 0.0, 25.0);
  EXPECT_GT(-look.dy(), 150.0);
  EXPECT_LT(-look.dy(), 270.0);
  // The symbol's nose points up: its wings (its widest row) lie nearer its
  // bottom, the tail, than its top, the nose.
  int wingRow = -1;
  int widest = 0;
  for (int y = look.aircraft.top; y <= look.aircraft.bottom; ++y) {
    const int width = Find(image, mapview::kAircraftColour, 0, y, 1 << 20, y + 1).count;
    if (width > widest) {
      widest = width;
      wingRow = y;
    }
  }
  const int up = wingRow - look.aircraft.top;
  const int down = look.aircraft.bottom - wingRow;
  EXPECT_GT(up, down + 4) << up << " up, " << down << " down";
  EXPECT_EQ(Find(image, mapview::kBands[2].colour, static_cast<int>(look.aircraft.x) - 300,
                 static_cast<int>(look.aircraft.y) - 300, static_cast<int>(look.aircraft.x) + 300,
                 static_cast<int>(look.aircraft.y) + 300)
                .count,
            0)
      << "the 100 m plain is far below: black, not green";
  testsupport::KillProcess(view);
  testsupport::WaitProcess(view);
}

TEST_F(ViewWindow, NorthUpPutsTheMountainToTheRightInGreenAboveItsTop) {
  Fly("3300");
  const ProcessHandle view = StartView({"--north-up", "--close-after", "20"});
  ScreenImage image;
  Look look;
  std::string why;
  const platform::Colour green = mapview::kBands[2].colour;
  ASSERT_TRUE(WaitForScreen(
      image, [&](const ScreenImage& i) { return Seen(i, green, look); }, 30000, &why))
      << why;
  EXPECT_NEAR(look.dy(), 0.0, 25.0);
  EXPECT_GT(look.dx(), 150.0);
  EXPECT_LT(look.dx(), 270.0);
  const Blob red =
      Find(image, mapview::kBands[0].colour, static_cast<int>(look.aircraft.x) - 300,
           static_cast<int>(look.aircraft.y) - 300, static_cast<int>(look.aircraft.x) + 300,
           static_cast<int>(look.aircraft.y) + 300);
  EXPECT_EQ(red.count, 0) << "nothing rises above 3300 m";
  // --close-after ends it cleanly.
  EXPECT_EQ(testsupport::WaitProcess(view), 0);
}

TEST_F(ViewWindow, ShowsServerGoneOnceTheServerIsKilled) {
  // A simulation without an altitude; the window's own option gives one.
  Fly(nullptr);
  const ProcessHandle view = StartView({"--altitude", "3300", "--close-after", "60"});
  ScreenImage image;
  std::string why;
  ASSERT_TRUE(WaitForScreen(
      image, [&](const ScreenImage& i) { return Find(i, mapview::kAircraftColour).count > 20; },
      30000, &why))
      << why;
  // The banner's box is drawn in the palette's red above the rings.
  const auto banner = [&](const ScreenImage& i) {
    const Blob a = Find(i, mapview::kAircraftColour);
    return a.count > 20 &&
           Find(i, DisplayPalette::red, static_cast<int>(a.x) - 250, static_cast<int>(a.y) - 290,
                static_cast<int>(a.x) + 250, static_cast<int>(a.y) - 200)
                   .count > 100;
  };
  EXPECT_FALSE(banner(image)) << "no banner while the server publishes";
  Look look;
  EXPECT_TRUE(Seen(image, mapview::kBands[2].colour, look)) << "the mountain, green under 3300 m";
  ASSERT_TRUE(m_server.Kill());
  EXPECT_NE(m_server.Wait(10000), -2);
  EXPECT_TRUE(WaitForScreen(image, banner, 20000, &why)) << why;
  testsupport::KillProcess(view);
  testsupport::WaitProcess(view);
}

TEST(ViewWindowCommandLine, RefusesWhatTheWindowCannotDo) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"an output file with the window", {"--window", "out.png"}},
      {"--every with the window", {"--window", "--every", "1"}},
      {"a window option without the window", {"out.png", "--range", "50"}},
      {"a range of 0 km", {"--window", "--range", "0"}},
      {"a range without its value", {"--window", "--range"}},
      {"an altitude that is not a number", {"--window", "--altitude", "high"}},
      {"--close-after 0", {"--window", "--close-after", "0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(testsupport::RunProgram(testsupport::ProgramPath("orogrid-view"), c.args), 1);
  }
}

TEST(ViewWindowCommandLine, WithoutADisplayItSaysSoAndEndsWithStatus1) {
  platform::SetWindowOpenFailure(true);
  mapview::WindowOptions options;
  options.closeAfterS = 5.0;
  EXPECT_EQ(mapview::RunWindow(options, nullptr), 1);
  platform::SetWindowOpenFailure(false);
}
