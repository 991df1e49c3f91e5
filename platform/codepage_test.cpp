#include "platform/codepage.h"

#include <gtest/gtest.h>

#include "platform/status.h"

namespace qz381::platform {
namespace {

TEST(CodepageTest, EveryAnsiByteSurvivesUnicode) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  EXPECT_EQ(Utf16ToAnsi(AnsiToUtf16(all)), all);
}

TEST(CodepageTest, MapsWindows1252) {
  const struct {
    char ansi;
    char16_t unicode;
    std::string utf8;
  } cases[] = {
      {'A', u'A', "A"},
      {'\x80', u'\u20AC', "\xE2\x82\xAC"},  // euro sign
      {'\x81', u'\u0081', "\xC2\x81"},      // undefined in 1252: the C1 control, as Windows maps it
      {'\x8D', u'\u008D', "\xC2\x8D"},
      {'\x9F', u'\u0178', "\xC5\xB8"},
      {'\xA0', u'\u00A0', "\xC2\xA0"},
      {'\xE9', u'\u00E9', "\xC3\xA9"},
  };
  for (const auto& c : cases) {
    const std::string ansi(1, c.ansi);
    EXPECT_EQ(AnsiToUtf16(ansi), std::u16string(1, c.unicode)) << c.utf8;
    EXPECT_EQ(AnsiToUtf8(ansi), c.utf8);
    EXPECT_EQ(Utf8ToAnsi(c.utf8), ansi);
  }
}

TEST(CodepageTest, UnmappableAndInvalidInputBecomesQuestionMarks) {
  const struct {
    std::string utf8;
    std::string ansi;
  } cases[] = {
      {"\xE4\xB8\xAD", "?"},         // a character 1252 lacks
      {"\xC2\x80", "?"},             // U+0080: a C1 control 1252 puts elsewhere
      {"\xF0\x9F\x98\x80x", "?x"},   // beyond the BMP
      {"\x80x", "?x"},               // stray continuation byte
      {"\xC3", "?"},                 // cut short at the end
      {"\xE2\x82x", "?x"},           // cut short before an ASCII byte
      {"\xC0\xAF", "??"},            // overlong '/'
      {"\xED\xA0\x80", "???"},       // encoded surrogate
      {"\xF4\x90\x80\x80", "????"},  // past U+10FFFF
      {"\xFF\xFE", "??"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi) << c.utf8;

  EXPECT_EQ(Utf16ToAnsi(u"\U0001F600a"), "?a");            // a pair is one character
  EXPECT_EQ(Utf16ToAnsi(std::u16string(1, 0xD800)), "?");  // lone surrogate at the end
  EXPECT_EQ(Utf16ToAnsi(u"\xDC00z"), "?z");
}

TEST(StatusTest, ToStringNamesOutcomeContextAndNativeCode) {
  EXPECT_EQ(Status::Ok().ToString(), "ok");
  EXPECT_EQ(Status::Fail(Outcome::kNotFound, "HKLM\\Software\\X: value 'Port'").ToString(),
            "not found: HKLM\\Software\\X: value 'Port'");
  EXPECT_EQ(Status::Fail(Outcome::kIoError, "open /r.reg", 13).ToString(),
            "I/O error: open /r.reg (native 13)");
}

}  // namespace
}  // namespace qz381::platform
