// End-to-end tests of the orogrid program: the built program with a test
// map, and this test playing the simulation through the library's
// simulation side on the real "TrnShmSpace" segment (so these tests run one
// at a time). Timing is never asserted tightly: the tests count ticks
// through the record's updateCount.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "client/orogrid_client.h"
#include "shm/CTrnShm.h"
#include "shm/TrnSeqShm.h"
#include "tests/orogrid_test_map.h"
#include "tests/support/BmpTestWriter.h"
#include "tests/support/SimulationThread.h"
#include "tests/support/TestSupport.h"
#include "tests/support/server_process.h"
#include "tests/support/shm_spoil.h"

namespace {

using testsupport::NowMs;
using testsupport::ReadVolatile;
using testsupport::SleepMs;
using testsupport::WaitFor;
using testsupport::WriteVolatile;

// Pixel (146, 100) of the test map, at its centre (sub-cell 1, 1).
constexpr double kLatitude = -10.5;
constexpr double kLongitude = -33.5;
constexpr int kPixelX = 146;
constexpr int kPixelY = 100;

// A view of a segment that is not counted in the record's userCount: the
// record as the test looks at the server's side of it, or the server's
// companion record.
class SegmentView : public BaseSharedMemory {
 public:
  SegmentView(const char* name, std::uint32_t size) {
    SetName(name);
    m_size = size;
  }
  ~SegmentView() { Close(); }
  SegmentView(const SegmentView&) = delete;
  SegmentView& operator=(const SegmentView&) = delete;
};

// A reader's view of the server's companion record.
class CompanionView : public BaseSharedMemory {
 public:
  CompanionView() {
    SetName("TrnShmSpace.Seq");
    m_size = trn::kSeqRecordSize;
  }
  ~CompanionView() { Close(); }
  CompanionView(const CompanionView&) = delete;
  CompanionView& operator=(const CompanionView&) = delete;
  const TrnSeqData* Seq() const { return static_cast<const TrnSeqData*>(GetView()); }

  // Opens the companion once a server has announced itself in it; its
  // process id, or 0 when none did within timeoutMs.
  std::uint32_t WaitForServer(int timeoutMs) {
    const long long end = NowMs() + timeoutMs;
    while (NowMs() < end) {
      if (GetView() != nullptr || OpenAndMap()) {
        if (ReadVolatile(Seq()->magic) == trn::kSeqMagic) {
          return ReadVolatile(Seq()->serverProcessId);
        }
      }
      SleepMs(20);
    }
    return 0;
  }
};

class OrogridE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_EQ(OROGRID_OK, m_sim.Open(trn::kMappingName, &why)) << why;
    ASSERT_TRUE(m_view.OpenAndMap()) << m_view.GetErrorText();
    m_rec = static_cast<TrnShmData*>(m_view.GetView());
    ASSERT_EQ(1, TrnUserCount(m_rec)) << "another process holds TrnShmSpace";
    // The server's fields as no server has left them.
    WriteVolatile(m_rec->coarseSizeX, 0);
    WriteVolatile(m_rec->updateCount, 0);
    ASSERT_EQ(OROGRID_OK, m_sim.Write(kLatitude, kLongitude, 45.0));
    ASSERT_EQ(OROGRID_OK, m_sim.SetState(1));
  }

  void TearDown() override {
    m_rec = nullptr;
    m_view.Close();
    m_sim.Close();
  }

  // The aircraft at (latitude, longitude), heading 45 degrees.
  void MoveTo(double latitude, double longitude) {
    ASSERT_EQ(OROGRID_OK, m_sim.Write(latitude, longitude, 45.0));
  }

  // Waits until the server has seeded the record.
  bool WaitForStartUp(int timeoutMs) {
    return WaitFor(
        [&] { return ReadVolatile(m_rec->coarseSizeX) == 150 && TrnUserCount(m_rec) == 2; },
        timeoutMs, 20);
  }

  bool WaitForCount(std::int32_t count, int timeoutMs) {
    return WaitFor([&] { return ReadVolatile(m_rec->updateCount) >= count; }, timeoutMs, 10);
  }

  // Moves the aircraft north a little every 100 ms for ms milliseconds, so
  // that status line 1 changes and the server writes it (once a second).
  void Fly(int ms) {
    for (int i = 0; i < ms / 100; ++i) {
      MoveTo(ReadVolatile(m_rec->aircraftLatitude) + 0.01, ReadVolatile(m_rec->aircraftLongitude));
      SleepMs(100);
    }
  }

  // Waits until the coarse grid's centre is the given cell.
  bool WaitForCentreOf(std::int32_t cellId, int timeoutMs) {
    return WaitFor([&] { return ReadVolatile(m_rec->coarseGrid[75][75].cellId) == cellId; },
                   timeoutMs, 20);
  }

  CSimulationThread m_sim;
  SegmentView m_view{trn::kMappingName, trn::kRecordSize};
  TrnShmData* m_rec = nullptr;

  // The grids published around each known pixel of the fine map carry it:
  // the centre of the coarse grid, the centre of the fine grid and the
  // aircraft's cell.
  void FlyOverFinePoints();
};

// A 120 pixel-per-degree map, 43200 x 21600 (2,799,360,056 bytes, all but a
// few pages a hole in the file), with known pixels at the far corner, the
// antimeridian and the north pole.
constexpr int kFineWidth = 43200;
constexpr int kFineHeight = 21600;
struct FinePoint {
  int x;
  int y;
  int elevation;
  double latitude;  // the pixel's centre
  double longitude;
};
constexpr FinePoint kFinePoints[] = {
    {kFineWidth - 1, kFineHeight - 1, 4321, -89.9958, 179.9958},  // south pole, antimeridian
    {0, 0, 1234, 89.9958, -179.9958},                             // north pole, antimeridian
    {kFineWidth / 2, 3456, 2345, 61.1958, 0.0042},                // Greenwich
};

