#pragma once
// The module form of the export set, as com and usb define it: the port-less
// calls act on the calling thread's current port (CreatePort or SetObject on
// that thread selects it; port_table.h keeps it). Nothing thrown may leave an
// export: each body runs inside Guarded (export_guard.h).
// A module includes this header in the file that defines the exports so that
// the compiler checks each definition against the contract. Vexlink binds these
// by name through the types in module_form and never includes this header.
#include <cstdint>
#include <type_traits>

#include "ports/common/port_contract.h"

extern "C" {
// New port, made current for this thread; its id, or -1 when it cannot be created.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL CreatePort();
// Makes the port current for this thread: 1; an unknown id leaves the
// selection as it was: 0.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetObject(int32_t port_id);
// Closes (if open) and destroys the port: 1; unknown id: 0.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL DeletePort(int32_t port_id);
// Stores every member; 1 when the port name is not empty, else 0.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetDeviceOption(qz381::ports::DeviceOption option);
// Nonzero when the port is open.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL OpenPort();
QZ381_PORT_EXPORT void QZ381_PORT_CALL ClosePort();
// Bytes written; 0 when closed, data is null or length <= 0.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Write(const uint8_t* data, int32_t length);
// Data bytes copied (0 ... length); 0 when closed, buffer is null or length <= 0.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Read(uint8_t* buffer, int32_t length,
                                               uint32_t timeout_ms);
// Empties the data buffer; status blocks stay.
QZ381_PORT_EXPORT void QZ381_PORT_CALL Clear();
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetInputBufferCount();
// 2000, 2001 or 2003.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL IsPowerState();
// 1 and the oldest status block in status[0..3]; 0 when none is buffered.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetASBState(uint8_t* status);
// Optional (com has it): 1 once a status block is buffered, 0 when timeout_ms
// pass first, kWaitUnavailable when there is no open port; it takes nothing.
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL WaitASBState(uint32_t timeout_ms);
}

namespace qz381::ports::module_form {
static_assert(std::is_same_v<decltype(&::CreatePort), CreatePortFn>);
static_assert(std::is_same_v<decltype(&::SetObject), SetObjectFn>);
static_assert(std::is_same_v<decltype(&::DeletePort), DeletePortFn>);
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
}  // namespace qz381::ports::module_form
