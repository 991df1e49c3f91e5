// The exports of the net module: the module form of the port contract, acting
// on the calling thread's current port. The port table is the module's only
// state; it is made on first use (a function-local static, so loading the
// module runs no code of ours and needs no loader lock on Windows). Every body
// runs inside Guarded: nothing thrown leaves the module.
#include <memory>

#include "platform/socket.h"
#include "platform/trace.h"
#include "ports/common/export_guard.h"
#include "ports/common/module_exports.h"
#include "ports/common/port_table.h"
#include "ports/net/net_port.h"

namespace qz381::ports {
namespace {

PortTable<NetPort>& Table() {
  static PortTable<NetPort> table(kNetPortIdBase, kNetPortIdLimit);
  return table;
}

std::shared_ptr<NetPort> Current() {
  return Table().Current();
}

}  // namespace
}  // namespace qz381::ports

using qz381::ports::Current;
using qz381::ports::Guarded;
using qz381::ports::Table;
namespace platform = qz381::platform;

extern "C" {

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL CreatePort() {
  return Guarded("net: CreatePort", int32_t{-1}, [] {
    const int32_t id = Table().Create(platform::DefaultSockets());
    if (id < 0) platform::Trace("net: CreatePort: port ids used up");
    return id;
  });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetObject(int32_t port_id) {
  return Guarded("net: SetObject", int32_t{0}, [&] {
    if (Table().Select(port_id)) return 1;
    platform::Trace("net: SetObject(%d): no such port; selection unchanged", port_id);
    return 0;
  });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL DeletePort(int32_t port_id) {
  return Guarded("net: DeletePort", int32_t{0}, [&] {
    std::shared_ptr<qz381::ports::NetPort> doomed = Table().Remove(port_id);
    if (!doomed) {
      platform::Trace("net: DeletePort(%d): no such port", port_id);
      return 0;
    }
    // Closed outside the table's lock: closing joins the reader thread.
    doomed->ClosePort();
    return 1;
  });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetDeviceOption(qz381::ports::DeviceOption option) {
  return Guarded("net: SetDeviceOption", int32_t{0}, [&] {
    auto port = Current();
    return port ? port->SetDeviceOption(option) : 0;
  });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL OpenPort() {
  return Guarded("net: OpenPort", int32_t{0}, [] {
    auto port = Current();
    return port ? port->OpenPort() : 0;
  });
}

QZ381_PORT_EXPORT void QZ381_PORT_CALL ClosePort() {
  Guarded("net: ClosePort", [] {
    if (auto port = Current()) port->ClosePort();
  });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Write(const uint8_t* data, int32_t length) {
  return Guarded("net: Write", int32_t{0}, [&] {
    auto port = Current();
    return port ? port->Write(data, length) : 0;
  });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Read(uint8_t* buffer, int32_t length,
                                               uint32_t timeout_ms) {
  return Guarded("net: Read", int32_t{0}, [&] {
    auto port = Current();
    return port ? port->Read(buffer, length, timeout_ms) : 0;
  });
}

QZ381_PORT_EXPORT void QZ381_PORT_CALL Clear() {
  Guarded("net: Clear", [] {
    if (auto port = Current()) port->Clear();
  });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetInputBufferCount() {
  return Guarded("net: GetInputBufferCount", int32_t{0}, [] {
    auto port = Current();
    return port ? port->GetInputBufferCount() : 0;
  });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL IsPowerState() {
  return Guarded("net: IsPowerState", int32_t{0}, [] {
    auto port = Current();
    return port ? port->IsPowerState() : 0;
  });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetASBState(uint8_t* status) {
  return Guarded("net: GetASBState", int32_t{0}, [&] {
    auto port = Current();
    return port ? port->GetASBState(status) : 0;
  });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL WaitASBState(uint32_t timeout_ms) {
  return Guarded("net: WaitASBState", qz381::ports::kWaitUnavailable, [&] {
    auto port = Current();
    return port ? port->WaitASBState(timeout_ms) : qz381::ports::kWaitUnavailable;
  });
}

}  // extern "C"
