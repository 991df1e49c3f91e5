#include "platform/serial_fake.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>

namespace qz381::platform {

using Clock = std::chrono::steady_clock;

struct FakeSerialLine::State {
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::deque<uint8_t> towards_device;
  std::vector<uint8_t> written;
  size_t write_capacity = std::numeric_limits<size_t>::max();
  std::optional<ModemLines> modem = ModemLines{true, true, false, false};
  bool hung_up = false;
  bool held = false;  // a device has it open
  SerialLineSettings settings;
  SerialTimeouts timeouts;
};

namespace {

// Waits on the line's condition until `ready` or the deadline; false on time-out.
template <typename Ready>
bool WaitUntil(std::unique_lock<std::mutex>& hold, std::condition_variable& cv,
               std::optional<Clock::time_point> deadline, Ready ready) {
  if (!deadline) {
    cv.wait(hold, ready);
    return true;
  }
  return cv.wait_until(hold, *deadline, ready);
}

std::optional<Clock::time_point> DeadlineAfter(uint64_t ms, bool zero_is_infinite) {
  if ((zero_is_infinite && ms == 0) || ms == 0xFFFFFFFFu) return std::nullopt;
  return Clock::now() + std::chrono::milliseconds(ms);
}

class FakeSerialDevice final : public SerialDevice {
 public:
  FakeSerialDevice(std::string name, std::shared_ptr<FakeSerialLine::State> line)
      : name_(std::move(name)), line_(std::move(line)) {}
  ~FakeSerialDevice() override {
    std::lock_guard hold(line_->mutex);
    line_->held = false;
  }

  Status Configure(const SerialLineSettings& settings) override {
    if (settings.baudRate == 0) return Invalid("baud rate 0");
    if (settings.byteSize < 5 || settings.byteSize > 8) return Invalid("byte size");
    if (static_cast<unsigned>(settings.stopBits) > 2) return Invalid("stop-bit code");
    if (static_cast<unsigned>(settings.parity) > 4) return Invalid("parity code");
    std::lock_guard hold(line_->mutex);
    if (line_->hung_up) return Gone("configure");
    line_->settings = settings;
    return Status::Ok();
  }
  Status SetTimeouts(const SerialTimeouts& timeouts) override {
    std::lock_guard hold(line_->mutex);
    line_->timeouts = timeouts;
    return Status::Ok();
  }
  Status Purge(unsigned flags) override {
    std::lock_guard hold(line_->mutex);
    if (flags & kPurgeInput) line_->towards_device.clear();
    return Status::Ok();
  }
  Status GetModemLines(ModemLines* out) override {
    std::lock_guard hold(line_->mutex);
    if (!line_->modem) return Status::Fail(Outcome::kUnsupported, name_ + ": no modem lines");
    *out = *line_->modem;
    return Status::Ok();
  }
  Status InputWaiting(size_t* count) override {
    std::lock_guard hold(line_->mutex);
    *count = line_->towards_device.size();
    return Status::Ok();
  }
  SerialWait WaitInput(uint32_t timeout_ms) override {
    std::unique_lock hold(line_->mutex);
    return WaitLocked(hold, timeout_ms);
  }
  Status Read(std::span<uint8_t> buffer, uint32_t timeout_ms, size_t* got) override {
    *got = 0;
    if (buffer.empty()) return Status::Ok();
    std::unique_lock hold(line_->mutex);
    const SerialWait waited = WaitLocked(hold, timeout_ms);
    if (waited == SerialWait::kFailed) return Gone("read");
    if (waited != SerialWait::kReady) return Status::Ok();
    auto& queue = line_->towards_device;
    while (*got < buffer.size() && !queue.empty()) {
      buffer[(*got)++] = queue.front();
      queue.pop_front();
    }
    return Status::Ok();
  }
  Status Write(std::span<const uint8_t> data, size_t* written) override {
    *written = 0;
    std::unique_lock hold(line_->mutex);
    const auto deadline =
        DeadlineAfter(uint64_t{line_->timeouts.writeTotalMultiplier} * data.size() +
                          line_->timeouts.writeTotalConstant,
                      true);
    while (*written < data.size()) {
      if (interrupted_) return Status::Fail(Outcome::kIoError, name_ + ": write interrupted");
      if (line_->hung_up) return Gone("write");
      if (line_->written.size() < line_->write_capacity) {
        line_->written.push_back(data[(*written)++]);
        line_->changed.notify_all();
        continue;
      }
      const bool room = WaitUntil(hold, line_->changed, deadline, [&] {
        return interrupted_ || line_->hung_up || line_->written.size() < line_->write_capacity;
      });
      if (!room) {
        return Status::Fail(Outcome::kTimedOut, name_ + ": write time-out after " +
                                                    std::to_string(*written) + " bytes");
      }
    }
    return Status::Ok();
  }
  void Interrupt() override {
    std::lock_guard hold(line_->mutex);
    interrupted_ = true;
    line_->changed.notify_all();
  }
  bool Interrupted() const override {
    std::lock_guard hold(line_->mutex);
    return interrupted_;
  }
  const std::string& name() const override { return name_; }

