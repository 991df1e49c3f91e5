#include "so/output/bitmap.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace qz381::output {
namespace {

constexpr Rgb kWhite{255, 255, 255};

bool Usable(const Picture& p) {
  return p.width > 0 && p.height > 0 && p.width <= kMaxPictureSide && p.height <= kMaxPictureSide &&
         int64_t{p.width} * p.height <= kMaxPicturePixels &&
         p.pixels.size() == static_cast<size_t>(p.width) * static_cast<size_t>(p.height);
}

// Which pixels set a bit in a plane. The tests look at all three channels at
// once and compile to straight-line code in the packing loops below.
enum class Ink { kAny, kBlack, kSecond };

template <Ink kInk>
inline uint8_t Bit(const Rgb& c) {
  const bool white = (c.r & c.g & c.b) == 0xFF;
  const bool black = (c.r | c.g | c.b) == 0;
  if constexpr (kInk == Ink::kAny) return !white;
  if constexpr (kInk == Ink::kBlack) return black;
  return !white && !black;
}

// One row of `width` pixels as ceil(width/8) bytes, MSB leftmost, eight pixels
// a byte; the bits past the right edge stay clear.
template <Ink kInk>
void PackRow(const Rgb* row, int width, uint8_t* out) {
  const int full = width / 8;
  for (int b = 0; b < full; ++b, row += 8) {
    out[b] = static_cast<uint8_t>(Bit<kInk>(row[0]) << 7 | Bit<kInk>(row[1]) << 6 |
                                  Bit<kInk>(row[2]) << 5 | Bit<kInk>(row[3]) << 4 |
                                  Bit<kInk>(row[4]) << 3 | Bit<kInk>(row[5]) << 2 |
                                  Bit<kInk>(row[6]) << 1 | Bit<kInk>(row[7]));
  }
  if (const int rest = width % 8; rest > 0) {
    uint8_t v = 0;
    for (int k = 0; k < rest; ++k) v |= static_cast<uint8_t>(Bit<kInk>(row[k]) << (7 - k));
    out[full] = v;
  }
}

size_t PlaneBytes(const Picture& p) {
  return (static_cast<size_t>(p.width) + 7) / 8 * static_cast<size_t>(p.height);
}

// Every row packed, straight into `out`, which holds PlaneBytes(p).
template <Ink kInk>
void PackPlane(const Picture& p, char* out) {
  const size_t row_bytes = (static_cast<size_t>(p.width) + 7) / 8;
  const Rgb* row = p.pixels.data();
  uint8_t* to = reinterpret_cast<uint8_t*>(out);
  for (int y = 0; y < p.height; ++y, row += p.width, to += row_bytes) {
    PackRow<kInk>(row, p.width, to);
  }
}

// `head` followed by the packed plane.
template <Ink kInk>
std::string WithPlane(std::string head, const Picture& p) {
  const size_t at = head.size();
  head.resize(at + PlaneBytes(p));
  PackPlane<kInk>(p, head.data() + at);
  return head;
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

// ESC r n, ESC * 0 width, one byte a column, then `end`.
std::string StripPassHead(const Picture& p, char colour) {
  std::string out("\x1B\x72", 2);
  out.push_back(colour);
  out.append("\x1B\x2A\x00", 3);
  AppendLe(&out, static_cast<uint32_t>(p.width), 2);
  return out;
}
constexpr size_t kStripPassHeadBytes = 8;

// The black and second-colour passes of the strip of rows top..top+7, the top
// row in the most significant bit; rows below the picture are white.
void StripPasses(const Picture& p, int top, std::string* black, std::string* second) {
  const size_t width = static_cast<size_t>(p.width);
  *black = StripPassHead(p, 0);
  *second = StripPassHead(p, 1);
  black->resize(kStripPassHeadBytes + width + 1, '\0');
  second->resize(kStripPassHeadBytes + width + 1, '\0');
  uint8_t* b = reinterpret_cast<uint8_t*>(black->data()) + kStripPassHeadBytes;
  uint8_t* s = reinterpret_cast<uint8_t*>(second->data()) + kStripPassHeadBytes;
  const int rows = std::min(8, p.height - top);
  for (int r = 0; r < rows; ++r) {
    const Rgb* row = p.pixels.data() + static_cast<size_t>(top + r) * width;
    const int shift = 7 - r;
    for (size_t x = 0; x < width; ++x) {
      b[x] |= static_cast<uint8_t>(Bit<Ink::kBlack>(row[x]) << shift);
      s[x] |= static_cast<uint8_t>(Bit<Ink::kSecond>(row[x]) << shift);
    }
  }
  black->back() = '\r';
  second->back() = '\n';
}

}  // namespace

Rgb Picture::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return kWhite;
  const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
  return i < pixels.size() ? pixels[i] : kWhite;
}

