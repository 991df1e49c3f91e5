#pragma once
// The attached USB printers under the short names the setup utility shows
// ("USB001:"), and the resolution of a recorded device to the path that is
// current now. One routine for the service object, the setup utility and
// `qz381 devices`, so that all three number the printers alike.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qz381::platform {
class Registry;
class UsbPrinters;
}  // namespace qz381::platform

namespace qz381::usb {

struct UsbDeviceEntry {
  int32_t ordinal = 0;     // 1 + earlier entries with the same product identifier
  std::string devicePath;  // interface path, upper case
  std::string name;        // "USB%03d:", the entry's position counted from 1
  std::string productId;   // 4 characters
  std::string vendorId;    // 4 characters
  // For listing only; the resolution never looks at them.
  std::string serial;
  std::string node;
};

using UsbDeviceList = std::vector<UsbDeviceEntry>;

// Where the Windows 9x family keeps a device interface's instance name; the
// path lacks vendor and product there. Only read when `win9x` is set.
inline constexpr std::string_view kUsbDeviceClassesKey =
    "System\\CurrentControlSet\\Control\\DeviceClasses\\"
    "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// Clears `list` and fills it with the printers that open now, walking the
// attached ones in batches of 8, 8, 16, 32 ... and stopping after the first
// batch that added one. Answers the entry count. `registry` is read on the
// Windows 9x family only.
int32_t EnumerateUsbDevices(platform::UsbPrinters& printers, UsbDeviceList& list, bool win9x,
                            platform::Registry& registry);
// Same, on this platform's printers, version and registry.
int32_t EnumerateUsbDevices(UsbDeviceList& list);

// Appends the device at `path` (upper-cased by the caller); false, with a
// trace line, when its identifiers cannot be found (it is then not listed).
bool AddUsbEntry(UsbDeviceList& list, const std::string& path, bool win9x,
                 platform::Registry& registry);

// One line of `qz381 devices`:
// "USB001: VID 3A81 PID 0381 serial QZ0001 /dev/usb/lp0" ("serial -" without one).
std::string DescribeUsbDevice(const UsbDeviceEntry& entry);

// The path to open for a recorded device: the recorded path when it is still
// listed, else the ordinal-th printer of the recorded product (the last one
// when fewer are attached; an ordinal below 1 counts as 1); "" when no printer
// of that product is attached. Product identifiers compare exactly.
std::string ResolveUsbDevice(const UsbDeviceList& list, std::string_view recorded_path,
                             int32_t ordinal, std::string_view product_id);

}  // namespace qz381::usb
