#include "platform/msgwindow.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/sync.h"

namespace qz381::platform {
namespace {

constexpr uint32_t kLong = 10000;

// Records what a window's procedure saw.
struct Recorder {
  std::vector<Message> seen;
  WindowProc Proc() {
    return [this](const Message& m) {
      seen.push_back(m);
      return true;
    };
  }
};

TEST(MessageWindowTest, PostsFromOtherThreadsArriveInOrderOnTheOwner) {
  Recorder rec;
  auto window = MessageWindow::Create("events", rec.Proc());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->name(), "events");

  constexpr int kThreads = 4, kPerThread = 500;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) EXPECT_TRUE(window->Post(kMsgUser, t, i));
    });
  }
  while (rec.seen.size() < kThreads * kPerThread) {
    ASSERT_GT(WaitAndPumpMessages(kLong), 0);
  }
  for (auto& p : posters) p.join();

  std::vector<intptr_t> last(kThreads, -1);
  for (const Message& m : rec.seen) {
    EXPECT_EQ(m.msg, kMsgUser);
    EXPECT_EQ(m.lparam, last[m.wparam] + 1) << "from thread " << m.wparam;
    last[m.wparam] = m.lparam;
  }
}

TEST(MessageWindowTest, PumpRunsOnlyWhatWasQueuedBeforeTheCall) {
  std::unique_ptr<MessageWindow> window;
  int runs = 0;
  window = MessageWindow::Create("self-posting", [&](const Message&) {
    ++runs;
    window->Post(kMsgUser, 0, 0);
    return true;
  });
  window->Post(kMsgUser, 0, 0);
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(runs, 2);
  window.reset();
  EXPECT_EQ(PumpMessages(), 0);
}

TEST(MessageWindowTest, MessagesForADestroyedWindowAreDropped) {
  Recorder kept, gone;
  auto keep = MessageWindow::Create("keep", kept.Proc());
  auto drop = MessageWindow::Create("drop", gone.Proc());
  drop->Post(kMsgUser, 1, 0);
  keep->Post(kMsgUser, 2, 0);
  drop->Post(kMsgUser, 3, 0);
  drop.reset();
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_TRUE(gone.seen.empty());
  ASSERT_EQ(kept.seen.size(), 1u);
  EXPECT_EQ(kept.seen[0].wparam, 2u);
}

TEST(MessageWindowTest, ProcedureMayDestroyItsOwnWindowAndPumpRecursively) {
  std::vector<int> order;
  std::unique_ptr<MessageWindow> window;
  window = MessageWindow::Create("reentrant", [&](const Message& m) {
    order.push_back(static_cast<int>(m.wparam));
    if (m.wparam == 1) {
      EXPECT_EQ(PumpMessages(), 1);  // runs 2; 3 is dropped below
      order.push_back(-1);
    } else if (m.wparam == 2) {
      window.reset();  // the procedure keeps running; 3 never runs
      order.push_back(-2);
    }
    return true;
  });
  for (uintptr_t i = 1; i <= 3; ++i) window->Post(kMsgUser, i, 0);
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(order, (std::vector<int>{1, 2, -2, -1}));
}

TEST(MessageWindowTest, EachThreadPumpsOnlyItsOwnWindows) {
  Event created(true, false), pumped(true, false);
  std::unique_ptr<MessageWindow> remote;
  int remote_runs = 0;  // touched only by the owner thread until join
  std::thread owner([&] {
    remote = MessageWindow::Create("remote", [&](const Message&) { return ++remote_runs > 0; });
    created.Set();
    EXPECT_EQ(WaitAndPumpMessages(kLong), 1);
    remote.reset();
    pumped.Set();
  });
  ASSERT_TRUE(created.Wait(kLong));
  EXPECT_TRUE(remote->Post(kMsgCommand, 0, 0));
  EXPECT_EQ(PumpMessages(), 0);
  ASSERT_TRUE(pumped.Wait(kLong));
  owner.join();
  EXPECT_EQ(remote_runs, 1);
}

TEST(MessageWindowTest, PostToAWindowWhoseThreadEndedFails) {
  Recorder rec;
  std::unique_ptr<MessageWindow> orphan;
  std::shared_ptr<ThreadQueue> queue;
  std::thread([&] {
    orphan = MessageWindow::Create("orphan", rec.Proc());
    queue = CurrentThreadQueue();
    EXPECT_TRUE(orphan->Post(kMsgUser, 0, 0));
  }).join();
  EXPECT_FALSE(orphan->Post(kMsgUser, 0, 0));
  EXPECT_TRUE(rec.seen.empty());
  WakeThread(queue);  // harmless once the thread has ended
}

TEST(WaitAndPumpTest, TimesOutWakesAndNeverLosesAWake) {
  EXPECT_EQ(WaitAndPumpMessages(20), 0);

  auto self = CurrentThreadQueue();
  WakeThread(self);  // before the wait: still ends it
  EXPECT_EQ(WaitAndPumpMessages(kInfinite), 0);

  std::thread waker([self] { WakeThread(self); });
  EXPECT_EQ(WaitAndPumpMessages(kInfinite), 0);
  waker.join();
}

}  // namespace
}  // namespace qz381::platform
