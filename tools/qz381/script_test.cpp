// `qz381 script`: its tokenizer and number parser, and whole scripts run on the
// built service object with the fake port module behind it. The output lines
// are a fixed contract, so they are compared whole.
#include "tools/qz381/script.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "co/testdata/co_fixture.h"

namespace qz381::testing {
namespace {

using tool::ParseNumber;
using tool::Quote;
using tool::Tokenize;

// Tokens as `text|text` with quoted ones in <>; or "error: ..." when refused.
std::string Tokens(std::string_view line) {
  std::string error;
  auto tokens = Tokenize(line, &error);
  if (!tokens) return "error: " + error;
  std::string out;
  for (const tool::Token& t : *tokens) {
    if (!out.empty()) out += "|";
    out += t.quoted ? "<" + t.text + ">" : t.text;
  }
  return out;
}

TEST(ScriptTokenizeTest, Lines) {
  const struct {
    const char* line;
    std::string want;
  } cases[] = {
      {"", ""},
      {"  \t ", ""},
      {"ClaimDevice 1000", "ClaimDevice|1000"},
      {"  set\tDeviceEnabled   1\r", "set|DeviceEnabled|1"},
      {R"(PrintNormal 2 "Hello\n")", "PrintNormal|2|<Hello\n>"},
      {R"("a b" "")", "<a b>|<>"},
      {R"("\r\t\\\"")", "<\r\t\\\">"},
      {R"("\x1B\x7c\x41")", "<\x1B|A>"},
      {R"("\x00z")", std::string("<") + '\0' + "z>"},
      {R"(x"y")", "x\"y\""},  // a quote inside a bare word is just a character
      {R"("unterminated)", "error: unterminated string"},
      {R"("ends in a backslash\)", "error: unterminated string"},
      {R"("\q")", "error: unknown escape \\q"},
      {R"("\x4")", "error: \\x needs two hexadecimal digits"},
      {R"("\xG0")", "error: \\x needs two hexadecimal digits"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Tokens(c.line), c.want);
  }
}

TEST(ScriptTokenizeTest, QuoteReadsBackThroughTokenize) {
  const std::string samples[] = {
      "plain", "", "a\"b\\c", "\n\r\t", std::string("\0\x1B\x7F\xFF", 4), "\xE9t\xE9"};
  for (const std::string& s : samples) {
    SCOPED_TRACE(Quote(s));
    std::string error;
    auto tokens = Tokenize(Quote(s), &error);
    ASSERT_TRUE(tokens) << error;
    ASSERT_EQ(tokens->size(), 1u);
    EXPECT_EQ((*tokens)[0].text, s);
    EXPECT_TRUE((*tokens)[0].quoted);
  }
  EXPECT_EQ(Quote("A\x1B\n\"\\"), R"("A\x1B\n\"\\")");
  EXPECT_EQ(Quote("\xE9"), R"("\xE9")");
}

TEST(ScriptTokenizeTest, Numbers) {
  const struct {
    const char* text;
    std::optional<int32_t> want;
  } cases[] = {
      {"0", 0},
      {"1000", 1000},
      {"-1", -1},
      {"+7", 7},
      {"0x1B", 0x1B},
      {"0X7fffFFFF", INT32_MAX},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"0xFFFFFFFF", -1},  // the 32-bit pattern, as a DWORD is written
      {"-2147483649", std::nullopt},
      {"4294967296", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"0x", std::nullopt},
      {"12a", std::nullopt},
      {"1 2", std::nullopt},
      {"0x1G", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseNumber(c.text), c.want);
  }
}

class ScriptRunTest : public ::testing::Test {
 protected:
  // Runs `script`; the exit status, with stdout and stderr kept.
  int Run(const std::string& script) {
    std::istringstream in(script);
    std::ostringstream out, err;
    int status = tool::RunScript(in, out, err);
    out_ = out.str();
    err_ = err.str();
    return status;
  }

  RegisteredDevice device_{QZ381_SO_MODULE};
  FakeVexlink fake_;
  std::string out_, err_;
};

TEST_F(ScriptRunTest, ShortSessionPrintsOneLinePerCall) {
  const char* script =
      "# a comment, then a blank line\n"
      "\n"
      "open QZ381Receipt\n"
      "ClaimDevice 1000\n"
      "   # indented comment\n"
      "set DeviceEnabled 1\n"
      "get State\n"
      "get DeviceName\n"
      "get CheckHealthText\n"
      "ReleaseDevice\n"
      "Close\n";
  EXPECT_EQ(Run(script), 0);
  EXPECT_EQ(out_,
            "result Open 0 0\n"
            "result ClaimDevice 0 0\n"
            "result DeviceEnabled 0 0\n"
            "value State 2\n"
            "value DeviceName \"QZ381 Receipt\"\n"
            "value CheckHealthText \"Not Executed\"\n"
            "result ReleaseDevice 0 0\n"
            "result Close 0 0\n");
  EXPECT_EQ(err_, "");
  int32_t port = fake_.LastCreated();
  EXPECT_EQ(fake_.Take(port), "00 1B 3D 01 00 00 00 1B 40 00 1D 61 0F 1D 61 00");
}

TEST_F(ScriptRunTest, CallsWithoutAnOpenDeviceAnswerAndTheScriptGoesOn) {
  const char* script =
      "ClaimDevice 1000\n"
      "open NoSuchDevice\n"
      "set DeviceEnabled 1\n"
      "get State\n"
      "UpdateStatistics \"x\"\n";
  EXPECT_EQ(Run(script), 0);
  EXPECT_EQ(out_,
            "result ClaimDevice 101 0\n"
            "result Open 109 0\n"
            "result DeviceEnabled 101 0\n"
            "value State 1\n"
            "result UpdateStatistics 101 0\n");
}

TEST_F(ScriptRunTest, BadLinesStopTheScriptNamingTheLine) {
  const struct {
    const char* script;
    const char* err_contains;
  } cases[] = {
      {"get State\n\nfrobnicate 1\nget State\n", "line 3"},
      {"# comment\nPrintNormal 2 \"open\n", "line 2"},
      {"ClaimDevice many\n", "line 1"},
      {"get NoSuchProperty\n", "line 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(Run(c.script), 2);
    EXPECT_NE(err_.find(c.err_contains), std::string::npos) << err_;
  }
  // Lines before the bad one ran; none after it did.
  Run("get State\nfrobnicate\nget State\n");
  EXPECT_EQ(out_, "value State 1\n");
  EXPECT_NE(err_.find("frobnicate"), std::string::npos) << err_;
}

}  // namespace
}  // namespace qz381::testing
