#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/clock_backend.h"

namespace qz381::platform {
namespace {

// The longest stretch a timed wait of the system clock is left to the
// standard library before the monotonic count is read again. With mingw's
// library a timed wait is measured on the time of day, so setting the
// computer's clock back could otherwise stretch a wait by as much; here it
// stretches one slice at most, and the monotonic count decides the end.
constexpr uint64_t kSliceMs = 1000;

class OsClock final : public Clock {
 public:
  uint64_t NowMs() override { return clock_backend::MonotonicMs(); }
  void Sleep(uint32_t ms) override { clock_backend::SleepThread(ms); }
  int WaitAny(std::span<Event* const> events, uint32_t timeout_ms) override {
    if (timeout_ms == kInfinite) {
      return WaitAnyFor(events, [] { return std::optional<std::chrono::milliseconds>(); });
    }
    const uint64_t deadline = NowMs() + timeout_ms;
    return WaitAnyFor(events, [&] {
      const uint64_t now = NowMs();
      const uint64_t left = now >= deadline ? 0 : std::min(deadline - now, kSliceMs);
      return std::optional(std::chrono::milliseconds(left));
    });
  }
};

// Forwards every call to the clock a test has put in place, or to the system's.
class ProcessClock final : public Clock {
 public:
  uint64_t NowMs() override { return Target().NowMs(); }
  void Sleep(uint32_t ms) override { Target().Sleep(ms); }
  int WaitAny(std::span<Event* const> events, uint32_t timeout_ms) override {
    return Target().WaitAny(events, timeout_ms);
  }
  void Use(Clock* clock) { target_.store(clock, std::memory_order_release); }

 private:
  Clock& Target() {
    Clock* clock = target_.load(std::memory_order_acquire);
    return clock ? *clock : SystemClock();
  }
  std::atomic<Clock*> target_{nullptr};
};

// Leaked on purpose, as the events' shared state: threads may still wait or
// read the time while the process exits.
ProcessClock& TheProcessClock() {
  static ProcessClock* clock = new ProcessClock;
  return *clock;
}

}  // namespace

int Clock::WaitAny(std::initializer_list<Event*> events, uint32_t timeout_ms) {
  return WaitAny(std::span<Event* const>(events.begin(), events.size()), timeout_ms);
}

bool Clock::Wait(Event& event, uint32_t timeout_ms) {
  return WaitAny({&event}, timeout_ms) == 0;
}

Clock& SystemClock() {
  static OsClock* clock = new OsClock;
  return *clock;
}

Clock& DefaultClock() {
  return TheProcessClock();
}

ScopedProcessClock::ScopedProcessClock(Clock& clock) {
  TheProcessClock().Use(&clock);
}

ScopedProcessClock::~ScopedProcessClock() {
  TheProcessClock().Use(nullptr);
}

}  // namespace qz381::platform
