// The exports of the usb module: the module form of the port contract, acting
// on the current port. The port list and the current port are the module's
// only state, made on first use (a function-local static: loading the module
// runs no code of ours, which the Windows loader lock would forbid).
//
// Every export body runs inside Guarded: nothing thrown (a thread that cannot
// start, memory) crosses the C boundary; it is traced and the contract's
// failure value answered.
#include <exception>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/trace.h"
#include "platform/usb.h"
#include "ports/common/module_exports.h"
#include "ports/usb/usb_port.h"

namespace qz381::ports {
namespace {

// As in com: the mutex keeps the list and the selection intact when threads
// meet here; a port is held by shared_ptr so that deleting it cannot pull it
// from under another thread's call.
class UsbModule {
 public:
  int32_t Create() {
    std::lock_guard hold(mutex_);
    current_.reset();
    const std::optional<int32_t> id = ids_.Next();
    if (!id) {
      platform::Trace("usb: CreatePort: port ids used up");
      return -1;
    }
    auto port = std::make_shared<UsbPort>(platform::DefaultUsbPrinters(), *id);
    ports_.emplace_front(*id, port);
    current_ = std::move(port);
    return *id;
  }

  int32_t Select(int32_t id) {
    std::lock_guard hold(mutex_);
    for (auto& [port_id, port] : ports_) {
      if (port_id != id) continue;
      current_ = port;
      return 1;
    }
    platform::Trace("usb: SetObject(%d): no such port; selection unchanged", id);
    return 0;
  }

  int32_t Delete(int32_t id) {
    std::shared_ptr<UsbPort> doomed;
    {
      std::lock_guard hold(mutex_);
      for (auto it = ports_.begin(); it != ports_.end(); ++it) {
        if (it->first != id) continue;
        doomed = std::move(it->second);
        ports_.erase(it);
        break;
      }
      if (!doomed) {
        platform::Trace("usb: DeletePort(%d): no such port", id);
        return 0;
      }
      if (current_ == doomed) current_.reset();
    }
    doomed->ClosePort();  // outside the lock: closing joins the port's threads
    return 1;
  }

  std::shared_ptr<UsbPort> Current() {
    std::lock_guard hold(mutex_);
    return current_;
  }

 private:
  std::mutex mutex_;
  std::list<std::pair<int32_t, std::shared_ptr<UsbPort>>> ports_;  // newest first
  std::shared_ptr<UsbPort> current_;
  PortIdAllocator ids_{kUsbPortIdBase, kUsbPortIdLimit};
};

UsbModule& Module() {
  static UsbModule module;
  return module;
}

template <typename Result, typename Body>
Result Guarded(const char* call, Result failure, Body body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    platform::Trace("usb: %s failed: %s", call, e.what());
  } catch (...) {
    platform::Trace("usb: %s failed", call);
  }
  return failure;
}

// The current port's answer, or `failure` with no current port.
template <typename Result, typename Call>
Result OnCurrent(const char* name, Result failure, Call call) noexcept {
  return Guarded(name, failure, [&] {
    std::shared_ptr<UsbPort> port = Module().Current();
    return port ? call(*port) : failure;
  });
}

}  // namespace
}  // namespace qz381::ports

using qz381::ports::Guarded;
using qz381::ports::Module;
using qz381::ports::OnCurrent;
using qz381::ports::UsbPort;

extern "C" {

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL CreatePort() {
  return Guarded("CreatePort", -1, [] { return Module().Create(); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetObject(int32_t port_id) {
  return Guarded("SetObject", 0, [&] { return Module().Select(port_id); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL DeletePort(int32_t port_id) {
  return Guarded("DeletePort", 0, [&] { return Module().Delete(port_id); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetDeviceOption(qz381::ports::DeviceOption option) {
  return OnCurrent("SetDeviceOption", 0, [&](UsbPort& p) { return p.SetDeviceOption(option); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL OpenPort() {
  return OnCurrent("OpenPort", 0, [](UsbPort& p) { return p.OpenPort(); });
}

QZ381_PORT_EXPORT void QZ381_PORT_CALL ClosePort() {
  OnCurrent("ClosePort", 0, [](UsbPort& p) {
    p.ClosePort();
    return 0;
  });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Write(const uint8_t* data, int32_t length) {
  return OnCurrent("Write", 0, [&](UsbPort& p) { return p.Write(data, length); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Read(uint8_t* buffer, int32_t length,
                                               uint32_t timeout_ms) {
  return OnCurrent("Read", 0, [&](UsbPort& p) { return p.Read(buffer, length, timeout_ms); });
}

QZ381_PORT_EXPORT void QZ381_PORT_CALL Clear() {
  OnCurrent("Clear", 0, [](UsbPort& p) {
    p.Clear();
    return 0;
  });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetInputBufferCount() {
  return OnCurrent("GetInputBufferCount", 0, [](UsbPort& p) { return p.GetInputBufferCount(); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL IsPowerState() {
  return OnCurrent("IsPowerState", 0, [](UsbPort& p) { return p.IsPowerState(); });
}

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetASBState(uint8_t* status) {
  return OnCurrent("GetASBState", 0, [&](UsbPort& p) { return p.GetASBState(status); });
}

}  // extern "C"
