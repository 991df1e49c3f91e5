#include <windows.h>

#include "platform/thread_id.h"

namespace qz381::platform {

uint32_t CurrentThreadNumber() {
  return static_cast<uint32_t>(::GetCurrentThreadId());
}

}  // namespace qz381::platform
