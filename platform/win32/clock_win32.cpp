#include <windows.h>

#include "platform/clock_backend.h"

namespace qz381::platform::clock_backend {

uint64_t MonotonicMs() {
  // Counts from boot and never wraps in practice; the time of day does not move it.
  return GetTickCount64();
}

void SleepThread(uint32_t ms) {
  // INFINITE would never return; the longest finite pause is one below it.
  Sleep(ms == INFINITE ? INFINITE - 1 : ms);
}

}  // namespace qz381::platform::clock_backend
