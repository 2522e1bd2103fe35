// End-to-end tests of the orogrid program: the built program with a test
// map, and this test playing the simulation on the real "TrnShmSpace"
// segment (so these tests run one at a time). Timing is never asserted
// tightly: the tests count ticks through the record's updateCount.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "shm/CTrnShm.h"
#include "shm/TrnSeqShm.h"
#include "tests/orogrid_test_map.h"
#include "tests/support/BmpTestWriter.h"
#include "tests/support/TestSupport.h"
#include "tests/support/server_process.h"

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
    m_sim = std::make_unique<CTrnShm>();
    ASSERT_TRUE(m_sim->IsConnected()) << m_sim->GetErrorText();
    m_rec = m_sim->GetData();
    ASSERT_EQ(1, TrnUserCount(m_rec)) << "another process holds TrnShmSpace";
    WriteVolatile(m_rec->coarseSizeX, 0);
    WriteVolatile(m_rec->updateCount, 0);
    WriteVolatile(m_rec->aircraftLatitude, kLatitude);
    WriteVolatile(m_rec->aircraftLongitude, kLongitude);
    WriteVolatile(m_rec->aircraftHeading, 45.0);
    WriteVolatile(m_rec->simulationState, 1);
  }

  void TearDown() override { m_sim.reset(); }

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
      WriteVolatile(m_rec->aircraftLatitude, ReadVolatile(m_rec->aircraftLatitude) + 0.01);
      SleepMs(100);
    }
  }

  // Waits until the coarse grid's centre is the given cell.
  bool WaitForCentreOf(std::int32_t cellId, int timeoutMs) {
    return WaitFor([&] { return ReadVolatile(m_rec->coarseGrid[75][75].cellId) == cellId; },
                   timeoutMs, 20);
  }

  std::unique_ptr<CTrnShm> m_sim;
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
    WriteVolatile(m_rec->aircraftLatitude, p.latitude);
    WriteVolatile(m_rec->aircraftLongitude, p.longitude);
    const std::int32_t id = p.x * 10000 + p.y;
    ASSERT_TRUE(WaitForCentreOf(id, 60000)) << "never centred on " << id;
    // That sweep may have begun at the last point: one more, all here.
    ASSERT_TRUE(WaitForCount(ReadVolatile(m_rec->updateCount) + 12, 30000));
    EXPECT_EQ(id, ReadVolatile(m_rec->aircraftCellId));
    EXPECT_EQ(p.x, ReadVolatile(m_rec->aircraftPixelX));
    EXPECT_EQ(p.y, ReadVolatile(m_rec->aircraftPixelY));
    // The coarse grid stops at the map's edges: it starts at column
    // max(0, x - 75), so the pixel is at index x - that.
    const int i = p.x - std::max(0, p.x - 75);
    const int j = p.y - std::max(0, p.y - 75);
    EXPECT_EQ(p.elevation, ReadVolatile(m_rec->coarseGrid[i][j].elevation)) << i << "," << j;
    if (i == 75 && j == 75) {
      EXPECT_EQ(p.elevation, ReadVolatile(m_rec->fineGrid[8][8][1][1].elevation));
    }
  }
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
      WriteVolatile(m_rec->aircraftLongitude, longitude);
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
  WriteVolatile(m_rec->simulationState, trn::kSimulationLost);
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
  WriteVolatile(m_rec->simulationState, trn::kSimulationLost);
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

// A map file cut short on disk while it is served: the server says so on
// status line 1, stops publishing (the record keeps the last grids) and
// still ends cleanly. Linux only: Windows cannot shorten a mapped file.
TEST_F(OrogridE2E, MapCutShortWhileServedIsReported) {
  if (!e2e::ServerProcess::ArgumentsSupported()) {
    GTEST_SKIP() << "the system cannot shorten a mapped file";
  }
  const auto dir = bmptest::ScratchDir("e2e-cut");
  const std::string path = (dir / "cut.bmp").string();
  ASSERT_TRUE(WriteFineMap(path));
  {
    e2e::ServerProcess server;
    std::string reason;
    ASSERT_TRUE(server.StartWithArguments({"--map", path}, &reason)) << reason;
    ASSERT_TRUE(WaitForStartUp(60000)) << server.Output();
    const FinePoint& p = kFinePoints[2];
    WriteVolatile(m_rec->aircraftLatitude, p.latitude);
    WriteVolatile(m_rec->aircraftLongitude, p.longitude);
    ASSERT_TRUE(WaitForCentreOf(p.x * 10000 + p.y, 60000));
    std::filesystem::resize_file(path, 4096);
    std::string line;
    EXPECT_TRUE(server.WaitForStatus(1, "Sorry :: ", 30000, &line)) << server.Output();
    EXPECT_NE(std::string::npos, line.find("cut short")) << line;
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
