#pragma once
// The operating system's side of SystemClock (clock.h): one file per system,
// posix/clock_posix.cpp and win32/clock_win32.cpp. Only clock.cpp calls these.
#include <cstdint>

namespace qz381::platform::clock_backend {

// Milliseconds of the system's monotonic clock (unaffected by changes to the
// time of day). Never blocks.
uint64_t MonotonicMs();
// Suspends the calling thread for at least `ms`; a signal does not cut it short.
void SleepThread(uint32_t ms);

}  // namespace qz381::platform::clock_backend
