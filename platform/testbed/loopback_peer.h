#pragma once
// Test equipment: the printer's side of TCP connections on the loopback
// address, for tests of code that connects (the socket backend, the net port
// module). The peer listens on 127.0.0.1 (or ::1) at a port the system picks and holds
// one accepted connection at a time; the test decides what it sends, when it
// reads and how the connection ends. Nothing here is part of the runtime.
//
// The interface is portable; loopback_peer_posix.cpp implements it on BSD
// sockets.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qz381::platform::testbed {

enum class Loopback { kIpv4, kIpv6 };  // 127.0.0.1 or ::1

class LoopbackPeer {
 public:
  // receive_buffer > 0 makes the accepted connections' receive buffer that
  // small, so a peer that stops reading backs the other side's writes up soon.
  explicit LoopbackPeer(Loopback address = Loopback::kIpv4, int receive_buffer = 0);
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  // False when the listening socket could not be made (a machine without
  // IPv6 has no ::1).
  bool listening() const { return listener_ >= 0; }
  // "127.0.0.1" or "::1", as a device would be given it.
  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }

  // Takes the next connection, closing the one held; false when none came
  // within timeout_ms.
  bool Accept(uint32_t timeout_ms = 5000);
  // A connection is held.
  bool connected() const { return connection_ >= 0; }
  // Sends `bytes`, waiting up to timeout_ms while the other side does not
  // read; the count sent.
  size_t Send(std::span<const uint8_t> bytes, uint32_t timeout_ms = 2000);
  // Up to `count` bytes, waiting up to timeout_ms for all of them; fewer when
  // the time ran out or the other side closed.
  std::vector<uint8_t> Receive(size_t count, uint32_t timeout_ms = 2000);
  // True when the other side ended the connection (in order or with a reset)
  // within timeout_ms; what it had sent is read and thrown away.
  bool WaitPeerClosed(uint32_t timeout_ms = 2000);
  // Ends the connection in order.
  void Close();
  // Ends the connection with a reset, as a printer switched off mid-stream.
  void Break();

 private:
  std::string host_;
  int listener_ = -1;
  int connection_ = -1;
  uint16_t port_ = 0;
};

// A loopback port nobody listens on: connects to it are refused.
uint16_t RefusingLoopbackPort();

// A loopback port whose connects are never answered: its one queue place is
// taken by a connection nobody accepts, so the system drops every further
// handshake. Held while the object lives.
class SilentLoopbackPort {
 public:
  SilentLoopbackPort();
  ~SilentLoopbackPort();
  SilentLoopbackPort(const SilentLoopbackPort&) = delete;
  SilentLoopbackPort& operator=(const SilentLoopbackPort&) = delete;
  uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  int queued_ = -1;
  uint16_t port_ = 0;
};

}  // namespace qz381::platform::testbed
