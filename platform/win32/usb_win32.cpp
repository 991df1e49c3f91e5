// USB printers on Windows: not listed yet (the SetupAPI device-interface walk
// and RegisterDeviceNotification belong here). Until then no printer is
// attached as far as the naming code knows, so a USB device entry cannot be
// opened (106) rather than being opened wrongly.
#include <windows.h>

#include "platform/system_version.h"
#include "platform/usb.h"

namespace qz381::platform {
namespace {

class NoUsbPrinters final : public UsbPrinters {
 public:
  Status Enumerate(std::vector<UsbPrinterInfo>* out) override {
    out->clear();
    return Status::Ok();
  }
  std::unique_ptr<UsbDevice> Open(std::string_view path, Status* status) override {
    if (status) {
      *status = Status::Fail(Outcome::kUnsupported, "USB printer '" + std::string(path) +
                                                        "': not available on Windows yet");
    }
    return nullptr;
  }
  std::unique_ptr<UsbWatch> Watch(std::function<void()>, Status* status) override {
    if (status)
      *status = Status::Fail(Outcome::kUnsupported, "USB watch: not available on Windows yet");
    return nullptr;
  }
};

}  // namespace

UsbPrinters& DefaultUsbPrinters() {
  static NoUsbPrinters printers;
  return printers;
}

bool IsWin9x() {
  return IsWin9xVersion(static_cast<uint32_t>(::GetVersion()));
}

}  // namespace qz381::platform
