#pragma once
// One port of the usb module: the printer's interface path, the open device,
// the reader thread that splits what the printer sends into data and status
// blocks, and the presence state that follows the printer being unplugged and
// plugged in again. Device changes arrive in the port's notification window
// ("USBPNPWindow"), which belongs to the thread that opened the port: they are
// acted on when that thread pumps its messages.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/msgwindow.h"
#include "platform/usb.h"
#include "ports/common/port_contract.h"
#include "ports/common/receive_buffers.h"

namespace qz381::ports {

// WM_DEVICECHANGE: the notification window's only message.
inline constexpr uint32_t kMsgDeviceChange = 0x0219;

// Presence states.
inline constexpr int32_t kUsbNotPresent = 0;
inline constexpr int32_t kUsbPresent = 1;
inline constexpr int32_t kUsbRemoved = -1;

class UsbPort {
 public:
  // `printers` opens and watches the device and must outlive the port; `id`
  // names it in traces.
  UsbPort(platform::UsbPrinters& printers, int32_t id);
  ~UsbPort();  // closes the port first
  UsbPort(const UsbPort&) = delete;
  UsbPort& operator=(const UsbPort&) = delete;

  // The methods answer as the module's exports do (0 = failure or nothing).
  // OpenPort and ClosePort come from one thread at a time; Write, Read, Clear
  // and the status calls from any thread at any time.
  int32_t SetDeviceOption(const DeviceOption& option);
  int32_t OpenPort();
  void ClosePort();
  int32_t Write(const uint8_t* data, int32_t length);
  int32_t Read(uint8_t* buffer, int32_t length, uint32_t timeout_ms);
  void Clear();
  int32_t GetInputBufferCount() const;
  int32_t IsPowerState() const;
  // Waits up to timeout_ms for a status block: 1 when one is buffered, 0 at
  // the limit, kWaitUnavailable when the port is not open.
  int32_t WaitASBState(uint32_t timeout_ms);
  int32_t GetASBState(uint8_t* status);

  int32_t presence() const { return presence_.load(); }

  // What Write allows a block: this much per byte plus a constant.
  static constexpr uint32_t kWriteMsPerByte = 50;
  static constexpr uint32_t kWriteBaseMs = 5000;

 private:
  // Closes any device held and opens the path again; true when it opened.
  bool Attach();
  // The notification window's procedure, on the thread that opened the port.
  void OnDeviceChange();
  void ReaderLoop();
  bool PauseReader(uint32_t ms);  // false when asked to stop
  std::shared_ptr<platform::UsbDevice> Device() const;

  platform::UsbPrinters& printers_;
  const int32_t id_;

  std::mutex lifecycle_;  // OpenPort/ClosePort against each other and the window
  std::string path_;
  uint32_t input_buffer_size_ = kDefaultReceiveCapacity;
  std::unique_ptr<platform::MessageWindow> window_;
  std::unique_ptr<platform::UsbWatch> watch_;
  std::thread reader_;

  // The device is replaced by the window's procedure and by Write while the
  // reader and other callers use it: they copy the pointer under this lock.
  mutable std::mutex device_lock_;
  std::shared_ptr<platform::UsbDevice> device_;

  std::atomic<bool> open_{false};
  std::atomic<int32_t> presence_{kUsbNotPresent};
  ReceiveBuffers buffers_;
  std::mutex write_lock_;  // serialises Write on this port

  std::mutex stop_mutex_;
  std::condition_variable stop_cv_;
  bool stop_ = false;  // guarded by stop_mutex_
};

}  // namespace qz381::ports
