// orogrid-bridge end to end: the built server with the test map on the real
// "TrnShmSpace" (so these tests run one at a time), the built bridge, and
// this test replaying a real FlightGear flight's datagrams into it over
// 127.0.0.1 while it watches the record as a reader. Checked: every sample
// is written, the record only ever holds positions the stream sent, in the
// stream's order, the server follows them, and when the stream stops the
// bridge reports lost and the server counts down and ends. Timing is never
// asserted tightly.
//
// Threading: the test's main thread; the two programs run beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "client/orogrid_client.h"
#include "client/orogrid_sim.h"
#include "platform/shared_memory.h"
#include "platform/udp_socket.h"
#include "shm/TrnInterfaceShm.h"
#include "tests/orogrid_test_map.h"
#include "tests/support/TestSupport.h"
#include "tests/support/process.h"
#include "tests/support/server_process.h"
#include "tools/bridge/SampleParser.h"

namespace {

using testsupport::NowMs;
using testsupport::SleepMs;

struct Datagram {
  double t;
  int port;
  std::string data;
};

// The value of "key": in one line of the recording: a number, or a JSON
// string with its escapes undone (\u00XX gives the Latin-1 byte).
bool JsonValue(const std::string& line, const char* key, std::string* value, bool* isString) {
  const std::string quoted = std::string("\"") + key + "\": ";
  std::size_t i = line.find(quoted);
  if (i == std::string::npos) {
    return false;
  }
  i += quoted.size();
  value->clear();
  *isString = i < line.size() && line[i] == '"';
  if (!*isString) {
    while (i < line.size() && line[i] != ',' && line[i] != '}') {
      value->push_back(line[i++]);
    }
    return !value->empty();
  }
  for (++i; i < line.size() && line[i] != '"'; ++i) {
    char c = line[i];
    if (c == '\\' && i + 1 < line.size()) {
      const char e = line[++i];
      switch (e) {
        case 'n':
          c = '\n';
          break;
        case 'r':
          c = '\r';
          break;
        case 't':
          c = '\t';
          break;
        case 'u':
          if (i + 4 >= line.size()) {
            return false;
          }
          c = static_cast<char>(std::strtol(line.substr(i + 1, 4).c_str(), nullptr, 16));
          i += 4;
          break;
        default:
          c = e;
          break;
      }
    }
    value->push_back(c);
  }
  return i < line.size();
}

std::vector<Datagram> LoadRecording(const std::string& path) {
  std::vector<Datagram> out;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::string t, port, data;
    bool s1 = false, s2 = false, s3 = false;
    if (JsonValue(line, "t", &t, &s1) && JsonValue(line, "port", &port, &s2) &&
        JsonValue(line, "data", &data, &s3) && !s1 && !s2 && s3) {
      out.push_back({std::atof(t.c_str()), std::atoi(port.c_str()), data});
    }
  }
  return out;
}

std::uint16_t FreeUdpPort() {
  platform::CUdpSocket probe;
  return probe.Bind("127.0.0.1", 0) ? probe.LocalPort() : 0;
}

// One reader of the record, opened once the server has published.
orogrid_client* OpenWhenPublished(int timeoutMs) {
  const long long end = NowMs() + timeoutMs;
  while (NowMs() < end) {
    orogrid_client* c = nullptr;
    if (orogrid_open(nullptr, 0, &c) == OROGRID_OK) {
      orogrid_aircraft a{};
      if (orogrid_aircraft_read(c, &a, sizeof a) == OROGRID_OK && a.update_count > 11) {
        return c;
      }
      orogrid_close(c);
    }
    SleepMs(50);
  }
  return nullptr;
}

struct ReplayResult {
  int sent = 0;
  int samples = 0;  // datagrams that carry a position
  int observed = 0;
  int foreign = 0;  // record positions the stream never sent
  int backwards = 0;
  int hostile = 0;  // hostile datagrams sent between them
  BridgeSample last;
};

// A generic line with a NUL inside a number.
const char kWithNul[] = "0.000,1.0\0,2.0,0.000,3000.00,0.00,0.00,0,0,0,0.0\n";

const std::vector<std::string> kHostile = {
    "0.000,nan,-22.30000000,0.000,3000.00,0.00,0.00,0,0,0,0.0\n",
    "0.000,1.0,2.0,0.000,3000.00,0.00,0.00,0,0,0",
    std::string(kWithNul, sizeof kWithNul - 1),
    "0.000,95.0,2.0,0.000,3000.00,0.00,0.00,0,0,0,0.0\n",
    "$GPRMC,131900,A,1000.0000,N,02218.0000,W,0.0,0.0,071226,9.6,W,A*11\n",
    std::string(4000, '7'),
    "",
};

