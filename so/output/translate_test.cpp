#include "so/output/translate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "so/output/code_table.h"
#include "so/output/test_bytes.h"

#define ESC "\x1b"

namespace qz381::output {
namespace {

using testing::Hex;
using testing::ToHex;

// The framing of a block for a device with base byte 0, no colour and nothing
// pending: the prologue before the data, the prologue and reverse video off after.
constexpr const char* kPrologue = "1B 3D 01 1B 61 00 1B 21 00";
constexpr const char* kEnd = "1B 3D 01 1B 61 00 1B 21 00 1D 42 00";

struct Case {
  const char* name;
  std::string input;
  std::string body;  // between the two prologues, in Hex() notation
  int32_t result;
  std::function<void(DeviceSettings&)> setup = nullptr;
};

class TranslateTest : public ::testing::Test {
 protected:
  TranslateTest() {
    device.shared = &shared;
    device.PendingSettings = 0;
    device.RecLineChars = 42;
    device.LinecharsNormal = 42;
    device.line_spacing_dots = 30;
    device.Type = 2;
    device.trace = [this](std::string_view line) { trace.emplace_back(line); };
  }

  void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      DeviceSettings d = device;
      SharedOutputState fresh;
      d.shared = &fresh;
      if (c.setup) c.setup(d);
      std::string out;
      EXPECT_EQ(TranslatePrintData(d, c.input, out), c.result);
      const std::string expected = Hex(kPrologue) + Hex(c.body) + Hex(kEnd);
      EXPECT_EQ(ToHex(out), ToHex(expected));
    }
  }

  std::string Translate(std::string_view data, int32_t* result = nullptr) {
    std::string out;
    const int32_t r = TranslatePrintData(device, data, out);
    if (result != nullptr) *result = r;
    return out;
  }

  SharedOutputState shared;
  DeviceSettings device;
  std::vector<std::string> trace;
};

TEST_F(TranslateTest, FramingOfEmptyAndPlainText) {
  EXPECT_EQ(ToHex(Translate("")),
            ToHex(Hex("1B 3D 01 1B 61 00 1B 21 00 1B 3D 01 1B 61 00 1B 21 00 1D 42 00")));
  EXPECT_EQ(ToHex(Translate("ABC")),
            ToHex(Hex("1B 3D 01 1B 61 00 1B 21 00 'ABC' 1B 3D 01 1B 61 00 1B 21 00 1D 42 00")));
}

TEST_F(TranslateTest, StylesAreSentAtTheNextPrintedByte) {
  auto type1 = [](DeviceSettings& d) { d.Type = 1; };
  RunCases({
      {"bold before X", ESC "|bCX", "1B 21 08 'X'", 0},
      {"bold after text", "A" ESC "|bCX", "'A' 1B 21 08 'X'", 0},
      {"bold never printed", ESC "|bC", "", 0},
      {"zero counts as no number", ESC "|0bCX", "1B 21 08 'X'", 0},
      {"bold with a number is ignored", ESC "|2bCX", "'X'", 0},
      {"LF flushes then prints", ESC "|bC\n\r", "1B 21 08 0A 0D", 0},
      {"double both", ESC "|4CX", "1B 21 30 'X'", 0},
      {"back to single sends nothing", ESC "|4C" ESC "|1CX", "'X'", 0},
      {"size out of range ignored", ESC "|5CX", "'X'", 0},
      {"width scale on type 2", ESC "|2hCX", "1D 21 10 'X'", 0},
      {"then height", ESC "|2hCX" ESC "|3vCY", "1D 21 10 'X' 1D 21 12 'Y'", 0},
      {"reset drops the pending size", ESC "|2hC" ESC "|NX",
       "1B 3D 01 1B 61 00 1B 21 00 1D 21 00 1D 42 00 'X'", 0},
      {"reset returns to the base style", ESC "|bCA" ESC "|NX",
       "1B 21 08 'A' 1B 3D 01 1B 61 00 1B 21 00 1D 21 00 1D 42 00 'X'", 0},
      {"width scale on type 1 doubles", ESC "|3hCX", "1B 21 20 'X'", 0, type1},
      {"height scale on type 1 doubles", ESC "|8vCX", "1B 21 10 'X'", 0, type1},
      {"scale 9", ESC "|9hCX", "'X'", 106},
      {"scale without number", ESC "|vCX", "'X'", 106},
      {"underline 1", ESC "|1uCX", "1B 2D 01 1B 21 80 'X'", 0},
      {"underline 3", ESC "|3uCX", "1B 2D 02 1B 21 80 'X'", 0},
      {"underline 5 still underlines", ESC "|5uCX", "1B 21 80 'X'", 106},
      {"reverse video", ESC "|rvCX", "1D 42 01 'X'", 0},
      {"reverse video, other modifier", ESC "|bvCX", "1D 42 01 'X'", 0},
      {"v not followed by C", ESC "|rvX", "'X'", 111},
      {"italic", ESC "|iCX", "'X'", 106},
      {"font", ESC "|2fCX", "'X'", 106},
      {"shading", ESC "|sCX", "'X'", 106},
      {"typeface", ESC "|1T" ESC "|aTX", "'X'", 106},
      {"unknown modifier on C", ESC "|qCX", "'X'", 111},
  });
}