bool WriteFineMap(const std::string& path) {
  bmptest::SparseMap map(path, kFineWidth, kFineHeight);
  for (const FinePoint& p : kFinePoints) {
    map.Put(p.x, p.y, bmptest::ElevationColour(p.elevation));
  }
  return map.Close();
}

void OrogridE2E::FlyOverFinePoints() {
  for (const FinePoint& p : kFinePoints) {
    SCOPED_TRACE(p.x);
    MoveTo(p.latitude, p.longitude);
    const std::int32_t id = p.x * 10000 + p.y;
    ASSERT_TRUE(WaitForCentreOf(id, 60000)) << "never centred on " << id;
    // That sweep may have begun at the last point: one more, all here.
    ASSERT_TRUE(WaitForCount(ReadVolatile(m_rec->updateCount) + 12, 30000));
    EXPECT_EQ(id, ReadVolatile(m_rec->aircraftCellId));
    EXPECT_EQ(p.x, ReadVolatile(m_rec->aircraftPixelX));
    EXPECT_EQ(p.y, ReadVolatile(m_rec->aircraftPixelY));
    // The grids are centred on the aircraft at the map's edges too.
    EXPECT_EQ(p.elevation, ReadVolatile(m_rec->coarseGrid[75][75].elevation));
    EXPECT_EQ(p.elevation, ReadVolatile(m_rec->fineGrid[8][8][1][1].elevation));
    EXPECT_EQ(p.elevation, ReadVolatile(m_rec->aircraftElevation));
  }
}

// --- Flights around the globe ----------------------------------------------

// A world map of known 8 x 8 pixel blocks, none as high as 4000 m, written
// where flights need it: everywhere at 12 pixels per degree, in squares
// around each place (and its image across the pole) at 120, the rest of
// which is a hole in the file that reads as 0 m.
class GlobeMap {
 public:
  static constexpr int kBlock = 8;
  static constexpr int kReach =
      80;  // half the side of a written square: the window and a neighbour
  static constexpr int kCeiling = 4000;

  explicit GlobeMap(int pixelsPerDegree)
      : m_ppd(pixelsPerDegree), m_width(360 * pixelsPerDegree), m_height(180 * pixelsPerDegree) {}
  int Ppd() const { return m_ppd; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }
  bool Sparse() const { return m_ppd > 12; }

  static int BlockElevation(int x, int y) {
    return 100 + ((x / kBlock) * 37 + (y / kBlock) * 101) % 3800;
  }
  // The square around pixel (x, y) is written (on a sparse map).
  void Around(int x, int y) {
    m_squares.push_back({x, y});
    m_squares.push_back({(x + m_width / 2) % m_width, y});
  }
  int Elevation(int x, int y) const {
    if (!Sparse()) {
      return BlockElevation(x, y);
    }
    for (const auto& q : m_squares) {
      const int dx = std::abs(x - q[0]);
      if (std::min(dx, m_width - dx) <= kReach && std::abs(y - q[1]) <= kReach) {
        return BlockElevation(x, y);
      }
    }
    return 0;
  }
  bool Write(const std::string& path) const {
    bmptest::SparseMap map(path, m_width, m_height);
    std::vector<std::uint32_t> run(static_cast<std::size_t>(m_width));
    const auto put = [&](int x0, int y, int count) {
      for (int k = 0; k < count; ++k) {
        run[static_cast<std::size_t>(k)] = bmptest::ElevationColour(BlockElevation(x0 + k, y));
      }
      map.PutRun(x0, y, run.data(), count);
    };
    if (!Sparse()) {
      for (int y = 0; y < m_height; ++y) {
        put(0, y, m_width);
      }
      return map.Close();
    }
    for (const auto& q : m_squares) {
      for (int y = std::max(0, q[1] - kReach); y <= std::min(m_height - 1, q[1] + kReach); ++y) {
        const int x0 = (q[0] - kReach + m_width) % m_width;
        const int first = std::min(2 * kReach + 1, m_width - x0);
        put(x0, y, first);
        if (first < 2 * kReach + 1) {
          put(0, y, 2 * kReach + 1 - first);
        }
      }
    }
    return map.Close();
  }

