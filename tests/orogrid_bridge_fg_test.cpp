// Real FlightGear through orogrid-bridge. It flies only when asked, with
// OROGRID_FLIGHTGEAR=1 in the environment and /usr/games/fgfs installed
// (scripts/install-deps.sh flightgear), and is skipped with a message
// otherwise, so that a test run's time never depends on what happens to be
// installed:
//
//   OROGRID_FLIGHTGEAR=1 ctest -R orogrid_bridge_fg_test --output-on-failure
//
// FlightGear flies the ufo east over its bundled scenery of Iceland with the
// shipped protocol file, headless under Xvfb with a D-Bus session, in a
// session of its own whose every process the test ends; its output goes to
// a log file whose end is shown when it does not fly. The server runs with
// the test map on the real "TrnShmSpace" (one at a time). Checked: the
// record's position follows the aircraft near 63.95 N 22.3 W for 20 s of
// samples, and once FlightGear is killed the bridge reports lost and the
// server counts down and ends. Every wait is bounded: FlightGear's first
// samples may take minutes on a machine without a GPU, and it does not
// always start (or keep sending) there, which skips the test with its log.
//
// Threading: the test's main thread; the programs run beside it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
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

constexpr const char* kFgfs = "/usr/games/fgfs";
constexpr const char* kOptIn = "OROGRID_FLIGHTGEAR";
// FlightGear's first datagram: seconds to minutes after its start here.
constexpr int kStartUpMs = 180000;
// Samples flown before the kill.
constexpr int kFlightMs = 20000;
// The bridge reports lost 3 s after the last datagram and leaves.
constexpr int kBridgeEndMs = 30000;
// The server's countdown after the loss takes about 15 s.
constexpr int kServerEndMs = 40000;

// Waits up to timeoutMs for the child `pid` to end: its exit status, -1
// when it was killed, -2 when it still runs.
int WaitChild(pid_t pid, int timeoutMs) {
  const long long end = NowMs() + timeoutMs;
  for (;;) {
    int status = 0;
    const pid_t result = waitpid(pid, &status, WNOHANG);
    if (result == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if ((result < 0 && errno != EINTR) || NowMs() >= end) {
      return result < 0 ? -1 : -2;
    }
    testsupport::SleepMs(50);
  }
}

// A child process that is killed and reaped when the test leaves early.
class CChild {
 public:
  CChild() = default;
  ~CChild() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      WaitChild(m_pid, 10000);
    }
  }
  CChild(const CChild&) = delete;
  CChild& operator=(const CChild&) = delete;

  bool Start(const char* const* argv) {
    testsupport::ProcessHandle handle = 0;
    if (!testsupport::StartProcess(argv, &handle)) {
      return false;
    }
    m_pid = static_cast<pid_t>(handle);
    return true;
  }
  // The exit status within timeoutMs (then reaped), -1 when killed, -2
  // when it still runs (and is killed at the end).
  int Wait(int timeoutMs) {
    const int status = WaitChild(m_pid, timeoutMs);
    if (status != -2) {
      m_pid = 0;
    }
    return status;
  }

 private:
  pid_t m_pid = 0;
};

// FlightGear and its wrappers (D-Bus session, xvfb-run, Xvfb) in a session
// of their own: setsid runs in place as the child is no group leader, so
// the child's process id is the group's, and the whole group is killed and
// the child reaped when the object goes. FlightGear's own process id is in
// the pid file, its output in the log.
class CFlightGear {
 public:
  CFlightGear(const std::string& home, const std::string& port)
      : m_home("FG_HOME=" + home),
        m_pidFile(home + "/fgfs.pid"),
        m_log(home + "/fgfs.log"),
        m_data("--data=" OROGRID_SOURCE_DIR "/data/flightgear"),
        m_generic("--generic=socket,out,20,127.0.0.1," + port + ",udp,orogrid") {}
  ~CFlightGear() {
    if (m_group > 0) {
      kill(-m_group, SIGKILL);
      WaitChild(m_group, 10000);
    }
  }
  CFlightGear(const CFlightGear&) = delete;
  CFlightGear& operator=(const CFlightGear&) = delete;

  bool Start() {
    const char* argv[] = {"/usr/bin/setsid",
                          "/bin/sh",
                          "-c",
                          "exec >\"$0\" 2>&1 </dev/null; exec \"$@\"",
                          m_log.c_str(),
                          "/usr/bin/env",
                          m_home.c_str(),
                          "dbus-run-session",
                          "--",
                          "xvfb-run",
                          "-a",
                          "-s",
                          "-screen 0 640x480x24",
                          "/bin/sh",
                          "-c",
                          "echo $$ > \"$0\"; exec \"$@\"",
                          m_pidFile.c_str(),
                          kFgfs,
                          m_data.c_str(),
                          "--aircraft=ufo",
                          "--lat=63.95",
                          "--lon=-22.30",
                          "--heading=90",
                          "--altitude=3000",
                          "--in-air",
                          "--prop:/engines/engine/speed-max-mps=400",
                          "--prop:/controls/engines/engine[0]/throttle=0.5",
                          "--disable-sound",
                          "--disable-terrasync",
                          "--disable-real-weather-fetch",
                          "--disable-ai-traffic",
                          "--disable-fgcom",
                          "--disable-splash-screen",
                          "--fog-fastest",
                          "--disable-clouds",
                          "--disable-clouds3d",
                          "--disable-random-objects",
                          "--disable-random-vegetation",
                          "--disable-random-buildings",
                          "--timeofday=noon",
                          "--max-fps=30",
                          "--prop:/sim/rendering/shaders/quality-level=0",
                          "--geometry=320x240",
                          "--visibility=3000",
                          m_generic.c_str(),
                          nullptr};
    testsupport::ProcessHandle handle = 0;
    if (!testsupport::StartProcess(argv, &handle)) {
      return false;
    }
    m_group = static_cast<pid_t>(handle);
    return true;
  }
  // Kills FlightGear itself (not its wrappers), as a crash would; false
  // when its process id is not known.
  bool KillFlightGear() const {
    std::ifstream in(m_pidFile);
    long pid = 0;
    return in >> pid && pid > 1 && kill(static_cast<pid_t>(pid), SIGKILL) == 0;
  }
  // The last lines of FlightGear's output.
  std::string LogTail(std::size_t lines = 15) const {
    std::ifstream in(m_log);
    std::deque<std::string> tail;
    std::string line;
    while (std::getline(in, line)) {
      tail.push_back(line);
      if (tail.size() > lines) {
        tail.pop_front();
      }
    }
    std::string text = "last lines of " + m_log + ":\n";
    for (const std::string& l : tail) {
      text += "  " + l + "\n";
    }
    return text;
  }