 private:
  SerialWait WaitLocked(std::unique_lock<std::mutex>& hold, uint32_t timeout_ms) {
    WaitUntil(hold, line_->changed, DeadlineAfter(timeout_ms, false),
              [&] { return interrupted_ || line_->hung_up || !line_->towards_device.empty(); });
    if (interrupted_) return SerialWait::kInterrupted;
    if (!line_->towards_device.empty()) return SerialWait::kReady;
    if (line_->hung_up) return SerialWait::kFailed;
    return SerialWait::kTimedOut;
  }
  Status Invalid(const char* what) const {
    return Status::Fail(Outcome::kInvalidArgument, name_ + ": unusable " + what);
  }
  Status Gone(const char* operation) const {
    return Status::Fail(Outcome::kIoError, name_ + ": " + operation + ": line hung up");
  }

  const std::string name_;
  std::shared_ptr<FakeSerialLine::State> line_;
  bool interrupted_ = false;  // guarded by the line's mutex
};

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace

FakeSerialLine::FakeSerialLine() : state_(std::make_shared<State>()) {}
FakeSerialLine::~FakeSerialLine() = default;

void FakeSerialLine::Send(std::span<const uint8_t> bytes) {
  std::lock_guard hold(state_->mutex);
  state_->towards_device.insert(state_->towards_device.end(), bytes.begin(), bytes.end());
  state_->changed.notify_all();
}

std::vector<uint8_t> FakeSerialLine::TakeWritten() {
  std::lock_guard hold(state_->mutex);
  std::vector<uint8_t> out;
  out.swap(state_->written);
  state_->changed.notify_all();
  return out;
}

bool FakeSerialLine::WaitWritten(size_t count, uint32_t timeout_ms) {
  std::unique_lock hold(state_->mutex);
  return WaitUntil(hold, state_->changed, DeadlineAfter(timeout_ms, false),
                   [&] { return state_->written.size() >= count; });
}

void FakeSerialLine::SetWriteCapacity(size_t bytes) {
  std::lock_guard hold(state_->mutex);
  state_->write_capacity = bytes;
  state_->changed.notify_all();
}

void FakeSerialLine::SetModemLines(std::optional<ModemLines> lines) {
  std::lock_guard hold(state_->mutex);
  state_->modem = lines;
}

void FakeSerialLine::HangUp() {
  std::lock_guard hold(state_->mutex);
  state_->hung_up = true;
  state_->changed.notify_all();
}

bool FakeSerialLine::IsOpen() const {
  std::lock_guard hold(state_->mutex);
  return state_->held;
}

SerialLineSettings FakeSerialLine::settings() const {
  std::lock_guard hold(state_->mutex);
  return state_->settings;
}

SerialTimeouts FakeSerialLine::timeouts() const {
  std::lock_guard hold(state_->mutex);
  return state_->timeouts;
}

std::shared_ptr<FakeSerialLine> FakeSerialPorts::AddLine(const std::string& port_name) {
  auto line = std::make_shared<FakeSerialLine>();
  std::lock_guard hold(mutex_);
  lines_[Upper(StripDevicePrefix(port_name))] = line;
  return line;
}

std::unique_ptr<SerialDevice> FakeSerialPorts::Open(std::string_view name, Status* status) {
  const std::string port = Upper(StripDevicePrefix(name));
  std::shared_ptr<FakeSerialLine> line;
  {
    std::lock_guard hold(mutex_);
    auto it = lines_.find(port);
    if (it != lines_.end()) line = it->second;
  }
  Status result;
  if (!line) {
    result = Status::Fail(Outcome::kNotFound, "serial port '" + port + "': no such line");
  } else {
    std::lock_guard hold(line->state_->mutex);
    if (line->state_->held) {
      result = Status::Fail(Outcome::kBusy, port + ": in use");
    } else {
      line->state_->held = true;
    }
  }
  if (status) *status = result;
  if (!result.ok()) return nullptr;
  return std::make_unique<FakeSerialDevice>(port, line->state_);
}

// ---- fault injection ----

struct FaultInjectingSerialPorts::Faults : FaultPlan<SerialCall> {};

namespace {

Status Injected(SerialCall call, Outcome outcome, const std::string& name) {
  static const char* const kNames[] = {"open",           "configure",   "set time-outs",
                                       "purge",          "modem lines", "input waiting",
                                       "wait for input", "read",        "write"};
  return Status::Fail(outcome, name + ": injected failure of " + kNames[static_cast<int>(call)]);
}

class FaultInjectingDevice final : public SerialDevice {
 public:
  using Faults = FaultInjectingSerialPorts::Faults;
  FaultInjectingDevice(std::unique_ptr<SerialDevice> inner, std::shared_ptr<Faults> faults)
      : inner_(std::move(inner)), faults_(std::move(faults)) {}