// Replays the datagrams of one port, speed times faster than recorded,
// watching the simulation's frames as they come.
ReplayResult Replay(const std::vector<Datagram>& all, int port, double speed,
                    std::uint16_t bridgePort, orogrid_client* reader) {
  ReplayResult r;
  // Each position the stream sends, with the first and last index it has.
  std::map<std::pair<double, double>, std::pair<int, int>> sent;
  std::vector<const Datagram*> chosen;
  for (const Datagram& d : all) {
    if (d.port != port) {
      continue;
    }
    BridgeSample s;
    char why[160];
    if (ParseDatagram(d.data.data(), d.data.size(), &s, why, sizeof why) == SampleKind::kSample) {
      const auto key = std::make_pair(s.latitude, s.longitude);
      auto it = sent.find(key);
      if (it == sent.end()) {
        sent[key] = {r.samples, r.samples};
      } else {
        it->second.second = r.samples;
      }
      ++r.samples;
      r.last = s;
    }
    chosen.push_back(&d);
  }
  platform::CUdpSocket out;
  if (!out.Bind("127.0.0.1", 0) || chosen.empty()) {
    return r;
  }
  const long long start = NowMs();
  const double t0 = chosen.front()->t;
  int lastFirst = -1;
  for (const Datagram* d : chosen) {
    const long long due = start + static_cast<long long>((d->t - t0) / speed * 1000.0);
    do {
      orogrid_simulation sim{};
      // Before its first sample the bridge says "waiting" with no position.
      if (orogrid_simulation_read(reader, &sim, sizeof sim) == OROGRID_OK &&
          sim.state == OROGRID_SIM_RUNNING) {
        ++r.observed;
        const auto it = sent.find({sim.latitude, sim.longitude});
        if (it == sent.end()) {
          ++r.foreign;
        } else {
          if (it->second.second < lastFirst) {
            ++r.backwards;
          }
          lastFirst = std::max(lastFirst, it->second.first);
        }
      }
      SleepMs(2);
    } while (NowMs() < due);
    if (out.SendTo("127.0.0.1", bridgePort, d->data.data(), static_cast<int>(d->data.size()))) {
      ++r.sent;
    }
    // Between the flight's datagrams, now and then a hostile one: it must
    // be refused and never move the aircraft.
    if (r.sent % 25 == 0) {
      const std::string& bad = kHostile[static_cast<std::size_t>(r.sent / 25) % kHostile.size()];
      if (out.SendTo("127.0.0.1", bridgePort, bad.data(), static_cast<int>(bad.size()))) {
        ++r.hostile;
      }
    }
  }
  return r;
}

class BridgeReplay : public ::testing::TestWithParam<int> {};

