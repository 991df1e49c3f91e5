// PrintBitmap and SetBitmap: argument checks, the image commands each printer
// type gets, and stored bitmaps called up from print data.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <optional>
#include <string>

#include "platform/picture.h"
#include "so/core/pos_printer.h"
#include "so/core/testdata/so_fixture.h"

namespace qz381::testing {
namespace {

using Rgb = std::array<uint8_t, 3>;

// A BMP of `width` x `height`, every pixel `colour` except pixel (0, 0), which
// is `first`.
void WriteBmp(const std::string& path, int width, int height, Rgb colour,
              std::optional<Rgb> first = std::nullopt) {
  platform::Picture picture;
  picture.width = width;
  picture.height = height;
  for (int i = 0; i < width * height; ++i) {
    const Rgb& c = (i == 0 && first) ? *first : colour;
    picture.rgb.insert(picture.rgb.end(), c.begin(), c.end());
  }
  std::ofstream(path, std::ios::binary) << platform::EncodeBmp(picture);
}

constexpr Rgb kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{255, 0, 0};

class BitmapTest : public SoTest {
 protected:
  // Everything written since the last take, however long.
  std::string TakeAll(int32_t port) {
    std::string all, part;
    while (!(part = fake_.Take(port)).empty()) all += (all.empty() ? "" : " ") + part;
    return all;
  }
  so::CPOSPrinter* EnabledAs(int32_t type) {
    SetDeviceValue("Type", platform::RegValue::Dword(static_cast<uint32_t>(type)));
    return Enabled();
  }
  std::string File(const std::string& name) { return dir_.File(name); }
};

TEST_F(BitmapTest, ArgumentsAndFilesAreChecked) {
  so::CPOSPrinter* p = EnabledAs(2);
  WriteBmp(File("ok.bmp"), 8, 8, kBlack);
  std::ofstream(File("text.bmp")) << "not a picture";
  EXPECT_EQ(p->PrintBitmap(PTR_S_RECEIPT, File("ok.bmp"), -11, -4), 106);
  EXPECT_EQ(p->PrintBitmap(3, File("ok.bmp"), -11, -1), 106);
  EXPECT_EQ(p->PrintBitmap(PTR_S_RECEIPT, "", -11, -1), 106);
  EXPECT_EQ(p->PrintBitmap(PTR_S_RECEIPT, File("missing.bmp"), -11, -1), 106);
  EXPECT_EQ(p->PrintBitmap(PTR_S_RECEIPT, File("text.bmp"), -11, -1), 106);
  EXPECT_EQ(p->SetBitmap(3, PTR_S_RECEIPT, File("ok.bmp"), -11, -1), 106);
  EXPECT_EQ(p->SetBitmap(1, PTR_S_RECEIPT, File("ok.bmp"), -11, -5), 106);
  EXPECT_EQ(fake_.Take(p->port_handle()), "");
}

TEST_F(BitmapTest, RasterOnTheSingleColourCurrentModel) {
  so::CPOSPrinter* p = EnabledAs(2);
  WriteBmp(File("black.bmp"), 16, 9, kBlack);
  ASSERT_EQ(p->PrintBitmap(PTR_S_RECEIPT, File("black.bmp"), -11, -2), 0);
  EXPECT_NE(TakeAll(p->port_handle())
                .find(Hex(std::string("\x1B\x61\x01\x1D\x76\x30\x00\x02\x00\x09\x00", 11) +
                          std::string(18, '\xFF'))),
            std::string::npos);
  // A position is measured from the left edge.
  ASSERT_EQ(p->PrintBitmap(PTR_S_RECEIPT, File("black.bmp"), -11, 100), 0);
  EXPECT_NE(TakeAll(p->port_handle()).find(Hex(std::string("\x1B\x61\x00\x1D\x76\x30", 6))),
            std::string::npos);
  // 400 x 100 kept as it is on this type: 50 bytes a row, 100 rows.
  WriteBmp(File("wide.bmp"), 400, 100, kWhite, kBlack);
  ASSERT_EQ(p->PrintBitmap(PTR_S_RECEIPT, File("wide.bmp"), -11, -1), 0);
  EXPECT_NE(
      TakeAll(p->port_handle()).find(Hex(std::string("\x1D\x76\x30\x00\x32\x00\x64\x00\x80", 9))),
      std::string::npos);
  // Stored, then called up by print data; a second SetBitmap replaces it.
  ASSERT_EQ(p->SetBitmap(1, PTR_S_RECEIPT, File("black.bmp"), -11, -3), 0);
  ASSERT_EQ(p->SetBitmap(1, PTR_S_RECEIPT, File("wide.bmp"), 200, -3), 0);
  ASSERT_EQ(p->PrintImmediate(PTR_S_RECEIPT, "\x1B|1B"), 0);
  const std::string sent = TakeAll(p->port_handle());
  EXPECT_NE(sent.find(Hex(std::string("\x1B\x61\x02\x1D\x76\x30\x00\x19\x00\x32\x00\x80", 12))),
            std::string::npos);  // 200 x 50
  EXPECT_EQ(sent.find(Hex(std::string("\x1D\x76\x30\x00\x02\x00\x09\x00", 8))), std::string::npos);
}

TEST_F(BitmapTest, ColumnStripsOnTypeOneTurnedByHalfATurn) {
  so::CPOSPrinter* p = EnabledAs(1);
  const int32_t port = p->port_handle();
  // 400 x 100 is held to the type's 200 dots: 200 x 50, seven strips.
  WriteBmp(File("wide.bmp"), 400, 100, kBlack);
  ASSERT_EQ(p->PrintBitmap(PTR_S_RECEIPT, File("wide.bmp"), -11, -1), 0);
  const std::string strips = TakeAll(port);
  const std::string pass = Hex(std::string("\x1B\x72\x00\x1B\x2A\x00\xC8\x00", 8));
  size_t count = 0;
  for (size_t at = strips.find(pass); at != std::string::npos; at = strips.find(pass, at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 7u);
  EXPECT_NE(strips.find(Hex(std::string("\x1B\x61\x00\x1B\x33\x10", 6))), std::string::npos);
  // The strips end by putting back the line spacing, which the next print's
  // prologue sends again: text after a picture keeps its spacing.
  const std::string restore = strips.substr(strips.size() - 8);
  EXPECT_EQ(restore.substr(0, 5), "1B 33");
  EXPECT_NE(restore, "1B 33 10");
  ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "x\n"), 0);
  EXPECT_NE(TakeAll(port).find(restore), std::string::npos);

