#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tools/sim/render/render.h"

namespace qz381::sim::render {
namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

Image Render(const std::string& bytes, RenderStats* stats = nullptr, RenderOptions options = {}) {
  Renderer renderer(std::move(options));
  renderer.Feed(bytes);
  renderer.FinishStream();
  if (stats) *stats = renderer.stats();
  return renderer.Snapshot();
}

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
  bool empty() const { return right < 0; }
  int width() const { return right - left + 1; }
};

Box InkBox(const Image& image, int from_row = 0, int to_row = -1) {
  Box box;
  if (to_row < 0) to_row = image.height;
  for (int y = from_row; y < to_row; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (!image.Ink(x, y)) continue;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
      box.top = std::min(box.top, y);
      box.bottom = std::max(box.bottom, y);
    }
  }
  return box;
}

const std::string kInit = B({0x1B, '@'});

RenderOptions TwoColour() {
  RenderOptions options;
  options.two_colour = true;
  return options;
}

// A picture of colour classes, row by row: '.' paper, '#' black, 'r' red.
using Picture = std::vector<std::string>;

void ExpectPicture(const Image& image, int left, int top, const Picture& picture) {
  for (size_t r = 0; r < picture.size(); ++r) {
    for (size_t c = 0; c < picture[r].size(); ++c) {
      const char want = picture[r][c];
      const Colour expected = want == '#' ? kBlack : want == 'r' ? kRed : kPaper;
      ASSERT_EQ(image.At(left + static_cast<int>(c), top + static_cast<int>(r)), expected)
          << "column " << c << ", row " << r;
    }
  }
}

std::string RasterCommand(int row_bytes, int rows, const std::string& data, int mode = 0) {
  return B({0x1D, 'v', '0', mode, row_bytes & 0xFF, row_bytes >> 8, rows & 0xFF, rows >> 8}) + data;
}

TEST(Render, RasterImageComesBackDotForDot) {
  // 16 x 3: a diagonal-ish pattern that tells left from right and top from bottom.
  const std::string data = B({0x80, 0x01, 0x3C, 0x00, 0xFF, 0xF0});
  const Image image = Render(kInit + RasterCommand(2, 3, data));
  ASSERT_EQ(image.width, kPaperWidth);
  ASSERT_GE(image.height, 3);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      bool expected = false;
      const int ix = x - kPaperMargin;
      if (y < 3 && ix >= 0 && ix < 16) {
        expected = (static_cast<uint8_t>(data[y * 2 + ix / 8]) >> (7 - ix % 8)) & 1;
      }
      ASSERT_EQ(image.Ink(x, y), expected) << x << "," << y;
    }
  }
}

TEST(Render, RasterImageFollowsAlignmentAndScale) {
  // Centred, double width and height: 8 dots become a 16 x 2 block.
  const Image image = Render(kInit + B({0x1B, 'a', 1}) + RasterCommand(1, 1, B({0xFF}), 3));
  const Box box = InkBox(image);
  EXPECT_EQ(box.left, kPaperMargin + (kPrintableDots - 16) / 2);
  EXPECT_EQ(box.width(), 16);
  EXPECT_EQ(box.top, 0);
  EXPECT_EQ(box.bottom, 1);
}

TEST(Render, ColumnImageComesBackDotForDot) {
  // Two 24-dot columns at full density, then LF: the line is the image's height.
  const std::string data = B({0x80, 0x00, 0x01, 0x0F, 0xF0, 0x00});
  const Image image = Render(kInit + B({0x1B, '*', 33, 2, 0}) + data + "\n");
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < image.width; ++x) {
      bool expected = false;
      const int column = x - kPaperMargin;
      if (column == 0 || column == 1) {
        expected = (static_cast<uint8_t>(data[column * 3 + y / 8]) >> (7 - y % 8)) & 1;
      }
      ASSERT_EQ(image.Ink(x, y), expected) << x << "," << y;
    }
  }
  // Eight-dot single density: each dot is 2 wide and 1 tall, beside the text.
  const Box box =
      InkBox(Render(kInit + "A" + B({0x1B, '*', 0, 1, 0, 0x80}) + "\n"), 0, kFontAHeight);
  EXPECT_EQ(box.right, kPaperMargin + kFontAWidth + 1);
  const Box dot = InkBox(Render(kInit + B({0x1B, '*', 0, 1, 0, 0x80}) + "\n"));
  EXPECT_EQ(dot.width(), 2);
  EXPECT_EQ(dot.bottom - dot.top + 1, 1);
  EXPECT_EQ(dot.top, 0);
}

TEST(Render, CutIsADashedLineAcrossThePaper) {
  const Image image = Render(kInit + B({0x1D, 'V', 1}));
  int dashed_rows = 0;
  for (int y = 0; y < image.height; ++y) {
    bool dashed = true;
    for (int x = 0; x < image.width; ++x) {
      if (image.Ink(x, y) != (x % (2 * kCutDash) < kCutDash)) dashed = false;
    }
    if (dashed) {
      ++dashed_rows;
      EXPECT_EQ(y, kCutGap);
    }
  }
  EXPECT_EQ(dashed_rows, 1);
  EXPECT_EQ(image.height, 2 * kCutGap + 1);
}

