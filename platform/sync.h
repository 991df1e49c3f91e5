#pragma once
// Events, waits, tick count and sleep with Win32 semantics, in portable C++.
// Manual-reset events stay signalled until reset; auto-reset events release one
// waiter and reset themselves. WaitAll takes its events at once, as
// WaitForMultipleObjects(bWaitAll = TRUE) does: it returns only when all are
// signalled at the same moment, and resets the auto-reset ones together.
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>

namespace qz381::platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class Event {
 public:
  Event(bool manual_reset, bool initially_set);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when signalled within timeout_ms (kInfinite: no limit); an auto-reset
  // event is consumed by the waiter it releases.
  bool Wait(uint32_t timeout_ms);

 private:
  friend struct EventAccess;
  bool manual_;
  bool set_;
};

// True when all events were signalled at once within the time-out.
bool WaitAll(std::span<Event* const> events, uint32_t timeout_ms);
bool WaitAll(std::initializer_list<Event*> events, uint32_t timeout_ms);
// Index of the first signalled event (lowest index wins), or -1 on time-out.
int WaitAny(std::span<Event* const> events, uint32_t timeout_ms);
int WaitAny(std::initializer_list<Event*> events, uint32_t timeout_ms);

// The waits of a clock (clock.h), whose time need not be the steady clock's.
// Like WaitAny, but `remaining` decides the limit: asked with the events' lock
// held (so it must take no lock that is held around Set), on entry, on every
// Set, on every WakeClockWaiters and when the time it last answered has passed,
// it answers how much longer to wait in real time: zero or less ends the wait
// (-1), nullopt waits until something wakes it. An empty list waits out the time.
int WaitAnyFor(std::span<Event* const> events,
               const std::function<std::optional<std::chrono::milliseconds>()>& remaining);
// Makes every WaitAnyFor ask its `remaining` again: a clock has moved. Any thread.
void WakeClockWaiters();

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t TickCount();
void SleepMs(uint32_t ms);

}  // namespace qz381::platform
