#pragma once
// Test equipment: USB printers in umockdev's testbed (a fake sysfs and /dev
// that libudev and the device nodes of this process see once the program runs
// under umockdev's preload library). Each printer is a USB device with a
// printer-class interface and its usbmisc node; the node is a pseudo-terminal
// whose far end the test (or the virtual printer) holds.
#include <cstdint>
#include <string>

namespace qz381::platform::testbed {

// Runs the program again under `umockdev-wrapper` unless it already runs under
// umockdev; call first thing in main(). Answers only when it already ran there
// (or when the wrapper is missing: then InMock() is false and tests skip).
void RunUnderUmockdev(int argc, char** argv);
bool InMock();

struct TestPrinter {
  std::string usb_syspath;  // the USB device (parent of the printer interface)
  std::string node;         // "/dev/usb/lp0"
  int host_fd = -1;         // the node's far end, raw; owned by the testbed
};

class UsbTestbed {
 public:
  UsbTestbed();
  ~UsbTestbed();
  UsbTestbed(const UsbTestbed&) = delete;
  UsbTestbed& operator=(const UsbTestbed&) = delete;

  // Adds a printer and sends its "add" uevents. `serial` empty: the device has
  // no serial attribute. `lp` numbers the node.
  TestPrinter AddPrinter(uint16_t vendor, uint16_t product, const std::string& serial,
                         const std::string& port_chain, int lp);
  // A USB device that is not a printer (a keyboard interface with a hiddev
  // node in usbmisc) and a root hub.
  void AddNonPrinters();
  // Sends the "remove" uevent of the printer's node, then removes the device.
  void Unplug(const TestPrinter& printer);
  // Sends an "add" or "remove" uevent of the printer's node without changing
  // the tree.
  void Uevent(const TestPrinter& printer, const char* action);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace qz381::platform::testbed