TEST(Render, RightAlignmentMovesTextToTheRightEdge) {
  const Box left = InkBox(Render(kInit + "AB\n"));
  const Box right = InkBox(Render(kInit + B({0x1B, 'a', 2}) + "AB\n"));
  const Box centre = InkBox(Render(kInit + B({0x1B, 'a', 1}) + "AB\n"));
  ASSERT_FALSE(left.empty());
  EXPECT_EQ(right.left - left.left, kPrintableDots - 2 * kFontAWidth);
  EXPECT_EQ(centre.left - left.left, (kPrintableDots - 2 * kFontAWidth) / 2);
  EXPECT_EQ(right.width(), left.width());
}

TEST(Render, DoubleWidthDoublesTheInk) {
  const Box normal = InkBox(Render(kInit + "HIM\n"));
  const Box wide = InkBox(Render(kInit + B({0x1B, '!', 0x20}) + "HIM\n"));
  const Box scaled = InkBox(Render(kInit + B({0x1D, '!', 0x20}) + "HIM\n"));
  EXPECT_EQ(wide.width(), 2 * normal.width());
  EXPECT_EQ(scaled.width(), 3 * normal.width());
  // Double height keeps the width and doubles the height.
  const Box tall = InkBox(Render(kInit + B({0x1B, '!', 0x10}) + "HIM\n"));
  EXPECT_EQ(tall.width(), normal.width());
  EXPECT_EQ(tall.bottom - tall.top + 1, 2 * (normal.bottom - normal.top + 1));
}

TEST(Render, LineWidthsOfBothFonts) {
  // 42 normal characters fit one line, the 43rd wraps.
  EXPECT_LT(InkBox(Render(kInit + std::string(42, 'W') + "\n")).bottom, kFontAHeight);
  EXPECT_GT(InkBox(Render(kInit + std::string(43, 'W') + "\n")).bottom, kFontAHeight);
  const std::string font_b = kInit + B({0x1B, 'M', 1});
  EXPECT_LT(InkBox(Render(font_b + std::string(56, 'W') + "\n")).bottom, kFontBHeight);
  EXPECT_GT(InkBox(Render(font_b + std::string(57, 'W') + "\n")).bottom, kFontBHeight);
}

TEST(Render, UnderlineEmphasisAndFeeds) {
  const Image plain = Render(kInit + "a\n");
  const Image one = Render(kInit + B({0x1B, '-', 1}) + "a\n");
  const Image two = Render(kInit + B({0x1B, '-', 2}) + "a\n");
  EXPECT_EQ(InkBox(one).bottom, kFontAHeight - 1);
  EXPECT_EQ(InkBox(one).width(), kFontAWidth);
  EXPECT_FALSE(InkBox(one, kFontAHeight - 2, kFontAHeight - 1).left == kPaperMargin);
  EXPECT_EQ(InkBox(two, kFontAHeight - 2, kFontAHeight - 1).left, kPaperMargin);
  EXPECT_EQ(InkBox(Render(kInit + B({0x1B, 'E', 1}) + "l\n")).width(),
            InkBox(Render(kInit + "l\n")).width() + 1);
  // LF feeds the line spacing, ESC 3 sets it, ESC J and ESC d feed dots and lines.
  // Motion is counted in 1/360 inch, two units a dot.
  EXPECT_EQ(plain.height, kDefaultLineDots);
  EXPECT_EQ(Render(kInit + B({0x1B, '3', 100}) + "a\n").height, 50);
  EXPECT_EQ(Render(kInit + B({0x1B, '3', 20}) + "a\n").height, kFontAHeight);
  EXPECT_EQ(Render(kInit + B({0x1B, 'J', 154})).height, 77);
  EXPECT_EQ(Render(kInit + B({0x1B, 'J', 77, 0x1B, 'J', 77})).height, 77);  // halves add up
  EXPECT_EQ(Render(kInit + B({0x1B, 'd', 3})).height, 3 * kDefaultLineDots);
  EXPECT_EQ(Render(kInit + B({0x1B, '3', 40, 0x1B, '2'}) + "\n").height, kDefaultLineDots);
}

