#pragma once
// The operating system's number for the calling thread (gettid, GetCurrentThreadId):
// the number debuggers and process monitors show, so trace lines can be matched
// with them.
#include <cstdint>

namespace qz381::platform {

uint32_t CurrentThreadNumber();

}  // namespace qz381::platform