  Status Configure(const SerialLineSettings& settings) override {
    if (auto fail = faults_->Next(SerialCall::kConfigure))
      return Injected(SerialCall::kConfigure, *fail, name());
    return inner_->Configure(settings);
  }
  Status SetTimeouts(const SerialTimeouts& timeouts) override {
    if (auto fail = faults_->Next(SerialCall::kSetTimeouts))
      return Injected(SerialCall::kSetTimeouts, *fail, name());
    return inner_->SetTimeouts(timeouts);
  }
  Status Purge(unsigned flags) override {
    if (auto fail = faults_->Next(SerialCall::kPurge))
      return Injected(SerialCall::kPurge, *fail, name());
    return inner_->Purge(flags);
  }
  Status GetModemLines(ModemLines* out) override {
    if (auto fail = faults_->Next(SerialCall::kGetModemLines))
      return Injected(SerialCall::kGetModemLines, *fail, name());
    return inner_->GetModemLines(out);
  }
  Status InputWaiting(size_t* count) override {
    if (auto fail = faults_->Next(SerialCall::kInputWaiting))
      return Injected(SerialCall::kInputWaiting, *fail, name());
    return inner_->InputWaiting(count);
  }
  SerialWait WaitInput(uint32_t timeout_ms) override {
    if (faults_->Next(SerialCall::kWaitInput)) return SerialWait::kFailed;
    return inner_->WaitInput(timeout_ms);
  }
  Status Read(std::span<uint8_t> buffer, uint32_t timeout_ms, size_t* got) override {
    *got = 0;
    if (auto fail = faults_->Next(SerialCall::kRead))
      return Injected(SerialCall::kRead, *fail, name());
    return inner_->Read(buffer, timeout_ms, got);
  }
  Status Write(std::span<const uint8_t> data, size_t* written) override {
    *written = 0;
    if (auto fail = faults_->Next(SerialCall::kWrite))
      return Injected(SerialCall::kWrite, *fail, name());
    return inner_->Write(data, written);
  }
  void Interrupt() override { inner_->Interrupt(); }
  bool Interrupted() const override { return inner_->Interrupted(); }
  const std::string& name() const override { return inner_->name(); }

 private:
  std::unique_ptr<SerialDevice> inner_;
  std::shared_ptr<Faults> faults_;
};

}  // namespace

FaultInjectingSerialPorts::FaultInjectingSerialPorts(SerialPorts& inner)
    : inner_(inner), faults_(std::make_shared<Faults>()) {}
FaultInjectingSerialPorts::~FaultInjectingSerialPorts() = default;

void FaultInjectingSerialPorts::FailCall(SerialCall call, int nth, FaultMode mode,
                                         Outcome outcome) {
  faults_->Fail(call, nth, mode, outcome);
}

void FaultInjectingSerialPorts::ClearFaults() {
  faults_->Clear();
}

int FaultInjectingSerialPorts::Calls(SerialCall call) const {
  return faults_->Count(call);
}

std::unique_ptr<SerialDevice> FaultInjectingSerialPorts::Open(std::string_view name,
                                                              Status* status) {
  if (auto fail = faults_->Next(SerialCall::kOpen)) {
    if (status) *status = Injected(SerialCall::kOpen, *fail, std::string(StripDevicePrefix(name)));
    return nullptr;
  }
  std::unique_ptr<SerialDevice> device = inner_.Open(name, status);
  if (!device) return nullptr;
  return std::make_unique<FaultInjectingDevice>(std::move(device), faults_);
}

}  // namespace qz381::platform
