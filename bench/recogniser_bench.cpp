// Throughput of the receive path of a port: the status recogniser splitting a
// mixed stream into the data and status buffers, and a caller draining both, as
// the reader thread and the service object's threads do. Chunk sizes: 100 (what
// the serial reader takes per cycle) and 4096 (a bulk USB read).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "ports/common/status_recogniser.h"

namespace {

using qz381::ports::ReceiveBuffers;
using qz381::ports::StatusBlock;
using qz381::ports::StatusRecogniser;

// Text with an automatic status block about every 200 bytes, a reply block now
// and then, and bytes that open a match which the next byte breaks (0x10 is
// both a first status byte and DLE).
std::vector<uint8_t> MixedStream(size_t size) {
  std::mt19937 random(381);
  std::uniform_int_distribution<int> text(0x20, 0x7E);
  std::uniform_int_distribution<int> pick(0, 199);
  std::vector<uint8_t> stream;
  stream.reserve(size + 4);
  while (stream.size() < size) {
    const int roll = pick(random);
    if (roll == 0) {
      stream.insert(stream.end(), {0x14, 0x20, 0x00, 0x0F});
    } else if (roll == 1) {
      stream.insert(stream.end(), {0x35, 0x40, 0x41, 0x00});
    } else if (roll < 6) {
      stream.insert(stream.end(), {0x10, 0x04});
    } else {
      stream.push_back(static_cast<uint8_t>(text(random)));
    }
  }
  return stream;
}

void BM_RecogniseMixedStream(benchmark::State& state) {
  const size_t chunk_size = static_cast<size_t>(state.range(0));
  const std::vector<uint8_t> stream = MixedStream(1 << 20);
  ReceiveBuffers buffers;
  if (!buffers.Open(8192)) state.SkipWithError("cannot open buffers");
  StatusRecogniser recogniser(buffers.data, buffers.status);
  std::vector<uint8_t> out(8192);
  StatusBlock block;
  size_t blocks = 0;

  for (auto _ : state) {
    for (size_t offset = 0; offset < stream.size(); offset += chunk_size) {
      const size_t n = std::min(chunk_size, stream.size() - offset);
      recogniser.Feed(std::span<const uint8_t>(stream.data() + offset, n));
      if (buffers.data.Count() > 4096) buffers.data.Take(out);
      while (buffers.status.Take(block)) ++blocks;
    }
    buffers.data.Take(out);
  }
  benchmark::DoNotOptimize(blocks);
  if (buffers.data.DroppedBytes() + buffers.status.DroppedBytes() > 0) {
    state.SkipWithError("buffers overflowed; the figure would not be comparable");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_RecogniseMixedStream)->Arg(100)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
