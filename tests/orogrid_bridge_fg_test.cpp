// Real FlightGear through orogrid-bridge, when /usr/games/fgfs is installed
// (scripts/install-deps.sh flightgear); skipped with a message otherwise.
// FlightGear flies the ufo over its bundled scenery of Iceland with the
// shipped protocol file, headless under Xvfb with a D-Bus session; the
// server runs with the test map on the real "TrnShmSpace" (one at a time).
// Checked: the record's position follows the aircraft near 63.95 N 22.3 W,
// and once FlightGear is killed the bridge reports lost and the server
// counts down and ends. FlightGear may take a minute to start and does not
// always start here; the waits are long.
//
// Threading: the test's main thread; the programs run beside it.
#include <gtest/gtest.h>

#include <signal.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "client/orogrid_client.h"
#include "client/orogrid_sim.h"
#include "platform/shared_memory.h"
#include "platform/udp_socket.h"
#include "shm/TrnInterfaceShm.h"
#include "tests/orogrid_test_map.h"
#include "tests/support/TestSupport.h"
#include "tests/support/process.h"
#include "tests/support/server_process.h"

namespace {

using testsupport::NowMs;
using testsupport::SleepMs;

constexpr const char* kFgfs = "/usr/games/fgfs";

TEST(BridgeFlightGear, RealFlightGearDrivesTheServerAndItsKillEndsIt) {
  if (!testsupport::FileExists(kFgfs)) {
    GTEST_SKIP() << kFgfs << " is not installed (scripts/install-deps.sh flightgear installs it)";
  }
  ASSERT_FALSE(platform::ShmExists(trn::kMappingName)) << "another process holds TrnShmSpace";
  e2e::ServerProcess server;
  std::string reason;
  ASSERT_TRUE(server.Start(testmap::Bytes(), true, &reason)) << reason;

  std::uint16_t port = 0;
  {
    platform::CUdpSocket probe;
    ASSERT_TRUE(probe.Bind("127.0.0.1", 0));
    port = probe.LocalPort();
  }
  const std::string portText = std::to_string(port);
  const std::string bridge = testsupport::ProgramPath("orogrid-bridge");
  const char* bridgeArgs[] = {bridge.c_str(),   "--port", portText.c_str(), "--loss-timeout", "3",
                              "--exit-on-loss", nullptr};
  testsupport::ProcessHandle bridgeProcess = 0;
  ASSERT_TRUE(testsupport::StartProcess(bridgeArgs, &bridgeProcess));

  const testsupport::ScratchFolder home("fghome");
  const std::string data = "--data=" OROGRID_SOURCE_DIR "/data/flightgear";
  const std::string generic = "--generic=socket,out,20,127.0.0.1," + portText + ",udp,orogrid";
  const std::string fgHome = "FG_HOME=" + home.Path().string();
  // FlightGear runs under a shell that leaves its process id in a file, so
  // that the test kills FlightGear itself, not the wrappers around it.
  const std::string pidFile = home.File("fgfs.pid");
  const char* fgArgs[] = {"/usr/bin/env",
                          fgHome.c_str(),
                          "dbus-run-session",
                          "--",
                          "xvfb-run",
                          "-a",
                          "-s",
                          "-screen 0 640x480x24",
                          "/bin/sh",
                          "-c",
                          "echo $$ > \"$0\"; exec \"$@\"",
                          pidFile.c_str(),
                          kFgfs,
                          data.c_str(),
                          "--aircraft=ufo",
                          "--lat=63.95",
                          "--lon=-22.30",
                          "--heading=90",
                          "--altitude=3000",
                          "--in-air",
                          "--disable-sound",
                          "--disable-terrasync",
                          "--disable-real-weather-fetch",
                          "--disable-ai-traffic",
                          "--disable-splash-screen",
                          "--fog-fastest",
                          "--disable-clouds",
                          "--timeofday=noon",
                          "--max-fps=30",
                          "--prop:/sim/rendering/shaders/quality-level=0",
                          "--geometry=320x240",
                          generic.c_str(),
                          nullptr};
  testsupport::ProcessHandle fg = 0;
  ASSERT_TRUE(testsupport::StartProcess(fgArgs, &fg));

  orogrid_client* reader = nullptr;
  orogrid_simulation sim{};
  std::uint64_t firstFrames = 0;
  long long firstAt = 0;
  const bool flowing = testsupport::WaitFor(
      [&] {
        if (reader == nullptr && orogrid_open(nullptr, 0, &reader) != OROGRID_OK) {
          reader = nullptr;
          return false;
        }
        if (orogrid_simulation_read(reader, &sim, sizeof sim) != OROGRID_OK ||
            sim.state != OROGRID_SIM_RUNNING) {
          return false;
        }
        if (firstAt == 0) {
          firstAt = NowMs();
          firstFrames = sim.frame_count;
        }
        return NowMs() - firstAt > 10000;
      },
      150000, 100);
  if (!flowing) {
    std::ifstream pidIn(pidFile);
    long fgPid = 0;
    if (pidIn >> fgPid && fgPid > 1) {
      kill(static_cast<pid_t>(fgPid), SIGKILL);
    }
    testsupport::KillProcess(fg);
    testsupport::WaitProcess(fg);
    testsupport::KillProcess(bridgeProcess);
    testsupport::WaitProcess(bridgeProcess);
    orogrid_close(reader);
    GTEST_SKIP() << "FlightGear started but sent no samples within 150 s (it does not always "
                    "start on a machine without a GPU)";
  }
  const double rate = static_cast<double>(sim.frame_count - firstFrames) /
                      (static_cast<double>(NowMs() - firstAt) / 1000.0);
  EXPECT_NEAR(63.95, sim.latitude, 0.5);
  EXPECT_NEAR(-22.30, sim.longitude, 1.0);
  EXPECT_GT(rate, 1.0);
  orogrid_aircraft a{};
  EXPECT_TRUE(testsupport::WaitFor(
      [&] {
        return orogrid_aircraft_read(reader, &a, sizeof a) == OROGRID_OK &&
               orogrid_simulation_read(reader, &sim, sizeof sim) == OROGRID_OK &&
               a.pixel_x == static_cast<int>(std::floor(sim.longitude + 180.0));
      },
      5000, 20));

  std::ifstream pidIn(pidFile);
  long fgPid = 0;
  pidIn >> fgPid;
  ASSERT_GT(fgPid, 1) << "no process id in " << pidFile;
  ASSERT_EQ(0, kill(static_cast<pid_t>(fgPid), SIGKILL));
  const long long killedAt = NowMs();
  testsupport::WaitProcess(fg);
  EXPECT_EQ(0, testsupport::WaitProcess(bridgeProcess));
  EXPECT_EQ(0, server.Wait(40000)) << server.Output();
  std::printf("FlightGear: %.1f samples/s; the server ended %.1f s after the kill\n", rate,
              (NowMs() - killedAt) / 1000.0);
  orogrid_close(reader);
}

}  // namespace
