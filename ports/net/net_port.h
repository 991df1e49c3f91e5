#pragma once
// One network port of the net module: a TCP connection to a receipt printer at
// the address the settings record names, the reader thread that splits what the
// printer sends into data and status blocks, and the power state, which is the
// connection's: on-line while connected. A connection that drops is made again
// in the background, with a growing pause between attempts, until the port is
// closed. The exports in net_exports.cpp act on one of these (the calling
// thread's current port); tests drive it directly over in-memory connections
// or loopback.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/socket.h"
#include "ports/common/port_contract.h"
#include "ports/common/receive_buffers.h"

namespace qz381::ports {

// Where a printer listens unless its device entry says otherwise (the raw
// printing port of network printers).
inline constexpr uint16_t kDefaultPrinterPort = 9100;

// The pauses between reconnection attempts: doubling from the first, never
// longer than the last.
class ReconnectBackoff {
 public:
  static constexpr uint32_t kFirstMs = 100;
  static constexpr uint32_t kLongestMs = 5000;
  // The pause before the next attempt.
  uint32_t Next();
  // After a connection was made: the next loss starts again from the first.
  void Reset() { next_ms_ = kFirstMs; }

 private:
  uint32_t next_ms_ = kFirstMs;
};

class NetPort {
 public:
  // `sockets` connects and must outlive the port; `id` names it in traces.
  NetPort(platform::Sockets& sockets, int32_t id);
  ~NetPort();  // closes the port first
  NetPort(const NetPort&) = delete;
  NetPort& operator=(const NetPort&) = delete;

  // The methods answer as the module's exports do (0 = failure or nothing).
  // Configuration and open/close come from one thread at a time; Write, Read,
  // Clear and the status calls may come from any thread at any time, also
  // while the port is being closed.
  int32_t SetDeviceOption(const DeviceOption& option);
  // Connects within kConnectMs; 0 when the address does not parse or nothing
  // accepts in time.
  int32_t OpenPort();
  // Ends the connection, a reconnection in progress and the reader thread;
  // returns within milliseconds whatever the network does.
  void ClosePort();
  // 0 while disconnected; otherwise the bytes handed to the connection within
  // the record's write time limit (multiplier x length + constant, both 0: no
  // limit).
  int32_t Write(const uint8_t* data, int32_t length);
  int32_t Read(uint8_t* buffer, int32_t length, uint32_t timeout_ms);
  void Clear();
  int32_t GetInputBufferCount() const;
  // Each loss of the connection is answered off-line at least once, even when
  // the connection is back before the next call: a caller that polls (the
  // service object's status thread) sees every loss and restores the printer.
  int32_t IsPowerState() const;
  // Waits up to timeout_ms for a status block: 1 when one is buffered, 0 at
  // the limit, kWaitUnavailable when the port is not open.
  int32_t WaitASBState(uint32_t timeout_ms);
  int32_t GetASBState(uint8_t* status);

  // The printer's address from a settings record: the port name is the host
  // (an IPv4 or IPv6 address, or a host name) and the baud-rate member carries
  // the TCP port, 0 meaning kDefaultPrinterPort. False with `why` set when the
  // record names no usable address.
  static bool EndpointOf(const DeviceOption& option, std::string* host, uint16_t* port,
                         std::string* why);

  // How long a connect, at OpenPort and on each reconnection, may take.
  static constexpr uint32_t kConnectMs = 3000;

 private:
  void ReaderLoop(std::shared_ptr<platform::StreamSocket> socket);
  // Reads from `socket` until the connection ends (true) or the port closes
  // (false).
  bool Serve(platform::StreamSocket& socket);
  // Makes `socket` (or none) the connection that Write uses and sets the power
  // state to match; false, without taking it, once the port is closing.
  bool Publish(std::shared_ptr<platform::StreamSocket> socket);
  std::shared_ptr<platform::StreamSocket> Connection() const;
  // Sleeps up to `ms` unless ClosePort asks the reader to stop; false when asked.
  bool PauseReader(uint32_t ms);
  uint32_t WriteLimitMs(size_t length) const;

  platform::Sockets& sockets_;
  const int32_t id_;

  // Guards the settings, the address and the reader thread: OpenPort and
  // ClosePort change them.
  mutable std::mutex lifecycle_;
  DeviceOption option_;
  std::string host_;
  uint16_t port_ = 0;
  std::thread reader_;
  std::atomic<uint32_t> write_multiplier_ms_{0};
  std::atomic<uint32_t> write_constant_ms_{0};

  std::atomic<bool> open_{false};
  std::atomic<int32_t> power_{kPowerStateUnknown};
  mutable std::atomic<bool> loss_unreported_{false};
  ReceiveBuffers buffers_;
  std::mutex write_lock_;  // serialises Write on this port

  // The connection in use; null while disconnected. A Write holds its own
  // reference, so the reader can let go of a dropped connection at any time.
  mutable std::mutex connection_mutex_;
  std::shared_ptr<platform::StreamSocket> connection_;
  bool write_refusal_traced_ = false;  // guarded by connection_mutex_

  // Set by ClosePort; also the cancel flag of a connect in progress.
  std::atomic<bool> stopping_{false};
  std::mutex stop_mutex_;
  std::condition_variable stop_cv_;
};

}  // namespace qz381::ports
