#pragma once
// Serial devices as the port modules use them: opened by their Windows port name
// ("COM7", or "\\.\COM7" as the module passes it), configured with DCB-style line
// settings and COMMTIMEOUTS-style time-outs, read and written with time-outs,
// and woken from any blocking call when the port is being closed.
//
// On POSIX a port name is mapped to a device node through the registry key that
// Windows uses to list serial ports (see ResolveSerialDeviceNode); the backend is
// termios and poll. Tests use the in-memory line of serial_fake.h.
//
// Threads: one device may be used by two threads at once, one reading (the
// module's reader thread) and one writing (a caller's Write); Interrupt may come
// from any thread. Everything else is called by one thread at a time (the
// module serialises configuration with open and close).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace qz381::platform {

class Registry;

// DCB codes, as the settings record carries them.
enum class StopBits : uint8_t { kOne = 0, kOneAndHalf = 1, kTwo = 2 };
enum class Parity : uint8_t { kNone = 0, kOdd = 1, kEven = 2, kMark = 3, kSpace = 4 };

struct SerialLineSettings {
  uint32_t baudRate = 9600;
  uint8_t byteSize = 8;  // 5 ... 8
  StopBits stopBits = StopBits::kOne;
  Parity parity = Parity::kNone;
  // Output waits while CTS (DSR) is low. The line is never driven by XON/XOFF.
  bool ctsFlow = false;
  bool dsrFlow = false;
};

// COMMTIMEOUTS, milliseconds. Reads are bounded by the caller's own time-out
// (Read below); the read members are kept so that a Win32 backend can hand them
// to the driver unchanged. A write of n bytes may take
// writeTotalMultiplier * n + writeTotalConstant; both 0 means no limit (the
// write still ends on Interrupt or when the line fails).
struct SerialTimeouts {
  uint32_t readInterval = 0;
  uint32_t readTotalMultiplier = 0;
  uint32_t readTotalConstant = 0;
  uint32_t writeTotalMultiplier = 0;
  uint32_t writeTotalConstant = 0;
};

enum PurgeFlags : unsigned {
  kPurgeInput = 1,   // bytes received but not yet read
  kPurgeOutput = 2,  // bytes written but not yet sent
};

struct ModemLines {
  bool cts = false;
  bool dsr = false;
  bool ring = false;
  bool rlsd = false;  // carrier detect
};

enum class SerialWait {
  kReady,        // at least one byte waits
  kTimedOut,     // nothing arrived within the time-out
  kInterrupted,  // Interrupt was called
  kFailed,       // the line is gone (hang-up, device error)
};

// One open serial device. Closing is destruction; call Interrupt first when
// another thread may be blocked in the device.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Applies the settings; kInvalidArgument for values the line cannot take (a
  // byte size outside 5 ... 8, an unknown stop-bit or parity code, baud 0), in
  // which case the line keeps its previous settings. Does not block.
  virtual Status Configure(const SerialLineSettings& settings) = 0;
  virtual Status SetTimeouts(const SerialTimeouts& timeouts) = 0;
  // Discards the queues named by `flags` (PurgeFlags). Does not block.
  virtual Status Purge(unsigned flags) = 0;
  // kUnsupported when the device has no modem lines to report (a
  // pseudo-terminal, a line without them): callers treat that as "no CTS".
  virtual Status GetModemLines(ModemLines* out) = 0;
  // Bytes received and waiting to be read (ClearCommError's input count).
  virtual Status InputWaiting(size_t* count) = 0;

  // Blocks until at least one byte waits, timeout_ms pass, Interrupt is called
  // or the line fails.
  virtual SerialWait WaitInput(uint32_t timeout_ms) = 0;
  // Copies what waits, up to buffer.size(), first waiting up to timeout_ms for
  // at least one byte. Ok with *got == 0 on time-out or interrupt; an error when
  // the line failed (*got is 0 then). Never blocks once a byte was copied.
  virtual Status Read(std::span<uint8_t> buffer, uint32_t timeout_ms, size_t* got) = 0;
  // Writes all of `data` within the write time-outs. *written is the count that
  // went out even on failure: kTimedOut when the time-out cut the write short,
  // kIoError when the line failed or Interrupt stopped the write.
  virtual Status Write(std::span<const uint8_t> data, size_t* written) = 0;

  // Wakes every call blocked in this device; from now on waits answer
  // kInterrupted at once and writes stop. Safe from any thread, idempotent.
  virtual void Interrupt() = 0;
  virtual bool Interrupted() const = 0;

  // The name it was opened by and the node behind it, for trace lines.
  virtual const std::string& name() const = 0;
};

// Opens serial devices by port name. Implementations are safe to call from any
// thread.
class SerialPorts {
 public:
  virtual ~SerialPorts() = default;
  // `name` is a Windows port name, with or without the "\\.\" prefix. kNotFound
  // when no device answers to the name, kBusy when another holder has it open,
  // kIoError for any other refusal. The device comes with its settings
  // untouched except that it is raw (no echo, no line editing, no translation).
  virtual std::unique_ptr<SerialDevice> Open(std::string_view name, Status* status) = 0;
};

// The backend of this platform, resolving names through DefaultRegistry().
SerialPorts& DefaultSerialPorts();
// The same backend resolving names through `registry`, which must outlive it.
std::unique_ptr<SerialPorts> NewSystemSerialPorts(Registry& registry);

// "\\.\COM7" -> "COM7"; other names unchanged.
std::string_view StripDevicePrefix(std::string_view name);

// Where a POSIX port name leads: the value under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM whose text equals the port
// name (without regard to case) names the device node; without one, COM<n>
// (n >= 1) falls back to /dev/ttyS<n-1>. kNotFound for a name that is neither
// mapped nor of that form. The "\\.\" prefix is ignored.
Status ResolveSerialDeviceNode(Registry& registry, std::string_view name, std::string* node);

inline constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

}  // namespace qz381::platform
