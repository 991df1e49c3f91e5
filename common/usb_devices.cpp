#include "common/usb_devices.h"

#include <algorithm>
#include <cstdio>

#include "platform/registry.h"
#include "platform/system_version.h"
#include "platform/trace.h"
#include "platform/usb.h"

namespace qz381::usb {
namespace {

constexpr size_t kFirstBatch = 8;
// DeviceInstance is read into a buffer of this size, terminator included.
constexpr size_t kInstanceCapacity = 255;

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

bool AddUsbEntry(UsbDeviceList& list, const std::string& path, bool win9x,
                 platform::Registry& registry) {
  UsbDeviceEntry entry;
  if (win9x) {
    // \\?\usb#... without "\\?\", under "##.#".
    const std::string key = std::string(kUsbDeviceClassesKey) + "\\##.#" +
                            (path.size() > 4 ? path.substr(4) : std::string());
    std::string instance;
    const platform::Status status = platform::ReadText(registry, platform::Hive::kLocalMachine, key,
                                                       "DeviceInstance", &instance);
    if (!status.ok()) {
      platform::Trace("AddUsbEntry: %s: %s; not listed", path.c_str(), status.ToString().c_str());
      return false;
    }
    instance = Upper(instance.substr(0, kInstanceCapacity - 1));
    if (instance.size() < 21) {
      platform::Trace("AddUsbEntry: DeviceInstance '%s' too short; not listed", instance.c_str());
      return false;
    }
    entry.vendorId = instance.substr(8, 4);
    entry.productId = instance.substr(17, 4);
  } else {
    if (path.size() < 25) {
      platform::Trace("AddUsbEntry: path '%s' too short for its identifiers; not listed",
                      path.c_str());
      return false;
    }
    entry.vendorId = path.substr(12, 4);
    entry.productId = path.substr(21, 4);
  }
  entry.ordinal = 1;
  for (const UsbDeviceEntry& earlier : list) {
    if (earlier.productId == entry.productId) ++entry.ordinal;
  }
  char name[16];
  std::snprintf(name, sizeof name, "USB%03d:", static_cast<int>(list.size() + 1));
  entry.name = name;
  entry.devicePath = path;
  list.push_back(std::move(entry));
  return true;
}

int32_t EnumerateUsbDevices(platform::UsbPrinters& printers, UsbDeviceList& list, bool win9x,
                            platform::Registry& registry) {
  list.clear();
  std::vector<platform::UsbPrinterInfo> attached;
  const platform::Status status = printers.Enumerate(&attached);
  if (!status.ok()) {
    platform::Trace("EnumerateUsbDevices: %s", status.ToString().c_str());
    return 0;
  }
  // Index by index in batches; the end of the attached devices ends the walk,
  // and so does a batch after which something was listed.
  size_t index = 0;
  for (size_t limit = kFirstBatch; index < attached.size(); limit *= 2) {
    const size_t before = list.size();
    for (; index < limit && index < attached.size(); ++index) {
      const platform::UsbPrinterInfo& info = attached[index];
      platform::Status opened;
      // A printer held by another program cannot be chosen, so it is not shown.
      if (!printers.Open(info.path, &opened)) {
        platform::Trace("EnumerateUsbDevices: %s skipped: %s", info.path.c_str(),
                        opened.ToString().c_str());
        continue;
      }
      const std::string path = Upper(info.path);
      if (AddUsbEntry(list, path, win9x, registry)) {
        list.back().serial = info.serial;
        list.back().node = info.node;
      }
    }
    if (list.size() > before) break;
  }
  return static_cast<int32_t>(list.size());
}

int32_t EnumerateUsbDevices(UsbDeviceList& list) {
  return EnumerateUsbDevices(platform::DefaultUsbPrinters(), list, platform::IsWin9x(),
                             platform::DefaultRegistry());
}

std::string DescribeUsbDevice(const UsbDeviceEntry& entry) {
  return entry.name + " VID " + entry.vendorId + " PID " + entry.productId + " serial " +
         (entry.serial.empty() ? std::string("-") : entry.serial) + " " + entry.node;
}

std::string ResolveUsbDevice(const UsbDeviceList& list, std::string_view recorded_path,
                             int32_t ordinal, std::string_view product_id) {
  for (const UsbDeviceEntry& entry : list) {
    if (entry.devicePath == recorded_path) return entry.devicePath;
  }
  std::vector<const UsbDeviceEntry*> same;
  for (const UsbDeviceEntry& entry : list) {
    if (entry.productId == product_id) same.push_back(&entry);
  }
  if (same.empty()) return "";
  // A device entry not yet given a USB port holds 0: the first printer of the
  // product is then the one meant, as it is for 1.
  const size_t k = ordinal < 1 ? 1 : std::min<size_t>(static_cast<size_t>(ordinal), same.size());
  return same[k - 1]->devicePath;
}

}  // namespace qz381::usb
