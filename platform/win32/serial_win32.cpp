// Serial devices on Win32: "\\.\COMn" opened for overlapped I/O. Each wait is a
// WaitForMultipleObjects on the operation's own event and the device's
// interrupt event, so Interrupt ends any wait at once and the reader thread of
// a port never depends on the printer sending something. Overlapped I/O also
// lets the reader wait for input while a caller writes.
//
// The driver's read time-outs are set to "answer at once with what is there":
// WaitInput does the waiting (on EV_RXCHAR), so Read never blocks once a byte
// is there, as the interface promises. The write time-outs go to the driver as
// given.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/registry.h"
#include "platform/serial.h"
#include "platform/win32/serial_calls.h"
#include "platform/win32/win32_text.h"

namespace qz381::platform {
namespace win32 {

SerialCalls& Win32SerialCalls() {
  static SerialCalls calls = {
      ::CreateFileA, ::CloseHandle,   ::ReadFile,     ::WriteFile,          ::GetOverlappedResult,
      ::CancelIo,    ::GetLastError,  ::GetCommState, ::SetCommState,       ::SetCommTimeouts,
      ::SetCommMask, ::WaitCommEvent, ::PurgeComm,    ::GetCommModemStatus, ::ClearCommError,
  };
  return calls;
}

}  // namespace win32

namespace {

using win32::EventHandle;
using win32::SerialCalls;

class Win32SerialDevice final : public SerialDevice {
 public:
  Win32SerialDevice(std::string name, HANDLE port) : name_(std::move(name)), port_(port) {}
  ~Win32SerialDevice() override { calls_.CloseHandle(port_); }

  bool ready() const { return interrupt_.get() && read_event_.get() && write_event_.get(); }

  Status Configure(const SerialLineSettings& settings) override {
    if (settings.baudRate == 0) return Invalid("baud rate 0");
    if (settings.byteSize < 5 || settings.byteSize > 8) {
      return Invalid("byte size " + std::to_string(settings.byteSize));
    }
    if (static_cast<unsigned>(settings.stopBits) > TWOSTOPBITS) {
      return Invalid("stop-bit code " + std::to_string(int(settings.stopBits)));
    }
    if (static_cast<unsigned>(settings.parity) > SPACEPARITY) {
      return Invalid("parity code " + std::to_string(int(settings.parity)));
    }
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!calls_.GetCommState(port_, &dcb)) return Fail("GetCommState");
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = settings.byteSize;
    // The stop-bit and parity codes are the DCB's own.
    dcb.StopBits = static_cast<BYTE>(settings.stopBits);
    dcb.Parity = static_cast<BYTE>(settings.parity);
    dcb.fParity = settings.parity != Parity::kNone;
    dcb.fOutxCtsFlow = settings.ctsFlow;
    dcb.fOutxDsrFlow = settings.dsrFlow;
    MakeRaw(&dcb);
    if (!calls_.SetCommState(port_, &dcb)) return Fail("SetCommState");
    return Status::Ok();
  }

  Status SetTimeouts(const SerialTimeouts& timeouts) override {
    COMMTIMEOUTS driver = {};
    driver.ReadIntervalTimeout = MAXDWORD;  // reads answer at once with what waits
    driver.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    driver.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    if (!calls_.SetCommTimeouts(port_, &driver)) return Fail("SetCommTimeouts");
    return Status::Ok();
  }

  Status Purge(unsigned flags) override {
    DWORD what = 0;
    if (flags & kPurgeInput) what |= PURGE_RXCLEAR;
    if (flags & kPurgeOutput) what |= PURGE_TXCLEAR;
    if (what == 0) return Status::Ok();
    if (!calls_.PurgeComm(port_, what)) return Fail("PurgeComm");
    return Status::Ok();
  }

  Status GetModemLines(ModemLines* out) override {
    DWORD bits = 0;
    if (!calls_.GetCommModemStatus(port_, &bits)) {
      const DWORD error = calls_.GetLastError();
      // A port without modem lines (a virtual one) refuses the question.
      const bool none = error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
                        error == ERROR_INVALID_PARAMETER;
      return Status::Fail(none ? Outcome::kUnsupported : Outcome::kIoError,
                          name_ + ": modem lines: " + win32::ErrorText(error),
                          static_cast<int>(error));
    }
    out->cts = bits & MS_CTS_ON;
    out->dsr = bits & MS_DSR_ON;
    out->ring = bits & MS_RING_ON;
    out->rlsd = bits & MS_RLSD_ON;
    return Status::Ok();
  }

