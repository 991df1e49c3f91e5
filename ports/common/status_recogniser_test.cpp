#include "ports/common/status_recogniser.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/trace.h"
#include "ports/common/testdata/recogniser_model.h"

namespace qz381::ports {
namespace {

using Bytes = std::vector<uint8_t>;

struct Split {
  Bytes data;
  std::vector<StatusBlock> blocks;
  Bytes held;
  uint64_t discarded = 0;
};

Split Recognise(const std::vector<Bytes>& chunks, uint32_t capacity = 1024) {
  ReceiveBuffers buffers;
  EXPECT_TRUE(buffers.Open(capacity));
  StatusRecogniser recogniser(buffers.data, buffers.status);
  for (const Bytes& chunk : chunks) recogniser.Feed(chunk);
  Split out;
  out.data.resize(buffers.data.Count());
  buffers.data.Take(out.data);
  for (StatusBlock block; buffers.status.Take(block);) out.blocks.push_back(block);
  out.held.assign(recogniser.Held().begin(), recogniser.Held().end());
  out.discarded = recogniser.DiscardedBytes();
  return out;
}

struct StreamCase {
  const char* name;
  std::vector<Bytes> chunks;
  Bytes data;
  std::vector<StatusBlock> blocks;
  Bytes held;
  uint64_t discarded;
};

const StreamCase kStreams[] = {
    {"block then data",
     {{0x10, 0x00, 0x00, 0x0F, 0x41}},
     {0x41},
     {{0x10, 0x00, 0x00, 0x0F}},
     {},
     0},
    {"reply set", {{0x35, 0x40, 0x40, 0x00}}, {}, {{0x35, 0x40, 0x40, 0x00}}, {}, 0},
    {"sets mixed in one block", {{0x35, 0x00, 0x0F, 0x0F}}, {}, {{0x35, 0x00, 0x0F, 0x0F}}, {}, 0},
    {"highest bytes of set A", {{0x5C, 0x60, 0x0C, 0x0F}}, {}, {{0x5C, 0x60, 0x0C, 0x0F}}, {}, 0},
    {"broken match becomes data in order", {{0x14, 0x20, 0x55}}, {0x14, 0x20, 0x55}, {}, {}, 0},
    {"breaking byte is not a new first byte",
     {{0x10, 0x10, 0x00, 0x00, 0x0F}},
     {0x10, 0x10, 0x00, 0x00, 0x0F},
     {},
     {},
     0},
    {"data around and between blocks",
     {{0x41, 0x10, 0x00, 0x00, 0x0F, 0x42, 0x35, 0x40, 0x40, 0x00, 0x43}},
     {0x41, 0x42, 0x43},
     {{0x10, 0x00, 0x00, 0x0F}, {0x35, 0x40, 0x40, 0x00}},
     {},
     0},
    {"blocks back to back",
     {{0x10, 0x00, 0x00, 0x0F, 0x1C, 0x20, 0x03, 0x0F}},
     {},
     {{0x10, 0x00, 0x00, 0x0F}, {0x1C, 0x20, 0x03, 0x0F}},
     {},
     0},
    {"partial block at chunk end is held", {{0x14, 0x20, 0x41}}, {}, {}, {0x14, 0x20, 0x41}, 0},
    {"block cut across two chunks",
     {{0xAA, 0x10, 0x00}, {0x00, 0x0F, 0xBB}},
     {0xAA, 0xBB},
     {{0x10, 0x00, 0x00, 0x0F}},
     {},
     0},
    {"block spread over three chunks is discarded",
     {{0x10}, {0x00}, {0x00, 0x0F}},
     {0x00, 0x0F},
     {},
     {},
     2},
    {"finished block restores the allowance",
     {{0x10, 0x00}, {0x00, 0x0F, 0x14}, {0x20, 0x00, 0x0F}},
     {},
     {{0x10, 0x00, 0x00, 0x0F}, {0x14, 0x20, 0x00, 0x0F}},
     {},
     0},
    {"broken carried match restores the allowance",
     {{0x10}, {0x77, 0x10, 0x00}, {0x00, 0x0F}},
     {0x10, 0x77},
     {{0x10, 0x00, 0x00, 0x0F}},
     {},
     0},
    {"carried match broken by the next chunk",
     {{0x10, 0x00}, {0x55}},
     {0x10, 0x00, 0x55},
     {},
     {},
     0},
    {"empty read does not spend the allowance",
     {{0x10, 0x00}, {}, {}, {0x00, 0x0F}},
     {},
     {{0x10, 0x00, 0x00, 0x0F}},
     {},
     0},
    {"partial left after a discard starts over", {{0x10, 0x00}, {0x00}, {0x38}}, {}, {}, {0x38}, 3},
};

TEST(StatusRecogniser, SplitsStreams) {
  for (const StreamCase& c : kStreams) {
    SCOPED_TRACE(c.name);
    const Split out = Recognise(c.chunks);
    EXPECT_EQ(out.data, c.data);
    EXPECT_EQ(out.blocks, c.blocks);
    EXPECT_EQ(out.held, c.held);
    EXPECT_EQ(out.discarded, c.discarded);
  }
}

// A chunk larger than the recogniser's internal run keeps every data byte in order.
TEST(StatusRecogniser, LongDataRunsKeepOrder) {
  Bytes chunk;
  for (int i = 0; i < 1000; ++i) chunk.push_back(static_cast<uint8_t>(0x80 + i % 64));
  chunk.insert(chunk.begin() + 700, {0x10, 0x00, 0x00, 0x0F});
  const Split out = Recognise({chunk}, 4096);
  Bytes expected = chunk;
  expected.erase(expected.begin() + 700, expected.begin() + 704);
  EXPECT_EQ(out.data, expected);
  ASSERT_EQ(out.blocks.size(), 1u);
}

// The recogniser looks for opening bytes many at a time; every byte value, at
// every place within such a window and in the tail after it, opens a block
// exactly when the table admits it there, and breaks a match in the same way.
TEST(StatusRecogniser, EveryOpeningByteIsFoundAnywhereInAChunk) {
  for (int byte = 0; byte < 256; ++byte) {
    const uint8_t b = static_cast<uint8_t>(byte);
    for (size_t offset = 0; offset < 140; offset += offset < 70 ? 1 : 13) {
      SCOPED_TRACE(std::to_string(byte) + " at " + std::to_string(offset));
      Bytes chunk(offset, 0x61);
      chunk.insert(chunk.end(), {b, 0x20, 0x00, 0x0F, 0x10, 0x04});
      chunk.insert(chunk.end(), 70, 0x61);
      const Split out = Recognise({chunk}, 4096);
      Bytes expected = chunk;
      if (StatusRecogniser::Accepts(0, b)) {
        ASSERT_EQ(out.blocks.size(), 1u);
        EXPECT_EQ(out.blocks[0], (StatusBlock{b, 0x20, 0x00, 0x0F}));
        expected.erase(expected.begin() + static_cast<ptrdiff_t>(offset),
                       expected.begin() + static_cast<ptrdiff_t>(offset) + 4);
      } else {
        EXPECT_TRUE(out.blocks.empty());
      }
      EXPECT_EQ(out.data, expected);
    }
  }
}

// The same for the later positions: a byte at position 1, 2 or 3 of a block
// completes it or breaks the match exactly as the table says, wherever the
// block stands in a chunk (the recogniser judges those bytes in bulk too).
TEST(StatusRecogniser, EveryLaterByteIsJudgedAnywhereInAChunk) {
  const StatusBlock valid = {0x10, 0x20, 0x00, 0x0F};
  for (size_t position = 1; position < kStatusBlockSize; ++position) {
    for (int byte = 0; byte < 256; ++byte) {
      for (size_t offset = 0; offset < 140; offset += offset < 70 ? 1 : 13) {
        SCOPED_TRACE(std::to_string(byte) + " at position " + std::to_string(position) +
                     ", offset " + std::to_string(offset));
        StatusBlock candidate = valid;
        candidate[position] = static_cast<uint8_t>(byte);
        Bytes chunk(offset, 0x61);
        chunk.insert(chunk.end(), candidate.begin(), candidate.end());
        chunk.insert(chunk.end(), 70, 0x61);
        testing::RecogniserModel model;
        model.Feed(chunk);
        const Split out = Recognise({chunk}, 4096);
        ASSERT_EQ(out.blocks.size(), StatusRecogniser::Accepts(position, candidate[position]));
        EXPECT_EQ(out.blocks, model.blocks);
        EXPECT_EQ(out.data, model.data);
      }
    }
  }
}

// Streams dense with opening bytes, admitted bytes and broken matches (an
// opening byte breaking another's match, blocks back to back), cut into chunks
// around the recogniser's 64-byte windows: the same data and blocks as the
// byte-at-a-time rule.
TEST(StatusRecogniser, MatchesTheByteAtATimeRuleOnDenseStreams) {
  Bytes alphabet = {0x61, 0x7E};
  for (int byte = 0; byte < 256; ++byte) {
    for (size_t position = 0; position < kStatusBlockSize; ++position) {
      if (StatusRecogniser::Accepts(position, static_cast<uint8_t>(byte))) {
        alphabet.push_back(static_cast<uint8_t>(byte));
        break;
      }
    }
  }
  std::mt19937 random(381);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  for (const size_t chunk_size : {1, 3, 63, 64, 65, 67, 100, 129, 4096}) {
    SCOPED_TRACE("chunks of " + std::to_string(chunk_size));
    Bytes stream(20000);
    for (uint8_t& b : stream) b = alphabet[pick(random)];
    std::vector<Bytes> chunks;
    for (size_t at = 0; at < stream.size(); at += chunk_size) {
      chunks.emplace_back(
          stream.begin() + static_cast<ptrdiff_t>(at),
          stream.begin() + static_cast<ptrdiff_t>(std::min(at + chunk_size, stream.size())));
    }
    testing::RecogniserModel model;
    for (const Bytes& chunk : chunks) model.Feed(chunk);
    const Split out = Recognise(chunks, 1 << 16);
    if (chunk_size >= kStatusBlockSize) {
      EXPECT_FALSE(model.blocks.empty());
    }
    EXPECT_EQ(out.blocks, model.blocks);
    EXPECT_EQ(out.data, model.data);
  }
}

// The reply to a real-time status request (0xx1xx10) must reach Read at once and
// never wait as the start of a block.
TEST(StatusRecogniser, RealTimeStatusRepliesAreNeverHeld) {
  for (int byte = 0; byte < 256; ++byte) {
    if ((byte & 0x93) != 0x12) continue;
    EXPECT_FALSE(StatusRecogniser::Accepts(0, static_cast<uint8_t>(byte))) << byte;
  }
}

class RecogniserOverflow : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetTraceCapture([this](std::string_view line) { lines_.emplace_back(line); });
  }
  void TearDown() override { platform::SetTraceCapture(nullptr); }
  std::vector<std::string> lines_;
};

