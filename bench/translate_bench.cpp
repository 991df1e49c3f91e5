// Translation throughput. The serial line carries about 11.5 KB/s, so anything
// in the hundreds of MB/s keeps translation out of every profile.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "so/output/translate.h"

namespace {

using qz381::output::DeviceSettings;
using qz381::output::PrintDataTranslator;
using qz381::output::SharedOutputState;
using qz381::output::TranslatePrintData;

constexpr size_t kBlockSize = 64 * 1024;

std::string ReceiptLines(size_t size) {
  const std::string line = "2 x COFFEE LARGE               EUR    7.80\n";
  std::string text;
  while (text.size() < size) text += line;
  text.resize(size);
  return text;
}

// A style sequence after every 20 bytes of text, cycling through the kinds a
// receipt uses: emphasis, alignment, double size, underline, reset.
std::string StyledReceipt(size_t size) {
  static const char* const kStyles[] = {"\x1b|bC", "\x1b|cA",  "\x1b|2C", "\x1b|1uC",
                                        "\x1b|N",  "\x1b|2hC", "\x1b|rA", "\x1b|1C"};
  const std::string text = ReceiptLines(size);
  std::string styled;
  size_t k = 0;
  for (size_t i = 0; i < text.size() && styled.size() < size; i += 20) {
    styled.append(text, i, 20);
    styled += kStyles[k++ % (sizeof kStyles / sizeof kStyles[0])];
  }
  return styled;
}

DeviceSettings Device(SharedOutputState* shared) {
  DeviceSettings device;
  device.shared = shared;
  device.Type = 2;
  device.RecLineChars = 42;
  device.LinecharsNormal = 42;
  device.line_spacing_dots = 30;
  return device;
}

void Run(benchmark::State& state, const std::string& data) {
  SharedOutputState shared;
  DeviceSettings device = Device(&shared);
  std::string out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TranslatePrintData(device, data, out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(data.size()));
}

// As `qz381 translate` streams a file: the data in pieces of state.range(0)
// bytes, each piece's bytes taken out of one reused buffer.
void RunInPieces(benchmark::State& state, const std::string& data) {
  SharedOutputState shared;
  DeviceSettings device = Device(&shared);
  const auto piece = static_cast<size_t>(state.range(0));
  std::string out;
  for (auto _ : state) {
    PrintDataTranslator translator(device);
    translator.Begin(out);
    for (size_t from = 0; from < data.size(); from += piece) {
      translator.Feed(std::string_view(data).substr(from, piece), out);
      benchmark::DoNotOptimize(out.data());
      out.clear();
    }
    benchmark::DoNotOptimize(translator.End(out));
    out.clear();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(data.size()));
}

void BM_TranslatePlainText(benchmark::State& state) {
  Run(state, ReceiptLines(kBlockSize));
}
void BM_TranslateStyledReceipt(benchmark::State& state) {
  Run(state, StyledReceipt(kBlockSize));
}

void BM_TranslateStyledReceiptInPieces(benchmark::State& state) {
  RunInPieces(state, StyledReceipt(kBlockSize));
}

BENCHMARK(BM_TranslatePlainText);
BENCHMARK(BM_TranslateStyledReceipt);
BENCHMARK(BM_TranslateStyledReceiptInPieces)->Arg(7)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
