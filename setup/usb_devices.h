#pragma once
// The attached USB printers, as the device settings dialog offers them.
#include <vector>

#include "setup/device_settings.h"

namespace qz381::setup {

// Every attached USB printer, named and numbered as the service object names
// them when it resolves a recorded device.
std::vector<UsbEntry> AttachedUsbPrinters();

}  // namespace qz381::setup
