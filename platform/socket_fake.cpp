#include "platform/socket_fake.h"

#include <chrono>
#include <deque>
#include <limits>
#include <optional>

namespace qz381::platform {

using Clock = std::chrono::steady_clock;

struct FakeConnection::State {
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::deque<uint8_t> towards_device;
  std::vector<uint8_t> written;
  size_t write_capacity = std::numeric_limits<size_t>::max();
  bool closed = false;  // by the far end, in order
  bool broken = false;
  bool held = true;  // the device side exists
};

namespace {

// How often a silent connect looks at its cancel flag.
constexpr auto kCancelPoll = std::chrono::milliseconds(10);

std::optional<Clock::time_point> DeadlineAfter(uint32_t ms, bool zero_is_infinite) {
  if ((zero_is_infinite && ms == 0) || ms == 0xFFFFFFFFu) return std::nullopt;
  return Clock::now() + std::chrono::milliseconds(ms);
}

template <typename Ready>
bool WaitUntil(std::unique_lock<std::mutex>& hold, std::condition_variable& cv,
               std::optional<Clock::time_point> deadline, Ready ready) {
  if (!deadline) {
    cv.wait(hold, ready);
    return true;
  }
  return cv.wait_until(hold, *deadline, ready);
}

class FakeStreamSocket final : public StreamSocket {
 public:
  FakeStreamSocket(std::string name, std::shared_ptr<FakeConnection::State> line)
      : name_(std::move(name)), line_(std::move(line)) {}
  ~FakeStreamSocket() override {
    std::lock_guard hold(line_->mutex);
    line_->held = false;
    line_->changed.notify_all();
  }

  SocketWait WaitInput(uint32_t timeout_ms) override {
    std::unique_lock hold(line_->mutex);
    WaitUntil(hold, line_->changed, DeadlineAfter(timeout_ms, false), [&] {
      return interrupted_ || line_->broken || line_->closed || !line_->towards_device.empty();
    });
    if (interrupted_) return SocketWait::kInterrupted;
    if (line_->broken) return SocketWait::kFailed;
    if (!line_->towards_device.empty()) return SocketWait::kReady;
    if (line_->closed) return SocketWait::kClosed;
    return SocketWait::kTimedOut;
  }

  Status Read(std::span<uint8_t> buffer, size_t* got) override {
    *got = 0;
    std::lock_guard hold(line_->mutex);
    if (buffer.empty() || interrupted_) return Status::Ok();
    if (line_->broken) return Status::Fail(Outcome::kIoError, name_ + ": read: connection broken");
    auto& queue = line_->towards_device;
    if (queue.empty() && line_->closed) {
      return Status::Fail(Outcome::kIoError, name_ + ": closed by the printer");
    }
    while (*got < buffer.size() && !queue.empty()) {
      buffer[(*got)++] = queue.front();
      queue.pop_front();
    }
    return Status::Ok();
  }

