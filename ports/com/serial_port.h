#pragma once
// One serial port of the com module: its settings, the open device, the reader
// thread that splits what the printer sends into data and status blocks, and the
// power state read from CTS. The exports in com_exports.cpp act on one of these
// (the current port); tests drive it directly over an in-memory line.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/serial.h"
#include "ports/common/port_contract.h"
#include "ports/common/receive_buffers.h"

namespace qz381::ports {

class SerialPort {
 public:
  // `ports` opens the device and `clock` times the pause after opening it;
  // both must outlive the port. `id` names it in traces.
  SerialPort(platform::SerialPorts& ports, platform::Clock& clock, int32_t id);
  ~SerialPort();  // closes the port first
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // The methods answer as the module's exports do (0 = failure or nothing).
  // Configuration and open/close come from one thread at a time; Write, Read,
  // Clear and the status calls may come from any thread at any time, also
  // while the port is being closed.
  int32_t SetDeviceOption(const DeviceOption& option);
  int32_t OpenPort();
  void ClosePort();
  int32_t Write(const uint8_t* data, int32_t length);
  int32_t Read(uint8_t* buffer, int32_t length, uint32_t timeout_ms);
  void Clear();
  int32_t GetInputBufferCount() const;
  int32_t IsPowerState() const { return power_.load(std::memory_order_acquire); }
  int32_t GetASBState(uint8_t* status);
  // 1 once a status block is buffered, 0 on time-out, kWaitUnavailable when the
  // port is or becomes closed (so that a caller in a loop does not spin on 0).
  int32_t WaitASBState(uint32_t timeout_ms);

  // Line settings as OpenPort applies them: the record's codes, and hardware
  // output flow control on CTS and DSR always.
  static platform::SerialLineSettings LineSettingsOf(const DeviceOption& option);

 private:
  void ReaderLoop(std::shared_ptr<platform::SerialDevice> device, uint32_t gather_ms);
  // Sleeps up to `ms` unless ClosePort asks the reader to stop; false when asked.
  bool PauseReader(uint32_t ms);
  std::shared_ptr<platform::SerialDevice> Device() const;

  platform::SerialPorts& ports_;
  platform::Clock& clock_;
  const int32_t id_;

  // Guards the settings, the device pointer and the reader thread: OpenPort and
  // ClosePort change them, Write and Read only copy the device pointer under it.
  mutable std::mutex lifecycle_;
  DeviceOption option_;
  std::shared_ptr<platform::SerialDevice> device_;
  std::thread reader_;

  std::atomic<bool> open_{false};
  std::atomic<int32_t> power_{kPowerStateUnknown};
  ReceiveBuffers buffers_;
  std::mutex write_lock_;  // serialises Write on this port

  std::mutex stop_mutex_;
  std::condition_variable stop_cv_;
  bool stop_ = false;  // guarded by stop_mutex_
};

}  // namespace qz381::ports
