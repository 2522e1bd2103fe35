// Tests of the main dialog without a window: start-up, the timer cycle, the
// status lines, the loss countdown and the release of the connection, on a
// small test map and a segment of the test's own.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "app/OrogridDlg.h"
#include "app/OrogridResources.h"
#include "app/resource.h"
#include "client/CTrnSim.h"
#include "client/orogrid_client.h"
#include "client/orogrid_sim.h"
#include "platform/app_framework.h"
#include "platform/module_path.h"
#include "platform/monotonic_clock.h"
#include "platform/process_id.h"
#include "platform/segment_hold.h"
#include "platform/shared_memory.h"
#include "platform/system_error.h"
#include "shm/CTrnShm.h"
#include "shm/CTrnSimShm.h"
#include "shm/TrnSeqShm.h"
#include "tests/orogrid_test_map.h"
#include "tests/support/TestSupport.h"
#include "tests/support/shm_spoil.h"

namespace {

using testsupport::UniqueName;

bool RefuseTimer(unsigned /*id*/, unsigned /*periodMs*/) { return false; }

// A plain segment of the test's own naming and size: a view of the record
// or the companion that is not counted, or a record made by a foreign or
// careless creator.
class TestSegment : public BaseSharedMemory {
 public:
  TestSegment(const std::string& name, std::uint32_t size) {
    SetName(name.c_str());
    m_size = size;
  }
  ~TestSegment() { Close(); }
  TestSegment(const TestSegment&) = delete;
  TestSegment& operator=(const TestSegment&) = delete;
  TrnSeqData* Seq() const { return static_cast<TrnSeqData*>(GetView()); }
};

// ENOENT and ERROR_FILE_NOT_FOUND are both 2: the path separator tells.
bool OnWindows() { return platform::PathSeparator() == '\\'; }

class OrogridDlg : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::UseResourceTable(OrogridResources());
    m_mapPath =
        (std::filesystem::temp_directory_path() / (UniqueName("orogrid_map_") + ".bmp")).string();
    ASSERT_TRUE(testmap::Write(m_mapPath.c_str()));
    m_segment = UniqueName("OrogridDlgTest");
    // The simulation's side of the record, attached first so the record
    // outlives the dialogs of each test: through the library, or as a plain
    // attacher that writes the simulation's companion by hand.
    if (m_simulationByHand) {
      m_recordHolder = std::make_unique<CTrnShm>(m_segment.c_str());
      ASSERT_TRUE(m_recordHolder->IsConnected()) << m_recordHolder->GetErrorText();
    } else {
      m_sim = std::make_unique<client::CTrnSim>();
      ASSERT_EQ(OROGRID_OK, m_sim->Open(m_segment.c_str(), true)) << m_sim->LastError();
    }
    // The server's side of the record as the test looks at it and prepares
    // it, and the record's own fields for the tests of foreign writers.
    m_view = std::make_unique<TestSegment>(m_segment, trn::kRecordSize);
    ASSERT_TRUE(m_view->OpenAndMap()) << m_view->GetErrorText();
    m_rec = static_cast<TrnShmData*>(m_view->GetView());
  }

  void TearDown() override {
    platform::SetTimerStartHook(nullptr);
    platform::SetShmNameFault(nullptr, 0);
    platform::SetSegmentHoldFault(0);
    if (m_dlg != nullptr) {
      m_dlg->OnDestroy();
    }
    m_dlg.reset();
    m_rec = nullptr;
    m_view.reset();
    m_sim.reset();
    m_recordHolder.reset();
    // Processes that were not the last to leave keep their handles until
    // they end; the test's own segment name goes with the test.
    platform::ShmRemoveName(m_segment.c_str());
    platform::ShmRemoveName(Companion().c_str());
    platform::ShmRemoveName((m_segment + trn::kSimNameSuffix).c_str());
    std::error_code ignored;
    std::filesystem::remove(m_mapPath, ignored);
  }

  // A started dialog (OnInitDialog has run the server start-up).
  COrogridDlg& Start(const char* mapPath = nullptr) {
    m_dlg = std::make_unique<COrogridDlg>(nullptr, m_segment.c_str(),
                                          mapPath != nullptr ? mapPath : m_mapPath.c_str());
    m_dlg->OnInitDialog();
    return *m_dlg;
  }

  // The simulation beats with every tick, as a live one does between its
  // frames, however long the test's ticks take.
  void Tick(int count = 1) {
    for (int i = 0; i < count; ++i) {
      if (m_sim != nullptr) {
        m_sim->Beat();
      }
      m_dlg->OnTimer(COrogridDlg::kTimerId);
    }
  }

  std::string Companion() const { return m_segment + trn::kSeqNameSuffix; }

  // One frame of the simulation: the aircraft at (latitude, longitude).
  void Place(double latitude, double longitude, double heading = 0.0) {
    ASSERT_NE(nullptr, m_sim);
    ASSERT_EQ(OROGRID_OK,
              m_sim->Write(latitude, longitude, heading, std::numeric_limits<double>::quiet_NaN()))
        << m_sim->LastError();
  }
  // The simulation's run state as one frame.
  void SetState(std::int32_t state) {
    ASSERT_NE(nullptr, m_sim);
    ASSERT_EQ(OROGRID_OK, m_sim->SetState(state)) << m_sim->LastError();
  }

  std::string m_mapPath;
  std::string m_segment;
  bool m_simulationByHand = false;  // set by fixtures that play the companion themselves
  std::unique_ptr<client::CTrnSim> m_sim;
  std::unique_ptr<CTrnShm> m_recordHolder;
  std::unique_ptr<TestSegment> m_view;
  TrnShmData* m_rec = nullptr;
  std::unique_ptr<COrogridDlg> m_dlg;
};

TEST(OrogridDlgFormat, StatusLine1) {
  struct Case {
    double latitude, longitude;
    int elevation;
    std::uint32_t colour;
    int cellId, subX, subY;
    const char* expected;
  };
  const Case cases[] = {
      {45.5, -33.25, 123, 0x000A0B0C, 3601440, 1, 2,
       "Lat: 45.500 Lon:-33.250  Elevation  123 m   403 ft 000A0B0C ID>3601440 x1 y2"},
      {0.0, 0.0, -1, 0, 0, 0, 0,
       "Lat:  0.000 Lon:  0.000  Elevation   -1 m    -3 ft 00000000 ID>0 x0 y0"},
      {-89.9999, 179.9996, 8848, 0x00FFFFFF, -29488, 2, 0,
       "Lat:-90.000 Lon: 180.000  Elevation  8848 m  29028 ft 00FFFFFF ID>-29488 x2 y0"},
  };
  for (const Case& c : cases) {
    char line[COrogridDlg::kStatusLine1Size];
    COrogridDlg::FormatStatusLine1(line, c.latitude, c.longitude, c.elevation, c.colour, c.cellId,
                                   c.subX, c.subY);
    EXPECT_STREQ(c.expected, line);
  }
  char line[COrogridDlg::kStatusLine1Size];
  COrogridDlg::FormatStatusLine1(line, 1.0, 2.0, -1, 0, 0, 0, 0);
  EXPECT_NE(std::string(line).find("Elevation   -1 m    -3 ft"), std::string::npos);
  COrogridDlg::FormatStatusLine1(line, 1.0, 2.0, 8848, 0, 0, 0, 0);
  EXPECT_NE(std::string(line).find(" 8848 m  29028 ft"), std::string::npos);
  // A hostile position cannot overrun the line.
  COrogridDlg::FormatStatusLine1(line, 1e308, -1e308, 0, 0, 0, 0, 0);
  EXPECT_LT(std::strlen(line), sizeof(line));
}

