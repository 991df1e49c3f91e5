// The exports of Vexlink: the managing form of the port contract, each handed
// to the one PortRouter of the process, inside Guarded: nothing thrown here or
// in a module below leaves Vexlink.
//
// The router, and with it com, usb and net, is made on the first call rather than by
// a static initialiser. A static initialiser of a DLL runs under the Windows
// loader lock, where loading another library is forbidden and can deadlock; a
// first-call start under std::call_once is safe there and here, and several
// service objects calling in from their threads at once still get one router.
// What the service object can observe is the same: the registry values are read
// before the first port is created.
#include <memory>
#include <mutex>
#include <string>

#include "platform/registry.h"
#include "platform/spooler.h"
#include "platform/trace.h"
#include "ports/common/export_guard.h"
#include "ports/common/managing_exports.h"
#include "ports/vexlink/port_router.h"

namespace qz381::ports {
namespace {

constexpr const char* kServiceInfoKey = "Software\\OLEforRetail\\ServiceInfo\\VORNAQZ381 OPOS";

std::string ModulePath(const char* value) {
  std::string path;
  const platform::Status status = platform::ReadText(
      platform::DefaultRegistry(), platform::Hive::kLocalMachine, kServiceInfoKey, value, &path);
  if (!status.ok()) platform::Trace("Vexlink: %s: %s", value, status.ToString().c_str());
  return path;
}

// Destroyed when Vexlink is unloaded, which frees com and usb.
std::unique_ptr<PortRouter> router;
std::once_flag router_once;

PortRouter& Router() {
  std::call_once(router_once, [] {
    // Each value on its own: a missing usb or net module leaves serial ports
    // working.
    router = std::make_unique<PortRouter>(ModuleBinding::Load("serial", ModulePath("comdir")),
                                          ModuleBinding::Load("USB", ModulePath("usbdir")),
                                          platform::DefaultSpooler(),
                                          ModuleBinding::Load("network", ModulePath("netdir")));
  });
  return *router;
}

}  // namespace
}  // namespace qz381::ports

using qz381::ports::Guarded;
using qz381::ports::Router;

extern "C" {

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL CreatePort(const char* device_name, const char* port_name,
                                                     uint8_t owner_kind) {
  return Guarded("Vexlink: CreatePort", int32_t{0},
                 [&] { return Router().CreatePort(device_name, port_name, owner_kind); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL RemovePort(uint8_t owner_kind, int32_t port_id) {
  return Guarded("Vexlink: RemovePort", int32_t{0},
                 [&] { return Router().RemovePort(owner_kind, port_id); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetDeviceOption(qz381::ports::DeviceOption option,
                                                          int32_t port_id) {
  return Guarded("Vexlink: SetDeviceOption", int32_t{0},
                 [&] { return Router().SetDeviceOption(option, port_id); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL OpenPort(int32_t port_id) {
  return Guarded("Vexlink: OpenPort", int32_t{0}, [&] { return Router().OpenPort(port_id); });
}

QZ381_PORT_EXPORT void QZ381_PORT_CALL ClosePort(int32_t port_id) {
  Guarded("Vexlink: ClosePort", [&] { Router().ClosePort(port_id); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Write(const uint8_t* data, int32_t length,
                                                int32_t port_id) {
  return Guarded("Vexlink: Write", int32_t{0},
                 [&] { return Router().Write(data, length, port_id); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Read(uint8_t* buffer, int32_t length, uint32_t timeout_ms,
                                               int32_t port_id) {
  return Guarded("Vexlink: Read", int32_t{0},
                 [&] { return Router().Read(buffer, length, timeout_ms, port_id); });
}

QZ381_PORT_EXPORT void QZ381_PORT_CALL Clear(int32_t port_id) {
  Guarded("Vexlink: Clear", [&] { Router().Clear(port_id); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetInputBufferCount(int32_t port_id) {
  return Guarded("Vexlink: GetInputBufferCount", int32_t{0},
                 [&] { return Router().GetInputBufferCount(port_id); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL IsPowerState(int32_t port_id) {
  return Guarded("Vexlink: IsPowerState", int32_t{0},
                 [&] { return Router().IsPowerState(port_id); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetASBState(uint8_t* status, int32_t port_id) {
  return Guarded("Vexlink: GetASBState", int32_t{0},
                 [&] { return Router().GetASBState(status, port_id); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL WaitASBState(uint32_t timeout_ms, int32_t port_id) {
  return Guarded("Vexlink: WaitASBState", qz381::ports::kWaitUnavailable,
                 [&] { return Router().WaitASBState(timeout_ms, port_id); });
}

}  // extern "C"