  ASSERT_EQ(p->RotatePrint(PTR_S_RECEIPT, 259), 0);
  WriteBmp(File("small.bmp"), 8, 8, kBlack);
  ASSERT_EQ(p->PrintBitmap(PTR_S_RECEIPT, File("small.bmp"), -11, -1), 0);
  const std::string turned = TakeAll(port);
  const size_t off = turned.find(Hex(std::string("\x1B\x7B\x00\x1B\x72\x00", 6)));
  ASSERT_NE(off, std::string::npos);
  EXPECT_NE(turned.find(Hex(std::string("\x0A\x1B\x7B\x01", 4)), off), std::string::npos);
}

TEST_F(BitmapTest, TwoColourGraphicsPutRedInTheSecondPlane) {
  WriteProfile(profile_, [](platform::IniFile& ini) { ini.Set("POSPRINTER", "CapRecColor", "3"); });
  so::CPOSPrinter* p = EnabledAs(2);
  // 8 x 1: one red pixel, the rest white.
  WriteBmp(File("red.bmp"), 8, 1, kWhite, kRed);
  ASSERT_EQ(p->PrintBitmap(PTR_S_RECEIPT, File("red.bmp"), -11, -1), 0);
  const std::string sent = TakeAll(p->port_handle());
  // Plane headers, then the one byte of each plane.
  const std::string plane1("\x30\x70\x30\x01\x01\x31\x08\x00\x01\x00", 10);
  const std::string plane2("\x30\x70\x30\x01\x01\x32\x08\x00\x01\x00", 10);
  EXPECT_NE(sent.find(Hex(plane1 + '\x00')), std::string::npos);
  EXPECT_NE(sent.find(Hex(plane2 + '\x80')), std::string::npos);
}

}  // namespace
}  // namespace qz381::testing
