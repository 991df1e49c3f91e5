#include "platform/clock_fake.h"

#include <optional>

namespace qz381::platform {

FakeClock::FakeClock(Flow flow, uint64_t start_ms)
    : flow_(flow), real_start_ms_(SystemClock().NowMs()), offset_ms_(start_ms) {}

uint64_t FakeClock::RealMs() const {
  return flow_ == Flow::kStopped ? 0 : SystemClock().NowMs() - real_start_ms_;
}

uint64_t FakeClock::NowMs() {
  return offset_ms_.load() + RealMs();
}

void FakeClock::Sleep(uint32_t ms) {
  if (flow_ != Flow::kRealTime) {
    Advance(ms);
    return;
  }
  WaitUntil({}, NowMs() + ms);
}

int FakeClock::WaitAny(std::span<Event* const> events, uint32_t timeout_ms) {
  if (timeout_ms == kInfinite) {
    return WaitAnyFor(events, [] { return std::optional<std::chrono::milliseconds>(); });
  }
  return WaitUntil(events, NowMs() + timeout_ms);
}

int FakeClock::WaitUntil(std::span<Event* const> events, uint64_t deadline) {
  {
    std::lock_guard hold(waiters_mutex_);
    ++waiters_;
  }
  waiters_changed_.notify_all();
  const int found = WaitAnyFor(events, [&]() -> std::optional<std::chrono::milliseconds> {
    const uint64_t now = NowMs();
    if (now >= deadline) return std::chrono::milliseconds(0);
    if (flow_ == Flow::kStopped) return std::nullopt;  // until Advance
    return std::chrono::milliseconds(deadline - now);
  });
  {
    std::lock_guard hold(waiters_mutex_);
    --waiters_;
  }
  waiters_changed_.notify_all();
  return found;
}

void FakeClock::Advance(uint64_t ms) {
  offset_ms_.fetch_add(ms);
  WakeClockWaiters();
}

bool FakeClock::WaitForWaiters(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock hold(waiters_mutex_);
  return waiters_changed_.wait_for(hold, limit, [&] { return waiters_ >= count; });
}

size_t FakeClock::Waiters() {
  std::lock_guard hold(waiters_mutex_);
  return waiters_;
}

}  // namespace qz381::platform