TEST(OrogridDlgFormat, FeetTruncateTowardZeroAndStayInRange) {
  EXPECT_EQ(-3, COrogridDlg::MetresToFeet(-1));
  EXPECT_EQ(29028, COrogridDlg::MetresToFeet(8848));
  EXPECT_EQ(403, COrogridDlg::MetresToFeet(123));
  EXPECT_EQ(-32841, COrogridDlg::MetresToFeet(-10010));
  EXPECT_EQ(2147483647, COrogridDlg::MetresToFeet(2000000000));
  EXPECT_EQ(-2147483647 - 1, COrogridDlg::MetresToFeet(-2000000000));
}

TEST_F(OrogridDlg, StartUpSeedsRecordAndStartsTimer) {
  m_rec->coarseSizeX = 0;
  m_rec->updateCount = 77;
  COrogridDlg& dlg = Start();
  EXPECT_TRUE(dlg.ServerReady());
  EXPECT_TRUE(dlg.IsTimerRunning(COrogridDlg::kTimerId));
  EXPECT_EQ(2, dlg.MinimiseCount());
  EXPECT_EQ(0, m_rec->updateCount);
  EXPECT_EQ(2, m_rec->userCount);
  const std::int32_t dims[10] = {m_rec->coarseSizeX,  m_rec->coarseSizeY, m_rec->fineSizeX,
                                 m_rec->fineSizeY,    m_rec->subDivX,     m_rec->subDivY,
                                 m_rec->fineCentreX,  m_rec->fineCentreY, m_rec->coarseCentreX,
                                 m_rec->coarseCentreY};
  const std::int32_t expected[10] = {150, 150, 17, 17, 3, 3, 8, 8, 75, 75};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(expected[i], dims[i]) << "grid field " << i;
  }
  EXPECT_DOUBLE_EQ(1.0 / 3.0, m_rec->subCellLatSpan);
  EXPECT_DOUBLE_EQ(1.0 / 3.0, m_rec->subCellLonSpan);
  EXPECT_STREQ("Loading Kt Orogrid Map", dlg.StatusLine1());
  EXPECT_STREQ("", dlg.StatusLine2());
  EXPECT_EQ(0, dlg.Phase());
  EXPECT_EQ(0, dlg.LossCountdown());
  EXPECT_NE(nullptr, dlg.Icon());

  platform::CSystemMenu* menu = dlg.GetSystemMenu();
  ASSERT_NE(nullptr, menu);
  ASSERT_EQ(2, menu->ItemCount());
  EXPECT_STREQ("", menu->ItemText(0));
  EXPECT_STREQ("&About Orogrid...", menu->ItemText(1));
  EXPECT_EQ(static_cast<unsigned>(IDM_ABOUTBOX), menu->CommandForKey('a'));
}

TEST_F(OrogridDlg, WaitingRunningAndEarlyLossTexts) {
  COrogridDlg& dlg = Start();
  SetState(trn::kSimulationWaiting);
  Tick();
  EXPECT_STREQ("Awaiting simulation $Revision: 1.1.0", dlg.StatusLine2());
  EXPECT_STREQ(dlg.StatusLine2(), dlg.GetDlgItemText(IDC_STATUS_LINE2));
  EXPECT_STREQ(dlg.StatusLine1(), dlg.GetDlgItemText(IDC_STATUS_LINE1));
  // The countdown starts at 0: until the first check a running simulation
  // shows the loss text with 0.
  SetState(1);
  Tick(9);
  EXPECT_STREQ("Simulation lost -> preparing to shut down 0", dlg.StatusLine2());
  Tick();  // tick 11: first loss check
  EXPECT_EQ(10, dlg.LossCountdown());
  Tick();
  EXPECT_STREQ("Running", dlg.StatusLine2());
  EXPECT_FALSE(dlg.IsModalEnded());
}

TEST_F(OrogridDlg, PhasesComputeCellSizesOnTicksOneToThree) {
  Place(0.0, 0.0, 0.0);
  COrogridDlg& dlg = Start();
  const CTerrainEngine& t = dlg.Terrain();
  const double lon0 = t.MetresPerPixelLon();
  const double lat0 = t.MetresPerPixelLat();
  const double heading0 = t.MetresPerPixelHeading();
  ASSERT_GE(heading0, 1.0);

  Place(60.0, 10.0, 90.0);
  Tick();  // tick 1: publishes the start-up size, then phase 1
  EXPECT_DOUBLE_EQ(1.0 / heading0, m_rec->pixelsPerMetre);
  EXPECT_DOUBLE_EQ(t.GetPixelWidthMetres(60.0), t.MetresPerPixelLon());
  EXPECT_NE(lon0, t.MetresPerPixelLon());
  EXPECT_EQ(lat0, t.MetresPerPixelLat());
  EXPECT_EQ(heading0, t.MetresPerPixelHeading());
  Tick();  // tick 2
  EXPECT_DOUBLE_EQ(t.GetPixelHeightMetres(60.0), t.MetresPerPixelLat());
  EXPECT_EQ(heading0, t.MetresPerPixelHeading());
  EXPECT_DOUBLE_EQ(1.0 / heading0, m_rec->pixelsPerMetre);
  Tick();  // tick 3
  const double heading3 = t.MetresPerPixelHeading();
  EXPECT_DOUBLE_EQ(
      CTerrainEngine::GetPixelSizeAlongHeading(90.0, t.MetresPerPixelLat(), t.MetresPerPixelLon()),
      heading3);
  EXPECT_DOUBLE_EQ(1.0 / heading0, m_rec->pixelsPerMetre);  // published before phase 3
  Tick();                                                   // tick 4 publishes it
  EXPECT_DOUBLE_EQ(1.0 / heading3, m_rec->pixelsPerMetre);
  EXPECT_EQ(4, dlg.Phase());
}

