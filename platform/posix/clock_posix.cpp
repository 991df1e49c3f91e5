#include <errno.h>
#include <time.h>

#include "platform/clock_backend.h"

namespace qz381::platform::clock_backend {

uint64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

void SleepThread(uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  // A signal handler that returns leaves the rest of the pause in `left`.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace qz381::platform::clock_backend
