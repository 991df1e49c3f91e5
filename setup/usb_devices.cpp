#include "setup/usb_devices.h"

#include "common/usb_devices.h"

namespace qz381::setup {

namespace {

std::vector<UsbEntry> FromList(const usb::UsbDeviceList& list) {
  std::vector<UsbEntry> entries;
  entries.reserve(list.size());
  for (const usb::UsbDeviceEntry& device : list) {
    entries.push_back(UsbEntry{device.ordinal, device.devicePath, device.name, device.productId,
                               device.vendorId, device.serial});
  }
  return entries;
}

}  // namespace

std::vector<UsbEntry> AttachedUsbPrinters(platform::UsbPrinters& printers, bool win9x,
                                          platform::Registry& registry) {
  usb::UsbDeviceList list;
  usb::EnumerateUsbDevices(printers, list, win9x, registry);
  return FromList(list);
}

std::vector<UsbEntry> AttachedUsbPrinters() {
  usb::UsbDeviceList list;
  usb::EnumerateUsbDevices(list);
  return FromList(list);
}

std::string DescribeUsbEntry(const UsbEntry& entry) {
  return "VID " + entry.vid + "  PID " + entry.pid + "  Serial " +
         (entry.serial.empty() ? std::string("-") : entry.serial);
}

}  // namespace qz381::setup
