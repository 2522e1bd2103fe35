// Win32 UDP socket over Winsock 2: WSAStartup per object, select to wait,
// recvfrom; a datagram longer than the buffer fails with WSAEMSGSIZE, which
// is reported as a truncated receive. Winsock errors are Win32 error codes.
// Threading: see udp_socket.h.
#include <winsock2.h>
// winsock2.h first: windows.h would bring the old winsock.h.
#include <windows.h>

#include <cstring>

#include "platform/system_error.h"
#include "platform/udp_socket.h"

namespace platform {

namespace {

bool MakeAddress(const char* text, std::uint16_t port, sockaddr_in* out) {
  std::uint32_t address = 0;
  if (!detail::ParseUdpAddress(text, &address)) {
    return false;
  }
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  out->sin_addr.s_addr = htonl(address);
  return true;
}

// Winsock keeps its own last error; the platform's is GetLastError.
void TakeSocketError() { SetLastSystemError(WSAGetLastError()); }

}  // namespace

int UdpInvalidArgumentCode() { return ERROR_INVALID_PARAMETER; }

CUdpSocket::~CUdpSocket() { Close(); }

void CUdpSocket::Close() {
  if (m_hSocket != kNoSocket) {
    closesocket(static_cast<SOCKET>(m_hSocket));
    m_hSocket = kNoSocket;
  }
  if (m_bStarted) {
    WSACleanup();
    m_bStarted = false;
  }
  m_nLocalPort = 0;
}

bool CUdpSocket::Bind(const char* address, std::uint16_t port) {
  Close();
  sockaddr_in local{};
  if (!MakeAddress(address, port, &local)) {
    return false;
  }
  if (detail::UdpFaulted(UdpFault::kOpen)) {
    return false;
  }
  WSADATA data{};
  const int started = WSAStartup(MAKEWORD(2, 2), &data);
  if (started != 0) {
    SetLastSystemError(started);
    return false;
  }
  m_bStarted = true;
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    TakeSocketError();
    const int code = LastSystemError();
    Close();
    SetLastSystemError(code);
    return false;
  }
  m_hSocket = static_cast<std::intptr_t>(s);
  // Without this, a second program could take the same port beside us.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof exclusive);
  int code = 0;
  if (detail::UdpFaulted(UdpFault::kBind)) {
    code = LastSystemError();
  } else if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    TakeSocketError();
    code = LastSystemError();
  }
  sockaddr_in bound{};
  int length = sizeof bound;
  if (code == 0 && getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    TakeSocketError();
    code = LastSystemError();
  }
  if (code != 0) {
    Close();
    SetLastSystemError(code);
    return false;
  }
  m_nLocalPort = ntohs(bound.sin_port);
  return true;
}

UdpReceive CUdpSocket::Receive(char* buffer, int capacity, int timeoutMs, int* size,
                               bool* truncated) {
  *size = 0;
  *truncated = false;
  if (m_hSocket == kNoSocket || capacity < 0) {
    SetLastSystemError(ERROR_INVALID_HANDLE);
    return UdpReceive::kFailed;
  }
  if (detail::UdpFaulted(UdpFault::kReceive)) {
    return UdpReceive::kFailed;
  }
  const SOCKET s = static_cast<SOCKET>(m_hSocket);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int ready = select(0, &readable, nullptr, nullptr, &wait);
  if (ready == 0) {
    return UdpReceive::kNothing;
  }
  if (ready == SOCKET_ERROR) {
    TakeSocketError();
    return UdpReceive::kFailed;
  }
  const int got = recv(s, buffer, capacity, 0);
  if (got == SOCKET_ERROR) {
    const int code = WSAGetLastError();
    if (code == WSAEMSGSIZE) {
      *size = capacity;
      *truncated = true;
      return UdpReceive::kReceived;
    }
    // A port-unreachable answer to an earlier send shows up here on Windows.
    if (code == WSAECONNRESET || code == WSAEWOULDBLOCK) {
      return UdpReceive::kNothing;
    }
    SetLastSystemError(code);
    return UdpReceive::kFailed;
  }
  *size = got;
  return UdpReceive::kReceived;
}

bool CUdpSocket::SendTo(const char* address, std::uint16_t port, const void* data, int size) {
  sockaddr_in remote{};
  if (!MakeAddress(address, port, &remote)) {
    return false;
  }
  if (m_hSocket == kNoSocket || size < 0) {
    SetLastSystemError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (detail::UdpFaulted(UdpFault::kSend)) {
    return false;
  }
  const int sent = sendto(static_cast<SOCKET>(m_hSocket), static_cast<const char*>(data), size, 0,
                          reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
  if (sent == SOCKET_ERROR) {
    TakeSocketError();
    return false;
  }
  return sent == size;
}

}  // namespace platform