TEST_F(TranslateTest, Colour) {
  // With the colour capability both prologues select the first colour.
  const std::string type2_prologue = "1B 3D 01 1B 61 00 1D 28 4E 02 00 30 31 1B 21 00";
  device.CapRecColor = 1;
  EXPECT_EQ(ToHex(Translate(ESC "|rCX")), ToHex(Hex(type2_prologue + " 1D 28 4E 02 00 30 32 'X' " +
                                                    type2_prologue + " 1D 42 00")));
  device.Type = 3;
  EXPECT_EQ(ToHex(Translate(ESC "|rC")),
            ToHex(Hex("1B 3D 01 1B 61 00 1B 72 00 1B 21 00 1B 72 01 "
                      "1B 3D 01 1B 61 00 1B 72 00 1B 21 00 1D 42 00")));
  device.CapRecColor = 0;
  EXPECT_EQ(ToHex(Translate(ESC "|rC")), ToHex(Hex(std::string(kPrologue) + kEnd)));
}

TEST_F(TranslateTest, Feeds) {
  auto spacing = [](int32_t dots) {
    return [dots](DeviceSettings& d) { d.line_spacing_dots = dots; };
  };
  RunCases({
      {"3 lines at 30 dots", ESC "|3lF", "1B 64 03", 0},
      {"1 line at 25 dots", ESC "|lF", "1B 64 01", 0, spacing(25)},
      {"300 dots", ESC "|300uF", "1B 64 0A", 0},
      {"130 dots", ESC "|130uF", "1B 64 04 1B 4A 14", 0},
      {"below one line", ESC "|20uF", "1B 4A 28", 0},
      {"limited to 3780 units", ESC "|9999lF", "1B 64 3F", 0},
      {"limit, remainder in units", ESC "|9999lF", "1B 64 4B 1B 4A 1E", 0, spacing(25)},
      {"number beyond 32 bits", ESC "|99999999999999999999uF", "1B 64 3F", 0},
      {"more than 255 lines is split", ESC "|9999lF", "1B 64 FF 1B 64 7B", 0, spacing(5)},
      {"remainder above 255 is split", ESC "|350uF", "1B 64 01 1B 4A FF 1B 4A 2D", 0, spacing(200)},
      {"zero spacing feeds nothing", ESC "|3lF" ESC "|300uFX", "'X'", 0, spacing(0)},
      {"negative spacing feeds nothing", ESC "|3lF", "", 0, spacing(-4)},
      {"an inch in twips at 180 dpi", ESC "|1440uF", "1B 64 06", 0,
       [](DeviceSettings& d) {
         d.MapMode = 2;
         d.shared->SetUnits(*DeriveUnitTables(180, 180));
       }},
  });
}

TEST_F(TranslateTest, ZeroLineSpacingSaysWhyInTheTrace) {
  device.line_spacing_dots = 0;
  Translate(ESC "|2lF");
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_NE(trace[0].find("line spacing is 0"), std::string::npos) << trace[0];
}

TEST_F(TranslateTest, AlignmentBitmapsAndLogos) {
  auto stored = [](int32_t type) {
    return [type](DeviceSettings& d) {
      d.Type = type;
      d.stored_bitmaps[0] = {"\x1d*A", "B"};
      d.stored_bitmaps[1] = {"C"};
    };
  };
  auto logos = [](DeviceSettings& d) {
    d.top_logo = "TOP";
    d.bottom_logo = std::string("B\0T", 3);
  };
  RunCases({
      {"centre", ESC "|cAX", "1B 61 01 'X'", 0},
      {"right", ESC "|rA", "1B 61 02", 0},
      {"centre with a number", ESC "|2cA", "1B 61 01", 111},
      {"left is not a modifier of A", ESC "|lAX", "'X'", 111},
      {"no modifier", ESC "|A", "", 111},
      {"bitmap 1 on type 1 restores spacing", ESC "|1B", "1D 2A 41 42 1B 33 3C", 0, stored(1)},
      {"bitmap 2 on type 3", ESC "|2B", "43 1B 33 3C", 0, stored(3)},
      {"bitmap 1 on type 2", ESC "|1B", "1D 2A 41 42", 0, stored(2)},
      {"bitmap 3", ESC "|3BX", "'X'", 111, stored(1)},
      {"top logo", ESC "|tL", "'TOP'", 0, logos},
      {"bottom logo keeps its zero", ESC "|bL", "42 00 54", 0, logos},
      {"logo with a number", ESC "|1tLX", "'X'", 111, logos},
      {"logo, other modifier", ESC "|cL", "", 111, logos},
  });
}