Picture PictureFromRgb(int width, int height, std::span<const uint8_t> rgb) {
  static_assert(sizeof(Rgb) == 3 && alignof(Rgb) == 1, "Rgb is three bytes, as the loader's are");
  Picture p;
  if (width <= 0 || height <= 0 || rgb.size() % 3 != 0 ||
      rgb.size() / 3 != static_cast<size_t>(width) * static_cast<size_t>(height)) {
    return p;
  }
  p.width = width;
  p.height = height;
  p.pixels.resize(rgb.size() / 3);
  std::memcpy(p.pixels.data(), rgb.data(), rgb.size());
  return p;
}

PixelClass ClassifyPixel(Rgb c) {
  if (c.r == 255 && c.g == 255 && c.b == 255) return PixelClass::kWhite;
  if (c.r == 0 && c.g == 0 && c.b == 0) return PixelClass::kBlack;
  return PixelClass::kSecond;
}

Picture RotatePicture(Picture in, int32_t rotation) {
  if (!Usable(in)) return {};
  if (rotation == 1) return in;
  if (rotation != 257 && rotation != 258 && rotation != 259) return {};
  const size_t w = static_cast<size_t>(in.width), h = static_cast<size_t>(in.height);
  Picture out;
  out.pixels.resize(w * h);
  if (rotation == 259) {  // half a turn: the pixel order reversed
    out.width = in.width;
    out.height = in.height;
    std::reverse_copy(in.pixels.begin(), in.pixels.end(), out.pixels.begin());
    return out;
  }
  // A quarter turn: the source's rows become columns. Done in tiles so that
  // both pictures are walked within a few cache lines at a time.
  out.width = in.height;
  out.height = in.width;
  const bool clockwise = rotation == 257;
  constexpr size_t kTile = 32;
  for (size_t y0 = 0; y0 < h; y0 += kTile) {
    const size_t y1 = std::min(h, y0 + kTile);
    for (size_t x0 = 0; x0 < w; x0 += kTile) {
      const size_t x1 = std::min(w, x0 + kTile);
      for (size_t y = y0; y < y1; ++y) {
        const Rgb* from = in.pixels.data() + y * w;
        for (size_t x = x0; x < x1; ++x) {
          // Clockwise, (x, y) goes to column h-1-y of row x; anticlockwise, to
          // column y of row w-1-x.
          const size_t to = clockwise ? x * h + (h - 1 - y) : (w - 1 - x) * h + y;
          out.pixels[to] = from[x];
        }
      }
    }
  }
  return out;
}

