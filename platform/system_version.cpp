#include "platform/system_version.h"

namespace qz381::platform {

bool IsWin9xVersion(uint32_t version_word) {
  const uint32_t high_word = version_word >> 16;
  if (version_word & 0x80000000u) {
    return (version_word & 0xFFu) >= 4 || (high_word & 0x7FFFu) == 0;
  }
  return high_word == 0;
}

}  // namespace qz381::platform
