#include "tools/sim/render/barcode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qz381::sim::render {
namespace {

using namespace std::string_literals;

// Row `y` read one module every `module` dots.
std::string Modules(const Bitmap& b, int module, int y = 0) {
  std::string bits;
  for (int x = 0; x < b.width; x += module) bits += b.At(x, y) ? '1' : '0';
  return bits;
}

// The 95 modules of the EAN-13 symbol for 13 digits, from the public digit
// tables: L codes, their mirror images (G) and complements (R).
std::string Ean13Modules(const std::string& d) {
  const char* l[] = {"0001101", "0011001", "0010011", "0111101", "0100011",
                     "0110001", "0101111", "0111011", "0110111", "0001011"};
  const char* parity[] = {"LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG",
                          "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL"};
  const auto r = [&](char c) {
    std::string s = l[c - '0'];
    for (char& m : s) m = m == '1' ? '0' : '1';
    return s;
  };
  std::string out = "101";
  for (int i = 1; i <= 6; ++i) {
    const std::string g = r(d[i]);
    out += parity[d[0] - '0'][i - 1] == 'L' ? l[d[i] - '0'] : std::string(g.rbegin(), g.rend());
  }
  out += "01010";
  for (int i = 7; i <= 12; ++i) out += r(d[i]);
  return out + "101";
}

LinearSymbol Draw(uint8_t m, std::string_view data, BarcodeSettings settings = {}) {
  LinearSymbol symbol;
  std::string error;
  EXPECT_TRUE(DrawLinearBarcode(m, data, settings, &symbol, &error)) << error;
  return symbol;
}

TEST(LinearBarcode, EanAndUpcBarsMatchTheDigitTables) {
  const LinearSymbol ean = Draw(2, "400638133393");
  EXPECT_EQ(ean.hri, "4006381333931");
  EXPECT_EQ(ean.bars.width, 95 * 3);
  EXPECT_EQ(ean.bars.height, 162);
  EXPECT_EQ(Modules(ean.bars, 3), Ean13Modules("4006381333931"));
  EXPECT_EQ(Modules(ean.bars, 3, 161), Modules(ean.bars, 3));  // full-height bars
  const LinearSymbol upc = Draw(0, "03600029145");             // UPC-A is EAN-13 with a leading 0
  EXPECT_EQ(upc.hri, "036000291452");
  EXPECT_EQ(Modules(upc.bars, 3), Ean13Modules("0036000291452"));
}

TEST(LinearBarcode, DataThePrinterTakes) {
  struct Case {
    uint8_t m;
    std::string data, hri;
    int modules;  // 0: not checked
  };
  const Case cases[] = {{65, "036000291452", "036000291452", 95},
                        {3, "1234567", "12345670", 67},
                        {68, "12345670", "12345670", 67},
                        // UPC-E: the UPC-A number, zero-suppressed.
                        {1, "04210000526", "04252614", 51},
                        {1, "01234500006", "01234565", 51},
                        {66, "012345000065", "01234565", 51},
                        {4, "ABC-12 $/+%.", "*ABC-12 $/+%.*", 0},
                        {5, "1234", "1234", 0},
                        {6, "A123B", "A123B", 0},
                        {72, "AB\x01"s, "AB ", 0},
                        {73, "{BAB{{C", "AB{C", 0},
                        {73, "{C\x0c\x22\x38", "123456", 0},
                        {73, "{A\x0d{Sa{BxY", " axY", 0},
                        {73, "{B{1AB", "AB", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE("m=" + std::to_string(c.m) + " " + c.data);
    const LinearSymbol symbol = Draw(c.m, c.data);
    EXPECT_EQ(symbol.hri, c.hri);
    if (c.modules != 0) {
      EXPECT_EQ(symbol.bars.width, c.modules * 3);
    }
  }
}

TEST(LinearBarcode, DataThePrinterRefuses) {
  const std::pair<uint8_t, std::vector<std::string>> cases[] = {
      {0, {"036000291453", "0360002914", "0360002914a", std::string(300, '1')}},
      // Wrong check digit, nothing to suppress, number system 1.
      {1, {"012345000066", "01234567890", "11234500006", "0123450000"}},
      {2, {"4006381333932", "40063813339"}},
      {3, {"12345671", "123456789", "123456"}},
      {4, {"abc", "A*B", ""}},
      {5, {"123", "12a4", ""}},
      {6, {"123", "A12x4B", "A"}},
      {7, {"AB"}},  // Code 93 and 128 have no NUL-terminated form
      {72, {"A\x80"s, ""}},
      {73,
       {"ABC", "{Aa", "{C\x64", "{C{{", "{B{x", "{BAB{", "{B", "{C" + std::string(253, '\x05')}},
      {74, {"AB"}}};
  for (const auto& [m, bad] : cases) {
    for (const std::string& data : bad) {
      SCOPED_TRACE("m=" + std::to_string(m) + " " + data);
      LinearSymbol symbol;
      std::string error;
      EXPECT_FALSE(DrawLinearBarcode(m, data, {}, &symbol, &error));
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(LinearBarcode, Code128FunctionPairsDrawTheSameBarsAsPlainData) {
  const auto bars = [](std::string_view data) { return Draw(73, data).bars.dots; };
  EXPECT_EQ(bars("{C\x0c\x22"), bars("{B1234"));
  EXPECT_EQ(bars("{B{1A{2B{3"), bars("{BAB"));
  EXPECT_EQ(bars("{A{SaB"), bars("{BaB"));
  EXPECT_NE(bars("{B{4A"), bars("{BA"));
}

TEST(LinearBarcode, HeightAndModuleWidthHonouredOrDefaulted) {
  // {module width, height} given and drawn.
  const int cases[][4] = {{2, 50, 2, 50}, {6, 255, 6, 255}, {1, 1, 3, 1}, {7, 0, 3, 162}};
  for (const auto& c : cases) {
    const LinearSymbol s = Draw(68, "12345670", {c[1], c[0], 0, 0});
    EXPECT_EQ(s.bars.width, 67 * c[2]);
    EXPECT_EQ(s.bars.height, c[3]);
  }
}

// GS ( k as the parser hands it over: data = cn fn parameters.
bool Apply(SymbolStore& store, std::string data, Bitmap* out, std::string* error) {
  Command c;
  c.op = Op::kSymbol;
  c.data_length = data.size();
  c.data = std::move(data);
  return store.Apply(c, out, error);
}

// Applies the commands, all fine; the last one prints.
Bitmap Print(SymbolStore& store, const std::vector<std::string>& commands) {
  Bitmap out;
  std::string error;
  for (size_t i = 0; i < commands.size(); ++i) {
    EXPECT_EQ(Apply(store, commands[i], &out, &error), i + 1 == commands.size()) << error;
    EXPECT_EQ(error, "");
  }
  return out;
}

void Fails(SymbolStore& store, const std::string& command) {
  Bitmap out;
  std::string error;
  EXPECT_FALSE(Apply(store, command, &out, &error));
  EXPECT_NE(error, "") << "for " << command.size() << " bytes";
}

// A 7 x 7 finder pattern at module (mx, my): dark ring, light ring, dark 3 x 3.
bool Finder(const Bitmap& b, int module, int mx, int my) {
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 7; ++x) {
      const int ring = std::min({x, y, 6 - x, 6 - y});
      const int half = module / 2;
      if (b.At((mx + x) * module + half, (my + y) * module + half) != (ring != 1)) return false;
    }
  }
  return true;
}

TEST(QrCode, StoredThenPrintedWithFindersAtThreeCorners) {
  SymbolStore store;
  const Bitmap b = Print(store, {"1A2\0"s, "1C\x04", "1P0https://example.com/r/0001", "1Q0"});
  ASSERT_EQ(b.width, b.height);
  const int n = b.width / 4;
  EXPECT_EQ(b.width, n * 4);
  EXPECT_EQ((n - 21) % 4, 0);
  EXPECT_TRUE(Finder(b, 4, 0, 0) && Finder(b, 4, n - 7, 0) && Finder(b, 4, 0, n - 7));
  EXPECT_FALSE(Finder(b, 4, n - 7, n - 7));
  EXPECT_EQ(Print(store, {"1Q0"}).dots, b.dots);  // the data stays stored
}

TEST(QrCode, ErrorCorrectionAndModelChangeTheSymbol) {
  SymbolStore store;
  EXPECT_EQ(Print(store, {"1P0" + std::string(40, 'x'), "1C\x01", "1Q0"}).width, 29);  // L: 3-L
  EXPECT_EQ(Print(store, {"1E3", "1Q0"}).width, 37);                                   // H: 5-H
  // Micro QR: one finder; H is drawn as Q, which only M4 (17 modules) has.
  const Bitmap micro = Print(store, {"1A3\0"s, "1P012345", "1Q0"});
  EXPECT_EQ(micro.width, 17);
  EXPECT_TRUE(Finder(micro, 1, 0, 0));
}

TEST(QrCode, BadFunctionsAndPrintsAreErrorsThatKeepTheSettings) {
  SymbolStore store;
  Fails(store, "1Q0");  // nothing stored
  Print(store, {"1P0ABC", "1Q0"});
  for (const std::string& bad : {"1C\0"s, "1C\x11"s, "1C"s, "1E4"s, "1A4\0"s, "1P1ABC"s, "1Z"s,
                                 "1"s, ""s, "2A\x01"s, "1P0" + std::string(8000, 'a')}) {
    Fails(store, bad);
  }
  EXPECT_EQ(Print(store, {"1Q0"}).width, 21 * 3);  // module size and data kept
  Command cut{Op::kSymbol, "GS ( k", {}, "1C\x05", 3, true};
  Bitmap out;
  std::string error;
  EXPECT_FALSE(store.Apply(cut, &out, &error));
  EXPECT_NE(error, "");
  EXPECT_FALSE(Apply(store, "1P0" + std::string(3000, 'a'), &out, &error));  // fits no QR Code
  EXPECT_EQ(error, "");
  Fails(store, "1Q0");
  store.Reset();
  Fails(store, "1Q0");
}

// Bar and space widths across row `y`.
std::vector<int> Runs(const Bitmap& b, int y) {
  std::vector<int> runs;
  for (int x = 0; x < b.width; ++x) {
    if (x == 0 || b.At(x, y) != b.At(x - 1, y)) runs.push_back(0);
    ++runs.back();
  }
  return runs;
}

TEST(Pdf417, HostSequenceDrawsRowsBetweenStartAndStopPatterns) {
  SymbolStore store;
  const Bitmap b =
      Print(store, {"0A\0"s, "0B\0"s, "0C\x03", "0D\x03", "0P0Receipt 0001 total 12.50", "0Q0"});
  ASSERT_GT(b.height, 0);
  EXPECT_EQ(b.height % 9, 0);             // rows 3 x module width 3 tall
  EXPECT_EQ((b.width / 3 - 69) % 17, 0);  // start, stop, indicators, data columns
  const std::vector<int> start = {24, 3, 3, 3, 3, 3, 3, 9}, stop = {21, 3, 3, 9, 3, 3, 3, 6, 3};
  for (int y = 0; y < b.height; ++y) {
    const std::vector<int> runs = Runs(b, y);
    ASSERT_GE(runs.size(), 17u);
    EXPECT_TRUE(std::equal(start.begin(), start.end(), runs.begin()));
    EXPECT_TRUE(std::equal(stop.rbegin(), stop.rend(), runs.rbegin()));
    if (y % 9 != 0) {
      EXPECT_EQ(runs, Runs(b, y - 1));
    }
  }
}

TEST(Pdf417, SettingsShapeTheSymbol) {
  SymbolStore store;
  const Bitmap two = Print(store, {"0A\x02", "0C\x02", "0D\x04", "0E0\x32", "0P0PDF417", "0Q0"});
  EXPECT_EQ(two.width, (17 * (2 + 4) + 1) * 2);
  EXPECT_EQ(two.height % 8, 0);
  EXPECT_EQ(Print(store, {"0F\x01", "0Q0"}).width, (17 * (2 + 2) + 1) * 2);  // truncated
  EXPECT_GT(Print(store, {"0F\0"s, "0E1\x28", "0Q0"}).height, two.height);   // 400%
  for (const std::string& bad : {"0B\x01"s, "0B\x5b"s, "0A\x1f"s, "0C\x01"s, "0D\x09"s, "0E0\x39"s,
                                 "0E1\0"s, "0E2\x01"s, "0F\x02"s, "0E0"s, "0Z"s}) {
    Fails(store, bad);
  }
  // Far wider than the paper: still drawn, the renderer clips.
  const Bitmap big = Print(store, {"0A\x0a", "0B\x5a", "0C\x08", "0D\x08", "0Q0"});
  EXPECT_EQ(big.width, (17 * (10 + 4) + 1) * 8);
  EXPECT_EQ(big.height, 90 * 64);
  store.Reset();
  Fails(store, "0Q0");
}

}  // namespace
}  // namespace qz381::sim::render
