// The C runtime's localtime_s fills the caller's structure, so two threads
// never share a result; it answers an error for moments before 1970.
#include <time.h>

#include "platform/local_time.h"

namespace qz381::platform {

std::optional<std::tm> LocalTime(std::time_t when) {
  std::tm local{};
  if (::localtime_s(&local, &when) != 0) return std::nullopt;
  return local;
}

}  // namespace qz381::platform
