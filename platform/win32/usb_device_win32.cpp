// One open USB printer on Windows: the interface path opened for overlapped
// I/O with no sharing. Each wait is a WaitForMultipleObjects on the
// operation's own event and the device's interrupt event, so Interrupt ends
// any wait at once; an operation that is given up is cancelled and waited for
// before its buffer is let go.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/sync.h"
#include "platform/win32/usb_win32.h"
#include "platform/win32/win32_text.h"

namespace qz381::platform::win32 {
namespace {

// What the printer's driver answers once the printer is unplugged under the
// open handle (or the handle was closed for it).
bool Gone(DWORD error) {
  switch (error) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
      return true;
    default:
      return false;
  }
}

// Milliseconds left until `deadline` (GetTickCount64), INFINITE for none.
DWORD Left(ULONGLONG deadline) {
  if (deadline == ~0ull) return INFINITE;
  const ULONGLONG now = ::GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 0x7FFFFFFF));
}

class Win32UsbDevice final : public UsbDevice {
 public:
  Win32UsbDevice(std::string path, std::string node, HANDLE handle)
      : path_(std::move(path)), node_(std::move(node)), handle_(handle) {}
  ~Win32UsbDevice() override { calls_.CloseHandle(handle_); }

  bool ready() const { return interrupt_.get() && read_event_.get() && write_event_.get(); }

  Status Read(std::span<uint8_t> buffer, uint32_t timeout_ms, size_t* got) override {
    *got = 0;
    if (buffer.empty() || Interrupted()) return Status::Ok();
    OVERLAPPED io = {};
    io.hEvent = read_event_.get();
    ::ResetEvent(io.hEvent);
    const DWORD want = static_cast<DWORD>(std::min<size_t>(buffer.size(), 1u << 20));
    DWORD n = 0;
    if (!calls_.ReadFile(handle_, buffer.data(), want, &n, &io)) {
      const DWORD error = calls_.GetLastError();
      if (error != ERROR_IO_PENDING) return Fail("read", error);
      const DWORD woke = Wait(io.hEvent, timeout_ms == kInfinite ? INFINITE : timeout_ms);
      if (woke != WAIT_OBJECT_0) calls_.CancelIo(handle_);
      // Bytes that came while the read was being cancelled are kept.
      if (!calls_.GetOverlappedResult(handle_, &io, &n, TRUE)) {
        const DWORD late = calls_.GetLastError();
        if (late != ERROR_OPERATION_ABORTED) return Fail("read", late);
        n = 0;
      }
    }
    *got = n;
    return Status::Ok();
  }

  Status Write(std::span<const uint8_t> data, uint32_t timeout_ms, size_t* written) override {
    *written = 0;
    const ULONGLONG deadline =
        timeout_ms == kInfinite ? ~0ull : ::GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
    while (*written < data.size()) {
      if (Interrupted()) return Status::Fail(Outcome::kIoError, path_ + ": write interrupted");
      OVERLAPPED io = {};
      io.hEvent = write_event_.get();
      ::ResetEvent(io.hEvent);
      const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - *written, 0x7FFFFFFF));
      DWORD n = 0;
      DWORD woke = WAIT_OBJECT_0;
      if (!calls_.WriteFile(handle_, data.data() + *written, want, &n, &io)) {
        const DWORD error = calls_.GetLastError();
        if (error != ERROR_IO_PENDING) return Fail("write", error);
        woke = Wait(io.hEvent, Left(deadline));
        if (woke != WAIT_OBJECT_0) calls_.CancelIo(handle_);
        const BOOL done = calls_.GetOverlappedResult(handle_, &io, &n, TRUE);
        const DWORD late = done ? ERROR_SUCCESS : calls_.GetLastError();
        *written += n;
        if (!done && late != ERROR_OPERATION_ABORTED) return Fail("write", late);
      } else {
        *written += n;
      }
      if (woke == WAIT_OBJECT_0 + 1) {
        return Status::Fail(Outcome::kIoError, path_ + ": write interrupted");
      }
      if (*written < data.size() && (woke != WAIT_OBJECT_0 || Left(deadline) == 0)) {
        return Status::Fail(Outcome::kTimedOut, path_ + ": write time-out after " +
                                                    std::to_string(*written) + " of " +
                                                    std::to_string(data.size()) + " bytes");
      }
      // A driver that took nothing this time gets a moment before the next try.
      if (n == 0) Wait(nullptr, std::min<DWORD>(Left(deadline), 5));
    }
    return Status::Ok();
  }

  void Interrupt() override {
    interrupted_.store(true, std::memory_order_release);
    ::SetEvent(interrupt_.get());
  }
  const std::string& path() const override { return path_; }
  const std::string& node() const override { return node_; }

 private:
  bool Interrupted() const { return interrupted_.load(std::memory_order_acquire); }

  // WAIT_OBJECT_0 for `event`, WAIT_OBJECT_0 + 1 for an interrupt; with no
  // event, only an interrupt ends the wait early.
  DWORD Wait(HANDLE event, DWORD timeout_ms) const {
    if (!event) {
      const DWORD woke = ::WaitForSingleObject(interrupt_.get(), timeout_ms);
      return woke == WAIT_OBJECT_0 ? WAIT_OBJECT_0 + 1 : woke;
    }
    const HANDLE events[2] = {event, interrupt_.get()};
    return ::WaitForMultipleObjects(2, events, FALSE, timeout_ms);
  }

  Status Fail(const char* operation, DWORD error) const {
    return Status::Fail(Gone(error) ? Outcome::kNotFound : Outcome::kIoError,
                        path_ + " (" + node_ + "): " + operation + ": " + ErrorText(error),
                        static_cast<int>(error));
  }

  UsbCalls& calls_ = Win32UsbCalls();
  const std::string path_;
  const std::string node_;
  const HANDLE handle_;
  EventHandle interrupt_, read_event_, write_event_;
  std::atomic<bool> interrupted_{false};
};

}  // namespace

std::unique_ptr<UsbDevice> OpenUsbDevice(const UsbPrinterInfo& printer, Status* status) {
  UsbCalls& calls = Win32UsbCalls();
  const std::string label = printer.path + " (" + printer.node + ")";
  HANDLE handle = calls.CreateFileA(printer.node.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // Another holder's open answers "sharing violation" or "access denied".
    if (status) *status = Fail(calls.GetLastError(), label + ": open", true);
    return nullptr;
  }
  auto device = std::make_unique<Win32UsbDevice>(printer.path, printer.node, handle);
  if (!device->ready()) {
    if (status) *status = Fail(::GetLastError(), label + ": events");
    return nullptr;
  }
  if (status) *status = Status::Ok();
  return device;
}

}  // namespace qz381::platform::win32
