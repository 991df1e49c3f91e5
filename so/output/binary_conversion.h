#pragma once
// The BinaryConversion filter applied to string arguments before they are used,
// so that applications can pass any byte through an ANSI string.
#include <cstdint>
#include <string>

namespace qz381::output {

inline constexpr int32_t kBinaryConversionNone = 0;
inline constexpr int32_t kBinaryConversionNibble = 1;
inline constexpr int32_t kBinaryConversionDecimal = 2;

// Rewrites `text` in place by the BinaryConversion mode. Nibble mode packs pairs
// of characters, decimal mode groups of three; a trailing incomplete group is
// dropped. Any other mode leaves the text as it is. The result may contain zero
// bytes: its length, not a terminator, says where it ends.
void ApplyBinaryConversion(std::string& text, int32_t mode);

}  // namespace qz381::output
