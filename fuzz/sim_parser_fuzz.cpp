// The virtual printer's command parser over arbitrary bytes, cut into chunks
// by the input itself: no memory error, no unbounded buffering, and the
// journal does not depend on where the chunks were cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/sim/command_parser.h"
#include "tools/sim/printer_state.h"

namespace {

std::vector<std::string> Parse(const uint8_t* data, size_t size, size_t chunk) {
  std::vector<std::string> lines;
  qz381::sim::PrinterState state;
  qz381::sim::CommandParser parser([&](const qz381::sim::Command& c) {
    if (c.data.size() > qz381::sim::kMaxStoredPayload) std::abort();
    state.Apply(c);
    lines.push_back(qz381::sim::FormatJournalLine(c));
  });
  for (size_t i = 0; i < size; i += chunk) {
    parser.Feed({data + i, size - i < chunk ? size - i : chunk});
    // A quiet line between chunks would cut text runs: only flush when the
    // whole input went in as one chunk, so both runs stay comparable.
  }
  parser.Finish();
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the chunk size; the rest is the stream.
  const size_t chunk = data[0] % 16 + 1;
  const auto whole = Parse(data + 1, size - 1, size);
  const auto chunked = Parse(data + 1, size - 1, chunk);
  if (whole != chunked) std::abort();
  return 0;
}
