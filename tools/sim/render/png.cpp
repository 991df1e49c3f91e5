#include <png.h>

#include <cstring>

#include "tools/sim/render/render.h"

namespace qz381::sim::render {

namespace {

// Palette entries in the order of Colour.
constexpr png_byte kPalette[3][3] = {{255, 255, 255}, {0, 0, 0}, {204, 0, 0}};

}  // namespace

bool WritePng(const Image& image, const std::string& path, std::string* error) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<size_t>(image.width) * image.height) {
    if (error) *error = "empty or inconsistent image";
    return false;
  }
  for (const uint8_t dot : image.pixels) {
    if (dot > kRed) {
      if (error) *error = "image holds a colour outside the palette";
      return false;
    }
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGB_COLORMAP;
  png.colormap_entries = 3;
  if (!png_image_write_to_file(&png, path.c_str(), 0, image.pixels.data(), 0, kPalette)) {
    if (error) *error = path + ": " + png.message;
    png_image_free(&png);
    return false;
  }
  return true;
}

bool ReadPng(const std::string& path, Image* image, std::string* error) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    if (error) *error = path + ": " + png.message;
    png_image_free(&png);
    return false;
  }
  // A receipt is never wider than the paper nor longer than the longest
  // page the renderer draws.
  if (png.width > static_cast<png_uint_32>(kPaperWidth) || png.height > 1u << 20) {
    if (error) *error = path + ": image too large";
    png_image_free(&png);
    return false;
  }
  png.format = PNG_FORMAT_RGB;
  std::vector<png_byte> rgb(size_t{png.width} * png.height * 3);
  if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr)) {
    if (error) *error = path + ": " + png.message;
    png_image_free(&png);
    return false;
  }
  Image out;
  out.width = static_cast<int>(png.width);
  out.height = static_cast<int>(png.height);
  out.pixels.resize(static_cast<size_t>(out.width) * out.height);
  for (size_t i = 0; i < out.pixels.size(); ++i) {
    const png_byte r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
    if (r >= 128 && g >= 128 && b >= 128) {
      out.pixels[i] = kPaper;
    } else if (r >= 128) {
      out.pixels[i] = kRed;
    } else {
      out.pixels[i] = kBlack;
    }
  }
  *image = std::move(out);
  return true;
}

}  // namespace qz381::sim::render
