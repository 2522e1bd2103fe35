// Speed of orogrid-bridge's path from a datagram's arrival to its position
// in the record: a FlightGear generic line and an NMEA datagram sent over
// 127.0.0.1, received, parsed and written through the simulation side of
// the client library into a record made here, against the loopback send
// and receive of the same datagram alone (the reference), with the parse
// and write without the network beside.
// Ratios use CPU time per iteration (the process's system time included:
// the loopback's work is the kernel's), as the machine is shared.
//
// Threading: one thread.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/CpuTimeReporter.h"
#include "client/orogrid_client.h"
#include "platform/shared_memory.h"
#include "platform/udp_socket.h"
#include "tests/support/process.h"
#include "tools/bridge/Bridge.h"
#include "tools/bridge/SimSink.h"

namespace {

const char kGeneric[] = "75.308,63.96705491,-22.29465669,16.019,3001.42,2804.79,59.93,0,0,0,1.0\n";
const char kNmea[] =
    "$GPRMC,131900,A,6357.0000,N,02218.0000,W,0.0,0.0,071226,9.6,W,A*10\n"
    "$GPGGA,131900,6357.0000,N,02218.0000,W,1,08,0.9,914.4,M,0.0,M,,*6D\n"
    "$GPGSA,A,3,01,02,03,,05,,07,,09,,11,12,0.9,0.9,2.0*38\n";

std::string g_segment;
CSimSink* g_pSink = nullptr;

class NoOutput : public IBridgeOutput {
 public:
  void Line(const char*) override {}
};

struct Loopback {
  platform::CUdpSocket receiver;
  platform::CUdpSocket sender;
  bool ok = receiver.Bind("127.0.0.1", 0) && sender.Bind("127.0.0.1", 0);
  char buffer[kMaxDatagramBytes + 1];

  // One datagram there and back in; its size, or -1.
  int Pass(const char* data, std::size_t size) {
    int got = -1;
    bool truncated = false;
    if (!sender.SendTo("127.0.0.1", receiver.LocalPort(), data, static_cast<int>(size)) ||
        receiver.Receive(buffer, sizeof buffer, 1000, &got, &truncated) !=
            platform::UdpReceive::kReceived) {
      return -1;
    }
    return got;
  }
};

void BM_LoopbackSendReceive(benchmark::State& state) {
  Loopback net;
  for (auto _ : state) {
    if (net.Pass(kGeneric, sizeof kGeneric - 1) < 0) {
      state.SkipWithError("loopback failed");
      break;
    }
    benchmark::DoNotOptimize(net.buffer);
  }
}
BENCHMARK(BM_LoopbackSendReceive);

void DatagramToRecord(benchmark::State& state, const char* datagram) {
  Loopback net;
  NoOutput out;
  CBridge bridge(*g_pSink, out, 5.0);
  bridge.Start(0.0);
  const std::size_t size = std::strlen(datagram);
  double now = 0.0;
  for (auto _ : state) {
    const int got = net.Pass(datagram, size);
    now += 0.05;
    if (got < 0 || !bridge.OnDatagram(now, net.buffer, static_cast<std::size_t>(got), false)) {
      state.SkipWithError("datagram not written");
      break;
    }
  }
  if (bridge.Counts().written != static_cast<std::uint64_t>(state.iterations())) {
    state.SkipWithError("not every datagram was written");
  }
}
void BM_GenericDatagramToRecord(benchmark::State& state) { DatagramToRecord(state, kGeneric); }
void BM_NmeaDatagramToRecord(benchmark::State& state) { DatagramToRecord(state, kNmea); }
BENCHMARK(BM_GenericDatagramToRecord);
BENCHMARK(BM_NmeaDatagramToRecord);

void BM_GenericParseAndWriteOnly(benchmark::State& state) {
  NoOutput out;
  CBridge bridge(*g_pSink, out, 5.0);
  bridge.Start(0.0);
  double now = 0.0;
  for (auto _ : state) {
    now += 0.05;
    bridge.OnDatagram(now, kGeneric, sizeof kGeneric - 1, false);
  }
}
BENCHMARK(BM_GenericParseAndWriteOnly);

}  // namespace

int main(int argc, char** argv) {
  g_segment = "OrogridBridgeBench" + std::to_string(testsupport::CurrentProcessId());
  int status = 0;
  {
    CSimSink sink;
    if (!sink.Open(g_segment.c_str())) {
      std::fprintf(stderr, "cannot make the benchmark's record: %s\n", sink.LastError());
      return 1;
    }
    g_pSink = &sink;
    benchsupport::CCpuTimeReporter reporter;
    benchsupport::RunBenchmarks(&argc, argv, reporter);
    const auto get = [&](const char* name) { return reporter.Seconds(name); };
    const double loopback = get("BM_LoopbackSendReceive");
    std::printf("\nRatios to the loopback send and receive alone (%.2f us), this run:\n",
                loopback * 1e6);
    if (loopback > 0.0) {
      for (const char* name : {"BM_GenericDatagramToRecord", "BM_NmeaDatagramToRecord",
                               "BM_GenericParseAndWriteOnly"}) {
        std::printf("  %-30s %6.2f us, %.2f x\n", name, get(name) * 1e6, get(name) / loopback);
      }
    }
    sink.Close(true);
  }
  platform::ShmRemoveName(g_segment.c_str());
  platform::ShmRemoveName((g_segment + ".Sim").c_str());
  return status;
}
