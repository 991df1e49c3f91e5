#pragma once
// What the service object, Vexlink, com and usb agree on at their library
// boundaries: the calling convention, the settings record, port ids, power
// codes and the entry-point types of both export forms. Nothing here allocates;
// every value that crosses a boundary is a 32-bit number, a caller-owned buffer
// or the DeviceOption record, which owns its text inline.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The exports use the C calling convention (the caller removes the arguments).
// Only 32-bit Windows has a choice to make; elsewhere there is one convention.
#if defined(_WIN32) && !defined(_WIN64)
#define QZ381_PORT_CALL __cdecl
#else
#define QZ381_PORT_CALL
#endif

// Marks a module's exports; the modules are built with hidden visibility so that
// only the contract's names leave the library. On Windows the .def file of each
// module also lists them, which keeps the names undecorated.
#if defined(_WIN32)
#define QZ381_PORT_EXPORT __declspec(dllexport)
#else
#define QZ381_PORT_EXPORT __attribute__((visibility("default")))
#endif

namespace qz381::ports {

// Win32 COMMTIMEOUTS order, milliseconds; only com uses them.
struct DeviceTimeouts {
  uint32_t readIntervalTimeout;
  uint32_t readTotalTimeoutMultiplier;
  uint32_t readTotalTimeoutConstant;
  uint32_t writeTotalTimeoutMultiplier;
  uint32_t writeTotalTimeoutConstant;
};

// MAX_PATH: USB device-interface paths are the longest names a port gets.
inline constexpr size_t kPortNameCapacity = 260;

// The settings record of SetDeviceOption, passed by value. The port name lives
// inside the record as NUL-terminated text in the system code page rather than
// behind a pointer: the record then owns its text wherever it is copied, no
// allocation crosses a library boundary, and the layout is the same on every
// platform (no member changes width between 32-bit Windows and 64-bit Linux).
// Fill the name with SetPortName and read it with PortNameOf; both refuse text
// that does not fit instead of cutting it, because "COM12" cut short is "COM1".
struct DeviceOption {
  char portName[kPortNameCapacity];
  uint32_t baudRate;
  uint32_t byteSize;  // low byte used
  uint32_t stopBits;  // DCB code, low byte used
  uint32_t parity;    // DCB code, low byte used
  DeviceTimeouts timeouts;
  uint32_t inputBufferSize;   // capacity of each receive buffer
  uint32_t outputBufferSize;  // stored for the caller, unused by the modules
};

static_assert(sizeof(DeviceTimeouts) == 20);
static_assert(alignof(DeviceOption) == 4);
static_assert(offsetof(DeviceOption, portName) == 0);
static_assert(offsetof(DeviceOption, baudRate) == 260);
static_assert(offsetof(DeviceOption, byteSize) == 264);
static_assert(offsetof(DeviceOption, stopBits) == 268);
static_assert(offsetof(DeviceOption, parity) == 272);
static_assert(offsetof(DeviceOption, timeouts) == 276);
static_assert(offsetof(DeviceOption, inputBufferSize) == 296);
static_assert(offsetof(DeviceOption, outputBufferSize) == 300);
static_assert(sizeof(DeviceOption) == 304);

// Stores `name` with its terminator; false (record unchanged) when it would not
// fit or contains a NUL.
bool SetPortName(DeviceOption& option, std::string_view name);
// The name up to its terminator; empty when the array holds no terminator, so a
// record from a careless caller is never read past its end.
std::string_view PortNameOf(const DeviceOption& option);
// A record with the setup utility's serial defaults and the service object's
// time-outs; the port name is empty.
DeviceOption DefaultDeviceOption();

// Each module numbers its ports from its base. Each range ends where the next
// begins: Vexlink tells the modules' ports apart by number alone, so an id from
// one range must never appear in another.
inline constexpr int32_t kComPortIdBase = 10000;
inline constexpr int32_t kComPortIdLimit = 30000;  // exclusive
inline constexpr int32_t kUsbPortIdBase = 30000;
inline constexpr int32_t kUsbPortIdLimit = 40000;  // exclusive
inline constexpr int32_t kNetPortIdBase = 40000;
inline constexpr int32_t kNetPortIdLimit = INT32_MAX;  // exclusive

// Hands out ids base, base+1, ... and never repeats one; nullopt once the range
// is used up (the module then fails CreatePort rather than reuse an id that a
// caller may still hold).
class PortIdAllocator {
 public:
  PortIdAllocator(int32_t base, int32_t limit) : next_(base), limit_(limit) {}
  std::optional<int32_t> Next() {
    if (next_ >= limit_) return std::nullopt;
    return next_++;
  }