TEST_P(BridgeReplay, TheRecordFollowsTheFlightAndTheServerEndsWhenTheStreamStops) {
  const int port = GetParam();
  const std::vector<Datagram> recording =
      LoadRecording(OROGRID_TEST_DATA_DIR "/flightgear/iceland-ufo.jsonl");
  ASSERT_GT(recording.size(), 1000u) << "recording not found";

  ASSERT_FALSE(platform::ShmExists(trn::kMappingName)) << "another process holds TrnShmSpace";
  e2e::ServerProcess server;
  std::string reason;
  ASSERT_TRUE(server.Start(testmap::Bytes(), true, &reason)) << reason;
  orogrid_client* reader = OpenWhenPublished(60000);
  ASSERT_NE(nullptr, reader) << server.Output();
  struct Closer {
    orogrid_client* c;
    ~Closer() { orogrid_close(c); }
  } closer{reader};

  const std::uint16_t bridgePort = FreeUdpPort();
  ASSERT_NE(0, bridgePort);
  const std::string bridge = testsupport::ProgramPath("orogrid-bridge");
  const std::string portText = std::to_string(bridgePort);
  const char* argv[] = {bridge.c_str(), "--port",         portText.c_str(), "--loss-timeout",
                        "1.5",          "--exit-on-loss", nullptr};
  testsupport::ProcessHandle process = 0;
  ASSERT_TRUE(testsupport::StartProcess(argv, &process));
  // The bridge listens before it opens the record; once it has beaten it is ready.
  orogrid_simulation sim{};
  const bool ready = testsupport::WaitFor(
      [&] {
        return orogrid_simulation_read(reader, &sim, sizeof sim) == OROGRID_OK &&
               sim.beat == OROGRID_SIM_BEATING;
      },
      20000, 20);
  if (!ready) {
    testsupport::KillProcess(process);
    testsupport::WaitProcess(process);
    FAIL() << "the bridge never opened the record";
  }
  const std::uint64_t framesBefore = sim.frame_count;

  const ReplayResult r = Replay(recording, port, 8.0, bridgePort, reader);
  EXPECT_GT(r.samples, port == 5501 ? 1200 : 300);
  EXPECT_EQ(static_cast<int>(r.sent), port == 5501 ? 1275 : 368);
  EXPECT_GT(r.observed, 100);
  EXPECT_GT(r.hostile, 10);
  EXPECT_EQ(0, r.foreign) << "positions in the record that the stream never sent";
  EXPECT_EQ(0, r.backwards) << "the record went back to an older position";

  // Once the last datagram is in, the record holds the last sample; every
  // sample was one frame, and "running" one more.
  ASSERT_TRUE(testsupport::WaitFor(
      [&] {
        return orogrid_simulation_read(reader, &sim, sizeof sim) == OROGRID_OK &&
               sim.frame_count - framesBefore == static_cast<std::uint64_t>(r.samples) + 1u;
      },
      5000, 10))
      << "frames written " << sim.frame_count - framesBefore << " of " << r.samples + 1;
  EXPECT_EQ(r.last.latitude, sim.latitude);
  EXPECT_EQ(r.last.longitude, sim.longitude);
  EXPECT_NEAR(r.last.heading, sim.heading, 1e-9);
  EXPECT_NEAR(r.last.altitude, sim.altitude, 1e-9);
  EXPECT_EQ(OROGRID_SIM_RUNNING, sim.state);

  // The server follows: its aircraft is over the last sample's pixel, and
  // its grids give that pixel's elevation there.
  const int px = static_cast<int>(std::floor(r.last.longitude + 180.0));
  const int py = static_cast<int>(std::floor(90.0 - r.last.latitude));
  orogrid_aircraft a{};
  EXPECT_TRUE(testsupport::WaitFor(
      [&] {
        return orogrid_aircraft_read(reader, &a, sizeof a) == OROGRID_OK && a.pixel_x == px &&
               a.pixel_y == py;
      },
      5000, 20))
      << "server at pixel " << a.pixel_x << "," << a.pixel_y << ", expected " << px << "," << py;
  double metres = 0.0;
  EXPECT_EQ(OROGRID_OK, orogrid_elevation(reader, r.last.latitude, r.last.longitude,
                                          OROGRID_NEAREST, &metres, nullptr));
  // The fine grid refines the pixel with its neighbours: its value lies
  // within theirs.
  int lowest = testmap::Elevation(px, py);
  int highest = lowest;
  for (int dx = -1; dx <= 1; ++dx) {
    for (int dy = -1; dy <= 1; ++dy) {
      lowest = std::min(lowest, testmap::Elevation(px + dx, py + dy));
      highest = std::max(highest, testmap::Elevation(px + dx, py + dy));
    }
  }
  EXPECT_GE(metres, lowest);
  EXPECT_LE(metres, highest);

  // The stream has stopped: the bridge says lost and leaves (--exit-on-loss),
  // and the server counts down and ends.
  EXPECT_EQ(0, testsupport::WaitProcess(process));
  ASSERT_EQ(OROGRID_OK, orogrid_simulation_read(reader, &sim, sizeof sim));
  EXPECT_EQ(OROGRID_SIM_LOST, sim.state);
  const long long lostAt = NowMs();
  EXPECT_EQ(0, server.Wait(40000)) << server.Output();
  std::printf(
      "replay of port %d: %d datagrams and %d hostile ones, %d samples written, %d record "
      "reads; server ended %.1f s after the loss\n",
      port, r.sent, r.hostile, r.samples, r.observed, (NowMs() - lostAt) / 1000.0);
}

INSTANTIATE_TEST_SUITE_P(GenericAndNmea, BridgeReplay, ::testing::Values(5501, 5500),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == 5501 ? std::string("GenericProtocol")
                                                     : std::string("Nmea");
                         });

}  // namespace
