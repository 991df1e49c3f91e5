#pragma once
// The managing form of the export set, as Vexlink defines it: every call names
// its port by the id that the module's CreatePort answered. Vexlink includes
// this header where it defines the exports; the service object binds them by
// name through the types in managing_form. A translation unit includes either
// this header or module_exports.h, never both: the names are the same C symbols.
#include <cstdint>
#include <type_traits>

#include "ports/common/port_contract.h"

extern "C" {
// Routes the port to com or usb; the module's port id, or 0.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL CreatePort(const char* device_name, const char* port_name,
                                                     uint8_t owner_kind);
// 1 when owner_kind is 1 and the id was held (the module's port is deleted), else 0.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL RemovePort(uint8_t owner_kind, int32_t port_id);
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetDeviceOption(qz381::ports::DeviceOption option,
                                                          int32_t port_id);
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL OpenPort(int32_t port_id);
QZ381_PORT_EXPORT void QZ381_PORT_CALL ClosePort(int32_t port_id);
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Write(const uint8_t* data, int32_t length,
                                                int32_t port_id);
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Read(uint8_t* buffer, int32_t length, uint32_t timeout_ms,
                                               int32_t port_id);
QZ381_PORT_EXPORT void QZ381_PORT_CALL Clear(int32_t port_id);
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetInputBufferCount(int32_t port_id);
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL IsPowerState(int32_t port_id);
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetASBState(uint8_t* status, int32_t port_id);
// The port module's WaitASBState, or kWaitUnavailable when it has none.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL WaitASBState(uint32_t timeout_ms, int32_t port_id);
}

namespace qz381::ports::managing_form {
static_assert(std::is_same_v<decltype(&::CreatePort), CreatePortFn>);
static_assert(std::is_same_v<decltype(&::RemovePort), RemovePortFn>);
static_assert(std::is_same_v<decltype(&::SetDeviceOption), SetDeviceOptionFn>);
static_assert(std::is_same_v<decltype(&::OpenPort), OpenPortFn>);
static_assert(std::is_same_v<decltype(&::ClosePort), ClosePortFn>);
static_assert(std::is_same_v<decltype(&::Write), WriteFn>);
static_assert(std::is_same_v<decltype(&::Read), ReadFn>);
static_assert(std::is_same_v<decltype(&::Clear), ClearFn>);
static_assert(std::is_same_v<decltype(&::GetInputBufferCount), GetInputBufferCountFn>);
static_assert(std::is_same_v<decltype(&::IsPowerState), IsPowerStateFn>);
static_assert(std::is_same_v<decltype(&::GetASBState), GetASBStateFn>);
static_assert(std::is_same_v<decltype(&::WaitASBState), WaitASBStateFn>);
}  // namespace qz381::ports::managing_form
