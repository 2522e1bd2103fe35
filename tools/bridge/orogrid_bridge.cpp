// orogrid-bridge: takes a simulator's aircraft position from UDP datagrams
// (NMEA 0183, FlightGear's generic protocol) and writes it into the terrain
// record through the simulation side of the client library, as the
// record's simulation. Once a second one status line on standard output;
// lost when the stream stops for the loss timeout and when the program is
// stopped.
//
// Threading: one thread; the stop request only raises a flag.
#include <cstdint>
#include <cstdio>

#include "platform/monotonic_clock.h"
#include "platform/stop_request.h"
#include "platform/system_error.h"
#include "platform/udp_socket.h"
#include "tools/bridge/Bridge.h"
#include "tools/bridge/BridgeOptions.h"
#include "tools/bridge/SampleParser.h"
#include "tools/bridge/SimSink.h"
#include "tools/common/ToolCommand.h"

extern const char g_szOrogridBridgeRevision[];
const char g_szOrogridBridgeRevision[] =
    "%Z% OrogridTools KT4101:06 orogrid_bridge $Revision: 1.0 $";

namespace {

constexpr int kExitBadInput = 1;
constexpr int kExitFailed = 2;
constexpr int kTickMs = 100;
// Datagrams taken one after another before the next tick, so a flood
// cannot hold the loss check and the status line off.
constexpr int kDatagramsPerTick = 256;

class CStandardOutput : public IBridgeOutput {
 public:
  void Line(const char* text) override {
    std::printf("%s\n", text);
    std::fflush(stdout);
  }
};

double Now() { return static_cast<double>(platform::MonotonicNanoseconds()) * 1e-9; }

void SystemReason(char* out, int size) {
  platform::SystemErrorText(platform::LastSystemError(), out, size);
}

int Run(const ToolInfo& tool, const BridgeOptions& options) {
  char reason[256];
  platform::CUdpSocket socket;
  if (!socket.Bind(options.address, options.port)) {
    SystemReason(reason, sizeof reason);
    std::fprintf(stderr, "orogrid-bridge: cannot listen on %s:%u (UDP): %s\n", options.address,
                 static_cast<unsigned>(options.port), reason);
    return kExitFailed;
  }
  CSimSink sink;
  if (!sink.Open(options.segment)) {
    std::fprintf(stderr, "orogrid-bridge: cannot open \"%s\" as its simulation: %s\n",
                 options.segment, sink.LastError());
    return kExitFailed;
  }
  if (!platform::InstallStopRequest()) {
    SystemReason(reason, sizeof reason);
    std::fprintf(stderr, "orogrid-bridge: cannot catch the stop request: %s\n", reason);
    return kExitFailed;
  }
  CStandardOutput output;
  CBridge bridge(sink, output, options.lossTimeoutSeconds);
  const double start = Now();
  if (!bridge.Start(start)) {
    std::fprintf(stderr, "orogrid-bridge: %s\n", bridge.LastError());
    return kExitFailed;
  }
  std::printf(
      "orogrid-bridge: listening on %s:%u (UDP), writing \"%s\"%s; lost after %g s "
      "without a datagram\n",
      options.address, static_cast<unsigned>(socket.LocalPort()), options.segment,
      sink.CreatedRecord() ? " (made it: Orogrid is not running yet)" : "",
      options.lossTimeoutSeconds);
  std::fflush(stdout);

  static char buffer[kMaxDatagramBytes + 1];  // one more: an oversized datagram shows
  int status = 0;
  const char* why = "stopped";
  bool failed = false;
  while (!failed) {
    int size = 0;
    bool truncated = false;
    platform::UdpReceive got =
        socket.Receive(buffer, static_cast<int>(sizeof buffer), kTickMs, &size, &truncated);
    for (int taken = 0; got == platform::UdpReceive::kReceived && !failed; ++taken) {
      if (!bridge.OnDatagram(Now(), buffer, static_cast<std::size_t>(size), truncated)) {
        failed = true;
        break;
      }
      if (taken + 1 >= kDatagramsPerTick) {
        break;
      }
      got = socket.Receive(buffer, static_cast<int>(sizeof buffer), 0, &size, &truncated);
    }
    if (got == platform::UdpReceive::kFailed) {
      SystemReason(reason, sizeof reason);
      std::fprintf(stderr, "orogrid-bridge: cannot receive on %s:%u: %s\n", options.address,
                   static_cast<unsigned>(socket.LocalPort()), reason);
      status = kExitFailed;
      why = "the socket failed";
      break;
    }
    if (failed || !bridge.Tick(Now())) {
      std::fprintf(stderr, "orogrid-bridge: %s\n", bridge.LastError());
      status = kExitFailed;
      why = "the record failed";
      break;
    }
    if (platform::StopRequested()) {
      why = "interrupted";
      break;
    }
    if (options.exitOnLoss && bridge.IsLost()) {
      why = "stream lost";
      break;
    }
  }
  bridge.Finish(why, Now());
  sink.Close(true);
  socket.Close();
  platform::StopAcknowledged();
  return FinishStandardOutput(tool, status);
}

}  // namespace

int main(int argc, char** argv) {
  BridgeOptions options;
  char error[256];
  const ToolInfo tool = {"orogrid-bridge", g_szOrogridBridgeRevision, BridgeUsage(), kExitBadInput};
  switch (ParseBridgeOptions(argc, argv, options, error, sizeof error)) {
    case BridgeCommand::kHelp:
      return AnswerStandardOption(tool, StandardOption::kHelp);
    case BridgeCommand::kVersion:
      return AnswerStandardOption(tool, StandardOption::kVersion);
    case BridgeCommand::kError:
      std::fprintf(stderr, "orogrid-bridge: %s\n", error);
      return kExitBadInput;
    case BridgeCommand::kRun:
      break;
  }
  return Run(tool, options);
}
