#include "ports/com/serial_port.h"

#include <algorithm>
#include <chrono>
#include <span>
#include <system_error>
#include <vector>

#include "platform/trace.h"
#include "ports/common/status_recogniser.h"

namespace qz381::ports {
namespace {

using Clock = std::chrono::steady_clock;

// The reader takes at most this much per cycle; more stays with the driver
// until the next one.
constexpr size_t kChunkSize = 100;
// The reader looks at the line (and CTS) at least this often.
constexpr uint32_t kCycleMs = 100;
// What Read adds to its time-out when fewer bytes are buffered than asked for:
// a reply that is on its way gets the chance to be read in full.
constexpr uint32_t kReadGraceMs = 30;
// The reader is given this long to end when the port closes; it is woken at
// once, so this is never expected to pass, but it is said when it does.
constexpr auto kReaderEndDeadline = std::chrono::milliseconds(2000);
// What OpenPort waits after opening the device, whatever the outcome, so that
// a printer that reacts to the raised control lines has settled, and a port
// that just failed is not tried again at once.
constexpr uint32_t kOpenSettleMs = 200;

// Once a byte has arrived the reader lets the line run for four more character
// times before it takes the chunk. A 4-byte status block that starts arriving
// is then read in one chunk or at most two, which the recogniser allows; taking
// each byte as it lands would cut a block into four chunks and lose it.
uint32_t GatherMs(uint32_t baud) {
  constexpr uint32_t kBitsPerChar = 12;  // start, 8 data, parity, 2 stop: the longest frame
  if (baud == 0) return 10;
  return std::min<uint32_t>(4 * kBitsPerChar * 1000 / baud + 1, 50) + 1;
}

}  // namespace

SerialPort::SerialPort(platform::SerialPorts& ports, platform::Clock& clock, int32_t id)
    : ports_(ports), clock_(clock), id_(id), option_(DefaultDeviceOption()) {}

SerialPort::~SerialPort() {
  ClosePort();
}

platform::SerialLineSettings SerialPort::LineSettingsOf(const DeviceOption& option) {
  platform::SerialLineSettings line;
  line.baudRate = option.baudRate;
  line.byteSize = static_cast<uint8_t>(option.byteSize & 0xFF);
  line.stopBits = static_cast<platform::StopBits>(option.stopBits & 0xFF);
  line.parity = static_cast<platform::Parity>(option.parity & 0xFF);
  line.ctsFlow = true;
  line.dsrFlow = true;
  return line;
}

int32_t SerialPort::SetDeviceOption(const DeviceOption& option) {
  std::lock_guard hold(lifecycle_);
  const std::string_view name = PortNameOf(option);
  DeviceOption stored = option;
  // The name of the earlier record stays when this one brings none.
  std::copy(std::begin(option_.portName), std::end(option_.portName), stored.portName);
  if (!name.empty()) SetPortName(stored, name);
  option_ = stored;
  if (name.empty()) {
    platform::Trace("com: port %d: SetDeviceOption without a port name; keeping '%s'", id_,
                    std::string(PortNameOf(option_)).c_str());
    return 0;
  }
  return 1;
}

int32_t SerialPort::OpenPort() {
  std::lock_guard hold(lifecycle_);
  if (device_) return open_.load() ? 1 : 0;
  const std::string name = "\\\\.\\" + std::string(PortNameOf(option_));
  if (PortNameOf(option_).empty()) {
    platform::Trace("com: port %d: OpenPort without a port name", id_);
    return 0;
  }

  platform::Status status;
  std::shared_ptr<platform::SerialDevice> device = ports_.Open(name, &status);
  clock_.Sleep(kOpenSettleMs);
  if (!device) {
    platform::Trace("com: port %d: cannot open %s: %s", id_, name.c_str(),
                    status.ToString().c_str());
    return 0;
  }
  const platform::SerialTimeouts timeouts{
      option_.timeouts.readIntervalTimeout, option_.timeouts.readTotalTimeoutMultiplier,
      option_.timeouts.readTotalTimeoutConstant, option_.timeouts.writeTotalTimeoutMultiplier,
      option_.timeouts.writeTotalTimeoutConstant};
  status = device->Configure(LineSettingsOf(option_));
  if (status.ok()) status = device->SetTimeouts(timeouts);
  if (!status.ok()) {
    platform::Trace("com: port %d: settings refused: %s", id_, status.ToString().c_str());
    return 0;  // the device closes as it goes out of scope
  }
  status = device->Purge(platform::kPurgeInput | platform::kPurgeOutput);
  if (!status.ok()) {
    platform::Trace("com: port %d: purge failed (ignored): %s", id_, status.ToString().c_str());
  }
  if (!buffers_.Open(option_.inputBufferSize)) {
    platform::Trace("com: port %d: no memory for receive buffers of %u bytes", id_,
                    option_.inputBufferSize);
    return 0;
  }
  {
    std::lock_guard stop(stop_mutex_);
    stop_ = false;
  }
  // The reader is started before the port counts as open: a system out of
  // threads leaves it closed, as any other failed open does.
  std::thread reader;
  try {
    reader = std::thread(&SerialPort::ReaderLoop, this, device, GatherMs(option_.baudRate));
  } catch (const std::system_error& error) {
    platform::Trace("com: port %d: cannot start the reader: %s", id_, error.what());
    buffers_.Close();
    return 0;
  }
  device_ = std::move(device);
  open_.store(true);
  reader_ = std::move(reader);
  return 1;
}

void SerialPort::ClosePort() {
  std::lock_guard hold(lifecycle_);
  open_.store(false);
  {
    std::lock_guard stop(stop_mutex_);
    stop_ = true;
  }
  stop_cv_.notify_all();
  // Wakes the reader and any Write blocked on the line (flow control, a full
  // queue); both then see the port closed.
  if (device_) device_->Interrupt();
  if (reader_.joinable()) {
    const auto asked = Clock::now();
    reader_.join();
    if (Clock::now() - asked > kReaderEndDeadline) {
      platform::Trace("com: port %d: reader thread took longer than 2000 ms to end", id_);
    }
  }
  // A Write still inside the device holds its own reference; the device closes
  // when the last one lets go.
  device_.reset();
  buffers_.Close();  // wakes a Read waiting for data
}

std::shared_ptr<platform::SerialDevice> SerialPort::Device() const {
  std::lock_guard hold(lifecycle_);
  return open_.load() ? device_ : nullptr;
}

int32_t SerialPort::Write(const uint8_t* data, int32_t length) {
  if (!data || length <= 0) return 0;
  std::shared_ptr<platform::SerialDevice> device = Device();
  if (!device) return 0;
  std::lock_guard hold(write_lock_);
  size_t written = 0;
  const platform::Status status = device->Write({data, static_cast<size_t>(length)}, &written);
  if (!status.ok()) {
    platform::Trace("com: port %d: write of %d bytes ended after %u: %s", id_, length,
                    static_cast<unsigned>(written), status.ToString().c_str());
  }
  return static_cast<int32_t>(written);
}

int32_t SerialPort::Read(uint8_t* buffer, int32_t length, uint32_t timeout_ms) {
  if (!buffer || length <= 0 || !open_.load()) return 0;
  const size_t wanted = static_cast<size_t>(length);
  uint32_t wait = timeout_ms;
  if (buffers_.data.Count() < wanted) {
    wait = timeout_ms > UINT32_MAX - kReadGraceMs ? UINT32_MAX : timeout_ms + kReadGraceMs;
  }
  // Sleeps on the data buffer's condition, which the reader signals on every
  // arrival and ClosePort on closing.
  return static_cast<int32_t>(buffers_.data.TakeFor({buffer, wanted}, wait));
}

void SerialPort::Clear() {
  buffers_.data.Clear();
}

int32_t SerialPort::GetInputBufferCount() const {
  return static_cast<int32_t>(buffers_.data.Count());
}

int32_t SerialPort::WaitASBState(uint32_t timeout_ms) {
  if (buffers_.status.WaitFor(timeout_ms)) return 1;
  return buffers_.status.IsOpen() ? 0 : kWaitUnavailable;
}

int32_t SerialPort::GetASBState(uint8_t* status) {
  if (!status) return 0;
  StatusBlock block;
  if (!buffers_.status.Take(block)) return 0;
  std::copy(block.begin(), block.end(), status);
  return 1;
}

bool SerialPort::PauseReader(uint32_t ms) {
  std::unique_lock hold(stop_mutex_);
  return !stop_cv_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return stop_; });
}

