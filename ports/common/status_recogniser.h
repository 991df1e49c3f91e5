#pragma once
// Splits the byte stream from the printer into plain data and 4-byte status
// blocks. The printer interleaves its automatic status reports (and replies that
// begin with "5") with everything else it sends, and nothing frames them; a
// block is recognised by which bytes each of its four positions admits.
//
// One recogniser per reader thread, fed each received chunk in arrival order. A
// match in progress survives one chunk boundary (a block cut by the driver is
// still found) but not two: a fragment that the following chunk does not finish
// is discarded, so a lost byte on the line cannot make the recogniser swallow
// data for ever.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ports/common/receive_buffers.h"

namespace qz381::ports {

class StatusRecogniser {
 public:
  // Both buffers must outlive the recogniser; it only appends to them.
  StatusRecogniser(DataBuffer& data, StatusBuffer& status) : data_(data), status_(status) {}

  // Whether `byte` may stand at `position` (0 ... 3) of a status block: the
  // automatic status report's set or the "5" reply's set, mixed freely.
  static bool Accepts(size_t position, uint8_t byte);

  // Processes one chunk as received. An empty chunk is no chunk: it neither
  // spends nor restores the carry allowance.
  void Feed(std::span<const uint8_t> chunk);

  // Accounting, for tests and the fuzz target: every byte fed is in the data
  // buffer (or dropped by it), in a status block (or dropped by the status
  // buffer), discarded as an unfinished block, or held right now.
  uint64_t DiscardedBytes() const { return discarded_; }
  std::span<const uint8_t> Held() const { return {collected_.data(), matched_}; }

 private:
  void AppendData(const uint8_t* bytes, size_t count);

  DataBuffer& data_;
  StatusBuffer& status_;
  StatusBlock collected_{};
  size_t matched_ = 0;     // the match position p
  bool allowance_ = true;  // may a partial block cross the next chunk boundary
  uint64_t discarded_ = 0;
};

}  // namespace qz381::ports
