// The exports of the com module: the module form of the port contract, acting
// on the calling thread's current serial port (module_export_bodies.h).
#include "platform/clock.h"
#include "platform/serial.h"
#include "ports/com/serial_port.h"
#include "ports/common/module_export_bodies.h"
#include "ports/common/module_exports.h"

namespace qz381::ports {
namespace {

struct ComModule {
  using Port = SerialPort;
  static constexpr const char* kName = "com";
  static constexpr int32_t kIdBase = kComPortIdBase;
  static constexpr int32_t kIdLimit = kComPortIdLimit;
  static int32_t Create(PortTable<Port>& table) {
    return table.Create(platform::DefaultSerialPorts(), platform::DefaultClock());
  }
};

}  // namespace
}  // namespace qz381::ports

QZ381_DEFINE_MODULE_EXPORTS(qz381::ports::ComModule)