TEST(Render, CodeTablesPickTheCharacterAndUnknownOnesGetABox) {
  // A table without a character set: the byte is an outlined box.
  RenderStats stats;
  const Box box = InkBox(Render(kInit + B({0x1B, 't', 1, 0xC7}) + "\n", &stats));
  EXPECT_EQ(stats.placeholders, 1u);
  EXPECT_EQ(box.left, kPaperMargin + 1);
  EXPECT_EQ(box.width(), kFontAWidth - 2);
  // 0xC7 is C with a cedilla in code page 1252 and a box-drawing piece in 437.
  const Image plain_c = Render(kInit + "C\n");
  const Image cedilla = Render(kInit + B({0x1B, 't', 16, 0xC7}) + "\n", &stats);
  EXPECT_EQ(stats.placeholders, 0u);
  EXPECT_GT(InkBox(cedilla).bottom, InkBox(plain_c).bottom);
  EXPECT_EQ(InkBox(cedilla, 0, InkBox(plain_c).bottom + 1).top, InkBox(plain_c).top);
  const Box line = InkBox(Render(kInit + B({0xC4}) + "\n"));  // a horizontal line in 437
  EXPECT_EQ(line.width(), kFontAWidth);
  EXPECT_LT(line.bottom - line.top, 4);
  // ESC R 3: the UK set prints a pound sign for '#'.
  EXPECT_NE(Render(kInit + B({0x1B, 'R', 3}) + "#\n"), Render(kInit + "#\n"));
  EXPECT_EQ(Render(kInit + B({0x1B, 'R', 3}) + "A\n"), Render(kInit + "A\n"));
}

TEST(Render, BarcodesAndSymbolsAreDrawnAlignedWithTheirText) {
  // EAN-13, module width 2, 50 dots tall, readable text below in font B.
  const std::string ean = B({0x1D, 'h', 50, 0x1D, 'w', 2, 0x1D, 'H', 2, 0x1D, 'f', 1, 0x1B, 'a', 1,
                             0x1D, 'k', 67, 12}) +
                          "400638133393";
  const Image image = Render(kInit + ean);
  EXPECT_EQ(image.height, 50 + kFontBHeight);
  const Box bars = InkBox(image, 0, 50);
  EXPECT_EQ(bars.width(), 95 * 2);
  EXPECT_EQ(bars.left, kPaperMargin + (kPrintableDots - 95 * 2) / 2);
  const Box text = InkBox(image, 50);
  EXPECT_GT(text.left, bars.left);  // 13 digits of font B, centred under the bars
  EXPECT_LT(text.right, bars.right);

  // Refused data prints nothing and says why.
  std::vector<std::string> errors;
  RenderOptions options;
  options.on_error = [&](const std::string& line) { errors.push_back(line); };
  RenderStats stats;
  const Image refused = Render(kInit + B({0x1D, 'k', 69, 3}) + "abc", &stats, std::move(options));
  EXPECT_TRUE(InkBox(refused).empty());
  EXPECT_EQ(stats.refused_symbols, 1u);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("GS k: ", 0), 0u) << errors[0];

  // A QR code stored and printed: square, centred, in the second colour.
  const std::string qr =
      B({0x1B, 'a', 1, 0x1B, 'r', 1,  0x1D, '(',  'k', 4,   0, 49, 65, 50, 0, 0x1D,
         '(',  'k', 3, 0,    49,  67, 4,    0x1D, '(', 'k', 8, 0,  49, 80, 48}) +
      "QZ381" + B({0x1D, '(', 'k', 3, 0, 49, 81, 48});
  const Image symbol = Render(kInit + qr, nullptr, TwoColour());
  const Box square = InkBox(symbol);
  EXPECT_EQ(square.width(), 21 * 4);
  EXPECT_EQ(square.bottom - square.top + 1, 21 * 4);
  EXPECT_EQ(square.left, kPaperMargin + (kPrintableDots - 21 * 4) / 2);
  EXPECT_EQ(symbol.At(square.left, square.top), kRed);
}

TEST(Render, OversizedInputIsClippedAndBounded) {
  RenderStats stats;
  // 4096 dots wide: only 512 land on the paper.
  const Image wide =
      Render(kInit + RasterCommand(512, 100, std::string(512 * 100, '\xFF')), &stats);
  EXPECT_EQ(stats.clipped_images, 1u);
  EXPECT_EQ(InkBox(wide).left, kPaperMargin);
  EXPECT_EQ(InkBox(wide).right, kPaperMargin + kPrintableDots - 1);
  EXPECT_EQ(InkBox(wide).bottom, 99);

  // Endless feeds stop at the page limit.
  RenderOptions options;
  options.max_height = 1000;
  std::string feeds = kInit;
  for (int i = 0; i < 100; ++i) feeds += B({0x1B, 'J', 255}) + "x";
  feeds += "\n" + RasterCommand(1, 65535, std::string(65535, '\xFF'));
  const Image tall = Render(feeds, &stats, std::move(options));
  EXPECT_EQ(tall.height, 1000);
  EXPECT_GT(stats.dropped_rows, 0u);

  // A raster command the stream ends inside draws nothing.
  const Image cut_short = Render(kInit + RasterCommand(2, 2, B({0xFF})), &stats);
  EXPECT_TRUE(InkBox(cut_short).empty());
  EXPECT_EQ(stats.clipped_images, 1u);
}

