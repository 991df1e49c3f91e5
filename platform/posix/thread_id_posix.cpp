#include "platform/thread_id.h"

#include <unistd.h>

namespace qz381::platform {

uint32_t CurrentThreadNumber() {
  thread_local const uint32_t number = static_cast<uint32_t>(::gettid());
  return number;
}

}  // namespace qz381::platform
