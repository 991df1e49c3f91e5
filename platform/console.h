#pragma once
// The few things a command-line program asks of its process.
#include <string>

#include "platform/environment.h"  // SetEnvironmentValue, which programs use to point modules

namespace qz381::platform {

// True when standard input is a terminal someone can answer a question on.
bool StdinIsTerminal();

}  // namespace qz381::platform
