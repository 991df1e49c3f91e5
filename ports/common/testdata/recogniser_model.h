#pragma once
// The status recogniser's rule with no batching and no buffers, one byte at a
// time: the reference the real recogniser must match (its test and its fuzz
// target compare the two).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ports/common/status_recogniser.h"

namespace qz381::ports::testing {

struct RecogniserModel {
  std::vector<uint8_t> data;
  std::vector<StatusBlock> blocks;
  StatusBlock collected{};
  size_t p = 0;
  bool allowance = true;

  void Feed(std::span<const uint8_t> chunk) {
    if (chunk.empty()) return;
    for (uint8_t byte : chunk) {
      if (StatusRecogniser::Accepts(p, byte)) {
        collected[p++] = byte;
        if (p == kStatusBlockSize) {
          blocks.push_back(collected);
          p = 0;
          allowance = true;
        }
        continue;
      }
      if (p > 0) {
        data.insert(data.end(), collected.begin(), collected.begin() + p);
        p = 0;
        allowance = true;
      }
      data.push_back(byte);
    }
    if (p > 0) {
      if (allowance) {
        allowance = false;
      } else {
        p = 0;
        allowance = true;
      }
    }
  }
};

}  // namespace qz381::ports::testing
