// The service object's port table: who may register and let go of a port, a
// port shared by two owners, and ports the managing module refuses. Over the
// fake managing module, loaded by path as mngdir names it.
#include "so/core/port_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "so/core/testdata/test_support.h"

namespace qz381::so {
namespace {

using platform::Hive;
using platform::RegValue;

constexpr uint8_t kOtherOwner = 2;

class PortTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_->SetValue(Hive::kLocalMachine, qz381::testing::kProductKey, "mngdir",
                        RegValue::Text(qz381::testing::FakeVexlink::Path()));
    fake_.Reset();
  }
  std::unique_ptr<platform::Registry> registry_ = platform::NewMemoryRegistry();
  qz381::testing::FakeVexlink fake_;
};

TEST_F(PortTableTest, OwnersShareAPortAndOnlyAnOwnerLetsItGo) {
  const std::shared_ptr<PortChannel> channel =
      RegisterPort("POS1", "COM97", kOwnerServiceObject, *registry_);
  ASSERT_NE(channel, nullptr);
  const int32_t handle = channel->handle();
  ASSERT_NE(handle, 0);
  EXPECT_EQ(FindChannel(handle), channel);
  EXPECT_EQ(RegisterPort("POS1", "COM97", kOwnerServiceObject, *registry_), nullptr);  // twice

  EXPECT_EQ(UnregisterPort(kOtherOwner, handle), 0);  // not its owner
  EXPECT_EQ(fake_.Count("RemovePort"), 0);
  EXPECT_EQ(FindChannel(handle), channel);

  EXPECT_EQ(RegisterPort("POS1", "COM97", kOtherOwner, *registry_), channel);  // shared
  EXPECT_EQ(UnregisterPort(kOwnerServiceObject, handle), 1);
  EXPECT_EQ(FindChannel(handle), channel);                    // the other owner still holds it
  EXPECT_EQ(UnregisterPort(kOwnerServiceObject, handle), 0);  // no longer its owner
  EXPECT_EQ(fake_.Count("RemovePort"), 1);
  EXPECT_EQ(UnregisterPort(kOtherOwner, handle), 1);
  EXPECT_EQ(FindChannel(handle), nullptr);
  EXPECT_EQ(fake_.Count("RemovePort"), 2);

  EXPECT_EQ(UnregisterPort(kOtherOwner, handle), 0);  // gone
  EXPECT_EQ(UnregisterPort(3, handle), 0);            // no such owner kind
  EXPECT_EQ(UnregisterPort(kOwnerServiceObject, 0), 0);
}

TEST_F(PortTableTest, ARefusedPortLeavesNothingBehind) {
  EXPECT_EQ(RegisterPort("POS1", "", kOwnerServiceObject, *registry_), nullptr);  // refused

  auto without_module = platform::NewMemoryRegistry();  // no mngdir
  EXPECT_EQ(RegisterPort("POS1", "COM98", kOwnerServiceObject, *without_module), nullptr);
  EXPECT_EQ(fake_.Count("CreatePort"), 1);

  // Neither refusal holds the name: it registers once the module takes it.
  const auto channel = RegisterPort("POS1", "COM98", kOwnerServiceObject, *registry_);
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(UnregisterPort(kOwnerServiceObject, channel->handle()), 1);
}

// Registrations of one port from several threads at once: the managing module
// is loaded and called outside the table's lock, and they still end in one
// channel that both owners share; the same owner twice is refused once.
TEST_F(PortTableTest, ConcurrentRegistrationsEndInOneSharedChannel) {
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const std::string port = "COM" + std::to_string(60 + round);
    const uint8_t owners[] = {kOwnerServiceObject, kOtherOwner, kOwnerServiceObject};
    int32_t handles[3] = {};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
      threads.emplace_back([&, i] {
        while (!go) std::this_thread::yield();
        const auto channel = RegisterPort("POS1", port, owners[i], *registry_);
        handles[i] = channel ? channel->handle() : 0;
      });
    }
    go = true;
    for (std::thread& t : threads) t.join();
    const int32_t handle = handles[1];
    ASSERT_NE(handle, 0);
    EXPECT_EQ((handles[0] != 0) + (handles[2] != 0), 1);
    EXPECT_EQ(handles[0] + handles[2], handle);
    const std::shared_ptr<PortChannel> channel = FindChannel(handle);
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(UnregisterPort(kOwnerServiceObject, handle), 1);
    EXPECT_EQ(FindChannel(handle), channel);  // one entry: the other owner still holds it
    EXPECT_EQ(UnregisterPort(kOtherOwner, handle), 1);
    EXPECT_EQ(FindChannel(handle), nullptr);
  }
  EXPECT_EQ(fake_.Count("CreatePort"), 2 * kRounds);  // one per owner; the refusal calls nothing
}

