#include "platform/system_version.h"

namespace qz381::platform {

bool IsWin9x() {
  return false;
}

}  // namespace qz381::platform
