#include "tools/sim/tcp_endpoint.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qz381::sim {
namespace {

std::string Errno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// "host:port" or "[host]:port"; false when it is not that.
bool SplitAddress(std::string_view text, std::string* host, uint16_t* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon + 1 == text.size()) return false;
  std::string_view h = text.substr(0, colon);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  unsigned long value = 0;
  for (const char c : text.substr(colon + 1)) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
    if (value > 65535) return false;
  }
  *host = std::string(h);
  *port = static_cast<uint16_t>(value);
  return !host->empty();
}

}  // namespace

std::unique_ptr<TcpEndpoint> TcpEndpoint::Listen(std::string_view address, std::string* error) {
  std::unique_ptr<TcpEndpoint> endpoint(new TcpEndpoint);
  if (!SplitAddress(address, &endpoint->host_, &endpoint->port_)) {
    *error = "--tcp " + std::string(address) + ": expected ADDRESS:PORT (127.0.0.1:9100)";
    return nullptr;
  }
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, endpoint->host_.c_str(), &v4) == 1) {
    endpoint->family_ = AF_INET;
    if ((ntohl(v4.s_addr) >> 24) != 127) {
      *error = "--tcp " + endpoint->host_ + ": only a loopback address (127.x.x.x, ::1) is taken";
      return nullptr;
    }
  } else if (inet_pton(AF_INET6, endpoint->host_.c_str(), &v6) == 1) {
    endpoint->family_ = AF_INET6;
    if (!IN6_IS_ADDR_LOOPBACK(&v6)) {
      *error = "--tcp " + endpoint->host_ + ": only a loopback address (127.x.x.x, ::1) is taken";
      return nullptr;
    }
  } else {
    *error = "--tcp " + endpoint->host_ + ": not an IP address";
    return nullptr;
  }
  if (!endpoint->OpenListener(error)) return nullptr;
  return endpoint;
}

bool TcpEndpoint::OpenListener(std::string* error) {
  const int fd = ::socket(family_, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = Errno("socket");
    return false;
  }
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (family_ == AF_INET) {
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_port = htons(port_);
    inet_pton(AF_INET, host_.c_str(), &a->sin_addr);
    length = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port_);
    inet_pton(AF_INET6, host_.c_str(), &a->sin6_addr);
    length = sizeof *a;
  }
  const std::string shown = (family_ == AF_INET6 ? "[" + host_ + "]" : host_);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(fd, 4) != 0) {
    *error = Errno("listening on " + shown + ":" + std::to_string(port_));
    ::close(fd);
    return false;
  }
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length);
  port_ = ntohs(family_ == AF_INET ? reinterpret_cast<sockaddr_in*>(&storage)->sin_port
                                   : reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
  address_ = shown + ":" + std::to_string(port_);
  listen_fd_ = fd;
  return true;
}

TcpEndpoint::~TcpEndpoint() {
  Drop(false);
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

bool TcpEndpoint::Accept(std::string* peer) {
  if (listen_fd_ < 0) return false;
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&storage), &length,
                           SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return false;
  Drop(false);
  const int yes = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  connection_fd_ = fd;
  char text[INET6_ADDRSTRLEN] = "?";
  uint16_t port = 0;
  if (storage.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
    port = ntohs(a->sin_port);
  } else if (storage.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
    inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
    port = ntohs(a->sin6_port);
  }
  *peer = std::string(text) + ":" + std::to_string(port);
  return true;
}

void TcpEndpoint::Drop(bool reset) {
  if (connection_fd_ < 0) return;
  if (reset) {
    const linger abort{1, 0};  // closing with a zero linger sends a reset
    ::setsockopt(connection_fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
  ::close(connection_fd_);
  connection_fd_ = -1;
}

bool TcpEndpoint::SetRefusing(bool refusing, std::string* error) {
  if (refusing) {
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
    return true;
  }
  return listen_fd_ >= 0 || OpenListener(error);
}

}  // namespace qz381::sim
