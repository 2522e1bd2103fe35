// Tests of the client library: attaching as a reader, tear-free snapshots
// against a writer process publishing as fast as it can, the heuristic copy
// without companion, elevation lookups against the test map's own values,
// liveness after the server is killed, and the C interface from C.
//
// Threading: the storm test runs two reader threads with a handle each;
// everything else is single-threaded around child processes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/CTrnClient.h"
#include "client/orogrid_client.h"
#include "platform/shared_memory.h"
#include "shm/CTrnShm.h"
#include "tests/support/ClientTestMap.h"
#include "tests/support/TestSupport.h"
#include "tests/support/process.h"

namespace {

using clienttest::FineElevation;
using clienttest::MapElevation;

constexpr double kLatitude = 47.26;  // the writer's aircraft
constexpr double kLongitude = 11.35;

// A unique segment name per test, short enough for the companion's suffix,
// removed afterwards.
std::string SegmentName() { return testsupport::UniqueName("OgClient"); }

std::string SiblingProgram(const char* program) { return testsupport::ProgramPath(program); }

// A writer child process, killed and waited for when the test leaves.
class CWriter {
 public:
  explicit CWriter(std::vector<std::string> args) : m_args(std::move(args)) {
    const std::string program = SiblingProgram("client_test_writer");
    std::vector<const char*> argv{program.c_str()};
    for (const std::string& a : m_args) {
      argv.push_back(a.c_str());
    }
    argv.push_back(nullptr);
    m_started = testsupport::StartProcess(argv.data(), &m_process);
  }
  ~CWriter() {
    if (m_started) {
      testsupport::KillProcess(m_process);
      testsupport::WaitProcess(m_process);
    }
  }
  CWriter(const CWriter&) = delete;
  CWriter& operator=(const CWriter&) = delete;
  bool Started() const { return m_started; }
  void Kill() {
    if (m_started) {
      testsupport::KillProcess(m_process);
      testsupport::WaitProcess(m_process);
      m_started = false;
    }
  }
  int Wait() {
    m_started = false;
    return testsupport::WaitProcess(m_process);
  }

 private:
  std::vector<std::string> m_args;
  testsupport::ProcessHandle m_process = 0;
  bool m_started = false;
};

struct ClientCloser {
  void operator()(orogrid_client* c) const { orogrid_close(c); }
};
using ClientPtr = std::unique_ptr<orogrid_client, ClientCloser>;

// Opens `segment` once the writer has made it and published (with its
// companion when `companion`), waiting up to 10 s. Without companion a
// publication of the same grids is not noticed, so readiness is a lookup
// that finds data.
ClientPtr OpenWhenReady(const std::string& segment, bool companion) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  ClientPtr client;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!client) {
      orogrid_client* c = nullptr;
      if (orogrid_open(segment.c_str(), 0, &c) == OROGRID_OK) {
        client.reset(c);
      }
    }
    orogrid_status status{};
    double metres = 0.0;
    if (client && orogrid_status_read(client.get(), &status, sizeof status) == OROGRID_OK &&
        status.has_companion == (companion ? 1 : 0) &&
        (companion ? status.publication_count > 0
                   : orogrid_elevation(client.get(), 47.26, 11.35, OROGRID_NEAREST, &metres,
                                       nullptr) == OROGRID_OK)) {
      return client;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return nullptr;
}

class ClientProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { m_segment = SegmentName(); }
  void TearDown() override {
    platform::ShmRemoveName(m_segment.c_str());
    platform::ShmRemoveName((m_segment + trn::kSeqNameSuffix).c_str());
  }
  std::string m_segment;
};

