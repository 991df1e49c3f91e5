#include "so/output/bitmap.h"

#include <algorithm>
#include <string_view>

namespace qz381::output {
namespace {

constexpr Rgb kWhite{255, 255, 255};

bool Usable(const Picture& p) {
  return p.width > 0 && p.height > 0 && p.width <= kMaxPictureSide && p.height <= kMaxPictureSide &&
         int64_t{p.width} * p.height <= kMaxPicturePixels &&
         p.pixels.size() == static_cast<size_t>(p.width) * static_cast<size_t>(p.height);
}

Picture WhitePicture(int width, int height) {
  Picture p;
  p.width = width;
  p.height = height;
  p.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), kWhite);
  return p;
}

// Rows of ceil(width/8) bytes, MSB leftmost, a bit set where `set` holds.
template <typename Pred>
std::string Plane(const Picture& p, Pred set) {
  const size_t row_bytes = (static_cast<size_t>(p.width) + 7) / 8;
  std::string out(row_bytes * static_cast<size_t>(p.height), '\0');
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      if (set(ClassifyPixel(p.At(x, y)))) {
        out[static_cast<size_t>(y) * row_bytes + static_cast<size_t>(x / 8)] |=
            static_cast<char>(0x80 >> (x % 8));
      }
    }
  }
  return out;
}

bool IsBlack(PixelClass c) {
  return c == PixelClass::kBlack;
}
bool IsSecond(PixelClass c) {
  return c == PixelClass::kSecond;
}

void AppendLe(std::string* out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// 30 70 30 01 01 c xL xH yL yH: what follows the length in the store command.
std::string StoreParameters(const Picture& p, char colour) {
  std::string out("\x30\x70\x30\x01\x01", 5);
  out.push_back(colour);
  AppendLe(&out, static_cast<uint32_t>((p.width + 7) / 8 * 8), 2);
  AppendLe(&out, static_cast<uint32_t>(p.height), 2);
  return out;
}

constexpr std::string_view kPrintGraphics{"\x1D\x28\x4C\x02\x00\x30\x32", 7};

// ESC r n, ESC * 0 width, one byte a column for rows top..top+7, then `end`.
std::string StripPass(const Picture& p, int top, char colour, PixelClass want, char end) {
  std::string out("\x1B\x72", 2);
  out.push_back(colour);
  out.append("\x1B\x2A\x00", 3);
  AppendLe(&out, static_cast<uint32_t>(p.width), 2);
  for (int x = 0; x < p.width; ++x) {
    uint8_t column = 0;
    for (int r = 0; r < 8; ++r) {
      if (ClassifyPixel(p.At(x, top + r)) == want) column |= static_cast<uint8_t>(0x80 >> r);
    }
    out.push_back(static_cast<char>(column));
  }
  out.push_back(end);
  return out;
}

}  // namespace

Rgb Picture::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return kWhite;
  const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
  return i < pixels.size() ? pixels[i] : kWhite;
}

PixelClass ClassifyPixel(Rgb c) {
  if (c.r == 255 && c.g == 255 && c.b == 255) return PixelClass::kWhite;
  if (c.r == 0 && c.g == 0 && c.b == 0) return PixelClass::kBlack;
  return PixelClass::kSecond;
}

Picture RotatePicture(const Picture& in, int32_t rotation) {
  if (!Usable(in)) return {};
  if (rotation == 1) return in;
  if (rotation != 257 && rotation != 258 && rotation != 259) return {};
  const int w = in.width, h = in.height;
  const bool quarter = rotation != 259;
  Picture out = WhitePicture(quarter ? h : w, quarter ? w : h);
  // Every pixel lands on exactly one: right angles move whole pixels.
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int tx, ty;
      switch (rotation) {
        case 257:  // a quarter turn clockwise
          tx = h - 1 - y, ty = x;
          break;
        case 258:  // a quarter turn anticlockwise
          tx = y, ty = w - 1 - x;
          break;
        default:  // half a turn
          tx = w - 1 - x, ty = h - 1 - y;
          break;
      }
      out.pixels[static_cast<size_t>(ty) * static_cast<size_t>(out.width) +
                 static_cast<size_t>(tx)] = in.At(x, y);
    }
  }
  return out;
}

