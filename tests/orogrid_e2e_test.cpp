// End-to-end tests of the orogrid program: the built program with a test
// map, and this test playing the simulation on the real "TrnShmSpace"
// segment (so these tests run one at a time). Timing is never asserted
// tightly: the tests count ticks through the record's updateCount.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/server_process.h"
#include "shm/CTrnShm.h"
#include "shm/TrnSeqShm.h"
#include "tests/orogrid_test_map.h"

namespace {

template <class T>
T Read(const T& field) {
  return *static_cast<const volatile T*>(&field);
}

template <class T>
void Write(T& field, T value) {
  *static_cast<volatile T*>(&field) = value;
}

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
    const long long end = e2e::NowMs() + timeoutMs;
    while (e2e::NowMs() < end) {
      if (GetView() != nullptr || OpenAndMap()) {
        if (Read(Seq()->magic) == trn::kSeqMagic) {
          return Read(Seq()->serverProcessId);
        }
      }
      e2e::SleepMs(20);
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
    Write(m_rec->coarseSizeX, 0);
    Write(m_rec->updateCount, 0);
    Write(m_rec->aircraftLatitude, kLatitude);
    Write(m_rec->aircraftLongitude, kLongitude);
    Write(m_rec->aircraftHeading, 45.0);
    Write(m_rec->simulationState, 1);
  }

  void TearDown() override { m_sim.reset(); }

  // Waits until the server has seeded the record.
  bool WaitForStartUp(int timeoutMs) {
    const long long end = e2e::NowMs() + timeoutMs;
    while (e2e::NowMs() < end) {
      if (Read(m_rec->coarseSizeX) == 150 && TrnUserCount(m_rec) == 2) {
        return true;
      }
      e2e::SleepMs(20);
    }
    return false;
  }

  bool WaitForCount(std::int32_t count, int timeoutMs) {
    const long long end = e2e::NowMs() + timeoutMs;
    while (e2e::NowMs() < end) {
      if (Read(m_rec->updateCount) >= count) {
        return true;
      }
      e2e::SleepMs(10);
    }
    return false;
  }

  // Moves the aircraft north a little every 100 ms for ms milliseconds, so
  // that status line 1 changes and the server writes it (once a second).
  void Fly(int ms) {
    for (int i = 0; i < ms / 100; ++i) {
      Write(m_rec->aircraftLatitude, Read(m_rec->aircraftLatitude) + 0.01);
      e2e::SleepMs(100);
    }
  }

  std::unique_ptr<CTrnShm> m_sim;
  TrnShmData* m_rec = nullptr;
};

