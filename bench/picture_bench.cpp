// Pictures: each image encoder on its own, turning and stretching, and the
// whole way PrintBitmap takes from a picture file to printer bytes (load,
// pixels, turn, stretch to the width asked for, encode) for a 512-wide logo
// and a 576 x 2000 photo, both PNG files as a shop would supply them.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/picture.h"
#include "so/output/bitmap.h"

namespace {

namespace output = qz381::output;

// A photo-like picture: smooth colour gradients with noise, and a white margin
// about a fifth of the width (so all three pixel classes occur).
output::Picture Photo(int width, int height) {
  output::Picture p;
  p.width = width;
  p.height = height;
  p.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  std::mt19937 random(381);
  std::uniform_int_distribution<int> noise(-24, 24);
  auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      output::Rgb& c =
          p.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
      if (x < width / 10 || x >= width - width / 10) continue;  // white
      const int base = (x * 255 / width + y * 255 / height) / 2;
      c = base < 40 ? output::Rgb{0, 0, 0}
                    : output::Rgb{clamp(base + noise(random)), clamp(255 - base + noise(random)),
                                  clamp(base / 2 + noise(random))};
    }
  }
  return p;
}

// A logo: black letters and bars on white, mostly white.
output::Picture Logo(int width, int height) {
  output::Picture p;
  p.width = width;
  p.height = height;
  p.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), output::Rgb{});
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool bar = (y / 16) % 3 == 1 && (x / 24) % 2 == 0;
      const bool ring = std::abs((x - width / 2) * (x - width / 2) / 4 +
                                 (y - height / 2) * (y - height / 2) - 3600) < 400;
      if (bar || ring) {
        p.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
            output::Rgb{0, 0, 0};
      }
    }
  }
  return p;
}

std::string WritePng(const output::Picture& p, const std::string& name) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("qz381_picture_bench_" + name + ".png")).string();
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(p.width);
  png.height = static_cast<png_uint_32>(p.height);
  png.format = PNG_FORMAT_RGB;
  static_assert(sizeof(output::Rgb) == 3);
  if (!png_image_write_to_file(&png, path.c_str(), 0, p.pixels.data(), 0, nullptr)) return {};
  return path;
}

// PrintBitmap's steps after the argument checks, in its order; `width` 0 keeps
// the picture's own width.
std::string PrintPath(const std::string& file, int width, int32_t rotation) {
  qz381::platform::Picture loaded;
  if (!qz381::platform::LoadPictureFile(file, &loaded).ok()) return {};
  output::Picture picture = output::PictureFromRgb(loaded.width, loaded.height, loaded.rgb);
  picture = output::RotatePicture(picture, rotation);
  const int w = width > 0 ? width : picture.width;
  const int h = static_cast<int>(int64_t{w} * picture.height / picture.width);
  return output::EncodeRasterImage(output::StretchPicture(picture, w, h));
}

void BM_PrintBitmapPath(benchmark::State& state, output::Picture (*make)(int, int), int width,
                        int height, int scale_to, int32_t rotation) {
  const std::string file =
      WritePng(make(width, height), std::to_string(width) + "x" + std::to_string(height));
  if (file.empty()) state.SkipWithError("cannot write the picture file");
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string out = PrintPath(file, scale_to, rotation);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  if (bytes == 0) state.SkipWithError("nothing encoded");
  state.counters["out_bytes"] = static_cast<double>(bytes);
  std::filesystem::remove(file);
}
BENCHMARK_CAPTURE(BM_PrintBitmapPath, logo_512x160, &Logo, 512, 160, 0, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PrintBitmapPath, photo_576x2000, &Photo, 576, 2000, 0, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PrintBitmapPath, photo_576x2000_to_512, &Photo, 576, 2000, 512, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PrintBitmapPath, photo_576x2000_quarter_turn, &Photo, 576, 2000, 576, 257)
    ->Unit(benchmark::kMillisecond);

template <typename Encode>
void RunEncoder(benchmark::State& state, const output::Picture& p, Encode encode) {
  for (auto _ : state) {
    auto out = encode(p);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * p.width * p.height / 1e6,
                         benchmark::Counter::kIsRate);
}

void BM_EncodeRaster(benchmark::State& state) {
  RunEncoder(state, Photo(512, 2000), output::EncodeRasterImage);
}
void BM_EncodeColumnStrips(benchmark::State& state) {
  RunEncoder(state, Photo(248, 2000),
             [](const output::Picture& p) { return output::EncodeColumnStrips(p, false); });
}
void BM_EncodeTwoColourPrint(benchmark::State& state) {
  RunEncoder(state, Photo(512, 2000), output::EncodeTwoColourGraphicsPrint);
}
void BM_EncodeTwoColourStored(benchmark::State& state) {
  RunEncoder(state, Photo(512, 1000), output::EncodeTwoColourGraphicsStored);
}
void BM_RotateQuarter(benchmark::State& state) {
  RunEncoder(state, Photo(512, 2000),
             [](const output::Picture& p) { return output::RotatePicture(p, 257).pixels; });
}
void BM_StretchUp(benchmark::State& state) {
  RunEncoder(state, Photo(512, 2000),
             [](const output::Picture& p) { return output::StretchPicture(p, 576, 2250).pixels; });
}
BENCHMARK(BM_EncodeRaster)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeColumnStrips)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeTwoColourPrint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeTwoColourStored)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateQuarter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StretchUp)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
