#include "platform/registry_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry.h"

namespace qz381::platform {
namespace {

constexpr auto kLM = Hive::kLocalMachine;
constexpr auto kCR = Hive::kClassesRoot;

std::string Utf16LeWithBom(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

RegTree Parse(std::string_view bytes) {
  RegTree tree;
  Status status = ParseRegFile(bytes, "test.reg", &tree);
  EXPECT_TRUE(status.ok()) << status.ToString();
  return tree;
}

RegValue Get(const RegTree& tree, Hive hive, std::string_view key, std::string_view name) {
  RegValue value;
  Status status = tree.GetValue(hive, key, name, &value);
  EXPECT_TRUE(status.ok()) << status.ToString();
  return value;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? text.size() : end + 2;
  }
  return lines;
}

// What regedit on Windows writes when a service object's key is exported: UTF-16LE
// with a byte-order mark, CRLF, REG_EXPAND_SZ wrapped over lines.
TEST(RegistryFileTest, ReadsRegeditExport) {
  const std::string file = Utf16LeWithBom(
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n"
      u"; exported from the test bench\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceInfo\\VORNAQZ381 OPOS]\r\n"
      u"@=\"QZ381 service\"\r\n"
      u"\"Installdir\"=\"C:\\\\Program Files\\\\VORNA \\\"QZ\\\"\"\r\n"
      u"\"Caf\u00e9\"=\"5 \u20ac\"\r\n"
      u"\"Version\"=dword:0001090c\r\n"
      u"\"Path\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\\r\n"
      u"  00,25,00,5c,00,51,00,5a,00,00,00\r\n"
      u"\"Blob\"=hex:01,ff,\\\r\n"
      u"  80\r\n"
      u"\"Names\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      u"\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      u"\r\n"
      u"[HKEY_CLASSES_ROOT\\QZ381.PrinterSO\\CLSID]\r\n"
      u"@=\"{0F0E0D0C-0000-4000-8000-000000000381}\"\r\n"
      u"\r\n");
  const RegTree tree = Parse(file);
  const std::string key = "SOFTWARE\\OLEforRetail\\ServiceInfo\\VORNAQZ381 OPOS";
  EXPECT_EQ(Get(tree, kLM, key, ""), RegValue::Text("QZ381 service"));
  EXPECT_EQ(Get(tree, kLM, key, "installdir"), RegValue::Text("C:\\Program Files\\VORNA \"QZ\""));
  EXPECT_EQ(Get(tree, kLM, key, "Caf\xE9"), RegValue::Text("5 \x80"));
  EXPECT_EQ(Get(tree, kLM, key, "Version"), RegValue::Dword(0x1090c));
  EXPECT_EQ(Get(tree, kLM, key, "Path"), RegValue::Text("%SystemRoot%\\QZ", RegType::kExpandSz));
  EXPECT_EQ(Get(tree, kLM, key, "Blob"), (RegValue{RegType::kBinary, "\x01\xff\x80"}));
  EXPECT_EQ(Get(tree, kLM, key, "Names"),
            (RegValue{RegType::kMultiSz, std::string("a\0\0\0b\0\0\0\0\0", 10)}));
  EXPECT_EQ(Get(tree, kLM, key, "Big").type, RegType::kQword);
  EXPECT_EQ(Get(tree, kCR, "QZ381.PrinterSO\\CLSID", ""),
            RegValue::Text("{0F0E0D0C-0000-4000-8000-000000000381}"));
}

TEST(RegistryFileTest, AcceptsOtherEncodingsAndLineEnds) {
  // UTF-8 with a byte-order mark, LF only, abbreviated hives.
  RegTree tree = Parse(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n[HKLM\\A]\n\"t\"=\"\xC3\xA9\"\n"
      "[hkcr\\B]\n\"n\"=DWORD:A\n");
  EXPECT_EQ(Get(tree, kLM, "A", "t"), RegValue::Text("\xE9"));
  EXPECT_EQ(Get(tree, kCR, "B", "n"), RegValue::Dword(10));

  // REGEDIT4 files are ANSI throughout, hex(2) included.
  tree = Parse(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"t\"=\"\xE9\"\r\n"
      "\"x\"=hex(2):25,41,25,00\r\n");
  EXPECT_EQ(Get(tree, kLM, "A", "t"), RegValue::Text("\xE9"));
  EXPECT_EQ(Get(tree, kLM, "A", "x"), RegValue::Text("%A%", RegType::kExpandSz));

  // A file of zero bytes is an empty registry, not an error.
  tree = Parse("");
  EXPECT_EQ(tree.KeyExists(kLM, "A").outcome(), Outcome::kNotFound);
}

TEST(RegistryFileTest, NamesMatchWithoutCaseAndKeepTheFirstSpelling) {
  const RegTree tree = Parse(
      "Windows Registry Editor Version 5.00\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Vorna]\r\n\"Port\"=\"COM1\"\r\n\"Baud\"=dword:1\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\vorna]\r\n\"PORT\"=\"COM2\"\r\n\"Alpha\"=\"a\"\r\n"
      "[HKEY_LOCAL_MACHINE\\software\\VORNA\\Sub]\r\n");
  std::vector<std::string> names;
  ASSERT_TRUE(tree.EnumSubkeys(kLM, "", &names).ok());
  EXPECT_EQ(names, std::vector<std::string>{"Software"});
  ASSERT_TRUE(tree.EnumValues(kLM, "SOFTWARE\\VORNA", &names).ok());
  EXPECT_EQ(names, (std::vector<std::string>{"Port", "Baud", "Alpha"}));
  EXPECT_EQ(Get(tree, kLM, "software\\vorna", "port"), RegValue::Text("COM2"));
  ASSERT_TRUE(tree.EnumSubkeys(kLM, "Software\\Vorna", &names).ok());
  EXPECT_EQ(names, std::vector<std::string>{"Sub"});
}

TEST(RegistryFileTest, AppliesDeletions) {
  const RegTree tree = Parse(
      "Windows Registry Editor Version 5.00\r\n"
      "[HKLM\\A\\B\\C]\r\n\"v\"=\"1\"\r\n"
      "[HKLM\\A]\r\n\"keep\"=\"1\"\r\n\"drop\"=\"1\"\r\n\"drop\"=-\r\n\"never\"=-\r\n"
      "[-HKLM\\a\\b]\r\n"
      "[-HKLM\\Missing\\Key]\r\n");
  std::vector<std::string> names;
  ASSERT_TRUE(tree.EnumValues(kLM, "A", &names).ok());
  EXPECT_EQ(names, std::vector<std::string>{"keep"});
  ASSERT_TRUE(tree.EnumSubkeys(kLM, "A", &names).ok());
  EXPECT_TRUE(names.empty());
}

TEST(RegistryFileTest, MalformedFilesNameTheLine) {
  const std::string header = "Windows Registry Editor Version 5.00\r\n";
  const struct {
    std::string text;
    std::string context;
  } cases[] = {
      {"Windows Registry Editor Version 4.00\r\n", "test.reg:1: not a registry file header"},
      {"\r\n" + header, "test.reg:1: not a registry file header"},
      {header + "\"v\"=\"x\"\r\n", "test.reg:2: value outside any key"},
      {header + "[HKEY_CURRENT_USER\\A]\r\n", "test.reg:2: unknown hive 'HKEY_CURRENT_USER'"},
      {header + "[HKLM\\A\r\n", "test.reg:2: key line does not end in ']'"},
      {header + "[HKLM\\A\\\\B]\r\n", "test.reg:2: bad key name"},
      {header + "[HKLM\\]\r\n", "test.reg:2: bad key name"},
      {header + "[-HKLM]\r\n", "test.reg:2: a hive cannot be deleted"},
      {header + "[HKLM\\A]\r\n\r\n\"v\"=\"x\r\n", "test.reg:4: unterminated string"},
      {header + "[HKLM\\A]\r\n\"v\r\n", "test.reg:3: unterminated string"},
      {header + "[HKLM\\A]\r\n\"v\"=\"x\" y\r\n", "test.reg:3: text after the closing quote"},
      {header + "[HKLM\\A]\r\n\"v\"\"x\"\r\n", "test.reg:3: expected '=' after the value name"},
      {header + "[HKLM\\A]\r\n\"v\"=dword:123456789\r\n", "test.reg:3: bad dword"},
      {header + "[HKLM\\A]\r\n\"v\"=dword:\r\n", "test.reg:3: bad dword"},
      {header + "[HKLM\\A]\r\n\"v\"=dword:12g\r\n", "test.reg:3: bad dword"},
      {header + "[HKLM\\A]\r\n\"v\"=qword:1\r\n", "test.reg:3: unknown value type"},
      {header + "[HKLM\\A]\r\n\"v\"=hex(zz):00\r\n", "test.reg:3: bad hex(type)"},
      {header + "[HKLM\\A]\r\n\"v\"=hex;00\r\n", "test.reg:3: expected ':' after hex"},
      {header + "[HKLM\\A]\r\n\"v\"=hex:00,\\\r\n  01,1g\r\n", "test.reg:4: bad hex byte '1g'"},
      {header + "[HKLM\\A]\r\n\"v\"=hex:00,,01\r\n", "test.reg:3: bad hex byte ''"},
      {header + "[HKLM\\A]\r\n\"v\"=hex:100\r\n", "test.reg:3: bad hex byte '100'"},
      {header + "[HKLM\\A]\r\n\"v\"=hex:00,\\",
       "test.reg:3: hex data continues past the end of the file"},
      {header + "[HKLM\\A]\r\n\"v\"=hex(2):41,00,42\r\n", "test.reg:3: UTF-16 text of odd length"},
      {header + "[HKLM\\A]\r\nPort=COM1\r\n", "test.reg:3: not a key, value or comment"},
  };
  for (const auto& c : cases) {
    RegTree tree;
    const Status status = ParseRegFile(c.text, "test.reg", &tree);
    EXPECT_EQ(status.outcome(), Outcome::kMalformed) << c.text;
    EXPECT_EQ(status.context(), c.context) << c.text;
  }
}

// Every type, written and read back, with the exact line regedit would show.
TEST(RegistryFileTest, WritesEveryTypeAndReadsItBack) {
  const struct {
    std::string name;
    RegValue value;
    std::string line;
  } cases[] = {
      {"", RegValue::Text("default"), "@=\"default\""},
      {"Path", RegValue::Text("C:\\Dir \"x\" \xE9\x80"),
       "\"Path\"=\"C:\\\\Dir \\\"x\\\" \xC3\xA9\xE2\x82\xAC\""},
      {"Q\"uote", RegValue::Text(""), "\"Q\\\"uote\"=\"\""},
      {"Lines", RegValue::Text("a\r\nb"), "\"Lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00"},
      {"Num", RegValue::Dword(0xA0B0C0D), "\"Num\"=dword:0a0b0c0d"},
      {"Short", {RegType::kDword, "\x01\x02"}, "\"Short\"=hex(4):01,02"},
      {"Exp", RegValue::Text("%W%", RegType::kExpandSz), "\"Exp\"=hex(2):25,00,57,00,25,00,00,00"},
      {"Link", RegValue::Text("\\R", RegType::kLink), "\"Link\"=hex(6):5c,00,52,00,00,00"},
      {"BE",
       {RegType::kDwordBigEndian, std::string("\x00\x00\x01\x02", 4)},
       "\"BE\"=hex(5):00,00,01,02"},
      {"Bin", {RegType::kBinary, ""}, "\"Bin\"=hex:"},
      {"Multi", {RegType::kMultiSz, std::string("a\0\0\0", 4)}, "\"Multi\"=hex(7):61,00,00,00"},
      {"Q", {RegType::kQword, std::string(8, '\x7f')}, "\"Q\"=hex(b):7f,7f,7f,7f,7f,7f,7f,7f"},
      {"None", {RegType::kNone, "\x01"}, "\"None\"=hex(0):01"},
      {"Odd", {static_cast<RegType>(0x123), "\xfe"}, "\"Odd\"=hex(123):fe"},
  };
  RegTree tree;
  for (const auto& c : cases) ASSERT_TRUE(tree.SetValue(kCR, "K", c.name, c.value).ok());
  const std::string text = FormatRegFile(tree);
  const std::vector<std::string> lines = Lines(text);
  ASSERT_GE(lines.size(), 4 + std::size(cases));
  EXPECT_EQ(lines[0], "Windows Registry Editor Version 5.00");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "[HKEY_CLASSES_ROOT\\K]");
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(lines[3 + i], cases[i].line);

