// A port module that breaks the contract by throwing from its exports, for the
// test that Vexlink keeps whatever a module throws from reaching its caller.
// Its first CreatePort throws; later ones make ports that SetObject accepts;
// every other export throws, each something else.
#include <atomic>
#include <new>
#include <stdexcept>
#include <system_error>

#include "ports/common/module_exports.h"

namespace {
std::atomic<int32_t> created{0};
}

extern "C" {

QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL CreatePort() {
  if (created++ == 0) throw std::bad_alloc();
  return qz381::ports::kComPortIdBase + created;
}
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetObject(int32_t) {
  return 1;
}
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL DeletePort(int32_t) {
  throw std::runtime_error("DeletePort");
}
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL SetDeviceOption(qz381::ports::DeviceOption) {
  throw std::logic_error("SetDeviceOption");
}
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL OpenPort() {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}
QZ381_PORT_EXPORT void QZ381_PORT_CALL ClosePort() {
  throw 7;
}
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Write(const uint8_t*, int32_t) {
  throw std::bad_alloc();
}
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL Read(uint8_t*, int32_t, uint32_t) {
  throw std::runtime_error("Read");
}
QZ381_PORT_EXPORT void QZ381_PORT_CALL Clear() {
  throw std::runtime_error("Clear");
}
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetInputBufferCount() {
  throw std::runtime_error("GetInputBufferCount");
}
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL IsPowerState() {
  throw std::runtime_error("IsPowerState");
}
QZ381_PORT_EXPORT int32_t QZ381_PORT_CALL GetASBState(uint8_t*) {
  throw std::runtime_error("GetASBState");
}

}  // extern "C"