TEST_F(TranslateTest, CutsAndPassThrough) {
  auto cutter = [](DeviceSettings& d) {
    d.CapRecPapercut = 1;
    d.RecLinesToPaperCut = 4;
  };
  auto broken_profile = [](DeviceSettings& d) {
    d.CapRecPapercut = 1;
    d.RecLinesToPaperCut = 0x7FFFFFFF;
  };
  RunCases({
      {"cut", ESC "|75P", "1D 56 01", 0, cutter},
      {"feed and cut", ESC "|fP", "0A 0A 0A 0A 1D 56 01", 0, cutter},
      {"cut at 100", ESC "|100P", "1D 56 01", 0, cutter},
      {"cut at 101", ESC "|101P", "", 111, cutter},
      {"cut above 100", ESC "|150PX", "'X'", 111, cutter},
      {"cut at 2^32 + 100 does not wrap", ESC "|4294967396P", "", 111, cutter},
      {"no cutter: next ESC is text", ESC "|P" ESC "|bCX", "1B '|bCX'", 111},
      {"other modifier", ESC "|lP\n", "0A", 111, cutter},
      {"pass five", ESC "|5E" ESC "|bCZW", "1B 7C 62 43 5A 'W'", 0},
      {"pass nothing", ESC "|EX", "'X'", 0},
      {"count beyond the data", ESC "|9EAB", "'AB'", 0},
      {"huge count", ESC "|99999999999E" ESC "|", "1B 7C", 0},
      {"bad feed modifier, CR after", ESC "|2F\rX", "0D 'X'", 111},
      {"bad feed at the very end", "A" ESC "|F", "'A'", 111},
      {"bad cut at the very end", ESC "|150P", "", 111, cutter},
  });
  DeviceSettings d = device;
  broken_profile(d);
  std::string out;
  TranslatePrintData(d, ESC "|fP", out);
  EXPECT_EQ(out, Hex(kPrologue) + std::string(255, '\n') + Hex("1D 56 01") + Hex(kEnd));
}

TEST_F(TranslateTest, MalformedSequencesPrintAsText) {
  RunCases({
      {"unknown command letter", ESC "|xYZ", "'Z'", 111},
      {"unknown uppercase command", ESC "|3QZ", "'Z'", 111},
      {"no letter", ESC "|!A", "1B '|!A'", 111},
      {"ESC without bar", ESC "A", "1B 'A'", 0},
      {"ESC ESC bar", ESC ESC "|bCX", "1B 1B 21 08 'X'", 0},
      {"bar at the end", "A" ESC "|", "'A' 1B '|'", 111},
      {"digits at the end", ESC "|12", "1B '|12'", 111},
      {"modifier at the end", ESC "|b", "1B '|b'", 111},
      {"ESC at the end", "A" ESC, "'A' 1B", 0},
      {"ends at the first zero byte", std::string("AB\0" ESC "|xY", 6), "'AB'", 0},
      {"style flushed before a malformed ESC", ESC "|bC" ESC "|!", "1B 21 08 1B '|!'", 111},
  });
}

TEST_F(TranslateTest, LastErrorWinsAndTextGoesOn) {
  int32_t result = 0;
  Translate(ESC "|iC" ESC "|xYok", &result);
  EXPECT_EQ(result, 111);
  Translate(ESC "|xY" ESC "|iCok", &result);
  EXPECT_EQ(result, 106);
  const std::string out = Translate(ESC "|xYok", &result);
  EXPECT_EQ(out, Hex(kPrologue) + "ok" + Hex(kEnd));
}

TEST_F(TranslateTest, CharacterSizeOutlivesTheCallUntilReset) {
  Translate(ESC "|2hC");
  EXPECT_EQ(shared.CharacterSize(), 0x10);
  // The next block only widens the height; the width stays from the last call.
  EXPECT_EQ(Translate(ESC "|2vCX"), Hex(kPrologue) + Hex("1D 21 11 'X'") + Hex(kEnd));
  Translate(ESC "|N");
  EXPECT_EQ(shared.CharacterSize(), 0);
}

