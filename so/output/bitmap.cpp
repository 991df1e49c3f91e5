#include "so/output/bitmap.h"

#include <algorithm>
#include <cmath>
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

// Rounds to the nearest float, ties to even, without trusting float arithmetic:
// the 32-bit build keeps intermediates in x87 registers.
double RoundToFloat(double v) {
  if (v == 0) return 0;
  int e = 0;
  const double m = std::frexp(v, &e);
  return std::ldexp(std::nearbyint(std::ldexp(m, 24)), e - 24);
}

// trunc(a*fa + b*fb) with each product and the sum rounded to float. The
// products are exact in double (a has at most 15 bits, fa 24).
int TruncSum(int a, double fa, int b, double fb) {
  return static_cast<int>(RoundToFloat(RoundToFloat(a * fa) + RoundToFloat(b * fb)));
}

// Cosine and sine of the angle in single precision.
struct Turn {
  double c, s;
};
bool TurnFor(int32_t rotation, Turn* t) {
  switch (rotation) {
    case 257:  // 3pi/2
      *t = {0x1.99bc5cp-27, -1.0};
      return true;
    case 258:  // pi/2
      *t = {-0x1.777a5cp-25, 1.0};
      return true;
    case 259:  // pi
      *t = {-1.0, -0x1.777a5cp-24};
      return true;
    default:
      return false;
  }
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
  Turn t;
  if (!TurnFor(rotation, &t)) return {};
  const int w = in.width, h = in.height;
  // Corners with y up; the box spans 0 and the other three.
  const int cx[3] = {TruncSum(w, t.c, 0, 0), TruncSum(0, 0, h, -t.s), TruncSum(w, t.c, h, -t.s)};
  const int cy[3] = {TruncSum(w, t.s, 0, 0), TruncSum(0, 0, h, t.c), TruncSum(w, t.s, h, t.c)};
  const int x0 = std::min({0, cx[0], cx[1], cx[2]}), x1 = std::max({cx[0], cx[1], cx[2]});
  const int y0 = std::min({0, cy[0], cy[1], cy[2]}), y1 = std::max({cy[0], cy[1], cy[2]});
  if (x1 <= x0 || y1 <= y0) return {};
  Picture out = WhitePicture(x1 - x0, y1 - y0);
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const int sx = TruncSum(x, t.c, y, t.s);
      const int sy = TruncSum(y, t.c, x, -t.s);
      if (sx < 0 || sx >= w || sy < 0 || sy >= h) continue;
      out.pixels[static_cast<size_t>(y1 - 1 - y) * static_cast<size_t>(out.width) +
                 static_cast<size_t>(x - x0)] = in.At(sx, h - 1 - sy);
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
