#pragma once
// USB printers as the naming code and the usb module see them: listed with
// their interface paths, opened by path as a plain byte stream, and watched for
// arrival and removal.
//
// Paths keep the Windows interface-path form
//   \\?\USB#VID_vvvv&PID_pppp#<instance>#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}
// in upper case, because the rest of the system reads vendor and product at
// fixed positions and routes by the leading "\". <instance> is the printer's
// serial number written as hex digits (so no serial number can put "COM" into
// a path, which would route the printer to the serial module), or, for a
// printer without one or one whose number another attached printer of its
// product reports too, "&" and the USB port chain it is plugged into (1-1.4).
// Either way a printer plugged back into the same socket gets the same path.
//
// On Linux the printers are the kernel's USB printer class devices (subsystem
// usbmisc, /dev/usb/lpN) found with libudev; vendor, product and serial number
// come from the parent USB device, and a udev monitor reports changes. Under
// umockdev's testbed the same code sees the testbed's devices. Tests use the
// in-memory tree of usb_fake.h.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace qz381::platform {

// The USB printer interface class, as the path carries it.
inline constexpr std::string_view kUsbPrintInterfaceClass =
    "{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}";

struct UsbPrinterInfo {
  std::string path;  // the interface path above
  std::string node;  // the device node that the path opens ("/dev/usb/lp0")
  uint16_t vendor = 0;
  uint16_t product = 0;
  std::string serial;  // as the printer reports it; empty when it has none
};

// The interface path of a printer. `serial` wins when it is not empty;
// `port_chain` ("1-1.4") stands in for a printer without one. A serial number
// too long for a path (the whole path must fit a 260-byte port name) falls back
// to the port chain too.
std::string UsbInterfacePath(uint16_t vendor, uint16_t product, std::string_view serial,
                             std::string_view port_chain);

// One open printer node. Closing is destruction; call Interrupt first when
// another thread may be blocked in the device.
//
// Threads: one reader and one writer at a time, Interrupt from any thread.
// After an unplug every call answers kNotFound (the node is gone under the open
// handle); the device never comes back to life: open the path again. An
// emulated node (umockdev's) may go on carrying bytes after its removal, so a
// user learns of a removal from its watch, not from these answers.
class UsbDevice {
 public:
  virtual ~UsbDevice() = default;

  // Waits up to timeout_ms for bytes, then copies what waits, up to
  // buffer.size(). Ok with *got == 0 on time-out or interrupt; kNotFound once
  // the printer is gone, kIoError for any other failure (*got is 0 then).
  virtual Status Read(std::span<uint8_t> buffer, uint32_t timeout_ms, size_t* got) = 0;
  // Writes all of `data` within timeout_ms. *written counts what went out even
  // on failure: kTimedOut when the time ran out (a printer that stopped taking
  // data), kNotFound when it is gone, kIoError when Interrupt stopped the write
  // or the driver refused it.
  virtual Status Write(std::span<const uint8_t> data, uint32_t timeout_ms, size_t* written) = 0;

  // Wakes every call blocked in this device; from now on reads answer at once
  // and writes stop. Safe from any thread, idempotent.
  virtual void Interrupt() = 0;

  // The path it was opened by, and the node behind it (for matching removal
  // notes and for trace lines).
  virtual const std::string& path() const = 0;
  virtual const std::string& node() const = 0;
};

enum class UsbChange { kArrival, kRemoval };

struct UsbChangeNote {
  UsbChange change = UsbChange::kArrival;
  std::string path;  // empty when a removed printer's path is no longer known
  std::string node;
};

// A running watch. Destroying it stops the watching thread and waits for it;
// after the destructor returns the callback is never called again.
class UsbWatch {
 public:
  virtual ~UsbWatch() = default;
  // The notes gathered since the last call, oldest first. Any thread. A storm
  // of changes is kept to the latest notes (the oldest are dropped, and
  // Overflowed says so once), so a reader who acts on every note still ends
  // in the state the tree is in.
  virtual std::vector<UsbChangeNote> Take() = 0;
  // True once since the last call when notes were dropped.
  virtual bool Overflowed() = 0;
};

// Lists, opens and watches USB printers. Implementations are safe to call
// from any thread.
class UsbPrinters {
 public:
  virtual ~UsbPrinters() = default;

  // Every attached USB printer, in a stable order (by device node). Root hubs
  // and devices that are not printers are never listed; no two listed printers
  // share a path. Ok with an empty list when none is attached; kIoError when
  // the system cannot be asked.
  virtual Status Enumerate(std::vector<UsbPrinterInfo>* out) = 0;
  // Opens the printer at `path` for reading and writing, held by this caller
  // alone. kNotFound when no attached printer has that path, kBusy when
  // another holder has it open, kIoError for any other refusal.
  virtual std::unique_ptr<UsbDevice> Open(std::string_view path, Status* status) = 0;
  // Starts watching printers come and go. `changed` is called on the watch's
  // own thread whenever notes were added to an empty queue: it must not block
  // and must not destroy the watch (post a message and Take on your thread).
  virtual std::unique_ptr<UsbWatch> Watch(std::function<void()> changed, Status* status) = 0;
};

// The backend of this platform (libudev on Linux).
UsbPrinters& DefaultUsbPrinters();

// The gathered-notes queue every backend's watch uses.
class UsbNoteQueue {
 public:
  explicit UsbNoteQueue(size_t capacity = 256) : capacity_(capacity) {}
  // True when the queue was empty before (the owner must be told).
  bool Push(UsbChangeNote note);
  std::vector<UsbChangeNote> Take();
  bool Overflowed();

 private:
  const size_t capacity_;
  std::mutex mutex_;
  std::deque<UsbChangeNote> notes_;
  bool overflowed_ = false;
};

}  // namespace qz381::platform
