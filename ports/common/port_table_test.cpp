#include "ports/common/port_table.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace qz381::ports {
namespace {

struct FakePort {
  explicit FakePort(int32_t) {}
  FakePort(bool fail, int32_t) {
    if (fail) throw std::runtime_error("no port today");
  }
};

TEST(PortTable, CreateSelectDeleteAsTheModuleExportsNeed) {
  PortTable<FakePort> table(kComPortIdBase, kComPortIdLimit);
  EXPECT_EQ(table.Current(), nullptr);
  const int32_t first = table.Create();
  const int32_t second = table.Create();
  EXPECT_EQ(first, 10000);
  EXPECT_EQ(second, 10001);
  EXPECT_EQ(table.CurrentId(), second);  // the newest port is current

  EXPECT_FALSE(table.Select(12345));
  EXPECT_EQ(table.CurrentId(), second);  // unknown id keeps the selection
  EXPECT_TRUE(table.Select(first));
  EXPECT_EQ(table.Current(), table.Find(first));

  EXPECT_EQ(table.Remove(12345), nullptr);
  EXPECT_NE(table.Remove(second), nullptr);
  EXPECT_EQ(table.CurrentId(), first);  // deleting another port keeps the selection
  EXPECT_NE(table.Remove(first), nullptr);
  EXPECT_EQ(table.Current(), nullptr);
  EXPECT_EQ(table.Remove(first), nullptr);

  EXPECT_EQ(table.Create(), 10002);  // ids are never reused
}

TEST(PortTable, UsedUpRangeFailsCreateAndLeavesNoCurrentPort) {
  PortTable<FakePort> table(kComPortIdLimit - 1, kComPortIdLimit);
  EXPECT_EQ(table.Create(), 29999);
  EXPECT_EQ(table.Create(), -1);
  EXPECT_EQ(table.Current(), nullptr);
  EXPECT_EQ(table.size(), 1u);
}

TEST(PortTable, AConstructorThatThrowsChangesNothing) {
  PortTable<FakePort> table(kComPortIdBase, kComPortIdLimit);
  const int32_t first = table.Create();
  EXPECT_THROW(table.Create(true), std::runtime_error);
  EXPECT_EQ(table.CurrentId(), first);
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.Create(), first + 2);
}

// Each thread acts on the port it selected, whatever other threads select in
// between; a thread that selected nothing, or whose port went, acts on none.
TEST(PortTable, EachThreadHasItsOwnCurrentPort) {
  PortTable<FakePort> table(kComPortIdBase, kComPortIdLimit);
  const int32_t a = table.Create();
  const int32_t b = table.Create();
  int32_t seen_by_other = 0;
  int32_t seen_after_removal = -1;
  ASSERT_TRUE(table.Select(a));
  std::thread other([&] {
    EXPECT_EQ(table.CurrentId(), 0);  // nothing chosen here yet
    ASSERT_TRUE(table.Select(b));
  });
  other.join();
  EXPECT_EQ(table.CurrentId(), a);  // not moved by the other thread's choice

  std::thread third([&] {
    ASSERT_TRUE(table.Select(b));
    seen_by_other = table.CurrentId();
    ASSERT_NE(table.Remove(b), nullptr);
    seen_after_removal = table.CurrentId();
  });
  third.join();
  EXPECT_EQ(seen_by_other, b);
  EXPECT_EQ(seen_after_removal, 0);
  EXPECT_EQ(table.CurrentId(), a);
  std::thread(&PortTable<FakePort>::Remove, &table, a).join();
  EXPECT_EQ(table.Current(), nullptr);  // not whichever port is left
}

}  // namespace
}  // namespace qz381::ports
