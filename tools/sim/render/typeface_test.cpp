#include "tools/sim/render/typeface.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace qz381::sim::render {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr char kFontA[] = "Uni2-Terminus24x12.psf.gz";
constexpr char kFontB[] = "Uni2-Terminus16.psf.gz";

fs::path TempDir() {
  std::string dir = (fs::temp_directory_path() / "typeface_test.XXXXXX").string();
  EXPECT_NE(mkdtemp(dir.data()), nullptr);
  return dir;
}

void Write(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void Le32(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(v >> (8 * i));
}

struct Psf2 {
  uint32_t header = 32, flags = 1, count = 2, height = 24, width = 12;
  uint32_t glyph_bytes = 48;  // as stored in the header
};

// A PSF2 font: glyph 0 blank, the others solid, then `table` (if any).
Bytes MakePsf2(const Psf2& p, const Bytes& table = {}) {
  Bytes b = {0x72, 0xB5, 0x4A, 0x86};
  for (uint32_t v : {0u, p.header, p.flags, p.count, p.glyph_bytes, p.height, p.width}) Le32(&b, v);
  for (uint32_t g = 0; g < p.count && g < 4; ++g) b.insert(b.end(), 48, g ? 0xFF : 0);
  b.insert(b.end(), table.begin(), table.end());
  return b;
}

// A PSF1 font of 8 x 16 glyphs with a 16-bit Unicode table.
Bytes MakePsf1(int glyphs, const std::vector<uint16_t>& table) {
  Bytes b = {0x36, 0x04, 0x02, 16};
  for (int g = 0; g < glyphs; ++g) b.insert(b.end(), 16, g ? 0xFF : 0);
  for (uint16_t v : table) b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
  return b;
}

// Glyph 0 blank for ' ', glyph 1 solid for 'A' and 'B'.
const Bytes kTinyA = MakePsf2({}, {' ', 0xFF, 'A', 'B', 0xFF});
const Bytes kTinyB = MakePsf1(256, [] {
  std::vector<uint16_t> t = {' ', 0xFFFF, 'A', 0xFFFE, 'C', 0x0327, 0xFFFF};
  t.insert(t.end(), 254, 0xFFFF);
  return t;
}());

int LowestInk(const Cell& c) {
  for (int y = c.height - 1; y >= 0; --y) {
    for (int x = 0; x < c.width; ++x) {
      if (c.At(x, y)) return y;
    }
  }
  return -1;
}

class TypefaceTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(tf_, nullptr) << Typeface::LoadError(); }
  const Typeface* tf_ = Typeface::Default();
};

TEST_F(TypefaceTest, BytesStandForTheirTablesCharacters) {
  struct Case {
    int table, international, byte;
    char32_t code;
    bool drawn;
  };
  // One byte of each code table; national characters, with other positions
  // and out-of-range sets ASCII; unknown tables ASCII only; controls and
  // holes; and characters no font file has (a Hebrew point, an Arabic-Indic
  // digit, the won sign).
  const Case cases[] = {
      {0, 0, 0x80, 0x00C7, 1},  {0, 0, 0xB3, 0x2502, 1},  {2, 0, 0x9B, 0x00F8, 1},
      {3, 0, 0x84, 0x00E3, 1},  {4, 0, 0x84, 0x00C2, 1},  {5, 0, 0x9D, 0x00D8, 1},
      {7, 0, 0x80, 0x0452, 1},  {8, 0, 0x8D, 0x0131, 1},  {16, 0, 0x80, 0x20AC, 1},
      {17, 0, 0x80, 0x0410, 1}, {18, 0, 0x85, 0x016F, 1}, {19, 0, 0xD5, 0x20AC, 1},
      {21, 0, 0x80, 0x05D0, 1}, {22, 0, 0xC1, 0xFE80, 1}, {24, 0, 0xC1, 0x0391, 1},
      {25, 0, 0xD0, 0x011E, 1}, {26, 0, 0xC0, 0x0104, 1}, {28, 0, 0xC0, 0x0410, 1},
      {29, 0, 0x80, 0x0391, 1}, {30, 0, 0x80, 0x0106, 1}, {33, 0, 0xE0, 0x05D0, 1},
      {36, 0, 0xA1, 0x0E01, 1}, {22, 0, '%', '%', 1},     {3, 3, 0x23, 0x00A3, 1},
      {0, 2, 0x40, 0x00A7, 1},  {0, 8, 0x5C, 0x00A5, 1},  {0, 14, 0x40, 0x017D, 1},
      {0, 7, 0x23, 0x20A7, 1},  {0, 15, 0x24, 0x00A5, 1}, {1, 3, 0x23, 0x00A3, 1},
      {0, 2, 'A', 'A', 1},      {0, 16, 0x23, '#', 1},    {0, -1, 0x40, '@', 1},
      {1, 0, 'A', 'A', 1},      {-1, 0, '~', '~', 1},     {1000, 0, 'z', 'z', 1},
      {1, 0, 0x80, 0, 0},       {23, 0, 0xC7, 0, 0},      {255, 0, 0xFF, 0, 0},
      {-5, 0, 0x80, 0, 0},      {0, 0, 0x00, 0, 0},       {0, 0, 0x1B, 0, 0},
      {0, 0, 0x7F, 0, 0},       {16, 0, 0x81, 0, 0},      {33, 0, 0xC0, 0x05B0, 0},
      {22, 0, 0xB0, 0x0660, 0}, {0, 13, 0x5C, 0x20A9, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "table " << c.table << " set " << c.international << " byte " << c.byte);
    EXPECT_EQ(Typeface::ToUnicode(c.table, c.international, c.byte), c.code);
    for (int font = 0; font < Typeface::kFonts; ++font) {
      EXPECT_EQ(tf_->Glyph(font, c.table, c.international, c.byte) != nullptr, c.drawn);
    }
  }
}

