// The picture loader over arbitrary bytes, as PrintBitmap and SetBitmap load a
// file (BMP of every depth, PNG): no memory error, no allocation beyond the
// size limits, and a picture it accepts is whole: its size within the limits,
// three bytes a pixel, and the same picture again after a trip through
// EncodeBmp, so the BMP decoder and encoder agree on every accepted input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qz381::platform;
  Picture picture;
  const Status status =
      DecodePicture(std::string(reinterpret_cast<const char*>(data), size), &picture);
  if (!status.ok()) {
    if (status.outcome() != Outcome::kMalformed || status.context().empty()) std::abort();
    return 0;
  }
  if (picture.width <= 0 || picture.height <= 0 || picture.width > kMaxPictureSide ||
      picture.height > kMaxPictureSide ||
      int64_t{picture.width} * picture.height > kMaxPicturePixels ||
      picture.rgb.size() != static_cast<size_t>(picture.width) * picture.height * 3) {
    std::abort();
  }
  Picture again;
  if (!DecodeBmp(EncodeBmp(picture), &again).ok() || again.width != picture.width ||
      again.height != picture.height || again.rgb != picture.rgb) {
    std::abort();
  }
  return 0;
}
