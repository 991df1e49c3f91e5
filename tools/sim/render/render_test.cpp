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
  // Eight-dot single density: each dot is 2 wide and 3 tall, beside the text.
  const Box box =
      InkBox(Render(kInit + "A" + B({0x1B, '*', 0, 1, 0, 0x80}) + "\n"), 0, kFontAHeight);
  EXPECT_EQ(box.right, kPaperMargin + kFontAWidth + 1);
  const Box dot = InkBox(Render(kInit + B({0x1B, '*', 0, 1, 0, 0x80}) + "\n"));
  EXPECT_EQ(dot.width(), 2);
  EXPECT_EQ(dot.bottom - dot.top + 1, 3);
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
  EXPECT_EQ(InkBox(Render(kInit + std::string(42, 'W') + "\n")).bottom, kFontAHeight - 3);
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
  EXPECT_EQ(plain.height, kDefaultLineSpacing);
  EXPECT_EQ(Render(kInit + B({0x1B, '3', 50}) + "a\n").height, 50);
  EXPECT_EQ(Render(kInit + B({0x1B, '3', 10}) + "a\n").height, kFontAHeight);
  EXPECT_EQ(Render(kInit + B({0x1B, 'J', 77})).height, 77);
  EXPECT_EQ(Render(kInit + B({0x1B, 'd', 3})).height, 3 * kDefaultLineSpacing);
  EXPECT_EQ(Render(kInit + B({0x1B, '3', 40, 0x1B, '2'}) + "\n").height, kDefaultLineSpacing);
}

TEST(Render, UnknownCharactersGetABoxAndUndrawnCommandsAreCounted) {
  RenderStats stats;
  const Image image =
      Render(kInit + B({0xC7}) + "\n" + B({0x1D, 'k', 73, 3, '{', 'A', 'B'}), &stats);
  EXPECT_EQ(stats.placeholders, 1u);
  EXPECT_EQ(stats.unsupported, 1u);
  const Box box = InkBox(image);
  EXPECT_EQ(box.left, kPaperMargin + 1);
  EXPECT_EQ(box.width(), kFontAWidth - 2);
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
  EXPECT_EQ(pages[0].height, kDefaultLineSpacing + 2 * kCutGap + 1);
  EXPECT_EQ(pages[1].height, kDefaultLineSpacing + 20 + 2 * kCutGap + 1);
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

// A small receipt against the stored reference image. To redraw the reference
// after an intended change, run with QZ381_RENDER_UPDATE=1 and look at it.
TEST(Render, GoldenReceipt) {
  const std::string receipt =
      kInit + B({0x1B, 'a', 1, 0x1D, '!', 0x11}) + "QZ SHOP\n" +
      B({0x1D, '!', 0x00, 0x1B, 'a', 0}) + "Coffee            2.50\n" + B({0x1B, 'M', 1}) +
      "Compressed font: 56 columns {|}~\n" + B({0x1B, 'M', 0}) + B({0x1B, 'E', 1, 0x1B, '-', 1}) +
      "TOTAL 2.50\n" + B({0x1B, 'E', 0, 0x1B, '-', 0}) + B({0x1B, 'a', 2}) +
      RasterCommand(2, 4, B({0xF0, 0x0F, 0x0F, 0xF0, 0xF0, 0x0F, 0x0F, 0xF0})) +
      B({0x1B, 'a', 0, 0x1B, 'J', 10}) + "Thank you!\n" + B({0x1D, 'V', 1});
  const Image image = Render(receipt);
  const std::string path = std::string(QZ381_RENDER_TESTDATA) + "/receipt.png";
  std::string error;
  if (std::getenv("QZ381_RENDER_UPDATE") != nullptr) {
    ASSERT_TRUE(WritePng(image, path, &error)) << error;
  }
  Image golden;
  ASSERT_TRUE(ReadPng(path, &golden, &error)) << error;
  ASSERT_EQ(golden.width, image.width);
  ASSERT_EQ(golden.height, image.height);
  EXPECT_TRUE(golden.pixels == image.pixels);
}

}  // namespace
}  // namespace qz381::sim::render