  const RegTree back = Parse(text);
  for (const auto& c : cases) EXPECT_EQ(Get(back, kCR, "K", c.name), c.value) << c.name;
}

TEST(RegistryFileTest, WrapsLongHexLikeRegedit) {
  RegTree tree;
  const std::string bytes(100, '\xAB');
  ASSERT_TRUE(tree.SetValue(kLM, "K", "Data", {RegType::kBinary, bytes}).ok());
  const std::vector<std::string> lines = Lines(FormatRegFile(tree));
  // "Data"=hex: and 22 bytes, three lines of 25 more, one of the last 3.
  ASSERT_EQ(lines.size(), 9u);
  for (size_t i = 3; i < 8; ++i) {
    EXPECT_LE(lines[i].size(), 80u) << lines[i];
    if (i > 3) {
      EXPECT_EQ(lines[i].substr(0, 2), "  ");
    }
    EXPECT_EQ(lines[i].back() == '\\', i < 7) << lines[i];
  }
  EXPECT_EQ(Get(Parse(FormatRegFile(tree)), kLM, "K", "Data").data, bytes);
}

TEST(RegistryFileTest, KeepsEmptyKeysAndOrder) {
  RegTree tree;
  ASSERT_TRUE(tree.CreateKey(kLM, "Z\\Empty").ok());
  ASSERT_TRUE(tree.SetValue(kLM, "A", "v", RegValue::Text("1")).ok());
  ASSERT_TRUE(tree.SetValue(kLM, "", "rootvalue", RegValue::Text("r")).ok());
  const RegTree back = Parse(FormatRegFile(tree));
  std::vector<std::string> names;
  ASSERT_TRUE(back.EnumSubkeys(kLM, "", &names).ok());
  EXPECT_EQ(names, (std::vector<std::string>{"Z", "A"}));
  EXPECT_TRUE(back.KeyExists(kLM, "z\\empty").ok());
  EXPECT_EQ(Get(back, kLM, "", "rootvalue"), RegValue::Text("r"));
  EXPECT_EQ(FormatRegFile(back), FormatRegFile(tree));
}

}  // namespace
}  // namespace qz381::platform
