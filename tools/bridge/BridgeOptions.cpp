// Command-line parsing of orogrid-bridge.
// Threading: no shared state.
#include "tools/bridge/BridgeOptions.h"

#include <cstdio>
#include <cstring>

#include "client/CTrnClient.h"
#include "platform/udp_socket.h"
#include "tools/bridge/SampleParser.h"
#include "tools/common/ToolCommand.h"

namespace {

BridgeCommand Error(char* error, int errorSize, const char* format, const char* a) {
  std::snprintf(error, static_cast<std::size_t>(errorSize), format, a);
  return BridgeCommand::kError;
}

bool ParsePort(const char* text, std::uint16_t* port) {
  unsigned value = 0;
  int digits = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || ++digits > 5) {
      return false;
    }
    value = value * 10u + static_cast<unsigned>(*p - '0');
  }
  if (digits == 0 || value == 0 || value > 65535u) {
    return false;
  }
  *port = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace

BridgeCommand ParseBridgeOptions(int argc, const char* const* argv, BridgeOptions& options,
                                 char* error, int errorSize) {
  error[0] = '\0';
  CArgumentReader args(argc, argv);
  while (args.Next()) {
    const char* arg = args.Word();
    if (!args.IsOption()) {
      return Error(error, errorSize, "unexpected argument \"%.100s\"", arg);
    }
    const StandardOption standard = StandardOptionOf(arg);
    if (standard == StandardOption::kHelp) {
      return BridgeCommand::kHelp;
    }
    if (standard == StandardOption::kVersion) {
      return BridgeCommand::kVersion;
    }
    if (std::strcmp(arg, "--exit-on-loss") == 0) {
      options.exitOnLoss = true;
      continue;
    }
    const bool takesValue = std::strcmp(arg, "--address") == 0 || std::strcmp(arg, "--port") == 0 ||
                            std::strcmp(arg, "--segment") == 0 ||
                            std::strcmp(arg, "--loss-timeout") == 0;
    if (!takesValue) {
      return Error(error, errorSize, "unknown option %.60s (see --help)", arg);
    }
    const char* value = args.TakeValue();
    if (value == nullptr) {
      return Error(error, errorSize, "option %.60s needs a value", arg);
    }
    if (std::strcmp(arg, "--address") == 0) {
      std::uint32_t parsed = 0;
      if (!platform::ParseIpv4Address(value, &parsed)) {
        return Error(error, errorSize,
                     "--address: \"%.60s\" is not an IPv4 address such as 127.0.0.1", value);
      }
      std::snprintf(options.address, sizeof options.address, "%s", value);
    } else if (std::strcmp(arg, "--port") == 0) {
      if (!ParsePort(value, &options.port)) {
        return Error(error, errorSize, "--port: \"%.60s\" is not a port number 1..65535", value);
      }
    } else if (std::strcmp(arg, "--segment") == 0) {
      // The simulation's companion "<name>.Sim" must be a valid name too.
      if (!client::ValidSegmentName(value) || std::strlen(value) > 38) {
        return Error(
            error, errorSize,
            "--segment: \"%.60s\" is not a valid name (1..38 letters, digits, '_', '-', '.')",
            value);
      }
      std::snprintf(options.segment, sizeof options.segment, "%s", value);
    } else {
      double seconds = 0.0;
      if (!ParseStrictDecimal(value, std::strlen(value), &seconds) || seconds < 0.5 ||
          seconds > 3600.0) {
        return Error(error, errorSize, "--loss-timeout: \"%.60s\" is not 0.5..3600 seconds", value);
      }
      options.lossTimeoutSeconds = seconds;
    }
  }
  return BridgeCommand::kRun;
}

const char* BridgeUsage() {
  return "Usage: orogrid-bridge [options]\n"
         "Takes a simulator's aircraft position from UDP datagrams and writes it into the\n"
         "terrain record as its simulation: position, heading, altitude and run state.\n"
         "Once a second it prints the samples per second, the position, Orogrid's\n"
         "elevation under the aircraft and, where the stream carries it, the simulator's\n"
         "own ground elevation and the difference.\n"
         "\n"
         "It takes, one sample a datagram:\n"
         "  - NMEA 0183: RMC (position, course) and GGA (position, altitude) of any talker\n"
         "    ($GPRMC, $GNGGA, $IIRMC, ...); checksums are checked when present; other\n"
         "    sentences are checked and passed over;\n"
         "  - FlightGear's generic protocol through the shipped protocol file\n"
         "    share/flightgear/Protocol/orogrid.xml:\n"
         "      fgfs --data=/opt/orogrid/share/flightgear \\\n"
         "           --generic=socket,out,20,127.0.0.1,5500,udp,orogrid\n"
         "A datagram that is not printable text, too long, malformed, out of range or\n"
         "with a wrong checksum is refused whole and changes nothing.\n"
         "\n"
         "Options:\n"
         "  --address ADDRESS   IPv4 address to listen on (default 127.0.0.1)\n"
         "  --port PORT         UDP port to listen on (default 5500)\n"
         "  --segment NAME      shared-memory record, 1..38 characters (default\n"
         "                      TrnShmSpace); made when Orogrid is not running yet\n"
         "  --loss-timeout S    the stream is lost after S seconds without a datagram,\n"
         "                      0.5..3600 (default 5): simulationState is set to lost\n"
         "                      (0xFFFFFF) and back to running when samples come again\n"
         "  --exit-on-loss      leave once the stream is lost\n"
         "  -h, --help          this text\n"
         "  --version           the program's revision\n"
         "\n"
         "Ctrl+C (SIGINT, SIGTERM, closing the console) sets the state to lost and leaves.\n"
         "Exit status: 0 when the stream ended or was lost, 1 on bad input, 2 when the\n"
         "record or the socket could not be opened or written.\n";
}