 private:
  int32_t next_;
  int32_t limit_;
};

// IsPowerState answers; 2002 and 2004 are never produced by a port module.
inline constexpr int32_t kPowerStateUnknown = 2000;
inline constexpr int32_t kPowerStateOnline = 2001;
inline constexpr int32_t kPowerStateOffline = 2003;

inline constexpr size_t kStatusBlockSize = 4;

// What the receive buffers get when the record asks for nothing usable: the
// setup utility's default, and a ceiling that a mistyped registry value cannot
// turn into a gigabyte allocation on the reader's path.
inline constexpr uint32_t kDefaultReceiveCapacity = 8192;
inline constexpr uint32_t kMaxReceiveCapacity = 1u << 20;
// inputBufferSize as the receive buffers use it: 0 (a port that could never
// hold a reply byte or a status block) becomes the default; values above the
// ceiling are lowered to it.
uint32_t ReceiveCapacity(uint32_t input_buffer_size);

// Owner kind accepted by Vexlink's CreatePort and RemovePort: the POSPrinter
// service object.
inline constexpr uint8_t kOwnerPosPrinter = 1;

// WaitASBState's answer when the port cannot wait for a status block now (not
// open, or its module has no such call): the caller sleeps its poll interval.
inline constexpr int32_t kWaitUnavailable = -1;

// Entry-point types of the module form (com, usb), for binding by name.
namespace module_form {
using CreatePortFn = int32_t(QZ381_PORT_CALL*)();
using SetObjectFn = int32_t(QZ381_PORT_CALL*)(int32_t port_id);
using DeletePortFn = int32_t(QZ381_PORT_CALL*)(int32_t port_id);
using SetDeviceOptionFn = int32_t(QZ381_PORT_CALL*)(DeviceOption option);
using OpenPortFn = int32_t(QZ381_PORT_CALL*)();
using ClosePortFn = void(QZ381_PORT_CALL*)();
using WriteFn = int32_t(QZ381_PORT_CALL*)(const uint8_t* data, int32_t length);
using ReadFn = int32_t(QZ381_PORT_CALL*)(uint8_t* buffer, int32_t length, uint32_t timeout_ms);
using ClearFn = void(QZ381_PORT_CALL*)();
using GetInputBufferCountFn = int32_t(QZ381_PORT_CALL*)();
using IsPowerStateFn = int32_t(QZ381_PORT_CALL*)();
using GetASBStateFn = int32_t(QZ381_PORT_CALL*)(uint8_t* status);
// Optional: 1 once a status block is buffered (taken with GetASBState), 0 when
// timeout_ms pass first, kWaitUnavailable when the port is not open.
using WaitASBStateFn = int32_t(QZ381_PORT_CALL*)(uint32_t timeout_ms);
}  // namespace module_form

// Entry-point types of the managing form (Vexlink): the port id comes last,
// except for RemovePort.
namespace managing_form {
using CreatePortFn = int32_t(QZ381_PORT_CALL*)(const char* device_name, const char* port_name,
                                               uint8_t owner_kind);
using RemovePortFn = int32_t(QZ381_PORT_CALL*)(uint8_t owner_kind, int32_t port_id);
using SetDeviceOptionFn = int32_t(QZ381_PORT_CALL*)(DeviceOption option, int32_t port_id);
using OpenPortFn = int32_t(QZ381_PORT_CALL*)(int32_t port_id);
using ClosePortFn = void(QZ381_PORT_CALL*)(int32_t port_id);
using WriteFn = int32_t(QZ381_PORT_CALL*)(const uint8_t* data, int32_t length, int32_t port_id);
using ReadFn = int32_t(QZ381_PORT_CALL*)(uint8_t* buffer, int32_t length, uint32_t timeout_ms,
                                         int32_t port_id);
using ClearFn = void(QZ381_PORT_CALL*)(int32_t port_id);
using GetInputBufferCountFn = int32_t(QZ381_PORT_CALL*)(int32_t port_id);
using IsPowerStateFn = int32_t(QZ381_PORT_CALL*)(int32_t port_id);
using GetASBStateFn = int32_t(QZ381_PORT_CALL*)(uint8_t* status, int32_t port_id);
// As the module form's; kWaitUnavailable at once when the port's module lacks it.
using WaitASBStateFn = int32_t(QZ381_PORT_CALL*)(uint32_t timeout_ms, int32_t port_id);
}  // namespace managing_form

}  // namespace qz381::ports
