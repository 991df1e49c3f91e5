// The receipt renderer over arbitrary bytes: no memory error, no unbounded
// allocation, and every page it hands over stays within the paper and the
// page limit, whatever the commands claim about their sizes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tools/sim/render/render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qz381::sim::render;
  if (size == 0) return 0;
  constexpr int kLimit = 600;  // small pages keep runs fast; the limit paths still run
  auto check = [](const Image& image) {
    if (image.width != kPaperWidth || image.height < 1 || image.height > kLimit ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height) {
      std::abort();
    }
    for (const uint8_t dot : image.pixels) {
      if (dot > kRed) std::abort();
    }
  };
  RenderOptions options;
  options.max_height = kLimit;
  options.two_colour = (data[0] & 1) != 0;
  options.on_page = check;
  options.on_error = [](const std::string& line) {
    if (line.empty()) std::abort();
  };
  Renderer renderer(std::move(options));
  // The first byte also picks how the stream is cut into chunks.
  const size_t chunk = 1 + data[0] % 61;
  for (size_t i = 1; i < size; i += chunk) {
    renderer.Feed(std::span<const uint8_t>(data + i, std::min(chunk, size - i)));
  }
  renderer.FinishStream();
  check(renderer.Snapshot());
  return 0;
}
