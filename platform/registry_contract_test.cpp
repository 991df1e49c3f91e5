// One suite for every Registry: what a component may rely on whichever it is given.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace qz381::platform {
namespace {

constexpr auto kLM = Hive::kLocalMachine;
constexpr auto kCR = Hive::kClassesRoot;

struct Backend {
  const char* name;
  std::function<std::unique_ptr<Registry>(const std::string& dir)> open;
};

class RegistryContractTest : public testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    // Unique across processes: ctest runs each case in a process of its own,
    // several at once, and a shared folder would be removed under another case.
    static const unsigned run = std::random_device{}();
    static std::atomic<int> counter{0};
    dir_ = std::filesystem::temp_directory_path() /
           ("qz381-contract-" + std::to_string(run) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(dir_);
    reg_ = GetParam().open(dir_.string());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Outcome Get(Hive hive, std::string_view key, std::string_view name, RegValue* out = nullptr) {
    RegValue ignored;
    return reg_->GetValue(hive, key, name, out ? out : &ignored).outcome();
  }
  std::vector<std::string> Subkeys(std::string_view key) {
    std::vector<std::string> names;
    EXPECT_TRUE(reg_->EnumSubkeys(kLM, key, &names).ok());
    return names;
  }
  std::vector<std::string> Values(std::string_view key) {
    std::vector<std::string> names;
    EXPECT_TRUE(reg_->EnumValues(kLM, key, &names).ok());
    return names;
  }

  std::filesystem::path dir_;
  std::unique_ptr<Registry> reg_;
};

TEST_P(RegistryContractTest, StoresValuesOfEveryType) {
  const RegValue values[] = {
      RegValue::Text("COM1"),
      RegValue::Text("%ProgramFiles%\\\xE9", RegType::kExpandSz),
      RegValue::Text(std::string_view("line\r\nbreak\0nul", 15)),
      RegValue::Dword(0xDEADBEEF),
      {RegType::kBinary, std::string("\0\xff\n", 3)},
      {RegType::kMultiSz, std::string("a\0\0\0\0\0", 6)},
      {RegType::kQword, std::string(8, '\x01')},
  };
  for (size_t i = 0; i < std::size(values); ++i) {
    ASSERT_TRUE(reg_->SetValue(kLM, "Software\\T", "v" + std::to_string(i), values[i]).ok());
  }
  for (size_t i = 0; i < std::size(values); ++i) {
    RegValue out;
    ASSERT_EQ(Get(kLM, "Software\\T", "v" + std::to_string(i), &out), Outcome::kOk);
    EXPECT_EQ(out, values[i]) << i;
  }
  // Overwriting changes type and data in place.
  ASSERT_TRUE(reg_->SetValue(kLM, "Software\\T", "V0", RegValue::Dword(3)).ok());
  RegValue out;
  ASSERT_EQ(Get(kLM, "Software\\T", "v0", &out), Outcome::kOk);
  EXPECT_EQ(out, RegValue::Dword(3));
  EXPECT_EQ(Values("Software\\T").front(), "v0");
}

TEST_P(RegistryContractTest, NamesMatchWithoutCaseAndKeepFirstSpellingAndOrder) {
  ASSERT_TRUE(reg_->SetValue(kLM, "Software\\Vorna", "Port", RegValue::Text("COM1")).ok());
  ASSERT_TRUE(reg_->SetValue(kLM, "SOFTWARE\\VORNA\\Zeta", "", RegValue::Text("z")).ok());
  ASSERT_TRUE(reg_->CreateKey(kLM, "software\\vorna\\Alpha").ok());
  ASSERT_TRUE(reg_->SetValue(kLM, "software\\vorna", "PORT", RegValue::Text("COM2")).ok());
  ASSERT_TRUE(reg_->SetValue(kLM, "software\\vorna", "Baud", RegValue::Dword(9600)).ok());

  RegValue out;
  ASSERT_EQ(Get(kLM, "SoFtWaRe\\vOrNa", "pOrT", &out), Outcome::kOk);
  EXPECT_EQ(out, RegValue::Text("COM2"));
  EXPECT_EQ(Subkeys(""), std::vector<std::string>{"Software"});
  EXPECT_EQ(Subkeys("Software\\Vorna"), (std::vector<std::string>{"Zeta", "Alpha"}));
  EXPECT_EQ(Values("Software\\Vorna"), (std::vector<std::string>{"Port", "Baud"}));
  EXPECT_EQ(Values("Software\\Vorna\\Zeta"), std::vector<std::string>{""});
}

TEST_P(RegistryContractTest, HivesAreSeparate) {
  ASSERT_TRUE(reg_->SetValue(kCR, "CLSID\\{X}\\InprocServer32", "", RegValue::Text("/so")).ok());
  EXPECT_EQ(reg_->KeyExists(kLM, "CLSID").outcome(), Outcome::kNotFound);
  EXPECT_TRUE(reg_->KeyExists(kCR, "clsid\\{x}").ok());
}

TEST_P(RegistryContractTest, MissingThingsAreNotFound) {
  std::vector<std::string> names;
  EXPECT_EQ(Get(kLM, "Nope", "v"), Outcome::kNotFound);
  EXPECT_EQ(reg_->KeyExists(kLM, "Nope").outcome(), Outcome::kNotFound);
  EXPECT_EQ(reg_->EnumSubkeys(kLM, "Nope", &names).outcome(), Outcome::kNotFound);
  EXPECT_EQ(reg_->EnumValues(kLM, "Nope", &names).outcome(), Outcome::kNotFound);
  EXPECT_EQ(reg_->DeleteValue(kLM, "Nope", "v").outcome(), Outcome::kNotFound);
  EXPECT_EQ(reg_->DeleteKey(kLM, "Nope").outcome(), Outcome::kNotFound);
  ASSERT_TRUE(reg_->CreateKey(kLM, "Yes").ok());
  EXPECT_EQ(Get(kLM, "Yes", "v"), Outcome::kNotFound);
  EXPECT_EQ(Get(kLM, "Yes", ""), Outcome::kNotFound);
  EXPECT_EQ(reg_->DeleteValue(kLM, "Yes", "v").outcome(), Outcome::kNotFound);
  EXPECT_TRUE(Values("Yes").empty());
}

TEST_P(RegistryContractTest, DeletesValuesAndWholeSubtrees) {
  ASSERT_TRUE(reg_->SetValue(kLM, "A\\B\\C", "v", RegValue::Text("1")).ok());
  ASSERT_TRUE(reg_->SetValue(kLM, "A\\B", "w", RegValue::Text("2")).ok());
  ASSERT_TRUE(reg_->SetValue(kLM, "A", "x", RegValue::Text("3")).ok());
  ASSERT_TRUE(reg_->SetValue(kLM, "A", "y", RegValue::Text("4")).ok());

  ASSERT_TRUE(reg_->DeleteValue(kLM, "a", "X").ok());
  EXPECT_EQ(Get(kLM, "A", "x"), Outcome::kNotFound);
  EXPECT_EQ(Values("A"), std::vector<std::string>{"y"});

  ASSERT_TRUE(reg_->DeleteKey(kLM, "a\\b").ok());
  EXPECT_EQ(reg_->KeyExists(kLM, "A\\B\\C").outcome(), Outcome::kNotFound);
  EXPECT_TRUE(Subkeys("A").empty());
  EXPECT_EQ(Get(kLM, "A", "y"), Outcome::kOk);

  // Re-creating a deleted key starts it empty.
  ASSERT_TRUE(reg_->CreateKey(kLM, "A\\B").ok());
  EXPECT_TRUE(Values("A\\B").empty());
}

TEST_P(RegistryContractTest, RefusesPathsAndNamesThatCannotBeStored) {
  const std::string_view bad_keys[] = {"\\A", "A\\", "A\\\\B", "A\nB", std::string_view("A\0B", 3)};
  for (std::string_view key : bad_keys) {
    EXPECT_EQ(reg_->SetValue(kLM, key, "v", RegValue::Text("x")).outcome(),
              Outcome::kInvalidArgument)
        << key;
    EXPECT_EQ(reg_->CreateKey(kLM, key).outcome(), Outcome::kInvalidArgument) << key;
  }
  EXPECT_EQ(reg_->SetValue(kLM, "A", "a\nb", RegValue::Text("x")).outcome(),
            Outcome::kInvalidArgument);
  EXPECT_EQ(reg_->DeleteKey(kLM, "").outcome(), Outcome::kInvalidArgument);
  EXPECT_EQ(reg_->KeyExists(kLM, "A").outcome(), Outcome::kNotFound);
}

TEST_P(RegistryContractTest, ReadTextAndReadNumber) {
  const std::string key = "Software\\OLEforRetail\\ServiceInfo\\VORNAQZ381 OPOS";
  ASSERT_TRUE(reg_->SetValue(kLM, key, "sz", RegValue::Text("a")).ok());
  ASSERT_TRUE(reg_->SetValue(kLM, key, "expand", RegValue::Text("%b%", RegType::kExpandSz)).ok());
  ASSERT_TRUE(reg_->SetValue(kLM, key, "link", RegValue::Text("c", RegType::kLink)).ok());
  ASSERT_TRUE(reg_->SetValue(kLM, key, "dword", RegValue::Dword(0x01020304)).ok());
  ASSERT_TRUE(reg_->SetValue(kLM, key, "be", {RegType::kDwordBigEndian, "\x01\x02\x03\x04"}).ok());
  ASSERT_TRUE(reg_->SetValue(kLM, key, "short", {RegType::kDword, "\x01"}).ok());
  ASSERT_TRUE(reg_->SetValue(kLM, key, "bin", {RegType::kBinary, "\x01\x02\x03\x04"}).ok());

  std::string text;
  ASSERT_TRUE(ReadText(*reg_, kLM, key, "SZ", &text).ok());
  EXPECT_EQ(text, "a");
  ASSERT_TRUE(ReadText(*reg_, kLM, key, "expand", &text).ok());
  EXPECT_EQ(text, "%b%");  // not expanded
  ASSERT_TRUE(ReadText(*reg_, kLM, key, "link", &text).ok());
  EXPECT_EQ(text, "c");

  uint32_t number = 0;
  ASSERT_TRUE(ReadNumber(*reg_, kLM, key, "dword", &number).ok());
  EXPECT_EQ(number, 0x01020304u);
  ASSERT_TRUE(ReadNumber(*reg_, kLM, key, "be", &number).ok());
  EXPECT_EQ(number, 0x04030201u);  // the stored bytes as they lie, not swapped

  // Failures leave the output alone.
  text = "unchanged";
  number = 77;
  EXPECT_EQ(ReadText(*reg_, kLM, key, "dword", &text).outcome(), Outcome::kWrongType);
  EXPECT_EQ(ReadText(*reg_, kLM, key, "missing", &text).outcome(), Outcome::kNotFound);
  EXPECT_EQ(ReadNumber(*reg_, kLM, key, "sz", &number).outcome(), Outcome::kWrongType);
  EXPECT_EQ(ReadNumber(*reg_, kLM, key, "bin", &number).outcome(), Outcome::kWrongType);
  EXPECT_EQ(ReadNumber(*reg_, kLM, key, "short", &number).outcome(), Outcome::kMalformed);
  EXPECT_EQ(ReadNumber(*reg_, kLM, "Missing", "dword", &number).outcome(), Outcome::kNotFound);
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(number, 77u);
}

INSTANTIATE_TEST_SUITE_P(
    Backends, RegistryContractTest,
    testing::Values(Backend{"Memory", [](const std::string&) { return NewMemoryRegistry(); }},
                    Backend{"File",
                            [](const std::string& dir) {
                              return OpenRegistryFile(dir + "/sub/registry.reg");
                            }}),
    [](const testing::TestParamInfo<Backend>& info) { return info.param.name; });

}  // namespace
}  // namespace qz381::platform