  Status InputWaiting(size_t* count) override {
    DWORD errors = 0;
    COMSTAT stat = {};
    if (!calls_.ClearCommError(port_, &errors, &stat)) return Fail("ClearCommError");
    *count = stat.cbInQue;
    return Status::Ok();
  }

  SerialWait WaitInput(uint32_t timeout_ms) override {
    if (Interrupted()) return SerialWait::kInterrupted;
    size_t waiting = 0;
    if (!InputWaiting(&waiting).ok()) return SerialWait::kFailed;
    if (waiting > 0) return SerialWait::kReady;

    OVERLAPPED io = {};
    io.hEvent = read_event_.get();
    ::ResetEvent(io.hEvent);
    DWORD mask = 0;
    if (!calls_.WaitCommEvent(port_, &mask, &io)) {
      if (calls_.GetLastError() != ERROR_IO_PENDING) return SerialWait::kFailed;
      const HANDLE events[2] = {io.hEvent, interrupt_.get()};
      const DWORD woke = ::WaitForMultipleObjects(2, events, FALSE, timeout_ms);
      if (woke != WAIT_OBJECT_0) {
        calls_.CancelIo(port_);
        DWORD ignored = 0;
        calls_.GetOverlappedResult(port_, &io, &ignored, TRUE);
        if (woke == WAIT_OBJECT_0 + 1 || Interrupted()) return SerialWait::kInterrupted;
        if (woke != WAIT_TIMEOUT) return SerialWait::kFailed;
        // A byte may have come in while the wait was being cancelled.
        return InputWaiting(&waiting).ok() && waiting > 0 ? SerialWait::kReady
                                                          : SerialWait::kTimedOut;
      }
      DWORD ignored = 0;
      if (!calls_.GetOverlappedResult(port_, &io, &ignored, FALSE)) return SerialWait::kFailed;
    }
    if (Interrupted()) return SerialWait::kInterrupted;
    if (!InputWaiting(&waiting).ok()) return SerialWait::kFailed;
    // EV_RXCHAR without a byte (the driver's queue was read meanwhile): the
    // caller waits again.
    return waiting > 0 ? SerialWait::kReady : SerialWait::kTimedOut;
  }

  Status Read(std::span<uint8_t> buffer, uint32_t timeout_ms, size_t* got) override {
    *got = 0;
    if (buffer.empty()) return Status::Ok();
    switch (WaitInput(timeout_ms)) {
      case SerialWait::kTimedOut:
      case SerialWait::kInterrupted:
        return Status::Ok();
      case SerialWait::kFailed:
        return Status::Fail(Outcome::kIoError, name_ + ": the line failed");
      case SerialWait::kReady:
        break;
    }
    OVERLAPPED io = {};
    io.hEvent = read_event_.get();
    ::ResetEvent(io.hEvent);
    const DWORD want = static_cast<DWORD>(std::min<size_t>(buffer.size(), 1u << 20));
    DWORD n = 0;
    if (!calls_.ReadFile(port_, buffer.data(), want, &n, &io)) {
      if (calls_.GetLastError() != ERROR_IO_PENDING) return Fail("ReadFile");
      // With "answer at once" time-outs the driver completes at once.
      if (!calls_.GetOverlappedResult(port_, &io, &n, TRUE)) return Fail("ReadFile");
    }
    *got = n;
    return Status::Ok();
  }