TEST_F(RecogniserOverflow, SurplusDataIsDroppedAndTraced) {
  ReceiveBuffers buffers;
  ASSERT_TRUE(buffers.Open(4));
  StatusRecogniser recogniser(buffers.data, buffers.status);
  recogniser.Feed(Bytes{0x41, 0x42, 0x43, 0x10, 0x00, 0x00, 0x0F, 0x44, 0x45, 0x46});

  Bytes data(8);
  data.resize(buffers.data.Take(data));
  EXPECT_EQ(data, (Bytes{0x41, 0x42, 0x43, 0x44}));
  EXPECT_EQ(buffers.data.DroppedBytes(), 2u);
  StatusBlock block;
  EXPECT_TRUE(buffers.status.Take(block));
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].find("data buffer full (4 bytes): dropped 2"), std::string::npos)
      << lines_[0];
}

// A status buffer with room for one and a half blocks must not keep half of the
// second: every later block would be read out of frame.
TEST_F(RecogniserOverflow, StatusBufferDropsWholeBlocks) {
  ReceiveBuffers buffers;
  ASSERT_TRUE(buffers.Open(6));
  StatusRecogniser recogniser(buffers.data, buffers.status);
  recogniser.Feed(Bytes{0x10, 0x00, 0x00, 0x0F, 0x14, 0x00, 0x00, 0x0F});
  EXPECT_EQ(buffers.status.Count(), 4u);
  EXPECT_EQ(buffers.status.DroppedBytes(), 4u);
  EXPECT_EQ(buffers.data.Count(), 0u);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].find("status buffer full"), std::string::npos) << lines_[0];

  StatusBlock block;
  ASSERT_TRUE(buffers.status.Take(block));
  EXPECT_EQ(block, (StatusBlock{0x10, 0x00, 0x00, 0x0F}));
  recogniser.Feed(Bytes{0x18, 0x00, 0x00, 0x0F});
  ASSERT_TRUE(buffers.status.Take(block));
  EXPECT_EQ(block, (StatusBlock{0x18, 0x00, 0x00, 0x0F}));
}

TEST_F(RecogniserOverflow, DiscardIsTraced) {
  Recognise({{0x10}, {0x00}});
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].find("discarded 2 bytes"), std::string::npos) << lines_[0];
}

}  // namespace
}  // namespace qz381::ports
