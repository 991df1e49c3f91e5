#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qz381::platform {
namespace {

// Long enough never to expire on a loaded machine: a wait that should succeed
// and hits it fails the test instead of hanging it.
constexpr uint32_t kLong = 10000;

TEST(EventTest, ManualResetStaysSetUntilReset) {
  Event e(/*manual_reset=*/true, /*initially_set=*/false);
  EXPECT_FALSE(e.Wait(0));
  e.Set();
  EXPECT_TRUE(e.Wait(0));
  EXPECT_TRUE(e.Wait(0));
  EXPECT_TRUE(e.IsSet());
  e.Reset();
  EXPECT_FALSE(e.IsSet());
  EXPECT_FALSE(e.Wait(10));
}

TEST(EventTest, AutoResetIsConsumedByTheWaiterItReleases) {
  Event e(/*manual_reset=*/false, /*initially_set=*/true);
  EXPECT_TRUE(e.Wait(0));
  EXPECT_FALSE(e.IsSet());
  EXPECT_FALSE(e.Wait(10));
}

TEST(EventTest, AutoResetReleasesOneWaiterPerSet) {
  Event e(false, false);
  std::atomic<int> released{0};
  std::thread a([&] { released += e.Wait(kLong); });
  std::thread b([&] { released += e.Wait(kLong); });
  e.Set();
  while (released.load() == 0) std::this_thread::yield();
  // The second waiter cannot have been released: the one Set was consumed.
  EXPECT_FALSE(e.IsSet());
  EXPECT_EQ(released.load(), 1);
  e.Set();
  a.join();
  b.join();
  EXPECT_EQ(released.load(), 2);
}

TEST(WaitAllTest, TakesAllEventsAtOnceOrNone) {
  // `all` needs a and b together; `single` competes for a alone. Setting a while
  // b is clear must go to `single`: WaitAll may not take a early and hold it.
  Event a(false, false), b(false, false);
  std::atomic<bool> all_done{false};
  std::thread all([&] { all_done = WaitAll({&a, &b}, kLong); });
  std::thread single([&] { EXPECT_TRUE(a.Wait(kLong)); });
  a.Set();
  single.join();
  b.Set();
  // a is gone, so WaitAll cannot complete and must leave b alone.
  EXPECT_TRUE(b.IsSet());
  EXPECT_FALSE(all_done.load());
  a.Set();
  all.join();
  EXPECT_TRUE(all_done.load());
  EXPECT_FALSE(a.IsSet());
  EXPECT_FALSE(b.IsSet());
}

TEST(WaitAllTest, ResetsOnlyAutoResetEventsAndTimesOutWithoutConsuming) {
  Event manual(true, true), automatic(false, true), clear(false, false);
  EXPECT_TRUE(WaitAll({&manual, &automatic}, 0));
  EXPECT_TRUE(manual.IsSet());
  EXPECT_FALSE(automatic.IsSet());

  automatic.Set();
  EXPECT_FALSE(WaitAll({&manual, &automatic, &clear}, 20));
  EXPECT_TRUE(automatic.IsSet());
}

TEST(WaitAnyTest, LowestSignalledIndexWinsAndAutoResetIsConsumed) {
  Event e0(false, false), e1(false, true), e2(true, true);
  Event* events[] = {&e0, &e1, &e2};
  EXPECT_EQ(WaitAny(events, 0), 1);
  EXPECT_FALSE(e1.IsSet());
  EXPECT_EQ(WaitAny(events, 0), 2);
  EXPECT_EQ(WaitAny(events, 0), 2);  // manual: still set
  e2.Reset();
  EXPECT_EQ(WaitAny(events, 20), -1);
  EXPECT_EQ(WaitAny(std::span<Event* const>(), 0), -1);
}

TEST(WaitAnyTest, WakesWhenAnotherThreadSetsOne) {
  Event stop(true, false), work(false, false);
  std::thread t([&] { work.Set(); });
  EXPECT_EQ(WaitAny({&stop, &work}, kLong), 1);
  t.join();
}

TEST(TickCountTest, AdvancesAtLeastBySleep) {
  uint32_t start = TickCount();
  SleepMs(30);
  // Unsigned difference: correct across the 2^32 wrap too.
  EXPECT_GE(static_cast<uint32_t>(TickCount() - start), 29u);
}

}  // namespace
}  // namespace qz381::platform
