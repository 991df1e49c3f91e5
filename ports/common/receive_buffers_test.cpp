#include "ports/common/receive_buffers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "ports/common/status_recogniser.h"

namespace qz381::ports {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(DataBuffer, KeepsOrderAcrossWrapAround) {
  DataBuffer buffer;
  ASSERT_TRUE(buffer.Open(5));
  Bytes out(3);
  EXPECT_EQ(buffer.Append(Bytes{1, 2, 3, 4}), 4u);
  EXPECT_EQ(buffer.Take(out), 3u);
  EXPECT_EQ(out, (Bytes{1, 2, 3}));
  EXPECT_EQ(buffer.Append(Bytes{5, 6, 7, 8, 9}), 4u);  // room for four: one dropped
  EXPECT_EQ(buffer.Count(), 5u);
  out.assign(5, 0);
  EXPECT_EQ(buffer.Take(out), 5u);
  EXPECT_EQ(out, (Bytes{4, 5, 6, 7, 8}));
  EXPECT_EQ(buffer.DroppedBytes(), 1u);
}

TEST(DataBuffer, ClosedOrEmptyBufferTakesAndStoresNothing) {
  DataBuffer buffer;
  Bytes out(4);
  EXPECT_EQ(buffer.Append(Bytes{1}), 0u);
  EXPECT_EQ(buffer.TakeFor(out, 50), 0u);
  ASSERT_TRUE(buffer.Open(0));
  EXPECT_EQ(buffer.Append(Bytes{1}), 0u);
  EXPECT_EQ(buffer.DroppedBytes(), 1u);
  buffer.Close();
  EXPECT_EQ(buffer.Count(), 0u);
  EXPECT_EQ(buffer.Capacity(), 0u);
}

TEST(DataBuffer, ClearLeavesStatusBlocks) {
  ReceiveBuffers buffers;
  ASSERT_TRUE(buffers.Open(64));
  StatusRecogniser recogniser(buffers.data, buffers.status);
  recogniser.Feed(Bytes{0x41, 0x10, 0x00, 0x00, 0x0F});
  buffers.data.Clear();
  EXPECT_EQ(buffers.data.Count(), 0u);
  StatusBlock block;
  EXPECT_TRUE(buffers.status.Take(block));
}

TEST(ReceiveBuffers, CapacityFromInputBufferSize) {
  ReceiveBuffers buffers;
  ASSERT_TRUE(buffers.Open(100));
  EXPECT_EQ(buffers.data.Capacity(), 100u);
  EXPECT_EQ(buffers.status.Capacity(), 100u);
  ASSERT_TRUE(buffers.Open(0));
  EXPECT_EQ(buffers.data.Capacity(), kDefaultReceiveCapacity);
  ASSERT_TRUE(buffers.Open(0xFFFFFFFFu));
  EXPECT_EQ(buffers.status.Capacity(), kMaxReceiveCapacity);
  buffers.Close();
  EXPECT_FALSE(buffers.data.IsOpen());
  EXPECT_FALSE(buffers.status.IsOpen());
}

TEST(StatusBuffer, TakeNeedsAWholeBlock) {
  StatusBuffer buffer;
  StatusBlock out{9, 9, 9, 9};
  EXPECT_FALSE(buffer.Take(out));  // closed
  ASSERT_TRUE(buffer.Open(8));
  EXPECT_FALSE(buffer.Take(out));
  EXPECT_EQ(out, (StatusBlock{9, 9, 9, 9}));
  EXPECT_TRUE(buffer.Append({1, 2, 3, 4}));
  EXPECT_TRUE(buffer.Append({5, 6, 7, 8}));
  EXPECT_FALSE(buffer.Append({0xA, 0xB, 0xC, 0xD}));
  EXPECT_TRUE(buffer.Take(out));
  EXPECT_EQ(out, (StatusBlock{1, 2, 3, 4}));
  EXPECT_TRUE(buffer.Append({0xA, 0xB, 0xC, 0xD}));  // wraps
  EXPECT_TRUE(buffer.Take(out));
  EXPECT_EQ(out, (StatusBlock{5, 6, 7, 8}));
  EXPECT_TRUE(buffer.Take(out));
  EXPECT_EQ(out, (StatusBlock{0xA, 0xB, 0xC, 0xD}));
}

// TakeFor: what Read needs from the buffer. Times are generous lower bounds
// and loose upper bounds; the point is "waits" versus "does not wait".
TEST(DataBufferTakeFor, ZeroTimeoutMakesOnePass) {
  DataBuffer buffer;
  ASSERT_TRUE(buffer.Open(16));
  buffer.Append(Bytes{1, 2});
  Bytes out(4);
  const auto start = Clock::now();
  EXPECT_EQ(buffer.TakeFor(out, 0), 2u);
  EXPECT_LT(MsSince(start), 5000);  // generous: it catches a pass that waits
}

TEST(DataBufferTakeFor, AnswersWhatCameWhenTheTimeRunsOut) {
  DataBuffer buffer;
  ASSERT_TRUE(buffer.Open(16));
  buffer.Append(Bytes{7});
  Bytes out(2);
  const auto start = Clock::now();
  EXPECT_EQ(buffer.TakeFor(out, 120), 1u);
  EXPECT_GE(MsSince(start), 120);
  EXPECT_EQ(out[0], 7);
}

TEST(DataBufferTakeFor, ReturnsAsSoonAsTheBytesArrive) {
  DataBuffer buffer;
  ASSERT_TRUE(buffer.Open(16));
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    buffer.Append(Bytes{1});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    buffer.Append(Bytes{2, 3});
  });
  Bytes out(3);
  const auto start = Clock::now();
  EXPECT_EQ(buffer.TakeFor(out, 10000), 3u);
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_EQ(out, (Bytes{1, 2, 3}));
  reader.join();
}