TEST(Render, HostileLinesStayInsideTheirFrameAndBounded) {
  RenderStats stats;
  // Moving back along the line without printing fills the line buffer; what
  // does not fit is dropped and reported once.
  std::string back = kInit;
  for (int i = 0; i < 200; ++i) back += std::string(42, 'A') + B({0x1B, '$', 0, 0});
  const Image full = Render(back + "\n", &stats);
  EXPECT_EQ(stats.errors, 1u);
  EXPECT_FALSE(InkBox(full).empty());

  // A character wider than what the margins leave prints only inside them.
  const Image margin =
      Render(kInit + B({0x1D, 'L', 0xE0, 0x01, 0x1D, '!', 0x70, 0x1D, 'B', 1}) + "A\n", &stats);
  EXPECT_EQ(InkBox(margin).left, kPaperMargin + 480);
  EXPECT_EQ(InkBox(margin).right, kPaperMargin + kPrintableDots - 1);

  // Huge characters in page mode after the page is full are skipped, not
  // drawn dot by dot for nothing.
  const Image page = Render(kInit + B({0x1B, 'L', 0x1D, '!', 0x77, 0x1B, ' ', 0xFF}) +
                                std::string(20000, 'A') + B({0x0C}),
                            &stats);
  EXPECT_FALSE(InkBox(page).empty());

  // An FS q image wider than the paper is reported as clipped when printed.
  std::string nv = kInit + B({0x1C, 'q', 1, 80, 0, 1, 0}) + std::string(80 * 8, '\xFF');
  Render(nv + B({0x1C, 'p', 1, 0}), &stats);
  EXPECT_EQ(stats.clipped_images, 1u);
}

TEST(Render, TabsAndRelativeMovesPlaceTheNextCharacter) {
  // Stops at columns 5 and 9 (12-dot cells); HT past the last stop does nothing.
  const Image tabs = Render(kInit + B({0x1B, 'D', 5, 9, 0}) + "\t" + B({0x1D, 'B', 1}) + " \n");
  EXPECT_EQ(InkBox(tabs).left, kPaperMargin + 5 * 12);
  const Image past = Render(kInit + B({0x1B, 'D', 1, 0}) + "XX\t" + B({0x1D, 'B', 1}) + " \n");
  EXPECT_EQ(InkBox(past, 0, 24).right, kPaperMargin + 3 * 12 - 1);
  // Default stops every eight cells of the font in use.
  const Image eight = Render(kInit + B({0x1B, 'M', 1}) + "\t" + B({0x1D, 'B', 1}) + " \n");
  EXPECT_EQ(InkBox(eight).left, kPaperMargin + 8 * 9);
  // ESC \\ moves by a signed count of dots from where the line stands.
  const Image moved =
      Render(kInit + B({0x1B, '\\', 100, 0, 0x1B, '\\', 0xF6, 0xFF, 0x1D, 'B', 1}) + " \n");
  EXPECT_EQ(InkBox(moved).left, kPaperMargin + 90);
}

TEST(Render, ReverseInvertsTheCell) {
  const Image image = Render(kInit + B({0x1D, 'B', 1}) + " \n");
  const Box box = InkBox(image);
  EXPECT_EQ(box.left, kPaperMargin);
  EXPECT_EQ(box.width(), kFontAWidth);
  EXPECT_EQ(box.bottom - box.top + 1, kFontAHeight);
}

TEST(Render, UpsideDownTurnsTheLineAboutItsCentre) {
  const std::string line = "Ab_" + B({0x1B, '*', 33, 1, 0, 0xF0, 0x00, 0x01}) + "\n";
  const Image normal = Render(kInit + line);
  const Image turned = Render(kInit + B({0x1B, '{', 1}) + line);
  ASSERT_EQ(normal.height, turned.height);
  int ink = 0;
  for (int y = 0; y < kFontAHeight; ++y) {
    for (int x = kPaperMargin; x < kPaperMargin + kPrintableDots; ++x) {
      ASSERT_EQ(turned.Ink(x, y),
                normal.Ink(2 * kPaperMargin + kPrintableDots - 1 - x, kFontAHeight - 1 - y))
          << x << "," << y;
      ink += turned.Ink(x, y);
    }
  }
  EXPECT_GT(ink, 0);
}

