// The picture loader on POSIX: BMP through the portable decoder, PNG through
// libpng.
#include <png.h>

#include <cstring>

#include "platform/files.h"
#include "platform/picture.h"

namespace qz381::platform {
namespace {

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

}  // namespace

Status LoadPictureFile(const std::string& path, Picture* out) {
  std::string bytes;
  Status st = ReadWholeFile(path, &bytes);
  if (!st.ok()) return st;
  if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return DecodeBmp(bytes, out);
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1A\n", 8) == 0) {
    return DecodePng(bytes, out);
  }
  return Status::Fail(Outcome::kMalformed, path + ": not a BMP or PNG picture");
}

}  // namespace qz381::platform
