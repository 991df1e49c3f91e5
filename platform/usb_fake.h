#pragma once
// Test doubles for USB printers: an in-memory tree of attached printers whose
// far ends the test plays (each one an in-memory line, as for serial devices),
// plugged and unplugged at will; and a wrapper that makes a chosen call of any
// UsbPrinters fail, once or from then on.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fault_plan.h"
#include "platform/serial_fake.h"
#include "platform/usb.h"

namespace qz381::platform {

// All methods are safe from any thread.
class FakeUsbPrinters final : public UsbPrinters {
 public:
  FakeUsbPrinters();
  ~FakeUsbPrinters() override;

  // Attaches a printer (replacing one with the same path) and tells every
  // watch. The path is made from vendor, product, serial and `port_chain` when
  // `info.path` is empty; the node defaults to "/dev/usb/lpN" (N counting from
  // 0). Answers the printer's far end.
  std::shared_ptr<FakeSerialLine> Plug(UsbPrinterInfo info, const std::string& port_chain = "1-1");
  // Detaches it: an open device answers kNotFound from now on, the path no
  // longer opens, every watch is told. False when no printer has that path.
  bool Unplug(const std::string& path);
  // What Plug made of the last printer it attached.
  UsbPrinterInfo LastPlugged() const;

  Status Enumerate(std::vector<UsbPrinterInfo>* out) override;
  std::unique_ptr<UsbDevice> Open(std::string_view path, Status* status) override;
  std::unique_ptr<UsbWatch> Watch(std::function<void()> changed, Status* status) override;

  struct Tree;  // shared with the devices and watches it hands out

 private:
  std::shared_ptr<Tree> tree_;
};

enum class UsbCall { kEnumerate, kOpen, kWatch, kRead, kWrite };

// Forwards to `inner` (which must outlive it) and to the devices it opens,
// counting calls of each kind across all of them. A failed Write writes
// nothing, a failed Read reads nothing, a failed Open or Watch makes nothing.
class FaultInjectingUsbPrinters final : public UsbPrinters {
 public:
  explicit FaultInjectingUsbPrinters(UsbPrinters& inner);

  void FailCall(UsbCall call, int nth, FaultMode mode, Outcome outcome = Outcome::kIoError);
  void ClearFaults();
  int Calls(UsbCall call) const;

  Status Enumerate(std::vector<UsbPrinterInfo>* out) override;
  std::unique_ptr<UsbDevice> Open(std::string_view path, Status* status) override;
  std::unique_ptr<UsbWatch> Watch(std::function<void()> changed, Status* status) override;

 private:
  UsbPrinters& inner_;
  std::shared_ptr<FaultPlan<UsbCall>> faults_;
};

}  // namespace qz381::platform
