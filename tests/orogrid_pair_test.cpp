// The server and the simulation stand-in together: the built orogrid program
// with a test map, orogrid-sim flying a short route over it on the real
// "TrnShmSpace" segment (so this runs one at a time), and this test watching
// the record as a reader that never counts itself in userCount. Timing is
// never asserted: the checks follow the record's updateCount.
//
// Threading: the test's main thread; the two programs run beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/shared_memory.h"
#include "shm/CTrnShm.h"
#include "shm/TrnSimShm.h"
#include "tests/orogrid_test_map.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TrnReader.h"
#include "tests/support/process.h"
#include "tests/support/server_process.h"

namespace {

using testsupport::NowMs;
using testsupport::ReadVolatile;
using testsupport::SleepMs;

// The route runs east along latitude 0.5 (row 89, sub-row 1: a great circle
// this close to the equator stays in that sub-row) from the centre of
// column 140 to the centre of column 154, one degree a pixel on the test map.
constexpr int kRow = 89;
constexpr int kFirstColumn = 140;
constexpr int kLastColumn = 154;
const char kRoute[] = "# orogrid_pair_test\n0.5 -39.5\n0.5 -25.5\n";

// A grid sweep takes 11 ticks; after 23 ticks at one pixel both grids and
// the elevation under the aircraft come from that pixel alone.
constexpr int kCycleTicks = 11;
constexpr int kSettleTicks = 2 * kCycleTicks + 1;

struct Sample {
  std::int32_t count;
  int pixelX, pixelY, subX, subY, cellId, elevation;
  int centreId, centreElevation;  // coarse point (75, 75)
};

int CellIdOf(int column, int row) { return column * 10000 + row; }

int ElevationOfCell(int cellId) { return testmap::Elevation(cellId / 10000, cellId % 10000); }

// Reads one tick's publication, once the server is done writing it (the
// count goes up before the other fields); false when a tick passed meanwhile.
bool TakeSample(const TrnShmData& rec, std::int32_t count, Sample* s) {
  SleepMs(15);
  s->count = count;
  s->pixelX = ReadVolatile(rec.aircraftPixelX);
  s->pixelY = ReadVolatile(rec.aircraftPixelY);
  s->subX = ReadVolatile(rec.aircraftSubX);
  s->subY = ReadVolatile(rec.aircraftSubY);
  s->cellId = ReadVolatile(rec.aircraftCellId);
  s->elevation = ReadVolatile(rec.aircraftElevation);
  s->centreId = ReadVolatile(rec.coarseGrid[75][75].cellId);
  s->centreElevation = ReadVolatile(rec.coarseGrid[75][75].elevation);
  return ReadVolatile(rec.updateCount) == count;
}

// Everything around the aircraft, held over the last waypoint long enough
// for both grids to come from its pixel.
void ExpectGridsAroundLastWaypoint(const TrnShmData& rec) {
  const int px = kLastColumn;
  const int py = kRow;
  EXPECT_EQ(px, ReadVolatile(rec.aircraftPixelX));
  EXPECT_EQ(py, ReadVolatile(rec.aircraftPixelY));
  EXPECT_EQ(1, ReadVolatile(rec.aircraftSubX));
  EXPECT_EQ(1, ReadVolatile(rec.aircraftSubY));
  EXPECT_EQ(CellIdOf(px, py), ReadVolatile(rec.aircraftCellId));
  EXPECT_EQ(testmap::Elevation(px, py), ReadVolatile(rec.aircraftElevation));
  int wrong = 0;
  for (int i = 0; i < trn::kCoarseSize; ++i) {
    for (int j = 0; j < trn::kCoarseSize; ++j) {
      const TrnGridPoint& p = rec.coarseGrid[i][j];
      const int x = px - 75 + i;
      const int y = py - 75 + j;
      if (ReadVolatile(p.cellId) != CellIdOf(x, y) ||
          ReadVolatile(p.elevation) != testmap::Elevation(x, y) ||
          ReadVolatile(p.longitude) != x - 180.0 || ReadVolatile(p.latitude) != 90.0 - y) {
        if (++wrong <= 3) {
          ADD_FAILURE() << "coarse point " << i << "," << j << ": id " << ReadVolatile(p.cellId)
                        << " elevation " << ReadVolatile(p.elevation);
        }
      }
    }
  }
  EXPECT_EQ(0, wrong) << "coarse points that do not decode to the map";
  // The centre sub-point of every fine cell is its pixel's own elevation.
  for (int a = 0; a < trn::kFineSize; ++a) {
    for (int b = 0; b < trn::kFineSize; ++b) {
      const TrnGridPoint& p = rec.fineGrid[a][b][1][1];
      const int x = px - 8 + a;
      const int y = py - 8 + b;
      ASSERT_EQ(CellIdOf(x, y), ReadVolatile(p.cellId)) << "fine cell " << a << "," << b;
      ASSERT_EQ(testmap::Elevation(x, y), ReadVolatile(p.elevation))
          << "fine cell " << a << "," << b;
    }
  }
}

// The server makes the segment; look at it as a reader once the first
// grids are out (a reader that found the record half made tries again).
// Null after 60 s, with the reason in why.
const TrnShmData* AttachWhenServed(std::unique_ptr<CTrnReader>& reader, char* why, int whySize) {
  for (const long long end = NowMs() + 60000; NowMs() < end;) {
    reader = std::make_unique<CTrnReader>(trn::kMappingName);
    if (reader->Attach(why, whySize) && ReadVolatile(reader->GetData()->coarseSizeX) == 150 &&
        ReadVolatile(reader->GetData()->updateCount) > kCycleTicks) {
      return reader->GetData();
    }
    reader.reset();
    SleepMs(50);
  }
  return nullptr;
}

TEST(OrogridPair, PublishedElevationsFollowTheStandInsRoute) {
  ASSERT_FALSE(platform::ShmExists(trn::kMappingName)) << "another process holds TrnShmSpace";
  e2e::ServerProcess server;
  std::string reason;
  ASSERT_TRUE(server.Start(testmap::Bytes(), true, &reason)) << reason;

  std::unique_ptr<CTrnReader> reader;
  char why[256] = "";
  const TrnShmData* rec = AttachWhenServed(reader, why, sizeof why);
  ASSERT_NE(nullptr, rec) << why << "\n" << server.Output();
  ASSERT_EQ(1, TrnUserCount(rec));

  const testsupport::ScratchFolder scratch("pair");
  const std::string routeText = scratch.File("route.txt");
  ASSERT_TRUE(testsupport::WriteTextFile(routeText, kRoute)) << routeText;
  // 2000 kt at 170 times real time: about 1.7 pixels a second, so every
  // pixel of the route is seen over several ticks.
  const std::string sim = testsupport::ProgramPath("orogrid-sim");
  const char* argv[] = {
      sim.c_str(), "--route", routeText.c_str(), "--speed", "2000", "--time-scale", "170",
      "--rate",    "20",      "--hold",          "4",       nullptr};
  testsupport::ProcessHandle process = 0;
  ASSERT_TRUE(testsupport::StartProcess(argv, &process)) << sim;

  // Sample every tick until the stand-in has set the state to lost and the
  // aircraft has stayed over the last waypoint for two sweeps (after the
  // loss it stays there while the server counts down).
  std::vector<Sample> samples;
  int firstOnRoute = -1;  // index of the first sample over the route
  int arrived = -1;       // count when the last column was first published
  bool settledChecked = false;
  int maxUsers = 0;
  std::int32_t lostAt = -1;
  std::int32_t seen = ReadVolatile(rec->updateCount);
  const long long end = NowMs() + 180000;
  while (NowMs() < end) {
    const std::int32_t count = ReadVolatile(rec->updateCount);
    if (lostAt < 0 && ReadVolatile(rec->simulationState) == trn::kSimulationLost) {
      lostAt = count;
    }
    if (lostAt >= 0 && (settledChecked || count >= lostAt + kSettleTicks)) {
      break;
    }
    Sample s{};
    if (count == seen || !TakeSample(*rec, count, &s)) {
      SleepMs(3);
      continue;
    }
    seen = count;
    maxUsers = std::max(maxUsers, static_cast<int>(TrnUserCount(rec)));
    if (firstOnRoute < 0 && s.pixelY == kRow && s.pixelX >= kFirstColumn &&
        s.pixelX <= kLastColumn) {
      firstOnRoute = static_cast<int>(samples.size());
    }
    if (arrived < 0 && firstOnRoute >= 0 && s.pixelX == kLastColumn) {
      arrived = count;
    }
    samples.push_back(s);
    if (!settledChecked && arrived >= 0 && count >= arrived + kSettleTicks && s.subX == 1 &&
        s.subY == 1) {
      ExpectGridsAroundLastWaypoint(*rec);
      settledChecked = true;
    }
  }
  EXPECT_EQ(0, testsupport::WaitProcess(process));
  ASSERT_EQ(trn::kSimulationLost, ReadVolatile(rec->simulationState))
      << "the stand-in did not finish";
  ASSERT_GE(firstOnRoute, 0) << "the aircraft never showed up over the route";
  EXPECT_TRUE(settledChecked) << "the aircraft did not hold over the last waypoint for two sweeps";
  EXPECT_EQ(2, maxUsers) << "server and stand-in attached; the reader is not counted";

  // Over the route: the published pixel moves east along row 89; and the
  // elevation under the aircraft, at a pixel's centre sub-cell, is the map's
  // value at a pixel the aircraft was over in the same or the previous sweep.
  int checked = 0;
  int columns = 0;
  for (std::size_t k = static_cast<std::size_t>(firstOnRoute); k < samples.size(); ++k) {
    const Sample& s = samples[k];
    SCOPED_TRACE(testing::Message()
                 << "tick " << s.count << " pixel " << s.pixelX << "," << s.pixelY);
    ASSERT_EQ(kRow, s.pixelY);
    ASSERT_GE(s.pixelX,
              k > static_cast<std::size_t>(firstOnRoute) ? samples[k - 1].pixelX : kFirstColumn);
    ASSERT_LE(s.pixelX, kLastColumn);
    EXPECT_EQ(CellIdOf(s.pixelX, s.pixelY), s.cellId);
    EXPECT_EQ(ElevationOfCell(s.centreId), s.centreElevation) << "coarse centre " << s.centreId;
    columns += k == static_cast<std::size_t>(firstOnRoute) || s.pixelX != samples[k - 1].pixelX;
    if (s.subX != 1 || s.subY != 1 || s.count < samples[firstOnRoute].count + kSettleTicks) {
      continue;
    }
    // The westmost pixel of the window: the last sample two sweeps back.
    int west = s.pixelX;
    for (std::size_t m = k; m-- > static_cast<std::size_t>(firstOnRoute);) {
      west = samples[m].pixelX;
      if (samples[m].count <= s.count - 2 * kCycleTicks) {
        break;
      }
    }
    bool found = false;
    for (int x = west; x <= s.pixelX; ++x) {
      found = found || testmap::Elevation(x, kRow) == s.elevation;
    }
    EXPECT_TRUE(found) << "elevation " << s.elevation << " is not the map's between columns "
                       << west << " and " << s.pixelX;
    ++checked;
  }
  EXPECT_GT(checked, 0);
  EXPECT_GE(columns, 5) << "the aircraft was seen over too few pixels of the route";

  // The simulation is lost: the server counts down, ends by itself and
  // leaves the count as it found it.
  std::string line;
  EXPECT_TRUE(server.WaitForStatus(2, "Simulation lost -> preparing to shut down", 60000, &line))
      << server.Output();
  EXPECT_EQ(0, server.Wait(120000)) << server.Output();
  EXPECT_EQ(0, TrnUserCount(rec));
}

// kill -9 of the stand-in: it never writes lost, but its heartbeat stops;
// the server says why on line 2 about five seconds later, counts down and
// ends by itself. The time from the kill to that line is printed.
TEST(OrogridPair, KilledStandInIsCountedDownWhenItsHeartbeatStops) {
  ASSERT_FALSE(platform::ShmExists(trn::kMappingName)) << "another process holds TrnShmSpace";
  e2e::ServerProcess server;
  std::string reason;
  ASSERT_TRUE(server.Start(testmap::Bytes(), true, &reason)) << reason;
  std::unique_ptr<CTrnReader> reader;
  char why[256] = "";
  ASSERT_NE(nullptr, AttachWhenServed(reader, why, sizeof why)) << why << "\n" << server.Output();

  const std::string sim = testsupport::ProgramPath("orogrid-sim");
  const char* argv[] = {sim.c_str(), "--rate", "20", "--duration", "600", nullptr};
  testsupport::ProcessHandle process = 0;
  ASSERT_TRUE(testsupport::StartProcess(argv, &process)) << sim;
  std::string line;
  ASSERT_TRUE(server.WaitForStatus(2, "Running", 60000, &line)) << server.Output();
  SleepMs(1000);
  ASSERT_TRUE(testsupport::KillProcess(process));
  const long long killed = NowMs();
  EXPECT_EQ(-1, testsupport::WaitProcess(process));
  ASSERT_TRUE(server.WaitForStatus(2, "Simulation lost: no heartbeat for 5 s", 60000, &line))
      << server.Output();
  const double seconds = static_cast<double>(NowMs() - killed) / 1000.0;
  std::printf("kill -9 of the simulation to the countdown: %.2f s\n", seconds);
  ::testing::Test::RecordProperty("kill_to_countdown_ms", static_cast<int>(NowMs() - killed));
  EXPECT_GE(seconds, trn::kSimSilentSeconds - 0.5);
  EXPECT_LE(seconds, trn::kSimSilentSeconds + 3.0);
  EXPECT_EQ(0, server.Wait(120000)) << server.Output();
}

}  // namespace