Picture StretchPicture(Picture in, int width, int height) {
  if (!Usable(in) || width <= 0 || height <= 0 || width > kMaxPictureSide ||
      height > kMaxPictureSide || int64_t{width} * height > kMaxPicturePixels) {
    return {};
  }
  if (width == in.width && height == in.height) return in;
  Picture out;
  out.width = width;
  out.height = height;
  const size_t w = static_cast<size_t>(width);
  out.pixels.resize(w * static_cast<size_t>(height));
  std::vector<uint32_t> source_x(w);
  for (size_t x = 0; x < w; ++x) {
    source_x[x] = static_cast<uint32_t>(int64_t{static_cast<int64_t>(x)} * in.width / width);
  }
  int last_sy = -1;
  for (int y = 0; y < height; ++y) {
    const int sy = static_cast<int>(int64_t{y} * in.height / height);
    Rgb* to = out.pixels.data() + static_cast<size_t>(y) * w;
    if (sy == last_sy) {  // a row drawn twice when stretching upwards
      std::memcpy(to, to - w, w * sizeof(Rgb));
      continue;
    }
    const Rgb* from = in.pixels.data() + static_cast<size_t>(sy) * static_cast<size_t>(in.width);
    for (size_t x = 0; x < w; ++x) to[x] = from[source_x[x]];
    last_sy = sy;
  }
  return out;
}

std::string EncodeRasterImage(const Picture& p) {
  if (!Usable(p)) return {};
  const int row_bytes = (p.width + 7) / 8;
  if (row_bytes > 0xFFFF || p.height > 0xFFFF) return {};
  std::string head("\x1D\x76\x30\x00", 4);
  AppendLe(&head, static_cast<uint32_t>(row_bytes), 2);
  AppendLe(&head, static_cast<uint32_t>(p.height), 2);
  return WithPlane<Ink::kAny>(std::move(head), p);
}

std::vector<std::string> EncodeColumnStrips(const Picture& p, bool letter_quality) {
  if (!Usable(p) || p.width > 255) return {};
  std::vector<std::string> passes;
  passes.reserve(static_cast<size_t>((p.height + 7) / 8) * (letter_quality ? 4 : 2));
  std::string black, second;
  for (int top = 0; top < p.height; top += 8) {
    StripPasses(p, top, &black, &second);
    if (letter_quality) {
      passes.push_back(black);
      passes.push_back(second);
      passes.back().back() = '\r';
    }
    passes.push_back(std::move(black));
    passes.push_back(std::move(second));
  }
  return passes;
}

std::string EncodeTwoColourGraphicsStored(const Picture& p) {
  if (!Usable(p) || int64_t{p.width} * p.height > 524288) return {};
  const size_t plane = PlaneBytes(p);
  if (plane + 10 > 0xFFFF) return {};
  auto head = [&](std::string out, char colour) {
    out.append("\x1D\x28\x4C", 3);
    AppendLe(&out, static_cast<uint32_t>(plane + 10), 2);
    return out + StoreParameters(p, colour);
  };
  std::string out = WithPlane<Ink::kBlack>(head({}, '\x31'), p);
  out = WithPlane<Ink::kSecond>(head(std::move(out), '\x32'), p);
  out += kPrintGraphics;
  return out;
}

std::vector<std::string> EncodeTwoColourGraphicsPrint(const Picture& p) {
  if (!Usable(p)) return {};
  const size_t plane = PlaneBytes(p);
  if (plane > 262144) return {};
  auto header = [&](char colour) {
    std::string h("\x1D\x38\x4C", 3);
    AppendLe(&h, static_cast<uint32_t>(plane + 10), 4);
    return h + StoreParameters(p, colour);
  };
  std::vector<std::string> out;
  out.push_back(header('\x31'));
  out.push_back(WithPlane<Ink::kBlack>({}, p));
  out.push_back(header('\x32'));
  std::string second = WithPlane<Ink::kSecond>({}, p);
  if (second.size() <= kTwoColourPieceBytes) {
    out.push_back(std::move(second));
  } else {
    for (size_t at = 0; at < second.size(); at += kTwoColourPieceBytes) {
      out.push_back(second.substr(at, kTwoColourPieceBytes));
    }
  }
  out.emplace_back(kPrintGraphics);
  return out;
}

}  // namespace qz381::output