TEST_F(OrogridDlg, LostBeforeStartUpEndsOnTickEleven) {
  SetState(trn::kSimulationLost);
  COrogridDlg& dlg = Start();
  Tick(10);
  EXPECT_FALSE(dlg.IsModalEnded());
  EXPECT_STREQ("Simulation lost -> preparing to shut down 0", dlg.StatusLine2());
  Tick();
  EXPECT_TRUE(dlg.IsModalEnded());
  EXPECT_EQ(0, dlg.ModalResult());
  EXPECT_EQ(-1, dlg.LossCountdown());
}

// The loss may start at any point of the eleven-tick cycle: the dialog ends
// 111 to 121 ticks after the first tick that sees the lost state.
class OrogridDlgLoss : public OrogridDlg, public ::testing::WithParamInterface<int> {};

TEST_P(OrogridDlgLoss, CountdownEndsTheDialog) {
  SetState(5);
  COrogridDlg& dlg = Start();
  Tick(22 + GetParam());
  ASSERT_STREQ("Running", dlg.StatusLine2());
  SetState(trn::kSimulationLost);
  int ticks = 0;
  bool sawNine = false;
  bool sawZero = false;
  while (!dlg.IsModalEnded() && ticks < 200) {
    Tick();
    ++ticks;
    const std::string line2 = dlg.StatusLine2();
    if (line2 == "Simulation lost -> preparing to shut down 9") {
      sawNine = true;
    }
    if (line2 == "Simulation lost -> preparing to shut down 0") {
      sawZero = true;
    }
    if (!sawNine) {
      EXPECT_EQ("Running", line2) << "tick " << ticks;
    }
  }
  EXPECT_TRUE(sawNine);
  EXPECT_TRUE(sawZero);
  EXPECT_GE(ticks, 111);
  EXPECT_LE(ticks, 121);
  EXPECT_EQ(0, dlg.ModalResult());
}

INSTANTIATE_TEST_SUITE_P(EveryPhase, OrogridDlgLoss, ::testing::Range(0, 11));

TEST_F(OrogridDlg, ReturnToRunningRestoresCountdown) {
  SetState(5);
  COrogridDlg& dlg = Start();
  Tick(11);
  SetState(trn::kSimulationLost);
  Tick(33);  // three checks: 9, 8, 7
  EXPECT_EQ(7, dlg.LossCountdown());
  // The line is written before the tick's check.
  EXPECT_STREQ("Simulation lost -> preparing to shut down 8", dlg.StatusLine2());
  SetState(5);
  Tick(10);
  EXPECT_EQ(7, dlg.LossCountdown());  // no check yet
  Tick();
  EXPECT_EQ(10, dlg.LossCountdown());
  Tick();
  EXPECT_STREQ("Running", dlg.StatusLine2());
  // Waiting also resets the countdown.
  SetState(trn::kSimulationLost);
  Tick(11);
  EXPECT_EQ(9, dlg.LossCountdown());
  SetState(trn::kSimulationWaiting);
  Tick(11);
  EXPECT_EQ(10, dlg.LossCountdown());
  EXPECT_STREQ("Awaiting simulation $Revision: 1.1.0", dlg.StatusLine2());
  EXPECT_FALSE(dlg.IsModalEnded());
}

// The simulation's companion, claimed by the test as a simulation would,
// with a first frame; the heartbeat as the test sets it (deliberately by
// hand: the library beats only with the clock of now).
class OrogridDlgSim : public OrogridDlg {
 protected:
  OrogridDlgSim() { m_simulationByHand = true; }
  void Claim(double latitude, double longitude, std::int32_t state) {
    m_simShm = std::make_unique<CTrnSimShm>(m_segment.c_str());
    ASSERT_EQ(CTrnSimShm::ClaimResult::kClaimed, m_simShm->Claim()) << m_simShm->GetErrorText();
    m_simShm->Start(TrnSimFrame{latitude, longitude, 0.0, 0.0, state, 0}, 1);
  }
  void Frame(double latitude, double longitude, std::int32_t state) {
    TrnSimData* sim = m_simShm->Data();
    m_simShm->BeginFrame();
    TrnSimStore(sim->latitude, latitude);
    TrnSimStore(sim->longitude, longitude);
    TrnSimStore(sim->simulationState, state);
    m_simShm->EndFrame();
  }
  // A beat `ageSeconds` ago.
  void BeatAgo(double ageSeconds) {
    m_simShm->Beat(platform::MonotonicNanoseconds() - static_cast<std::int64_t>(ageSeconds * 1e9));
  }
  void TearDown() override {
    m_simShm.reset();
    OrogridDlg::TearDown();
  }
  std::unique_ptr<CTrnSimShm> m_simShm;
};

// The record's own fields may be half written or stale (a foreign writer);
// while a simulation keeps its companion the server goes by its frames.
TEST_F(OrogridDlgSim, FramesOfTheCompanionWinOverTheRecordsFields) {
  Claim(10.5, 20.5, 5);
  BeatAgo(0.0);
  // The record's own fields as a foreign writer leaves them.
  m_rec->aircraftLatitude = 60.0;
  m_rec->aircraftLongitude = 10.0;
  m_rec->simulationState = trn::kSimulationLost;
  COrogridDlg& dlg = Start();
  Tick(12);
  EXPECT_EQ(10.5, dlg.Terrain().Latitude());
  EXPECT_EQ(200 * 10000 + 79, m_rec->aircraftCellId);
  EXPECT_NE(nullptr, std::strstr(dlg.StatusLine1(), "Lat: 10.500 Lon: 20.500"))
      << dlg.StatusLine1();
  EXPECT_STREQ("Running", dlg.StatusLine2());
  Frame(-30.5, 40.5, 5);
  BeatAgo(0.0);
  Tick();
  EXPECT_EQ(-30.5, dlg.Terrain().Latitude());
  // Without the simulation the record's fields count again.
  m_simShm->Release();
  Tick();
  EXPECT_EQ(60.0, dlg.Terrain().Latitude());
  Tick(11);
  EXPECT_EQ(9, dlg.LossCountdown());
}

