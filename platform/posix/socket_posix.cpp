// TCP connections on BSD sockets. Every socket is non-blocking; each blocking
// call polls it together with a wake pipe, so Interrupt ends any wait at once.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/detached_call.h"
#include "platform/socket.h"

namespace qz381::platform {
namespace {

using Clock = std::chrono::steady_clock;

// How often a connect in progress looks at its cancel flag.
constexpr int kCancelPollMs = 10;
// Keep-alive: a silent peer is asked after 5 s, then every 2 s, and given up
// after 3 unanswered probes, so a printer that lost power is noticed in about
// 11 s. Unacknowledged data is given up on after as long.
constexpr int kKeepIdleS = 5;
constexpr int kKeepIntervalS = 2;
constexpr int kKeepCount = 3;
constexpr unsigned kUserTimeoutMs = 11000;

std::string Errno(const std::string& context, int error) {
  return context + ": " + std::strerror(error);
}

int MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

class PosixStreamSocket final : public StreamSocket {
 public:
  PosixStreamSocket(int fd, int wake_read, int wake_write, std::string name)
      : fd_(fd), wake_read_(wake_read), wake_write_(wake_write), name_(std::move(name)) {}
  ~PosixStreamSocket() override {
    ::close(fd_);
    ::close(wake_read_);
    ::close(wake_write_);
  }

  SocketWait WaitInput(uint32_t timeout_ms) override {
    const bool forever = timeout_ms == 0xFFFFFFFFu;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      if (interrupted_.load()) return SocketWait::kInterrupted;
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
      const int ready = ::poll(fds, 2, forever ? -1 : MsUntil(deadline));
      if (ready < 0 && errno != EINTR) return SocketWait::kFailed;
      if (interrupted_.load()) return SocketWait::kInterrupted;
      if (ready > 0 && fds[0].revents != 0) {
        uint8_t probe;
        const ssize_t n = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) return SocketWait::kReady;
        if (n == 0) return SocketWait::kClosed;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return SocketWait::kFailed;
      }
      if (!forever && Clock::now() >= deadline) return SocketWait::kTimedOut;
    }
  }

  Status Read(std::span<uint8_t> buffer, size_t* got) override {
    *got = 0;
    if (buffer.empty() || interrupted_.load()) return Status::Ok();
    const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return Status::Ok();
    }
    if (n == 0) return Status::Fail(Outcome::kIoError, name_ + ": closed by the printer");
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return Status::Ok();
    const int error = errno;
    return Status::Fail(Outcome::kIoError, Errno(name_ + ": read", error), error);
  }

  Status Write(std::span<const uint8_t> data, uint32_t timeout_ms, size_t* written) override {
    *written = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (*written < data.size()) {
      if (interrupted_.load()) {
        return Status::Fail(Outcome::kIoError, name_ + ": write interrupted");
      }
      const ssize_t n =
          ::send(fd_, data.data() + *written, data.size() - *written, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n > 0) {
        *written += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        const int error = errno;
        return Status::Fail(Outcome::kIoError, Errno(name_ + ": write", error), error);
      }
      if (timeout_ms != 0 && Clock::now() >= deadline) {
        return Status::Fail(Outcome::kTimedOut, name_ + ": write time-out after " +
                                                    std::to_string(*written) + " bytes");
      }
      pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_read_, POLLIN, 0}};
      if (::poll(fds, 2, timeout_ms == 0 ? -1 : MsUntil(deadline)) < 0 && errno != EINTR) {
        const int error = errno;
        return Status::Fail(Outcome::kIoError, Errno(name_ + ": poll", error), error);
      }
    }
    return Status::Ok();
  }

  void Interrupt() override {
    interrupted_.store(true);
    const char b = 1;
    [[maybe_unused]] auto n = ::write(wake_write_, &b, 1);  // a full pipe wakes as well
  }
  bool Interrupted() const override { return interrupted_.load(); }
  const std::string& name() const override { return name_; }

 private:
  const int fd_;
  const int wake_read_;
  const int wake_write_;
  const std::string name_;
  std::atomic<bool> interrupted_{false};
};

bool Cancelled(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load();
}

