#pragma once
// UTF-8 text as the bytes of a printer character set, named by its OPOS
// CharacterSet number: a code page (437, 850, 858, 1252, ...), 998 for ASCII
// or 999 for ANSI (Windows-1252). A character the set has no form for, and an
// invalid UTF-8 sequence, becomes '?'; nothing is read past the input.
#include <cstdint>
#include <string>
#include <string_view>

namespace qz381::platform {

// False, `out` untouched, when the platform cannot convert to that set.
bool Utf8ToCharacterSet(std::string_view utf8, int32_t character_set, std::string* out);

}  // namespace qz381::platform
