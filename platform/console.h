#pragma once
// The few things a command-line program asks of its process.
#include <string>

namespace qz381::platform {

// True when standard input is a terminal someone can answer a question on.
bool StdinIsTerminal();

// Sets an environment variable of this process (for modules loaded later,
// such as the service object reading QZ381_REGISTRY). False when refused.
bool SetEnvironmentValue(const std::string& name, const std::string& value);

}  // namespace qz381::platform
