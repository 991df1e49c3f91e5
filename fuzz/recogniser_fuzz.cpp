// The status recogniser and receive buffers fed arbitrary printer output cut into
// arbitrary chunks, with a caller taking data and blocks in between. Checks:
// no memory error; every byte fed is accounted for exactly once (taken or still
// buffered as data, taken or still buffered in a block, dropped by a full
// buffer, discarded as an unfinished block, or held right now); every block
// consists of admitted bytes; and, while nothing overflows, the data and the
// blocks are exactly what a plain byte-at-a-time model of the rules yields.
//
// Input layout: [n][capacity][n chunk sizes][stream ...]
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "ports/common/status_recogniser.h"
#include "ports/common/testdata/recogniser_model.h"

namespace {

using qz381::ports::StatusBlock;
using qz381::ports::StatusRecogniser;

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 2) return 0;
  const size_t size_count = input[0] % 16;
  const uint32_t capacity = input[1] & 0x80 ? 1u << 16 : input[1];  // 0 means the default
  if (size < 2 + size_count) return 0;
  std::span<const uint8_t> sizes(input + 2, size_count);
  // Sizes that are all zero would never move through the stream.
  if (std::all_of(sizes.begin(), sizes.end(), [](uint8_t s) { return s % 128 == 0; })) sizes = {};
  const std::span<const uint8_t> stream(input + 2 + size_count, size - 2 - size_count);

  qz381::ports::ReceiveBuffers buffers;
  Check(buffers.Open(capacity));
  StatusRecogniser recogniser(buffers.data, buffers.status);
  qz381::ports::testing::RecogniserModel model;

  std::vector<uint8_t> taken_data;
  std::vector<StatusBlock> taken_blocks;
  size_t offset = 0;
  for (size_t i = 0; offset < stream.size(); ++i) {
    // Chunk sizes 0 ... 127; with no sizes given, chunks of 100 as the serial reader takes them.
    const size_t want = sizes.empty() ? 100 : sizes[i % sizes.size()] % 128;
    const auto chunk = stream.subspan(offset, std::min(want, stream.size() - offset));
    offset += chunk.size();
    recogniser.Feed(chunk);
    model.Feed(chunk);
    // A caller reads now and then, as the service object's threads do.
    if (!sizes.empty() && sizes[i % sizes.size()] & 0x80) {
      uint8_t out[7];
      const size_t n = buffers.data.Take(out);
      taken_data.insert(taken_data.end(), out, out + n);
      StatusBlock block;
      if (buffers.status.Take(block)) taken_blocks.push_back(block);
    }
  }

  std::vector<uint8_t> rest(buffers.data.Count());
  Check(buffers.data.Take(rest) == rest.size());
  taken_data.insert(taken_data.end(), rest.begin(), rest.end());
  for (StatusBlock block; buffers.status.Take(block);) taken_blocks.push_back(block);

  for (const StatusBlock& block : taken_blocks) {
    for (size_t p = 0; p < block.size(); ++p) Check(StatusRecogniser::Accepts(p, block[p]));
  }

  const uint64_t dropped = buffers.data.DroppedBytes() + buffers.status.DroppedBytes();
  const uint64_t accounted = taken_data.size() + 4 * taken_blocks.size() + dropped +
                             recogniser.DiscardedBytes() + recogniser.Held().size();
  Check(accounted == stream.size());
  Check(buffers.status.DroppedBytes() % 4 == 0);
  if (dropped == 0) {
    Check(taken_data == model.data);
    Check(taken_blocks == model.blocks);
  }
  return 0;
}