TEST(DataBufferTakeFor, CloseWakesTheWaiter) {
  DataBuffer buffer;
  ASSERT_TRUE(buffer.Open(16));
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    buffer.Close();
  });
  Bytes out(1);
  const auto start = Clock::now();
  EXPECT_EQ(buffer.TakeFor(out, 10000), 0u);
  EXPECT_LT(MsSince(start), 5000);
  closer.join();
}

// WaitFor: what the status thread sleeps on between blocks. The limit is far
// longer than any test may take, so only the wake can end the wait in time.
TEST(StatusBufferWaitFor, ABlockOrACloseEndsTheWait) {
  const StatusBlock block = {0x10, 0x00, 0x40, 0x0f};
  struct Case {
    const char* name;
    bool close;  // else a block is appended
    bool expected;
  };
  for (const Case& c : {Case{"append", false, true}, Case{"close", true, false}}) {
    SCOPED_TRACE(c.name);
    StatusBuffer buffer;
    ASSERT_TRUE(buffer.Open(16));
    std::thread reader([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      if (c.close)
        buffer.Close();
      else
        buffer.Append(block);
    });
    const auto start = Clock::now();
    EXPECT_EQ(buffer.WaitFor(600000), c.expected);
    EXPECT_LT(MsSince(start), 60000);
    reader.join();
    StatusBlock out{};
    EXPECT_EQ(buffer.Take(out), c.expected);
    if (c.expected) {
      EXPECT_EQ(out, block);
    }
  }
}

TEST(StatusBufferWaitFor, ABufferedBlockAnswersAtOnceAndTimeOutTakesNothing) {
  StatusBuffer buffer;
  ASSERT_TRUE(buffer.Open(16));
  EXPECT_FALSE(buffer.WaitFor(0));
  ASSERT_TRUE(buffer.Append(StatusBlock{0x10, 0x00, 0x00, 0x0f}));
  EXPECT_TRUE(buffer.WaitFor(600000));
  EXPECT_EQ(buffer.Count(), 4u);
  buffer.Close();
  EXPECT_FALSE(buffer.WaitFor(600000));
}

// One reader thread feeding, two callers taking data and status at once, as a
// port runs; checked under ThreadSanitizer. No byte is lost or duplicated.
TEST(ReceiveBuffersConcurrency, ReaderAndCallersShareThePort) {
  ReceiveBuffers buffers;
  ASSERT_TRUE(buffers.Open(1 << 16));
  constexpr int kCycles = 2000;
  const Bytes chunk = {0x41, 0x10, 0x00, 0x00, 0x0F, 0x42, 0x43};
  std::atomic<bool> done{false};

  std::thread reader([&] {
    StatusRecogniser recogniser(buffers.data, buffers.status);
    for (int i = 0; i < kCycles; ++i) recogniser.Feed(chunk);
    done = true;
  });
  size_t blocks = 0;
  std::thread status_poller([&] {
    StatusBlock block;
    while (!done || buffers.status.Count() > 0) {
      if (buffers.status.Take(block)) ++blocks;
    }
  });
  size_t data = 0;
  Bytes out(64);
  while (!done || buffers.data.Count() > 0) {
    data += buffers.data.TakeFor(out, 1);
  }
  reader.join();
  status_poller.join();
  EXPECT_EQ(data, 3u * kCycles);
  EXPECT_EQ(blocks, size_t{kCycles});
}

}  // namespace
}  // namespace qz381::ports
