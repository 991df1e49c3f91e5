#include "so/output/barcode.h"

#include <gtest/gtest.h>

#include "common/opos.h"
#include "so/output/test_bytes.h"

namespace qz381::output {
namespace {

using testing::Hex;
using testing::ToHex;

struct Case {
  const char* name;
  BarcodeRequest request;
  std::string expected;  // empty: refused with OPOS_E_ILLEGAL
};

BarcodeRequest Request(int32_t symbology, std::string data, int32_t height = 162, int32_t width = 0,
                       int32_t alignment = -1, int32_t text = -11) {
  BarcodeRequest r;
  r.symbology = symbology;
  r.data = std::move(data);
  r.height = height;
  r.width = width;
  r.alignment = alignment;
  r.text_position = text;
  return r;
}

TEST(Barcode, CommandStrings) {
  BarcodeRequest compressed = Request(110, "{BAb", 80, 0, -3, -12);
  compressed.compressed_font = true;
  const Case cases[] = {
      {"UPC-A, narrowest module, centred, text below", Request(101, "01234567890", 100, 0, -2, -13),
       Hex("00 00 1B 61 01 1D 48 02 1D 66 00 1D 68 64 1D 77 02 1D 6B 41 0B '01234567890'")},
      {"Code 128 without a code set gets set A", Request(110, "ABC"),
       Hex("00 00 1B 61 00 1D 48 00 1D 66 00 1D 68 A2 1D 77 02 1D 6B 49 05 7B 41 'ABC'")},
      {"Code 128 choosing its set, right, text above, compressed font", compressed,
       Hex("00 00 1B 61 02 1D 48 01 1D 66 01 1D 68 50 1D 77 02 1D 6B 49 04 '{BAb'")},
      {"a position aligns left; EAN-13 at the widest module that fits",
       Request(104, "400638133393", 50, 340, 120),
       Hex("00 00 1B 61 00 1D 48 00 1D 66 00 1D 68 32 1D 77 03 1D 6B 43 0C '400638133393'")},
      {"Code 39 never goes past module 4", Request(108, "QZ-381", 40, 5000),
       Hex("00 00 1B 61 00 1D 48 00 1D 66 00 1D 68 28 1D 77 04 1D 6B 45 06 'QZ-381'")},
      {"a height past what GS h holds gets the tallest bars", Request(109, "x", 300),
       Hex("00 00 1B 61 00 1D 48 00 1D 66 00 1D 68 FF 1D 77 02 1D 6B 48 01 'x'")},
      {"no height leaves the printer's own", Request(109, "x", -1),
       Hex("00 00 1B 61 00 1D 48 00 1D 66 00 1D 68 00 1D 77 02 1D 6B 48 01 'x'")},
      {"PDF417", Request(201, "abc", 0, 0, -2),
       Hex("00 00 1B 61 01 1D 48 00 1D 66 00"
           " 1D 28 6B 03 00 30 41 00 1D 28 6B 03 00 30 42 00 1D 28 6B 03 00 30 43 03"
           " 1D 28 6B 03 00 30 44 03 1D 28 6B 06 00 30 50 30 'abc' 1D 28 6B 03 00 30 51 30")},
      {"QR code for PTR_BCS_OTHER", Request(501, "hi"),
       Hex("00 00 1B 61 00 1D 48 00 1D 66 00 1D 28 6B 04 00 31 41 32 00"
           " 1D 28 6B 03 00 31 43 03 1D 28 6B 05 00 31 50 30 'hi' 1D 28 6B 03 00 31 51 30")},
      {"QR code for PTR_BCS_QRCODE, as for PTR_BCS_OTHER", Request(204, "hi"),
       Hex("00 00 1B 61 00 1D 48 00 1D 66 00 1D 28 6B 04 00 31 41 32 00"
           " 1D 28 6B 03 00 31 43 03 1D 28 6B 05 00 31 50 30 'hi' 1D 28 6B 03 00 31 51 30")},
      // Refused.
      {"UPC-A with ten digits", Request(101, "0123456789"), ""},
      {"UPC-A with a letter", Request(101, "0123456789A"), ""},
      {"UPC-E not beginning with 0", Request(102, "11234567890"), ""},
      {"EAN-8 too long", Request(103, "123456789"), ""},
      {"ITF with an odd count", Request(106, "12345"), ""},
      {"Codabar beginning with a digit", Request(107, "1234A"), ""},
      {"Codabar with a letter past A-D", Request(107, "A12E"), ""},
      {"Code 39 in lower case", Request(108, "abc"), ""},
      {"Code 93 with an eight-bit byte", Request(109, "\x80"), ""},
      {"Code 128 of one character", Request(110, "A"), ""},
      {"Code 128 whose set prefix overflows the count", Request(110, std::string(254, 'A')), ""},
      {"MaxiCode", Request(202, "abc"), ""},
      {"no such symbology", Request(105, "123"), ""},
      {"empty data", Request(108, ""), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = "stale";
    const int32_t rc = EncodeBarcode(c.request, &out);
    if (c.expected.empty()) {
      EXPECT_EQ(rc, opos::OPOS_E_ILLEGAL);
      EXPECT_EQ(out, "");
    } else {
      EXPECT_EQ(rc, opos::OPOS_SUCCESS);
      EXPECT_EQ(ToHex(out), ToHex(c.expected));
    }
  }
}

TEST(Barcode, ModuleFitStopsAtTheFirstWidthThatIsTooWide) {
  struct Fit {
    int32_t symbology;
    size_t length, narrow;
    int32_t width;
    int expected;
  };
  const Fit fits[] = {
      // EAN-13, 12 digits: 113 dots a module.
      {104, 12, 0, 339, 3},
      {104, 12, 0, 338, 2},
      {104, 12, 0, 678, 6},
      {104, 12, 0, 100, 2},  // nothing fits: the narrowest
      {104, 12, 0, -5, 2},
      // UPC-E counts half its digits: 11 -> 5 * 7 + 29 = 64 dots a module.
      {102, 11, 0, 192, 3},
      // ITF, 10 digits: 195 dots at module 2, 294 at 3.
      {106, 10, 0, 294, 3},
      {106, 10, 0, 293, 2},
      // Code 39 stops at 4 however wide.
      {108, 3, 0, 100000, 4},
      // Codabar, 6 characters of which 4 narrow: 126 dots at module 2, 196 at 3.
      {107, 6, 4, 196, 3},
      {107, 6, 4, 195, 2},
      {110, 3, 0, 2 * 68, 2},
      {110, 3, 0, 3 * 68, 3},
  };
  for (const Fit& f : fits) {
    EXPECT_EQ(ModuleWidthFor(f.symbology, f.length, f.narrow, f.width), f.expected)
        << f.symbology << " " << f.length << " " << f.width;
  }
  EXPECT_GE(ModuleWidthFor(107, 6, 6, 260), ModuleWidthFor(107, 6, 0, 260));
}

}  // namespace
}  // namespace qz381::output
