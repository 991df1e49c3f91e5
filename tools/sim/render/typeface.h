#pragma once
// The printer's typeface: its two fonts drawn from the Terminus console fonts
// (PSF files), and the code tables (ESC t) and international character sets
// (ESC R) that say which character each byte prints.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/sim/render/bitmap.h"

namespace qz381::sim::render {

// One character cell: width x height dots, row by row, 1 = ink.
using Cell = Bitmap;

// Built whole by Load and never changed after: one instance may serve any
// number of renderers on any threads.
class Typeface {
 public:
  static constexpr int kFonts = 2;  // 0 = font A (12 x 24), 1 = font B (9 x 17)
  static constexpr int kInternationalSets = 16;

  // The printer's fonts, loaded once from QZ381_FONT_DIR or /usr/share/consolefonts.
  // nullptr when they cannot be loaded (LoadError() tells why); callers then
  // fall back to the built-in glyphs.
  static const Typeface* Default();
  static std::string LoadError();

  // Loads the fonts from `dir`; nullptr and `*error` set when that fails.
  static std::unique_ptr<Typeface> Load(const std::string& dir, std::string* error);

  // The cell for `byte` printed in `font` under code table `code_table`
  // (ESC t) and international set `international` (ESC R), exactly the
  // font's cell size. nullptr when the character has no glyph (the renderer
  // draws a placeholder) or `font` is not 0 or 1.
  const Cell* Glyph(int font, int code_table, int international, uint8_t byte) const;

  // The Unicode code point `byte` stands for; 0 when none. Unknown code
  // tables have ASCII only; an international set outside 0 ... 15 is USA.
  static char32_t ToUnicode(int code_table, int international, uint8_t byte);

  Typeface(const Typeface&) = delete;
  Typeface& operator=(const Typeface&) = delete;
  ~Typeface();

 private:
  Typeface();

  using ByteCells = std::array<const Cell*, 256>;
  using NationalCells = std::array<const Cell*, 12>;

  std::vector<Cell> cells_;                  // every cell any lookup can reach
  std::vector<ByteCells> by_table_[kFonts];  // [font][code table slot][byte]
  NationalCells national_[kFonts][kInternationalSets];
};

}  // namespace qz381::sim::render
