#pragma once
// Which Windows family the code runs on, for the few rules that differ on
// Windows 95/98/Me (parallel time-outs, USB identifiers, chunked writes).
#include <cstdint>

namespace qz381::platform {

// The GetVersion rule: with the high bit set, a major version (low byte) of 4
// or more, or a high word of 0 without that bit; with it clear, a high word of 0.
bool IsWin9xVersion(uint32_t version_word);
// False everywhere but on a Windows 9x system.
bool IsWin9x();

}  // namespace qz381::platform