// A simulation that beat and fell silent (killed, hung) never writes lost:
// the server says why and counts down as for the lost state, and a beat
// before the end stops the countdown.
TEST_F(OrogridDlgSim, SilentSimulationIsLostAndCountsDown) {
  Claim(10.5, 20.5, 5);
  BeatAgo(0.0);
  COrogridDlg& dlg = Start();
  Tick(22);
  ASSERT_STREQ("Running", dlg.StatusLine2());
  BeatAgo(trn::kSimSilentSeconds - 0.5);
  Tick(11);
  EXPECT_STREQ("Running", dlg.StatusLine2());
  EXPECT_EQ(10, dlg.LossCountdown());
  BeatAgo(trn::kSimSilentSeconds + 0.1);
  Tick();
  EXPECT_STREQ("Simulation lost: no heartbeat for 5 s -> preparing to shut down 10",
               dlg.StatusLine2());
  Tick(32);  // three checks
  EXPECT_EQ(7, dlg.LossCountdown());
  BeatAgo(0.0);
  Tick(11);
  EXPECT_EQ(10, dlg.LossCountdown());
  Tick();
  EXPECT_STREQ("Running", dlg.StatusLine2());

  BeatAgo(trn::kSimSilentSeconds + 1.0);
  int ticks = 0;
  while (!dlg.IsModalEnded() && ticks < 200) {
    Tick();
    ++ticks;
    EXPECT_NE(nullptr, std::strstr(dlg.StatusLine2(), "no heartbeat")) << "tick " << ticks;
  }
  EXPECT_TRUE(dlg.IsModalEnded());
  EXPECT_GE(ticks, 111);
  EXPECT_LE(ticks, 121);
  EXPECT_EQ(0, dlg.ModalResult());
}

// A companion whose simulation never beat: the state alone decides, as it
// always did.
TEST_F(OrogridDlgSim, SimulationThatNeverBeatIsNeverTakenForSilent) {
  Claim(10.5, 20.5, 5);
  COrogridDlg& dlg = Start();
  Tick(150);
  EXPECT_FALSE(dlg.IsModalEnded());
  EXPECT_STREQ("Running", dlg.StatusLine2());
  Frame(10.5, 20.5, trn::kSimulationLost);
  Tick(12);
  EXPECT_EQ(9, dlg.LossCountdown());
  EXPECT_STREQ("Simulation lost -> preparing to shut down 9", dlg.StatusLine2());
}

TEST_F(OrogridDlg, PublishesFieldsAndGridsFromTheMap) {
  // Centre of pixel (146, 100): sub-cell (1, 1), whose fine point carries
  // the coarse elevation unchanged; far enough from the map's edges for the
  // whole grid window.
  Place(-10.5, -33.5, 0.0);
  SetState(1);
  COrogridDlg& dlg = Start();
  Tick(22);  // two cycles: the second grid is all around the aircraft
  m_rec->cycleFlagA = 7;
  m_rec->cycleFlagB = 9;
  const std::int32_t before = m_rec->updateCount;
  Tick();
  const int x = 146;
  const int y = 100;
  EXPECT_EQ(before + 1, m_rec->updateCount);
  EXPECT_EQ(23, m_rec->updateCount);
  EXPECT_EQ(testmap::Elevation(x, y), m_rec->aircraftElevation);
  EXPECT_EQ(0, m_rec->cycleFlagA);
  EXPECT_EQ(0, m_rec->cycleFlagB);
  EXPECT_EQ(1, m_rec->aircraftSubX);
  EXPECT_EQ(1, m_rec->aircraftSubY);
  EXPECT_EQ(x, m_rec->aircraftPixelX);
  EXPECT_EQ(y, m_rec->aircraftPixelY);
  EXPECT_EQ(x * 10000 + y, m_rec->aircraftCellId);
  EXPECT_DOUBLE_EQ(1.0 / dlg.Terrain().MetresPerPixelHeading(), m_rec->pixelsPerMetre);
  EXPECT_GT(m_rec->pixelsPerMetre, 0.0);
  EXPECT_LE(m_rec->pixelsPerMetre, 1.0);
  EXPECT_EQ(testmap::Elevation(x, y), m_rec->coarseGrid[75][75].elevation);
  EXPECT_EQ(testmap::Elevation(x + 3, y - 2), m_rec->coarseGrid[78][73].elevation);
  EXPECT_EQ(testmap::Elevation(x, y), m_rec->fineGrid[8][8][1][1].elevation);

  char expected[COrogridDlg::kStatusLine1Size];
  COrogridDlg::FormatStatusLine1(expected, -10.5, -33.5, testmap::Elevation(x, y),
                                 testmap::Colour(testmap::Elevation(x, y)), x * 10000 + y, 1, 1);
  EXPECT_STREQ(expected, dlg.StatusLine1());
}

TEST_F(OrogridDlg, GridsArePublishedEveryEleventhTick) {
  Place(10.5, 20.5);
  Start();
  const std::int32_t before = m_rec->coarseGrid[75][75].cellId;
  Tick(10);
  EXPECT_EQ(before, m_rec->coarseGrid[75][75].cellId);
  Tick();
  // The first cycle's band around column 75 was taken at the aircraft's
  // pixel (200, 79).
  EXPECT_EQ(200 * 10000 + 79, m_rec->coarseGrid[75][75].cellId);
  Place(11.5, 21.5);
  Tick(10);
  EXPECT_EQ(200 * 10000 + 79, m_rec->coarseGrid[75][75].cellId);
  Tick();
  EXPECT_EQ(201 * 10000 + 78, m_rec->coarseGrid[75][75].cellId);
}

TEST_F(OrogridDlg, NotConnectedNeverTouchesTheRecord) {
  // Another interface version in the segment: the dialog maps it, does not
  // count itself and stays idle.
  std::memcpy(m_rec->interfaceVersion, " TrnInterfaceShm $Revision: 9.9.9", 34);
  m_rec->updateCount = 1234;
  m_rec->userCount = 1;
  COrogridDlg& dlg = Start();
  EXPECT_FALSE(dlg.ServerReady());
  EXPECT_EQ(nullptr, dlg.ShmData());
  EXPECT_FALSE(dlg.IsTimerRunning(COrogridDlg::kTimerId));
  EXPECT_STREQ("Sorry :: Shared Memory Version Mismatch\nPlease rebuild software",
               dlg.StatusLine1());
  EXPECT_STREQ(dlg.StatusLine1(), dlg.GetDlgItemText(IDC_STATUS_LINE1));
  EXPECT_STREQ("", dlg.StatusLine2());
  EXPECT_EQ(nullptr, dlg.SeqShm());  // a server that cannot serve holds nothing
  Tick(12);
  EXPECT_STREQ("Awaiting Shared memory connection", dlg.StatusLine1());
  EXPECT_STREQ("", dlg.StatusLine2());
  EXPECT_EQ(1234, m_rec->updateCount);
  EXPECT_EQ(1, m_rec->userCount);
  EXPECT_EQ(0, m_rec->coarseSizeX);
  EXPECT_FALSE(dlg.IsModalEnded());
  dlg.OnDestroy();
  EXPECT_EQ(nullptr, dlg.TrnShm());
  EXPECT_EQ(1, m_rec->userCount);
  m_dlg.reset();
}

