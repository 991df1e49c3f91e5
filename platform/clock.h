#pragma once
// Time as the system's components see it: a steady millisecond count, pauses,
// and waits on events with a time limit. A component takes a Clock& as it
// takes a Registry& or a SerialPorts&, so that a test runs it on a clock the
// test moves (clock_fake.h) instead of waiting for real time to pass.
#include <cstdint>
#include <initializer_list>
#include <span>

#include "platform/sync.h"

namespace qz381::platform {

class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds since an arbitrary start; never goes back. Never blocks; safe
  // from any thread.
  virtual uint64_t NowMs() = 0;

  // Blocks the calling thread for `ms`. Nothing ends it early, so it is only
  // for short pauses that must pass whatever happens (a line settling, a
  // printer taking a string); a wait that anything may need to end is WaitAny.
  // Safe from any thread.
  virtual void Sleep(uint32_t ms) = 0;

  // Blocks until one of `events` is set or `timeout_ms` of this clock's time
  // has passed (kInfinite: no limit). Answers the index of the first set event
  // (the lowest index wins; an auto-reset event is consumed by this wait) or
  // -1 on time-out. An empty list waits out the time. Setting an event always
  // ends the wait, so a thread waiting here can always be woken. Safe from any
  // thread; an event must outlive the waits on it.
  virtual int WaitAny(std::span<Event* const> events, uint32_t timeout_ms) = 0;

  int WaitAny(std::initializer_list<Event*> events, uint32_t timeout_ms);
  // True when `event` was set within the time.
  bool Wait(Event& event, uint32_t timeout_ms);
};

// The operating system's monotonic clock (POSIX: CLOCK_MONOTONIC; Windows:
// GetTickCount64). Lives as long as the process.
Clock& SystemClock();

// The process's clock: what a component uses when it is not handed one, and so
// what the service object and the port modules run on, which the control
// object and Vexlink load by path. It is the system clock unless a test has
// put its own in its place with ScopedProcessClock; a component keeps this
// reference and sees each change on its next call. Lives as long as the
// process.
Clock& DefaultClock();

// For tests of modules loaded by path: DefaultClock() answers `clock` from
// construction until destruction, in every module that shares this runtime
// (all of them on POSIX; on Windows each module has its own runtime and keeps
// the system clock). `clock` must outlive everything that waits on it
// meanwhile. One at a time; not nested.
class ScopedProcessClock {
 public:
  explicit ScopedProcessClock(Clock& clock);
  ~ScopedProcessClock();
  ScopedProcessClock(const ScopedProcessClock&) = delete;
  ScopedProcessClock& operator=(const ScopedProcessClock&) = delete;
};

}  // namespace qz381::platform
