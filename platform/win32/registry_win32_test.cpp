// The system registry through the Registry interface, in a key of its own
// that the test removes again (under Wine: the build's prefix).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/registry.h"
#include "platform/thread_id.h"

namespace qz381::platform {
namespace {

class SystemRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearEnvironmentValue("QZ381_REGISTRY");
    root_ = "Software\\QZ381 tests\\" + std::to_string(CurrentThreadNumber());
    reg_.DeleteKey(Hive::kLocalMachine, root_);
  }
  void TearDown() override { reg_.DeleteKey(Hive::kLocalMachine, "Software\\QZ381 tests"); }

  Registry& reg_ = DefaultRegistry();
  std::string root_;
};

TEST_F(SystemRegistryTest, KeepsEveryTypeAsWritten) {
  const RegValue values[] = {
      RegValue::Text("COM1"),      RegValue::Text("%SystemRoot%\\\xE9", RegType::kExpandSz),
      RegValue::Dword(0x01020304), RegValue{RegType::kBinary, std::string("\x00\xFF\x10", 3)},
      RegValue::Text(""),
  };
  for (size_t i = 0; i < std::size(values); ++i) {
    const std::string name = "v" + std::to_string(i);
    ASSERT_TRUE(reg_.SetValue(Hive::kLocalMachine, root_ + "\\a\\b", name, values[i]).ok());
    RegValue back;
    ASSERT_TRUE(reg_.GetValue(Hive::kLocalMachine, root_ + "\\a\\b", name, &back).ok());
    EXPECT_EQ(back, values[i]) << name;
  }
  uint32_t number = 0;
  ASSERT_TRUE(ReadNumber(reg_, Hive::kLocalMachine, root_ + "\\a\\b", "v2", &number).ok());
  EXPECT_EQ(number, 0x01020304u);
}

TEST_F(SystemRegistryTest, MissingThingsAreNotFoundAndKeysGoWithWhatTheyHold) {
  RegValue value;
  EXPECT_EQ(reg_.GetValue(Hive::kLocalMachine, root_, "x", &value).outcome(), Outcome::kNotFound);
  ASSERT_TRUE(reg_.SetValue(Hive::kLocalMachine, root_ + "\\k\\sub", "", RegValue::Text("d")).ok());
  ASSERT_TRUE(reg_.CreateKey(Hive::kLocalMachine, root_ + "\\k\\other").ok());
  EXPECT_EQ(reg_.GetValue(Hive::kLocalMachine, root_ + "\\k", "x", &value).outcome(),
            Outcome::kNotFound);
  std::vector<std::string> names;
  ASSERT_TRUE(reg_.EnumSubkeys(Hive::kLocalMachine, root_ + "\\k", &names).ok());
  EXPECT_EQ(names.size(), 2u);
  EXPECT_TRUE(reg_.DeleteValue(Hive::kLocalMachine, root_ + "\\k\\sub", "").ok());
  EXPECT_EQ(reg_.DeleteValue(Hive::kLocalMachine, root_ + "\\k\\sub", "").outcome(),
            Outcome::kNotFound);
  EXPECT_TRUE(reg_.DeleteKey(Hive::kLocalMachine, root_ + "\\k").ok());
  EXPECT_EQ(reg_.KeyExists(Hive::kLocalMachine, root_ + "\\k\\sub").outcome(), Outcome::kNotFound);
  EXPECT_EQ(reg_.DeleteKey(Hive::kLocalMachine, root_ + "\\k").outcome(), Outcome::kNotFound);
  EXPECT_EQ(reg_.DeleteKey(Hive::kLocalMachine, "").outcome(), Outcome::kInvalidArgument);
}

TEST_F(SystemRegistryTest, ARegistryFileInTheEnvironmentStandsInForTheSystem) {
  const std::string file =
      ::testing::TempDir() + "qz381-registry-" + std::to_string(CurrentThreadNumber()) + ".reg";
  ASSERT_TRUE(SetEnvironmentValue("QZ381_REGISTRY", file));
  Registry& from_file = DefaultRegistry();
  EXPECT_NE(&from_file, &reg_);
  EXPECT_TRUE(
      from_file.SetValue(Hive::kClassesRoot, "Only\\In\\File", "", RegValue::Text("x")).ok());
  ClearEnvironmentValue("QZ381_REGISTRY");
  EXPECT_EQ(&DefaultRegistry(), &reg_);
  EXPECT_EQ(reg_.KeyExists(Hive::kClassesRoot, "Only\\In\\File").outcome(), Outcome::kNotFound);
  std::remove(file.c_str());
}

}  // namespace
}  // namespace qz381::platform
