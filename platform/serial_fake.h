#pragma once
// Test doubles for the serial device: an in-memory line whose far end the test
// plays (the printer side), and a wrapper that makes a chosen call of any
// SerialPorts fail, once or from then on: unplugged lines, refused settings and
// failed opens without hardware.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/fault_plan.h"
#include "platform/serial.h"

namespace qz381::platform {

// One serial line. The device side is what FakeSerialPorts::Open hands out; the
// methods below are the far end's. All methods are safe from any thread.
class FakeSerialLine {
 public:
  FakeSerialLine();
  ~FakeSerialLine();
  FakeSerialLine(const FakeSerialLine&) = delete;
  FakeSerialLine& operator=(const FakeSerialLine&) = delete;

  // Bytes from the far end towards the device.
  void Send(std::span<const uint8_t> bytes);
  // Everything the device wrote since the last call.
  std::vector<uint8_t> TakeWritten();
  // Waits until the device has written at least `count` bytes not yet taken.
  bool WaitWritten(size_t count, uint32_t timeout_ms);
  // How many written bytes the far end holds before the device's writes wait
  // (as a full driver queue or a lowered CTS makes them wait); default no limit.
  void SetWriteCapacity(size_t bytes);
  // nullopt: the line cannot report modem lines (like a pseudo-terminal).
  void SetModemLines(std::optional<ModemLines> lines);
  // The line is gone: waits fail, reads and writes answer errors.
  void HangUp();

  bool IsOpen() const;
  SerialLineSettings settings() const;
  SerialTimeouts timeouts() const;

  struct State;  // shared with the device side

 private:
  std::shared_ptr<State> state_;
  friend class FakeSerialPorts;
};

// Opens the lines added to it, by port name without regard to case and with or
// without "\\.\"; a line can be held by one device at a time (kBusy otherwise).
class FakeSerialPorts final : public SerialPorts {
 public:
  std::shared_ptr<FakeSerialLine> AddLine(const std::string& port_name);
  std::unique_ptr<SerialDevice> Open(std::string_view name, Status* status) override;

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<FakeSerialLine>> lines_;  // upper-case names
};

enum class SerialCall {
  kOpen,
  kConfigure,
  kSetTimeouts,
  kPurge,
  kGetModemLines,
  kInputWaiting,
  kWaitInput,
  kRead,
  kWrite,
};

// Forwards to `inner` (which must outlive it) and to the devices it opens,
// counting calls of each kind across all of them. A failed Write writes nothing,
// a failed WaitInput answers kFailed, a failed Open opens nothing.
class FaultInjectingSerialPorts final : public SerialPorts {
 public:
  explicit FaultInjectingSerialPorts(SerialPorts& inner);
  ~FaultInjectingSerialPorts() override;

  // The nth call of that kind from now (1 = the next one) fails with `outcome`,
  // once or together with every later call of that kind.
  void FailCall(SerialCall call, int nth, FaultMode mode, Outcome outcome = Outcome::kIoError);
  void ClearFaults();
  int Calls(SerialCall call) const;  // since construction

  std::unique_ptr<SerialDevice> Open(std::string_view name, Status* status) override;

  struct Faults;  // shared with the wrapped devices

 private:
  SerialPorts& inner_;
  std::shared_ptr<Faults> faults_;
};

}  // namespace qz381::platform