  // The pixel that (x, y) stands for past an edge, at `per` cells per pixel
  // (3: sub-cells): columns wrap, rows past a pole come down the other side
  // of the globe half a turn away. Sets the pixel and the sub-cell in it.
  void OnGlobe(long long ux, long long uy, int per, int& x, int& y, int& s, int& t) const {
    const long long w = static_cast<long long>(m_width) * per;
    const long long h = static_cast<long long>(m_height) * per;
    const bool over = uy < 0 || uy >= h;
    uy = uy < 0 ? -1 - uy : (uy >= h ? 2 * h - 1 - uy : uy);
    ux = ((over ? ux + w / 2 : ux) % w + w) % w;
    x = static_cast<int>(ux / per);
    y = static_cast<int>(uy / per);
    s = static_cast<int>(ux % per);
    t = static_cast<int>(uy % per);
  }
  // The neighbour (dx east, dy south) of pixel (x, y) on the globe: north of
  // row 0 and south of the last row is the same row half a turn away.
  void Neighbour(int x, int y, int dx, int dy, int& nx, int& ny) const {
    ny = y + dy;
    nx = x + dx;
    if (ny < 0 || ny >= m_height) {
      ny = y;
      nx += m_width / 2;
    }
    nx = (nx % m_width + m_width) % m_width;
  }
  // The refined sub-point (s, t) of pixel (x, y): its own elevation at the
  // centre, else the mean of the mid-points towards the three neighbours
  // of that side or corner, truncated; 0 m stays 0 m.
  int SubElevation(int x, int y, int s, int t) const {
    const int e = Elevation(x, y);
    if ((s == 1 && t == 1) || e == 0) {
      return e;
    }
    static const int kSides[3][3][3][2] = {
        // [s][t]: the three neighbours (dx, dy)
        {{{-1, -1}, {0, -1}, {-1, 0}}, {{-1, -1}, {-1, 0}, {-1, 1}}, {{-1, 0}, {-1, 1}, {0, 1}}},
        {{{-1, -1}, {0, -1}, {1, -1}}, {{0, 0}, {0, 0}, {0, 0}}, {{-1, 1}, {0, 1}, {1, 1}}},
        {{{0, -1}, {1, -1}, {1, 0}}, {{1, -1}, {1, 0}, {1, 1}}, {{1, 0}, {1, 1}, {0, 1}}},
    };
    double sum = 0.0;
    for (const auto& d : kSides[s][t]) {
      int nx = 0;
      int ny = 0;
      Neighbour(x, y, d[0], d[1], nx, ny);
      sum += (Elevation(nx, ny) + static_cast<double>(e)) / 2.0;
    }
    return static_cast<int>(sum / 3.0);
  }

 private:
  int m_ppd;
  int m_width;
  int m_height;
  std::vector<std::array<int, 2>> m_squares;
};

struct GlobeCounts {
  int places = 0;
  int ticks = 0;
  long long gridPoints = 0;
  int lookups = 0;
  int publications = 0;
};

// A client handle on TrnShmSpace, closed at the end.
struct ClientHandle {
  orogrid_client* c = nullptr;
  ~ClientHandle() { orogrid_close(c); }
};

// Every point of a snapshot against the pixel it names: coarse points carry
// that pixel's identifier (the record's formula, 32 bits), elevation and
// pixel; fine cells their coarse point's identifier and pixel, and, when
// the window was centred on `centre` while the fine grid's columns were
// taken, each sub-point the value refined from the pixel's neighbours on the
// globe. Nothing is as high as the map's ceiling. True when centred.
bool CheckSnapshot(const GlobeMap& map, const orogrid_snapshot& s, int cx, int cy,
                   GlobeCounts& counts) {
  // One failure per snapshot names the first wrong point and how many were.
  long long wrong = 0;
  std::string first;
  const auto check = [&](bool ok, const char* what, int i, int j, int got, int expected) {
    if (!ok && wrong++ == 0) {
      first = std::string(what) + " at " + std::to_string(i) + "," + std::to_string(j) + ": " +
              std::to_string(got) + ", expected " + std::to_string(expected);
    }
  };
  bool centred = true;
  for (int i = 0; i < OROGRID_COARSE_SIZE; ++i) {
    for (int j = 0; j < OROGRID_COARSE_SIZE; ++j) {
      const orogrid_point& p = s.coarse[i][j];
      const long long column =
          std::llround((p.longitude + 180.0) * map.Ppd()) % static_cast<long long>(map.Width());
      const long long row = std::llround((90.0 - p.latitude) * map.Ppd());
      const bool onMap = column >= 0 && row >= 0 && row < map.Height();
      check(onMap, "coarse row off the map", i, j, static_cast<int>(row), 0);
      const int x = onMap ? static_cast<int>(column) : 0;
      const int y = onMap ? static_cast<int>(row) : 0;
      const auto id = static_cast<std::int32_t>(static_cast<std::uint32_t>(x) * 10000u +
                                                static_cast<std::uint32_t>(y));
      check(p.cell_id == id, "coarse cell id", i, j, p.cell_id, id);
      check(p.elevation == map.Elevation(x, y), "coarse elevation", i, j, p.elevation,
            map.Elevation(x, y));
      check(p.elevation < GlobeMap::kCeiling, "coarse elevation over the ceiling", i, j,
            p.elevation, GlobeMap::kCeiling);
      check(s.coarse_pixel[i][j].column == x && s.coarse_pixel[i][j].row == y,
            "coarse pixel column", i, j, s.coarse_pixel[i][j].column, x);
      if (i >= 66 && i <= 84 && j >= 66 && j <= 84) {
        int ex = 0;
        int ey = 0;
        int es = 0;
        int et = 0;
        map.OnGlobe(cx - 75 + i, cy - 75 + j, 1, ex, ey, es, et);
        centred = centred && ex == x && ey == y;
      }
      ++counts.gridPoints;
    }
  }
  for (int a = 0; a < OROGRID_FINE_SIZE; ++a) {
    for (int b = 0; b < OROGRID_FINE_SIZE; ++b) {
      const orogrid_pixel pixel = s.coarse_pixel[67 + a][67 + b];
      check(s.fine_pixel[a][b].column == pixel.column && s.fine_pixel[a][b].row == pixel.row,
            "fine pixel column", a, b, s.fine_pixel[a][b].column, pixel.column);
      for (int si = 0; si < 3; ++si) {
        for (int ti = 0; ti < 3; ++ti) {
          const orogrid_point& p = s.fine[a][b][si][ti];
          check(p.cell_id == s.coarse[67 + a][67 + b].cell_id, "fine cell id", a, b, p.cell_id,
                s.coarse[67 + a][67 + b].cell_id);
          check(p.elevation < GlobeMap::kCeiling, "fine elevation over the ceiling", a, b,
                p.elevation, GlobeMap::kCeiling);
          if (centred) {
            const int expected = map.SubElevation(pixel.column, pixel.row, si, ti);
            check(p.elevation == expected, "fine elevation", a, b, p.elevation, expected);
          }
          ++counts.gridPoints;
        }
      }
    }
  }
  EXPECT_EQ(wrong, 0) << "first: " << first;
  return centred;
}

