// The parts of the UDP socket service both platforms share: address parsing
// and the test seam, each leaving its error as the platform's last one.
// Threading: the seam is process-wide (see udp_socket.h).
#include "platform/udp_socket.h"

#include "platform/system_error.h"

namespace platform {

namespace {
UdpFault g_fault = UdpFault::kNone;
int g_faultCode = 0;
}  // namespace

bool ParseIpv4Address(const char* text, std::uint32_t* address) {
  if (text == nullptr) {
    return false;
  }
  std::uint32_t value = 0;
  const char* p = text;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (*p != '.') {
        return false;
      }
      ++p;
    }
    int digits = 0;
    unsigned number = 0;
    while (*p >= '0' && *p <= '9') {
      number = number * 10u + static_cast<unsigned>(*p - '0');
      ++p;
      // "0001" is not an address part; three digits hold 255.
      if (++digits > 3) {
        return false;
      }
    }
    if (digits == 0 || number > 255u) {
      return false;
    }
    value = (value << 8) | number;
  }
  if (*p != '\0') {
    return false;
  }
  *address = value;
  return true;
}

void SetUdpFault(UdpFault fault, int code) {
  g_fault = fault;
  g_faultCode = code;
}

namespace detail {

bool UdpFaulted(UdpFault fault) {
  const int code = (fault != UdpFault::kNone && fault == g_fault) ? g_faultCode : 0;
  if (code != 0) {
    SetLastSystemError(code);
    return true;
  }
  return false;
}

bool ParseUdpAddress(const char* text, std::uint32_t* address) {
  if (!ParseIpv4Address(text, address)) {
    SetLastSystemError(UdpInvalidArgumentCode());
    return false;
  }
  return true;
}

}  // namespace detail

}  // namespace platform
