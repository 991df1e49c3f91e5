#pragma once
// The attached USB printers, as the device settings dialog offers them.
#include <string>
#include <vector>

#include "setup/device_settings.h"

namespace qz381::platform {
class Registry;
class UsbPrinters;
}  // namespace qz381::platform

namespace qz381::setup {

// Every attached USB printer that opens now, named and numbered by the same
// enumeration the service object resolves a recorded device with, so that
// what the dialog records leads back to the printer the user chose. May block
// briefly while each printer is opened. `registry` is read on the Windows 9x
// family only.
std::vector<UsbEntry> AttachedUsbPrinters(platform::UsbPrinters& printers, bool win9x,
                                          platform::Registry& registry);
// Same, on this platform's printers, version and registry.
std::vector<UsbEntry> AttachedUsbPrinters();

// "VID 3A81  PID 0381  Serial QZ0001" ("Serial -" without one): what the
// dialog shows beside the chosen name.
std::string DescribeUsbEntry(const UsbEntry& entry);

}  // namespace qz381::setup