// Nearest and bilinear lookups around pixel (x, y) and across every seam
// it touches, against the refined values of the pixels on the globe.
void CheckLookups(const GlobeMap& map, const orogrid_snapshot& s, int x, int y,
                  GlobeCounts& counts) {
  std::vector<std::array<double, 2>> probes;  // latitude, longitude
  const auto at = [&](int px, int py, double fx, double fy) {
    probes.push_back({90.0 - (py + fy) / map.Ppd(), (px + fx) / map.Ppd() - 180.0});
  };
  const int steps[5][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}};
  for (const auto& d : steps) {
    int nx = 0;
    int ny = 0;
    map.Neighbour(x, y, d[0], d[1], nx, ny);
    at(nx, ny, 0.5, 0.5);
    at(nx, ny, 0.95, 0.95);
    at(nx, ny, 0.02, 0.6);
  }
  const double lat = 90.0 - (y + 0.5) / map.Ppd();
  const double lon = (x + 0.5) / map.Ppd() - 180.0;
  if (x == 0 || x == map.Width() - 1) {
    probes.push_back({lat, 180.0});
    probes.push_back({lat, -180.0});
  }
  if (y == 0) {
    probes.push_back({90.0, lon});
  }
  if (y == map.Height() - 1) {
    probes.push_back({-90.0, lon});
  }
  for (const auto& p : probes) {
    SCOPED_TRACE(testing::Message() << "lookup at " << p[0] << ", " << p[1]);
    const double fx = (p[1] + 180.0) * map.Ppd() * 3.0;
    const double fy = (90.0 - p[0]) * map.Ppd() * 3.0;
    const long long ux = static_cast<long long>(std::floor(fx));
    const long long uy = static_cast<long long>(std::floor(fy));
    const auto value = [&](long long vx, long long vy) {
      int px = 0;
      int py = 0;
      int ps = 0;
      int pt = 0;
      map.OnGlobe(vx, vy, 3, px, py, ps, pt);
      return static_cast<double>(map.SubElevation(px, py, ps, pt));
    };
    double metres = 0.0;
    int grid = 0;
    ASSERT_EQ(orogrid_snapshot_elevation(&s, sizeof s, p[0], p[1], OROGRID_NEAREST, &metres, &grid),
              OROGRID_OK);
    EXPECT_EQ(grid, OROGRID_GRID_FINE);
    EXPECT_EQ(metres, value(ux, uy));
    const double u = fx - static_cast<double>(ux);
    const double v = fy - static_cast<double>(uy);
    const double expected = (1.0 - u) * (1.0 - v) * value(ux, uy) +
                            u * (1.0 - v) * value(ux + 1, uy) + (1.0 - u) * v * value(ux, uy + 1) +
                            u * v * value(ux + 1, uy + 1);
    ASSERT_EQ(
        orogrid_snapshot_elevation(&s, sizeof s, p[0], p[1], OROGRID_BILINEAR, &metres, nullptr),
        OROGRID_OK);
    EXPECT_NEAR(metres, expected, 1e-6);
    EXPECT_LT(metres, GlobeMap::kCeiling);
    counts.lookups += 2;
  }
}

// The places flown, as pixels: Fiji's latitude (17 S) from 179.5 E across the
// antimeridian to 179.5 W; the north-west corner (the north and west edges)
// and across the north pole; the south-east corner (the south and east
// edges) and across the south pole.
std::vector<std::array<int, 2>> GlobePlaces(const GlobeMap& map) {
  const int k = map.Ppd();
  const int w = map.Width();
  const int h = map.Height();
  const int fiji = 107 * k;
  return {{359 * k + k / 2, fiji}, {w - 1, fiji},     {0, fiji}, {k / 2, fiji}, {0, 0}, {w / 2, 0},
          {w - 1, h - 1},          {w / 2 - 1, h - 1}};
}