void SerialPort::ReaderLoop(std::shared_ptr<platform::SerialDevice> device, uint32_t gather_ms) {
  StatusRecogniser recogniser(buffers_.data, buffers_.status);
  std::vector<uint8_t> chunk(kChunkSize);
  bool line_failed = false;
  for (;;) {
    // CTS is the printer's "I am on" here; a line that cannot tell counts as off.
    platform::ModemLines lines;
    const bool online = device->GetModemLines(&lines).ok() && lines.cts;
    power_.store(online ? kPowerStateOnline : kPowerStateOffline, std::memory_order_release);

    size_t waiting = 0;
    if (device->InputWaiting(&waiting).ok() && waiting > 0) {
      size_t got = 0;
      const platform::Status status =
          device->Read({chunk.data(), std::min(waiting, kChunkSize)}, 0, &got);
      if (got > 0) recogniser.Feed({chunk.data(), got});
      if (!status.ok() && !line_failed) {
        platform::Trace("com: port %d: read failed: %s", id_, status.ToString().c_str());
      }
    }

    switch (device->WaitInput(kCycleMs)) {
      case platform::SerialWait::kReady:
        line_failed = false;
        if (!PauseReader(gather_ms)) return;
        break;
      case platform::SerialWait::kTimedOut:
        line_failed = false;
        break;
      case platform::SerialWait::kFailed:
        // The line is gone (unplugged, the other side closed). Keep looking at
        // the usual pace; com never reopens a port by itself.
        if (!line_failed) platform::Trace("com: port %d: line failed; waiting for it", id_);
        line_failed = true;
        if (!PauseReader(kCycleMs)) return;
        break;
      case platform::SerialWait::kInterrupted:
        return;
    }
    std::lock_guard hold(stop_mutex_);
    if (stop_) return;
  }
}

}  // namespace qz381::ports
