// The clocks: one suite of what every clock promises, run on the system's and
// on the test clock that follows real time, then what the stopped test clock
// adds (exact moves) and the process clock that loaded modules read.
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "platform/clock_fake.h"

namespace qz381::platform {
namespace {

using std::chrono::milliseconds;

// Long enough never to pass on a loaded machine: a wait that should be woken
// and is not fails the test instead of hanging it.
constexpr uint32_t kLong = 60000;

struct ClockCase {
  const char* name;
  std::function<std::unique_ptr<Clock>()> make;  // null: the system clock
};

class ClockContractTest : public testing::TestWithParam<ClockCase> {
 protected:
  void SetUp() override {
    if (GetParam().make) owned_ = GetParam().make();
    clock_ = owned_ ? owned_.get() : &SystemClock();
  }
  Clock& clock() { return *clock_; }

 private:
  std::unique_ptr<Clock> owned_;
  Clock* clock_ = nullptr;
};

TEST_P(ClockContractTest, SleepAndTimedOutWaitsLastAtLeastTheirTime) {
  Event never(true, false);
  const uint64_t start = clock().NowMs();
  clock().Sleep(30);
  const uint64_t slept = clock().NowMs();
  EXPECT_GE(slept - start, 30u);
  EXPECT_EQ(clock().WaitAny({&never}, 40), -1);
  EXPECT_GE(clock().NowMs() - slept, 40u);
  EXPECT_EQ(clock().WaitAny(std::span<Event* const>(), 20), -1);  // nothing to wait for
  EXPECT_FALSE(clock().Wait(never, 0));
}

TEST_P(ClockContractTest, ASetEventEndsTheWaitAndTheLowestIndexWins) {
  Event manual(true, false), autoreset(false, false);
  auto waited = std::async(std::launch::async, [&] { return clock().Wait(autoreset, kLong); });
  std::this_thread::sleep_for(milliseconds(20));
  autoreset.Set();
  EXPECT_EQ(waited.wait_for(milliseconds(kLong)), std::future_status::ready);
  EXPECT_TRUE(waited.get());
  EXPECT_FALSE(autoreset.IsSet());  // consumed by the wait it ended

  manual.Set();
  autoreset.Set();
  EXPECT_EQ(clock().WaitAny({&autoreset, &manual}, kLong), 0);
  EXPECT_EQ(clock().WaitAny({&autoreset, &manual}, kLong), 1);
  EXPECT_TRUE(manual.IsSet());
  EXPECT_FALSE(autoreset.IsSet());
}

TEST_P(ClockContractTest, AWaitWithoutALimitEndsOnlyWhenSet) {
  Event stop(true, false);
  auto waited = std::async(std::launch::async, [&] { return clock().WaitAny({&stop}, kInfinite); });
  EXPECT_EQ(waited.wait_for(milliseconds(50)), std::future_status::timeout);
  stop.Set();
  EXPECT_EQ(waited.get(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, ClockContractTest,
    testing::Values(
        ClockCase{"system", nullptr},
        ClockCase{"fake_real_time",
                  [] { return std::make_unique<FakeClock>(FakeClock::Flow::kRealTime); }},
        ClockCase{
            "fake_real_time_instant_sleeps",
            [] { return std::make_unique<FakeClock>(FakeClock::Flow::kRealTimeInstantSleeps); }}),
    [](const testing::TestParamInfo<ClockCase>& info) { return std::string(info.param.name); });

// A wait on the stopped clock ends exactly when a move reaches its limit.
TEST(FakeClockTest, AStoppedClockEndsAWaitWhenAMoveReachesItsLimit) {
  FakeClock clock(FakeClock::Flow::kStopped, 5000);
  Event never(true, false);
  auto waited = std::async(std::launch::async, [&] {
    const int found = clock.WaitAny({&never}, 300000);
    return std::make_pair(found, clock.NowMs());
  });
  ASSERT_TRUE(clock.WaitForWaiters(1));
  EXPECT_EQ(clock.NowMs(), 5000u);  // it stands still while the thread waits
  clock.Advance(299999);
  EXPECT_EQ(waited.wait_for(milliseconds(50)), std::future_status::timeout);
  EXPECT_EQ(clock.Waiters(), 1u);
  clock.Advance(1);
  EXPECT_EQ(waited.get(), std::make_pair(-1, uint64_t{305000}));
  EXPECT_EQ(clock.Waiters(), 0u);
}

TEST(FakeClockTest, AStoppedClockSleepsByMovingOnAndEndsTheWaitsItPasses) {
  FakeClock clock(FakeClock::Flow::kStopped, 0);
  Event never(true, false), stop(true, false);
  auto short_wait = std::async(std::launch::async, [&] { return clock.WaitAny({&never}, 100); });
  auto long_wait = std::async(std::launch::async, [&] { return clock.WaitAny({&stop}, 1000); });
  ASSERT_TRUE(clock.WaitForWaiters(2));
  clock.Sleep(500);  // returns at once
  EXPECT_EQ(clock.NowMs(), 500u);
  EXPECT_EQ(short_wait.get(), -1);
  EXPECT_EQ(long_wait.wait_for(milliseconds(50)), std::future_status::timeout);
  stop.Set();  // an event ends a wait with no move at all
  EXPECT_EQ(long_wait.get(), 0);
  EXPECT_EQ(clock.NowMs(), 500u);
}

TEST(FakeClockTest, WaitsWithoutALimitAreNotCountedAsWaiters) {
  FakeClock clock;
  Event stop(true, false);
  auto waited = std::async(std::launch::async, [&] { return clock.WaitAny({&stop}, kInfinite); });
  EXPECT_FALSE(clock.WaitForWaiters(1, milliseconds(50)));
  clock.Advance(1u << 31);
  EXPECT_EQ(waited.wait_for(milliseconds(20)), std::future_status::timeout);
  stop.Set();
  EXPECT_EQ(waited.get(), 0);
}

// A jump on the clock that follows real time ends a long sleep or wait at once.
TEST(FakeClockTest, AJumpEndsASleepOrAWaitOnTheRealTimeClock) {
  FakeClock clock(FakeClock::Flow::kRealTime);
  Event never(true, false);
  const std::function<int()> blocks[] = {
      [&] {
        clock.Sleep(300000);
        return -1;
      },
      [&] { return clock.WaitAny({&never}, 300000); },
  };
  for (const auto& block : blocks) {
    auto ended = std::async(std::launch::async, block);
    ASSERT_TRUE(clock.WaitForWaiters(1));
    const uint64_t before = clock.NowMs();
    clock.Advance(300000);
    EXPECT_GE(clock.NowMs(), before + 300000);
    ASSERT_EQ(ended.wait_for(milliseconds(kLong)), std::future_status::ready);
    EXPECT_EQ(ended.get(), -1);
  }
}

// Real time, but a pause costs none of it: the sleeper jumps the clock, which
// ends the waits its pause passes.
TEST(FakeClockTest, InstantSleepsJumpARealTimeClock) {
  FakeClock clock(FakeClock::Flow::kRealTimeInstantSleeps, 0);
  Event never(true, false);
  auto waited = std::async(std::launch::async, [&] { return clock.WaitAny({&never}, 1000); });
  ASSERT_TRUE(clock.WaitForWaiters(1));
  const auto real_start = std::chrono::steady_clock::now();
  clock.Sleep(300000);
  EXPECT_LT(std::chrono::steady_clock::now() - real_start, milliseconds(10000));
  EXPECT_GE(clock.NowMs(), 300000u);
  EXPECT_EQ(waited.get(), -1);
}

TEST(ProcessClockTest, FollowsTheClockInPlaceAndFallsBackToTheSystems) {
  Clock& process = DefaultClock();
  EXPECT_NEAR(static_cast<double>(process.NowMs()), static_cast<double>(SystemClock().NowMs()),
              1000.0);
  {
    FakeClock fake(FakeClock::Flow::kStopped, 42);
    ScopedProcessClock scope(fake);
    EXPECT_EQ(process.NowMs(), 42u);
    process.Sleep(8);
    EXPECT_EQ(fake.NowMs(), 50u);
  }
  EXPECT_NEAR(static_cast<double>(process.NowMs()), static_cast<double>(SystemClock().NowMs()),
              1000.0);
}

}  // namespace
}  // namespace qz381::platform