// Flies the places on the served map. At each the aircraft waits for grids
// centred on it, then every tick until it moves on checks the elevation the
// server reports under it against its own pixel (a new sub-cell each tick),
// and each publication every grid point and the client's lookups.
void FlyAroundTheGlobe(CSimulationThread& sim, const GlobeMap& map, GlobeCounts& counts) {
  ClientHandle client;
  ASSERT_EQ(orogrid_open(nullptr, 0, &client.c), OROGRID_OK);
  auto snapshot = std::make_unique<orogrid_snapshot>();
  const auto position = [&](int x, int y, int s, int t) {
    ASSERT_EQ(OROGRID_OK, sim.Write(90.0 - (y + (t + 0.5) / 3.0) / map.Ppd(),
                                    (x + (s + 0.5) / 3.0) / map.Ppd() - 180.0, 45.0));
  };
  // Sub-cells visited on the ticks after a publication.
  const int subs[][2] = {{1, 1}, {0, 0}, {2, 2}, {2, 0}};
  for (const auto& place : GlobePlaces(map)) {
    const int x = place[0];
    const int y = place[1];
    SCOPED_TRACE(testing::Message() << "over pixel " << x << "," << y);
    position(x, y, 1, 1);
    ++counts.places;
    bool centred = false;
    for (int tries = 0; tries < 4 && !centred; ++tries) {
      ASSERT_EQ(orogrid_wait_publication(client.c, 10000), OROGRID_OK)
          << orogrid_last_error(client.c);
      // A copy that found the server writing for its whole bound (a loaded
      // machine) answers UNSETTLED: ask again.
      int taken = OROGRID_E_UNSETTLED;
      for (int again = 0; again < 50 && taken == OROGRID_E_UNSETTLED; ++again) {
        taken = orogrid_snapshot_take(client.c, snapshot.get(), sizeof *snapshot);
      }
      ASSERT_EQ(taken, OROGRID_OK) << orogrid_last_error(client.c);
      ++counts.publications;
      centred = CheckSnapshot(map, *snapshot, x, y, counts);
    }
    ASSERT_TRUE(centred) << "the grids never centred on the aircraft";
    CheckLookups(map, *snapshot, x, y, counts);
    // This tick and the next three, each at another sub-cell of the pixel;
    // then on, early enough for the next grids to be taken around the next
    // place.
    const std::int32_t published = snapshot->aircraft.update_count;
    std::int32_t seen = published - 1;
    for (int k = 0; k < 4; ++k) {
      orogrid_aircraft a{};
      const long long end = NowMs() + 5000;
      do {
        const int read = orogrid_aircraft_read(client.c, &a, sizeof a);
        if (read == OROGRID_E_UNSETTLED) {
          a.update_count = seen;  // caught mid-write: look again
          continue;
        }
        ASSERT_EQ(read, OROGRID_OK) << orogrid_last_error(client.c);
        if (a.update_count == seen) {
          SleepMs(3);
        }
      } while (a.update_count == seen && NowMs() < end);
      ASSERT_NE(a.update_count, seen) << "the server stopped ticking";
      seen = a.update_count;
      if (a.update_count - published >= 11) {
        break;  // a slow tick: another publication may have come
      }
      EXPECT_EQ(a.pixel_x % map.Width(), x);
      EXPECT_EQ(a.pixel_y, y);
      EXPECT_EQ(a.elevation, map.SubElevation(x, y, a.sub_x, a.sub_y))
          << "tick " << a.update_count << " sub-cell " << a.sub_x << "," << a.sub_y;
      EXPECT_LT(a.elevation, GlobeMap::kCeiling);
      ++counts.ticks;
      if (k + 1 < 4) {
        position(x, y, subs[k + 1][0], subs[k + 1][1]);
      }
    }
  }
}

// Flights across the antimeridian, over both poles and along the map's
// edges, on a 4320 x 2160 map and on a sparse 43200 x 21600 one. Before, the
// grids ran off the east and south edges (15745 m of phantom terrain) and
// stopped at the west and north ones (another place under the aircraft).
TEST_F(OrogridE2E, FlightsAroundTheGlobeSeeOnlyTheMap) {
  const long long start = NowMs();
  for (const int ppd : {12, 120}) {
    SCOPED_TRACE(testing::Message() << ppd << " pixels per degree");
    const long long mapStart = NowMs();
    GlobeMap map(ppd);
    for (const auto& place : GlobePlaces(map)) {
      map.Around(place[0], place[1]);
    }
    // Start-up takes the first band around 0 N 0 E.
    MoveTo(90.0 - (GlobePlaces(map)[0][1] + 0.5) / ppd,
           (GlobePlaces(map)[0][0] + 0.5) / ppd - 180.0);
    GlobeCounts counts;
    {
      e2e::ServerProcess server;
      std::string reason;
      ASSERT_TRUE(
          server.StartWithMap([&](const std::string& path) { return map.Write(path); }, &reason))
          << reason;
      ASSERT_TRUE(WaitForStartUp(60000)) << server.Output();
      FlyAroundTheGlobe(m_sim, map, counts);
      ASSERT_TRUE(server.Close());
      EXPECT_EQ(0, server.Wait(30000)) << server.Output();
    }
    std::printf(
        "[ globe    ] %d x %d: %d places, %d ticks, %d publications, %lld grid points, "
        "%d lookups checked in %.1f s\n",
        map.Width(), map.Height(), counts.places, counts.ticks, counts.publications,
        counts.gridPoints, counts.lookups, (NowMs() - mapStart) / 1000.0);
    std::fflush(stdout);  // before the next server's start copies the buffer
    EXPECT_EQ(counts.places, 8);
    EXPECT_GE(counts.ticks, 8 * 2);
  }
  std::printf("[ globe    ] both maps in %.1f s\n", (NowMs() - start) / 1000.0);
  std::fflush(stdout);
}

