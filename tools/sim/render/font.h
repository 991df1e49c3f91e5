#pragma once
// The renderer's built-in glyphs: one 5 x 7 dot pattern for each printable
// ASCII character, scaled up to the printer's character cells when drawn.
#include <cstdint>

namespace qz381::sim::render {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;

// The rows of a glyph top to bottom, bit 4 the leftmost dot; nullptr for a
// byte outside 0x20 ... 0x7E.
const uint8_t* GlyphRows(uint8_t byte);

}  // namespace qz381::sim::render
