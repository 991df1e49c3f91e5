#include <gtest/gtest.h>

#include <string>

#include "so/output/binary_conversion.h"
#include "so/output/code_table.h"
#include "so/output/test_bytes.h"

namespace qz381::output {
namespace {

using testing::Hex;
using testing::ToHex;

TEST(BinaryConversionTest, Modes) {
  struct Case {
    int32_t mode;
    std::string in;
    std::string out;  // Hex() notation
  };
  for (const Case& c : {
           Case{0, "1=7<", "'1=7<'"},
           Case{1, "1=7<", "1D 7C"},
           Case{1, "1=7", "1D"},
           Case{1, "7", ""},
           Case{1, std::string("\0\0", 2), "00"},
           Case{1, "AZ", "1A"},
           Case{2, "027124", "1B 7C"},
           Case{2, "2552560", "FF 00"},
           Case{2, "99", ""},
           Case{2, std::string("\0\0\x09", 3), "09"},
           Case{7, "abc", "'abc'"},
       }) {
    std::string s = c.in;
    ApplyBinaryConversion(s, c.mode);
    EXPECT_EQ(ToHex(s), ToHex(Hex(c.out))) << c.mode << " " << c.in;
  }
}

TEST(CodeTableTest, CharacterSetsMapToCodeTables) {
  struct Case {
    int32_t character_set;
    const char* device_name;
    int32_t table;
  };
  for (const Case& c : {Case{998, "", 0}, Case{999, "", 16}, Case{1252, "", 16}, Case{858, "", 19},
                        Case{858, "LPX-907II", 11}, Case{858, "LPX-90", 19}, Case{35, "", 35}}) {
    DeviceSettings d;
    d.PendingSettings = 0;
    EXPECT_EQ(SelectCodeTable(d, c.character_set, c.device_name), kOposSuccess) << c.character_set;
    EXPECT_EQ(d.code_table, c.table) << c.character_set;
    EXPECT_EQ(d.PendingSettings, kPendingCodeTable);
  }
}

TEST(CodeTableTest, UnsupportedCharacterSetChangesNothing) {
  DeviceSettings d;
  d.PendingSettings = 0;
  d.code_table = 2;
  for (int32_t cs : {0, 2, 256, 1250, 932, -1}) {
    EXPECT_EQ(SelectCodeTable(d, cs, ""), kOposEIllegal) << cs;
  }
  EXPECT_EQ(d.code_table, 2);
  EXPECT_EQ(d.PendingSettings, 0);
  ASSERT_EQ(SelectCodeTable(d, 255, ""), kOposSuccess);
  EXPECT_LT(d.code_table, 0);
}

}  // namespace
}  // namespace qz381::output