TEST_F(TypefaceTest, EveryLookupIsACellOfItsFont) {
  for (int font : {-1, 0, 1, 2}) {
    for (int table = -1; table <= 256; ++table) {
      for (int set = -1; set <= Typeface::kInternationalSets; ++set) {
        for (int byte = 0; byte < 256; ++byte) {
          const Cell* c = tf_->Glyph(font, table, set, byte);
          if (!c) continue;
          ASSERT_TRUE(font == 0 || font == 1);
          char32_t code = Typeface::ToUnicode(table, set, byte);
          ASSERT_NE(code, 0u);
          ASSERT_EQ(c->width, font == 0 ? 12 : 9);
          ASSERT_EQ(c->height, font == 0 ? 24 : 17);
          ASSERT_EQ(c->dots.size(), size_t(c->width * c->height));
          if (font != 1) continue;
          // Font B keeps a blank column and row as spacing; box drawing and
          // blocks carry on into them instead.
          bool joins = code >= 0x2500 && code <= 0x259F;
          for (int y = 0; y < 17; ++y) ASSERT_EQ(c->At(8, y), joins && c->At(7, y)) << byte;
          for (int x = 0; x < 9; ++x) ASSERT_EQ(c->At(x, 16), joins && c->At(x, 15)) << byte;
        }
      }
    }
  }
}

TEST_F(TypefaceTest, GlyphShapes) {
  for (int font = 0; font < Typeface::kFonts; ++font) {
    const Cell* a = tf_->Glyph(font, 0, 0, 'A');
    const Cell* c = tf_->Glyph(font, 0, 0, 'C');
    const Cell* cedilla = tf_->Glyph(font, 0, 0, 0x80);
    ASSERT_TRUE(a && c && cedilla);
    EXPECT_GT(LowestInk(*a), 0);
    EXPECT_NE(cedilla->dots, c->dots);
    EXPECT_GT(LowestInk(*cedilla), LowestInk(*c));  // the hook below the line
    EXPECT_EQ(LowestInk(*tf_->Glyph(font, 0, 0, ' ')), -1);
    // One character, one cell, whichever table or set names it.
    EXPECT_EQ(tf_->Glyph(font, 16, 0, 0xC7), cedilla);
    EXPECT_EQ(tf_->Glyph(font, 0, 2, 0x5B), tf_->Glyph(font, 16, 0, 0xC4));
  }
  const Cell* vertical = tf_->Glyph(1, 0, 0, 0xB3);  // font B: joins the next line
  ASSERT_NE(vertical, nullptr);
  EXPECT_TRUE(vertical->At(3, 0) && vertical->At(3, 16));
}

TEST(TypefaceLoad, ReadsPsf1AndPsf2WithTheirUnicodeTables) {
  fs::path dir = TempDir();
  Write(dir / kFontA, kTinyA);
  Write(dir / kFontB, kTinyB);
  std::string error;
  auto tf = Typeface::Load(dir.string(), &error);
  ASSERT_NE(tf, nullptr) << error;
  const Cell* a = tf->Glyph(0, 0, 0, 'A');
  const Cell* b = tf->Glyph(1, 0, 0, 'A');
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(a->At(0, 0) && a->At(11, 23) && tf->Glyph(0, 0, 0, 'B') == a);
  EXPECT_TRUE(b->At(0, 0) && b->At(7, 15) && !b->At(8, 0) && !b->At(0, 16));
  EXPECT_EQ(tf->Glyph(1, 0, 0, 'C'), nullptr);  // only part of a sequence
  fs::remove_all(dir);
}

TEST(TypefaceLoad, BadFontFilesAreErrors) {
  struct Case {
    const char* name;
    Bytes bytes;
    const char* message;
  };
  const Case cases[] = {
      {"empty", {}, "not a PSF font"},
      {"text", {'h', 'e', 'l', 'l', 'o'}, "not a PSF font"},
      {"bad gzip", {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 0xFF, 0xFF}, "invalid"},
      {"glyphs cut", Bytes(kTinyA.begin(), kTinyA.begin() + 60), "truncated"},
      {"table cut", MakePsf2({}, {' ', 0xFF, 'A'}), "Unicode table truncated"},
      {"huge count", MakePsf2({.count = 0xFFFFFFFF}), "too many glyphs"},
      {"huge width", MakePsf2({.width = 1 << 30}), "out of range"},
      {"zero height", MakePsf2({.height = 0}), "out of range"},
      {"huge header", MakePsf2({.header = 0xFFFFFFF0}), "bad header size"},
      {"size mismatch", MakePsf2({.glyph_bytes = 47}), "does not match"},
      {"wrong cell", kTinyB, "expected 12 x 24"},
      {"psf1 cut", Bytes(kTinyB.begin(), kTinyB.begin() + 100), "truncated"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path dir = TempDir();
    Write(dir / kFontA, c.bytes);
    Write(dir / kFontB, kTinyB);
    std::string error;
    EXPECT_EQ(Typeface::Load(dir.string(), &error), nullptr);
    EXPECT_NE(error.find(kFontA), std::string::npos) << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    fs::remove_all(dir);
  }
}

TEST(TypefaceLoad, FontDirWithoutTheFontsFails) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: Default() not yet loaded
  fs::path dir = TempDir();
  EXPECT_EXIT(
      {
        setenv("QZ381_FONT_DIR", dir.c_str(), 1);
        std::string error = Typeface::LoadError();
        bool ok = Typeface::Default() == nullptr &&
                  error.find((dir / kFontA).string()) != std::string::npos &&
                  error.find("No such file") != std::string::npos;
        std::exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace qz381::sim::render