TEST(Render, ArbitraryBytesStayWithinThePage) {
  // Pseudo-random streams, biased towards the commands the renderer acts on.
  const std::string prefixes[] = {B({0x1B, '!'}),
                                  B({0x1D, '!'}),
                                  B({0x1D, 'v', '0', 0, 4, 0, 3, 0}),
                                  B({0x1B, '*', 33, 200, 0}),
                                  B({0x1B, '*', 0, 40, 1}),
                                  B({0x1B, 'J'}),
                                  B({0x1B, 'd'}),
                                  B({0x1D, 'V'}),
                                  B({0x1B, ' '}),
                                  B({0x1D, 'L'}),
                                  B({0x1D, 'W'}),
                                  B({0x1D, '(', 'L', 12, 0, 48, 112, 48, 2, 2, 50}),
                                  B({0x1D, '(', 'L', 2, 0, 48, 50}),
                                  B({0x1D, '(', 'k', 3, 0, 49, 81, 48}),
                                  B({0x1D, '(', 'k', 6, 0, 49, 80, 48}),
                                  B({0x1D, 'k', 73}),
                                  B({0x1D, 'k', 2}),
                                  B({0x1B, 'L'}),
                                  B({0x1B, 'T'}),
                                  B({0x1B, 'W'}),
                                  B({0x0C}),
                                  B({0x1B, 'r'}),
                                  "\r",
                                  "\n",
                                  "text"};
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
  for (int run = 0; run < 20; ++run) {
    std::string bytes;
    while (bytes.size() < 20000) {
      if (next() % 3 == 0) bytes += prefixes[next() % std::size(prefixes)];
      bytes += static_cast<char>(next() & 0xFF);
    }
    RenderOptions options;
    options.max_height = 3000;
    const Image image = Render(bytes, nullptr, std::move(options));
    EXPECT_EQ(image.width, kPaperWidth);
    EXPECT_LE(image.height, 3000);
  }
}

TEST(Render, EveryCutEndsAPageWhenAsked) {
  std::vector<Image> pages;
  RenderOptions options;
  options.on_page = [&](Image page) { pages.push_back(std::move(page)); };
  RenderStats stats;
  Render(kInit + "one\n" + B({0x1D, 'V', 1}) + "two\n" + B({0x1D, 'V', 66, 20}), &stats,
         std::move(options));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(stats.pages, 2u);
  EXPECT_EQ(pages[0].height, kDefaultLineDots + 2 * kCutGap + 1);
  EXPECT_EQ(pages[1].height, kDefaultLineDots + 10 + 2 * kCutGap + 1);
}

TEST(Render, PngRoundTrip) {
  Image image = Render(kInit + "PNG\n");
  const std::string path = ::testing::TempDir() + "render_round_trip.png";
  std::string error;
  ASSERT_TRUE(WritePng(image, path, &error)) << error;
  Image back;
  ASSERT_TRUE(ReadPng(path, &back, &error)) << error;
  EXPECT_EQ(back, image);
  EXPECT_FALSE(ReadPng(path + ".missing", &back, &error));
}

TEST(Render, SecondColourIsRedOnATwoColourModelOnly) {
  const std::string red_text = kInit + B({0x1B, 'r', 1}) + "X" + B({0x1B, 'r', 0}) + "X\n";
  const Image two = Render(red_text, nullptr, TwoColour());
  const Image one = Render(red_text);
  int red = 0, black = 0;
  for (int y = 0; y < kFontAHeight; ++y) {
    for (int x = 0; x < kPaperWidth; ++x) {
      const bool first_cell = x < kPaperMargin + kFontAWidth;
      if (two.At(x, y) == kRed) {
        ++red;
        EXPECT_TRUE(first_cell);
      }
      if (two.At(x, y) == kBlack) {
        ++black;
        EXPECT_FALSE(first_cell);
      }
      EXPECT_NE(one.At(x, y), kRed);
      EXPECT_EQ(one.Ink(x, y), two.Ink(x, y));
    }
  }
  EXPECT_GT(red, 0);
  EXPECT_EQ(red, black);
  // The colour command of the current command set does the same.
  const Image gs = Render(kInit + B({0x1D, '(', 'N', 2, 0, 48, 50}) + "X\n", nullptr, TwoColour());
  EXPECT_EQ(gs.At(InkBox(gs).left, InkBox(gs).top), kRed);
}

TEST(Render, ColumnStripsInTwoPassesComeBackAsThePicture) {
  // The service's strip form: an 8-dot line spacing, then for each strip a
  // black pass ended by CR and a red pass ended by LF, each column a byte.
  // With letter quality each strip is first struck once more, both passes
  // ended by CR.
  const Picture picture = {"#r..", "#r..", "....", "..##", "..rr", "....", "....", "....",
                           "r#r#", "....", "....", "....", "....", "....", "....", "#..#"};
  for (const bool letter_quality : {false, true}) {
    std::string bytes = kInit + B({0x1B, '3', 16});
    for (int strip = 0; strip < 2; ++strip) {
      auto pass = [&](char cls, char end) {
        std::string columns;
        for (int c = 0; c < 4; ++c) {
          uint8_t bits = 0;
          for (int k = 0; k < 8; ++k) {
            if (picture[strip * 8 + k][c] == cls) bits |= 0x80 >> k;
          }
          columns += static_cast<char>(bits);
        }
        return B({0x1B, 'r', cls == 'r' ? 1 : 0, 0x1B, '*', 0, 4, 0}) + columns + end;
      };
      if (letter_quality) bytes += pass('#', '\r') + pass('r', '\r');
      bytes += pass('#', '\r') + pass('r', '\n');
    }
    const Image image = Render(bytes, nullptr, TwoColour());
    EXPECT_EQ(image.height, 16);
    // Single density: every column two dots wide.
    Picture doubled;
    for (const std::string& row : picture) {
      std::string wide;
      for (char c : row) wide += std::string(2, c);
      doubled.push_back(wide);
    }
    ExpectPicture(image, kPaperMargin, 0, doubled);
  }
}

