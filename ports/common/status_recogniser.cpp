#include "ports/common/status_recogniser.h"

#include <initializer_list>

#include "platform/trace.h"

namespace qz381::ports {
namespace {

struct AcceptTable {
  std::array<std::array<bool, 256>, kStatusBlockSize> at{};
};

// Each row lists the bytes admitted at one position; -1 ends a row.
using SetRows = std::array<std::array<int, 8>, kStatusBlockSize>;

// Set A: the automatic status report.
constexpr SetRows kSetA = {{
    {0x10, 0x14, 0x18, 0x1C, 0x38, 0x3C, 0x5C, -1},
    {0x00, 0x20, 0x40, 0x60, -1},
    {0x00, 0x03, 0x0C, 0x0F, -1},
    {0x0F, -1},
}};
// Set B: a reply that begins with "5".
constexpr SetRows kSetB = {{
    {0x35, -1},
    {0x40, 0x41, 0x42, 0x44, 0x48, 0x4C, 0x60, -1},
    {0x40, 0x41, 0x42, -1},
    {0x00, -1},
}};

constexpr AcceptTable BuildAcceptTable() {
  AcceptTable table;
  for (const SetRows& set : {kSetA, kSetB}) {
    for (size_t position = 0; position < kStatusBlockSize; ++position) {
      for (int byte : set[position]) {
        if (byte < 0) break;
        table.at[position][static_cast<size_t>(byte)] = true;
      }
    }
  }
  return table;
}

constexpr AcceptTable kAccept = BuildAcceptTable();

}  // namespace

bool StatusRecogniser::Accepts(size_t position, uint8_t byte) {
  return position < kStatusBlockSize && kAccept.at[position][byte];
}

void StatusRecogniser::FlushStaged() {
  if (staged_ == 0) return;
  data_.Append(std::span<const uint8_t>(staging_.data(), staged_));
  staged_ = 0;
}

void StatusRecogniser::Feed(std::span<const uint8_t> chunk) {
  if (chunk.empty()) return;
  for (const uint8_t byte : chunk) {
    if (kAccept.at[matched_][byte]) {
      collected_[matched_++] = byte;
      if (matched_ == kStatusBlockSize) {
        FlushStaged();
        status_.Append(collected_);
        matched_ = 0;
        allowance_ = true;
      }
      continue;
    }
    // The byte that broke the match is data like the bytes before it; it does
    // not get a second look as the start of a block.
    for (size_t i = 0; i < matched_; ++i) Stage(collected_[i]);
    if (matched_ > 0) {
      matched_ = 0;
      allowance_ = true;
    }
    Stage(byte);
  }
  FlushStaged();

  if (matched_ == 0) return;
  if (allowance_) {
    allowance_ = false;
    return;
  }
  platform::Trace("status recogniser: discarded %lu bytes of an unfinished status block",
                  static_cast<unsigned long>(matched_));
  discarded_ += matched_;
  matched_ = 0;
  allowance_ = true;
}

}  // namespace qz381::ports
