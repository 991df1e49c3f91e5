#pragma once
// A blocking call that nothing can interrupt (a host-name look-up), run on a
// thread of its own while the caller waits no longer than its deadline or a
// cancel. The caller and the thread share the outcome; whichever lets go last
// frees it, so a caller that gives up returns at once and the call ends by
// itself. The thread is never killed; a result nobody takes must clean up
// after itself (hold what it owns in a unique_ptr).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace qz381::platform {

enum class DetachedEnd { kDone, kTimedOut, kCancelled, kNoThread };

// Runs `call` (returning Result) on its own thread; kDone and the result in
// `out` when it answered in time.
template <class Result, class Call>
DetachedEnd CallDetached(Call call, std::chrono::steady_clock::time_point deadline,
                         const std::atomic<bool>* cancel, Result* out) {
  using Clock = std::chrono::steady_clock;
  struct Shared {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<Result> result;
  };
  auto shared = std::make_shared<Shared>();
  try {
    std::thread([shared, call = std::move(call)]() mutable {
      Result result = call();
      std::lock_guard hold(shared->mutex);
      shared->result.emplace(std::move(result));
      shared->answered.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return DetachedEnd::kNoThread;
  }
  const auto cancelled = [cancel] { return cancel != nullptr && cancel->load(); };
  std::unique_lock hold(shared->mutex);
  while (!shared->result && !cancelled() && Clock::now() < deadline) {
    // A cancel sets no condition: it is looked at every 10 ms.
    shared->answered.wait_until(hold,
                                std::min(deadline, Clock::now() + std::chrono::milliseconds(10)));
  }
  if (shared->result) {
    *out = std::move(*shared->result);
    return DetachedEnd::kDone;
  }
  return cancelled() ? DetachedEnd::kCancelled : DetachedEnd::kTimedOut;
}

}  // namespace qz381::platform