// A host-name look-up's answer; the list frees itself if nobody takes it.
struct FreeAddresses {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
struct Found {
  int error = 0;
  std::unique_ptr<addrinfo, FreeAddresses> list;
};

// The addresses of `host`, looked up without blocking past the deadline or a
// cancel. Address literals need no look-up and answer at once.
Status Resolve(const std::string& host, const std::string& service, Clock::time_point deadline,
               const std::atomic<bool>* cancel, addrinfo** result) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, result) == 0) return Status::Ok();

  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
  // getaddrinfo cannot be interrupted: it runs on a thread of its own.
  Found found;
  const DetachedEnd end = CallDetached<Found>(
      [host, service, hints] {
        addrinfo* list = nullptr;
        const int error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
        return Found{error, std::unique_ptr<addrinfo, FreeAddresses>(list)};
      },
      deadline, cancel, &found);
  if (end == DetachedEnd::kNoThread) {
    return Status::Fail(Outcome::kIoError, "looking up '" + host + "': no thread for it");
  }
  if (end != DetachedEnd::kDone) {
    return Status::Fail(Outcome::kTimedOut,
                        "looking up '" + host +
                            "': " + (end == DetachedEnd::kCancelled ? "cancelled" : "time-out"));
  }
  if (found.error != 0) {
    return Status::Fail(Outcome::kNotFound,
                        "looking up '" + host + "': " + std::string(::gai_strerror(found.error)));
  }
  *result = found.list.release();
  return Status::Ok();
}

void SetOption(int fd, int level, int name, int value) {
  ::setsockopt(fd, level, name, &value, sizeof value);
}

// One attempt at one address: the connected socket, or -1 with `status` set.
int ConnectOne(const addrinfo& address, Clock::time_point deadline, const std::atomic<bool>* cancel,
               const std::string& name, Status* status) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    const int error = errno;
    *status = Status::Fail(Outcome::kIoError, Errno(name + ": socket", error), error);
    return -1;
  }
  int error = 0;
  if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) error = errno;
  while (error == EINPROGRESS || error == EINTR) {
    if (Cancelled(cancel) || Clock::now() >= deadline) {
      ::close(fd);
      *status = Status::Fail(
          Outcome::kTimedOut,
          name + ": " +
              (Cancelled(cancel) ? "connect cancelled" : "no answer within the time limit"));
      return -1;
    }
    pollfd pfd{fd, POLLOUT, 0};
    const int ready = ::poll(&pfd, 1, std::min(kCancelPollMs, MsUntil(deadline)));
    if (ready < 0 && errno != EINTR) {
      error = errno;
      break;
    }
    if (ready <= 0) continue;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  }
  if (error != 0) {
    ::close(fd);
    *status = Status::Fail(Outcome::kIoError, Errno(name + ": connect", error), error);
    return -1;
  }
  // Small commands (a status request) go out at once instead of waiting to be
  // joined with more.
  SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleS);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalS);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepCount);
  SetOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(kUserTimeoutMs));
  return fd;
}

std::string HostAndPort(const std::string& host, uint16_t port) {
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
         std::to_string(port);
}

class PosixSockets final : public Sockets {
 public:
  std::unique_ptr<StreamSocket> Connect(std::string_view host_text, uint16_t port,
                                        uint32_t timeout_ms, const std::atomic<bool>* cancel,
                                        Status* status) override {
    Status local;
    Status& result = status ? *status : local;
    std::string host(host_text);
    // "[::1]" as URLs write it is "::1".
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
    }
    const std::string name = HostAndPort(host, port);
    if (host.empty() || port == 0) {
      result = Status::Fail(Outcome::kInvalidArgument,
                            "connect to '" + name + "': no " + (host.empty() ? "host" : "port"));
      return nullptr;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    addrinfo* addresses = nullptr;
    result = Resolve(host, std::to_string(port), deadline, cancel, &addresses);
    if (!result.ok()) return nullptr;
    int fd = -1;
    result = Status::Fail(Outcome::kNotFound, name + ": no address");
    for (const addrinfo* a = addresses; a != nullptr && fd < 0; a = a->ai_next) {
      fd = ConnectOne(*a, deadline, cancel, name, &result);
      if (result.outcome() == Outcome::kTimedOut) break;
    }
    ::freeaddrinfo(addresses);
    if (fd < 0) return nullptr;
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
      const int error = errno;
      ::close(fd);
      result = Status::Fail(Outcome::kIoError, Errno(name + ": pipe", error), error);
      return nullptr;
    }
    result = Status::Ok();
    return std::make_unique<PosixStreamSocket>(fd, wake[0], wake[1], name);
  }
};

}  // namespace

Sockets& DefaultSockets() {
  static PosixSockets sockets;
  return sockets;
}

}  // namespace qz381::platform
