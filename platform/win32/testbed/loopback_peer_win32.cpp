// The loopback peer on Winsock (test equipment): a listening socket on
// 127.0.0.1 or ::1, one accepted connection at a time, every wait bounded
// with select. Socket handles are kept in the header's int fields; Winsock's
// handles are small numbers that fit.
#include <winsock2.h>
// After winsock2.h:
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>

#include "platform/testbed/loopback_peer.h"

namespace qz381::platform::testbed {
namespace {

using Clock = std::chrono::steady_clock;

void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

SOCKET Handle(int fd) {
  return static_cast<SOCKET>(fd);
}

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
  StartWinsock();
  sockaddr_storage address{};
  int length = 0;
  if (family == Loopback::kIpv6) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    length = sizeof v6;
  } else {
    reinterpret_cast<sockaddr_in&>(address) = LoopbackAddress(0);
    length = sizeof(sockaddr_in);
  }
  const SOCKET s = ::socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -1;
  if (receive_buffer > 0) {
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receive_buffer),
                 sizeof receive_buffer);
  }
  auto* any = reinterpret_cast<sockaddr*>(&address);
  if (::bind(s, any, length) != 0 || ::listen(s, backlog) != 0 ||
      ::getsockname(s, any, &length) != 0) {
    ::closesocket(s);
    return -1;
  }
  *port = ntohs(family == Loopback::kIpv6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                          : reinterpret_cast<sockaddr_in&>(address).sin_port);
  return static_cast<int>(s);
}

long MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<long>(std::clamp<long long>(left, 0, 1 << 30));
}

// Waits until fd is readable (or writable) before the deadline; true when it is.
bool WaitUntil(int fd, bool write, Clock::time_point deadline) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Handle(fd), &set);
  const long ms = MsUntil(deadline);
  timeval wait{ms / 1000, (ms % 1000) * 1000};
  return ::select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &wait) > 0;
}

bool WouldBlock() {
  return ::WSAGetLastError() == WSAEWOULDBLOCK;
}

void CloseFd(int* fd) {
  if (*fd >= 0) ::closesocket(Handle(*fd));
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
  if (!WaitUntil(listener_, false, deadline)) return false;
  const SOCKET s = ::accept(Handle(listener_), nullptr, nullptr);
  if (s == INVALID_SOCKET) return false;
  u_long non_blocking = 1;
  ::ioctlsocket(s, FIONBIO, &non_blocking);
  connection_ = static_cast<int>(s);
  return true;
}

size_t LoopbackPeer::Send(std::span<const uint8_t> bytes, uint32_t timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  size_t sent = 0;
  while (connection_ >= 0 && sent < bytes.size()) {
    const int want = static_cast<int>(std::min<size_t>(bytes.size() - sent, 1 << 20));
    const int n =
        ::send(Handle(connection_), reinterpret_cast<const char*>(bytes.data() + sent), want, 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (!WouldBlock() || !WaitUntil(connection_, true, deadline)) break;
  }
  return sent;
}

std::vector<uint8_t> LoopbackPeer::Receive(size_t count, uint32_t timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<uint8_t> out;
  char buffer[4096];
  while (connection_ >= 0 && out.size() < count) {
    const int want = static_cast<int>(std::min(sizeof buffer, count - out.size()));
    const int n = ::recv(Handle(connection_), buffer, want, 0);
    if (n > 0) {
      out.insert(out.end(), buffer, buffer + n);
      continue;
    }
    if (n == 0 || !WouldBlock() || !WaitUntil(connection_, false, deadline)) break;
  }
  return out;
}

bool LoopbackPeer::WaitPeerClosed(uint32_t timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  char buffer[4096];
  while (connection_ >= 0) {
    const int n = ::recv(Handle(connection_), buffer, sizeof buffer, 0);
    if (n > 0) continue;
    if (n == 0 || !WouldBlock()) return true;  // in order, or a reset
    if (!WaitUntil(connection_, false, deadline)) return false;
  }
  return false;
}

void LoopbackPeer::Close() {
  CloseFd(&connection_);
}

void LoopbackPeer::Break() {
  if (connection_ < 0) return;
  const linger abort{1, 0};  // closing with a zero linger sends a reset
  ::setsockopt(Handle(connection_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
               sizeof abort);
  CloseFd(&connection_);
}

uint16_t RefusingLoopbackPort() {
  uint16_t port = 0;
  int fd = ListenOnLoopback(Loopback::kIpv4, 1, &port);
  CloseFd(&fd);  // bound and let go: nobody is there
  return port;
}

SilentLoopbackPort::SilentLoopbackPort() {
  // A backlog of 0 holds one connection nobody accepts; the system drops the
  // next one's handshake, so its connect is never answered.
  listener_ = ListenOnLoopback(Loopback::kIpv4, 0, &port_);
  if (listener_ < 0) return;
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return;
  queued_ = static_cast<int>(s);
  const sockaddr_in address = LoopbackAddress(port_);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    CloseFd(&queued_);
  }
}

SilentLoopbackPort::~SilentLoopbackPort() {
  CloseFd(&queued_);
  CloseFd(&listener_);
}

}  // namespace qz381::platform::testbed
