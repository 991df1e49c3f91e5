#pragma once
// This process's environment variables. Programs and tests point the platform
// at another registry file or trace sink this way (QZ381_REGISTRY,
// QZ381_TRACE) before they touch it; std::getenv reads them back.
#include <string>

namespace qz381::platform {

// False when the environment refused the change (an empty name, '=' in it).
// Windows keeps no empty variables: there an empty value removes it.
bool SetEnvironmentValue(const std::string& name, const std::string& value);
// Removes the variable; true when it is gone (also when it never was there).
bool ClearEnvironmentValue(const std::string& name);

}  // namespace qz381::platform
