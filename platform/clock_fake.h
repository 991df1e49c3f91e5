#pragma once
// A clock the test moves. Waits end when the test's Advance takes the time past
// their limit (or an event is set), so a test of a five-minute limit takes no
// five minutes, and "not yet" and "now" are exact instead of a guess at how
// long a loaded machine takes.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/clock.h"

namespace qz381::platform {

class FakeClock final : public Clock {
 public:
  enum class Flow {
    // Time stands still between moves. A Sleep moves it on by its own length
    // and returns at once (nothing else happens while a thread pauses), which
    // ends the waits that fall within it; a wait blocks until Advance or a
    // Sleep takes the time past its limit.
    kStopped,
    // Time runs with the system's, and Advance adds a jump on top: what a
    // test of modules loaded by path uses (ScopedProcessClock), where the
    // printer and the port need real time to pass but a long limit should not
    // have to. Sleep and WaitAny block in real time until the limit, and a
    // jump past it ends them at once.
    kRealTime,
    // Time runs with the system's, but a Sleep jumps it by its own length and
    // returns at once: for tests of a whole component (the service object on
    // a stand-in port module) whose threads poll in real time while its fixed
    // pauses (the settling after a claim) should cost the test nothing.
    kRealTimeInstantSleeps,
  };

  explicit FakeClock(Flow flow = Flow::kStopped, uint64_t start_ms = 1000000);

  uint64_t NowMs() override;
  void Sleep(uint32_t ms) override;
  int WaitAny(std::span<Event* const> events, uint32_t timeout_ms) override;
  using Clock::WaitAny;

  // Moves the time on by `ms`; every sleep and wait whose limit that reaches
  // ends. Safe from any thread.
  void Advance(uint64_t ms);

  // Blocks (in real time, up to `limit`) until at least `count` threads are
  // in a Sleep or a WaitAny with a time limit on this clock, having read the
  // time they wait from: a move made after this returns counts for them. A
  // wait without a limit is not counted. False when `limit` passed first.
  bool WaitForWaiters(size_t count,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(10000));
  size_t Waiters();

 private:
  // Waits for `events` until the time reaches `deadline`.
  int WaitUntil(std::span<Event* const> events, uint64_t deadline);
  // The real-time part of NowMs; 0 for kStopped.
  uint64_t RealMs() const;

  const Flow flow_;
  const uint64_t real_start_ms_;
  std::atomic<uint64_t> offset_ms_;
  std::mutex waiters_mutex_;
  std::condition_variable waiters_changed_;
  size_t waiters_ = 0;
};

}  // namespace qz381::platform
