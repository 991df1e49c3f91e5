#include "tools/qz381/dither.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace qz381::tool {

platform::Picture Dither(const platform::Picture& picture) {
  platform::Picture result;
  result.width = picture.width;
  result.height = picture.height;
  const size_t w = static_cast<size_t>(picture.width > 0 ? picture.width : 0);
  const size_t h = static_cast<size_t>(picture.height > 0 ? picture.height : 0);
  if (picture.rgb.size() != w * h * 3) return result;
  result.rgb.resize(w * h * 3);
  // Two rows of lightness with the error carried into them, in 1/16 steps.
  std::vector<int> row(w + 2), next(w + 2);
  auto lightness = [&](size_t x, size_t y) {
    const uint8_t* p = &picture.rgb[(y * w + x) * 3];
    return (299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000 * 16;
  };
  for (size_t x = 0; x < w; ++x) row[x + 1] = lightness(x, 0);
  for (size_t y = 0; y < h; ++y) {
    std::fill(next.begin(), next.end(), 0);
    if (y + 1 < h)
      for (size_t x = 0; x < w; ++x) next[x + 1] = lightness(x, y + 1);
    for (size_t x = 0; x < w; ++x) {
      const int value = row[x + 1];
      const int ink = value < 128 * 16 ? 0 : 255;
      const int error = (value - ink * 16) / 16;
      row[x + 2] += error * 7;
      next[x] += error * 3;
      next[x + 1] += error * 5;
      next[x + 2] += error * 1;
      uint8_t* out = &result.rgb[(y * w + x) * 3];
      out[0] = out[1] = out[2] = static_cast<uint8_t>(ink);
    }
    row.swap(next);
  }
  return result;
}

}  // namespace qz381::tool