 private:
  std::string m_home;
  std::string m_pidFile;
  std::string m_log;
  std::string m_data;
  std::string m_generic;
  pid_t m_group = 0;
};

struct ClientHandle {
  orogrid_client* c = nullptr;
  ~ClientHandle() { orogrid_close(c); }
};

TEST(BridgeFlightGear, RealFlightGearDrivesTheServerAndItsKillEndsIt) {
  const char* asked = std::getenv(kOptIn);
  if (asked == nullptr || std::string(asked) != "1") {
    GTEST_SKIP() << "real FlightGear flies only when asked: " << kOptIn
                 << "=1 ctest -R orogrid_bridge_fg_test (needs " << kFgfs
                 << ", scripts/install-deps.sh flightgear; takes up to 6 minutes)";
  }
  if (!testsupport::FileExists(kFgfs)) {
    GTEST_SKIP() << kOptIn << "=1, but " << kFgfs
                 << " is not installed (scripts/install-deps.sh flightgear installs it)";
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
  const std::string bridgePath = testsupport::ProgramPath("orogrid-bridge");
  const char* bridgeArgs[] = {bridgePath.c_str(), "--port", portText.c_str(), "--loss-timeout", "3",
                              "--exit-on-loss",   nullptr};
  CChild bridge;
  ASSERT_TRUE(bridge.Start(bridgeArgs)) << bridgePath;

  const testsupport::ScratchFolder home("fghome");
  ASSERT_FALSE(home.Path().empty());
  CFlightGear fg(home.Path().string(), portText);
  ASSERT_TRUE(fg.Start());

  // The first sample: the bridge has set the state running.
  ClientHandle reader;
  orogrid_simulation sim{};
  const auto running = [&] {
    if (reader.c == nullptr && orogrid_open(nullptr, 0, &reader.c) != OROGRID_OK) {
      reader.c = nullptr;
      return false;
    }
    return orogrid_simulation_read(reader.c, &sim, sizeof sim) == OROGRID_OK &&
           sim.state == OROGRID_SIM_RUNNING;
  };
  const long long started = NowMs();
  if (!testsupport::WaitFor(running, kStartUpMs, 100)) {
    GTEST_SKIP() << "FlightGear sent no samples within " << kStartUpMs / 1000
                 << " s (it does not always start on a machine without a GPU); " << fg.LogTail();
  }
  const double startUpSeconds = (NowMs() - started) / 1000.0;
  const long long firstAt = NowMs();
  const orogrid_simulation first = sim;

  // The flight: samples keep coming (the bridge keeps the state running).
  while (NowMs() - firstAt < kFlightMs) {
    testsupport::SleepMs(200);
    if (!running()) {
      GTEST_SKIP() << "FlightGear stopped sending " << (NowMs() - firstAt) / 1000.0
                   << " s into the flight (it freezes at times without a GPU); " << fg.LogTail();
    }
  }
  const double rate = static_cast<double>(sim.frame_count - first.frame_count) /
                      (static_cast<double>(NowMs() - firstAt) / 1000.0);
  EXPECT_GT(rate, 1.0);
  EXPECT_NEAR(63.95, sim.latitude, 0.5);
  EXPECT_NEAR(-22.30, sim.longitude, 1.0);
  EXPECT_GT(sim.longitude - first.longitude, 0.01) << "the ufo did not fly east";
  // The server's aircraft is where the bridge put it (test map: one pixel
  // a degree).
  orogrid_aircraft a{};
  EXPECT_TRUE(testsupport::WaitFor(
      [&] {
        return orogrid_aircraft_read(reader.c, &a, sizeof a) == OROGRID_OK &&
               orogrid_simulation_read(reader.c, &sim, sizeof sim) == OROGRID_OK &&
               a.pixel_x == static_cast<int>(std::floor(sim.longitude + 180.0));
      },
      5000, 20));

  ASSERT_TRUE(fg.KillFlightGear()) << "FlightGear's process id is unknown; " << fg.LogTail();
  const long long killedAt = NowMs();
  EXPECT_EQ(0, bridge.Wait(kBridgeEndMs)) << "the bridge did not report the loss and leave";
  const double bridgeSeconds = (NowMs() - killedAt) / 1000.0;
  EXPECT_EQ(0, server.Wait(kServerEndMs)) << server.Output();
  std::printf(
      "FlightGear: first sample %.1f s after the start, %.1f samples/s; after the kill the "
      "bridge left in %.1f s and the server ended in %.1f s\n",
      startUpSeconds, rate, bridgeSeconds, (NowMs() - killedAt) / 1000.0);
}

}  // namespace