TEST_F(TranslateTest, CompressedBaseFont) {
  device.RecLineChars = 56;
  const std::string prologue = "1B 3D 01 1B 61 00 1B 21 01";
  EXPECT_EQ(ToHex(Translate(ESC "|bCX")),
            ToHex(Hex(prologue + " 1B 21 09 'X' " + prologue + " 1D 42 00")));
  EXPECT_EQ(device.base_print_mode, 1);
}

// Translation in pieces against one call over the whole text, on a device with
// everything that answers a sequence from state: colour, a cutter, logos,
// stored bitmaps, the snapshot ESC|N sends again and the character size.
class TranslateInPiecesTest : public TranslateTest {
 protected:
  TranslateInPiecesTest() {
    device.CapRecColor = 1;
    device.CapRecPapercut = 1;
    device.RecLinesToPaperCut = 2;
    device.PendingSettings = kPendingAll;
    device.top_logo = "TOP";
    device.stored_bitmaps[0] = {"B1"};
  }

  struct Result {
    std::string out;
    int32_t code = 0;
    std::vector<std::string> trace;
  };

  // Each run on a copy of the device with its own shared state, so that one
  // run's character size does not leak into the next.
  Result Run(std::string_view text, const std::vector<size_t>& cuts) {
    Result r;
    SharedOutputState fresh;
    DeviceSettings d = device;
    d.shared = &fresh;
    d.trace = [&r](std::string_view line) { r.trace.emplace_back(line); };
    if (cuts.empty()) {
      r.code = TranslatePrintData(d, text, r.out);
      return r;
    }
    PrintDataTranslator translator(d);
    translator.Begin(r.out);
    size_t from = 0;
    for (size_t cut : cuts) {
      translator.Feed(text.substr(from, cut - from), r.out);
      from = cut;
    }
    translator.Feed(text.substr(from), r.out);
    r.code = translator.End(r.out);
    return r;
  }

  void ExpectSame(std::string_view text, const std::vector<size_t>& cuts) {
    const Result whole = Run(text, {});
    const Result pieces = Run(text, cuts);
    std::string where;
    for (size_t cut : cuts) where += std::to_string(cut) + " ";
    SCOPED_TRACE("text " + ToHex(text) + "cut at " + where);
    EXPECT_EQ(ToHex(pieces.out), ToHex(whole.out));
    EXPECT_EQ(pieces.code, whole.code);
    EXPECT_EQ(pieces.trace, whole.trace);
  }
};

TEST_F(TranslateInPiecesTest, EveryCutOfTrickyTexts) {
  const std::vector<std::string> texts = {
      "AB" ESC "|bCx" ESC "|NCD",
      ESC "|123456789012345678901uCx",
      ESC "|3Eabcdef",
      ESC "|10Eabc",
      ESC "|4E" ESC "|N" ESC "|bCx",
      ESC "|0E" ESC "|cA",
      "x" ESC,
      ESC ESC "|N" ESC,
      ESC "|12;x" ESC "|",
      ESC "|1",
      "A" ESC "|b",
      ESC "|vCx" ESC "|v",
      ESC "|rvX" ESC "|bvCx" ESC "|bv",
      ESC "|xF" ESC "|NA",
      ESC "|200P" ESC,
      ESC "|fPx" ESC "|75P",
      "A" ESC "|2C" ESC "|rCB" ESC "|NC",
      ESC "|2hC" ESC "|3vCA" ESC "|N",
      ESC "|1BA" ESC "|tL" ESC "|3lF" ESC "|2uF",
      std::string("AB\0" ESC "|N", 6),
      std::string(ESC "|5Eab\0cdef", 11),
      std::string(ESC "|12\0" ESC "|N", 8),
      std::string(ESC "\0", 2),
  };
  for (const std::string& text : texts) {
    ExpectSame(text, {});
    std::vector<size_t> every;
    for (size_t cut = 0; cut <= text.size(); ++cut) {
      ExpectSame(text, {cut});
      every.push_back(cut);
    }
    ExpectSame(text, every);  // a byte a time, with empty pieces at both ends
  }
  // A piece with no bytes at all, not even an address.
  DeviceSettings d = device;
  SharedOutputState fresh;
  d.shared = &fresh;
  std::string out;
  PrintDataTranslator translator(d);
  translator.Begin(out);
  translator.Feed(std::string_view(), out);
  translator.Feed("A" ESC, out);
  translator.Feed(std::string_view(), out);
  translator.Feed("|bCB", out);
  EXPECT_EQ(translator.End(out), 0);
  std::string whole;
  d.PendingSettings = kPendingAll;
  TranslatePrintData(d, "A" ESC "|bCB", whole);
  EXPECT_EQ(ToHex(out), ToHex(whole));
}