TEST_F(OrogridDlg, MissingMapShowsReasonAndStaysIdle) {
  const std::string missing = m_mapPath + ".missing";
  m_rec->updateCount = 55;
  COrogridDlg& dlg = Start(missing.c_str());
  EXPECT_FALSE(dlg.ServerReady());
  EXPECT_FALSE(dlg.IsTimerRunning(COrogridDlg::kTimerId));
  const std::string line1 = dlg.StatusLine1();
  EXPECT_EQ(0u, line1.find("Sorry :: COrogridDlg::LoadPicture\n" + missing + "\n")) << line1;
  EXPECT_GT(line1.size(),
            std::string("Sorry :: COrogridDlg::LoadPicture\n\n").size() + missing.size());
  EXPECT_EQ(0, m_rec->updateCount);
  EXPECT_EQ(0, m_rec->coarseSizeX);  // grid fields untouched
  EXPECT_EQ(2, m_rec->userCount);    // the connection stays until destroyed
  Tick();
  EXPECT_STREQ("Awaiting Shared memory connection", dlg.StatusLine1());
  EXPECT_EQ(0, m_rec->updateCount);
}

TEST_F(OrogridDlg, RefusedTimerLeavesLoadingText) {
  platform::SetTimerStartHook(&RefuseTimer);
  COrogridDlg& dlg = Start();
  EXPECT_FALSE(dlg.ServerReady());
  EXPECT_FALSE(dlg.IsTimerRunning(COrogridDlg::kTimerId));
  EXPECT_STREQ("Loading Kt Orogrid Map", dlg.StatusLine1());
  EXPECT_EQ(0, m_rec->coarseSizeX);
}

TEST_F(OrogridDlg, DestroyReleasesBeforeTheTimerStops) {
  COrogridDlg& dlg = Start();
  ASSERT_EQ(2, m_rec->userCount);
  Tick(3);
  const std::int32_t count = m_rec->updateCount;
  dlg.OnDestroy();
  EXPECT_EQ(1, m_rec->userCount);
  EXPECT_FALSE(dlg.ServerReady());
  EXPECT_EQ(nullptr, dlg.ShmData());
  EXPECT_FALSE(dlg.IsTimerRunning(COrogridDlg::kTimerId));
  Tick();  // a late message after destruction reads and writes nothing
  EXPECT_EQ(count, m_rec->updateCount);
  EXPECT_STREQ("Awaiting Shared memory connection", dlg.StatusLine1());
  dlg.OnDestroy();  // a second release does nothing
  EXPECT_EQ(1, m_rec->userCount);
  m_dlg.reset();
}

TEST_F(OrogridDlg, SystemCloseEndsTheDialog) {
  COrogridDlg& dlg = Start();
  dlg.OnSysCommand(0xF020, 0);  // minimise: not a close
  EXPECT_FALSE(dlg.IsModalEnded());
  dlg.OnSysCommand(platform::kScClose, 0);
  EXPECT_TRUE(dlg.IsModalEnded());
  EXPECT_EQ(dlg.Icon(), dlg.OnQueryDragIcon());
}

// Regression: a refused segment left both lines empty and the server idle
// without a word. The reason now shows on status line 1; the refusal itself
// is unchanged (nothing counted, nothing written).
TEST_F(OrogridDlg, RefusedSegmentShowsTheReason) {
  struct Case {
    const char* what;
    bool posixOnly;
    const char* expected;  // after "Sorry :: Shared memory <name> refused: "
    const char* refused;   // which segment the reason names: the record or its companion
  };
  // The seam refuses every segment: the record, looked at first, is named.
  const Case cases[] = {
      {"foreign owner", false, "owned by another user", ""},
      {"writable by group", true, "writable by group or others", ""},
      {"too small", false, "smaller than 692672 bytes", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.posixOnly && OnWindows()) {
      continue;
    }
    const std::string name = UniqueName("OroRefused");
    const std::uint32_t size = std::string(c.what) == "too small" ? 4096 : trn::kRecordSize;
    TestSegment creator(name, size);
    ASSERT_TRUE(creator.CreateAndMap()) << creator.GetErrorText();
    if (std::string(c.what) == "writable by group") {
      ASSERT_TRUE(testsupport::ShmLoosenModeForTest(name.c_str()));
    }
    if (std::string(c.what) == "foreign owner") {
      platform::SetShmFault(platform::ShmFault::kForeignOwner, 0);
    }
    COrogridDlg dlg(nullptr, name.c_str(), m_mapPath.c_str());
    dlg.OnInitDialog();
    platform::SetShmFault(platform::ShmFault::kNone, 0);
    EXPECT_FALSE(dlg.ServerReady());
    EXPECT_EQ(nullptr, dlg.ShmData());
    EXPECT_EQ("Sorry :: Shared memory " + name + c.refused + " refused: " + c.expected,
              std::string(dlg.StatusLine1()));
    EXPECT_STREQ(dlg.StatusLine1(), dlg.GetDlgItemText(IDC_STATUS_LINE1));
    EXPECT_STREQ("", dlg.StatusLine2());
    EXPECT_FALSE(dlg.IsTimerRunning(COrogridDlg::kTimerId));
    // Nothing of the refused segment was written, not even the count.
    for (std::uint32_t i = 0; i < creator.MappedSize() && i < size; ++i) {
      if (static_cast<unsigned char*>(creator.GetView())[i] != 0) {
        ADD_FAILURE() << "byte " << i << " written";
        break;
      }
    }
    dlg.OnDestroy();
    platform::ShmRemoveName(name.c_str());
    platform::ShmRemoveName((name + trn::kSeqNameSuffix).c_str());
  }
}

// What a map-read hook saw of the companion while the tick read the map.
struct OddWatch {
  TrnSeqData* seq;
  int reads = 0;
  int odd = 0;
  int open = 0;  // reads while the companion said a tick is in progress
};

std::uint32_t SequenceOf(TrnSeqData* seq) {
  return std::atomic_ref<std::uint32_t>(seq->sequence).load(std::memory_order_acquire);
}

