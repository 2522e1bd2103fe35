// Platform service: one IPv4 UDP socket that receives datagrams on a local
// address and port (a simulator's position stream), and sends them (tests and
// benchmarks playing the simulator).
//
// Contract every platform provides:
//  - Bind(address, port) opens the socket and binds it to a dotted-quad IPv4
//    address ("127.0.0.1", "0.0.0.0") and port (0: the system picks one,
//    LocalPort() tells which). False on failure: a malformed address leaves
//    the platform's "invalid argument" code, the system's refusals their own
//    code (address in use, no such address), in LastSystemError().
//  - Receive waits up to timeoutMs (0: does not wait) for one datagram and
//    copies at most capacity bytes of it. kReceived with *size the bytes
//    copied and *truncated set when the datagram was longer than capacity
//    (its rest is lost; the caller refuses it). kNothing when the time passed
//    or a signal arrived first; kFailed with LastSystemError() when the
//    system refused. Datagrams of length 0 are received as size 0.
//  - SendTo sends one datagram to a dotted-quad address and port from this
//    socket (Bind it first, port 0 is fine); false with LastSystemError().
//  - Close (and the destructor) releases the socket and, on Win32, the
//    socket library's start-up reference this object took.
//  - SetUdpFault(fault, code) is the test seam: while set, every call of that
//    kind fails as if the system had answered `code`.
//
// Threading: an object is used from one thread; the seam is process-wide
// and is set while no other thread uses a socket.
#pragma once

#include <cstdint>

namespace platform {

enum class UdpReceive { kReceived, kNothing, kFailed };

class CUdpSocket {
 public:
  CUdpSocket() = default;
  ~CUdpSocket();
  CUdpSocket(const CUdpSocket&) = delete;
  CUdpSocket& operator=(const CUdpSocket&) = delete;

  bool Bind(const char* address, std::uint16_t port);
  UdpReceive Receive(char* buffer, int capacity, int timeoutMs, int* size, bool* truncated);
  bool SendTo(const char* address, std::uint16_t port, const void* data, int size);
  std::uint16_t LocalPort() const { return m_nLocalPort; }
  bool IsOpen() const { return m_hSocket != kNoSocket; }
  void Close();

 private:
  static constexpr std::intptr_t kNoSocket = -1;
  std::intptr_t m_hSocket = kNoSocket;  // int fd on POSIX, SOCKET on Win32
  std::uint16_t m_nLocalPort = 0;
  bool m_bStarted = false;  // Win32: WSAStartup taken
};

// Parses a dotted-quad IPv4 address ("127.0.0.1": four decimal parts 0..255,
// no leading sign, spaces or zeros beyond one digit's worth) into host byte
// order. False for anything else, host names included.
bool ParseIpv4Address(const char* text, std::uint32_t* address);

// The platform's "invalid argument" code (EINVAL, ERROR_INVALID_PARAMETER).
int UdpInvalidArgumentCode();

enum class UdpFault { kNone, kOpen, kBind, kReceive, kSend };
void SetUdpFault(UdpFault fault, int code);

namespace detail {
// What both halves ask. True when a fault of this kind is set, with its
// code left as the last system error.
bool UdpFaulted(UdpFault fault);
// ParseIpv4Address, leaving UdpInvalidArgumentCode() as the last system
// error when the text is no address.
bool ParseUdpAddress(const char* text, std::uint32_t* address);
}  // namespace detail

}  // namespace platform