TEST(Render, TwoColourGraphicsPrintBothPlanes) {
  // Plane 1 (black) and plane 2 (red) of a 10 x 2 picture, then print.
  auto store = [](int plane, const std::string& rows) {
    const int size = 10 + static_cast<int>(rows.size());
    return B({0x1D, '(', 'L', size & 0xFF, size >> 8, 48, 112, 48, 1, 1, plane, 10, 0, 2, 0}) +
           rows;
  };
  const std::string bytes = kInit + B({0x1B, 'a', 1}) + store(49, B({0xC0, 0x40, 0x00, 0x00})) +
                            store(50, B({0x30, 0x00, 0xFF, 0xC0})) +
                            B({0x1D, '(', 'L', 2, 0, 48, 50});
  const Image image = Render(bytes, nullptr, TwoColour());
  const int left = kPaperMargin + (kPrintableDots - 10) / 2;
  ExpectPicture(image, left - 1, 0, {".##rr.....#.", ".rrrrrrrrrr.", "............"});
  // GS 8 L carries the same functions with a 32-bit length.
  const std::string big =
      kInit + B({0x1D, '8', 'L', 12, 0,    0,    0,    48,  112, 48, 1, 1,  50,
                 16,   0,   1,   0,  0x81, 0x18, 0x1D, '(', 'L', 2,  0, 48, 50});
  ExpectPicture(Render(big, nullptr, TwoColour()), kPaperMargin, 0, {"r......r...rr..."});
}

TEST(Render, PageModeDrawsIntoTheAreaInTheDirectionAsked) {
  // A 100 x 60 area at (20, 0): one line of text, printed by FF.
  const std::string area = B({0x1B, 'W', 20, 0, 0, 0, 100, 0, 60, 0});
  auto page = [&](int direction) {
    return Render(kInit + B({0x1B, 'L'}) + area + B({0x1B, 'T', direction}) + "II\n" + B({0x0C}) +
                  "after\n");
  };
  const Image across = page(0);
  const Box text = InkBox(across, 0, 60);
  EXPECT_GE(text.left, kPaperMargin + 20);
  EXPECT_LT(text.bottom, kFontAHeight);
  EXPECT_GT(text.width(), kFontAWidth);  // two characters side by side
  // Standard mode resumes below the whole area.
  EXPECT_GE(InkBox(across, 60).top, 60);
  EXPECT_EQ(across.height, 60 + kDefaultLineDots);

  // Bottom to top: the line runs up the area's left edge.
  const Box up = InkBox(page(1), 0, 60);
  EXPECT_LT(up.width(), kFontAHeight + 1);
  EXPECT_GT(up.bottom - up.top + 1, kFontAWidth);
  EXPECT_GT(up.bottom, 60 - 2 * kFontAWidth - 1);
  EXPECT_LT(up.left, kPaperMargin + 20 + kFontAHeight);
  // Right to left: the first line's text turned over, at the bottom right.
  const Box over = InkBox(page(2), 0, 60);
  EXPECT_GT(over.top, 60 - kFontAHeight - 1);
  EXPECT_GT(over.right, kPaperMargin + 20 + 100 - 2 * kFontAWidth - 1);
  // Top to bottom: down the right edge.
  const Box down = InkBox(page(3), 0, 60);
  EXPECT_LT(down.top, 2 * kFontAWidth);
  EXPECT_GT(down.right, kPaperMargin + 20 + 100 - kFontAHeight - 1);

  // CAN drops the page; ESC S leaves page mode without printing.
  EXPECT_TRUE(InkBox(Render(kInit + B({0x1B, 'L'}) + area + "gone\n" + B({0x18, 0x0C}))).empty());
  EXPECT_TRUE(InkBox(Render(kInit + B({0x1B, 'L'}) + "gone\n" + B({0x1B, 'S'}))).empty());
}

