#pragma once
// A one-bit picture: what a barcode, a symbol or a character cell is before
// the renderer puts it on the paper.
#include <cstdint>
#include <vector>

namespace qz381::sim::render {

// width x height dots, row by row, 1 = ink.
struct Bitmap {
  int width = 0, height = 0;
  std::vector<uint8_t> dots;
  // False outside the picture.
  bool At(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height &&
           dots[static_cast<size_t>(y) * width + x] != 0;
  }
};

}  // namespace qz381::sim::render
