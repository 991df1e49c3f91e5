#include <stdlib.h>

#include "platform/environment.h"

namespace qz381::platform {

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool ClearEnvironmentValue(const std::string& name) {
  return ::unsetenv(name.c_str()) == 0;
}

}  // namespace qz381::platform
