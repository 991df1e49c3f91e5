#include <time.h>

#include "platform/local_time.h"

namespace qz381::platform {

std::optional<std::tm> LocalTime(std::time_t when) {
  std::tm local{};
  if (::localtime_r(&when, &local) == nullptr) return std::nullopt;
  return local;
}

}  // namespace qz381::platform
