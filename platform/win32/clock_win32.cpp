#include <windows.h>

#include "platform/clock_backend.h"

namespace qz381::platform::clock_backend {

uint64_t MonotonicMs() {
  // The performance counter: exact to the millisecond and unmoved by the time
  // of day. (GetTickCount64 advances in steps of 10-16 ms, and a timed wait
  // measured with it could end that much early.)
  static const uint64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<uint64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
  return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

void SleepThread(uint32_t ms) {
  // INFINITE would never return; the longest finite pause is one below it.
  Sleep(ms == INFINITE ? INFINITE - 1 : ms);
}

}  // namespace qz381::platform::clock_backend