TEST_F(TranslateInPiecesTest, RandomTextsCutAtRandom) {
  const std::vector<std::string> fragments = {
      "Coffee 2.50\n",
      "x",
      " ",
      "12",
      "|",
      "uC",
      ESC,
      ESC "|",
      ESC "|bC",
      ESC "|N",
      ESC "|cA",
      ESC "|2C",
      ESC "|4C",
      ESC "|2hC",
      ESC "|3vC",
      ESC "|1uC",
      ESC "|rC",
      ESC "|vC",
      ESC "|tL",
      ESC "|1B",
      ESC "|2lF",
      ESC "|30uF",
      ESC "|fP",
      ESC "|50P",
      ESC "|3E",
      ESC "|12E",
      ESC "|99999999999E",
      ESC "|12;",
      ESC "|b",
      ESC "|xF",
      ESC "|200P",
      ESC "|9",
      ESC "|iC",
      ESC "|T",
      ESC "|bv",
      "C",
      std::string(1, '\0'),
  };
  std::mt19937 random(381);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int count = std::uniform_int_distribution<int>(1, 30)(random);
    for (int k = 0; k < count; ++k) {
      const size_t pick = std::uniform_int_distribution<size_t>(0, fragments.size() - 1)(random);
      // A zero byte ends the data: keep it rare so that most texts run on.
      if (fragments[pick][0] == '\0' && random() % 4 != 0) continue;
      text += fragments[pick];
    }
    std::vector<size_t> cuts;
    const int pieces = std::uniform_int_distribution<int>(1, 8)(random);
    for (int k = 0; k < pieces; ++k)
      cuts.push_back(std::uniform_int_distribution<size_t>(0, text.size())(random));
    std::sort(cuts.begin(), cuts.end());
    ExpectSame(text, cuts);
  }
}

// A number of a million digits fed a byte at a time: the digits are held, not
// read again for every piece.
TEST_F(TranslateInPiecesTest, LongNumberInSmallPieces) {
  const std::string text = ESC "|" + std::string(1000000, '7') + "C" ESC "|" + "12;x";
  std::vector<size_t> cuts(text.size());
  for (size_t i = 0; i < cuts.size(); ++i) cuts[i] = i;
  ExpectSame(text, cuts);
}

TEST(ModePrologueTest, SendsPendingSettingsOnce) {
  SharedOutputState shared;
  DeviceSettings d;
  d.shared = &shared;
  d.Type = 2;
  d.CapRecColor = 1;
  d.CapRecRotate180 = 1;
  d.DIINTERNATIONAL = 1;
  d.rotation = 259;
  d.line_spacing_dots = 30;
  d.international = 3;
  ASSERT_EQ(SelectCodeTable(d, 850, "QZ381"), kOposSuccess);
  EXPECT_EQ(ToHex(BuildModePrologue(d)),
            ToHex(Hex("1B 3D 01 1B 61 00 1D 28 4E 02 00 30 31 1B 74 02 1B 52 03 1B 7B 01 "
                      "1B 21 00 1B 33 3C")));
  EXPECT_EQ(d.PendingSettings, 0);
  EXPECT_EQ(ToHex(BuildModePrologue(d)),
            ToHex(Hex("1B 3D 01 1B 61 00 1D 28 4E 02 00 30 31 1B 21 00")));
  d.rotation = 258;
  d.PendingSettings = kPendingRotation;
  EXPECT_EQ(ToHex(BuildModePrologue(d)), ToHex(Hex("1B 3D 01 1B 61 00 1D 28 4E 02 00 30 31 "
                                                   "1B 7B 00 1B 21 00")));
}

TEST(ModePrologueTest, WithheldSettingsStayPending) {
  SharedOutputState shared;
  DeviceSettings d;
  d.shared = &shared;
  d.line_spacing_dots = 30;
  ASSERT_EQ(SelectCodeTable(d, 255, ""), kOposSuccess);
  d.international = -1;
  d.DIINTERNATIONAL = 1;
  EXPECT_EQ(ToHex(BuildModePrologue(d)), ToHex(Hex("1B 3D 01 1B 61 00 1B 21 00 1B 33 3C")));
  EXPECT_EQ(d.PendingSettings, kPendingCodeTable | kPendingInternational | kPendingRotation);
  EXPECT_EQ(ToHex(SelectBaseFont(d)), ToHex(Hex("1B 21 00")));
}

}  // namespace
}  // namespace qz381::output
