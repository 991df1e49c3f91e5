// The exports of the usb module: the module form of the port contract, acting
// on the calling thread's current USB port (module_export_bodies.h).
#include "platform/usb.h"
#include "ports/common/module_export_bodies.h"
#include "ports/common/module_exports.h"
#include "ports/usb/usb_port.h"

namespace qz381::ports {
namespace {

struct UsbModule {
  using Port = UsbPort;
  static constexpr const char* kName = "usb";
  static constexpr int32_t kIdBase = kUsbPortIdBase;
  static constexpr int32_t kIdLimit = kUsbPortIdLimit;
  static int32_t Create(PortTable<Port>& table) {
    return table.Create(platform::DefaultUsbPrinters());
  }
};

}  // namespace
}  // namespace qz381::ports

QZ381_DEFINE_MODULE_EXPORTS(qz381::ports::UsbModule)
