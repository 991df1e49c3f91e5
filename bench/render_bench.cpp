// How fast the virtual printer draws what it receives. A serial line brings
// about 11.5 KB/s and a thermal head prints about 250 mm (1800 rows) a second,
// so the renderer has to stay well ahead of both to never hold the line up.
#include <benchmark/benchmark.h>

#include <string>

#include "tools/sim/render/render.h"

namespace {

using qz381::sim::render::Renderer;

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

// A shop receipt: a centred double-size header, forty item lines, a total,
// an EAN-13, a QR code and a cut.
std::string Receipt() {
  std::string r = B({0x1B, '@', 0x1B, 'a', 1, 0x1D, '!', 0x11}) + "QZ381 MARKET\n" +
                  B({0x1D, '!', 0, 0x1B, 'a', 0});
  for (int i = 0; i < 40; ++i) r += "2 x COFFEE LARGE               EUR    7.80\n";
  r += B({0x1B, 'E', 1}) + "TOTAL                          EUR  312.00\n" + B({0x1B, 'E', 0});
  r += B({0x1B, 'a', 1, 0x1D, 'h', 60, 0x1D, 'w', 3, 0x1D, 'H', 2, 0x1D, 'k', 67, 12}) +
       "400638133393";
  r += B({0x1D, '(', 'k', 4, 0,    49,  65,  50, 0, 0x1D, '(', 'k', 3,
          0,    49,  67,  4, 0x1D, '(', 'k', 41, 0, 49,   80,  48}) +
       "https://example.com/qz381/receipt/0042" + B({0x1D, '(', 'k', 3, 0, 49, 81, 48});
  r += B({0x1D, 'V', 66, 0});
  return r;
}

void BM_RenderReceipt(benchmark::State& state) {
  const std::string receipt = Receipt();
  int64_t rows = 0;
  for (auto _ : state) {
    Renderer renderer;
    renderer.Feed(receipt);
    renderer.FinishStream();
    rows += renderer.Snapshot().height;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(receipt.size()));
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderReceipt)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