TEST_F(OrogridE2E, ServesTheSimulationAndEndsAfterItIsLost) {
  e2e::ServerProcess server;
  std::string reason;
  ASSERT_TRUE(server.Start(testmap::Bytes(), true, &reason)) << reason;
  ASSERT_TRUE(WaitForStartUp(60000)) << server.Output();

  const std::int32_t dims[10] = {Read(m_rec->coarseSizeX),   Read(m_rec->coarseSizeY),
                                 Read(m_rec->fineSizeX),     Read(m_rec->fineSizeY),
                                 Read(m_rec->subDivX),       Read(m_rec->subDivY),
                                 Read(m_rec->fineCentreX),   Read(m_rec->fineCentreY),
                                 Read(m_rec->coarseCentreX), Read(m_rec->coarseCentreY)};
  const std::int32_t expected[10] = {150, 150, 17, 17, 3, 3, 8, 8, 75, 75};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(expected[i], dims[i]) << "grid field " << i;
  }

  // About 8 ticks a second, never a burst: at most one tick per 120 ms.
  ASSERT_TRUE(WaitForCount(1, 30000));
  const std::int32_t u0 = Read(m_rec->updateCount);
  const long long t0 = e2e::NowMs();
  e2e::SleepMs(3000);
  const std::int32_t u1 = Read(m_rec->updateCount);
  const double perSecond = (u1 - u0) * 1000.0 / static_cast<double>(e2e::NowMs() - t0);
  EXPECT_GE(perSecond, 1.5);
  EXPECT_LE(perSecond, 9.0);

  // Two whole cycles at rest: the grids are all around the aircraft.
  ASSERT_TRUE(WaitForCount(25, 60000));
  const int elevation = testmap::Elevation(kPixelX, kPixelY);
  EXPECT_EQ(elevation, Read(m_rec->aircraftElevation));
  EXPECT_EQ(kPixelX, Read(m_rec->aircraftPixelX));
  EXPECT_EQ(kPixelY, Read(m_rec->aircraftPixelY));
  EXPECT_EQ(kPixelX * 10000 + kPixelY, Read(m_rec->aircraftCellId));
  EXPECT_EQ(1, Read(m_rec->aircraftSubX));
  EXPECT_EQ(1, Read(m_rec->aircraftSubY));
  EXPECT_EQ(elevation, Read(m_rec->coarseGrid[75][75].elevation));
  EXPECT_EQ(testmap::Elevation(kPixelX - 20, kPixelY + 30),
            Read(m_rec->coarseGrid[55][105].elevation));
  EXPECT_EQ(elevation, Read(m_rec->fineGrid[8][8][1][1].elevation));
  EXPECT_GT(Read(m_rec->pixelsPerMetre), 0.0);
  EXPECT_LE(Read(m_rec->pixelsPerMetre), 1.0);
  std::string line;
  EXPECT_TRUE(server.WaitForStatus(2, "Running", 20000, &line)) << server.Output();

  // Grid publications come every 11 ticks: fly east a pixel at a time and
  // note the tick count whenever the published grid changes.
  std::vector<std::int32_t> publications;
  std::int32_t lastId = Read(m_rec->coarseGrid[75][75].cellId);
  double longitude = kLongitude;
  const long long flightEnd = e2e::NowMs() + 6000;
  long long nextMove = e2e::NowMs();
  while (e2e::NowMs() < flightEnd) {
    if (e2e::NowMs() >= nextMove) {
      longitude += 1.0;
      Write(m_rec->aircraftLongitude, longitude);
      nextMove += 200;
    }
    const std::int32_t id = Read(m_rec->coarseGrid[75][75].cellId);
    if (id != lastId) {
      publications.push_back(Read(m_rec->updateCount));
      lastId = id;
    }
    e2e::SleepMs(5);
  }
  ASSERT_GE(publications.size(), 2u);
  for (std::size_t i = 1; i < publications.size(); ++i) {
    const int apart = publications[i] - publications[i - 1];
    EXPECT_LE((apart + 1) % 11, 2) << "publications " << apart << " ticks apart";
    EXPECT_GE(apart, 10);
  }

  // The simulation goes: the server counts down and ends by itself.
  Write(m_rec->simulationState, trn::kSimulationLost);
  const std::int32_t atLoss = Read(m_rec->updateCount);
  EXPECT_TRUE(server.WaitForStatus(2, "Simulation lost -> preparing to shut down 9", 30000, &line))
      << server.Output();
  EXPECT_EQ(0, server.Wait(120000)) << server.Output();
  const int ticks = Read(m_rec->updateCount) - atLoss;
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
  const std::int32_t after = Read(m_rec->updateCount);
  e2e::SleepMs(400);
  EXPECT_EQ(after, Read(m_rec->updateCount));
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
  EXPECT_EQ(0, Read(m_rec->coarseSizeX));
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
  const std::int32_t u0 = Read(m_rec->updateCount);
  Fly(2000);
  EXPECT_GE(Read(m_rec->updateCount) - u0, 4) << "ticks stopped while the pipe was full";
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
  const std::int32_t u0 = Read(m_rec->updateCount);
  Fly(2000);  // line 1 is written to a pipe without a reader
  EXPECT_TRUE(server.Running()) << "the server ended with status " << server.Wait(0);
  EXPECT_GT(Read(m_rec->updateCount), u0);
  Write(m_rec->simulationState, trn::kSimulationLost);
  EXPECT_EQ(0, server.Wait(60000));
  EXPECT_EQ(1, TrnUserCount(m_rec));
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
  EXPECT_EQ(120u, Read(companion.Seq()->tickPeriodMillis));
  EXPECT_EQ(testmap::kWidth, Read(companion.Seq()->mapWidth));
  ASSERT_TRUE(WaitForCount(3, 30000));

  e2e::ServerProcess second;
  ASSERT_TRUE(second.Start(testmap::Bytes(), true, &reason)) << reason;
  std::string line;
  ASSERT_TRUE(second.WaitForStatus(1, "Sorry :: ", 60000, &line)) << second.Output();
  EXPECT_EQ("Sorry :: TrnShmSpace is already served by process " + std::to_string(firstId), line);
  // Never attached: the count is the simulation's and the first server's,
  // and the update count was never reset by a second start-up.
  const std::int32_t atRefusal = Read(m_rec->updateCount);
  EXPECT_EQ(2, TrnUserCount(m_rec));
  EXPECT_GE(atRefusal, 3);
  const std::uint64_t publications = Read(companion.Seq()->publicationCount);
  ASSERT_TRUE(WaitForCount(atRefusal + 23, 60000));
  EXPECT_EQ(2, TrnUserCount(m_rec));
  EXPECT_EQ(firstId, Read(companion.Seq()->serverProcessId));
  // One writer: two publications in 23 ticks, as one server makes them.
  const std::uint64_t more = Read(companion.Seq()->publicationCount) - publications;
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