// The regression of an odd window that covered the whole terrain update:
// readers spun through every pixel read, file check and page release of
// the tick. The map is read while the sequence is even; only the record's
// writes lie inside the odd step, still one odd and one even step a tick.
TEST_F(OrogridDlg, MapIsReadOutsideTheOddStep) {
  Place(10.5, 20.5);
  COrogridDlg& dlg = Start();
  ASSERT_NE(nullptr, dlg.SeqShm());
  TestSegment view(Companion(), trn::kSeqRecordSize);
  ASSERT_TRUE(view.OpenAndMap()) << view.GetErrorText();
  OddWatch watch{view.Seq()};
  dlg.Terrain().SetMapReadHook(
      [](void* context) {
        auto* w = static_cast<OddWatch*>(context);
        ++w->reads;
        w->odd += static_cast<int>(SequenceOf(w->seq) & 1U);
        w->open += static_cast<int>(w->seq->tickOpen == 1U);
      },
      &watch);
  const std::uint32_t before = SequenceOf(view.Seq());
  Tick(22);
  dlg.Terrain().SetMapReadHook(nullptr, nullptr);
  EXPECT_EQ(22, watch.reads);
  EXPECT_EQ(0, watch.odd) << "map reads inside the odd step";
  EXPECT_EQ(22, watch.open);
  EXPECT_EQ(0U, view.Seq()->tickOpen);
  EXPECT_EQ(before + 44U, SequenceOf(view.Seq()));
  EXPECT_EQ(2U, view.Seq()->publicationCount);
  EXPECT_EQ(200 * 10000 + 79, m_rec->coarseGrid[75][75].cellId);
}

// A reader asking all through a tick its map holds for 1.2 s.
struct SlowTick {
  orogrid_client* client;
  int calls = 0;
  int gone = 0;
};

// The regression of liveness that hung on one slow tick: the heartbeat came
// only as a tick began, so a tick held 1.2 s by its map reads (a cold or
// remote disk) made every client report the server gone. Asked all through
// such a tick, the server is alive.
TEST_F(OrogridDlg, SlowTickIsNotTakenForAGoneServer) {
  Place(10.5, 20.5);
  COrogridDlg& dlg = Start();
  ASSERT_NE(nullptr, dlg.SeqShm());
  Tick(11);
  orogrid_client* client = nullptr;
  ASSERT_EQ(OROGRID_OK, orogrid_open(m_segment.c_str(), 0, &client));
  SlowTick slow{client};
  dlg.Terrain().SetMapReadHook(
      [](void* context) {
        auto* s = static_cast<SlowTick*>(context);
        const long long end = testsupport::NowMs() + 1200;
        while (testsupport::NowMs() < end) {
          orogrid_status status{};
          if (orogrid_status_read(s->client, &status, sizeof status) == OROGRID_OK &&
              status.server_alive == OROGRID_SERVER_GONE) {
            ++s->gone;
          }
          double metres = 0.0;
          if (orogrid_elevation(s->client, 10.5, 20.5, OROGRID_NEAREST, &metres, nullptr) ==
              OROGRID_E_SERVER_GONE) {
            ++s->gone;
          }
          ++s->calls;
          testsupport::SleepMs(40);
        }
      },
      &slow);
  Tick();
  dlg.Terrain().SetMapReadHook(nullptr, nullptr);
  EXPECT_GE(slow.calls, 10);
  EXPECT_EQ(0, slow.gone) << "the server was reported gone during a slow tick";
  orogrid_status status{};
  EXPECT_EQ(OROGRID_OK, orogrid_status_read(client, &status, sizeof status));
  EXPECT_EQ(OROGRID_SERVER_ALIVE, status.server_alive);
  orogrid_close(client);
}

TEST_F(OrogridDlg, CompanionCarriesTheServerAndItsTicks) {
  Place(10.5, 20.5);
  COrogridDlg& dlg = Start();
  ASSERT_NE(nullptr, dlg.SeqShm());
  TestSegment view(Companion(), trn::kSeqRecordSize);
  ASSERT_TRUE(view.OpenAndMap()) << view.GetErrorText();
  const TrnSeqData& seq = *view.Seq();
  EXPECT_EQ(trn::kSeqMagic, seq.magic);
  EXPECT_EQ(trn::kSeqLayoutVersion, seq.layoutVersion);
  EXPECT_EQ(platform::ThisProcessId(), seq.serverProcessId);
  EXPECT_EQ(testmap::kWidth, seq.mapWidth);
  EXPECT_EQ(testmap::kHeight, seq.mapHeight);
  EXPECT_EQ(1, seq.pixelsPerDegreeX);
  EXPECT_EQ(1, seq.pixelsPerDegreeY);
  EXPECT_EQ(120u, seq.tickPeriodMillis);
  EXPECT_EQ(0u, seq.publicationCount);
  EXPECT_EQ(0u, seq.sequence & 1u);

  // One odd and one even step per tick; a publication every eleventh tick.
  std::uint32_t sequence = seq.sequence;
  std::int64_t heartbeat = seq.heartbeatNs;
  for (int tick = 1; tick <= 23; ++tick) {
    Tick();
    EXPECT_EQ(sequence + 2u, seq.sequence) << "tick " << tick;
    EXPECT_GE(seq.heartbeatNs, heartbeat) << "tick " << tick;
    sequence = seq.sequence;
    heartbeat = seq.heartbeatNs;
    EXPECT_EQ(static_cast<std::uint64_t>(tick / 11), seq.publicationCount) << "tick " << tick;
  }
  EXPECT_GT(seq.heartbeatNs, 0);
  EXPECT_GT(seq.lastPublicationNs, 0);
  EXPECT_LE(seq.lastPublicationNs, seq.heartbeatNs + 1000000000);
  EXPECT_GE(seq.maxTickMicros, seq.lastTickMicros);
  EXPECT_EQ(200 * 10000 + 79, m_rec->coarseGrid[75][75].cellId);  // and the record is served

  // The companion goes with the server; the record stays for its other user.
  dlg.OnDestroy();
  view.Close();
  EXPECT_TRUE(platform::ShmExists(m_segment.c_str()));
  if (!OnWindows()) {  // Win32 keeps a name while the creating process lives
    EXPECT_FALSE(platform::ShmExists(Companion().c_str()));
  }
}

// A second server beside a running one attached to the same record, both
// wrote it: the second must leave it alone and say who serves it.
TEST_F(OrogridDlg, SecondServerIsRefusedAndLeavesTheRecordAlone) {
  COrogridDlg& first = Start();
  Tick(3);
  ASSERT_EQ(2, m_rec->userCount);

  COrogridDlg second(nullptr, m_segment.c_str(), m_mapPath.c_str());
  second.OnInitDialog();
  EXPECT_FALSE(second.ServerReady());
  EXPECT_EQ("Sorry :: " + m_segment + " is already served by process " +
                std::to_string(platform::ThisProcessId()),
            std::string(second.StatusLine1()));
  EXPECT_STREQ(second.StatusLine1(), second.GetDlgItemText(IDC_STATUS_LINE1));
  EXPECT_EQ(nullptr, second.TrnShm());  // never attached: not counted
  EXPECT_EQ(nullptr, second.SeqShm());
  EXPECT_FALSE(second.IsTimerRunning(COrogridDlg::kTimerId));
  EXPECT_EQ(2, m_rec->userCount);
  EXPECT_EQ(3, m_rec->updateCount);
  second.OnTimer(COrogridDlg::kTimerId);  // a stray tick writes nothing
  EXPECT_EQ(3, m_rec->updateCount);
  second.OnDestroy();
  EXPECT_EQ(2, m_rec->userCount);

  // The first serves on, still alone.
  Tick();
  EXPECT_EQ(4, m_rec->updateCount);
  ASSERT_NE(nullptr, first.SeqShm());
  EXPECT_EQ(platform::ThisProcessId(), first.SeqShm()->Data()->serverProcessId);

  // Once it has left, the next server takes over.
  first.OnDestroy();
  COrogridDlg next(nullptr, m_segment.c_str(), m_mapPath.c_str());
  next.OnInitDialog();
  EXPECT_TRUE(next.ServerReady()) << next.StatusLine1();
  EXPECT_NE(nullptr, next.SeqShm());
  next.OnDestroy();
}