  Status Write(std::span<const uint8_t> data, uint32_t timeout_ms, size_t* written) override {
    *written = 0;
    std::unique_lock hold(line_->mutex);
    const auto deadline = DeadlineAfter(timeout_ms, true);
    while (*written < data.size()) {
      if (interrupted_) return Status::Fail(Outcome::kIoError, name_ + ": write interrupted");
      if (line_->broken || line_->closed) {
        return Status::Fail(Outcome::kIoError, name_ + ": write: connection ended");
      }
      if (line_->written.size() < line_->write_capacity) {
        line_->written.push_back(data[(*written)++]);
        line_->changed.notify_all();
        continue;
      }
      const bool room = WaitUntil(hold, line_->changed, deadline, [&] {
        return interrupted_ || line_->broken || line_->closed ||
               line_->written.size() < line_->write_capacity;
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
  const std::string name_;
  std::shared_ptr<FakeConnection::State> line_;
  bool interrupted_ = false;  // guarded by the line's mutex
};

std::string Key(std::string_view host, uint16_t port) {
  return std::string(host) + ":" + std::to_string(port);
}

}  // namespace

FakeConnection::FakeConnection() : state_(std::make_shared<State>()) {}
FakeConnection::~FakeConnection() = default;

void FakeConnection::Send(std::span<const uint8_t> bytes) {
  std::lock_guard hold(state_->mutex);
  state_->towards_device.insert(state_->towards_device.end(), bytes.begin(), bytes.end());
  state_->changed.notify_all();
}

std::vector<uint8_t> FakeConnection::TakeWritten() {
  std::lock_guard hold(state_->mutex);
  std::vector<uint8_t> out;
  out.swap(state_->written);
  state_->changed.notify_all();
  return out;
}

bool FakeConnection::WaitWritten(size_t count, uint32_t timeout_ms) {
  std::unique_lock hold(state_->mutex);
  return WaitUntil(hold, state_->changed, DeadlineAfter(timeout_ms, false),
                   [&] { return state_->written.size() >= count; });
}

void FakeConnection::SetWriteCapacity(size_t bytes) {
  std::lock_guard hold(state_->mutex);
  state_->write_capacity = bytes;
  state_->changed.notify_all();
}

void FakeConnection::Close() {
  std::lock_guard hold(state_->mutex);
  state_->closed = true;
  state_->changed.notify_all();
}

void FakeConnection::Break() {
  std::lock_guard hold(state_->mutex);
  state_->broken = true;
  state_->towards_device.clear();
  state_->changed.notify_all();
}

bool FakeConnection::IsHeld() const {
  std::lock_guard hold(state_->mutex);
  return state_->held;
}

void FakeSockets::SetEndpoint(const std::string& host, uint16_t port, FakeAnswer answer) {
  std::lock_guard hold(mutex_);
  endpoints_[Key(host, port)].answer = answer;
  changed_.notify_all();
}

std::shared_ptr<FakeConnection> FakeSockets::WaitConnection(const std::string& host, uint16_t port,
                                                            size_t index, uint32_t timeout_ms) {
  std::unique_lock hold(mutex_);
  const std::string key = Key(host, port);
  auto arrived = [&] {
    auto it = endpoints_.find(key);
    return it != endpoints_.end() && it->second.accepted.size() > index;
  };
  if (!WaitUntil(hold, changed_, DeadlineAfter(timeout_ms, false), arrived)) return nullptr;
  return endpoints_[key].accepted[index];
}

size_t FakeSockets::ConnectionCount(const std::string& host, uint16_t port) const {
  std::lock_guard hold(mutex_);
  auto it = endpoints_.find(Key(host, port));
  return it == endpoints_.end() ? 0 : it->second.accepted.size();
}

std::unique_ptr<StreamSocket> FakeSockets::Connect(std::string_view host, uint16_t port,
                                                   uint32_t timeout_ms,
                                                   const std::atomic<bool>* cancel,
                                                   Status* status) {
  Status local;
  Status& result = status ? *status : local;
  const std::string key = Key(host, port);
  if (host.empty() || port == 0) {
    result = Status::Fail(Outcome::kInvalidArgument, "connect to '" + key + "': no host or port");
    return nullptr;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock hold(mutex_);
  for (;;) {
    auto it = endpoints_.find(key);
    if (it == endpoints_.end()) {
      const std::string prefix = std::string(host) + ":";
      bool known_host = false;
      for (const auto& [name, endpoint] : endpoints_) {
        known_host = known_host || name.compare(0, prefix.size(), prefix) == 0;
      }
      result = known_host ? Status::Fail(Outcome::kIoError, key + ": connect: refused")
                          : Status::Fail(Outcome::kNotFound,
                                         "looking up '" + std::string(host) + "': no such host");
      return nullptr;
    }
    if (it->second.answer == FakeAnswer::kRefuse) {
      result = Status::Fail(Outcome::kIoError, key + ": connect: refused");
      return nullptr;
    }
    if (it->second.answer == FakeAnswer::kAccept) {
      auto connection = std::make_shared<FakeConnection>();
      it->second.accepted.push_back(connection);
      changed_.notify_all();
      result = Status::Ok();
      return std::make_unique<FakeStreamSocket>(key, connection->state_);
    }
    const bool cancelled = cancel != nullptr && cancel->load();
    if (cancelled || Clock::now() >= deadline) {
      result = Status::Fail(
          Outcome::kTimedOut,
          key + (cancelled ? ": connect cancelled" : ": no answer within the time limit"));
      return nullptr;
    }
    changed_.wait_until(hold, std::min(deadline, Clock::now() + kCancelPoll));
  }
}

// ---- fault injection ----

struct FaultInjectingSockets::Faults : FaultPlan<SocketCall> {};

namespace {

Status Injected(SocketCall call, Outcome outcome, const std::string& name) {
  static const char* const kNames[] = {"connect", "wait for input", "read", "write"};
  return Status::Fail(outcome, name + ": injected failure of " + kNames[static_cast<int>(call)]);
}

class FaultInjectingStreamSocket final : public StreamSocket {
 public:
  using Faults = FaultInjectingSockets::Faults;
  FaultInjectingStreamSocket(std::unique_ptr<StreamSocket> inner, std::shared_ptr<Faults> faults)
      : inner_(std::move(inner)), faults_(std::move(faults)) {}

  SocketWait WaitInput(uint32_t timeout_ms) override {
    if (faults_->Next(SocketCall::kWaitInput)) return SocketWait::kFailed;
    return inner_->WaitInput(timeout_ms);
  }
  Status Read(std::span<uint8_t> buffer, size_t* got) override {
    *got = 0;
    if (auto fail = faults_->Next(SocketCall::kRead)) {
      return Injected(SocketCall::kRead, *fail, name());
    }
    return inner_->Read(buffer, got);
  }
  Status Write(std::span<const uint8_t> data, uint32_t timeout_ms, size_t* written) override {
    *written = 0;
    if (auto fail = faults_->Next(SocketCall::kWrite)) {
      return Injected(SocketCall::kWrite, *fail, name());
    }
    return inner_->Write(data, timeout_ms, written);
  }
  void Interrupt() override { inner_->Interrupt(); }
  bool Interrupted() const override { return inner_->Interrupted(); }
  const std::string& name() const override { return inner_->name(); }

 private:
  std::unique_ptr<StreamSocket> inner_;
  std::shared_ptr<Faults> faults_;
};

}  // namespace

FaultInjectingSockets::FaultInjectingSockets(Sockets& inner)
    : inner_(inner), faults_(std::make_shared<Faults>()) {}
FaultInjectingSockets::~FaultInjectingSockets() = default;

void FaultInjectingSockets::FailCall(SocketCall call, int nth, FaultMode mode, Outcome outcome) {
  faults_->Fail(call, nth, mode, outcome);
}

void FaultInjectingSockets::ClearFaults() {
  faults_->Clear();
}

int FaultInjectingSockets::Calls(SocketCall call) const {
  return faults_->Count(call);
}

std::unique_ptr<StreamSocket> FaultInjectingSockets::Connect(std::string_view host, uint16_t port,
                                                             uint32_t timeout_ms,
                                                             const std::atomic<bool>* cancel,
                                                             Status* status) {
  if (auto fail = faults_->Next(SocketCall::kConnect)) {
    if (status) *status = Injected(SocketCall::kConnect, *fail, Key(host, port));
    return nullptr;
  }
  std::unique_ptr<StreamSocket> socket = inner_.Connect(host, port, timeout_ms, cancel, status);
  if (!socket) return nullptr;
  return std::make_unique<FaultInjectingStreamSocket>(std::move(socket), faults_);
}

}  // namespace qz381::platform