TEST_F(OrogridE2E, ServesTheSimulationAndEndsAfterItIsLost) {
  e2e::ServerProcess server;
  std::string reason;
  ASSERT_TRUE(server.Start(testmap::Bytes(), true, &reason)) << reason;
  ASSERT_TRUE(WaitForStartUp(60000)) << server.Output();

  const std::int32_t dims[10] = {
      ReadVolatile(m_rec->coarseSizeX),   ReadVolatile(m_rec->coarseSizeY),
      ReadVolatile(m_rec->fineSizeX),     ReadVolatile(m_rec->fineSizeY),
      ReadVolatile(m_rec->subDivX),       ReadVolatile(m_rec->subDivY),
      ReadVolatile(m_rec->fineCentreX),   ReadVolatile(m_rec->fineCentreY),
      ReadVolatile(m_rec->coarseCentreX), ReadVolatile(m_rec->coarseCentreY)};
  const std::int32_t expected[10] = {150, 150, 17, 17, 3, 3, 8, 8, 75, 75};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(expected[i], dims[i]) << "grid field " << i;
  }

  // About 8 ticks a second, never a burst: at most one tick per 120 ms.
  ASSERT_TRUE(WaitForCount(1, 30000));
  const std::int32_t u0 = ReadVolatile(m_rec->updateCount);
  const long long t0 = NowMs();
  SleepMs(3000);
  const std::int32_t u1 = ReadVolatile(m_rec->updateCount);
  const double perSecond = (u1 - u0) * 1000.0 / static_cast<double>(NowMs() - t0);
  EXPECT_GE(perSecond, 1.5);
  EXPECT_LE(perSecond, 9.0);

  // Two whole cycles at rest: the grids are all around the aircraft.
  ASSERT_TRUE(WaitForCount(25, 60000));
  const int elevation = testmap::Elevation(kPixelX, kPixelY);
  EXPECT_EQ(elevation, ReadVolatile(m_rec->aircraftElevation));
  EXPECT_EQ(kPixelX, ReadVolatile(m_rec->aircraftPixelX));
  EXPECT_EQ(kPixelY, ReadVolatile(m_rec->aircraftPixelY));
  EXPECT_EQ(kPixelX * 10000 + kPixelY, ReadVolatile(m_rec->aircraftCellId));
  EXPECT_EQ(1, ReadVolatile(m_rec->aircraftSubX));
  EXPECT_EQ(1, ReadVolatile(m_rec->aircraftSubY));
  EXPECT_EQ(elevation, ReadVolatile(m_rec->coarseGrid[75][75].elevation));
  EXPECT_EQ(testmap::Elevation(kPixelX - 20, kPixelY + 30),
            ReadVolatile(m_rec->coarseGrid[55][105].elevation));
  EXPECT_EQ(elevation, ReadVolatile(m_rec->fineGrid[8][8][1][1].elevation));
  EXPECT_GT(ReadVolatile(m_rec->pixelsPerMetre), 0.0);
  EXPECT_LE(ReadVolatile(m_rec->pixelsPerMetre), 1.0);
  std::string line;
  EXPECT_TRUE(server.WaitForStatus(2, "Running", 20000, &line)) << server.Output();

  // Grid publications come every 11 ticks: fly east a pixel at a time and
  // note the tick count whenever the published grid changes.
  std::vector<std::int32_t> publications;
  std::int32_t lastId = ReadVolatile(m_rec->coarseGrid[75][75].cellId);
  double longitude = kLongitude;
  const long long flightEnd = NowMs() + 6000;
  long long nextMove = NowMs();
  while (NowMs() < flightEnd) {
    if (NowMs() >= nextMove) {
      longitude += 1.0;
      MoveTo(kLatitude, longitude);
      nextMove += 200;
    }
    const std::int32_t id = ReadVolatile(m_rec->coarseGrid[75][75].cellId);
    if (id != lastId) {
      publications.push_back(ReadVolatile(m_rec->updateCount));
      lastId = id;
    }
    SleepMs(5);
  }
  ASSERT_GE(publications.size(), 2u);
  for (std::size_t i = 1; i < publications.size(); ++i) {
    const int apart = publications[i] - publications[i - 1];
    EXPECT_LE((apart + 1) % 11, 2) << "publications " << apart << " ticks apart";
    EXPECT_GE(apart, 10);
  }

  // The simulation goes: the server counts down and ends by itself.
  ASSERT_EQ(OROGRID_OK, m_sim.SetState(trn::kSimulationLost));
  const std::int32_t atLoss = ReadVolatile(m_rec->updateCount);
  EXPECT_TRUE(server.WaitForStatus(2, "Simulation lost -> preparing to shut down 9", 30000, &line))
      << server.Output();
  EXPECT_EQ(0, server.Wait(120000)) << server.Output();
  const int ticks = ReadVolatile(m_rec->updateCount) - atLoss;
  EXPECT_GE(ticks, 110);
  EXPECT_LE(ticks, 122);
  EXPECT_EQ(1, TrnUserCount(m_rec));
}

TEST_F(OrogridE2E, CloseEndsCleanlyAndGivesBackTheCount) {
  e2e::ServerProcess server;
  std::string reason;
  ASSERT_TRUE(server.Start(testmap::Bytes(), true, &reason)) << reason;
  ASSERT_TRUE(WaitForStartUp(60000)) << server.Output();
  ASSERT_TRUE(WaitForCount(3, 30000));
  ASSERT_TRUE(server.Close());
  EXPECT_EQ(0, server.Wait(30000)) << server.Output();
  EXPECT_EQ(1, TrnUserCount(m_rec));
  const std::int32_t after = ReadVolatile(m_rec->updateCount);
  SleepMs(400);
  EXPECT_EQ(after, ReadVolatile(m_rec->updateCount));
}

TEST_F(OrogridE2E, MissingMapShowsTheReason) {
  e2e::ServerProcess server;
  std::string reason;
  ASSERT_TRUE(server.Start({}, false, &reason)) << reason;
  std::string line;
  ASSERT_TRUE(server.WaitForStatus(1, "Sorry :: ", 60000, &line)) << server.Output();
  EXPECT_NE(std::string::npos, line.find("KtTerrainMap.bmp")) << line;
  EXPECT_NE(std::string::npos, line.find("::LoadPicture")) << line;
  // Idle: the record is counted but not served.
  EXPECT_EQ(2, TrnUserCount(m_rec));
  EXPECT_EQ(0, ReadVolatile(m_rec->coarseSizeX));
  ASSERT_TRUE(server.Close());
  EXPECT_EQ(0, server.Wait(30000)) << server.Output();
  EXPECT_EQ(1, TrnUserCount(m_rec));
}

