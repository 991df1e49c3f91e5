#include "platform/charset.h"

#include <gtest/gtest.h>

namespace qz381::platform {
namespace {

TEST(Charset, Utf8BecomesTheBytesOfEachCodePage) {
  struct Case {
    int32_t set;
    std::string utf8, bytes;
  } cases[] = {
      {858, "caf\xC3\xA9 \xE2\x82\xAC\x1B|bC", "caf\x82 \xD5\x1B|bC"},
      {1252, "caf\xC3\xA9 \xE2\x82\xAC", "caf\xE9 \x80"},
      {999, "\xC3\xA9", "\xE9"},
      {437, "\xC3\xA9 \xE2\x82\xAC", "\x82 ?"},  // no euro in 437
      {998, "\xC3\xA9x", "?x"},                  // ASCII
      {1252, "a\xC3(b\xE2\x82", "a?(b?"},        // broken and cut-off UTF-8
      {866, "\xD0\x96", "\x86"},                 // Cyrillic
  };
  for (const Case& c : cases) {
    std::string out;
    ASSERT_TRUE(Utf8ToCharacterSet(c.utf8, c.set, &out)) << c.set;
    EXPECT_EQ(out, c.bytes) << c.set << " " << c.utf8;
  }
  std::string untouched = "keep";
  EXPECT_FALSE(Utf8ToCharacterSet("x", 1, &untouched));
  EXPECT_FALSE(Utf8ToCharacterSet("x", 12345, &untouched));
  EXPECT_EQ(untouched, "keep");
}

}  // namespace
}  // namespace qz381::platform
