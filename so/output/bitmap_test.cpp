#include "so/output/bitmap.h"

#include <gtest/gtest.h>

#include <random>

#include "so/output/test_bytes.h"

namespace qz381::output {
namespace {

using testing::Hex;
using testing::ToHex;

constexpr Rgb kBlack{0, 0, 0}, kRed{255, 0, 0}, kGrey{128, 128, 128};

// Rows of '.' white, '#' black, 'r' red; any other letter is a colour of its
// own (so pixels can be followed through a rotation).
Picture Art(const std::vector<std::string>& rows) {
  Picture p;
  p.height = static_cast<int>(rows.size());
  p.width = rows.empty() ? 0 : static_cast<int>(rows[0].size());
  for (const std::string& row : rows) {
    for (char c : row) {
      const uint8_t v = static_cast<uint8_t>(c);
      p.pixels.push_back(c == '.' ? Rgb{} : c == '#' ? kBlack : c == 'r' ? kRed : Rgb{v, v, 0});
    }
  }
  return p;
}

std::vector<std::string> ToArt(const Picture& p) {
  std::vector<std::string> rows;
  for (int y = 0; y < p.height; ++y) {
    std::string row;
    for (int x = 0; x < p.width; ++x) {
      const Rgb c = p.At(x, y);
      row += c == Rgb{} ? '.' : c == kBlack ? '#' : c == kRed ? 'r' : static_cast<char>(c.r);
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::string> HexAll(const std::vector<std::string>& strings) {
  std::vector<std::string> out;
  for (const std::string& s : strings) out.push_back(ToHex(s));
  return out;
}

Picture Filled(int width, int height, Rgb colour) {
  Picture p;
  p.width = width;
  p.height = height;
  p.pixels.assign(static_cast<size_t>(width) * height, colour);
  return p;
}

TEST(Bitmap, PixelClasses) {
  const struct {
    Rgb colour;
    PixelClass expected;
  } cases[] = {
      {{255, 255, 255}, PixelClass::kWhite},  {{0, 0, 0}, PixelClass::kBlack},
      {{255, 0, 0}, PixelClass::kSecond},     {{128, 128, 128}, PixelClass::kSecond},
      {{254, 255, 255}, PixelClass::kSecond}, {{255, 255, 254}, PixelClass::kSecond},
      {{0, 0, 1}, PixelClass::kSecond},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifyPixel(c.colour), c.expected)
        << int(c.colour.r) << "," << int(c.colour.g) << "," << int(c.colour.b);
  }
  Picture p = Art({"#r"});
  EXPECT_EQ(p.At(1, 0), kRed);
  EXPECT_EQ(p.At(-1, 0), Rgb{});
  EXPECT_EQ(p.At(0, 1), Rgb{});
  p.pixels.pop_back();
  EXPECT_EQ(p.At(1, 0), Rgb{});
}

TEST(Bitmap, RasterImage) {
  EXPECT_EQ(ToHex(EncodeRasterImage(Filled(16, 9, kBlack))),
            ToHex(Hex("1D 76 30 00 02 00 09 00") + std::string(18, '\xFF')));
  // Red and grey print as black; the last byte of a row is padded with 0 bits.
  Picture p = Art({"#.r......#",  //
                   "..........",  //
                   ".........#"});
  p.pixels[4] = kGrey;
  EXPECT_EQ(ToHex(EncodeRasterImage(p)),
            ToHex(Hex("1D 76 30 00 02 00 03 00  A8 40  00 00  00 40")));
}

TEST(Bitmap, ColumnStrips) {
  // Ten rows: two strips, the second with six white rows below.
  Picture p = Art({"#..",  //
                   ".r.",  //
                   "...",  //
                   "...",  //
                   "...",  //
                   "...",  //
                   "...",  //
                   "#.r",  //
                   "r..",  //
                   ".##"});
  const std::vector<std::string> draft = {
      Hex("1B 72 00 1B 2A 00 03 00  81 00 00  0D"),
      Hex("1B 72 01 1B 2A 00 03 00  00 40 01  0A"),
      Hex("1B 72 00 1B 2A 00 03 00  00 40 40  0D"),
      Hex("1B 72 01 1B 2A 00 03 00  80 00 00  0A"),
  };
  const std::vector<std::string> letter_quality = {
      Hex("1B 72 00 1B 2A 00 03 00  81 00 00  0D"),
      Hex("1B 72 01 1B 2A 00 03 00  00 40 01  0D"),
      draft[0],
      draft[1],
      Hex("1B 72 00 1B 2A 00 03 00  00 40 40  0D"),
      Hex("1B 72 01 1B 2A 00 03 00  80 00 00  0D"),
      draft[2],
      draft[3],
  };
  EXPECT_EQ(HexAll(EncodeColumnStrips(p, false)), HexAll(draft));
  EXPECT_EQ(HexAll(EncodeColumnStrips(p, true)), HexAll(letter_quality));

  const std::vector<std::string> widest = EncodeColumnStrips(Filled(255, 1, kBlack), false);
  ASSERT_EQ(widest.size(), 2u);
  EXPECT_EQ(widest[0].size(), 8 + 255 + 1u);
  EXPECT_TRUE(EncodeColumnStrips(Filled(256, 1, kBlack), false).empty());
}

TEST(Bitmap, Rotation) {
  const struct {
    int32_t rotation;
    std::vector<std::string> in, out;
  } cases[] = {
      {1, {"abc", "def"}, {"abc", "def"}},
      // Every pixel is kept, whichever way the picture turns.
      {259, {"abc", "def"}, {"fed", "cba"}},
      {258, {"abc", "def"}, {"cf", "be", "ad"}},  // a quarter turn anticlockwise
      {257, {"abc", "def"}, {"da", "eb", "fc"}},  // a quarter turn clockwise
      {257, {"a"}, {"a"}},
      {258, {"a"}, {"a"}},
      {259, {"a"}, {"a"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rotation);
    EXPECT_EQ(ToArt(RotatePicture(Art(c.in), c.rotation)), c.out);
  }
  EXPECT_EQ(RotatePicture(Art({"abc"}), 2).width, 0);
  EXPECT_EQ(RotatePicture(Art({"abc"}), 0).pixels.size(), 0u);

  // A full-size picture turns without leaving the bounds.
  const Picture big = RotatePicture(Filled(512, 300, kBlack), 258);
  EXPECT_EQ(big.width, 300);
  EXPECT_EQ(big.height, 512);
}

TEST(Bitmap, Stretch) {
  EXPECT_EQ(ToArt(StretchPicture(Art({"#r", "a."}), 4, 4)),
            (std::vector<std::string>{"##rr", "##rr", "aa..", "aa.."}));
  EXPECT_EQ(ToArt(StretchPicture(Art({"abcd", "efgh"}), 2, 3)),
            (std::vector<std::string>{"ac", "ac", "eg"}));
  for (const auto& [w, h] : {std::pair{0, 4}, {4, -1}, {kMaxPictureSide + 1, 1}, {8192, 8192}}) {
    EXPECT_TRUE(StretchPicture(Art({"#"}), w, h).pixels.empty()) << w << " x " << h;
  }
}

TEST(Bitmap, TwoColourGraphics) {
  // Plane 1 black, plane 2 red and grey; 9 dots wide is sent as 16.
  Picture p = Art({"#r......#",  //
                   "........r"});
  p.pixels[2] = kGrey;
  const std::string store_1 = Hex("30 70 30 01 01 31 10 00 02 00");
  const std::string store_2 = Hex("30 70 30 01 01 32 10 00 02 00");
  EXPECT_EQ(ToHex(EncodeTwoColourGraphicsStored(p)),
            ToHex(Hex("1D 28 4C 0E 00") + store_1 + Hex("80 80 00 00") + Hex("1D 28 4C 0E 00") +
                  store_2 + Hex("60 00 00 80") + Hex("1D 28 4C 02 00 30 32")));
  const std::vector<std::string> print = {
      Hex("1D 38 4C 0E 00 00 00") + store_1, Hex("80 80 00 00"),
      Hex("1D 38 4C 0E 00 00 00") + store_2, Hex("60 00 00 80"),
      Hex("1D 28 4C 02 00 30 32"),
  };
  EXPECT_EQ(HexAll(EncodeTwoColourGraphicsPrint(p)), HexAll(print));
}

TEST(Bitmap, TwoColourGraphicsLimits) {
  // GS ( L: plane + 10 must fit in two bytes, which also keeps it under 524288 pixels.
  const std::string largest = EncodeTwoColourGraphicsStored(Filled(40, 13105, kRed));
  ASSERT_EQ(largest.size(), 2 * (15 + 65525) + 7u);
  EXPECT_EQ(ToHex(largest.substr(0, 15)),
            ToHex(Hex("1D 28 4C FF FF 30 70 30 01 01 31 28 00 31 33")));
  EXPECT_EQ(EncodeTwoColourGraphicsStored(Filled(40, 13106, kRed)), "");
  EXPECT_EQ(EncodeTwoColourGraphicsStored(Filled(1024, 513, kRed)), "");

  // GS 8 L: the second plane goes in pieces of 20480 bytes.
  const std::vector<std::string> split = EncodeTwoColourGraphicsPrint(Filled(512, 400, kRed));
  ASSERT_EQ(split.size(), 6u);
  EXPECT_EQ(ToHex(split[0]), ToHex(Hex("1D 38 4C 0A 64 00 00 30 70 30 01 01 31 00 02 90 01")));
  EXPECT_EQ(split[1], std::string(25600, '\0'));
  EXPECT_EQ(ToHex(split[2]), ToHex(Hex("1D 38 4C 0A 64 00 00 30 70 30 01 01 32 00 02 90 01")));
  EXPECT_EQ(split[3], std::string(20480, '\xFF'));
  EXPECT_EQ(split[4], std::string(5120, '\xFF'));
  EXPECT_EQ(ToHex(split[5]), ToHex(Hex("1D 28 4C 02 00 30 32")));

  const std::vector<std::string> widest = EncodeTwoColourGraphicsPrint(Filled(2048, 1024, kBlack));
  ASSERT_EQ(widest.size(), 3 + 13 + 1u);
  EXPECT_EQ(ToHex(widest[0].substr(3, 4)), ToHex(Hex("0A 00 04 00")));
  EXPECT_EQ(widest[15].size(), 262144 - 12 * kTwoColourPieceBytes);
  EXPECT_TRUE(EncodeTwoColourGraphicsPrint(Filled(2048, 1025, kBlack)).empty());
}

TEST(Bitmap, UnusablePicturesGiveNothing) {
  Picture mismatched = Filled(4, 4, kBlack);
  mismatched.pixels.pop_back();
  Picture claims_more;  // a size far past the pixels it has
  claims_more.width = 1 << 30;
  claims_more.height = 1 << 30;
  claims_more.pixels.resize(4);
  const Picture too_tall = Filled(1, kMaxPictureSide + 1, kBlack);
  const Picture cases[] = {Picture{},  Filled(0, 5, kBlack), Filled(5, 0, kBlack),
                           mismatched, claims_more,          too_tall};
  for (const Picture& p : cases) {
    SCOPED_TRACE(std::to_string(p.width) + " x " + std::to_string(p.height));
    EXPECT_EQ(EncodeRasterImage(p), "");
    EXPECT_TRUE(EncodeColumnStrips(p, true).empty());
    EXPECT_EQ(EncodeTwoColourGraphicsStored(p), "");
    EXPECT_TRUE(EncodeTwoColourGraphicsPrint(p).empty());
    for (int32_t rotation : {1, 257, 258, 259}) {
      EXPECT_TRUE(RotatePicture(p, rotation).pixels.empty());
    }
    EXPECT_TRUE(StretchPicture(p, 8, 8).pixels.empty());
  }
}

TEST(Bitmap, PictureFromLoaderBytes) {
  const std::vector<uint8_t> rgb = {0, 0, 0, 255, 0, 0, 1, 2, 3, 255, 255, 255, 9, 9, 9, 7, 7, 7};
  const Picture p = PictureFromRgb(3, 2, rgb);
  ASSERT_EQ(p.pixels.size(), 6u);
  EXPECT_EQ(p.At(1, 0), kRed);
  EXPECT_EQ(p.At(2, 0), (Rgb{1, 2, 3}));
  EXPECT_EQ(p.At(0, 1), Rgb{});
  EXPECT_TRUE(PictureFromRgb(3, 3, rgb).pixels.empty());
  EXPECT_TRUE(PictureFromRgb(2, 2, rgb).pixels.empty());
  EXPECT_TRUE(PictureFromRgb(0, 2, {}).pixels.empty());
}

// The encoders pack eight pixels at a time; these are the same commands built
// one pixel at a time, to compare against on random pictures.
namespace reference {

std::string Plane(const Picture& p, bool (*set)(PixelClass)) {
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
bool Any(PixelClass c) {
  return c != PixelClass::kWhite;
}
bool Black(PixelClass c) {
  return c == PixelClass::kBlack;
}
bool Second(PixelClass c) {
  return c == PixelClass::kSecond;
}

std::string Le16(int v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string Raster(const Picture& p) {
  return Hex("1D 76 30 00") + Le16((p.width + 7) / 8) + Le16(p.height) + Plane(p, Any);
}

std::vector<std::string> Strips(const Picture& p, bool letter_quality) {
  auto pass = [&](int top, char colour, PixelClass want, char end) {
    std::string out = Hex("1B 72") + colour + Hex("1B 2A 00") + Le16(p.width);
    for (int x = 0; x < p.width; ++x) {
      uint8_t column = 0;
      for (int r = 0; r < 8; ++r) {
        if (ClassifyPixel(p.At(x, top + r)) == want) column |= static_cast<uint8_t>(0x80 >> r);
      }
      out.push_back(static_cast<char>(column));
    }
    return out + end;
  };
  std::vector<std::string> passes;
  for (int top = 0; top < p.height; top += 8) {
    if (letter_quality) {
      passes.push_back(pass(top, 0, PixelClass::kBlack, '\r'));
      passes.push_back(pass(top, 1, PixelClass::kSecond, '\r'));
    }
    passes.push_back(pass(top, 0, PixelClass::kBlack, '\r'));
    passes.push_back(pass(top, 1, PixelClass::kSecond, '\n'));
  }
  return passes;
}

// width x height pixels, each taken from in at source(x, y).
Picture Map(const Picture& in, int width, int height, auto source) {
  Picture out;
  out.width = width;
  out.height = height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto [sx, sy] = source(x, y);
      out.pixels.push_back(in.At(sx, sy));
    }
  }
  return out;
}

}  // namespace reference

// Random pictures of every width modulo 8, with colours on both sides of the
// white and black boundaries, give the same bytes as the pixel-by-pixel
// reference, and turn and stretch to the same pixels.
TEST(Bitmap, EncodersMatchPixelByPixelReference) {
  std::mt19937 random(16);
  const Rgb palette[] = {Rgb{},           kBlack,          kRed,      kGrey,
                         {254, 255, 255}, {255, 255, 254}, {0, 0, 1}, {1, 0, 0}};
  std::uniform_int_distribution<int> side(1, 41), colour(0, 15), byte(0, 255);
  for (int round = 0; round < 300; ++round) {
    Picture p;
    p.width = side(random);
    p.height = side(random);
    for (int i = 0; i < p.width * p.height; ++i) {
      const int pick = colour(random);
      p.pixels.push_back(pick < 8 ? palette[pick]
                                  : Rgb{static_cast<uint8_t>(byte(random)),
                                        static_cast<uint8_t>(byte(random)),
                                        static_cast<uint8_t>(byte(random))});
    }
    SCOPED_TRACE(std::to_string(p.width) + " x " + std::to_string(p.height));
    const int w = p.width, h = p.height;
    EXPECT_EQ(ToHex(EncodeRasterImage(p)), ToHex(reference::Raster(p)));
    EXPECT_EQ(HexAll(EncodeColumnStrips(p, false)), HexAll(reference::Strips(p, false)));
    EXPECT_EQ(HexAll(EncodeColumnStrips(p, true)), HexAll(reference::Strips(p, true)));
    const std::vector<std::string> two = EncodeTwoColourGraphicsPrint(p);
    ASSERT_EQ(two.size(), 5u);
    EXPECT_EQ(ToHex(two[1]), ToHex(reference::Plane(p, reference::Black)));
    EXPECT_EQ(ToHex(two[3]), ToHex(reference::Plane(p, reference::Second)));
    // The stored form carries the same planes behind its own headers.
    const std::string length = reference::Le16(static_cast<int>(two[1].size()) + 10);
    EXPECT_EQ(ToHex(EncodeTwoColourGraphicsStored(p)),
              ToHex(Hex("1D 28 4C") + length + two[0].substr(7) + two[1] + Hex("1D 28 4C") +
                    length + two[2].substr(7) + two[3] + two[4]));
    auto clockwise = [&](int x, int y) { return std::pair{y, h - 1 - x}; };
    auto anticlockwise = [&](int x, int y) { return std::pair{w - 1 - y, x}; };
    auto half = [&](int x, int y) { return std::pair{w - 1 - x, h - 1 - y}; };
    EXPECT_EQ(RotatePicture(p, 257).pixels, reference::Map(p, h, w, clockwise).pixels);
    EXPECT_EQ(RotatePicture(p, 258).pixels, reference::Map(p, h, w, anticlockwise).pixels);
    EXPECT_EQ(RotatePicture(p, 259).pixels, reference::Map(p, w, h, half).pixels);
    const int sw = side(random) * 2, sh = side(random) * 2;
    auto nearest = [&](int x, int y) { return std::pair{x * w / sw, y * h / sh}; };
    EXPECT_EQ(StretchPicture(p, sw, sh).pixels, reference::Map(p, sw, sh, nearest).pixels);
  }
}

}  // namespace
}  // namespace qz381::output