// True when every point of the copy carries the same publication number as
// the aircraft's cell (the storm writer's pattern).
bool WholeStormCopy(const orogrid_snapshot& s) {
  const std::int32_t number = s.aircraft.cell_id;
  const orogrid_point* coarse = &s.coarse[0][0];
  for (int k = 0; k < OROGRID_COARSE_SIZE * OROGRID_COARSE_SIZE; ++k) {
    if (coarse[k].cell_id != number || coarse[k].latitude != number) {
      return false;
    }
  }
  const orogrid_point* fine = &s.fine[0][0][0][0];
  for (int k = 0; k < 17 * 17 * 9; ++k) {
    if (fine[k].cell_id != number || fine[k].longitude != -number) {
      return false;
    }
  }
  return s.aircraft.update_count == number;
}

struct StormResult {
  int snapshots = 0;
  int torn = 0;
  int failed = 0;
  int unsettled = 0;  // gave up within the bound: the storm left no gap
};

// Two readers take snapshots in a loop for `seconds` (or until the first
// torn copy when stopAtTorn).
StormResult RunReaders(const std::string& segment, double seconds, bool stopAtTorn) {
  StormResult total;
  std::atomic<bool> stop{false};
  std::vector<StormResult> results(2);
  std::vector<std::thread> readers;
  readers.reserve(results.size());
  for (StormResult& result : results) {
    readers.emplace_back([&segment, &stop, &result, seconds, stopAtTorn] {
      ClientPtr client = OpenWhenReady(segment, true);
      if (!client) {
        result.failed = 1;
        return;
      }
      auto snapshot = std::make_unique<orogrid_snapshot>();
      const auto end = std::chrono::steady_clock::now() +
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(seconds));
      while (!stop && std::chrono::steady_clock::now() < end) {
        const int code = orogrid_snapshot_take(client.get(), snapshot.get(), sizeof *snapshot);
        if (code == OROGRID_E_UNSETTLED) {
          ++result.unsettled;
          continue;
        }
        if (code != OROGRID_OK) {
          ++result.failed;
          ADD_FAILURE() << orogrid_last_error(client.get());
          continue;
        }
        ++result.snapshots;
        if (!WholeStormCopy(*snapshot)) {
          ++result.torn;
          if (stopAtTorn) {
            stop = true;
          }
        }
      }
    });
  }
  for (std::thread& t : readers) {
    t.join();
  }
  for (const StormResult& r : results) {
    total.snapshots += r.snapshots;
    total.torn += r.torn;
    total.failed += r.failed;
    total.unsettled += r.unsettled;
  }
  return total;
}

TEST_F(ClientProcessTest, SnapshotsThroughTheSequenceAreNeverTorn) {
  CWriter writer({m_segment, "storm", "8"});
  ASSERT_TRUE(writer.Started());
  const StormResult result = RunReaders(m_segment, 3.0, false);
  EXPECT_EQ(result.failed, 0);
  EXPECT_GT(result.snapshots, 20) << result.unsettled << " unsettled";
  EXPECT_EQ(result.torn, 0) << "of " << result.snapshots;
  std::printf("storm: %d whole snapshots, %d unsettled\n", result.snapshots, result.unsettled);
}

// The check above would see torn copies: without the odd step the same
// readers catch the writer in the middle of a publication.
TEST_F(ClientProcessTest, WithoutTheOddStepSnapshotsTear) {
  CWriter writer({m_segment, "storm", "8", "--no-sequence"});
  ASSERT_TRUE(writer.Started());
  const StormResult result = RunReaders(m_segment, 6.0, true);
  EXPECT_GT(result.torn, 0) << "no torn copy in " << result.snapshots << " snapshots";
}

class ClientMapTest : public ClientProcessTest,
                      public ::testing::WithParamInterface<bool /* companion */> {};

