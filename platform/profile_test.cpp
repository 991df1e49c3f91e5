#include "platform/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace qz381::platform {
namespace {

std::string SampleText() {
  return std::string(
             "; capability profile\n"
             "[Printer]\n"
             "Model = QZ381  \n"
             "Quoted=\"  padded  \"\n"
             "Single='x'\n"
             "Mismatched=\"x'\n"
             "Port=COM1\n"
             "port=COM9\n"
             "Empty=\n"
             "no equals sign here\n"
             "Long=") +
         std::string(300, 'a') +
         "\n"
         "\n"
         "[Numbers]\n"
         "neg=-1\n"
         "plus=+7\n"
         "trail=12abc\n"
         "word=abc\n"
         "spaced=   42\n"
         "big=99999999999\n"
         "small=-99999999999\n"
         "quoted=\"5\"\n"
         "[printer]\n"
         "Later=shadowed by the first [Printer]\n";
}

TEST(IniFileTest, GetStringFollowsWindowsRules) {
  IniFile ini = IniFile::Parse(SampleText());
  struct Case {
    const char* section;
    const char* key;
    const char* def;
    size_t buffer;
    std::string want;
  } cases[] = {
      {"Printer", "Model", "-", 255, "QZ381"},
      {"PRINTER", "model", "-", 255, "QZ381"},
      {"Printer", "Quoted", "-", 255, "  padded  "},
      {"Printer", "Single", "-", 255, "x"},
      {"Printer", "Mismatched", "-", 255, "\"x'"},
      {"Printer", "Port", "-", 255, "COM1"},  // the first duplicate wins
      {"Printer", "Empty", "-", 255, ""},
      {"Printer", "no equals sign here", "-", 255, "-"},
      {"Printer", "Later", "-", 255, "-"},  // the second [printer] is shadowed
      {"Printer", "Long", "-", 255, std::string(254, 'a')},
      {"Printer", "Model", "-", 4, "QZ3"},
      {"Printer", "Model", "-", 1, ""},
      {"Printer", "Model", "-", 0, ""},
      {"Printer", "Missing", "fallback  ", 255, "fallback"},
      {"Printer", "Missing", "fallback", 5, "fall"},
      {"Missing", "Model", "", 255, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ini.GetString(c.section, c.key, c.def, c.buffer), c.want)
        << "[" << c.section << "] " << c.key << " buffer " << c.buffer;
  }
}

TEST(IniFileTest, GetIntFollowsAtoi) {
  IniFile ini = IniFile::Parse(SampleText());
  struct Case {
    const char* key;
    int32_t want;
  } cases[] = {
      {"neg", -1},        {"plus", 7},          {"trail", 12}, {"word", 0},     {"spaced", 42},
      {"big", INT32_MAX}, {"small", INT32_MIN}, {"quoted", 5}, {"missing", 77},
  };
  for (const Case& c : cases) EXPECT_EQ(ini.GetInt("numbers", c.key, 77), c.want) << c.key;
  EXPECT_EQ(ini.GetInt("Printer", "Empty", 77), 77);
  EXPECT_EQ(ini.GetInt("Printer", "Model", 77), 0);
}

TEST(IniFileTest, AtoiEdges) {
  struct Case {
    std::string_view text;
    int32_t want;
  } cases[] = {
      {"", 0},
      {"-", 0},
      {"+-3", 0},
      {" \t\n-12 34", -12},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
      {"000000000000000000012", 12},
      {std::string_view("12345", 2), 12},  // stops at the view's end
  };
  for (const Case& c : cases) EXPECT_EQ(Atoi(c.text), c.want) << c.text;
}

TEST(IniFileTest, EnumeratesSectionsAndKeysOnce) {
  IniFile ini = IniFile::Parse(SampleText());
  EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"Printer", "Numbers"}));
  EXPECT_EQ(ini.Keys("numbers").size(), 8u);
  auto keys = ini.Keys("Printer");
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "Port"), 1);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "port"), 0);
  EXPECT_TRUE(ini.HasKey("printer", "EMPTY"));
  EXPECT_FALSE(ini.HasKey("printer", "Later"));
  EXPECT_TRUE(ini.Keys("missing").empty());
}

