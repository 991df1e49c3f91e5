#pragma once
// The wall clock as a person reads it: a moment broken down in the local time
// zone, for what the tools show a user (the time on a status line). Durations
// and deadlines never use this; they take std::chrono's steady clock.
#include <ctime>
#include <optional>

namespace qz381::platform {

// `when` in the local time zone, daylight saving applied. Safe from any
// thread (no shared buffer, unlike std::localtime); nullopt when the system
// cannot convert the moment (outside its calendar).
std::optional<std::tm> LocalTime(std::time_t when);

}  // namespace qz381::platform