// Regression: the hold went with the companion's name, so removing that
// name let a second server make a new companion, take its hold and serve
// the same record beside the first. The record's own hold refuses it.
TEST_F(OrogridDlg, RemovedCompanionNameLetsNoSecondServerIn) {
  COrogridDlg& first = Start();
  Tick(2);
  const std::int32_t users = m_rec->userCount;
  platform::ShmRemoveName(Companion().c_str());  // Win32: nothing, the name stays

  COrogridDlg second(nullptr, m_segment.c_str(), m_mapPath.c_str());
  second.OnInitDialog();
  EXPECT_FALSE(second.ServerReady());
  EXPECT_EQ(0u,
            std::string(second.StatusLine1()).find("Sorry :: " + m_segment + " is already served"))
      << second.StatusLine1();
  EXPECT_EQ(nullptr, second.TrnShm());
  EXPECT_EQ(nullptr, second.SeqShm());
  second.OnTimer(COrogridDlg::kTimerId);
  EXPECT_EQ(2, m_rec->updateCount);
  EXPECT_EQ(users, m_rec->userCount);
  second.OnDestroy();

  first.OnTimer(COrogridDlg::kTimerId);
  EXPECT_EQ(3, m_rec->updateCount);
  first.OnDestroy();
  COrogridDlg next(nullptr, m_segment.c_str(), m_mapPath.c_str());
  next.OnInitDialog();
  EXPECT_TRUE(next.ServerReady()) << next.StatusLine1();
  next.OnDestroy();
}

