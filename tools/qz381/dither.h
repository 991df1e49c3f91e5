#pragma once
// Error diffusion for photos and anti-aliased logos. The printer's picture
// rule makes every pixel that is not pure white black, which turns a photo into
// a black slab; diffusing each pixel's error to its neighbours (Floyd and
// Steinberg's weights) keeps the shades as a density of black dots.
#include "platform/picture.h"

namespace qz381::tool {

// Every pixel of the answer is pure black or pure white. Lightness is the
// usual luma of the red, green and blue values.
platform::Picture Dither(const platform::Picture& picture);

}  // namespace qz381::tool