TEST(Render, StoredImagesAndUserCharactersPrintAsDefined) {
  // GS *: 1 x 1 (8 x 8 dots), columns top bit first; a diagonal.
  const std::string diagonal = B({0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01});
  const Image gs =
      Render(kInit + B({0x1D, '*', 1, 1}) + diagonal + B({0x1D, '/', 0}) + B({0x1D, '/', 3}));
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; ++j) EXPECT_EQ(gs.Ink(kPaperMargin + i, j), i == j) << i << "," << j;
  }
  // Quadruple: each dot 2 x 2, below the first.
  EXPECT_TRUE(gs.Ink(kPaperMargin + 15, 8 + 15));
  EXPECT_FALSE(gs.Ink(kPaperMargin + 15, 8 + 13));

  // FS q two images, FS p prints the second, centred.
  const std::string nv = B({0x1C, 'q', 2, 1, 0, 1, 0}) + diagonal + B({2, 0, 1, 0}) +
                         std::string(16, '\xFF') + B({0x1B, 'a', 1, 0x1C, 'p', 2, 0});
  const Box block = InkBox(Render(kInit + nv));
  EXPECT_EQ(block.width(), 16);
  EXPECT_EQ(block.bottom - block.top + 1, 8);
  EXPECT_EQ(block.left, kPaperMargin + (kPrintableDots - 16) / 2);

  // ESC & defines 'A' as a 3-dot wide bar; it prints while ESC % 1 is on.
  const std::string bar = B({0x1B, '&', 3, 'A', 'A', 3}) + std::string(9, '\xFF');
  const Box user = InkBox(Render(kInit + bar + B({0x1B, '%', 1}) + "A\n"));
  EXPECT_EQ(user.left, kPaperMargin);
  EXPECT_EQ(user.width(), 3);
  EXPECT_EQ(user.bottom - user.top + 1, kFontAHeight);
  EXPECT_EQ(Render(kInit + bar + B({0x1B, '%', 1, 0x1B, '%', 0}) + "A\n"), Render(kInit + "A\n"));
  EXPECT_EQ(Render(kInit + bar + B({0x1B, '%', 1, 0x1B, '?', 'A'}) + "A\n"), Render(kInit + "A\n"));
}

TEST(Render, WhatCannotBeDrawnIsReported) {
  std::vector<std::string> errors;
  RenderOptions options;
  options.on_error = [&](const std::string& line) { errors.push_back(line); };
  RenderStats stats;
  Render(kInit + RasterCommand(80, 1, std::string(80, '\xFF')) + B({0x1D, '/', 0}) +
             RasterCommand(1, 2, "x"),
         &stats, std::move(options));
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0], "GS v 0: 640 dots wide, clipped to the 512 dots of the line");
  EXPECT_EQ(errors[1], "GS /: no such image stored; nothing printed");
  EXPECT_EQ(errors[2], "GS v 0: the data ended inside the command; not printed");
  EXPECT_EQ(stats.errors, 3u);
  // Commands the drawing does not follow say so.
  errors.clear();
  RenderOptions told;
  told.on_error = [&](const std::string& line) { errors.push_back(line); };
  Render(kInit + B({0x1B, 'V', 1, 0x1B, 'V', 0, 0x1B, 'K', 4, 0x1D, 'P', 180, 180}), &stats,
         std::move(told));
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0], "not drawn: 90-degree rotation (ESC V)");
  EXPECT_EQ(errors[1], "not drawn: reverse feed (ESC K)");
  EXPECT_EQ(stats.unsupported, 3u);
}

// Reference receipts against stored images, pixel for pixel. To redraw them
// after an intended change, run with QZ381_RENDER_UPDATE=1 and look at them.
struct Golden {
  const char* file;
  std::string bytes;
  bool two_colour = false;
};

