#include "platform/picture.h"

#include <algorithm>
#include <cstring>

#include "platform/files.h"
#include "platform/picture_png.h"

namespace qz381::platform {
namespace {

constexpr const char* kNotAPicture = "not a BMP or PNG picture";

uint32_t Le(std::string_view b, size_t at, int size) {
  uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + i]);
  return v;
}

Status Bad(const std::string& why) {
  return Status::Fail(Outcome::kMalformed, "BMP: " + why);
}

// A channel of a bit-field pixel, scaled to 8 bits.
uint8_t Channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (!((mask >> shift) & 1)) ++shift;
  const uint32_t max = mask >> shift;
  return static_cast<uint8_t>(uint64_t{(pixel & mask) >> shift} * 255 / max);
}

}  // namespace

Status DecodeBmp(std::string_view b, Picture* out) {
  if (b.size() < 26 || b[0] != 'B' || b[1] != 'M') return Bad("not a bitmap file");
  const uint32_t data_offset = Le(b, 10, 4);
  const uint32_t header_size = Le(b, 14, 4);
  // Checked first: the offsets below add it, which must not wrap on 32 bits.
  if (header_size > b.size() - 14) return Bad("unknown header");
  int64_t width, height;
  int bits;
  uint32_t compression = 0, colours_used = 0;
  if (header_size == 12) {  // the old core header
    width = Le(b, 18, 2);
    height = static_cast<int16_t>(Le(b, 20, 2));
    bits = static_cast<int>(Le(b, 24, 2));
  } else if (header_size >= 40 && b.size() >= 14 + size_t{40}) {
    width = static_cast<int32_t>(Le(b, 18, 4));
    height = static_cast<int32_t>(Le(b, 22, 4));
    bits = static_cast<int>(Le(b, 28, 2));
    compression = Le(b, 30, 4);
    colours_used = Le(b, 46, 4);
  } else {
    return Bad("unknown header");
  }
  const bool top_down = height < 0;
  height = top_down ? -height : height;
  if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide ||
      width * height > kMaxPicturePixels) {
    return Bad("size out of range");
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    return Bad("unsupported depth");
  }
  // Masks: the default 5-5-5 and 8-8-8, or bit fields after the header.
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bits == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
  if (compression == 3) {
    const size_t at = header_size == 40 ? 54 : 14 + 40;
    if ((bits != 16 && bits != 32) || b.size() < at + 12) return Bad("bad bit fields");
    for (int i = 0; i < 3; ++i) masks[i] = Le(b, at + 4 * i, 4);
  } else if (compression != 0) {
    return Bad("compressed bitmaps are not read");
  }
  // The colour table, for depths up to 8.
  std::vector<uint8_t> palette;
  if (bits <= 8) {
    const size_t entry = header_size == 12 ? 3 : 4;
    const size_t count =
        colours_used != 0 ? std::min<uint32_t>(colours_used, 1u << bits) : size_t{1} << bits;
    const size_t at = 14 + size_t{header_size};
    if (b.size() < at + count * entry) return Bad("colour table cut short");
    for (size_t i = 0; i < count; ++i) {
      palette.push_back(static_cast<uint8_t>(b[at + i * entry + 2]));
      palette.push_back(static_cast<uint8_t>(b[at + i * entry + 1]));
      palette.push_back(static_cast<uint8_t>(b[at + i * entry]));
    }
  }
  const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  if (data_offset > b.size() || (b.size() - data_offset) / stride < static_cast<size_t>(height)) {
    return Bad("pixel data cut short");
  }
  Picture picture;
  picture.width = static_cast<int>(width);
  picture.height = static_cast<int>(height);
  picture.rgb.resize(static_cast<size_t>(width * height) * 3);
  for (int64_t y = 0; y < height; ++y) {
    const size_t row = data_offset + static_cast<size_t>(top_down ? y : height - 1 - y) * stride;
    uint8_t* px = &picture.rgb[static_cast<size_t>(y * width) * 3];
    for (int64_t x = 0; x < width; ++x, px += 3) {
      if (bits <= 8) {
        const size_t bit = static_cast<size_t>(x) * bits;
        const uint8_t byte = static_cast<uint8_t>(b[row + bit / 8]);
        const size_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        if (index * 3 + 2 < palette.size()) {
          std::copy_n(&palette[index * 3], 3, px);
        } else {
          px[0] = px[1] = px[2] = 0;  // an index past the table: black
        }
      } else if (bits == 24) {
        const size_t at = row + static_cast<size_t>(x) * 3;
        px[0] = static_cast<uint8_t>(b[at + 2]);
        px[1] = static_cast<uint8_t>(b[at + 1]);
        px[2] = static_cast<uint8_t>(b[at]);
      } else {
        const uint32_t pixel = Le(b, row + static_cast<size_t>(x) * (bits / 8), bits / 8);
        for (int i = 0; i < 3; ++i) px[i] = Channel(pixel, masks[i]);
      }
    }
  }
  *out = std::move(picture);
  return Status::Ok();
}

std::string EncodeBmp(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.rgb.size() != static_cast<size_t>(picture.width) * picture.height * 3) {
    return {};
  }
  auto le = [](uint32_t v, int size) {
    std::string s;
    for (int i = 0; i < size; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
  };
  const size_t stride = (static_cast<size_t>(picture.width) * 3 + 3) / 4 * 4;
  std::string rows;
  rows.reserve(stride * picture.height);
  for (int y = picture.height - 1; y >= 0; --y) {
    const uint8_t* px = &picture.rgb[static_cast<size_t>(y) * picture.width * 3];
    for (int x = 0; x < picture.width; ++x, px += 3) {
      rows += static_cast<char>(px[2]);
      rows += static_cast<char>(px[1]);
      rows += static_cast<char>(px[0]);
    }
    rows.append(stride - static_cast<size_t>(picture.width) * 3, '\0');
  }
  return "BM" + le(54 + static_cast<uint32_t>(rows.size()), 4) + le(0, 4) + le(54, 4) + le(40, 4) +
         le(static_cast<uint32_t>(picture.width), 4) +
         le(static_cast<uint32_t>(picture.height), 4) + le(1, 2) + le(24, 2) +
         std::string(24, '\0') + rows;
}

Status DecodePicture(const std::string& bytes, Picture* out) {
  if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return DecodeBmp(bytes, out);
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1A\n", 8) == 0) {
    return DecodePng(bytes, out);
  }
  return Status::Fail(Outcome::kMalformed, kNotAPicture);
}

Status LoadPictureFile(const std::string& path, Picture* out) {
  std::string bytes;
  Status st = ReadWholeFile(path, &bytes);
  if (!st.ok()) return st;
  st = DecodePicture(bytes, out);
  // The decoders' own failures name the format; only this one names the file.
  if (!st.ok() && st.context() == kNotAPicture) {
    return Status::Fail(Outcome::kMalformed, path + ": " + kNotAPicture);
  }
  return st;
}

}  // namespace qz381::platform
