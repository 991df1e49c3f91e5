#include "platform/picture.h"

#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace qz381::platform {
namespace {

std::string Le(uint32_t v, int size) {
  std::string s;
  for (int i = 0; i < size; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

// A BMP file: the 40-byte header, an optional table or masks, then the rows.
std::string Bmp(int32_t width, int32_t height, int bits, const std::string& table,
                const std::string& rows, uint32_t compression = 0) {
  const uint32_t offset = 14 + 40 + static_cast<uint32_t>(table.size());
  std::string header = "BM" + Le(offset + static_cast<uint32_t>(rows.size()), 4) + Le(0, 4) +
                       Le(offset, 4) + Le(40, 4) + Le(static_cast<uint32_t>(width), 4) +
                       Le(static_cast<uint32_t>(height), 4) + Le(1, 2) + Le(bits, 2) +
                       Le(compression, 4) + Le(0, 4) + Le(2835, 4) + Le(2835, 4) + Le(0, 4) +
                       Le(0, 4);
  return header + table + rows;
}

std::vector<uint8_t> Rgb(std::initializer_list<int> values) {
  return std::vector<uint8_t>(values.begin(), values.end());
}

TEST(Picture, BitmapsOfEveryLayoutDecodeToTheSamePixels) {
  // 2 x 2: red, green on top; blue, white below.
  const std::vector<uint8_t> expected = Rgb({255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255});
  struct Case {
    const char* name;
    std::string file;
  };
  const Case cases[] = {
      {"24 bits, bottom-up, rows padded to 4 bytes",
       Bmp(2, 2, 24, "",
           std::string("\xFF\x00\x00\xFF\xFF\xFF\x00\x00", 8) +
               std::string("\x00\x00\xFF\x00\xFF\x00\x00\x00", 8))},
      {"24 bits, top-down", Bmp(2, -2, 24, "",
                                std::string("\x00\x00\xFF\x00\xFF\x00\x00\x00", 8) +
                                    std::string("\xFF\x00\x00\xFF\xFF\xFF\x00\x00", 8))},
      {"4 bits through a colour table",
       Bmp(2, 2, 4,
           std::string("\x00\x00\xFF\x00\x00\xFF\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\x00", 16) +
               std::string(48, '\0'),
           std::string("\x23\x00\x00\x00\x01\x00\x00\x00", 8))},
      {"32 bits with bit fields",
       Bmp(2, 2, 32, Le(0xFF0000, 4) + Le(0xFF00, 4) + Le(0xFF, 4),
           Le(0x0000FF, 4) + Le(0xFFFFFF, 4) + Le(0xFF0000, 4) + Le(0x00FF00, 4), 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Picture picture;
    const Status st = DecodeBmp(c.file, &picture);
    ASSERT_TRUE(st.ok()) << st.ToString();
    EXPECT_EQ(picture.width, 2);
    EXPECT_EQ(picture.height, 2);
    EXPECT_EQ(picture.rgb, expected);
  }
  // One bit a pixel, 9 wide: the ninth pixel sits in the row's second byte.
  Picture mono;
  ASSERT_TRUE(DecodeBmp(Bmp(9, 1, 1, std::string("\xFF\xFF\xFF\x00\x00\x00\x00\x00", 8),
                            std::string("\x7F\x80\x00\x00", 4)),
                        &mono)
                  .ok());
  EXPECT_EQ(mono.rgb[0], 255);    // bit 0: white
  EXPECT_EQ(mono.rgb[3], 0);      // bit 1: black
  EXPECT_EQ(mono.rgb[8 * 3], 0);  // the ninth
}

TEST(Picture, EncodedBitmapsDecodeToThePictureEncoded) {
  Picture picture;
  picture.width = 5;  // rows that need padding
  picture.height = 3;
  for (int i = 0; i < 15; ++i) {
    picture.rgb.push_back(static_cast<uint8_t>(i * 17));
    picture.rgb.push_back(static_cast<uint8_t>(255 - i));
    picture.rgb.push_back(static_cast<uint8_t>(i % 2 ? 0 : 200));
  }
  Picture back;
  ASSERT_TRUE(DecodeBmp(EncodeBmp(picture), &back).ok());
  EXPECT_EQ(back.width, 5);
  EXPECT_EQ(back.height, 3);
  EXPECT_EQ(back.rgb, picture.rgb);
  picture.rgb.pop_back();
  EXPECT_EQ(EncodeBmp(picture), "");
}

TEST(Picture, DamagedOrHugeBitmapsAreRefused) {
  const std::string good = Bmp(2, 2, 24, "", std::string(16, '\0'));
  const std::string cases[] = {
      "",
      "BM",
      "PK\x03\x04 not a bitmap at all, but long enough to have a header",
      good.substr(0, good.size() - 1),                           // a row short
      Bmp(2, 2, 24, "", std::string(16, '\0'), 1),               // run-length compressed
      Bmp(2, 2, 7, "", std::string(16, '\0')),                   // no such depth
      Bmp(0, 2, 24, "", ""),                                     // empty
      Bmp(100000, 100000, 24, "", std::string(16, '\0')),        // far too large
      Bmp(2, 2, 8, std::string(4, '\0'), std::string(8, '\0')),  // table short of 256
  };
  for (const std::string& file : cases) {
    Picture picture;
    EXPECT_EQ(DecodeBmp(file, &picture).outcome(), Outcome::kMalformed) << file.size();
  }
}

TEST(Picture, LoadsPngAndBmpFilesAndSaysWhyNot) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("qz381-picture-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  // A PNG with a transparent pixel: composed on white.
  const uint8_t rgba[] = {0, 0, 0, 255, 200, 10, 10, 0};
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = 2;
  png.height = 1;
  png.format = PNG_FORMAT_RGBA;
  const std::string png_path = (dir / "two.png").string();
  ASSERT_TRUE(png_image_write_to_file(&png, png_path.c_str(), 0, rgba, 0, nullptr));
  Picture picture;
  ASSERT_TRUE(LoadPictureFile(png_path, &picture).ok());
  EXPECT_EQ(picture.rgb, Rgb({0, 0, 0, 255, 255, 255}));

  const std::string bmp_path = (dir / "one.bmp").string();
  std::ofstream(bmp_path, std::ios::binary)
      << Bmp(1, 1, 24, "", std::string("\x10\x20\x30\x00", 4));
  ASSERT_TRUE(LoadPictureFile(bmp_path, &picture).ok());
  EXPECT_EQ(picture.rgb, Rgb({0x30, 0x20, 0x10}));

  const std::string text_path = (dir / "notes.txt").string();
  std::ofstream(text_path) << "not a picture";
  EXPECT_EQ(LoadPictureFile(text_path, &picture).outcome(), Outcome::kMalformed);
  EXPECT_EQ(LoadPictureFile((dir / "missing.png").string(), &picture).outcome(),
            Outcome::kNotFound);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qz381::platform
