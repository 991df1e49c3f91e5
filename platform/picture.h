#pragma once
// The picture loader: an image file decoded to pixels. The formats are the
// platform's (here BMP, every bit depth without compression or with bit
// fields, and PNG); callers do not depend on which.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace qz381::platform {

// width x height pixels, row by row from the top; three bytes a pixel: red,
// green, blue.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

// Pictures larger than this are refused, not decoded.
inline constexpr int kMaxPictureSide = 16384;
inline constexpr int64_t kMaxPicturePixels = int64_t{1} << 24;

// Loads an image file. kNotFound / kIoError when it cannot be read,
// kMalformed when it is not a picture this loader can decode, or too large.
Status LoadPictureFile(const std::string& path, Picture* out);

// What LoadPictureFile does with the file's bytes once it has read them: the
// format is told by the first bytes, not the file name. kMalformed as above.
Status DecodePicture(const std::string& bytes, Picture* out);

// The BMP decoder the loader uses (Windows bitmap files: 1, 4, 8, 16, 24 and
// 32 bits a pixel, uncompressed or bit fields; bottom-up or top-down).
Status DecodeBmp(std::string_view bytes, Picture* out);

// The picture as a 24-bit BMP file (bottom-up rows padded to four bytes), the
// form every picture loader reads; empty for a picture whose pixels do not
// match its size.
std::string EncodeBmp(const Picture& picture);

}  // namespace qz381::platform
