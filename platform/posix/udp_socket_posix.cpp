// POSIX UDP socket: socket/bind/poll/recvmsg on an AF_INET datagram socket.
// A datagram longer than the buffer is seen through MSG_TRUNC in msg_flags.
// Threading: see udp_socket.h.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace

int UdpInvalidArgumentCode() { return EINVAL; }

CUdpSocket::~CUdpSocket() { Close(); }

void CUdpSocket::Close() {
  if (m_hSocket != kNoSocket) {
    // A datagram socket has nothing to flush; close cannot lose data here.
    close(static_cast<int>(m_hSocket));
    m_hSocket = kNoSocket;
  }
  m_nLocalPort = 0;
  m_bStarted = false;  // POSIX sockets need no library start-up
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
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  m_hSocket = fd;
  if (detail::UdpFaulted(UdpFault::kBind) ||
      bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    const int code = LastSystemError();
    Close();
    SetLastSystemError(code);
    return false;
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    const int code = LastSystemError();
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
    SetLastSystemError(EBADF);
    return UdpReceive::kFailed;
  }
  if (detail::UdpFaulted(UdpFault::kReceive)) {
    return UdpReceive::kFailed;
  }
  pollfd p{};
  p.fd = static_cast<int>(m_hSocket);
  p.events = POLLIN;
  const int ready = poll(&p, 1, timeoutMs);
  if (ready == 0 || (ready < 0 && errno == EINTR)) {
    return UdpReceive::kNothing;
  }
  if (ready < 0) {
    return UdpReceive::kFailed;
  }
  iovec part{buffer, static_cast<std::size_t>(capacity)};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  const ssize_t got = recvmsg(p.fd, &message, MSG_DONTWAIT);
  if (got < 0) {
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? UdpReceive::kNothing
                                                                       : UdpReceive::kFailed;
  }
  *size = static_cast<int>(got);
  *truncated = (message.msg_flags & MSG_TRUNC) != 0;
  return UdpReceive::kReceived;
}

bool CUdpSocket::SendTo(const char* address, std::uint16_t port, const void* data, int size) {
  sockaddr_in remote{};
  if (!MakeAddress(address, port, &remote)) {
    return false;
  }
  if (m_hSocket == kNoSocket || size < 0) {
    SetLastSystemError(EBADF);
    return false;
  }
  if (detail::UdpFaulted(UdpFault::kSend)) {
    return false;
  }
  const ssize_t sent = sendto(static_cast<int>(m_hSocket), data, static_cast<std::size_t>(size), 0,
                              reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
  return sent == size;
}

}  // namespace platform