// A reader of the output that stops reading (its pipe full) must cost
// status lines only: the ticks go on and a Close still ends the server.
TEST_F(OrogridE2E, StalledOutputReaderNeitherStopsTicksNorClose) {
  if (!e2e::ServerProcess::OutputPipeSupported()) {
    GTEST_SKIP() << "the program has no standard output here";
  }
  e2e::ServerProcess server;
  std::string reason;
  ASSERT_TRUE(server.Start(testmap::Bytes(), true, &reason, true)) << reason;
  ASSERT_TRUE(WaitForStartUp(60000)) << server.Output();
  ASSERT_TRUE(WaitForCount(3, 30000));
  ASSERT_TRUE(server.StopReadingOutput());
  Fly(2000);  // line 1 is due and finds the pipe full
  const std::int32_t u0 = ReadVolatile(m_rec->updateCount);
  Fly(2000);
  EXPECT_GE(ReadVolatile(m_rec->updateCount) - u0, 4) << "ticks stopped while the pipe was full";
  ASSERT_TRUE(server.Close());
  EXPECT_EQ(0, server.Wait(5000)) << server.Output();
  EXPECT_EQ(1, TrnUserCount(m_rec));
}

// A reader of the output that goes away must not take the server with it
// before it leaves the segment: it serves on and ends cleanly when the
// simulation is lost.
TEST_F(OrogridE2E, VanishedOutputReaderStillGivesBackTheCount) {
  if (!e2e::ServerProcess::OutputPipeSupported()) {
    GTEST_SKIP() << "the program has no standard output here";
  }
  e2e::ServerProcess server;
  std::string reason;
  ASSERT_TRUE(server.Start(testmap::Bytes(), true, &reason, true)) << reason;
  ASSERT_TRUE(WaitForStartUp(60000)) << server.Output();
  ASSERT_TRUE(WaitForCount(3, 30000));
  ASSERT_TRUE(server.CloseOutputReader());
  const std::int32_t u0 = ReadVolatile(m_rec->updateCount);
  Fly(2000);  // line 1 is written to a pipe without a reader
  EXPECT_TRUE(server.Running()) << "the server ended with status " << server.Wait(0);
  EXPECT_GT(ReadVolatile(m_rec->updateCount), u0);
  ASSERT_EQ(OROGRID_OK, m_sim.SetState(trn::kSimulationLost));
  EXPECT_EQ(0, server.Wait(60000));
  EXPECT_EQ(1, TrnUserCount(m_rec));
}

// The installed map at 120 pixels per degree: served in place on Linux and
// (under Wine) on Windows.
TEST_F(OrogridE2E, ServesAFineInstalledMap) {
  e2e::ServerProcess server;
  std::string reason;
  ASSERT_TRUE(server.StartWithMap(WriteFineMap, &reason)) << reason;
  ASSERT_TRUE(WaitForStartUp(60000)) << server.Output();
  FlyOverFinePoints();
  ASSERT_TRUE(server.Close());
  EXPECT_EQ(0, server.Wait(30000)) << server.Output();
  EXPECT_EQ(1, TrnUserCount(m_rec));
}

