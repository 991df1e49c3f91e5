// _putenv_s changes the C runtime's copy (what std::getenv reads) and the
// process's own block (what GetEnvironmentVariable and child processes see).
#include <stdlib.h>

#include "platform/environment.h"

namespace qz381::platform {

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  return ::_putenv_s(name.c_str(), value.c_str()) == 0;
}

bool ClearEnvironmentValue(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  return ::_putenv_s(name.c_str(), "") == 0;
}

}  // namespace qz381::platform
