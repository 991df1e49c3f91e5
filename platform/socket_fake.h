#pragma once
// Test doubles for TCP connections: a network in memory whose printers the test
// plays (they accept, refuse or never answer; each accepted connection is a
// FakeConnection whose far end the test drives), and a wrapper that makes a
// chosen call of any Sockets fail, once or from then on: dropped connections,
// failed writes and refused connects without a network.
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/fault_plan.h"
#include "platform/socket.h"

namespace qz381::platform {

// One connection. The device side is what FakeSockets::Connect hands out; the
// methods below are the far end's. All methods are safe from any thread.
class FakeConnection {
 public:
  FakeConnection();
  ~FakeConnection();
  FakeConnection(const FakeConnection&) = delete;
  FakeConnection& operator=(const FakeConnection&) = delete;

  // Bytes from the far end towards the device.
  void Send(std::span<const uint8_t> bytes);
  // Everything the device wrote since the last call.
  std::vector<uint8_t> TakeWritten();
  // Waits until the device has written at least `count` bytes not yet taken.
  bool WaitWritten(size_t count, uint32_t timeout_ms);
  // How many written bytes the far end holds before the device's writes wait,
  // as they wait on a printer that stopped reading; default no limit.
  void SetWriteCapacity(size_t bytes);
  // The far end closes in order: what it sent is still read, then the device
  // sees kClosed and its writes fail.
  void Close();
  // The connection breaks (reset, keep-alive expired): the device's waits
  // answer kFailed at once and unread bytes are lost.
  void Break();
  // The device side still exists (not yet destroyed).
  bool IsHeld() const;

  struct State;  // shared with the device side

 private:
  std::shared_ptr<State> state_;
  friend class FakeSockets;
};

// How a printer on the fake network answers a connect.
enum class FakeAnswer {
  kAccept,  // a new FakeConnection
  kRefuse,  // kIoError at once, as a closed port answers
  kSilent,  // nothing answers: Connect waits for its time limit (or its cancel)
};

class FakeSockets final : public Sockets {
 public:
  // Sets how connects to host:port are answered (host compared as written).
  // A host with no endpoint at all does not resolve (kNotFound); a known host
  // without this port refuses.
  void SetEndpoint(const std::string& host, uint16_t port, FakeAnswer answer);
  // The index-th connection accepted at host:port (0 = the first), waiting up
  // to timeout_ms for it; null when it did not come.
  std::shared_ptr<FakeConnection> WaitConnection(const std::string& host, uint16_t port,
                                                 size_t index, uint32_t timeout_ms);
  size_t ConnectionCount(const std::string& host, uint16_t port) const;

  std::unique_ptr<StreamSocket> Connect(std::string_view host, uint16_t port, uint32_t timeout_ms,
                                        const std::atomic<bool>* cancel, Status* status) override;

 private:
  struct Endpoint {
    FakeAnswer answer = FakeAnswer::kAccept;
    std::vector<std::shared_ptr<FakeConnection>> accepted;
  };
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Endpoint> endpoints_;  // "host:port"
};

enum class SocketCall { kConnect, kWaitInput, kRead, kWrite };

// Forwards to `inner` (which must outlive it) and to the connections it opens,
// counting calls of each kind across all of them. A failed Connect connects
// nothing, a failed WaitInput answers kFailed, a failed Read or Write moves no
// byte.
class FaultInjectingSockets final : public Sockets {
 public:
  explicit FaultInjectingSockets(Sockets& inner);
  ~FaultInjectingSockets() override;

  void FailCall(SocketCall call, int nth, FaultMode mode, Outcome outcome = Outcome::kIoError);
  void ClearFaults();
  int Calls(SocketCall call) const;  // since construction

  std::unique_ptr<StreamSocket> Connect(std::string_view host, uint16_t port, uint32_t timeout_ms,
                                        const std::atomic<bool>* cancel, Status* status) override;

  struct Faults;  // shared with the wrapped connections

 private:
  Sockets& inner_;
  std::shared_ptr<Faults> faults_;
};

}  // namespace qz381::platform