// Regression: with the companion's name removed, a second server made a
// fresh, empty companion under it (readers could take it for the record's),
// claimed it and counted itself into the record before the record's hold
// turned it away. The record's hold comes first now: a refused server
// creates nothing, and the record and the first server's companion are
// left byte for byte as they were. Also when the record's name leads to
// another object, and when both names were changed: the hold goes with the
// record's name as well as with its object.
TEST_F(OrogridDlg, RefusedSecondServerCreatesAndWritesNothing) {
  struct Case {
    const char* what;
    bool replaceRecord;    // the record's name leads to a new object
    bool removeCompanion;  // the companion's name is removed
  };
  if (OnWindows()) {
    GTEST_SKIP() << "a Win32 name cannot be removed while it is held";
  }
  const Case cases[] = {{"companion name removed", false, true},
                        {"record name replaced", true, false},
                        {"both", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    COrogridDlg& first = Start();
    Tick(2);
    ASSERT_NE(nullptr, first.SeqShm());
    const TrnSeqData* firstSeq = first.SeqShm()->Data();
    std::unique_ptr<CTrnShm> replacement;
    TrnShmData* record = m_rec;
    if (c.replaceRecord) {
      platform::ShmRemoveName(m_segment.c_str());
      replacement = std::make_unique<CTrnShm>(m_segment.c_str());
      ASSERT_TRUE(replacement->CreatedRecord()) << replacement->GetErrorText();
      record = replacement->GetData();
    }
    if (c.removeCompanion) {
      platform::ShmRemoveName(Companion().c_str());
    }
    std::vector<unsigned char> recordBefore(trn::kRecordSize);
    std::memcpy(recordBefore.data(), record, trn::kRecordSize);
    TrnSeqData seqBefore;
    std::memcpy(&seqBefore, firstSeq, sizeof seqBefore);

    // Anything the second server tried to create would fail and show.
    platform::SetShmFault(platform::ShmFault::kCreate, platform::ShmAccessDeniedCode());
    COrogridDlg second(nullptr, m_segment.c_str(), m_mapPath.c_str());
    second.OnInitDialog();
    platform::SetShmFault(platform::ShmFault::kNone, 0);
    EXPECT_FALSE(second.ServerReady());
    EXPECT_EQ(
        0u, std::string(second.StatusLine1()).find("Sorry :: " + m_segment + " is already served"))
        << second.StatusLine1();
    EXPECT_EQ(nullptr, second.TrnShm());
    EXPECT_EQ(nullptr, second.SeqShm());
    if (c.removeCompanion) {
      EXPECT_FALSE(platform::ShmExists(Companion().c_str())) << "a companion was made";
    }
    EXPECT_TRUE(testsupport::SameBytes(recordBefore.data(), record, trn::kRecordSize))
        << "record written";
    EXPECT_TRUE(testsupport::SameBytes(&seqBefore, firstSeq, sizeof seqBefore))
        << "companion written";
    second.OnDestroy();
    EXPECT_TRUE(testsupport::SameBytes(recordBefore.data(), record, trn::kRecordSize))
        << "record written";

    m_dlg->OnDestroy();
    m_dlg.reset();
    replacement.reset();
    platform::ShmRemoveName(Companion().c_str());
  }
}

// A record name too long for its companion's (39 to 42 characters) leaves
// the server without its hold: it serves nothing and says why; 38 serves.
TEST_F(OrogridDlg, RecordNameTooLongForItsCompanionIsNotServed) {
  for (std::size_t length = 38; length <= 42; ++length) {
    SCOPED_TRACE(length);
    std::string name = UniqueName("OroLong");
    name.append(length - name.size(), 'x');
    ASSERT_EQ(length, name.size());
    CTrnShm other(name.c_str());
    ASSERT_TRUE(other.IsConnected()) << other.GetErrorText();
    const std::int32_t users = other.GetData()->userCount;
    COrogridDlg dlg(nullptr, name.c_str(), m_mapPath.c_str());
    dlg.OnInitDialog();
    const std::string line = dlg.StatusLine1();
    if (length == 38) {
      EXPECT_TRUE(dlg.ServerReady()) << line;
    } else {
      EXPECT_FALSE(dlg.ServerReady());
      EXPECT_EQ(0u, line.find("Sorry :: Record name too long for its companion")) << line;
      dlg.OnTimer(COrogridDlg::kTimerId);
      EXPECT_EQ(users, other.GetData()->userCount);
      EXPECT_EQ(0, other.GetData()->updateCount);
    }
    dlg.OnDestroy();
    platform::ShmRemoveName((name + trn::kSeqNameSuffix).c_str());
    platform::ShmRemoveName(name.c_str());
  }
}

// Without the hold, or with a companion others could write, the server
// would share the record with a second one or leave every reader at the
// mercy of other processes: it serves nothing and line 1 says why.
TEST_F(OrogridDlg, WithoutHoldOrWithACompanionOthersCanWriteNothingIsServed) {
  struct Case {
    const char* what;
    // False when not possible here; *kept: a segment to hold meanwhile.
    bool (*spoil)(const std::string& companion, std::unique_ptr<TestSegment>* kept);
    const char* why;
  };
  const Case cases[] = {
      {"companion cannot be made",
       [](const std::string& companion, std::unique_ptr<TestSegment>*) {
         platform::SetShmNameFault(companion.c_str(), platform::ShmAccessDeniedCode());
         return true;
       },
       ""},
      {"hold fails",
       [](const std::string&, std::unique_ptr<TestSegment>*) {
         platform::SetSegmentHoldFault(platform::ShmAccessDeniedCode());
         return true;
       },
       "no server hold on "},
      {"companion writable by its group",
       [](const std::string& companion, std::unique_ptr<TestSegment>* kept) {
         *kept = std::make_unique<TestSegment>(companion, trn::kSeqRecordSize);
         return (*kept)->CreateAndMap() && testsupport::ShmLoosenModeForTest(companion.c_str());
       },
       " refused: writable by group or others"},
      {"companion writable by everyone",
       [](const std::string& companion, std::unique_ptr<TestSegment>* kept) {
         *kept = std::make_unique<TestSegment>(companion, trn::kSeqRecordSize);
         return (*kept)->CreateAndMap() && testsupport::ShmOpenToAllForTest(companion.c_str());
       },
       " refused: writable by group or others"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<TestSegment> kept;
    if (!c.spoil(Companion(), &kept)) {
      platform::ShmRemoveName(Companion().c_str());
      continue;
    }
    const std::int32_t users = m_rec->userCount;
    COrogridDlg& dlg = Start();
    EXPECT_FALSE(dlg.ServerReady());
    EXPECT_EQ(nullptr, dlg.SeqShm());
    EXPECT_EQ(nullptr, dlg.TrnShm());
    const std::string line = dlg.StatusLine1();
    EXPECT_EQ(0u, line.find("Sorry :: ")) << line;
    EXPECT_NE(std::string::npos, line.find(c.why)) << line;
    EXPECT_GT(line.size(), std::string("Sorry :: ").size()) << line;
    Tick(3);
    EXPECT_EQ(0, m_rec->updateCount);
    EXPECT_EQ(users, m_rec->userCount);
    m_dlg->OnDestroy();
    m_dlg.reset();
    platform::SetShmNameFault(nullptr, 0);
    platform::SetSegmentHoldFault(0);
    platform::ShmRemoveName(Companion().c_str());
  }
}

// Regression: a record or companion cut short by another process (ftruncate)
// killed the server with a bus error at its next write. It notices, says
// why on line 1 and stops serving: no more ticks, the holds given back.
TEST_F(OrogridDlg, RecordOrCompanionCutShortStopsTheServerWithTheReason) {
  if (OnWindows()) {
    GTEST_SKIP() << "a mapping cannot be cut short on Windows";
  }
  struct Case {
    const char* what;
    bool companion;
    unsigned bytes;
  };
  const Case cases[] = {
      {"record to nothing", false, 0},
      {"record to its first half", false, trn::kRecordSize / 2},
      {"companion to nothing", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    m_rec = nullptr;
    m_view.reset();
    m_sim.reset();
    platform::ShmRemoveName(m_segment.c_str());
    platform::ShmRemoveName((m_segment + trn::kSimNameSuffix).c_str());
    m_segment = UniqueName("OrogridDlgCut");
    m_sim = std::make_unique<client::CTrnSim>();
    ASSERT_EQ(OROGRID_OK, m_sim->Open(m_segment.c_str(), true)) << m_sim->LastError();
    m_view = std::make_unique<TestSegment>(m_segment, trn::kRecordSize);
    ASSERT_TRUE(m_view->OpenAndMap()) << m_view->GetErrorText();
    m_rec = static_cast<TrnShmData*>(m_view->GetView());
    COrogridDlg& dlg = Start();
    Tick(12);  // a publication of the grids among them
    ASSERT_TRUE(dlg.ServerReady()) << dlg.StatusLine1();
    const std::string cut = c.companion ? Companion() : m_segment;
    ASSERT_TRUE(testsupport::ShmCutForTest(cut.c_str(), c.bytes));
    Tick(12);
    EXPECT_FALSE(dlg.ServerReady());
    const std::string line = dlg.StatusLine1();
    EXPECT_EQ(0u, line.find("Sorry :: ")) << line;
    EXPECT_NE(std::string::npos, line.find("cut short")) << line;
    EXPECT_NE(std::string::npos, line.find(cut)) << line;
    EXPECT_FALSE(dlg.IsTimerRunning(COrogridDlg::kTimerId));
    EXPECT_EQ(nullptr, dlg.SeqShm()) << "the holds are given back";
    Tick();
    EXPECT_EQ(line, dlg.StatusLine1()) << "the reason stays";
    m_dlg->OnDestroy();
    m_dlg.reset();
    platform::ShmRemoveName(Companion().c_str());
  }
}

// A server killed inside a tick leaves an odd sequence and its own fields
// behind; the next server takes the companion over and makes it whole.
TEST_F(OrogridDlg, CompanionLeftByADeadServerIsTakenOver) {
  TestSegment left(Companion(), trn::kSeqRecordSize);
  ASSERT_TRUE(left.CreateAndMap()) << left.GetErrorText();
  TrnSeqData& seq = *left.Seq();
  seq.magic = trn::kSeqMagic;
  seq.layoutVersion = trn::kSeqLayoutVersion;
  seq.sequence = 41;
  seq.serverProcessId = 0x7FFFFFF0u;
  seq.publicationCount = 999;
  seq.maxTickMicros = 123456;

  COrogridDlg& dlg = Start();
  ASSERT_NE(nullptr, dlg.SeqShm());
  EXPECT_EQ(42u, seq.sequence);
  EXPECT_EQ(platform::ThisProcessId(), seq.serverProcessId);
  EXPECT_EQ(0u, seq.publicationCount);
  EXPECT_EQ(0u, seq.maxTickMicros);
  EXPECT_EQ(trn::kSeqMagic, seq.magic);
  Tick();
  EXPECT_EQ(44u, seq.sequence);
}

}  // namespace
