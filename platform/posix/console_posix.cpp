#include <unistd.h>

#include "platform/console.h"

namespace qz381::platform {

bool StdinIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}

}  // namespace qz381::platform
