#include "ports/net/net_port.h"

#include <algorithm>
#include <chrono>
#include <span>
#include <vector>

#include "platform/trace.h"
#include "ports/common/net_address.h"
#include "ports/common/status_recogniser.h"

namespace qz381::ports {
namespace {

using Clock = std::chrono::steady_clock;

// The reader takes at most this much at a time. A status block that TCP cut in
// two arrives in two reads, which the recogniser allows.
constexpr size_t kChunkSize = 1024;
// The reader looks at the stop flag at least this often; ClosePort also wakes
// it at once.
constexpr uint32_t kWaitSliceMs = 500;
// What Read adds to its time-out when fewer bytes are buffered than asked for,
// as com does: a reply on its way gets the chance to be read in full.
constexpr uint32_t kReadGraceMs = 30;
// ClosePort is expected to end everything well within this; it is said when
// it does not.
constexpr auto kCloseDeadline = std::chrono::milliseconds(100);

}  // namespace

uint32_t ReconnectBackoff::Next() {
  const uint32_t pause = next_ms_;
  next_ms_ = std::min(kLongestMs, next_ms_ * 2);
  return pause;
}

NetPort::NetPort(platform::Sockets& sockets, int32_t id)
    : sockets_(sockets), id_(id), option_(DefaultDeviceOption()) {}

NetPort::~NetPort() {
  ClosePort();
}

bool NetPort::EndpointOf(const DeviceOption& option, std::string* host, uint16_t* port,
                         std::string* why) {
  const std::string_view name = PortNameOf(option);
  if (!IsNetworkAddress(name)) {
    *why = "'" + std::string(name) + "' is not a network address or host name";
    return false;
  }
  // What the setup utility writes until an address is entered: connecting to
  // it would reach this machine, not a printer.
  if (name == "0.0.0.0" || name == "::" || name == "[::]") {
    *why = "no printer address is set ('" + std::string(name) + "')";
    return false;
  }
  if (option.baudRate > 65535) {
    *why = "TCP port " + std::to_string(option.baudRate) + " is out of range";
    return false;
  }
  *host = std::string(name);
  *port = option.baudRate == 0 ? kDefaultPrinterPort : static_cast<uint16_t>(option.baudRate);
  return true;
}

int32_t NetPort::SetDeviceOption(const DeviceOption& option) {
  std::lock_guard hold(lifecycle_);
  const std::string_view name = PortNameOf(option);
  DeviceOption stored = option;
  // The name of the earlier record stays when this one brings none.
  std::copy(std::begin(option_.portName), std::end(option_.portName), stored.portName);
  if (!name.empty()) SetPortName(stored, name);
  option_ = stored;
  if (name.empty()) {
    platform::Trace("net: port %d: SetDeviceOption without a port name; keeping '%s'", id_,
                    std::string(PortNameOf(option_)).c_str());
    return 0;
  }
  return 1;
}

int32_t NetPort::OpenPort() {
  std::lock_guard hold(lifecycle_);
  if (reader_.joinable()) return open_.load() ? 1 : 0;
  std::string why;
  if (!EndpointOf(option_, &host_, &port_, &why)) {
    platform::Trace("net: port %d: OpenPort: %s", id_, why.c_str());
    return 0;
  }
  write_multiplier_ms_ = option_.timeouts.writeTotalTimeoutMultiplier;
  write_constant_ms_ = option_.timeouts.writeTotalTimeoutConstant;
  stopping_ = false;
  platform::Status status;
  std::shared_ptr<platform::StreamSocket> socket =
      sockets_.Connect(host_, port_, kConnectMs, &stopping_, &status);
  if (!socket) {
    platform::Trace("net: port %d: cannot connect: %s", id_, status.ToString().c_str());
    power_.store(kPowerStateOffline, std::memory_order_release);
    return 0;
  }
  if (!buffers_.Open(option_.inputBufferSize)) {
    platform::Trace("net: port %d: no memory for receive buffers of %u bytes", id_,
                    option_.inputBufferSize);
    return 0;
  }
  Publish(socket);
  open_.store(true);
  reader_ = std::thread(&NetPort::ReaderLoop, this, std::move(socket));
  return 1;
}

void NetPort::ClosePort() {
  std::lock_guard hold(lifecycle_);
  const auto asked = Clock::now();
  open_.store(false);
  {
    std::lock_guard stop(stop_mutex_);
    stopping_ = true;
  }
  stop_cv_.notify_all();
  // Wakes the reader and any Write blocked on a printer that does not read;
  // a connect in progress sees the stop flag within milliseconds.
  if (auto socket = Connection()) socket->Interrupt();
  if (reader_.joinable()) reader_.join();
  if (Clock::now() - asked > kCloseDeadline) {
    platform::Trace("net: port %d: closing took longer than 100 ms", id_);
  }
  {
    std::lock_guard connection(connection_mutex_);
    connection_.reset();  // a Write still inside holds its own reference
  }
  buffers_.Close();  // wakes a Read waiting for data
}

int32_t NetPort::IsPowerState() const {
  if (loss_unreported_.exchange(false)) return kPowerStateOffline;
  return power_.load(std::memory_order_acquire);
}

bool NetPort::Publish(std::shared_ptr<platform::StreamSocket> socket) {
  std::lock_guard hold(connection_mutex_);
  if (socket && stopping_.load()) return false;
  const bool connected = socket != nullptr;
  if (!connected) loss_unreported_ = true;
  connection_ = std::move(socket);
  write_refusal_traced_ = false;
  power_.store(connected ? kPowerStateOnline : kPowerStateOffline, std::memory_order_release);
  return true;
}

std::shared_ptr<platform::StreamSocket> NetPort::Connection() const {
  std::lock_guard hold(connection_mutex_);
  return connection_;
}

bool NetPort::PauseReader(uint32_t ms) {
  std::unique_lock hold(stop_mutex_);
  return !stop_cv_.wait_for(hold, std::chrono::milliseconds(ms),
                            [this] { return stopping_.load(); });
}

uint32_t NetPort::WriteLimitMs(size_t length) const {
  const uint64_t limit = uint64_t{write_multiplier_ms_.load()} * length + write_constant_ms_.load();
  return static_cast<uint32_t>(std::min<uint64_t>(limit, UINT32_MAX - 1));
}

int32_t NetPort::Write(const uint8_t* data, int32_t length) {
  if (!data || length <= 0 || !open_.load()) return 0;
  std::shared_ptr<platform::StreamSocket> socket;
  {
    std::lock_guard hold(connection_mutex_);
    socket = connection_;
    if (!socket) {
      // Said once per loss: the output queue retries, and every retry would
      // say it again.
      if (!write_refusal_traced_) {
        platform::Trace("net: port %d: Write while %s:%u is not connected; answered 0", id_,
                        host_.c_str(), port_);
      }
      write_refusal_traced_ = true;
      return 0;
    }
  }
  std::lock_guard hold(write_lock_);
  size_t written = 0;
  const size_t size = static_cast<size_t>(length);
  const platform::Status status = socket->Write({data, size}, WriteLimitMs(size), &written);
  if (!status.ok()) {
    platform::Trace("net: port %d: write of %d bytes ended after %u: %s", id_, length,
                    static_cast<unsigned>(written), status.ToString().c_str());
    // A connection that failed under a write is dropped now, not when the
    // reader next looks: the reconnection starts at once. A printer that only
    // stopped reading (time-out) keeps its connection.
    if (status.outcome() == platform::Outcome::kIoError && !stopping_.load()) socket->Interrupt();
  }
  return static_cast<int32_t>(written);
}

int32_t NetPort::Read(uint8_t* buffer, int32_t length, uint32_t timeout_ms) {
  if (!buffer || length <= 0 || !open_.load()) return 0;
  const size_t wanted = static_cast<size_t>(length);
  uint32_t wait = timeout_ms;
  if (buffers_.data.Count() < wanted) {
    wait = timeout_ms > UINT32_MAX - kReadGraceMs ? UINT32_MAX : timeout_ms + kReadGraceMs;
  }
  return static_cast<int32_t>(buffers_.data.TakeFor({buffer, wanted}, wait));
}

void NetPort::Clear() {
  buffers_.data.Clear();
}

int32_t NetPort::GetInputBufferCount() const {
  return static_cast<int32_t>(buffers_.data.Count());
}

int32_t NetPort::WaitASBState(uint32_t timeout_ms) {
  if (buffers_.status.WaitFor(timeout_ms)) return 1;
  return buffers_.status.IsOpen() ? 0 : kWaitUnavailable;
}

int32_t NetPort::GetASBState(uint8_t* status) {
  if (!status) return 0;
  StatusBlock block;
  if (!buffers_.status.Take(block)) return 0;
  std::copy(block.begin(), block.end(), status);
  return 1;
}

bool NetPort::Serve(platform::StreamSocket& socket) {
  // A block half received on a lost connection is not finished by the next.
  StatusRecogniser recogniser(buffers_.data, buffers_.status);
  std::vector<uint8_t> chunk(kChunkSize);
  for (;;) {
    if (stopping_.load()) return false;
    switch (socket.WaitInput(kWaitSliceMs)) {
      case platform::SocketWait::kReady: {
        size_t got = 0;
        const platform::Status status = socket.Read(chunk, &got);
        if (got > 0) recogniser.Feed({chunk.data(), got});
        if (!status.ok()) {
          platform::Trace("net: port %d: %s", id_, status.ToString().c_str());
          return true;
        }
        break;
      }
      case platform::SocketWait::kTimedOut:
        break;
      case platform::SocketWait::kInterrupted:
        // ClosePort, or a Write that found the connection broken.
        if (stopping_.load()) return false;
        platform::Trace("net: port %d: connection to %s failed under a write", id_,
                        socket.name().c_str());
        return true;
      case platform::SocketWait::kClosed:
        platform::Trace("net: port %d: %s closed the connection", id_, socket.name().c_str());
        return true;
      case platform::SocketWait::kFailed:
        platform::Trace("net: port %d: connection to %s lost", id_, socket.name().c_str());
        return true;
    }
  }
}

void NetPort::ReaderLoop(std::shared_ptr<platform::StreamSocket> socket) {
  ReconnectBackoff backoff;
  while (socket) {
    if (!Serve(*socket)) return;
    Publish(nullptr);
    socket.reset();
    while (!socket) {
      if (!PauseReader(backoff.Next())) return;
      platform::Status status;
      socket = sockets_.Connect(host_, port_, kConnectMs, &stopping_, &status);
      if (!socket) {
        if (!stopping_.load()) {
          platform::Trace("net: port %d: reconnecting: %s", id_, status.ToString().c_str());
        }
        continue;
      }
      if (!Publish(socket)) return;
      platform::Trace("net: port %d: reconnected to %s", id_, socket->name().c_str());
      backoff.Reset();
    }
  }
}

}  // namespace qz381::ports
