#include "setup/usb_devices.h"

namespace qz381::setup {

// The platform's USB enumeration is not there yet: no printer is attached, so
// USB mode falls back to serial with its message.
std::vector<UsbEntry> AttachedUsbPrinters() {
  return {};
}

}  // namespace qz381::setup
