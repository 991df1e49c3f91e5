// TCP connections on Winsock. Every socket is non-blocking and tied with
// WSAEventSelect to an event that readiness sets; each blocking call waits on
// that event and the connection's interrupt event, so Interrupt ends any wait
// at once. The reader and the writer share the readiness event (one per
// socket), so a wait also wakes every 50 ms and looks again: a readiness that
// the other thread's wait took costs at most that.
#include <winsock2.h>
// After winsock2.h:
#include <mstcpip.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/detached_call.h"
#include "platform/socket.h"
#include "platform/win32/win32_text.h"

namespace qz381::platform {
namespace {

using Clock = std::chrono::steady_clock;
using win32::EventHandle;

// How often a connect in progress looks at its cancel flag, and the longest
// a wait goes without looking again.
constexpr DWORD kCancelPollMs = 10;
constexpr DWORD kRecheckMs = 50;
// Keep-alive: a silent peer is asked after 5 s, then every 2 s, so a printer
// that lost power is noticed in about 15 s (the system gives up after its
// own count of probes, 10 on current Windows).
constexpr ULONG kKeepIdleMs = 5000;
constexpr ULONG kKeepIntervalMs = 2000;

// Winsock is started once per module and never stopped: a module may be
// unloaded while another one still uses it, and the system ends it with the
// process.
bool WinsockReady() {
  static const bool ready = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

std::string SocketError(const std::string& context, int error) {
  return context + ": " + win32::ErrorText(static_cast<DWORD>(error));
}

DWORD MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<DWORD>(std::clamp<long long>(left, 0, 1 << 30));
}

class Win32StreamSocket final : public StreamSocket {
 public:
  Win32StreamSocket(SOCKET socket, std::string name) : socket_(socket), name_(std::move(name)) {}
  ~Win32StreamSocket() override { ::closesocket(socket_); }

  // The readiness event tied to the socket; false when the system refused.
  bool Prepare() {
    return ready_.get() && interrupt_.get() &&
           ::WSAEventSelect(socket_, ready_.get(), FD_READ | FD_WRITE | FD_CLOSE) == 0;
  }

  SocketWait WaitInput(uint32_t timeout_ms) override {
    const bool forever = timeout_ms == 0xFFFFFFFFu;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeout_ms);
    for (;;) {
      if (Interrupted()) return SocketWait::kInterrupted;
      ::ResetEvent(ready_.get());
      char probe;
      const int n = ::recv(socket_, &probe, 1, MSG_PEEK);
      if (n > 0) return SocketWait::kReady;
      if (n == 0) return SocketWait::kClosed;
      if (::WSAGetLastError() != WSAEWOULDBLOCK) return SocketWait::kFailed;
      if (!forever && Clock::now() >= deadline) return SocketWait::kTimedOut;
      Wait(forever ? kRecheckMs : std::min(kRecheckMs, MsUntil(deadline)));
    }
  }

  Status Read(std::span<uint8_t> buffer, size_t* got) override {
    *got = 0;
    if (buffer.empty() || Interrupted()) return Status::Ok();
    const int want = static_cast<int>(std::min<size_t>(buffer.size(), 1 << 20));
    const int n = ::recv(socket_, reinterpret_cast<char*>(buffer.data()), want, 0);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return Status::Ok();
    }
    if (n == 0) return Status::Fail(Outcome::kIoError, name_ + ": closed by the printer");
    const int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return Status::Ok();
    return Status::Fail(Outcome::kIoError, SocketError(name_ + ": read", error), error);
  }

  Status Write(std::span<const uint8_t> data, uint32_t timeout_ms, size_t* written) override {
    *written = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (*written < data.size()) {
      if (Interrupted()) return Status::Fail(Outcome::kIoError, name_ + ": write interrupted");
      ::ResetEvent(ready_.get());
      const int want = static_cast<int>(std::min<size_t>(data.size() - *written, 1 << 20));
      const int n = ::send(socket_, reinterpret_cast<const char*>(data.data() + *written), want, 0);
      if (n > 0) {
        *written += static_cast<size_t>(n);
        continue;
      }
      const int error = ::WSAGetLastError();
      if (n < 0 && error != WSAEWOULDBLOCK) {
        return Status::Fail(Outcome::kIoError, SocketError(name_ + ": write", error), error);
      }
      if (timeout_ms != 0 && Clock::now() >= deadline) {
        return Status::Fail(Outcome::kTimedOut, name_ + ": write time-out after " +
                                                    std::to_string(*written) + " bytes");
      }
      Wait(timeout_ms == 0 ? kRecheckMs : std::min(kRecheckMs, MsUntil(deadline)));
    }
    return Status::Ok();
  }