Picture StretchPicture(const Picture& in, int width, int height) {
  if (!Usable(in) || width <= 0 || height <= 0 || width > kMaxPictureSide ||
      height > kMaxPictureSide || int64_t{width} * height > kMaxPicturePixels) {
    return {};
  }
  Picture out = WhitePicture(width, height);
  for (int y = 0; y < height; ++y) {
    const int sy = static_cast<int>(int64_t{y} * in.height / height);
    for (int x = 0; x < width; ++x) {
      const int sx = static_cast<int>(int64_t{x} * in.width / width);
      out.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
          in.At(sx, sy);
    }
  }
  return out;
}

std::string EncodeRasterImage(const Picture& p) {
  if (!Usable(p)) return {};
  const int row_bytes = (p.width + 7) / 8;
  if (row_bytes > 0xFFFF || p.height > 0xFFFF) return {};
  std::string out("\x1D\x76\x30\x00", 4);
  AppendLe(&out, static_cast<uint32_t>(row_bytes), 2);
  AppendLe(&out, static_cast<uint32_t>(p.height), 2);
  out += Plane(p, [](PixelClass c) { return c != PixelClass::kWhite; });
  return out;
}

std::vector<std::string> EncodeColumnStrips(const Picture& p, bool letter_quality) {
  if (!Usable(p) || p.width > 255) return {};
  std::vector<std::string> passes;
  for (int top = 0; top < p.height; top += 8) {
    if (letter_quality) {
      passes.push_back(StripPass(p, top, 0, PixelClass::kBlack, '\r'));
      passes.push_back(StripPass(p, top, 1, PixelClass::kSecond, '\r'));
    }
    passes.push_back(StripPass(p, top, 0, PixelClass::kBlack, '\r'));
    passes.push_back(StripPass(p, top, 1, PixelClass::kSecond, '\n'));
  }
  return passes;
}

std::string EncodeTwoColourGraphicsStored(const Picture& p) {
  if (!Usable(p) || int64_t{p.width} * p.height > 524288) return {};
  const size_t plane = static_cast<size_t>((p.width + 7) / 8) * static_cast<size_t>(p.height);
  if (plane + 10 > 0xFFFF) return {};
  std::string out;
  for (const char colour : {'\x31', '\x32'}) {
    out.append("\x1D\x28\x4C", 3);
    AppendLe(&out, static_cast<uint32_t>(plane + 10), 2);
    out += StoreParameters(p, colour);
    out += colour == '\x31' ? Plane(p, IsBlack) : Plane(p, IsSecond);
  }
  out += kPrintGraphics;
  return out;
}

std::vector<std::string> EncodeTwoColourGraphicsPrint(const Picture& p) {
  if (!Usable(p)) return {};
  const size_t plane = static_cast<size_t>((p.width + 7) / 8) * static_cast<size_t>(p.height);
  if (plane > 262144) return {};
  auto header = [&](char colour) {
    std::string h("\x1D\x38\x4C", 3);
    AppendLe(&h, static_cast<uint32_t>(plane + 10), 4);
    return h + StoreParameters(p, colour);
  };
  std::vector<std::string> out;
  out.push_back(header('\x31'));
  out.push_back(Plane(p, IsBlack));
  out.push_back(header('\x32'));
  const std::string second = Plane(p, IsSecond);
  for (size_t at = 0; at < second.size(); at += kTwoColourPieceBytes) {
    out.push_back(second.substr(at, kTwoColourPieceBytes));
  }
  out.emplace_back(kPrintGraphics);
  return out;
}

}  // namespace qz381::output
