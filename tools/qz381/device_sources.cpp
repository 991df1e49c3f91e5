// The attached-printer sources of `qz381 devices`: one entry per port module
// that can find printers without a registry entry. Add yours here.
#include "tools/qz381/devices.h"

#include "common/usb_devices.h"

namespace qz381::tool {

std::vector<DeviceSource> DeviceSources() {
  return {
      // Numbered as the setup utility and the service object number them; a
      // printer held by another program is not listed (it cannot be chosen).
      {"USB printers",
       [](platform::Registry&, std::vector<std::string>* lines, std::string*) {
         usb::UsbDeviceList attached;
         usb::EnumerateUsbDevices(attached);
         for (const usb::UsbDeviceEntry& entry : attached) {
           lines->push_back(usb::DescribeUsbDevice(entry));
         }
         return true;
       }},
  };
}

}  // namespace qz381::tool