std::vector<Golden> GoldenReceipts() {
  std::vector<Golden> receipts;
  receipts.push_back(
      {"receipt.png", kInit + B({0x1B, 'a', 1, 0x1D, '!', 0x11}) + "QZ SHOP\n" +
                          B({0x1D, '!', 0x00, 0x1B, 'a', 0}) + "Coffee            2.50\n" +
                          B({0x1B, 'M', 1}) + "Compressed font: 56 columns {|}~\n" +
                          B({0x1B, 'M', 0}) + B({0x1B, 'E', 1, 0x1B, '-', 1}) + "TOTAL 2.50\n" +
                          B({0x1B, 'E', 0, 0x1B, '-', 0}) + B({0x1B, 'a', 2}) +
                          RasterCommand(2, 4, B({0xF0, 0x0F, 0x0F, 0xF0, 0xF0, 0x0F, 0x0F, 0xF0})) +
                          B({0x1B, 'a', 0, 0x1B, 'J', 20}) + "Thank you!\n" + B({0x1D, 'V', 1})});
  receipts.push_back(
      {"two-colour.png",
       kInit + B({0x1B, 'a', 1, 0x1B, '!', 0x38, 0x1B, 'r', 1}) + "SALE\n" +
           B({0x1B, '!', 0, 0x1B, 'r', 0, 0x1B, 'a', 0}) + "Tea                        1.20\n" +
           B({0x1B, 'r', 1, 0x1D, 'B', 1}) + " -10% " + B({0x1D, 'B', 0, 0x1B, 'r', 0}) +
           "                 -0.12\n" + B({0x1B, '3', 16, 0x1B, 'a', 1}) +
           B({0x1B, 'r', 0, 0x1B, '*', 0, 8, 0, 0xFF, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0xFF}) +
           "\r" + B({0x1B, 'r', 1, 0x1B, '*', 0, 8, 0, 0, 0, 0x3C, 0x3C, 0x3C, 0x3C, 0, 0}) + "\n" +
           B({0x1B, '2', 0x1D, '(', 'L', 18, 0, 48, 112, 48, 2, 2, 49, 16, 0, 4, 0}) +
           B({0xF0, 0x0F, 0xF0, 0x0F, 0x0F, 0xF0, 0x0F, 0xF0}) +
           B({0x1D, '(', 'L', 18, 0, 48, 112, 48, 2, 2, 50, 16, 0, 4, 0}) +
           B({0x0F, 0xF0, 0x0F, 0xF0, 0xF0, 0x0F, 0xF0, 0x0F}) + B({0x1D, '(', 'L', 2, 0, 48, 50}) +
           B({0x1D, 'V', 66, 0}),
       true});
  const std::string ean =
      B({0x1D, 'h', 60, 0x1D, 'w', 2, 0x1D, 'H', 2, 0x1D, 'k', 67, 12}) + "400638133393";
  const std::string code128 =
      B({0x1D, 'h', 50, 0x1D, 'w', 2, 0x1D, 'H', 3, 0x1D, 'f', 1, 0x1D, 'k', 73, 12}) +
      "{AQZ-381{Bqz";
  const std::string qr = B({0x1D, '(', 'k', 4, 0,    49,  65,  50, 0, 0x1D, '(', 'k', 3,
                            0,    49,  67,  3, 0x1D, '(', 'k', 27, 0, 49,   80,  48}) +
                         "https://example.com/r/42" + B({0x1D, '(', 'k', 3, 0, 49, 81, 48});
  const std::string pdf417 = B({0x1D, '(', 'k', 3, 0,    48,  67,  2,  0x1D, '(', 'k', 3,
                                0,    48,  68,  3, 0x1D, '(', 'k', 15, 0,    48,  80,  48}) +
                             "RECEIPT 0042" + B({0x1D, '(', 'k', 3, 0, 48, 81, 48});
  receipts.push_back({"barcodes.png", kInit + B({0x1B, 'a', 1}) + ean + "\n" + code128 + "\n" + qr +
                                          "\n" + pdf417 + "\n" + B({0x1D, 'V', 1})});
  receipts.push_back(
      {"code-pages.png",
       kInit + B({0x1B, 't', 0, 0xC9, 0xCD, 0xCD, 0xBB, ' ', 0x9C, 0x9D, 0xE1}) + "\n" +
           B({0x1B, 't', 16}) + "Caf" + B({0xE9, ' ', 0x80, ' ', 0xC7, 0xD1, 0xDF}) + "\n" +
           B({0x1B, 't', 17, 0x8F, 0xE0, 0xA8, 0xA2, 0xA5, 0xE2}) + "\n" +
           B({0x1B, 't', 24, 0xC1, 0xE8, 0xF0, 0xDC}) + "\n" + B({0x1B, 't', 1, 0xC7}) + "\n" +
           B({0x1B, 't', 0, 0x1B, 'R', 3}) + "#5 " + B({0x1B, 'R', 2}) + "@[\\]\n" +
           B({0x1B, 'R', 0, 0x1B, 'M', 1, 0x1B, 't', 2}) +
           "Font B: " + B({0x82, 0x85, 0x8A, 0xA4}) + "\n" + B({0x1D, 'V', 1})});
  const std::string area = B({0x1B, 'W', 0, 0, 0, 0, 0, 1, 140, 0});
  receipts.push_back({"page-mode.png", kInit + "Standard mode\n" + B({0x1B, 'L'}) + area +
                                           B({0x1B, 'T', 0}) + "Left to right\n" +
                                           B({0x1B, 'T', 1}) + "Upwards\n" + B({0x1B, 'T', 3}) +
                                           "Downwards\n" + B({0x1B, 'T', 2}) + "Upside down\n" +
                                           B({0x0C}) + "Standard again\n" + B({0x1D, 'V', 1})});
  return receipts;
}

TEST(Render, GoldenReceipts) {
  const bool update = std::getenv("QZ381_RENDER_UPDATE") != nullptr;
  for (const Golden& golden : GoldenReceipts()) {
    SCOPED_TRACE(golden.file);
    RenderOptions options;
    options.two_colour = golden.two_colour;
    std::string errors;
    options.on_error = [&](const std::string& line) { errors += line + "\n"; };
    const Image image = Render(golden.bytes, nullptr, std::move(options));
    EXPECT_EQ(errors, "");
    const std::string path = std::string(QZ381_RENDER_TESTDATA) + "/" + golden.file;
    std::string error;
    if (update) {
      ASSERT_TRUE(WritePng(image, path, &error)) << error;
    }
    Image stored;
    ASSERT_TRUE(ReadPng(path, &stored, &error)) << error;
    ASSERT_EQ(stored.width, image.width);
    ASSERT_EQ(stored.height, image.height);
    EXPECT_TRUE(stored.pixels == image.pixels);
  }
}

}  // namespace
}  // namespace qz381::sim::render