// The status thread's calls go to the sink of the moment; clearing the sink
// waits for a call already in it, so the sink may be destroyed right after,
// and no later block reaches it.
TEST_F(PortTableTest, ClearingTheStatusSinkWaitsForACallInIt) {
  struct BlockingSink final : PortChannel::StatusSink {
    void OnAsbBlock(const uint8_t* block) override {
      std::unique_lock<std::mutex> guard(mutex);
      blocks.push_back(block[0]);
      changed.notify_all();
      changed.wait(guard, [this] { return let_go; });
    }
    void OnCartridgeBlock(const uint8_t*) override {}
    void OnPowerState(int32_t) override {}
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint8_t> blocks;
    bool let_go = false;
  };
  const std::shared_ptr<PortChannel> channel =
      RegisterPort("POS1", "COM96", kOwnerServiceObject, *registry_);
  ASSERT_NE(channel, nullptr);
  ports::DeviceOption option = ports::DefaultDeviceOption();
  ASSERT_TRUE(ports::SetPortName(option, "COM96"));
  ASSERT_TRUE(channel->OpenChannel(option, kOwnerServiceObject));
  auto sink = std::make_unique<BlockingSink>();
  channel->SetStatusSink(sink.get());
  fake_.PushStatusBlock(0x14, 0x00, 0x00, 0x0F);
  {
    std::unique_lock<std::mutex> guard(sink->mutex);
    ASSERT_TRUE(sink->changed.wait_for(guard, std::chrono::seconds(5),
                                       [&] { return !sink->blocks.empty(); }));
  }
  std::atomic<bool> cleared{false};
  std::thread clearing([&] {
    channel->SetStatusSink(nullptr);
    cleared = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(cleared);  // the call is still in the sink
  EXPECT_EQ(channel->status_sink(), nullptr);
  {
    std::lock_guard<std::mutex> guard(sink->mutex);
    sink->let_go = true;
    sink->changed.notify_all();
  }
  clearing.join();
  EXPECT_TRUE(cleared);
  EXPECT_EQ(sink->blocks, std::vector<uint8_t>{0x14});
  sink.reset();  // destroyed at once: nothing may call it any more

  fake_.PushStatusBlock(0x14, 0x00, 0x00, 0x0F);
  ASSERT_TRUE(qz381::testing::PumpUntil([&] { return fake_.StatusBlocksLeft() == 0; }));
  channel->CloseChannel(kOwnerServiceObject);
  EXPECT_EQ(UnregisterPort(kOwnerServiceObject, channel->handle()), 1);
}

// The port lock is not recursive: its owner asking again is refused at once
// (a fault, not a hang), and another thread waits until it is given back.
TEST(TimedLockTest, OneOwnerAtATimeAndNoRecursion) {
  TimedLock lock;
  ASSERT_TRUE(lock.Lock(-1));
  EXPECT_FALSE(lock.Lock(-1));
  bool other_got_it = true;
  std::thread([&] { other_got_it = lock.Lock(20); }).join();
  EXPECT_FALSE(other_got_it);
  std::thread([&] { lock.Unlock(); }).join();  // not the owner: ignored
  std::thread([&] { other_got_it = lock.Lock(20); }).join();
  EXPECT_FALSE(other_got_it);
  lock.Unlock();
  std::thread waiter([&] {
    other_got_it = lock.Lock(-1);
    lock.Unlock();
  });
  waiter.join();
  EXPECT_TRUE(other_got_it);
  EXPECT_TRUE(lock.Lock(0));
  lock.Unlock();
}

}  // namespace
}  // namespace qz381::so
