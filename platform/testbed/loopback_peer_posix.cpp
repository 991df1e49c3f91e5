// The loopback peer on BSD sockets: a listening socket on 127.0.0.1 or ::1, one
// accepted connection at a time, every wait bounded with poll.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/testbed/loopback_peer.h"

namespace qz381::platform::testbed {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// A socket listening on the loopback address at a port the system picks; -1
// on failure.
int ListenOnLoopback(Loopback family, int backlog, uint16_t* port, int receive_buffer = 0) {
  sockaddr_storage address{};
  socklen_t length = 0;
  if (family == Loopback::kIpv6) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    length = sizeof v6;
  } else {
    reinterpret_cast<sockaddr_in&>(address) = LoopbackAddress(0);
    length = sizeof(sockaddr_in);
  }
  const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (receive_buffer > 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  auto* any = reinterpret_cast<sockaddr*>(&address);
  if (::bind(fd, any, length) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, any, &length) != 0) {
    ::close(fd);
    return -1;
  }
  *port = ntohs(family == Loopback::kIpv6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                          : reinterpret_cast<sockaddr_in&>(address).sin_port);
  return fd;
}

int MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

// Waits for `events` on fd until the deadline; true when they came.
bool PollUntil(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd pfd{fd, events, 0};
    const int ready = ::poll(&pfd, 1, MsUntil(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

void CloseFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

}  // namespace

LoopbackPeer::LoopbackPeer(Loopback address, int receive_buffer)
    : host_(address == Loopback::kIpv6 ? "::1" : "127.0.0.1") {
  listener_ = ListenOnLoopback(address, 4, &port_, receive_buffer);
}

LoopbackPeer::~LoopbackPeer() {
  CloseFd(&connection_);
  CloseFd(&listener_);
}

bool LoopbackPeer::Accept(uint32_t timeout_ms) {
  CloseFd(&connection_);
  if (listener_ < 0) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  if (!PollUntil(listener_, POLLIN, deadline)) return false;
  connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  return connection_ >= 0;
}

size_t LoopbackPeer::Send(std::span<const uint8_t> bytes, uint32_t timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  size_t sent = 0;
  while (connection_ >= 0 && sent < bytes.size()) {
    const ssize_t n = ::send(connection_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
    if (!PollUntil(connection_, POLLOUT, deadline)) break;
  }
  return sent;
}

std::vector<uint8_t> LoopbackPeer::Receive(size_t count, uint32_t timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<uint8_t> out;
  uint8_t buffer[4096];
  while (connection_ >= 0 && out.size() < count) {
    const ssize_t n = ::recv(connection_, buffer, std::min(sizeof buffer, count - out.size()), 0);
    if (n > 0) {
      out.insert(out.end(), buffer, buffer + n);
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) break;
    if (!PollUntil(connection_, POLLIN, deadline)) break;
  }
  return out;
}

bool LoopbackPeer::WaitPeerClosed(uint32_t timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  uint8_t buffer[4096];
  while (connection_ >= 0) {
    const ssize_t n = ::recv(connection_, buffer, sizeof buffer, 0);
    if (n > 0) continue;
    if (n == 0) return true;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return true;  // reset
    if (!PollUntil(connection_, POLLIN, deadline)) return false;
  }
  return false;
}

void LoopbackPeer::Close() {
  CloseFd(&connection_);
}

void LoopbackPeer::Break() {
  if (connection_ < 0) return;
  const linger abort{1, 0};  // closing with a zero linger sends a reset
  ::setsockopt(connection_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  CloseFd(&connection_);
}

uint16_t RefusingLoopbackPort() {
  uint16_t port = 0;
  const int fd = ListenOnLoopback(Loopback::kIpv4, 1, &port);
  if (fd >= 0) ::close(fd);  // bound and let go: nobody is there
  return port;
}

SilentLoopbackPort::SilentLoopbackPort() {
  // A backlog of 0 holds one connection nobody accepts; the system drops the
  // next one's handshake, so its connect is never answered.
  listener_ = ListenOnLoopback(Loopback::kIpv4, 0, &port_);
  if (listener_ < 0) return;
  queued_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = LoopbackAddress(port_);
  if (queued_ >= 0 &&
      ::connect(queued_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    CloseFd(&queued_);
  }
}

SilentLoopbackPort::~SilentLoopbackPort() {
  CloseFd(&queued_);
  CloseFd(&listener_);
}

}  // namespace qz381::platform::testbed
