#include <stdlib.h>
#include <unistd.h>

#include "platform/console.h"

namespace qz381::platform {

bool StdinIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

}  // namespace qz381::platform