// Elevations through the live record and through a snapshot are the test
// map's own values, with the companion and without it (an older server).
TEST_P(ClientMapTest, ElevationIsTheMapsOwnValue) {
  const bool companion = GetParam();
  std::vector<std::string> args{m_segment, "map", "30", "47.26", "11.35"};
  if (!companion) {
    args.emplace_back("--no-companion");
  }
  CWriter writer(args);
  ASSERT_TRUE(writer.Started());
  ClientPtr client = OpenWhenReady(m_segment, companion);
  ASSERT_TRUE(client);
  auto snapshot = std::make_unique<orogrid_snapshot>();
  ASSERT_EQ(orogrid_snapshot_take(client.get(), snapshot.get(), sizeof *snapshot), OROGRID_OK)
      << orogrid_last_error(client.get());
  EXPECT_EQ(snapshot->consistency,
            companion ? OROGRID_CONSISTENT_SEQUENCE : OROGRID_CONSISTENT_HEURISTIC);
  EXPECT_EQ(snapshot->pixels_per_degree_x, clienttest::kPixelsPerDegree);

  const int x0 = clienttest::PixelColumn(kLongitude);
  const int y0 = clienttest::PixelRow(kLatitude);
  struct Case {
    int dx, dy;     // pixels from the aircraft's
    double fx, fy;  // position inside the pixel, 0..1 east and south
    int grid;
    int expected;
  };
  const double third = 1.0 / 3.0;
  const Case cases[] = {
      {0, 0, 0.1, 0.1, OROGRID_GRID_FINE, FineElevation(x0, y0, 0, 0)},
      {0, 0, 0.5, 0.5, OROGRID_GRID_FINE, FineElevation(x0, y0, 1, 1)},
      {0, 0, 0.9, 0.2, OROGRID_GRID_FINE, FineElevation(x0, y0, 2, 0)},
      {-8, 8, third * 2 + 0.01, 0.99, OROGRID_GRID_FINE, FineElevation(x0 - 8, y0 + 8, 2, 2)},
      {9, 0, 0.5, 0.5, OROGRID_GRID_COARSE, MapElevation(x0 + 9, y0)},
      {-75, -75, 0.01, 0.01, OROGRID_GRID_COARSE, MapElevation(x0 - 75, y0 - 75)},
      {74, 74, 0.99, 0.99, OROGRID_GRID_COARSE, MapElevation(x0 + 74, y0 + 74)},
  };
  for (const Case& c : cases) {
    const double lon = (x0 + c.dx + c.fx) / clienttest::kPixelsPerDegree - 180.0;
    const double lat = 90.0 - (y0 + c.dy + c.fy) / clienttest::kPixelsPerDegree;
    double live = -1.0;
    double copied = -1.0;
    int grid = 0;
    EXPECT_EQ(orogrid_elevation(client.get(), lat, lon, OROGRID_NEAREST, &live, &grid), OROGRID_OK)
        << c.dx << "," << c.dy << ": " << orogrid_last_error(client.get());
    EXPECT_EQ(live, c.expected) << c.dx << "," << c.dy;
    EXPECT_EQ(grid, c.grid) << c.dx << "," << c.dy;
    EXPECT_EQ(orogrid_snapshot_elevation(snapshot.get(), sizeof *snapshot, lat, lon,
                                         OROGRID_NEAREST, &copied, nullptr),
              OROGRID_OK);
    EXPECT_EQ(copied, c.expected) << c.dx << "," << c.dy;
  }
  double metres = 0.0;
  EXPECT_EQ(orogrid_elevation(client.get(), kLatitude + 7.0, kLongitude, OROGRID_NEAREST, &metres,
                              nullptr),
            OROGRID_E_OUTSIDE_AREA);

  // The C interface from a C program, against the same writer, linked to
  // the static and to the shared library.
  char lat[32];
  char lon[32];
  char expected[32];
  std::snprintf(lat, sizeof lat, "%.9f", 90.0 - (y0 + 0.5) / clienttest::kPixelsPerDegree);
  std::snprintf(lon, sizeof lon, "%.9f", (x0 + 9.5) / clienttest::kPixelsPerDegree - 180.0);
  std::snprintf(expected, sizeof expected, "%d", MapElevation(x0 + 9, y0));
  for (const char* name : {"client_c_test", "client_c_test_shared"}) {
    const std::string program = SiblingProgram(name);
    const char* argv[] = {program.c_str(), m_segment.c_str(), lat, lon, expected, nullptr};
    testsupport::ProcessHandle c = 0;
    ASSERT_TRUE(testsupport::StartProcess(argv, &c)) << program;
    EXPECT_EQ(testsupport::WaitProcess(c), 0) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Companion, ClientMapTest, ::testing::Bool());

// kill -9 of the server: the reader knows within a second.
TEST_F(ClientProcessTest, KilledServerIsSeenGoneWithinOneSecond) {
  CWriter writer({m_segment, "map", "60", "47.26", "11.35"});
  ASSERT_TRUE(writer.Started());
  ClientPtr client = OpenWhenReady(m_segment, true);
  ASSERT_TRUE(client);
  orogrid_status status{};
  ASSERT_EQ(orogrid_status_read(client.get(), &status, sizeof status), OROGRID_OK);
  EXPECT_EQ(status.server_alive, OROGRID_SERVER_ALIVE);
  EXPECT_GT(status.publication_count, 0U);
  EXPECT_EQ(status.map_width, clienttest::kMapWidth);
  EXPECT_EQ(status.tick_period_ms, 20U);

  writer.Kill();
  const auto killed = std::chrono::steady_clock::now();
  do {
    ASSERT_EQ(orogrid_status_read(client.get(), &status, sizeof status), OROGRID_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (status.server_alive != OROGRID_SERVER_GONE &&
           std::chrono::steady_clock::now() - killed < std::chrono::seconds(3));
  EXPECT_EQ(status.server_alive, OROGRID_SERVER_GONE);
  EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::milliseconds(1100));

  // The last values stay readable, marked as the gone server's.
  double metres = -1.0;
  EXPECT_EQ(
      orogrid_elevation(client.get(), kLatitude, kLongitude, OROGRID_NEAREST, &metres, nullptr),
      OROGRID_E_SERVER_GONE);
  EXPECT_NE(metres, -1.0);
  EXPECT_NE(std::strstr(orogrid_last_error(client.get()), "gone"), nullptr);
  EXPECT_EQ(orogrid_wait_publication(client.get(), 2000), OROGRID_E_SERVER_GONE);
}

class RawSegment : public BaseSharedMemory {
 public:
  RawSegment(const char* name, std::uint32_t size) {
    SetName(name);
    m_size = size;
  }
};

TEST_F(ClientProcessTest, AttachRefusesWhatIsNotAWholeRecordOfThisVersion) {
  orogrid_client* c = nullptr;
  EXPECT_EQ(orogrid_open(m_segment.c_str(), 0, &c), OROGRID_E_NO_SEGMENT);
  EXPECT_FALSE(platform::ShmExists(m_segment.c_str())) << "a reader never creates the record";

  {
    // Another name: on Windows a segment lives as long as its creator.
    const std::string smallName = m_segment + "s";
    RawSegment small(smallName.c_str(), 4096);
    ASSERT_TRUE(small.CreateAndMap());
    EXPECT_EQ(orogrid_open(smallName.c_str(), 0, &c), OROGRID_E_REFUSED);
    EXPECT_EQ(c, nullptr);
    small.Close();
    platform::ShmRemoveName(smallName.c_str());
  }

  CTrnShm record(m_segment.c_str());
  ASSERT_TRUE(record.IsConnected());
  const std::int32_t users = TrnUserCount(record.GetData());
  {
    ASSERT_EQ(orogrid_open(m_segment.c_str(), 0, &c), OROGRID_OK);
    ClientPtr plain(c);
    EXPECT_EQ(TrnUserCount(record.GetData()), users) << "counted only when asked";
    ASSERT_EQ(orogrid_open(m_segment.c_str(), OROGRID_OPEN_COUNT_USER, &c), OROGRID_OK);
    ClientPtr counted(c);
    EXPECT_EQ(TrnUserCount(record.GetData()), users + 1);
    double metres = 0.0;
    EXPECT_EQ(orogrid_elevation(plain.get(), 1.0, 1.0, OROGRID_NEAREST, &metres, nullptr),
              OROGRID_E_NO_DATA);
  }
  EXPECT_EQ(TrnUserCount(record.GetData()), users);

  record.GetData()->interfaceVersion[30] = '9';
  EXPECT_EQ(orogrid_open(m_segment.c_str(), 0, &c), OROGRID_E_VERSION_MISMATCH);
  EXPECT_EQ(c, nullptr);
}

// The heuristic copy (no companion), with the test playing the writer
// between the copy and its checks.
struct HeuristicWriter {
  TrnShmData* record;
  int publishAtAttempts;  // publish on attempts 1..n
  int pauses = 0;
};

TEST(ClientHeuristic, CopiesAgainUntilTheGridsHoldStill) {
  auto record = std::make_unique<TrnShmData>();
  std::memset(record.get(), 0, sizeof *record);
  clienttest::FillRecord(*record, kLatitude, kLongitude, false);
  auto snapshot = std::make_unique<orogrid_snapshot>();
  for (const int moving : {0, 2, 8}) {
    HeuristicWriter writer{record.get(), moving};
    client::HeuristicOptions options;
    options.hooks.context = &writer;
    options.hooks.afterCopy = [](void* context, int attempt) {
      auto* w = static_cast<HeuristicWriter*>(context);
      if (attempt <= w->publishAtAttempts) {
        w->record->coarseGrid[3][4].elevation += 1;  // a publication landed meanwhile
        w->record->updateCount += 1;
      }
    };
    options.hooks.pause = [](void* context, int) {
      ++static_cast<HeuristicWriter*>(context)->pauses;
    };
    const bool whole = client::TakeHeuristicSnapshot(*record, *snapshot, options);
    EXPECT_EQ(whole, moving < options.maxAttempts) << moving;
    EXPECT_EQ(snapshot->attempts, moving < options.maxAttempts ? moving + 1 : options.maxAttempts);
    if (whole) {
      EXPECT_EQ(snapshot->coarse[3][4].elevation, record->coarseGrid[3][4].elevation);
    }
  }
  // A fine grid from another publication than the coarse grid is refused.
  record->fineGrid[5][5][0][0].latitude += 1.0;
  client::HeuristicOptions options;
  options.maxAttempts = 2;
  options.retryPauseMs = 0;
  EXPECT_FALSE(client::TakeHeuristicSnapshot(*record, *snapshot, options));
}

// Lookups over a snapshot the test builds: bilinear weights, the mosaic a
// moving aircraft leaves, and the answers for places the grids do not cover.
TEST(ClientElevation, LookupsOverASnapshot) {
  auto record = std::make_unique<TrnShmData>();
  auto snapshot = std::make_unique<orogrid_snapshot>();
  const auto fill = [&](bool mosaic) {
    std::memset(record.get(), 0, sizeof *record);
    clienttest::FillRecord(*record, kLatitude, kLongitude, mosaic);
    std::memcpy(snapshot->coarse, record->coarseGrid, sizeof snapshot->coarse);
    std::memcpy(snapshot->fine, record->fineGrid, sizeof snapshot->fine);
    snapshot->pixels_per_degree_x = clienttest::kPixelsPerDegree;
    snapshot->pixels_per_degree_y = clienttest::kPixelsPerDegree;
  };
  const auto at = [&](double x, double y, int method, double* metres) {
    return orogrid_snapshot_elevation(
        snapshot.get(), sizeof *snapshot, 90.0 - y / clienttest::kPixelsPerDegree,
        x / clienttest::kPixelsPerDegree - 180.0, method, metres, nullptr);
  };
  const int x0 = clienttest::PixelColumn(kLongitude);
  const int y0 = clienttest::PixelRow(kLatitude);
  double m = 0.0;

  fill(false);
  // Bilinear: at a coarse point its own value; half-way, the mean of four.
  const int x = x0 + 20;
  const int y = y0 + 3;
  ASSERT_EQ(at(x + 1e-9, y + 1e-9, OROGRID_BILINEAR, &m), OROGRID_OK);
  EXPECT_NEAR(m, MapElevation(x, y), 1e-3);
  ASSERT_EQ(at(x + 0.5, y + 0.5, OROGRID_BILINEAR, &m), OROGRID_OK);
  EXPECT_NEAR(m,
              (MapElevation(x, y) + MapElevation(x + 1, y) + MapElevation(x, y + 1) +
               MapElevation(x + 1, y + 1)) /
                  4.0,
              1e-6);
  // Bilinear in the fine grid weighs sub-points a third of a pixel apart.
  ASSERT_EQ(at(x0 + 0.5, y0 + 1.0 / 6.0, OROGRID_BILINEAR, &m), OROGRID_OK);
  EXPECT_NEAR(m,
              (FineElevation(x0, y0, 1, 0) + FineElevation(x0, y0, 2, 0) +
               FineElevation(x0, y0, 1, 1) + FineElevation(x0, y0, 2, 1)) /
                  4.0,
              1e-6);
  // The last column has no east neighbour: its own value stands in.
  ASSERT_EQ(at(x0 + 74.5, y0, OROGRID_BILINEAR, &m), OROGRID_OK);
  EXPECT_NEAR(m, MapElevation(x0 + 74, y0), 1e-6);

  // Outside, just past the grid's edges.
  EXPECT_EQ(at(x0 + 75.01, y0, OROGRID_NEAREST, &m), OROGRID_E_OUTSIDE_AREA);
  EXPECT_EQ(at(x0 - 75.01, y0, OROGRID_NEAREST, &m), OROGRID_E_OUTSIDE_AREA);
  EXPECT_EQ(at(x0, y0 + 75.01, OROGRID_NEAREST, &m), OROGRID_E_OUTSIDE_AREA);
  EXPECT_EQ(at(x0, y0 - 75.01, OROGRID_NEAREST, &m), OROGRID_E_OUTSIDE_AREA);
  double latNan = std::nan("");
  EXPECT_EQ(orogrid_snapshot_elevation(snapshot.get(), sizeof *snapshot, latNan, 0.0,
                                       OROGRID_NEAREST, &m, nullptr),
            OROGRID_E_INVALID_ARGUMENT);
  EXPECT_EQ(orogrid_snapshot_elevation(snapshot.get(), sizeof *snapshot, 91.0, 0.0, OROGRID_NEAREST,
                                       &m, nullptr),
            OROGRID_E_INVALID_ARGUMENT);

  // Mosaic: the east half of the grid one row further south. Every pixel
  // still answers with its own value, found by the points' positions.
  fill(true);
  for (const int dx : {-70, -1, 0, 1, 30, 74}) {
    for (const int dy : {-74, 0, 20, 74}) {
      const int shift = dx >= 0 ? 1 : 0;
      const int px = x0 + dx;
      const int py = y0 + dy + shift;
      ASSERT_EQ(at(px + 0.5, py + 0.5, OROGRID_NEAREST, &m), OROGRID_OK) << dx << "," << dy;
      const bool fine = dx >= -8 && dx <= 8 && dy >= -8 && dy <= 8;
      EXPECT_EQ(m, fine ? FineElevation(px, py, 1, 1) : MapElevation(px, py)) << dx << "," << dy;
    }
  }

  // A grid never published (all zeros) has no data.
  std::memset(snapshot->coarse, 0, sizeof snapshot->coarse);
  EXPECT_EQ(at(x0, y0, OROGRID_NEAREST, &m), OROGRID_E_NO_DATA);
}

}  // namespace