// `orogrid --map FILE` serves that map; the installed one is not needed.
TEST_F(OrogridE2E, MapOptionServesAnotherMap) {
  if (!e2e::ServerProcess::ArgumentsSupported()) {
    GTEST_SKIP() << "the Windows program takes no arguments";
  }
  const auto dir = bmptest::ScratchDir("e2e-map");
  const std::string path = (dir / "fine map.bmp").string();
  ASSERT_TRUE(WriteFineMap(path));
  {
    e2e::ServerProcess server;
    std::string reason;
    ASSERT_TRUE(server.StartWithArguments({"--map", path}, &reason)) << reason;
    ASSERT_TRUE(WaitForStartUp(60000)) << server.Output();
    FlyOverFinePoints();
    ASSERT_TRUE(server.Close());
    EXPECT_EQ(0, server.Wait(30000)) << server.Output();
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

// A map file cut short, or written to in place at the same length, on disk
// while it is served: the server says so on status line 1, stops publishing
// (the record keeps the last grids) and still ends cleanly. Linux only:
// Windows can neither shorten a mapped file nor open it for writing while
// the server has it.
TEST_F(OrogridE2E, MapChangedOnDiskWhileServedIsReported) {
  if (!e2e::ServerProcess::ArgumentsSupported()) {
    GTEST_SKIP() << "the system cannot change a mapped file";
  }
  struct Case {
    const char* what;
    bool cut;
    const char* reason;
  } cases[] = {
      {"cut short", true, "cut short"},
      {"written in place at the same length", false, "changed on disk"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto dir = bmptest::ScratchDir("e2e-cut");
    const std::string path = (dir / "cut.bmp").string();
    ASSERT_TRUE(WriteFineMap(path));
    {
      e2e::ServerProcess server;
      std::string reason;
      ASSERT_TRUE(server.StartWithArguments({"--map", path}, &reason)) << reason;
      ASSERT_TRUE(WaitForStartUp(60000)) << server.Output();
      const FinePoint& p = kFinePoints[2];
      MoveTo(p.latitude, p.longitude);
      ASSERT_TRUE(WaitForCentreOf(p.x * 10000 + p.y, 60000));
      if (c.cut) {
        std::filesystem::resize_file(path, 4096);
      } else {
        std::FILE* file = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(file, nullptr);
        const unsigned char bytes[3] = {0x11, 0x22, 0x33};
        EXPECT_EQ(std::fseek(file, 1000000, SEEK_SET), 0);
        EXPECT_EQ(std::fwrite(bytes, 1, sizeof bytes, file), sizeof bytes);
        EXPECT_EQ(std::fclose(file), 0);
      }
      std::string line;
      EXPECT_TRUE(server.WaitForStatus(1, "Sorry :: ", 30000, &line)) << server.Output();
      EXPECT_NE(std::string::npos, line.find(c.reason)) << line;
      const std::int32_t count = ReadVolatile(m_rec->updateCount);
      SleepMs(1500);
      EXPECT_EQ(count, ReadVolatile(m_rec->updateCount));
      EXPECT_EQ(p.elevation, ReadVolatile(m_rec->coarseGrid[75][75].elevation));
      EXPECT_TRUE(server.Running());
      ASSERT_TRUE(server.Close());
      EXPECT_EQ(0, server.Wait(30000)) << server.Output();
    }
    EXPECT_EQ(1, TrnUserCount(m_rec));
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
}

// Regression: another process that cut the companion short (ftruncate)
// killed the server with a bus error at its next tick. It says so on line
// 1, stops serving (its count and holds given back) and still ends cleanly.
// Linux only: a Windows mapping cannot be cut.
TEST_F(OrogridE2E, CompanionCutShortWhileServedIsReported) {
  e2e::ServerProcess server;
  std::string reason;
  ASSERT_TRUE(server.Start(testmap::Bytes(), true, &reason)) << reason;
  ASSERT_TRUE(WaitForStartUp(60000)) << server.Output();
  ASSERT_TRUE(WaitForCount(3, 30000));
  if (!testsupport::ShmCutForTest("TrnShmSpace.Seq", 0)) {
    ASSERT_TRUE(server.Close());
    EXPECT_EQ(0, server.Wait(30000)) << server.Output();
    GTEST_SKIP() << "a mapping cannot be cut short here";
  }
  std::string line;
  EXPECT_TRUE(server.WaitForStatus(1, "Sorry :: ", 30000, &line)) << server.Output();
  EXPECT_NE(std::string::npos, line.find("TrnShmSpace.Seq was cut short")) << line;
  EXPECT_TRUE(WaitFor([&] { return TrnUserCount(m_rec) == 1; }, 10000, 20));
  const std::int32_t count = ReadVolatile(m_rec->updateCount);
  SleepMs(600);
  EXPECT_EQ(count, ReadVolatile(m_rec->updateCount)) << "no more ticks are served";
  EXPECT_TRUE(server.Running());
  ASSERT_TRUE(server.Close());
  EXPECT_EQ(0, server.Wait(30000)) << server.Output();
}

// Tried as a new user would: a second orogrid beside a running one. It
// must say who serves the record and leave the record alone (both used to
// publish into it); the first serves on and ends as usual.
TEST_F(OrogridE2E, SecondServerIsRefusedAndLeavesTheRecordAlone) {
  e2e::ServerProcess first;
  std::string reason;
  ASSERT_TRUE(first.Start(testmap::Bytes(), true, &reason)) << reason;
  ASSERT_TRUE(WaitForStartUp(60000)) << first.Output();
  CompanionView companion;
  const std::uint32_t firstId = companion.WaitForServer(30000);
  ASSERT_NE(0u, firstId) << companion.GetErrorText();
  EXPECT_EQ(120u, ReadVolatile(companion.Seq()->tickPeriodMillis));
  EXPECT_EQ(testmap::kWidth, ReadVolatile(companion.Seq()->mapWidth));
  ASSERT_TRUE(WaitForCount(3, 30000));

  e2e::ServerProcess second;
  ASSERT_TRUE(second.Start(testmap::Bytes(), true, &reason)) << reason;
  std::string line;
  ASSERT_TRUE(second.WaitForStatus(1, "Sorry :: ", 60000, &line)) << second.Output();
  EXPECT_EQ("Sorry :: TrnShmSpace is already served by process " + std::to_string(firstId), line);
  // Never attached: the count is the simulation's and the first server's,
  // and the update count was never reset by a second start-up.
  const std::int32_t atRefusal = ReadVolatile(m_rec->updateCount);
  EXPECT_EQ(2, TrnUserCount(m_rec));
  EXPECT_GE(atRefusal, 3);
  const std::uint64_t publications = ReadVolatile(companion.Seq()->publicationCount);
  ASSERT_TRUE(WaitForCount(atRefusal + 23, 60000));
  EXPECT_EQ(2, TrnUserCount(m_rec));
  EXPECT_EQ(firstId, ReadVolatile(companion.Seq()->serverProcessId));
  // One writer: two publications in 23 ticks, as one server makes them.
  const std::uint64_t more = ReadVolatile(companion.Seq()->publicationCount) - publications;
  EXPECT_GE(more, 2u);
  EXPECT_LE(more, 3u);
  EXPECT_TRUE(second.Running());

  ASSERT_TRUE(second.Close());
  EXPECT_EQ(0, second.Wait(30000)) << second.Output();
  ASSERT_TRUE(first.Close());
  EXPECT_EQ(0, first.Wait(30000)) << first.Output();
  EXPECT_EQ(1, TrnUserCount(m_rec));
}
}  // namespace
