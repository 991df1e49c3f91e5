// EventDelivery on its own: records from any thread reach the target on the
// thread that started it, in order, behind both gates; a release drops what is
// queued or on its way and answers dropped errors "clear".
#include "so/core/event_delivery.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/opos.h"
#include "platform/msgwindow.h"
#include "so/core/testdata/test_support.h"

namespace qz381::so {
namespace {

using testing::PumpFor;
using testing::PumpUntil;
using Log = std::vector<std::string>;

constexpr uint32_t kQuietMs = 60;  // long enough for a wrongly released record to show up

class RecordingTarget final : public EventDelivery::Target {
 public:
  void Deliver(EventRecord& r) override {
    log.push_back(std::to_string(r.kind) + ":" + std::to_string(r.a));
    thread = std::this_thread::get_id();
    if (during) during();
  }
  Log log;  // "kind:a", on the delivering thread only
  std::thread::id thread;
  std::function<void()> during;
};

class EventDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(delivery_.Start()); }
  void TearDown() override {
    delivery_.RequestStop();
    delivery_.Join();
    delivery_.DestroyWindow();
    platform::PumpMessages();
  }
  static std::unique_ptr<EventRecord> Done(int32_t id) { return EventRecord::OutputComplete(id); }

  RecordingTarget target_;
  EventDelivery delivery_{target_};
};

TEST_F(EventDeliveryTest, RecordsFromAnotherThreadArriveInOrderOnTheStartingThread) {
  std::thread producer([this] {
    delivery_.Post(Done(1));
    delivery_.Post(EventRecord::StatusUpdate(2003));
    delivery_.Post(Done(2));
  });
  producer.join();
  ASSERT_TRUE(PumpUntil([&] { return target_.log.size() == 3; }));
  EXPECT_EQ(target_.log, (Log{"4:1", "5:2003", "4:2"}));
  EXPECT_EQ(target_.thread, std::this_thread::get_id());
}

TEST_F(EventDeliveryTest, EachGateHoldsRecordsUntilBothAreOpen) {
  delivery_.SetServiceGate(false);
  delivery_.SetControlGate(false);
  delivery_.Post(Done(1));
  delivery_.Post(Done(2));
  PumpFor(kQuietMs);
  EXPECT_EQ(delivery_.Queued(), 2u);
  delivery_.SetServiceGate(true);
  PumpFor(kQuietMs);
  EXPECT_TRUE(target_.log.empty());
  delivery_.SetControlGate(true);
  ASSERT_TRUE(PumpUntil([&] { return target_.log.size() == 2; }));
  EXPECT_EQ(target_.log, (Log{"4:1", "4:2"}));
}

TEST_F(EventDeliveryTest, ReleaseDropsQueuedRecordsAndAnswersTheirErrorsClear) {
  delivery_.SetControlGate(false);
  delivery_.ExpectErrorResponse();
  delivery_.Post(EventRecord::Error(111, 0, 1, 11));
  delivery_.Post(Done(1));
  delivery_.Release();
  EXPECT_EQ(delivery_.Queued(), 0u);
  platform::Event never(true, false);
  int32_t response = 0;
  ASSERT_TRUE(delivery_.WaitErrorResponse(never, &response));
  EXPECT_EQ(response, opos::OPOS_ER_CLEAR);

  // Posted after the release (a thread that passed its checks just before it).
  delivery_.Post(Done(2));
  EXPECT_EQ(delivery_.Queued(), 0u);
  delivery_.SetControlGate(true);
  delivery_.Resume();
  delivery_.Post(Done(3));
  ASSERT_TRUE(PumpUntil([&] { return !target_.log.empty(); }));
  PumpFor(kQuietMs);
  EXPECT_EQ(target_.log, (Log{"4:3"}));
}

TEST_F(EventDeliveryTest, RecordOnItsWayAtReleaseIsNotDelivered) {
  delivery_.Post(Done(1));
  // Not pumping: the event thread takes the record and posts its message.
  for (int i = 0; i < 300 && delivery_.Queued() != 0; ++i) platform::SleepMs(10);
  ASSERT_EQ(delivery_.Queued(), 0u);
  platform::SleepMs(30);
  delivery_.Release();
  PumpFor(kQuietMs);
  EXPECT_TRUE(target_.log.empty());
  // The event thread goes on with the next record.
  delivery_.Resume();
  delivery_.Post(Done(2));
  ASSERT_TRUE(PumpUntil([&] { return target_.log.size() == 1; }));
  EXPECT_EQ(target_.log, (Log{"4:2"}));
}

TEST_F(EventDeliveryTest, AnErrorIsAnsweredByTheTargetOrByTheStop) {
  target_.during = [this] { delivery_.AnswerError(opos::OPOS_ER_RETRY); };
  delivery_.ExpectErrorResponse();
  delivery_.Post(EventRecord::Error(111, 0, 1, 12));
  ASSERT_TRUE(PumpUntil([&] { return !target_.log.empty(); }));
  platform::Event stop(true, false);
  int32_t response = 0;
  ASSERT_TRUE(delivery_.WaitErrorResponse(stop, &response));
  EXPECT_EQ(response, opos::OPOS_ER_RETRY);

  delivery_.ExpectErrorResponse();
  stop.Set();
  EXPECT_FALSE(delivery_.WaitErrorResponse(stop, &response));
}

// The opening thread is not pumping (or is inside the target's callback): the
// stop still ends the event thread, and the stale message finds nothing.
TEST_F(EventDeliveryTest, StopEndsTheThreadWhileTheStartingThreadIsNotPumping) {
  delivery_.Post(Done(1));
  delivery_.Post(Done(2));
  platform::SleepMs(20);  // the event thread is now waiting for the window
  delivery_.RequestStop();
  delivery_.Join();
  PumpFor(kQuietMs);
  EXPECT_TRUE(target_.log.empty());
  delivery_.Post(Done(3));  // not started: dropped
  EXPECT_EQ(delivery_.Queued(), 0u);
}

TEST_F(EventDeliveryTest, StopFromInsideTheTargetEndsDelivery) {
  target_.during = [this] { delivery_.RequestStop(); };
  delivery_.Post(Done(1));
  delivery_.Post(Done(2));
  ASSERT_TRUE(PumpUntil([&] { return !target_.log.empty(); }));
  delivery_.Join();
  PumpFor(kQuietMs);
  EXPECT_EQ(target_.log, (Log{"4:1"}));
}

}  // namespace
}  // namespace qz381::so