  Status Write(std::span<const uint8_t> data, size_t* written) override {
    *written = 0;
    if (Interrupted()) return Status::Fail(Outcome::kIoError, name_ + ": write interrupted");
    if (data.empty()) return Status::Ok();
    OVERLAPPED io = {};
    io.hEvent = write_event_.get();
    ::ResetEvent(io.hEvent);
    const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size(), 0x7FFFFFFF));
    DWORD n = 0;
    if (!calls_.WriteFile(port_, data.data(), want, &n, &io)) {
      if (calls_.GetLastError() != ERROR_IO_PENDING) return Fail("WriteFile");
      const HANDLE events[2] = {io.hEvent, interrupt_.get()};
      const DWORD woke = ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
      if (woke != WAIT_OBJECT_0) calls_.CancelIo(port_);
      const BOOL done = calls_.GetOverlappedResult(port_, &io, &n, TRUE);
      *written = n;
      if (woke != WAIT_OBJECT_0) {
        return Status::Fail(Outcome::kIoError, name_ + ": write interrupted");
      }
      if (!done) return Fail("WriteFile");
    }
    *written = n;
    if (n < data.size()) {
      return Status::Fail(Outcome::kTimedOut, name_ + ": write time-out after " +
                                                  std::to_string(n) + " of " +
                                                  std::to_string(data.size()) + " bytes");
    }
    return Status::Ok();
  }

  void Interrupt() override {
    interrupted_.store(true, std::memory_order_release);
    ::SetEvent(interrupt_.get());
  }
  bool Interrupted() const override { return interrupted_.load(std::memory_order_acquire); }
  const std::string& name() const override { return name_; }

  // Binary, no XON/XOFF, no character replacement, errors do not stop the
  // line, DTR and RTS on: the line as the port modules expect it.
  static void MakeRaw(DCB* dcb) {
    dcb->fBinary = TRUE;
    dcb->fOutX = FALSE;
    dcb->fInX = FALSE;
    dcb->fErrorChar = FALSE;
    dcb->fNull = FALSE;
    dcb->fAbortOnError = FALSE;
    dcb->fDsrSensitivity = FALSE;
    dcb->fDtrControl = DTR_CONTROL_ENABLE;
    dcb->fRtsControl = RTS_CONTROL_ENABLE;
  }

 private:
  Status Invalid(const std::string& what) const {
    return Status::Fail(Outcome::kInvalidArgument, name_ + ": unusable " + what);
  }
  Status Fail(const char* operation) const {
    return win32::Fail(calls_.GetLastError(), name_ + ": " + operation);
  }

  SerialCalls& calls_ = win32::Win32SerialCalls();
  const std::string name_;
  const HANDLE port_;
  EventHandle interrupt_, read_event_, write_event_;
  std::atomic<bool> interrupted_{false};
};

class Win32SerialPorts final : public SerialPorts {
 public:
  std::unique_ptr<SerialDevice> Open(std::string_view name, Status* status) override {
    SerialCalls& calls = win32::Win32SerialCalls();
    const std::string port(StripDevicePrefix(name));
    if (port.empty()) {
      return Fail(status, Status::Fail(Outcome::kInvalidArgument, "serial port: empty name"));
    }
    // The device namespace reaches COM10 and above, which the bare name does not.
    const std::string path = "\\\\.\\" + port;
    HANDLE handle = calls.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      // A port held by another program answers "access denied".
      return Fail(status, win32::Fail(calls.GetLastError(), port + ": open", true));
    }
    auto device = std::make_unique<Win32SerialDevice>(port, handle);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!calls.GetCommState(handle, &dcb)) {
      return Fail(status, win32::Fail(calls.GetLastError(), port + ": not a serial device"));
    }
    Win32SerialDevice::MakeRaw(&dcb);
    COMMTIMEOUTS at_once = {MAXDWORD, 0, 0, 0, 0};
    if (!calls.SetCommState(handle, &dcb) || !calls.SetCommTimeouts(handle, &at_once) ||
        !calls.SetCommMask(handle, EV_RXCHAR)) {
      return Fail(status, win32::Fail(calls.GetLastError(), port + ": raw mode"));
    }
    if (!device->ready()) {
      return Fail(status, win32::Fail(::GetLastError(), port + ": events"));
    }
    if (status) *status = Status::Ok();
    return device;
  }

 private:
  static std::unique_ptr<SerialDevice> Fail(Status* out, Status status) {
    if (out) *out = std::move(status);
    return nullptr;
  }
};

}  // namespace

SerialPorts& DefaultSerialPorts() {
  static Win32SerialPorts ports;
  return ports;
}

// Windows names its ports itself; the registry plays no part in finding them.
std::unique_ptr<SerialPorts> NewSystemSerialPorts(Registry&) {
  return std::make_unique<Win32SerialPorts>();
}

}  // namespace qz381::platform
