#pragma once
// Pictures for PrintBitmap and SetBitmap: turning, stretching, and the printer
// commands that draw them (GS v 0 raster, ESC * column strips, two-colour GS ( L
// and GS 8 L graphics). A picture that is too large, or whose pixels do not
// match its size, is treated as empty; every encoder refuses with an empty
// result.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qz381::output {

struct Rgb {
  uint8_t r = 255, g = 255, b = 255;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Pictures up to this many pixels a side and in all are handled.
constexpr int kMaxPictureSide = 16384;
constexpr int64_t kMaxPicturePixels = int64_t{1} << 24;

// A picture as loaded: width x height pixels, row by row from the top.
struct Picture {
  int width = 0, height = 0;
  std::vector<Rgb> pixels;
  // White outside the picture (and for a picture whose pixels do not match its size).
  Rgb At(int x, int y) const;
};

// A picture from rows of three bytes a pixel (red, green, blue), as the picture
// loader gives them; empty when the bytes do not match the size.
Picture PictureFromRgb(int width, int height, std::span<const uint8_t> rgb);

enum class PixelClass : uint8_t { kWhite = 0, kBlack = 1, kSecond = 2 };

// White only for 255,255,255, black only for 0,0,0; anything else prints in the
// second colour.
PixelClass ClassifyPixel(Rgb c);

// Turns the picture for the RotatePrint values: 1 returns it as it is, 257 a
// quarter turn clockwise, 258 a quarter turn anticlockwise, 259 half a turn.
// Every pixel is kept. Any other value gives an empty picture. Taken by value:
// a caller that moves its picture in spares a copy when nothing turns.
Picture RotatePicture(Picture in, int32_t rotation);

// Nearest-neighbour copy to width x height; empty when either is out of range.
// The picture itself when it already has that size.
Picture StretchPicture(Picture in, int width, int height);

// GS v 0: header and rows, one bit a pixel, set for anything not white.
std::string EncodeRasterImage(const Picture& p);

// ESC * single density, strips of 8 rows: per strip a black pass ending in CR
// and a second-colour pass ending in LF, one string a pass. Letter quality
// strikes every strip twice. Empty for a picture wider than 255 dots.
std::vector<std::string> EncodeColumnStrips(const Picture& p, bool letter_quality);

// Two planes (black, second colour) stored with GS ( L and printed, as one string.
std::string EncodeTwoColourGraphicsStored(const Picture& p);

// The same with GS 8 L: header 1, plane 1, header 2, plane 2 in pieces of at
// most kTwoColourPieceBytes, the print command.
constexpr size_t kTwoColourPieceBytes = 20480;
std::vector<std::string> EncodeTwoColourGraphicsPrint(const Picture& p);

}  // namespace qz381::output
