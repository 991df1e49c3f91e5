#include "ports/usb/usb_port.h"

#include <algorithm>
#include <chrono>

#include "platform/trace.h"
#include "ports/common/status_recogniser.h"

namespace qz381::ports {
namespace {

using Clock = std::chrono::steady_clock;

// The reader takes at most this much per cycle; more stays with the driver.
constexpr size_t kChunkSize = 64;
// How long one read waits for the printer to say something. Closing the port
// and replacing the device wake it at once.
constexpr uint32_t kReadWaitMs = 5000;
// The reader's pause between cycles, and its pace while the printer is away.
constexpr uint32_t kCyclePauseMs = 500;
// Said in the trace when the reader is slower than this to end.
constexpr auto kReaderEndDeadline = std::chrono::milliseconds(1000);

}  // namespace

UsbPort::UsbPort(platform::UsbPrinters& printers, int32_t id) : printers_(printers), id_(id) {}

UsbPort::~UsbPort() {
  ClosePort();
}

int32_t UsbPort::SetDeviceOption(const DeviceOption& option) {
  std::lock_guard hold(lifecycle_);
  input_buffer_size_ = option.inputBufferSize;
  const std::string_view name = PortNameOf(option);
  if (name.empty()) {
    platform::Trace("usb: port %d: SetDeviceOption without a device path; keeping '%s'", id_,
                    path_.c_str());
    return 0;
  }
  path_ = name;
  return 1;
}

std::shared_ptr<platform::UsbDevice> UsbPort::Device() const {
  std::lock_guard hold(device_lock_);
  return device_;
}

bool UsbPort::Attach() {
  std::shared_ptr<platform::UsbDevice> old;
  {
    std::lock_guard hold(device_lock_);
    old = std::move(device_);
  }
  // The reader may be inside the old device: wake it; it lets go of it then.
  if (old) old->Interrupt();
  platform::Status status;
  std::shared_ptr<platform::UsbDevice> device = printers_.Open(path_, &status);
  if (!device) {
    platform::Trace("usb: port %d: cannot open %s: %s", id_, path_.c_str(),
                    status.ToString().c_str());
    return false;
  }
  std::lock_guard hold(device_lock_);
  device_ = std::move(device);
  return true;
}

int32_t UsbPort::OpenPort() {
  std::lock_guard hold(lifecycle_);
  if (open_.load()) {
    // Open already; a printer that is away is tried once more.
    if (!Device() && Attach()) presence_.store(kUsbPresent);
    return Device() ? 1 : 0;
  }
  if (path_.empty()) {
    platform::Trace("usb: port %d: OpenPort without a device path", id_);
    return 0;
  }
  if (!window_) {
    window_ = platform::MessageWindow::Create("USBPNPWindow", [this](const platform::Message& m) {
      if (m.msg != kMsgDeviceChange) return false;
      OnDeviceChange();
      return true;
    });
    if (!window_) {
      platform::Trace("usb: port %d: no notification window", id_);
      return 0;
    }
  }
  if (!Attach()) return 0;
  platform::Status status;
  platform::MessageWindow* window = window_.get();
  // The watch ends before the window goes (ClosePort), so the pointer holds.
  watch_ = printers_.Watch([window] { window->Post(kMsgDeviceChange, 0, 0); }, &status);
  if (!watch_) {
    platform::Trace("usb: port %d: device changes cannot be watched: %s", id_,
                    status.ToString().c_str());
    std::lock_guard device(device_lock_);
    device_.reset();
    return 0;
  }
  if (!buffers_.Open(input_buffer_size_)) {
    platform::Trace("usb: port %d: no memory for receive buffers of %u bytes", id_,
                    input_buffer_size_);
    watch_.reset();
    std::lock_guard device(device_lock_);
    device_.reset();
    return 0;
  }
  {
    std::lock_guard stop(stop_mutex_);
    stop_ = false;
  }
  open_.store(true);
  presence_.store(kUsbPresent);
  reader_ = std::thread(&UsbPort::ReaderLoop, this);
  return 1;
}

void UsbPort::ClosePort() {
  std::lock_guard hold(lifecycle_);
  open_.store(false);
  {
    std::lock_guard stop(stop_mutex_);
    stop_ = true;
  }
  stop_cv_.notify_all();
  std::shared_ptr<platform::UsbDevice> device = Device();
  if (device) device->Interrupt();  // wakes the reader and a Write in the device
  if (reader_.joinable()) {
    const auto asked = Clock::now();
    reader_.join();
    if (Clock::now() - asked > kReaderEndDeadline) {
      platform::Trace("usb: port %d: reader thread took longer than 1000 ms to end", id_);
    }
  }
  watch_.reset();  // joins the watch thread: nothing posts to the window any more
  window_.reset();
  {
    std::lock_guard hold_device(device_lock_);
    device_.reset();  // a Write still inside holds its own reference
  }
  buffers_.Close();
}

void UsbPort::OnDeviceChange() {
  std::lock_guard hold(lifecycle_);
  if (!open_.load() || !watch_) return;
  const std::vector<platform::UsbChangeNote> notes = watch_->Take();
  const bool notes_lost = watch_->Overflowed();
  if (notes_lost) {
    platform::Trace("usb: port %d: device changes came faster than they were handled", id_);
  }
  // Any change is a chance for a printer that went away to come back.
  if (presence_.load() == kUsbRemoved && Attach()) presence_.store(kUsbPresent);
  for (const platform::UsbChangeNote& note : notes) {
    if (note.change == platform::UsbChange::kArrival) {
      if (presence_.load() == kUsbRemoved && Attach()) {
        presence_.store(kUsbPresent);
        platform::Trace("usb: port %d: %s is back", id_, path_.c_str());
      }
      continue;
    }
    // Removal: Linux has no query before it, nothing can be refused. The node
    // says which printer left; its path may be one another printer carried
    // too (two that report one serial number), so it counts only without a node.
    std::shared_ptr<platform::UsbDevice> device = Device();
    if (!device) continue;
    if (note.node.empty() ? note.path != device->path() : note.node != device->node()) continue;
    {
      std::lock_guard hold_device(device_lock_);
      device_.reset();
    }
    device->Interrupt();
    presence_.store(kUsbRemoved);
    platform::Trace("usb: port %d: %s was removed", id_, path_.c_str());
  }
  // The removal of the printer held may have been among the notes lost: open
  // it afresh rather than go on with a device that may be gone.
  if (notes_lost && presence_.load() == kUsbPresent) {
    presence_.store(Attach() ? kUsbPresent : kUsbRemoved);
  }
}

int32_t UsbPort::Write(const uint8_t* data, int32_t length) {
  if (!open_.load() || !data || length <= 0) return 0;
  const uint64_t limit = uint64_t{kWriteMsPerByte} * static_cast<uint32_t>(length) + kWriteBaseMs;
  std::lock_guard hold(write_lock_);
  std::shared_ptr<platform::UsbDevice> device = Device();
  size_t written = 0;
  platform::Status status =
      platform::Status::Fail(platform::Outcome::kNotFound, path_ + ": the printer is away");
  if (device) {
    status = device->Write({data, static_cast<size_t>(length)},
                           static_cast<uint32_t>(std::min<uint64_t>(limit, UINT32_MAX)), &written);
  }
  if (status.ok()) return static_cast<int32_t>(written);
  platform::Trace("usb: port %d: write of %d bytes ended after %u: %s", id_, length,
                  static_cast<unsigned>(written), status.ToString().c_str());
  if (status.outcome() != platform::Outcome::kNotFound) return static_cast<int32_t>(written);
  // The printer went away under the open device, or a removal closed it: try
  // it once more now. When it is not back the port waits as after a removal,
  // so that its arrival brings it back without the caller reopening it.
  std::lock_guard lifecycle(lifecycle_);
  if (!open_.load()) return 0;
  presence_.store(Attach() ? kUsbPresent : kUsbRemoved);
  return 0;
}

int32_t UsbPort::Read(uint8_t* buffer, int32_t length, uint32_t timeout_ms) {
  if (!buffer || length <= 0 || !open_.load()) return 0;
  // Answers as soon as `length` bytes are there; the reader signals each arrival.
  return static_cast<int32_t>(
      buffers_.data.TakeFor({buffer, static_cast<size_t>(length)}, timeout_ms));
}

void UsbPort::Clear() {
  buffers_.data.Clear();
}

int32_t UsbPort::GetInputBufferCount() const {
  return static_cast<int32_t>(buffers_.data.Count());
}

int32_t UsbPort::IsPowerState() const {
  return presence_.load() == kUsbPresent ? kPowerStateOnline : kPowerStateOffline;
}

int32_t UsbPort::WaitASBState(uint32_t timeout_ms) {
  if (buffers_.status.WaitFor(timeout_ms)) return 1;
  return buffers_.status.IsOpen() ? 0 : kWaitUnavailable;
}

int32_t UsbPort::GetASBState(uint8_t* status) {
  if (!status) return 0;
  StatusBlock block;
  if (!buffers_.status.Take(block)) return 0;
  std::copy(block.begin(), block.end(), status);
  return 1;
}

bool UsbPort::PauseReader(uint32_t ms) {
  std::unique_lock hold(stop_mutex_);
  return !stop_cv_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return stop_; });
}

void UsbPort::ReaderLoop() {
  StatusRecogniser recogniser(buffers_.data, buffers_.status);
  uint8_t chunk[kChunkSize];
  bool failed = false;
  for (;;) {
    std::shared_ptr<platform::UsbDevice> device = Device();
    if (open_.load() && presence_.load() == kUsbPresent && device) {
      size_t got = 0;
      const platform::Status status = device->Read(chunk, kReadWaitMs, &got);
      if (got > 0) recogniser.Feed({chunk, got});
      if (!status.ok() && !failed) {
        platform::Trace("usb: port %d: read failed: %s", id_, status.ToString().c_str());
      }
      failed = !status.ok();
    }
    device.reset();
    if (!PauseReader(kCyclePauseMs)) return;
  }
}

}  // namespace qz381::ports
