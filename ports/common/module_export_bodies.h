#pragma once
// The bodies of the module-form exports, one set for every port module (com,
// usb, net). A module describes itself in a small struct:
//
//   struct ComModule {
//     using Port = SerialPort;
//     static constexpr const char* kName = "com";           // trace lines
//     static constexpr int32_t kIdBase = kComPortIdBase;    // its id range
//     static constexpr int32_t kIdLimit = kComPortIdLimit;
//     static int32_t Create(PortTable<Port>& table);        // table.Create(...)
//   };
//
// and defines its exports, in the one file that includes module_exports.h (so
// the compiler checks them against the contract), with
// QZ381_DEFINE_MODULE_EXPORTS(ComModule). The port table is the module's only
// state; it is made on first use (a function-local static, so loading the
// module runs no code of ours and needs no loader lock on Windows). Every body
// runs inside Guarded: nothing thrown leaves the module.
#include <cstdint>
#include <memory>

#include "platform/trace.h"
#include "ports/common/export_guard.h"
#include "ports/common/port_contract.h"
#include "ports/common/port_table.h"

namespace qz381::ports {

template <class Module>
class ModuleExports {
 public:
  using Port = typename Module::Port;

  static int32_t CreatePort() noexcept {
    return Guarded({Module::kName, "CreatePort"}, int32_t{-1}, [] {
      const int32_t id = Module::Create(Table());
      if (id < 0) platform::Trace("%s: CreatePort: port ids used up", Module::kName);
      return id;
    });
  }

  static int32_t SetObject(int32_t port_id) noexcept {
    return Guarded({Module::kName, "SetObject"}, int32_t{0}, [&] {
      if (Table().Select(port_id)) return 1;
      platform::Trace("%s: SetObject(%d): no such port; selection unchanged", Module::kName,
                      port_id);
      return 0;
    });
  }

  static int32_t DeletePort(int32_t port_id) noexcept {
    return Guarded({Module::kName, "DeletePort"}, int32_t{0}, [&] {
      std::shared_ptr<Port> doomed = Table().Remove(port_id);
      if (!doomed) {
        platform::Trace("%s: DeletePort(%d): no such port", Module::kName, port_id);
        return 0;
      }
      // Closed outside the table's lock: closing joins the port's threads.
      doomed->ClosePort();
      return 1;
    });
  }

  static int32_t SetDeviceOption(DeviceOption option) noexcept {
    return OnCurrent("SetDeviceOption", int32_t{0},
                     [&](Port& port) { return port.SetDeviceOption(option); });
  }
  static int32_t OpenPort() noexcept {
    return OnCurrent("OpenPort", int32_t{0}, [](Port& port) { return port.OpenPort(); });
  }
  static void ClosePort() noexcept {
    OnCurrent("ClosePort", 0, [](Port& port) {
      port.ClosePort();
      return 0;
    });
  }
  static int32_t Write(const uint8_t* data, int32_t length) noexcept {
    return OnCurrent("Write", int32_t{0}, [&](Port& port) { return port.Write(data, length); });
  }
  static int32_t Read(uint8_t* buffer, int32_t length, uint32_t timeout_ms) noexcept {
    return OnCurrent("Read", int32_t{0},
                     [&](Port& port) { return port.Read(buffer, length, timeout_ms); });
  }
  static void Clear() noexcept {
    OnCurrent("Clear", 0, [](Port& port) {
      port.Clear();
      return 0;
    });
  }
  static int32_t GetInputBufferCount() noexcept {
    return OnCurrent("GetInputBufferCount", int32_t{0},
                     [](Port& port) { return port.GetInputBufferCount(); });
  }
  static int32_t IsPowerState() noexcept {
    return OnCurrent("IsPowerState", int32_t{0}, [](Port& port) { return port.IsPowerState(); });
  }
  static int32_t GetASBState(uint8_t* status) noexcept {
    return OnCurrent("GetASBState", int32_t{0},
                     [&](Port& port) { return port.GetASBState(status); });
  }
  static int32_t WaitASBState(uint32_t timeout_ms) noexcept {
    return OnCurrent("WaitASBState", kWaitUnavailable,
                     [&](Port& port) { return port.WaitASBState(timeout_ms); });
  }

 private:
  static PortTable<Port>& Table() {
    static PortTable<Port> table(Module::kIdBase, Module::kIdLimit);
    return table;
  }

  // The call on the calling thread's current port; `none` when it has none
  // or the call throws.
  template <typename Result, typename Call>
  static Result OnCurrent(const char* call, Result none, Call&& body) noexcept {
    return Guarded({Module::kName, call}, none, [&] {
      const std::shared_ptr<Port> port = Table().Current();
      return port ? body(*port) : none;
    });
  }
};

}  // namespace qz381::ports

// The extern "C" definitions of the export set, each forwarding to the shared
// body. Use once, at file scope, in the module's exports file.
#define QZ381_DEFINE_MODULE_EXPORTS(Module)                                                   \
  extern "C" {                                                                                \
  QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL CreatePort() {                                    \
    return ::qz381::ports::ModuleExports<Module>::CreatePort();                               \
  }                                                                                           \
  QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetObject(int32_t port_id) {                      \
    return ::qz381::ports::ModuleExports<Module>::SetObject(port_id);                         \
  }                                                                                           \
  QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL DeletePort(int32_t port_id) {                     \
    return ::qz381::ports::ModuleExports<Module>::DeletePort(port_id);                        \
  }                                                                                           \
  QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetDeviceOption(::qz381::ports::DeviceOption o) { \
    return ::qz381::ports::ModuleExports<Module>::SetDeviceOption(o);                         \
  }                                                                                           \
  QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL OpenPort() {                                      \
    return ::qz381::ports::ModuleExports<Module>::OpenPort();                                 \
  }                                                                                           \
  QZ381_PORT_EXPORT void QZ381_PORT_CALL ClosePort() {                                        \
    ::qz381::ports::ModuleExports<Module>::ClosePort();                                       \
  }                                                                                           \
  QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Write(const uint8_t* data, int32_t length) {      \
    return ::qz381::ports::ModuleExports<Module>::Write(data, length);                        \
  }                                                                                           \
  QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Read(uint8_t* buffer, int32_t length,             \
                                                 uint32_t timeout_ms) {                       \
    return ::qz381::ports::ModuleExports<Module>::Read(buffer, length, timeout_ms);           \
  }                                                                                           \
  QZ381_PORT_EXPORT void QZ381_PORT_CALL Clear() {                                            \
    ::qz381::ports::ModuleExports<Module>::Clear();                                           \
  }                                                                                           \
  QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetInputBufferCount() {                           \
    return ::qz381::ports::ModuleExports<Module>::GetInputBufferCount();                      \
  }                                                                                           \
  QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL IsPowerState() {                                  \
    return ::qz381::ports::ModuleExports<Module>::IsPowerState();                             \
  }                                                                                           \
  QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetASBState(uint8_t* status) {                    \
    return ::qz381::ports::ModuleExports<Module>::GetASBState(status);                        \
  }                                                                                           \
  QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL WaitASBState(uint32_t timeout_ms) {               \
    return ::qz381::ports::ModuleExports<Module>::WaitASBState(timeout_ms);                   \
  }                                                                                           \
  }
