// PNG pictures on POSIX, through libpng.
#include <png.h>

#include <cstring>

#include "platform/picture.h"
#include "platform/picture_png.h"

namespace qz381::platform {

Status DecodePng(const std::string& bytes, Picture* out) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
    return Status::Fail(Outcome::kMalformed, std::string("PNG: ") + png.message);
  }
  if (png.width == 0 || png.height == 0 || png.width > kMaxPictureSide ||
      png.height > kMaxPictureSide || int64_t{png.width} * png.height > kMaxPicturePixels) {
    png_image_free(&png);
    return Status::Fail(Outcome::kMalformed, "PNG: size out of range");
  }
  // Transparent parts are composed on white paper.
  png.format = PNG_FORMAT_RGB;
  const png_color white = {255, 255, 255};
  Picture picture;
  picture.width = static_cast<int>(png.width);
  picture.height = static_cast<int>(png.height);
  picture.rgb.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, &white, picture.rgb.data(), 0, nullptr)) {
    const std::string message = png.message;
    png_image_free(&png);
    return Status::Fail(Outcome::kMalformed, "PNG: " + message);
  }
  *out = std::move(picture);
  return Status::Ok();
}

}  // namespace qz381::platform
