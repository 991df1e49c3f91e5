// The exports of the com module: the module form of the port contract, acting
// on the current port. The port list and the current port are the module's
// only state; they are created on first use (a function-local static, so
// loading the module runs no code of ours and needs no loader lock on Windows).
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/serial.h"
#include "platform/trace.h"
#include "ports/com/serial_port.h"
#include "ports/common/module_exports.h"

namespace qz381::ports {
namespace {

// The selection is one per module, as the contract has it: a caller driving
// several ports makes SetObject and its call one step (Vexlink does). The mutex
// only keeps the list and the selection themselves intact when threads meet
// here; a port is held by shared_ptr so that one thread deleting it cannot pull
// it from under another thread's call.
class ComModule {
 public:
  int32_t Create() {
    std::lock_guard hold(mutex_);
    current_.reset();
    const std::optional<int32_t> id = ids_.Next();
    if (!id) {
      platform::Trace("com: CreatePort: port ids used up");
      return -1;
    }
    auto port = std::make_shared<SerialPort>(platform::DefaultSerialPorts(), *id);
    ports_.emplace_front(*id, port);
    current_ = std::move(port);
    return *id;
  }

  int32_t Select(int32_t id) {
    std::lock_guard hold(mutex_);
    for (auto& [port_id, port] : ports_) {
      if (port_id == id) {
        current_ = port;
        return 1;
      }
    }
    platform::Trace("com: SetObject(%d): no such port; selection unchanged", id);
    return 0;
  }

  int32_t Delete(int32_t id) {
    std::shared_ptr<SerialPort> doomed;
    {
      std::lock_guard hold(mutex_);
      for (auto it = ports_.begin(); it != ports_.end(); ++it) {
        if (it->first != id) continue;
        doomed = std::move(it->second);
        ports_.erase(it);
        break;
      }
      if (!doomed) {
        platform::Trace("com: DeletePort(%d): no such port", id);
        return 0;
      }
      if (current_ == doomed) current_.reset();
    }
    // Closed outside the module's lock: closing joins the reader thread.
    doomed->ClosePort();
    return 1;
  }

  std::shared_ptr<SerialPort> Current() {
    std::lock_guard hold(mutex_);
    return current_;
  }

 private:
  std::mutex mutex_;
  std::list<std::pair<int32_t, std::shared_ptr<SerialPort>>> ports_;  // newest first
  std::shared_ptr<SerialPort> current_;
  PortIdAllocator ids_{kComPortIdBase, kComPortIdLimit};
};

ComModule& Module() {
  static ComModule module;
  return module;
}

}  // namespace
}  // namespace qz381::ports

using qz381::ports::Module;

extern "C" {

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL CreatePort() {
  return Module().Create();
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetObject(int32_t port_id) {
  return Module().Select(port_id);
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL DeletePort(int32_t port_id) {
  return Module().Delete(port_id);
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetDeviceOption(qz381::ports::DeviceOption option) {
  auto port = Module().Current();
  return port ? port->SetDeviceOption(option) : 0;
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL OpenPort() {
  auto port = Module().Current();
  return port ? port->OpenPort() : 0;
}

QZ381_PORT_EXPORT void QZ381_PORT_CALL ClosePort() {
  if (auto port = Module().Current()) port->ClosePort();
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Write(const uint8_t* data, int32_t length) {
  auto port = Module().Current();
  return port ? port->Write(data, length) : 0;
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Read(uint8_t* buffer, int32_t length,
                                               uint32_t timeout_ms) {
  auto port = Module().Current();
  return port ? port->Read(buffer, length, timeout_ms) : 0;
}

QZ381_PORT_EXPORT void QZ381_PORT_CALL Clear() {
  if (auto port = Module().Current()) port->Clear();
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetInputBufferCount() {
  auto port = Module().Current();
  return port ? port->GetInputBufferCount() : 0;
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL IsPowerState() {
  auto port = Module().Current();
  return port ? port->IsPowerState() : 0;
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetASBState(uint8_t* status) {
  auto port = Module().Current();
  return port ? port->GetASBState(status) : 0;
}

}  // extern "C"
