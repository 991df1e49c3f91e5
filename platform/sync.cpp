#include "platform/sync.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qz381::platform {

// Every event in the process shares one mutex and one condition variable. That
// makes WaitAll trivially atomic (all states are read and consumed under one
// lock) and costs only spurious wake-ups, which are cheap at the handful of
// events and waiters a printer service has. An event must not be destroyed
// while a thread waits on it; the owners of events join their waiters first.
namespace {

struct Shared {
  std::mutex mu;
  std::condition_variable cv;
};

// Leaked on purpose: threads may still signal events while the process exits.
Shared& State() {
  static Shared* shared = new Shared;
  return *shared;
}

// Waits under `lock` until `ready()` holds or the time-out passes; `ready` runs
// with the lock held and may consume what it found.
template <class Ready>
bool WaitUntilReady(std::unique_lock<std::mutex>& lock, uint32_t timeout_ms, Ready ready) {
  Shared& s = State();
  if (timeout_ms == kInfinite) {
    s.cv.wait(lock, ready);
    return true;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  return s.cv.wait_until(lock, deadline, ready);
}

}  // namespace

struct EventAccess {
  static bool& set(Event* e) { return e->set_; }
  static bool manual(const Event* e) { return e->manual_; }
};

Event::Event(bool manual_reset, bool initially_set) : manual_(manual_reset), set_(initially_set) {}

Event::~Event() = default;

void Event::Set() {
  Shared& s = State();
  {
    std::lock_guard lock(s.mu);
    set_ = true;
  }
  s.cv.notify_all();
}

void Event::Reset() {
  std::lock_guard lock(State().mu);
  set_ = false;
}

bool Event::IsSet() const {
  std::lock_guard lock(State().mu);
  return set_;
}

bool Event::Wait(uint32_t timeout_ms) {
  return WaitAny({this}, timeout_ms) == 0;
}

bool WaitAll(std::span<Event* const> events, uint32_t timeout_ms) {
  std::unique_lock lock(State().mu);
  auto all_set = [&] {
    for (Event* e : events) {
      if (!EventAccess::set(e)) return false;
    }
    for (Event* e : events) {
      if (!EventAccess::manual(e)) EventAccess::set(e) = false;
    }
    return true;
  };
  return WaitUntilReady(lock, timeout_ms, all_set);
}

bool WaitAll(std::initializer_list<Event*> events, uint32_t timeout_ms) {
  return WaitAll(std::span<Event* const>(events.begin(), events.size()), timeout_ms);
}

namespace {

// The index of the first set event, consumed if auto-reset; -1 when none is.
// The events' lock is held.
int TakeFirstSet(std::span<Event* const> events) {
  for (size_t i = 0; i < events.size(); ++i) {
    if (EventAccess::set(events[i])) {
      if (!EventAccess::manual(events[i])) EventAccess::set(events[i]) = false;
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace

int WaitAny(std::span<Event* const> events, uint32_t timeout_ms) {
  if (events.empty()) return -1;
  std::unique_lock lock(State().mu);
  int found = -1;
  auto any_set = [&] { return (found = TakeFirstSet(events)) >= 0; };
  return WaitUntilReady(lock, timeout_ms, any_set) ? found : -1;
}

int WaitAnyFor(std::span<Event* const> events,
               const std::function<std::optional<std::chrono::milliseconds>()>& remaining) {
  Shared& s = State();
  std::unique_lock lock(s.mu);
  for (;;) {
    if (const int found = TakeFirstSet(events); found >= 0) return found;
    const std::optional<std::chrono::milliseconds> left = remaining();
    if (!left) {
      s.cv.wait(lock);
    } else if (left->count() <= 0) {
      return -1;
    } else {
      s.cv.wait_for(lock, *left);
    }
  }
}

void WakeClockWaiters() {
  Shared& s = State();
  // Taking the lock orders this after any change the caller made to its clock:
  // a waiter that asked before is already waiting and hears the notification.
  { std::lock_guard lock(s.mu); }
  s.cv.notify_all();
}

int WaitAny(std::initializer_list<Event*> events, uint32_t timeout_ms) {
  return WaitAny(std::span<Event* const>(events.begin(), events.size()), timeout_ms);
}

uint32_t TickCount() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SleepMs(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace qz381::platform