  void Interrupt() override {
    interrupted_.store(true);
    ::SetEvent(interrupt_.get());
  }
  bool Interrupted() const override { return interrupted_.load(); }
  const std::string& name() const override { return name_; }

 private:
  void Wait(DWORD timeout_ms) {
    const HANDLE events[2] = {ready_.get(), interrupt_.get()};
    ::WaitForMultipleObjects(2, events, FALSE, timeout_ms);
  }

  const SOCKET socket_;
  const std::string name_;
  EventHandle ready_, interrupt_;
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

Status Resolve(const std::string& host, const std::string& service, Clock::time_point deadline,
               const std::atomic<bool>* cancel, addrinfo** result) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  // Address literals need no look-up.
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, result) == 0) return Status::Ok();

  hints.ai_flags = AI_ADDRCONFIG;
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
    return Status::Fail(Outcome::kNotFound, SocketError("looking up '" + host + "'", found.error),
                        found.error);
  }
  *result = found.list.release();
  return Status::Ok();
}

// One attempt at one address: the connected socket, or INVALID_SOCKET with
// `status` set.
SOCKET ConnectOne(const addrinfo& address, Clock::time_point deadline,
                  const std::atomic<bool>* cancel, const std::string& name, Status* status) {
  const SOCKET s = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (s == INVALID_SOCKET) {
    const int error = ::WSAGetLastError();
    *status = Status::Fail(Outcome::kIoError, SocketError(name + ": socket", error), error);
    return INVALID_SOCKET;
  }
  u_long non_blocking = 1;
  ::ioctlsocket(s, FIONBIO, &non_blocking);
  int error = 0;
  if (::connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
    error = ::WSAGetLastError();
  }
  while (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS) {
    if (Cancelled(cancel) || Clock::now() >= deadline) {
      ::closesocket(s);
      *status = Status::Fail(
          Outcome::kTimedOut,
          name + ": " +
              (Cancelled(cancel) ? "connect cancelled" : "no answer within the time limit"));
      return INVALID_SOCKET;
    }
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    const DWORD slice = std::min(kCancelPollMs, MsUntil(deadline));
    timeval wait{0, static_cast<long>(slice * 1000)};
    const int ready = ::select(0, nullptr, &writable, &failed, &wait);
    if (ready == SOCKET_ERROR) {
      error = ::WSAGetLastError();
      break;
    }
    if (ready == 0) continue;
    if (FD_ISSET(s, &failed)) {
      int length = sizeof error;
      if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
          error == 0) {
        error = WSAECONNREFUSED;
      }
    } else {
      error = 0;
    }
  }
  if (error != 0) {
    ::closesocket(s);
    *status = Status::Fail(Outcome::kIoError, SocketError(name + ": connect", error), error);
    return INVALID_SOCKET;
  }
  // Small commands (a status request) go out at once instead of waiting to be
  // joined with more.
  const BOOL on = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  tcp_keepalive keep{1, kKeepIdleMs, kKeepIntervalMs};
  DWORD ignored = 0;
  ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &keep, sizeof keep, nullptr, 0, &ignored, nullptr, nullptr);
  return s;
}

std::string HostAndPort(const std::string& host, uint16_t port) {
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
         std::to_string(port);
}

class Win32Sockets final : public Sockets {
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
    if (!WinsockReady()) {
      result = Status::Fail(Outcome::kIoError, name + ": Winsock did not start");
      return nullptr;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    addrinfo* addresses = nullptr;
    result = Resolve(host, std::to_string(port), deadline, cancel, &addresses);
    if (!result.ok()) return nullptr;
    SOCKET s = INVALID_SOCKET;
    result = Status::Fail(Outcome::kNotFound, name + ": no address");
    for (const addrinfo* a = addresses; a != nullptr && s == INVALID_SOCKET; a = a->ai_next) {
      s = ConnectOne(*a, deadline, cancel, name, &result);
      if (result.outcome() == Outcome::kTimedOut) break;
    }
    ::freeaddrinfo(addresses);
    if (s == INVALID_SOCKET) return nullptr;
    auto socket = std::make_unique<Win32StreamSocket>(s, name);
    if (!socket->Prepare()) {
      const int error = ::WSAGetLastError();
      result = Status::Fail(Outcome::kIoError, SocketError(name + ": events", error), error);
      return nullptr;
    }
    result = Status::Ok();
    return socket;
  }
};

}  // namespace

Sockets& DefaultSockets() {
  static Win32Sockets sockets;
  return sockets;
}

}  // namespace qz381::platform