TEST(IniFileTest, UnchangedFileSerializesByteForByte) {
  for (std::string text : {SampleText(), std::string("[a]\r\nk=v\r\n; note\r\n"),
                           std::string("\xEF\xBB\xBF[a]\nk=v"), std::string()}) {
    EXPECT_EQ(IniFile::Parse(text).Serialize(), text);
  }
  EXPECT_EQ(IniFile::Parse("\xEF\xBB\xBF[a]\nk=v").GetString("a", "k", ""), "v");
}

TEST(IniFileTest, WritesKeepEveryOtherLine) {
  IniFile ini = IniFile::Parse(
      "; head\n"
      "[Printer]\n"
      "Port = COM1 ; not a comment\n"
      "odd line\n"
      "\n"
      "; about the next section\n"
      "[Other]\n"
      "x=1\n"
      "x=2\n");
  ini.Set("printer", "PORT", "COM3");        // keeps the key as written
  ini.Set("Printer", "Baud", "9600");        // after the last pair
  ini.Set("other", "x", std::nullopt);       // removes both copies
  ini.Set("New", "Key", "v");                // new section at the end
  ini.Set("Missing", "Gone", std::nullopt);  // no section created for a delete
  EXPECT_EQ(ini.Serialize(),
            "; head\n"
            "[Printer]\n"
            "Port=COM3\n"
            "Baud=9600\n"
            "odd line\n"
            "\n"
            "; about the next section\n"
            "[Other]\n"
            "\n"
            "[New]\n"
            "Key=v\n");
  EXPECT_EQ(ini.GetString("new", "key", ""), "v");
  EXPECT_FALSE(ini.HasKey("Other", "x"));

  ini.DeleteSection("OTHER");
  ini.DeleteSection("printer");
  EXPECT_EQ(ini.Serialize(), "; head\n[New]\nKey=v\n");
}

TEST(IniFileTest, WritesFollowTheFilesLineBreaks) {
  IniFile crlf = IniFile::Parse("[a]\r\nk=1\r\n");
  crlf.Set("a", "j", "2");
  crlf.Set("b", "k", "3");
  EXPECT_EQ(crlf.Serialize(), "[a]\r\nk=1\r\nj=2\r\n\r\n[b]\r\nk=3\r\n");

  IniFile unterminated = IniFile::Parse("[a]\nk=1");
  unterminated.Set("a", "j", "2");
  EXPECT_EQ(unterminated.Serialize(), "[a]\nk=1\nj=2\n");
}

class IniFileOnDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qz381-profile-" + std::to_string(std::random_device()()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "setup.inf").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string ReadBack() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(IniFileOnDiskTest, MissingFileGivesDefaults) {
  IniFile ini;
  EXPECT_EQ(IniFile::Load(path_, &ini).outcome(), Outcome::kNotFound);
  EXPECT_EQ(GetPrivateProfileText(path_, "s", "k", "def"), "def");
  EXPECT_EQ(GetPrivateProfileNumber(path_, "s", "k", -5), -5);
  EXPECT_TRUE(WritePrivateProfileText(path_, "s", "k", std::nullopt).ok());
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(IniFileOnDiskTest, WriteThenReadThroughTheFile) {
  std::ofstream(path_, std::ios::binary) << "; keep me\n[s]\nk=1\n";
  ASSERT_TRUE(WritePrivateProfileText(path_, "S", "K", "22").ok());
  ASSERT_TRUE(WritePrivateProfileText(path_, "t", "n", "x").ok());
  EXPECT_EQ(ReadBack(), "; keep me\n[s]\nk=22\n\n[t]\nn=x\n");
  EXPECT_EQ(GetPrivateProfileNumber(path_, "s", "k", 0), 22);
  EXPECT_EQ(GetPrivateProfileText(path_, "T", "N", ""), "x");
}

}  // namespace
}  // namespace qz381::platform
