// Command line of orogrid-bridge: where to listen, which record to write,
// when the stream counts as lost. Everything is checked here, before the
// program opens a socket or touches the record.
//
// Threading: no shared state.
#pragma once

#include <cstdint>

struct BridgeOptions {
  static constexpr int kNameSize = 43;  // 42 characters and the NUL
  static constexpr int kAddressSize = 16;

  char address[kAddressSize] = "127.0.0.1";
  std::uint16_t port = 5500;
  char segment[kNameSize] = "TrnShmSpace";
  double lossTimeoutSeconds = 5.0;
  bool exitOnLoss = false;
};

enum class BridgeCommand { kRun, kHelp, kVersion, kError };

// Parses argv[1..argc). On kError, error holds a one-line reason.
BridgeCommand ParseBridgeOptions(int argc, const char* const* argv, BridgeOptions& options,
                                 char* error, int errorSize);

const char* BridgeUsage();
