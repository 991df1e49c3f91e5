#pragma once
// TCP connections as the net port module uses them: connected to a printer's
// address with a time limit, read and written with time limits, and woken from
// any blocking call when the port is being closed. The module only ever
// connects; nothing here listens.
//
// The POSIX backend is BSD sockets and poll, with keep-alive on so that a
// printer that vanished without a word (power cut, cable pulled) is noticed
// within seconds. Tests use the in-memory connections of socket_fake.h.
//
// Threads: one connection may be used by two threads at once, one reading (the
// module's reader thread) and one writing (a caller's Write); Interrupt may come
// from any thread.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace qz381::platform {

enum class SocketWait {
  kReady,        // at least one byte waits
  kTimedOut,     // nothing arrived within the time-out
  kInterrupted,  // Interrupt was called
  kClosed,       // the peer ended the connection in order; nothing more will come
  kFailed,       // the connection broke (reset, keep-alive expired, network error)
};

// One connected TCP stream. Closing is destruction; call Interrupt first when
// another thread may be blocked in it.
class StreamSocket {
 public:
  virtual ~StreamSocket() = default;

  // Blocks until at least one byte waits, the peer closes, the connection
  // fails, timeout_ms pass or Interrupt is called. Bytes that arrived before
  // the peer closed are answered kReady until they have been read.
  virtual SocketWait WaitInput(uint32_t timeout_ms) = 0;
  // Copies what waits, up to buffer.size(), without blocking. Ok with *got == 0
  // when nothing waits or after Interrupt; kIoError once the connection has
  // ended (closed by the peer or broken) and nothing is left to read.
  virtual Status Read(std::span<uint8_t> buffer, size_t* got) = 0;
  // Hands all of `data` to the connection within timeout_ms (0: no limit; the
  // write still ends on Interrupt or when the connection fails). Blocks while
  // the peer does not read and the system's send buffer is full. *written is
  // the count handed over even on failure: kTimedOut when the limit cut the
  // write short, kIoError when the connection failed or Interrupt stopped it.
  // Bytes handed over are not yet bytes the peer has read.
  virtual Status Write(std::span<const uint8_t> data, uint32_t timeout_ms, size_t* written) = 0;

  // Wakes every call blocked in this connection; from now on waits answer
  // kInterrupted at once and writes stop. Safe from any thread, idempotent.
  virtual void Interrupt() = 0;
  virtual bool Interrupted() const = 0;

  // "host:port" as connected to, for trace lines.
  virtual const std::string& name() const = 0;
};

// Opens connections. Implementations are safe to call from any thread.
class Sockets {
 public:
  virtual ~Sockets() = default;
  // Resolves `host` (an IPv4 or IPv6 address, or a host name) and connects to
  // the first of its addresses that accepts, all within timeout_ms. Blocks
  // until then, unless `cancel` (may be null) becomes true: it is looked at
  // every few milliseconds, so a closing port never waits for the time limit.
  // kInvalidArgument for an empty host or port 0, kNotFound when the name does
  // not resolve, kIoError when every address refused or was unreachable,
  // kTimedOut when the limit passed (or `cancel` was set) first.
  virtual std::unique_ptr<StreamSocket> Connect(std::string_view host, uint16_t port,
                                                uint32_t timeout_ms,
                                                const std::atomic<bool>* cancel,
                                                Status* status) = 0;
};

// The backend of this platform.
Sockets& DefaultSockets();

}  // namespace qz381::platform
